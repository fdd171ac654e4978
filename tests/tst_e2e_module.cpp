// The window against a virtual module on a pseudo-terminal: every command button in both
// protocols, the decoded lines, records, continuous measurement, address changes and the search.
#include "ui_widget.h"
#include "widget.h"

#include "frames.h"
#include "mytimer.h"
#include "sim/pty.h"
#include "sim/simserver.h"
#include "testsupport.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

namespace {

using testsupport::hex;

// Generous: the machine is shared and a slow measurement alone takes 200 ms.
constexpr int kReplyTimeoutMs = 5000;

// What the module reports, chosen so that every decoded line shows a value of its own.
sim::ServerOptions moduleOptions()
{
    sim::ServerOptions o;
    sim::ModuleSettings &m = o.module;
    m.address = 0;
    m.modbusAddress = 1;
    m.baudCode = 7; // 115200, the rate the port is opened with
    m.status = 0x0013;
    m.voltageMv = 3312;
    m.temperatureTenths = 267;
    m.angleTenths = -15;
    m.hardwareVersion = 0x0102;
    m.softwareVersion = 0x0215;
    m.serialNumber = 0x20240417;
    m.signal = 110;
    m.distanceMm = 1234;
    m.measuringTimeMs = { 80, 200, 20 };
    return o;
}

const QString kSeparator(50, QLatin1Char('-'));

// "N  [HH:mm:ss.zzz] body": the number and the body of a numbered log line.
const QRegularExpression kNumbered(
    QStringLiteral("^(\\d+)  \\[\\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\] (.*)$"));

QStringList logLines(const Widget &w)
{
    return w.ui->plainTextEdit_show_data->toPlainText().split(QLatin1Char('\n'));
}

QString logText(const Widget &w)
{
    return w.ui->plainTextEdit_show_data->toPlainText();
}

/** Index of the numbered line whose body is exactly @p body (trailing blanks count), or -1. */
int findBody(const QStringList &lines, const QString &body)
{
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = kNumbered.match(lines.at(i));
        if (m.hasMatch() && m.captured(2) == body)
            return i;
    }
    return -1;
}

int findBody(const Widget &w, const QString &body)
{
    return findBody(logLines(w), body);
}

/** True when the text @p body is shown in red somewhere in the log. */
bool shownInRed(const Widget &w, const QString &body)
{
    const QTextDocument *doc = w.ui->plainTextEdit_show_data->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            if (f.text().contains(body) && f.charFormat().foreground().color() == Qt::red)
                return true;
        }
    }
    return false;
}

QByteArray wireBytes(const QByteArrayList &frames, int mode)
{
    QByteArray bytes;
    for (const QByteArray &f : frames)
        bytes += mode == 1 ? frames::appendCrc(f) : f;
    return bytes;
}

// One window and one module on the two ends of a pseudo-terminal. The port is closed before
// the window goes, and the window goes before the module, so no hang-up reaches the window.
struct Bench
{
    sim::SimServer server;
    testsupport::MessageBoxCatcher boxes;
    Widget w;
    QByteArray received; ///< every byte the module read, in the main thread

    Bench()
    {
        QObject::connect(&server, &sim::SimServer::bytesReceived, &w,
            [this](const QByteArray &bytes) { received += bytes; });
    }

    ~Bench()
    {
        if (w.serialport_state_1) {
            QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
            if (!QTest::qWaitFor([this] { return !w.serialport_state_1; }, 2000))
                qWarning("the port did not close");
        }
    }

    /** Starts the module and opens its port through the window in @p mode and @p language. */
    void open(int mode, int language, const sim::ServerOptions &options = moduleOptions())
    {
        QVERIFY2(server.start(options), qPrintable(server.errorString()));
        if (language != w.language)
            QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
        QCOMPARE(w.language, language);
        w.ui->chuankou_Box->addItem(server.slavePath() + QStringLiteral(" sim"));
        w.ui->chuankou_Box->setCurrentIndex(w.ui->chuankou_Box->count() - 1);
        w.ui->botelv_Box->setCurrentIndex(w.ui->botelv_Box->findText(QStringLiteral("115200")));
        QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
        QTRY_VERIFY2_WITH_TIMEOUT(w.serialport_state_1, qPrintable(logText(w)), kReplyTimeoutMs);
        w.ui->jiaoyan_mode->setCurrentIndex(mode);
        emit w.ui->jiaoyan_mode->activated(mode);
    }

