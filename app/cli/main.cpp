// tovandrix-cli: the module from the command line, over the same core and serial worker as the
// window.
#include "cli/interrupt.h"
#include "cli/jobs.h"
#include "cli/output.h"
#include "cli/scanjob.h"

#include "core/commands.h"
#include "core/frames.h"
#include "io/portdiscovery.h"
#include "io/wakeups.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

// The build names the version; a bare compile (the Windows syntax check) gets a stand-in.
#ifndef TOVANDRIX_VERSION
#define TOVANDRIX_VERSION "0"
#endif

namespace {

using commands::Command;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr char kName[] = "tovandrix-cli";
// A negative number ("set offset -5") is not an option; it is kept out of the parser's way.
constexpr char kNegative[] = "\x1fneg";

const char kDescription[]
    = R"(Drives a laser distance module over a serial port, for production lines and scripts.

Commands:
  ports                    serial ports and running virtual modules: PATH<TAB>DESCRIPTION
  info                     every query of the module, one decoded line each
  measure [--count N | --seconds S] [--speed auto|slow|fast]
          [--format text|csv|jsonl] [--output FILE]
                           --count: N single measurements (default 1); --seconds: a continuous
                           run, 0 until Ctrl+C (Modbus modules: single measurements for S s)
  set address NEW | baud RATE | offset MM | laser on|off
  send HEX                 one raw frame (CRC appended with --check crc); prints the reply
  scan [--bauds LIST] [--checks none,crc] [--addresses RANGE] [--all]
                           finds a module whose line speed, check and address are unknown:
                           PORT BAUD CHECK ADDRESS per module found (--all: every one)

Data goes to standard output, progress and errors to standard error.
Exit status: 0 success; 1 no reply, an error reply or a port failure; 2 usage error.)";

struct UsageError
{
    QString text;
};

/** Everything a command needs from the command line. */
struct Invocation
{
    QCommandLineParser &parser;
    QStringList args; ///< the command's own arguments
    QStringList ports;
    cli::Settings settings;
    cli::Output *output = nullptr;
};

using Jobs = std::vector<std::unique_ptr<cli::PortJob>>;

int integer(const QString &text, const QString &what, int low, int high)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        throw UsageError { QStringLiteral("%1 wants a whole number from %2 to %3, not \"%4\"")
                               .arg(what)
                               .arg(low)
                               .arg(high)
                               .arg(text) };
    return v;
}

int choice(const QString &text, const QString &what, const QStringList &names)
{
    const qsizetype i = names.indexOf(text);
    if (i < 0)
        throw UsageError {
            QStringLiteral("%1 wants %2, not \"%3\"").arg(what, names.join(QLatin1Char('|')), text)
        };
    return int(i);
}

int baudCode(const QString &text, const QString &what)
{
    for (int code = 1; code < commands::kBaudRateCount; ++code)
        if (text == QString::number(commands::kBaudRates[code]))
            return code;
    QStringList rates;
    for (int code = 1; code < commands::kBaudRateCount; ++code)
        rates << QString::number(commands::kBaudRates[code]);
    throw UsageError { QStringLiteral("%1 wants one of %2, not \"%3\"")
                           .arg(what, rates.join(QLatin1Char(',')), text) };
}

void expectArgs(const Invocation &in, int count, const char *usage)
{
    if (in.args.size() != count)
        throw UsageError { QStringLiteral("usage: %1 %2").arg(QLatin1String(kName), usage) };
}

void refuseMeasureOptions(const Invocation &in, const QString &command)
{
    for (const char *name : { "count", "seconds", "speed", "format", "output" })
        if (in.parser.isSet(QLatin1String(name)))
            throw UsageError {
                QStringLiteral("--%1 belongs to measure, not %2").arg(QLatin1String(name), command)
            };
}

QString frame(const cli::Settings &s, Command command, const commands::Inputs &in)
{
    const commands::Built built = commands::build(command, s.checkMode, in);
    if (!built.text)
        throw UsageError { QStringLiteral("this command has no frame with --check %1")
                               .arg(QLatin1String(s.checkMode == 0 ? "none" : "crc")) };
    return *built.text;
}

Jobs queryJobs(
    const Invocation &in, const QList<cli::QueryJob::Query> &queries, const QString &baudText = {})
{
    Jobs jobs;
    for (const QString &port : in.ports)
        jobs.push_back(
            std::make_unique<cli::QueryJob>(port, in.settings, in.output, queries, baudText));
    return jobs;
}

