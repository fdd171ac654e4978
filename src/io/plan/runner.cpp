// Runs a test plan against one module on one port and keeps the record of the run.
#include "io/plan/runner.h"

#include "core/frames.h"

#include <algorithm>

namespace io::plan {

using core::commands::Command;
using core::plan::Quantity;
using core::plan::TestStep;

namespace {

Command readCommand(Quantity q)
{
    switch (q) {
    case Quantity::Serial:
        return Command::ReadSerialNumber;
    case Quantity::Software:
        return Command::ReadSoftwareVersion;
    case Quantity::Hardware:
        return Command::ReadHardwareVersion;
    case Quantity::Status:
        return Command::ReadStatus;
    case Quantity::Voltage:
        return Command::ReadVoltage;
    case Quantity::Temperature:
        return Command::ReadTemperature;
    case Quantity::Angle:
        return Command::ReadAngle;
    case Quantity::Offset:
        return Command::ReadOffset;
    }
    return Command::ReadStatus;
}

// After the stop byte a result may still be on the wire, and one more may have been under way:
// this much silence beyond two replies' time on the line ends the run's tail. A later straggler
// is recognised as a measurement and passed over by the next exchange.
constexpr int kDrainMs = 30;
constexpr int kMeasurementReplyBytes = 13;

} // namespace

Runner::Runner(const core::plan::Plan &plan, const RunOptions &options, QObject *parent)
    : QObject(parent)
    , m_plan(plan)
    , m_options(options)
    , m_settings(plan.link)
    , m_sequence(plan)
{
    if (options.checkMode && *options.checkMode != plan.link.checkMode) {
        // The plan's address belongs to its protocol; the other one starts at its factory address.
        m_settings.checkMode = *options.checkMode;
        m_settings.address = core::protocol::addressRange(m_settings.checkMode).factory;
    }
    if (options.baud)
        m_settings.baud = *options.baud;
    if (options.address)
        m_settings.address = *options.address;
    if (options.timeoutMs)
        m_settings.timeoutMs = *options.timeoutMs;
    connect(&m_link, &io::Link::replyReceived, this, &Runner::onReply);
    connect(&m_link, &io::Link::noReply, this, &Runner::onNoReply);
    connect(&m_link, &io::Link::lost, this, &Runner::onLost);
}

void Runner::start()
{
    if (m_started)
        return;
    m_started = true;
    m_record.id = core::plan::newRunId();
    m_record.plan = { m_plan.name, m_plan.version, m_plan.sha256 };
    m_record.station = m_options.station;
    m_record.operatorName = m_options.operatorName;
    m_record.lot = m_options.lot;
    m_record.port = m_options.port;
    m_record.startTime = QDateTime::currentDateTime();
    m_attemptStart = m_record.startTime;
    QString error;
    if (!m_link.open(m_options.port, m_settings.baud, m_settings.checkMode, &error)) {
        m_values.error = QStringLiteral("cannot open %1: %2").arg(m_options.port, error);
        m_lost = true;
        endAttempt();
        return;
    }
    if (!m_options.byteLog.isEmpty())
        m_link.record(m_options.byteLog, &m_byteLogError);
    runStep();
}

void Runner::abort()
{
    if (!m_started || m_finished || m_abort)
        return;
    m_abort = true;
    // Everything else stops at the end of its exchange; a continuous run would not end by itself.
    if (m_wait == Wait::Continuous)
        stopContinuous(nullptr);
}

void Runner::runStep()
{
    if (m_sequence.finished()) {
        finish();
        return;
    }
    m_values = {};
    m_attemptStart = QDateTime::currentDateTime();
    if (m_abort) {
        abortNow();
        return;
    }
    const TestStep &step = m_sequence.step();
    switch (step.kind) {
    case TestStep::Kind::Read:
        readNext(0);
        break;
    case TestStep::Kind::Measure:
        measure(&m_values.series, [this] { endAttempt(); });
        break;
    case TestStep::Kind::Calibrate:
        askNumber(Quantity::Offset, [this](int offset) {
            m_values.offsetBefore = offset;
            measure(&m_values.calibrationSeries, [this, offset] {
                const core::plan::Calibration c
                    = core::plan::calibrate(m_sequence.step(), offset, m_values.calibrationSeries);
                if (!c.newOffset) {
                    endAttempt();
                    return;
                }
                core::commands::Inputs in = inputs();
                in.offset = *c.newOffset;
                ask(Command::SetOffset, in,
                    [this](const core::replies::Reply &r, const QByteArray &b) {
                        if (r.kind != core::replies::Kind::OffsetSet) {
                            m_values.failure = QStringLiteral("offset write refused: ")
                                + core::frames::toHexText(b);
                            endAttempt();
                            return;
                        }
                        askNumber(Quantity::Offset, [this](int back) {
                            m_values.offsetReadBack = back;
                            measure(&m_values.series, [this] { endAttempt(); });
                        });
                    });
            });
        });
        break;
    case TestStep::Kind::Set:
        setNext(0);
        break;
    }
}

void Runner::endAttempt()
{
    if (m_sequence.finished())
        return;
    m_wait = Wait::None;
    m_then = nullptr;
    m_seriesDone = nullptr;
    m_silenceFails = false;
    m_link.expectReply(0);
    const TestStep &step = m_sequence.step();
    core::plan::Attempt attempt = core::plan::judgeAttempt(step, m_values);
    attempt.startTime = m_attemptStart;
    attempt.endTime = QDateTime::currentDateTime();
    if (step.kind == TestStep::Kind::Read) {
        for (const auto &[q, reading] : std::as_const(m_values.reads)) {
            if (reading.text.isEmpty() || reading.errorReply)
                continue;
            if (q == Quantity::Serial)
                m_record.unit.serial = reading.text;
            else if (q == Quantity::Software)
                m_record.unit.software = reading.text;
            else if (q == Quantity::Hardware)
                m_record.unit.hardware = reading.text;
        }
    }
    const auto &done = m_sequence.steps();
    const int number = done.size() > m_sequence.stepIndex()
        ? int(done.at(m_sequence.stepIndex()).attempts.size()) + 1
        : 1;
    emit attemptDone(step.name, number, attempt);
    m_sequence.attemptDone(attempt, m_lost);
    // The next step starts from the event loop, so a chain of quick failures never nests.
    QMetaObject::invokeMethod(this, &Runner::runStep, Qt::QueuedConnection);
}

void Runner::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_record.steps = m_sequence.steps();
    m_record.outcome = m_sequence.outcome();
    m_record.endTime = QDateTime::currentDateTime();
    QString error;
    if (!m_options.byteLog.isEmpty() && !m_link.record({}, &error) && m_byteLogError.isEmpty())
        m_byteLogError = error;
    m_link.close();
    emit finished();
}

