// Latency of a single measurement: last byte of the reply out of the module to the record added.
#include "rig/benchrig.h"
#include "ui_widget.h"

#include <QApplication>
#include <QSerialPort>

#include <algorithm>

namespace {
const char kUsage[] = R"(bench_latency [--count 200] [--baud 115200] [--chunk-ms 0] [--paced]
                 [--gap-ms 20]
  The window (offscreen, chart panel shown) sends single measurements to the virtual module one
  after the other; each time runs from the last byte of the reply leaving the module to its record
  being in the result table. The worker ends a reply after 5 ms of silence, so 5 ms is the floor.
  By default the module writes each reply in one go, so its last byte leaves at a known moment;
  --paced sends it at the line's speed (the last byte's moment is then worked out from the baud
  rate), --chunk-ms adds an adapter's latency timer (its delay counts as latency).
)";
} // namespace

int main(int argc, char **argv)
{
    benchrig::useOffscreen();
    QApplication app(argc, argv);
    benchrig::Args args(argc, argv);
    const int count = int(args.number(QStringLiteral("count"), 200));
    const int baud = int(args.number(QStringLiteral("baud"), 115200));
    const int chunkMs = int(args.number(QStringLiteral("chunk-ms"), 0));
    const bool paced = args.flag(QStringLiteral("paced"));
    const int gapMs = int(args.number(QStringLiteral("gap-ms"), 20));
    if (!args.check(kUsage))
        return 2;

    sim::ServerOptions o;
    o.module.baudCode = core::protocol::baudCode(baud).value_or(-1);
    o.module.measuringTimeMs = { 10, 10, 10 }; // keeps the run short; it is not part of the figure
    o.pacing = paced;
    o.chunkMs = chunkMs;
    const qint64 byteNs = paced ? 10LL * 1000000000LL / baud : 0;

    benchrig::Rig rig;
    std::atomic<qint64> lastByteNs { 0 };
    QObject::connect(
        &rig.server, &sim::SimServer::replySent, &rig.server,
        [&](const QByteArray &bytes) {
            // Emitted as the reply is handed to the line, which is free: its last byte leaves
            // after the bytes before it.
            lastByteNs = benchrig::monoNs() + bytes.size() * byteNs;
        },
        Qt::DirectConnection);
    if (!rig.open(o, true))
        return 1;
    Widget &w = *rig.window;

    // In the worker's thread as it hands the reply up: splits the time into the worker's part
    // (silence, timer, worker thread) and the window's (queued signal, parser, log, table).
    std::atomic<qint64> handUpNs { 0 };
    QObject::connect(
        w.thread_1_son, &Thread_1::sig_send_data_son, w.thread_1_son,
        [&] { handUpNs = benchrig::monoNs(); }, Qt::DirectConnection);

    // Connected after the window's own parser slots, so this runs once the record is in.
    qint64 recordNs = 0;
    auto onParsed = [&] { recordNs = benchrig::monoNs(); };
    QObject::connect(&w, &Widget::sig_jiexi_data, &w, onParsed);
    QObject::connect(&w, &Widget::sig_jiexi_data_eng, &w, onParsed);

    // When the worker's port last had bytes to read: the line's own delivery (a pseudo-terminal
    // hands written bytes on from a kernel work queue) ends there, the worker's silence starts.
    std::atomic<qint64> readNs { 0 };
    QObject::connect(
        w.serial_main_1, &QSerialPort::readyRead, w.thread_1_son,
        [&] { readNs = benchrig::monoNs(); }, Qt::DirectConnection);

    benchrig::spin(300);
    std::vector<double> latencies;
    std::vector<double> workerPart;
    std::vector<double> windowPart;
    std::vector<double> linePart;
    int missing = 0;
    for (int i = 0; i < count; ++i) {
        const qsizetype before = w.session().records().size();
        recordNs = 0;
        w.ui->button_once->click();
        benchrig::waitUntil([&] { return w.session().records().size() > before; }, 2000);
        if (w.session().records().size() == before || recordNs == 0) {
            ++missing;
            continue;
        }
        // The probe runs right after the worker posted the reply; if the window got there first,
        // wait for it, and count from whichever came first.
        benchrig::waitUntil([&] { return handUpNs >= lastByteNs; }, 1000);
        const qint64 handUp = std::min<qint64>(handUpNs, recordNs);
        latencies.push_back(double(recordNs - lastByteNs) / 1e6);
        workerPart.push_back(double(handUp - lastByteNs) / 1e6);
        windowPart.push_back(double(recordNs - handUp) / 1e6);
        linePart.push_back(
            double(std::clamp<qint64>(readNs, lastByteNs, handUp) - lastByteNs) / 1e6);
        benchrig::spin(gapMs);
    }

    std::printf("run:           %d single measurements at %d baud, %s%s\n", count, baud,
        paced ? "paced" : "each reply written in one go",
        chunkMs > 0 ? qPrintable(QStringLiteral(", %1 ms adapter chunks").arg(chunkMs)) : "");
    std::printf("records:       %zu   missing %d\n", latencies.size(), missing);
    std::printf(
        "latency:       median %.2f ms  p90 %.2f ms  p99 %.2f ms  max %.2f ms  min %.2f ms\n",
        benchrig::percentile(latencies, 0.5), benchrig::percentile(latencies, 0.9),
        benchrig::percentile(latencies, 0.99), benchrig::maxOf(latencies),
        latencies.empty() ? 0.0 : *std::min_element(latencies.begin(), latencies.end()));
    std::printf("  worker part: median %.2f ms  p99 %.2f ms  (last byte -> reply handed up)\n",
        benchrig::percentile(workerPart, 0.5), benchrig::percentile(workerPart, 0.99));
    std::printf("    of which the line: median %.2f ms  p99 %.2f ms  (last byte -> readable in the "
                "worker)\n",
        benchrig::percentile(linePart, 0.5), benchrig::percentile(linePart, 0.99));
    std::vector<double> silencePart;
    for (size_t k = 0; k < workerPart.size(); ++k)
        silencePart.push_back(workerPart[k] - linePart[k]);
    std::printf("    the worker:         median %.2f ms  p99 %.2f ms  (read -> handed up)\n",
        benchrig::percentile(silencePart, 0.5), benchrig::percentile(silencePart, 0.99));
    std::printf("  window part: median %.2f ms  p99 %.2f ms  (handed up -> record added)\n",
        benchrig::percentile(windowPart, 0.5), benchrig::percentile(windowPart, 0.99));
    // A whole reply is handed up when its last byte is read; only damaged bytes wait for a silence.
    std::printf("target:        p99 <= 1.0 ms idle, <= 2.0 ms with two busy loops\n");
    std::printf("load average:  %s\n", qPrintable(benchrig::loadAverage()));
    return 0;
}
