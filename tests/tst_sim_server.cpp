// The virtual module served on a real pseudo-terminal: replies on the line, pacing, latency,
// adapter chunking, each fault, and the published link coming and going.
#include "frames.h"
#include "sim/publish.h"
#include "sim/simserver.h"

#include "testsupport.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

using testsupport::hex;

/** The program's end of the line, read with time stamps. */
class HostLine
{
public:
    struct Chunk
    {
        qint64 atNs;
        QByteArray bytes;
    };

    ~HostLine()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool open(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0)
            return false;
        termios raw {};
        ::tcgetattr(m_fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(m_fd, TCSANOW, &raw);
        m_clock.start();
        return true;
    }

    void write(const QByteArray &bytes)
    {
        QCOMPARE(::write(m_fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    /** Reads until @p count bytes arrived, @p ms passed or the line dropped. */
    QList<Chunk> read(qsizetype count, int ms)
    {
        QList<Chunk> chunks;
        qsizetype got = 0;
        const qint64 end = m_clock.nsecsElapsed() + qint64(ms) * 1000000;
        while (got < count && !hungUp) {
            const qint64 left = (end - m_clock.nsecsElapsed()) / 1000000;
            pollfd p { m_fd, POLLIN, 0 };
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
                break;
            char buf[4096];
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                chunks.append({ m_clock.nsecsElapsed(), QByteArray(buf, n) });
                got += n;
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                hungUp = true;
            }
        }
        return chunks;
    }

    static QByteArray joined(const QList<Chunk> &chunks)
    {
        QByteArray all;
        for (const Chunk &c : chunks)
            all += c.bytes;
        return all;
    }

    qint64 nowNs() const { return m_clock.nsecsElapsed(); }
    bool hungUp = false;

private:
    int m_fd = -1;
    QElapsedTimer m_clock;
};

sim::ServerOptions quickOptions()
{
    sim::ServerOptions o;
    o.module.queryLatencyMs = 0;
    o.module.measuringTimeMs = { 0, 0, 0 };
    o.pacing = false;
    return o;
}

/** Clusters of chunks with less than @p gapMs between them: what a 5 ms gatherer would see. */
QList<QByteArray> bursts(const QList<HostLine::Chunk> &chunks, int gapMs)
{
    QList<QByteArray> out;
    qint64 last = -1;
    for (const HostLine::Chunk &c : chunks) {
        if (last < 0 || c.atNs - last >= qint64(gapMs) * 1000000)
            out.append(QByteArray());
        out.last() += c.bytes;
        last = c.atNs;
    }
    return out;
}

} // namespace

class TestSimServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void pacing_data();
    void pacing();
    void latency_data();
    void latency();
    void chunking();
    void faults_data();
    void faults();
    void noiseBurst();
    void disconnectAfter();
    void publishedLink();
    void staleLinks_data();
    void staleLinks();

private:
    QTemporaryDir m_runtime;
};

void TestSimServer::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestSimServer::pacing_data()
{
    // Back-to-back continuous results: the time from the first byte to the last is
    // (bytes - 1) x 10 bit times.
    QTest::addColumn<bool>("pacing");
    QTest::addColumn<QByteArray>("setBaud");
    QTest::addColumn<int>("baud");
    QTest::newRow("9600-baud") << true << QByteArray() << 9600;
    QTest::newRow("115200-after-set-baud-code-7")
        << true << hex("AA 00 00 14 00 01 00 07 1C") << 115200;
    QTest::newRow("no-pacing-much-faster-than-9600") << false << QByteArray() << 0;
}

