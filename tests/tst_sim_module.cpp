// The virtual module's logic without a line: every command in both protocols, settings that
// stick, continuous measurement, distance models and a request stream cut at any byte.
#include "frames.h"
#include "sim/virtualmodule.h"

#include <QSet>
#include <QTest>

using sim::VirtualModule;

namespace {

/** The module every known answer below was worked out for. */
sim::ModuleSettings knownSettings()
{
    sim::ModuleSettings s;
    s.address = 0;
    s.modbusAddress = 1;
    s.baudCode = 3;
    s.offsetMm = 0;
    s.status = 0x0000;
    s.voltageMv = 3300;
    s.temperatureTenths = 267;
    s.angleTenths = 12;
    s.hardwareVersion = 0x0102;
    s.softwareVersion = 0x0215;
    s.serialNumber = 0x20240417;
    s.signal = 110;
    s.model = sim::DistanceModel::Constant;
    s.distanceMm = 1234;
    s.minRangeMm = 30;
    s.maxRangeMm = 40000;
    s.queryLatencyMs = 2;
    s.measuringTimeMs = { 80, 200, 20 };
    s.frameGapMs = 20;
    return s;
}

QByteArray hex(const QString &text)
{
    return frames::fromHexText(text.trimmed());
}

/** Everything the module answers to @p request, joined. */
QByteArray answer(VirtualModule &m, const QByteArray &request, qint64 nowMs = 0)
{
    QByteArray out;
    for (const sim::Reply &r : m.feed(request, nowMs))
        out += r.bytes;
    return out;
}

} // namespace

class TestSimModule : public QObject
{
    Q_OBJECT
private slots:
    void exchanges_data();
    void exchanges();
    void replyTiming_data();
    void replyTiming();
    void continuous();
    void continuousPeriod_data();
    void continuousPeriod();
    void noisyModel();
    void distanceModel_data();
    void distanceModel();
    void stream_data();
    void stream();
};