void Runner::abortNow()
{
    m_values.aborted = true;
    endAttempt();
}

core::commands::Inputs Runner::inputs() const
{
    core::commands::Inputs in;
    in.address = in.modbusAddress = in.oldAddress = m_settings.address;
    if (!m_sequence.finished())
        in.measureMode = int(m_sequence.step().speed);
    return in;
}

core::replies::Reply Runner::decode(const QByteArray &bytes) const
{
    return m_settings.checkMode == core::CheckMode::Sum8
        ? core::replies::decodeAa(bytes, {})
        : core::replies::decodeModbus(bytes, m_link.lastSent());
}

QString Runner::settingsText() const
{
    return QStringLiteral("%1 baud, address %2").arg(m_settings.baud).arg(m_settings.address);
}

void Runner::ask(Command command, core::commands::Inputs in, Then then)
{
    const core::commands::Built built = core::commands::build(command, m_settings.checkMode, in);
    if (!built.text) {
        m_values.error
            = QStringLiteral("the module has no such command in %1")
                  .arg(m_settings.checkMode == core::CheckMode::Sum8 ? "0xAA frames" : "Modbus");
        endAttempt();
        return;
    }
    const QByteArray frame = core::frames::fromHexText(*built.text);
    m_asked = command;
    m_then = std::move(then);
    m_wait = Wait::Reply;
    m_link.send(frame);
    m_link.expectReply(m_settings.timeoutMs);
}

void Runner::askRead(Quantity q, std::function<void(const core::plan::Reading &)> then)
{
    ask(readCommand(q), inputs(), [q, then](const core::replies::Reply &r, const QByteArray &b) {
        then(core::plan::readingOf(q, r, b));
    });
}

