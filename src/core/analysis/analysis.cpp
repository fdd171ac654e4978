// Analysis of a run: how good is this module (accuracy, repeatability, warm-up, drift, noise
// against averaging time), from the records of a run and the temperatures read during it.
#include "core/analysis/analysis.h"

#include "core/runstats.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <vector>

namespace core::analysis {

namespace {

constexpr qint64 kMinuteMs = 60 * 1000;
constexpr qint64 kDayMs = 24 * 60 * kMinuteMs;
constexpr qint64 kReferenceMs = 10 * kMinuteMs;
constexpr qint64 kMaxBins = 200;
constexpr double kMsPerHour = 3600.0 * 1000.0;

// Least-squares slope of y over x, about the means so that large x lose no precision.
std::optional<double> slope(const std::vector<double> &x, const std::vector<double> &y)
{
    const size_t n = x.size();
    if (n < 2)
        return std::nullopt;
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= double(n);
    my /= double(n);
    double sxy = 0, sxx = 0;
    for (size_t i = 0; i < n; ++i) {
        sxy += (x[i] - mx) * (y[i] - my);
        sxx += (x[i] - mx) * (x[i] - mx);
    }
    if (sxx <= 0)
        return std::nullopt;
    return sxy / sxx;
}

double median(std::vector<qint64> v)
{
    const size_t mid = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + qsizetype(mid), v.end());
    const double upper = double(v[mid]);
    if (v.size() % 2)
        return upper;
    return (double(*std::max_element(v.begin(), v.begin() + qsizetype(mid))) + upper) / 2;
}

std::optional<double> warmup(
    const std::vector<qint64> &ms, const std::vector<qint32> &mm, double bandMm)
{
    const qint64 first = ms.front();
    const qint64 last = ms.back();
    std::vector<double> sums(size_t((last - first) / kMinuteMs + 1), 0.0);
    std::vector<qint64> counts(sums.size(), 0);
    double reference = 0;
    qint64 inReference = 0;
    for (size_t i = 0; i < ms.size(); ++i) {
        const size_t minute = size_t((ms[i] - first) / kMinuteMs);
        sums[minute] += mm[i];
        ++counts[minute];
        if (ms[i] >= last - kReferenceMs) {
            reference += mm[i];
            ++inReference;
        }
    }
    reference /= double(inReference);
    // The minute after the last one outside the band is where the module has settled.
    for (size_t k = sums.size(); k-- > 0;) {
        if (counts[k] > 0 && std::abs(sums[k] / double(counts[k]) - reference) > bandMm)
            return k + 1 < sums.size() ? std::optional<double>(double(k + 1) * 60) : std::nullopt;
    }
    return 0.0;
}

// Normal curve's share of [from, to).
double normalShare(double from, double to, double mean, double sigma)
{
    if (sigma <= 0)
        return mean >= from && mean < to ? 1 : 0;
    const auto cdf = [&](double x) { return 0.5 * std::erfc(-(x - mean) / (sigma * M_SQRT2)); };
    return cdf(to) - cdf(from);
}

QList<Bin> histogram(const std::vector<qint32> &mm, const Figures &f)
{
    const auto floorDiv = [](qint64 a, qint64 b) { return a / b - (a % b != 0 && a < 0); };
    qint64 width = std::max<qint64>(1, (qint64(f.max) - f.min + kMaxBins) / kMaxBins);
    // Edges on multiples of the width read better; that may take one bin more, so widen then.
    while (floorDiv(f.max, width) - floorDiv(f.min, width) + 1 > kMaxBins)
        ++width;
    const qint64 low = floorDiv(f.min, width) * width;
    QList<Bin> bins(floorDiv(f.max, width) - floorDiv(f.min, width) + 1);
    for (qsizetype k = 0; k < bins.size(); ++k) {
        Bin &b = bins[k];
        b.from = double(low + k * width) - 0.5;
        b.to = b.from + double(width);
        b.expected = double(mm.size()) * normalShare(b.from, b.to, f.mean, f.sigma);
    }
    for (const qint32 d : mm)
        ++bins[(d - low) / width].count;
    return bins;
}

QList<AllanPoint> allan(const std::vector<qint32> &mm, double tau0S)
{
    // Sums of whole millimetres are exact, so a difference of two averages is as well.
    const qint64 n = qint64(mm.size());
    std::vector<qint64> sums(size_t(n + 1), 0);
    for (qint64 i = 0; i < n; ++i)
        sums[size_t(i + 1)] = sums[size_t(i)] + mm[size_t(i)];
    QList<AllanPoint> out;
    for (qint64 m = 1; 2 * m <= n; m *= 2) {
        double squares = 0;
        for (qint64 j = 0; j + 2 * m <= n; ++j) {
            const qint64 second = sums[size_t(j + 2 * m)] - sums[size_t(j + m)];
            const qint64 firstSum = sums[size_t(j + m)] - sums[size_t(j)];
            const double step = double(second - firstSum) / double(m);
            squares += step * step;
        }
        const qint64 pairs = n - 2 * m + 1;
        out.append({ double(m) * tau0S, std::sqrt(squares / (2.0 * double(pairs))), pairs });
    }
    return out;
}

std::optional<double> temperatureSlope(const std::vector<qint64> &ms, const std::vector<qint32> &mm,
    const QList<Temperature> &temperatures, qint64 startMs)
{
    std::vector<double> at, celsius, distance;
    qint64 previous = startMs;
    for (const Temperature &t : temperatures) {
        const bool first = at.empty();
        previous = unwrapClock(t.clockMs, previous);
        // The first reading may come just before the first record and before midnight.
        if (first && previous - startMs > kDayMs / 2)
            previous -= kDayMs;
        at.push_back(double(previous));
        celsius.push_back(t.celsius);
    }
    size_t k = 0; // the reading at or after the distance
    std::vector<double> atDistance;
    for (size_t i = 0; i < ms.size() && !at.empty(); ++i) {
        const double t = double(ms[i]);
        while (k < at.size() && at[k] < t)
            ++k;
        if (k == at.size())
            break;
        if (at[k] == t) {
            atDistance.push_back(celsius[k]);
        } else if (k > 0) {
            const double share = (t - at[k - 1]) / (at[k] - at[k - 1]);
            atDistance.push_back(celsius[k - 1] + share * (celsius[k] - celsius[k - 1]));
        } else {
            continue;
        }
        distance.push_back(mm[i]);
    }
    return slope(atDistance, distance);
}

QString number(double value)
{
    return QString::number(value, 'g', 8);
}

QString optional(const std::optional<double> &value)
{
    return value ? number(*value) : QStringLiteral("-");
}

QJsonValue json(const std::optional<double> &value)
{
    return value ? QJsonValue(*value) : QJsonValue();
}

} // namespace

