// MyTimer: periodic millisecond timer whose timeout() comes from a timer thread of its own.
#include "io/mytimer.h"

#ifdef Q_OS_WIN

#include <windows.h>

#include <mmsystem.h>

#ifdef _MSC_VER
#pragma comment(lib, "winmm.lib")
#endif

// The multimedia timer calls this on its own thread every period; user carries the MyTimer.
void CALLBACK PeriodCycle(UINT timerId, UINT, DWORD_PTR user, DWORD_PTR, DWORD_PTR)
{
    Q_UNUSED(timerId)
    emit reinterpret_cast<MyTimer *>(user)->timeout();
}

MyTimer::MyTimer(QObject *parent)
    : QObject(parent)
    , m_id(0)
{
}

MyTimer::~MyTimer()
{
    stop();
}

void MyTimer::start(int time)
{
    // A second timeSetEvent would leave the first one running with nobody able to kill it.
    stop();
    if (time <= 0 || time > kMaxPeriodMs)
        return;
    m_id = int(timeSetEvent(
        UINT(time), 1, PeriodCycle, DWORD_PTR(this), TIME_PERIODIC | TIME_KILL_SYNCHRONOUS));
}

void MyTimer::stop()
{
    if (m_id != 0) {
        // TIME_KILL_SYNCHRONOUS: no callback of this timer runs once this returns.
        timeKillEvent(UINT(m_id));
        m_id = 0;
    }
}

#else // not Q_OS_WIN

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifdef Q_OS_LINUX
#include <pthread.h>
#include <sys/prctl.h>
#endif

using Clock = std::chrono::steady_clock;

// State shared by the owner and the timer thread; every field is guarded by mutex.
struct MyTimer::Engine
{
    std::mutex mutex;
    std::condition_variable wake; ///< the timer thread sleeps on it
    std::condition_variable idle; ///< stop() waits on it for an emission to end
    std::thread thread;
    std::thread::id threadId;
    MyTimer *owner = nullptr;
    bool quit = false;
    bool armed = false;
    bool emitting = false;
    quint64 generation = 0; ///< bumped by every start/stop so a sleeper knows its deadline is stale
    Clock::time_point next;
    Clock::duration period {};
};

namespace {

int newTimerId()
{
    static std::atomic<int> counter { 0 };
    int id = 0;
    while (id == 0)
        id = (counter.fetch_add(1, std::memory_order_relaxed) + 1) & 0x7FFFFFFF;
    return id;
}

} // namespace

void MyTimer::runEngine(std::shared_ptr<Engine> e)
{
#ifdef Q_OS_LINUX
    pthread_setname_np(pthread_self(), "MyTimer");
    // The default 50 us timer slack is wasted on a 1 ms timer: wake as close to the deadline as
    // the kernel can.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
    std::unique_lock<std::mutex> lock(e->mutex);
    while (!e->quit) {
        if (!e->armed) {
            e->wake.wait(lock);
            continue;
        }
        const quint64 generation = e->generation;
        const Clock::time_point due = e->next;
        // Sleep to the absolute deadline, so the wake-up latency of one tick never shifts the
        // following ones.
        const bool interrupted = e->wake.wait_until(
            lock, due, [&] { return e->quit || !e->armed || e->generation != generation; });
        if (interrupted)
            continue;

        MyTimer *owner = e->owner;
        e->emitting = true;
        lock.unlock();
        emit owner->timeout();
        lock.lock();
        e->emitting = false;
        e->idle.notify_all();

        // A receiver connected directly may have stopped or restarted the timer meanwhile.
        if (e->armed && e->generation == generation) {
            e->next = due + e->period;
            const Clock::time_point now = Clock::now();
            if (e->next <= now) {
                // More than a period late (a stalled machine): skip the missed ticks instead of
                // firing them in a burst, and stay on the original grid.
                const auto missed = (now - e->next) / e->period + 1;
                e->next += missed * e->period;
            }
        }
    }
}

MyTimer::MyTimer(QObject *parent)
    : QObject(parent)
    , m_id(0)
{
}

MyTimer::~MyTimer()
{
    stop();
    if (!m_engine)
        return;
    {
        std::lock_guard<std::mutex> lock(m_engine->mutex);
        m_engine->quit = true;
        m_engine->owner = nullptr;
        m_engine->wake.notify_all();
    }
    // Deleted from a slot connected directly to timeout(): we are the timer thread, which ends by
    // itself once the emission returns.
    if (std::this_thread::get_id() == m_engine->threadId)
        m_engine->thread.detach();
    else
        m_engine->thread.join();
}

void MyTimer::start(int time)
{
    stop();
    if (time <= 0 || time > kMaxPeriodMs)
        return;
    if (!m_engine) {
        m_engine = std::make_shared<Engine>();
        m_engine->owner = this;
        std::lock_guard<std::mutex> lock(m_engine->mutex);
        m_engine->thread = std::thread(&MyTimer::runEngine, m_engine);
        m_engine->threadId = m_engine->thread.get_id();
    }
    std::lock_guard<std::mutex> lock(m_engine->mutex);
    m_engine->period = std::chrono::milliseconds(time);
    m_engine->next = Clock::now() + m_engine->period;
    m_engine->armed = true;
    ++m_engine->generation;
    m_engine->wake.notify_all();
    m_id = newTimerId();
}

void MyTimer::stop()
{
    if (m_engine) {
        std::unique_lock<std::mutex> lock(m_engine->mutex);
        m_engine->armed = false;
        ++m_engine->generation;
        m_engine->wake.notify_all();
        // Synchronous like TIME_KILL_SYNCHRONOUS: wait for an emission in progress, unless it is
        // this very call that runs inside it.
        if (std::this_thread::get_id() != m_engine->threadId)
            m_engine->idle.wait(lock, [this] { return !m_engine->emitting; });
    }
    m_id = 0;
}

#endif // Q_OS_WIN
