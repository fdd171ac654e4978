// Frame helpers: hex text, the command-text converter, CRC-16 and time-of-day stamps.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

namespace frames {

/** @brief Bytes as upper-case pairs joined by single blanks ("AA 00 21"). */
QString toHexText(const QByteArray &bytes);

/** @brief Bytes as upper-case pairs with no separator ("AA0021"). */
QString toPackedHex(const QByteArray &bytes);

/**
 * @brief Converts command text to bytes the way the send path always has:
 * blanks are removed, the rest is read two characters at a time, a pair that
 * is not hex gives 0x00 and an odd last character is a byte of its own.
 * Never fails.
 */
QByteArray fromHexText(const QString &text);

/** @brief True when @p text is non-empty, whole pairs of hex digits, blanks ignored. */
bool isStrictHexText(const QString &text);

/**
 * @brief Cuts packed hex text into 2-character pieces joined by blanks
 * ("AA80000A" -> "AA 80 00 0A", "AA0" -> "AA 0").
 */
QString spacedPairs(const QString &packed);

/** @brief Modbus CRC-16 (init 0xFFFF, reflected poly 0xA001, no final XOR). */
quint16 crc16(const char *data, qsizetype len);
inline quint16 crc16(const QByteArray &bytes)
{
    return crc16(bytes.constData(), bytes.size());
}

/** @brief @p frame followed by its CRC-16, low byte first. */
QByteArray appendCrc(const QByteArray &frame);

/** @brief At least two bytes and the last two are the CRC-16 of the rest, low byte first. */
bool checkCrc(const char *data, qsizetype len);
inline bool checkCrc(const QByteArray &bytes)
{
    return checkCrc(bytes.constData(), bytes.size());
}

/** @brief Low 8 bits of the sum of @p len bytes (the 0xAA frame checksum over its body). */
quint8 sum8(const char *data, qsizetype len);

/**
 * @brief A 0xAA/0xEE frame check: header 0xAA or 0xEE, at least two bytes,
 * last byte = low 8 bits of the sum of the bytes between the first and the last.
 */
bool checkSum8Frame(const char *data, qsizetype len);
inline bool checkSum8Frame(const QByteArray &b)
{
    return checkSum8Frame(b.constData(), b.size());
}

/** @brief "HH:mm:ss.zzz" of @p time. */
QString clockText(const QTime &time);

/**
 * @brief Milliseconds since midnight from "HH:mm:ss.zzz": characters 0-1, 3-4,
 * 6-7 and 9-11 read as decimal numbers, a missing or invalid field counting 0.
 */
int timeOfDayMs(const QString &clock);

} // namespace frames
