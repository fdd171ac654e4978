// Distance chart: set-up, x-axis clamp, hover read-out, panel and monitoring toggles, view reset.
// The chart's own mechanics (its points, their view, replot pacing, statistics) are ChartView's.
#include "ui/widget.h"
#include "ui_widget.h"

#include "ui/buttonstyle.h"
#include "ui/chartview.h"
#include "ui/texts.h"

#include <QToolTip>

namespace texts = ui::texts;

void Widget::paint()
{
    ui::ChartView *plot = ui->widget_paint;
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
    // The chart's view of the range already holds what each pixel column needs (its first,
    // lowest, highest and last point); QCustomPlot's own thinning of it would redraw a column's
    // range at a single x.
    curGraph->setAdaptiveSampling(false);
    plot->addStatsPanel(&session_.stats());
    plot->xAxis->grid()->setSubGridVisible(false);
    plot->yAxis->grid()->setSubGridVisible(false);
    QSharedPointer<QCPAxisTickerFixed> ticker(new QCPAxisTickerFixed);
    ticker->setTickStep(1);
    ticker->setTickCount(20);
    ticker->setScaleStrategy(QCPAxisTickerFixed::ssMultiples);
    plot->xAxis->setTicker(ticker);
    plot->replotNow();
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
    ui::ChartView *plot = ui->widget_paint;
    if (!plottracer) {
        plottracer = new QCPItemTracer(plot);
        plottracer->setGraph(plot->graph(0));
        plottracer->setPen(QPen(Qt::black, 1, Qt::DashLine));
    }
    const double key = plot->xAxis->pixelToCoord(event->position().x());
    plottracer->setGraphKey(key);
    plottracer->updatePosition();
    const QPointF at = plottracer->position->coords();
    QToolTip::showText(event->globalPosition().toPoint(),
        QString::number(at.x(), 'g', 6) + QLatin1Char(',') + QString::number(at.y(), 'g', 6), plot);
    plot->replotNow();
}

void Widget::on_button_paint_show_clicked()
{
    chart_shown = !chart_shown;
    ui->widget_30->setVisible(chart_shown);
    if (chart_shown) {
        // The splitter hands a newly shown pane only a sliver; give the chart half of the log's
        // room.
        QList<int> sizes = ui->splitter->sizes();
        if (sizes.size() == 3 && sizes.at(0) < 150) {
            const int share = (sizes.at(0) + sizes.at(1)) / 2;
            sizes[1] = sizes.at(0) + sizes.at(1) - share;
            sizes[0] = share;
            ui->splitter->setSizes(sizes);
        }
        ui->widget_paint->replotNow();
    }
    ui->button_paint_show->setText(texts::toggle(texts::Text::OpenChart, chart_shown, lang()));
    ui->button_paint_show->setStyleSheet(ui::buttonStyle(QStringLiteral("button_paint_show"),
        chart_shown ? ui::ButtonLook::Active : ui::ButtonLook::Normal));
}

void Widget::on_button_jiancha_clicked()
{
    jiance_mode = jiance_mode == 0 ? 1 : 0;
    const bool monitoring = jiance_mode != 0;
    ui->button_jiancha->setText(texts::toggle(texts::Text::StartTracking, monitoring, lang()));
    ui->button_jiancha->setStyleSheet(ui::buttonStyle(QStringLiteral("button_jiancha"),
        monitoring ? ui::ButtonLook::Active : ui::ButtonLook::Normal));
}

void Widget::on_button_paint_reset_clicked()
{
    ui->widget_paint->xAxis->setRange(0, 20);
    ui->widget_paint->yAxis->setRange(0, 300);
    ui->widget_paint->replotNow();
}

void Widget::addChartPoint(qint32 distance)
{
    ui::ChartView *plot = ui->widget_paint;
    const core::ChartRange range = session_.addChartPoint(distance, jiance_mode != 0);
    if (range.xUpper)
        plot->xAxis->setRange(0, *range.xUpper);
    if (range.setYRange)
        plot->yAxis->setRange(range.minY, range.maxY);
    plot->addPoint(session_.replyNumber(), distance);
}
