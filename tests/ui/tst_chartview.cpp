// The chart on its own: every point drawn while there are few, beyond that a view that keeps the
// lowest and highest of the range shown; clearing.
#include "ui/chartview.h"
#include "windowrig.h"

#include <QTest>

using ui::ChartView;

class TestChartView : public QObject
{
    Q_OBJECT
private slots:
    void graphHoldsPointsOrTheirView_data();
    void graphHoldsPointsOrTheirView();
};

void TestChartView::graphHoldsPointsOrTheirView_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<double>("from"); // the x range shown
    QTest::addColumn<double>("to");
    QTest::newRow("up-to-the-limit-every-point")
        << int(ChartView::kDrawEveryPointUpTo) << 0.0 << 5e3;
    QTest::newRow("past-the-limit-whole-range") << 20000 << 0.0 << 2e4;
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
    // Points of the data, and in the range shown the same lowest and highest as all the points.
    double low = 1e9, high = -1e9, drawnLow = 1e9, drawnHigh = -1e9;
    for (int x = int(from); x <= int(to) && x < count; ++x) {
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
    if (count <= ChartView::kDrawEveryPointUpTo)
        QCOMPARE(drawn.size(), count);
    else
        QVERIFY(drawn.size() <= 4 * kColumns + 2); // a few points a column
    chart.clearPoints();
    QCOMPARE(chart.graph(0)->dataCount(), 0);
}

QTEST_MAIN(TestChartView)
#include "tst_chartview.moc"
