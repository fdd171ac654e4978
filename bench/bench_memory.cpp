// Memory per reply in a long wire-speed run, split between log, result table and chart.
#include "rig/benchrig.h"
#include "ui_widget.h"

#include "core/chartpoints.h"

#include <malloc.h>

#include <QApplication>

namespace {
const char kUsage[] = R"(bench_memory [--seconds 120] [--baud 115200] [--report-every 30]
                [--hours 24] [--rate 50]
  Continuous measurement at the wire limit with the window offscreen, then the log, the result
  table and the chart are emptied one at a time to see what each held. The figures are
  extrapolated to --hours at --rate replies per second. The ten-minute run:
    bench_memory --seconds 600 --report-every 60
)";

/** Bytes held by the allocator, the large blocks it maps separately included. */
double heldBytes()
{
    const struct mallinfo2 m = mallinfo2();
    return double(m.uordblks) + double(m.hblkhd);
}

double mib(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}
} // namespace

int main(int argc, char **argv)
{
    benchrig::useOffscreen();
    QApplication app(argc, argv);
    benchrig::Args args(argc, argv);
    const benchrig::ContinuousConfig cfg = benchrig::continuousConfig(args, 120, 30);
    const double hours = args.number(QStringLiteral("hours"), 24);
    const double rate = args.number(QStringLiteral("rate"), 50);
    if (!args.check(kUsage))
        return 2;

    benchrig::Rig rig;
    const double rssBefore = benchrig::rssMiB();
    const benchrig::ContinuousResult r = benchrig::runContinuous(cfg, &rig);
    if (!r.ok)
        return 1;
    benchrig::printContinuous(cfg, r);
    Widget &w = *rig.window;
    // The line stops first, so nothing is added while the parts are taken apart.
    w.ui->open_button->click();
    benchrig::waitUntil([&] { return !w.serialport_state_1; }, 5000);
    benchrig::spin(200);

    const double replies = double(std::max<qsizetype>(1, w.session().records().size()));
    const int logLines = w.ui->plainTextEdit_show_data->blockCount();
    const double rssEnd = benchrig::rssMiB();
    const double h0 = heldBytes();
    w.curGraph->setData(QSharedPointer<QCPGraphDataContainer>::create());
    w.ui->widget_paint->replot();
    const double h1 = heldBytes();
    // Records are plain values in one array: their share is its size.
    const double table = double(w.session().records().capacity()) * double(sizeof(core::Record));
    // The chart's points are plain values too (the graph holds only a view once they are many);
    // the clear button frees them with the log.
    const double points = double(w.ui->widget_paint->points().points().capacity())
        * double(sizeof(core::ChartPoints::Point));
    w.ui->button_clear_show->click();
    benchrig::spin(200);
    const double h3 = heldBytes();
    const double chart = h0 - h1 + points;
    const double log = h1 - h3 - table - points;
    const double grown = h0 - r.heapStart;
    const double other = grown - chart - table - log;

    std::printf("\nafter %.0f replies (%d log lines, the log keeps at most %d):\n", replies,
        logLines, Widget::kLogLineLimit);
    std::printf("  rss            %8.1f MiB  (%.1f before the window, %.1f at the start of the "
                "run)\n",
        rssEnd, rssBefore, r.rssStartMiB);
    std::printf("  rss per reply  %8.0f bytes\n", (rssEnd - r.rssStartMiB) * 1048576.0 / replies);
    std::printf("  log            %8.1f MiB  %6.0f bytes/line\n", mib(log), log / logLines);
    std::printf("  table          %8.1f MiB  %6.0f bytes/reply (%zu bytes a record)\n", mib(table),
        table / replies, sizeof(core::Record));
    std::printf("  chart          %8.1f MiB  %6.0f bytes/reply\n", mib(chart), chart / replies);
    std::printf("  other heap     %8.1f MiB\n", mib(other));

    // Everything but the log grows with the replies; the log stops at its line limit.
    const double n = hours * 3600.0 * rate;
    const double linesPerReply = r.linesPerReply > 0 ? r.linesPerReply : double(logLines) / replies;
    const double logLinesThen = std::min(n * linesPerReply, double(Widget::kLogLineLimit));
    const double logThen = logLinesThen * log / logLines;
    const double estimate = r.rssStartMiB * 1048576.0 + n * (table + chart) / replies + logThen
        + std::max(0.0, other);
    std::printf("\n%.0f h at %.0f replies/s = %.0f replies: about %.0f MiB (table %.0f, chart "
                "%.0f, log %.0f, start %.0f)  target < 500 MiB\n",
        hours, rate, n, mib(estimate), mib(n * table / replies), mib(n * chart / replies),
        mib(logThen), r.rssStartMiB);
    std::printf("without the line limit the log alone would hold about %.0f MiB\n",
        mib(n * linesPerReply * log / logLines));
    return 0;
}