    void click(const QString &objectName)
    {
        auto *button = w.findChild<QAbstractButton *>(objectName);
        QVERIFY2(button, qPrintable(objectName));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    /** Waits for a numbered line with exactly @p body, inside a whole reply block. */
    void expectBlock(const QString &body)
    {
        QTRY_VERIFY2_WITH_TIMEOUT(findBody(w, body) >= 0,
            qPrintable(QStringLiteral("no line \"%1\" in:\n%2").arg(body, logText(w))),
            kReplyTimeoutMs);
        const QStringList lines = logLines(w);
        const int at = findBody(lines, body);
        // The echo of the reply stands right above, under the same number, and the separator
        // closes the block.
        QVERIFY(at >= 1 && at + 1 < lines.size());
        QCOMPARE(lines.at(at + 1), kSeparator);
        const QRegularExpressionMatch result = kNumbered.match(lines.at(at));
        const QRegularExpressionMatch echo = kNumbered.match(lines.at(at - 1));
        QVERIFY2(echo.hasMatch(), qPrintable(lines.at(at - 1)));
        QCOMPARE(echo.captured(1), result.captured(1));
        const QString label
            = w.language == 0 ? QStringLiteral("接收:") : QStringLiteral("Receive:");
        QVERIFY2(echo.captured(2).startsWith(label), qPrintable(lines.at(at - 1)));
    }
};

} // namespace

class TestE2eModule : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void commandTable_data();
    void commandTable();
    void singleMeasurementRecord_data();
    void singleMeasurementRecord();
    void continuousStartAndStop_data();
    void continuousStartAndStop();
    void setAddressMovesLaterFrames_data();
    void setAddressMovesLaterFrames();
    void setOffsetThenRead_data();
    void setOffsetThenRead();
    void addressSearchFindsModule();
    void modbusExceptionAddsNoRecord_data();
    void modbusExceptionAddsNoRecord();
};

void TestE2eModule::initTestCase()
{
    PseudoTerminal probe;
    if (!probe.open())
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal: ") + probe.errorString()));
}