void TestSimServer::pacing()
{
    QFETCH(bool, pacing);
    QFETCH(QByteArray, setBaud);
    QFETCH(int, baud);
    sim::ServerOptions o = quickOptions();
    o.pacing = pacing;
    o.module.baudCode = 3;
    o.module.continuousRate = sim::kWireSpeed;
    sim::SimServer server;
    QVERIFY(server.start(o));
    HostLine host;
    QVERIFY(host.open(server.slavePath()));
    if (!setBaud.isEmpty()) {
        host.write(setBaud);
        // The echo itself still goes out at the old speed.
        const QList<HostLine::Chunk> echo = host.read(setBaud.size(), 2000);
        QCOMPARE(HostLine::joined(echo), setBaud);
        const double oldSpeedNs = (setBaud.size() - echo.first().bytes.size()) * 10 * 1e9 / 9600;
        QVERIFY(echo.last().atNs - echo.first().atNs > oldSpeedNs * 0.8);
        QCOMPARE(server.moduleSettings().baudCode, 7);
    }
    constexpr int kFrames = 20;
    constexpr int kBytes = kFrames * 13;
    host.write(hex("AA 00 00 20 00 01 00 06 27"));
    const QList<HostLine::Chunk> chunks = host.read(kBytes, 5000);
    host.write(hex("58"));
    const QByteArray all = HostLine::joined(chunks);
    QVERIFY(all.size() >= kBytes);
    // The first chunk may hold several bytes; its stamp is that of its last byte.
    const qint64 spanNs = chunks.last().atNs - chunks.first().atNs;
    const qsizetype bytesAfterFirst = kBytes - chunks.first().bytes.size();
    if (baud == 0) {
        // Unpaced, the whole series may come in one read: compare with all of it at 9600.
        const double allAtNineSixHundredNs = kBytes * 10 * 1e9 / 9600;
        QVERIFY2(spanNs < allAtNineSixHundredNs / 2, qPrintable(QString::number(spanNs / 1e6)));
        return;
    }
    const double expectedNs = bytesAfterFirst * 10 * 1e9 / baud;
    qInfo("%lld bytes in %.2f ms, expected %.2f ms", qlonglong(bytesAfterFirst), spanNs / 1e6,
        expectedNs / 1e6);
    QVERIFY(spanNs > expectedNs * 0.8);
    // Only the lower bound says "paced"; the upper one just catches a stalled line, with room
    // for a loaded machine.
    QVERIFY(spanNs < expectedNs * 3 + 50e6);
}

void TestSimServer::latency_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("latencyMs");
    QTest::newRow("aa-single-slow-150ms") << hex("AA 00 00 20 00 01 00 01 22") << 150;
    QTest::newRow("aa-single-fast-30ms") << hex("AA 00 00 20 00 01 00 02 23") << 30;
}

void TestSimServer::latency()
{
    QFETCH(QByteArray, request);
    QFETCH(int, latencyMs);
    sim::ServerOptions o = quickOptions();
    o.module.measuringTimeMs = { 500, 150, 30 };
    sim::SimServer server;
    QVERIFY(server.start(o));
    HostLine host;
    QVERIFY(host.open(server.slavePath()));
    const qint64 sent = host.nowNs();
    host.write(request);
    const QList<HostLine::Chunk> chunks = host.read(13, 2000);
    QCOMPARE(HostLine::joined(chunks).size(), 13);
    const double ms = (chunks.first().atNs - sent) / 1e6;
    QVERIFY2(ms >= latencyMs - 1 && ms < latencyMs + 300, qPrintable(QString::number(ms)));
}

void TestSimServer::chunking()
{
    // At 9600 baud a byte leaves every 1.04 ms; a 50 ms latency timer turns that trickle into
    // bursts 50 ms apart.
    sim::ServerOptions o = quickOptions();
    o.pacing = true;
    o.chunkMs = 50;
    o.module.continuousRate = sim::kWireSpeed;
    sim::SimServer server;
    QVERIFY(server.start(o));
    HostLine host;
    QVERIFY(host.open(server.slavePath()));
    host.write(hex("AA 00 00 20 00 01 00 06 27"));
    const QList<QByteArray> got = bursts(host.read(100000, 420), 20);
    host.write(hex("58"));
    QVERIFY2(got.size() >= 5 && got.size() <= 10, qPrintable(QString::number(got.size())));
    for (int i = 1; i + 1 < got.size(); ++i)
        QVERIFY2(got[i].size() >= 30, qPrintable(QString::number(got[i].size())));
}

