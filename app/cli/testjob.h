// The test command on one port: a plan run on the unit there, through the plan runner.
#pragma once

#include "cli/jobs.h"

#include "core/plan/plan.h"
#include "io/plan/runner.h"

namespace cli {

/**
 * Runs the plan on its port's unit; progress on standard error, the unit's line (or its whole
 * record) on standard output once the run is over. A stop request aborts the run cleanly.
 */
class TestJob : public PortJob
{
    Q_OBJECT
public:
    TestJob(const core::plan::Plan &plan, const io::plan::RunOptions &options, Output *output);
    void start() override;
    void stop(const QString &why) override;
    const core::plan::RunRecord &record() const { return m_runner.record(); }
    /** @brief Why the run's byte log could not be written; empty when it was, or none was asked. */
    QString byteLogError() const { return m_runner.byteLogError(); }

private:
    io::plan::Runner m_runner;
};

} // namespace cli
