// The port panel end to end: a real window on a pseudo-terminal whose master end plays the module.
#include "ui_widget.h"
#include "widget.h"

#include "frames.h"
#include "mytimer.h"
#include "sim/pty.h"
#include "sim/simserver.h"
#include "testsupport.h"
#include "thread_1.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

namespace {

using testsupport::hex;

constexpr int kWaitMs = 10000; // generous: the 2 cores are shared with other builds

/** The worker's state reports, recorded after the window has handled each one. */
struct StateWatch
{
    struct State
    {
        bool open;
        QString error;
    };
    QObject context;
    QList<State> states;

    explicit StateWatch(Widget &w)
    {
        // Connected after the window's own connection, so each report reaches the window first.
        QObject::connect(w.thread_1_son, &Thread_1::sig_serialport_state_change, &context,
            [this](bool open, const QString &, const QString &error) {
                states.append({ open, error });
            });
    }
};

QString openLabel(int language)
{
    return language == 0 ? QStringLiteral("  关 闭 串 口") : QStringLiteral("Close Serial");
}

QString closedLabel(int language)
{
    return language == 0 ? QStringLiteral("  打 开 串 口") : QStringLiteral("Open Serial");
}

/** The name the port object gives a path (pts/7 for /dev/pts/7): what the lamp shows. */
QString portObjectName(const QString &path)
{
    QSerialPort probe;
    probe.setPortName(path);
    return probe.portName();
}

QStringList logLines(const Widget &w)
{
    return w.ui->plainTextEdit_show_data->toPlainText().split(QLatin1Char('\n'));
}

QStringList redLines(const Widget &w)
{
    return testsupport::redLines(w.ui->plainTextEdit_show_data);
}

/** Everything the module end receives until the line has been quiet for a while. */
QByteArray drain(PseudoTerminal &pty)
{
    QByteArray all;
    for (QByteArray chunk = pty.read(300); !chunk.isEmpty(); chunk = pty.read(300))
        all += chunk;
    return all;
}

} // namespace

class TestPortPanel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void openAndClose_data();
    void openAndClose();
    void openFailure_data();
    void openFailure();
    void frameWriting_data();
    void frameWriting();
    void rawSending_data();
    void rawSending();
    void timedSending();
    void timedSendingRefusesPeriod_data();
    void timedSendingRefusesPeriod();
    void repliesReachTheLog_data();
    void repliesReachTheLog();
    void lineDropsWhileOpen();
    void hotPlugRemoval_data();
    void hotPlugRemoval();
    void portListWithVirtualModule();

private:
    static void choosePort(Widget &w, const QString &path);
    static void setCheckMode(Widget &w, int mode);
    static bool openPort(Widget &w, const QString &path);

    QTemporaryDir m_runtime;
};

