// tovandrix-sim: a virtual laser module on a pseudo-terminal, served until interrupted.
#include "core/frames.h"
#include "io/portdiscovery.h"
#include "sim/publish.h"
#include "sim/simserver.h"

#include "cmdline/options.h"
#include "cmdline/signals.h"
#include "core/protocol.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <functional>

namespace {

constexpr char kName[] = "tovandrix-sim";
constexpr int kFar = 1000000000;

using cmdline::Option;

const char kDescription[]
    = "Runs a virtual laser module on a pseudo-terminal. It answers the 0xAA protocol and "
      "Modbus RTU like a module on a serial line, prints the terminal's path and, on Linux, "
      "publishes a link that Tovandrix lists as \"Virtual laser module\". Stop it with "
      "Ctrl+C; it then prints how many requests it received and replies it sent. Error codes in "
      "EE replies: 0001 unknown register, 0002 bad value, 0003 target out of range, 0004 weak "
      "signal (the default of --error-code).";

cmdline::Check list(const QString &wants, const std::function<bool(const QStringList &)> &ok)
{
    return { wants, [ok](const QString &v) { return ok(v.split(QLatin1Char(','))); } };
}

bool allNumbers(const QStringList &parts, int count, int low, int high)
{
    bool good = parts.size() == count;
    for (const QString &p : parts)
        good = good && cmdline::wholeNumber(low, high).accepts(p);
    return good;
}

const QList<Option> &options()
{
    using cmdline::decimal;
    using cmdline::hexNumber;
    using cmdline::oneOf;
    using cmdline::wholeNumber;
    const auto aa = core::protocol::addressRange(core::CheckMode::Sum8);
    const auto mb = core::protocol::addressRange(core::CheckMode::Crc);
    QStringList bauds;
    for (const int rate : core::protocol::kBaudRates)
        if (rate > 0)
            bauds << QString::number(rate);
    static const QList<Option> table {
        { "address", "n", "0xAA-protocol address.", wholeNumber(aa.first, aa.last), {}, "0", {},
            'a' },
        { "modbus-address", "n", "Modbus address.", wholeNumber(mb.first, mb.last), {}, "1", {},
            'm' },
        { "baud", "rate",
            "Line speed the module starts at; a set-baud-rate command changes it after its reply.",
            oneOf(bauds), {}, "9600", {}, 'b' },
        { "no-pacing", "", "Send replies at once instead of 10 bit times per byte." },
        { "strict-speed", "",
            "Answer only a port opened at the module's line speed: at another speed both sides "
            "get the bytes a UART sampling at the wrong rate would (usually garbage or nothing)." },
        { "extra-address", "n",
            "Another module on the same line, like this one but at this 0xAA address and the same "
            "Modbus address; may be given more than once.",
            wholeNumber(qMax(aa.first, mb.first), qMin(aa.last, mb.last)), {}, {}, {}, {}, true },
        { "mode", "mode", "Speed mode at start.", oneOf({ "auto", "slow", "fast" }), {}, "auto" },
        { "latency", "a,s,f", "Measuring time in ms of the speed modes auto, slow and fast.",
            list(QStringLiteral("three times in ms such as 80,200,20"),
                [](const QStringList &p) { return allNumbers(p, 3, 0, 60000); }),
            {}, "80,200,20" },
        { "query-latency", "ms", "Time before a query or setting is answered.",
            wholeNumber(0, 60000), {}, "2" },
        { "rate", "n|max",
            "Continuous measurement results per second, or \"max\" for as fast as the wire allows.",
            { QStringLiteral("results per second or \"max\""),
                [](const QString &v) {
                    return v == QLatin1String("max") || decimal(0.001, 100000).accepts(v);
                } },
            {}, "one result per measuring time of the speed mode" },
        { "model", "model",
            "Distance model: constant (the distance), ramp (from the distance to --ramp-to in "
            "steps of --ramp-step, then again) or noisy (the distance +- --noise).",
            oneOf({ "constant", "ramp", "noisy" }), {}, "constant" },
        { "distance", "mm", "Distance: the constant, the ramp start, the noise centre.",
            wholeNumber(-kFar, kFar), {}, "1234" },
        { "ramp-to", "mm", "Ramp end.", wholeNumber(-kFar, kFar), {}, "5000" },
        { "ramp-step", "mm", "Ramp step per measurement, may be negative.",
            wholeNumber(-kFar, kFar), {}, "10" },
        { "noise", "mm", "Noise amplitude.", wholeNumber(0, kFar), {}, "5" },
        { "noise-kind", "kind",
            "Noise of the noisy model: uniform (within +- --noise) or gaussian (sigma --noise), "
            "from --seed.",
            oneOf({ "uniform", "gaussian" }), {}, "uniform" },
        { "range", "min:max",
            "Measuring range in mm; a target outside it answers with an error reply (EE frame, or "
            "Modbus exception 04).",
            { QStringLiteral("min:max in mm such as 30:40000"),
                [](const QString &v) {
                    const QStringList p = v.split(QLatin1Char(':'));
                    return allNumbers(p, 2, -kFar, kFar) && p[0].toInt() <= p[1].toInt();
                } },
            {}, "30:40000" },
        { "offset", "mm", "Measurement offset at start.", wholeNumber(-32768, 32767), {}, "0" },
        { "signal", "n", "Signal value of every result.", wholeNumber(-32768, 32767), {}, "110" },
        { "temperature", "C", "Temperature in degrees Celsius, tenths kept.",
            decimal(-3276.8, 3276.7), {}, "26.7" },
        { "voltage", "mV", "Supply voltage.", wholeNumber(0, 9999), {}, "3300" },
        { "angle", "deg", "Tilt angle in degrees, tenths kept.", decimal(-360, 360), {}, "1.2" },
        { "status", "hex", "Status word.", hexNumber(0xFFFF), {}, "0000" },
        { "hardware", "hex", "Hardware version.", hexNumber(0xFFFF), {}, "0102" },
        { "software", "hex", "Software version.", hexNumber(0xFFFF), {}, "0215" },
        { "serial", "hex", "Serial number, 32 bits.", hexNumber(0xFFFFFFFF), {}, "20240417" },
        { "seed", "n", "Seed of the noisy model and the noise bytes.", wholeNumber(0, 0x7FFFFFFF),
            {}, "1" },
        { "chunk", "ms",
            "Deliver bytes in chunks every <ms>, as a USB adapter's latency timer does (0: as they "
            "leave the wire).",
            wholeNumber(0, 1000), {}, "0" },
        { "corrupt-every", "n", "Fault: flip the last byte of every Nth reply (bad sum or CRC).",
            wholeNumber(0, kFar) },
        { "drop-every", "n", "Fault: lose the middle byte of every Nth reply.",
            wholeNumber(0, kFar) },
        { "noise-every", "n", "Fault: send noise bytes before every Nth reply.",
            wholeNumber(0, kFar) },
        { "noise-bytes", "n", "Number of noise bytes per burst.", wholeNumber(1, 1000), {}, "3" },
        { "noise-gap", "ms",
            "Silence between a noise burst and its reply (under 5 the burst merges with the "
            "reply).",
            wholeNumber(0, 10000), {}, "10" },
        { "error-every", "n", "Fault: every Nth measurement answers with an error reply.",
            wholeNumber(0, kFar) },
        { "error-code", "hex", "Error code of those replies.", hexNumber(0xFFFF), {}, "0004" },
        { "disconnect-after", "n", "Fault: drop the line after N replies and exit.",
            wholeNumber(0, kFar) },
        { "replay", "file",
            "Play the module recorded in this byte log instead: each request that matches the "
            "next recorded one gets the recorded reply bytes at the recorded delays, and recorded "
            "bytes that came unasked (a continuous run's stream) come at their recorded times, "
            "paced at the recording's line speed. A request that does not match gets no answer "
            "(counted in the summary). Module and fault options do not apply.",
            cmdline::nonEmpty("a byte log file") },
        { "no-publish", "", "Do not publish a link for the port list." },
        { "verbose", "", "Print every request received and every reply sent.", {}, {}, {}, {},
            'v' },
    };
    return table;
}

/** The options' values once judged, with the table's defaults for those not given. */
struct Values
{
    const cmdline::Args &args;

