// Known answers for both reply decoders in both languages, the log blocks, the echo and the chart
// rule.
#include "frames.h"
#include "replies.h"

#include <QTest>

#include <limits>

using replies::Kind;

namespace {

const QString kClock = QStringLiteral("09:15:02.318");
const QString kDashes(50, QLatin1Char('-'));

// A 0xAA reply as the module sends it: the given bytes and their sum byte.
QString aa(const char *spaced)
{
    QByteArray bytes = frames::fromHexText(QString::fromLatin1(spaced));
    bytes.append(char(frames::sum8(bytes.constData() + 1, bytes.size() - 1)));
    return frames::toPackedHex(bytes);
}

// A Modbus frame (reply or sent) with its CRC, as packed hex text.
QString mb(const char *spaced)
{
    return frames::toPackedHex(frames::appendCrc(frames::fromHexText(QString::fromLatin1(spaced))));
}

replies::AaContext aaContext()
{
    replies::AaContext ctx;
    ctx.clock = kClock;
    ctx.baudRateText = QStringLiteral("115200");
    return ctx;
}

replies::ModbusContext modbusContext()
{
    replies::ModbusContext ctx;
    ctx.clock = kClock;
    ctx.baudRateText = QStringLiteral("115200");
    return ctx;
}

} // namespace

class TestReplies : public QObject
{
    Q_OBJECT
private slots:
    void aaLines_data();
    void aaLines();
    void aaRecordAndState_data();
    void aaRecordAndState();
    void modbusLines_data();
    void modbusLines();
    void modbusRecordAndState_data();
    void modbusRecordAndState();
    void measurementRoundTrip_data();
    void measurementRoundTrip();
    void logBlocks_data();
    void logBlocks();
    void echo_data();
    void echo();
    void route_data();
    void route();
    void chart_data();
    void chart();
};

namespace {
// Every rule holds in both languages; a row names the reply once and both texts.
void addBoth(const char *name, const QString &reply, Kind kind, const char *zh, const char *en,
    bool searching = false, int addressI = -1)
{
    QTest::addRow("%s-zh", name) << 0 << reply << int(kind) << QString::fromUtf8(zh) << searching
                                 << addressI;
    QTest::addRow("%s-en", name) << 1 << reply << int(kind) << QString::fromUtf8(en) << searching
                                 << addressI;
}
} // namespace

