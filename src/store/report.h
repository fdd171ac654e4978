// What a line's runs say together: yields, the steps that fail most, and how capable each
// measurement is against its limits.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

namespace store {

/** Which runs a report covers; an empty field does not narrow. */
struct ReportFilter
{
    QDateTime since; ///< runs that started at or after this
    QDateTime until; ///< runs that started before this
    QString plan;
    QString station;
    QString lot;
};

struct StepFailures
{
    QString step;
    qint64 count = 0; ///< steps that ended FAIL or ERROR
};

/** One measurement of one step, over every numeric value of it in the chosen runs. */
struct MeasurementStats
{
    QString step;
    QString name;
    QString unit;
    std::optional<double> min; ///< the lower limit
    std::optional<double> max; ///< the upper limit
    qint64 n = 0;
    double mean = 0;
    std::optional<double> sigma; ///< sample standard deviation (n - 1); needs two values
    double lowest = 0;
    double highest = 0;
    std::optional<double> cp; ///< (max - min) / 6σ; needs both limits
    std::optional<double> cpk; ///< distance from the mean to the nearer limit / 3σ
};

struct Report
{
    qint64 runs = 0;
    qint64 units = 0; ///< distinct serial numbers
    /**
     * Of the units with a judged run (outcome other than NONE): the share whose first such run
     * passed (PASS or MARGINAL), and whose last one did; nothing without such units. Of two
     * runs of a unit that started in the same millisecond, a failed one is taken.
     */
    std::optional<double> firstPassYield;
    std::optional<double> finalYield;
    QList<StepFailures> failures; ///< most first, then by name
    QList<MeasurementStats> measurements; ///< by step and name
};

/**
 * @brief Fills mean, sigma, Cp and Cpk of @p stats from its n and the sum and sum of squares of
 * (value - @p shift); a shift near the values keeps the sums exact enough for small spreads.
 */
void completeStats(MeasurementStats &stats, double sum, double sumSquares, double shift);

} // namespace store
