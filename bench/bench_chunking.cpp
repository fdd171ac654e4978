// Continuous measurement through a USB adapter that delivers bytes in 16 ms chunks.
#include "rig/benchrig.h"
#include "ui_widget.h"

#include <QApplication>

namespace {
const char kUsage[] = R"(bench_chunking [--seconds 30] [--chunk-ms 16] [--bauds 9600,115200]
  The throughput run at each rate with the adapter's latency timer: bytes reach the port only
  every --chunk-ms, so replies arrive cut and merged at arbitrary places. Target: none lost.
)";
} // namespace

int main(int argc, char **argv)
{
    benchrig::useOffscreen();
    QApplication app(argc, argv);
    benchrig::Args args(argc, argv);
    const double seconds = args.number(QStringLiteral("seconds"), 30);
    const int chunkMs = int(args.number(QStringLiteral("chunk-ms"), 16));
    const QStringList bauds
        = args.text(QStringLiteral("bauds"), QStringLiteral("9600,115200")).split(QLatin1Char(','));
    if (!args.check(kUsage))
        return 2;

    bool allKept = true;
    for (const QString &baud : bauds) {
        benchrig::ContinuousConfig cfg;
        cfg.seconds = seconds;
        cfg.baud = baud.toInt();
        cfg.chunkMs = chunkMs;
        benchrig::Rig rig;
        const benchrig::ContinuousResult r = benchrig::runContinuous(cfg, &rig);
        if (!r.ok)
            return 1;
        benchrig::printContinuous(cfg, r);
        std::printf("\n");
        allKept = allKept && r.lost == 0 && r.distancesMatch;
    }
    std::printf("every reply recorded at every rate: %s\n", allKept ? "yes" : "NO");
    return 0;
}