void TestE2eModule::commandTable_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("clicks"); // object names, clicked in turn
    QTest::addColumn<QStringList>("lines"); // the decoded line each click brings; "" none
    QTest::addColumn<QByteArrayList>("frames"); // what reaches the module, before any CRC
    QTest::addColumn<QString>("boxTitle"); // a not-available warning instead of a frame
    QTest::addColumn<QString>("boxText");

    const auto row = [](const char *name, int mode, int language, const QStringList &clicks,
                         const QStringList &lines, const QByteArrayList &frames) {
        QTest::newRow(name) << mode << language << clicks << lines << frames << QString()
                            << QString();
    };
    const auto warning = [](const char *name, int mode, int language, const char *button,
                             const char *title, const char *text) {
        QTest::newRow(name) << mode << language << QStringList { QString::fromUtf8(button) }
                            << QStringList { QString() } << QByteArrayList {}
                            << QString::fromUtf8(title) << QString::fromUtf8(text);
    };
    constexpr int kAa = 0;
    constexpr int kModbus = 1;
    constexpr int kChinese = 0;
    constexpr int kEnglish = 1;
    const QString once = QStringLiteral("button_once");
    const QString light = QStringLiteral("button_light");

    // 0xAA frames, module at address 0.
    row("aa-read-voltage", kAa, kEnglish, { "button_read_vcc" }, { "Module input voltage:3312mV" },
        { hex("AA80000686") });
    row("aa-read-status", kAa, kEnglish, { "button_read_state" }, { "Module state:0013" },
        { hex("AA80000080") });
    row("aa-read-hardware-version", kAa, kEnglish, { "button_hardware" },
        { "Module hardware version number:0102" }, { hex("AA80000A8A") });
    row("aa-read-software-version", kAa, kEnglish, { "button_sofftware" },
        { "Module software version number:0215" }, { hex("AA80000C8C") });
    row("aa-read-serial-number-high-word", kAa, kEnglish, { "button_serial_number" },
        { "Module SN:2024" }, { hex("AA80000E8E") });
    row("aa-read-temperature-tenths", kAa, kEnglish, { "button_reaad_temp" },
        { "Module temperature:26.7°C" }, { hex("AA80000888") });
    row("aa-read-offset", kAa, kEnglish, { "button_measure_offce" },
        { "The reading module measures the offset:0mm" }, { hex("AA80001292") });
    warning("aa-read-angle-not-available", kAa, kEnglish, "button_angle",
        "warn:", "This module does not support viewing module inclination");
    row("aa-laser-on", kAa, kEnglish, { light }, { "Turn on the light successfully" },
        { hex("AA0001BE00010001C1") });
    row("aa-laser-off-second-click", kAa, kEnglish, { light, light },
        { "Turn on the light successfully", "Turn off the light successfully" },
        { hex("AA0001BE00010001C1"), hex("AA0001BE00010000C0") });
    row("aa-set-offset-minus-5", kAa, kEnglish, { "button_set_measurement_offset" },
        { "Set the module measurement offset:-5mm" }, { hex("AA0000120001FFFB0D") });
    row("aa-set-address-0-to-9", kAa, kEnglish, { "button_set_address" },
        { "Set module address:9" }, { hex("AA000010000100091A") });
    row("aa-set-baud-code-6-shows-combo-text", kAa, kEnglish, { "button_set_baudrate" },
        { "Reset the module baud rate:57600" }, { hex("AA000014000100061B") });
    row("aa-single-measurement-auto", kAa, kEnglish, { once },
        { "Measuring distance:1234mmSignal result：110" }, { hex("AA0000200001000021") });
    row("aa-speed-radio-sends-nothing-speed-rides-in-frame", kAa, kEnglish,
        { "radioButton_low", once }, { "", "Measuring distance:1234mmSignal result：110" },
        { hex("AA0000200001000122") });
    row("aa-continuous-start-then-stop-byte", kAa, kEnglish,
        { "button_continue", "button_continue" },
        { "Measuring distance:1234mmSignal result：110", "" },
        { hex("AA0000200001000425"), hex("58") });

    // Modbus RTU, module at address 1.
    row("modbus-read-voltage", kModbus, kEnglish, { "button_read_vcc" },
        { "Module voltage:3312mV" }, { hex("010400010001") });
    warning("modbus-read-status-not-available", kModbus, kEnglish, "button_read_state",
        "warn:", "The module does not support checking the module status");
    row("modbus-read-hardware-version", kModbus, kEnglish, { "button_hardware" },
        { "Module hardware version number:0102" }, { hex("010400030001") });
    row("modbus-read-software-version", kModbus, kEnglish, { "button_sofftware" },
        { "Module software version number:0215" }, { hex("010400020001") });
    row("modbus-read-serial-number-first-register", kModbus, kEnglish, { "button_serial_number" },
        { "Module SN:2024" }, { hex("010400070002") });
    row("modbus-read-temperature-tenths", kModbus, kEnglish, { "button_reaad_temp" },
        { "Module temperature:26.7°C" }, { hex("010400060001") });
    row("modbus-read-offset", kModbus, kEnglish, { "button_measure_offce" },
        { "The module measures the offset:0mm" }, { hex("010300010001") });
    row("modbus-read-angle-negative-tenths", kModbus, kEnglish, { "button_angle" },
        { "Module angle:-1.5°" }, { hex("010400050002") });
    row("modbus-read-address-hex", kModbus, kEnglish, { "button_address" }, { "Module address:01" },
        { hex("010300000001") });
    row("modbus-laser-on", kModbus, kEnglish, { light }, { "Turn on the light successfully" },
        { hex("01050000FF00") });
    row("modbus-laser-off-second-click", kModbus, kEnglish, { light, light },
        { "Turn on the light successfully", "Turn off the light successfully" },
        { hex("01050000FF00"), hex("010500000000") });
    row("modbus-set-offset-minus-5", kModbus, kEnglish, { "button_set_measurement_offset" },
        { "Description Setting the module offset succeeded:-5mm" }, { hex("01060001FFFB") });
    row("modbus-set-address-1-to-10-hex", kModbus, kEnglish, { "button_set_address" },
        { "Setting the module address succeeded. Procedure:0A" }, { hex("01060000000A") });
    row("modbus-set-baud-code-6-shows-combo-text", kModbus, kEnglish, { "button_set_baudrate" },
        { "Example Set the module baud rate:57600" }, { hex("010600030006") });
    row("modbus-single-measurement", kModbus, kEnglish, { once },
        { "Module measuring distance:1234mmSignal result：110" }, { hex("010400040003") });
    warning("modbus-continuous-not-available", kModbus, kEnglish, "button_continue",
        "warn:", "This module does not support continuous measurement");
    row("modbus-speed-radio-auto-checked-already", kModbus, kEnglish, { "radioButton_auto" },
        { "Setting the automatic measurement mode succeeded. Procedure" }, { hex("010106000200") });
    row("modbus-speed-radio-slow", kModbus, kEnglish, { "radioButton_low" },
        { "Setting the slow measurement mode succeeded. Procedure" }, { hex("010106000201") });
    row("modbus-speed-radio-fast", kModbus, kEnglish, { "radioButton_fast" },
        { "Succeeded in setting the quick measurement mode" }, { hex("010106000202") });

    // The Chinese table on a few rows of each protocol.
    row("aa-read-voltage-chinese", kAa, kChinese, { "button_read_vcc" }, { "模块输入电压:3312mV" },
        { hex("AA80000686") });
    row("aa-read-offset-chinese", kAa, kChinese, { "button_measure_offce" },
        { "读取模块偏移量:0mm" }, { hex("AA80001292") });
    row("aa-set-offset-chinese-twelve-blanks", kAa, kChinese, { "button_set_measurement_offset" },
        { "设置模块偏移量:-5mm            " }, { hex("AA0000120001FFFB0D") });
    row("aa-set-baud-chinese", kAa, kChinese, { "button_set_baudrate" },
        { "重置模块波特率为:57600" }, { hex("AA000014000100061B") });
    row("aa-single-measurement-chinese", kAa, kChinese, { once },
        { "测量距离:1234mm信号结果：110" }, { hex("AA0000200001000021") });
    warning("aa-read-angle-not-available-chinese-odd-title", kAa, kChinese, "button_angle",
        "warn：", "该模块不支持查看模块倾角");
    warning("modbus-read-status-not-available-chinese", kModbus, kChinese, "button_read_state",
        "警告：", "该模块不支持查看模块状态");
    row("modbus-laser-off-chinese", kModbus, kChinese, { light, light }, { "开灯成功", "关灯成功" },
        { hex("01050000FF00"), hex("010500000000") });
    row("modbus-set-address-chinese", kModbus, kChinese, { "button_set_address" },
        { "设置模块地址成功:0A" }, { hex("01060000000A") });
    row("modbus-speed-radio-fast-chinese", kModbus, kChinese, { "radioButton_fast" },
        { "设置快速测量模式成功" }, { hex("010106000202") });
    row("modbus-single-measurement-chinese", kModbus, kChinese, { once },
        { "模块测量距离:1234mm信号结果：110" }, { hex("010400040003") });
}

