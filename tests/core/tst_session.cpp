// The run model: reply numbering, records and their texts, the run's statistics, the chart-range
// rule and the chart's view of many points, clear(), the frame sent last and the address search.
#include "core/chartpoints.h"
#include "core/session.h"

#include <QTest>
#include <QTime>

#include <cmath>
#include <limits>

using core::Record;
using core::Session;

Q_DECLARE_METATYPE(core::Record)

namespace {
constexpr int kIntMax = std::numeric_limits<int>::max();
constexpr qint32 kClock = 33302318; // 09:15:02.318
const QString kAuto = QString::fromUtf8("自动测量");

void textRow(const char *name, const Record &record, const QString &texts)
{
    QTest::newRow(name) << record << texts.split(QLatin1Char('|'));
}

// The range after distances fed in order (the last one while monitoring, if asked) with
// `replies` replies counted before the last: {minY, maxY, setYRange, xUpper or -1}.
void rangeRow(const char *name, const QList<int> &distances, int replies, bool monitoring,
    const QList<int> &range)
{
    QTest::newRow(name) << distances << replies << monitoring << range;
}
// A run as {distance or error code, 1 for an error reply (2: Delete Data here), clock ms}.
using Run = QList<QList<qint64>>;

// The figures of a run computed from their definitions: two passes over the records kept after
// the last clear, all of them or the newest `window`; {count, errors, mean, sample stddev, min,
// max, peak to peak, records per second}.
QList<double> expected(const Run &run, qsizetype window)
{
    Run kept;
    qint64 day = 0;
    for (const QList<qint64> &r : run) {
        if (r[1] == 2) {
            kept.clear();
            continue;
        }
        // The clock of day starts again at midnight: a step back of more than half a day.
        if (!kept.isEmpty() && r[2] + day < kept.last()[2] - 12 * 3600 * 1000)
            day += 24 * 3600 * 1000;
        kept.append({ r[0], r[1], r[2] + day });
    }
    kept = kept.mid(qMax<qsizetype>(0, kept.size() - window));
    QList<double> values;
    for (const QList<qint64> &r : kept)
        if (r[1] == 0)
            values.append(double(r[0]));
    qint64 sum = 0; // exact for any run a test feeds
    for (double v : values)
        sum += qint64(v);
    const double mean = values.isEmpty() ? 0 : double(sum) / double(values.size());
    double squares = 0;
    for (double v : values)
        squares += (v - mean) * (v - mean);
    const double lo = values.isEmpty() ? 0 : *std::min_element(values.begin(), values.end());
    const double hi = values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
    const double span = kept.size() > 1 ? double(kept.last()[2] - kept.first()[2]) : 0;
    return { double(kept.size()), double(kept.size() - values.size()), mean,
        values.size() > 1 ? std::sqrt(squares / double(values.size() - 1)) : 0, lo, hi, hi - lo,
        span > 0 ? double(kept.size() - 1) * 1000 / span : 0 };
}

void feed(Session &session, const Run &run)
{
    for (const QList<qint64> &r : run) {
        if (r[1] == 2) {
            session.clear();
            continue;
        }
        Record record;
        record.value = qint32(r[0]);
        record.error = r[1] == 1;
        record.clockMs = qint32(r[2]);
        session.addRecord(record);
    }
}

QList<double> figures(const core::RunStats::Figures &f)
{
    return { double(f.count), double(f.errors), f.mean, f.stddev, double(f.min), double(f.max),
        double(f.peakToPeak), f.ratePerS };
}
} // namespace

