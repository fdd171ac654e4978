// The serial worker end to end over a pseudo-terminal, the test playing the module on the master
// end.
#include "frames.h"
#include "sim/pty.h"
#include "thread_1.h"

#include "testsupport.h"
#include <QSerialPort>

#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

namespace {

using testsupport::aa;
using testsupport::hex;

const QByteArray kVoltage = aa("80 00 06 00 01 0C E4");
const QByteArray kMeasure = aa("00 00 22 00 03 00 00 04 D2 00 6E");
const QByteArray kRtuMeasure = frames::appendCrc(hex("01 04 06 00 00 04 D2 00 6E"));
const QByteArray kRtuVoltage = frames::appendCrc(hex("01 04 02 0C E4"));

// Stands in for the main window: the same signals the window sends, and the worker's answers
// collected in the main thread.
class Window : public QObject
{
    Q_OBJECT
public:
    QStringList replies;
    QList<QByteArray> echoes;
    struct State
    {
        bool open;
        QString name;
        QString error;
    };
    QList<State> states;

signals:
    void sig_send_data_main_1(QByteArray);
    void sig_change_serialport_1(int, QString, int);
    void sig_jiaoyan_mode_chose(int);

public slots:
    void slot_receive_data_main_1(QString data) { replies << data; }
    void slot_show_send_data(QByteArray frame) { echoes << frame; }
    void slot_serialport_change_state_1(bool open, QString name, QString error)
    {
        states << State { open, name, error };
    }
};

// The worker, its port and its thread wired as the window wires them; the thread is started
// at once, as after the first click on the open button.
struct Rig
{
    PseudoTerminal pty;
    Window window;
    QThread thread;
    QSerialPort *port = new QSerialPort;
    Thread_1 *worker = new Thread_1(port, nullptr);
    std::atomic<int> portErrors { 0 };

    Rig()
    {
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        QObject::connect(&thread, &QThread::finished, port, &QObject::deleteLater);
        QObject::connect(&window, SIGNAL(sig_send_data_main_1(QByteArray)), worker,
            SLOT(slot_send_data_son(QByteArray)));
        QObject::connect(port, SIGNAL(readyRead()), worker, SLOT(slot_receive_data_son()));
        QObject::connect(worker, SIGNAL(sig_send_data_son(QString)), &window,
            SLOT(slot_receive_data_main_1(QString)));
        QObject::connect(&window, SIGNAL(sig_change_serialport_1(int, QString, int)), worker,
            SLOT(slot_change_serialport(int, QString, int)));
        QObject::connect(worker, &Thread_1::sig_serialport_state_change, &window,
            &Window::slot_serialport_change_state_1);
        QObject::connect(&window, SIGNAL(sig_jiaoyan_mode_chose(int)), worker,
            SLOT(slot_jiaoyan_mode_chose(int)));
        QObject::connect(
            worker, &Thread_1::sig_show_send_data, &window, &Window::slot_show_send_data);
        QObject::connect(
            port, &QSerialPort::errorOccurred, port,
            [this](QSerialPort::SerialPortError e) {
                if (e != QSerialPort::NoError)
                    ++portErrors;
            },
            Qt::DirectConnection);
        worker->moveToThread(&thread);
        port->moveToThread(&thread);
        thread.start();
    }

    ~Rig()
    {
        thread.quit();
        thread.wait();
    }

    /** Name the port object reports for the pseudo-terminal's slave end. */
    QString portName() const
    {
        QSerialPort probe;
        probe.setPortName(pty.slavePath());
        return probe.portName();
    }

    bool open(int mode = 0)
    {
        emit window.sig_jiaoyan_mode_chose(mode);
        emit window.sig_change_serialport_1(1, pty.slavePath(), 9600);
        return QTest::qWaitFor([&] { return !window.states.isEmpty(); }, 2000)
            && window.states.last().open;
    }

    bool portIsOpen()
    {
        bool open = false;
        QMetaObject::invokeMethod(
            port, [&] { open = port->isOpen(); }, Qt::BlockingQueuedConnection);
        return open;
    }
};

} // namespace

