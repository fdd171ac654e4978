// Runs a test plan against one module on one port and keeps the record of the run.
#pragma once

#include "core/commands.h"
#include "core/plan/plan.h"
#include "core/plan/runrecord.h"
#include "core/plan/verdict.h"
#include "core/replies.h"
#include "io/link.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace io::plan {

/**
 * Who runs the plan where; each setting given here overrides the plan's [link]. A check mode other
 * than the plan's starts at that protocol's factory address (0xAA 0, Modbus 1) unless an address
 * is given too.
 */
struct RunOptions
{
    QString port;
    QString station;
    QString operatorName;
    QString lot;
    std::optional<core::CheckMode> checkMode;
    std::optional<int> baud;
    std::optional<int> address;
    std::optional<int> timeoutMs;
    QString byteLog; ///< every byte of the run is recorded here (io::Link::record); empty: none
};

/**
 * One unit's run of a plan, in the event loop of the thread it lives in, through an io::Link of
 * its own: several ports are several runners. Reads, measures (0xAA modules measure
 * continuously, Modbus ones one result at a time), calibrates and sets as the plan says; every
 * attempt is judged by core::plan and kept in the record.
 */
class Runner : public QObject
{
    Q_OBJECT
public:
    Runner(const core::plan::Plan &plan, const RunOptions &options, QObject *parent = nullptr);

    /** @brief Opens the port and starts; finished() follows, also when the port cannot open. */
    void start();
    /**
     * @brief Ends the run cleanly: the exchange under way completes, a continuous run gets its
     * stop byte, and the run is ABORTED.
     */
    void abort();

    bool isFinished() const { return m_finished; }
    /** @brief The record so far; complete once finished. */
    const core::plan::RunRecord &record() const { return m_record; }
    /** @brief Why the byte log could not be written; empty while all is well. */
    const QString &byteLogError() const { return m_byteLogError; }

signals:
    /** Each attempt of a step once judged (its number counts from 1). */
    void attemptDone(
        const QString &stepName, int attemptNumber, const core::plan::Attempt &attempt);
    void finished();

private:
    using Then = std::function<void(const core::replies::Reply &, const QByteArray &)>;
    enum class Wait { None, Reply, Continuous, Drain };

    void runStep();
    void endAttempt();
    void finish();
    void abortNow();

    void ask(core::commands::Command command, core::commands::Inputs inputs, Then then);
    void askRead(core::plan::Quantity q, std::function<void(const core::plan::Reading &)> then);
    /** @brief Reads @p q and hands on its number; a reply without one ends the attempt in ERROR. */
    void askNumber(core::plan::Quantity q, std::function<void(int)> then);
    void readNext(int index);
    void measure(core::plan::Series *series, std::function<void()> then);
    void measureOnce(std::function<void()> then);
    void stopContinuous(std::function<void()> then);
    void armDrain();
    void setNext(int index);
    void verifyNewSettings();

    void onReply(const QByteArray &bytes);
    void onNoReply();
    void onLost(const QString &reason);

    core::commands::Inputs inputs() const;
    core::replies::Reply decode(const QByteArray &bytes) const;
    QString settingsText() const;

    const core::plan::Plan m_plan;
    const RunOptions m_options;
    core::plan::LinkSettings m_settings; ///< as they are now (a set step changes them)
    io::Link m_link;
    core::plan::Sequence m_sequence;
    core::plan::RunRecord m_record;

    // The attempt under way.
    core::plan::Values m_values;
    QDateTime m_attemptStart;
    // The exchange under way.
    Wait m_wait = Wait::None;
    core::commands::Command m_asked = core::commands::Command::ReadStatus;
    Then m_then;
    bool m_silenceFails = false; ///< no answer is a FAIL (at new settings), not an ERROR
    // The series under way.
    core::plan::Series *m_series = nullptr;
    std::function<void()> m_seriesDone;

    bool m_started = false;
    bool m_abort = false;
    bool m_lost = false;
    bool m_finished = false;
    QString m_byteLogError;
};

} // namespace io::plan
