// Command frames of both check modes written out from the protocol, the warnings instead of a
// frame, and the readers of the window's number fields.
#include "core/commands.h"

#include "core/frames.h"
#include "testsupport.h"

#include <QTest>

#include <limits>

using core::commands::Inputs;
using C = core::commands::Command;
using W = core::commands::Warning;

Q_DECLARE_METATYPE(core::commands::Command)
Q_DECLARE_METATYPE(core::commands::Inputs)
Q_DECLARE_METATYPE(core::commands::Warning)

namespace {
constexpr int kNone = std::numeric_limits<int>::min();
// {address, modbusAddress, measureMode, offset, oldAddress, newAddress, baudCode}: every field
// differs, so a frame that takes the wrong one shows it.
const Inputs kIn { 5, 0x11, 2, -5, 3, 9, 6 };

void row(
    const char *name, C command, int mode, const Inputs &in, const char *text, W warning = W::None)
{
    QTest::newRow(name) << command << mode << in << QString::fromLatin1(text) << warning;
}

void fieldRow(const char *name, const QString &text, int offset, const char *offsetHex, int address)
{
    QTest::newRow(name) << text << offset << QString::fromLatin1(offsetHex) << address;
}

void warnRow(const char *name, C command, int mode, const QStringList &fields, W w)
{
    QTest::newRow(name) << command << mode << fields << w;
}
} // namespace