void TestReplies::aaLines_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("searching");
    QTest::addColumn<int>("addressI");

    addBoth("aa-measure-22-1234-110", aa("AA 00 00 22 00 03 00 00 04 D2 00 6E"), Kind::Measurement,
        "测量距离:1234mm信号结果：110", "Measuring distance:1234mmSignal result：110");
    addBoth("aa-measure-20-negative-distance-signal-ffff",
        aa("AA 00 00 20 00 03 FF FF FF FB FF FF"), Kind::Measurement, "测量距离:-5mm信号结果：-1",
        "Measuring distance:-5mmSignal result：-1");
    addBoth("aa-laser-off", aa("AA 00 01 BE 00 01 00 00"), Kind::Text, "关闭激光",
        "Turn off the light successfully");
    addBoth("aa-laser-on", aa("AA 00 01 BE 00 01 00 01"), Kind::Text, "开启激光",
        "Turn on the light successfully");
    addBoth("aa-laser-02-nothing", aa("AA 00 01 BE 00 01 00 02"), Kind::Nothing, "", "");
    addBoth("aa-temperature-010b-26.7", aa("AA 80 00 08 00 01 01 0B"), Kind::Text,
        "模块温度:26.7°C", "Module temperature:26.7°C");
    addBoth("aa-temperature-ff9c-minus-10", aa("AA 80 00 08 00 01 FF 9C"), Kind::Text,
        "模块温度:-10°C", "Module temperature:-10°C");
    addBoth("aa-temperature-00fa-25", aa("AA 80 00 08 00 01 00 FA"), Kind::Text, "模块温度:25°C",
        "Module temperature:25°C");
    addBoth("aa-hardware-version", aa("AA 80 00 0A 00 01 12 34"), Kind::Text, "模块硬件版本号:1234",
        "Module hardware version number:1234");
    addBoth("aa-status-no-search", aa("AA 80 00 00 00 01 00 0F"), Kind::Text, "模块状态:000F",
        "Module state:000F");
    addBoth("aa-search-hit-uses-reply-address-byte-85", aa("AA 85 00 00 00 01 00 00"), Kind::Text,
        "模块地址:5", "Module address:5", true, 7);
    addBoth("aa-search-hit-address-byte-ff-is-127", aa("AA FF 00 00 00 01 00 00"), Kind::Text,
        "模块地址:127", "Module address:127", true, 7);
    addBoth("aa-search-hit-no-read-flag-uses-probe", aa("AA 05 00 00 00 01 00 00"), Kind::Text,
        "模块地址:7", "Module address:7", true, 7);
    addBoth("aa-software-version", aa("AA 80 00 0C 00 01 01 02"), Kind::Text, "模块软件版本号:0102",
        "Module software version number:0102");
    addBoth("aa-serial-number", aa("AA 80 00 0E 00 01 AB CD"), Kind::Text, "模块序列号:ABCD",
        "Module SN:ABCD");
    addBoth("aa-read-voltage-address-127", aa("AA FF 00 06 00 01 0C E4"), Kind::Text,
        "模块输入电压:0CE4mV", "Module input voltage:0CE4mV");
    addBoth("aa-set-address-2", aa("AA 01 00 10 00 01 00 02"), Kind::Text, "设置模块地址:2",
        "Set module address:2");
    addBoth("aa-set-address-byte-7-unsigned", aa("AA 01 00 10 00 01 00 FF"), Kind::Text,
        "设置模块地址:255", "Set module address:255");
    addBoth("aa-offset-read-address-byte-80", aa("AA 80 00 12 00 01 FF FB"), Kind::Text,
        "读取模块偏移量:-5mm", "The reading module measures the offset:-5mm");
    addBoth("aa-offset-write-address-byte-01", aa("AA 01 00 12 00 01 FF FB"), Kind::Text,
        "设置模块偏移量:-5mm            ", "Set the module measurement offset:-5mm");
    addBoth("aa-offset-write-address-byte-4f-is-write", aa("AA 4F 00 12 00 01 00 0A"), Kind::Text,
        "设置模块偏移量:10mm            ", "Set the module measurement offset:10mm");
    addBoth("aa-offset-write-address-byte-50-shows-read-label", aa("AA 50 00 12 00 01 00 0A"),
        Kind::Text, "读取模块偏移量:10mm", "The reading module measures the offset:10mm");
    addBoth("aa-baud-rate-shows-combo-text", aa("AA 00 00 14 00 01 00 03"), Kind::Text,
        "重置模块波特率为:115200", "Reset the module baud rate:115200");
    addBoth("aa-module-error-000f", aa("EE 00 00 00 00 01 00 0F"), Kind::ModuleError,
        "模块报错:000F", "error:000F");
    addBoth("aa-module-error-ee00-empty-code", QStringLiteral("EE00"), Kind::ModuleError,
        "模块报错:", "error:");
    addBoth("aa-unknown-register-30-nothing", aa("AA 80 00 30 00 01 00 01"), Kind::Nothing, "", "");
    addBoth("aa-other-header-separator", aa("AB 00 00 22 00 03 00 00 04 D2 00 6E"), Kind::Separator,
        "", "");
    // Replies shorter than their kind: missing numbers are 0, missing hex text is empty.
    addBoth("aa-short-measurement-fields-zero", QStringLiteral("AA000022000300"), Kind::Measurement,
        "测量距离:0mm信号结果：0", "Measuring distance:0mmSignal result：0");
    addBoth("aa-short-temperature-zero", QStringLiteral("AA800008"), Kind::Text, "模块温度:0°C",
        "Module temperature:0°C");
    addBoth("aa-short-hardware-empty-text", QStringLiteral("AA80000A"), Kind::Text,
        "模块硬件版本号:", "Module hardware version number:");
    addBoth("aa-short-two-bytes-nothing", QStringLiteral("AA00"), Kind::Nothing, "", "");
    // One corrupted character at a time.
    addBoth("aa-non-hex-distance-reads-zero", QStringLiteral("AA000022000300G004D2006E00"),
        Kind::Measurement, "测量距离:0mm信号结果：110", "Measuring distance:0mmSignal result：110");
}

