// Fuzz target: the byte log's decoder on arbitrary bytes, read back through the encoder.
#include "core/replay/bytelog.h"
#include "fuzzcheck.h"

using namespace core::replay;

namespace {
QByteArray encoded(const Log &log)
{
    QByteArray out = encodeHeader(log.header);
    for (const Entry &e : log.entries)
        appendEntry(&out, e.direction, e.delayUs, e.bytes);
    return out;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // What the decoder reads encodes back to exactly the bytes it read, and it reads all of a
    // log unless it says why not.
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const Log read = decode(bytes);
    FUZZ_CHECK(read.error.isEmpty() == (read.used > 0 && read.used == bytes.size()));
    FUZZ_CHECK(read.used == 0 || encoded(read) == bytes.left(read.used));
    return 0;
}
