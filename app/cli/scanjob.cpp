// The scan command on one port: finds modules at unknown line speed, protocol and address.
#include "cli/scanjob.h"

#include <cstdio>

namespace cli {

namespace {
const char *checkWord(int checkMode)
{
    return checkMode == 0 ? "none" : "crc";
}
} // namespace

ScanJob::ScanJob(const QString &port, const Settings &settings, Output *output,
    const QList<scan::Target> &targets, bool all, int answerMs)
    : PortJob(port, settings, output)
    , m_targets(targets)
    , m_all(all)
    , m_answerMs(answerMs)
{
    connect(&m_scanner, &PortScanner::probing, this,
        [this](int index, int total, const scan::Target &t) {
            const bool factory = t.address == scan::kFactoryAddress[t.checkMode];
            if (index == 0 && factory)
                status(QStringLiteral("trying the factory addresses at every speed"));
            if (factory && m_group.baud < 0)
                return;
            if (t.baud == m_group.baud && t.checkMode == m_group.checkMode)
                return;
            m_group = t;
            status(QStringLiteral("trying %1 baud, check %2 (%3 %)")
                       .arg(t.baud)
                       .arg(QLatin1String(checkWord(t.checkMode)))
                       .arg(100 * index / qMax(total, 1)));
        });
    connect(&m_scanner, &PortScanner::found, this, [this](const scan::Target &t) {
        std::printf("%s %d %s %d\n", qPrintable(m_port), t.baud, checkWord(t.checkMode), t.address);
        std::fflush(stdout); // a script waiting on the pipe sees each module as it is found
    });
    connect(&m_scanner, &PortScanner::finished, this,
        [this](int found, bool cancelled, const QString &error) {
            if (!error.isEmpty())
                fail(QStringLiteral("cannot open: ") + error);
            else if (cancelled)
                fail(QStringLiteral("interrupted, %1 found").arg(found));
            else if (found == 0)
                fail(
                    QStringLiteral("no module answered (%1 settings tried)").arg(m_targets.size()));
            else
                finish(0);
        });
}

void ScanJob::start()
{
    m_scanner.start(m_port, m_targets, m_all, m_answerMs);
}

void ScanJob::interrupt()
{
    m_scanner.cancel();
}

} // namespace cli