void TestSimServer::faults_data()
{
    QTest::addColumn<int>("corruptEvery");
    QTest::addColumn<int>("dropEvery");
    QTest::addColumn<int>("errorEvery");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QList<QByteArray>>("replies");
    const QByteArray voltage = hex("AA 80 00 06 00 01 33 00 BA");
    const QByteArray modbusVoltage = hex("01 04 02 33 00 AD C0");
    const QByteArray measure = hex("AA 00 00 20 00 01 00 00 21");
    const QByteArray result = hex("AA 00 00 22 00 03 00 00 04 D2 00 6E 69");

    QTest::newRow("aa-corrupt-every-reply")
        << 1 << 0 << 0 << hex("AA 80 00 06 86")
        << QList<QByteArray> { hex("AA 80 00 06 00 01 33 00 45"),
               hex("AA 80 00 06 00 01 33 00 45") };
    QTest::newRow("modbus-corrupt-every-2nd-reply")
        << 2 << 0 << 0 << hex("01 04 00 01 00 01 60 0A")
        << QList<QByteArray> { modbusVoltage, hex("01 04 02 33 00 AD 3F") };
    QTest::newRow("aa-drop-middle-byte-every-2nd-reply")
        << 0 << 2 << 0 << hex("AA 80 00 06 86")
        << QList<QByteArray> { voltage, hex("AA 80 00 06 01 33 00 BA") };
    QTest::newRow("error-every-2nd-measurement")
        << 0 << 0 << 2 << measure
        << QList<QByteArray> { result, hex("EE 00 00 00 00 01 00 04 05") };
}

void TestSimServer::faults()
{
    QFETCH(int, corruptEvery);
    QFETCH(int, dropEvery);
    QFETCH(int, errorEvery);
    QFETCH(QByteArray, request);
    QFETCH(QList<QByteArray>, replies);
    sim::ServerOptions o = quickOptions();
    o.corruptEvery = corruptEvery;
    o.dropEvery = dropEvery;
    o.module.errorEvery = errorEvery;
    sim::SimServer server;
    QVERIFY(server.start(o));
    HostLine host;
    QVERIFY(host.open(server.slavePath()));
    for (const QByteArray &expected : replies) {
        host.write(request);
        const QByteArray got = HostLine::joined(host.read(expected.size(), 2000));
        QCOMPARE(frames::toHexText(got), frames::toHexText(expected));
    }
}

void TestSimServer::noiseBurst()
{
    // Noise, then more than the 5 ms that ends a reply, then the reply itself intact.
    sim::ServerOptions o = quickOptions();
    o.noiseEvery = 1;
    o.noiseBytes = 4;
    o.noiseGapMs = 15;
    sim::SimServer server;
    QVERIFY(server.start(o));
    HostLine host;
    QVERIFY(host.open(server.slavePath()));
    host.write(hex("AA 80 00 06 86"));
    const QList<QByteArray> got = bursts(host.read(13, 2000), 5);
    QCOMPARE(got.size(), 2);
    QCOMPARE(got[0].size(), 4);
    QCOMPARE(got[1], hex("AA 80 00 06 00 01 33 00 BA"));
    QTRY_COMPARE(server.counters().bytesSent, quint64(13));
}

