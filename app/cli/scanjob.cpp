// The scan command on one port: finds modules at unknown line speed, protocol and address.
#include "cli/scanjob.h"

#include "cli/options.h"
#include "cli/output.h"

#include "io/portdiscovery.h"

namespace cli {

ScanJob::ScanJob(const QString &port, const Settings &settings, Output *output,
    const QList<core::scan::Target> &targets, bool all, int answerMs)
    : PortJob(port, settings, output)
    , m_targets(targets)
    , m_all(all)
    , m_answerMs(answerMs)
{
    connect(&m_scanner, &io::PortScanner::probing, this,
        [this](int index, int total, const core::scan::Target &t) {
            const bool factory = t.address == core::protocol::addressRange(t.checkMode).factory;
            if (index == 0 && factory)
                status(QStringLiteral("trying the factory addresses at every speed"));
            if (factory && m_group.baud < 0)
                return;
            if (t.baud == m_group.baud && t.checkMode == m_group.checkMode)
                return;
            m_group = t;
            status(QStringLiteral("trying %1 baud, check %2 (%3 %)")
                       .arg(t.baud)
                       .arg(core::checkModeWord(t.checkMode))
                       .arg(100 * index / qMax(total, 1)));
        });
    connect(&m_scanner, &io::PortScanner::found, this,
        [this](const core::scan::Target &t) { m_output->found(m_port, t); });
    connect(&m_scanner, &io::PortScanner::finished, this,
        [this](int found, bool cancelled, const QString &error) {
            if (!error.isEmpty()) {
                const QString location = io::ports::systemLocation(m_port);
                fail(QStringLiteral("cannot open%1: %2")
                         .arg(location == m_port ? QString() : QStringLiteral(" ") + location,
                             error));
            } else if (cancelled) {
                status(QStringLiteral("stopped (%1), %2 found").arg(m_stopReason).arg(found));
                // A scan for every module that was stopped has not looked everywhere.
                finish(kExitStopped);
            } else if (found == 0) {
                fail(
                    QStringLiteral("no module answered (%1 settings tried)").arg(m_targets.size()));
            } else {
                finish(0);
            }
        });
}

void ScanJob::start()
{
    m_scanner.start(m_port, m_targets, m_all, m_answerMs);
}

void ScanJob::stop(const QString &why)
{
    m_stopReason = why;
    m_scanner.cancel();
}

} // namespace cli