class TestThread1 : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void crcHelpers_data();
    void crcHelpers();
    void openAndClose();
    void openFailure_data();
    void openFailure();
    void writeFrame_data();
    void writeFrame();
    void frameWrittenWhileClosedIsStillEchoed();
    void replies_data();
    void replies();
    void modeChangeAppliesToNextReply();
    void lineDropWhileOpenClosesPortOnce();

private:
    bool m_havePty = false;
};

void TestThread1::init()
{
    PseudoTerminal probe;
    if (!probe.open())
        QSKIP(qPrintable("no pseudo-terminal: " + probe.errorString()));
}

void TestThread1::crcHelpers_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("crcHex");
    QTest::newRow("modbus-read-register-0-stores-840a")
        << hex("010300000001") << 0x840A << QStringLiteral("840A");
    QTest::newRow("modbus-crc-check-value-123456789")
        << QByteArray("123456789") << 0x374B << QStringLiteral("374B");
    QTest::newRow("no-bytes-stores-ffff") << QByteArray() << 0xFFFF << QStringLiteral("FFFF");
}

void TestThread1::crcHelpers()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, stored);
    QFETCH(QString, crcHex);
    Thread_1 worker(nullptr, nullptr);
    quint16 crc = 0;
    worker.GetCRC(reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size()), crc);
    QCOMPARE(int(crc), stored);
    QCOMPARE(worker.crc_hex, crcHex);
    // crc_hex read as hex text gives the bytes that follow the frame on the wire.
    const QByteArray framed = bytes + frames::fromHexText(worker.crc_hex);
    QVERIFY(
        worker.CheckCRC(reinterpret_cast<const quint8 *>(framed.constData()), int(framed.size())));
    QByteArray broken = framed;
    broken[broken.size() - 1] = char(broken.at(broken.size() - 1) ^ 0x01);
    QVERIFY(
        !worker.CheckCRC(reinterpret_cast<const quint8 *>(broken.constData()), int(broken.size())));
    QVERIFY(!worker.CheckCRC(reinterpret_cast<const quint8 *>(framed.constData()), 1));
}

void TestThread1::openAndClose()
{
    Rig rig;
    QVERIFY(rig.pty.open());
    QVERIFY(rig.open());
    QCOMPARE(rig.window.states.size(), 1);
    QCOMPARE(rig.window.states.at(0).name, rig.portName());
    QVERIFY(rig.window.states.at(0).error.isEmpty());
    QVERIFY(rig.portIsOpen());

    emit rig.window.sig_change_serialport_1(0, rig.pty.slavePath(), 9600);
    QTRY_COMPARE(rig.window.states.size(), 2);
    QVERIFY(!rig.window.states.at(1).open);
    QCOMPARE(rig.window.states.at(1).name, rig.portName());
    QVERIFY(rig.window.states.at(1).error.isEmpty());
    QVERIFY(!rig.portIsOpen());

    // Closing a closed port answers the same way.
    emit rig.window.sig_change_serialport_1(0, rig.pty.slavePath(), 9600);
    QTRY_COMPARE(rig.window.states.size(), 3);
    QVERIFY(!rig.window.states.at(2).open);
    QVERIFY(rig.window.states.at(2).error.isEmpty());
}

void TestThread1::openFailure_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing-device") << QStringLiteral("/dev/ttyTOVANDRIX-missing");
    QTest::newRow("empty-port-list-gives-empty-name") << QString();
}

void TestThread1::openFailure()
{
    QFETCH(QString, name);
    Rig rig;
    emit rig.window.sig_change_serialport_1(1, name, 9600);
    QTRY_COMPARE(rig.window.states.size(), 1);
    QVERIFY(!rig.window.states.at(0).open);
    QVERIFY(!rig.window.states.at(0).error.isEmpty());
    QVERIFY(!rig.portIsOpen());
}

void TestThread1::writeFrame_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("modbus-read-register-gets-crc-840a")
        << 1 << hex("010300000001") << hex("010300000001840A");
    QTest::newRow("modbus-empty-frame-is-ffff") << 1 << QByteArray() << hex("FFFF");
    QTest::newRow("aa-single-measurement-unchanged")
        << 0 << hex("AA0000200001000021") << hex("AA0000200001000021");
    QTest::newRow("aa-stop-byte-unchanged") << 0 << hex("58") << hex("58");
    QTest::newRow("aa-empty-frame-writes-nothing") << 0 << QByteArray() << QByteArray();
}