void Runner::askNumber(Quantity q, std::function<void(int)> then)
{
    askRead(q, [this, q, then](const core::plan::Reading &r) {
        if (!r.value) {
            m_values.error = core::plan::quantityName(q) + QStringLiteral(" read: ")
                + (r.problem.isEmpty() ? r.text : r.problem);
            endAttempt();
            return;
        }
        then(int(*r.value));
    });
}

void Runner::readNext(int index)
{
    const QList<Quantity> &reads = m_sequence.step().reads;
    if (index == reads.size()) {
        endAttempt();
        return;
    }
    const Quantity q = reads.at(index);
    askRead(q, [this, q, index](const core::plan::Reading &r) {
        m_values.reads.append({ q, r });
        readNext(index + 1);
    });
}

void Runner::measure(core::plan::Series *series, std::function<void()> then)
{
    m_series = series;
    if (m_settings.checkMode == core::CheckMode::Crc) {
        // A Modbus module keeps its measuring speed as a setting and measures one at a time.
        ask(Command::MeasureMode, inputs(),
            [this, then](const core::replies::Reply &r, const QByteArray &b) {
                if (r.kind != core::replies::Kind::MeasureModeSet) {
                    m_values.error = QStringLiteral("measuring speed not taken: ")
                        + core::frames::toHexText(b);
                    endAttempt();
                    return;
                }
                measureOnce(then);
            });
        return;
    }
    // A 0xAA module measures continuously: no request frame and no silence between results.
    const core::commands::Built start
        = core::commands::build(Command::ContinuousStart, m_settings.checkMode, inputs());
    m_seriesDone = std::move(then);
    m_wait = Wait::Continuous;
    m_link.send(core::frames::fromHexText(start.text.value_or(QString())));
    m_link.expectReply(m_settings.timeoutMs);
}

void Runner::measureOnce(std::function<void()> then)
{
    if (m_series->samples.size() + m_series->errorReplies >= m_sequence.step().count) {
        then();
        return;
    }
    ask(Command::MeasureOnce, inputs(),
        [this, then](const core::replies::Reply &r, const QByteArray &b) {
            if (r.kind == core::replies::Kind::Measurement) {
                m_series->samples << qint32(r.number);
            } else if (r.isError()) {
                ++m_series->errorReplies;
            } else {
                m_values.error = QStringLiteral("not a measurement: ") + core::frames::toHexText(b);
                endAttempt();
                return;
            }
            measureOnce(then);
        });
}

void Runner::stopContinuous(std::function<void()> then)
{
    m_link.send(core::frames::fromHexText(core::commands::stopByte()));
    if (then)
        m_seriesDone = std::move(then);
    m_wait = Wait::Drain;
    armDrain();
}

void Runner::armDrain()
{
    m_link.expectReply(kDrainMs + 2 * kMeasurementReplyBytes * 10 * 1000 / m_settings.baud);
}

void Runner::setNext(int index)
{
    const TestStep &s = m_sequence.step();
    core::commands::Inputs in = inputs();
    // Each write is answered at the settings it was sent at; the speed goes last, to the module's
    // new address, and its answer still comes at the old speed.
    auto write = [&](Command c, core::replies::Kind answer, const QString &what,
                     std::function<void()> apply) {
        ask(c, in, [=](const core::replies::Reply &r, const QByteArray &b) {
            if (r.kind != answer) {
                m_values.failure = what + QStringLiteral(" refused: ") + core::frames::toHexText(b);
                endAttempt();
                return;
            }
            if (apply)
                apply();
            setNext(index + 1);
        });
    };
    switch (index) {
    case 0:
        if (s.setOffset) {
            in.offset = *s.setOffset;
            write(Command::SetOffset, core::replies::Kind::OffsetSet, QStringLiteral("offset"), {});
            return;
        }
        [[fallthrough]];
    case 1:
        if (s.setLaser) {
            write(*s.setLaser ? Command::LaserOn : Command::LaserOff,
                *s.setLaser ? core::replies::Kind::LaserOn : core::replies::Kind::LaserOff,
                QStringLiteral("laser"), {});
            return;
        }
        [[fallthrough]];
    case 2:
        if (s.setAddress) {
            in.newAddress = *s.setAddress;
            const int address = *s.setAddress;
            write(Command::SetAddress, core::replies::Kind::AddressSet, QStringLiteral("address"),
                [this, address] { m_settings.address = address; });
            return;
        }
        [[fallthrough]];
    case 3:
        if (s.setBaud) {
            const int baud = *s.setBaud;
            in.baudCode = int(std::find(std::begin(core::protocol::kBaudRates),
                                  std::end(core::protocol::kBaudRates), baud)
                - std::begin(core::protocol::kBaudRates));
            write(Command::SetBaudRate, core::replies::Kind::BaudRateSet,
                QStringLiteral("baud rate"), [this, baud] { m_settings.baud = baud; });
            return;
        }
        [[fallthrough]];
    default:
        verifyNewSettings();
    }
}

