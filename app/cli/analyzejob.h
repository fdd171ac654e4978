// The analyze command: the figures of a run that measure wrote to a file.
#pragma once

#include "cli/jobs.h"

namespace cli {

/**
 * Reads a .csv or .jsonl file of records (and temperatures) as measure writes them and gives
 * the figures of each port's run, ports in the order they first appear. Lines that are neither
 * a record, a temperature nor a line measure writes besides them (a header, a run's statistics
 * or figures) are counted and named, and fail the command; the figures of the rest still come.
 */
class AnalyzeJob : public PortJob
{
    Q_OBJECT
public:
    AnalyzeJob(const QString &path, const Settings &settings, Output *output,
        const core::analysis::Options &options);
    void start() override;

private:
    const core::analysis::Options m_options;
};

} // namespace cli
