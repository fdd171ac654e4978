// The serial worker in a thread of its own over a real pseudo-terminal, the test playing the
// module on the master end with exact bytes and timing.
#include "io/thread_1.h"
#include "sim/pty.h"

#include "testsupport.h"

#include <QSemaphore>
#include <QSerialPort>
#include <QTest>
#include <QThread>

using testsupport::aa;
using testsupport::hex;
using testsupport::rtu;
using Frames = QList<QByteArray>;

namespace {

const QByteArray kVoltage = aa("80 00 06 00 01 0C E4");
const QByteArray kMeasure = testsupport::aaMeasurement(1234, 110);
const QByteArray kRtuVoltage = rtu("01 04 02 0C E4");
const QByteArray kRtuMeasure = rtu("01 04 06 00 00 04 D2 00 6E");

// What QSerialPort calls the port opened by this path (it drops "/dev/").
QString portNameOf(const QString &path)
{
    QSerialPort probe;
    probe.setPortName(path);
    return probe.portName();
}

// The window's side: the worker and its port in their own thread, wired as the window wires
// them, the requests sent as queued signals and everything the worker says collected here.
struct Rig : QObject
{
    Q_OBJECT
public:
    PseudoTerminal pty;
    QThread thread;
    QSerialPort *port = new QSerialPort;
    Thread_1 *worker = new Thread_1(port, nullptr);
    Frames replies, echoes;
    QStringList texts;
    QList<QVariantList> states; // open, port name, error

    Rig()
    {
        connect(this, &Rig::setPort, worker, &Thread_1::slot_change_serialport);
        connect(this, &Rig::setMode, worker, &Thread_1::slot_jiaoyan_mode_chose);
        connect(this, &Rig::send, worker, &Thread_1::slot_send_data_son);
        connect(worker, &Thread_1::replyReceived, this, [this](QByteArray r) { replies << r; });
        connect(worker, &Thread_1::sig_send_data_son, this, [this](QString t) { texts << t; });
        connect(worker, &Thread_1::sig_show_send_data, this, [this](QByteArray f) { echoes << f; });
        connect(worker, &Thread_1::sig_serialport_state_change, this,
            [this](bool open, QString name, QString error) {
                states << QVariantList { open, name, error };
            });
        io::runInThread(worker, port, &thread);
        pty.open();
    }
    ~Rig() override
    {
        thread.quit();
        thread.wait();
    }
    bool open(int mode)
    {
        emit setMode(mode);
        const qsizetype before = states.size();
        emit setPort(1, pty.slavePath(), 9600);
        return QTest::qWaitFor([&] { return states.size() > before; }, 5000)
            && states.last().at(0).toBool();
    }

signals:
    void setPort(int state, QString name, int baudRate);
    void setMode(int mode);
    void send(QByteArray frame);
};

} // namespace

class TestWorker : public QObject
{
    Q_OBJECT
private slots:

    void openFailure()
    {
        const QString path = QStringLiteral("/dev/ttyTOVANDRIX-missing");
        Rig rig;
        emit rig.setPort(1, path, 9600);
        QTRY_COMPARE_WITH_TIMEOUT(rig.states.size(), 1, 5000);
        QCOMPARE(rig.states.at(0).mid(0, 2), (QVariantList { false, portNameOf(path) }));
        QVERIFY(!rig.states.at(0).at(2).toString().isEmpty());
    }

    void portStates()
    {
        Rig rig;
        QVERIFY(rig.open(0));
        const QString name = portNameOf(rig.pty.slavePath());
        QCOMPARE(rig.states, (QList<QVariantList> { { true, name, QString() } }));
        // Closing twice answers the same both times.
        for (int closes = 1; closes <= 2; ++closes) {
            emit rig.setPort(0, rig.pty.slavePath(), 9600);
            QTRY_COMPARE_WITH_TIMEOUT(rig.states.size(), 1 + closes, 5000);
            QCOMPARE(rig.states.last(), (QVariantList { false, name, QString() }));
        }
        // Reopened, it reads again.
        QVERIFY(rig.open(0));
        QVERIFY(rig.pty.write(kVoltage));
        QTRY_COMPARE_WITH_TIMEOUT(rig.replies, Frames { kVoltage }, 5000);
        // The line drops: said once (the port closed at once), with the reason.
        rig.pty.closeMaster();
        QTRY_COMPARE_WITH_TIMEOUT(rig.states.size(), 5, 5000);
        QTest::qWait(300);
        QCOMPARE(rig.states.size(), 5);
        QCOMPARE(rig.states.last().mid(0, 2), (QVariantList { false, name }));
        QVERIFY(!rig.states.last().at(2).toString().isEmpty());
    }