void TestPortPanel::initTestCase()
{
    // Published virtual modules of other programs must not show up in our port lists.
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestPortPanel::choosePort(Widget &w, const QString &path)
{
    w.ui->chuankou_Box->addItem(path + QStringLiteral(" test port"));
    w.ui->chuankou_Box->setCurrentIndex(w.ui->chuankou_Box->count() - 1);
    w.ui->botelv_Box->setCurrentIndex(w.ui->botelv_Box->findText(QStringLiteral("115200")));
}

void TestPortPanel::setCheckMode(Widget &w, int mode)
{
    w.ui->jiaoyan_mode->setCurrentIndex(mode);
    emit w.ui->jiaoyan_mode->activated(mode);
}

bool TestPortPanel::openPort(Widget &w, const QString &path)
{
    choosePort(w, path);
    QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
    return QTest::qWaitFor([&w] { return w.serialport_state_1; }, kWaitMs);
}

void TestPortPanel::openAndClose_data()
{
    QTest::addColumn<int>("language");
    QTest::newRow("english-labels") << 1;
    QTest::newRow("chinese-labels") << 0;
}

void TestPortPanel::openAndClose()
{
    QFETCH(int, language);
    PseudoTerminal pty;
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    Widget w;
    w.language = language;
    testsupport::MessageBoxCatcher boxes;
    QSignalSpy started(&w.THread_1, &QThread::started);
    QVERIFY(!w.THread_1.isRunning());
    QCOMPARE(w.thread_1_son->thread(), QThread::currentThread());

    choosePort(w, pty.slavePath());
    QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
    // The first click hands worker and port to the worker thread before asking for the open.
    QVERIFY(w.THread_1.isRunning());
    QCOMPARE(w.thread_1_son->thread(), &w.THread_1);
    QCOMPARE(w.serial_main_1->thread(), &w.THread_1);
    QTRY_VERIFY_WITH_TIMEOUT(w.serialport_state_1, kWaitMs);
    QCOMPARE(w.ui->open_button->text(), openLabel(language));
    QVERIFY(w.ui->port_name_show->isChecked());
    QCOMPARE(w.ui->port_name_show->text(), portObjectName(pty.slavePath()));

    QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.ui->open_button->text(), closedLabel(language), kWaitMs);
    QVERIFY(!w.serialport_state_1);
    QVERIFY(!w.ui->port_name_show->isChecked());
    QVERIFY(w.ui->port_name_show->text().isEmpty());

    // Later clicks only ask for open and close; the thread is started once in a window's life.
    QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.serialport_state_1, kWaitMs);
    QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.ui->port_name_show->isChecked(), kWaitMs);
    QCOMPARE(started.count(), 1);
    QCOMPARE(boxes.count(), 0);
    QVERIFY(redLines(w).isEmpty());
}

void TestPortPanel::openFailure_data()
{
    QTest::addColumn<QString>("port"); // "<empty list>": no entry at all
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing-port-english") << "/dev/tovandrix-no-such-port" << 1 << "warn:"
                                          << "Serial communication failure";
    QTest::newRow("missing-port-chinese") << "/dev/tovandrix-no-such-port" << 0 << "警告："
                                          << "串口通信故障";
    QTest::newRow("empty-port-list-english") << "<empty list>" << 1 << "warn:"
                                             << "Serial communication failure";
}

void TestPortPanel::openFailure()
{
    QFETCH(QString, port);
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Widget w;
    w.language = language;
    if (port == QLatin1String("<empty list>"))
        w.ui->chuankou_Box->clear();
    else
        choosePort(w, port);
    testsupport::MessageBoxCatcher boxes;
    StateWatch watch(w);
    QSignalSpy started(&w.THread_1, &QThread::started);

    for (int click = 1; click <= 2; ++click) {
        QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
        // The failed open, then the answer to the window's close request.
        QTRY_COMPARE_WITH_TIMEOUT(watch.states.size(), 2 * click, kWaitMs);
        QCOMPARE(boxes.count(), click);
        QCOMPARE(boxes.lastTitle(), title);
        QCOMPARE(boxes.lastText(), text);
        const StateWatch::State failed = watch.states.at(2 * click - 2);
        QVERIFY(!failed.open);
        QVERIFY(!failed.error.isEmpty());
        // The port's own words, in red, tell the operator what to fix.
        const QStringList red = redLines(w);
        QCOMPARE(red.size(), click);
        QVERIFY2(red.last().contains(failed.error), qPrintable(red.last()));
        QVERIFY(watch.states.at(2 * click - 1).error.isEmpty());
        QVERIFY(!w.serialport_state_1);
        QCOMPARE(w.ui->open_button->text(), closedLabel(language));
        QVERIFY(!w.ui->port_name_show->isChecked());
        QVERIFY(w.ui->port_name_show->text().isEmpty());
    }
    QCOMPARE(started.count(), 1);
}

