// Finding a module whose line speed, check mode and address are unknown: the order of the probes,
// the probe frames, how long each waits and which replies prove a module.
#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

namespace core::scan {

/** One combination of settings to try. */
struct Target
{
    int baud = 0;
    CheckMode checkMode = CheckMode::Sum8;
    int address = 0;

    bool operator==(const Target &o) const
    {
        return baud == o.baud && checkMode == o.checkMode && address == o.address;
    }
};

/** Line speeds, most common first: the order in which a scan tries them. */
inline constexpr int kCommonBauds[] = { 9600, 115200, 19200, 38400, 57600, 4800, 2400 };

/**
 * Time a module takes from the end of a request to the start of its answer. A module answers a
 * status read within a few milliseconds: the address search gives each probe 20 ms at 9600 baud,
 * of which the two frames take 15.
 */
inline constexpr int kAnswerMs = 5;

/**
 * Silence after a change of line speed or protocol before the next probe. A module that heard
 * the last probes as garbage may hold some of it as the start of a frame until the line has been
 * quiet a while (Modbus RTU: 3.5 characters, 8 ms at 4800 baud; some modules wait longer).
 */
inline constexpr int kSettleMs = 25;

/** Extra wait after the last probe at one speed and protocol, for an answer that comes late. */
inline constexpr int kLingerMs = 40;

/** What to try. Empty lists mean everything. */
struct Plan
{
    QList<int> bauds; ///< in the order given; default kCommonBauds
    QList<CheckMode> checkModes; ///< default both, 0xAA frames first
    std::optional<QPair<int, int>> addresses; ///< first, last; default every address of the mode
    int answerMs = kAnswerMs; ///< the module's answer time each probe allows for
};

/**
 * @brief Every target of @p plan, most likely first: the factory address of each check mode at
 * every speed, then every other address speed by speed. A module at factory settings is found
 * within the first 14 probes whatever its speed.
 */
QList<Target> order(const Plan &plan);

/** @brief The frame that asks @p target for a sign of life, as it goes on the wire. */
QByteArray probe(const Target &target);

/** @brief How long a probe to @p target waits: both frames at its speed, the answer time and
 * @p answerMs for the module (kAnswerMs unless the caller knows better). */
int waitMs(const Target &target, int answerMs = kAnswerMs);

/**
 * @brief The address of a module that answered a probe in @p checkMode within @p bytes (a frame
 * anywhere in them, garbage around it allowed), or nothing. Only a whole answer of exactly the
 * probe's kind counts: garbage from a wrong line speed never passes, and a late answer still
 * names its own module.
 */
std::optional<int> answeringAddress(const QByteArray &bytes, CheckMode checkMode);

/** @brief "9600,115200" → the speeds; nothing when one is not a speed a module knows. */
std::optional<QList<int>> parseBauds(const QString &text);
/** @brief "none,crc" → both check modes; nothing for other words. */
std::optional<QList<CheckMode>> parseChecks(const QString &text);
/** @brief "5", "0-127" → first and last address; nothing when not a range of 0 to 255. */
std::optional<QPair<int, int>> parseAddresses(const QString &text);

} // namespace core::scan

Q_DECLARE_METATYPE(core::scan::Target)
