// A test plan: what to read, measure, calibrate and set on a unit, and the limits that judge it.
#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace core::plan {

/** What a read step asks the module for. */
enum class Quantity { Serial, Software, Hardware, Status, Voltage, Temperature, Angle, Offset };

/** @brief The plan file's name of @p q: "serial", "voltage", ... */
QString quantityName(Quantity q);
/** @brief The quantity of a plan file's name; nothing for an unknown name. */
std::optional<Quantity> quantityFromName(const QString &name);
/** @brief Voltage, temperature, angle and offset are numbers; the rest are texts. */
bool isNumeric(Quantity q);
/** @brief The unit a value is judged in: "mV", "°C", "°", "mm", or empty for a text. */
QString defaultUnit(Quantity q);

/**
 * A limit: @c min and/or @c max, and a marginal band of width @c marginal inside each of them.
 * A value exactly on a limit passes (as MARGINAL when there is a band); a value exactly on the
 * inner edge of the band passes cleanly: an edge always gives the better outcome.
 */
struct Limit
{
    std::optional<double> min;
    std::optional<double> max;
    std::optional<double> marginal;

    bool isSet() const { return min || max; }
};

/** The module's measuring speeds, as the frames carry them. */
enum class Speed { Auto = 0, Slow = 1, Fast = 2 };

struct TestStep
{
    enum class Kind { Read, Measure, Calibrate, Set };

    QString name;
    Kind kind = Kind::Read;
    int retries = 0; ///< a failed or unjudged attempt is run again at most this many times

    // read
    QList<Quantity> reads;
    Limit limit; ///< only for a single numeric read
    QString unit;

    // measure, and the measurements of calibrate
    int count = 0;
    Speed speed = Speed::Auto;
    std::optional<double> referenceMm; ///< mean_error is mean - reference
    Limit meanError;
    Limit sigma; ///< sample standard deviation; calibrate also refuses above its max
    Limit errors; ///< error replies among the samples

    // calibrate
    std::optional<double> maxChange; ///< largest change of the offset it will write, in mm

    // set
    std::optional<int> setAddress; ///< in the link's protocol
    std::optional<int> setBaud;
    std::optional<int> setOffset;
    std::optional<bool> setLaser;

    int line = 0; ///< where the step starts in the file
    int column = 0;
};

/** How the module is reached; the command line may override each of these. */
struct LinkSettings
{
    CheckMode checkMode = CheckMode::Sum8;
    int baud = 9600;
    int address = 0; ///< 0xAA address, or the Modbus address (1 unless the file says)
    int timeoutMs = 1000; ///< longest wait for a reply
};

struct Plan
{
    QString name;
    QString version;
    QString sha256; ///< of the file's bytes, lower-case hex
    bool continueOnFail = false;
    LinkSettings link;
    QList<TestStep> steps; ///< the record of a run calls each a Step
};

/** A parsed plan, or the first error in the file as "FILE:LINE:COLUMN: message". */
struct Parsed
{
    std::optional<Plan> plan;
    QString error;
};

/**
 * @brief Reads a plan file (TOML). Unknown keys, values of the wrong type or range, a limit whose
 * min is above its max, an unknown read and a step that is not exactly one of read, measure,
 * calibrate and set are errors, each with its place in the file; @p fileName names the file in
 * the message.
 */
Parsed parsePlan(const QByteArray &bytes, const QString &fileName);

} // namespace core::plan
