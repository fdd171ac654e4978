// Distance chart: set-up, x-axis clamp, hover read-out, panel and monitoring toggles, view reset,
// the statistics drawn in it.
#include "ui/widget.h"
#include "ui_widget.h"

#include "ui/statspanel.h"
#include "ui/texts.h"

#include <QResizeEvent>
#include <QToolTip>

namespace {
// The chart redraws itself on every resize, and the panels' shadows hand it one while its hidden
// panel still has no size: a chart of no size cannot be drawn and says so on the terminal. Such a
// resize is held back; the chart gets its real size when its panel is shown.
class SkipEmptyResize : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *, QEvent *event) override
    {
        return event->type() == QEvent::Resize
            && static_cast<QResizeEvent *>(event)->size().isEmpty();
    }
};

// 25 frames a second; a replot that takes longer than a fifth of that stretches the frame, so a
// stream drawn into a chart of millions of points takes about a fifth of the GUI thread at most.
constexpr qint64 kChartFrameMs = 40;
constexpr qint64 kChartReplotShare = 5;

QString buttonStyle(const QString &name, bool active)
{
    const QString base = active ? QStringLiteral("QPushButton {    background-color: rgb(87, 87, "
                                                 "87);    border-radius: 4px;    color: rgb(255, "
                                                 "255, 255);}")
                                : QStringLiteral("QPushButton {    background-color: rgb(206, 206, "
                                                 "206);    border-radius: 4px;}");
    return base
        + QStringLiteral("QPushButton:hover {    background-color: rgb(87, 87, 87);    color: "
                         "rgb(255, 255, 255);}QPushButton:pressed {    background-color: "
                         "rgb(35, 153, 197);    padding-left: 3px;    padding-top: 3px;}")
        + QStringLiteral("QPushButton#%1 {    border: 1px solid rgb(87, 87, 87);}").arg(name);
}
} // namespace

void Widget::replotChart(QCustomPlot::RefreshPriority priority)
{
    // A hidden chart has no paint buffer to draw into; showing the panel draws it afresh.
    if (!ui->widget_paint->isVisible())
        return;
    // The figures follow the chart's own pace: a summary per replot, never one per reply.
    const core::RunStats &stats = session_.stats();
    stats_panel->setVisible(stats.count() > 0);
    if (stats.count() > 0)
        stats_panel->setRows(core::statsTable(stats.summary(), language));
    ui->widget_paint->replot(priority);
}

void Widget::paint()
{
    QCustomPlot *plot = ui->widget_paint;
    plot->installEventFilter(new SkipEmptyResize(plot));
    plot->xAxis->setLabel(QStringLiteral("测量次数/次"));
    plot->yAxis->setLabel(QStringLiteral("测量距离/mm"));
    plot->xAxis->setRange(0, 20);
    plot->yAxis->setRange(0, 300);
    plot->xAxis->grid()->setSubGridVisible(true);
    plot->yAxis->grid()->setSubGridVisible(true);
    plot->axisRect()->setupFullAxesBox(false);
    plot->xAxis2->setTicks(false);
    plot->xAxis2->setTickLabels(false);
    plot->yAxis2->setTicks(false);
    plot->yAxis2->setTickLabels(false);
    plot->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plot->addGraph(plot->xAxis, plot->yAxis);
    curGraph = plot->graph(0);
    curGraph->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 5));
    // The view of the range already holds what each pixel column needs; QCustomPlot's own
    // thinning of it would redraw each column's range at a single x.
    curGraph->setAdaptiveSampling(false);
    stats_panel = new StatsPanel(plot);
    stats_panel->setVisible(false);
    // Every replot, also one of the chart's own drag and zoom, draws the view of the range shown.
    connect(plot, &QCustomPlot::beforeReplot, this,
        [this] { refreshChartView(ui->widget_paint->axisRect()->width()); });
    plot->xAxis->grid()->setSubGridVisible(false);
    plot->yAxis->grid()->setSubGridVisible(false);
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1);
    ticker->setTickCount(20);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    plot->xAxis->setTicker(ticker);
    replotChart(QCustomPlot::rpRefreshHint);
    chart_frame_ms = kChartFrameMs;
    chart_frame_timer.setSingleShot(true);
    connect(&chart_frame_timer, &QTimer::timeout, this, &Widget::replotPacedChart,
        Qt::UniqueConnection);
}

void Widget::setxAxisRange(QCPRange range)
{
    Q_UNUSED(range);
    QCPAxis *x = ui->widget_paint->xAxis;
    if (x->range().lower < 0)
        x->setRangeLower(0);
}

