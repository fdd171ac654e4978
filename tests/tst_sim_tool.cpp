// tovandrix-sim as a program: a bad command line is refused with status 2, and a run publishes
// its link, answers on it, and on SIGTERM removes it and prints its summary.
#include "frames.h"
#include "sim/publish.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString simProgram()
{
    return qEnvironmentVariable("TOVANDRIX_BINARY_DIR") + QStringLiteral("/tovandrix-sim");
}

} // namespace

class TestSimTool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void badCommandLine_data();
    void badCommandLine();
    void runPublishAnswerAndStop();

private:
    QTemporaryDir m_runtime;
};

void TestSimTool::initTestCase()
{
    if (!QFileInfo(simProgram()).isExecutable())
        QSKIP("tovandrix-sim not found: run through CTest, which sets TOVANDRIX_BINARY_DIR");
    QVERIFY(m_runtime.isValid());
    // The program and this test look in the same runtime folder.
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestSimTool::badCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("unknown-option") << QStringList { "--frobnicate" } << "frobnicate";
    QTest::newRow("address-above-127") << QStringList { "--address", "128" } << "--address";
    QTest::newRow("modbus-address-0-is-broadcast")
        << QStringList { "--modbus-address", "0" } << "--modbus-address";
    QTest::newRow("baud-not-offered") << QStringList { "--baud", "1200" } << "--baud";
    QTest::newRow("model-unknown") << QStringList { "--model", "sine" } << "--model";
    QTest::newRow("rate-not-a-number") << QStringList { "--rate", "fast" } << "--rate";
    QTest::newRow("latency-needs-three-times")
        << QStringList { "--latency", "80,20" } << "--latency";
    QTest::newRow("range-reversed") << QStringList { "--range", "500:100" } << "--range";
    QTest::newRow("serial-not-hex") << QStringList { "--serial", "xyz" } << "--serial";
    QTest::newRow("value-missing") << QStringList { "--distance" } << "distance";
    QTest::newRow("stray-argument") << QStringList { "/dev/ttyUSB0" } << "/dev/ttyUSB0";
}

void TestSimTool::badCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, mentions);
    QProcess sim;
    sim.start(simProgram(), arguments);
    QVERIFY(sim.waitForFinished(10000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
    QVERIFY2(err.contains(mentions), qPrintable(err));
    QVERIFY(sim.readAllStandardOutput().isEmpty());
}

void TestSimTool::runPublishAnswerAndStop()
{
    QProcess sim;
    sim.start(simProgram(), { "--query-latency", "0" });
    QVERIFY(sim.waitForStarted());
    QString out;
    while (!out.contains(QStringLiteral("Published as")) && sim.waitForReadyRead(5000))
        out += QString::fromLocal8Bit(sim.readAllStandardOutput());
    const auto pts = QRegularExpression(QStringLiteral("on (/dev/pts/\\d+) ")).match(out);
    const auto link = QRegularExpression(QStringLiteral("Published as (\\S+)")).match(out);
    QVERIFY2(pts.hasMatch() && link.hasMatch(), qPrintable(out));
    QCOMPARE(link.captured(1), m_runtime.path() + QStringLiteral("/tovandrix/ttyVM0"));
    const QList<sim::PublishedPort> ports = sim::publishedPorts();
    QCOMPARE(ports.size(), 1);
    QCOMPARE(ports[0].targetPath, pts.captured(1));

    QSerialPort port;
    port.setPortName(link.captured(1));
    port.setBaudRate(9600);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.write(frames::fromHexText(QStringLiteral("AA 80 00 06 86")));
    QByteArray got;
    while (got.size() < 9 && port.waitForReadyRead(2000))
        got += port.readAll();
    QCOMPARE(frames::toHexText(got), QStringLiteral("AA 80 00 06 00 01 33 00 BA"));
    port.close();

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.exitCode(), 0);
    out += QString::fromLocal8Bit(sim.readAllStandardOutput());
    QVERIFY2(out.contains(QStringLiteral(
                 "tovandrix-sim: received 1 request (5 bytes), sent 1 reply (9 bytes)")),
        qPrintable(out));
    QVERIFY(!QFileInfo(link.captured(1)).isSymLink());
    QVERIFY(sim::publishedPorts().isEmpty());
}

QTEST_GUILESS_MAIN(TestSimTool)
#include "tst_sim_tool.moc"
