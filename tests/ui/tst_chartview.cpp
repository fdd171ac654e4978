// The chart on its own: every point drawn while there are few, beyond that a view that keeps each
// range's lowest and highest; clearing; no replot while hidden, a replot for a record when shown.
#include "ui/chartview.h"
#include "windowrig.h"

#include <QSignalSpy>
#include <QTest>

using ui::ChartView;

class TestChartView : public QObject
{
    Q_OBJECT
private slots:
    void graphHoldsPointsOrTheirView_data();
    void graphHoldsPointsOrTheirView();
    void replotsOnlyWhenShown();
};

void TestChartView::graphHoldsPointsOrTheirView_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("from"); // the x range shown
    QTest::addColumn<double>("to");
    QTest::newRow("few-points-every-one") << 300 << 0.0 << 300.0;
    QTest::newRow("at-the-limit-every-one") << int(ChartView::kDrawEveryPointUpTo) << 0.0 << 5000.0;
    QTest::newRow("past-the-limit-whole-range") << 20000 << 0.0 << 20000.0;
    QTest::newRow("past-the-limit-zoomed-in") << 20000 << 7000.0 << 7500.0;
}

void TestChartView::graphHoldsPointsOrTheirView()
{
    QFETCH(int, count);
    QFETCH(double, from);
    QFETCH(double, to);
    constexpr int kColumns = 200;
    ChartView chart;
    chart.addGraph();
    // A saw tooth with spikes, so each column has its own lowest and highest.
    const auto y = [](int x) { return (x * 37) % 101 - (x % 997 == 0 ? 5000 : 0); };
    for (int x = 0; x < count; ++x)
        chart.addPoint(x, y(x));
    chart.xAxis->setRange(from, to);
    chart.refreshView(kColumns);
    const QCPGraphDataContainer &drawn = *chart.graph(0)->data();
    if (count <= ChartView::kDrawEveryPointUpTo) {
        QCOMPARE(drawn.size(), count);
        for (int x = 0; x < count; ++x)
            QCOMPARE(drawn.at(x)->value, double(y(x)));
    } else {
        // A view: a few points a column, the range's lowest and highest among them.
        QVERIFY(drawn.size() <= 4 * kColumns + 2);
        double low = 1e9, high = -1e9, drawnLow = 1e9, drawnHigh = -1e9;
        for (int x = int(from); x <= int(to); ++x) {
            low = qMin(low, double(y(x)));
            high = qMax(high, double(y(x)));
        }
        for (auto it = drawn.constBegin(); it != drawn.constEnd(); ++it) {
            QCOMPARE(it->value, double(y(int(it->key))));
            if (it->key >= from && it->key <= to) {
                drawnLow = qMin(drawnLow, it->value);
                drawnHigh = qMax(drawnHigh, it->value);
            }
        }
        QCOMPARE(drawnLow, low);
        QCOMPARE(drawnHigh, high);
    }
    chart.clearPoints();
    QCOMPARE(chart.points().size(), 0);
    QCOMPARE(chart.graph(0)->dataCount(), 0);
}

void TestChartView::replotsOnlyWhenShown()
{
    ChartView chart;
    chart.addGraph();
    chart.resize(400, 300);
    QSignalSpy replots(&chart, &QCustomPlot::afterReplot);
    QTest::qWait(2 * int(ChartView::kFrameMs)); // the plot's own first replot
    replots.clear();
    chart.addPoint(1, 10);
    chart.replotNow();
    QTest::qWait(2 * int(ChartView::kFrameMs));
    QCOMPARE(replots.count(), 0); // a hidden chart has nothing to draw into
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    replots.clear();
    chart.addPoint(2, 20);
    QTRY_VERIFY(replots.count() > 0);
}

QTEST_MAIN(TestChartView)
#include "tst_chartview.moc"
