// Operator input end to end: every text field fed empty text, 10,000 characters, non-ASCII text,
// negative and overflowing numbers, with the port open on a virtual module and closed.
#include "ui_widget.h"
#include "widget.h"

#include "frames.h"
#include "mytimer.h"
#include "sim/simserver.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

namespace {

const QString kTenThousandDigits(10000, QLatin1Char('9'));
const QString kNonAscii = QString::fromUtf8("测量é");
const QString kNegative = QStringLiteral("-5");
const QString kOverflowing = QStringLiteral("99999999999");

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const QByteArray kNothing("<nothing>");
const QString kAddressBox = QStringLiteral("Enter a module address from 0 to 255");
const QString kOffsetBox
    = QStringLiteral("The offset must be a whole number of mm from -32768 to 65535");

/** The window, and a virtual module on its port when the port is to be open. */
struct Bench
{
    Widget w;
    testsupport::MessageBoxCatcher boxes;
    sim::SimServer server;
    QByteArray line; ///< every byte the module read

    bool open()
    {
        QObject::connect(&server, &sim::SimServer::bytesReceived, &w,
            [this](const QByteArray &bytes) { line += bytes; });
        sim::ServerOptions o;
        o.pacing = false;
        if (!server.start(o))
            return false;
        w.ui->chuankou_Box->addItem(server.slavePath());
        w.ui->chuankou_Box->setCurrentIndex(w.ui->chuankou_Box->count() - 1);
        w.ui->botelv_Box->setCurrentIndex(3);
        QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
        return QTest::qWaitFor([this] { return w.serialport_state_1; }, 5000);
    }

    /** What an operator does: select the whole field and type or paste @p text over it. */
    static void enter(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        field->selectAll();
        if (text.isEmpty())
            field->del();
        else
            field->insert(text); // what a paste does: the field's validator has the last word
    }

    /** Lines of the log shown in red. */
    QStringList redLines() const { return testsupport::redLines(w.ui->plainTextEdit_show_data); }
};

} // namespace

class TestOperatorInput : public QObject
{
    Q_OBJECT
private slots:
    void fields_data();
    void fields();
    void timedSendingOfARefusedTextWarnsOnce();
    void timedSendingOfTenThousandDigitsEveryMillisecond();
};

