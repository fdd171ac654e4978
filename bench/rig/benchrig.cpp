// The shared rig of the benchmarks: probes, /proc sampling, the window on a virtual module.
#include "rig/benchrig.h"

#include "testsupport.h"
#include "ui_widget.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <malloc.h>
#include <time.h>
#include <unistd.h>

namespace benchrig {

/** Before QApplication: the benchmarks run without a display unless told otherwise. */
void useOffscreen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

qint64 monoNs()
{
    timespec t {};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

/** @brief The value below which @p fraction of @p values lie (nearest rank); 0 when empty. */
double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = size_t(std::ceil(fraction * double(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double maxOf(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

/** @brief Resident memory of this process in MiB. */
double rssMiB()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

/** @brief Bytes the allocator has handed out and not got back (exact, unlike RSS). */
double heapBytes()
{
    return double(mallinfo2().uordblks);
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2);
}

/** @brief Thread ids of this process. */
QStringList taskIds()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

/** The virtual module's thread: the one that SimServer::start() added (see Rig::open). */
QString g_moduleTid;

CpuSample cpuSample()
{
    CpuSample s;
    const QString self = QString::number(getpid());
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : taskIds()) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/schedstat")));
        QFile comm(tasks.filePath(tid + QStringLiteral("/comm")));
        if (!stat.open(QIODevice::ReadOnly) || !comm.open(QIODevice::ReadOnly))
            continue;
        const double seconds = stat.readAll().split(' ').value(0).toDouble() / 1e9;
        const QByteArray name = comm.readAll().trimmed();
        if (tid == g_moduleTid) {
            s.moduleS += seconds;
            continue;
        }
        s.programS += seconds;
        if (tid == self)
            s.guiS += seconds;
        else if (name == "QThread")
            s.workerS += seconds;
        else if (name == "MyTimer")
            s.timerS += seconds;
    }
    return s;
}

qint64 threadCpuNs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

/** Debug messages are counted, not printed: 880 lines a second would time the terminal. */
std::atomic<quint64> g_debugMessages { 0 };
bool g_printDebug = false;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    ++g_debugMessages;
    if (g_printDebug || type >= QtWarningMsg)
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
}

/** @brief Runs the event loop (sleeping while idle, as exec() does) until @p done or timeout. */
void waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}

/** @brief Runs the event loop for @p ms. */
void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

/** @brief Theoretical replies per second of 13-byte measurement replies at @p baud. */
ContinuousConfig continuousConfig(Args &args, double seconds, double reportEveryS)
{
    ContinuousConfig cfg;
    cfg.seconds = args.number(QStringLiteral("seconds"), seconds);
    cfg.baud = int(args.number(QStringLiteral("baud"), 115200));
    cfg.reportEveryS = args.number(QStringLiteral("report-every"), reportEveryS);
    return cfg;
}

double wireLimit(int baud)
{
    return baud / 10.0 / 13.0;
}

/**
 * @brief Starts continuous measurement from the window, lets it run, stops it with the window's
 * button and waits until every reply that left the module has been dealt with. The window
 * stays open in @p rig for the caller to look at.
 */
ContinuousResult runContinuous(const ContinuousConfig &cfg, Rig *rig)
{
    ContinuousResult r;
    sim::ServerOptions o;
    o.module.baudCode = core::protocol::baudCode(cfg.baud).value_or(-1);
    o.module.continuousRate = sim::kWireSpeed;
    o.module.model = sim::DistanceModel::Noisy;
    o.module.noiseMm = 50;
    o.chunkMs = cfg.chunkMs;
    if (o.module.baudCode < 0) {
        std::fprintf(stderr, "the module has no rate %d\n", cfg.baud);
        return r;
    }

    // Every distance that leaves the module is summed in its thread; the table is summed after.
    // The module's thread also notes when it was not run for longer than the worker keeps a
    // partial reply: on a crowded machine the simulator can stall in the middle of a reply,
    // which a real module never does, and the program then rightly drops that reply.
    std::atomic<qint64> sentSum { 0 };
    std::atomic<int> stalls { 0 };
    std::atomic<qint64> longestGapNs { 0 };
    qint64 lastSentNs = 0;
    QObject::connect(
        &rig->server, &sim::SimServer::replySent, &rig->server,
        [&](const QByteArray &bytes) {
            const qint64 now = monoNs();
            if (lastSentNs > 0) {
                const qint64 gap = now - lastSentNs;
                if (gap > core::rx::kTailLifeMs * 1000000)
                    ++stalls;
                if (gap > longestGapNs)
                    longestGapNs = gap;
            }
            lastSentNs = now;
            if (bytes.size() == 13)
                sentSum += qint32(quint32(quint8(bytes[6])) << 24 | quint32(quint8(bytes[7])) << 16
                    | quint32(quint8(bytes[8])) << 8 | quint32(quint8(bytes[9])));
        },
        Qt::DirectConnection);

    if (!rig->open(o, cfg.showChart))
        return r;
    Widget &w = *rig->window;
    if (cfg.chinese)
        w.ui->button_Language->click();
    spin(300); // let the window settle before the clock starts
    r.rssStartMiB = rssMiB();
    r.heapStart = heapBytes();

    // Lines per reply, noted once before the log can reach its limit.
    QMetaObject::Connection linesProbe;
    auto noteLines = [&] {
        const qsizetype n = w.session().records().size();
        if (n >= 1000 && r.linesPerReply == 0) {
            r.linesPerReply = double(w.ui->plainTextEdit_show_data->blockCount()) / double(n);
            QObject::disconnect(linesProbe);
        }
    };
    linesProbe = QObject::connect(
        &w, cfg.chinese ? &Widget::sig_jiexi_data : &Widget::sig_jiexi_data_eng, &w, noteLines);

    Probe probe;
    const CpuSample cpu0 = cpuSample();
    const qint64 t0 = monoNs();
    probe.start();
    w.ui->button_continue->click();
    // The window's own event loop runs the show, as in the program; a timer ends the run.
    QEventLoop loop;
    QTimer::singleShot(int(cfg.seconds * 1000), &loop, &QEventLoop::quit);
    QTimer report;
    qint64 lastCount = 0;
    double lastAt = 0;
    QObject::connect(&report, &QTimer::timeout, &loop, [&] {
        const double at = double(monoNs() - t0) / 1e9;
        const qint64 count = w.session().records().size();
        std::printf("  %7.0f s  records %10lld  %6.1f/s  rss %7.1f MiB  load %s\n", at,
            (long long)count, double(count - lastCount) / (at - lastAt), rssMiB(),
            qPrintable(loadAverage()));
        std::fflush(stdout);
        lastCount = count;
        lastAt = at;
    });
    if (cfg.reportEveryS > 0)
        report.start(int(cfg.reportEveryS * 1000));
    loop.exec();
    report.stop();
    w.ui->button_continue->click(); // the stop byte
    const double runS = double(monoNs() - t0) / 1e9;
    // Drain: the module stops at the stop byte; what is on its way still has to be recorded.
    quint64 lastSent = ~0ULL;
    qsizetype lastAppended = -1;
    QElapsedTimer quiet;
    quiet.start();
    waitUntil(
        [&] {
            const quint64 sent = rig->server.counters().replies;
            if (sent != lastSent || w.session().records().size() != lastAppended) {
                lastSent = sent;
                lastAppended = w.session().records().size();
                quiet.restart();
            }
            return quiet.elapsed() >= 1000;
        },
        30000);
    probe.stop();
    const CpuSample cpu1 = cpuSample();

    r.seconds = runS;
    r.sent = rig->server.counters().replies;
    r.appended = quint64(w.session().records().size());
    r.lost = qint64(r.sent) - qint64(r.appended);
    qint64 tableSum = 0;
    for (const core::Record &record : w.session().records())
        tableSum += record.value;
    r.distancesMatch = tableSum == sentSum;
    r.splitter = rig->workerCounters();
    r.moduleStalls = stalls;
    r.longestGapMs = double(longestGapNs) / 1e6;
    r.programCpuS = cpu1.programS - cpu0.programS;
    r.guiCpuS = cpu1.guiS - cpu0.guiS;
    r.workerCpuS = cpu1.workerS - cpu0.workerS;
    r.timerCpuS = cpu1.timerS - cpu0.timerS;
    r.moduleCpuS = cpu1.moduleS - cpu0.moduleS;
    r.probeMs = probe.delaysMs();
    r.probeBusyMs = probe.busyMs();
    r.rssEndMiB = rssMiB();
    r.heapEnd = heapBytes();
    r.logBlocks = w.ui->plainTextEdit_show_data->blockCount();
    r.ok = true;
    return r;
}

void printContinuous(const ContinuousConfig &cfg, const ContinuousResult &r)
{
    const double n = double(std::max<quint64>(1, r.appended));
    std::printf("run:            %d baud, %s, %.1f s, chart panel %s, log in %s\n", cfg.baud,
        cfg.chunkMs > 0 ? qPrintable(QStringLiteral("%1 ms adapter chunks").arg(cfg.chunkMs))
                        : "byte by byte",
        r.seconds, cfg.showChart ? "shown" : "hidden", cfg.chinese ? "Chinese" : "English");
    std::printf("replies sent:   %llu   (wire limit %.0f/s)\n", (unsigned long long)r.sent,
        wireLimit(cfg.baud));
    std::printf("records:        %llu   lost %lld   distances %s\n", (unsigned long long)r.appended,
        (long long)r.lost, r.distancesMatch ? "match" : "DIFFER");
    std::printf("module stalls:  %d over %lld ms (longest gap between two replies %.1f ms)\n",
        r.moduleStalls, (long long)core::rx::kTailLifeMs, r.longestGapMs);
    std::printf("splitter:       accepted %lld  split %lld  joined %lld  dropped %lld\n",
        (long long)r.splitter.accepted, (long long)r.splitter.split, (long long)r.splitter.joined,
        (long long)r.splitter.dropped);
    std::printf("replies/s:      %.1f\n", double(r.appended) / r.seconds);
    std::printf("cpu per reply:  %.1f us program = GUI %.1f + serial worker %.1f + timers %.1f"
                " + other %.1f; program %.0f%% of one core (virtual module %.1f us)\n",
        r.programCpuS / n * 1e6, r.guiCpuS / n * 1e6, r.workerCpuS / n * 1e6, r.timerCpuS / n * 1e6,
        (r.programCpuS - r.guiCpuS - r.workerCpuS - r.timerCpuS) / n * 1e6,
        100.0 * r.programCpuS / r.seconds, r.moduleCpuS / n * 1e6);
    std::printf("probe delay:    p50 %.2f ms  p99 %.2f ms  max %.2f ms  (%zu shots of 10 ms)\n",
        percentile(r.probeMs, 0.5), percentile(r.probeMs, 0.99), maxOf(r.probeMs),
        r.probeMs.size());
    const size_t worst
        = size_t(std::max_element(r.probeMs.begin(), r.probeMs.end()) - r.probeMs.begin());
    std::printf("  GUI running:  p50 %.2f ms  p99 %.2f ms  max %.2f ms  (the rest of a delay it "
                "waited for a core; %.2f ms of the longest delay)\n",
        percentile(r.probeBusyMs, 0.5), percentile(r.probeBusyMs, 0.99), maxOf(r.probeBusyMs),
        r.probeBusyMs.empty() ? 0.0 : r.probeBusyMs[worst]);
    std::printf("memory:         rss %.1f -> %.1f MiB, heap +%.0f bytes/reply, log %lld lines\n",
        r.rssStartMiB, r.rssEndMiB, (r.heapEnd - r.heapStart) / n, (long long)r.logBlocks);
    std::printf("load average:   %s   debug messages %llu\n", qPrintable(loadAverage()),
        (unsigned long long)g_debugMessages.load());
    if (r.lost > 0) {
        std::printf("note:           a reply cut by a pause of more than %lld ms on the line is "
                    "dropped by design; pauses come from the simulator's thread or the kernel's "
                    "terminal work not being run on a crowded machine (see module stalls)\n",
            (long long)core::rx::kTailLifeMs);
    }
}

bool Rig::open(const sim::ServerOptions &options, bool showChart)
{
    const QStringList before = taskIds();
    if (!server.start(options)) {
        std::fprintf(stderr, "virtual module failed: %s\n", qPrintable(server.errorString()));
        return false;
    }
    for (const QString &tid : taskIds()) {
        if (!before.contains(tid))
            g_moduleTid = tid;
    }
    window = std::make_unique<Widget>();
    Widget &w = *window;
    w.show();
    if (showChart)
        w.ui->button_paint_show->click();
    w.ui->chuankou_Box->addItem(
        server.slavePath() + QStringLiteral(" Virtual laser module"), server.slavePath());
    w.ui->chuankou_Box->setCurrentIndex(w.ui->chuankou_Box->count() - 1);
    w.ui->botelv_Box->setCurrentText(
        QString::number(core::protocol::baudOfCode(options.module.baudCode)));
    w.ui->open_button->click();
    waitUntil([&] { return w.serialport_state_1; }, 5000);
    if (!w.serialport_state_1) {
        std::fprintf(stderr, "the window did not open %s\n", qPrintable(server.slavePath()));
        return false;
    }
    return true;
}

core::rx::Counters Rig::workerCounters()
{
    core::rx::Counters c;
    QMetaObject::invokeMethod(
        window->thread_1_son, [&] { c = window->thread_1_son->counters(); },
        Qt::BlockingQueuedConnection);
    return c;
}

Args::Args(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        QString a = QString::fromLocal8Bit(argv[i]);
        if (!a.startsWith(QLatin1String("--"))) {
            m_bad << a;
            continue;
        }
        a = a.mid(2);
        const qsizetype eq = a.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            m_values[a.left(eq)] = a.mid(eq + 1);
        } else if (i + 1 < argc && argv[i + 1][0] != '-') {
            m_values[a] = QString::fromLocal8Bit(argv[++i]);
        } else {
            m_values[a] = QStringLiteral("1");
        }
    }
}

bool Args::check(const char *usage) const
{
    QStringList unknown = m_bad;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it)
        if (!m_known.contains(it.key()))
            unknown << QStringLiteral("--") + it.key();
    if (unknown.isEmpty() && !m_values.contains(QStringLiteral("help")))
        return true;
    if (!unknown.isEmpty() && !m_values.contains(QStringLiteral("help")))
        std::fprintf(stderr, "unknown: %s\n", qPrintable(unknown.join(QLatin1Char(' '))));
    std::fprintf(stderr, "%s", usage);
    return false;
}

Probe::Probe(int periodMs)
    : m_periodMs(periodMs)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
        const double waited = double(monoNs() - m_armedNs) / 1e6;
        const double ran = double(threadCpuNs() - m_armedCpuNs) / 1e6;
        m_delaysMs.push_back(waited - m_periodMs);
        m_busyMs.push_back(std::min(ran, std::max(0.0, waited - m_periodMs)));
        arm();
    });
}

Rig::Rig()
{
    qInstallMessageHandler(quietHandler);
}

Rig::~Rig()
{
    // The window first: its destructor stops the worker thread that holds the port.
    window.reset();
    server.stop();
}

} // namespace benchrig
