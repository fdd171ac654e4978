// tovandrix-cli's commands: each turns the command line into the jobs that do the work.
#include "cli/commands.h"

#include "cli/options.h"
#include "cli/output.h"
#include "cli/scanjob.h"

#include "core/frames.h"
#include "io/portdiscovery.h"

#include <cstdio>
#include <functional>

namespace cli {

namespace {

using cmdline::UsageError;
using core::commands::Command;

void expectOperands(const Invocation &in, int count)
{
    if (in.operands().size() != count)
        throw UsageError {
            QStringLiteral("usage: tovandrix-cli %1 %2").arg(in.name(), in.command()->synopsis)
        };
}

int operandNumber(const QString &text, const QString &what, qint64 low, qint64 high)
{
    if (!cmdline::wholeNumber(low, high).accepts(text))
        throw UsageError { QStringLiteral("%1 wants %2, not \"%3\"")
                               .arg(what, cmdline::wholeNumber(low, high).wants, text) };
    return text.trimmed().toInt();
}

QString frame(const Settings &s, Command command, const core::commands::Inputs &in)
{
    const core::commands::Built built = core::commands::build(command, s.checkMode, in);
    if (!built.text)
        throw UsageError { QStringLiteral("this command has no frame with --check %1")
                               .arg(core::checkModeWord(s.checkMode)) };
    return *built.text;
}

Jobs queryJobs(const Invocation &in, Output *output, const QList<QueryJob::Query> &queries,
    const QString &baudText = {})
{
    Jobs jobs;
    for (const QString &port : in.ports())
        jobs.push_back(std::make_unique<QueryJob>(port, in.settings(), output, queries, baudText));
    return jobs;
}

Jobs info(const Invocation &in, Output *output)
{
    const Settings &s = in.settings();
    const core::commands::Inputs inputs = s.inputs();
    const bool aa = s.checkMode == core::CheckMode::Sum8;
    QList<QueryJob::Query> queries;
    const Command order[] = { Command::ReadHardwareVersion, Command::ReadSoftwareVersion,
        Command::ReadSerialNumber, Command::ReadAddress, Command::ReadOffset, Command::ReadVoltage,
        Command::ReadTemperature, aa ? Command::ReadStatus : Command::ReadAngle };
    for (Command command : order)
        queries.append({ frame(s, command, inputs), aa && command == Command::ReadAddress, false });
    return queryJobs(in, output, queries);
}

/** The frame of "set WHAT VALUE", and the baud rate it confirms. */
std::pair<QString, QString> setFrame(const Invocation &in)
{
    const Settings &s = in.settings();
    core::commands::Inputs inputs = s.inputs();
    const QString what = in.operands().value(0);
    const QString value = in.operands().value(1);
    if (what == QLatin1String("address")) {
        const auto range = core::protocol::addressRange(s.checkMode);
        inputs.newAddress = operandNumber(value,
            QStringLiteral("set address (--check %1)").arg(core::checkModeWord(s.checkMode)),
            range.first, range.last);
        return { frame(s, Command::SetAddress, inputs), {} };
    }
    if (what == QLatin1String("baud")) {
        const std::optional<int> code = core::protocol::baudCode(value.toInt());
        if (!code || value != QString::number(value.toInt()))
            throw UsageError { QStringLiteral("set baud wants one of 2400, 4800, 9600, 19200, "
                                              "38400, 57600, 115200, not \"%1\"")
                                   .arg(value) };
        inputs.baudCode = *code;
        return { frame(s, Command::SetBaudRate, inputs), value };
    }
    if (what == QLatin1String("offset")) {
        inputs.offset = operandNumber(value, QStringLiteral("set offset"),
            core::commands::kOffsetMin, core::commands::kOffsetMax);
        return { frame(s, Command::SetOffset, inputs), {} };
    }
    if (what == QLatin1String("laser")
        && (value == QLatin1String("on") || value == QLatin1String("off")))
        return { frame(s, value == QLatin1String("on") ? Command::LaserOn : Command::LaserOff,
                     inputs),
            {} };
    throw UsageError { QStringLiteral("usage: tovandrix-cli set %1").arg(in.command()->synopsis) };
}

Jobs set(const Invocation &in, Output *output)
{
    const auto [text, baudText] = setFrame(in);
    return queryJobs(in, output, { { text, false, false } }, baudText);
}

Jobs send(const Invocation &in, Output *output)
{
    return queryJobs(in, output, { { in.operands().join(QLatin1Char(' ')), false, true } });
}

Jobs ports(const Invocation &, Output *output)
{
    for (const io::ports::PortEntry &entry : io::ports::availablePorts())
        output->line({}, entry.path + QLatin1Char('\t') + entry.description);
    return {};
}

Jobs measure(const Invocation &in, Output *output)
{
    const int count = in.isSet("seconds") ? 0 : int(in.integer("count"));
    const double seconds = in.isSet("seconds") ? in.number("seconds") : 0;
    Jobs jobs;
    for (const QString &port : in.ports())
        jobs.push_back(std::make_unique<MeasureJob>(
            port, in.settings(), output, count, seconds, in.isSet("speed")));
    return jobs;
}

core::scan::Plan scanPlan(const Invocation &in)
{
    core::scan::Plan plan;
    if (in.isSet("bauds"))
        plan.bauds = core::scan::parseBauds(in.text("bauds")).value_or(QList<int>());
    if (in.isSet("checks"))
        plan.checkModes
            = core::scan::parseChecks(in.text("checks")).value_or(QList<core::CheckMode>());
    if (in.isSet("addresses"))
        plan.addresses = core::scan::parseAddresses(in.text("addresses"));
    return plan;
}

Jobs scanPorts(const Invocation &in, Output *output)
{
    const QList<core::scan::Target> targets = core::scan::order(scanPlan(in));
    Jobs jobs;
    for (const QString &port : in.ports())
        jobs.push_back(std::make_unique<ScanJob>(
            port, in.settings(), output, targets, in.isSet("all"), int(in.integer("timeout"))));
    return jobs;
}

struct Entry
{
    const char *name;
    std::function<Jobs(const Invocation &, Output *)> run;
};

const Entry kCommands[] = {
    { "ports", ports },
    { "info", info },
    { "measure", measure },
    { "set", set },
    { "send", send },
    { "scan", scanPorts },
};

} // namespace

void checkOperands(const Invocation &in)
{
    const QString name = in.name();
    if (name == QLatin1String("set")) {
        expectOperands(in, 2);
        setFrame(in);
    } else if (name == QLatin1String("send")) {
        const QString text = in.operands().join(QLatin1Char(' '));
        if (!core::frames::isStrictHexText(text))
            throw UsageError { QStringLiteral("send wants a frame as hex digits such as \"AA 80 "
                                              "00 06 86\", not \"%1\"")
                                   .arg(text) };
    } else {
        expectOperands(in, 0);
    }
    if (name == QLatin1String("measure") && in.isSet("count") && in.isSet("seconds"))
        throw UsageError { QStringLiteral("measure takes --count or --seconds, not both") };
    if (in.isSet("force") && in.isSet("append"))
        throw UsageError { QStringLiteral("--force and --append do not go together") };
    if (name == QLatin1String("scan")) {
        if (core::scan::order(scanPlan(in)).isEmpty())
            throw UsageError { QStringLiteral("--addresses leaves no address to try") };
    }
}

Jobs makeJobs(const Invocation &in, Output *output)
{
    for (const Entry &e : kCommands)
        if (in.name() == QLatin1String(e.name))
            return e.run(in, output);
    return {};
}

} // namespace cli