void TestE2eModule::commandTable()
{
    QFETCH(int, mode);
    QFETCH(int, language);
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, lines);
    QFETCH(QByteArrayList, frames);
    QFETCH(QString, boxTitle);
    QFETCH(QString, boxText);
    QCOMPARE(lines.size(), clicks.size());

    Bench b;
    b.open(mode, language);
    if (QTest::currentTestFailed())
        return;
    // The fields every settings command reads; old addresses are where the module is.
    b.w.ui->lineEdit_set_measurement_offset->setText(QStringLiteral("-5"));
    b.w.ui->lineEdit_old_address->setText(mode == 0 ? QStringLiteral("0") : QStringLiteral("1"));
    b.w.ui->lineEdit_new_address->setText(mode == 0 ? QStringLiteral("9") : QStringLiteral("10"));
    b.w.ui->botelv_Box_2->setCurrentIndex(6);
    QSignalSpy sent(&b.w, &Widget::sig_send_data_main_1);

    for (int i = 0; i < clicks.size(); ++i) {
        b.click(clicks.at(i));
        if (!lines.at(i).isEmpty())
            b.expectBlock(lines.at(i));
        if (QTest::currentTestFailed())
            return;
    }

    if (!boxText.isEmpty()) {
        QCOMPARE(b.boxes.count(), 1);
        QCOMPARE(b.boxes.lastTitle(), boxTitle);
        QCOMPARE(b.boxes.lastText(), boxText);
        QCOMPARE(sent.count(), 0);
        QVERIFY(logText(b.w).isEmpty());
        return;
    }
    QCOMPARE(b.boxes.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(
        b.received.toHex(' '), wireBytes(frames, mode).toHex(' '), kReplyTimeoutMs);
}

