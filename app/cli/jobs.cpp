// The work tovandrix-cli does on one port: a command's frames, their replies, a measuring run.
#include "cli/jobs.h"

#include "cli/output.h"

#include "core/frames.h"
#include "core/replytext.h"
#include "core/session.h"

#include <QDateTime>
#include <QTime>

#include <cstdio>
#include <limits>

namespace cli {

namespace {
/**
 * Local time of day. QTime::currentTime() asks the time zone on every call, and that reads the
 * file system; at hundreds of replies a second the zone's offset is read once a second instead.
 */
QTime localNow()
{
    constexpr qint64 kDayMs = 24 * 3600 * 1000;
    static qint64 offsetMs = 0;
    static qint64 readAtMs = std::numeric_limits<qint64>::min() / 2;
    const qint64 utcMs = QDateTime::currentMSecsSinceEpoch();
    if (utcMs - readAtMs >= 1000) {
        offsetMs = qint64(QDateTime::currentDateTime().offsetFromUtc()) * 1000;
        readAtMs = utcMs;
    }
    return QTime::fromMSecsSinceStartOfDay(int(((utcMs + offsetMs) % kDayMs + kDayMs) % kDayMs));
}

// After the stop byte, results already on the wire still arrive; this much silence ends them.
constexpr int kDrainMs = 300;
} // namespace

commands::Inputs Settings::inputs() const
{
    commands::Inputs in;
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
    connect(&m_link, &io::Link::replyReceived, this, [this](const QByteArray &bytes) {
        if (!m_finished)
            reply(bytes);
    });
    connect(&m_link, &io::Link::noReply, this, [this] {
        if (!m_finished)
            noReply();
    });
    connect(&m_link, &io::Link::lost, this, [this](const QString &reason) {
        if (!m_finished)
            lost(reason);
    });
}

void PortJob::start()
{
    QString error;
    if (!m_link.open(m_port, m_settings.baud, m_settings.checkMode, &error)) {
        fail(QStringLiteral("cannot open: ") + error);
        return;
    }
    begin();
}

void PortJob::interrupt()
{
    fail(QStringLiteral("interrupted"));
}

void PortJob::noReply()
{
    fail(QStringLiteral("no reply within %1 ms").arg(m_settings.timeoutMs));
}

void PortJob::lost(const QString &reason)
{
    fail(QStringLiteral("port failed: ") + reason);
}

void PortJob::ask(const QString &frame)
{
    m_link.send(frames::fromHexText(frame));
    m_sentAt.start();
    m_link.expectReply(m_settings.timeoutMs);
}

QString PortJob::frameOf(commands::Command command, const commands::Inputs &inputs) const
{
    return commands::build(command, m_settings.checkMode, inputs).text.value_or(QString());
}

replies::Reply PortJob::decode(const QByteArray &bytes, const replies::AaContext &ctx) const
{
    return m_settings.checkMode == 0 ? replies::decodeAa(bytes, ctx)
                                     : replies::decodeModbus(bytes, m_link.lastSent());
}

QString PortJob::words(const replies::Reply &reply, const QByteArray &bytes) const
{
    const QString text = replies::describe(reply, m_settings.language, m_baudText);
    return text.isEmpty() ? frames::toHexText(bytes) : text;
}

void PortJob::status(const QString &text) const
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(m_port), qPrintable(text));
}

void PortJob::fail(const QString &reason)
{
    status(reason);
    finish(1);
}

void PortJob::finish(int exitCode)
{
    if (m_finished)
        return;
    m_finished = true;
    m_exitCode = qMax(m_exitCode, exitCode);
    m_link.close();
    emit finished();
}

QueryJob::QueryJob(const QString &port, const Settings &settings, Output *output,
    const QList<Query> &queries, const QString &baudText)
    : PortJob(port, settings, output)
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
        && replies::routeReply(bytes, m_settings.checkMode) == replies::Route::TooShort) {
        m_link.expectReply(m_settings.timeoutMs);
        return;
    }
    replies::AaContext ctx;
    ctx.addressSearchRunning = query.addressProbe;
    ctx.lastProbedAddress = m_settings.address;
    const replies::Reply decoded = decode(bytes, ctx);
    m_output->line(m_port, query.raw ? frames::toHexText(bytes) : words(decoded, bytes));
    if (decoded.isError()) {
        status(QStringLiteral("error reply: ") + words(decoded, bytes));
        // The other queries still run; the exit code remembers the error.
        markError();
    }
    next();
}