void TestReplies::aaLines()
{
    QFETCH(int, language);
    QFETCH(QString, reply);
    QFETCH(int, kind);
    QFETCH(QString, body);
    QFETCH(bool, searching);
    QFETCH(int, addressI);
    replies::AaContext ctx = aaContext();
    ctx.addressSearchRunning = searching;
    ctx.addressI = addressI;
    const replies::Result r = replies::decodeAa(reply, ctx, language);
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(r.body, body);
    QCOMPARE(r.stopAddressSearch, searching);
}

void TestReplies::aaRecordAndState_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("measureMode");
    QTest::addColumn<int>("modeCeliang");
    QTest::addColumn<QStringList>("record");
    QTest::addColumn<int>("chartDistance"); // INT_MIN: no chart point
    QTest::addColumn<int>("newAddressIndex"); // -1: unchanged
    const int none = std::numeric_limits<int>::min();
    const QString measure = aa("AA 00 00 22 00 03 00 00 04 D2 00 6E");

    QTest::newRow("single-auto-zh-has-measuring-time")
        << 0 << measure << 0 << 1 << QStringList { kClock, "自动测量", "1234", "110", "187" }
        << 1234 << -1;
    QTest::newRow("continuous-fast-en-empty-time")
        << 1 << aa("AA 00 00 20 00 03 FF FF FF FB FF FF") << 2 << 2
        << QStringList { kClock, "Fast measure", "-5", "-1", "" } << -5 << -1;
    QTest::newRow("before-any-measurement-slow-empty-time")
        << 1 << measure << 1 << 0 << QStringList { kClock, "Slow measure", "1234", "110", "" }
        << 1234 << -1;
    QTest::newRow("error-record-code-and-empty-signal")
        << 0 << aa("EE 00 00 00 00 01 00 0F") << 1 << 1
        << QStringList { kClock, "慢速测量", "000F", "", "187" } << none << -1;
    QTest::newRow("set-address-moves-address-index")
        << 0 << aa("AA 01 00 10 00 01 00 02") << 0 << 1 << QStringList() << none << 2;
    QTest::newRow("voltage-no-record-no-point")
        << 1 << aa("AA 80 00 06 00 01 0C E4") << 0 << 1 << QStringList() << none << -1;
}

void TestReplies::aaRecordAndState()
{
    QFETCH(int, language);
    QFETCH(QString, reply);
    QFETCH(int, measureMode);
    QFETCH(int, modeCeliang);
    QFETCH(QStringList, record);
    QFETCH(int, chartDistance);
    QFETCH(int, newAddressIndex);
    replies::AaContext ctx = aaContext();
    ctx.measureMode = measureMode;
    ctx.modeCeliang = modeCeliang;
    ctx.measuringTimeMs = 187;
    const replies::Result r = replies::decodeAa(reply, ctx, language);
    QCOMPARE(r.record, record);
    QCOMPARE(r.chartDistance.value_or(std::numeric_limits<int>::min()), chartDistance);
    QCOMPARE(r.newAddressIndex.value_or(-1), newAddressIndex);
    QVERIFY(!r.newAddressIndexMoudbus);
}

namespace {
void addBothModbus(const char *name, const QString &sent, const QString &reply, Kind kind,
    const char *zh, const char *en)
{
    QTest::addRow("%s-zh", name) << 0 << sent << reply << int(kind) << QString::fromUtf8(zh);
    QTest::addRow("%s-en", name) << 1 << sent << reply << int(kind) << QString::fromUtf8(en);
}
} // namespace

