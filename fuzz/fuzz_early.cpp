// Fuzz target, differential: a reply handed up as soon as it is settled (early()) changes nothing
// of what is handed up. The same reads, with the same gaps, go through two splitters the way the
// serial worker drives them, one waiting for every silence and one also taking early replies; both
// must hand up exactly the same frames in the same order.
#include "core/protocol.h"
#include "core/rxsplitter.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

using core::CheckMode;

// The worker's silence and the tail deadline it arms, in ms.
constexpr int kSilenceMs = 5;

/** Replies as modules send them, so that the streams hold many whole frames, some damaged. */
QByteArray reply(FuzzedDataProvider &in, CheckMode mode)
{
    QByteArray f;
    const int kind = in.ConsumeIntegralInRange(0, 3);
    if (mode == CheckMode::Sum8) {
        const int words = kind == 0 ? 3 : 1;
        f.append(char(kind == 3 ? 0xEE : 0xAA));
        f.append(char(in.ConsumeIntegral<quint8>()));
        f.append(char(0));
        f.append(char(kind == 0 ? 0x22 : in.ConsumeIntegral<quint8>()));
        // Mostly the word count a reply states, now and then none.
        f.append(char(0));
        f.append(char(kind == 2 ? in.ConsumeIntegral<quint8>() : words));
        for (int i = 0; i < 2 * words; ++i)
            f.append(char(in.ConsumeIntegral<quint8>()));
        f.append(char(core::protocol::sum8(f.constData() + 1, f.size() - 1)));
    } else {
        f.append(char(in.ConsumeIntegralInRange(0, 3)));
        switch (kind) {
        case 0: { // a read: function, byte count, registers
            f.append(char(in.ConsumeBool() ? 0x03 : 0x04));
            const int count = in.ConsumeIntegralInRange(0, 8);
            f.append(char(count));
            for (int i = 0; i < count; ++i)
                f.append(char(in.ConsumeIntegral<quint8>()));
            break;
        }
        case 1: // an exception
            f.append(char(0x80 | in.ConsumeIntegralInRange(1, 6)));
            f.append(char(in.ConsumeIntegral<quint8>()));
            break;
        case 2: // a write's echo, or the measurement-mode echo under function 0x01
            f.append(char(in.PickValueInArray({ 0x01, 0x02, 0x05, 0x06, 0x0F, 0x10 })));
            for (int i = 0; i < 4; ++i)
                f.append(char(in.ConsumeIntegral<quint8>()));
            break;
        default: // a coil read with a byte count that competes with the 8-byte echo
            f.append(char(0x01));
            f.append(char(in.ConsumeIntegralInRange(0, 6)));
            for (int i = 0; i < f.at(2); ++i)
                f.append(char(in.ConsumeIntegral<quint8>()));
        }
        f = core::protocol::appendCrc(f);
    }
    if (in.ConsumeIntegralInRange(0, 7) == 0) // damaged on the line
        f[in.ConsumeIntegralInRange<int>(0, int(f.size()) - 1)]
            ^= char(1 << in.ConsumeIntegralInRange(0, 7));
    if (in.ConsumeIntegralInRange(0, 9) == 0 && f.size() > 1) // a byte lost
        f.remove(in.ConsumeIntegralInRange<int>(0, int(f.size()) - 1), 1);
    return f;
}

/** One splitter as the worker drives it; with @p early it also hands up settled replies. */
struct Worker
{
    core::rx::Splitter splitter;
    bool early;
    QByteArray buffer;
    qsizetype taken = 0;
    qint64 arrivedMs = 0;
    QList<QByteArray> out;

    Worker(CheckMode mode, bool early)
        : splitter(mode)
        , early(early)
    {
    }
    void read(const QByteArray &bytes, qint64 now)
    {
        if (buffer.isEmpty())
            arrivedMs = now;
        buffer += bytes;
        if (early)
            out += splitter.early(buffer, taken);
        if (buffer.size() >= core::rx::kStreamLimit) {
            out += splitter.drain(buffer, now, arrivedMs, early ? &taken : nullptr);
            arrivedMs = now;
        }
    }
    void silence(qint64 now)
    {
        out += splitter.feed(buffer, now, arrivedMs, early ? taken : 0);
        buffer.clear();
        taken = 0;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const CheckMode mode = in.ConsumeBool() ? CheckMode::Crc : CheckMode::Sum8;
    QByteArray stream;
    while (in.remaining_bytes() > 0 && stream.size() < 4096) {
        if (in.ConsumeIntegralInRange(0, 4) == 0) {
            const std::string noise = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(1, 6));
            stream.append(noise.data(), qsizetype(noise.size()));
        } else {
            stream += reply(in, mode);
        }
    }
    // The same reads and gaps for both: the stream is cut wherever the input says.
    Worker silenceOnly(mode, false), withEarly(mode, true);
    FuzzedDataProvider cuts(data, size);
    qint64 now = 0;
    for (qsizetype at = 0; at < stream.size();) {
        const qsizetype n = qMin<qsizetype>(stream.size() - at, cuts.ConsumeIntegralInRange(1, 40));
        const QByteArray chunk = stream.mid(at, n);
        at += n;
        silenceOnly.read(chunk, now);
        withEarly.read(chunk, now);
        const int gap = cuts.PickValueInArray({ 0, 1, 2, 4, 6, 20, 150 });
        if (gap >= kSilenceMs) {
            silenceOnly.silence(now + kSilenceMs);
            withEarly.silence(now + kSilenceMs);
            // The deadline of a kept tail, when nothing comes before it.
            for (Worker *w : { &silenceOnly, &withEarly })
                if (w->splitter.hasTail()
                    && w->splitter.tailSinceMs() + core::rx::kTailLifeMs < now + gap)
                    w->out += w->splitter.expire(now + gap);
        }
        now += gap;
    }
    for (Worker *w : { &silenceOnly, &withEarly }) {
        w->silence(now + kSilenceMs);
        w->out += w->splitter.expire(now + 1000);
    }
    FUZZ_CHECK(withEarly.out == silenceOnly.out);
    return 0;
}