    void replies_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<Frames>("pieces");
        QTest::addColumn<int>("gapMs"); // silence after each piece
        QTest::addColumn<Frames>("handedUp");
        QTest::newRow("aa-reply-then-silence-handed-up-once")
            << 0 << Frames { kMeasure } << 0 << Frames { kMeasure };
        QTest::newRow("rtu-reply-in-mode-1-handed-up-once")
            << 1 << Frames { kRtuMeasure } << 0 << Frames { kRtuMeasure };
        QTest::newRow("two-aa-replies-back-to-back-split")
            << 0 << Frames { kVoltage + kMeasure } << 0 << Frames { kVoltage, kMeasure };
        QTest::newRow("two-rtu-replies-back-to-back-split")
            << 1 << Frames { kRtuVoltage + kRtuMeasure } << 0
            << Frames { kRtuVoltage, kRtuMeasure };
        QTest::newRow("aa-reply-in-two-pieces-12ms-apart-joined")
            << 0 << Frames { kMeasure.left(5), kMeasure.mid(5) } << 12 << Frames { kMeasure };
        QTest::newRow("noise-between-replies-dropped")
            << 0 << Frames { kVoltage + hex("01 02 03") + kMeasure } << 0
            << Frames { kVoltage, kMeasure };
        QTest::newRow("replies-and-noise-apart-noise-dropped")
            << 0 << Frames { kVoltage, hex("01 02"), kMeasure } << 12
            << Frames { kVoltage, kMeasure };
    }

    void replies()
    {
        QFETCH(int, mode);
        QFETCH(Frames, pieces);
        QFETCH(int, gapMs);
        QFETCH(Frames, handedUp);
        Rig rig;
        QVERIFY(rig.open(mode));
        for (const QByteArray &piece : pieces) {
            QVERIFY(rig.pty.write(piece));
            QThread::msleep(gapMs);
        }
        QTRY_COMPARE_WITH_TIMEOUT(rig.replies.size(), handedUp.size(), 5000);
        QTest::qWait(
            int(core::rx::kTailLifeMs) * 3); // longer than a kept tail lives: nothing more comes
        QCOMPARE(rig.replies, handedUp);
        QCOMPARE(rig.texts.join(""), QString(handedUp.join().toHex().toUpper())); // packed hex
    }

    // A kept first piece is given up only once the worker has looked at the port: its rest,
    // waiting there while the worker's thread could not run, still completes it.
    void heldOff_data()
    {
        QTest::addColumn<int>("holdMs"); // the worker's thread blocked from just after the piece
        QTest::addColumn<int>("restAfterMs");
        QTest::addColumn<Frames>("handedUp");
        QTest::newRow("rest-waiting-while-worker-held-300ms-joined")
            << 300 << 20 << Frames { kMeasure };
        QTest::newRow("rest-150ms-late-worker-free-dropped") << 0 << 150 << Frames {};
    }
    void heldOff()
    {
        QFETCH(int, holdMs);
        QFETCH(int, restAfterMs);
        QFETCH(Frames, handedUp);
        Rig rig;
        QVERIFY(rig.open(0));
        QVERIFY(rig.pty.write(kMeasure.left(5)));
        // Until its silence has ended, the piece is only being gathered, not kept.
        bool gathering = true;
        for (int tries = 0; gathering && tries < 500; ++tries) {
            QThread::msleep(2);
            QMetaObject::invokeMethod(
                rig.worker,
                [&gathering, worker = rig.worker] {
                    gathering = !worker->buffer_receive.isEmpty();
                },
                Qt::BlockingQueuedConnection);
        }
        QVERIFY(!gathering);
        QSemaphore held, release;
        if (holdMs > 0) {
            QMetaObject::invokeMethod(rig.worker, [&] {
                held.release();
                release.acquire();
            });
            held.acquire();
        }
        QThread::msleep(restAfterMs);
        QVERIFY(rig.pty.write(kMeasure.mid(5)));
        QThread::msleep(qMax(0, holdMs - restAfterMs));
        release.release();
        QTest::qWait(int(core::rx::kTailLifeMs) * 3);
        QCOMPARE(rig.replies, handedUp);
    }

    void writes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("port"); // 1 open, 0 never opened, -1 opened and closed again
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("echo"); // on the wire too while the port is open
        const QByteArray read = hex("01 03 00 00 00 01");
        QTest::newRow("mode-0-aa-frame-unchanged")
            << 0 << 1 << aa("00 00 20 00 01 00 00") << aa("00 00 20 00 01 00 00");
        QTest::newRow("mode-1-crc-appended-low-byte-first") << 1 << 1 << read << rtu(read);
        QTest::newRow("never-opened-echoed-not-written") << 1 << 0 << read << rtu(read);
        QTest::newRow("closed-echoed-not-written") << 1 << -1 << read << rtu(read);
    }

    void writes()
    {
        QFETCH(int, mode);
        QFETCH(int, port);
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, echo);
        Rig rig;
        emit rig.setMode(mode);
        if (port != 0)
            QVERIFY(rig.open(mode));
        if (port < 0)
            emit rig.setPort(0, rig.pty.slavePath(), 9600);
        emit rig.send(frame);
        QTRY_COMPARE_WITH_TIMEOUT(rig.echoes, Frames { echo }, 5000);
        if (port > 0)
            QCOMPARE(rig.pty.readExactly(echo.size(), 5000), echo);
        QVERIFY(rig.pty.read(100).isEmpty());
    }

    void longStreamHandedUpWithoutSilence()
    {
        // Replies follow each other closer than the silence: once more than 512 bytes pile up, the
        // complete ones come out while the stream still runs, all of them, in order.
        Rig rig;
        QVERIFY(rig.open(0));
        Frames sent;
        bool handedUpMidStream = false;
        for (int i = 0; i < 4000 && !handedUpMidStream; ++i) {
            sent << testsupport::aaMeasurement(100000 + i * 7, qint16(i));
            QVERIFY(rig.pty.write(sent.last()));
            QThread::usleep(300);
            QCoreApplication::processEvents();
            handedUpMidStream
                = !rig.replies.isEmpty() && i * sent.last().size() > core::rx::kStreamLimit;
        }
        QVERIFY(handedUpMidStream);
        QTRY_COMPARE_WITH_TIMEOUT(rig.replies.size(), sent.size(), 10000);
        QCOMPARE(rig.replies, sent);
        QCOMPARE(rig.texts.join(""), QString(sent.join().toHex().toUpper()));
    }
};

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
