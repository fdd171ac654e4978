// tovandrix-cli's commands: each turns the command line into the jobs that do the work.
#pragma once

#include "cli/jobs.h"

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

} // namespace cli
