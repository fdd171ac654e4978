// StatsPanel: the run's statistics drawn as a small table inside the distance chart.
#pragma once

#include <qcustomplot.h>

#include <QList>
#include <QString>

namespace ui {

/**
 * A chart item that draws rows of texts (a label, then right-aligned values) on a light box in
 * the bottom left corner of the axis rect. It is part of the chart, not a control: it takes no
 * input and goes wherever the chart is drawn, the saved picture included.
 */
class StatsPanel : public QCPAbstractItem
{
public:
    explicit StatsPanel(QCustomPlot *plot);

    /** @brief The rows to draw from the next replot on; the first is the column header. */
    void setRows(const QList<QList<QString>> &rows) { m_rows = rows; }

    double selectTest(const QPointF &pos, bool onlySelectable, QVariant *details) const override;

protected:
    void draw(QCPPainter *painter) override;

private:
    QCPItemPosition *const m_corner;
    QList<QList<QString>> m_rows;
};

} // namespace ui