void TestPortPanel::frameWriting_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("button"); // empty: the custom command row in hex
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("aa-read-voltage-button") << 0 << 1 << "button_read_vcc"
                                            << "" << hex("AA 80 00 06 86");
    QTest::newRow("aa-read-voltage-custom-row") << 0 << 1 << ""
                                                << "AA 80 00 06 86" << hex("AA 80 00 06 86");
    QTest::newRow("aa-read-voltage-button-chinese-tag") << 0 << 0 << "button_read_vcc"
                                                        << "" << hex("AA 80 00 06 86");
    QTest::newRow("modbus-read-voltage-button-crc-on-wire") << 1 << 1 << "button_read_vcc"
                                                            << "" << hex("01 04 00 01 00 01 60 0A");
    QTest::newRow("modbus-read-voltage-custom-row-crc-on-wire")
        << 1 << 1 << ""
        << "01 04 00 01 00 01" << hex("01 04 00 01 00 01 60 0A");
}

void TestPortPanel::frameWriting()
{
    QFETCH(int, mode);
    QFETCH(int, language);
    QFETCH(QString, button);
    QFETCH(QString, command);
    QFETCH(QByteArray, wire);
    PseudoTerminal pty;
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    Widget w;
    w.language = language;
    QVERIFY(openPort(w, pty.slavePath()));
    setCheckMode(w, mode);
    if (button.isEmpty()) {
        w.ui->lineEdit_send->setText(command);
        w.ui->checkBo_hex->setChecked(true);
        QTest::mouseClick(w.ui->button_send, Qt::LeftButton);
    } else {
        QTest::mouseClick(w.findChild<QPushButton *>(button), Qt::LeftButton);
    }
    QCOMPARE(pty.readExactly(wire.size(), kWaitMs), wire);
    const QString tag = language == 0 ? QStringLiteral("发送:") : QStringLiteral("Send:");
    QTRY_VERIFY_WITH_TIMEOUT(logLines(w).last().contains(tag), kWaitMs);
    const QRegularExpression echo(QStringLiteral("^0  \\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] ")
        + QRegularExpression::escape(tag + frames::toHexText(wire)) + QLatin1Char('$'));
    QVERIFY2(echo.match(logLines(w).last()).hasMatch(), qPrintable(logLines(w).last()));
    QCOMPARE(w.send_measure, frames::toPackedHex(wire));
    QVERIFY(drain(pty).isEmpty()); // one frame, nothing more
}

void TestPortPanel::rawSending_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("text-abc-as-bytes") << 0 << false << "ABC" << true << hex("41 42 43");
    QTest::newRow("text-non-ascii-as-utf8") << 0 << false << "Ä" << true << hex("C3 84");
    QTest::newRow("text-abc-modbus-gets-crc")
        << 1 << false << "ABC" << true << hex("41 42 43 50 85");
    QTest::newRow("hex-whole-pairs-sent") << 0 << true << "AB 0C" << true << hex("AB 0C");
    QTest::newRow("empty-text-aa-writes-nothing") << 0 << false << "" << true << QByteArray();
    QTest::newRow("empty-text-modbus-writes-crc-only") << 1 << false << "" << true << hex("FF FF");
    // Hex mode sends only whole valid pairs: a typo must not put unintended bytes on the line.
    QTest::newRow("hex-odd-digit-count-refused") << 0 << true << "ABC" << false << QByteArray();
    QTest::newRow("hex-non-hex-digits-refused") << 1 << true << "AB XY" << false << QByteArray();
}

