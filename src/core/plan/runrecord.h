// The record of one test run: which unit, which plan, what was measured and what passed. The
// field names follow OpenHTF's test record, the shape test engineers already read.
#pragma once

#include "core/runstats.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace core::plan {

/**
 * How a measurement, an attempt, a step or a run ended. The order is the order of severity: a
 * run's outcome is the worst of its steps'. Skipped and None never make anything worse.
 */
enum class Outcome {
    None, ///< no verdict asked for (a run without a plan, a reading without limits)
    Skipped, ///< not run: an earlier step failed and the plan stops at the first failure
    Pass,
    Marginal, ///< a pass, within the marginal band of a limit
    Fail, ///< a limit not met
    Error, ///< the unit could not be judged: no answer, line dropped, damaged reply
    Aborted, ///< stopped by a signal
};

/** @brief "NONE", "SKIPPED", "PASS", "MARGINAL", "FAIL", "ERROR", "ABORTED". */
QString outcomeName(Outcome outcome);
/** @brief The outcome of its name (upper case as outcomeName() writes it); nothing for others. */
std::optional<Outcome> outcomeFromName(const QString &name);
/** @brief The worse of two outcomes; None and Skipped give way to any other. */
Outcome worse(Outcome a, Outcome b);
/** @brief Pass and Marginal. */
inline bool passed(Outcome o)
{
    return o == Outcome::Pass || o == Outcome::Marginal;
}

/** One judged value. Text values (versions, status, serial) carry no limits. */
struct Measurement
{
    QString name;
    std::optional<double> value; ///< a number; empty for a text value or none read
    QString text; ///< a text value (a version, the status word), else empty
    QString unit;
    std::optional<double> min;
    std::optional<double> max;
    std::optional<double> marginal; ///< width of the marginal band inside each limit
    Outcome outcome = Outcome::None;
};

/** One try of a step: a retried step keeps every attempt. */
struct Attempt
{
    QDateTime startTime;
    QDateTime endTime;
    Outcome outcome = Outcome::None;
    QList<Measurement> measurements;
    QList<qint32> samples; ///< distances in mm of the attempt's measurements, in order
    QString message; ///< why an attempt erred or failed, for people (may be empty)
};

struct Step
{
    QString name;
    Outcome outcome = Outcome::None; ///< of its last attempt
    QList<Attempt> attempts;
};

struct UnitInfo
{
    QString serial; ///< as the module sends it (hex text); the unit's id
    QString software;
    QString hardware;
};

struct PlanInfo
{
    QString name; ///< empty for a run without a plan
    QString version;
    QString sha256; ///< of the plan file's bytes, lower-case hex
};

struct RunRecord
{
    QString id; ///< a UUID without braces, lower case
    PlanInfo plan;
    QString station;
    QString operatorName; ///< "operator" in JSON
    QString lot;
    QString port;
    UnitInfo unit; ///< dut_id is unit.serial
    QDateTime startTime;
    QDateTime endTime;
    Outcome outcome = Outcome::None;
    QList<Step> steps;

    QString dutId() const { return unit.serial; }
};

/** @brief A new random run id, as RunRecord::id holds it. */
QString newRunId();

/**
 * @brief A measuring run without a plan (an overnight characterization) as a run: outcome NONE,
 * one step "measure" of one attempt holding the distances as its samples and the run's count,
 * errors, mean and sigma (mm) as measurements without limits; a figure the records cannot give
 * yet has no value.
 */
RunRecord measuringRun(const QString &port, const QDateTime &start, const QDateTime &end,
    const QList<qint32> &samples, const RunStats::Figures &figures);

/**
 * @brief ISO 8601 local time with date, milliseconds and UTC offset
 * ("2026-12-07T23:59:58.102+01:00"); an invalid time gives empty text.
 */
QString isoTime(const QDateTime &time);
/** @brief The time isoTime() wrote (any ISO 8601 date-time with an offset or Z); invalid else. */
QDateTime timeFromIso(const QString &text);

/**
 * @brief The run as its JSON record: id, plan {name, version, sha256}, station, operator, lot,
 * port, dut_id, unit {serial, software, hardware}, start_time, end_time, outcome, steps
 * [{name, outcome, attempts [{start_time, end_time, outcome, message, measurements [{name, value,
 * unit, min, max, marginal, outcome}], samples [...]}]}]. A measurement's value is a number, or
 * its text; absent limits are null.
 */
QJsonObject toJson(const RunRecord &run);

/**
 * @brief The run a JSON record holds; nothing, with the reason in @p error, when a field the
 * record needs is missing or of the wrong type (id, outcome and start_time are needed; the rest
 * defaults to empty).
 */
std::optional<RunRecord> fromJson(const QJsonObject &json, QString *error = nullptr);

} // namespace core::plan