void TestE2eModule::singleMeasurementRecord_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("modeText");
    QTest::addColumn<int>("chartPoints");
    QTest::newRow("aa-record-and-chart-point") << 0 << 1 << "Auto measure" << 1;
    QTest::newRow("aa-record-chinese-mode-text") << 0 << 0 << "自动测量" << 1;
    QTest::newRow("modbus-record-no-chart-point") << 1 << 1 << "Auto measure" << 0;
}

void TestE2eModule::singleMeasurementRecord()
{
    QFETCH(int, mode);
    QFETCH(int, language);
    QFETCH(QString, modeText);
    QFETCH(int, chartPoints);
    Bench b;
    b.open(mode, language);
    if (QTest::currentTestFailed())
        return;
    b.click(QStringLiteral("button_once"));
    QTRY_COMPARE_WITH_TIMEOUT(b.w.list_save_data.size(), 1, kReplyTimeoutMs);
    const QList<QString> record = b.w.list_save_data.first();
    QCOMPARE(record.size(), 5);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{2}:\\d{2}:\\d{2}\\.\\d{3}$"))
                 .match(record.at(0))
                 .hasMatch(),
        qPrintable(record.at(0)));
    QCOMPARE(record.at(1), modeText);
    QCOMPARE(record.at(2), QStringLiteral("1234"));
    QCOMPARE(record.at(3), QStringLiteral("110"));
    // The module takes 80 ms in auto mode, so the measuring time, counted from the click to the
    // reply, cannot be shorter.
    bool ok = false;
    const int measuringMs = record.at(4).toInt(&ok);
    QVERIFY2(ok, qPrintable(record.at(4)));
    QVERIFY2(measuringMs >= 80 && measuringMs < kReplyTimeoutMs, qPrintable(record.at(4)));
    QCOMPARE(b.w.curGraph->dataCount(), chartPoints);
}

void TestE2eModule::continuousStartAndStop_data()
{
    QTest::addColumn<int>("baudCode");
    QTest::addColumn<int>("chunkMs");
    QTest::addColumn<int>("periodMs"); // measuring time of the auto mode
    QTest::addColumn<int>("waitFor"); // results to see before stopping
    QTest::newRow("aa-continuous-whole-frames") << 7 << 0 << 80 << 4;
    // At 9600 baud a result takes 13.5 ms on the wire, and an adapter that delivers every 16 ms
    // cuts many of them in two with a silence longer than 5 ms; a period 3 ms off the adapter's
    // moves the cut by 3 ms every result, so within 16 results it falls after every byte.
    QTest::newRow("aa-continuous-usb-adapter-16ms-chunks") << 3 << 16 << 83 << 25;
}