    QString text(const QString &name) const
    {
        return args.isSet(name) ? args.value(name) : cmdline::find(options(), name)->defaultText;
    }
    int integer(const QString &name) const { return text(name).trimmed().toInt(); }
    int tenths(const QString &name) const { return int(qRound(text(name).toDouble() * 10)); }
    quint32 hex(const QString &name) const { return text(name).trimmed().toUInt(nullptr, 16); }
    bool flag(const QString &name) const { return args.isSet(name); }
};

void readOptions(const cmdline::Args &args, sim::ServerOptions *o)
{
    if (!args.positional.isEmpty())
        throw cmdline::UsageError {
            QStringLiteral("unexpected argument \"%1\"").arg(args.positional.first())
        };
    cmdline::validate(options(), QString(), args);
    const Values v { args };
    sim::ModuleSettings &m = o->module;
    m.address = v.integer("address");
    m.modbusAddress = v.integer("modbus-address");
    m.baudCode = core::protocol::baudCode(v.integer("baud")).value_or(3);
    o->pacing = !v.flag("no-pacing");
    o->strictSpeed = v.flag("strict-speed");
    m.speedMode = sim::SpeedMode(QStringList({ "auto", "slow", "fast" }).indexOf(v.text("mode")));
    const QStringList latency = v.text("latency").split(QLatin1Char(','));
    for (int i = 0; i < 3; ++i)
        m.measuringTimeMs[size_t(i)] = latency[i].toInt();
    m.queryLatencyMs = v.integer("query-latency");
    if (args.isSet("rate"))
        m.continuousRate
            = v.text("rate") == QLatin1String("max") ? sim::kWireSpeed : v.text("rate").toDouble();
    m.model
        = sim::DistanceModel(QStringList({ "constant", "ramp", "noisy" }).indexOf(v.text("model")));
    m.distanceMm = v.integer("distance");
    m.rampToMm = v.integer("ramp-to");
    m.rampStepMm = v.integer("ramp-step");
    m.noiseMm = v.integer("noise");
    m.noiseKind = v.text("noise-kind") == QLatin1String("gaussian") ? sim::NoiseKind::Gaussian
                                                                    : sim::NoiseKind::Uniform;
    const QStringList range = v.text("range").split(QLatin1Char(':'));
    m.minRangeMm = range[0].toInt();
    m.maxRangeMm = range[1].toInt();
    m.offsetMm = v.integer("offset");
    m.signal = v.integer("signal");
    m.temperatureTenths = v.tenths("temperature");
    m.voltageMv = v.integer("voltage");
    m.angleTenths = v.tenths("angle");
    m.status = quint16(v.hex("status"));
    m.hardwareVersion = quint16(v.hex("hardware"));
    m.softwareVersion = quint16(v.hex("software"));
    m.serialNumber = v.hex("serial");
    m.seed = quint32(v.integer("seed"));
    o->seed = m.seed;
    o->chunkMs = v.integer("chunk");
    o->corruptEvery = v.integer("corrupt-every");
    o->dropEvery = v.integer("drop-every");
    o->noiseEvery = v.integer("noise-every");
    o->noiseBytes = v.integer("noise-bytes");
    o->noiseGapMs = v.integer("noise-gap");
    m.errorEvery = v.integer("error-every");
    m.errorCode = quint16(v.hex("error-code"));
    o->disconnectAfter = v.integer("disconnect-after");
    for (const QString &value : args.values("extra-address")) {
        sim::ModuleSettings more = m;
        more.address = value.toInt();
        more.modbusAddress = value.toInt();
        o->moreModules.append(more);
    }
    o->publish = !v.flag("no-publish");
    if (args.isSet("replay")) {
        QFile file(v.text("replay"));
        if (!file.open(QIODevice::ReadOnly))
            throw cmdline::UsageError {
                QStringLiteral("--replay: %1: %2").arg(file.fileName(), file.errorString())
            };
        o->replay = core::replay::decode(file.readAll());
        if (o->replay->used == 0)
            throw cmdline::UsageError {
                QStringLiteral("--replay: %1: %2").arg(file.fileName(), o->replay->error)
            };
    }
}

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", qPrintable(line));
    // scripts/run waits for these lines in a file, so they must not sit in a buffer.
    std::fflush(stdout);
}

