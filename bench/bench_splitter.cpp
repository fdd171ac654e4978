// Measures how many replies a second the receive splitter gets through, and how well it
// recovers replies that an adapter cut at random places.
#include "core/frames.h"
#include "core/rxsplitter.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>

namespace {

QByteArray measurementReply(quint32 v)
{
    QByteArray body;
    for (int b : { 0x00, 0x00, 0x22, 0x00, 0x03 })
        body.append(char(b));
    for (int shift : { 24, 16, 8, 0 })
        body.append(char(v >> shift));
    body.append(char(0x00));
    body.append(char(v & 0x7F));
    return char(0xAA) + body + char(core::protocol::sum8(body.constData(), body.size()));
}

QByteArray modbusMeasurementReply(quint32 v)
{
    QByteArray body;
    for (int b : { 0x01, 0x04, 0x06 })
        body.append(char(b));
    for (int shift : { 24, 16, 8, 0 })
        body.append(char(v >> shift));
    body.append(char(0x00));
    body.append(char(v & 0x7F));
    return core::protocol::appendCrc(body);
}

QByteArray replyFor(core::CheckMode mode, quint32 v)
{
    return mode == core::CheckMode::Sum8 ? measurementReply(v) : modbusMeasurementReply(v);
}

// Replies streamed with no silence at all: the worker drains its buffer whenever it reaches
// kStreamLimit, in 64-byte reads.
void streamThroughput(core::CheckMode mode, int replies)
{
    QByteArray stream;
    for (int k = 0; k < replies; ++k)
        stream += replyFor(mode, quint32(k) * 2654435761u);
    core::rx::Splitter splitter(mode);
    QByteArray gathered;
    qint64 out = 0;
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < stream.size(); at += 64) {
        gathered += stream.mid(at, 64);
        if (gathered.size() >= core::rx::kStreamLimit)
            out += splitter.drain(gathered, 0).size();
    }
    out += splitter.feed(gathered, 0).size();
    const double s = clock.nsecsElapsed() / 1e9;
    std::printf("  %-44s %9.0f replies/s (%lld of %d out)\n",
        mode == core::CheckMode::Sum8 ? "0xAA 13-byte replies, back to back, drained"
                                      : "Modbus 11-byte replies, back to back, drained",
        out / s, out, replies);
}

// Each silence ends after `perBuffer` replies: one is the plain case, more are merged replies.
void silenceThroughput(core::CheckMode mode, int replies, int perBuffer)
{
    QList<QByteArray> buffers;
    for (int k = 0; k < replies; k += perBuffer) {
        QByteArray b;
        for (int j = 0; j < perBuffer; ++j)
            b += replyFor(mode, quint32(k + j) * 2654435761u);
        buffers << b;
    }
    core::rx::Splitter splitter(mode);
    qint64 out = 0;
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray &b : buffers)
        out += splitter.feed(b, 0).size();
    const double s = clock.nsecsElapsed() / 1e9;
    char label[64];
    std::snprintf(label, sizeof label, "%s, %d per silence",
        mode == core::CheckMode::Sum8 ? "0xAA 13-byte" : "Modbus 11-byte", perBuffer);
    std::printf("  %-44s %9.0f replies/s (%lld of %d out)\n", label, out / s, out, replies);
}

// Replies from random addresses cut into pieces of 2 to 21 bytes, each piece ended by a
// silence of 6 to 35 ms: how many come out whole, and how many wrong frames come out.
void randomCuts(core::CheckMode mode, int rounds)
{
    qint64 sent = 0, lost = 0, spurious = 0;
    for (int round = 1; round <= rounds; ++round) {
        QRandomGenerator rng { quint32(round) };
        QList<QByteArray> replies;
        QByteArray stream;
        for (int k = 0; k < 100; ++k) {
            QByteArray r = replyFor(mode, rng.generate());
            // Address 0 one time in three: the worst case for both checks.
            r[mode == core::CheckMode::Sum8 ? 1 : 0]
                = char(rng.bounded(3) == 0 ? 0 : 1 + rng.bounded(127));
            if (mode == core::CheckMode::Sum8)
                r[r.size() - 1] = char(core::protocol::sum8(r.constData() + 1, r.size() - 2));
            else
                r = core::protocol::appendCrc(r.left(r.size() - 2));
            replies << r;
            stream += r;
        }
        core::rx::Splitter splitter(mode);
        QList<QByteArray> out;
        qint64 now = 0;
        for (qsizetype at = 0; at < stream.size();) {
            const qsizetype n = qMin<qsizetype>(2 + rng.bounded(20), stream.size() - at);
            out += splitter.feed(stream.mid(at, n), now);
            at += n;
            now += 6 + rng.bounded(30);
        }
        out += splitter.feed(QByteArray(), now + 1000);
        sent += replies.size();
        for (const QByteArray &r : replies)
            lost += out.contains(r) ? 0 : 1;
        for (const QByteArray &r : out)
            spurious += replies.contains(r) ? 0 : 1;
    }
    std::printf("  %-44s %lld replies: %lld lost (%.2f %%), %lld wrong frames\n",
        mode == core::CheckMode::Sum8 ? "0xAA replies cut at random"
                                      : "Modbus replies cut at random",
        sent, lost, 100.0 * lost / sent, spurious);
}

} // namespace

int main()
{
    constexpr int kReplies = 1000000;
    std::printf("Receive splitter throughput (one core)\n");
    for (core::CheckMode mode : { core::CheckMode::Sum8, core::CheckMode::Crc }) {
        streamThroughput(mode, kReplies);
        silenceThroughput(mode, kReplies, 1);
        silenceThroughput(mode, kReplies, 2);
    }
    std::printf("Recovery of replies cut by the adapter\n");
    randomCuts(core::CheckMode::Sum8, 300);
    randomCuts(core::CheckMode::Crc, 300);
    return 0;
}
