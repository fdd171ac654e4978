// Reply decoders of both protocols: what a module's reply says, as values.
#include "core/replies.h"

namespace replies {

namespace {

// A field the reply is too short for reads from the bytes it has (none: 0), so a damaged reply
// still yields a line instead of nothing.
quint32 unsignedField(const QByteArray &bytes, int pos, int count)
{
    quint32 value = 0;
    for (int i = pos; i < pos + count && i < bytes.size(); ++i)
        value = (value << 8) | quint8(bytes.at(i));
    return value;
}

qint16 signed16(const QByteArray &bytes, int pos)
{
    return qint16(quint16(unsignedField(bytes, pos, 2)));
}

qint32 signed32(const QByteArray &bytes, int pos)
{
    return qint32(unsignedField(bytes, pos, 4));
}

// A byte the reply does not hold compares as -1, never as a register code.
int byteAt(const QByteArray &bytes, int pos)
{
    return pos < bytes.size() ? quint8(bytes.at(pos)) : -1;
}

Reply make(Protocol protocol, Kind kind, qint64 number = 0)
{
    Reply r;
    r.protocol = protocol;
    r.kind = kind;
    r.number = number;
    return r;
}

Reply withWord(Protocol protocol, Kind kind, const QByteArray &reply, int pos, int count)
{
    Reply r = make(protocol, kind);
    r.word = reply.mid(pos, count);
    return r;
}

Reply measurement(Protocol protocol, qint32 distance, qint16 signal)
{
    Reply r = make(protocol, Kind::Measurement, distance);
    r.signal = signal;
    r.chartPoint = protocol == Protocol::Aa;
    return r;
}

} // namespace

Reply decodeAa(const QByteArray &reply, const AaContext &ctx)
{
    constexpr Protocol aa = Protocol::Aa;
    const int header = byteAt(reply, 0);
    if (header == 0xEE) {
        Reply r = withWord(aa, Kind::ModuleError, reply, 6, 2);
        r.number = unsignedField(reply, 6, 2);
        return r;
    }
    if (header != 0xAA)
        return make(aa, Kind::NotAFrame);

    switch (byteAt(reply, 3)) {
    case 0x20:
    case 0x22:
        return measurement(aa, signed32(reply, 6), signed16(reply, 10));
    case 0xBE:
        if (byteAt(reply, 7) == 0x00)
            return make(aa, Kind::LaserOff);
        if (byteAt(reply, 7) == 0x01)
            return make(aa, Kind::LaserOn);
        return Reply();
    case 0x08:
        return make(aa, Kind::Temperature, signed16(reply, 6));
    case 0x0A:
        return withWord(aa, Kind::HardwareVersion, reply, 6, 2);
    case 0x00: {
        if (!ctx.addressSearchRunning)
            return withWord(aa, Kind::Status, reply, 6, 2);
        // A module that answers after the next probe went out would be reported under the
        // wrong address; its own read address byte (address + 0x80) names it exactly.
        const int addressByte = byteAt(reply, 1);
        Reply r = make(aa, Kind::AddressFound,
            addressByte >= 0x80 ? addressByte - 0x80 : ctx.lastProbedAddress);
        r.endsAddressSearch = true;
        return r;
    }
    case 0x0C:
        return withWord(aa, Kind::SoftwareVersion, reply, 6, 2);
    case 0x0E:
        return withWord(aa, Kind::SerialNumber, reply, 6, 2);
    case 0x06:
        return withWord(aa, Kind::Voltage, reply, 6, 2);
    case 0x10: {
        const int address = int(unsignedField(reply, 7, 1));
        Reply r = make(aa, Kind::AddressSet, address);
        r.newAddress = address;
        return r;
    }
    case 0x12:
        // Reads carry the read flag (0x80) in the address byte and the module echoes it; a write
        // to a module at address 80 to 127 has no flag and is still a write.
        return make(aa, unsignedField(reply, 1, 1) >= 0x80 ? Kind::OffsetRead : Kind::OffsetSet,
            signed16(reply, 6));
    case 0x14:
        return make(aa, Kind::BaudRateSet);
    default:
        return Reply();
    }
}

Reply decodeModbus(const QByteArray &reply, const QByteArray &lastSent)
{
    constexpr Protocol mb = Protocol::Modbus;
    // An exception reply carries only a code; reading it as the answer to the last frame would
    // show invented values.
    if (unsignedField(reply, 1, 1) & 0x80)
        return withWord(mb, Kind::ModbusException, reply, 2, 1);

    const int reg = byteAt(lastSent, 3);
    switch (byteAt(lastSent, 1)) {
    case 0x05:
        if (byteAt(reply, 4) == 0xFF)
            return make(mb, Kind::LaserOn);
        if (byteAt(lastSent, 4) == 0x00)
            return make(mb, Kind::LaserOff);
        return Reply();
    case 0x01: {
        const int mode = byteAt(lastSent, 5);
        return mode >= 0 && mode <= 2 ? make(mb, Kind::MeasureModeSet, mode) : Reply();
    }
    case 0x06:
        if (reg == 0x00) {
            Reply r = withWord(mb, Kind::AddressSet, reply, 5, 1);
            r.number = int(unsignedField(reply, 5, 1));
            r.newAddress = int(r.number);
            return r;
        }
        if (reg == 0x01)
            return make(mb, Kind::OffsetSet, signed16(reply, 4));
        if (reg == 0x03)
            return make(mb, Kind::BaudRateSet);
        return Reply();
    case 0x04:
        switch (reg) {
        case 0x01:
            return withWord(mb, Kind::Voltage, reply, 3, 2);
        case 0x02:
            return withWord(mb, Kind::SoftwareVersion, reply, 3, 2);
        case 0x03:
            return withWord(mb, Kind::HardwareVersion, reply, 3, 2);
        case 0x04:
            return measurement(mb, signed32(reply, 3), signed16(reply, 7));
        case 0x05:
            return make(mb, Kind::Angle, signed32(reply, 3));
        case 0x06:
            return make(mb, Kind::Temperature, signed16(reply, 3));
        case 0x07:
            return withWord(mb, Kind::SerialNumber, reply, 3, 2);
        default:
            return Reply();
        }
    case 0x03:
        if (reg == 0x00)
            return withWord(mb, Kind::Address, reply, 4, 1);
        if (reg == 0x01)
            return make(mb, Kind::OffsetRead, signed16(reply, 3));
        return Reply();
    default:
        return Reply();
    }
}

Route routeReply(const QByteArray &reply, int checkMode)
{
    if (reply.isEmpty())
        return Route::Empty;
    if (reply.size() < kMinParsedBytes)
        return Route::TooShort;
    if (checkMode == 0)
        return Route::Aa;
    if (checkMode == 1)
        return Route::Modbus;
    return Route::Unparsed;
}

} // namespace replies
