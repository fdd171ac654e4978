// VirtualModule: the simulated laser module's logic (request parsing, settings, distance model,
// reply frames) as a state machine without any I/O.
#include "sim/virtualmodule.h"

#include "core/commands.h"
#include "core/frames.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

// Framing is the protocol's; the register model below is the module's own, written from the
// module's side so that it checks the program's decoders independently.
using core::protocol::kAaErrorHeader;
using core::protocol::kAaHeader;
using core::protocol::kAaReadFlag;
using core::protocol::kAaReadLength;
using core::protocol::kAaWriteLength;
// Every request the module understands in Modbus RTU is six bytes and a CRC.
using core::protocol::kRtuRequestLength;

constexpr int kRegStatus = 0x0000;
constexpr int kRegVoltage = 0x0006;
constexpr int kRegTemperature = 0x0008;
constexpr int kRegHardware = 0x000A;
constexpr int kRegSoftware = 0x000C;
constexpr int kRegSerial = 0x000E;
constexpr int kRegAddress = 0x0010;
constexpr int kRegOffset = 0x0012;
constexpr int kRegBaud = 0x0014;
constexpr int kRegMeasure = 0x0020;
constexpr int kRegMeasureResult = 0x0022;
constexpr int kRegLaser = 0x01BE;

constexpr core::protocol::AddressRange kAaAddresses
    = core::protocol::addressRange(core::CheckMode::Sum8);
constexpr core::protocol::AddressRange kModbusAddresses
    = core::protocol::addressRange(core::CheckMode::Crc);

quint8 byteAt(const QByteArray &b, int i)
{
    return static_cast<quint8>(b.at(i));
}

quint16 wordAt(const QByteArray &b, int i)
{
    return quint16(byteAt(b, i) << 8 | byteAt(b, i + 1));
}

void appendWord(QByteArray &b, quint16 w)
{
    b.append(char(w >> 8));
    b.append(char(w & 0xFF));
}

void appendLong(QByteArray &b, quint32 v)
{
    appendWord(b, quint16(v >> 16));
    appendWord(b, quint16(v & 0xFFFF));
}

/** Header, body and the sum of every byte after the header. */
QByteArray sumFrame(quint8 header, const QByteArray &body)
{
    QByteArray f;
    f.append(char(header));
    f.append(body);
    f.append(char(core::protocol::sum8(body.constData(), body.size())));
    return f;
}

QByteArray aaValueReply(int addressByte, int reg, quint16 value)
{
    QByteArray body;
    body.append(char(addressByte));
    appendWord(body, quint16(reg));
    appendWord(body, 1);
    appendWord(body, value);
    return sumFrame(kAaHeader, body);
}

QByteArray aaError(int address, quint16 code)
{
    QByteArray body;
    body.append(char(address));
    appendWord(body, 0);
    appendWord(body, 1);
    appendWord(body, code);
    return sumFrame(kAaErrorHeader, body);
}

QByteArray modbusException(int address, quint8 function, quint8 code)
{
    QByteArray f;
    f.append(char(address));
    f.append(char(function | core::protocol::kExceptionFlag));
    f.append(char(code));
    return core::protocol::appendCrc(f);
}

QByteArray modbusRegisters(int address, quint8 function, const QList<quint16> &values)
{
    QByteArray f;
    f.append(char(address));
    f.append(char(function));
    f.append(char(values.size() * 2));
    for (quint16 v : values)
        appendWord(f, v);
    return core::protocol::appendCrc(f);
}

/** The module reports its supply voltage as BCD, so 3300 mV travels as 33 00. */
quint16 bcd(int value)
{
    value = std::clamp(value, 0, 9999);
    quint16 out = 0;
    for (int shift = 0; shift < 16; shift += 4) {
        out |= quint16((value % 10) << shift);
        value /= 10;
    }
    return out;
}

} // namespace

VirtualModule::VirtualModule(const ModuleSettings &settings)
    : m_settings(settings)
    , m_random(settings.seed)
{
}

QList<Response> VirtualModule::feed(const QByteArray &bytes, qint64 nowMs)
{
    QList<Response> out;
    // Bytes that waited longer than a frame gap belong to no frame still on its way.
    if (!m_rx.isEmpty() && nowMs - m_lastRxMs >= m_settings.frameGapMs)
        out = scan(nowMs, true);
    m_rx.append(bytes);
    m_lastRxMs = nowMs;
    out += scan(nowMs, false);
    return out;
}

QList<Response> VirtualModule::expire(qint64 nowMs)
{
    if (m_rx.isEmpty() || nowMs < expiryMs())
        return {};
    return scan(nowMs, true);
}

qint64 VirtualModule::expiryMs() const
{
    return m_rx.isEmpty() ? -1 : m_lastRxMs + m_settings.frameGapMs;
}

