// tovandrix-sim: a virtual laser module on a pseudo-terminal, served until interrupted.
#include "core/frames.h"
#include "io/portdiscovery.h"
#include "sim/publish.h"
#include "sim/simserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kExitBadCommandLine = 2;
constexpr char kName[] = "tovandrix-sim";

int g_signalSocket[2] = { -1, -1 };

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalSocket[0], &c, 1);
}

/** Collects the first problem found on the command line. */
struct Reader
{
    const QCommandLineParser &parser;
    QString error;

    bool has(const QString &name) const { return parser.isSet(name); }

    void integer(const QString &name, int low, int high, int *out)
    {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        bool ok = false;
        const int v = parser.value(name).toInt(&ok);
        if (!ok || v < low || v > high)
            error = QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                        .arg(name)
                        .arg(low)
                        .arg(high)
                        .arg(parser.value(name));
        else
            *out = v;
    }

    void hex(const QString &name, quint32 high, quint32 *out)
    {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        bool ok = false;
        const quint32 v = parser.value(name).toUInt(&ok, 16);
        if (!ok || v > high)
            error = QStringLiteral("--%1 wants a hexadecimal number up to %2, not \"%3\"")
                        .arg(name, QString::number(high, 16).toUpper(), parser.value(name));
        else
            *out = v;
    }

    void tenths(const QString &name, double low, double high, int *out)
    {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        bool ok = false;
        const double v = parser.value(name).toDouble(&ok);
        if (!ok || v < low || v > high)
            error = QStringLiteral("--%1 wants a number from %2 to %3, not \"%4\"")
                        .arg(name)
                        .arg(low)
                        .arg(high)
                        .arg(parser.value(name));
        else
            *out = int(qRound(v * 10));
    }

    template<typename T>
    void choice(const QString &name, const QStringList &names, const QList<T> &values, T *out)
    {
        if (!error.isEmpty() || !parser.isSet(name))
            return;
        const qsizetype i = names.indexOf(parser.value(name).toLower());
        if (i < 0)
            error = QStringLiteral("--%1 wants one of %2, not \"%3\"")
                        .arg(name, names.join(QStringLiteral(", ")), parser.value(name));
        else
            *out = values[i];
    }
};