class TestSession : public QObject
{
    Q_OBJECT
private slots:
    void recordTexts_data()
    {
        // {clock ms, value, signal, measuring ms, mode, language, error, code bytes}
        QTest::addColumn<Record>("record");
        QTest::addColumn<QStringList>("texts"); // mode, distance or code, signal, ms
        textRow("chinese-auto-with-time",
            { kClock, 1234, 110, 187, 0, core::Language::Chinese, false, 0 },
            "自动测量|1234|110|187");
        textRow("english-fast-negative", { 0, -5, -1, -1, 2, core::Language::English, false, 0 },
            "Fast measure|-5|-1|");
        textRow("time-0-shown", { kClock, 7, 0, 0, 1, core::Language::English, false, 0 },
            "Slow measure|7|0|0");
        textRow("mode-3-no-text", { 0, 1, 2, 5, 3, core::Language::English, false, 0 }, "|1|2|5");
        textRow("error-2-bytes-no-signal",
            { kClock, 0x0F, 99, 187, 1, core::Language::Chinese, true, 2 }, "慢速测量|000F||187");
        textRow("error-4-bytes-top-bit", { 0, -15, 0, -1, 0, core::Language::English, true, 4 },
            "Auto measure|FFFFFFF1||");
    }
    void recordTexts()
    {
        QFETCH(Record, record);
        QFETCH(QStringList, texts);
        const QStringList all = core::recordTexts(record);
        QCOMPARE(all.mid(1), texts);
        QCOMPARE(
            all.first(), QTime::fromMSecsSinceStartOfDay(record.clockMs).toString("HH:mm:ss.zzz"));
        // The table holds every record's texts in the order they came.
        Session session;
        session.addRecord(record);
        session.addRecord(Record {});
        const QStringList first { "00:00:00.000", kAuto, "0", "0", "" };
        QCOMPARE(session.table(), (QList<QList<QString>> { all, first }));
    }