MeasureJob::MeasureJob(const QString &port, const Settings &settings, Output *output, int count,
    double seconds, bool setSpeed)
    : PortJob(port, settings, output)
    , m_count(count)
    , m_seconds(seconds)
    , m_setSpeed(setSpeed)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (m_phase == Phase::Running)
            stop();
    });
}

bool MeasureJob::continuous() const
{
    // Modbus modules measure one at a time: a timed run asks for one result after the other.
    return m_count == 0 && m_settings.checkMode == 0;
}

void MeasureJob::begin()
{
    m_started.start();
    if (m_setSpeed && m_settings.checkMode == 1) {
        m_phase = Phase::Speed;
        ask(frameOf(commands::Command::MeasureMode, m_settings.inputs()));
        return;
    }
    startMeasuring();
}

void MeasureJob::startMeasuring()
{
    if (m_count == 0 && m_seconds > 0)
        m_deadline.start(qMax(1, int(m_seconds * 1000)));
    if (!continuous()) {
        m_phase = Phase::Single;
        measureOnce();
        return;
    }
    m_phase = Phase::Running;
    status(QStringLiteral("measuring; Ctrl+C ends the run"));
    ask(frameOf(commands::Command::ContinuousStart, m_settings.inputs()));
}

void MeasureJob::measureOnce()
{
    const bool done = m_count > 0 ? m_asked >= m_count : m_seconds > 0 && !m_deadline.isActive();
    if (done) {
        end(0);
        return;
    }
    ++m_asked;
    ask(frameOf(commands::Command::MeasureOnce, m_settings.inputs()));
}

void MeasureJob::stop()
{
    m_phase = Phase::Draining;
    m_link.send(frames::fromHexText(commands::stopByte()));
    m_link.expectReply(kDrainMs);
}

void MeasureJob::end(int exitCode)
{
    m_phase = Phase::Done;
    m_deadline.stop();
    QString text = QStringLiteral("%1 record%2").arg(m_records).arg(m_records == 1 ? "" : "s");
    if (m_errors > 0)
        text += QStringLiteral(", %1 error repl%2").arg(m_errors).arg(m_errors == 1 ? "y" : "ies");
    text += QStringLiteral(" in %1 s").arg(double(m_started.elapsed()) / 1000, 0, 'f', 1);
    status(text);
    if (m_stats.count() > 0)
        m_output->summary(m_port, m_stats.summary());
    finish(qMax(exitCode, m_errors > 0 ? 1 : 0));
}

void MeasureJob::interrupt()
{
    if (m_phase == Phase::Running)
        stop();
    else if (m_phase != Phase::Draining && m_phase != Phase::Done)
        end(0);
}

void MeasureJob::reply(const QByteArray &bytes)
{
    if (replies::routeReply(bytes, m_settings.checkMode) == replies::Route::TooShort) {
        m_link.expectReply(m_phase == Phase::Draining ? kDrainMs : m_settings.timeoutMs);
        return;
    }
    const replies::Reply decoded = decode(bytes);
    if (m_phase == Phase::Speed) {
        status(words(decoded, bytes));
        if (decoded.isError())
            end(1);
        else
            startMeasuring();
        return;
    }
    if (decoded.isError())
        ++m_errors;
    if (decoded.isMeasurement()) {
        const QTime now = localNow();
        const qint32 measuringMs = m_phase == Phase::Single ? qint32(m_sentAt.elapsed()) : -1;
        const core::Record record = core::recordOf(decoded, now.msecsSinceStartOfDay(),
            m_settings.measureMode, m_settings.language, measuringMs);
        const QString text = QString::number(m_replyNumber) + QStringLiteral("  [")
            + frames::clockText(now) + QStringLiteral("] ") + words(decoded, bytes);
        m_output->record(m_port, record, text);
        if (record.isError())
            m_stats.addError(m_started.elapsed());
        else
            m_stats.add(record.value, m_started.elapsed());
        ++m_records;
    } else if (decoded.isError()) {
        status(QStringLiteral("error reply: ") + words(decoded, bytes));
    }
    ++m_replyNumber;
    switch (m_phase) {
    case Phase::Single:
        measureOnce();
        break;
    case Phase::Running:
        // Each result must follow the last within the timeout, or the module has gone quiet.
        m_link.expectReply(m_settings.timeoutMs);
        break;
    case Phase::Draining:
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
    status(QStringLiteral("no reply within %1 ms").arg(m_settings.timeoutMs));
    if (m_phase == Phase::Running) {
        markError();
        stop();
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