void TestPortPanel::rawSending()
{
    QFETCH(int, mode);
    QFETCH(bool, hexMode);
    QFETCH(QString, text);
    QFETCH(bool, sent);
    QFETCH(QByteArray, wire);
    PseudoTerminal pty;
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    Widget w;
    QVERIFY(openPort(w, pty.slavePath()));
    setCheckMode(w, mode);
    w.ui->lineEdit_send->setText(text);
    w.ui->checkBo_hex->setChecked(hexMode);
    QSignalSpy requests(&w, &Widget::sig_send_data_main_1);
    QTest::mouseClick(w.ui->button_send, Qt::LeftButton);
    QCOMPARE(requests.count(), sent ? 1 : 0);
    if (sent) {
        QTRY_VERIFY_WITH_TIMEOUT(logLines(w).last().contains(QStringLiteral("Send:")), kWaitMs);
        QVERIFY2(logLines(w).last().endsWith(QStringLiteral("Send:") + frames::toHexText(wire)),
            qPrintable(logLines(w).last()));
        QVERIFY(redLines(w).isEmpty());
    } else {
        QCOMPARE(redLines(w).size(), 1);
        QVERIFY2(redLines(w).first().contains(text), qPrintable(redLines(w).first()));
    }
    QCOMPARE(drain(pty), wire);
    if (!sent) {
        // The refusal leaves no echo behind, and the next good frame is logged in plain colour.
        QVERIFY(!w.ui->plainTextEdit_show_data->toPlainText().contains(QStringLiteral("Send:")));
        w.ui->lineEdit_send->setText(QStringLiteral("01"));
        QTest::mouseClick(w.ui->button_send, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(logLines(w).last().contains(QStringLiteral("Send:")), kWaitMs);
        QCOMPARE(redLines(w).size(), 1);
    }
}

void TestPortPanel::timedSending()
{
    PseudoTerminal pty;
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    Widget w;
    QVERIFY(openPort(w, pty.slavePath()));
    const QByteArray frame = hex("AA 80 00 06 86");
    w.ui->lineEdit_send->setText(frames::toHexText(frame));
    w.ui->checkBo_hex->setChecked(true);
    w.ui->lineEdit_dingshi_send->setText(QStringLiteral("50"));
    QSignalSpy ticksSent(&w, &Widget::sig_send_data_main_1);

    QElapsedTimer clock;
    clock.start();
    w.ui->checkBox_dingshi_send->setChecked(true);
    QVERIFY(w.timer_dingshi_send->isActive());
    QTest::qWait(600);
    w.ui->checkBox_dingshi_send->setChecked(false);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(!w.timer_dingshi_send->isActive());
    const qsizetype ticks = ticksSent.count();
    qInfo("%lld frames in %lld ms at a 50 ms period", qint64(ticks), elapsed);
    // About 12; a loaded machine may deliver fewer ticks, but never a burst of catch-up ticks.
    QVERIFY2(ticks >= 3 && ticks <= elapsed / 50 + 2, qPrintable(QString::number(ticks)));

    // A tick already queued when the box was unchecked may still send once; nothing after that.
    QTest::qWait(300);
    QVERIFY2(ticksSent.count() <= ticks + 1, qPrintable(QString::number(ticksSent.count())));
    const QByteArray received = drain(pty);
    QCOMPARE(received, frame.repeated(ticksSent.count()));
}

void TestPortPanel::timedSendingRefusesPeriod_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("period");
    QTest::addColumn<bool>("red");
    QTest::newRow("period-zero-refused") << "AA"
                                         << "0" << true;
    QTest::newRow("period-negative-refused") << "AA"
                                             << "-5" << true;
    QTest::newRow("period-not-a-number-refused") << "AA"
                                                 << "abc" << true;
    QTest::newRow("period-empty-refused") << "AA"
                                          << "" << true;
    QTest::newRow("empty-command-starts-nothing-quietly") << ""
                                                          << "50" << false;
}

void TestPortPanel::timedSendingRefusesPeriod()
{
    QFETCH(QString, command);
    QFETCH(QString, period);
    QFETCH(bool, red);
    PseudoTerminal pty;
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    Widget w;
    QVERIFY(openPort(w, pty.slavePath()));
    w.ui->lineEdit_send->setText(command);
    w.ui->lineEdit_dingshi_send->setText(period);
    QSignalSpy requests(&w, &Widget::sig_send_data_main_1);
    w.ui->checkBox_dingshi_send->setChecked(true);
    QVERIFY(!w.timer_dingshi_send->isActive());
    QVERIFY(w.ui->checkBox_dingshi_send->isChecked());
    QCOMPARE(redLines(w).size(), red ? 1 : 0);
    if (red)
        QVERIFY2(redLines(w).first().endsWith(period), qPrintable(redLines(w).first()));
    QTest::qWait(200);
    QCOMPARE(requests.count(), 0);
    QVERIFY(drain(pty).isEmpty());
}

