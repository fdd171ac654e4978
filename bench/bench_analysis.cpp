// The engineer's bench: how long the analysis of a long run takes, the Allan slope of the virtual
// module's Gaussian noise, and what recording the bytes of a run costs.
#include "core/analysis/analysis.h"
#include "core/commands.h"
#include "core/frames.h"
#include "core/replies.h"
#include "io/recorder.h"
#include "sim/virtualmodule.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

const char kUsage[] = R"(bench_analysis [--records N]
  1. The analysis of N records (default 1,000,000) of the virtual module's Gaussian noise (sigma
     5 mm, 1.13 ms apart as at 115200 baud), best and median of 5 runs.
  2. The log-log slope of their Allan deviation over tau0 .. 256 tau0 (white noise: -0.5).
  3. Recording the run at the wire limit: each reply read in pieces of 2 or 3 bytes 0.2 ms apart,
     as the serial worker reads a stream; CPU per reply, the share of one core at 886 replies a
     second, and the bytes per reply on disk; the same for single measurements (request, reply).
)";

constexpr double kWireRepliesPerS = 886;
constexpr qint64 kReplyUs = 1128; // 13 bytes of 10 bits at 115200 baud

double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

// Results of the module's continuous measurement, decoded as every front-end decodes them.
QList<core::Record> moduleRun(qsizetype count)
{
    sim::ModuleSettings settings;
    settings.model = sim::DistanceModel::Noisy;
    settings.noiseKind = sim::NoiseKind::Gaussian;
    settings.noiseMm = 5;
    settings.seed = 20261207;
    sim::VirtualModule module(settings);
    const auto start
        = core::commands::build(core::commands::Command::ContinuousStart, core::CheckMode::Sum8, {})
              .text;
    module.feed(core::frames::fromHexText(start.value_or(QString())), 0);
    QList<core::Record> records;
    records.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const core::replies::Reply reply
            = core::replies::decodeAa(module.takeContinuousReply(), {});
        records.append(
            core::recordOf(reply, qint32(i * kReplyUs / 1000), 0, core::Language::English));
    }
    return records;
}

double allanSlope(const QList<core::analysis::AllanPoint> &allan)
{
    double x = 0, y = 0, xx = 0, xy = 0;
    const int n = int(std::min<qsizetype>(9, allan.size()));
    for (int k = 0; k < n; ++k) {
        const double lx = std::log(allan[k].tauS), ly = std::log(allan[k].adev);
        x += lx;
        y += ly;
        xx += lx * lx;
        xy += lx * ly;
    }
    return (n * xy - x * y) / (n * xx - x * x);
}

struct RecordingCost
{
    double cpuUsPerReply = 0;
    double bytesPerReply = 0;
};

RecordingCost record(const QString &path, qsizetype replies, bool withRequests)
{
    const QByteArray reply = QByteArray::fromHex("AA0000220003000004D2006E69");
    const QByteArray request = QByteArray::fromHex("AA0000200001000021");
    io::Recorder recorder;
    QString error;
    const double before = cpuSeconds();
    if (!recorder.open(path, { 115200, 0 }, 0, &error)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error));
        std::exit(1);
    }
    qint64 us = 0;
    for (qsizetype i = 0; i < replies; ++i) {
        if (withRequests) {
            recorder.add(core::replay::Direction::Sent, request, us);
            us += 80000; // the module's measuring time
        }
        qsizetype at = 0;
        for (const int piece : { 3, 2, 3, 2, 3 }) {
            us += 200;
            recorder.add(core::replay::Direction::Received, reply.mid(at, piece), us);
            at += piece;
        }
        us += kReplyUs - 5 * 200;
    }
    recorder.close();
    return { (cpuSeconds() - before) * 1e6 / double(replies),
        double(QFileInfo(path).size()) / double(replies) };
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qsizetype count = 1000000;
    const QStringList args = app.arguments();
    if (args.contains("--help") || (args.size() > 1 && args.value(1) != "--records")) {
        std::fputs(kUsage, args.contains("--help") ? stdout : stderr);
        return args.contains("--help") ? 0 : 2;
    }
    if (args.size() > 2)
        count = args.value(2).toLongLong();

    const QList<core::Record> records = moduleRun(count);
    QList<double> seconds;
    core::analysis::Figures figures;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        figures = core::analysis::analyse(records);
        seconds << clock.nsecsElapsed() / 1e9;
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("analysis of %lld records: best %.3f s, median %.3f s (aim < 0.5 s)\n",
        qlonglong(count), seconds.first(), seconds[2]);
    std::printf("  mean %.3f mm, sigma %.3f mm, tau0 %.4f s, %lld histogram bins, %lld Allan "
                "points\n",
        figures.mean, figures.sigma, figures.tau0S, qlonglong(figures.histogram.size()),
        qlonglong(figures.allan.size()));
    std::printf("Allan slope over tau0 .. 256 tau0 (virtual module, Gaussian sigma 5 mm): %.3f "
                "(aim -0.50 +- 0.05)\n",
        allanSlope(figures.allan));

    QTemporaryDir dir;
    for (const bool requests : { false, true }) {
        const qsizetype n = requests ? 200000 : count;
        const RecordingCost cost = record(dir.filePath("run.tvxr"), n, requests);
        std::printf(
            "recording %s, %lld replies: %.3f us CPU per reply (%.2f %% of one core at %.0f "
            "replies/s), %.2f bytes per reply on disk%s (aim < 5 %%, <= 20 bytes)\n",
            requests ? "single measurements (request and reply)" : "a stream at the wire limit",
            qlonglong(n), cost.cpuUsPerReply, cost.cpuUsPerReply * kWireRepliesPerS / 1e4,
            kWireRepliesPerS, cost.bytesPerReply, requests ? ", its request included" : "");
    }
    return 0;
}