void TestSimModule::exchanges_data()
{
    // Each step: request => the reply it must get (nothing after => means silence). Steps run
    // in order on one module, so later steps see the settings earlier ones made.
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("distance");
    QTest::addColumn<QStringList>("steps");

    // 0xAA protocol, one row per command.
    QTest::newRow("aa-read-voltage-address-0")
        << 0 << 1234 << QStringList { "AA 80 00 06 86 => AA 80 00 06 00 01 33 00 BA" };
    QTest::newRow("aa-read-voltage-address-127")
        << 127 << 1234 << QStringList { "AA FF 00 06 05 => AA FF 00 06 00 01 33 00 39" };
    QTest::newRow("aa-read-status-address-1")
        << 1 << 1234 << QStringList { "AA 81 00 00 81 => AA 81 00 00 00 01 00 00 82" };
    QTest::newRow("aa-read-hardware")
        << 0 << 1234 << QStringList { "AA 80 00 0A 8A => AA 80 00 0A 00 01 01 02 8E" };
    QTest::newRow("aa-read-software")
        << 0 << 1234 << QStringList { "AA 80 00 0C 8C => AA 80 00 0C 00 01 02 15 A4" };
    QTest::newRow("aa-read-serial-number")
        << 0 << 1234 << QStringList { "AA 80 00 0E 8E => AA 80 00 0E 00 01 20 24 D3" };
    QTest::newRow("aa-read-temperature")
        << 0 << 1234 << QStringList { "AA 80 00 08 88 => AA 80 00 08 00 01 01 0B 95" };
    QTest::newRow("aa-read-offset")
        << 0 << 1234 << QStringList { "AA 80 00 12 92 => AA 80 00 12 00 01 00 00 93" };
    QTest::newRow("aa-address-search-hits-only-own-address")
        << 5 << 1234
        << QStringList { "AA 84 00 00 84 =>", "AA 85 00 00 85 => AA 85 00 00 00 01 00 00 86",
               "AA 86 00 00 86 =>" };
    QTest::newRow("aa-laser-on") << 0 << 1234
                                 << QStringList {
                                        "AA 00 01 BE 00 01 00 01 C1 => AA 00 01 BE 00 01 00 01 C1"
                                    };
    QTest::newRow("aa-laser-off") << 0 << 1234
                                  << QStringList {
                                         "AA 00 01 BE 00 01 00 00 C0 => AA 00 01 BE 00 01 00 00 C0"
                                     };
    QTest::newRow("aa-set-offset-minus-5")
        << 0 << 1234 << QStringList { "AA 00 00 12 00 01 FF FB 0D => AA 00 00 12 00 01 FF FB 0D" };
    QTest::newRow("aa-set-address-1-to-2")
        << 1 << 1234 << QStringList { "AA 01 00 10 00 01 00 02 14 => AA 01 00 10 00 01 00 02 14" };
    QTest::newRow("aa-set-baud-code-7")
        << 0 << 1234 << QStringList { "AA 00 00 14 00 01 00 07 1C => AA 00 00 14 00 01 00 07 1C" };
    QTest::newRow("aa-single-measurement-auto")
        << 0 << 1234
        << QStringList { "AA 00 00 20 00 01 00 00 21 => AA 00 00 22 00 03 00 00 04 D2 00 6E 69" };
    QTest::newRow("aa-single-measurement-fast")
        << 0 << 1234
        << QStringList { "AA 00 00 20 00 01 00 02 23 => AA 00 00 22 00 03 00 00 04 D2 00 6E 69" };
    QTest::newRow("aa-continuous-start-then-stop-byte-answer-nothing-at-once")
        << 1 << 1234 << QStringList { "AA 01 00 20 00 01 00 06 28 =>", "58 =>" };

    // 0xAA errors.
    QTest::newRow("aa-measurement-target-out-of-range")
        << 0 << 50000 << QStringList { "AA 00 00 20 00 01 00 01 22 => EE 00 00 00 00 01 00 03 04" };
    QTest::newRow("aa-read-unknown-register")
        << 0 << 1234 << QStringList { "AA 80 00 02 82 => EE 00 00 00 00 01 00 01 02" };
    QTest::newRow("aa-laser-value-2-is-bad")
        << 0 << 1234 << QStringList { "AA 00 01 BE 00 01 00 02 C2 => EE 00 00 00 00 01 00 02 03" };
    QTest::newRow("aa-baud-code-0-is-bad")
        << 0 << 1234 << QStringList { "AA 00 00 14 00 01 00 00 15 => EE 00 00 00 00 01 00 02 03" };
    QTest::newRow("aa-other-address-ignored") << 0 << 1234 << QStringList { "AA 81 00 06 87 =>" };
    QTest::newRow("aa-bad-sum-ignored") << 0 << 1234 << QStringList { "AA 80 00 06 87 =>" };

    // Modbus RTU, one row per command.
    QTest::newRow("modbus-read-voltage")
        << 0 << 1234 << QStringList { "01 04 00 01 00 01 60 0A => 01 04 02 33 00 AD C0" };
    QTest::newRow("modbus-read-software")
        << 0 << 1234 << QStringList { "01 04 00 02 00 01 90 0A => 01 04 02 02 15 79 9F" };
    QTest::newRow("modbus-read-hardware")
        << 0 << 1234 << QStringList { "01 04 00 03 00 01 C1 CA => 01 04 02 01 02 39 61" };
    QTest::newRow("modbus-read-serial-number")
        << 0 << 1234 << QStringList { "01 04 00 07 00 02 C0 0A => 01 04 04 20 24 04 17 F2 81" };
    QTest::newRow("modbus-read-temperature")
        << 0 << 1234 << QStringList { "01 04 00 06 00 01 D1 CB => 01 04 02 01 0B F9 67" };
    QTest::newRow("modbus-read-offset")
        << 0 << 1234 << QStringList { "01 03 00 01 00 01 D5 CA => 01 03 02 00 00 B8 44" };
    QTest::newRow("modbus-read-angle")
        << 0 << 1234 << QStringList { "01 04 00 05 00 02 61 CA => 01 04 04 00 00 00 0C FB 81" };
    QTest::newRow("modbus-read-address")
        << 0 << 1234 << QStringList { "01 03 00 00 00 01 84 0A => 01 03 02 00 01 79 84" };
    QTest::newRow("modbus-laser-on")
        << 0 << 1234 << QStringList { "01 05 00 00 FF 00 8C 3A => 01 05 00 00 FF 00 8C 3A" };
    QTest::newRow("modbus-laser-off")
        << 0 << 1234 << QStringList { "01 05 00 00 00 00 CD CA => 01 05 00 00 00 00 CD CA" };
    QTest::newRow("modbus-set-offset-minus-5")
        << 0 << 1234 << QStringList { "01 06 00 01 FF FB D8 79 => 01 06 00 01 FF FB D8 79" };
    QTest::newRow("modbus-set-address-1-to-2")
        << 0 << 1234 << QStringList { "01 06 00 00 00 02 08 0B => 01 06 00 00 00 02 08 0B" };
    QTest::newRow("modbus-set-baud-code-5")
        << 0 << 1234 << QStringList { "01 06 00 03 00 05 B9 C9 => 01 06 00 03 00 05 B9 C9" };
    QTest::newRow("modbus-single-measurement")
        << 0 << 1234
        << QStringList { "01 04 00 04 00 03 F1 CA => 01 04 06 00 00 04 D2 00 6E 40 76" };
    QTest::newRow("modbus-measurement-mode-fast")
        << 0 << 1234 << QStringList { "01 01 06 00 02 02 BC 23 => 01 01 06 00 02 02 BC 23" };
    QTest::newRow("modbus-holding-registers-0-to-3")
        << 0 << 1234
        << QStringList { "01 03 00 00 00 04 44 09 => 01 03 08 00 01 00 00 00 00 00 03 C5 16" };

    // Modbus errors.
    QTest::newRow("modbus-unknown-input-register-9")
        << 0 << 1234 << QStringList { "01 04 00 09 00 01 E1 C8 => 01 84 02 C2 C1" };
    QTest::newRow("modbus-unknown-holding-register-7")
        << 0 << 1234 << QStringList { "01 03 00 07 00 01 35 CB => 01 83 02 C0 F1" };
    QTest::newRow("modbus-measurement-target-out-of-range")
        << 0 << 50000 << QStringList { "01 04 00 04 00 03 F1 CA => 01 84 04 42 C3" };
    QTest::newRow("modbus-baud-code-0-is-bad")
        << 0 << 1234 << QStringList { "01 06 00 03 00 00 79 CA => 01 86 03 02 61" };
    QTest::newRow("modbus-coil-value-1234-is-bad")
        << 0 << 1234 << QStringList { "01 05 00 00 12 34 C0 BD => 01 85 03 02 91" };
    QTest::newRow("modbus-function-7-unknown")
        << 0 << 1234 << QStringList { "01 07 00 00 00 00 B4 0A => 01 87 01 82 30" };
    QTest::newRow("modbus-other-address-ignored")
        << 0 << 1234 << QStringList { "02 04 00 01 00 01 60 39 =>" };
    QTest::newRow("modbus-broadcast-read-ignored")
        << 0 << 1234 << QStringList { "00 04 00 01 00 01 61 DB =>" };
    QTest::newRow("modbus-bad-crc-ignored")
        << 0 << 1234 << QStringList { "01 04 00 01 00 01 60 0B =>" };

    // Settings that persist.
    QTest::newRow("aa-new-address-moves-the-module")
        << 0 << 1234
        << QStringList { "AA 00 00 10 00 01 00 05 16 => AA 00 00 10 00 01 00 05 16",
               "AA 80 00 06 86 =>", "AA 85 00 06 8B => AA 85 00 06 00 01 33 00 BF",
               "AA 05 00 20 00 01 00 00 26 => AA 05 00 22 00 03 00 00 04 D2 00 6E 6E" };
    QTest::newRow("aa-offset-read-back-and-added-to-distance")
        << 0 << 1234
        << QStringList { "AA 00 00 12 00 01 FF FB 0D => AA 00 00 12 00 01 FF FB 0D",
               "AA 80 00 12 92 => AA 80 00 12 00 01 FF FB 8D",
               "AA 00 00 20 00 01 00 00 21 => AA 00 00 22 00 03 00 00 04 CD 00 6E 64" };
    QTest::newRow("modbus-new-address-moves-the-module")
        << 0 << 1234
        << QStringList { "01 06 00 00 00 02 08 0B => 01 06 00 00 00 02 08 0B",
               "01 04 00 01 00 01 60 0A =>", "02 04 00 01 00 01 60 39 => 02 04 02 33 00 E9 C0" };
    QTest::newRow("modbus-offset-read-back-and-added-to-distance")
        << 0 << 1234
        << QStringList { "01 06 00 01 FF FB D8 79 => 01 06 00 01 FF FB D8 79",
               "01 03 00 01 00 01 D5 CA => 01 03 02 FF FB B8 37",
               "01 04 00 04 00 03 F1 CA => 01 04 06 00 00 04 CD 00 6E 71 B0" };
    QTest::newRow("offset-set-in-one-protocol-read-in-the-other")
        << 0 << 1234
        << QStringList { "AA 00 00 12 00 01 FF FB 0D => AA 00 00 12 00 01 FF FB 0D",
               "01 03 00 01 00 01 D5 CA => 01 03 02 FF FB B8 37" };
}

