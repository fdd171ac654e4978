// Reply decoders of both protocols, the log-block and echo formatting, and the chart range rule.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace replies {

/// A line of exactly this many '-' closes every decoded reply in the log.
constexpr int kSeparatorWidth = 50;

/// A reply needs at least two bytes of packed hex text before any parser looks at it.
constexpr int kMinParsedChars = 4;

/** @brief What a decoded reply asks the window to do. */
enum class Kind {
    Nothing, ///< no output at all (unknown register, unexpected laser value, nothing sent yet)
    Separator, ///< the bare separator line (a reply that is not a 0xAA frame)
    Text, ///< one plain result block
    Measurement, ///< a plain result block plus a measurement record
    ModuleError, ///< a red block plus an error record (0xEE reply)
    ModbusException, ///< a red block, no record (function code with bit 7 set)
};

/** @brief The outcome of one decoded reply; the window only formats and applies it. */
struct Result
{
    Kind kind = Kind::Nothing;
    /// Label, value and unit exactly as the log shows them, without prefix and separator.
    /// For red kinds this still holds wire characters unescaped; logBlock() escapes them.
    QString body;
    /// Five columns for list_save_data (time, mode, distance, signal, measuring time), or empty.
    QStringList record;
    /// Distance to add to the chart (0xAA measurements only).
    std::optional<qint32> chartDistance;
    /// New address_index after a 0xAA set-address reply.
    std::optional<int> newAddressIndex;
    /// New address_index_moudbus after a Modbus set-address reply.
    std::optional<int> newAddressIndexMoudbus;
    /// A status reply ended the address search: stop timer_address and set address_i to -1.
    bool stopAddressSearch = false;

    bool isRed() const { return kind == Kind::ModuleError || kind == Kind::ModbusException; }
};

/** @brief Window state both decoders read, taken when the reply is handled. */
struct ModbusContext
{
    int measureMode = 0; ///< measure_mode: 0 auto, 1 slow, 2 fast
    int modeCeliang = 0; ///< mode_celiang: 1 after a single measurement
    qint64 measuringTimeMs = 0; ///< recorded only when modeCeliang is 1
    QString clock; ///< "HH:mm:ss.zzz" for the record's first column
    QString baudRateText; ///< current text of botelv_Box_2
};

/** @brief What the 0xAA decoder reads besides: the address search. */
struct AaContext : ModbusContext
{
    bool addressSearchRunning = false; ///< timer_address is active
    int addressI = -1; ///< address_i, the address probed last
};

/**
 * @brief Decodes a 0xAA-protocol reply (packed hex text, checksum included).
 * The reply kind comes from its header and register code; @p language 0 is
 * Chinese, anything else English.
 */
Result decodeAa(const QString &packedReply, const AaContext &ctx, int language);

/**
 * @brief Decodes a Modbus reply (packed hex text, CRC included) as the answer
 * to @p sendMeasure, the packed hex text of the frame written last.
 */
Result decodeModbus(
    const QString &packedReply, const QString &sendMeasure, const ModbusContext &ctx, int language);

/** @brief Mode column text of measure_mode in @p language; empty outside 0..2. */
QString measureModeText(int measureMode, int language);

/** @brief @p text as HTML that shows exactly its characters: markup escaped, every blank kept. */
QString htmlText(const QString &text);

/** @brief The 50 '-' characters of the separator line. */
QString separator();

/** @brief "N  [HH:mm:ss.zzz] ": the start of every numbered log line. */
QString linePrefix(int showNum, const QString &clock);

/** @brief Plain result block: prefix, @p body, line break, separator. */
QString resultBlock(int showNum, const QString &clock, const QString &body);

/**
 * @brief Red result block as HTML: the same layout with "<br>" before the
 * separator; @p body is HTML-escaped because part of it comes from the wire.
 */
QString redResultBlock(int showNum, const QString &clock, const QString &body);

/**
 * @brief The text to append for @p result: empty for Kind::Nothing, the bare
 * separator, a red block (append as HTML when result.isRed()) or a plain block.
 */
QString logBlock(const Result &result, int showNum, const QString &clock);

/** @brief A reply starting with "EE" is a module error and is echoed in red. */
bool isErrorReply(const QString &packedReply);

/** @brief One echo line of a received reply; html tells appendHtml from appendPlainText. */
struct EchoLine
{
    QString text;
    bool html = false;
};

/**
 * @brief Echo of a received reply: prefix, "接收:"/"Receive:" and the reply
 * in pairs ("AA 80 00 0A"); red HTML for an "EE" reply.
 */
EchoLine echoLine(int showNum, const QString &clock, const QString &packedReply, int language);

/** @brief Where the dispatch sends a reply. */
enum class Route {
    Empty, ///< nothing arrived: debug message only, no echo, no count
    TooShort, ///< echo and bare separator, not parsed, not counted
    Aa, ///< 0xAA parser of the current language, then counted
    Modbus, ///< Modbus parser of the current language, then counted
    Unparsed, ///< check mode neither 0 nor 1: echoed and counted, not parsed
};

/** @brief Route of @p packedReply under check mode @p checkMode (jiaoyan_mode index). */
Route routeReply(const QString &packedReply, int checkMode);

/** @brief How one distance point moves the chart's axes. */
struct ChartRange
{
    int minY = 0; ///< new MIN_Y
    int maxY = 300; ///< new MAX_Y
    bool setYRange = false; ///< set the y axis to minY .. maxY
    std::optional<int> xUpper; ///< set the x axis to 0 .. *xUpper
};

/**
 * @brief Axis rule for a distance point at x = @p showNum: while not
 * monitoring (@p jianceMode 0) the x axis stretches to 0 .. showNum from 21
 * on, MAX_Y grows to 1.1 × d (truncated) for d above it, else MIN_Y drops to
 * d below it, and the y axis follows. While monitoring nothing moves.
 */
ChartRange applyDistance(int minY, int maxY, qint32 distance, int showNum, int jianceMode);

} // namespace replies