void TestThread1::writeFrame()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, wire);
    Rig rig;
    QVERIFY(rig.pty.open());
    QVERIFY(rig.open(mode));
    emit rig.window.sig_send_data_main_1(data);
    QTRY_COMPARE(rig.window.echoes.size(), 1);
    QCOMPARE(rig.window.echoes.at(0), wire);
    if (wire.isEmpty())
        QVERIFY(rig.pty.read(50).isEmpty());
    else
        QCOMPARE(rig.pty.readExactly(wire.size(), 2000), wire);
}

void TestThread1::frameWrittenWhileClosedIsStillEchoed()
{
    Rig rig;
    QVERIFY(rig.pty.open());
    emit rig.window.sig_jiaoyan_mode_chose(1);
    emit rig.window.sig_send_data_main_1(hex("010300000001"));
    QTRY_COMPARE(rig.window.echoes.size(), 1);
    QCOMPARE(rig.window.echoes.at(0), hex("010300000001840A"));
    QVERIFY(rig.pty.read(50).isEmpty());
}

void TestThread1::replies_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<int>("gapMs"); // pause between chunks on the line
    QTest::addColumn<QStringList>("handedUp");

    const QStringList none;
    QTest::newRow("aa-single-measurement-accepted")
        << 0 << QByteArrayList { hex("AA0000200001000021") } << 0
        << QStringList { "AA0000200001000021" };
    QTest::newRow("aa-last-byte-22-dropped")
        << 0 << QByteArrayList { hex("AA0000200001000022") } << 0 << none;
    QTest::newRow("aa-middle-sum-1f5-last-byte-f5")
        << 0 << QByteArrayList { hex("AAFFF6F5") } << 0 << QStringList { "AAFFF6F5" };
    QTest::newRow("aa-middle-sum-05-last-byte-05")
        << 0 << QByteArrayList { hex("AA020305") } << 0 << QStringList { "AA020305" };
    QTest::newRow("ee-header-same-sum-check")
        << 0 << QByteArrayList { aa("80 00 20 00 01 00 05", 0xEE) } << 0
        << QStringList { frames::toPackedHex(aa("80 00 20 00 01 00 05", 0xEE)) };
    QTest::newRow("ee-header-bad-sum-dropped")
        << 0 << QByteArrayList { hex("EE8000200001000500") } << 0 << none;
    QTest::newRow("other-header-dropped")
        << 0 << QByteArrayList { hex("AB0000200001000021") } << 0 << none;
    QTest::newRow("aa-single-byte-00-unchecked")
        << 0 << QByteArrayList { hex("00") } << 0 << QStringList { "00" };
    QTest::newRow("modbus-one-byte-dropped") << 1 << QByteArrayList { hex("00") } << 0 << none;
    QTest::newRow("modbus-ffff-is-crc-of-nothing")
        << 1 << QByteArrayList { hex("FFFF") } << 0 << QStringList { "FFFF" };
    QTest::newRow("modbus-measurement-reply-crc-kept")
        << 1 << QByteArrayList { kRtuMeasure } << 0
        << QStringList { frames::toPackedHex(kRtuMeasure) };
    QTest::newRow("modbus-bad-crc-dropped")
        << 1 << QByteArrayList { hex("010300000001840B") } << 0 << none;
    QTest::newRow("modbus-two-replies-in-a-row")
        << 1 << QByteArrayList { kRtuVoltage, kRtuMeasure } << 30
        << QStringList { frames::toPackedHex(kRtuVoltage), frames::toPackedHex(kRtuMeasure) };
    QTest::newRow("aa-two-replies-within-1ms")
        << 0 << QByteArrayList { kVoltage, kMeasure } << 0
        << QStringList { frames::toPackedHex(kVoltage), frames::toPackedHex(kMeasure) };
    QTest::newRow("modbus-two-replies-within-1ms")
        << 1 << QByteArrayList { kRtuVoltage, kRtuMeasure } << 0
        << QStringList { frames::toPackedHex(kRtuVoltage), frames::toPackedHex(kRtuMeasure) };
    QTest::newRow("aa-reply-in-two-chunks-12ms-apart")
        << 0 << QByteArrayList { kMeasure.left(5), kMeasure.mid(5) } << 12
        << QStringList { frames::toPackedHex(kMeasure) };
    QTest::newRow("aa-address-0-reply-cut-after-3-bytes")
        << 0 << QByteArrayList { kMeasure.left(3), kMeasure.mid(3) } << 12
        << QStringList { frames::toPackedHex(kMeasure) };
    QTest::newRow("modbus-reply-in-two-chunks-12ms-apart")
        << 1 << QByteArrayList { kRtuMeasure.left(4), kRtuMeasure.mid(4) } << 12
        << QStringList { frames::toPackedHex(kRtuMeasure) };
    QTest::newRow("aa-noise-between-frames-skipped")
        << 0 << QByteArrayList { kVoltage + hex("010203") + kMeasure } << 0
        << QStringList { frames::toPackedHex(kVoltage), frames::toPackedHex(kMeasure) };
    QTest::newRow("aa-tail-that-never-completes-dropped")
        << 0 << QByteArrayList { kVoltage + kMeasure.left(6) } << 0
        << QStringList { frames::toPackedHex(kVoltage) };
    QTest::newRow("modbus-tail-that-never-completes-dropped")
        << 1 << QByteArrayList { kRtuVoltage + kRtuMeasure.left(5) } << 0
        << QStringList { frames::toPackedHex(kRtuVoltage) };
}

