// tovandrix-cli's commands and options, each written once.
#include "cli/options.h"

#include "core/protocol.h"
#include "core/scan.h"

#include <QDate>

namespace cli {

namespace {

using cmdline::Check;
using cmdline::Option;
using cmdline::UsageError;

const QStringList kLinkCommands { "info", "measure", "set", "send" };

QStringList both(const QStringList &a, const QStringList &b)
{
    return a + b;
}

Check baudRate()
{
    QStringList rates;
    for (const int rate : core::protocol::kBaudRates)
        if (rate > 0)
            rates << QString::number(rate);
    return cmdline::oneOf(rates);
}

// An address must be one of the protocol's, so its range depends on --check; the table says both.
Check address()
{
    const auto aa = core::protocol::addressRange(core::CheckMode::Sum8);
    const auto mb = core::protocol::addressRange(core::CheckMode::Crc);
    return { QStringLiteral("%1-%2 with --check none, %3-%4 with --check crc")
                 .arg(aa.first)
                 .arg(aa.last)
                 .arg(mb.first)
                 .arg(mb.last),
        [](const QString &v) {
            bool ok = false;
            v.trimmed().toInt(&ok);
            return ok;
        } };
}

Check date()
{
    return { QStringLiteral("a date such as 2026-12-07"),
        [](const QString &v) { return QDate::fromString(v.trimmed(), Qt::ISODate).isValid(); } };
}

QString addressWants(core::CheckMode mode)
{
    const auto range = core::protocol::addressRange(mode);
    return QStringLiteral("a whole number from %1 to %2 with --check %3")
        .arg(range.first)
        .arg(range.last)
        .arg(core::checkModeWord(mode));
}

} // namespace

const QList<CommandInfo> &commandTable()
{
    static const QList<CommandInfo> table {
        { "ports", "", "serial ports and running virtual modules: PATH<TAB>DESCRIPTION", false },
        { "info", "", "every query of the module, one decoded line each" },
        { "measure",
            "[--count N | --seconds S] [--format text|csv|jsonl] [--output FILE] [--analyze] "
            "[--record FILE]",
            "--count: N single measurements; --seconds: a continuous run (0: until stopped; "
            "Modbus modules: single measurements for S s)" },
        { "analyze", "FILE [--format text|csv|jsonl]",
            "the figures of a run that measure wrote to FILE (.csv or .jsonl), per port: "
            "records, errors, mean, sigma, drift, warm-up, temperature coefficient, histogram "
            "and Allan deviation",
            false },
        { "set", "address NEW | baud RATE | offset MM | laser on|off",
            "changes a setting of the module" },
        { "send", "HEX [--record FILE]",
            "one raw frame (CRC appended with --check crc); prints the reply" },
        { "scan", "[--bauds LIST] [--checks none,crc] [--addresses RANGE] [--all]",
            "finds modules whose line speed, check and address are unknown: "
            "PORT<TAB>BAUD<TAB>CHECK<TAB>ADDRESS per module found" },
        { "test", "PLAN [--station ID] [--operator NAME] [--lot ID] [--record DIR] [--junit FILE]",
            "runs a test plan (a TOML file) on the unit at each --port, all at once: "
            "PORT<TAB>SERIAL<TAB>VERDICT<TAB>SECONDS per unit; exit status 0 every unit passed, "
            "1 a unit failed, 3 a unit could not be tested, 4 a record could not be stored" },
        { "history", "SERIAL [--format text|csv|jsonl]",
            "every run of one unit in the results store, newest first", false },
        { "report",
            "[--since DATE] [--until DATE] [--plan NAME] [--station ID] [--lot ID] "
            "[--format text|csv|jsonl]",
            "runs, units, first-pass and final yield, failures by step, and each measurement's "
            "n, mean, sigma, min, max, Cp and Cpk against its limits",
            false },
        { "import", "DIR",
            "stores the run records (--record JSON files) of folder DIR; a run stored before is "
            "left as it is",
            false },
        { "sync", "", "uploads the runs of this station that wait for the server --db names",
            false },
    };
    return table;
}

const QList<Option> &optionTable()
{
    const QStringList portCommands = both(kLinkCommands, { "scan", "test" });
    const QStringList planLink = both(kLinkCommands, { "test" });
    const QStringList measure { "measure" };
    const QStringList analyze { "analyze" };
    const QStringList recorded { "measure", "send" };
    const QStringList scan { "scan" };
    const QStringList test { "test" };
    const QMap<QString, QString> fromPlan { { "test", "the plan's" } };
    const QStringList stored { "test", "measure", "history", "report", "import", "sync" };
    const QStringList report { "report" };
    static const QList<Option> table {
        { "port", "PATH", "Serial port; repeat it for several modules at once.",
            cmdline::nonEmpty("a path such as /dev/ttyUSB0"), portCommands, {}, {}, {}, true },
        { "baud", "RATE", "Line speed.", baudRate(), planLink, "9600", fromPlan },
        { "check", "MODE", "none: 0xAA frames; crc: Modbus RTU.", cmdline::oneOf({ "none", "crc" }),
            planLink, "none", fromPlan },
        { "address", "N", "Module address.", address(), planLink, "0, with --check crc 1",
            fromPlan },
        { "lang", "LANG", "Language of decoded lines, mode texts and the figures' labels.",
            cmdline::oneOf({ "en", "zh" }), both(kLinkCommands, analyze), "en" },
        { "timeout", "MS", "Longest wait for a reply in ms; with scan, the module's answer time.",
            cmdline::wholeNumber(1, 3600000), portCommands, "1000",
            { { "scan", QString::number(core::scan::kAnswerMs) }, { "test", "the plan's" } } },
        { "count", "N", "N single measurements.", cmdline::wholeNumber(1, 100000000), measure,
            "1" },
        { "seconds", "S", "A continuous run of S seconds; 0: until stopped.",
            cmdline::decimal(0, 2e6), measure },
        { "speed", "SPEED", "Measurement speed (with --check crc the speed frame is sent first).",
            cmdline::oneOf({ "auto", "slow", "fast" }), measure, "auto" },
        { "format", "FORMAT", "Standard output's format (of the records and the figures).",
            cmdline::oneOf({ "text", "csv", "jsonl" }),
            both(both(measure, analyze), { "history", "report" }), "text" },
        { "analyze", "",
            "After the run, the figures of its records, as the analyze command gives them: on "
            "standard output with --format jsonl, else on standard error.",
            {}, measure },
        { "temperature-every", "S",
            "Read the module's temperature before measuring and every S seconds (a continuous "
            "0xAA run is stopped for the read and started again), for the temperature "
            "coefficient.",
            cmdline::decimal(1, 86400), measure },
        { "warmup-band", "MM",
            "Warm-up ends when the mean of every following minute stays this close to the mean "
            "of the last ten minutes.",
            cmdline::decimal(0.001, 1000000), both(measure, analyze), "0.5" },
        { "record", "FILE",
            "Write every byte sent and received, with its time in microseconds and its "
            "direction, to the byte log FILE (tovandrix-sim --replay plays it); several ports "
            "get one file each, named as for --output.",
            cmdline::nonEmpty("a file name"), recorded },
        { "format", "FORMAT", "Standard output's format.", cmdline::oneOf({ "text", "jsonl" }),
            both(scan, test), "text" },
        { "station", "ID", "The test station, for the run's record.", cmdline::nonEmpty("a name"),
            test },
        { "operator", "NAME", "Who runs the test, for the run's record.",
            cmdline::nonEmpty("a name"), test },
        { "lot", "ID", "The lot of the units, for the run's record.", cmdline::nonEmpty("a name"),
            test },
        { "record", "DIR",
            "Write each run's JSON record into folder DIR, and beside it the byte log of the "
            "run (the same name ending in .tvxr).",
            cmdline::nonEmpty("a folder"), test },
        { "junit", "FILE", "Write a JUnit XML report of the runs to FILE.",
            cmdline::nonEmpty("a file name"), test },
        { "db", "WHERE",
            "The results store: a SQLite file, PATH or sqlite:PATH, or a line's PostgreSQL "
            "server, postgresql://USER@HOST[:PORT]/DB[?sslmode=MODE], to which the runs go after "
            "the station's own file. Never a password: PGPASSWORD, ~/.pgpass or "
            "--db-password-file.",
            cmdline::nonEmpty("a file or a postgresql:// address"), stored,
            "$XDG_DATA_HOME/tovandrix/results.sqlite", { { "measure", "none: nothing stored" } } },
        { "db-password-file", "FILE", "The server's password: the first line of FILE.",
            cmdline::nonEmpty("a file name"), stored },
        { "since", "DATE", "Runs that started on DATE (local time) or later.", date(), report },
        { "until", "DATE", "Runs that started on DATE (local time) or earlier.", date(), report },
        { "plan", "NAME", "Runs of the plan NAME.", cmdline::nonEmpty("a name"), report },
        { "station", "ID", "Runs of station ID.", cmdline::nonEmpty("a name"), report },
        { "lot", "ID", "Runs of lot ID.", cmdline::nonEmpty("a name"), report },
        { "output", "FILE",
            "Also write the records to FILE: .csv, .jsonl, .txt (the window's text file) or .xlsx "
            "(the window's workbook).",
            cmdline::nonEmpty("a file name"), measure },
        { "force", "", "Overwrite an output file or a byte log that exists.", {}, recorded },
        { "append", "",
            "Continue a .csv or .jsonl output file that exists, without a second "
            "header.",
            {}, measure },
        { "bauds", "LIST", "The speeds to try, in order.",
            { QStringLiteral("speeds such as 9600,115200"),
                [](const QString &v) { return core::scan::parseBauds(v).has_value(); } },
            scan, "every one, common first" },
        { "checks", "LIST", "The check modes to try, in order.",
            { QStringLiteral("none, crc or none,crc"),
                [](const QString &v) { return core::scan::parseChecks(v).has_value(); } },
            scan, "none,crc" },
        { "addresses", "RANGE", "The addresses to try.",
            { QStringLiteral("N or FIRST-LAST within 0-255"),
                [](const QString &v) { return core::scan::parseAddresses(v).has_value(); } },
            scan, "every address of each check mode" },
        { "all", "", "Every module, not just the first found.", {}, scan },
    };
    return table;
}

Invocation::Invocation(const QStringList &arguments)
    : m_args(cmdline::parse(optionTable(), arguments))
{
    if (m_args.positional.isEmpty()) {
        if (m_args.help || m_args.version)
            return;
        throw UsageError { QStringLiteral("no command given") };
    }
    const QString name = m_args.positional.first();
    for (const CommandInfo &c : commandTable())
        if (c.name == name)
            m_command = &c;
    if (!m_command)
        throw UsageError { QStringLiteral("unknown command \"%1\"").arg(name) };
    m_operands = m_args.positional.mid(1);
    if (m_args.help)
        return;
    if (name == QLatin1String("scan")) {
        // The scan's own options are the plurals of the link's.
        for (const char *single : { "baud", "check", "address" }) {
            const QString option = QLatin1String(single);
            if (m_args.isSet(option))
                throw UsageError { QStringLiteral("scan tries every --%1; narrow it with --%2")
                                       .arg(option,
                                           option == QLatin1String("address") ? "addresses"
                                                                              : option + "s") };
        }
    }
    cmdline::validate(optionTable(), name, m_args);
    m_ports = m_args.values(QStringLiteral("port"));
    if (m_command->needsPort && m_ports.isEmpty())
        throw UsageError { QStringLiteral("%1 needs --port PATH").arg(name) };
    if (m_ports.removeDuplicates() > 0)
        throw UsageError { QStringLiteral("a port is named twice") };
    readSettings();
}

QString Invocation::text(const QString &option) const
{
    if (m_args.isSet(option))
        return m_args.value(option);
    const cmdline::Option *o = cmdline::find(optionTable(), option, name());
    return o ? o->defaultFor(name()) : QString();
}

void Invocation::readSettings()
{
    Settings &s = m_settings;
    s.checkMode = core::checkModeFromWord(text("check")).value_or(core::CheckMode::Sum8);
    s.baud = int(integer("baud"));
    const auto range = core::protocol::addressRange(s.checkMode);
    s.address = range.factory;
    // A plan's own check mode decides the range there; the test command checks it.
    if (isSet("address") && name() != QLatin1String("test")) {
        bool ok = false;
        s.address = text("address").trimmed().toInt(&ok);
        if (!ok || !range.contains(s.address))
            throw UsageError { QStringLiteral("--address wants %1, not \"%2\"")
                                   .arg(addressWants(s.checkMode), text("address")) };
    }
    s.language = core::languageFromWord(text("lang")).value_or(core::Language::English);
    s.timeoutMs = int(integer("timeout"));
    s.measureMode = int(QStringList({ "auto", "slow", "fast" }).indexOf(text("speed")));
    if (s.measureMode < 0)
        s.measureMode = 0;
}

QString helpText(const QString &command)
{
    const QString program = QStringLiteral("tovandrix-cli");
    for (const CommandInfo &c : commandTable()) {
        if (c.name != command)
            continue;
        return QStringLiteral("Usage: %1 %2 %3\n\n%4\nOptions:\n%5")
            .arg(program, c.name, c.synopsis, cmdline::wrapped(c.summary + QLatin1Char('.'), 0),
                cmdline::optionsHelp(optionTable(), c.name));
    }
    QString commands;
    for (const CommandInfo &c : commandTable())
        commands += QStringLiteral("  %1 %2\n").arg(c.name, c.synopsis).trimmed().prepend("  ")
            + QLatin1Char('\n') + cmdline::wrapped(c.summary, 6);
    return QStringLiteral(
        "Usage: %1 COMMAND [ARGS] [OPTIONS]\n\n"
        "Drives a laser distance module over a serial port, for production lines and "
        "scripts.\nData goes to standard output, progress and errors to standard error.\n\n"
        "Commands ('%1 COMMAND --help' shows one with its options):\n%2\n"
        "Exit status: 0 done; 1 no reply, an error reply, a port or file failure; 2 a "
        "usage error;\n130 cut short by a signal or a closed output (an open-ended run, "
        "--seconds 0, ends with 0).\n\nOptions:\n%3")
        .arg(program, commands, cmdline::optionsHelp(optionTable()));
}

} // namespace cli
