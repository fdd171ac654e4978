// Frame helpers: hex text, the command-text converter and time-of-day stamps. (The checks of a
// frame, 8-bit sum and CRC-16, are in the protocol table.)
#pragma once

#include <QByteArray>
#include <QString>
#include <QTime>

namespace core::frames {

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

/** @brief "HH:mm:ss.zzz" of @p time. */
QString clockText(const QTime &time);

/**
 * @brief Milliseconds since midnight from "HH:mm:ss.zzz": characters 0-1, 3-4,
 * 6-7 and 9-11 read as decimal numbers, a missing or invalid field counting 0.
 */
int timeOfDayMs(const QString &clock);

} // namespace core::frames
