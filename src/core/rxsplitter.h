// Receive splitter: judges gathered reply bytes and recovers the frames of merged or split replies.
#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QList>

namespace core::rx {

/** An incomplete frame left at the end of a reply waits this long for the rest. */
constexpr qint64 kTailLifeMs = 100;
/** Bytes that may pile up without a silence before complete frames are handed up anyway. */
constexpr qsizetype kStreamLimit = 512;

/**
 * @brief The check that a whole gathered reply must pass: in mode 0 exactly one byte (taken
 * unchecked) or a 0xAA/0xEE header with the 8-bit sum of the middle bytes last, whose length
 * agrees with the word count 1 or 3 it states in bytes 4-5 (9 or 13 bytes); in mode 1 at least
 * two bytes ending in the CRC-16 of the rest, low byte first.
 */
bool acceptsWhole(const QByteArray &reply, CheckMode mode);

/**
 * @brief Length of the frame that starts at @p pos of @p bytes, 0 when none does. Lengths of known
 * replies come first (0xAA: 13 for measurements, else 9; Modbus: the length that the function code
 * and byte count imply), then other lengths; a frame followed by the end or by a likely frame start
 * wins over one followed by stray bytes.
 */
qsizetype frameLengthAt(const QByteArray &bytes, qsizetype pos, CheckMode mode);

/** @brief True when @p bytes could be the first bytes of a frame that has not fully arrived. */
bool isPlausibleStart(const QByteArray &bytes, CheckMode mode);

/** What split() found in a buffer. */
struct SplitResult
{
    QList<QByteArray> frames; ///< complete frames that pass the check, in order
    /// at a silence: an incomplete but plausible frame at the end, else empty;
    /// in a stream: the bytes too close to the end to be judged yet
    QByteArray rest;
    qsizetype skippedBytes = 0; ///< bytes where no frame can start
    int skippedRuns = 0; ///< stretches of such bytes
};

/**
 * @brief Cuts @p bytes into the frames that pass the check of @p mode, skipping a byte only where
 * no frame starts. @p atSilence: the bytes ended with a silence, so a trailing partial frame
 * becomes
 * @c rest; otherwise the last bytes that might belong to an unfinished frame are left in @c rest.
 */
SplitResult split(const QByteArray &bytes, CheckMode mode, bool atSilence);

/** Running totals, for the debug log and the benchmark. */
struct Counters
{
    qint64 accepted = 0; ///< replies handed up whole, as gathered
    qint64 split = 0; ///< frames cut out of gathered bytes that failed as a whole
    qint64 joined = 0; ///< frames completed by joining a kept tail with the next bytes
    qint64 dropped = 0; ///< stretches of bytes thrown away (noise, rejected replies, stale tails)
    qint64 droppedBytes = 0;
};

/**
 * Turns the bytes gathered between two silences into replies. Every gathered reply that passes as
 * a whole is handed up unchanged; one that fails is split into the frames it holds; an incomplete
 * frame at its end is kept for kTailLifeMs to be joined with the next gathered bytes. A reply that
 * passes but is shorter than its kind implies (AA 00 00, the start of any reply from address 0)
 * is held back for that time too, since it is far more likely the first piece of a longer reply;
 * if nothing completes it, it is handed up unchanged.
 */
class Splitter
{
public:
    explicit Splitter(CheckMode mode = CheckMode::Sum8);

    /** @brief Check mode for the next evaluation; a kept tail is judged under the new mode. */
    void setMode(CheckMode mode) { m_mode = mode; }
    CheckMode mode() const { return m_mode; }

    /**
     * @brief Evaluates the bytes gathered up to a silence; returns the replies to hand up. A kept
     * tail is judged by @p arrivedMs, when the first of these bytes was read (default: now): the
     * rest of a reply that came in time is joined however long the silence after it took. The
     * first @p taken bytes were handed up early (see early()) and are not handed up again.
     */
    QList<QByteArray> feed(
        const QByteArray &gathered, qint64 nowMs, qint64 arrivedMs = -1, qsizetype taken = 0);

    /**
     * @brief For bytes that keep coming without a silence: takes the complete frames from the
     * head of @p gathered and leaves the rest in it (a kept tail is put in front first; it is
     * judged by @p arrivedMs as in feed()). @p taken counts the bytes of @p gathered handed up
     * early; it is updated to count those of the rest.
     */
    QList<QByteArray> drain(
        QByteArray &gathered, qint64 nowMs, qint64 arrivedMs = -1, qsizetype *taken = nullptr);

    /**
     * @brief The replies at the head of a gather still under way that feed() and drain() will
     * hand up whatever bytes and silences follow, so they can be handed up now instead of after
     * the silence: whole frames of the length their kind has, whose check is good, and that no
     * later byte can make part of another cut. @p taken counts the bytes of @p gathered handed
     * up so far and is advanced past these. Nothing while a tail is kept; bytes that are not
     * such a frame (damaged, unknown, cut short) wait for the silence.
     */
    QList<QByteArray> early(const QByteArray &gathered, qsizetype &taken) const;

    /**
     * @brief Gives up a kept tail older than kTailLifeMs. Returns the reply it held when it was a
     * short reply kept back in case more followed (handed up late, unchanged), else nothing.
     */
    QList<QByteArray> expire(qint64 nowMs);

    /** @brief Forgets a kept tail (the port closed). Counters stay. */
    void reset();

    bool hasTail() const { return !m_tail.isEmpty(); }
    /** @brief When the kept tail's time started; it is given up after kTailLifeMs from here. */
    qint64 tailSinceMs() const { return m_tailSince; }
    QByteArray tail() const { return m_tail; }
    const Counters &counters() const { return m_counters; }

private:
    bool passesAsOne(const QByteArray &reply) const;
    bool looksCutShort(const QByteArray &reply) const;
    void judge(const QByteArray &gathered, qint64 nowMs, QList<QByteArray> &out);
    void keep(const SplitResult &r, qsizetype inputSize, qint64 nowMs, bool restIsOldTail,
        QList<QByteArray> &out);
    void handUpTail(QList<QByteArray> &out);
    void dropTail();

    CheckMode m_mode;
    QByteArray m_tail;
    bool m_tailIsReply = false; ///< the tail passed as a whole and is only held back
    qint64 m_tailSince = 0;
    Counters m_counters;
};

} // namespace core::rx
