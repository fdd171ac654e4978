// Test plans run against virtual modules on pseudo-terminals: each verdict from what the module
// was told to report, calibration and settings checked in the module's own registers afterwards.
#include "core/plan/plan.h"
#include "io/plan/runner.h"
#include "sim/simserver.h"

#include "testsupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace core::plan;

namespace {

constexpr int kWaitMs = 120000;
// A loaded machine may answer late; only a module told to be silent is given a short wait.
constexpr int kPatientMs = 5000;

Plan planOf(const QByteArray &text)
{
    const Parsed parsed = parsePlan(text, QStringLiteral("plan.toml"));
    if (!parsed.plan)
        qFatal("%s", qPrintable(parsed.error));
    return *parsed.plan;
}

struct Unit
{
    sim::SimServer server;
    std::unique_ptr<io::plan::Runner> runner;

    Unit(const Plan &plan, const sim::ServerOptions &options, int timeoutMs = kPatientMs)
    {
        if (!server.start(options))
            qFatal("%s", qPrintable(server.errorString()));
        io::plan::RunOptions run;
        run.port = server.slavePath();
        run.timeoutMs = timeoutMs;
        runner = std::make_unique<io::plan::Runner>(plan, run);
    }
    RunRecord run()
    {
        QSignalSpy finished(runner.get(), &io::plan::Runner::finished);
        runner->start();
        if (!finished.count() && !finished.wait(kWaitMs))
            qFatal("the run did not end");
        return runner->record();
    }
};

// Each step's outcome:attempts, then the run's.
QString outcomes(const RunRecord &r)
{
    QStringList names;
    for (const Step &s : r.steps)
        names << outcomeName(s.outcome) + ':' + QString::number(s.attempts.size());
    return names.join(' ') + ' ' + outcomeName(r.outcome);
}

sim::ServerOptions module(int checkMode = 0)
{
    sim::ServerOptions o;
    o.module.distanceMm = 1000;
    o.module.modbusAddress = checkMode == 1 ? 3 : 1;
    return o;
}

const QByteArray kVerdictPlan = R"(
[plan]
continue_on_fail = true
[[step]]
read = "voltage"
min = 3000
max = 3600
marginal = 100
[[step]]
measure = { count = 10, speed = "fast" }
reference_mm = 1000
mean_error = { min = -3, max = 3 }
sigma = { max = 1.5 }
errors = { max = 0 }
retries = 1
)";

} // namespace

