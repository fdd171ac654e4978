// Byte log: every byte a run sent and received, with its direction and time, in a compact form
// that replays the run (docs/record-format.md).
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

namespace core::replay {

/// The first bytes of every log.
inline constexpr char kMagic[] = "TVXR";
inline constexpr quint8 kVersion = 1;

enum class Direction : quint8 {
    Sent = 0, ///< from the program to the module
    Received = 1, ///< from the module to the program
};

struct Header
{
    int baud = 0; ///< line speed; 0: unknown
    int checkMode = 0; ///< 0: 0xAA frames, 1: Modbus RTU with CRC
};

struct Entry
{
    Direction direction = Direction::Sent;
    quint64 delayUs = 0; ///< since the entry before (the first: since the recording started)
    QByteArray bytes;
};

/** @brief The header of a log: magic, version, check mode, line speed. */
QByteArray encodeHeader(const Header &header);
/** @brief Appends one entry to @p log: direction, delay, byte count, bytes. */
void appendEntry(QByteArray *log, Direction direction, quint64 delayUs, const QByteArray &bytes);

/** What a log holds: every whole entry up to the end or to the first damaged one. */
struct Log
{
    Header header;
    QList<Entry> entries;
    qsizetype used = 0; ///< bytes read: the header and the whole entries
    QString error; ///< empty when the whole log was read
};

/**
 * @brief The log in @p bytes. A log cut short (a recording killed between two flushes) gives
 * its whole entries and an error naming where it ends; numbers take the fewest bytes, so the
 * entries encode back to exactly the bytes read.
 */
Log decode(const QByteArray &bytes);

} // namespace core::replay
