// tovandrix-cli's commands: each turns the command line into the jobs that do the work.
#include "cli/commands.h"

#include "cli/analyzejob.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/scanjob.h"
#include "cli/storejob.h"
#include "cli/testjob.h"

#include "core/plan/verdict.h"
#include "export/plan/planfiles.h"

#include "core/frames.h"
#include "io/portdiscovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

/** The byte log of each port, as --record names it: one file, or one per port. */
QMap<QString, QString> byteLogs(const Invocation &in)
{
    return in.isSet("record") ? Output::fileNames(in.text("record"), in.ports())
                              : QMap<QString, QString>();
}

// The test command's byte log of a port while the run is under way; it is renamed beside the
// run's record once the record's name is known.
QString testByteLog(const QString &dir, const QString &port)
{
    return QDir(dir).filePath(QStringLiteral(".%1.tvxr.part").arg(Output::portTag(port)));
}

Jobs queryJobs(const Invocation &in, Output *output, const QList<QueryJob::Query> &queries,
    const QString &baudText = {})
{
    Jobs jobs;
    const QMap<QString, QString> logs = byteLogs(in);
    for (const QString &port : in.ports()) {
        auto job = std::make_unique<QueryJob>(port, in.settings(), output, queries, baudText);
        job->recordBytes(logs.value(port));
        jobs.push_back(std::move(job));
    }
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
    MeasureExtras extras;
    extras.analyze = in.isSet("analyze");
    extras.temperatureEveryS = in.isSet("temperature-every") ? in.number("temperature-every") : 0;
    extras.analysis.warmupBandMm = in.number("warmup-band");
    extras.keepRun = in.isSet("db");
    const QMap<QString, QString> logs = byteLogs(in);
    Jobs jobs;
    for (const QString &port : in.ports()) {
        auto job = std::make_unique<MeasureJob>(
            port, in.settings(), output, count, seconds, in.isSet("speed"), extras);
        job->recordBytes(logs.value(port));
        jobs.push_back(std::move(job));
    }
    return jobs;
}

Jobs analyze(const Invocation &in, Output *output)
{
    core::analysis::Options options;
    options.warmupBandMm = in.number("warmup-band");
    Jobs jobs;
    jobs.push_back(
        std::make_unique<AnalyzeJob>(in.operands().value(0), in.settings(), output, options));
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

core::plan::Plan readPlan(const Invocation &in)
{
    const QString path = in.operands().value(0);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw PlanError { QStringLiteral("%1: %2").arg(path, file.errorString()) };
    const core::plan::Parsed parsed = core::plan::parsePlan(file.readAll(), path);
    if (!parsed.plan)
        throw PlanError { parsed.error };
    return *parsed.plan;
}

Jobs test(const Invocation &in, Output *output)
{
    const core::plan::Plan plan = readPlan(in);
    const Settings &s = in.settings();
    io::plan::RunOptions options;
    options.station = in.text("station");
    options.operatorName = in.text("operator");
    options.lot = in.text("lot");
    if (in.isSet("check"))
        options.checkMode = s.checkMode;
    if (in.isSet("baud"))
        options.baud = s.baud;
    if (in.isSet("timeout"))
        options.timeoutMs = s.timeoutMs;
    if (in.isSet("address"))
        options.address = int(in.integer("address"));
    Jobs jobs;
    for (const QString &port : in.ports()) {
        options.port = port;
        if (in.isSet("record"))
            options.byteLog = testByteLog(in.text("record"), port);
        jobs.push_back(std::make_unique<TestJob>(plan, options, output));
    }
    return jobs;
}

Jobs storeCommand(const Invocation &in, Output *output)
{
    Jobs jobs;
    jobs.push_back(std::make_unique<StoreJob>(in, output));
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
    { "analyze", analyze },
    { "set", set },
    { "send", send },
    { "scan", scanPorts },
    { "test", test },
    { "history", storeCommand },
    { "report", storeCommand },
    { "import", storeCommand },
    { "sync", storeCommand },
};

} // namespace