    void recordOf_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<qint64>("number");
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QStringList>("texts"); // distance or code, signal, ms
        using K = core::replies::Kind;
        QTest::newRow("measurement-with-signal")
            << int(K::Measurement) << qint64(1234) << QByteArray()
            << QStringList { "1234", "110", "187" };
        QTest::newRow("module-error-code-keeps-both-bytes")
            << int(K::ModuleError) << qint64(0x0F) << QByteArray::fromHex("000F")
            << QStringList { "000F", "", "187" };
        QTest::newRow("modbus-exception-one-byte")
            << int(K::ModbusException) << qint64(4) << QByteArray::fromHex("04")
            << QStringList { "04", "", "187" };
    }
    void recordOf()
    {
        QFETCH(int, kind);
        QFETCH(qint64, number);
        QFETCH(QByteArray, word);
        QFETCH(QStringList, texts);
        core::replies::Reply reply;
        reply.kind = core::replies::Kind(kind);
        reply.number = number;
        reply.signal = 110;
        reply.word = word;
        const Record record = core::recordOf(reply, kClock, 1, core::Language::English, 187);
        QCOMPARE(core::recordTexts(record).mid(2), texts);
    }

    void stats_data()
    {
        QTest::addColumn<Run>("run");
        auto steady = [](qint32 base, int n, int stepMs, qint64 fromMs = 0) {
            Run run;
            for (int k = 0; k < n; ++k)
                run.append({ base + (k * 7919) % 23 - 11, 0, fromMs + qint64(k) * stepMs });
            return run;
        };
        QTest::newRow("empty") << Run {};
        QTest::newRow("one-record") << Run { { 1234, 0, 5000 } };
        QTest::newRow("one-error-only") << Run { { 0x0F, 1, 5000 } };
        QTest::newRow("errors-count-not-in-mean") << Run { { 100, 0, 0 }, { 0x0F, 1, 10 },
            { 104, 0, 20 }, { 0xFFFFFFF1, 1, 30 }, { 90, 0, 40 } };
        QTest::newRow("negative-distances") << Run { { -5, 0, 0 }, { -50, 0, 2 }, { 7, 0, 3 } };
        // A naive sum of squares loses every digit of the spread here.
        QTest::newRow("large-distances-small-spread") << steady(2000000000, 500, 1);
        QTest::newRow("int-limits-peak-to-peak")
            << Run { { -2147483647 - 1, 0, 0 }, { 2147483647, 0, 1000 } };
        QTest::newRow("window-holds-newest-100") << steady(1500, 250, 2) + steady(-300, 30, 3, 600);
        Run cleared = steady(5000, 150, 1);
        cleared.append({ 0, 2, 0 });
        QTest::newRow("delete-data-restarts") << cleared + steady(40, 20, 5, 9000);
        QTest::newRow("clear-then-nothing") << Run { { 8, 0, 0 }, { 0, 2, 0 } };
        QTest::newRow("rate-over-midnight")
            << Run { { 1, 0, 86399000 }, { 2, 0, 86399500 }, { 3, 0, 500 } };
        QTest::newRow("same-millisecond-no-rate") << Run { { 1, 0, 7 }, { 2, 0, 7 } };
        QTest::newRow("one-millisecond-apart-1000-a-second") << Run { { 1, 0, 7 }, { 2, 0, 8 } };
        QTest::newRow("clock-set-back-10h-is-not-midnight")
            << Run { { 1, 0, 23 * 3600000 }, { 2, 0, 13 * 3600000 } };
    }
    // The run's figures, fed record by record through the session, against the definitions.
    void stats()
    {
        QFETCH(Run, run);
        Session session;
        feed(session, run);
        const core::RunStats::Summary s = session.stats().summary();
        const QList<QList<double>> got { figures(s.all), figures(s.recent) };
        const QList<QList<double>> want { expected(run, run.size()), expected(run, 100) };
        for (int w = 0; w < 2; ++w)
            for (int k = 0; k < want[w].size(); ++k)
                QVERIFY2(std::abs(got[w][k] - want[w][k]) <= 1e-6 * qMax(1.0, std::abs(want[w][k])),
                    qPrintable(QStringLiteral("%1 figure %2: %3, expected %4")
                                   .arg(w ? "recent" : "all")
                                   .arg(k)
                                   .arg(got[w][k], 0, 'g', 17)
                                   .arg(want[w][k], 0, 'g', 17)));
    }

    void statsTable_data()
    {
        QTest::addColumn<Run>("run");
        QTest::addColumn<QStringList>("column"); // count, errors, mean, spread, min, max, p-p, rate
        QTest::newRow("one-distance-no-spread-no-rate")
            << Run { { 1234, 0, 0 } }
            << QStringList { "1", "0", "1234.00", "-", "1234", "1234", "0", "-" };
        QTest::newRow("two-distances-spread-and-rate")
            << Run { { 100, 0, 0 }, { 104, 0, 1000 } }
            << QStringList { "2", "0", "102.00", "2.83", "100", "104", "4", "1.0" };
        QTest::newRow("errors-only-rate-but-no-distances") << Run { { 0x0F, 1, 0 },
            { 0x0F, 1, 500 } } << QStringList { "2", "2", "-", "-", "-", "-", "-", "2.0" };
    }
    // The panel's and the workbook's table: a figure that the records cannot give is a dash.
    void statsTable()
    {
        QFETCH(Run, run);
        QFETCH(QStringList, column);
        Session session;
        feed(session, run);
        const QList<QList<QString>> table
            = core::statsTable(session.stats().summary(), core::Language::English);
        QCOMPARE(table.size(), column.size() + 1);
        QCOMPARE(table.first(), (QList<QString> { QString(), "All", "Newest 100" }));
        for (qsizetype k = 0; k < column.size(); ++k) {
            QCOMPARE(table[k + 1].at(1), column.at(k));
            QCOMPARE(table[k + 1].at(2), column.at(k)); // fewer than 100: the same records
        }
    }

    void chartView_data()
    {
        QTest::addColumn<int>("count"); // points at x = 0, 2, 4, ...
        QTest::addColumn<qint32>("amplitude"); // distances spread over -amplitude .. amplitude
        QTest::addColumn<QList<double>>("range"); // lo, hi, columns
        QTest::newRow("few-points-every-one") << 100 << 5000 << QList<double> { 0, 198, 100 };
        QTest::newRow("four-times-the-columns-plus-one")
            << 401 << 5000 << QList<double> { 0, 800, 100 };
        QTest::newRow("million-points-whole-run")
            << 1000000 << 2000000000 << QList<double> { 0, 1999998, 997 };
        QTest::newRow("zoomed-into-the-middle")
            << 300000 << 40000 << QList<double> { 1000.5, 90000.2, 701 };
        QTest::newRow("range-past-the-last-point")
            << 20000 << 7 << QList<double> { -50, 100000, 333 };
    }
    // Whatever is drawn are real points in x order, never more than four a column, and each
    // column's first, lowest, highest and last point are among them (found here by looking at
    // every point; x is in column (x - lo) / (hi - lo) x columns, as a plot maps it).
    void chartView()
    {
        QFETCH(int, count);
        QFETCH(qint32, amplitude);
        QFETCH(QList<double>, range);
        core::ChartPoints chart;
        chart.add(5, 5);
        chart.clear(); // starts afresh
        QList<core::ChartPoints::Point> all;
        quint32 seed = 12345;
        for (int k = 0; k < count; ++k) {
            seed = seed * 1103515245u + 12345u;
            all.append(
                { 2 * k, qint32(qint64(seed % 2000001u) * amplitude / 1000000 - amplitude) });
            chart.add(all.last().x, all.last().y);
        }
        const double lo = range[0], hi = range[1];
        const int columns = int(range[2]);
        const QList<core::ChartPoints::Point> view = chart.view(lo, hi, columns);
        QList<core::ChartPoints::Point> inside;
        for (const auto &p : all)
            if (p.x >= lo && p.x <= hi)
                inside.append(p);
        for (qsizetype k = 1; k < view.size(); ++k)
            QVERIFY(view[k - 1].x < view[k].x);
        for (const auto &p : view)
            QVERIFY(p.x % 2 == 0 && p.x / 2 < count && all[p.x / 2] == p);
        // The neighbours outside the range keep the line running to the edges.
        QCOMPARE(view.first().x < lo, all.first().x < lo);
        QCOMPARE(view.last().x > hi, all.last().x > hi);
        if (inside.size() <= 4 * columns) {
            QCOMPARE(view.size() - (view.first().x < lo) - (view.last().x > hi), inside.size());
            return;
        }
        QVERIFY(view.size() <= 4 * columns + 2);
        const auto column = [&](const core::ChartPoints::Point &p) {
            return qBound(0, int(std::floor((p.x - lo) / (hi - lo) * columns)), columns - 1);
        };
        QMap<int, QList<core::ChartPoints::Point>> firstLowHighLast;
        for (const auto &p : inside) {
            auto it = firstLowHighLast.find(column(p));
            if (it == firstLowHighLast.end()) {
                firstLowHighLast.insert(column(p), { p, p, p, p });
                continue;
            }
            if (p.y < (*it)[1].y)
                (*it)[1] = p;
            if (p.y > (*it)[2].y)
                (*it)[2] = p;
            (*it)[3] = p;
        }
        QMap<int, QList<qint32>> drawn; // column: x of the points drawn
        for (const auto &p : view)
            if (p.x >= lo && p.x <= hi)
                drawn[column(p)].append(p.x);
        for (auto it = firstLowHighLast.cbegin(); it != firstLowHighLast.cend(); ++it) {
            for (const auto &p : *it) // of equal heights, the earliest
                QVERIFY2(drawn[it.key()].contains(p.x),
                    qPrintable(QStringLiteral("column %1").arg(it.key())));
        }
    }

    void chartRange_data()
    {
        QTest::addColumn<QList<int>>("distances");
        QTest::addColumn<int>("replies");
        QTest::addColumn<bool>("monitoring");
        QTest::addColumn<QList<int>>("range");
        rangeRow("first-1234-top-1357", { 1234 }, 0, false, { 0, 1357, true, -1 });
        rangeRow("top-1-1-times-truncated", { 301 }, 0, false, { 0, 331, true, -1 });
        rangeRow("at-top-unchanged", { 300 }, 0, false, { 0, 300, true, -1 });
        rangeRow("below-grown-top-unchanged", { 1234, 301 }, 0, false, { 0, 1357, true, -1 });
        rangeRow("negative-drops-bottom", { -5 }, 0, false, { -5, 300, true, -1 });
        rangeRow("bottom-never-rises", { -5, -2 }, 0, false, { -5, 300, true, -1 });
        rangeRow("x-20-untouched", { 10 }, 20, false, { 0, 300, true, -1 });
        rangeRow("x-21-stretches", { 10 }, 21, false, { 0, 300, true, 21 });
        rangeRow("monitoring-moves-nothing", { 5000 }, 40, true, { 0, 300, false, -1 });
        rangeRow("monitoring-keeps-range", { 1234, -5, -50 }, 40, true, { -5, 1357, false, -1 });
        rangeRow("top-just-below-int-max", { 1952257860 }, 0, false, { 0, 2147483646, true, -1 });
        rangeRow("top-past-int-max-stops", { 1952257862 }, 0, false, { 0, kIntMax, true, -1 });
        rangeRow("int-min-bottom", { -kIntMax - 1 }, 0, false, { -kIntMax - 1, 300, true, -1 });
    }
    void chartRange()
    {
        QFETCH(QList<int>, distances);
        QFETCH(int, replies);
        QFETCH(bool, monitoring);
        QFETCH(QList<int>, range);
        Session session;
        for (qsizetype k = 0; k + 1 < distances.size(); ++k)
            session.addChartPoint(distances.at(k), false);
        for (int k = 0; k < replies; ++k)
            session.countReply();
        const core::ChartRange r = session.addChartPoint(distances.last(), monitoring);
        QCOMPARE((QList<int> { r.minY, r.maxY, r.setYRange, r.xUpper.value_or(-1) }), range);
        QCOMPARE((QList<int> { session.minY(), session.maxY() }), range.mid(0, 2));
    }

    // Replies are numbered from 0; clear() forgets records, numbering and range, not the frame
    // sent last nor a running address search.
    void stateAndAddressSearch()
    {
        Session session;
        for (int k = 0; k <= 3; session.countReply(), ++k)
            QCOMPARE(session.replyNumber(), k);
        session.addRecord(Record {});
        session.addChartPoint(5000, false);
        session.addChartPoint(-7, false);
        session.setLastSent(QByteArray::fromHex("010400040003"));
        session.startAddressSearch();
        session.clear();
        QCOMPARE(session.replyNumber(), 0);
        QVERIFY(session.records().isEmpty());
        QCOMPARE((QList<int> { session.minY(), session.maxY() }), (QList<int> { 0, 300 }));
        QCOMPARE(session.lastSent(), QByteArray::fromHex("010400040003"));
        QVERIFY(session.addressSearchRunning());
        // The search probes 0 .. 126, one address each, then ends by itself; ending it early
        // resets it, so the next search starts at 0 again.
        QCOMPARE(session.nextProbe(), 0);
        QCOMPARE(session.nextProbe(), 1);
        session.endAddressSearch();
        QVERIFY(!session.addressSearchRunning());
        QCOMPARE(session.lastProbe(), -1);
        session.startAddressSearch();
        for (int address = 0; address <= 126; ++address) {
            QVERIFY2(session.addressSearchRunning(), qPrintable(QString::number(address)));
            QCOMPARE(session.nextProbe(), address);
            QCOMPARE(session.lastProbe(), address < 126 ? address : -1);
        }
        QVERIFY(!session.addressSearchRunning());
    }
};

QTEST_APPLESS_MAIN(TestSession)
#include "tst_session.moc"