void addOptions(QCommandLineParser &p)
{
    p.setApplicationDescription(QStringLiteral(
        "Runs a virtual laser module on a pseudo-terminal. It answers the 0xAA protocol and\n"
        "Modbus RTU like a module on a serial line, prints the terminal's path and, on Linux,\n"
        "publishes a link that Tovandrix lists as \"Virtual laser module\". Stop it with\n"
        "Ctrl+C; it then prints how many requests it received and replies it sent.\n"
        "Error codes in EE replies: 0001 unknown register, 0002 bad value, 0003 target out of\n"
        "range, 0004 weak signal (the default of --error-code)."));
    p.addHelpOption();
    const QList<QCommandLineOption> options {
        { { "a", "address" }, "0xAA-protocol address, 0 to 127 (default 0).", "n" },
        { { "m", "modbus-address" }, "Modbus address, 1 to 247 (default 1).", "n" },
        { { "b", "baud" },
            "Line speed the module starts at: 2400, 4800, 9600, 19200, 38400, 57600 or 115200 "
            "(default 9600). A set-baud-rate command changes it after its reply.",
            "rate" },
        { "no-pacing", "Send replies at once instead of 10 bit times per byte." },
        { "strict-speed",
            "Answer only a port opened at the module's line speed: at another speed both "
            "sides get the bytes a UART sampling at the wrong rate would (usually garbage or "
            "nothing)." },
        { "extra-address",
            "Another module on the same line, like this one but at this 0xAA address and the "
            "same Modbus address (1 to 127); may be given more than once.",
            "n" },
        { "mode", "Speed mode at start: auto, slow or fast (default auto).", "mode" },
        { "latency",
            "Measuring time in ms of the speed modes auto, slow and fast (default 80,200,20).",
            "a,s,f" },
        { "query-latency", "Time in ms before a query or setting is answered (default 2).", "ms" },
        { "rate",
            "Continuous measurement results per second, or \"max\" for as fast as the wire "
            "allows (default: one result per measuring time of the speed mode).",
            "n|max" },
        { "model",
            "Distance model: constant (the distance), ramp (from the distance to --ramp-to in "
            "steps of --ramp-step, then again) or noisy (the distance +- --noise) "
            "(default constant).",
            "model" },
        { "distance",
            "Distance in mm: the constant, the ramp start, the noise centre (default "
            "1234).",
            "mm" },
        { "ramp-to", "Ramp end in mm (default 5000).", "mm" },
        { "ramp-step", "Ramp step in mm per measurement, may be negative (default 10).", "mm" },
        { "noise",
            "Noise in mm: the amplitude of uniform noise, the sigma of Gaussian noise "
            "(default 5).",
            "mm" },
        { "noise-kind",
            "Noise of the noisy model: uniform (within +- --noise) or gaussian (sigma "
            "--noise), from --seed (default uniform).",
            "kind" },
        { "range",
            "Measuring range in mm; a target outside it answers with an error reply "
            "(EE frame, or Modbus exception 04) (default 30:40000).",
            "min:max" },
        { "offset", "Measurement offset in mm at start (default 0).", "mm" },
        { "signal", "Signal value of every result (default 110).", "n" },
        { "temperature", "Temperature in degrees Celsius, tenths kept (default 26.7).", "C" },
        { "voltage", "Supply voltage in mV, 0 to 9999 (default 3300).", "mV" },
        { "angle", "Tilt angle in degrees, tenths kept (default 1.2).", "deg" },
        { "status", "Status word, hex (default 0000).", "hex" },
        { "hardware", "Hardware version, hex (default 0102).", "hex" },
        { "software", "Software version, hex (default 0215).", "hex" },
        { "serial", "Serial number, 32-bit hex (default 20240417).", "hex" },
        { "seed", "Seed of the noisy model and the noise bytes (default 1).", "n" },
        { "chunk",
            "Deliver bytes in chunks every <ms>, as a USB adapter's latency timer does "
            "(default 0: as they leave the wire).",
            "ms" },
        { "corrupt-every", "Fault: flip the last byte of every Nth reply (bad sum or CRC).", "n" },
        { "drop-every", "Fault: lose the middle byte of every Nth reply.", "n" },
        { "noise-every", "Fault: send noise bytes before every Nth reply.", "n" },
        { "noise-bytes", "Number of noise bytes per burst (default 3).", "n" },
        { "noise-gap",
            "Silence in ms between a noise burst and its reply (default 10; under 5 the "
            "burst merges with the reply).",
            "ms" },
        { "error-every", "Fault: every Nth measurement answers with an error reply.", "n" },
        { "error-code", "Error code of those replies, hex (default 0004).", "hex" },
        { "disconnect-after", "Fault: drop the line after N replies and exit.", "n" },
        { "replay",
            "Play the module recorded in this byte log instead: each request that matches the "
            "next recorded one gets the recorded reply bytes at the recorded delays, and "
            "recorded bytes that came unasked (a continuous run's stream) come at their "
            "recorded times, paced at the recording's line speed. A request that does not "
            "match gets no answer (counted in the summary). Module and fault options do not "
            "apply.",
            "file" },
        { "no-publish", "Do not publish a link for the port list." },
        { { "v", "verbose" }, "Print every request received and every reply sent." },
    };
    for (const QCommandLineOption &o : options)
        p.addOption(o);
}

