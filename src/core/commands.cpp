// Command frames the window sends to a module, built as hex text for both check modes.
#include "core/commands.h"

#include "core/frames.h"

namespace core::commands {

using namespace protocol;

namespace {
Built send(const QString &text)
{
    return Built { text, Warning::None };
}

Built refuse(Warning warning)
{
    return Built { std::nullopt, warning };
}

QString word(int value)
{
    return hexByte(value >> 8) + QLatin1Char(' ') + hexByte(value);
}

// The checksum covers everything after the header, so it is taken from the
// finished text rather than tracked field by field.
QString withChecksum(const QString &text)
{
    return text + QLatin1Char(' ') + hexByte(aaChecksum(text));
}

// An address outside the protocol's range would reach no module, or (above 127 in a 0xAA frame)
// spill into the read flag and reach another one, so such a frame is refused rather than sent.
bool usable(int address, CheckMode mode)
{
    return addressRange(mode).contains(address);
}

QString aaHead(int addressByte, AaRegister reg)
{
    return QStringLiteral("AA ") + hexByte(addressByte) + QLatin1Char(' ') + word(int(reg));
}

Built aaRead(int address, AaRegister reg)
{
    if (!usable(address, CheckMode::Sum8))
        return refuse(Warning::AddressOutOfRange);
    return send(withChecksum(aaHead(address + kAaReadFlag, reg)));
}

// Writes and actions always carry one 16-bit word.
Built aaWrite(int address, AaRegister reg, int value)
{
    if (!usable(address, CheckMode::Sum8))
        return refuse(Warning::AddressOutOfRange);
    return send(withChecksum(aaHead(address, reg) + QStringLiteral(" 00 01 ") + word(value)));
}

// Address, function and two 16-bit fields: register or coil, then a count or a value.
Built modbus(int address, Function function, int first, int second)
{
    if (!usable(address, CheckMode::Crc))
        return refuse(Warning::AddressOutOfRange);
    return send(hexByte(address) + QLatin1Char(' ') + hexByte(int(function)) + QLatin1Char(' ')
        + word(first) + QLatin1Char(' ') + word(second));
}

Built readInput(int address, InputRegister reg, int count = 1)
{
    return modbus(address, Function::ReadInputRegisters, int(reg), count);
}

Built readHolding(int address, HoldingRegister reg)
{
    return modbus(address, Function::ReadHoldingRegisters, int(reg), 1);
}

Built writeHolding(int address, HoldingRegister reg, int value)
{
    return modbus(address, Function::WriteSingleRegister, int(reg), value);
}

Built laser(const Inputs &in, CheckMode mode, bool on)
{
    if (mode == CheckMode::Sum8)
        return aaWrite(in.address, AaRegister::Laser, on ? 1 : 0);
    return modbus(in.modbusAddress, Function::WriteSingleCoil, 0, on ? 0xFF00 : 0);
}
} // namespace

Built build(Command command, CheckMode mode, const Inputs &in)
{
    const bool aa = mode == CheckMode::Sum8;
    const int m = in.modbusAddress;
    switch (command) {
    case Command::ReadVoltage:
        return aa ? aaRead(in.address, AaRegister::Voltage) : readInput(m, InputRegister::Voltage);
    case Command::ReadStatus:
        return aa ? aaRead(in.address, AaRegister::Status) : refuse(Warning::StatusNotAvailable);
    case Command::ReadHardwareVersion:
        return aa ? aaRead(in.address, AaRegister::HardwareVersion)
                  : readInput(m, InputRegister::HardwareVersion);
    case Command::ReadSoftwareVersion:
        return aa ? aaRead(in.address, AaRegister::SoftwareVersion)
                  : readInput(m, InputRegister::SoftwareVersion);
    case Command::ReadSerialNumber:
        return aa ? aaRead(in.address, AaRegister::SerialNumber)
                  : readInput(m, InputRegister::SerialNumber, 2);
    case Command::ReadTemperature:
        return aa ? aaRead(in.address, AaRegister::Temperature)
                  : readInput(m, InputRegister::Temperature);
    case Command::ReadOffset:
        return aa ? aaRead(in.address, AaRegister::Offset)
                  : readHolding(m, HoldingRegister::Offset);
    case Command::ReadAngle:
        return aa ? refuse(Warning::AngleNotAvailable) : readInput(m, InputRegister::Angle, 2);
    case Command::ReadAddress:
        return aa ? aaRead(in.address, AaRegister::Status)
                  : readHolding(m, HoldingRegister::Address);
    case Command::LaserOn:
        return laser(in, mode, true);
    case Command::LaserOff:
        return laser(in, mode, false);
    case Command::SetOffset:
        return aa ? aaWrite(in.address, AaRegister::Offset, in.offset & 0xFFFF)
                  : writeHolding(m, HoldingRegister::Offset, in.offset & 0xFFFF);
    case Command::SetAddress:
        if (!usable(in.newAddress, mode))
            return refuse(Warning::AddressOutOfRange);
        // The frame goes to the old address typed, not to the address field's.
        return aa ? aaWrite(in.oldAddress, AaRegister::Address, in.newAddress)
                  : writeHolding(in.oldAddress, HoldingRegister::Address, in.newAddress);
    case Command::SetBaudRate:
        if (aa)
            return aaWrite(in.address, AaRegister::BaudRate, in.baudCode);
        if (!usable(m, mode))
            return refuse(Warning::AddressOutOfRange);
        return send(modbusBaudRateText(m, in.baudCode));
    case Command::MeasureOnce:
        return aa ? aaWrite(in.address, AaRegister::Measure, in.measureMode)
                  : readInput(m, InputRegister::Measurement, 3);
    case Command::ContinuousStart:
        return aa ? aaWrite(in.address, AaRegister::Measure, in.measureMode + 4)
                  : refuse(Warning::ContinuousNotAvailable);
    case Command::ContinuousStop:
        return aa ? send(stopByte()) : refuse(Warning::ContinuousNotAvailable);
    case Command::MeasureMode:
        // With 0xAA frames the speed travels inside every measurement frame instead.
        if (aa)
            return {};
        if (!usable(m, mode))
            return refuse(Warning::AddressOutOfRange);
        return send(measureModeFrame(m, in.measureMode));
    }
    return {};
}

int fieldNumber(const QString &text)
{
    return text.toInt(nullptr, 10);
}

namespace {
bool isAsciiBlank(QChar c)
{
    return c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'));
}

// A decimal integer as typed: optional sign, ASCII digits only, ASCII blanks around it ignored
// (as fieldNumber() ignores them: other blanks would pass here and be read as 0 there).
std::optional<int> decimalField(const QString &text, int lowest, int highest)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && isAsciiBlank(text.at(from)))
        ++from;
    while (to > from && isAsciiBlank(text.at(to - 1)))
        --to;
    const QString t = text.mid(from, to - from);
    qsizetype i = t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (i == t.size())
        return std::nullopt;
    for (; i < t.size(); ++i) {
        if (t.at(i) < QLatin1Char('0') || t.at(i) > QLatin1Char('9'))
            return std::nullopt;
    }
    bool ok = false;
    const int value = t.toInt(&ok, 10);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}
} // namespace

