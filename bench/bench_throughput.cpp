// Continuous measurement at the wire limit: every reply recorded, CPU per reply, window response.
#include "rig/benchrig.h"
#include "ui_widget.h"

#include <QApplication>

namespace {
const char kUsage[] = R"(bench_throughput [--seconds 60] [--baud 115200] [--chunk-ms 0]
                 [--report-every 0] [--no-chart] [--chinese] [--debug-log]
  The window (offscreen, in English unless --chinese) runs continuous measurement against the
  virtual module, replies back to back at the wire limit, chart panel shown. The one-hour run:
    bench_throughput --seconds 3600 --report-every 300
)";
} // namespace

int main(int argc, char **argv)
{
    benchrig::useOffscreen();
    QApplication app(argc, argv);
    benchrig::Args args(argc, argv);
    benchrig::ContinuousConfig cfg = benchrig::continuousConfig(args, 60, 0);
    cfg.chunkMs = int(args.number(QStringLiteral("chunk-ms"), 0));
    cfg.showChart = !args.flag(QStringLiteral("no-chart"));
    cfg.chinese = args.flag(QStringLiteral("chinese"));
    benchrig::g_printDebug = args.flag(QStringLiteral("debug-log"));
    if (!args.check(kUsage))
        return 2;

    benchrig::Rig rig;
    const benchrig::ContinuousResult r = benchrig::runContinuous(cfg, &rig);
    if (!r.ok)
        return 1;
    benchrig::printContinuous(cfg, r);
    return 0;
}