void TestReplies::modbusLines_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("body");

    const QString lightOn = mb("01 05 00 00 FF 00");
    const QString lightOff = mb("01 05 00 00 00 00");
    addBothModbus(
        "mb-laser-on", lightOn, lightOn, Kind::Text, "开灯成功", "Turn on the light successfully");
    addBothModbus("mb-laser-off", lightOff, lightOff, Kind::Text, "关灯成功",
        "Turn off the light successfully");
    addBothModbus("mb-laser-ff-after-off-reads-on", lightOff, lightOn, Kind::Text, "开灯成功",
        "Turn on the light successfully");
    addBothModbus("mb-laser-00-after-on-nothing", lightOn, lightOff, Kind::Nothing, "", "");
    const char *modeFrames[] = { "01 01 06 00 02 00", "01 01 06 00 02 01", "01 01 06 00 02 02" };
    addBothModbus("mb-mode-auto", mb(modeFrames[0]), mb(modeFrames[0]), Kind::Text,
        "设置自动测量模式成功", "Setting the automatic measurement mode succeeded. Procedure");
    addBothModbus("mb-mode-slow", mb(modeFrames[1]), mb(modeFrames[1]), Kind::Text,
        "设置慢速测量模式成功", "Setting the slow measurement mode succeeded. Procedure");
    addBothModbus("mb-mode-fast", mb(modeFrames[2]), mb(modeFrames[2]), Kind::Text,
        "设置快速测量模式成功", "Succeeded in setting the quick measurement mode");
    addBothModbus("mb-mode-03-nothing", mb("01 01 06 00 02 03"), mb("01 01 06 00 02 03"),
        Kind::Nothing, "", "");
    addBothModbus("mb-set-address-0a", mb("01 06 00 00 00 0A"), mb("01 06 00 00 00 0A"), Kind::Text,
        "设置模块地址成功:0A", "Setting the module address succeeded. Procedure:0A");
    addBothModbus("mb-set-offset-minus-5", mb("01 06 00 01 FF FB"), mb("01 06 00 01 FF FB"),
        Kind::Text, "设置模块偏移量成功:-5mm",
        "Description Setting the module offset succeeded:-5mm");
    addBothModbus("mb-set-baud-rate-shows-combo-text", mb("01 06 00 03 00 05"),
        mb("01 06 00 03 00 05"), Kind::Text, "设置模块波特率:115200",
        "Example Set the module baud rate:115200");
    addBothModbus("mb-write-register-02-nothing", mb("01 06 00 02 00 01"), mb("01 06 00 02 00 01"),
        Kind::Nothing, "", "");
    addBothModbus("mb-voltage", mb("01 04 00 01 00 01"), mb("01 04 02 0C E4"), Kind::Text,
        "模块电压:0CE4mV", "Module voltage:0CE4mV");
    addBothModbus("mb-software-version", mb("01 04 00 02 00 01"), mb("01 04 02 01 02"), Kind::Text,
        "模块软件版本号:0102", "Module software version number:0102");
    addBothModbus("mb-hardware-version", mb("01 04 00 03 00 01"), mb("01 04 02 02 01"), Kind::Text,
        "模块硬件版本号:0201", "Module hardware version number:0201");
    addBothModbus("mb-measure-1234-110", mb("01 04 00 04 00 03"), mb("01 04 06 00 00 04 D2 00 6E"),
        Kind::Measurement, "模块测量距离:1234mm信号结果：110",
        "Module measuring distance:1234mmSignal result：110");
    addBothModbus("mb-angle-fffffff6-minus-1", mb("01 04 00 05 00 02"), mb("01 04 04 FF FF FF F6"),
        Kind::Text, "模块倾角:-1°", "Module angle:-1°");
    addBothModbus("mb-angle-010b-26.7", mb("01 04 00 05 00 02"), mb("01 04 04 00 00 01 0B"),
        Kind::Text, "模块倾角:26.7°", "Module angle:26.7°");
    addBothModbus("mb-temperature-00fa-25", mb("01 04 00 06 00 01"), mb("01 04 02 00 FA"),
        Kind::Text, "模块温度:25°C", "Module temperature:25°C");
    addBothModbus("mb-temperature-ff9c-minus-10", mb("01 04 00 06 00 01"), mb("01 04 02 FF 9C"),
        Kind::Text, "模块温度:-10°C", "Module temperature:-10°C");
    addBothModbus("mb-serial-first-register", mb("01 04 00 07 00 02"), mb("01 04 04 12 34 56 78"),
        Kind::Text, "模块序列号:1234", "Module SN:1234");
    addBothModbus("mb-input-register-08-nothing", mb("01 04 00 08 00 01"), mb("01 04 02 00 01"),
        Kind::Nothing, "", "");
    addBothModbus("mb-read-address-low-byte", mb("01 03 00 00 00 01"), mb("01 03 02 00 0A"),
        Kind::Text, "模块地址:0A", "Module address:0A");
    addBothModbus("mb-read-offset-minus-5", mb("01 03 00 01 00 01"), mb("01 03 02 FF FB"),
        Kind::Text, "模块偏移量:-5mm", "The module measures the offset:-5mm");
    addBothModbus("mb-holding-register-02-nothing", mb("01 03 00 02 00 01"), mb("01 03 02 00 01"),
        Kind::Nothing, "", "");
    addBothModbus(
        "mb-nothing-sent-nothing", QString(), mb("01 04 02 0C E4"), Kind::Nothing, "", "");
    addBothModbus("mb-function-10-nothing", mb("01 10 00 00 00 01"), mb("01 10 00 00 00 01"),
        Kind::Nothing, "", "");
    addBothModbus("mb-exception-illegal-address", mb("01 04 00 04 00 03"), mb("01 84 02"),
        Kind::ModbusException, "Modbus异常 02", "Modbus exception 02");
    addBothModbus("mb-exception-before-anything-sent", QString(), mb("01 83 01"),
        Kind::ModbusException, "Modbus异常 01", "Modbus exception 01");
    addBothModbus("mb-short-measurement-fields-zero", mb("01 04 00 04 00 03"),
        QStringLiteral("0104"), Kind::Measurement, "模块测量距离:0mm信号结果：0",
        "Module measuring distance:0mmSignal result：0");
    addBothModbus("mb-short-voltage-empty-text", mb("01 04 00 01 00 01"), QStringLiteral("010402"),
        Kind::Text, "模块电压:mV", "Module voltage:mV");
}