std::optional<int> offsetField(const QString &text)
{
    return decimalField(text, kOffsetMin, kOffsetMax);
}

std::optional<int> addressField(const QString &text)
{
    return decimalField(text, 0, 255);
}

Warning fieldWarning(Command command, CheckMode checkMode, const FieldTexts &fields)
{
    switch (command) {
    case Command::SetOffset:
        if (!offsetField(fields.offset))
            return Warning::OffsetInvalid;
        break;
    case Command::SetAddress:
        return addressField(fields.oldAddress) && addressField(fields.newAddress)
            ? Warning::None
            : Warning::AddressInvalid;
    case Command::ContinuousStop:
        return Warning::None;
    case Command::MeasureMode:
        if (checkMode == CheckMode::Sum8)
            return Warning::None; // nothing is sent
        break;
    default:
        break;
    }
    return addressField(fields.address) ? Warning::None : Warning::AddressInvalid;
}

QString hexByte(int value)
{
    return QStringLiteral("%1").arg(value & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
}

int aaChecksum(const QString &frameText)
{
    const QByteArray bytes = frames::fromHexText(frameText);
    return bytes.isEmpty() ? 0 : sum8(bytes.constData() + 1, bytes.size() - 1);
}

QString offsetText(int offset)
{
    return word(offset & 0xFFFF);
}

QString addressProbe(int address)
{
    return withChecksum(aaHead(address + kAaReadFlag, AaRegister::Status));
}

QString stopByte()
{
    return hexByte(kAaStopByte);
}

QString measureModeFrame(int modbusAddress, int mode)
{
    // Not a coil read although it carries function 0x01: six bytes, the mode last.
    return hexByte(modbusAddress) + QLatin1Char(' ') + hexByte(int(Function::ReadCoils))
        + QStringLiteral(" 06 00 02 ") + hexByte(mode);
}

QString modbusBaudRateText(int modbusAddress, int code)
{
    return hexByte(modbusAddress) + QLatin1Char(' ') + hexByte(int(Function::WriteSingleRegister))
        + QLatin1Char(' ') + word(int(HoldingRegister::BaudRate)) + QStringLiteral(" 00")
        + QString::number(code);
}

} // namespace core::commands
