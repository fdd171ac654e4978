// The work tovandrix-cli does on one port: a command's frames, their replies, a measuring run.
#include "cli/jobs.h"

#include "cli/options.h"
#include "cli/output.h"

#include "core/frames.h"
#include "core/recordlines.h"
#include "core/replytext.h"
#include "core/session.h"
#include "io/portdiscovery.h"

#include <QDateTime>
#include <QTime>

#include <cstdio>
#include <limits>

namespace cli {

namespace {

/**
 * Now, as a moment and as local time. QDateTime::currentDateTime() asks the time zone on every
 * call, and that reads the file system; at hundreds of replies a second the zone's offset is read
 * once a second instead.
 */
struct Now
{
    qint64 utcMs = 0;
    int offsetS = 0;

    static Now read()
    {
        static int offsetS = 0;
        static qint64 readAtMs = std::numeric_limits<qint64>::min() / 2;
        Now now;
        now.utcMs = QDateTime::currentMSecsSinceEpoch();
        if (now.utcMs - readAtMs >= 1000) {
            offsetS = QDateTime::currentDateTime().offsetFromUtc();
            readAtMs = now.utcMs;
        }
        now.offsetS = offsetS;
        return now;
    }
    QTime localTime() const
    {
        constexpr qint64 kDayMs = 24 * 3600 * 1000;
        const qint64 local = utcMs + qint64(offsetS) * 1000;
        return QTime::fromMSecsSinceStartOfDay(int((local % kDayMs + kDayMs) % kDayMs));
    }
};

// After the stop byte, results already on the wire still arrive; this much silence ends them.
constexpr int kDrainMs = 300;

} // namespace

core::commands::Inputs Settings::inputs() const
{
    core::commands::Inputs in;
    in.address = address;
    in.modbusAddress = address;
    in.oldAddress = address;
    in.measureMode = measureMode;
    return in;
}

PortJob::PortJob(const QString &port, const Settings &settings, Output *output)
    : m_port(port)
    , m_settings(settings)
    , m_output(output)
{
}

void PortJob::stop(const QString &why)
{
    status(QStringLiteral("stopped (%1)").arg(why));
    finish(kExitStopped);
}

void PortJob::status(const QString &text) const
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(m_port), qPrintable(text));
}

void PortJob::fail(const QString &reason)
{
    status(reason);
    finish(kExitFailed);
}

void PortJob::finish(int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    m_exitCode = qMax(m_exitCode, exitCode);
    closePort();
    emit finished();
}

LinkJob::LinkJob(const QString &port, const Settings &settings, Output *output)
    : PortJob(port, settings, output)
    // The CLI only writes what comes, so its workers read in the main thread: one thread wake-up
    // a reply instead of two, with one port or sixteen.
    , m_link(nullptr, io::Link::Threading::CallersThread)
{
    connect(&m_link, &io::Link::replyReceived, this, [this](const QByteArray &bytes) {
        if (!isFinished())
            reply(bytes);
    });
    connect(&m_link, &io::Link::noReply, this, [this] {
        if (!isFinished())
            noReply();
    });
    connect(&m_link, &io::Link::lost, this, [this](const QString &reason) {
        if (!isFinished())
            lost(reason);
    });
}

void LinkJob::start()
{
    QString error;
    if (!m_link.open(m_port, m_settings.baud, m_settings.checkMode, &error)) {
        // A bare name is looked for where the system keeps its devices; say where.
        const QString location = io::ports::systemLocation(m_port);
        fail(QStringLiteral("cannot open%1: %2")
                 .arg(location == m_port ? QString() : QStringLiteral(" ") + location, error));
        return;
    }
    if (!m_recordPath.isEmpty() && !m_link.record(m_recordPath, &error)) {
        fail(QStringLiteral("cannot record to %1: %2").arg(m_recordPath, error));
        return;
    }
    begin();
}

