// The history and the report in text, CSV and JSON Lines.
#include "store/formats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace store {

using namespace core::plan;

namespace {

using Table = QList<QStringList>; // a header row, then the rows

QString csvCell(const QString &cell)
{
    if (!cell.contains(QLatin1Char(',')) && !cell.contains(QLatin1Char('"'))
        && !cell.contains(QLatin1Char('\n')) && !cell.contains(QLatin1Char('\r')))
        return cell;
    return QLatin1Char('"') + QString(cell).replace(QLatin1Char('"'), QLatin1String("\"\""))
        + QLatin1Char('"');
}

// Text columns are padded to their widest cell, two blanks apart; CSV cells are quoted as needed.
QString tableText(const Table &table, Format format)
{
    QList<qsizetype> widths;
    for (const QStringList &row : table)
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    QString out;
    for (const QStringList &row : table) {
        QStringList cells;
        for (qsizetype i = 0; i < row.size(); ++i)
            cells.append(format == Format::Csv ? csvCell(row[i])
                    : i + 1 < row.size()       ? row[i].leftJustified(widths[i])
                                               : row[i]);
        out += cells.join(format == Format::Csv ? QLatin1String(",") : QLatin1String("  "))
            + QLatin1Char('\n');
    }
    return out;
}

QString number(const std::optional<double> &v)
{
    return v ? QString::number(*v, 'g', QLocale::FloatingPointShortest) : QString();
}

QString shortNumber(const std::optional<double> &v)
{
    return v ? QString::number(*v, 'g', 6) : QStringLiteral("-");
}

QJsonValue json(const std::optional<double> &v)
{
    return v ? QJsonValue(*v) : QJsonValue();
}

QString line(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact))
        + QLatin1Char('\n');
}

} // namespace

std::optional<Format> formatFromName(const QString &name)
{
    if (name == QLatin1String("text"))
        return Format::Text;
    if (name == QLatin1String("csv"))
        return Format::Csv;
    if (name == QLatin1String("jsonl"))
        return Format::Jsonl;
    return std::nullopt;
}

QString historyText(const QList<RunRecord> &runs, Format format)
{
    QString out;
    Table table { { "id", "dut_id", "plan", "plan_version", "station", "operator", "lot", "port",
        "outcome", "start_time", "end_time" } };
    for (const RunRecord &run : runs) {
        if (format == Format::Jsonl) {
            QJsonObject record = toJson(run);
            record.remove(QLatin1String("steps"));
            out += line(record);
        }
        table.append({ run.id, run.dutId(), run.plan.name, run.plan.version, run.station,
            run.operatorName, run.lot, run.port, outcomeName(run.outcome), isoTime(run.startTime),
            isoTime(run.endTime) });
    }
    return format == Format::Jsonl ? out : tableText(table, format);
}

QString reportText(const Report &report, Format format)
{
    if (format == Format::Jsonl) {
        QJsonArray failures, measurements;
        for (const StepFailures &f : report.failures)
            failures.append(QJsonObject { { "step", f.step }, { "count", f.count } });
        for (const MeasurementStats &m : report.measurements)
            measurements.append(QJsonObject { { "step", m.step }, { "name", m.name },
                { "unit", m.unit }, { "lsl", json(m.min) }, { "usl", json(m.max) }, { "n", m.n },
                { "mean", m.mean }, { "sigma", json(m.sigma) }, { "min", m.lowest },
                { "max", m.highest }, { "cp", json(m.cp) }, { "cpk", json(m.cpk) } });
        return line({ { "runs", report.runs }, { "units", report.units },
            { "first_pass_yield", json(report.firstPassYield) },
            { "final_yield", json(report.finalYield) }, { "failures", failures },
            { "measurements", measurements } });
    }
    const bool csv = format == Format::Csv;
    auto figure = [csv](const std::optional<double> &v) {
        return csv ? number(v)
            : v    ? QString::number(*v * 100, 'f', 1) + QLatin1String(" %")
                   : QStringLiteral("-");
    };
    auto value = [csv](const std::optional<double> &v) { return csv ? number(v) : shortNumber(v); };
    Table totals { { "runs", "units", "first_pass_yield", "final_yield" },
        { QString::number(report.runs), QString::number(report.units),
            figure(report.firstPassYield), figure(report.finalYield) } };
    Table failures { { "step", "count" } };
    for (const StepFailures &f : report.failures)
        failures.append({ f.step, QString::number(f.count) });
    Table measurements { { "step", "name", "unit", "lsl", "usl", "n", "mean", "sigma", "min", "max",
        "cp", "cpk" } };
    for (const MeasurementStats &m : report.measurements)
        measurements.append({ m.step, m.name, m.unit, value(m.min), value(m.max),
            QString::number(m.n), value(m.mean), value(m.sigma), value(m.lowest), value(m.highest),
            value(m.cp), value(m.cpk) });
    const QString gap = csv ? QStringLiteral("\n") : QStringLiteral("\nFailures by step\n");
    return tableText(totals, format) + gap + tableText(failures, format)
        + (csv ? QStringLiteral("\n") : QStringLiteral("\nMeasurements\n"))
        + tableText(measurements, format);
}

} // namespace store
