// How much longer a test plan takes than the module needs: the example plan on 1 and 4 virtual
// modules, its time divided by the module's own time (measuring times and frames on the wire).
#include "core/plan/plan.h"
#include "io/plan/runner.h"
#include "sim/simserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMutex>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

const char kUsage[] = R"(bench_plan [PLAN] [--runs N]
  Runs PLAN (default: the example plan, docs/plans/rm03-end-of-line.toml) on 1 and on 4 virtual
  modules at once (target at 1000 mm, offset 2 mm, 0xAA frames at 9600 baud), N times each
  (default 3). Prints the plan's time, the module's own time (each measurement's measuring time
  plus every byte of every frame at its line speed, 10 bits a byte), its measuring times alone,
  and the ratio of the first two; with 4 modules the ratio is the time of all four over the
  busiest module's own time. A 0xAA module measuring continuously sends each result while it
  measures the next, so its own time counts time the plan spends only once.
)";

/** One virtual module and what it spent: frames on the wire, counted as they pass. */
struct Module
{
    sim::SimServer server;
    QMutex lock;
    double wireMs = 0;
    int lastBaud = 9600; ///< a reply goes out at the speed its request came in at

    explicit Module(const sim::ServerOptions &o)
    {
        // Called in the module's thread, where the settings are those the bytes travelled at.
        QObject::connect(
            &server, &sim::SimServer::bytesReceived, &server,
            [this](const QByteArray &b) {
                const int baud = core::protocol::baudOfCode(server.moduleSettings().baudCode);
                QMutexLocker l(&lock);
                lastBaud = baud;
                wireMs += b.size() * 10000.0 / baud;
            },
            Qt::DirectConnection);
        QObject::connect(
            &server, &sim::SimServer::replySent, &server,
            [this](const QByteArray &b) {
                QMutexLocker l(&lock);
                wireMs += b.size() * 10000.0 / lastBaud;
            },
            Qt::DirectConnection);
        if (!server.start(o)) {
            std::fprintf(stderr, "virtual module: %s\n", qPrintable(server.errorString()));
            std::exit(1);
        }
    }
};

struct Result
{
    double planMs = 0;
    double moduleMs = 0; ///< of the busiest module
    double measuringMs = 0; ///< its measuring times alone
    QString outcomes;
};

Result runOn(const core::plan::Plan &plan, int units)
{
    std::vector<std::unique_ptr<Module>> modules;
    std::vector<std::unique_ptr<io::plan::Runner>> runners;
    QEventLoop loop;
    int running = units;
    for (int i = 0; i < units; ++i) {
        sim::ServerOptions o;
        o.module.distanceMm = 1000;
        o.module.offsetMm = 2;
        o.module.serialNumber = 0x51000000u + quint32(i) * 0x10000u;
        modules.push_back(std::make_unique<Module>(o));
        io::plan::RunOptions run;
        run.port = modules.back()->server.slavePath();
        runners.push_back(std::make_unique<io::plan::Runner>(plan, run));
        QObject::connect(runners.back().get(), &io::plan::Runner::finished, &loop, [&] {
            if (--running == 0)
                loop.quit();
        });
    }
    QElapsedTimer clock;
    clock.start();
    for (auto &r : runners)
        r->start();
    loop.exec();
    Result out;
    out.planMs = clock.nsecsElapsed() / 1e6;
    for (int i = 0; i < units; ++i) {
        const core::plan::RunRecord &record = runners[size_t(i)]->record();
        out.outcomes += core::plan::outcomeName(record.outcome) + QLatin1Char(' ');
        // Every sample the plan asked for took the measuring time of its step's speed.
        double measuringMs = 0;
        const sim::ModuleSettings settings = modules[size_t(i)]->server.moduleSettings();
        for (qsizetype s = 0; s < record.steps.size(); ++s)
            for (const core::plan::Attempt &a : record.steps.at(s).attempts)
                measuringMs += double(a.samples.size())
                    * settings.measuringTimeMs[size_t(plan.steps.at(s).speed)];
        QMutexLocker l(&modules[size_t(i)]->lock);
        if (measuringMs + modules[size_t(i)]->wireMs > out.moduleMs) {
            out.moduleMs = measuringMs + modules[size_t(i)]->wireMs;
            out.measuringMs = measuringMs;
        }
    }
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int runs = 3;
    QString path = QStringLiteral(TOVANDRIX_SOURCE_DIR "/docs/plans/rm03-end-of-line.toml");
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size())
            runs = args[++i].toInt();
        else if (!args[i].startsWith(QLatin1Char('-')))
            path = args[i];
        else
            runs = 0;
    }
    QFile file(path);
    if (runs < 1 || !file.open(QIODevice::ReadOnly)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const core::plan::Parsed parsed = core::plan::parsePlan(file.readAll(), path);
    if (!parsed.plan) {
        std::fprintf(stderr, "%s\n", qPrintable(parsed.error));
        return 2;
    }
    std::printf("%-7s %4s %10s %12s %15s %7s  %s\n", "modules", "run", "plan (ms)", "module (ms)",
        "measuring (ms)", "ratio", "outcomes");
    for (const int units : { 1, 4 }) {
        double worst = 0;
        for (int run = 1; run <= runs; ++run) {
            const Result r = runOn(*parsed.plan, units);
            worst = qMax(worst, r.planMs / r.moduleMs);
            std::printf("%-7d %4d %10.0f %12.0f %15.0f %7.3f  %s\n", units, run, r.planMs,
                r.moduleMs, r.measuringMs, r.planMs / r.moduleMs, qPrintable(r.outcomes));
        }
        std::printf("%d module%s: worst ratio %.3f (target at most 1.10)\n", units,
            units == 1 ? "" : "s", worst);
    }
    return 0;
}