QList<Response> VirtualModule::scan(qint64 nowMs, bool giveUp)
{
    // Each position is tried as the start of a 0xAA frame, a Modbus frame for this module or
    // a stop byte. A frame still arriving holds the scan until it completes or the line goes
    // quiet (giveUp); a position that starts no valid frame is dropped, which resynchronises
    // after noise or a lost byte.
    QList<Response> out;
    while (!m_rx.isEmpty()) {
        const quint8 first = byteAt(m_rx, 0);
        bool waiting = false;
        if (first == kAaHeader) {
            if (m_rx.size() < 2) {
                waiting = true;
            } else {
                // The read flag in the address byte tells a 5-byte read from a 9-byte write.
                const int length = (byteAt(m_rx, 1) & kAaReadFlag) ? kAaReadLength : kAaWriteLength;
                if (m_rx.size() < length) {
                    waiting = true;
                } else if (core::protocol::checkSum8Frame(m_rx.constData(), length)) {
                    const QByteArray frame = m_rx.left(length);
                    m_rx.remove(0, length);
                    handleAa(frame, nowMs, out);
                    continue;
                }
            }
        }
        const bool forUs = first == m_settings.modbusAddress || first == 0;
        if (!waiting && forUs) {
            if (m_rx.size() < kRtuRequestLength) {
                waiting = true;
            } else if (core::protocol::checkCrc(m_rx.constData(), kRtuRequestLength)) {
                const QByteArray frame = m_rx.left(kRtuRequestLength);
                m_rx.remove(0, kRtuRequestLength);
                handleModbus(frame, nowMs, out);
                continue;
            }
        }
        // Only a module at Modbus address 0x58 has to wait to tell its frames from a stop.
        if (first == core::protocol::kAaStopByte && (!waiting || giveUp)) {
            ++m_counters.requests;
            m_continuous = false;
            m_rx.remove(0, 1);
            continue;
        }
        if (waiting && !giveUp)
            break;
        ++m_counters.discardedBytes;
        m_rx.remove(0, 1);
    }
    return out;
}

Response VirtualModule::reply(const QByteArray &bytes, int latencyMs, qint64 nowMs)
{
    // The module works through its requests one at a time: a query sent during a slow
    // measurement is answered after the measurement.
    const qint64 due = std::max(nowMs, m_busyUntilMs) + latencyMs;
    m_busyUntilMs = due;
    Response r;
    r.bytes = bytes;
    r.delayMs = int(due - nowMs);
    return r;
}

int VirtualModule::measuringTimeMs() const
{
    return m_settings.measuringTimeMs[size_t(m_settings.speedMode)];
}

qint64 VirtualModule::continuousPeriodUs() const
{
    const double rate = m_settings.continuousRate;
    if (std::isinf(rate))
        return 0;
    if (rate > 0)
        return qint64(std::llround(1e6 / rate));
    return qint64(measuringTimeMs()) * 1000;
}

bool VirtualModule::measure(qint32 *distance, quint16 *error)
{
    ++m_counters.measurements;
    const ModuleSettings &s = m_settings;
    qint64 target = s.distanceMm;
    switch (s.model) {
    case DistanceModel::Constant:
        break;
    case DistanceModel::Ramp: {
        target = s.distanceMm + m_rampStep * s.rampStepMm;
        const bool past = s.rampStepMm >= 0 ? target > s.rampToMm : target < s.rampToMm;
        if (past) {
            m_rampStep = 0;
            target = s.distanceMm;
        }
        ++m_rampStep;
        break;
    }
    case DistanceModel::Noisy:
        if (s.noiseMm > 0 && s.noiseKind == NoiseKind::Uniform) {
            target += m_random.bounded(-s.noiseMm, s.noiseMm + 1);
        } else if (s.noiseMm > 0) {
            // Box-Muller: two uniform draws, one normal one; the distance keeps whole mm.
            const double u = 1.0 - m_random.generateDouble();
            const double v = m_random.generateDouble();
            target
                += std::llround(s.noiseMm * std::sqrt(-2 * std::log(u)) * std::cos(2 * M_PI * v));
        }
        break;
    }
    if (s.errorEvery > 0 && m_counters.measurements % quint64(s.errorEvery) == 0) {
        *error = s.errorCode;
        return false;
    }
    if (target < s.minRangeMm || target > s.maxRangeMm) {
        *error = kErrorOutOfRange;
        return false;
    }
    *distance = qint32(target + s.offsetMm);
    return true;
}

