// Fuzz target: the receive splitter and its acceptance rules in both check modes, driven the way
// the serial worker drives them.
#include "core/rxsplitter.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Longest frame either mode knows: nothing may be kept longer than one frame.
constexpr qsizetype kLongestFrame = 256;

// The cutting functions on one buffer: every byte ends up in a frame, skipped or in the rest.
void checkWholeBuffer(const QByteArray &bytes, core::CheckMode mode)
{
    for (const bool atSilence : { true, false }) {
        const core::rx::SplitResult r = core::rx::split(bytes, mode, atSilence);
        qsizetype covered = r.skippedBytes + r.rest.size();
        qsizetype cursor = 0;
        for (const QByteArray &frame : r.frames) {
            FUZZ_CHECK(core::rx::acceptsWhole(frame, mode));
            const qsizetype at = bytes.indexOf(frame, cursor);
            FUZZ_CHECK(at >= 0);
            cursor = at + frame.size();
            covered += frame.size();
        }
        FUZZ_CHECK(covered == bytes.size());
        FUZZ_CHECK(bytes.endsWith(r.rest));
        FUZZ_CHECK(r.skippedRuns <= r.skippedBytes);
        if (!atSilence)
            FUZZ_CHECK(r.rest.size() <= kLongestFrame);
    }
    const qsizetype positions = qMin<qsizetype>(bytes.size(), 64);
    for (qsizetype pos = 0; pos < positions; ++pos) {
        const qsizetype len = core::rx::frameLengthAt(bytes, pos, mode);
        FUZZ_CHECK(len >= 0 && pos + len <= bytes.size());
        if (len > 0)
            FUZZ_CHECK(core::rx::acceptsWhole(bytes.mid(pos, len), mode));
    }
    core::rx::isPlausibleStart(bytes, mode);
}

// The worker's use: bytes arrive in chunks, a long run without silence is drained, a silence
// judges what was gathered, time passes, the port closes. Whatever comes out must be frames that
// pass the check, taken in order and without overlap from the bytes that arrived.
void checkStream(FuzzedDataProvider &in, core::CheckMode mode)
{
    core::rx::Splitter splitter(mode);
    QByteArray stream;
    QByteArray buffer;
    qsizetype cursor = 0;
    qint64 now = 0;
    auto handUp = [&](const QList<QByteArray> &frames) {
        for (const QByteArray &frame : frames) {
            FUZZ_CHECK(!frame.isEmpty());
            FUZZ_CHECK(core::rx::acceptsWhole(frame, mode));
            const qsizetype at = stream.indexOf(frame, cursor);
            FUZZ_CHECK(at >= 0);
            cursor = at + frame.size();
        }
    };
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: {
            const std::string chunk = in.ConsumeBytesAsString(in.ConsumeIntegralInRange(1, 700));
            stream.append(chunk.data(), qsizetype(chunk.size()));
            buffer.append(chunk.data(), qsizetype(chunk.size()));
            now += in.ConsumeIntegralInRange(0, 4);
            if (buffer.size() >= core::rx::kStreamLimit) {
                handUp(splitter.drain(buffer, now));
                FUZZ_CHECK(buffer.size() <= kLongestFrame);
            }
            break;
        }
        case 1:
            now += in.ConsumeIntegralInRange(5, 20);
            handUp(splitter.feed(buffer, now));
            buffer.clear();
            break;
        case 2:
            now += in.ConsumeIntegralInRange(0, 300);
            handUp(splitter.expire(now));
            break;
        default:
            splitter.reset();
            buffer.clear();
            break;
        }
        FUZZ_CHECK(splitter.tail().size() <= kLongestFrame);
        const core::rx::Counters &c = splitter.counters();
        FUZZ_CHECK(c.accepted >= 0 && c.split >= 0 && c.joined >= 0 && c.dropped >= 0
            && c.droppedBytes >= c.dropped);
    }
    now += core::rx::kTailLifeMs + 1;
    handUp(splitter.expire(now));
    FUZZ_CHECK(!splitter.hasTail());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const quint8 flags = in.ConsumeIntegral<quint8>();
    const core::CheckMode mode = (flags & 1) ? core::CheckMode::Crc : core::CheckMode::Sum8;
    if (flags & 2) {
        const std::string rest = in.ConsumeRemainingBytesAsString();
        checkWholeBuffer(QByteArray(rest.data(), qsizetype(rest.size())), mode);
    } else {
        checkStream(in, mode);
    }
    return 0;
}