void LinkJob::closePort()
{
    QString error;
    if (!m_recordPath.isEmpty() && !m_link.record({}, &error)) {
        status(QStringLiteral("byte log %1 not written whole: %2").arg(m_recordPath, error));
        markError();
    }
    m_link.close();
}

void LinkJob::noReply()
{
    fail(QStringLiteral("no reply within %1 ms").arg(m_settings.timeoutMs));
}

void LinkJob::lost(const QString &reason)
{
    fail(QStringLiteral("port failed: ") + reason);
}

void LinkJob::ask(const QString &frame)
{
    m_link.send(core::frames::fromHexText(frame));
    m_sentAt.start();
    m_link.expectReply(m_settings.timeoutMs);
}

QString LinkJob::frameOf(
    core::commands::Command command, const core::commands::Inputs &inputs) const
{
    return core::commands::build(command, m_settings.checkMode, inputs).text.value_or(QString());
}

core::replies::Reply LinkJob::decode(
    const QByteArray &bytes, const core::replies::AaContext &ctx) const
{
    return m_settings.checkMode == core::CheckMode::Sum8
        ? core::replies::decodeAa(bytes, ctx)
        : core::replies::decodeModbus(bytes, m_link.lastSent());
}

QString LinkJob::words(const core::replies::Reply &reply, const QByteArray &bytes) const
{
    const QString text = core::replies::describe(reply, m_settings.language, m_baudText);
    return text.isEmpty() ? core::frames::toHexText(bytes) : text;
}

QueryJob::QueryJob(const QString &port, const Settings &settings, Output *output,
    const QList<Query> &queries, const QString &baudText)
    : LinkJob(port, settings, output)
    , m_queries(queries)
{
    m_baudText = baudText;
}

void QueryJob::begin()
{
    next();
}

void QueryJob::next()
{
    if (++m_index == m_queries.size()) {
        finish();
        return;
    }
    ask(m_queries[m_index].frame);
}

void QueryJob::reply(const QByteArray &bytes)
{
    const Query &query = m_queries[m_index];
    if (!query.raw
        && core::replies::routeReply(bytes, m_settings.checkMode)
            == core::replies::Route::TooShort) {
        m_link.expectReply(m_settings.timeoutMs);
        return;
    }
    core::replies::AaContext ctx;
    ctx.addressSearchRunning = query.addressProbe;
    ctx.lastProbedAddress = m_settings.address;
    const core::replies::Reply decoded = decode(bytes, ctx);
    m_output->line(m_port, query.raw ? core::frames::toHexText(bytes) : words(decoded, bytes));
    if (decoded.isError()) {
        status(QStringLiteral("error reply: ") + words(decoded, bytes));
        // The other queries still run; the exit status remembers the error.
        markError();
    }
    next();
}

MeasureJob::MeasureJob(const QString &port, const Settings &settings, Output *output, int count,
    double seconds, bool setSpeed, const MeasureExtras &extras)
    : LinkJob(port, settings, output)
    , m_count(count)
    , m_seconds(seconds)
    , m_setSpeed(setSpeed)
    , m_extras(extras)
    , m_keepRecords(extras.analyze || output->hasWorkbook())
    , m_keepRun(extras.keepRun)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Running)
            sendStop();
    });
    m_temperatureTimer.setInterval(qMax(1, int(extras.temperatureEveryS * 1000)));
    connect(&m_temperatureTimer, &QTimer::timeout, this, [this] {
        m_temperatureDue = true;
        if (m_phase == Phase::Running)
            sendStop(true);
    });
}

bool MeasureJob::continuous() const
{
    // Modbus modules measure one at a time: a timed run asks for one result after the other.
    return m_count == 0 && m_settings.checkMode == core::CheckMode::Sum8;
}

core::plan::RunRecord MeasureJob::run() const
{
    // A port that never opened leaves a run of no records, timed now.
    const QDateTime now = QDateTime::currentDateTime();
    return core::plan::measuringRun(m_port, m_startTime.isValid() ? m_startTime : now,
        m_endTime.isValid() ? m_endTime : now, m_samples, m_stats.summary().all);
}