Figures analyse(
    const QList<Record> &records, const QList<Temperature> &temperatures, const Options &options)
{
    Figures f;
    f.count = records.size();
    std::vector<qint64> ms; // of the distances
    std::vector<qint32> mm;
    std::vector<qint64> intervals;
    ms.reserve(size_t(records.size()));
    mm.reserve(size_t(records.size()));
    intervals.reserve(size_t(records.size()));
    std::vector<qint64> times;
    times.reserve(size_t(records.size()));
    for (const Record &r : records) {
        times.push_back(times.empty() ? r.clockMs : unwrapClock(r.clockMs, times.back()));
        if (times.size() > 1)
            intervals.push_back(times.back() - times[times.size() - 2]);
    }
    if (!intervals.empty())
        f.tau0S = median(intervals) / 1000.0;
    const double gapMs = options.gapFactor * f.tau0S * 1000.0;
    bool broken = false;
    for (qsizetype i = 0; i < records.size(); ++i) {
        const bool gap = i > 0 && double(intervals[size_t(i - 1)]) > gapMs;
        f.gaps += gap;
        broken = broken || gap;
        if (records.at(i).isError()) {
            ++f.errors;
            broken = true;
            continue;
        }
        f.allanBreaks += broken && !mm.empty();
        broken = false;
        ms.push_back(times[size_t(i)]);
        mm.push_back(records.at(i).value);
    }
    if (mm.empty())
        return f;

    qint64 sum = 0;
    f.min = f.max = mm.front();
    for (const qint32 d : mm) {
        sum += d;
        f.min = std::min(f.min, d);
        f.max = std::max(f.max, d);
    }
    const double n = double(mm.size());
    f.mean = double(sum) / n;
    double squares = 0;
    for (const qint32 d : mm)
        squares += (d - f.mean) * (d - f.mean);
    f.sigma = mm.size() > 1 ? std::sqrt(squares / (n - 1)) : 0;

    std::vector<double> hours(ms.size()), values(mm.begin(), mm.end());
    for (size_t i = 0; i < ms.size(); ++i)
        hours[i] = double(ms[i] - ms.front()) / kMsPerHour;
    f.driftMmPerH = slope(hours, values);
    f.warmupS = warmup(ms, mm, options.warmupBandMm);
    f.temperatureMmPerC = temperatureSlope(ms, mm, temperatures, times.front());
    f.histogram = histogram(mm, f);
    f.allan = allan(mm, f.tau0S);
    return f;
}

