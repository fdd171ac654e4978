// Reply decoders of both protocols: what a module's reply says, as values.
#include "core/replies.h"

namespace core::replies {

using protocol::AaRegister;
using protocol::Function;
using protocol::HoldingRegister;
using protocol::InputRegister;

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

Reply make(CheckMode protocol, Kind kind, qint64 number = 0)
{
    Reply r;
    r.protocol = protocol;
    r.kind = kind;
    r.number = number;
    return r;
}

Reply withWord(CheckMode protocol, Kind kind, const QByteArray &reply, int pos, int count)
{
    Reply r = make(protocol, kind);
    r.word = reply.mid(pos, count);
    return r;
}

Reply measurement(CheckMode protocol, qint32 distance, qint16 signal)
{
    Reply r = make(protocol, Kind::Measurement, distance);
    r.signal = signal;
    r.chartPoint = protocol == CheckMode::Sum8;
    return r;
}

// Replies name their register by its low byte (byte 3 of a 0xAA frame, byte 3 of the Modbus
// request they answer).
template<typename Register> constexpr int low(Register r)
{
    return int(r) & 0xFF;
}

} // namespace

Reply decodeAa(const QByteArray &reply, const AaContext &ctx)
{
    constexpr CheckMode aa = CheckMode::Sum8;
    const int header = byteAt(reply, 0);
    if (header == protocol::kAaErrorHeader) {
        Reply r = withWord(aa, Kind::ModuleError, reply, 6, 2);
        r.number = unsignedField(reply, 6, 2);
        return r;
    }
    if (header != protocol::kAaHeader)
        return make(aa, Kind::NotAFrame);

    switch (byteAt(reply, 3)) {
    case low(AaRegister::Measure):
    case low(AaRegister::MeasureResult):
        return measurement(aa, signed32(reply, 6), signed16(reply, 10));
    case low(AaRegister::Laser):
        if (byteAt(reply, 7) == 0x00)
            return make(aa, Kind::LaserOff);
        if (byteAt(reply, 7) == 0x01)
            return make(aa, Kind::LaserOn);
        return Reply();
    case low(AaRegister::Temperature):
        return make(aa, Kind::Temperature, signed16(reply, 6));
    case low(AaRegister::HardwareVersion):
        return withWord(aa, Kind::HardwareVersion, reply, 6, 2);
    case low(AaRegister::Status): {
        if (!ctx.addressSearchRunning)
            return withWord(aa, Kind::Status, reply, 6, 2);
        // A module that answers after the next probe went out would be reported under the
        // wrong address; its own read address byte (address + 0x80) names it exactly.
        const int addressByte = byteAt(reply, 1);
        Reply r = make(aa, Kind::AddressFound,
            addressByte >= protocol::kAaReadFlag ? addressByte - protocol::kAaReadFlag
                                                 : ctx.lastProbedAddress);
        r.endsAddressSearch = true;
        return r;
    }
    case low(AaRegister::SoftwareVersion):
        return withWord(aa, Kind::SoftwareVersion, reply, 6, 2);
    case low(AaRegister::SerialNumber):
        return withWord(aa, Kind::SerialNumber, reply, 6, 2);
    case low(AaRegister::Voltage):
        return withWord(aa, Kind::Voltage, reply, 6, 2);
    case low(AaRegister::Address): {
        const int address = int(unsignedField(reply, 7, 1));
        Reply r = make(aa, Kind::AddressSet, address);
        r.newAddress = address;
        return r;
    }
    case low(AaRegister::Offset):
        // Reads carry the read flag (0x80) in the address byte and the module echoes it; a write
        // to a module at address 80 to 127 has no flag and is still a write.
        return make(aa,
            unsignedField(reply, 1, 1) >= protocol::kAaReadFlag ? Kind::OffsetRead
                                                                : Kind::OffsetSet,
            signed16(reply, 6));
    case low(AaRegister::BaudRate):
        return make(aa, Kind::BaudRateSet);
    default:
        return Reply();
    }
}

Reply decodeModbus(const QByteArray &reply, const QByteArray &lastSent)
{
    constexpr CheckMode mb = CheckMode::Crc;
    // An exception reply carries only a code; reading it as the answer to the last frame would
    // show invented values.
    if (unsignedField(reply, 1, 1) & protocol::kExceptionFlag)
        return withWord(mb, Kind::ModbusException, reply, 2, 1);

    const int reg = byteAt(lastSent, 3);
    switch (byteAt(lastSent, 1)) {
    case int(Function::WriteSingleCoil):
        if (byteAt(reply, 4) == 0xFF)
            return make(mb, Kind::LaserOn);
        if (byteAt(lastSent, 4) == 0x00)
            return make(mb, Kind::LaserOff);
        return Reply();
    case int(Function::ReadCoils): {
        const int mode = byteAt(lastSent, 5);
        return mode >= 0 && mode <= 2 ? make(mb, Kind::MeasureModeSet, mode) : Reply();
    }
    case int(Function::WriteSingleRegister):
        if (reg == low(HoldingRegister::Address)) {
            Reply r = withWord(mb, Kind::AddressSet, reply, 5, 1);
            r.number = int(unsignedField(reply, 5, 1));
            r.newAddress = int(r.number);
            return r;
        }
        if (reg == low(HoldingRegister::Offset))
            return make(mb, Kind::OffsetSet, signed16(reply, 4));
        if (reg == low(HoldingRegister::BaudRate))
            return make(mb, Kind::BaudRateSet);
        return Reply();
    case int(Function::ReadInputRegisters):
        switch (reg) {
        case low(InputRegister::Voltage):
            return withWord(mb, Kind::Voltage, reply, 3, 2);
        case low(InputRegister::SoftwareVersion):
            return withWord(mb, Kind::SoftwareVersion, reply, 3, 2);
        case low(InputRegister::HardwareVersion):
            return withWord(mb, Kind::HardwareVersion, reply, 3, 2);
        case low(InputRegister::Measurement):
            return measurement(mb, signed32(reply, 3), signed16(reply, 7));
        case low(InputRegister::Angle):
            return make(mb, Kind::Angle, signed32(reply, 3));
        case low(InputRegister::Temperature):
            return make(mb, Kind::Temperature, signed16(reply, 3));
        case low(InputRegister::SerialNumber):
            return withWord(mb, Kind::SerialNumber, reply, 3, 2);
        default:
            return Reply();
        }
    case int(Function::ReadHoldingRegisters):
        if (reg == low(HoldingRegister::Address))
            return withWord(mb, Kind::Address, reply, 4, 1);
        if (reg == low(HoldingRegister::Offset))
            return make(mb, Kind::OffsetRead, signed16(reply, 3));
        return Reply();
    default:
        return Reply();
    }
}

Route routeReply(const QByteArray &reply, std::optional<CheckMode> checkMode)
{
    if (reply.isEmpty())
        return Route::Empty;
    if (reply.size() < kMinParsedBytes)
        return Route::TooShort;
    if (!checkMode)
        return Route::Unparsed;
    return *checkMode == CheckMode::Sum8 ? Route::Aa : Route::Modbus;
}

} // namespace core::replies