void Runner::verifyNewSettings()
{
    m_link.close();
    QString error;
    if (!m_link.open(m_options.port, m_settings.baud, m_settings.checkMode, &error)) {
        m_values.error = QStringLiteral("cannot reopen at %1: %2").arg(settingsText(), error);
        m_lost = true;
        endAttempt();
        return;
    }
    m_silenceFails = true;
    askRead(Quantity::Serial, [this](const core::plan::Reading &r) {
        m_silenceFails = false;
        m_values.reads.append({ Quantity::Serial, r });
        if (!m_record.unit.serial.isEmpty() && !r.errorReply && r.text != m_record.unit.serial)
            m_values.failure = QStringLiteral("another unit answers at ") + settingsText();
        if (!m_sequence.step().setOffset) {
            endAttempt();
            return;
        }
        askRead(Quantity::Offset, [this](const core::plan::Reading &offset) {
            m_values.reads.append({ Quantity::Offset, offset });
            endAttempt();
        });
    });
}

void Runner::onReply(const QByteArray &bytes)
{
    if (m_finished || m_wait == Wait::None)
        return;
    if (core::replies::routeReply(bytes, m_settings.checkMode) == core::replies::Route::TooShort) {
        m_link.expectReply(m_settings.timeoutMs);
        return;
    }
    const core::replies::Reply reply = decode(bytes);
    switch (m_wait) {
    case Wait::None:
        return;
    case Wait::Drain:
    case Wait::Continuous: {
        // Results still on the way after an early stop belong to the series, beyond its count not.
        const bool full
            = m_series->samples.size() + m_series->errorReplies >= m_sequence.step().count;
        if (reply.kind == core::replies::Kind::Measurement && !full)
            m_series->samples << qint32(reply.number);
        else if (reply.kind == core::replies::Kind::ModuleError && !full)
            ++m_series->errorReplies;
        if (m_wait == Wait::Drain)
            armDrain();
        else if (m_series->samples.size() + m_series->errorReplies >= m_sequence.step().count)
            stopContinuous(nullptr);
        else
            m_link.expectReply(m_settings.timeoutMs);
        return;
    }
    case Wait::Reply:
        if (reply.kind == core::replies::Kind::Measurement && m_asked != Command::MeasureOnce) {
            m_link.expectReply(m_settings.timeoutMs); // the late tail of a continuous run
            return;
        }
        m_wait = Wait::None;
        if (m_abort) {
            abortNow();
            return;
        }
        Then then = std::move(m_then);
        then(reply, bytes);
        return;
    }
}

void Runner::onNoReply()
{
    switch (m_wait) {
    case Wait::None:
        return;
    case Wait::Drain: {
        m_wait = Wait::None;
        std::function<void()> then = std::move(m_seriesDone);
        if (m_abort)
            abortNow();
        else if (then)
            then();
        return;
    }
    case Wait::Continuous:
        m_values.error = QStringLiteral("no result within %1 ms").arg(m_settings.timeoutMs);
        stopContinuous([this] { endAttempt(); });
        return;
    case Wait::Reply:
        m_wait = Wait::None;
        if (m_silenceFails)
            m_values.failure = QStringLiteral("no answer at ") + settingsText();
        else
            m_values.error = QStringLiteral("no reply within %1 ms").arg(m_settings.timeoutMs);
        if (m_abort)
            abortNow();
        else
            endAttempt();
        return;
    }
}

void Runner::onLost(const QString &reason)
{
    if (m_finished || !m_started)
        return;
    m_lost = true;
    m_values.error = QStringLiteral("line lost: ") + reason;
    endAttempt();
}

} // namespace io::plan
