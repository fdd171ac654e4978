// Receive splitter: judges gathered reply bytes and recovers the frames of merged or split replies.
#include "core/rxsplitter.h"

#include "core/protocol.h"

#include <array>

namespace core::rx {

using namespace protocol;

namespace {

qsizetype maxFrameLen(CheckMode mode)
{
    return mode == CheckMode::Sum8 ? kAaMaxLength : kRtuMaxLength;
}

qsizetype minFrameLen(CheckMode mode)
{
    return mode == CheckMode::Sum8 ? kAaMinLength : kRtuMinLength;
}

// Checks candidate lengths of a frame at one position, extending its running sum or CRC only as
// far as asked.
class Probe
{
public:
    Probe(const quint8 *p, qsizetype avail, CheckMode mode)
        : m_p(p)
        , m_avail(qMin(avail, maxFrameLen(mode)))
        , m_mode(mode)
    {
        m_acc[0] = mode == CheckMode::Crc ? kCrc16Init : 0;
    }

    qsizetype avail() const { return m_avail; }

    bool passes(qsizetype len)
    {
        if (len < 2 || len > m_avail)
            return false;
        if (m_mode == CheckMode::Sum8) {
            if (!isAaHeader(m_p[0]))
                return false;
            if (contradictsWordCount(m_p, len))
                return false;
            // m_acc[k]: sum of bytes 1 .. k (the bytes between header and checksum when k = len-2)
            extendTo(len - 2);
            return quint8(m_acc[len - 2]) == m_p[len - 1];
        }
        // m_acc[k]: CRC-16 of the first k bytes
        extendTo(len - 2);
        const quint16 received = quint16(m_p[len - 2] | (m_p[len - 1] << 8));
        return m_acc[len - 2] == received;
    }

private:
    void extendTo(qsizetype k)
    {
        while (m_done < k) {
            const quint8 b = m_p[m_done + (m_mode == CheckMode::Sum8 ? 1 : 0)];
            const quint16 acc = m_acc[m_done];
            m_acc[m_done + 1] = m_mode == CheckMode::Sum8 ? quint16(acc + b) : crc16Step(acc, b);
            ++m_done;
        }
    }