void TestReplies::modbusLines()
{
    QFETCH(int, language);
    QFETCH(QString, sent);
    QFETCH(QString, reply);
    QFETCH(int, kind);
    QFETCH(QString, body);
    const replies::Result r = replies::decodeModbus(reply, sent, modbusContext(), language);
    QCOMPARE(int(r.kind), kind);
    QCOMPARE(r.body, body);
    QVERIFY(!r.chartDistance); // the chart follows the 0xAA protocol only
    QVERIFY(!r.newAddressIndex);
    QVERIFY(!r.stopAddressSearch);
}

void TestReplies::modbusRecordAndState_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("modeCeliang");
    QTest::addColumn<QStringList>("record");
    QTest::addColumn<int>("newAddress"); // -1: unchanged

    QTest::newRow("measure-single-record-has-time")
        << 1 << mb("01 04 00 04 00 03") << mb("01 04 06 00 00 04 D2 00 6E") << 1
        << QStringList { kClock, "Fast measure", "1234", "110", "-3" } << -1;
    QTest::newRow("measure-before-any-button-empty-time")
        << 0 << mb("01 04 00 04 00 03") << mb("01 04 06 FF FF FF FF 80 00") << 0
        << QStringList { kClock, "快速测量", "-1", "-32768", "" } << -1;
    QTest::newRow("set-address-moves-address-index-moudbus")
        << 0 << mb("01 06 00 00 00 0A") << mb("01 06 00 00 00 0A") << 1 << QStringList() << 10;
    QTest::newRow("short-set-address-reply-gives-0")
        << 0 << mb("01 06 00 00 00 0A") << QStringLiteral("0106") << 1 << QStringList() << 0;
    QTest::newRow("read-address-leaves-address")
        << 1 << mb("01 03 00 00 00 01") << mb("01 03 02 00 0A") << 1 << QStringList() << -1;
    QTest::newRow("exception-no-record")
        << 1 << mb("01 04 00 04 00 03") << mb("01 84 02") << 1 << QStringList() << -1;
}

void TestReplies::modbusRecordAndState()
{
    QFETCH(int, language);
    QFETCH(QString, sent);
    QFETCH(QString, reply);
    QFETCH(int, modeCeliang);
    QFETCH(QStringList, record);
    QFETCH(int, newAddress);
    replies::ModbusContext ctx = modbusContext();
    ctx.measureMode = 2;
    ctx.modeCeliang = modeCeliang;
    ctx.measuringTimeMs = -3; // handed in as measured, whatever its sign
    const replies::Result r = replies::decodeModbus(reply, sent, ctx, language);
    QCOMPARE(r.record, record);
    QCOMPARE(r.newAddressIndexMoudbus.value_or(-1), newAddress);
}

void TestReplies::measurementRoundTrip_data()
{
    QTest::addColumn<qint32>("distance");
    QTest::addColumn<qint16>("signal");
    QTest::newRow("zero") << qint32(0) << qint16(0);
    QTest::newRow("int-max-signal-max") << std::numeric_limits<qint32>::max() << qint16(32767);
    QTest::newRow("int-min-signal-min")
        << std::numeric_limits<qint32>::min() << std::numeric_limits<qint16>::min();
    QTest::newRow("top-bit-of-byte-6-negative") << qint32(-2147483000) << qint16(-100);
    QTest::newRow("bit-7-of-low-bytes-positive") << qint32(0x00008080) << qint16(0x0080);
}