Jobs info(const Invocation &in)
{
    expectArgs(in, 0, "info");
    const cli::Settings &s = in.settings;
    const commands::Inputs inputs = s.inputs();
    QList<cli::QueryJob::Query> queries;
    const Command order[] = { Command::ReadHardwareVersion, Command::ReadSoftwareVersion,
        Command::ReadSerialNumber, Command::ReadAddress, Command::ReadOffset, Command::ReadVoltage,
        Command::ReadTemperature, s.checkMode == 0 ? Command::ReadStatus : Command::ReadAngle };
    for (Command command : order)
        queries.append({ frame(s, command, inputs),
            s.checkMode == 0 && command == Command::ReadAddress, false });
    return queryJobs(in, queries);
}

Jobs set(const Invocation &in)
{
    expectArgs(in, 2, "set address NEW | baud RATE | offset MM | laser on|off");
    const cli::Settings &s = in.settings;
    commands::Inputs inputs = s.inputs();
    const QString what = in.args[0];
    const QString value = in.args[1];
    Command command = Command::SetAddress;
    QString baudText;
    switch (choice(what, QStringLiteral("set"),
        { QStringLiteral("address"), QStringLiteral("baud"), QStringLiteral("offset"),
            QStringLiteral("laser") })) {
    case 0:
        inputs.newAddress
            = integer(value, QStringLiteral("set address"), 0, s.checkMode == 0 ? 127 : 255);
        break;
    case 1:
        command = Command::SetBaudRate;
        inputs.baudCode = baudCode(value, QStringLiteral("set baud"));
        baudText = value;
        break;
    case 2:
        command = Command::SetOffset;
        inputs.offset = integer(
            value, QStringLiteral("set offset"), commands::kOffsetMin, commands::kOffsetMax);
        break;
    default:
        command = choice(value, QStringLiteral("set laser"),
                      { QStringLiteral("on"), QStringLiteral("off") })
                == 0
            ? Command::LaserOn
            : Command::LaserOff;
    }
    return queryJobs(in, { { frame(s, command, inputs), false, false } }, baudText);
}

Jobs send(const Invocation &in)
{
    const QString text = in.args.join(QLatin1Char(' '));
    if (!frames::isStrictHexText(text))
        throw UsageError { QStringLiteral("send wants a frame as hex digits such as \"AA 80 00 "
                                          "06 86\", not \"%1\"")
                               .arg(text) };
    return queryJobs(in, { { text, false, true } });
}

Jobs ports(const Invocation &in)
{
    expectArgs(in, 0, "ports");
    const QList<ports::PortEntry> entries = ports::availablePorts();
    for (const ports::PortEntry &entry : entries)
        std::printf("%s\t%s\n", qPrintable(entry.path), qPrintable(entry.description));
    return {};
}

/** @brief --count N, or 0 for a run of --seconds; checks the measure options. */
std::pair<int, double> measureCount(const Invocation &in)
{
    const QCommandLineParser &parser = in.parser;
    expectArgs(in, 0,
        "measure [--count N | --seconds S] [--speed auto|slow|fast] [--format text|csv|jsonl] "
        "[--output FILE]");
    if (parser.isSet("count") && parser.isSet("seconds"))
        throw UsageError { QStringLiteral("measure takes --count or --seconds, not both") };
    if (parser.isSet("seconds")) {
        bool ok = false;
        const double seconds = parser.value("seconds").toDouble(&ok);
        // A run's deadline is one timer, which counts up to 24 days in ms.
        if (!ok || seconds < 0 || seconds > 2e6)
            throw UsageError { QStringLiteral("--seconds wants a number of seconds, not \"%1\"")
                                   .arg(parser.value("seconds")) };
        return { 0, seconds };
    }
    if (parser.isSet("count"))
        return { integer(parser.value("count"), QStringLiteral("--count"), 1, 100000000), 0 };
    return { 1, 0 };
}

Jobs measure(const Invocation &in)
{
    const auto [count, seconds] = measureCount(in);
    Jobs jobs;
    for (const QString &port : in.ports)
        jobs.push_back(std::make_unique<cli::MeasureJob>(
            port, in.settings, in.output, count, seconds, in.parser.isSet("speed")));
    return jobs;
}