void TestPortPanel::repliesReachTheLog_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("language");
    QTest::addColumn<QByteArray>("request"); // what the single-measurement button puts on the line
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("result");
    const QByteArray aaRequest = hex("AA 00 00 20 00 01 00 00 21");
    const QByteArray aaReply = hex("AA 00 00 22 00 03 00 00 04 D2 00 6E 69");
    QTest::newRow("aa-measurement-english")
        << 0 << 1 << aaRequest << aaReply << "Measuring distance:1234mmSignal result：110";
    QTest::newRow("aa-measurement-chinese")
        << 0 << 0 << aaRequest << aaReply << "测量距离:1234mm信号结果：110";
    // The Modbus parser reads the reply by the request remembered in send_measure.
    QTest::newRow("modbus-measurement-english")
        << 1 << 1 << frames::appendCrc(hex("01 04 00 04 00 03"))
        << frames::appendCrc(hex("01 04 06 00 00 04 D2 00 6E"))
        << "Module measuring distance:1234mmSignal result：110";
}

void TestPortPanel::repliesReachTheLog()
{
    QFETCH(int, mode);
    QFETCH(int, language);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QString, result);
    PseudoTerminal pty;
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    Widget w;
    w.language = language;
    QVERIFY(openPort(w, pty.slavePath()));
    setCheckMode(w, mode);
    QTest::mouseClick(w.ui->button_once, Qt::LeftButton);
    QCOMPARE(pty.readExactly(request.size(), kWaitMs), request);
    QTRY_COMPARE_WITH_TIMEOUT(w.send_measure, frames::toPackedHex(request), kWaitMs);
    QVERIFY(pty.write(reply));
    QTRY_COMPARE_WITH_TIMEOUT(w.list_save_data.size(), 1, kWaitMs);
    QVERIFY2(w.ui->plainTextEdit_show_data->toPlainText().contains(result),
        qPrintable(w.ui->plainTextEdit_show_data->toPlainText()));
    QCOMPARE(w.list_save_data.first().at(2), QStringLiteral("1234"));
    QCOMPARE(w.list_save_data.first().at(3), QStringLiteral("110"));
    QCOMPARE(w.show_num, 1);
    // The next echo carries the advanced reply counter.
    QTest::mouseClick(w.ui->button_once, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(logLines(w).last().startsWith(QStringLiteral("1  [")), kWaitMs);
}

void TestPortPanel::lineDropsWhileOpen()
{
    auto pty = std::make_unique<PseudoTerminal>();
    QVERIFY2(pty->open(), qPrintable(pty->errorString()));
    Widget w;
    QVERIFY(openPort(w, pty->slavePath()));
    testsupport::MessageBoxCatcher boxes;
    StateWatch watch(w);
    pty->closeMaster();
    // The lost line, then the answer to the window's close request.
    QTRY_COMPARE_WITH_TIMEOUT(watch.states.size(), 2, kWaitMs);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.lastText(), QStringLiteral("Serial communication failure"));
    QVERIFY(!watch.states.first().error.isEmpty());
    QVERIFY(!w.serialport_state_1);
    QCOMPARE(w.ui->open_button->text(), QStringLiteral("Open Serial"));
    QVERIFY(!w.ui->port_name_show->isChecked());
    QCOMPARE(redLines(w).size(), 1);
    // The dead line must not keep reporting (a storm of read errors would mean a box each).
    QTest::qWait(300);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(watch.states.size(), 2);

    // The window stays usable: a new line opens and carries frames.
    PseudoTerminal next;
    QVERIFY2(next.open(), qPrintable(next.errorString()));
    QVERIFY(openPort(w, next.slavePath()));
    QCOMPARE(w.ui->port_name_show->text(), portObjectName(next.slavePath()));
    QTest::mouseClick(w.ui->button_read_vcc, Qt::LeftButton);
    QCOMPARE(next.readExactly(5, kWaitMs), hex("AA 80 00 06 86"));
    QCOMPARE(boxes.count(), 1);
}