QByteArray VirtualModule::aaMeasurement(int address)
{
    qint32 distance = 0;
    quint16 error = 0;
    if (!measure(&distance, &error))
        return aaError(address, error);
    QByteArray body;
    body.append(char(address));
    appendWord(body, kRegMeasureResult);
    appendWord(body, 3);
    appendLong(body, quint32(distance));
    appendWord(body, quint16(qint16(m_settings.signal)));
    return sumFrame(kAaHeader, body);
}

QByteArray VirtualModule::takeContinuousReply()
{
    return aaMeasurement(m_settings.address);
}

void VirtualModule::handleAa(const QByteArray &frame, qint64 nowMs, QList<Response> &out)
{
    const int addressByte = byteAt(frame, 1);
    const int address = addressByte & 0x7F;
    if (address != m_settings.address) {
        ++m_counters.foreignFrames;
        return;
    }
    ++m_counters.requests;
    const int reg = wordAt(frame, 2);
    const int latency = m_settings.queryLatencyMs;

    if (addressByte & kAaReadFlag) {
        quint16 value = 0;
        switch (reg) {
        case kRegStatus:
            value = m_settings.status;
            break;
        case kRegVoltage:
            value = bcd(m_settings.voltageMv);
            break;
        case kRegTemperature:
            value = quint16(qint16(m_settings.temperatureTenths));
            break;
        case kRegHardware:
            value = m_settings.hardwareVersion;
            break;
        case kRegSoftware:
            value = m_settings.softwareVersion;
            break;
        case kRegSerial:
            value = quint16(m_settings.serialNumber >> 16);
            break;
        case kRegOffset:
            value = quint16(qint16(m_settings.offsetMm));
            break;
        default:
            out.append(reply(aaError(address, kErrorUnknownRegister), latency, nowMs));
            return;
        }
        out.append(reply(aaValueReply(addressByte, reg, value), latency, nowMs));
        return;
    }

    const quint16 value = wordAt(frame, 6);
    // Writes and actions answer with the request itself, checksum rebuilt.
    const QByteArray echo = sumFrame(kAaHeader, frame.mid(1, kAaWriteLength - 2));
    switch (reg) {
    case kRegAddress:
        if (!kAaAddresses.contains(value))
            break;
        out.append(reply(echo, latency, nowMs));
        m_settings.address = value;
        return;
    case kRegOffset:
        m_settings.offsetMm = qint16(value);
        out.append(reply(echo, latency, nowMs));
        return;
    case kRegBaud: {
        if (core::protocol::baudOfCode(value) == 0)
            break;
        Response r = reply(echo, latency, nowMs);
        r.baudAfter = core::protocol::baudOfCode(value);
        m_settings.baudCode = value;
        out.append(r);
        return;
    }
    case kRegLaser:
        if (value > 1)
            break;
        m_settings.laserOn = value == 1;
        out.append(reply(echo, latency, nowMs));
        return;
    case kRegMeasure: {
        // 0..2 measure once, 4..6 keep measuring, each in the speed mode auto, slow, fast.
        const int mode = value & 0x03;
        if (mode == 3 || value > 6)
            break;
        m_settings.speedMode = SpeedMode(mode);
        if (value >= 4) {
            // The results follow on their own schedule; see continuousSeries().
            m_continuous = true;
            ++m_series;
            return;
        }
        out.append(reply(aaMeasurement(address), measuringTimeMs(), nowMs));
        return;
    }
    default:
        out.append(reply(aaError(address, kErrorUnknownRegister), latency, nowMs));
        return;
    }
    out.append(reply(aaError(address, kErrorBadValue), latency, nowMs));
}

void VirtualModule::handleModbus(const QByteArray &frame, qint64 nowMs, QList<Response> &out)
{
    const int address = byteAt(frame, 0);
    const bool broadcast = address == 0;
    ++m_counters.requests;
    const quint8 function = byteAt(frame, 1);
    const int reg = wordAt(frame, 2);
    const quint16 value = wordAt(frame, 4);
    switch (function) {
    case 0x03:
    case 0x04:
        // A broadcast read has nobody to answer.
        if (!broadcast)
            modbusRead(function, reg, value, nowMs, out);
        return;
    case 0x05:
        if (reg != 0) {
            if (!broadcast)
                out.append(reply(modbusException(address, function, kExceptionIllegalAddress),
                    m_settings.queryLatencyMs, nowMs));
            return;
        }
        if (value != 0xFF00 && value != 0x0000) {
            if (!broadcast)
                out.append(reply(modbusException(address, function, kExceptionIllegalValue),
                    m_settings.queryLatencyMs, nowMs));
            return;
        }
        m_settings.laserOn = value == 0xFF00;
        if (!broadcast)
            out.append(reply(frame, m_settings.queryLatencyMs, nowMs));
        return;
    case 0x06:
        modbusWrite(reg, value, broadcast, nowMs, out);
        return;
    case 0x01:
        // The measurement-mode frame: addr 01 06 00 02 m, the mode in the sixth byte.
        if (reg == 0x0600 && byteAt(frame, 4) == 0x02) {
            const int mode = byteAt(frame, 5);
            if (mode > 2) {
                if (!broadcast)
                    out.append(reply(modbusException(address, function, kExceptionIllegalValue),
                        m_settings.queryLatencyMs, nowMs));
                return;
            }
            m_settings.speedMode = SpeedMode(mode);
            if (!broadcast)
                out.append(reply(frame, m_settings.queryLatencyMs, nowMs));
            return;
        }
        break;
    default:
        break;
    }
    if (!broadcast)
        out.append(reply(modbusException(address, function, kExceptionIllegalFunction),
            m_settings.queryLatencyMs, nowMs));
}

