// The scan command on one port: finds modules at unknown line speed, protocol and address.
#pragma once

#include "cli/jobs.h"

#include "core/scan.h"
#include "io/portscanner.h"

namespace cli {

/**
 * Tries the targets on its port with a PortScanner (the serial worker is not used: the scanner
 * changes speed between probes). Each module found is one line on standard output,
 * PORT BAUD CHECK ADDRESS; exit code 1 when none answers.
 */
class ScanJob : public PortJob
{
    Q_OBJECT
public:
    ScanJob(const QString &port, const Settings &settings, Output *output,
        const QList<scan::Target> &targets, bool all, int answerMs);
    void start() override;
    void interrupt() override;

protected:
    void begin() override { }
    void reply(const QByteArray &) override { }

private:
    PortScanner m_scanner;
    QList<scan::Target> m_targets;
    bool m_all;
    int m_answerMs;
    scan::Target m_group { -1, -1, -1 }; ///< the speed and protocol being tried
};

} // namespace cli
