// Fuzz target: the time-of-day reader on arbitrary text and on every clock text it is meant for.
#include "core/frames.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {
// Two decimal digits can say at most 99 hours, minutes and seconds and three at most 999 ms; a
// sign takes the place of a digit.
constexpr int kLargest = 99 * 3600000 + 99 * 60000 + 99 * 1000 + 999;
constexpr int kSmallest = -9 * 3600000 - 9 * 60000 - 9 * 1000 - 99;
constexpr int kMsPerDay = 24 * 3600 * 1000;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    // A real clock reading round-trips exactly.
    const int ms = in.ConsumeIntegralInRange(0, kMsPerDay - 1);
    const QString clock = core::frames::clockText(QTime::fromMSecsSinceStartOfDay(ms));
    FUZZ_CHECK(clock.size() == 12);
    FUZZ_CHECK(core::frames::timeOfDayMs(clock) == ms);

    const bool utf16 = in.ConsumeBool();
    const std::string rest = in.ConsumeRemainingBytesAsString();
    const QString text = utf16
        ? QString(reinterpret_cast<const QChar *>(rest.data()), qsizetype(rest.size() / 2))
        : QString::fromUtf8(rest.data(), qsizetype(rest.size()));
    const int value = core::frames::timeOfDayMs(text);
    FUZZ_CHECK(value >= kSmallest && value <= kLargest);
    return 0;
}
