// ChartPoints: every point of the distance chart, and the few of them a view needs to be drawn.
#include "core/chartpoints.h"

#include <algorithm>
#include <cmath>

namespace core {

void ChartPoints::add(qint32 x, qint32 y)
{
    const Point p { x, y };
    if (m_points.size() % m_bucketSize == 0) {
        m_buckets.append({ p, p });
    } else {
        Bucket &b = m_buckets.last();
        if (y < b.low.y)
            b.low = p;
        if (y > b.high.y)
            b.high = p;
    }
    m_points.append(p);
    if (m_buckets.size() > kMaxBuckets) {
        QList<Bucket> merged;
        merged.reserve(kMaxBuckets / 2 + 1);
        for (qsizetype k = 0; k < m_buckets.size(); k += 2) {
            Bucket b = m_buckets.at(k);
            if (k + 1 < m_buckets.size()) {
                const Bucket &n = m_buckets.at(k + 1);
                if (n.low.y < b.low.y)
                    b.low = n.low;
                if (n.high.y > b.high.y)
                    b.high = n.high;
            }
            merged.append(b);
        }
        m_buckets = std::move(merged);
        m_bucketSize *= 2;
    }
}

void ChartPoints::clear()
{
    m_points = {};
    m_buckets = {};
    m_bucketSize = 64;
}

QList<ChartPoints::Point> ChartPoints::view(double lo, double hi, int columns) const
{
    const auto byX = [](const Point &p, double x) { return p.x < x; };
    const qsizetype first
        = std::lower_bound(m_points.begin(), m_points.end(), lo, byX) - m_points.begin();
    const qsizetype end = std::upper_bound(m_points.begin(), m_points.end(), hi,
                              [](double x, const Point &p) { return x < p.x; })
        - m_points.begin();
    QList<Point> out;
    if (first > 0)
        out.append(m_points.at(first - 1));
    columns = std::max(1, columns);
    if (end - first <= 4 * qsizetype(columns)) {
        out.append(m_points.mid(first, end - first));
    } else {
        // The column of a point as a plot maps it to a pixel: (x - lo) / (hi - lo) * columns.
        const double span = hi - lo;
        const auto columnOf = [&](qint32 x) {
            return std::clamp(int(std::floor((x - lo) / span * columns)), 0, columns - 1);
        };
        struct Cell
        {
            Point first, low, high, last;
        };
        QList<Cell> cells(columns);
        QList<bool> used(columns, false);
        // Points (or whole runs, given as their first, lowest, highest and last) come in x order.
        const auto take = [&](const Cell &run) {
            const int c = columnOf(run.first.x);
            Cell &cell = cells[c];
            if (!used.at(c)) {
                cell = run;
                used[c] = true;
                return;
            }
            if (run.low.y < cell.low.y)
                cell.low = run.low;
            if (run.high.y > cell.high.y)
                cell.high = run.high;
            cell.last = run.last;
        };
        for (qsizetype i = first; i < end;) {
            // A whole run inside one column is as good as its first, lowest, highest and last
            // point.
            const qsizetype runEnd = i + m_bucketSize;
            if (i % m_bucketSize == 0 && runEnd <= end
                && columnOf(m_points.at(i).x) == columnOf(m_points.at(runEnd - 1).x)) {
                const Bucket &b = m_buckets.at(i / m_bucketSize);
                take({ m_points.at(i), b.low, b.high, m_points.at(runEnd - 1) });
                i = runEnd;
            } else {
                const Point &p = m_points.at(i++);
                take({ p, p, p, p });
            }
        }
        for (int c = 0; c < columns; ++c) {
            if (!used.at(c))
                continue;
            const Cell &cell = cells.at(c);
            const bool lowFirst = cell.low.x <= cell.high.x;
            for (const Point &p : { cell.first, lowFirst ? cell.low : cell.high,
                     lowFirst ? cell.high : cell.low, cell.last }) {
                if (out.isEmpty() || p.x != out.last().x)
                    out.append(p);
            }
        }
    }
    if (end < m_points.size())
        out.append(m_points.at(end));
    return out;
}

} // namespace core