void TestSimModule::exchanges()
{
    QFETCH(int, address);
    QFETCH(int, distance);
    QFETCH(QStringList, steps);
    sim::ModuleSettings s = knownSettings();
    s.address = address;
    s.distanceMm = distance;
    VirtualModule m(s);
    for (const QString &step : steps) {
        const QStringList parts = step.split(QStringLiteral("=>"));
        QCOMPARE(parts.size(), 2);
        QCOMPARE(frames::toHexText(answer(m, hex(parts[0]))), frames::toHexText(hex(parts[1])));
    }
}

void TestSimModule::replyTiming_data()
{
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QList<int>>("delays");
    QTest::addColumn<int>("baudAfter");

    QTest::newRow("aa-query-takes-query-latency")
        << QStringList { "AA 80 00 06 86" } << QList<int> { 2 } << 0;
    QTest::newRow("aa-single-auto-80ms")
        << QStringList { "AA 00 00 20 00 01 00 00 21" } << QList<int> { 80 } << 0;
    QTest::newRow("aa-single-slow-200ms")
        << QStringList { "AA 00 00 20 00 01 00 01 22" } << QList<int> { 200 } << 0;
    QTest::newRow("aa-single-fast-20ms")
        << QStringList { "AA 00 00 20 00 01 00 02 23" } << QList<int> { 20 } << 0;
    QTest::newRow("modbus-measures-in-mode-set-by-mode-frame")
        << QStringList { "01 01 06 00 02 01 FC 22", "01 04 00 04 00 03 F1 CA" }
        << QList<int> { 2, 202 } << 0;
    QTest::newRow("query-behind-slow-measurement-waits-for-it")
        << QStringList { "AA 00 00 20 00 01 00 01 22", "AA 80 00 06 86" } << QList<int> { 200, 202 }
        << 0;
    QTest::newRow("aa-baud-code-7-switches-to-115200-after-reply")
        << QStringList { "AA 00 00 14 00 01 00 07 1C" } << QList<int> { 2 } << 115200;
    QTest::newRow("modbus-baud-code-5-switches-to-38400-after-reply")
        << QStringList { "01 06 00 03 00 05 B9 C9" } << QList<int> { 2 } << 38400;
}

