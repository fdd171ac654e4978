// tovandrix-cli's commands: each turns the command line into the jobs that do the work.
#pragma once

#include "cli/jobs.h"

#include <QString>

#include <memory>
#include <vector>

namespace cli {

class Invocation;
class Output;

using Jobs = std::vector<std::unique_ptr<PortJob>>;

/**
 * @brief The jobs of the command @p in names, one per port, writing to @p output; none for a
 * command that is done at once (ports). Throws cmdline::UsageError for arguments that do not fit.
 */
Jobs makeJobs(const Invocation &in, Output *output);

/** @brief Checks the command's own arguments before any port is opened or file written. */
void checkOperands(const Invocation &in);

/** A plan file that cannot be run: the message names the file, line and column (exit status 2). */
struct PlanError
{
    QString text;
};

/**
 * @brief After the test command's runs: their record files and JUnit report as asked, and the
 * exit status (0 all passed, 1 a unit failed, 3 a unit could not be tested, 4 a record that could
 * not be stored). Every run goes to the results store.
 */
int concludeTests(const Invocation &in, const Jobs &jobs);

/**
 * @brief After a measure command's runs: with --db, each port's run stored as a run without a
 * plan. The exit status @p status, or 1 when they could not be stored.
 */
int concludeMeasure(const Invocation &in, const Jobs &jobs, int status);

} // namespace cli
