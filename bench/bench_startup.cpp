// Start-up time: the program started as a process until its window is shown.
#include "rig/benchrig.h"
#include "ui_widget.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

namespace {
const char kUsage[] = R"(bench_startup [--runs 10] [--program PATH]
  Starts the program (tovandrix beside this benchmark) with QT_QPA_PLATFORM=offscreen and
  TOVANDRIX_CLOSE_AFTER_MS=0, which makes it print "shown" once its window is up and close it;
  the time runs from starting the process to that line.
)";
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchrig::Args args(argc, argv);
    const int runs = int(args.number(QStringLiteral("runs"), 10));
    const QString program = args.text(QStringLiteral("program"),
        QCoreApplication::applicationDirPath() + QStringLiteral("/tovandrix"));
    if (!args.check(kUsage))
        return 2;
    if (!QFileInfo(program).isExecutable()) {
        std::fprintf(stderr, "no program at %s\n", qPrintable(program));
        return 1;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TOVANDRIX_CLOSE_AFTER_MS"), QStringLiteral("0"));
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.setStandardErrorFile(QProcess::nullDevice());
        const qint64 t0 = benchrig::monoNs();
        p.start(program, {});
        QByteArray out;
        while (!out.contains("shown") && p.waitForReadyRead(10000))
            out += p.readAllStandardOutput();
        const double ms = double(benchrig::monoNs() - t0) / 1e6;
        p.waitForFinished(10000);
        if (!out.contains("shown")) {
            std::fprintf(stderr, "run %d: the window was not reported shown\n", i + 1);
            return 1;
        }
        times.push_back(ms);
        std::printf("  run %2d: %7.1f ms\n", i + 1, ms);
    }
    std::printf("start-up:      median %.1f ms  min %.1f ms  max %.1f ms  (%d runs, offscreen)\n",
        benchrig::percentile(times, 0.5), *std::min_element(times.begin(), times.end()),
        benchrig::maxOf(times), runs);
    std::printf(
        "target:        < 500 ms\nload average:  %s\n", qPrintable(benchrig::loadAverage()));
    return 0;
}
