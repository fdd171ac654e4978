// The window against a misbehaving module over a real pseudo-terminal: damaged replies, noise, a
// dropped line and a module that never answers. The oracle is the module's replies, judged here
// from the protocols' definition; while each row runs, a probe checks the window never stalls.
#include "ui_widget.h"
#include "windowrig.h"

#include "sim/pty.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using testsupport::WindowRig;

namespace {

constexpr int kTimeoutMs = 20000;
constexpr qint64 kStallMs = 500; // generous: the machine is shared

quint32 bigEndian(const QByteArray &bytes, int at, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

// The bytes of every "N  [hh:mm:ss.zzz] Receive:AA 00 ..." line of the log (or Send:).
QByteArrayList logFrames(const QString &log, const char *label = "Receive:")
{
    const QRegularExpression line(
        QStringLiteral("^\\d+  \\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] %1([0-9A-F ]+)$")
            .arg(QLatin1String(label)),
        QRegularExpression::MultilineOption);
    QByteArrayList out;
    for (auto it = line.globalMatch(log); it.hasNext();)
        out << QByteArray::fromHex(it.next().captured(1).toLatin1());
    return out;
}

// The distances in the intact measurement replies among @p replies, and those replies.
QList<qint32> intactDistances(
    const QByteArrayList &replies, int checkMode, QByteArrayList *intact = nullptr)
{
    using namespace testsupport;
    QList<qint32> out;
    for (const QByteArray &r : replies) {
        // 0xAA: AA, address, 00 22, 00 03, distance (4), signal (2), sum8 of the bytes between.
        // Modbus: address, 04, 06 bytes (distance: 2 registers, signal), CRC-16 low byte first.
        const bool aa = checkMode == 0;
        const bool intactAa = r.size() == 13 && quint8(r.at(0)) == 0xAA
            && r.mid(2, 4) == hex("00220003") && sum8(r.mid(1, 11)) == quint8(r.at(12));
        const bool intactRtu = r.size() == 11 && r.at(1) == 0x04 && r.at(2) == 0x06
            && crc16(r.left(9)) == quint16(quint8(r.at(9)) | quint8(r.at(10)) << 8);
        if (aa ? !intactAa : !intactRtu)
            continue;
        out << qint32(bigEndian(r, aa ? 6 : 3, 4));
        if (intact)
            *intact << r;
    }
    return out;
}

// One line of spaced hex per frame, so a failure shows the frames.
QString hexLines(const QByteArrayList &frames)
{
    QStringList lines;
    for (const QByteArray &frame : frames)
        lines << QString::fromLatin1(frame.toHex(' '));
    return lines.join(QLatin1Char('\n'));
}

QList<qint32> recordedDistances(const WindowRig &rig)
{
    QList<qint32> out;
    for (const core::Record &r : rig.w.session().records())
        out << (r.isError() ? -1 : r.value);
    return out;
}

// Ticks every 10 ms in the window's thread and keeps the longest time between two ticks.
class StallProbe : public QObject
{
public:
    StallProbe()
    {
        connect(&m_timer, &QTimer::timeout, this,
            [this] { m_longest = qMax(m_longest, m_clock.restart()); });
        m_clock.start();
        m_timer.start(10);
    }
    /** @brief The longest time the window's event loop went without running the probe. */
    qint64 longestMs() const { return qMax(m_longest, m_clock.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

// A module at 115200 baud (or @p baudCode) with faults on every Nth reply (0: never).
sim::ServerOptions moduleOptions(int corruptEvery = 0, int dropEvery = 0, int noiseEvery = 0,
    int noiseGapMs = 10, int baudCode = 7, int chunkMs = 0)
{
    sim::ServerOptions o;
    o.module.baudCode = baudCode;
    o.chunkMs = chunkMs;
    // Unpaced, a burst goes out in one write, so a busy machine cannot put a pause inside it; the
    // adapter rows keep the line's timing, and the pauses of their chunks.
    o.pacing = chunkMs > 0;
    o.corruptEvery = corruptEvery;
    o.dropEvery = dropEvery;
    o.noiseEvery = noiseEvery;
    o.noiseBytes = 5;
    o.noiseGapMs = noiseGapMs; // under 5 ms the burst runs into the reply
    o.module.queryLatencyMs = 1;
    o.module.measuringTimeMs = { 37, 37, 37 }; // 5 ms off the 16 ms adapter tick: the cut moves
    // Every result differs from the one before, so a lost or swapped one shows.
    o.module.model = sim::DistanceModel::Ramp;
    o.module.distanceMm = 1000;
    o.module.rampStepMm = 3;
    return o;
}

} // namespace

Q_DECLARE_METATYPE(sim::ServerOptions)

class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void onlyIntactRepliesBecomeRecords_data();
    void onlyIntactRepliesBecomeRecords();
    void lineDropDuringContinuousRun_data();
    void lineDropDuringContinuousRun();
    void moduleNeverAnswers_data();
    void moduleNeverAnswers();
};

void TestFaults::initTestCase()
{
    PseudoTerminal probe;
    if (!probe.open())
        QSKIP(qPrintable(QStringLiteral("no pseudo-terminal: ") + probe.errorString()));
}

void TestFaults::onlyIntactRepliesBecomeRecords_data()
{
    QTest::addColumn<int>("checkMode"); // 0: a 0xAA continuous run, 1: Modbus single measurements
    QTest::addColumn<sim::ServerOptions>("o");
    QTest::addColumn<int>("count"); // replies to wait for
    QTest::newRow("aa-every-3rd-sum-flipped") << 0 << moduleOptions(3) << 40;
    // The lost middle byte is a 00 of the distance: the sum still holds, the length does not.
    QTest::newRow("aa-every-4th-loses-middle-byte") << 0 << moduleOptions(0, 4) << 40;
    QTest::newRow("aa-noise-bursts-apart") << 0 << moduleOptions(0, 0, 2) << 40;
    QTest::newRow("aa-noise-bursts-run-into-replies") << 0 << moduleOptions(0, 0, 3, 0) << 40;
    QTest::newRow("aa-all-faults-at-once") << 0 << moduleOptions(7, 3, 5, 0) << 60;
    // The adapter's tick cuts flipped replies anywhere, also right after their first bytes.
    QTest::newRow("aa-9600-16ms-chunks-every-2nd-sum-flipped")
        << 0 << moduleOptions(2, 0, 0, 10, 3, 16) << 40;
    QTest::newRow("modbus-every-3rd-crc-flipped") << 1 << moduleOptions(3) << 12;
    QTest::newRow("modbus-every-3rd-loses-middle-byte") << 1 << moduleOptions(0, 3) << 12;
    QTest::newRow("modbus-noise-bursts-apart") << 1 << moduleOptions(0, 0, 2, 8) << 12;
    QTest::newRow("modbus-noise-bursts-run-into-replies") << 1 << moduleOptions(0, 0, 2, 0) << 12;
}

void TestFaults::onlyIntactRepliesBecomeRecords()
{
    QFETCH(int, checkMode);
    QFETCH(sim::ServerOptions, o);
    QFETCH(int, count);
    WindowRig rig;
    QVERIFY(rig.open(o, checkMode));
    StallProbe probe;

    if (checkMode == 0) {
        rig.click("button_continue");
        QTRY_VERIFY_WITH_TIMEOUT(rig.replies.size() >= count, kTimeoutMs);
        rig.click("button_continue");
        // Replies reach this thread in the order the module sent them, before it read the stop.
        QTRY_VERIFY_WITH_TIMEOUT(rig.received.endsWith('\x58'), kTimeoutMs);
    } else {
        for (int i = 0; i < count; ++i) {
            rig.click("button_once");
            QVERIFY(rig.waitForReplies(i + 1, kTimeoutMs));
        }
    }
    QVERIFY(rig.waitForReplies(int(rig.replies.size())));

    QByteArrayList intact;
    const QList<qint32> distances = intactDistances(rig.replies, checkMode, &intact);
    QVERIFY2(intact.size() < rig.replies.size() || o.noiseEvery > 0, "the fault never struck");
    QTRY_COMPARE_WITH_TIMEOUT(recordedDistances(rig), distances, kTimeoutMs);
    // Noise and damaged replies are not shown as replies either.
    QCOMPARE(hexLines(logFrames(rig.log())), hexLines(intact));
    QCOMPARE(rig.boxes.count(), 0);
    QVERIFY(rig.w.serialport_state_1);
    QVERIFY2(probe.longestMs() <= kStallMs, qPrintable(QString::number(probe.longestMs())));
}

void TestFaults::lineDropDuringContinuousRun_data()
{
    QTest::addColumn<sim::ServerOptions>("o");
    QTest::addColumn<int>("dropAfter"); // replies before the line drops
    QTest::newRow("aa-line-drops-after-25-replies") << moduleOptions() << 25;
    QTest::newRow("aa-9600-16ms-chunks-line-drops-after-6-replies")
        << moduleOptions(0, 0, 0, 10, 3, 16) << 6;
}

void TestFaults::lineDropDuringContinuousRun()
{
    QFETCH(sim::ServerOptions, o);
    QFETCH(int, dropAfter);
    o.disconnectAfter = dropAfter;
    WindowRig rig;
    QVERIFY(rig.open(o, 0));
    const QString port = rig.server.slavePath();
    StallProbe probe;

    rig.click("button_continue");
    QTRY_VERIFY_WITH_TIMEOUT(!rig.w.serialport_state_1, kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig.boxes.count(), 1, kTimeoutMs);
    QCOMPARE(rig.boxes.lastText(), QStringLiteral("Serial communication failure"));
    // One red line: the port ("pts/N") and the port's own words. A stream's lines reach the log
    // at the end of its frame, which a busy machine may run after the box came up.
    QTRY_COMPARE_WITH_TIMEOUT(
        testsupport::redLines(rig.w.ui->plainTextEdit_show_data).size(), 1, kTimeoutMs);
    const QStringList red = testsupport::redLines(rig.w.ui->plainTextEdit_show_data);
    QVERIFY2(red.first().startsWith(port.mid(int(qstrlen("/dev/"))) + QLatin1String(": ")),
        qPrintable(red.first()));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.w.ui->port_name_show->isChecked(), kTimeoutMs);
    QCOMPARE(rig.replies.size(), dropAfter);
    QList<qint32> distances = intactDistances(rig.replies, 0);
    QCOMPARE(distances.size(), dropAfter);
    QCOMPARE(recordedDistances(rig), distances);

    // Opened again on a sound line, the window measures on and keeps the records so far.
    o.disconnectAfter = 0;
    QVERIFY(rig.open(o, 0));
    rig.click("button_once");
    QVERIFY(rig.waitForReplies(dropAfter + 1));
    distances = intactDistances(rig.replies, 0);
    QCOMPARE(distances.size(), dropAfter + 1);
    QTRY_COMPARE_WITH_TIMEOUT(recordedDistances(rig), distances, kTimeoutMs);
    QCOMPARE(rig.boxes.count(), 1);
    QCOMPARE(testsupport::redLines(rig.w.ui->plainTextEdit_show_data).size(), 1);
    QVERIFY2(probe.longestMs() <= kStallMs, qPrintable(QString::number(probe.longestMs())));
}

void TestFaults::moduleNeverAnswers_data()
{
    QTest::addColumn<int>("checkMode");
    QTest::newRow("aa-module-at-address-9-never-answers") << 0;
    QTest::newRow("modbus-module-at-address-9-never-answers") << 1;
}

void TestFaults::moduleNeverAnswers()
{
    QFETCH(int, checkMode);
    sim::ServerOptions o = moduleOptions();
    o.module.address = 9; // the window asks address 0 (0xAA) or 1 (Modbus)
    o.module.modbusAddress = 9;
    WindowRig rig;
    QVERIFY(rig.open(o, checkMode));
    StallProbe probe;

    for (int i = 0; i < 5; ++i) {
        rig.click("button_once");
        rig.click("button_read_vcc");
    }
    // Every frame the log says was sent reached the module.
    QTRY_COMPARE_WITH_TIMEOUT(logFrames(rig.log(), "Send:").size(), 10, kTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(rig.received, logFrames(rig.log(), "Send:").join(), kTimeoutMs);
    QTest::qWait(300); // ten times the module's time to answer
    QVERIFY(rig.replies.isEmpty());
    QVERIFY(rig.w.session().records().isEmpty());
    QVERIFY(logFrames(rig.log()).isEmpty());
    QCOMPARE(rig.boxes.count(), 0);
    QVERIFY(rig.w.serialport_state_1);
    QVERIFY2(probe.longestMs() <= kStallMs, qPrintable(QString::number(probe.longestMs())));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
