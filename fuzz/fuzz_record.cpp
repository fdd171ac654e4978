// Fuzz target: the byte log's decoder on arbitrary bytes, and logs encoded and read back.
#include "core/replay/bytelog.h"
#include "fuzzcheck.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace core::replay;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // What the decoder reads encodes back to exactly the bytes it read, and it reads all of a
    // log unless it says why not.
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const Log read = decode(bytes);
    FUZZ_CHECK(read.error.isEmpty() == (read.used > 0 && read.used == bytes.size()));
    if (read.used > 0) {
        QByteArray again = encodeHeader(read.header);
        for (const Entry &e : read.entries)
            appendEntry(&again, e.direction, e.delayUs, e.bytes);
        FUZZ_CHECK(again == bytes.left(read.used));
    }

    // A log written from any entries reads back whole.
    FuzzedDataProvider in(data, size);
    const Header header { in.ConsumeIntegralInRange(0, 4000000), in.ConsumeIntegralInRange(0, 1) };
    QByteArray log = encodeHeader(header);
    QList<Entry> entries;
    while (in.remaining_bytes() > 0) {
        Entry e { in.ConsumeBool() ? Direction::Sent : Direction::Received,
            in.ConsumeIntegral<quint64>(),
            QByteArray::fromStdString(in.ConsumeRandomLengthString(300)) };
        appendEntry(&log, e.direction, e.delayUs, e.bytes);
        entries.append(e);
    }
    const Log back = decode(log);
    FUZZ_CHECK(back.error.isEmpty() && back.used == log.size());
    FUZZ_CHECK(back.header.baud == header.baud && back.header.checkMode == header.checkMode);
    FUZZ_CHECK(back.entries.size() == entries.size());
    for (qsizetype k = 0; k < entries.size(); ++k)
        FUZZ_CHECK(back.entries[k].direction == entries[k].direction
            && back.entries[k].delayUs == entries[k].delayUs
            && back.entries[k].bytes == entries[k].bytes);
    return 0;
}