QString counted(quint64 n, const char *one, const char *many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(kName);

    sim::ServerOptions options;
    bool verbose = false;
    try {
        const cmdline::Args args = cmdline::parse(::options(), app.arguments().mid(1));
        if (args.help) {
            std::printf("Usage: %s [options]\n\n%s\nOptions:\n%s", kName,
                qPrintable(cmdline::wrapped(QString::fromUtf8(kDescription), 0)),
                qPrintable(cmdline::optionsHelp(::options())));
            return 0;
        }
        readOptions(args, &options);
        verbose = args.isSet("verbose");
    } catch (const cmdline::UsageError &e) {
        return cmdline::reportUsageError(QLatin1String(kName), e.text);
    }

    // A stop signal ends the event loop in an orderly way, so the link is removed.
    cmdline::onStopSignal([](int) { QCoreApplication::quit(); });

    sim::SimServer server;
    if (verbose) {
        QObject::connect(&server, &sim::SimServer::bytesReceived, &app, [](const QByteArray &b) {
            say(QStringLiteral("%1 <- %2")
                    .arg(
                        core::frames::clockText(QTime::currentTime()), core::frames::toHexText(b)));
        });
        QObject::connect(&server, &sim::SimServer::replySent, &app, [](const QByteArray &b) {
            say(QStringLiteral("%1 -> %2")
                    .arg(
                        core::frames::clockText(QTime::currentTime()), core::frames::toHexText(b)));
        });
    }
    QObject::connect(&server, &sim::SimServer::disconnected, &app, [] {
        say(QStringLiteral("%1: line dropped as asked").arg(kName));
        QCoreApplication::quit();
    });
    if (!server.start(options)) {
        std::fprintf(stderr, "%s: cannot open a pseudo-terminal: %s\n", kName,
            qPrintable(server.errorString()));
        return 1;
    }
    const sim::ModuleSettings &m = options.module;
    if (options.replay) {
        const core::replay::Log &log = *options.replay;
        if (!log.error.isEmpty())
            std::fprintf(stderr, "%s: --replay: %s; playing the %lld entries before it\n", kName,
                qPrintable(log.error), qlonglong(log.entries.size()));
        say(QStringLiteral("%1 on %2 (replaying %3 entries, %4 baud, check %5)")
                .arg(QLatin1String(io::ports::kVirtualDescription), server.slavePath())
                .arg(log.entries.size())
                .arg(log.header.baud)
                .arg(core::checkModeWord(
                    core::checkModeAt(log.header.checkMode).value_or(core::CheckMode::Sum8))));
    } else {
        say(QStringLiteral("%1 on %2 (0xAA address %3, Modbus address %4, %5 baud)")
                .arg(QLatin1String(io::ports::kVirtualDescription), server.slavePath())
                .arg(m.address)
                .arg(m.modbusAddress)
                .arg(core::protocol::baudOfCode(m.baudCode)));
    }
    if (!server.linkPath().isEmpty())
        say(QStringLiteral("Published as %1").arg(server.linkPath()));
    else if (options.publish)
        std::fprintf(stderr, "%s: not published: %s\n", kName, qPrintable(server.errorString()));

    const int status = app.exec();
    server.stop();
    const sim::ServerCounters c = server.counters();
    say(QStringLiteral("%1: received %2 (%3), sent %4 (%5)%6")
            .arg(kName, counted(c.requests, "request", "requests"),
                counted(c.bytesReceived, "byte", "bytes"), counted(c.replies, "reply", "replies"),
                counted(c.bytesSent, "byte", "bytes"),
                options.replay ? QStringLiteral(", %1 unmatched").arg(c.bytesUnmatched)
                               : QString()));
    return status;
}
