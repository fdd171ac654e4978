// JUnit XML of test runs, the report CI dashboards read.
#include "core/plan/junit.h"

#include "core/plan/verdict.h"

#include <QStringList>
#include <QXmlStreamWriter>

namespace core::plan {

namespace {

QString seconds(const QDateTime &from, const QDateTime &to)
{
    return QString::number(
        from.isValid() && to.isValid() ? double(from.msecsTo(to)) / 1000.0 : 0.0, 'f', 3);
}

int countOf(const RunRecord &run, Outcome outcome)
{
    int n = 0;
    for (const Step &s : run.steps)
        n += s.outcome == outcome ? 1 : 0;
    return n;
}

void testCase(QXmlStreamWriter &xml, const RunRecord &run, const Step &step)
{
    xml.writeStartElement(QStringLiteral("testcase"));
    xml.writeAttribute(QStringLiteral("name"), step.name);
    xml.writeAttribute(QStringLiteral("classname"), run.plan.name);
    const QDateTime start = step.attempts.isEmpty() ? QDateTime() : step.attempts.first().startTime;
    const QDateTime end = step.attempts.isEmpty() ? QDateTime() : step.attempts.last().endTime;
    xml.writeAttribute(QStringLiteral("time"), seconds(start, end));
    const QString reason = step.attempts.isEmpty() ? QString() : reasonOf(step.attempts.last());
    switch (step.outcome) {
    case Outcome::Fail:
        xml.writeStartElement(QStringLiteral("failure"));
        xml.writeAttribute(QStringLiteral("type"), outcomeName(step.outcome));
        xml.writeAttribute(QStringLiteral("message"), reason);
        xml.writeEndElement();
        break;
    case Outcome::Error:
    case Outcome::Aborted:
        xml.writeStartElement(QStringLiteral("error"));
        xml.writeAttribute(QStringLiteral("type"), outcomeName(step.outcome));
        xml.writeAttribute(QStringLiteral("message"), reason);
        xml.writeEndElement();
        break;
    case Outcome::Skipped:
        xml.writeEmptyElement(QStringLiteral("skipped"));
        break;
    default:
        break;
    }
    QStringList lines;
    for (qsizetype i = 0; i < step.attempts.size(); ++i) {
        const Attempt &a = step.attempts.at(i);
        lines << QStringLiteral("attempt %1: %2").arg(i + 1).arg(outcomeName(a.outcome));
        for (const Measurement &m : a.measurements)
            lines << QStringLiteral("  ") + describe(m);
        if (!a.message.isEmpty())
            lines << QStringLiteral("  ") + a.message;
    }
    if (!lines.isEmpty())
        xml.writeTextElement(QStringLiteral("system-out"), lines.join(QLatin1Char('\n')));
    xml.writeEndElement();
}

} // namespace

QString junitXml(const QList<RunRecord> &runs)
{
    QString text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    int tests = 0, failures = 0, errors = 0;
    for (const RunRecord &run : runs) {
        tests += int(run.steps.size());
        failures += countOf(run, Outcome::Fail);
        errors += countOf(run, Outcome::Error) + countOf(run, Outcome::Aborted);
    }
    xml.writeAttribute(QStringLiteral("tests"), QString::number(tests));
    xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
    xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
    for (const RunRecord &run : runs) {
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), run.port + QLatin1Char(' ') + run.unit.serial);
        xml.writeAttribute(QStringLiteral("tests"), QString::number(run.steps.size()));
        xml.writeAttribute(
            QStringLiteral("failures"), QString::number(countOf(run, Outcome::Fail)));
        xml.writeAttribute(QStringLiteral("errors"),
            QString::number(countOf(run, Outcome::Error) + countOf(run, Outcome::Aborted)));
        xml.writeAttribute(
            QStringLiteral("skipped"), QString::number(countOf(run, Outcome::Skipped)));
        xml.writeAttribute(QStringLiteral("timestamp"), isoTime(run.startTime));
        xml.writeAttribute(QStringLiteral("time"), seconds(run.startTime, run.endTime));
        xml.writeAttribute(QStringLiteral("hostname"), run.station);
        xml.writeStartElement(QStringLiteral("properties"));
        const QList<std::pair<const char *, QString>> properties { { "id", run.id },
            { "plan", run.plan.name }, { "plan_version", run.plan.version },
            { "plan_sha256", run.plan.sha256 }, { "port", run.port }, { "dut_id", run.dutId() },
            { "software", run.unit.software }, { "hardware", run.unit.hardware },
            { "station", run.station }, { "operator", run.operatorName }, { "lot", run.lot },
            { "outcome", outcomeName(run.outcome) } };
        for (const auto &[name, value] : properties) {
            xml.writeEmptyElement(QStringLiteral("property"));
            xml.writeAttribute(QStringLiteral("name"), QLatin1String(name));
            xml.writeAttribute(QStringLiteral("value"), value);
        }
        xml.writeEndElement();
        for (const Step &step : run.steps)
            testCase(xml, run, step);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    return text;
}

} // namespace core::plan
