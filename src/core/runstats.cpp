// RunStats: the figures that judge a module over a run (count, errors, mean, spread, rate).
#include "core/runstats.h"

#include <algorithm>
#include <cmath>

namespace core {

namespace {
constexpr qint64 kDayMs = 24 * 3600 * 1000;

double rate(qint64 count, qint64 spanMs)
{
    return count > 1 && spanMs > 0 ? double(count - 1) * 1000.0 / double(spanMs) : 0.0;
}
const char *const kLabels[][2] = {
    { "", "" },
    { "记录数", "Records" },
    { "错误回复", "Error replies" },
    { "平均值 mm", "Mean mm" },
    { "标准差 mm", "Std. deviation mm" },
    { "最小值 mm", "Minimum mm" },
    { "最大值 mm", "Maximum mm" },
    { "峰峰值 mm", "Peak to peak mm" },
    { "速率 次/秒", "Rate /s" },
};

QList<QString> column(const RunStats::Figures &f)
{
    const bool any = f.hasDistance();
    const QString none = QStringLiteral("-");
    return { QString::number(f.count), QString::number(f.errors),
        any ? QString::number(f.mean, 'f', 2) : none,
        f.hasSpread() ? QString::number(f.stddev, 'f', 2) : none,
        any ? QString::number(f.min) : none, any ? QString::number(f.max) : none,
        any ? QString::number(f.peakToPeak) : none,
        f.count > 1 && f.ratePerS > 0 ? QString::number(f.ratePerS, 'f', 1) : none };
}
} // namespace

QList<QList<QString>> statsTable(const RunStats::Summary &summary, Language language)
{
    const int l = language == Language::Chinese ? 0 : 1;
    const QList<QString> all = column(summary.all);
    const QList<QString> recent = column(summary.recent);
    QList<QList<QString>> rows;
    rows.append({ QString(), QString::fromUtf8(l == 0 ? "全部" : "All"),
        QString::fromUtf8(l == 0 ? "最近 %1 条" : "Newest %1").arg(RunStats::kRecent) });
    for (qsizetype k = 0; k < all.size(); ++k)
        rows.append({ QString::fromUtf8(kLabels[k + 1][l]), all.at(k), recent.at(k) });
    return rows;
}

qint64 unwrapClock(qint64 clockMs, qint64 previousMs)
{
    // A time of day starts again at 0 after midnight; the run's clock must not.
    const qint64 behind = previousMs - kDayMs / 2 - clockMs;
    return behind > 0 ? clockMs + (behind + kDayMs - 1) / kDayMs * kDayMs : clockMs;
}

qint64 RunStats::unwrap(qint64 clockMs) const
{
    return m_count > 0 ? unwrapClock(clockMs, m_lastMs) : clockMs;
}

void RunStats::push(const Entry &entry)
{
    if (m_count == 0)
        m_firstMs = entry.ms;
    m_lastMs = entry.ms;
    ++m_count;
    m_ring[size_t(m_next)] = entry;
    m_next = (m_next + 1) % kRecent;
}

void RunStats::add(qint32 value, qint64 clockMs)
{
    push({ unwrap(clockMs), value, false });
    ++m_distances;
    m_min = m_distances == 1 ? value : std::min(m_min, value);
    m_max = m_distances == 1 ? value : std::max(m_max, value);
    const double delta = double(value) - m_mean;
    m_mean += delta / double(m_distances);
    m_m2 += delta * (double(value) - m_mean);
}

void RunStats::addError(qint64 clockMs)
{
    push({ unwrap(clockMs), 0, true });
    ++m_errors;
}

RunStats::Summary RunStats::summary() const
{
    Summary s;
    Figures &all = s.all;
    all.count = m_count;
    all.errors = m_errors;
    if (m_distances > 0) {
        all.mean = m_mean;
        all.stddev = m_distances > 1 ? std::sqrt(std::max(0.0, m_m2 / double(m_distances - 1))) : 0;
        all.min = m_min;
        all.max = m_max;
        all.peakToPeak = qint64(m_max) - m_min;
    }
    all.ratePerS = rate(m_count, m_lastMs - m_firstMs);

    // The window is small: two passes over it keep its spread exact without a running sum that
    // would have to be unwound as records leave it.
    Figures &recent = s.recent;
    const int n = int(std::min<qint64>(m_count, kRecent));
    const int oldest = (m_next - n + kRecent) % kRecent;
    recent.count = n;
    qint64 d = 0;
    double sum = 0;
    for (int k = 0; k < n; ++k) {
        const Entry &e = m_ring[size_t((oldest + k) % kRecent)];
        if (e.error) {
            ++recent.errors;
            continue;
        }
        recent.min = d == 0 ? e.value : std::min(recent.min, e.value);
        recent.max = d == 0 ? e.value : std::max(recent.max, e.value);
        ++d;
        sum += e.value;
    }
    if (d > 0) {
        recent.mean = sum / double(d);
        double squares = 0;
        for (int k = 0; k < n; ++k) {
            const Entry &e = m_ring[size_t((oldest + k) % kRecent)];
            if (!e.error)
                squares += (e.value - recent.mean) * (e.value - recent.mean);
        }
        recent.stddev = d > 1 ? std::sqrt(squares / double(d - 1)) : 0;
        recent.peakToPeak = qint64(recent.max) - recent.min;
    }
    if (n > 0)
        recent.ratePerS = rate(n, m_lastMs - m_ring[size_t(oldest)].ms);
    return s;
}

} // namespace core