Jobs scanPorts(const Invocation &in)
{
    expectArgs(in, 0, "scan [--bauds LIST] [--checks none,crc] [--addresses RANGE] [--all]");
    const QCommandLineParser &parser = in.parser;
    for (const char *name : { "baud", "check", "address" })
        if (parser.isSet(QLatin1String(name)))
            throw UsageError { QStringLiteral("scan tries every --%1; narrow it with --%1%2")
                                   .arg(QLatin1String(name),
                                       QLatin1String(qstrcmp(name, "address") ? "s" : "es")) };
    scan::Plan plan;
    if (parser.isSet("bauds")) {
        const auto bauds = scan::parseBauds(parser.value("bauds"));
        if (!bauds)
            throw UsageError { QStringLiteral("--bauds wants speeds such as 9600,115200, not "
                                              "\"%1\"")
                                   .arg(parser.value("bauds")) };
        plan.bauds = *bauds;
    }
    if (parser.isSet("checks")) {
        const auto checks = scan::parseChecks(parser.value("checks"));
        if (!checks)
            throw UsageError { QStringLiteral("--checks wants none, crc or none,crc, not \"%1\"")
                                   .arg(parser.value("checks")) };
        plan.checkModes = *checks;
    }
    if (parser.isSet("addresses")) {
        plan.addresses = scan::parseAddresses(parser.value("addresses"));
        if (!plan.addresses)
            throw UsageError { QStringLiteral("--addresses wants N or FIRST-LAST within 0-255, "
                                              "not \"%1\"")
                                   .arg(parser.value("addresses")) };
    }
    const QList<scan::Target> targets = scan::order(plan);
    if (targets.isEmpty())
        throw UsageError { QStringLiteral("--addresses leaves no address to try") };
    // --timeout is the module's answer time here: each probe waits for its frames and that.
    const int answerMs = parser.isSet("timeout") ? in.settings.timeoutMs : scan::kAnswerMs;
    Jobs jobs;
    for (const QString &port : in.ports)
        jobs.push_back(std::make_unique<cli::ScanJob>(
            port, in.settings, in.output, targets, parser.isSet("all"), answerMs));
    return jobs;
}

/** The command table: a new command is one more function and one more row. */
struct CommandEntry
{
    const char *name;
    bool needsPort;
    bool measures;
    std::function<Jobs(const Invocation &)> run;
};

