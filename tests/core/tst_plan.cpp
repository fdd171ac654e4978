// Test plans without a port: the plan file and its errors, limits, readings, step verdicts,
// calibration, the order of a run and the JUnit report, each judged from values worked out here.
#include "core/plan/junit.h"
#include "core/plan/plan.h"
#include "core/plan/verdict.h"

#include "testsupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>

using namespace core::plan;
using testsupport::aa;
using testsupport::rtu;
using Samples = QList<qint32>;

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

std::optional<double> opt(double v)
{
    return std::isnan(v) ? std::nullopt : std::optional<double>(v);
}

// The example's "1 m target" step.
TestStep targetStep()
{
    TestStep s;
    s.kind = TestStep::Kind::Measure;
    s.count = 4;
    s.referenceMm = 1000;
    s.meanError = { -3.0, 3.0, 0.5 };
    s.sigma.max = 1.5;
    s.errors.max = 0;
    return s;
}

double naiveSigma(const Samples &s)
{
    double mean = 0;
    for (const qint32 v : s)
        mean += v;
    mean /= s.size();
    double sq = 0;
    for (const qint32 v : s)
        sq += (v - mean) * (v - mean);
    return std::sqrt(sq / (s.size() - 1));
}

} // namespace

class TestPlan : public QObject
{
    Q_OBJECT
private slots:
    void parseErrors_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("words");
        const struct
        {
            const char *row, *text, *where, *words;
        } rows[] = {
            { "unknown-key-in-step", "[[step]]\nread = 'serial'\ncolour = 1", "3:1",
                "key \"colour\"" },
            { "unknown-read-in-list", "[[step]]\nread = ['serial', 'weight']", "2:19",
                "\"weight\"" },
            { "count-is-text", "[[step]]\nmeasure = { count = '30' }", "2:21",
                "an integer, not text" },
            { "limit-min-above-max", "[[step]]\nmeasure = {count=3}\nsigma = { min = 2, max = 1 }",
                "3:9", "min 2 is above max 1" },
            { "read-limit-min-above-max", "[[step]]\nread = 'voltage'\nmin = 3600\nmax = 3000",
                "3:7", "min 3600 is above max 3000" },
            { "limits-on-a-text-read", "[[step]]\nread = 'status'\nmax = 1", "3:7", "of a number" },
            { "mean-error-needs-reference", "[[step]]\nmeasure = {count=3}\nmean_error = {max=1}",
                "2:11", "needs \"reference_mm\"" },
            { "two-kinds-in-a-step", "[[step]]\nread = 'serial'\nset = {laser = true}", "3:7",
                "two" },
            { "baud-not-offered", "[link]\nbaud = 1234\n[[step]]\nread = 'serial'", "2:8", "1234" },
            { "modbus-address-0", "[link]\ncheck = 'crc'\naddress = 0\n[[step]]\nread = 'serial'",
                "3:11", "from 1 to 247" },
            { "no-steps", "[plan]\nname = 'x'", "1:1", "no [[step]]" },
            { "toml-syntax-error", "[plan]\nname = \n", "2:8", "" },
        };
        for (const auto &r : rows)
            QTest::newRow(r.row) << QByteArray(r.text) << r.where << r.words;
    }
    void parseErrors()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, where);
        QFETCH(QString, words);
        const Parsed parsed = parsePlan(text, QStringLiteral("plan.toml"));
        QVERIFY(!parsed.plan);
        QVERIFY2(
            parsed.error.startsWith(QStringLiteral("plan.toml:") + where + QStringLiteral(": ")),
            qPrintable(parsed.error));
        QVERIFY2(parsed.error.contains(words), qPrintable(parsed.error));
    }

    void examplePlan()
    {
        QFile file(testsupport::sourceDir() + QStringLiteral("/docs/plans/rm03-end-of-line.toml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const Parsed parsed = parsePlan(bytes, file.fileName());
        QVERIFY2(parsed.plan, qPrintable(parsed.error));
        const Plan &p = *parsed.plan;
        QCOMPARE(p.sha256, QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        QCOMPARE(p.name + ' ' + p.version, QStringLiteral("RM03 end of line 3"));
        QVERIFY(!p.continueOnFail && p.link.checkMode == core::CheckMode::Sum8 && p.link.baud == 9600);
        QCOMPARE(p.steps.size(), 5);
        QCOMPARE(p.steps[0].reads,
            (QList<Quantity> { Quantity::Serial, Quantity::Software, Quantity::Hardware }));
        QVERIFY(p.steps[1].limit.min == 3000.0 && p.steps[1].unit == QStringLiteral("mV"));
        const TestStep &target = p.steps[2];
        QVERIFY(target.count == 30 && target.speed == Speed::Fast && target.retries == 1);
        QCOMPARE(target.meanError.marginal, 0.5);
        QVERIFY(p.steps[3].kind == TestStep::Kind::Calibrate && p.steps[3].maxChange == 50.0);
        QVERIFY(p.steps[4].setAddress == 5 && p.steps[4].setBaud == 115200);
    }

    void limits_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("min");
        QTest::addColumn<double>("max");
        QTest::addColumn<double>("marginal");
        QTest::addColumn<Outcome>("outcome");
        const double n = kNone, lo = 3000, hi = 3600;
        const struct
        {
            const char *row;
            double value, min, max, marginal;
            Outcome outcome;
        } rows[] = {
            { "on-min-passes-as-marginal", 3000, lo, hi, 50, Outcome::Marginal },
            { "just-below-min-fails", 2999.99, lo, hi, 50, Outcome::Fail },
            { "on-inner-edge-of-band-passes", 3050, lo, hi, 50, Outcome::Pass },
            { "inside-band-under-max", 3551, lo, hi, 50, Outcome::Marginal },
            { "on-max-without-band-passes", 3600, lo, hi, n, Outcome::Pass },
            { "just-above-max-fails", 3600.01, lo, hi, n, Outcome::Fail },
            { "max-only-zero-errors", 0, n, 0, n, Outcome::Pass },
            { "min-only-band", 10.4, 10, n, 0.5, Outcome::Marginal },
            { "no-limit-no-verdict", 5, n, n, n, Outcome::None },
        };
        for (const auto &r : rows)
            QTest::newRow(r.row) << r.value << r.min << r.max << r.marginal << r.outcome;
    }
    void limits()
    {
        QFETCH(double, value);
        QFETCH(double, min);
        QFETCH(double, max);
        QFETCH(double, marginal);
        QFETCH(Outcome, outcome);
        QCOMPARE(judge({ opt(min), opt(max), opt(marginal) }, value), outcome);
    }

    void readings_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("sent"); // Modbus: the request the reply answers
        QTest::addColumn<Quantity>("quantity");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("judgeable");
        QTest::newRow("voltage-bcd-digits-are-mv") << aa("80 00 06 00 01 33 00") << QByteArray()
                                                   << Quantity::Voltage << 3300.0 << "3300" << true;
        QTest::newRow("voltage-hex-digits-are-no-value")
            << aa("80 00 06 00 01 0C E4") << QByteArray() << Quantity::Voltage << kNone << "0CE4"
            << false;
        QTest::newRow("temperature-tenths-signed") << aa("80 00 08 00 01 FF 9C") << QByteArray()
                                                   << Quantity::Temperature << -10.0 << "" << true;
        QTest::newRow("modbus-serial-both-registers")
            << rtu("01 04 04 20 24 04 17") << rtu("01 04 00 07 00 02") << Quantity::Serial << kNone
            << "20240417" << true;
        QTest::newRow("modbus-angle-tenths")
            << rtu("01 04 04 00 00 00 22") << rtu("01 04 00 05 00 02") << Quantity::Angle << 3.4
            << "" << true;
        QTest::newRow("wrong-kind-is-no-answer") << aa("80 00 08 00 01 00 10") << QByteArray()
                                                 << Quantity::Voltage << kNone << "" << false;
    }
    void readings()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, sent);
        QFETCH(Quantity, quantity);
        QFETCH(double, value);
        QFETCH(QString, text);
        QFETCH(bool, judgeable);
        const core::replies::Reply decoded
            = sent.isEmpty() ? core::replies::decodeAa(reply, {}) : core::replies::decodeModbus(reply, sent);
        const Reading r = readingOf(quantity, decoded, reply);
        QCOMPARE(r.value, opt(value));
        QCOMPARE(r.text, text);
        QCOMPARE(r.problem.isEmpty(), judgeable);
        QCOMPARE(r.errorReply, false);
        // An error reply is the module's answer: the read fails, it is not unjudged.
        const QByteArray error = aa("00 00 00 00 01 00 04", 0xEE);
        const Reading refused = readingOf(quantity, core::replies::decodeAa(error, {}), error);
        QVERIFY(refused.errorReply && !refused.value);
    }

    // Outcomes the runner's tests reach against a module are not repeated here; the sigma is
    // checked against its definition.
    void measureStep_data()
    {
        QTest::addColumn<Samples>("samples");
        QTest::addColumn<int>("errors");
        QTest::addColumn<QString>("error"); // the unit could not be judged
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("centred-samples-pass")
            << Samples { 1000, 1001, 999, 1000 } << 0 << "" << Outcome::Pass;
        QTest::newRow("mean-error-in-band-marginal")
            << Samples { 1003, 1003, 1002, 1003 } << 0 << "" << Outcome::Marginal;
        QTest::newRow("noise-above-sigma-fails")
            << Samples { 998, 1002, 998, 1002 } << 0 << "" << Outcome::Fail;
        QTest::newRow("silence-is-error") << Samples { 1000 } << 0 << "no reply" << Outcome::Error;
    }
    void measureStep()
    {
        QFETCH(Samples, samples);
        QFETCH(int, errors);
        QFETCH(QString, error);
        QFETCH(Outcome, outcome);
        Values v;
        v.series = { samples, errors };
        v.error = error;
        const Attempt a = judgeAttempt(targetStep(), v);
        QCOMPARE(a.outcome, outcome);
        QCOMPARE(a.samples, samples);
        for (const Measurement &m : a.measurements)
            if (m.name == QLatin1String("sigma") && samples.size() > 1)
                QVERIFY(std::abs(*m.value - naiveSigma(samples)) < 1e-9);
    }

    void calibration_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<Samples>("samples");
        QTest::addColumn<int>("written"); // kRefused: nothing written
        const int refused = INT_MIN;
        QTest::newRow("reads-5-long-offset-3-becomes-minus-2")
            << 3 << Samples { 1005, 1004, 1006, 1005 } << -2;
        QTest::newRow("half-mm-rounds-away-from-zero")
            << 0 << Samples { 1001, 1002, 1001, 1002 } << -2;
        QTest::newRow("change-on-max-written") << 0 << Samples { 1050, 1050 } << -50;
        QTest::newRow("change-above-max-refused") << 0 << Samples { 1051, 1051 } << refused;
        QTest::newRow("noisy-series-refused") << 0 << Samples { 995, 1005, 995, 1005 } << refused;
        QTest::newRow("beyond-16-bit-register-refused") << 32760 << Samples { 990, 990 } << refused;
    }
    void calibration()
    {
        QFETCH(int, current);
        QFETCH(Samples, samples);
        QFETCH(int, written);
        TestStep step = targetStep();
        step.kind = TestStep::Kind::Calibrate;
        step.maxChange = 50;
        const Calibration c = calibrate(step, current, { samples, 0 });
        QCOMPARE(c.newOffset.value_or(INT_MIN), written);
        QCOMPARE(c.outcome == Outcome::Fail, written == INT_MIN);
        // Judged as a whole: the written offset read back and a fresh series at the reference.
        Values v;
        v.offsetBefore = current;
        v.calibrationSeries = { samples, 0 };
        v.offsetReadBack = written;
        v.series = { { 1000, 1000, 1001, 999 }, 0 };
        QCOMPARE(judgeAttempt(step, v).outcome, written == INT_MIN ? Outcome::Fail : Outcome::Pass);
        v.offsetReadBack = written + 1;
        QCOMPARE(judgeAttempt(step, v).outcome, Outcome::Fail);
    }

    void sequence_data()
    {
        QTest::addColumn<bool>("continueOnFail");
        QTest::addColumn<int>("retries"); // of the first step
        QTest::addColumn<QString>("fed"); // attempts' outcomes; LOST: ERROR with the line lost
        QTest::addColumn<QString>("steps"); // each step's outcome:attempts, then the run's
        QTest::newRow("retry-then-pass") << false << 1 << "FAIL PASS PASS PASS"
                                         << "PASS:2 PASS:1 PASS:1 PASS";
        QTest::newRow("retries-spent-stops") << false << 1 << "FAIL ERROR"
                                             << "ERROR:2 SKIPPED:0 SKIPPED:0 ERROR";
        QTest::newRow("continue-on-fail-runs-the-rest") << true << 0 << "FAIL PASS MARGINAL"
                                                        << "FAIL:1 PASS:1 MARGINAL:1 FAIL";
        QTest::newRow("lost-line-stops-a-continuing-run") << true << 3 << "LOST"
                                                          << "ERROR:1 SKIPPED:0 SKIPPED:0 ERROR";
        QTest::newRow("abort-is-never-retried") << false << 3 << "PASS ABORTED"
                                                << "PASS:1 ABORTED:1 SKIPPED:0 ABORTED";
    }
    void sequence()
    {
        QFETCH(bool, continueOnFail);
        QFETCH(int, retries);
        QFETCH(QString, fed);
        QFETCH(QString, steps);
        Plan plan;
        plan.continueOnFail = continueOnFail;
        plan.steps = { TestStep(), TestStep(), TestStep() };
        plan.steps[0].retries = retries;
        Sequence seq(plan);
        for (const QString &o : fed.split(' ')) {
            QVERIFY(!seq.finished());
            Attempt a;
            a.outcome = outcomeFromName(o).value_or(Outcome::Error);
            seq.attemptDone(a, o == QLatin1String("LOST"));
        }
        QVERIFY(seq.finished());
        QStringList seen;
        for (const Step &s : seq.steps())
            seen << outcomeName(s.outcome) + ':' + QString::number(s.attempts.size());
        QCOMPARE(seen.join(' ') + ' ' + outcomeName(seq.outcome()), steps);
    }

    void junitReport()
    {
        RunRecord passed;
        passed.port = QStringLiteral("/dev/ttyUSB0");
        passed.unit.serial = QStringLiteral("2024");
        passed.outcome = Outcome::Pass;
        passed.steps = { { QStringLiteral("supply"), Outcome::Pass, { {} } } };
        RunRecord failed = passed;
        failed.port = QStringLiteral("/dev/ttyUSB1");
        failed.outcome = Outcome::Fail;
        Measurement m { QStringLiteral("mean_error"), 3.4, {}, QStringLiteral("mm"), -3.0, 3.0, {},
            Outcome::Fail };
        Attempt a;
        a.outcome = Outcome::Fail;
        a.measurements = { m };
        failed.steps = { { QStringLiteral("1 m target"), Outcome::Fail, { a, a } },
            { QStringLiteral("ship"), Outcome::Skipped, {} } };
        // Every element but the properties, with its name or message.
        QXmlStreamReader xml(junitXml({ passed, failed }));
        QStringList seen;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() == u"property")
                continue;
            const QXmlStreamAttributes at = xml.attributes();
            seen << xml.name().toString() + ' '
                    + at.value(at.hasAttribute("message") ? "message" : "name").toString();
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(seen,
            (QStringList { "testsuites ", "testsuite /dev/ttyUSB0 2024", "properties ",
                "testcase supply", "system-out ", "testsuite /dev/ttyUSB1 2024", "properties ",
                "testcase 1 m target", "failure mean_error 3.4 mm (min -3, max 3) FAIL",
                "system-out ", "testcase ship", "skipped " }));
        QCOMPARE(exitStatus({ passed }), 0);
        QCOMPARE(exitStatus({ passed, failed }), 1);
        failed.outcome = Outcome::Aborted;
        QCOMPARE(exitStatus({ failed, passed }), 3);
    }
};

QTEST_GUILESS_MAIN(TestPlan)
#include "tst_plan.moc"
