// The scan command on one port: finds modules at unknown line speed, protocol and address.
#pragma once

#include "cli/jobs.h"

#include "core/scan.h"
#include "io/portscanner.h"

namespace cli {

/**
 * Tries the targets on its port with an io::PortScanner (not the serial worker: the scanner changes
 * speed between probes). Each module found is one line on standard output; exit status 1 when
 * none answers.
 */
class ScanJob : public PortJob
{
    Q_OBJECT
public:
    ScanJob(const QString &port, const Settings &settings, Output *output,
        const QList<core::scan::Target> &targets, bool all, int answerMs);
    void start() override;
    void stop(const QString &why) override;

private:
    io::PortScanner m_scanner;
    QList<core::scan::Target> m_targets;
    bool m_all;
    int m_answerMs;
    QString m_stopReason; ///< why the scan was stopped early, if it was
    core::scan::Target m_group { -1, core::CheckMode::Sum8, -1 }; ///< speed and protocol tried
};

} // namespace cli