void TestSimModule::replyTiming()
{
    QFETCH(QStringList, requests);
    QFETCH(QList<int>, delays);
    QFETCH(int, baudAfter);
    VirtualModule m(knownSettings());
    QList<sim::Reply> replies;
    for (const QString &request : requests)
        replies += m.feed(hex(request), 1000);
    QCOMPARE(replies.size(), delays.size());
    for (int i = 0; i < replies.size(); ++i)
        QCOMPARE(replies[i].delayMs, delays[i]);
    QCOMPARE(replies.last().baudAfter, baudAfter);
    if (baudAfter)
        QCOMPARE(m.baud(), baudAfter);
}

void TestSimModule::continuous()
{
    sim::ModuleSettings s = knownSettings();
    s.address = 1;
    VirtualModule m(s);
    QVERIFY(!m.continuousRunning());
    QVERIFY(answer(m, hex("AA 01 00 20 00 01 00 06 28")).isEmpty());
    QVERIFY(m.continuousRunning());
    QCOMPARE(m.continuousSeries(), 1u);
    QCOMPARE(m.measuringTimeMs(), 20);
    QCOMPARE(frames::toHexText(m.takeContinuousReply()),
        QStringLiteral("AA 01 00 22 00 03 00 00 04 D2 00 6E 6A"));
    // A query while measuring is answered and does not end the series.
    QVERIFY(!answer(m, hex("AA 81 00 06 87")).isEmpty());
    QVERIFY(m.continuousRunning());
    QVERIFY(answer(m, hex("58")).isEmpty());
    QVERIFY(!m.continuousRunning());
    // A new start is a new series, so the server restarts its schedule.
    answer(m, hex("AA 01 00 20 00 01 00 04 26"), 100);
    QCOMPARE(m.continuousSeries(), 2u);
    QCOMPARE(m.measuringTimeMs(), 80);
    // 00 may start a Modbus broadcast, so a stop byte behind it waits for the line to go quiet.
    answer(m, hex("00"), 110);
    answer(m, hex("58"), 111);
    QVERIFY(m.continuousRunning());
    QCOMPARE(m.expiryMs(), 131);
    QVERIFY(m.expire(130).isEmpty());
    QVERIFY(m.continuousRunning());
    QVERIFY(m.expire(131).isEmpty());
    QVERIFY(!m.continuousRunning());
}

