// ChartPoints: every point of the distance chart, and the few of them a view needs to be drawn.
#pragma once

#include <QList>
#include <QtGlobal>

namespace core {

/**
 * The chart's points (x = reply number, rising; y = distance) as 8-byte values, with the lowest
 * and highest point of every run of bucketSize() points beside them. A view of millions of points
 * then costs a pass over a few thousand runs, not over the points, so a replot stays cheap however
 * long the run.
 */
class ChartPoints
{
public:
    struct Point
    {
        qint32 x = 0;
        qint32 y = 0;
        bool operator==(const Point &o) const { return x == o.x && y == o.y; }
    };
    /// The runs are merged pairwise whenever there would be more of them.
    static constexpr qsizetype kMaxBuckets = 4096;

    /** @brief Adds a point; its x must be above the last one's. */
    void add(qint32 x, qint32 y);
    void clear();
    qsizetype size() const { return m_points.size(); }
    const QList<Point> &points() const { return m_points; }
    qsizetype bucketSize() const { return m_bucketSize; }

    /**
     * @brief What to draw of the points with @p lo <= x <= @p hi on @p columns pixel columns:
     * every one of them when there are at most 4 x @p columns, else the first, lowest, highest
     * and last point of each column in x order (x is in column (x - lo) / (hi - lo) x columns,
     * as a plot maps it). A line through them lights the pixels of the line through every
     * point: inside a column it spans the same lowest to highest, and it enters and leaves each
     * column at the same points; the newest point is always among them. The nearest point
     * outside on either side comes too, so the line runs on to the edges.
     */
    QList<Point> view(double lo, double hi, int columns) const;

private:
    struct Bucket
    {
        Point low;
        Point high;
    };
    QList<Point> m_points;
    QList<Bucket> m_buckets; ///< bucket k: points k * bucketSize() .. (k + 1) * bucketSize() - 1
    qsizetype m_bucketSize = 64;
};

} // namespace core
