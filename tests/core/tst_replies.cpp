// Both reply decoders, register by register, with the words describe() gives them, and the route
// a reply takes.
#include "core/replies.h"
#include "core/replytext.h"

#include "testsupport.h"

#include <QTest>

#include <limits>

using K = core::replies::Kind;
using testsupport::aa;
using testsupport::hex;
using testsupport::rtu;

Q_DECLARE_METATYPE(core::replies::Kind)
Q_DECLARE_METATYPE(core::replies::Route)

namespace {
const QString kBaud = QStringLiteral("57600"); // the window's choice, which a reply confirms
const QString kSignal = QString::fromUtf8("Signal result：");

// A 0xAA reply; probe >= 0: an address search runs and probed that address last. Chinese words
// are given where they differ from the English ones in more than the words.
void aaRow(const char *name, const QByteArray &reply, K kind, const QString &words,
    int newAddress = -1, int probe = -1, const QString &chinese = {})
{
    QTest::newRow(name) << false << QByteArray() << reply << probe << kind << words << newAddress
                        << chinese;
}

// A Modbus reply to @p sent; no reply given: the module echoes the frame.
void mbRow(const char *name, const QByteArray &sent, const QByteArray &reply, K kind,
    const QString &words, int newAddress = -1)
{
    QTest::newRow(name) << true << sent << (reply.isEmpty() ? sent : reply) << -1 << kind << words
                        << newAddress << QString();
}

} // namespace