void TestSimServer::disconnectAfter()
{
    sim::ServerOptions o = quickOptions();
    o.disconnectAfter = 2;
    sim::SimServer server;
    // Queued into this thread: the server emits from its own.
    int dropped = 0;
    connect(&server, &sim::SimServer::disconnected, this, [&dropped] { ++dropped; });
    QVERIFY(server.start(o));
    HostLine host;
    QVERIFY(host.open(server.slavePath()));
    for (int i = 0; i < 2; ++i) {
        host.write(hex("AA 80 00 06 86"));
        QCOMPARE(HostLine::joined(host.read(9, 2000)), hex("AA 80 00 06 00 01 33 00 BA"));
    }
    host.write(hex("AA 80 00 06 86"));
    QVERIFY(HostLine::joined(host.read(9, 2000)).isEmpty());
    QVERIFY(host.hungUp);
    QTRY_COMPARE(dropped, 1);
}

void TestSimServer::publishedLink()
{
    QVERIFY(sim::publishedPorts().isEmpty());
    sim::ServerOptions o = quickOptions();
    o.publish = true;
    sim::SimServer first, second;
    QVERIFY(first.start(o));
    QVERIFY(second.start(o));
    const QString folder = m_runtime.path() + QStringLiteral("/tovandrix");
    QCOMPARE(first.linkPath(), folder + QStringLiteral("/ttyVM0"));
    QCOMPARE(second.linkPath(), folder + QStringLiteral("/ttyVM1"));
    QList<sim::PublishedPort> ports = sim::publishedPorts();
    QCOMPARE(ports.size(), 2);
    QCOMPARE(ports[0].linkPath, first.linkPath());
    QCOMPARE(ports[0].targetPath, first.slavePath());

    // The window opens the link path with QSerialPort, as it would a system port.
    QSerialPort port;
    port.setPortName(first.linkPath());
    port.setBaudRate(9600);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.write(hex("AA 80 00 06 86"));
    QByteArray got;
    while (got.size() < 9 && port.waitForReadyRead(2000))
        got += port.readAll();
    QCOMPARE(got, hex("AA 80 00 06 00 01 33 00 BA"));
    port.close();

    first.stop();
    ports = sim::publishedPorts();
    QCOMPARE(ports.size(), 1);
    QCOMPARE(ports[0].linkPath, second.linkPath());
    QVERIFY(!QFileInfo(folder + QStringLiteral("/ttyVM0")).isSymLink());
    second.stop();
    QVERIFY(sim::publishedPorts().isEmpty());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot),
        QStringList());
}

void TestSimServer::staleLinks_data()
{
    QTest::addColumn<bool>("withLockFile");
    QTest::addColumn<bool>("lockHeld");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("removed");
    QTest::newRow("link-without-lock-removed") << false << false << "/dev/null" << true;
    QTest::newRow("lock-nobody-holds-removed") << true << false << "/dev/null" << true;
    QTest::newRow("held-lock-but-terminal-gone-skipped-kept")
        << true << true << "/dev/pts/nonexistent" << false;
}

void TestSimServer::staleLinks()
{
    QFETCH(bool, withLockFile);
    QFETCH(bool, lockHeld);
    QFETCH(QString, target);
    QFETCH(bool, removed);
    const QString folder = sim::publishFolder();
    QVERIFY(QDir().mkpath(folder));
    const QString link = folder + QStringLiteral("/ttyVM7");
    QVERIFY(QFile::link(target, link));
    int lockFd = -1;
    if (withLockFile) {
        lockFd = ::open(QFile::encodeName(link + ".lock").constData(), O_RDWR | O_CREAT, 0600);
        QVERIFY(lockFd >= 0);
        if (lockHeld)
            QCOMPARE(::flock(lockFd, LOCK_EX | LOCK_NB), 0);
    }
    QVERIFY(sim::publishedPorts().isEmpty());
    QCOMPARE(!QFileInfo(link).isSymLink(), removed);
    if (lockFd >= 0)
        ::close(lockFd);
    QFile::remove(link);
    QFile::remove(link + ".lock");
}

QTEST_GUILESS_MAIN(TestSimServer)
#include "tst_sim_server.moc"
