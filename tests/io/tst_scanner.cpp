// The scanner over a real pseudo-terminal against virtual modules that answer only at their own
// line speed: found, not found, cancelled, garbage, several modules.
#include "io/portscanner.h"
#include "sim/simserver.h"

#include "testsupport.h"

#include <QSerialPort>
#include <QSignalSpy>
#include <QTest>

using core::scan::Target;
using Targets = QList<Target>;

namespace {
struct Run
{
    Targets found;
    int probes = 0;
    bool cancelled = false;
    QString error;
};

Run scanFor(const QString &port, const core::scan::Plan &plan, bool all, int cancelAt = -1)
{
    io::PortScanner scanner;
    Run run;
    QObject::connect(&scanner, &io::PortScanner::probing, [&](int index, int, const Target &) {
        run.probes = index + 1;
        if (index == cancelAt)
            scanner.cancel();
    });
    QObject::connect(&scanner, &io::PortScanner::found, [&](const Target &t) { run.found << t; });
    QSignalSpy finished(&scanner, &io::PortScanner::finished);
    scanner.start(port, core::scan::order(plan), all, plan.answerMs);
    if (!finished.wait(60000))
        return { {}, -1, false, "no end" };
    run.cancelled = finished.first().at(1).toBool();
    run.error = finished.first().at(2).toString();
    return run;
}
} // namespace

core::scan::Target T(int baud, int mode, int address)
{
    return { baud, core::CheckMode(mode), address };
}

QList<core::CheckMode> checkModes(const QList<int> &modes)
{
    QList<core::CheckMode> out;
    for (const int m : modes)
        out << core::CheckMode(m);
    return out;
}

class TestScanner : public QObject
{
    Q_OBJECT
private slots:
    void scan_data()
    {
        QTest::addColumn<int>("moduleBaud");
        QTest::addColumn<int>("aaAddress");
        QTest::addColumn<int>("modbusAddress");
        QTest::addColumn<QList<int>>("extraAddresses");
        QTest::addColumn<bool>("streaming"); // measuring continuously before the scan starts
        QTest::addColumn<QList<int>>("bauds");
        QTest::addColumn<QList<int>>("modes");
        QTest::addColumn<bool>("all");
        QTest::addColumn<int>("cancelAt");
        QTest::addColumn<Targets>("found");
        const QList<int> none { 0 }, crc { 1 }, both { 0, 1 };
        QTest::newRow("modbus-address-7-at-19200-after-9600")
            << 19200 << 3 << 7 << QList<int>() << false << QList<int> { 9600, 19200 } << crc
            << false << -1 << Targets { T(19200, 1, 7) };
        QTest::newRow("aa-address-5-at-2400-first-of-both-modes")
            << 2400 << 5 << 9 << QList<int>() << false << QList<int> { 115200, 2400 } << both
            << false << -1 << Targets { T(2400, 0, 5) };
        QTest::newRow("not-at-the-speeds-tried")
            << 4800 << 0 << 1 << QList<int>() << false << QList<int> { 9600, 2400 } << both << false
            << -1 << Targets();
        QTest::newRow("streaming-garbage-at-wrong-speeds-is-no-module")
            << 2400 << 0 << 1 << QList<int>() << true << QList<int> { 9600, 4800, 19200 } << none
            << true << -1 << Targets();
        QTest::newRow("all-finds-two-modules-on-one-line")
            << 9600 << 2 << 2 << QList<int> { 4 } << false << QList<int> { 9600 } << none << true
            << -1 << Targets { T(9600, 0, 2), T(9600, 0, 4) };
        QTest::newRow("cancelled-half-way")
            << 9600 << 6 << 1 << QList<int>() << false << QList<int> { 9600 } << none << false << 3
            << Targets();
    }
    void scan()
    {
        QFETCH(int, moduleBaud);
        QFETCH(int, aaAddress);
        QFETCH(int, modbusAddress);
        QFETCH(QList<int>, extraAddresses);
        QFETCH(bool, streaming);
        QFETCH(QList<int>, bauds);
        QFETCH(QList<int>, modes);
        QFETCH(bool, all);
        QFETCH(int, cancelAt);
        QFETCH(Targets, found);
        sim::ServerOptions options;
        options.strictSpeed = true;
        options.module.baudCode = core::protocol::baudCode(moduleBaud).value_or(-1);
        options.module.address = aaAddress;
        options.module.modbusAddress = modbusAddress;
        options.module.continuousRate = sim::kWireSpeed;
        for (const int address : extraAddresses) {
            sim::ModuleSettings more = options.module;
            more.address = more.modbusAddress = address;
            options.moreModules << more;
        }
        sim::SimServer server;
        QVERIFY2(server.start(options), qPrintable(server.errorString()));
        const QString port = server.slavePath();
        if (streaming) { // started at the right speed, then left running
            QSerialPort line(port);
            line.setBaudRate(moduleBaud);
            QVERIFY(line.open(QIODevice::ReadWrite));
            line.write(testsupport::aa("00 00 20 00 01 00 04"));
            QTRY_VERIFY(server.counters().replies > 3);
        }
        const quint64 sentBefore = server.counters().bytesSent;

        const Run run = scanFor(
            port, { bauds, checkModes(modes), std::make_optional(qMakePair(0, 8)) }, all, cancelAt);
        QCOMPARE(run.error, QString());
        QCOMPARE(run.found, found);
        QCOMPARE(run.cancelled, cancelAt >= 0);
        if (cancelAt >= 0)
            QCOMPARE(run.probes, cancelAt + 1);
        if (streaming) // the scan heard plenty of garbled bytes
            QVERIFY(server.counters().bytesSent > sentBefore + 100);
        // The port is free again for the front-end to open.
        QSerialPort after(port);
        QVERIFY(after.open(QIODevice::ReadWrite));
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
