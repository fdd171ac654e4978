// The analyze command: the figures of a run that measure wrote to a file.
#include "cli/analyzejob.h"

#include "cli/output.h"

#include "core/recordlines.h"

#include <QFile>

namespace cli {

namespace {
struct PortRun
{
    QList<core::Record> records;
    QList<core::analysis::Temperature> temperatures;
};
} // namespace

AnalyzeJob::AnalyzeJob(const QString &path, const Settings &settings, Output *output,
    const core::analysis::Options &options)
    : PortJob(path, settings, output)
    , m_options(options)
{
}

void AnalyzeJob::start()
{
    QFile file(m_port);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("cannot open: ") + file.errorString());
        return;
    }
    QStringList ports;
    QMap<QString, PortRun> runs;
    qint64 number = 0, damaged = 0, firstDamaged = 0;
    while (!file.atEnd()) {
        const QString text = QString::fromUtf8(file.readLine()).trimmed();
        ++number;
        if (text.isEmpty())
            continue;
        const core::records::ReadLine line = core::records::readLine(text);
        using Kind = core::records::ReadLine::Kind;
        if (line.kind == Kind::Damaged && damaged++ == 0)
            firstDamaged = number;
        if (line.kind != Kind::Record && line.kind != Kind::Temperature)
            continue;
        if (!runs.contains(line.port))
            ports << line.port;
        PortRun &run = runs[line.port];
        if (line.kind == Kind::Record)
            run.records.append(line.record);
        else
            run.temperatures.append({ line.record.clockMs, line.celsius });
    }
    for (const QString &port : ports) {
        const PortRun &run = runs[port];
        m_output->analysis(port, core::analysis::analyse(run.records, run.temperatures, m_options),
            Output::Shown::Alone);
    }
    if (damaged > 0) {
        status(QStringLiteral("%1 line%2 not read as a record, the first at line %3")
                   .arg(damaged)
                   .arg(damaged == 1 ? "" : "s")
                   .arg(firstDamaged));
        markError();
    }
    if (ports.isEmpty()) {
        fail(QStringLiteral("no records"));
        return;
    }
    finish();
}

} // namespace cli
