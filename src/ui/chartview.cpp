// ChartView: the distance chart; keeps every point, draws a view of them, paces its replots and
// draws the run's statistics.
#include "ui/chartview.h"

#include "core/runstats.h"
#include "ui/statspanel.h"

#include <QResizeEvent>

namespace ui {

ChartView::ChartView(QWidget *parent)
    : QCustomPlot(parent)
{
    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &ChartView::replotPaced);
    // Every replot, also one of the chart's own drag and zoom, draws the view of the range shown.
    connect(this, &QCustomPlot::beforeReplot, this, [this] { refreshView(axisRect()->width()); });
}

void ChartView::addStatsPanel(const core::RunStats *stats)
{
    m_runStats = stats;
    m_stats = new StatsPanel(this);
    m_stats->setVisible(false);
}

void ChartView::resizeEvent(QResizeEvent *event)
{
    // The panels' shadows hand the chart a resize while its hidden panel still has no size: a
    // chart of no size cannot be drawn and says so on the terminal. It gets its real size when
    // its panel is shown.
    if (!event->size().isEmpty())
        QCustomPlot::resizeEvent(event);
}

void ChartView::addPoint(qint32 x, qint32 y)
{
    m_points.add(x, y);
    if (m_points.size() <= kDrawEveryPointUpTo && graphCount() > 0)
        graph(0)->addData(x, y);
    scheduleReplot();
}

void ChartView::clearPoints()
{
    m_points.clear();
    if (graphCount() > 0)
        graph(0)->data()->clear();
}

void ChartView::replotNow()
{
    if (!isVisible())
        return;
    // The figures follow the chart's own pace: a summary per replot, never one per reply.
    if (m_stats && m_runStats) {
        m_stats->setVisible(m_runStats->count() > 0);
        if (m_runStats->count() > 0)
            m_stats->setRows(core::statsTable(m_runStats->summary(), m_language));
    }
    replot(QCustomPlot::rpRefreshHint);
}

void ChartView::refreshView(int columns)
{
    // Past a screen's worth of points, the graph holds only the lowest and highest point of each
    // pixel column of the range shown: a replot then costs the same at a million points as at a
    // thousand, and the drawn line covers exactly what all the points would.
    if (m_points.size() <= kDrawEveryPointUpTo || graphCount() == 0)
        return;
    const QCPRange x = xAxis->range();
    const QList<core::ChartPoints::Point> view = m_points.view(x.lower, x.upper, columns);
    QVector<QCPGraphData> data;
    data.reserve(view.size());
    for (const core::ChartPoints::Point &p : view)
        data.append(QCPGraphData(p.x, p.y));
    graph(0)->data()->set(data, true);
}

void ChartView::scheduleReplot()
{
    const qint64 gap = m_sinceRecord.isValid() ? m_sinceRecord.elapsed() : m_frameMs;
    m_sinceRecord.start();
    // Records that come one by one (single measurements, a slow stream: half a frame apart or
    // more) are drawn in the next pass of the event loop, while the line is quiet; drawn at the end
    // of a frame instead, the replot would often be running when the next reply arrives and hold
    // it up. A burst waits for the end of the frame, so it costs one replot, not one per point.
    const qint64 since = m_sinceReplot.isValid() ? m_sinceReplot.elapsed() : m_frameMs;
    const qint64 wait = 2 * gap >= m_frameMs ? 0 : qMax<qint64>(0, m_frameMs - since);
    if (m_frame.isActive() && wait > 0)
        return;
    m_frame.start(int(wait));
}

void ChartView::replotPaced()
{
    QElapsedTimer took;
    took.start();
    replotNow();
    m_frameMs = qMax(kFrameMs, kReplotShare * took.elapsed());
    m_sinceReplot.start();
}

} // namespace ui
