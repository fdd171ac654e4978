// Replay: plays a recorded module from its byte log, as a state machine without any I/O.
#include "sim/replay.h"

#include <algorithm>

namespace sim {

using core::replay::Direction;

namespace {
// A longer pause in a log is played as this long (12.7 days), so due times stay far from
// overflowing whatever the file says.
constexpr quint64 kLongestDelayUs = quint64(1) << 40;
} // namespace

Replay::Replay(const QList<core::replay::Entry> &entries, qint64 startUs)
    : m_entries(entries)
    , m_anchorUs(startUs)
{
}

std::pair<qsizetype, qsizetype> Replay::nextRequest() const
{
    qsizetype first = m_next;
    while (first < m_entries.size() && m_entries.at(first).direction != Direction::Sent)
        ++first;
    qsizetype end = first;
    while (end < m_entries.size() && m_entries.at(end).direction == Direction::Sent)
        ++end;
    return { first, end };
}

void Replay::feed(const QByteArray &bytes, qint64 nowUs)
{
    m_heard += bytes;
    while (!m_heard.isEmpty()) {
        const auto [first, end] = nextRequest();
        QByteArray request;
        for (qsizetype k = first; k < end; ++k)
            request += m_entries.at(k).bytes;
        if (!request.isEmpty() && m_heard.startsWith(request)) {
            for (; m_next < first; ++m_next)
                m_ready.append({ nowUs, m_entries.at(m_next).bytes });
            m_next = end;
            m_anchorUs = nowUs;
            m_heard.remove(0, request.size());
            ++m_matched;
        } else if (!request.isEmpty() && request.startsWith(m_heard)) {
            return; // the rest of the request is still on its way
        } else {
            m_heard.remove(0, 1);
            ++m_unmatched;
        }
    }
}

qint64 Replay::nextDueUs() const
{
    if (!m_ready.isEmpty())
        return m_ready.first().dueUs;
    if (m_next < m_entries.size() && m_entries.at(m_next).direction == Direction::Received)
        return m_anchorUs + qint64(std::min(m_entries.at(m_next).delayUs, kLongestDelayUs));
    return -1;
}

QList<Replay::Out> Replay::take(qint64 nowUs)
{
    QList<Out> out = std::move(m_ready);
    m_ready.clear();
    for (qint64 due = nextDueUs(); due >= 0 && due <= nowUs; due = nextDueUs()) {
        out.append({ due, m_entries.at(m_next++).bytes });
        m_anchorUs = due;
    }
    return out;
}

} // namespace sim