    const quint8 *m_p;
    qsizetype m_avail;
    CheckMode m_mode;
    qsizetype m_done = 0;
    std::array<quint16, kRtuMaxLength + 1> m_acc;
};

bool isPlausibleStartRaw(const quint8 *p, qsizetype r, CheckMode mode);

// What may follow a frame without casting doubt on its length.
bool goodFollower(const quint8 *p, qsizetype n, qsizetype start, qsizetype end, CheckMode mode)
{
    // At the end of the bytes, a frame shorter than its kind needs is more likely the start of
    // one whose rest is still on the way.
    if (end >= n)
        return !isPlausibleStartRaw(p + start, end - start, mode);
    if (mode == CheckMode::Sum8)
        return isAaHeader(p[end]);
    // One module on the line: the next reply carries the same address.
    return p[end] == p[start];
}

qsizetype frameLengthAtRaw(const quint8 *p, qsizetype n, qsizetype pos, CheckMode mode)
{
    if (pos >= n)
        return 0;
    if (mode == CheckMode::Sum8 && !isAaHeader(p[pos]))
        return 0;
    // Any byte may be a Modbus address, so a frame start is told by a function code we know.
    if (mode == CheckMode::Crc && (n - pos < 2 || !isKnownFunction(p[pos + 1])))
        return 0;
    const quint8 *at = p + pos;
    Probe probe(at, n - pos, mode);
    const ReplyLengths pref = replyLengths(at, n - pos, mode);
    const qsizetype top = probe.avail();

    auto preferredPass = [&](bool needFollower) -> qsizetype {
        for (int k = 0; k < pref.count; ++k) {
            const qsizetype len = pref.len[k];
            if (probe.passes(len) && (!needFollower || goodFollower(p, n, pos, pos + len, mode)))
                return len;
        }
        return 0;
    };
    auto otherPass = [&](bool needFollower) -> qsizetype {
        for (qsizetype len = minFrameLen(mode); len <= top; ++len) {
            if (pref.contains(len))
                continue;
            if (probe.passes(len) && (!needFollower || goodFollower(p, n, pos, pos + len, mode)))
                return len;
        }
        return 0;
    };

    if (const qsizetype len = preferredPass(true))
        return len;
    if (mode == CheckMode::Crc) {
        // A CRC-16 that matches is rarely wrong: trust the known length even before stray bytes.
        if (const qsizetype len = preferredPass(false))
            return len;
        return otherPass(true);
    }
    // An 8-bit sum matches by chance too often to trust an unusual length followed by noise.
    if (const qsizetype len = otherPass(true))
        return len;
    return preferredPass(false);
}

bool isPlausibleStartRaw(const quint8 *p, qsizetype r, CheckMode mode)
{
    // A byte count that makes the frame longer than any RTU frame can be is no frame start: it
    // could never complete, only hold back the bytes after it.
    const int expected = impliedLength(p, r, mode);
    return expected <= kRtuMaxLength && r < expected;
}

// A reply that passes as a whole although a complete frame of the length its own header implies
// already ends inside it: two replies (or a reply and the start of the next) whose bytes happen
// to pass together.
bool holdsShorterFrame(const quint8 *p, qsizetype n, CheckMode mode)
{
    if (n < 2 || (mode == CheckMode::Crc && !isKnownFunction(p[1])))
        return false;
    const ReplyLengths pref = replyLengths(p, n, mode);
    Probe probe(p, n, mode);
    for (int k = 0; k < pref.count; ++k)
        if (pref.len[k] < n && probe.passes(pref.len[k]))
            return true;
    return false;
}

// The length of the frame at p[0..n) that the silence rule cuts here whatever bytes follow it
// before or after a silence, or 0. The rule picks the first of its preferred lengths that passes
// with a good follower, then falls back in an order of its own; the frame's cut is settled once
// every length that could win in some fallback is ruled out by the bytes in hand.
qsizetype settledLength(const quint8 *p, qsizetype n, CheckMode mode)
{
    if (mode == CheckMode::Sum8 ? n < 1 || !isAaHeader(p[0]) : n < 2 || !isKnownFunction(p[1]))
        return 0;
    const ReplyLengths pref = replyLengths(p, n, mode);
    if (pref.count == 0 || n < pref.len[0])
        return 0;
    const qsizetype len = pref.len[0];
    Probe probe(p, n, mode);
    if (!probe.passes(len))
        return 0;
    if (mode == CheckMode::Sum8) {
        // A stated word count rules out every other length from 7 bytes on; the two shorter ones
        // win a fallback if they pass with a header after them, which the bytes in hand tell.
        if (p[4] != 0 || len != 7 + 2 * qsizetype(p[5]))
            return 0;
        for (qsizetype other = kAaMinLength; other < 7; ++other)
            if (!pref.contains(int(other)) && probe.passes(other) && isAaHeader(p[other]))
                return 0;
        return len;
    }
    // Another preferred length wins over this one if it is longer (its check depends on bytes
    // still to come) or shorter and passing.
    for (int k = 1; k < pref.count; ++k)
        if (pref.len[k] > len || probe.passes(pref.len[k]))
            return 0;
    return len;
}

// Takes the replies already handed up early off the front of what the silence rule hands up.
void dropTaken(QList<QByteArray> &out, qsizetype taken)
{
    while (taken > 0 && !out.isEmpty())
        taken -= out.takeFirst().size();
}

} // namespace

bool acceptsWhole(const QByteArray &reply, CheckMode mode)
{
    if (mode == CheckMode::Sum8)
        return reply.size() == 1
            || (checkSum8Frame(reply)
                && !contradictsWordCount(
                    reinterpret_cast<const quint8 *>(reply.constData()), reply.size()));
    return checkCrc(reply);
}

qsizetype frameLengthAt(const QByteArray &bytes, qsizetype pos, CheckMode mode)
{
    return frameLengthAtRaw(
        reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size(), pos, mode);
}

bool isPlausibleStart(const QByteArray &bytes, CheckMode mode)
{
    return isPlausibleStartRaw(
        reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size(), mode);
}

SplitResult split(const QByteArray &bytes, CheckMode mode, bool atSilence)
{
    SplitResult out;
    const auto *p = reinterpret_cast<const quint8 *>(bytes.constData());
    const qsizetype n = bytes.size();
    const qsizetype window = maxFrameLen(mode);
    // In a stream only positions followed by a whole frame window can be judged for good.
    auto decidable = [&](qsizetype at) { return atSilence || n - at > window; };
    auto skip = [&](qsizetype from, qsizetype to) {
        if (to > from) {
            out.skippedBytes += to - from;
            ++out.skippedRuns;
        }
    };

    qsizetype i = 0;
    qsizetype knownAt = -1; // a frame start found while scanning ahead, and its length
    qsizetype knownLen = 0;
    while (i < n && decidable(i)) {
        const qsizetype len = i == knownAt ? knownLen : frameLengthAtRaw(p, n, i, mode);
        if (len > 0) {
            out.frames.append(bytes.mid(i, len));
            i += len;
            continue;
        }
        // Nothing starts here: look for the next position where a frame does.
        qsizetype j = i + 1;
        qsizetype lenAtJ = 0;
        while (j < n && decidable(j) && (lenAtJ = frameLengthAtRaw(p, n, j, mode)) == 0)
            ++j;
        if (lenAtJ > 0 || !atSilence) {
            skip(i, j);
            i = j;
            knownAt = j;
            knownLen = lenAtJ;
            continue;
        }
        // No complete frame up to the end: keep the first plausible partial frame, drop the rest.
        qsizetype k = i;
        while (k < n && !isPlausibleStartRaw(p + k, n - k, mode))
            ++k;
        skip(i, k);
        out.rest = bytes.mid(k);
        i = n;
    }
    if (i < n)
        out.rest = bytes.mid(i);
    return out;
}

Splitter::Splitter(CheckMode mode)
    : m_mode(mode)
{
}

bool Splitter::passesAsOne(const QByteArray &reply) const
{
    return acceptsWhole(reply, m_mode)
        && !holdsShorterFrame(
            reinterpret_cast<const quint8 *>(reply.constData()), reply.size(), m_mode);
}

bool Splitter::looksCutShort(const QByteArray &reply) const
{
    // The first bytes of a reply can pass the check by themselves (in mode 0 a lone AA or EE
    // passes as a one-byte reply, AA 00 00 starts every reply from address 0 and one piece in
    // 256 passes by chance), but no reply of the module is shorter than its kind implies.
    const auto *p = reinterpret_cast<const quint8 *>(reply.constData());
    return !reply.isEmpty() && isPlausibleStartRaw(p, reply.size(), m_mode)
        && !replyLengths(p, reply.size(), m_mode).contains(reply.size());
}

QList<QByteArray> Splitter::early(const QByteArray &gathered, qsizetype &taken) const
{
    QList<QByteArray> out;
    if (!m_tail.isEmpty())
        return out;
    const auto *p = reinterpret_cast<const quint8 *>(gathered.constData());
    while (taken < gathered.size()) {
        const qsizetype len = settledLength(p + taken, gathered.size() - taken, m_mode);
        if (len == 0)
            break;
        out << gathered.mid(taken, len);
        taken += len;
    }
    return out;
}

QList<QByteArray> Splitter::feed(
    const QByteArray &gathered, qint64 nowMs, qint64 arrivedMs, qsizetype taken)
{
    QList<QByteArray> out = expire(arrivedMs < 0 ? nowMs : qMin(arrivedMs, nowMs));
    if (gathered.isEmpty())
        return out;
    if (m_tail.isEmpty()) {
        judge(gathered, nowMs, out);
        dropTaken(out, taken);
        return out;
    }

    const QByteArray joined = m_tail + gathered;
    if (passesAsOne(joined)) {
        // The usual case: a reply that the adapter delivered in pieces.
        m_tail.clear();
        if (looksCutShort(joined)) {
            m_tail = joined;
            m_tailIsReply = true;
        } else {
            ++m_counters.joined;
            out << joined;
        }
        return out;
    }

    // Does the kept tail start a frame that the new bytes complete (or still only continue)?
    const SplitResult r = split(joined, m_mode, true);
    const bool continued = (!r.frames.isEmpty() && joined.startsWith(r.frames.first())
                               && r.frames.first().size() > m_tail.size())
        || (r.frames.isEmpty() && r.rest.size() == joined.size());
    const auto *p = reinterpret_cast<const quint8 *>(joined.constData());
    const bool oneDamagedReply = isPlausibleStartRaw(p, m_tail.size(), m_mode)
        && replyLengths(p, joined.size(), m_mode).contains(joined.size());
    if (continued) {
        keep(r, joined.size(), nowMs, true, out);
    } else if (oneDamagedReply) {
        // The new bytes complete the kept start to exactly the length its kind has, and the
        // whole fails its check: one reply damaged on the line. Neither its first piece nor its
        // last byte may pass as a reply of its own.
        ++m_counters.dropped;
        m_counters.droppedBytes += joined.size();
        m_tail.clear();
        m_tailIsReply = false;
    } else if (m_tailIsReply) {
        // The short reply held back stands on its own after all.
        handUpTail(out);
        judge(gathered, nowMs, out);
    } else if (passesAsOne(gathered)) {
        // The tail was a fragment of something else; the new reply stands on its own.
        dropTail();
        judge(gathered, nowMs, out);
    } else {
        m_tail.clear();
        keep(r, joined.size(), nowMs, true, out);
    }
    return out;
}

QList<QByteArray> Splitter::drain(
    QByteArray &gathered, qint64 nowMs, qint64 arrivedMs, qsizetype *taken)
{
    QList<QByteArray> out = expire(arrivedMs < 0 ? nowMs : qMin(arrivedMs, nowMs));
    if (!m_tail.isEmpty()) {
        const QByteArray joined = m_tail + gathered;
        if (m_tailIsReply && frameLengthAt(joined, 0, m_mode) <= m_tail.size())
            handUpTail(out);
        else
            gathered = joined;
        m_tail.clear();
        m_tailIsReply = false;
    }
    const SplitResult r = split(gathered, m_mode, false);
    m_counters.split += r.frames.size();
    m_counters.dropped += r.skippedRuns;
    m_counters.droppedBytes += r.skippedBytes;
    QList<QByteArray> frames = r.frames;
    if (taken) {
        // Early replies lie at the front of the frames; those past the rest's start are in it.
        dropTaken(frames, *taken);
        *taken = qMax<qsizetype>(0, *taken - (gathered.size() - r.rest.size()));
    }
    gathered = r.rest;
    out += frames;
    return out;
}

QList<QByteArray> Splitter::expire(qint64 nowMs)
{
    QList<QByteArray> out;
    if (m_tail.isEmpty() || nowMs - m_tailSince <= kTailLifeMs)
        return out;
    if (m_tailIsReply)
        handUpTail(out);
    else
        dropTail();
    return out;
}

void Splitter::reset()
{
    m_tail.clear();
    m_tailIsReply = false;
}

void Splitter::judge(const QByteArray &gathered, qint64 nowMs, QList<QByteArray> &out)
{
    if (passesAsOne(gathered)) {
        if (looksCutShort(gathered)) {
            // Hold it back briefly: if the rest of a reply follows, the two are one frame;
            // otherwise it is handed up unchanged when its time is up.
            m_tail = gathered;
            m_tailIsReply = true;
            m_tailSince = nowMs;
            return;
        }
        ++m_counters.accepted;
        out << gathered;
        return;
    }
    keep(split(gathered, m_mode, true), gathered.size(), nowMs, false, out);
}

void Splitter::keep(const SplitResult &r, qsizetype inputSize, qint64 nowMs, bool restIsOldTail,
    QList<QByteArray> &out)
{
    m_counters.split += r.frames.size();
    m_counters.dropped += r.skippedRuns;
    m_counters.droppedBytes += r.skippedBytes;
    out += r.frames;
    // A tail that merely grew keeps its first arrival time, so trickling bytes cannot keep a
    // partial frame alive for ever.
    const bool sameStart = restIsOldTail && r.rest.size() == inputSize;
    if (!sameStart)
        m_tailSince = nowMs;
    m_tail = r.rest;
    m_tailIsReply = false;
}

void Splitter::handUpTail(QList<QByteArray> &out)
{
    ++m_counters.accepted;
    out << m_tail;
    m_tail.clear();
    m_tailIsReply = false;
}

void Splitter::dropTail()
{
    if (m_tail.isEmpty())
        return;
    ++m_counters.dropped;
    m_counters.droppedBytes += m_tail.size();
    m_tail.clear();
    m_tailIsReply = false;
}

} // namespace core::rx