class TestPlanRun : public QObject
{
    Q_OBJECT
private slots:
    void verdicts_data()
    {
        QTest::addColumn<int>("checkMode");
        QTest::addColumn<int>("voltage");
        QTest::addColumn<int>("distance");
        QTest::addColumn<int>("noise");
        QTest::addColumn<int>("errorEvery");
        QTest::addColumn<int>("address"); // the module's; the plan asks address 0 (Modbus 3)
        QTest::addColumn<int>("disconnectAfter");
        QTest::addColumn<QString>("steps");
        const struct
        {
            const char *row;
            int mode, mv, mm, noise, errorEvery, address, dropAfter;
            const char *steps;
        } rows[] = {
            { "all-pass", 0, 3300, 1000, 0, 0, 0, 0, "PASS:1 PASS:1 PASS" },
            { "voltage-in-band-marginal", 0, 3050, 1000, 0, 0, 0, 0, "MARGINAL:1 PASS:1 MARGINAL" },
            { "voltage-below-min-fails", 0, 2999, 1000, 0, 0, 0, 0, "FAIL:1 PASS:1 FAIL" },
            { "distance-off-fails-twice", 0, 3300, 1004, 0, 0, 0, 0, "PASS:1 FAIL:2 FAIL" },
            { "noise-fails-sigma", 0, 3300, 1000, 6, 0, 0, 0, "PASS:1 FAIL:2 FAIL" },
            { "error-replies-fail", 0, 3300, 1000, 0, 4, 0, 0, "PASS:1 FAIL:2 FAIL" },
            { "silence-is-error", 0, 3300, 1000, 0, 0, 9, 0, "ERROR:1 ERROR:2 ERROR" },
            { "dropped-line-is-error", 0, 3300, 1000, 0, 0, 0, 4, "PASS:1 ERROR:1 ERROR" },
            { "modbus-all-pass", 1, 3300, 1000, 0, 0, 3, 0, "PASS:1 PASS:1 PASS" },
            { "modbus-voltage-fails", 1, 3700, 1000, 0, 0, 3, 0, "FAIL:1 PASS:1 FAIL" },
            { "modbus-exceptions-fail", 1, 3300, 1000, 0, 3, 3, 0, "PASS:1 FAIL:2 FAIL" },
        };
        for (const auto &r : rows)
            QTest::newRow(r.row) << r.mode << r.mv << r.mm << r.noise << r.errorEvery << r.address
                                 << r.dropAfter << QString::fromLatin1(r.steps);
    }
    void verdicts()
    {
        QFETCH(int, checkMode);
        QFETCH(int, voltage);
        QFETCH(int, distance);
        QFETCH(int, noise);
        QFETCH(int, errorEvery);
        QFETCH(int, address);
        QFETCH(int, disconnectAfter);
        QFETCH(QString, steps);
        Plan plan = planOf(kVerdictPlan);
        plan.link.checkMode = core::CheckMode(checkMode);
        plan.link.address = checkMode == 1 ? 3 : 0;
        sim::ServerOptions o = module(checkMode);
        o.module.voltageMv = voltage;
        o.module.distanceMm = distance;
        o.module.model = noise ? sim::DistanceModel::Noisy : sim::DistanceModel::Constant;
        o.module.noiseMm = noise;
        o.module.errorEvery = errorEvery;
        (checkMode == 1 ? o.module.modbusAddress : o.module.address) = address;
        o.disconnectAfter = disconnectAfter;
        const bool silent = address != plan.link.address;
        Unit unit(plan, o, silent ? 300 : kPatientMs);
        const RunRecord r = unit.run();
        QCOMPARE(outcomes(r), steps);
        const Step &target = r.steps.at(1);
        // The voltage as the module was told it, in mV.
        if (!silent)
            QCOMPARE(r.steps.at(0).attempts.first().measurements.first().value, double(voltage));
        // Every sample of a steady target is the distance told, and a whole series is kept.
        for (const Attempt &a : target.attempts) {
            if (noise || !a.message.isEmpty())
                continue;
            const double errors = a.measurements.last().value.value_or(-1);
            QCOMPARE(a.samples.size() + errors, 10.0);
            QCOMPARE(errors > 0, errorEvery > 0);
            QCOMPARE(a.samples, QList<qint32>(a.samples.size(), distance));
        }
    }

    void calibration_data()
    {
        QTest::addColumn<int>("checkMode");
        QTest::addColumn<int>("offset"); // injected into the module
        QTest::addColumn<int>("finalOffset");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("aa-offset-7-taken-out") << 0 << 7 << 0 << Outcome::Pass;
        QTest::newRow("modbus-address-3-offset-minus-12") << 1 << -12 << 0 << Outcome::Pass;
        QTest::newRow("aa-change-beyond-max-refused") << 0 << 80 << 80 << Outcome::Fail;
    }
    void calibration()
    {
        QFETCH(int, checkMode);
        QFETCH(int, offset);
        QFETCH(int, finalOffset);
        QFETCH(Outcome, outcome);
        Plan plan = planOf(R"([[step]]
calibrate = { reference_mm = 1000, count = 8, max_change = 50, speed = "fast" }
mean_error = { min = -1, max = 1 }
sigma = { max = 1.5 })");
        plan.link.checkMode = core::CheckMode(checkMode);
        plan.link.address = checkMode == 1 ? 3 : 0;
        sim::ServerOptions o = module(checkMode);
        o.module.offsetMm = offset;
        Unit unit(plan, o);
        const RunRecord r = unit.run();
        QCOMPARE(r.outcome, outcome);
        QCOMPARE(unit.server.moduleSettings().offsetMm, finalOffset);
        const Attempt &a = r.steps.first().attempts.first();
        // The module adds its offset: the first series reads the target plus the injected offset,
        // the fresh one after writing the target itself.
        QCOMPARE(a.samples.mid(0, 8), QList<qint32>(8, 1000 + offset));
        QCOMPARE(
            a.samples.mid(8), outcome == Outcome::Pass ? QList<qint32>(8, 1000) : QList<qint32>());
    }