void TestE2eModule::continuousStartAndStop()
{
    QFETCH(int, baudCode);
    QFETCH(int, chunkMs);
    QFETCH(int, periodMs);
    QFETCH(int, waitFor);
    sim::ServerOptions options = moduleOptions();
    options.module.baudCode = baudCode;
    options.chunkMs = chunkMs;
    options.module.measuringTimeMs[0] = periodMs;
    // A distance that changes with every result, so a lost or repeated one shows.
    options.module.model = sim::DistanceModel::Ramp;
    options.module.rampStepMm = 1;
    Bench b;
    b.open(0, 1, options);
    if (QTest::currentTestFailed())
        return;
    b.click(QStringLiteral("button_continue"));
    QTRY_VERIFY_WITH_TIMEOUT(b.w.list_save_data.size() >= waitFor, 4 * kReplyTimeoutMs);
    QCOMPARE(b.w.state_measure, 1);

    b.click(QStringLiteral("button_continue"));
    QTRY_VERIFY_WITH_TIMEOUT(b.received.endsWith(char(sim::kStopByte)), kReplyTimeoutMs);
    QCOMPARE(b.w.state_measure, 0);
    QCOMPARE(b.w.ui->button_continue->text(), QStringLiteral("Repeat measure"));
    // The module sends nothing once it has read the stop byte; a result already on its way
    // still lands. After that the count stays put for many measuring periods.
    const quint64 results = b.server.counters().replies;
    QTRY_VERIFY2_WITH_TIMEOUT(quint64(b.w.list_save_data.size()) == results,
        qPrintable(QStringLiteral("%1 results sent, %2 recorded:\n%3")
                       .arg(results)
                       .arg(b.w.list_save_data.size())
                       .arg(logText(b.w))),
        kReplyTimeoutMs);
    QTest::qWait(600);
    const qsizetype settled = b.w.list_save_data.size();
    QCOMPARE(quint64(settled), results);
    QCOMPARE(b.server.counters().replies, results);

    for (qsizetype i = 0; i < settled; ++i) {
        const QList<QString> &record = b.w.list_save_data.at(i);
        QCOMPARE(record.size(), 5);
        QCOMPARE(record.at(1), QStringLiteral("Auto measure"));
        QCOMPARE(record.at(2), QString::number(1234 + i));
        QCOMPARE(record.at(3), QStringLiteral("110"));
        QCOMPARE(record.at(4), QString()); // continuous results have no start to count from
    }
    QCOMPARE(b.w.curGraph->dataCount(), int(settled));
}

void TestE2eModule::setAddressMovesLaterFrames_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("oldAddress");
    QTest::addColumn<QString>("newAddress");
    QTest::addColumn<QString>("setLine");
    QTest::addColumn<int>("addressAfter");
    QTest::addColumn<QByteArray>("voltageFrame"); // before any CRC
    QTest::addColumn<QString>("voltageLine");
    QTest::newRow("aa-address-0-to-9-decimal")
        << 0 << "0"
        << "9"
        << "Set module address:9" << 9 << hex("AA8900068F") << "Module input voltage:3312mV";
    QTest::newRow("modbus-address-1-to-10-hex")
        << 1 << "1"
        << "10"
        << "Setting the module address succeeded. Procedure:0A" << 10 << hex("0A0400010001")
        << "Module voltage:3312mV";
}

void TestE2eModule::setAddressMovesLaterFrames()
{
    QFETCH(int, mode);
    QFETCH(QString, oldAddress);
    QFETCH(QString, newAddress);
    QFETCH(QString, setLine);
    QFETCH(int, addressAfter);
    QFETCH(QByteArray, voltageFrame);
    QFETCH(QString, voltageLine);
    Bench b;
    b.open(mode, 1);
    if (QTest::currentTestFailed())
        return;
    b.w.ui->lineEdit_old_address->setText(oldAddress);
    b.w.ui->lineEdit_new_address->setText(newAddress);
    b.click(QStringLiteral("button_set_address"));
    b.expectBlock(setLine);
    if (QTest::currentTestFailed())
        return;
    if (mode == 0) {
        QCOMPARE(b.w.address_index, addressAfter);
        QCOMPARE(b.w.address_index_moudbus, 1);
        QCOMPARE(b.server.moduleSettings().address, addressAfter);
    } else {
        QCOMPARE(b.w.address_index_moudbus, addressAfter);
        QCOMPARE(b.w.address_index, 0);
        QCOMPARE(b.server.moduleSettings().modbusAddress, addressAfter);
    }

    // The module only answers at its new address, so a decoded reply proves the frame used it.
    b.received.clear();
    b.click(QStringLiteral("button_read_vcc"));
    b.expectBlock(voltageLine);
    QTRY_COMPARE_WITH_TIMEOUT(
        b.received.toHex(' '), wireBytes({ voltageFrame }, mode).toHex(' '), kReplyTimeoutMs);
}

