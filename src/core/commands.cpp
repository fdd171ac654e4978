// Command frames the window sends to a module, built as hex text for both check modes.
#include "core/commands.h"

#include "core/frames.h"

namespace commands {

namespace {
Built send(const QString &text)
{
    return Built { text, Warning::None };
}

Built refuse(Warning warning)
{
    return Built { std::nullopt, warning };
}

// The checksum covers everything after the header, so it is taken from the
// finished text rather than tracked field by field.
QString withChecksum(const QString &text)
{
    return text + QLatin1Char(' ') + hexByte(aaChecksum(text));
}

// An address above 127 would spill into the read flag and reach another
// module, so such a frame is refused rather than sent.
Built aaRead(int address, const char *reg)
{
    if (!aaAddressUsable(address))
        return refuse(Warning::AddressOutOfRange);
    return send(withChecksum(
        QStringLiteral("AA ") + hexByte(address + 0x80) + QLatin1Char(' ') + QLatin1String(reg)));
}

// Writes and actions always carry one 16-bit word.
Built aaWrite(int address, const char *reg, const QString &value)
{
    if (!aaAddressUsable(address))
        return refuse(Warning::AddressOutOfRange);
    return send(withChecksum(QStringLiteral("AA ") + hexByte(address) + QLatin1Char(' ')
        + QLatin1String(reg) + QStringLiteral(" 00 01 ") + value));
}

Built modbus(int address, const char *tail)
{
    return send(hexByte(address) + QLatin1Char(' ') + QLatin1String(tail));
}

QString word(int value)
{
    return hexByte(value >> 8) + QLatin1Char(' ') + hexByte(value);
}
} // namespace

Built build(Command command, int checkMode, const Inputs &in)
{
    // Any other index of the check-mode box matches neither branch: nothing goes out.
    if (checkMode != 0 && checkMode != 1)
        return {};
    const bool aa = checkMode == 0;
    switch (command) {
    case Command::ReadVoltage:
        return aa ? aaRead(in.address, "00 06") : modbus(in.modbusAddress, "04 00 01 00 01");
    case Command::ReadStatus:
        return aa ? aaRead(in.address, "00 00") : refuse(Warning::StatusNotAvailable);
    case Command::ReadHardwareVersion:
        return aa ? aaRead(in.address, "00 0A") : modbus(in.modbusAddress, "04 00 03 00 01");
    case Command::ReadSoftwareVersion:
        return aa ? aaRead(in.address, "00 0C") : modbus(in.modbusAddress, "04 00 02 00 01");
    case Command::ReadSerialNumber:
        return aa ? aaRead(in.address, "00 0E") : modbus(in.modbusAddress, "04 00 07 00 02");
    case Command::ReadTemperature:
        return aa ? aaRead(in.address, "00 08") : modbus(in.modbusAddress, "04 00 06 00 01");
    case Command::ReadOffset:
        return aa ? aaRead(in.address, "00 12") : modbus(in.modbusAddress, "03 00 01 00 01");
    case Command::ReadAngle:
        return aa ? refuse(Warning::AngleNotAvailable) : modbus(in.modbusAddress, "04 00 05 00 02");
    case Command::ReadAddress:
        return aa ? aaRead(in.address, "00 00") : modbus(in.modbusAddress, "03 00 00 00 01");
    case Command::LaserOn:
        return aa ? aaWrite(in.address, "01 BE", word(1))
                  : modbus(in.modbusAddress, "05 00 00 FF 00");
    case Command::LaserOff:
        return aa ? aaWrite(in.address, "01 BE", word(0))
                  : modbus(in.modbusAddress, "05 00 00 00 00");
    case Command::SetOffset:
        // The Modbus offset write always goes to address 1, whatever the address field says.
        return aa ? aaWrite(in.address, "00 12", offsetText(in.offset))
                  : send(QStringLiteral("01 06 00 01 ") + offsetText(in.offset));
    case Command::SetAddress:
        if (aa && !aaAddressUsable(in.newAddress))
            return refuse(Warning::AddressOutOfRange);
        return aa
            ? aaWrite(in.oldAddress, "00 10", word(in.newAddress))
            : send(hexByte(in.oldAddress) + QStringLiteral(" 06 00 00 ") + word(in.newAddress));
    case Command::SetBaudRate:
        return aa ? aaWrite(in.address, "00 14", word(in.baudCode))
                  : send(modbusBaudRateText(in.modbusAddress, in.baudCode));
    case Command::MeasureOnce:
        return aa ? aaWrite(in.address, "00 20", word(in.measureMode))
                  : modbus(in.modbusAddress, "04 00 04 00 03");
    case Command::ContinuousStart:
        return aa ? aaWrite(in.address, "00 20", word(in.measureMode + 4))
                  : refuse(Warning::ContinuousNotAvailable);
    case Command::ContinuousStop:
        return aa ? send(stopByte()) : refuse(Warning::ContinuousNotAvailable);
    case Command::MeasureMode:
        // In check mode 0 the speed travels inside every measurement frame instead.
        return aa ? Built {} : send(measureModeFrame(in.modbusAddress, in.measureMode));
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

Warning fieldWarning(Command command, int checkMode, const FieldTexts &fields)
{
    if (checkMode != 0 && checkMode != 1)
        return Warning::None;
    switch (command) {
    case Command::SetOffset:
        if (!offsetField(fields.offset))
            return Warning::OffsetInvalid;
        // The Modbus offset write always goes to address 1.
        if (checkMode == 1)
            return Warning::None;
        break;
    case Command::SetAddress:
        return addressField(fields.oldAddress) && addressField(fields.newAddress)
            ? Warning::None
            : Warning::AddressInvalid;
    case Command::ContinuousStop:
        return Warning::None;
    case Command::MeasureMode:
        if (checkMode == 0)
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
    return bytes.isEmpty() ? 0 : frames::sum8(bytes.constData() + 1, bytes.size() - 1);
}

QString offsetText(int offset)
{
    return word(offset & 0xFFFF);
}

QString addressProbe(int address)
{
    return withChecksum(QStringLiteral("AA ") + hexByte(address + 0x80) + QStringLiteral(" 00 00"));
}

QString stopByte()
{
    return QStringLiteral("58");
}

QString measureModeFrame(int modbusAddress, int mode)
{
    return hexByte(modbusAddress) + QStringLiteral(" 01 06 00 02 ") + hexByte(mode);
}

QString modbusBaudRateText(int modbusAddress, int code)
{
    return hexByte(modbusAddress) + QStringLiteral(" 06 00 03 00") + QString::number(code);
}

bool aaAddressUsable(int address)
{
    return address >= 0 && address <= 127;
}

} // namespace commands
