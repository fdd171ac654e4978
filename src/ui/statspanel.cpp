// StatsPanel: the run's statistics drawn as a small table inside the distance chart.
#include "ui/statspanel.h"

#include <QFontMetrics>

namespace ui {

namespace {
constexpr int kMargin = 6; ///< from the axis rect's corner to the box, and inside the box
constexpr int kColumnGap = 12;
} // namespace

StatsPanel::StatsPanel(QCustomPlot *plot)
    : QCPAbstractItem(plot)
    , m_corner(createPosition(QStringLiteral("bottomLeft")))
{
    m_corner->setType(QCPItemPosition::ptAxisRectRatio);
    m_corner->setCoords(0, 1);
    setSelectable(false);
}

double StatsPanel::selectTest(const QPointF &, bool, QVariant *) const
{
    return -1; // never picked by a click: the chart's drag and zoom go on underneath
}

void StatsPanel::draw(QCPPainter *painter)
{
    if (m_rows.isEmpty())
        return;
    QFont font = parentPlot()->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    const QFontMetrics metrics(font);
    QList<int> widths;
    for (const QList<QString> &row : std::as_const(m_rows)) {
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (widths.size() <= c)
                widths.append(0);
            widths[c] = qMax(widths.at(c), metrics.horizontalAdvance(row.at(c)));
        }
    }
    int boxWidth = 2 * kMargin + kColumnGap * int(widths.size() - 1);
    for (int w : std::as_const(widths))
        boxWidth += w;
    const int lineHeight = metrics.height();
    // The bottom left stays clear of the points: the y axis keeps its 0 (or the lowest distance)
    // in view and headroom above the largest, so the points run along the top.
    const QSizeF size(boxWidth, 2 * kMargin + lineHeight * int(m_rows.size()));
    const QPointF corner = m_corner->pixelPosition() + QPointF(kMargin, -kMargin - size.height());
    const QRectF box(corner, size);

    painter->setPen(QPen(QColor(160, 160, 160)));
    painter->setBrush(QColor(255, 255, 255, 215));
    painter->drawRect(box);
    painter->setFont(font);
    painter->setPen(Qt::black);
    double y = box.top() + kMargin;
    for (const QList<QString> &row : std::as_const(m_rows)) {
        double x = box.left() + kMargin;
        for (qsizetype c = 0; c < row.size(); ++c) {
            // Labels read from the left, figures line up on their last digit.
            const QRectF cell(x, y, widths.at(c), lineHeight);
            painter->drawText(
                cell, (c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter, row.at(c));
            x += widths.at(c) + kColumnGap;
        }
        y += lineHeight;
    }
}

} // namespace ui
