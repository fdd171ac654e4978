// The state of one measuring run: records, reply numbering, chart range, last frame, address
// search.
#pragma once

#include "core/replies.h"
#include "core/runstats.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace core {

/** One row of the result table, held as values (the texts are made when shown or saved). */
struct Record
{
    qint32 clockMs = 0; ///< time of day of the reply, ms since midnight
    qint32 value = 0; ///< distance in mm, or the module's error code
    qint32 signal = 0;
    qint32 measuringMs = -1; ///< from the single-measurement command to the reply; -1: none
    qint8 mode = 0; ///< speed when the reply came: 0 auto, 1 slow, 2 fast (others: no text)
    Language language = Language::Chinese; ///< language of the mode text
    bool error = false; ///< the module reported an error: value is its code
    quint8 codeBytes = 0; ///< error records: how many bytes of code the reply held

    bool isError() const { return error; }
};

/** @brief The five cells of @p record: time, mode, distance (or error code), signal, time in ms. */
QStringList recordTexts(const Record &record);

/**
 * @brief The record a measurement or error @p reply makes: received at @p clockMs (ms since
 * midnight), labelled with speed @p mode in @p language, and @p measuringMs from the single
 * measurement's command (-1 for continuous results).
 */
Record recordOf(const replies::Reply &reply, qint32 clockMs, int mode, Language language,
    qint32 measuringMs = -1);

/** @brief How one distance point moves the chart's axes. */
struct ChartRange
{
    int minY = 0;
    int maxY = 300;
    bool setYRange = false; ///< set the y axis to minY .. maxY
    std::optional<int> xUpper; ///< set the x axis to 0 .. *xUpper
};

/**
 * The run a front-end shows: it numbers replies, keeps every measurement, moves the chart's range,
 * remembers the frame written last (a Modbus reply is read as the answer to it) and steps the
 * address search. No timers and no I/O: the front-end drives it.
 */
class Session
{
public:
    /// The chart's y range before the first point and after a clear.
    static constexpr int kInitialMinY = 0;
    static constexpr int kInitialMaxY = 300;
    /// The x axis shows 0 .. 20 until the replies go past it.
    static constexpr int kInitialXUpper = 20;
    /// The address search probes 0 .. kLastProbe, one address per tick.
    static constexpr int kLastProbe = 126;

    /** Number shown at the head of the next reply's lines; counts decoded replies from 0. */
    int replyNumber() const { return m_replyNumber; }
    void countReply() { ++m_replyNumber; }

    const QList<Record> &records() const { return m_records; }
    void addRecord(const Record &record);
    /** @brief Statistics of the records since the last clear(), fed by addRecord(). */
    const RunStats &stats() const { return m_stats; }
    /** @brief The result table as texts, for the exports. */
    QList<QList<QString>> table() const;

    /**
     * @brief Moves the chart range for a point of @p distance at x = replyNumber(). While not
     * @p monitoring the x axis stretches to 0 .. replyNumber() past 20, the top grows to 1.1 x d
     * (truncated) for d above it, else the bottom drops to d below it, and the y axis follows.
     * While monitoring nothing moves.
     */
    ChartRange addChartPoint(qint32 distance, bool monitoring);
    int minY() const { return m_minY; }
    int maxY() const { return m_maxY; }

    /** @brief Forgets the records, their statistics, the numbering and the chart range (Delete
     * Data). */
    void clear();

    void setLastSent(const QByteArray &frame) { m_lastSent = frame; }
    const QByteArray &lastSent() const { return m_lastSent; }

    void startAddressSearch() { m_searching = true; }
    bool addressSearchRunning() const { return m_searching; }
    /** @brief The next address to probe; the search ends once kLastProbe has been handed out. */
    int nextProbe();
    /** @brief The address probed last, -1 while no search runs. */
    int lastProbe() const { return m_probe; }
    void endAddressSearch();

private:
    int m_replyNumber = 0;
    QList<Record> m_records;
    RunStats m_stats;
    int m_minY = kInitialMinY;
    int m_maxY = kInitialMaxY;
    QByteArray m_lastSent;
    bool m_searching = false;
    int m_probe = -1;
};

} // namespace core
