// The shared rig of the benchmarks: an option reader, probes, /proc sampling, the real window
// offscreen on a virtual module's pty, and a continuous run at the wire limit with its figures.
#pragma once

#include "core/rxsplitter.h"
#include "io/thread_1.h"
#include "sim/simserver.h"
#include "ui/widget.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace benchrig {

/** @brief Before QApplication: the benchmarks run without a display unless told otherwise. */
void useOffscreen();

/** --name=value or --name value; flags without a value read as "1". */
class Args
{
public:
    Args(int argc, char **argv);
    double number(const QString &name, double fallback)
    {
        m_known << name;
        bool ok = false;
        const double v = m_values.value(name).toDouble(&ok);
        return ok ? v : fallback;
    }
    QString text(const QString &name, const QString &fallback)
    {
        m_known << name;
        return m_values.value(name, fallback);
    }
    bool flag(const QString &name)
    {
        m_known << name;
        return m_values.contains(name);
    }
    /** @brief Prints the usage and returns false on unknown options or --help. */
    bool check(const char *usage) const;

private:
    QMap<QString, QString> m_values;
    QStringList m_known;
    QStringList m_bad;
};

qint64 monoNs();

/** @brief The value below which @p fraction of @p values lie (nearest rank); 0 when empty. */
double percentile(std::vector<double> values, double fraction);

double maxOf(const std::vector<double> &values);

/** @brief Resident memory of this process in MiB. */
double rssMiB();

/** @brief Bytes the allocator has handed out and not got back (exact, unlike RSS). */
double heapBytes();

QString loadAverage();

/**
 * CPU time of this process by thread, from /proc (nanoseconds on the CPU). The virtual module
 * runs in this process too; its thread is kept apart so the figures are the program's own.
 */
struct CpuSample
{
    double programS = 0; ///< every thread but the virtual module's
    double moduleS = 0;
    double guiS = 0; ///< the main thread
    double workerS = 0; ///< the serial worker's and the export worker's threads
    double timerS = 0; ///< the periodic timers' threads
};

/** @brief Thread ids of this process. */
QStringList taskIds();

/** The virtual module's thread: the one that SimServer::start() added (see Rig::open). */
extern QString g_moduleTid;

CpuSample cpuSample();

qint64 threadCpuNs();

/**
 * Delay of a 10 ms single-shot timer in the GUI thread, re-armed at every shot: how long an
 * operator's click would wait for the window to react. Beside each delay it notes how much of
 * the wait the GUI thread spent running; the rest it waited for a core (other programs).
 */
class Probe : public QObject
{
public:
    explicit Probe(int periodMs = 10);
    void start() { arm(); }
    void stop() { m_timer.stop(); }
    const std::vector<double> &delaysMs() const { return m_delaysMs; }
    /** @brief Per shot: the part of the delay the GUI thread was running (at most the delay). */
    const std::vector<double> &busyMs() const { return m_busyMs; }

private:
    void arm()
    {
        m_armedNs = monoNs();
        m_armedCpuNs = threadCpuNs();
        m_timer.start(m_periodMs);
    }
    QTimer m_timer;
    int m_periodMs;
    qint64 m_armedNs = 0;
    qint64 m_armedCpuNs = 0;
    std::vector<double> m_delaysMs;
    std::vector<double> m_busyMs;
};

/** Debug messages are counted, not printed: 880 lines a second would time the terminal. */
extern std::atomic<quint64> g_debugMessages;

extern bool g_printDebug;

void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &text);

/** @brief Runs the event loop (sleeping while idle, as exec() does) until @p done or timeout. */
void waitUntil(const std::function<bool()> &done, int timeoutMs);

/** @brief Runs the event loop for @p ms. */
void spin(int ms);

/** The window opened on a virtual module, as an operator would: pick the port, the rate, open. */
class Rig
{
public:
    Rig();
    ~Rig();

    bool open(const sim::ServerOptions &options, bool showChart);

    /** @brief Splitter counters of the worker, read in its own thread. */
    core::rx::Counters workerCounters();

    sim::SimServer server;
    std::unique_ptr<Widget> window;
};

/** One continuous run at wire speed and what it showed. */
struct ContinuousConfig
{
    int baud = 115200;
    int chunkMs = 0;
    double seconds = 60;
    double reportEveryS = 0; ///< progress lines (0: none)
    bool showChart = true;
    bool chinese = false; ///< the window starts in English
};

struct ContinuousResult
{
    bool ok = false;
    double seconds = 0;
    quint64 sent = 0;
    quint64 appended = 0;
    qint64 lost = 0;
    bool distancesMatch = false;
    core::rx::Counters splitter;
    int moduleStalls = 0; ///< gaps over kTailLifeMs between two replies of the simulator
    double longestGapMs = 0;
    double programCpuS = 0;
    double guiCpuS = 0;
    double workerCpuS = 0;
    double timerCpuS = 0;
    double moduleCpuS = 0;
    std::vector<double> probeMs;
    std::vector<double> probeBusyMs;
    double linesPerReply = 0; ///< log lines per reply, seen before the log reached its limit
    double rssStartMiB = 0;
    double rssEndMiB = 0;
    double heapStart = 0;
    double heapEnd = 0;
    qsizetype logBlocks = 0;
};

/**
 * @brief The run's settings from the command line: --seconds (default @p seconds), --baud,
 * --report-every (default @p reportEveryS); the other fields keep their defaults.
 */
ContinuousConfig continuousConfig(Args &args, double seconds, double reportEveryS);

/** @brief Theoretical replies per second of 13-byte measurement replies at @p baud. */
double wireLimit(int baud);

/**
 * @brief Starts continuous measurement from the window, lets it run, stops it with the window's
 * button and waits until every reply that left the module has been dealt with. The window
 * stays open in @p rig for the caller to look at.
 */
ContinuousResult runContinuous(const ContinuousConfig &cfg, Rig *rig);

void printContinuous(const ContinuousConfig &cfg, const ContinuousResult &r);

} // namespace benchrig