void TestOperatorInput::fields_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("fieldAfter"); // the field's text once the input was entered
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("hexMode"); // for the custom command
    QTest::addColumn<QString>("action"); // the button clicked, or the timed-send box
    QTest::addColumn<QByteArray>("wire"); // what reaches the line with the port open
    QTest::addColumn<QString>("box"); // text of the warning box, empty: none
    QTest::addColumn<QString>("redLine"); // start of the red log line, empty: none

    struct Row
    {
        const char *name;
        const char *field;
        QString input;
        QString fieldAfter;
        int mode;
        bool hexMode;
        const char *action;
        QByteArray wire;
        QString box;
        QString redLine;
    };
    const QString invalidPeriod = QStringLiteral("Invalid send period: ");
    const QString notHex = QStringLiteral("Not valid hex, nothing sent: ");
    const QByteArray vcc = hex("AA80000686");
    const QByteArray setAaAddress = hex("AA0100100001000214");
    const QByteArray setRtuAddress = frames::appendCrc(hex("010600000002"));
    const QList<Row> rows = {
        // The address field takes only what one frame byte carries; an empty field is no address.
        { "address-empty", "lineEdit_address", "", "", 0, false, "button_read_vcc", kNothing,
            kAddressBox, "" },
        { "address-10000-digits", "lineEdit_address", kTenThousandDigits, "00", 0, false,
            "button_read_vcc", vcc, "", "" },
        { "address-non-ascii", "lineEdit_address", kNonAscii, "00", 0, false, "button_read_vcc",
            vcc, "", "" },
        { "address-negative", "lineEdit_address", kNegative, "00", 0, false, "button_read_vcc", vcc,
            "", "" },
        { "address-overflowing", "lineEdit_address", kOverflowing, "00", 0, false,
            "button_read_vcc", vcc, "", "" },
        { "modbus-address-empty", "lineEdit_address", "", "", 1, false, "button_once", kNothing,
            kAddressBox, "" },
        { "modbus-address-255", "lineEdit_address", "255", "255", 1, false, "button_read_vcc",
            frames::appendCrc(hex("FF0400010001")), "", "" },
        { "aa-address-255-out-of-range", "lineEdit_address", "255", "255", 0, false,
            "button_read_vcc", kNothing, "In no-check mode the module address must be 0 to 127",
            "" },
        // Set address reads both address fields, which start empty.
        { "new-address-empty", "lineEdit_new_address", "", "", 0, false, "button_set_address",
            kNothing, kAddressBox, "" },
        // Typing what the field refuses leaves the address that was there (2).
        { "new-address-10000-digits", "lineEdit_new_address", kTenThousandDigits, "2", 0, false,
            "button_set_address", setAaAddress, "", "" },
        { "new-address-non-ascii", "lineEdit_new_address", kNonAscii, "2", 1, false,
            "button_set_address", setRtuAddress, "", "" },
        { "new-address-negative", "lineEdit_new_address", kNegative, "2", 0, false,
            "button_set_address", setAaAddress, "", "" },
        { "new-address-overflowing", "lineEdit_new_address", kOverflowing, "2", 1, false,
            "button_set_address", setRtuAddress, "", "" },
        { "old-address-empty", "lineEdit_old_address", "", "", 1, false, "button_set_address",
            kNothing, kAddressBox, "" },
        // The offset field takes any text; only a number 16 bits carry is sent.
        { "offset-empty", "lineEdit_set_measurement_offset", "", "", 0, false,
            "button_set_measurement_offset", kNothing, kOffsetBox, "" },
        { "offset-10000-digits", "lineEdit_set_measurement_offset", kTenThousandDigits,
            kTenThousandDigits, 0, false, "button_set_measurement_offset", kNothing, kOffsetBox,
            "" },
        { "offset-non-ascii", "lineEdit_set_measurement_offset", kNonAscii, kNonAscii, 1, false,
            "button_set_measurement_offset", kNothing, kOffsetBox, "" },
        { "offset-negative-sent", "lineEdit_set_measurement_offset", kNegative, kNegative, 0, false,
            "button_set_measurement_offset", hex("AA0000120001FFFB0D"), "", "" },
        { "modbus-offset-negative-sent", "lineEdit_set_measurement_offset", kNegative, kNegative, 1,
            false, "button_set_measurement_offset", frames::appendCrc(hex("01060001FFFB")), "",
            "" },
        { "offset-overflowing", "lineEdit_set_measurement_offset", kOverflowing, kOverflowing, 1,
            false, "button_set_measurement_offset", kNothing, kOffsetBox, "" },
        { "offset-65536-would-wrap", "lineEdit_set_measurement_offset", "65536", "65536", 0, false,
            "button_set_measurement_offset", kNothing, kOffsetBox, "" },
        // The custom command: text goes out as its UTF-8 bytes, hex must be whole valid pairs.
        { "send-text-empty-nothing-on-the-line", "lineEdit_send", "", "", 0, false, "button_send",
            kNothing, "", "" },
        { "send-text-10000-characters", "lineEdit_send", kTenThousandDigits, kTenThousandDigits, 0,
            false, "button_send", kTenThousandDigits.toUtf8(), "", "" },
        { "send-text-non-ascii-as-utf8", "lineEdit_send", kNonAscii, kNonAscii, 0, false,
            "button_send", kNonAscii.toUtf8(), "", "" },
        { "send-hex-10000-digits", "lineEdit_send", QString(10000, QLatin1Char('A')),
            QString(10000, QLatin1Char('A')), 0, true, "button_send", QByteArray(5000, char(0xAA)),
            "", "" },
        { "send-hex-non-ascii-refused", "lineEdit_send", kNonAscii, kNonAscii, 0, true,
            "button_send", kNothing, "", notHex },
        { "send-hex-negative-refused", "lineEdit_send", kNegative, kNegative, 1, true,
            "button_send", kNothing, "", notHex },
        { "send-hex-odd-digits-refused", "lineEdit_send", kOverflowing, kOverflowing, 0, true,
            "button_send", kNothing, "", notHex },
        // The period of timed sending: anything but a number of milliseconds starts nothing.
        { "period-empty", "lineEdit_dingshi_send", "", "", 0, false, "checkBox_dingshi_send",
            kNothing, "", invalidPeriod },
        { "period-10000-digits", "lineEdit_dingshi_send", kTenThousandDigits, kTenThousandDigits, 0,
            false, "checkBox_dingshi_send", kNothing, "", invalidPeriod },
        { "period-non-ascii", "lineEdit_dingshi_send", kNonAscii, kNonAscii, 0, false,
            "checkBox_dingshi_send", kNothing, "", invalidPeriod },
        { "period-negative", "lineEdit_dingshi_send", kNegative, kNegative, 0, false,
            "checkBox_dingshi_send", kNothing, "", invalidPeriod },
        { "period-overflowing", "lineEdit_dingshi_send", kOverflowing, kOverflowing, 0, false,
            "checkBox_dingshi_send", kNothing, "", invalidPeriod },
    };
    for (const Row &r : rows) {
        for (const bool open : { true, false }) {
            const QByteArray name = QByteArray(r.name) + (open ? "-port-open" : "-port-closed");
            QTest::newRow(name.constData())
                << QString::fromLatin1(r.field) << r.input << r.fieldAfter << r.mode << r.hexMode
                << QString::fromLatin1(r.action) << (open ? r.wire : kNothing) << r.box
                << r.redLine;
        }
    }
}

