// Faults on the line end to end: the real window on a pseudo-terminal with a virtual module that
// drops the line, sends noise, damages or loses bytes, floods the line, stays silent or answers
// from another address.
#include "ui_widget.h"
#include "widget.h"

#include "frames.h"
#include "rxsplitter.h"
#include "sim/pty.h"
#include "sim/simserver.h"
#include "sim/virtualmodule.h"
#include "testsupport.h"
#include "thread_1.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <functional>

namespace {

constexpr int kBaudIndex115200 = 7; ///< in botelv_Box, and the module's baud-rate code
constexpr int kDistanceMm = 1234;
constexpr int kProbeMs = 10;

const QByteArray kAaSingle = QByteArray::fromHex("AA0000200001000021");
const QByteArray kRtuSingle = frames::appendCrc(QByteArray::fromHex("010400040003"));

/** A measurement reply the window must record: whole, checked, of the measurement's length. */
bool isValidMeasurement(const QByteArray &reply, int mode)
{
    if (!rx::acceptsWhole(reply, mode))
        return false;
    if (mode == rx::kModeSum8)
        return reply.size() == 13 && quint8(reply.at(0)) == 0xAA && reply.at(3) == 0x22;
    return reply.size() == 11 && reply.at(1) == 0x04 && reply.at(2) == 0x06;
}

/**
 * Ticks in the window's thread and keeps the longest time between two ticks: how long the window
 * could not have answered the operator.
 */
class ResponseProbe : public QObject
{
public:
    ResponseProbe()
    {
        m_timer.setInterval(kProbeMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.elapsed();
            m_longest = qMax(m_longest, now - m_last);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    qint64 longestGapMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

/** Replies as the module put them on the line, faults applied, gathered in the test's thread. */
class SentReplies : public QObject
{
public:
    void watch(sim::SimServer &server)
    {
        connect(&server, &sim::SimServer::replySent, this,
            [this](const QByteArray &bytes) { all << bytes; });
    }
    int validMeasurements(int mode) const
    {
        int n = 0;
        for (const QByteArray &r : all)
            n += isValidMeasurement(r, mode) ? 1 : 0;
        return n;
    }
    QList<QByteArray> all;
};

/**
 * A hand-made module for the faults the virtual module's server has no option for: a thread on
 * the master end of its own pseudo-terminal runs @p body until asked to stop.
 */
class LineThread
{
public:
    using Body = std::function<void(PseudoTerminal &, const std::atomic<bool> &stop)>;
    explicit LineThread(Body body)
        : m_body(std::move(body))
    {
    }
    ~LineThread() { stop(); }
    bool open() { return m_pty.open(); }
    QString slavePath() const { return m_pty.slavePath(); }
    void start()
    {
        m_thread.reset(QThread::create([this] { m_body(m_pty, m_stop); }));
        m_thread->start();
    }
    void stop()
    {
        m_stop = true;
        if (m_thread)
            m_thread->wait();
    }

private:
    Body m_body;
    PseudoTerminal m_pty;
    std::atomic<bool> m_stop { false };
    std::unique_ptr<QThread> m_thread;
};

/** The window with its port opened on @p path in check mode @p mode. */
struct Window
{
    Widget w;
    testsupport::MessageBoxCatcher boxes;

    bool open(const QString &path, int mode)
    {
        w.ui->jiaoyan_mode->setCurrentIndex(mode);
        emit w.ui->jiaoyan_mode->activated(mode);
        w.ui->chuankou_Box->addItem(path);
        w.ui->chuankou_Box->setCurrentIndex(w.ui->chuankou_Box->count() - 1);
        w.ui->botelv_Box->setCurrentIndex(kBaudIndex115200);
        QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
        return QTest::qWaitFor([this] { return w.serialport_state_1; }, 5000);
    }
    void click(QAbstractButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
    int records() const { return int(w.list_save_data.size()); }
    QString log() const { return w.ui->plainTextEdit_show_data->toPlainText(); }
    int logLines(const QString &tag) const { return int(log().count(tag)); }
    /** Echoes of a single byte: noise that passes as a one-byte reply, never a record. */
    int oneByteEchoes() const
    {
        static const QRegularExpression oneByte(
            QStringLiteral("Receive:[0-9A-F]{2}$"), QRegularExpression::MultilineOption);
        return int(log().count(oneByte));
    }
    QString seen() const
    {
        return QStringLiteral("%1 reply lines (%2 a lone noise byte), no warning")
            .arg(logLines(QStringLiteral("Receive:")))
            .arg(oneByteEchoes());
    }
    /** Records with any other distance than the module measures: invalid replies let through. */
    int wrongRecords() const
    {
        int n = 0;
        for (const QList<QString> &r : w.list_save_data)
            n += r.value(2) == QString::number(kDistanceMm) ? 0 : 1;
        return n;
    }
};

sim::ServerOptions moduleOptions()
{
    sim::ServerOptions o;
    o.module.baudCode = kBaudIndex115200;
    o.module.distanceMm = kDistanceMm;
    o.module.queryLatencyMs = 1;
    o.module.measuringTimeMs = { 20, 20, 20 };
    return o;
}

/** Waits until @p condition holds or @p ms passed, the window's events running. */
bool waitFor(const std::function<bool()> &condition, int ms = 10000)
{
    return QTest::qWaitFor(condition, ms);
}

// Every result of one scenario, printed as a row of the fault table.
void report(const char *fault, const Window &win, int expected, const ResponseProbe &probe,
    const QString &seen)
{
    qInfo("| %s | %s | %d | %d | %lld |", fault, qPrintable(seen), expected, win.records(),
        probe.longestGapMs());
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void continuousRun_data();
    void continuousRun();
    void singleMeasurements_data();
    void singleMeasurements();
    void disconnectDuringContinuousRun();
    void garbageWithoutSilence_data();
    void garbageWithoutSilence();
    void moduleNeverAnswers_data();
    void moduleNeverAnswers();
    void repliesFromOtherAddress_data();
    void repliesFromOtherAddress();
};

void TestFaults::continuousRun_data()
{
    QTest::addColumn<int>("noiseEvery");
    QTest::addColumn<int>("noiseBytes");
    QTest::addColumn<int>("noiseGapMs");
    QTest::addColumn<int>("corruptEvery");
    QTest::addColumn<int>("dropEvery");
    QTest::newRow("aa-noise-bursts-apart") << 2 << 6 << 10 << 0 << 0;
    QTest::newRow("aa-noise-bursts-glued-to-replies") << 3 << 5 << 0 << 0 << 0;
    QTest::newRow("aa-corrupted-sums") << 0 << 0 << 0 << 3 << 0;
    QTest::newRow("aa-dropped-bytes") << 0 << 0 << 0 << 0 << 4;
    QTest::newRow("aa-all-at-once") << 5 << 4 << 0 << 7 << 3;
}

void TestFaults::continuousRun()
{
    QFETCH(int, noiseEvery);
    QFETCH(int, noiseBytes);
    QFETCH(int, noiseGapMs);
    QFETCH(int, corruptEvery);
    QFETCH(int, dropEvery);
    sim::ServerOptions o = moduleOptions();
    o.noiseEvery = noiseEvery;
    o.noiseBytes = noiseBytes;
    o.noiseGapMs = noiseGapMs;
    o.corruptEvery = corruptEvery;
    o.dropEvery = dropEvery;
    sim::SimServer server;
    SentReplies sent;
    sent.watch(server);
    QVERIFY2(server.start(o), qPrintable(server.errorString()));
    Window win;
    QVERIFY(win.open(server.slavePath(), 0));
    ResponseProbe probe;

    win.click(win.w.ui->button_continue);
    QVERIFY(waitFor([&] { return sent.all.size() >= 60; }));
    win.click(win.w.ui->button_continue); // stop
    QVERIFY(waitFor([&] { return server.counters().requests >= 2; }));
    QTest::qWait(300); // the last replies on the way
    const int expected = sent.validMeasurements(0);
    QTRY_COMPARE(win.records(), expected);
    QCOMPARE(win.wrongRecords(), 0);
    QVERIFY2(expected < sent.all.size() || noiseEvery > 0, "the fault never struck");
    QVERIFY2(probe.longestGapMs() < 1000, qPrintable(QString::number(probe.longestGapMs())));
    QCOMPARE(win.boxes.count(), 0);
    report(QTest::currentDataTag(), win, expected, probe, win.seen());
}

void TestFaults::singleMeasurements_data()
{
    QTest::addColumn<int>("corruptEvery");
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<int>("noiseEvery");
    QTest::newRow("modbus-corrupted-crcs") << 3 << 0 << 0;
    QTest::newRow("modbus-dropped-bytes") << 0 << 3 << 0;
    QTest::newRow("modbus-noise-bursts") << 0 << 0 << 2;
}

void TestFaults::singleMeasurements()
{
    QFETCH(int, corruptEvery);
    QFETCH(int, dropEvery);
    QFETCH(int, noiseEvery);
    sim::ServerOptions o = moduleOptions();
    o.corruptEvery = corruptEvery;
    o.dropEvery = dropEvery;
    o.noiseEvery = noiseEvery;
    o.noiseBytes = 6;
    o.noiseGapMs = 8;
    sim::SimServer server;
    SentReplies sent;
    sent.watch(server);
    QVERIFY2(server.start(o), qPrintable(server.errorString()));
    Window win;
    QVERIFY(win.open(server.slavePath(), 1));
    ResponseProbe probe;

    constexpr int kRequests = 30;
    for (int i = 0; i < kRequests; ++i) {
        win.click(win.w.ui->button_once);
        QVERIFY(waitFor([&] { return sent.all.size() > i; }, 3000));
        QTest::qWait(40);
    }
    QTest::qWait(200);
    const int expected = sent.validMeasurements(1);
    QCOMPARE(sent.all.size(), kRequests);
    QVERIFY2(expected < kRequests || noiseEvery > 0, "the fault never struck");
    QTRY_COMPARE(win.records(), expected);
    QCOMPARE(win.wrongRecords(), 0);
    QVERIFY2(probe.longestGapMs() < 1000, qPrintable(QString::number(probe.longestGapMs())));
    report(QTest::currentDataTag(), win, expected, probe, win.seen());
}

void TestFaults::disconnectDuringContinuousRun()
{
    sim::ServerOptions o = moduleOptions();
    o.disconnectAfter = 25;
    sim::SimServer server;
    SentReplies sent;
    sent.watch(server);
    QVERIFY2(server.start(o), qPrintable(server.errorString()));
    Window win;
    QVERIFY(win.open(server.slavePath(), 0));
    ResponseProbe probe;

    win.click(win.w.ui->button_continue);
    QVERIFY(waitFor([&] { return !win.w.serialport_state_1; }));
    QTRY_COMPARE(win.boxes.count(), 1);
    QCOMPARE(win.boxes.lastTitle(), QStringLiteral("warn:"));
    QCOMPARE(win.boxes.lastText(), QStringLiteral("Serial communication failure"));
    QTRY_COMPARE(win.w.ui->open_button->text(), QStringLiteral("Open Serial"));
    QCOMPARE(sent.validMeasurements(0), 25);
    QTRY_COMPARE(win.records(), 25);
    QCOMPARE(win.wrongRecords(), 0);

    // The operator stops the run and opens the port again: the window still works.
    win.click(win.w.ui->button_continue);
    QTest::qWait(200);
    QCOMPARE(win.records(), 25);
    QCOMPARE(win.boxes.count(), 1);
    QVERIFY2(probe.longestGapMs() < 1000, qPrintable(QString::number(probe.longestGapMs())));
    report("aa-line-drops-after-25-replies", win, 25, probe,
        QStringLiteral("box \"%1\", red line with the port's error, port shown closed")
            .arg(win.boxes.lastText()));
}

void TestFaults::garbageWithoutSilence_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("aa-1-mib-garbage-no-silence") << 0;
    QTest::newRow("modbus-1-mib-garbage-no-silence") << 1;
}

void TestFaults::garbageWithoutSilence()
{
    QFETCH(int, mode);
    constexpr qsizetype kGarbage = 1024 * 1024;
    constexpr int kEmbedded = 16;
    // The valid replies come from the module's own logic; the garbage has no byte that could
    // start a frame, so every record must come from those replies.
    sim::ModuleSettings settings;
    settings.distanceMm = kDistanceMm;
    sim::VirtualModule module(settings);
    const QList<sim::Reply> made = module.feed(mode == 0 ? kAaSingle : kRtuSingle, 0);
    QCOMPARE(made.size(), 1);
    const QByteArray reply = made.first().bytes;
    QVERIFY(isValidMeasurement(reply, mode));

    QByteArray stream;
    stream.reserve(kGarbage + kEmbedded * reply.size());
    QRandomGenerator random(7);
    const qsizetype stretch = kGarbage / kEmbedded;
    for (int k = 0; k < kEmbedded; ++k) {
        for (qsizetype i = 0; i < stretch; ++i) {
            quint8 b;
            do {
                b = quint8(random.bounded(256));
                // No 0xAA/0xEE header; no Modbus function code (0x01..0x10, or with bit 7).
            } while (
                mode == 0 ? (b == 0xAA || b == 0xEE) : (b <= 0x10 || (b >= 0x80 && b <= 0x90)));
            stream.append(char(b));
        }
        stream.append(reply);
    }
    QCOMPARE(rx::split(stream, mode, true).frames.size(), kEmbedded);

    std::atomic<bool> started { false };
    LineThread line([&](PseudoTerminal &pty, const std::atomic<bool> &stop) {
        // 4 KiB at a time, back to back: the port never sees 5 ms without a byte.
        for (qsizetype at = 0; at < stream.size() && !stop; at += 4096)
            pty.write(stream.mid(at, 4096));
        started = true;
        while (!stop)
            pty.read(50);
    });
    QVERIFY(line.open());
    Window win;
    QVERIFY(win.open(line.slavePath(), mode));
    if (mode == 1)
        win.click(win.w.ui->button_once); // the Modbus reply is read as the answer to it
    ResponseProbe probe;
    QElapsedTimer clock;
    clock.start();
    line.start();
    QVERIFY(waitFor([&] { return started.load(); }, 60000));
    QTRY_COMPARE_WITH_TIMEOUT(win.records(), kEmbedded, 10000);
    const qint64 ms = clock.elapsed();
    QTest::qWait(200);
    QCOMPARE(win.records(), kEmbedded);
    QCOMPARE(win.wrongRecords(), 0);
    QCOMPARE(win.logLines(QStringLiteral("Receive:")), kEmbedded); // the garbage is not shown
    // Every byte went through the worker: the garbage was read and thrown away, not lost on the
    // way (the counters belong to the worker's thread, so they are read there).
    rx::Counters counters;
    QVERIFY(QMetaObject::invokeMethod(
        win.w.thread_1_son, [&] { counters = win.w.thread_1_son->counters(); },
        Qt::BlockingQueuedConnection));
    QCOMPARE(counters.droppedBytes, qint64(stream.size() - kEmbedded * reply.size()));
    QVERIFY(win.w.serialport_state_1);
    QCOMPARE(win.boxes.count(), 0);
    QVERIFY2(probe.longestGapMs() < 1000, qPrintable(QString::number(probe.longestGapMs())));
    report(QTest::currentDataTag(), win, kEmbedded, probe,
        QStringLiteral("%1 reply lines, no garbage shown, no warning; 1 MiB taken in %2 ms")
            .arg(win.logLines(QStringLiteral("Receive:")))
            .arg(ms));
}

void TestFaults::moduleNeverAnswers_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("aa-module-never-answers") << 0;
    QTest::newRow("modbus-module-never-answers") << 1;
}

void TestFaults::moduleNeverAnswers()
{
    QFETCH(int, mode);
    // The module listens at another address than the window sends to.
    sim::ServerOptions o = moduleOptions();
    o.module.address = 9;
    o.module.modbusAddress = 9;
    sim::SimServer server;
    SentReplies sent;
    sent.watch(server);
    QVERIFY2(server.start(o), qPrintable(server.errorString()));
    Window win;
    QVERIFY(win.open(server.slavePath(), mode));
    ResponseProbe probe;

    constexpr int kClicks = 20;
    for (int i = 0; i < kClicks; ++i) {
        win.click(win.w.ui->button_once);
        win.click(win.w.ui->button_read_vcc);
        QTest::qWait(20);
    }
    QVERIFY(waitFor([&] { return server.counters().bytesReceived > 0; }));
    QTest::qWait(300);
    QCOMPARE(sent.all.size(), 0);
    QCOMPARE(win.records(), 0);
    QCOMPARE(win.logLines("Send:"), 2 * kClicks);
    QCOMPARE(win.logLines("Receive:"), 0);
    QVERIFY(win.w.serialport_state_1);
    QCOMPARE(win.boxes.count(), 0);
    QVERIFY2(probe.longestGapMs() < 1000, qPrintable(QString::number(probe.longestGapMs())));
    report(QTest::currentDataTag(), win, 0, probe,
        QStringLiteral("%1 sent frames echoed, no reply line, no warning")
            .arg(win.logLines(QStringLiteral("Send:"))));
}

void TestFaults::repliesFromOtherAddress_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("aa-replies-from-address-5") << 0;
    QTest::newRow("modbus-replies-from-address-5") << 1;
}

void TestFaults::repliesFromOtherAddress()
{
    QFETCH(int, mode);
    constexpr int kOther = 5;
    // The module answers every request, but under another address than the one asked; the
    // frames are sound, so each is a reply, shown with its address in the echo.
    std::atomic<int> written { 0 };
    LineThread line([&](PseudoTerminal &pty, const std::atomic<bool> &stop) {
        sim::ModuleSettings settings;
        settings.distanceMm = kDistanceMm;
        settings.queryLatencyMs = 0;
        settings.measuringTimeMs = { 0, 0, 0 };
        sim::VirtualModule module(settings);
        QElapsedTimer clock;
        clock.start();
        while (!stop) {
            const QByteArray in = pty.read(20);
            if (in.isEmpty())
                continue;
            for (const sim::Reply &r : module.feed(in, clock.elapsed())) {
                QByteArray bytes = r.bytes;
                if (mode == 0) {
                    bytes[1] = char((quint8(bytes.at(1)) & 0x80) | kOther);
                    bytes.chop(1);
                    bytes.append(char(frames::sum8(bytes.constData() + 1, bytes.size() - 1)));
                } else {
                    bytes[0] = char(kOther);
                    bytes = frames::appendCrc(bytes.left(bytes.size() - 2));
                }
                pty.write(bytes);
                ++written;
            }
        }
    });
    QVERIFY(line.open());
    line.start();
    Window win;
    QVERIFY(win.open(line.slavePath(), mode));
    ResponseProbe probe;

    constexpr int kClicks = 20;
    for (int i = 0; i < kClicks; ++i) {
        win.click(win.w.ui->button_once);
        QVERIFY(waitFor([&] { return written.load() > i; }, 3000));
        QTest::qWait(20);
    }
    QTRY_COMPARE(win.records(), kClicks);
    QTest::qWait(100);
    QCOMPARE(win.records(), kClicks);
    QCOMPARE(win.wrongRecords(), 0);
    const QString echo
        = mode == 0 ? QStringLiteral("Receive:AA 05 00 22") : QStringLiteral("Receive:05 04 06");
    QCOMPARE(win.logLines(echo), kClicks);
    QVERIFY2(probe.longestGapMs() < 1000, qPrintable(QString::number(probe.longestGapMs())));
    report(QTest::currentDataTag(), win, kClicks, probe,
        QStringLiteral("%1 reply lines showing address 05, recorded like any reply")
            .arg(win.logLines(QStringLiteral("Receive:"))));
}

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
