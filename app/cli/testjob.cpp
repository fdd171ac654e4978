// The test command on one port: a plan run on the unit there, through the plan runner.
#include "cli/testjob.h"

#include "cli/output.h"

#include "core/plan/verdict.h"

namespace cli {

TestJob::TestJob(
    const core::plan::Plan &plan, const io::plan::RunOptions &options, Output *output)
    : PortJob(options.port, {}, output)
    , m_runner(plan, options)
{
    connect(&m_runner, &io::plan::Runner::attemptDone, this,
        [this](const QString &step, int number, const core::plan::Attempt &attempt) {
            status(core::plan::progressLine(step, number, attempt));
        });
    connect(&m_runner, &io::plan::Runner::finished, this, [this] {
        m_output->run(m_runner.record());
        finish(0);
    });
}

void TestJob::start()
{
    m_runner.start();
}

void TestJob::stop(const QString &why)
{
    status(QStringLiteral("aborting (%1)").arg(why));
    m_runner.abort();
}

} // namespace cli
