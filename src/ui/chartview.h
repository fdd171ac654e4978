// ChartView: the distance chart; keeps every point, draws a view of them, paces its replots and
// draws the run's statistics.
#pragma once

#include "core/chartpoints.h"
#include "core/protocol.h"

#include <qcustomplot.h>

#include <QElapsedTimer>
#include <QTimer>

namespace core {
class RunStats;
}

namespace ui {

class StatsPanel;

/**
 * The chart of the window, its QCustomPlot promoted in widget.ui (object name and base type
 * unchanged). Being the plot, it can draw the view of its points right before every replot, its
 * own drag and zoom included, and hold back the resizes it cannot draw; the window sets up the
 * axes and says which points to add.
 */
class ChartView : public QCustomPlot
{
    Q_OBJECT
public:
    /// Up to this many points the graph holds every one; beyond, a view per pixel column.
    static constexpr qsizetype kDrawEveryPointUpTo = 4096;
    /// 25 frames a second; a replot that takes longer than a fifth of that stretches the frame, so
    /// a stream drawn into a chart of millions of points takes about a fifth of the GUI thread.
    static constexpr qint64 kFrameMs = 40;
    static constexpr qint64 kReplotShare = 5;

    explicit ChartView(QWidget *parent = nullptr);

    /** @brief Draws the figures of @p stats over graph 0 from now on (made after it, so on top).
     */
    void addStatsPanel(const core::RunStats *stats);
    /** @brief Language of the figures' labels. */
    void setLanguage(core::Language language) { m_language = language; }

    /** @brief Adds a point to graph 0 (x above the last one's) and asks for a paced replot. */
    void addPoint(qint32 x, qint32 y);
    /** @brief Forgets every point, those of graph 0 too. */
    void clearPoints();
    /** @brief Every point added since the last clearPoints(). */
    const core::ChartPoints &points() const { return m_points; }

    /** @brief Replots now; a hidden chart has nothing to draw into and is drawn when shown. */
    void replotNow();
    /**
     * @brief A replot for a new record. Records that come one by one are drawn in the next pass of
     * the event loop; a stream once a frame.
     */
    void scheduleReplot();
    /**
     * @brief Puts into graph 0 what the x range shown needs on @p columns pixel columns (every
     * point while there are few). Runs before every replot; a picture of the hidden chart asks
     * for it itself.
     */
    void refreshView(int columns);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void replotPaced();

    core::ChartPoints m_points;
    StatsPanel *m_stats = nullptr;
    const core::RunStats *m_runStats = nullptr;
    core::Language m_language = core::Language::English;
    QTimer m_frame;
    QElapsedTimer m_sinceReplot;
    QElapsedTimer m_sinceRecord; ///< since the last record asked for a replot
    qint64 m_frameMs = kFrameMs;
};

} // namespace ui