void TestThread1::replies()
{
    QFETCH(int, mode);
    QFETCH(QByteArrayList, chunks);
    QFETCH(int, gapMs);
    QFETCH(QStringList, handedUp);
    Rig rig;
    QVERIFY(rig.pty.open());
    QVERIFY(rig.open(mode));
    for (const QByteArray &chunk : chunks) {
        QVERIFY(rig.pty.write(chunk));
        if (gapMs > 0)
            QThread::msleep(gapMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.window.replies.size(), handedUp.size(), 3000);
    // Longer than a kept tail lives: nothing else may come.
    QTest::qWait(int(rx::kTailLifeMs) * 3);
    QCOMPARE(rig.window.replies, handedUp);
}

void TestThread1::modeChangeAppliesToNextReply()
{
    Rig rig;
    QVERIFY(rig.pty.open());
    QVERIFY(rig.open(0));
    QVERIFY(rig.pty.write(hex("AA0000200001000021")));
    QTRY_COMPARE(rig.window.replies.size(), 1);

    emit rig.window.sig_jiaoyan_mode_chose(1);
    QVERIFY(rig.pty.write(hex("AA0000200001000021")));
    QTest::qWait(int(rx::kTailLifeMs) * 2);
    QCOMPARE(rig.window.replies.size(), 1);

    QVERIFY(rig.pty.write(kRtuMeasure));
    QTRY_COMPARE(rig.window.replies.size(), 2);
    QCOMPARE(rig.window.replies.at(1), frames::toPackedHex(kRtuMeasure));

    emit rig.window.sig_send_data_main_1(hex("010300000001"));
    QTRY_COMPARE(rig.window.echoes.size(), 1);
    QCOMPARE(rig.window.echoes.at(0), hex("010300000001840A"));
}

void TestThread1::lineDropWhileOpenClosesPortOnce()
{
    // The module's end of the line goes away: the port reports errors on every read from then
    // on. The worker closes at the first one and says so once, with the reason.
    Rig rig;
    QVERIFY(rig.pty.open());
    QVERIFY(rig.open());
    rig.pty.closeMaster();
    QTRY_COMPARE(rig.window.states.size(), 2);
    QTest::qWait(200);
    QCOMPARE(rig.window.states.size(), 2);
    const Window::State lost = rig.window.states.at(1);
    QVERIFY(!lost.open);
    QCOMPARE(lost.name, rig.portName());
    QVERIFY(!lost.error.isEmpty());
    QVERIFY(!rig.portIsOpen());
    QVERIFY2(rig.portErrors <= 2, qPrintable(QString::number(rig.portErrors)));
}

QTEST_GUILESS_MAIN(TestThread1)
#include "tst_thread_1.moc"