void Widget::myMoveMouseEvent(QMouseEvent *event)
{
    if (session_.records().isEmpty())
        return;
    QCustomPlot *plot = ui->widget_paint;
    if (mouse_paint_i == 0) {
        plottracer = new QCPItemTracer(plot);
        plottracer->setGraph(plot->graph(0));
        plottracer->setPen(QPen(Qt::black, 1, Qt::DashLine));
    }
    ++mouse_paint_i;
    const double key = plot->xAxis->pixelToCoord(event->position().x());
    plottracer->setGraphKey(key);
    plottracer->updatePosition();
    const QPointF at = plottracer->position->coords();
    QToolTip::showText(event->globalPosition().toPoint(),
        QString::number(at.x(), 'g', 6) + QLatin1Char(',') + QString::number(at.y(), 'g', 6), plot);
    replotChart(QCustomPlot::rpRefreshHint);
}

void Widget::on_button_paint_show_clicked()
{
    const bool show = mokuai_state_i % 2 == 0;
    ui->widget_30->setVisible(show);
    if (show) {
        // The splitter hands a newly shown pane only a sliver; give the chart half of the log's
        // room.
        QList<int> sizes = ui->splitter->sizes();
        if (sizes.size() == 3 && sizes.at(0) < 150) {
            const int share = (sizes.at(0) + sizes.at(1)) / 2;
            sizes[1] = sizes.at(0) + sizes.at(1) - share;
            sizes[0] = share;
            ui->splitter->setSizes(sizes);
        }
        replotChart(QCustomPlot::rpRefreshHint);
    }
    ui->button_paint_show->setText(
        texts::get(show ? texts::Text::CloseChart : texts::Text::OpenChart, language));
    ui->button_paint_show->setStyleSheet(buttonStyle(QStringLiteral("button_paint_show"), show));
    ++mokuai_state_i;
}

void Widget::on_button_jiancha_clicked()
{
    const bool monitoring = jiance_index % 2 == 0;
    jiance_mode = monitoring ? 1 : 0;
    ui->button_jiancha->setText(
        texts::get(monitoring ? texts::Text::StopTracking : texts::Text::StartTracking, language));
    ui->button_jiancha->setStyleSheet(buttonStyle(QStringLiteral("button_jiancha"), monitoring));
    ++jiance_index;
}

void Widget::on_button_paint_reset_clicked()
{
    ui->widget_paint->xAxis->setRange(0, 20);
    ui->widget_paint->yAxis->setRange(0, 300);
    replotChart(QCustomPlot::rpRefreshHint);
}

void Widget::addChartPoint(qint32 distance)
{
    QCustomPlot *plot = ui->widget_paint;
    const core::ChartRange range = session_.addChartPoint(distance, jiance_mode != 0);
    if (range.xUpper)
        plot->xAxis->setRange(0, *range.xUpper);
    if (range.setYRange)
        plot->yAxis->setRange(range.minY, range.maxY);
    chart_points.add(session_.replyNumber(), distance);
    if (chart_points.size() <= kDrawEveryPointUpTo)
        curGraph->addData(session_.replyNumber(), distance);
    scheduleChartReplot();
}

void Widget::refreshChartView(int columns)
{
    // Past a screen's worth of points, the graph holds only the first, lowest, highest and last
    // point of each pixel column of the range shown: a replot then costs the same at a million
    // points as at a thousand, and the drawn line is the line through all the points.
    if (chart_points.size() <= kDrawEveryPointUpTo)
        return;
    const QCPRange x = ui->widget_paint->xAxis->range();
    const QList<core::ChartPoints::Point> view = chart_points.view(x.lower, x.upper, columns);
    QVector<QCPGraphData> data;
    data.reserve(view.size());
    for (const core::ChartPoints::Point &p : view)
        data.append(QCPGraphData(p.x, p.y));
    curGraph->data()->set(data, true);
}

void Widget::scheduleChartReplot()
{
    const qint64 gap = chart_record_clock.isValid() ? chart_record_clock.elapsed() : chart_frame_ms;
    chart_record_clock.start();
    // Records that come one by one (single measurements, a slow stream: half a frame apart or
    // more) are drawn in the next pass of the event loop, while the line is quiet; drawn at the end
    // of a frame instead, the replot would often be running when the next reply arrives and hold
    // it up. A burst waits for the end of the frame, so it costs one replot, not one per point.
    const qint64 since = chart_frame_clock.isValid() ? chart_frame_clock.elapsed() : chart_frame_ms;
    const qint64 wait = 2 * gap >= chart_frame_ms ? 0 : qMax<qint64>(0, chart_frame_ms - since);
    if (chart_frame_timer.isActive() && wait > 0)
        return;
    chart_frame_timer.start(int(wait));
}

void Widget::replotPacedChart()
{
    QElapsedTimer took;
    took.start();
    replotChart(QCustomPlot::rpRefreshHint);
    chart_frame_ms = qMax(kChartFrameMs, kChartReplotShare * took.elapsed());
    chart_frame_clock.start();
}