void TestReplies::measurementRoundTrip()
{
    QFETCH(qint32, distance);
    QFETCH(qint16, signal);
    const QString d
        = QStringLiteral("%1").arg(quint32(distance), 8, 16, QLatin1Char('0')).toUpper();
    const QString s = QStringLiteral("%1").arg(quint16(signal), 4, 16, QLatin1Char('0')).toUpper();
    const QString data = d + s;
    const QString aaReply = aa(qPrintable(QStringLiteral("AA 00 00 22 00 03 ") + data));
    const QString mbReply = mb(qPrintable(QStringLiteral("01 04 06 ") + data));

    const replies::Result a = replies::decodeAa(aaReply, aaContext(), 0);
    const replies::Result m
        = replies::decodeModbus(mbReply, mb("01 04 00 04 00 03"), modbusContext(), 1);
    for (const replies::Result &r : { a, m }) {
        QCOMPARE(r.record.value(2), QString::number(distance));
        QCOMPARE(r.record.value(3), QString::number(signal));
    }
    QCOMPARE(a.chartDistance.value_or(0), distance);
}

void TestReplies::logBlocks_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("block");
    QTest::newRow("measurement-plain-block")
        << int(Kind::Measurement) << "测量距离:1234mm信号结果：110"
        << "12  [09:15:02.318] 测量距离:1234mm信号结果：110\n" + kDashes;
    QTest::newRow("offset-write-keeps-twelve-blanks")
        << int(Kind::Text) << "设置模块偏移量:-5mm            "
        << "12  [09:15:02.318] 设置模块偏移量:-5mm            \n" + kDashes;
    QTest::newRow("module-error-red-html")
        << int(Kind::ModuleError) << "模块报错:000F"
        << "<font color='red'>12&nbsp; [09:15:02.318] 模块报错:000F<br>" + kDashes + "</font>";
    QTest::newRow("wire-characters-escaped")
        << int(Kind::ModuleError) << "error:<b>&"
        << "<font color='red'>12&nbsp; [09:15:02.318] error:&lt;b&gt;&amp;<br>" + kDashes
            + "</font>";
    QTest::newRow("exception-red-html")
        << int(Kind::ModbusException) << "Modbus exception 02"
        << "<font color='red'>12&nbsp; [09:15:02.318] Modbus exception 02<br>" + kDashes
            + "</font>";
    QTest::newRow("separator-alone") << int(Kind::Separator) << "" << kDashes;
    QTest::newRow("nothing-is-empty") << int(Kind::Nothing) << ""
                                      << "";
}

void TestReplies::logBlocks()
{
    QFETCH(int, kind);
    QFETCH(QString, body);
    QFETCH(QString, block);
    replies::Result r;
    r.kind = Kind(kind);
    r.body = body;
    QCOMPARE(replies::logBlock(r, 12, kClock), block);
}

void TestReplies::echo_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("html");
    QTest::newRow("plain-zh") << 0 << "AA80000A"
                              << "12  [09:15:02.318] 接收:AA 80 00 0A" << false;
    QTest::newRow("plain-en-odd-tail") << 1 << "AA0"
                                       << "12  [09:15:02.318] Receive:AA 0" << false;
    QTest::newRow("ee-red-en") << 1 << "EE00"
                               << "<font color='red'>12&nbsp; [09:15:02.318] Receive:EE 00</font>"
                               << true;
    QTest::newRow("ee-red-zh") << 0 << "EE0000000001000F10"
                               << "<font color='red'>12&nbsp; [09:15:02.318] "
                                  "接收:EE 00 00 00 00 01 00 0F 10</font>"
                               << true;
    QTest::newRow("ee-wire-characters-escaped")
        << 1 << "EE&<"
        << "<font color='red'>12&nbsp; [09:15:02.318] Receive:EE &amp;&lt;</font>" << true;
}

void TestReplies::echo()
{
    QFETCH(int, language);
    QFETCH(QString, reply);
    QFETCH(QString, text);
    QFETCH(bool, html);
    const replies::EchoLine line = replies::echoLine(12, kClock, reply, language);
    QCOMPARE(line.text, text);
    QCOMPARE(line.html, html);
}

