// Verdicts of a test plan: a limit judges a value, a step is judged from the values the module
// gave, a run goes on, retries or stops by the plan's rules. No port: every rule is fed values.
#pragma once

#include "core/plan/plan.h"
#include "core/plan/runrecord.h"
#include "core/replies.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace core::plan {

/**
 * @brief PASS, MARGINAL or FAIL of @p value against @p limit (None when the limit has neither min
 * nor max). On a limit passes; on the inner edge of the marginal band passes cleanly.
 */
Outcome judge(const Limit &limit, double value);

/** One value as the module means it: a number in its unit, or a text. */
struct Reading
{
    std::optional<double> value;
    QString text;
    QString problem; ///< why the reply holds no such value (wrong kind, not decimal), else empty
    bool errorReply = false; ///< the module answered with an error
};

/**
 * @brief What @p reply (decoded from @p bytes) says of @p q: voltage as the four hex digits of the
 * reply read as decimal mV (the module sends BCD), temperature and angle in degrees, the offset in
 * mm, and status, versions and the serial number as the hex text the module sent (the Modbus
 * serial number both of its registers).
 */
Reading readingOf(Quantity q, const replies::Reply &reply, const QByteArray &bytes);

/** The reply kind that answers a read of @p q. */
replies::Kind replyKindOf(Quantity q);

/** Distances of a measuring series, and how many of its replies were errors. */
struct Series
{
    QList<qint32> samples;
    int errorReplies = 0;
};

/** What the module said during one attempt of a step; judgeAttempt() turns it into a verdict. */
struct Values
{
    QList<std::pair<Quantity, Reading>> reads; ///< read steps, and set's reads at new settings
    Series series; ///< measure; calibrate's fresh measurement after writing
    // calibrate
    std::optional<int> offsetBefore;
    Series calibrationSeries;
    std::optional<int> offsetReadBack;
    /// A FAIL that no limit states (a write the module refused, no answer at its new settings).
    QString failure;
    /// The unit could not be judged: no answer, line dropped, damaged reply. Empty otherwise.
    QString error;
    bool aborted = false;
};

/** What calibration makes of the offset and the first series. */
struct Calibration
{
    std::optional<int> newOffset; ///< to write; nothing when refused
    QList<Measurement> measurements;
    Outcome outcome = Outcome::None; ///< FAIL when refused
    QString message;
};

/**
 * @brief new offset = current + (reference - mean), rounded to whole mm (the module adds its
 * offset to every distance). Refused (FAIL) when the series holds no distance, the sigma is above
 * the step's sigma limit, the change is above max_change, or the offset does not fit the module's
 * 16-bit register.
 */
Calibration calibrate(const TestStep &step, int currentOffset, const Series &series);

/**
 * @brief The measurements and outcome of one attempt of @p step from @p values (times left
 * empty). ERROR when values.error is set, ABORTED when aborted; otherwise the worst of its
 * measurements, PASS when none carries a limit.
 */
Attempt judgeAttempt(const TestStep &step, const Values &values);

/**
 * The order of a run: which step runs next, whether a failed step is tried again, and when the
 * run stops (the first step that fails or errs, unless the plan continues on failure; always at a
 * lost line or an abort). Steps never run are recorded as SKIPPED.
 */
class Sequence
{
public:
    explicit Sequence(const Plan &plan);

    bool finished() const { return m_finished; }
    /** @brief The step to run next (valid while not finished). */
    int stepIndex() const { return m_index; }
    const TestStep &step() const { return m_plan.steps.at(m_index); }
    /**
     * @brief Records an attempt of the current step and moves on. @p lineLost: nothing more can
     * be asked of the unit.
     */
    void attemptDone(const Attempt &attempt, bool lineLost = false);
    /** @brief The steps so far with every attempt; once finished, the rest as SKIPPED. */
    const QList<Step> &steps() const { return m_steps; }
    /** @brief The worst of the steps so far. */
    Outcome outcome() const;

private:
    void stop();

    Plan m_plan;
    QList<Step> m_steps;
    int m_index = 0;
    bool m_finished = false;
};

/** @brief "voltage 3300 mV (min 3000, max 3600) PASS", "serial 2024", "sigma - mm FAIL". */
QString describe(const Measurement &m);
/** @brief The measurements that decided a FAIL (or MARGINAL), or the attempt's message. */
QString reasonOf(const Attempt &attempt);

/** @brief "identity, attempt 1: PASS; serial 2024; ..." for the progress of a run. */
QString progressLine(const QString &stepName, int attemptNumber, const Attempt &attempt);

/** @brief "PORT<TAB>SERIAL<TAB>VERDICT<TAB>SECONDS" of a finished run, seconds with 1 decimal. */
QString unitLine(const RunRecord &run);

/**
 * @brief 0 when every unit passed (PASS, MARGINAL), 1 when a unit failed, 3 when a unit could not
 * be tested (ERROR, ABORTED) or no unit was; 3 wins over 1.
 */
int exitStatus(const QList<RunRecord> &runs);

} // namespace core::plan