void TestSimModule::noisyModel()
{
    sim::ModuleSettings s = knownSettings();
    s.model = sim::DistanceModel::Noisy;
    s.noiseMm = 5;
    s.seed = 7;
    VirtualModule first(s), second(s);
    QSet<qint32> seen;
    for (int i = 0; i < 200; ++i) {
        const QByteArray reply = answer(first, hex("AA 00 00 20 00 01 00 00 21"));
        QCOMPARE(answer(second, hex("AA 00 00 20 00 01 00 00 21")), reply);
        const qint32 d = qint32(quint32(quint8(reply[6])) << 24 | quint32(quint8(reply[7])) << 16
            | quint32(quint8(reply[8])) << 8 | quint32(quint8(reply[9])));
        QVERIFY2(d >= 1229 && d <= 1239, qPrintable(QString::number(d)));
        seen.insert(d);
    }
    QVERIFY(seen.size() > 5);
}

void TestSimModule::continuousPeriod_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<qint64>("periodUs");
    QTest::newRow("rate-0-follows-measuring-time-auto") << 0.0 << qint64(80000);
    QTest::newRow("rate-10-per-second") << 10.0 << qint64(100000);
    QTest::newRow("rate-3-per-second-not-rounded-to-ms") << 3.0 << qint64(333333);
    QTest::newRow("wire-speed-is-period-0") << sim::kWireSpeed << qint64(0);
}

void TestSimModule::continuousPeriod()
{
    QFETCH(double, rate);
    QFETCH(qint64, periodUs);
    sim::ModuleSettings s = knownSettings();
    s.continuousRate = rate;
    QCOMPARE(VirtualModule(s).continuousPeriodUs(), periodUs);
}

void TestSimModule::distanceModel_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("distance");
    QTest::addColumn<int>("rampTo");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("errorEvery");
    QTest::addColumn<QStringList>("results");
    const int ramp = int(sim::DistanceModel::Ramp);
    const int constant = int(sim::DistanceModel::Constant);

    QTest::newRow("ramp-100-to-200-step-50-wraps")
        << ramp << 100 << 200 << 50 << 0
        << QStringList { "AA 00 00 22 00 03 00 00 00 64 00 6E F7",
               "AA 00 00 22 00 03 00 00 00 96 00 6E 29", "AA 00 00 22 00 03 00 00 00 C8 00 6E 5B",
               "AA 00 00 22 00 03 00 00 00 64 00 6E F7" };
    QTest::newRow("ramp-leaving-range-gives-errors-then-returns")
        << ramp << 39950 << 40050 << 50 << 0
        << QStringList { "AA 00 00 22 00 03 00 00 9C 0E 00 6E 3D",
               "AA 00 00 22 00 03 00 00 9C 40 00 6E 6F", "EE 00 00 00 00 01 00 03 04",
               "AA 00 00 22 00 03 00 00 9C 0E 00 6E 3D" };
    QTest::newRow("error-every-3rd-measurement")
        << constant << 1234 << 0 << 0 << 3
        << QStringList { "AA 00 00 22 00 03 00 00 04 D2 00 6E 69",
               "AA 00 00 22 00 03 00 00 04 D2 00 6E 69", "EE 00 00 00 00 01 00 04 05",
               "AA 00 00 22 00 03 00 00 04 D2 00 6E 69" };
}

