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
    if (end - first <= 2 * qsizetype(columns)) {
        out.append(m_points.mid(first, end - first));
    } else {
        const double width = (hi - lo) / columns;
        const auto columnOf = [&](qint32 x) {
            return std::clamp(int(std::floor((x - lo) / width)), 0, columns - 1);
        };
        QList<Bucket> cells(columns);
        QList<bool> used(columns, false);
        const auto take = [&](const Point &low, const Point &high) {
            for (const Point &p : { low, high }) {
                const int c = columnOf(p.x);
                Bucket &cell = cells[c];
                if (!used.at(c)) {
                    cell = { p, p };
                    used[c] = true;
                } else if (p.y < cell.low.y) {
                    cell.low = p;
                } else if (p.y > cell.high.y) {
                    cell.high = p;
                }
            }
        };
        for (qsizetype i = first; i < end;) {
            // A whole run inside one column is as good as its lowest and highest point.
            const qsizetype runEnd = i + m_bucketSize;
            if (i % m_bucketSize == 0 && runEnd <= end
                && columnOf(m_points.at(i).x) == columnOf(m_points.at(runEnd - 1).x)) {
                const Bucket &b = m_buckets.at(i / m_bucketSize);
                take(b.low, b.high);
                i = runEnd;
            } else {
                take(m_points.at(i), m_points.at(i));
                ++i;
            }
        }
        for (int c = 0; c < columns; ++c) {
            if (!used.at(c))
                continue;
            const Bucket &cell = cells.at(c);
            out.append(cell.low.x <= cell.high.x ? cell.low : cell.high);
            if (!(cell.low == cell.high))
                out.append(cell.low.x <= cell.high.x ? cell.high : cell.low);
        }
    }
    if (end < m_points.size())
        out.append(m_points.at(end));
    return out;
}

} // namespace core
