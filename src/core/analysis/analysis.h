// Analysis of a run: how good is this module (accuracy, repeatability, warm-up, drift, noise
// against averaging time), from the records of a run and the temperatures read during it.
#pragma once

#include "core/session.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace core::analysis {

/** A temperature read from the module during the run, on the records' clock. */
struct Temperature
{
    qint64 clockMs = 0;
    double celsius = 0;
};

struct Options
{
    /// Warm-up ends when every following minute's mean stays this close to the last ten
    /// minutes' mean (mm either way).
    double warmupBandMm = 0.5;
    /// An interval between two records longer than this many times tau0 is a gap.
    double gapFactor = 3;
};

/** Distances d with from <= d < to; the edges lie half-way between whole millimetres. */
struct Bin
{
    double from = 0;
    double to = 0;
    qint64 count = 0;
    double expected = 0; ///< records the normal curve of the run's mean and sigma puts here
};

struct AllanPoint
{
    double tauS = 0; ///< m x tau0
    double adev = 0; ///< mm
    qint64 n = 0; ///< overlapping pairs of averages, N - 2m + 1
};

/**
 * The figures of a run. Error replies are counted, never taken as distances: the distance series
 * (mean, sigma, histogram, drift, warm-up, Allan deviation) is the records with a distance, in
 * order. The Allan deviation takes it as samples tau0 apart, so an error reply or a gap in the
 * middle joins the samples either side of it; allanBreaks says how often that happened (0: the
 * series is unbroken).
 */
struct Figures
{
    qint64 count = 0; ///< records, error replies included
    qint64 errors = 0; ///< error replies
    qint64 gaps = 0; ///< intervals between two records longer than gapFactor x tau0
    qint64 allanBreaks = 0; ///< neighbouring distances with an error reply or a gap between
    double tau0S = 0; ///< median interval between two records; 0 below two records
    double mean = 0; ///< of the distances, mm; 0 without one
    double sigma = 0; ///< sample standard deviation (n - 1); 0 below two distances
    qint32 min = 0;
    qint32 max = 0;
    std::optional<double> driftMmPerH; ///< least-squares slope; none below two distinct times
    std::optional<double> warmupS; ///< from the first distance; none: not settled
    std::optional<double> temperatureMmPerC; ///< none without two distinct temperatures
    QList<Bin> histogram; ///< 1 mm wide, or the narrowest whole width giving at most 200 bins
    QList<AllanPoint> allan; ///< m = 1, 2, 4, ... while 2m <= distances
    qint64 distances() const { return count - errors; }
};

/**
 * @brief The figures of @p records in the order they came, with @p temperatures read during the
 * run. Times are ms on a monotonic clock or a time of day (a step back of more than twelve hours
 * is midnight passing). A distance takes the temperature interpolated between the readings
 * either side of it; distances before the first or after the last reading take no part in the
 * temperature coefficient, which is the least-squares slope of distance over temperature. The
 * warm-up's minutes count from the first distance; "the last ten minutes" are those before the
 * last distance (the whole run when it is shorter). Costs a few passes over the records.
 */
Figures analyse(const QList<Record> &records, const QList<Temperature> &temperatures = {},
    const Options &options = {});

/**
 * @brief The figures as rows of text in @p language (0 Chinese, else English): one row per
 * figure (label, value), then the Allan table (tau s, deviation, n) and the histogram (from, to,
 * count, normal curve), each after an empty row and a header. Numbers are plain numbers, "-"
 * where a figure has no value.
 */
QList<QList<QString>> analysisTable(const Figures &figures, Language language);

/**
 * @brief The figures as one JSON object: count, errors, gaps, allan_breaks, tau0_s, mean, sigma,
 * min, max, drift_mm_per_h, warmup_s, temperature_mm_per_c (null where none), histogram
 * [{from, to, count, expected}] and allan [{tau_s, adev, n}].
 */
QJsonObject analysisJson(const Figures &figures);

} // namespace core::analysis