void MeasureJob::begin()
{
    m_started.start();
    m_startTime = QDateTime::currentDateTime();
    if (m_setSpeed && m_settings.checkMode == core::CheckMode::Crc) {
        m_phase = Phase::Speed;
        ask(frameOf(core::commands::Command::MeasureMode, m_settings.inputs()));
        return;
    }
    startMeasuring();
}

void MeasureJob::startMeasuring()
{
    if (m_count == 0 && m_seconds > 0)
        m_deadline.start(qMax(1, int(m_seconds * 1000)));
    if (continuous())
        status(QStringLiteral("measuring; Ctrl+C ends the run"));
    if (m_extras.temperatureEveryS > 0) {
        // The first reading comes before the first distance, so every distance lies between two.
        m_temperatureTimer.start();
        readTemperature();
        return;
    }
    resume();
}

void MeasureJob::resume()
{
    if (!continuous()) {
        m_phase = Phase::Single;
        measureOnce();
        return;
    }
    // After a temperature read the module is idle: a run that is over ends here.
    if (m_stopped || (m_seconds > 0 && !m_deadline.isActive())) {
        end(0);
        return;
    }
    m_phase = Phase::Running;
    ask(frameOf(core::commands::Command::ContinuousStart, m_settings.inputs()));
}

void MeasureJob::readTemperature()
{
    m_phase = Phase::Temperature;
    m_temperatureDue = false;
    ask(frameOf(core::commands::Command::ReadTemperature, m_settings.inputs()));
}

void MeasureJob::measureOnce()
{
    const bool done = m_count > 0 ? m_asked >= m_count : m_seconds > 0 && !m_deadline.isActive();
    if (done || m_stopped) {
        end(0);
        return;
    }
    if (m_temperatureDue) {
        readTemperature();
        return;
    }
    ++m_asked;
    ask(frameOf(core::commands::Command::MeasureOnce, m_settings.inputs()));
}

void MeasureJob::sendStop(bool toReadTemperature)
{
    m_phase = toReadTemperature ? Phase::Pausing : Phase::Draining;
    m_link.send(core::frames::fromHexText(core::commands::stopByte()));
    m_link.expectReply(kDrainMs);
}

void MeasureJob::end(int exitCode)
{
    m_phase = Phase::Done;
    m_endTime = QDateTime::currentDateTime();
    m_deadline.stop();
    m_temperatureTimer.stop();
    QString text = QStringLiteral("%1 record%2").arg(m_records).arg(m_records == 1 ? "" : "s");
    if (m_errors > 0)
        text += QStringLiteral(", %1 error repl%2").arg(m_errors).arg(m_errors == 1 ? "y" : "ies");
    text += QStringLiteral(" in %1 s").arg(double(m_started.elapsed()) / 1000, 0, 'f', 1);
    status(text);
    if (m_stats.count() > 0)
        m_output->summary(m_port, m_stats.summary());
    if (m_keepRecords)
        m_output->analysis(m_port,
            core::analysis::analyse(m_kept, m_temperatures, m_extras.analysis),
            m_extras.analyze ? Output::Shown::AfterRecords : Output::Shown::Hidden);
    // A run without an end is meant to be stopped; any other run stopped early is cut short.
    if (m_stopped && !openEnded())
        exitCode = qMax(exitCode, int(kExitStopped));
    finish(qMax(exitCode, m_errors > 0 ? 1 : 0));
}

void MeasureJob::stop(const QString &why)
{
    if (m_stopped || m_phase == Phase::Done)
        return;
    m_stopped = true;
    status(QStringLiteral("stopping (%1)").arg(why));
    switch (m_phase) {
    case Phase::Running:
        sendStop();
        break;
    case Phase::Single:
    case Phase::Temperature:
        // The exchange under way ends the run: its reply is still taken.
        break;
    case Phase::Pausing:
        // The module has its stop byte: what is still on the line ends the run.
        m_phase = Phase::Draining;
        break;
    case Phase::Draining:
        // Stopped twice: what is on the line is not waited for any longer.
        end(0);
        break;
    default:
        end(0);
    }
}