void VirtualModule::modbusRead(
    quint8 function, int start, int count, qint64 nowMs, QList<Response> &out)
{
    const int address = m_settings.modbusAddress;
    const ModuleSettings &s = m_settings;
    int latency = s.queryLatencyMs;
    QList<quint16> block;
    if (function == 0x03) {
        const QList<quint16> holding { quint16(s.modbusAddress), quint16(qint16(s.offsetMm)),
            quint16(s.speedMode), quint16(s.baudCode) };
        if (start < holding.size())
            block = holding.mid(start);
    } else {
        // Input registers are commands as much as storage: a read from 4 measures, from 5
        // reads the angle, so each start register has a block of its own.
        switch (start) {
        case 1:
            block = { bcd(s.voltageMv), s.softwareVersion, s.hardwareVersion };
            break;
        case 2:
            block = { s.softwareVersion, s.hardwareVersion };
            break;
        case 3:
            block = { s.hardwareVersion };
            break;
        case 4: {
            if (count < 1 || count > 3)
                break;
            qint32 distance = 0;
            quint16 error = 0;
            if (!measure(&distance, &error)) {
                out.append(reply(modbusException(address, function, kExceptionDeviceFailure),
                    measuringTimeMs(), nowMs));
                return;
            }
            block = { quint16(quint32(distance) >> 16), quint16(quint32(distance) & 0xFFFF),
                quint16(qint16(s.signal)) };
            latency = measuringTimeMs();
            break;
        }
        case 5:
            block = { quint16(quint32(s.angleTenths) >> 16),
                quint16(quint32(s.angleTenths) & 0xFFFF) };
            break;
        case 6:
            block = { quint16(qint16(s.temperatureTenths)) };
            break;
        case 7:
            block = { quint16(s.serialNumber >> 16), quint16(s.serialNumber & 0xFFFF) };
            break;
        case 8:
            block = { quint16(s.serialNumber & 0xFFFF) };
            break;
        default:
            break;
        }
    }
    if (count == 0) {
        out.append(
            reply(modbusException(address, function, kExceptionIllegalValue), latency, nowMs));
        return;
    }
    if (count > block.size()) {
        out.append(
            reply(modbusException(address, function, kExceptionIllegalAddress), latency, nowMs));
        return;
    }
    out.append(reply(modbusRegisters(address, function, block.mid(0, count)), latency, nowMs));
}

void VirtualModule::modbusWrite(
    int reg, quint16 value, bool broadcast, qint64 nowMs, QList<Response> &out)
{
    // The echo goes out from the address the request used, even when it changes the address.
    const int address = m_settings.modbusAddress;
    QByteArray echo;
    echo.append(char(address));
    echo.append(char(0x06));
    appendWord(echo, quint16(reg));
    appendWord(echo, value);
    Response r;
    r.bytes = core::protocol::appendCrc(echo);
    quint8 exception = 0;
    switch (reg) {
    case 0:
        if (!kModbusAddresses.contains(value))
            exception = kExceptionIllegalValue;
        else
            m_settings.modbusAddress = value;
        break;
    case 1:
        m_settings.offsetMm = qint16(value);
        break;
    case 2:
        if (value > 2)
            exception = kExceptionIllegalValue;
        else
            m_settings.speedMode = SpeedMode(value);
        break;
    case 3:
        if (core::protocol::baudOfCode(value) == 0) {
            exception = kExceptionIllegalValue;
        } else {
            m_settings.baudCode = value;
            r.baudAfter = core::protocol::baudOfCode(value);
        }
        break;
    default:
        exception = kExceptionIllegalAddress;
        break;
    }
    if (broadcast)
        return;
    if (exception)
        r.bytes = modbusException(address, 0x06, exception);
    const int baudAfter = r.baudAfter;
    r = reply(r.bytes, m_settings.queryLatencyMs, nowMs);
    r.baudAfter = baudAfter;
    out.append(r);
}

} // namespace sim
