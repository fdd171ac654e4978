// Analysis of a run against figures computed here from their definitions: Allan deviation by a
// plain loop over the formula, least squares by hand, the histogram by counting.
#include "core/analysis/analysis.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <random>

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

bool near(double a, double b, double relative = 1e-9)
{
    return std::abs(a - b) <= relative * std::max({ 1.0, std::abs(a), std::abs(b) });
}

void row(const char *name, const Records &records, const QVariantMap &facts,
    const Temperatures &temperatures = {}, double band = 0.5)
{
    QTest::newRow(name) << records << temperatures << band << facts;
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
        Temperatures readings, beforeMidnight;
        QRandomGenerator seeded(7);
        std::normal_distribution<double> gaussian(1234, 5);
        for (int i = 0; i < 65536; ++i)
            noise << record(i * 100LL, qint32(std::lround(gaussian(seeded))));
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
        // The same readings on a clock of the day: the first at 23:59:50.5, the run from 00:00.
        for (const Temperature &t : readings)
            beforeMidnight << Temperature { (t.clockMs + kDayMs) % kDayMs, t.celsius };
        const QVariant none;
        row("white-noise-allan-against-the-formula", noise, { { "tau0", 0.1 }, { "temp", none } });
        row("ramp-is-pure-drift", ramp, { { "drift", 3600.0 }, { "warmup", none } });
        row("step-warm-up-five-minutes", step, { { "warmup", 300.0 } });
        row("step-inside-a-wider-band-settled-at-once", step, { { "warmup", 0.0 } }, {}, 3.5);
        row("midnight-wrap", midnight, { { "tau0", 0.1 }, { "gaps", 0 }, { "drift", 36000.0 } });
        row("errors-and-gaps-counted", broken,
            { { "errors", 3 }, { "gaps", 1 }, { "breaks", 3 }, { "tau0", 1.0 } });
        row("median-of-an-even-number-of-intervals",
            { record(0, 5), record(1000, 6), record(3000, 5), record(6000, 7), record(10000, 5) },
            { { "tau0", 2.5 }, { "gaps", 0 } });
        row("temperature-coefficient", warm, { { "temp", 8.0 }, { "drift", 3600.0 } }, readings);
        row("temperature-read-before-midnight", warm, { { "temp", 8.0 } }, beforeMidnight);
        row("one-record", { record(5, -40) },
            { { "tau0", 0.0 }, { "drift", none }, { "warmup", 0.0 } });
        row("empty-run", {}, { { "drift", none }, { "warmup", none }, { "temp", none } }, readings);
    }
    void figures()
    {
        QFETCH(Records, records);
        QFETCH(Temperatures, temperatures);
        QFETCH(double, band);
        QFETCH(QVariantMap, facts);
        const auto f = core::analysis::analyse(records, temperatures, { band, 3 });
        QList<double> d;
        double sum = 0, sx = 0, sxx = 0, sxy = 0; // x: hours since the first record
        for (const Record &r : records) {
            const qint32 since = r.clockMs - records.first().clockMs;
            const double x = (since < 0 ? since + kDayMs : since) / 3.6e6;
            if (!r.error) {
                d << r.value;
                sum += r.value, sx += x, sxx += x * x, sxy += x * r.value;
            }
        }
        const qsizetype n = d.size();
        QCOMPARE(f.count, records.size());
        QCOMPARE(f.distances(), n);
        double squares = 0;
        for (const double v : d)
            squares += (v - sum / n) * (v - sum / n);
        QVERIFY(n < 1 || near(f.mean, sum / n, 1e-12));
        QVERIFY(n < 2 || near(f.sigma, std::sqrt(squares / (n - 1))));
        QVERIFY(n < 2 || near(*f.driftMmPerH, (n * sxy - sx * sum) / (n * sxx - sx * sx), 1e-6));

        // Histogram: every distance in the one bin it lies in, by counting; the normal curve's
        // share of each bin from its distribution function.
        QVERIFY(f.histogram.size() <= 200);
        qint64 counted = 0;
        for (const auto &bin : f.histogram) {
            const double width = bin.to - bin.from;
            QCOMPARE(width, f.max - f.min < 200 ? 1.0 : f.histogram[0].to - f.histogram[0].from);
            QCOMPARE(bin.from - std::floor(bin.from), 0.5); // half-way between whole mm
            const auto inside = std::count_if(
                d.begin(), d.end(), [&](double v) { return v >= bin.from && v < bin.to; });
            QCOMPARE(bin.count, qint64(inside));
            counted += inside;
            const auto cdf = [&](double x) {
                return f.sigma > 0 ? std::erfc((f.mean - x) / f.sigma / M_SQRT2) / 2 : x > f.mean;
            };
            QVERIFY(near(bin.expected, n * (cdf(bin.to) - cdf(bin.from))));
        }
        QCOMPARE(counted, n);

        // Allan deviation: the formula, every average summed afresh (up to m = 256).
        QCOMPARE(f.allan.size(), n < 2 ? 0 : qsizetype(std::log2(n / 2)) + 1);
        for (qsizetype k = 0; k < f.allan.size(); ++k) {
            const qint64 m = qint64(1) << k;
            QCOMPARE(f.allan[k].n, n - 2 * m + 1);
            QVERIFY(near(f.allan[k].tauS, m * f.tau0S, 1e-12));
            double total = 0;
            for (qint64 j = 0; m <= 256 && j + 2 * m <= n; ++j) {
                double a = 0, b = 0;
                for (qint64 i = j; i < j + m; ++i)
                    a += d[i], b += d[i + m];
                total += (b / m - a / m) * (b / m - a / m);
            }
            QVERIFY(m > 256 || near(f.allan[k].adev, std::sqrt(total / (2.0 * (n - 2 * m + 1)))));
        }

        const auto value
            = [](const std::optional<double> &v) { return v ? QVariant(*v) : QVariant(); };
        const QVariantMap got { { "errors", f.errors }, { "gaps", f.gaps },
            { "breaks", f.allanBreaks }, { "tau0", f.tau0S }, { "drift", value(f.driftMmPerH) },
            { "warmup", value(f.warmupS) }, { "temp", value(f.temperatureMmPerC) } };
        for (auto it = facts.cbegin(); it != facts.cend(); ++it) {
            QVERIFY2(got[it.key()].isNull() == it->isNull()
                    && near(got[it.key()].toDouble(), it->toDouble()),
                qPrintable(it.key() + ": " + got[it.key()].toString()));
        }
    }
};

QTEST_MAIN(TestAnalysis)
#include "tst_analysis.moc"