    void setVerifiedAtNewSettings_data()
    {
        QTest::addColumn<int>("checkMode");
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("baud");
        QTest::newRow("aa-address-5-at-115200") << 0 << 5 << 115200;
        QTest::newRow("modbus-address-7-at-19200") << 1 << 7 << 19200;
    }
    void setVerifiedAtNewSettings()
    {
        QFETCH(int, checkMode);
        QFETCH(int, address);
        QFETCH(int, baud);
        Plan plan
            = planOf(QStringLiteral("[[step]]\nread = \"serial\"\n[[step]]\nset = { address = %1, "
                                    "baud = %2, offset = -4 }\n")
                         .arg(address)
                         .arg(baud)
                         .toUtf8());
        plan.link.checkMode = core::CheckMode(checkMode);
        plan.link.address = checkMode == 1 ? 3 : 0;
        // A module that hears only its own line speed, as a real one.
        sim::ServerOptions o = module(checkMode);
        o.strictSpeed = true;
        Unit unit(plan, o);
        const RunRecord r = unit.run();
        QVERIFY2(outcomes(r) == QStringLiteral("PASS:1 PASS:1 PASS"),
            qPrintable(r.steps.at(1).attempts.first().message));
        const sim::ModuleSettings after = unit.server.moduleSettings();
        QCOMPARE(checkMode == 1 ? after.modbusAddress : after.address, address);
        QCOMPARE(core::protocol::baudOfCode(after.baudCode), baud);
        QCOMPARE(after.offsetMm, -4);
        // What answered at the new settings is this unit, and its offset is the one written.
        const QList<Measurement> &read = r.steps.at(1).attempts.first().measurements;
        QCOMPARE(read.at(0).text, r.unit.serial);
        QCOMPARE(read.at(1).value, -4.0);
    }

    void fourPortsInParallel()
    {
        QFile file(testsupport::sourceDir() + QStringLiteral("/docs/plans/rm03-end-of-line.toml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const Plan plan = planOf(file.readAll());
        std::vector<std::unique_ptr<Unit>> units;
        for (int i = 0; i < 4; ++i) {
            sim::ServerOptions o = module();
            o.module.offsetMm = i - 2;
            o.module.serialNumber = 0x51000000u + quint32(i) * 0x10000u;
            units.push_back(std::make_unique<Unit>(plan, o));
        }
        for (auto &u : units)
            u->runner->start();
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(units.begin(), units.end(),
                                     [](const auto &u) { return u->runner->isFinished(); }),
            kWaitMs);
        for (int i = 0; i < 4; ++i) {
            const RunRecord &r = units[size_t(i)]->runner->record();
            QCOMPARE(outcomes(r), QStringLiteral("PASS:1 PASS:1 PASS:1 PASS:1 PASS:1 PASS"));
            QCOMPARE(r.port, units[size_t(i)]->server.slavePath());
            QCOMPARE(r.dutId(), QStringLiteral("51%1").arg(i, 2, 10, QLatin1Char('0')));
            const sim::ModuleSettings after = units[size_t(i)]->server.moduleSettings();
            QVERIFY(after.offsetMm == 0 && after.address == 5 && after.baudCode == 7);
        }
    }

    void abortStopsAContinuousRun()
    {
        const Plan plan
            = planOf("[[step]]\nmeasure = { count = 100000 }\n[[step]]\nread = \"serial\"\n");
        Unit unit(plan, module());
        QSignalSpy finished(unit.runner.get(), &io::plan::Runner::finished);
        unit.runner->start();
        QTRY_VERIFY_WITH_TIMEOUT(unit.server.counters().replies >= 3, kWaitMs);
        unit.runner->abort();
        QVERIFY(finished.count() || finished.wait(kWaitMs));
        const RunRecord &r = unit.runner->record();
        QCOMPARE(outcomes(r), QStringLiteral("ABORTED:1 SKIPPED:0 ABORTED"));
        // What had reached the runner is kept (how much depends on the machine's load).
        const QList<qint32> kept = r.steps.first().attempts.first().samples;
        QCOMPARE(kept, QList<qint32>(kept.size(), 1000));
        // The start frame and the stop byte: the module measures no more.
        QCOMPARE(unit.server.counters().requests, quint64(2));
    }
};

QTEST_GUILESS_MAIN(TestPlanRun)
#include "tst_planrun.moc"
