// RunStats: the figures that judge a module over a run (count, errors, mean, spread, rate).
#pragma once

#include "core/protocol.h"

#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

namespace core {

/**
 * Statistics of a measuring run, kept as records arrive: over every record since the last clear()
 * and over the newest kRecent of them. Each add costs the same however long the run is (Welford's
 * update for the mean and the spread, a ring of the newest records for the window), so a front-end
 * may feed it per reply and ask for summary() at its own pace.
 *
 * Front-ends feed it the same way: add() for a distance, addError() for a module error reply,
 * each with the reply's time in ms. The time may be a time of day (ms since midnight: a step back
 * of more than twelve hours is taken as midnight passing) or any monotonic clock.
 */
class RunStats
{
public:
    /// Size of the window of newest records.
    static constexpr int kRecent = 100;

    /** Figures over one set of records. Distances in mm; the error records carry none. */
    struct Figures
    {
        qint64 count = 0; ///< records, error replies included
        qint64 errors = 0; ///< module error replies
        double mean = 0; ///< of the distances; 0 without one
        double stddev = 0; ///< sample standard deviation (n - 1); 0 below two distances
        qint32 min = 0; ///< 0 without a distance
        qint32 max = 0;
        qint64 peakToPeak = 0; ///< max - min
        double ratePerS = 0; ///< (count - 1) / time from first to last record; 0 if undefined
        qint64 distances() const { return count - errors; }
        /// Which figures the records can give: those of distances need one, the spread two.
        bool hasDistance() const { return distances() > 0; }
        bool hasSpread() const { return distances() > 1; }
    };
    struct Summary
    {
        Figures all; ///< since the last clear()
        Figures recent; ///< the newest kRecent records
    };

    /** @brief One record with a distance of @p value mm at @p clockMs. */
    void add(qint32 value, qint64 clockMs);
    /** @brief One module error reply at @p clockMs. */
    void addError(qint64 clockMs);
    /** @brief Forgets every record (Delete Data). */
    void clear() { *this = RunStats(); }

    qint64 count() const { return m_count; }
    /** @brief The figures now; costs a pass over the window, never over the run. */
    Summary summary() const;

private:
    struct Entry
    {
        qint64 ms = 0;
        qint32 value = 0;
        bool error = false;
    };
    void push(const Entry &entry);
    qint64 unwrap(qint64 clockMs) const;

    qint64 m_count = 0;
    qint64 m_errors = 0;
    qint64 m_distances = 0;
    double m_mean = 0;
    double m_m2 = 0; ///< sum of squared deviations from the mean (Welford)
    qint32 m_min = 0;
    qint32 m_max = 0;
    qint64 m_firstMs = 0;
    qint64 m_lastMs = 0;
    std::array<Entry, kRecent> m_ring {};
    int m_next = 0; ///< where the next record goes in the ring
};

/**
 * @brief @p clockMs on a clock that runs on past midnight, given the time before it,
 * @p previousMs, on that clock: a time of day that steps back more than twelve hours from it is
 * on a later day. Times of a monotonic clock come back unchanged.
 */
qint64 unwrapClock(qint64 clockMs, qint64 previousMs);

/**
 * @brief The summary as a table in @p language: a header row (empty,
 * "all", "newest 100") and one row per figure (label, over the run, over the window). Distances
 * in mm with two decimals, the rate with one; "-" where a figure has no value yet.
 */
QList<QList<QString>> statsTable(const RunStats::Summary &summary, Language language);

} // namespace core
