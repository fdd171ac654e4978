// The record of one test run, and its JSON form.
#include "core/plan/runrecord.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QUuid>

namespace core::plan {

namespace {

const char *const kOutcomeNames[]
    = { "NONE", "SKIPPED", "PASS", "MARGINAL", "FAIL", "ERROR", "ABORTED" };

QJsonValue optionalNumber(const std::optional<double> &v)
{
    return v ? QJsonValue(*v) : QJsonValue();
}

std::optional<double> numberOf(const QJsonValue &v)
{
    return v.isDouble() ? std::optional<double>(v.toDouble()) : std::nullopt;
}

QJsonObject measurementJson(const Measurement &m)
{
    QJsonValue value;
    if (m.value)
        value = *m.value;
    else if (!m.text.isNull())
        value = m.text;
    return { { "name", m.name }, { "value", value }, { "unit", m.unit },
        { "min", optionalNumber(m.min) }, { "max", optionalNumber(m.max) },
        { "marginal", optionalNumber(m.marginal) }, { "outcome", outcomeName(m.outcome) } };
}

QJsonObject attemptJson(const Attempt &a)
{
    QJsonArray measurements;
    for (const Measurement &m : a.measurements)
        measurements.append(measurementJson(m));
    QJsonArray samples;
    for (const qint32 s : a.samples)
        samples.append(s);
    return { { "start_time", isoTime(a.startTime) }, { "end_time", isoTime(a.endTime) },
        { "outcome", outcomeName(a.outcome) }, { "message", a.message },
        { "measurements", measurements }, { "samples", samples } };
}

/** Reads a JSON record, noting the first thing wrong with it. */
struct Reader
{
    QString error;

    Outcome outcome(const QJsonObject &o, const QString &where)
    {
        const auto found = outcomeFromName(o.value(QLatin1String("outcome")).toString());
        if (!found && error.isEmpty())
            error = where + QStringLiteral(": no outcome such as \"PASS\"");
        return found.value_or(Outcome::None);
    }

    QJsonArray array(const QJsonObject &o, const char *key, const QString &where)
    {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isUndefined() && !v.isNull() && !v.isArray() && error.isEmpty())
            error = where + QStringLiteral(": \"%1\" is not a list").arg(QLatin1String(key));
        return v.toArray();
    }

    Measurement measurement(const QJsonObject &o, const QString &where)
    {
        Measurement m;
        m.name = o.value(QLatin1String("name")).toString();
        const QJsonValue value = o.value(QLatin1String("value"));
        if (value.isDouble())
            m.value = value.toDouble();
        else if (value.isString())
            m.text = value.toString();
        m.unit = o.value(QLatin1String("unit")).toString();
        m.min = numberOf(o.value(QLatin1String("min")));
        m.max = numberOf(o.value(QLatin1String("max")));
        m.marginal = numberOf(o.value(QLatin1String("marginal")));
        m.outcome = outcome(o, where);
        return m;
    }

    Attempt attempt(const QJsonObject &o, const QString &where)
    {
        Attempt a;
        a.startTime = timeFromIso(o.value(QLatin1String("start_time")).toString());
        a.endTime = timeFromIso(o.value(QLatin1String("end_time")).toString());
        a.outcome = outcome(o, where);
        a.message = o.value(QLatin1String("message")).toString();
        const QJsonArray measurements = array(o, "measurements", where);
        for (qsizetype i = 0; i < measurements.size(); ++i)
            a.measurements.append(measurement(
                measurements[i].toObject(), where + QStringLiteral(".measurements[%1]").arg(i)));
        for (const QJsonValue s : array(o, "samples", where))
            a.samples.append(qint32(s.toDouble()));
        return a;
    }
};

} // namespace

QString outcomeName(Outcome outcome)
{
    return QLatin1String(kOutcomeNames[int(outcome)]);
}

std::optional<Outcome> outcomeFromName(const QString &name)
{
    for (int i = 0; i < int(std::size(kOutcomeNames)); ++i)
        if (name == QLatin1String(kOutcomeNames[i]))
            return Outcome(i);
    return std::nullopt;
}

Outcome worse(Outcome a, Outcome b)
{
    return int(a) >= int(b) ? a : b;
}

QString newRunId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