MeasureJob::Stamp MeasureJob::stamp(
    const core::replies::Reply &decoded, const QByteArray &bytes) const
{
    const Now now = Now::read();
    const QTime local = now.localTime();
    return { local.msecsSinceStartOfDay(),
        QString::number(m_replyNumber) + QStringLiteral("  [") + core::frames::clockText(local)
            + QStringLiteral("] ") + words(decoded, bytes),
        core::records::isoTime(now.utcMs, now.offsetS) };
}

void MeasureJob::record(const core::replies::Reply &decoded, const QByteArray &bytes)
{
    const Stamp at = stamp(decoded, bytes);
    const qint32 measuringMs = m_phase == Phase::Single ? qint32(m_sentAt.elapsed()) : -1;
    const core::Record record = core::recordOf(
        decoded, at.clockMs, m_settings.measureMode, m_settings.language, measuringMs);
    m_output->record(m_port, record, at.text, at.iso);
    if (m_keepRecords)
        m_kept.append(record);
    if (record.isError())
        m_stats.addError(m_started.elapsed());
    else
        m_stats.add(record.value, m_started.elapsed());
    if (m_keepRun && !record.isError())
        m_samples.append(record.value);
    ++m_records;
}

void MeasureJob::reply(const QByteArray &bytes)
{
    const bool draining = m_phase == Phase::Draining || m_phase == Phase::Pausing;
    if (core::replies::routeReply(bytes, m_settings.checkMode) == core::replies::Route::TooShort) {
        m_link.expectReply(draining ? kDrainMs : m_settings.timeoutMs);
        return;
    }
    const core::replies::Reply decoded = decode(bytes);
    // A result still on its way may come before the read's answer; anything else answers it.
    if (m_phase == Phase::Temperature && decoded.kind != core::replies::Kind::Measurement) {
        if (decoded.kind == core::replies::Kind::Temperature) {
            const Stamp at = stamp(decoded, bytes);
            const double celsius = double(decoded.number) / 10;
            m_temperatures.append({ at.clockMs, celsius });
            m_output->temperature(m_port, celsius, at.text, at.iso);
        } else {
            status(QStringLiteral("temperature not read: ") + words(decoded, bytes));
            markError();
        }
        ++m_replyNumber;
        resume();
        return;
    }
    if (m_phase == Phase::Speed) {
        status(words(decoded, bytes));
        if (decoded.isError())
            end(1);
        else if (m_stopped)
            end(0);
        else
            startMeasuring();
        return;
    }
    // An error reply answers a measurement in either protocol, so it is a record of the run
    // and one of its errors.
    if (decoded.isError())
        ++m_errors;
    if (decoded.isMeasurement() || decoded.isError())
        record(decoded, bytes);
    ++m_replyNumber;
    switch (m_phase) {
    case Phase::Single:
        measureOnce();
        break;
    case Phase::Running:
    case Phase::Temperature:
        // Each result must follow the last within the timeout, or the module has gone quiet.
        m_link.expectReply(m_settings.timeoutMs);
        break;
    case Phase::Draining:
    case Phase::Pausing:
        m_link.expectReply(kDrainMs);
        break;
    default:
        break;
    }
}

void MeasureJob::noReply()
{
    if (m_phase == Phase::Draining) {
        end(0);
        return;
    }
    if (m_phase == Phase::Pausing) {
        readTemperature();
        return;
    }
    status(QStringLiteral("no reply within %1 ms").arg(m_settings.timeoutMs));
    if (m_phase == Phase::Temperature) {
        markError();
        resume();
        return;
    }
    if (m_phase == Phase::Running) {
        markError();
        sendStop();
        return;
    }
    end(1);
}

void MeasureJob::lost(const QString &reason)
{
    status(QStringLiteral("port failed: ") + reason);
    end(1);
}

} // namespace cli
