// Replay: plays a recorded module from its byte log, as a state machine without any I/O.
#pragma once

#include "core/replay/bytelog.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace sim {

/**
 * The module of a recorded run. Each run of entries the program sent is a request: when the bytes
 * heard make up the next request, the entries received after it in the recording are due at
 * their recorded delays from that moment, one after the other, and any received before it that
 * have not gone out yet are due at once (a program that asks sooner than recorded still gets all
 * that came before its request). Bytes received with no request before them (the start of a
 * recording in the middle of a stream) are due from the start.
 *
 * Bytes heard that cannot begin the next request are dropped and counted, one at a time until
 * what is left could; they get no answer, as a module gives none to a frame it does not take.
 * After the last entry nothing more is answered.
 */
class Replay
{
public:
    struct Out
    {
        qint64 dueUs = 0;
        QByteArray bytes;
    };

    /** @brief Plays @p entries, the recording's start being @p startUs. */
    Replay(const QList<core::replay::Entry> &entries, qint64 startUs);

    /** @brief Bytes heard from the program at @p nowUs. */
    void feed(const QByteArray &bytes, qint64 nowUs);
    /** @brief When the next recorded bytes are due, or -1 until a request comes. */
    qint64 nextDueUs() const;
    /** @brief The recorded bytes due by @p nowUs, in order, each with when it was due. */
    QList<Out> take(qint64 nowUs);

    quint64 requestsMatched() const { return m_matched; }
    quint64 bytesUnmatched() const { return m_unmatched; }
    /** @brief Every entry has been played. */
    bool finished() const { return m_next >= m_entries.size() && m_ready.isEmpty(); }

private:
    /** @brief The next request from entry @p from on: its first entry and the one after it. */
    std::pair<qsizetype, qsizetype> nextRequest() const;

    QList<core::replay::Entry> m_entries;
    qsizetype m_next = 0; ///< the next entry to play or to wait for
    qint64 m_anchorUs = 0; ///< what the next entry's delay counts from
    QList<Out> m_ready; ///< due at once
    QByteArray m_heard;
    quint64 m_matched = 0;
    quint64 m_unmatched = 0;
};

} // namespace sim