RunRecord measuringRun(const QString &port, const QDateTime &start, const QDateTime &end,
    const QList<qint32> &samples, const RunStats::Figures &figures)
{
    const QString mm = QStringLiteral("mm");
    auto figure = [](const QString &name, std::optional<double> value, const QString &unit) {
        return Measurement { name, value, {}, unit, {}, {}, {}, Outcome::None };
    };
    const Attempt attempt { start, end, Outcome::None,
        { figure(QStringLiteral("count"), double(figures.count), {}),
            figure(QStringLiteral("errors"), double(figures.errors), {}),
            figure(QStringLiteral("mean"),
                figures.hasDistance() ? std::optional(figures.mean) : std::nullopt, mm),
            figure(QStringLiteral("sigma"),
                figures.hasSpread() ? std::optional(figures.stddev) : std::nullopt, mm) },
        samples, {} };
    RunRecord run;
    run.id = newRunId();
    run.port = port;
    run.startTime = start;
    run.endTime = end;
    run.steps = { { QStringLiteral("measure"), Outcome::None, { attempt } } };
    return run;
}

QString isoTime(const QDateTime &time)
{
    return time.isValid() ? time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs)
                          : QString();
}

QDateTime timeFromIso(const QString &text)
{
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QJsonObject toJson(const RunRecord &run)
{
    QJsonArray steps;
    for (const Step &step : run.steps) {
        QJsonArray attempts;
        for (const Attempt &a : step.attempts)
            attempts.append(attemptJson(a));
        steps.append(QJsonObject { { "name", step.name }, { "outcome", outcomeName(step.outcome) },
            { "attempts", attempts } });
    }
    return { { "id", run.id },
        { "plan",
            QJsonObject { { "name", run.plan.name }, { "version", run.plan.version },
                { "sha256", run.plan.sha256 } } },
        { "station", run.station }, { "operator", run.operatorName }, { "lot", run.lot },
        { "port", run.port }, { "dut_id", run.dutId() },
        { "unit",
            QJsonObject { { "serial", run.unit.serial }, { "software", run.unit.software },
                { "hardware", run.unit.hardware } } },
        { "start_time", isoTime(run.startTime) }, { "end_time", isoTime(run.endTime) },
        { "outcome", outcomeName(run.outcome) }, { "steps", steps } };
}

std::optional<RunRecord> fromJson(const QJsonObject &json, QString *error)
{
    Reader r;
    RunRecord run;
    run.id = json.value(QLatin1String("id")).toString();
    if (run.id.isEmpty())
        r.error = QStringLiteral("no \"id\"");
    run.startTime = timeFromIso(json.value(QLatin1String("start_time")).toString());
    if (!run.startTime.isValid() && r.error.isEmpty())
        r.error = QStringLiteral("no \"start_time\" in ISO 8601");
    run.endTime = timeFromIso(json.value(QLatin1String("end_time")).toString());
    run.outcome = r.outcome(json, QStringLiteral("run"));
    const QJsonObject plan = json.value(QLatin1String("plan")).toObject();
    run.plan = { plan.value(QLatin1String("name")).toString(),
        plan.value(QLatin1String("version")).toString(),
        plan.value(QLatin1String("sha256")).toString() };
    run.station = json.value(QLatin1String("station")).toString();
    run.operatorName = json.value(QLatin1String("operator")).toString();
    run.lot = json.value(QLatin1String("lot")).toString();
    run.port = json.value(QLatin1String("port")).toString();
    const QJsonObject unit = json.value(QLatin1String("unit")).toObject();
    run.unit = { unit.value(QLatin1String("serial")).toString(),
        unit.value(QLatin1String("software")).toString(),
        unit.value(QLatin1String("hardware")).toString() };
    if (run.unit.serial.isEmpty())
        run.unit.serial = json.value(QLatin1String("dut_id")).toString();
    const QJsonArray steps = r.array(json, "steps", QStringLiteral("run"));
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QJsonObject o = steps[i].toObject();
        const QString where = QStringLiteral("steps[%1]").arg(i);
        Step step;
        step.name = o.value(QLatin1String("name")).toString();
        step.outcome = r.outcome(o, where);
        const QJsonArray attempts = r.array(o, "attempts", where);
        for (qsizetype k = 0; k < attempts.size(); ++k)
            step.attempts.append(
                r.attempt(attempts[k].toObject(), where + QStringLiteral(".attempts[%1]").arg(k)));
        run.steps.append(step);
    }
    if (!r.error.isEmpty()) {
        if (error)
            *error = r.error;
        return std::nullopt;
    }
    return run;
}

} // namespace core::plan