void TestE2eModule::setOffsetThenRead_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("setLine");
    QTest::addColumn<QString>("readLine");
    QTest::addColumn<QString>("measureLine");
    QTest::newRow("aa-offset-minus-5") << 0 << "Set the module measurement offset:-5mm"
                                       << "The reading module measures the offset:-5mm"
                                       << "Measuring distance:1229mmSignal result：110";
    QTest::newRow("modbus-offset-minus-5")
        << 1 << "Description Setting the module offset succeeded:-5mm"
        << "The module measures the offset:-5mm"
        << "Module measuring distance:1229mmSignal result：110";
}

void TestE2eModule::setOffsetThenRead()
{
    QFETCH(int, mode);
    QFETCH(QString, setLine);
    QFETCH(QString, readLine);
    QFETCH(QString, measureLine);
    Bench b;
    b.open(mode, 1);
    if (QTest::currentTestFailed())
        return;
    b.w.ui->lineEdit_set_measurement_offset->setText(QStringLiteral("-5"));
    b.click(QStringLiteral("button_set_measurement_offset"));
    b.expectBlock(setLine);
    b.click(QStringLiteral("button_measure_offce"));
    b.expectBlock(readLine);
    // The module adds its offset to every distance it measures from then on.
    b.click(QStringLiteral("button_once"));
    b.expectBlock(measureLine);
    QCOMPARE(b.server.moduleSettings().offsetMm, -5);
}

void TestE2eModule::addressSearchFindsModule()
{
    sim::ServerOptions options = moduleOptions();
    options.module.address = 5;
    Bench b;
    b.open(0, 1, options);
    if (QTest::currentTestFailed())
        return;
    b.click(QStringLiteral("button_address"));
    QVERIFY(b.w.timer_address->isActive());
    b.expectBlock(QStringLiteral("Module address:5"));
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!b.w.timer_address->isActive());
    QCOMPARE(b.w.address_i, -1);
    QCOMPARE(b.w.address_index, 0); // a search reports the address, it does not take it
    QVERIFY(b.received.startsWith(hex("AA80000080")));
    // No probe follows once the search has ended.
    QTest::qWait(200);
    const QByteArray probes = b.received;
    QTest::qWait(300);
    QCOMPARE(b.received.size(), probes.size());
    QVERIFY2(probes.size() < 30 * 5, qPrintable(probes.toHex(' ')));
}

void TestE2eModule::modbusExceptionAddsNoRecord_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("line");
    QTest::newRow("modbus-input-register-9-english") << 1 << "01 04 00 09 00 01"
                                                     << "Modbus exception 02";
    QTest::newRow("modbus-holding-register-7-chinese") << 0 << "01 03 00 07 00 01"
                                                       << "Modbus异常 02";
    // Register 4 is the measurement: read as its answer, the exception would become a record.
    QTest::newRow("modbus-measurement-five-registers-english") << 1 << "01 04 00 04 00 05"
                                                               << "Modbus exception 02";
}

void TestE2eModule::modbusExceptionAddsNoRecord()
{
    QFETCH(int, language);
    QFETCH(QString, command);
    QFETCH(QString, line);
    Bench b;
    b.open(1, language);
    if (QTest::currentTestFailed())
        return;
    b.w.ui->checkBo_hex->setChecked(true);
    b.w.ui->lineEdit_send->setText(command);
    b.click(QStringLiteral("button_send"));
    b.expectBlock(line);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(shownInRed(b.w, line));
    QVERIFY(b.w.list_save_data.isEmpty());
    QCOMPARE(b.w.curGraph->dataCount(), 0);
    QCOMPARE(b.w.show_num, 1);
    QCOMPARE(b.received, frames::appendCrc(frames::fromHexText(command)));
}

QTEST_MAIN(TestE2eModule)
#include "tst_e2e_module.moc"
