// Byte log: every byte a run sent and received, with its direction and time, in a compact form
// that replays the run (docs/record-format.md).
#include "core/replay/bytelog.h"

#include <limits>

namespace core::replay {

namespace {

constexpr qsizetype kMagicSize = sizeof kMagic - 1;

// Unsigned LEB128: seven bits a byte, low bits first, the top bit set on all but the last.
void appendNumber(QByteArray *out, quint64 value)
{
    while (value >= 0x80) {
        out->append(char(0x80 | (value & 0x7F)));
        value >>= 7;
    }
    out->append(char(value));
}

// The number at @p *at, or false for one that runs past the end, past 64 bits or takes more
// bytes than it needs.
bool readNumber(const QByteArray &in, qsizetype *at, quint64 *value)
{
    *value = 0;
    for (int shift = 0; *at < in.size() && shift < 64; shift += 7) {
        const quint64 byte = quint8(in.at((*at)++));
        if (shift == 63 && byte > 1)
            return false;
        *value |= (byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return byte != 0 || shift == 0;
    }
    return false;
}

} // namespace

QByteArray encodeHeader(const Header &header)
{
    QByteArray out(kMagic, kMagicSize);
    out.append(char(kVersion));
    out.append(char(header.checkMode));
    appendNumber(&out, quint64(header.baud));
    return out;
}

void appendEntry(QByteArray *log, Direction direction, quint64 delayUs, const QByteArray &bytes)
{
    log->append(char(direction));
    appendNumber(log, delayUs);
    appendNumber(log, quint64(bytes.size()));
    log->append(bytes);
}

Log decode(const QByteArray &bytes)
{
    Log log;
    if (!bytes.startsWith(QByteArray(kMagic, kMagicSize))) {
        log.error = QStringLiteral("not a Tovandrix byte log");
        return log;
    }
    qsizetype at = kMagicSize + 2;
    const bool known = bytes.size() >= at && quint8(bytes.at(kMagicSize)) == kVersion
        && quint8(bytes.at(kMagicSize + 1)) <= 1;
    quint64 baud = 0;
    if (!known || !readNumber(bytes, &at, &baud)
        || baud > quint64(std::numeric_limits<int>::max())) {
        log.error = QStringLiteral("not a byte log of version %1").arg(kVersion);
        return log;
    }
    log.header = { int(baud), quint8(bytes.at(kMagicSize + 1)) };
    log.used = at;
    while (at < bytes.size()) {
        Entry e;
        quint64 count = 0;
        const quint8 direction = quint8(bytes.at(at++));
        if (direction > 1 || !readNumber(bytes, &at, &e.delayUs) || !readNumber(bytes, &at, &count)
            || count > quint64(bytes.size() - at)) {
            log.error = QStringLiteral("damaged or cut short at byte %1").arg(log.used);
            return log;
        }
        e.direction = Direction(direction);
        e.bytes = bytes.mid(at, qsizetype(count));
        at += qsizetype(count);
        log.entries.append(e);
        log.used = at;
    }
    return log;
}

} // namespace core::replay