QList<QList<QString>> analysisTable(const Figures &f, Language language)
{
    const int l = language == Language::Chinese ? 0 : 1;
    const auto text
        = [l](const char *zh, const char *en) { return QString::fromUtf8(l == 0 ? zh : en); };
    const bool any = f.distances() > 0;
    const QString none = QStringLiteral("-");
    const QString warmup = f.warmupS ? number(*f.warmupS)
        : any                        ? text("未稳定", "Not settled")
                                     : none;
    QList<QList<QString>> rows {
        { text("记录数", "Records"), QString::number(f.count) },
        { text("错误回复", "Error replies"), QString::number(f.errors) },
        { text("间断", "Gaps"), QString::number(f.gaps) },
        { text("平均值 mm", "Mean mm"), any ? number(f.mean) : none },
        { text("标准差 mm", "Std. deviation mm"), f.distances() > 1 ? number(f.sigma) : none },
        { text("最小值 mm", "Minimum mm"), any ? QString::number(f.min) : none },
        { text("最大值 mm", "Maximum mm"), any ? QString::number(f.max) : none },
        { text("漂移 mm/h", "Drift mm/h"), optional(f.driftMmPerH) },
        { text("预热时间 s", "Warm-up s"), warmup },
        { text("温度系数 mm/°C", "Temperature coefficient mm/°C"), optional(f.temperatureMmPerC) },
        { text("记录间隔 τ0 s", "Record interval τ0 s"), number(f.tau0S) },
        { text("Allan 序列断点", "Allan series breaks"), QString::number(f.allanBreaks) },
        {},
        { text("τ s", "τ s"), text("Allan 偏差 mm", "Allan deviation mm"), QStringLiteral("n") },
    };
    for (const AllanPoint &p : f.allan)
        rows.append({ number(p.tauS), number(p.adev), QString::number(p.n) });
    rows.append(QList<QString> {});
    rows.append({ text("自 mm", "From mm"), text("至 mm", "To mm"), text("次数", "Count"),
        text("正态曲线", "Normal curve") });
    for (const Bin &b : f.histogram)
        rows.append({ number(b.from), number(b.to), QString::number(b.count), number(b.expected) });
    return rows;
}

QJsonObject analysisJson(const Figures &f)
{
    const bool any = f.distances() > 0;
    QJsonArray bins, points;
    for (const Bin &b : f.histogram)
        bins.append(QJsonObject {
            { "from", b.from }, { "to", b.to }, { "count", b.count }, { "expected", b.expected } });
    for (const AllanPoint &p : f.allan)
        points.append(QJsonObject { { "tau_s", p.tauS }, { "adev", p.adev }, { "n", p.n } });
    return {
        { "count", f.count },
        { "errors", f.errors },
        { "gaps", f.gaps },
        { "allan_breaks", f.allanBreaks },
        { "tau0_s", f.tau0S },
        { "mean", any ? QJsonValue(f.mean) : QJsonValue() },
        { "sigma", f.distances() > 1 ? QJsonValue(f.sigma) : QJsonValue() },
        { "min", any ? QJsonValue(f.min) : QJsonValue() },
        { "max", any ? QJsonValue(f.max) : QJsonValue() },
        { "drift_mm_per_h", json(f.driftMmPerH) },
        { "warmup_s", json(f.warmupS) },
        { "temperature_mm_per_c", json(f.temperatureMmPerC) },
        { "histogram", bins },
        { "allan", points },
    };
}

} // namespace core::analysis
