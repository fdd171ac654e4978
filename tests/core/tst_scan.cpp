// Finding a module at unknown settings: the order of the probes, their frames and waits, which
// bytes prove a module, and the command line's lists.
#include "core/scan.h"

#include "testsupport.h"

#include <QRandomGenerator>
#include <QTest>

using core::scan::Target;
using testsupport::aa;
using testsupport::hex;
using testsupport::rtu;
using Targets = QList<Target>;
using Range = std::optional<QPair<int, int>>;

Target T(int baud, int mode, int address)
{
    return { baud, core::CheckMode(mode), address };
}
Q_DECLARE_METATYPE(Range)

class TestScan : public QObject
{
    Q_OBJECT
private slots:
    void order_data()
    {
        QTest::addColumn<QList<int>>("bauds");
        QTest::addColumn<QList<int>>("modes");
        QTest::addColumn<Range>("range");
        QTest::addColumn<Targets>("head"); // the first targets, in order
        QTest::addColumn<int>("count");
        QTest::addColumn<Target>("last");
        const int speeds[] = { 9600, 115200, 19200, 38400, 57600, 4800, 2400 };
        Targets factory;
        for (const int baud : speeds)
            factory << T(baud, 0, 0) << T(baud, 1, 1);
        QTest::newRow("everything-factory-at-every-speed-first")
            << QList<int>() << QList<int>() << Range() << factory + Targets { T(9600, 0, 1) }
            << 7 * (128 + 247) << T(2400, 1, 247);
        QTest::newRow("range-clamped-to-what-modbus-can-address")
            << QList<int> { 19200 } << QList<int> { 1 } << Range({ 0, 3 })
            << Targets { T(19200, 1, 1), T(19200, 1, 2), T(19200, 1, 3) } << 3 << T(19200, 1, 3);
        QTest::newRow("factory-address-outside-the-range-not-tried")
            << QList<int> { 4800, 2400 } << QList<int> { 0 } << Range({ 126, 200 })
            << Targets { T(4800, 0, 126), T(4800, 0, 127), T(2400, 0, 126) } << 4
            << T(2400, 0, 127);
    }
    void order()
    {
        QFETCH(QList<int>, bauds);
        QFETCH(QList<int>, modes);
        QFETCH(Range, range);
        QFETCH(Targets, head);
        QFETCH(int, count);
        QFETCH(Target, last);
        QList<core::CheckMode> checkModes;
        for (const int m : modes)
            checkModes << core::CheckMode(m);
        const Targets all = core::scan::order({ bauds, checkModes, range });
        QCOMPARE(all.mid(0, head.size()), head);
        QCOMPARE(all.size(), count);
        QCOMPARE(all.last(), last);
        for (const Target &t : all) // each tried once
            QCOMPARE(all.count(t), 1);
    }

    void probeAndWait_data()
    {
        QTest::addColumn<Target>("target");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("wait"); // both frames at 10 bits a byte, rounded up, + 5 ms
        QTest::newRow("aa-status-read-2400") << T(2400, 0, 5) << aa("85 00 00") << 59 + 5;
        QTest::newRow("aa-status-read-115200") << T(115200, 0, 127) << aa("FF 00 00") << 2 + 5;
        QTest::newRow("modbus-address-read-9600")
            << T(9600, 1, 7) << rtu("07 03 00 00 00 01") << 16 + 5;
    }
    void probeAndWait()
    {
        QFETCH(Target, target);
        QFETCH(QByteArray, frame);
        QFETCH(int, wait);
        QCOMPARE(core::scan::probe(target), frame);
        QCOMPARE(core::scan::waitMs(target), wait);
    }

    void answer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("address"); // -1: no module
        const QByteArray status = aa("85 00 00 00 01 00 00");
        QTest::newRow("aa-status-answer") << 0 << status << 5;
        QTest::newRow("aa-answer-after-garbage") << 0 << hex("FF13AA85") + status << 5;
        QTest::newRow("aa-wrong-sum") << 0 << status.left(8) + char(status.back() ^ 1) << -1;
        QTest::newRow("aa-cut-short") << 0 << status.left(8) << -1;
        QTest::newRow("aa-other-register") << 0 << aa("80 00 06 00 01 0C E4") << -1;
        QTest::newRow("aa-no-read-flag") << 0 << aa("05 00 00 00 01 00 00") << -1;
        QTest::newRow("modbus-read-answer") << 1 << hex("00") + rtu("07 03 02 00 07") << 7;
        QTest::newRow("modbus-exception-answer") << 1 << rtu("07 83 02") << 7;
        QTest::newRow("modbus-wrong-crc") << 1 << rtu("07 03 02 00 07").left(6) + '\0' << -1;
        QTest::newRow("modbus-broadcast-address") << 1 << rtu("00 03 02 00 00") << -1;
        QTest::newRow("modbus-answer-read-in-aa-mode") << 0 << rtu("07 03 02 00 07") << -1;
        QTest::newRow("aa-answer-read-in-modbus-mode") << 1 << status << -1;
        // A wrong line speed delivers garbage: a long run of it never passes as a module.
        QByteArray noise(1 << 16, Qt::Uninitialized);
        QRandomGenerator random(7);
        for (char &c : noise)
            c = char(random.bounded(256));
        QTest::newRow("aa-64k-random-bytes") << 0 << noise << -1;
        QTest::newRow("modbus-64k-random-bytes") << 1 << noise << -1;
    }
    void answer()
    {
        QFETCH(int, mode);
        QFETCH(QByteArray, bytes);
        QFETCH(int, address);
        QCOMPARE(core::scan::answeringAddress(bytes, core::CheckMode(mode)).value_or(-1), address);
    }

    void parse()
    {
        QCOMPARE(core::scan::parseBauds("9600, 115200,9600"), (QList<int> { 9600, 115200 }));
        QVERIFY(!core::scan::parseBauds("9600,1234"));
        QVERIFY(!core::scan::parseBauds("0"));
        QCOMPARE(core::scan::parseChecks("crc,none"),
            (QList<core::CheckMode> { core::CheckMode::Crc, core::CheckMode::Sum8 }));
        QVERIFY(!core::scan::parseChecks("none,xor"));
        QCOMPARE(core::scan::parseAddresses("0-127"), (QPair<int, int>(0, 127)));
        QCOMPARE(core::scan::parseAddresses("5"), (QPair<int, int>(5, 5)));
        for (const char *bad : { "9-3", "1-300", "-1", "a", "1-2-3", "" })
            QVERIFY2(!core::scan::parseAddresses(bad), bad);
    }
};

QTEST_APPLESS_MAIN(TestScan)
#include "tst_scan.moc"
