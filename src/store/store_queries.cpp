// What the stored runs say: a unit's history and the report over chosen runs.
#include "store/store.h"
#include "store/store_p.h"

#include <QSqlError>

#include <algorithm>
#include <tuple>

namespace store {

using namespace core::plan;

QList<RunRecord> Store::history(const QString &serial)
{
    QList<RunRecord> runs;
    if (!d->ready())
        return runs;
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    if (!d->run(q,
            QStringLiteral("SELECT %1 FROM runs WHERE serial = ? ORDER BY start_ms DESC, id DESC")
                .arg(Private::kRunColumns),
            { serial }))
        return runs;
    while (q.next())
        runs.append(runFromRow(q));
    return runs;
}

std::optional<Report> Store::report(const ReportFilter &filter)
{
    if (!d->ready())
        return std::nullopt;
    // The same conditions on the runs for every part of the report, each value bound.
    QString where = QStringLiteral("1 = 1");
    QVariantList values;
    auto narrow = [&](bool given, const char *condition, const QVariant &value) {
        if (given) {
            where += QLatin1String(" AND ") + QLatin1String(condition);
            values.append(value);
        }
    };
    narrow(filter.since.isValid(), "r.start_ms >= ?", filter.since.toMSecsSinceEpoch());
    narrow(filter.until.isValid(), "r.start_ms < ?", filter.until.toMSecsSinceEpoch());
    narrow(!filter.plan.isEmpty(), "r.plan_name = ?", filter.plan);
    narrow(!filter.station.isEmpty(), "r.station = ?", filter.station);
    narrow(!filter.lot.isEmpty(), "r.lot = ?", filter.lot);
    const bool narrowed = !values.isEmpty();

    Report report;
    QSqlQuery q(d->db());
    q.setForwardOnly(true);
    // One pass over the runs grouped by unit. A judged run's start time and verdict make one
    // number (start_ms * 2 + bit), so the smallest is the unit's first run and the largest its
    // last; the bit is chosen so that of two runs in the same millisecond the failed one counts.
    if (!d->run(q,
            QStringLiteral(
                "SELECT SUM(n), COUNT(*), COUNT(first_key), SUM(first_key % 2),"
                " SUM(1 - last_key % 2) FROM (SELECT COUNT(*) AS n,"
                " MIN(CASE WHEN r.outcome IN ('PASS', 'MARGINAL') THEN r.start_ms * 2 + 1"
                " WHEN r.outcome <> 'NONE' THEN r.start_ms * 2 END) AS first_key,"
                " MAX(CASE WHEN r.outcome IN ('PASS', 'MARGINAL') THEN r.start_ms * 2"
                " WHEN r.outcome <> 'NONE' THEN r.start_ms * 2 + 1 END) AS last_key"
                " FROM runs r WHERE %1 GROUP BY r.serial) units")
                .arg(where),
            values)
        || !q.next())
        return std::nullopt;
    report.runs = q.value(0).toLongLong();
    report.units = q.value(1).toLongLong();
    if (const double judged = q.value(2).toDouble(); judged > 0) {
        report.firstPassYield = q.value(3).toDouble() / judged;
        report.finalYield = q.value(4).toDouble() / judged;
    }

    if (!d->run(q,
            QStringLiteral("SELECT s.name, COUNT(*) FROM steps s JOIN runs r ON r.id = s.run_id"
                           " WHERE s.outcome IN ('FAIL', 'ERROR') AND %1 GROUP BY s.name")
                .arg(where),
            values))
        return std::nullopt;
    while (q.next())
        report.failures.append({ q.value(0).toString(), q.value(1).toLongLong() });
    std::sort(report.failures.begin(), report.failures.end(),
        [](const StepFailures &a, const StepFailures &b) {
            return a.count != b.count ? a.count > b.count : a.step < b.step;
        });

    // Sums taken from a limit rather than from zero keep the variance exact for small spreads
    // around a large value. Without a filter no run needs to be read.
    const QString measurements = QStringLiteral(
        "SELECT m.step, m.name, m.unit, m.min, m.max, COUNT(*),"
        " SUM(m.value - COALESCE(m.min, m.max, 0)),"
        " SUM((m.value - COALESCE(m.min, m.max, 0)) * (m.value - COALESCE(m.min, m.max, 0))),"
        " MIN(m.value), MAX(m.value) FROM measurements m %1 WHERE m.value IS NOT NULL %2"
        " GROUP BY m.step, m.name, m.unit, m.min, m.max");
    if (!d->run(q,
            narrowed ? measurements.arg(
                QLatin1String("JOIN runs r ON r.id = m.run_id"), QLatin1String("AND ") + where)
                     : measurements.arg(QString(), QString()),
            narrowed ? values : QVariantList()))
        return std::nullopt;
    while (q.next()) {
        MeasurementStats s;
        s.step = q.value(0).toString();
        s.name = q.value(1).toString();
        s.unit = q.value(2).toString();
        if (!q.value(3).isNull())
            s.min = q.value(3).toDouble();
        if (!q.value(4).isNull())
            s.max = q.value(4).toDouble();
        s.n = q.value(5).toLongLong();
        s.lowest = q.value(8).toDouble();
        s.highest = q.value(9).toDouble();
        completeStats(
            s, q.value(6).toDouble(), q.value(7).toDouble(), s.min.value_or(s.max.value_or(0)));
        report.measurements.append(s);
    }
    std::sort(report.measurements.begin(), report.measurements.end(),
        [](const MeasurementStats &a, const MeasurementStats &b) {
            return std::tie(a.step, a.name, a.unit, a.min, a.max)
                < std::tie(b.step, b.name, b.unit, b.min, b.max);
        });
    return report;
}

} // namespace store