class TestCommands : public QObject
{
    Q_OBJECT
private slots:
    void build_data()
    {
        QTest::addColumn<C>("command");
        QTest::addColumn<int>("mode");
        QTest::addColumn<Inputs>("inputs");
        QTest::addColumn<QString>("text"); // empty: nothing is sent
        QTest::addColumn<W>("warning");
        const W out = W::AddressOutOfRange;
        row("aa-read-voltage", C::ReadVoltage, 0, kIn, "AA 85 00 06 8B");
        row("rtu-read-voltage", C::ReadVoltage, 1, kIn, "11 04 00 01 00 01");
        row("aa-read-status", C::ReadStatus, 0, kIn, "AA 85 00 00 85");
        row("rtu-read-status-lacking", C::ReadStatus, 1, kIn, "", W::StatusNotAvailable);
        row("aa-read-hardware-version", C::ReadHardwareVersion, 0, kIn, "AA 85 00 0A 8F");
        row("rtu-read-hardware-version", C::ReadHardwareVersion, 1, kIn, "11 04 00 03 00 01");
        row("aa-read-software-version", C::ReadSoftwareVersion, 0, kIn, "AA 85 00 0C 91");
        row("rtu-read-software-version", C::ReadSoftwareVersion, 1, kIn, "11 04 00 02 00 01");
        row("aa-read-serial-number", C::ReadSerialNumber, 0, kIn, "AA 85 00 0E 93");
        row("rtu-read-serial-number", C::ReadSerialNumber, 1, kIn, "11 04 00 07 00 02");
        row("aa-read-temperature", C::ReadTemperature, 0, kIn, "AA 85 00 08 8D");
        row("rtu-read-temperature", C::ReadTemperature, 1, kIn, "11 04 00 06 00 01");
        row("aa-read-offset", C::ReadOffset, 0, kIn, "AA 85 00 12 97");
        row("rtu-read-offset", C::ReadOffset, 1, kIn, "11 03 00 01 00 01");
        row("aa-read-angle-lacking", C::ReadAngle, 0, kIn, "", W::AngleNotAvailable);
        row("rtu-read-angle", C::ReadAngle, 1, kIn, "11 04 00 05 00 02");
        row("aa-read-address-is-a-probe", C::ReadAddress, 0, kIn, "AA 85 00 00 85");
        row("rtu-read-address", C::ReadAddress, 1, kIn, "11 03 00 00 00 01");
        row("aa-laser-on", C::LaserOn, 0, kIn, "AA 05 01 BE 00 01 00 01 C6");
        row("rtu-laser-on", C::LaserOn, 1, kIn, "11 05 00 00 FF 00");
        row("aa-laser-off", C::LaserOff, 0, kIn, "AA 05 01 BE 00 01 00 00 C5");
        row("rtu-laser-off", C::LaserOff, 1, kIn, "11 05 00 00 00 00");
        row("aa-set-offset-minus-5", C::SetOffset, 0, kIn, "AA 05 00 12 00 01 FF FB 12");
        row("rtu-set-offset-to-the-addressed-module", C::SetOffset, 1, kIn, "11 06 00 01 FF FB");
        row("aa-set-address-old-3-new-9", C::SetAddress, 0, kIn, "AA 03 00 10 00 01 00 09 1D");
        row("rtu-set-address-old-3-new-9", C::SetAddress, 1, kIn, "03 06 00 00 00 09");
        row("aa-set-baud-rate-code-6", C::SetBaudRate, 0, kIn, "AA 05 00 14 00 01 00 06 20");
        row("rtu-set-baud-rate-code-glued", C::SetBaudRate, 1, kIn, "11 06 00 03 006");
        row("aa-measure-once-fast", C::MeasureOnce, 0, kIn, "AA 05 00 20 00 01 00 02 28");
        row("rtu-measure-once", C::MeasureOnce, 1, kIn, "11 04 00 04 00 03");
        row("aa-continuous-fast-plus-4", C::ContinuousStart, 0, kIn, "AA 05 00 20 00 01 00 06 2C");
        row("rtu-continuous-lacking", C::ContinuousStart, 1, kIn, "", W::ContinuousNotAvailable);
        row("aa-continuous-stop-one-byte", C::ContinuousStop, 0, kIn, "58");
        row("rtu-stop-lacking", C::ContinuousStop, 1, kIn, "", W::ContinuousNotAvailable);
        row("aa-measure-mode-sends-nothing", C::MeasureMode, 0, kIn, "");
        row("rtu-measure-mode-fast", C::MeasureMode, 1, kIn, "11 01 06 00 02 02");
        // Worked examples and the edges of the values a frame carries.
        row("aa-measure-once-address-0", C::MeasureOnce, 0, {}, "AA 00 00 20 00 01 00 00 21");
        row("rtu-set-offset-65536-wraps", C::SetOffset, 1, { 0, 1, 0, 65536 }, "01 06 00 01 00 00");
        row("aa-set-address-127", C::SetAddress, 0, { 0, 1, 0, 0, 127, 127 },
            "AA 7F 00 10 00 01 00 7F 0F");
        row("aa-read-address-128", C::ReadVoltage, 0, { 128 }, "", out);
        row("aa-write-address-128", C::LaserOn, 0, { 128 }, "", out);
        row("aa-write-address-minus-1", C::SetBaudRate, 0, { -1 }, "", out);
        // Modbus address 0 is a broadcast no module answers; 248-255 are reserved.
        row("rtu-read-broadcast-address-0", C::ReadVoltage, 1, { 0, 0 }, "", out);
        row("rtu-read-address-248", C::MeasureOnce, 1, { 0, 248 }, "", out);
        row("rtu-set-address-to-248", C::SetAddress, 1, { 0, 1, 0, 0, 1, 248 }, "", out);
        row("rtu-speed-to-address-0", C::MeasureMode, 1, { 0, 0 }, "", out);
        row("aa-set-address-from-128", C::SetAddress, 0, { 0, 1, 0, 0, 128, 2 }, "", out);
        row("aa-set-address-to-128", C::SetAddress, 0, { 0, 1, 0, 0, 1, 128 }, "", out);
    }
    void build()
    {
        QFETCH(C, command);
        QFETCH(int, mode);
        QFETCH(Inputs, inputs);
        QFETCH(QString, text);
        QFETCH(W, warning);
        const core::commands::Built built
            = core::commands::build(command, core::CheckMode(mode), inputs);
        QCOMPARE(built.text.value_or(QString()), text);
        QCOMPARE(built.text.has_value(), !text.isEmpty());
        QCOMPARE(built.warning, warning);
        // The expected 0xAA frame itself must carry the sum of the bytes after its header.
        const QByteArray bytes = testsupport::hex(text.toLatin1().constData());
        if (mode == 0 && bytes.size() > 1)
            QCOMPARE(quint8(bytes.back()), testsupport::sum8(bytes.mid(1, bytes.size() - 2)));
        if (command == C::ReadAddress && mode == 0 && !text.isEmpty()) // the search's own probe
            QCOMPARE(core::commands::addressProbe(inputs.address), text);
    }