void checkOperands(const Invocation &in)
{
    const QString name = in.name();
    if (name == QLatin1String("set")) {
        expectOperands(in, 2);
        setFrame(in);
    } else if (name == QLatin1String("test")) {
        expectOperands(in, 1);
        // The plan is read before anything else: its mistakes come first, with line and column.
        const core::plan::Plan plan = readPlan(in);
        const core::CheckMode mode
            = in.isSet("check") ? in.settings().checkMode : plan.link.checkMode;
        const auto range = core::protocol::addressRange(mode);
        if (in.isSet("address") && !range.contains(int(in.integer("address"))))
            throw UsageError { QStringLiteral("--address wants a whole number from %1 to %2 with "
                                              "--check %3, not \"%4\"")
                                   .arg(range.first)
                                   .arg(range.last)
                                   .arg(core::checkModeWord(mode), in.text("address")) };
        if (in.isSet("record") && !QFileInfo(in.text("record")).isDir())
            throw UsageError { QStringLiteral("--record wants a folder that exists, not \"%1\"")
                                   .arg(in.text("record")) };
    } else if (name == QLatin1String("analyze") || name == QLatin1String("history")
        || name == QLatin1String("import")) {
        expectOperands(in, 1);
    } else if (name == QLatin1String("send")) {
        const QString text = in.operands().join(QLatin1Char(' '));
        if (!core::frames::isStrictHexText(text))
            throw UsageError { QStringLiteral("send wants a frame as hex digits such as \"AA 80 "
                                              "00 06 86\", not \"%1\"")
                                   .arg(text) };
    } else {
        expectOperands(in, 0);
    }
    if (cmdline::find(optionTable(), QStringLiteral("db"), name))
        checkStoreOptions(in);
    if (name == QLatin1String("measure") && in.isSet("count") && in.isSet("seconds"))
        throw UsageError { QStringLiteral("measure takes --count or --seconds, not both") };
    if (in.isSet("force") && in.isSet("append"))
        throw UsageError { QStringLiteral("--force and --append do not go together") };
    if (name != QLatin1String("test")) {
        for (const QString &log : byteLogs(in))
            if (QFileInfo::exists(log) && !in.isSet("force"))
                throw UsageError { QStringLiteral("%1 exists; --force overwrites it").arg(log) };
    }
    if (name == QLatin1String("scan")) {
        if (core::scan::order(scanPlan(in)).isEmpty())
            throw UsageError { QStringLiteral("--addresses leaves no address to try") };
    }
}

int concludeTests(const Invocation &in, const Jobs &jobs)
{
    QList<core::plan::RunRecord> records;
    for (const auto &job : jobs)
        records << static_cast<const TestJob *>(job.get())->record();
    int status = core::plan::exitStatus(records);
    const auto failed = [&status](const QString &what, const QString &error) {
        std::fprintf(
            stderr, "tovandrix-cli: %s not stored: %s\n", qPrintable(what), qPrintable(error));
        // A unit that could not be tested says more than a record that could not be kept.
        if (status != 3)
            status = 4;
    };
    QString error;
    if (in.isSet("record")) {
        for (const auto &job : jobs) {
            const auto *test = static_cast<const TestJob *>(job.get());
            const core::plan::RunRecord &run = test->record();
            const QString path = exporting::plan::writeRecordFile(in.text("record"), run, &error);
            if (path.isEmpty())
                failed(QStringLiteral("the record of %1").arg(run.port), error);
            // The byte log takes the record's name; a port that never opened has none.
            const QString log = testByteLog(in.text("record"), run.port);
            const QString named = path.chopped(5) + QStringLiteral(".tvxr");
            if (!test->byteLogError().isEmpty())
                failed(QStringLiteral("the byte log of %1").arg(run.port), test->byteLogError());
            else if (!path.isEmpty() && QFile::exists(log) && !QFile::rename(log, named))
                failed(QStringLiteral("the byte log of %1").arg(run.port), named);
        }
    }
    if (in.isSet("junit") && !exporting::plan::writeJunitFile(in.text("junit"), records, &error))
        failed(QStringLiteral("the JUnit report"), error);
    // The units a station finished together are stored together: one flush to the disk.
    if (!storeRuns(in, records) && status != 3)
        status = 4;
    return status;
}

int concludeMeasure(const Invocation &in, const Jobs &jobs, int status)
{
    if (!in.isSet("db"))
        return status;
    QList<core::plan::RunRecord> runs;
    for (const auto &job : jobs)
        runs << static_cast<const MeasureJob *>(job.get())->run();
    return storeRuns(in, runs) ? status : qMax(status, int(kExitFailed));
}

Jobs makeJobs(const Invocation &in, Output *output)
{
    for (const Entry &e : kCommands)
        if (in.name() == QLatin1String(e.name))
            return e.run(in, output);
    return {};
}

} // namespace cli