void TestReplies::route_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("checkMode");
    QTest::addColumn<int>("route");
    QTest::newRow("empty") << "" << 0 << int(replies::Route::Empty);
    QTest::newRow("one-byte-too-short") << "AA" << 0 << int(replies::Route::TooShort);
    QTest::newRow("three-chars-too-short") << "AA0" << 1 << int(replies::Route::TooShort);
    QTest::newRow("ee00-reaches-aa-parser") << "EE00" << 0 << int(replies::Route::Aa);
    QTest::newRow("ee-in-crc-mode-reaches-modbus") << "EE00" << 1 << int(replies::Route::Modbus);
    QTest::newRow("no-check-mode-selected") << "AA00" << -1 << int(replies::Route::Unparsed);
}

void TestReplies::route()
{
    QFETCH(QString, reply);
    QFETCH(int, checkMode);
    QFETCH(int, route);
    QCOMPARE(int(replies::routeReply(reply, checkMode)), route);
}

void TestReplies::chart_data()
{
    QTest::addColumn<int>("minY");
    QTest::addColumn<int>("maxY");
    QTest::addColumn<int>("distance");
    QTest::addColumn<int>("showNum");
    QTest::addColumn<int>("jianceMode");
    QTest::addColumn<int>("newMinY");
    QTest::addColumn<int>("newMaxY");
    QTest::addColumn<bool>("setY");
    QTest::addColumn<int>("xUpper"); // -1: x axis untouched

    QTest::newRow("first-1234-gives-1357") << 0 << 300 << 1234 << 0 << 0 << 0 << 1357 << true << -1;
    QTest::newRow("350-gives-385") << 0 << 300 << 350 << 5 << 0 << 0 << 385 << true << -1;
    QTest::newRow("301-below-385-unchanged") << 0 << 385 << 301 << 6 << 0 << 0 << 385 << true << -1;
    QTest::newRow("301-over-300-gives-331") << 0 << 300 << 301 << 6 << 0 << 0 << 331 << true << -1;
    QTest::newRow("multiple-of-ten-exact") << 0 << 300 << 1000 << 6 << 0 << 0 << 1100 << true << -1;
    QTest::newRow("negative-lowers-min") << 0 << 300 << -5 << 3 << 0 << -5 << 300 << true << -1;
    QTest::newRow("min-never-rises") << -5 << 300 << -2 << 3 << 0 << -5 << 300 << true << -1;
    QTest::newRow("show-num-20-x-untouched") << 0 << 300 << 10 << 20 << 0 << 0 << 300 << true << -1;
    QTest::newRow("show-num-21-stretches-x") << 0 << 300 << 10 << 21 << 0 << 0 << 300 << true << 21;
    QTest::newRow("monitoring-moves-nothing")
        << 0 << 300 << 5000 << 40 << 1 << 0 << 300 << false << -1;
    QTest::newRow("int-max-stops-at-int-max")
        << 0 << 300 << std::numeric_limits<int>::max() << 1 << 0 << 0
        << std::numeric_limits<int>::max() << true << -1;
    // Found by fuzzing: 1.1 x a distance near the int minimum lies outside int.
    QTest::newRow("near-int-min-over-lower-max-stops-at-int-min")
        << std::numeric_limits<int>::min() << std::numeric_limits<int>::min()
        << std::numeric_limits<int>::min() + 1 << 1 << 0 << std::numeric_limits<int>::min()
        << std::numeric_limits<int>::min() << true << -1;
}

void TestReplies::chart()
{
    QFETCH(int, minY);
    QFETCH(int, maxY);
    QFETCH(int, distance);
    QFETCH(int, showNum);
    QFETCH(int, jianceMode);
    QFETCH(int, newMinY);
    QFETCH(int, newMaxY);
    QFETCH(bool, setY);
    QFETCH(int, xUpper);
    const replies::ChartRange r = replies::applyDistance(minY, maxY, distance, showNum, jianceMode);
    QCOMPARE(r.minY, newMinY);
    QCOMPARE(r.maxY, newMaxY);
    QCOMPARE(r.setYRange, setY);
    QCOMPARE(r.xUpper.value_or(-1), xUpper);
}

QTEST_APPLESS_MAIN(TestReplies)
#include "tst_replies.moc"