class TestReplies : public QObject
{
    Q_OBJECT
private slots:
    void decode_data()
    {
        QTest::addColumn<bool>("modbus");
        QTest::addColumn<QByteArray>("sent"); // the frame written last
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("probe");
        QTest::addColumn<K>("kind");
        QTest::addColumn<QString>("words"); // in English
        QTest::addColumn<int>("newAddress"); // -1: none
        QTest::addColumn<QString>("chinese"); // empty: only checked to differ from English
        const auto measurement = testsupport::aaMeasurement;
        const qint32 intMax = std::numeric_limits<qint32>::max();
        aaRow("aa-measurement-22", measurement(1234, 110), K::Measurement,
            "Measuring distance:1234mm" + kSignal + "110", -1, -1, "测量距离:1234mm信号结果：110");
        aaRow("aa-measurement-20-negative", aa("00 00 20 00 03 FF FF FF FB FF FF"), K::Measurement,
            "Measuring distance:-5mm" + kSignal + "-1");
        aaRow("aa-measurement-largest", measurement(intMax, 32767), K::Measurement,
            "Measuring distance:2147483647mm" + kSignal + "32767");
        aaRow("ee-error-code-bytes-6-7", aa("80 00 20 00 01 00 05", 0xEE), K::ModuleError,
            "error:0005");
        aaRow("aa-laser-off", aa("00 01 BE 00 01 00 00"), K::LaserOff,
            "Turn off the light successfully");
        aaRow("aa-laser-on", aa("00 01 BE 00 01 00 01"), K::LaserOn,
            "Turn on the light successfully");
        aaRow("aa-laser-unexpected-02", aa("00 01 BE 00 01 00 02"), K::Nothing, "");
        aaRow("aa-temperature-tenths", aa("80 00 08 00 01 01 0B"), K::Temperature,
            QString::fromUtf8("Module temperature:26.7°C"));
        aaRow("aa-temperature-negative", aa("80 00 08 00 01 FF 9C"), K::Temperature,
            QString::fromUtf8("Module temperature:-10°C"));
        aaRow("aa-hardware-version", aa("80 00 0A 00 01 12 34"), K::HardwareVersion,
            "Module hardware version number:1234");
        aaRow("aa-software-version", aa("80 00 0C 00 01 01 02"), K::SoftwareVersion,
            "Module software version number:0102");
        aaRow("aa-serial-number", aa("80 00 0E 00 01 AB CD"), K::SerialNumber, "Module SN:ABCD");
        aaRow("aa-voltage", aa("FF 00 06 00 01 0C E4"), K::Voltage, "Module input voltage:0CE4mV");
        aaRow("aa-status-no-search", aa("85 00 00 00 01 00 0F"), K::Status, "Module state:000F");
        aaRow("aa-search-address-byte-80-is-0", aa("80 00 00 00 01 00 00"), K::AddressFound,
            "Module address:0", -1, 7);
        aaRow("aa-search-address-byte-ff-is-127", aa("FF 00 00 00 01 00 00"), K::AddressFound,
            "Module address:127", -1, 7);
        aaRow("aa-search-no-read-flag-last-probe", aa("7F 00 00 00 01 00 00"), K::AddressFound,
            "Module address:7", -1, 7);
        aaRow("aa-set-address-byte-unsigned", aa("01 00 10 00 01 00 FF"), K::AddressSet,
            "Set module address:255", 255);
        aaRow("aa-offset-read-flag", aa("80 00 12 00 01 FF FB"), K::OffsetRead,
            "The reading module measures the offset:-5mm", -1, -1, "读取模块偏移量:-5mm");
        aaRow("aa-offset-write-address-79", aa("4F 00 12 00 01 00 0A"), K::OffsetSet,
            "Set the module measurement offset:10mm", -1, -1, "设置模块偏移量:10mm            ");
        aaRow("aa-offset-write-address-127-no-read-flag", aa("7F 00 12 00 01 00 0A"), K::OffsetSet,
            "Set the module measurement offset:10mm");
        aaRow("aa-baud-rate-chosen-text", aa("00 00 14 00 01 00 06"), K::BaudRateSet,
            "Reset the module baud rate:" + kBaud);
        aaRow("aa-unknown-register-30", aa("80 00 30 00 01 00 01"), K::Nothing, "");
        // The splitter hands up a lone AA 00 00; it has no register byte, so it is no status.
        aaRow("aa0000-alone-has-no-register", hex("AA0000"), K::Nothing, "");
        aaRow("other-header-not-a-frame", aa("80 00 06 00 01 0C E4", 0xAB), K::NotAFrame, "");

        // The register a Modbus reply answers is in the frame sent last.
        const QByteArray two = rtu("01 04 02 00 FA"), measure = rtu("01 04 00 04 00 03");
        const QByteArray on = rtu("01 05 00 00 FF 00"), off = rtu("01 05 00 00 00 00");
        mbRow("rtu-temperature", rtu("01 04 00 06 00 01"), two, K::Temperature,
            QString::fromUtf8("Module temperature:25°C"));
        mbRow("rtu-same-reply-voltage", rtu("01 04 00 01 00 01"), two, K::Voltage,
            "Module voltage:00FAmV");
        mbRow("rtu-same-reply-software", rtu("01 04 00 02 00 01"), two, K::SoftwareVersion,
            "Module software version number:00FA");
        mbRow("rtu-same-reply-hardware", rtu("01 04 00 03 00 01"), two, K::HardwareVersion,
            "Module hardware version number:00FA");
        mbRow("rtu-same-reply-register-08", rtu("01 04 00 08 00 01"), two, K::Nothing, "");
        mbRow("rtu-serial-first-register", rtu("01 04 00 07 00 02"), rtu("01 04 04 12 34 56 78"),
            K::SerialNumber, "Module SN:1234");
        mbRow("rtu-measurement", measure, rtu("01 04 06 FF FF FF FB 80 00"), K::Measurement,
            "Module measuring distance:-5mm" + kSignal + "-32768");
        mbRow("rtu-angle-tenths-32-bit", rtu("01 04 00 05 00 02"), rtu("01 04 04 FF FE 79 5F"),
            K::Angle, QString::fromUtf8("Module angle:-10000.1°"));
        mbRow("rtu-read-address", rtu("01 03 00 00 00 01"), rtu("01 03 02 00 0A"), K::Address,
            "Module address:0A");
        mbRow("rtu-read-offset", rtu("01 03 00 01 00 01"), rtu("01 03 02 FF FB"), K::OffsetRead,
            "The module measures the offset:-5mm");
        mbRow("rtu-holding-register-02", rtu("01 03 00 02 00 01"), rtu("01 03 02 00 01"),
            K::Nothing, "");
        mbRow("rtu-laser-on", on, {}, K::LaserOn, "Turn on the light successfully");
        mbRow("rtu-laser-off", off, {}, K::LaserOff, "Turn off the light successfully");
        mbRow("rtu-ff-reply-after-off", off, on, K::LaserOn, "Turn on the light successfully");
        mbRow("rtu-00-reply-after-on", on, off, K::Nothing, "");
        mbRow("rtu-mode-auto", rtu("01 01 06 00 02 00"), {}, K::MeasureModeSet,
            "Setting the automatic measurement mode succeeded. Procedure");
        mbRow("rtu-mode-fast", rtu("01 01 06 00 02 02"), {}, K::MeasureModeSet,
            "Succeeded in setting the quick measurement mode");
        mbRow("rtu-mode-3", rtu("01 01 06 00 02 03"), {}, K::Nothing, "");
        mbRow("rtu-set-address", rtu("01 06 00 00 00 0A"), {}, K::AddressSet,
            "Setting the module address succeeded. Procedure:0A", 10);
        mbRow("rtu-set-offset", rtu("01 06 00 01 FF FB"), {}, K::OffsetSet,
            "Description Setting the module offset succeeded:-5mm");
        mbRow("rtu-set-baud-rate", rtu("01 06 00 03 00 06"), {}, K::BaudRateSet,
            "Example Set the module baud rate:" + kBaud);
        mbRow("rtu-write-register-02", rtu("01 06 00 02 00 01"), {}, K::Nothing, "");
        mbRow("rtu-function-10", rtu("01 10 00 00 00 01"), {}, K::Nothing, "");
        mbRow("rtu-exception-to-read", measure, rtu("01 84 02"), K::ModbusException,
            "Modbus exception 02");
        mbRow("rtu-exception-nothing-sent", QByteArray(), rtu("01 83 01"), K::ModbusException,
            "Modbus exception 01");
    }
    void decode()
    {
        QFETCH(bool, modbus);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        QFETCH(int, probe);
        QFETCH(K, kind);
        QFETCH(QString, words);
        QFETCH(int, newAddress);
        QFETCH(QString, chinese);
        const core::replies::Reply r = modbus
            ? core::replies::decodeModbus(reply, sent)
            : core::replies::decodeAa(reply, { probe >= 0, probe });
        QCOMPARE(r.kind, kind);
        if (kind != K::Nothing) // nothing to show carries no protocol
            QCOMPARE(r.protocol, modbus ? core::CheckMode::Crc : core::CheckMode::Sum8);
        QCOMPARE(core::replies::describe(r, core::Language::English, kBaud), words);
        QCOMPARE(r.newAddress.value_or(-1), newAddress);
        if (kind == K::ModuleError) // the record keeps the code: bytes 6 and 7, high byte first
            QCOMPARE(r.number, qint64(quint8(reply.at(6)) << 8 | quint8(reply.at(7))));
        QCOMPARE(r.endsAddressSearch, kind == K::AddressFound);
        QCOMPARE(r.chartPoint, !modbus && kind == K::Measurement); // the chart follows 0xAA
        // The Chinese words say the same in other words.
        const QString zh = core::replies::describe(r, core::Language::Chinese, kBaud);
        QCOMPARE(zh.isEmpty(), words.isEmpty());
        QVERIFY2(words.isEmpty() || zh != words, qPrintable(zh));
        if (!chinese.isEmpty())
            QCOMPARE(zh, chinese);
    }

    void route_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("checkMode");
        QTest::addColumn<core::replies::Route>("route");
        using R = core::replies::Route;
        QTest::newRow("empty-any-mode") << QByteArray() << 7 << R::Empty;
        QTest::newRow("one-byte-too-short-any-mode") << hex("58") << -1 << R::TooShort;
        QTest::newRow("two-bytes-mode-0-aa") << hex("EE00") << 0 << R::Aa;
        QTest::newRow("two-bytes-mode-1-modbus") << hex("EE00") << 1 << R::Modbus;
        QTest::newRow("mode-2-unparsed") << hex("AA00") << 2 << R::Unparsed;
        QTest::newRow("mode-minus-1-unparsed") << hex("AA00") << -1 << R::Unparsed;
    }
    void route()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, checkMode);
        QFETCH(core::replies::Route, route);
        QCOMPARE(core::replies::routeReply(reply, core::checkModeAt(checkMode)), route);
    }
};

QTEST_APPLESS_MAIN(TestReplies)
#include "tst_replies.moc"