void TestSimModule::distanceModel()
{
    QFETCH(int, model);
    QFETCH(int, distance);
    QFETCH(int, rampTo);
    QFETCH(int, step);
    QFETCH(int, errorEvery);
    QFETCH(QStringList, results);
    sim::ModuleSettings s = knownSettings();
    s.model = sim::DistanceModel(model);
    s.distanceMm = distance;
    s.rampToMm = rampTo;
    s.rampStepMm = step;
    s.errorEvery = errorEvery;
    s.errorCode = sim::kErrorWeakSignal;
    VirtualModule m(s);
    for (const QString &expected : results)
        QCOMPARE(frames::toHexText(answer(m, hex("AA 00 00 20 00 01 00 00 21"))), expected);
}

void TestSimModule::stream_data()
{
    // Pieces arrive at the given times (ms); the replies must be the ones listed, in order.
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QList<int>>("times");
    QTest::addColumn<QStringList>("replies");
    const QString voltage = QStringLiteral("AA 80 00 06 00 01 33 00 BA");
    const QString temperature = QStringLiteral("AA 80 00 08 00 01 01 0B 95");
    const QString modbusVoltage = QStringLiteral("01 04 02 33 00 AD C0");

    QTest::newRow("split-byte-by-byte") << QStringList { "AA", "80", "00", "06", "86" }
                                        << QList<int> { 0, 1, 2, 3, 4 } << QStringList { voltage };
    QTest::newRow("modbus-split-in-two") << QStringList { "01 04 00", "01 00 01 60 0A" }
                                         << QList<int> { 0, 3 } << QStringList { modbusVoltage };
    QTest::newRow("two-requests-merged")
        << QStringList { "AA 80 00 06 86 AA 80 00 08 88" } << QList<int> { 0 }
        << QStringList { voltage, temperature };
    QTest::newRow("both-protocols-merged")
        << QStringList { "01 04 00 01 00 01 60 0A AA 80 00 06 86" } << QList<int> { 0 }
        << QStringList { modbusVoltage, voltage };
    QTest::newRow("noise-before-request-skipped")
        << QStringList { "13 37 AA 80 00 06 86" } << QList<int> { 0 } << QStringList { voltage };
    QTest::newRow("bad-frame-then-good-frame-merged")
        << QStringList { "AA 80 00 06 87 AA 80 00 06 86" } << QList<int> { 0 }
        << QStringList { voltage };
    QTest::newRow("unfinished-write-given-up-after-silence") << QStringList { "AA 00 00",
        "AA 80 00 06 86" } << QList<int> { 0, 50 } << QStringList { voltage };
    QTest::newRow("unfinished-write-completed-in-time") << QStringList { "AA 00 01 BE",
        "00 01 00 01 C1" } << QList<int> { 0, 5 } << QStringList { "AA 00 01 BE 00 01 00 01 C1" };
}

void TestSimModule::stream()
{
    QFETCH(QStringList, pieces);
    QFETCH(QList<int>, times);
    QFETCH(QStringList, replies);
    VirtualModule m(knownSettings());
    QStringList got;
    for (int i = 0; i < pieces.size(); ++i) {
        for (const sim::Reply &r : m.feed(hex(pieces[i]), times[i]))
            got << frames::toHexText(r.bytes);
    }
    QCOMPARE(got, replies);
}

QTEST_APPLESS_MAIN(TestSimModule)
#include "tst_sim_module.moc"