int run(QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        { "port", "Serial port (repeat for several modules at once).", "PATH" },
        { "baud", "Line speed (default 9600).", "RATE" },
        { "check", "none: 0xAA frames; crc: Modbus RTU (default none).", "none|crc" },
        { "address", "Module address (default 0, with --check crc 1).", "N" },
        { "lang", "Language of decoded lines and mode texts (default en).", "en|zh" },
        { "timeout", "Longest wait for a reply in ms (default 1000).", "MS" },
        { "count", "measure: N single measurements.", "N" },
        { "seconds", "measure: a continuous run of S seconds (0: until Ctrl+C).", "S" },
        { "speed", "measure: auto, slow or fast (default auto).", "SPEED" },
        { "format", "measure: text, csv or jsonl (default text).", "FORMAT" },
        { "output", "measure: also write the records to FILE (.csv, .txt or .xlsx).", "FILE" },
        { "bauds", "scan: the speeds to try, in order (default all, common first).", "LIST" },
        { "checks", "scan: none, crc or both (default none,crc).", "LIST" },
        { "addresses", "scan: N or FIRST-LAST (default every address).", "RANGE" },
        { "all", "scan: every module, not just the first found." },
    });
    parser.addPositionalArgument("command", "ports, info, measure, set, send or scan.");

    QStringList argv = app.arguments();
    static const QRegularExpression negative(QStringLiteral("^-[0-9]+$"));
    for (QString &a : argv)
        if (negative.match(a).hasMatch())
            a = QLatin1String(kNegative) + a.mid(1);
    if (!parser.parse(argv))
        throw UsageError { parser.errorText() };
    if (parser.isSet("help") || parser.isSet("help-all"))
        parser.showHelp(0);
    if (parser.isSet("version"))
        parser.showVersion();

    QStringList positional = parser.positionalArguments();
    for (QString &a : positional)
        if (a.startsWith(QLatin1String(kNegative)))
            a = QLatin1Char('-') + a.mid(int(qstrlen(kNegative)));
    if (positional.isEmpty())
        throw UsageError { QStringLiteral("no command given") };

    static const std::vector<CommandEntry> table = {
        { "ports", false, false, ports },
        { "info", true, false, info },
        { "measure", true, true, measure },
        { "set", true, false, set },
        { "send", true, false, send },
        { "scan", true, false, scanPorts },
    };
    const QString name = positional.takeFirst();
    const auto entry = std::find_if(table.begin(), table.end(),
        [&](const CommandEntry &e) { return name == QLatin1String(e.name); });
    if (entry == table.end())
        throw UsageError { QStringLiteral("unknown command \"%1\"").arg(name) };

    Invocation in { parser, positional, parser.values("port"), {} };
    cli::Settings &s = in.settings;
    s.checkMode
        = choice(parser.value("check").isEmpty() ? QStringLiteral("none") : parser.value("check"),
            QStringLiteral("--check"), { QStringLiteral("none"), QStringLiteral("crc") });
    s.baud = commands::kBaudRates[baudCode(
        parser.isSet("baud") ? parser.value("baud") : QStringLiteral("9600"),
        QStringLiteral("--baud"))];
    s.address = parser.isSet("address") ? integer(parser.value("address"),
                    QStringLiteral("--address"), 0, s.checkMode == 0 ? 127 : 255)
                                        : (s.checkMode == 0 ? 0 : 1);
    s.language = parser.isSet("lang") ? choice(parser.value("lang"), QStringLiteral("--lang"),
                     { QStringLiteral("zh"), QStringLiteral("en") })
                                      : 1;
    s.timeoutMs = parser.isSet("timeout")
        ? integer(parser.value("timeout"), QStringLiteral("--timeout"), 1, 3600000)
        : 1000;
    if (parser.isSet("speed"))
        s.measureMode = choice(parser.value("speed"), QStringLiteral("--speed"),
            { QStringLiteral("auto"), QStringLiteral("slow"), QStringLiteral("fast") });
    if (!entry->measures)
        refuseMeasureOptions(in, name);
    if (name != QLatin1String("scan"))
        for (const char *option : { "bauds", "checks", "addresses", "all" })
            if (parser.isSet(QLatin1String(option)))
                throw UsageError {
                    QStringLiteral("--%1 belongs to scan, not %2").arg(QLatin1String(option), name)
                };
    if (entry->needsPort && in.ports.isEmpty())
        throw UsageError { QStringLiteral("%1 needs --port PATH").arg(name) };
    if (!entry->needsPort && !in.ports.isEmpty())
        throw UsageError { QStringLiteral("%1 takes no --port").arg(name) };
    if (in.ports.removeDuplicates() > 0)
        throw UsageError { QStringLiteral("a port is named twice") };

    cli::Format format = cli::Format::Text;
    if (parser.isSet("format"))
        format = cli::Format(choice(parser.value("format"), QStringLiteral("--format"),
            { QStringLiteral("text"), QStringLiteral("csv"), QStringLiteral("jsonl") }));
    if (parser.isSet("output"))
        choice(QFileInfo(parser.value("output")).suffix(), QStringLiteral("--output"),
            { QStringLiteral("csv"), QStringLiteral("txt"), QStringLiteral("xlsx") });
    // Checked before anything is written: a usage error leaves standard output empty.
    if (entry->measures)
        measureCount(in);
    auto output = std::make_unique<cli::Output>(format, in.ports, s.language);
    in.output = output.get();
    QString error;
    if (parser.isSet("output") && !output->openFile(parser.value("output"), &error)) {
        std::fprintf(stderr, "%s: %s\n", kName, qPrintable(error));
        return kExitFailed;
    }
    Jobs jobs = entry->run(in);
    if (jobs.empty())
        return 0;

    int running = int(jobs.size());
    for (auto &job : jobs) {
        QObject::connect(job.get(), &cli::PortJob::finished, &app, [&running] {
            if (--running == 0)
                QCoreApplication::exit(0);
        });
    }
    cli::onInterrupt([&jobs] {
        for (auto &job : jobs)
            if (!job->isFinished())
                job->interrupt();
    });
    for (auto &job : jobs)
        job->start();
    if (running > 0)
        app.exec();

    int status = 0;
    for (const auto &job : jobs)
        status = qMax(status, job->exitCode());
    if (!output->close(&error)) {
        std::fprintf(stderr, "%s: %s\n", kName, qPrintable(error));
        status = kExitFailed;
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // First, so every thread started afterwards inherits it.
    io::preferPromptWakeUps();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kName));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOVANDRIX_VERSION));
    try {
        return run(app);
    } catch (const UsageError &e) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kName, qPrintable(e.text), kName);
        return kExitUsage;
    }
}
