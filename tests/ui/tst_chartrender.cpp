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
// row on, which the view's fewer, longer pieces meet now and then: a few pixels beside the line
// may differ (up to 0.12 % of the line's pixels in these rows; the lowest and highest of each
// column without its first and last point differ in 1.6 to 22 %).
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

} // namespace

class TestChartRender : public QObject
{
    Q_OBJECT
private slots:
    void sameImage_data()
    {
        QTest::addColumn<int>("perColumn");
        QTest::addColumn<int>("shift"); // columns of points out of sight on either side
        QTest::addColumn<QList<int>>("shape"); // noise divisor, spike every, ramp mm, last point
        QTest::newRow("noise-16-a-column") << 16 << 0 << QList<int> { 1, 0, 0, 0 };
        QTest::newRow("noise-zoomed-points-beyond-both-edges")
            << 12 << 40 << QList<int> { 1, 0, 0, 0 };
        QTest::newRow("spikes-on-a-quiet-line") << 16 << 0 << QList<int> { 16, 89, 0, 0 };
        QTest::newRow("ramp-with-noise") << 10 << 0 << QList<int> { 8, 0, 1800, 0 };
        QTest::newRow("last-point-an-outlier") << 16 << 0 << QList<int> { 4, 0, 0, -1150 };
    }
    void sameImage()
    {
        QFETCH(int, perColumn);
        QFETCH(int, shift);
        QFETCH(QList<int>, shape);
        QCustomPlot plot;
        plot.resize(640, 360);
        plot.addGraph();
        plot.graph(0)->setAdaptiveSampling(false); // QCustomPlot's own thinning would draw less
        plot.graph(0)->setAntialiased(false);
        plot.yAxis->setRange(-1200, 1200);
        plot.replot(); // lays the axis rect out
        const int columns = plot.axisRect()->width();
        const double lo = shift * perColumn - 0.5, hi = lo + double(columns) * perColumn;
        plot.xAxis->setRange(lo, hi);
        core::ChartPoints chart;
        Points all;
        quint32 seed = 2024;
        const int count = (columns + 2 * shift) * perColumn;
        for (int x = 0, y = 0; x < count; ++x) {
            seed = seed * 1664525u + 1013904223u;
            int next = (int(seed >> 22) - 512) / shape[0] + x * shape[2] / count - shape[2] / 2
                + (shape[1] && seed % shape[1] == 0 ? 1000 : 0);
            if (shape[3] && x == count - 1)
                next = shape[3];
            if (std::abs(next - y) < kMinStepMm)
                next = y + (next >= y ? kMinStepMm : -kMinStepMm);
            all.append({ x, y = next });
            chart.add(x, y);
        }
        const QImage whole = render(plot, all), drawn = render(plot, chart.view(lo, hi, columns));
        qsizetype line = 0, apart = 0;
        for (int py = 0; py < whole.height(); ++py) {
            for (int px = 0; px < whole.width(); ++px) {
                line += whole.pixel(px, py) != qRgb(255, 255, 255);
                apart += whole.pixel(px, py) != drawn.pixel(px, py);
            }
        }
        QVERIFY2(apart * 1000 <= line * kMostPixelsApartPerMille,
            qPrintable(QStringLiteral("%1 of %2 pixels differ").arg(apart).arg(line)));
    }
};

QTEST_MAIN(TestChartRender)
#include "tst_chartrender.moc"