    void numberFields_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("offset"); // kNone: refused
        QTest::addColumn<QString>("offsetHex"); // its low 16 bits as a frame carries them
        QTest::addColumn<int>("address");
        fieldRow("zero", "0", 0, "00 00", 0);
        fieldRow("255-highest-address", "255", 255, "00 FF", 255);
        fieldRow("256", "256", 256, "01 00", kNone);
        fieldRow("minus-1", "-1", -1, "FF FF", kNone);
        fieldRow("minus-32768-lowest-offset", "-32768", -32768, "80 00", kNone);
        fieldRow("minus-32769", "-32769", kNone, "", kNone);
        fieldRow("65535-highest-offset", "65535", 65535, "FF FF", kNone);
        fieldRow("65536", "65536", kNone, "", kNone);
        fieldRow("plus-sign-and-blanks", " +12 ", 12, "00 0C", 12);
        fieldRow("ascii-control-blanks", "\t7\r\n", 7, "00 07", 7);
        fieldRow("empty", "", kNone, "", kNone);
        fieldRow("trailing-letter", "12a", kNone, "", kNone);
        fieldRow("beyond-int", "99999999999", kNone, "", kNone);
        fieldRow("full-width-digits", QString::fromUtf8("１２"), kNone, "", kNone);
        fieldRow("ideographic-space", QString::fromUtf8("\u30007"), kNone, "", kNone);
    }
    void numberFields()
    {
        QFETCH(QString, text);
        QFETCH(int, offset);
        QFETCH(QString, offsetHex);
        QFETCH(int, address);
        QCOMPARE(core::commands::offsetField(text).value_or(kNone), offset);
        QCOMPARE(core::commands::addressField(text).value_or(kNone), address);
        if (offset == kNone)
            return;
        QCOMPARE(core::commands::offsetText(offset), offsetHex);
        // What the check lets through, the window's field reader reads as the same number.
        QCOMPARE(core::commands::fieldNumber(text), offset);
    }

    void fieldWarning_data()
    {
        QTest::addColumn<C>("command");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("fields"); // address, offset, old address, new address
        QTest::addColumn<W>("warning");
        const W none = W::None, bad = W::AddressInvalid;
        warnRow("aa-offset-highest", C::SetOffset, 0, { "5", "65535", "", "" }, none);
        warnRow("aa-offset-reads-address", C::SetOffset, 0, { "", "1", "", "" }, bad);
        warnRow("offset-checked-first", C::SetOffset, 0, { "", "x", "", "" }, W::OffsetInvalid);
        warnRow("rtu-offset-reads-the-address", C::SetOffset, 1, { "", "-5", "", "" },
            W::AddressInvalid);
        warnRow("set-address-ignores-address", C::SetAddress, 0, { "", "", "0", "255" }, none);
        warnRow("set-address-new-256", C::SetAddress, 1, { "1", "", "1", "256" }, bad);
        warnRow("set-address-old-empty", C::SetAddress, 0, { "1", "", "", "2" }, bad);
        warnRow("read-reads-address", C::ReadVoltage, 1, { "256", "", "", "" }, bad);
        warnRow("stop-reads-no-field", C::ContinuousStop, 0, { "", "", "", "" }, none);
        warnRow("aa-speed-sends-nothing", C::MeasureMode, 0, { "", "", "", "" }, none);
        warnRow("rtu-speed-reads-address", C::MeasureMode, 1, { "", "", "", "" }, bad);
    }
    void fieldWarning()
    {
        QFETCH(C, command);
        QFETCH(int, mode);
        QFETCH(QStringList, fields);
        QFETCH(W, warning);
        const core::commands::FieldTexts texts { fields.at(0), fields.at(1), fields.at(2),
            fields.at(3) };
        QCOMPARE(core::commands::fieldWarning(command, core::CheckMode(mode), texts), warning);
    }

    // The index of every line speed is the code a set-baud-rate frame carries (Modbus: one digit
    // after "00", which the converter pairs with it).
    void baudRates()
    {
        const int rates[] = { 0, 2400, 4800, 9600, 19200, 38400, 57600, 115200 };
        QCOMPARE(int(core::protocol::kBaudRates.size()), 8);
        for (int code = 0; code < 8; ++code) {
            QCOMPARE(core::protocol::kBaudRates[code], rates[code]);
            const QString text = core::commands::modbusBaudRateText(0x2A, code);
            QCOMPARE(core::frames::fromHexText(text), testsupport::hex("2A06000300") + char(code));
        }
    }
};

QTEST_APPLESS_MAIN(TestCommands)
#include "tst_commands.moc"
