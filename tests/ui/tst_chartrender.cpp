// The chart's view of many points drawn by QCustomPlot offscreen, against every point drawn.
#include "core/chartpoints.h"

#include <QTest>
#include <QtWidgets>
#include <qcustomplot.h>

using Points = QList<core::ChartPoints::Point>;

namespace {

// Qt's one-pixel line works in 1/64 pixel and skips a step that lights no pixel, so the points
// sit in the middle of their slices of a column and neighbours are a pixel or more apart in
// height (about 7.4 mm here). Its dropout control also steps a short, shallow piece of line one
// row on, which the view's fewer, longer pieces meet now and then: the images may differ in a
// pixel next to the line, never in one away from it (the per-column lowest and highest of a
// view without the first and last point differ in 1.6 to 22 % of the line's pixels).
constexpr int kMinStepMm = 8;
constexpr int kMostPixelsApartPerMille = 5;

QImage render(QCustomPlot &plot, const Points &points)
{
    QVector<QCPGraphData> data;
    for (const auto &p : points)
        data.append(QCPGraphData(p.x, p.y));
    plot.graph(0)->data()->set(data, true);
    return plot.toPixmap(plot.width(), plot.height()).toImage();
}

bool lit(const QImage &image, int x, int y)
{
    return image.pixel(x, y) != qRgb(255, 255, 255);
}

} // namespace

class TestChartRender : public QObject
{
    Q_OBJECT
private slots:
    void sameImage_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<int>("perColumn");
        QTest::addColumn<int>("shift"); // columns of points out of sight on either side
        QTest::newRow("noise-16-a-column") << "noise" << 16 << 0;
        QTest::newRow("noise-zoomed-points-beyond-both-edges") << "noise" << 12 << 40;
        QTest::newRow("spikes-on-a-quiet-line") << "spikes" << 16 << 0;
        QTest::newRow("ramp-with-noise") << "ramp" << 10 << 0;
        QTest::newRow("last-point-an-outlier") << "outlier" << 16 << 0;
    }
    void sameImage()
    {
        QFETCH(QString, shape);
        QFETCH(int, perColumn);
        QFETCH(int, shift);
        QCustomPlot plot;
        plot.resize(640, 360);
        plot.addGraph();
        plot.graph(0)->setAdaptiveSampling(false); // QCustomPlot's own thinning would draw less
        plot.graph(0)->setAntialiased(false);
        plot.graph(0)->setPen(QPen(Qt::blue, 0));
        plot.yAxis->setRange(-1200, 1200);
        plot.replot(); // lays the axis rect out
        const int columns = plot.axisRect()->width();
        const double lo = shift * perColumn - 0.5;
        plot.xAxis->setRange(lo, lo + double(columns) * perColumn);

        core::ChartPoints chart;
        Points all;
        quint32 seed = 2024;
        const int count = (columns + 2 * shift) * perColumn;
        for (int x = 0, y = 0; x < count; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 22) - 512; // -512 .. 511
            int next = noise;
            if (shape == "spikes")
                next = noise / 16 + (seed % 89 == 0 ? 1000 : 0);
            else if (shape == "ramp")
                next = x * 1800 / count - 900 + noise / 8;
            else if (shape == "outlier")
                next = x == count - 1 ? -1150 : noise / 4;
            if (std::abs(next - y) < kMinStepMm)
                next = y + (next >= y ? kMinStepMm : -kMinStepMm);
            y = next;
            all.append({ x, y });
            chart.add(x, y);
        }
        const Points view
            = chart.view(plot.xAxis->range().lower, plot.xAxis->range().upper, columns);
        QVERIFY(view.size() <= 4 * columns + 2);
        // The newest point in sight is drawn; past the range, its nearest neighbour.
        QCOMPARE(view.last(), all.at(count - 1 - shift * perColumn + (shift ? 1 : 0)));

        const QImage whole = render(plot, all);
        const QImage drawn = render(plot, view);
        qsizetype line = 0, apart = 0;
        for (int py = 1; py < whole.height() - 1; ++py) {
            for (int px = 1; px < whole.width() - 1; ++px) {
                line += lit(whole, px, py);
                if (lit(whole, px, py) == lit(drawn, px, py))
                    continue;
                ++apart;
                const QImage &other = lit(whole, px, py) ? drawn : whole;
                bool beside = false;
                for (int d = 0; d < 9; ++d)
                    beside = beside || lit(other, px + d % 3 - 1, py + d / 3 - 1);
                QVERIFY2(beside, qPrintable(QStringLiteral("pixel %1, %2").arg(px).arg(py)));
            }
        }
        QVERIFY2(apart * 1000 <= line * kMostPixelsApartPerMille,
            qPrintable(QStringLiteral("%1 of %2 pixels differ").arg(apart).arg(line)));
    }
};

QTEST_MAIN(TestChartRender)
#include "tst_chartrender.moc"
