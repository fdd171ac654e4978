// Fuzz target: the command builders fed arbitrary field texts, as read by the window with and
// without the field checks.
#include "core/commands.h"
#include "core/frames.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

using core::commands::Command;

namespace {

constexpr Command kAll[] = { Command::ReadVoltage, Command::ReadStatus,
    Command::ReadHardwareVersion, Command::ReadSoftwareVersion, Command::ReadSerialNumber,
    Command::ReadTemperature, Command::ReadOffset, Command::ReadAngle, Command::ReadAddress,
    Command::LaserOn, Command::LaserOff, Command::SetOffset, Command::SetAddress,
    Command::SetBaudRate, Command::MeasureOnce, Command::ContinuousStart, Command::ContinuousStop,
    Command::MeasureMode };

bool isRead(Command c)
{
    switch (c) {
    case Command::ReadVoltage:
    case Command::ReadStatus:
    case Command::ReadHardwareVersion:
    case Command::ReadSoftwareVersion:
    case Command::ReadSerialNumber:
    case Command::ReadTemperature:
    case Command::ReadOffset:
    case Command::ReadAngle:
    case Command::ReadAddress:
        return true;
    default:
        return false;
    }
}

QString fieldText(FuzzedDataProvider &in)
{
    const std::string bytes = in.ConsumeRandomLengthString(24);
    if (in.ConsumeBool())
        return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
    return QString(reinterpret_cast<const QChar *>(bytes.data()), qsizetype(bytes.size() / 2));
}

// Whatever a field holds, a built frame is well-formed: hex text, and in check mode 0 a 0xAA
// frame with its sum (or the stop byte).
QByteArray checkWellFormed(Command c, int checkMode, const core::commands::Built &built)
{
    FUZZ_CHECK(!(built.text && built.warning != core::commands::Warning::None));
    if (!built.text)
        return {};
    const QString &text = *built.text;
    // The Modbus baud-rate text ends in "00" and one digit with no blank, by design.
    if (!(checkMode == 1 && c == Command::SetBaudRate))
        FUZZ_CHECK(core::frames::isStrictHexText(text));
    const QByteArray bytes = core::frames::fromHexText(text);
    if (checkMode == 0) {
        if (c == Command::ContinuousStop) {
            FUZZ_CHECK(bytes == QByteArray(1, char(0x58)));
        } else {
            FUZZ_CHECK(core::protocol::checkSum8Frame(bytes) && quint8(bytes.at(0)) == 0xAA);
            FUZZ_CHECK(bytes.size() == (isRead(c) ? 5 : 9));
            FUZZ_CHECK(bool(quint8(bytes.at(1)) & 0x80) == isRead(c));
        }
    } else {
        FUZZ_CHECK(bytes.size() == 6);
    }
    return bytes;
}

quint16 word(const QByteArray &bytes, int at)
{
    return quint16((quint8(bytes.at(at)) << 8) | quint8(bytes.at(at + 1)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const QString addressText = fieldText(in);
    const QString offsetText = fieldText(in);
    const QString oldText = fieldText(in);
    const QString newText = fieldText(in);
    // Combo boxes and radio buttons only offer their own entries.
    const int checkMode = in.ConsumeIntegralInRange(0, 1);
    const int baudCode = in.ConsumeIntegralInRange(0, 7);
    const int measureMode = in.ConsumeIntegralInRange(0, 2);

    // As the fields are read without checks: any text, any int.
    core::commands::Inputs raw;
    raw.address = core::commands::fieldNumber(addressText);
    raw.modbusAddress = raw.address;
    raw.offset = core::commands::fieldNumber(offsetText);
    raw.oldAddress = core::commands::fieldNumber(oldText);
    raw.newAddress = core::commands::fieldNumber(newText);
    raw.baudCode = baudCode;
    raw.measureMode = measureMode;
    for (const Command c : kAll)
        checkWellFormed(c, checkMode, core::commands::build(c, core::CheckMode(checkMode), raw));
    core::commands::aaChecksum(addressText);

    // As the window sends them: a frame goes out only when the fields it reads pass their check,
    // and then it carries exactly what the fields say.
    const core::commands::FieldTexts texts { addressText, offsetText, oldText, newText };
    const std::optional<int> offset = core::commands::offsetField(offsetText);
    if (offset) {
        FUZZ_CHECK(*offset >= core::commands::kOffsetMin && *offset <= core::commands::kOffsetMax);
        FUZZ_CHECK(*offset == raw.offset);
    }
    for (const Command c : kAll) {
        const core::commands::Built built
            = core::commands::build(c, core::CheckMode(checkMode), raw);
        if (!built.text
            || core::commands::fieldWarning(c, core::CheckMode(checkMode), texts)
                != core::commands::Warning::None)
            continue;
        const QByteArray f = checkWellFormed(c, checkMode, built);
        if (checkMode == 0 && c == Command::ContinuousStop)
            continue;
        const bool setAddress = c == Command::SetAddress;
        const std::optional<int> target
            = core::commands::addressField(setAddress ? oldText : addressText);
        FUZZ_CHECK(target.has_value());
        FUZZ_CHECK(*target == (setAddress ? raw.oldAddress : raw.address));
        if (checkMode == 0)
            FUZZ_CHECK((quint8(f.at(1)) & 0x7F) == *target);
        else
            FUZZ_CHECK(quint8(f.at(0)) == *target && *target >= 1 && *target <= 247);
        if (c == Command::SetOffset)
            FUZZ_CHECK(offset && word(f, checkMode == 0 ? 6 : 4) == quint16(*offset & 0xFFFF));
        if (setAddress) {
            const std::optional<int> newAddress = core::commands::addressField(newText);
            FUZZ_CHECK(newAddress && word(f, checkMode == 0 ? 6 : 4) == *newAddress);
        }
    }
    return 0;
}
