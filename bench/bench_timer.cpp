// Measures MyTimer's period error at 1, 5 and 20 ms, idle and next to a busy-loop thread.
#include "io/mytimer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Figures
{
    double mean = 0;
    double p99 = 0;
    double max = 0;
};

Figures summarize(std::vector<double> values)
{
    Figures f;
    if (values.empty())
        return f;
    std::sort(values.begin(), values.end());
    double sum = 0;
    for (double v : values)
        sum += v;
    f.mean = sum / double(values.size());
    f.p99 = values[std::min(values.size() - 1, size_t(std::ceil(values.size() * 0.99)) - 1)];
    f.max = values.back();
    return f;
}

// A receiver in a thread of its own, reached queued as every real user is.
class Receiver : public QObject
{
public:
    QElapsedTimer *clock = nullptr;
    std::mutex mutex;
    std::vector<qint64> deliveredNs;
    void onTick()
    {
        std::lock_guard<std::mutex> lock(mutex);
        deliveredNs.push_back(clock->nsecsElapsed());
    }
};

struct Run
{
    Figures periodError; ///< |interval between emissions - period|, ms
    Figures lateness; ///< emission time - due time (start + n * period), ms
    Figures queuedDelay; ///< delivery in the receiver's thread - emission, ms
    qint64 skipped = 0; ///< ticks left out after a stall of more than a period
};

Run measure(int periodMs, int ticks)
{
    MyTimer timer;
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> emittedNs;
    emittedNs.reserve(size_t(ticks) + 16);
    std::atomic<int> count { 0 };

    QThread receiverThread;
    Receiver receiver;
    receiver.clock = &clock;
    receiver.moveToThread(&receiverThread);
    receiverThread.start();

    QObject::connect(
        &timer, &MyTimer::timeout, &timer,
        [&] {
            if (count < ticks) {
                emittedNs.push_back(clock.nsecsElapsed());
                ++count;
            }
        },
        Qt::DirectConnection);
    QObject::connect(&timer, &MyTimer::timeout, &receiver, [&receiver] { receiver.onTick(); });

    const qint64 startNs = clock.nsecsElapsed();
    timer.start(periodMs);
    while (count < ticks)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    timer.stop();
    receiverThread.quit();
    receiverThread.wait();

    const double periodNs = periodMs * 1e6;
    std::vector<double> periodError;
    std::vector<double> lateness;
    std::vector<double> queued;
    qint64 lastSlot = 0;
    for (size_t k = 0; k < emittedNs.size(); ++k) {
        // Tick n is due at start + n * period; a tick more than a period late is followed by
        // the next due one, not by the missed ones, so find the slot this tick filled.
        const qint64 sinceStart = emittedNs[k] - startNs;
        const qint64 slot = std::max<qint64>(1, qint64(sinceStart / periodNs));
        lateness.push_back((sinceStart - double(slot) * periodNs) / 1e6);
        lastSlot = slot;
        if (k > 0)
            periodError.push_back(
                std::abs(double(emittedNs[k] - emittedNs[k - 1]) - periodNs) / 1e6);
        if (k < receiver.deliveredNs.size())
            queued.push_back((receiver.deliveredNs[k] - emittedNs[k]) / 1e6);
    }
    const qint64 skipped = lastSlot - qint64(emittedNs.size());
    return { summarize(periodError), summarize(lateness), summarize(queued), skipped };
}

void print(const char *load, int periodMs, int ticks, const Run &r)
{
    std::printf(
        "%-6s %4d ms %6d | %7.3f %7.3f %7.3f | %7.3f %7.3f %7.3f | %7.3f %7.3f %7.3f | %lld\n",
        load, periodMs, ticks, r.periodError.mean, r.periodError.p99, r.periodError.max,
        r.lateness.mean, r.lateness.p99, r.lateness.max, r.queuedDelay.mean, r.queuedDelay.p99,
        r.queuedDelay.max, r.skipped);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int ticks = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    const int periods[] = { 1, 5, 20 };

    std::printf("MyTimer, %d ticks per run, figures in ms (mean p99 max)\n", ticks);
    std::printf("%-6s %7s %6s | %-23s | %-23s | %-23s | %s\n", "load", "period", "ticks",
        "period error", "lateness vs schedule", "queued delivery delay", "skipped");
    for (int period : periods)
        print("idle", period, ticks, measure(period, ticks));

    // One thread spinning flat out, like a busy build or a hung plug-in next to the program.
    std::atomic<bool> spin { true };
    std::thread load([&spin] {
        volatile quint64 x = 0;
        while (spin.load(std::memory_order_relaxed))
            x = x + 1;
    });
    for (int period : periods)
        print("loaded", period, ticks, measure(period, ticks));
    spin = false;
    load.join();
    return 0;
}
