// Analysis of a run against figures computed here from their definitions: Allan deviation by a
// plain loop over the formula, least squares by hand, the histogram by counting.
#include "core/analysis/analysis.h"

#include <QTest>

#include <cmath>

using core::Record;
using core::analysis::Temperature;
using Records = QList<Record>;
using Temperatures = QList<Temperature>;

namespace {

constexpr qint32 kDayMs = 24 * 3600 * 1000;

Record record(qint64 ms, qint32 value, bool error = false)
{
    Record r;
    r.clockMs = qint32(ms % kDayMs);
    r.value = value;
    r.error = error;
    return r;
}

// Gaussian noise of sigma 1 from a fixed seed (Box-Muller over a 64-bit LCG).
double gaussian(quint64 *state)
{
    const auto uniform = [state] {
        *state = *state * 6364136223846793005ull + 1442695040888963407ull;
        return (double(*state >> 11) + 0.5) / 9007199254740992.0;
    };
    const double u = uniform();
    return std::sqrt(-2 * std::log(u)) * std::cos(2 * M_PI * uniform());
}

bool near(double a, double b, double relative)
{
    return std::abs(a - b) <= relative * std::max({ 1.0, std::abs(a), std::abs(b) });
}

} // namespace

class TestAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void figures_data()
    {
        QTest::addColumn<Records>("records");
        QTest::addColumn<Temperatures>("temperatures");
        QTest::addColumn<double>("band");
        QTest::addColumn<QVariantMap>("facts"); // a null value: the figure has none
        Records noise, ramp, step, midnight, broken, warm;
        Temperatures readings;
        quint64 seed = 7;
        for (int i = 0; i < 65536; ++i)
            noise << record(i * 100LL, 1234 + qint32(std::lround(5 * gaussian(&seed))));
        for (int i = 0; i < 3600; ++i)
            ramp << record(50000000 + i * 1000LL, 1000 + i);
        for (int i = 0; i < 1200; ++i) // five minutes 3 mm long, then settled; +-1 mm alternating
            step << record(i * 1000LL, (i < 300 ? 1003 : 1000) + (i % 2 ? 1 : -1));
        for (int i = 0; i < 1200; ++i) // 23:59:00 to 00:01:00
            midnight << record(kDayMs - 60000 + i * 100LL, 500 + i);
        for (int i = 0; i < 100; ++i) // errors at 0, 10 and 50, a 10 s gap before 71
            broken << record(
                i * 1000LL + (i > 70 ? 10000 : 0), 700 + i % 7, i % 50 == 0 || i == 10);
        for (int i = 0; i < 200; ++i) // 1/8 degree a second, 1 mm a second: 8 mm/degree
            warm << record(i * 1000LL, 2160 + i);
        for (int i = -1; i <= 20; ++i)
            readings << Temperature { i * 10000LL + 500, 20 + (i * 10 + 0.5) / 8 };
        const QVariant none;
        QTest::newRow("white-noise-slope-minus-half")
            << noise << Temperatures {} << 0.5
            << QVariantMap { { "tau0", 0.1 }, { "slope", -0.5 }, { "temp", none } };
        QTest::newRow("ramp-is-pure-drift")
            << ramp << Temperatures {} << 0.5
            << QVariantMap { { "drift", 3600.0 }, { "rampStep", 1.0 }, { "warmup", none } };
        QTest::newRow("step-warm-up-five-minutes")
            << step << Temperatures {} << 0.5 << QVariantMap { { "warmup", 300.0 } };
        QTest::newRow("step-inside-a-wider-band-settled-at-once")
            << step << Temperatures {} << 3.5 << QVariantMap { { "warmup", 0.0 } };
        QTest::newRow("midnight-wrap") << midnight << Temperatures {} << 0.5
                                       << QVariantMap { { "tau0", 0.1 }, { "gaps", 0 },
                                              { "drift", 36000.0 }, { "rampStep", 1.0 } };
        QTest::newRow("errors-and-gaps-counted")
            << broken << Temperatures {} << 0.5
            << QVariantMap { { "errors", 3 }, { "gaps", 1 }, { "breaks", 3 }, { "tau0", 1.0 } };
        QTest::newRow("median-of-an-even-number-of-intervals") << Records {
            record(0, 5), record(1000, 6), record(3000, 5), record(6000, 7), record(10000, 5)
        } << Temperatures {} << 0.5 << QVariantMap { { "tau0", 2.5 }, { "gaps", 0 } };
        QTest::newRow("temperature-coefficient")
            << warm << readings << 0.5 << QVariantMap { { "temp", 8.0 }, { "drift", 3600.0 } };
        QTest::newRow("one-record")
            << Records { record(5, -40) } << Temperatures {} << 0.5
            << QVariantMap { { "tau0", 0.0 }, { "drift", none }, { "warmup", 0.0 } };
        QTest::newRow("empty-run")
            << Records {} << readings << 0.5
            << QVariantMap { { "drift", none }, { "warmup", none }, { "temp", none } };
    }
    void figures()
    {
        QFETCH(Records, records);
        QFETCH(Temperatures, temperatures);
        QFETCH(double, band);
        QFETCH(QVariantMap, facts);
        const auto f = core::analysis::analyse(records, temperatures, { band, 3 });
        QList<double> d, hours;
        for (const Record &r : records) {
            if (!r.error) {
                d << r.value;
                hours << (r.clockMs - records.first().clockMs
                             + (r.clockMs < records.first().clockMs ? kDayMs : 0))
                        / 3.6e6;
            }
        }
        const qsizetype n = d.size();
        QCOMPARE(f.count, records.size());
        QCOMPARE(f.distances(), n);
        double sum = 0, squares = 0, sx = 0, sxx = 0, sxy = 0;
        for (qsizetype i = 0; i < n; ++i) {
            sum += d[i];
            sx += hours[i];
            sxx += hours[i] * hours[i];
            sxy += hours[i] * d[i];
        }
        for (const double v : d)
            squares += (v - sum / n) * (v - sum / n);
        if (n > 0)
            QVERIFY(near(f.mean, sum / n, 1e-12));
        if (n > 1) {
            QVERIFY(near(f.sigma, std::sqrt(squares / (n - 1)), 1e-9));
            QVERIFY(f.driftMmPerH);
            QVERIFY(near(*f.driftMmPerH, (n * sxy - sx * sum) / (n * sxx - sx * sx), 1e-6));
        }

        // Histogram: every distance in exactly one bin, by counting.
        QVERIFY(f.histogram.size() <= 200);
        qint64 counted = 0;
        for (const auto &bin : f.histogram) {
            QCOMPARE(bin.to - bin.from, f.histogram.first().to - f.histogram.first().from);
            QCOMPARE(bin.from - std::floor(bin.from), 0.5); // half-way between whole mm
            if (f.max - f.min < 200)
                QCOMPARE(bin.to - bin.from, 1.0);
            const auto inBin = std::count_if(
                d.begin(), d.end(), [&](double v) { return v >= bin.from && v < bin.to; });
            QCOMPARE(bin.count, qint64(inBin));
            counted += inBin;
            const auto cdf = [&](double x) {
                return f.sigma > 0 ? 0.5 * (1 + std::erf((x - f.mean) / f.sigma / std::sqrt(2.0)))
                                   : double(x > f.mean);
            };
            QVERIFY(near(bin.expected, n * (cdf(bin.to) - cdf(bin.from)), 1e-9));
        }
        QCOMPARE(counted, n);

        // Allan deviation: the formula, averages summed afresh for every position.
        QCOMPARE(f.allan.size(), n < 2 ? 0 : qsizetype(std::log2(n / 2)) + 1);
        for (qsizetype k = 0; k < f.allan.size(); ++k) {
            const qint64 m = qint64(1) << k;
            QCOMPARE(f.allan[k].n, n - 2 * m + 1);
            QVERIFY(near(f.allan[k].tauS, m * f.tau0S, 1e-12));
            if (facts.contains("rampStep"))
                QVERIFY(near(f.allan[k].adev, facts["rampStep"].toDouble() * m / M_SQRT2, 1e-9));
            if (m > 256)
                continue;
            double total = 0;
            for (qint64 j = 0; j + 2 * m <= n; ++j) {
                double a = 0, b = 0;
                for (qint64 i = j; i < j + m; ++i) {
                    a += d[i];
                    b += d[i + m];
                }
                total += (b / m - a / m) * (b / m - a / m);
            }
            QVERIFY2(near(f.allan[k].adev, std::sqrt(total / (2.0 * (n - 2 * m + 1))), 1e-9),
                qPrintable(QStringLiteral("m %1").arg(m)));
        }

        const auto optional
            = [](const std::optional<double> &v) { return v ? QVariant(*v) : QVariant(); };
        const QVariantMap got { { "errors", f.errors }, { "gaps", f.gaps },
            { "breaks", f.allanBreaks }, { "tau0", f.tau0S }, { "drift", optional(f.driftMmPerH) },
            { "warmup", optional(f.warmupS) }, { "temp", optional(f.temperatureMmPerC) } };
        for (auto it = facts.cbegin(); it != facts.cend(); ++it) {
            if (it.key() == "slope") { // least squares of log adev over log tau, m = 1 .. 256
                double x = 0, y = 0, xx = 0, xy = 0;
                for (int k = 0; k <= 8; ++k) {
                    x += std::log(f.allan[k].tauS);
                    y += std::log(f.allan[k].adev);
                    xx += std::log(f.allan[k].tauS) * std::log(f.allan[k].tauS);
                    xy += std::log(f.allan[k].tauS) * std::log(f.allan[k].adev);
                }
                QVERIFY(std::abs((9 * xy - x * y) / (9 * xx - x * x) - it->toDouble()) <= 0.05);
            } else if (it.key() != "rampStep") {
                QVERIFY2(got[it.key()].isNull() == it->isNull()
                        && near(got[it.key()].toDouble(), it->toDouble(), 1e-9),
                    qPrintable(it.key() + ": " + got[it.key()].toString()));
            }
        }
    }
};

QTEST_MAIN(TestAnalysis)
#include "tst_analysis.moc"