void TestOperatorInput::fields()
{
    QFETCH(QString, field);
    QFETCH(QString, input);
    QFETCH(QString, fieldAfter);
    QFETCH(int, mode);
    QFETCH(bool, hexMode);
    QFETCH(QString, action);
    QFETCH(QByteArray, wire);
    QFETCH(QString, box);
    QFETCH(QString, redLine);
    const bool portOpen = QByteArray(QTest::currentDataTag()).endsWith("-port-open");

    Bench b;
    b.w.ui->jiaoyan_mode->setCurrentIndex(mode);
    emit b.w.ui->jiaoyan_mode->activated(mode);
    if (portOpen)
        QVERIFY(b.open());
    // Fields the action reads besides the one under test hold sound values.
    b.w.ui->lineEdit_old_address->setText(QStringLiteral("1"));
    b.w.ui->lineEdit_new_address->setText(QStringLiteral("2"));
    b.w.ui->lineEdit_set_measurement_offset->setText(QStringLiteral("0"));
    b.w.ui->lineEdit_send->setText(QStringLiteral("AA"));
    b.w.ui->lineEdit_dingshi_send->setText(QStringLiteral("20"));
    b.w.ui->checkBo_hex->setChecked(hexMode);
    if (field != QLatin1String("lineEdit_address")) {
        // The address field is read when its cursor moves: a sound address for this check mode.
        Bench::enter(
            b.w.ui->lineEdit_address, mode == 0 ? QStringLiteral("0") : QStringLiteral("1"));
    }

    auto *edit = b.w.findChild<QLineEdit *>(field);
    QVERIFY(edit);
    Bench::enter(edit, input);
    QCOMPARE(edit->text(), fieldAfter);

    QSignalSpy sent(&b.w, &Widget::sig_send_data_main_1);
    auto *button = b.w.findChild<QAbstractButton *>(action);
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
    if (action == QLatin1String("checkBox_dingshi_send")) {
        QVERIFY(button->isChecked());
        QVERIFY(!b.w.timer_dingshi_send->isActive());
    }
    QTest::qWait(portOpen ? 150 : 20);

    const bool expectSent = wire != kNothing;
    QCOMPARE(b.line, expectSent ? wire : QByteArray());
    // A frame that is refused is not even echoed; one that is built is echoed, port open or not.
    const bool refused = !box.isEmpty() || !redLine.isEmpty();
    QCOMPARE(sent.isEmpty(), refused);
    if (box.isEmpty()) {
        QCOMPARE(b.boxes.count(), 0);
    } else {
        QCOMPARE(b.boxes.count(), 1);
        QCOMPARE(b.boxes.lastText(), box);
    }
    const QStringList red = b.redLines();
    if (redLine.isEmpty()) {
        QVERIFY2(red.isEmpty(), qPrintable(red.join('\n')));
    } else {
        QCOMPARE(red.size(), 1);
        QVERIFY2(red.first().contains(redLine), qPrintable(red.first()));
        QVERIFY2(red.first().endsWith(input), qPrintable(red.first().right(40)));
    }
    QVERIFY(b.w.isEnabled());
}

