// How long finding a module takes: at factory settings at every speed, and in the worst case.
#include "io/portscanner.h"
#include "sim/pty.h"
#include "sim/simserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <map>

namespace {
const char kUsage[] = R"(bench_scan [--worst-only | --factory-only]
  Virtual modules that answer only at their own line speed. First a module at factory settings
  (0xAA address 0, Modbus address 1) at each of the 7 speeds, found in either protocol: the time
  to the find. Then the worst case: a Modbus module at address 247 at 2400 baud, the last of all
  2,625 settings a full scan tries (timed on a line where nobody answers, so every setting is
  tried), with the time per probe at each speed.
)";

struct Outcome
{
    double seconds = 0;
    bool found = false;
    std::map<int, std::pair<double, int>> perBaud; ///< ms spent and probes, by speed
};

// @p mode: the one check mode tried, -1 for both.
Outcome scanFor(int baud, int mode, int aaAddress, int modbusAddress)
{
    sim::ServerOptions o;
    o.strictSpeed = true;
    o.module.baudCode = core::protocol::baudCode(baud).value_or(-1);
    o.module.address = aaAddress;
    o.module.modbusAddress = modbusAddress;
    sim::SimServer server;
    if (baud > 0 && !server.start(o)) {
        std::fprintf(stderr, "virtual module: %s\n", qPrintable(server.errorString()));
        std::exit(1);
    }
    io::PortScanner scanner;
    Outcome out;
    QElapsedTimer clock, probe;
    int lastBaud = 0;
    auto account = [&] {
        if (lastBaud) {
            out.perBaud[lastBaud].first += probe.nsecsElapsed() / 1e6;
            ++out.perBaud[lastBaud].second;
        }
    };
    QObject::connect(
        &scanner, &io::PortScanner::probing, [&](int, int, const core::scan::Target &t) {
            account();
            lastBaud = t.baud;
            probe.start();
        });
    QObject::connect(&scanner, &io::PortScanner::found, [&](const core::scan::Target &t) {
        out.found = t.baud == baud
            && (t.checkMode == core::CheckMode::Sum8 ? aaAddress : modbusAddress) == t.address;
    });
    QEventLoop loop;
    QObject::connect(&scanner, &io::PortScanner::finished, &loop, &QEventLoop::quit);
    core::scan::Plan plan;
    if (mode >= 0)
        plan.checkModes = { core::CheckMode(mode) };
    clock.start();
    PseudoTerminal silent; // the worst case: nobody answers, so every setting is tried
    if (baud == 0 && !silent.open())
        std::exit(1);
    scanner.start(baud > 0 ? server.slavePath() : silent.slavePath(), core::scan::order(plan));
    loop.exec();
    account();
    out.seconds = clock.nsecsElapsed() / 1e9;
    return out;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args != QStringList { "--worst-only" }
        && args != QStringList { "--factory-only" }) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (!args.contains("--worst-only")) {
        std::printf(
            "factory settings, time to the find (s):\n%8s %8s %8s\n", "baud", "0xAA", "Modbus");
        for (const int baud : core::scan::kCommonBauds) {
            const Outcome aa = scanFor(baud, 0, 0, 1), rtu = scanFor(baud, 1, 0, 1);
            std::printf("%8d %7.2f%s %7.2f%s\n", baud, aa.seconds, aa.found ? " " : "!",
                rtu.seconds, rtu.found ? " " : "!");
        }
    }
    if (!args.contains("--factory-only")) {
        core::scan::Plan all;
        const Outcome worst = scanFor(0, -1, 0, 0);
        std::printf("worst case: Modbus address 247 at 2400 baud, %s after %.1f s "
                    "(%lld settings in the full scan)\n%8s %8s %12s\n",
            worst.found ? "found" : "NOT found", worst.seconds,
            qlonglong(core::scan::order(all).size()), "baud", "probes", "ms per probe");
        for (const auto &[baud, spent] : worst.perBaud)
            std::printf("%8d %8d %12.1f\n", baud, spent.second, spent.first / spent.second);
    }
    return 0;
}