void TestPortPanel::hotPlugRemoval_data()
{
    QTest::addColumn<QString>("name"); // %1 stands for the open port's device path
    QTest::addColumn<bool>("flag");
    QTest::addColumn<bool>("lineDrops"); // the device goes away under the open port as well
    QTest::addColumn<bool>("closes");
    QTest::newRow("removed-open-port-as-listed") << "<listed>" << false << false << true;
    QTest::newRow("removed-open-port-full-path") << "%1" << false << false << true;
    QTest::newRow("removed-open-port-and-line-lost") << "<listed>" << false << true << true;
    QTest::newRow("removed-other-port-ignored") << "ttyUSB9" << false << false << false;
    QTest::newRow("arrived-open-port-ignored") << "<listed>" << true << false << false;
}

void TestPortPanel::hotPlugRemoval()
{
    QFETCH(QString, name);
    QFETCH(bool, flag);
    QFETCH(bool, lineDrops);
    QFETCH(bool, closes);
    PseudoTerminal pty;
    QVERIFY2(pty.open(), qPrintable(pty.errorString()));
    Widget w;
    QVERIFY(openPort(w, pty.slavePath()));
    testsupport::MessageBoxCatcher boxes;
    StateWatch watch(w);
    const QString portName = name == QLatin1String("<listed>") ? portObjectName(pty.slavePath())
        : name.contains(QLatin1String("%1"))                   ? name.arg(pty.slavePath())
                                                               : name;
    if (lineDrops)
        pty.closeMaster(); // the worker notices too and reports the lost line on its own
    QVERIFY(QMetaObject::invokeMethod(
        &w, "on_comStatus", Qt::DirectConnection, Q_ARG(QString, portName), Q_ARG(bool, flag)));
    if (closes) {
        QTRY_VERIFY_WITH_TIMEOUT(!w.ui->port_name_show->isChecked(), kWaitMs);
        QCOMPARE(w.ui->open_button->text(), QStringLiteral("Open Serial"));
        QVERIFY(!w.serialport_state_1);
    }
    QTest::qWait(300); // a late report must not bring a second box
    QCOMPARE(boxes.count(), closes ? 1 : 0);
    if (!lineDrops)
        QVERIFY(redLines(w).isEmpty()); // the watcher's notice carries no error text
    if (closes) {
        QCOMPARE(boxes.lastTitle(), QStringLiteral("warn:"));
        QCOMPARE(boxes.lastText(), QStringLiteral("Serial communication failure"));
    } else {
        QVERIFY(w.serialport_state_1);
        QVERIFY(w.ui->port_name_show->isChecked());
        QCOMPARE(w.ui->open_button->text(), QStringLiteral("Close Serial"));
        QVERIFY(watch.states.isEmpty());
    }
}

void TestPortPanel::portListWithVirtualModule()
{
    Widget w;
    w.ui->chuankou_Box->addItem(QStringLiteral("/dev/gone stale entry"));
    QStringList system;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        system << info.portName() + QLatin1Char(' ') + info.description();
    auto entries = [&w] {
        QStringList items;
        for (int i = 0; i < w.ui->chuankou_Box->count(); ++i)
            items << w.ui->chuankou_Box->itemText(i);
        return items;
    };
    emit w.ui->chuankou_Box->clicked();
    QCOMPARE(entries(), system);

    sim::ServerOptions options;
    options.publish = true;
    sim::SimServer server;
    if (!server.start(options))
        QSKIP(qPrintable(QStringLiteral("no virtual module: ") + server.errorString()));
    emit w.ui->chuankou_Box->clicked();
    QCOMPARE(entries(), system + QStringList { server.linkPath() + " Virtual laser module" });
    QCOMPARE(w.ui->chuankou_Box->currentIndex(), 0);

    server.stop();
    emit w.ui->chuankou_Box->clicked();
    QCOMPARE(entries(), system);
}

QTEST_MAIN(TestPortPanel)
#include "tst_port_panel.moc"
