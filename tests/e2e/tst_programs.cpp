// The programs as a user starts them: tovandrix-sim's command line, a run answered on its
// pseudo-terminal and ended with Ctrl+C, and the window program shown and closed off screen.
#include "testsupport.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int kTimeoutMs = 20000;

QString program(const char *name)
{
    return testsupport::binaryDir() + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

class TestPrograms : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void simCommandLine_data();
    void simCommandLine();
    void simServesUntilInterrupted();
    void windowShowsAndCloses_data();
    void windowShowsAndCloses();

private:
    QTemporaryDir m_runtime;
    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
};

void TestPrograms::initTestCase()
{
    for (const char *name : { "tovandrix", "tovandrix-sim" }) {
        if (!QFileInfo(program(name)).isExecutable())
            QSKIP(qPrintable(program(name) + QStringLiteral(" not built (TOVANDRIX_BINARY_DIR?)")));
    }
    QVERIFY(m_runtime.isValid());
    // The programs publish their links and keep Qt's runtime files here, not in the user's.
    m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
}

void TestPrograms::simCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("mentions"); // on stdout for status 0, else on stderr
    QTest::newRow("help-lists-the-options")
        << QStringList { "--help" } << 0
        << QStringList { "--address", "--modbus-address", "--baud", "--chunk", "--corrupt-every",
               "--drop-every", "--noise-every", "--disconnect-after", "--no-publish" };
    QTest::newRow("unknown-option-refused")
        << QStringList { "--frobnicate" } << 2 << QStringList { "frobnicate", "--help" };
    QTest::newRow("address-128-refused")
        << QStringList { "--address", "128" } << 2 << QStringList { "--address", "128" };
    QTest::newRow("modbus-address-0-refused")
        << QStringList { "--modbus-address", "0" } << 2 << QStringList { "--modbus-address" };
    QTest::newRow("baud-1200-not-offered")
        << QStringList { "--baud", "1200" } << 2 << QStringList { "--baud", "1200" };
    QTest::newRow("stray-argument")
        << QStringList { "/dev/ttyUSB0" } << 2 << QStringList { "/dev/ttyUSB0" };
}

void TestPrograms::simCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, mentions);
    QProcess sim;
    sim.setProcessEnvironment(m_env);
    sim.start(program("tovandrix-sim"), arguments);
    QVERIFY(sim.waitForFinished(kTimeoutMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(sim.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
    // A refused command line starts nothing: it says why and prints nothing else.
    QVERIFY2(exitCode == 0 ? err.isEmpty() : out.isEmpty(), qPrintable(out + err));
    for (const QString &word : mentions)
        QVERIFY2((exitCode == 0 ? out : err).contains(word), qPrintable(word + ":\n" + out + err));
}

void TestPrograms::simServesUntilInterrupted()
{
    QProcess sim;
    sim.setProcessEnvironment(m_env);
    sim.start(program("tovandrix-sim"), QStringList());
    QVERIFY(sim.waitForStarted(kTimeoutMs));
    QString out;
    while (!out.contains(QStringLiteral("Published as")) && sim.waitForReadyRead(kTimeoutMs))
        out += QString::fromLocal8Bit(sim.readAllStandardOutput());
    const QRegularExpressionMatch pts
        = QRegularExpression(QStringLiteral(" on (/dev/pts/\\d+) ")).match(out);
    QVERIFY2(pts.hasMatch() && out.contains(QStringLiteral("Published as ") + m_runtime.path()),
        qPrintable(out));

    // One request on its line: the voltage read of the 0xAA protocol at address 0.
    QSerialPort port;
    port.setPortName(pts.captured(1));
    port.setBaudRate(9600);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    const QByteArray request = testsupport::aa("80 00 06");
    port.write(request);
    QByteArray reply;
    while (reply.size() < 9 && port.waitForReadyRead(kTimeoutMs))
        reply += port.readAll();
    // Header, address with the read flag, register, one word: 3300 mV as BCD; then the sum.
    QCOMPARE(reply.toHex(' '), testsupport::aa("80 00 06 00 01 33 00").toHex(' '));
    port.close();

    ::kill(pid_t(sim.processId()), SIGINT);
    QVERIFY(sim.waitForFinished(kTimeoutMs));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    out += QString::fromLocal8Bit(sim.readAllStandardOutput());
    QVERIFY2(out.endsWith(QStringLiteral(
                 "\ntovandrix-sim: received 1 request (5 bytes), sent 1 reply (9 bytes)\n")),
        qPrintable(out));
    QCOMPARE(sim.readAllStandardError(), QByteArray());
}

void TestPrograms::windowShowsAndCloses_data()
{
    QTest::addColumn<QString>("closeAfterMs");
    QTest::newRow("closes-after-300-ms") << "300";
    QTest::newRow("closes-at-once") << "0";
}

void TestPrograms::windowShowsAndCloses()
{
    QFETCH(QString, closeAfterMs);
    QProcessEnvironment env = m_env;
    env.insert(QStringLiteral("TOVANDRIX_CLOSE_AFTER_MS"), closeAfterMs);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess window;
    window.setProcessEnvironment(env);
    window.start(program("tovandrix"), QStringList());
    QVERIFY(window.waitForFinished(kTimeoutMs));
    QCOMPARE(window.exitStatus(), QProcess::NormalExit);
    QCOMPARE(window.exitCode(), 0);
    QCOMPARE(window.readAllStandardOutput(), QByteArray("shown\n"));
    // Nothing but what Qt's offscreen platform itself says when the window's layout sets its
    // minimum size (a desktop platform passes that on silently).
    QStringList err = QString::fromLocal8Bit(window.readAllStandardError()).split(u'\n');
    err.removeAll(QStringLiteral("This plugin does not support propagateSizeHints()"));
    err.removeAll(QString());
    QCOMPARE(err, QStringList());
}

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