void TestOperatorInput::timedSendingOfARefusedTextWarnsOnce()
{
    // Timed sending reads the text at every tick; a typo is reported once, not a thousand times a
    // second, and sending resumes as soon as the text is valid again.
    Bench b;
    QVERIFY(b.open());
    b.w.ui->checkBo_hex->setChecked(true);
    Bench::enter(b.w.ui->lineEdit_send, QStringLiteral("AA 0G"));
    Bench::enter(b.w.ui->lineEdit_dingshi_send, QStringLiteral("5"));
    QTest::mouseClick(b.w.ui->checkBox_dingshi_send, Qt::LeftButton);
    QVERIFY(b.w.timer_dingshi_send->isActive());
    QTest::qWait(200);
    QCOMPARE(b.redLines().size(), 1);
    QVERIFY(b.line.isEmpty());
    Bench::enter(b.w.ui->lineEdit_send, QStringLiteral("AA 01"));
    QVERIFY(QTest::qWaitFor([&] { return b.line.size() >= 4; }, 3000));
    QCOMPARE(b.line.left(2), hex("AA01"));
    Bench::enter(b.w.ui->lineEdit_send, QStringLiteral("AA 0G"));
    QTest::qWait(100);
    QCOMPARE(b.redLines().size(), 2);
    QTest::mouseClick(b.w.ui->checkBox_dingshi_send, Qt::LeftButton);
    QVERIFY(!b.w.timer_dingshi_send->isActive());
}

void TestOperatorInput::timedSendingOfTenThousandDigitsEveryMillisecond()
{
    // The heaviest load an operator can ask for: 5,000 bytes every millisecond. The window keeps
    // answering and stops at once when asked.
    Bench b;
    QVERIFY(b.open());
    b.w.ui->checkBo_hex->setChecked(true);
    Bench::enter(b.w.ui->lineEdit_send, QString(10000, QLatin1Char('5')));
    Bench::enter(b.w.ui->lineEdit_dingshi_send, QStringLiteral("1"));
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = qMax(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    probe.start(10);
    QTest::mouseClick(b.w.ui->checkBox_dingshi_send, Qt::LeftButton);
    QTest::qWait(1000);
    QTest::mouseClick(b.w.ui->checkBox_dingshi_send, Qt::LeftButton);
    QVERIFY(!b.w.timer_dingshi_send->isActive());
    QTest::qWait(100);
    const int echoes = int(b.w.ui->plainTextEdit_show_data->blockCount());
    QTest::qWait(300);
    QCOMPARE(int(b.w.ui->plainTextEdit_show_data->blockCount()), echoes); // nothing queued up
    qInfo("timed sending of 5000 bytes at 1 ms: %d frames echoed in 1 s, longest pause of the "
          "window %lld ms",
        echoes, longest);
    QVERIFY2(longest < 1000, qPrintable(QString::number(longest)));
}

QTEST_MAIN(TestOperatorInput)
#include "tst_operator_input.moc"