QString readOptions(const QCommandLineParser &p, sim::ServerOptions *o, bool *verbose)
{
    Reader r { p, {} };
    sim::ModuleSettings &m = o->module;
    r.integer("address", 0, 127, &m.address);
    r.integer("modbus-address", 1, 247, &m.modbusAddress);
    int baud = 9600;
    r.integer("baud", 1, 115200, &baud);
    if (r.error.isEmpty() && sim::codeForBaud(baud) < 0)
        r.error = QStringLiteral("--baud wants 2400, 4800, 9600, 19200, 38400, 57600 or 115200, "
                                 "not \"%1\"")
                      .arg(p.value("baud"));
    m.baudCode = sim::codeForBaud(baud);
    o->pacing = !p.isSet("no-pacing");
    o->strictSpeed = p.isSet("strict-speed");
    r.choice<sim::SpeedMode>("mode", { "auto", "slow", "fast" },
        { sim::SpeedMode::Auto, sim::SpeedMode::Slow, sim::SpeedMode::Fast }, &m.speedMode);
    if (r.error.isEmpty() && p.isSet("latency")) {
        const QStringList parts = p.value("latency").split(',');
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i) {
            m.measuringTimeMs[size_t(i)] = parts[i].toInt(&ok);
            ok = ok && m.measuringTimeMs[size_t(i)] >= 0 && m.measuringTimeMs[size_t(i)] <= 60000;
        }
        if (!ok)
            r.error = QStringLiteral("--latency wants three times in ms such as 80,200,20, not "
                                     "\"%1\"")
                          .arg(p.value("latency"));
    }
    r.integer("query-latency", 0, 60000, &m.queryLatencyMs);
    if (r.error.isEmpty() && p.isSet("rate")) {
        bool ok = false;
        const QString v = p.value("rate");
        const double rate = v == QLatin1String("max") ? sim::kWireSpeed : v.toDouble(&ok);
        if (v == QLatin1String("max") || (ok && rate > 0 && rate <= 100000))
            m.continuousRate = rate;
        else
            r.error
                = QStringLiteral("--rate wants results per second or \"max\", not \"%1\"").arg(v);
    }
    r.choice<sim::DistanceModel>("model", { "constant", "ramp", "noisy" },
        { sim::DistanceModel::Constant, sim::DistanceModel::Ramp, sim::DistanceModel::Noisy },
        &m.model);
    constexpr int kFar = 1000000000;
    r.integer("distance", -kFar, kFar, &m.distanceMm);
    r.integer("ramp-to", -kFar, kFar, &m.rampToMm);
    r.integer("ramp-step", -kFar, kFar, &m.rampStepMm);
    r.integer("noise", 0, kFar, &m.noiseMm);
    r.choice<sim::NoiseKind>("noise-kind", { "uniform", "gaussian" },
        { sim::NoiseKind::Uniform, sim::NoiseKind::Gaussian }, &m.noiseKind);
    if (r.error.isEmpty() && p.isSet("range")) {
        const QStringList parts = p.value("range").split(':');
        bool okLow = false, okHigh = false;
        if (parts.size() == 2) {
            m.minRangeMm = parts[0].toInt(&okLow);
            m.maxRangeMm = parts[1].toInt(&okHigh);
        }
        if (!okLow || !okHigh || m.minRangeMm > m.maxRangeMm)
            r.error = QStringLiteral("--range wants min:max in mm such as 30:40000, not \"%1\"")
                          .arg(p.value("range"));
    }
    r.integer("offset", -32768, 32767, &m.offsetMm);
    r.integer("signal", -32768, 32767, &m.signal);
    r.tenths("temperature", -3276.8, 3276.7, &m.temperatureTenths);
    r.integer("voltage", 0, 9999, &m.voltageMv);
    r.tenths("angle", -360, 360, &m.angleTenths);
    quint32 word = m.status;
    r.hex("status", 0xFFFF, &word);
    m.status = quint16(word);
    word = m.hardwareVersion;
    r.hex("hardware", 0xFFFF, &word);
    m.hardwareVersion = quint16(word);
    word = m.softwareVersion;
    r.hex("software", 0xFFFF, &word);
    m.softwareVersion = quint16(word);
    r.hex("serial", 0xFFFFFFFF, &m.serialNumber);
    int seed = 1;
    r.integer("seed", 0, 0x7FFFFFFF, &seed);
    m.seed = quint32(seed);
    o->seed = quint32(seed);
    r.integer("chunk", 0, 1000, &o->chunkMs);
    r.integer("corrupt-every", 0, kFar, &o->corruptEvery);
    r.integer("drop-every", 0, kFar, &o->dropEvery);
    r.integer("noise-every", 0, kFar, &o->noiseEvery);
    r.integer("noise-bytes", 1, 1000, &o->noiseBytes);
    r.integer("noise-gap", 0, 10000, &o->noiseGapMs);
    r.integer("error-every", 0, kFar, &m.errorEvery);
    word = m.errorCode;
    r.hex("error-code", 0xFFFF, &word);
    m.errorCode = quint16(word);
    r.integer("disconnect-after", 0, kFar, &o->disconnectAfter);
    for (const QString &value : p.values("extra-address")) {
        bool ok = false;
        const int address = value.toInt(&ok);
        if (!ok || address < 1 || address > 127) {
            if (r.error.isEmpty())
                r.error = QStringLiteral("--extra-address wants 1 to 127, not \"%1\"").arg(value);
            continue;
        }
        sim::ModuleSettings more = m;
        more.address = address;
        more.modbusAddress = address;
        o->moreModules.append(more);
    }
    if (r.error.isEmpty() && p.isSet("replay")) {
        QFile file(p.value("replay"));
        if (!file.open(QIODevice::ReadOnly)) {
            r.error = QStringLiteral("--replay: %1: %2").arg(file.fileName(), file.errorString());
        } else {
            o->replay = core::replay::decode(file.readAll());
            if (o->replay->used == 0)
                r.error = QStringLiteral("--replay: %1: %2").arg(file.fileName(), o->replay->error);
        }
    }
    o->publish = !p.isSet("no-publish");
    *verbose = p.isSet("verbose");
    if (r.error.isEmpty() && !p.positionalArguments().isEmpty())
        r.error = QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().first());
    return r.error;
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

    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(app.arguments())) {
        std::fprintf(
            stderr, "%s: %s\nTry '%s --help'.\n", kName, qPrintable(parser.errorText()), kName);
        return kExitBadCommandLine;
    }
    if (parser.isSet("help") || parser.isSet("help-all"))
        parser.showHelp(0);

    sim::ServerOptions options;
    bool verbose = false;
    const QString error = readOptions(parser, &options, &verbose);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kName, qPrintable(error), kName);
        return kExitBadCommandLine;
    }

    // Signals become a byte on a socket, so the event loop ends in an orderly way and the
    // link is removed.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalSocket) != 0) {
        std::perror(kName);
        return 1;
    }
    QSocketNotifier signalNotifier(g_signalSocket[1], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    sim::SimServer server;
    if (verbose) {
        QObject::connect(&server, &sim::SimServer::bytesReceived, &app, [](const QByteArray &b) {
            say(QStringLiteral("%1 <- %2")
                    .arg(frames::clockText(QTime::currentTime()), frames::toHexText(b)));
        });
        QObject::connect(&server, &sim::SimServer::replySent, &app, [](const QByteArray &b) {
            say(QStringLiteral("%1 -> %2")
                    .arg(frames::clockText(QTime::currentTime()), frames::toHexText(b)));
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
                .arg(QLatin1String(ports::kVirtualDescription), server.slavePath())
                .arg(log.entries.size())
                .arg(log.header.baud)
                .arg(QLatin1String(log.header.checkMode == 0 ? "none" : "crc")));
    } else {
        say(QStringLiteral("%1 on %2 (0xAA address %3, Modbus address %4, %5 baud)")
                .arg(QLatin1String(ports::kVirtualDescription), server.slavePath())
                .arg(m.address)
                .arg(m.modbusAddress)
                .arg(sim::baudForCode(m.baudCode)));
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
