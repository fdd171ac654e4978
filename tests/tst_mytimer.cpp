// MyTimer: refusal of bad periods, the timer thread, synchronous stop and no catch-up bursts.
#include "mytimer.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

// Records emissions as they happen in the timer thread (a direct connection).
struct TickLog
{
    std::atomic<int> count { 0 };
    std::atomic<int> inside { 0 }; ///< emissions running right now
    std::atomic<bool> fromOwnerThread { false };
    std::mutex mutex;
    QList<qint64> startsNs;

    void attach(MyTimer *timer, QElapsedTimer *clock = nullptr,
        std::chrono::microseconds busy = std::chrono::microseconds(0))
    {
        QThread *owner = QThread::currentThread();
        QObject::connect(
            timer, &MyTimer::timeout, timer,
            [this, owner, clock, busy] {
                ++inside;
                if (QThread::currentThread() == owner)
                    fromOwnerThread = true;
                if (clock) {
                    std::lock_guard<std::mutex> lock(mutex);
                    startsNs << clock->nsecsElapsed();
                }
                if (busy.count() > 0)
                    std::this_thread::sleep_for(busy);
                ++count;
                --inside;
            },
            Qt::DirectConnection);
    }
};

} // namespace

class TestMyTimer : public QObject
{
    Q_OBJECT
private slots:
    void refusesPeriod_data();
    void refusesPeriod();
    void stopOnInactiveTimer();
    void ticksComeFromTimerThread();
    void ticksReachReceiverQueued();
    void noEmissionAfterStopReturns();
    void stopFromDirectlyConnectedSlot();
    void destroyWhileRunning();
    void lateTickIsNotFollowedByBurst();
};

void TestMyTimer::refusesPeriod_data()
{
    QTest::addColumn<int>("period");
    QTest::addColumn<bool>("wasRunning");
    QTest::newRow("zero") << 0 << false;
    QTest::newRow("minus-one") << -1 << false;
    QTest::newRow("int-min") << std::numeric_limits<int>::min() << false;
    QTest::newRow("beyond-multimedia-range") << MyTimer::kMaxPeriodMs + 1 << false;
    QTest::newRow("zero-while-running-stops-it") << 0 << true;
}

void TestMyTimer::refusesPeriod()
{
    QFETCH(int, period);
    QFETCH(bool, wasRunning);
    MyTimer timer;
    TickLog log;
    log.attach(&timer);
    if (wasRunning) {
        timer.start(1);
        QTRY_VERIFY(log.count > 0);
    }
    timer.start(period);
    QVERIFY(!timer.isActive());
    const int seen = log.count;
    QTest::qWait(30);
    QCOMPARE(log.count.load(), seen);
}

void TestMyTimer::stopOnInactiveTimer()
{
    MyTimer timer;
    timer.stop();
    QVERIFY(!timer.isActive());
    timer.start(5);
    QVERIFY(timer.isActive());
    timer.stop();
    timer.stop();
    QVERIFY(!timer.isActive());
}

void TestMyTimer::ticksComeFromTimerThread()
{
    MyTimer timer;
    TickLog log;
    log.attach(&timer);
    timer.start(2);
    QTRY_VERIFY(log.count >= 3);
    timer.stop();
    QVERIFY(!log.fromOwnerThread);
}

void TestMyTimer::ticksReachReceiverQueued()
{
    // The way every user connects: automatically, so the slot runs in the receiver's thread.
    MyTimer timer;
    QObject receiver;
    int ticks = 0;
    bool inReceiverThread = true;
    connect(&timer, &MyTimer::timeout, &receiver, [&] {
        ++ticks;
        inReceiverThread = inReceiverThread && QThread::currentThread() == receiver.thread();
    });
    timer.start(5);
    QTRY_VERIFY(ticks >= 3);
    timer.stop();
    QVERIFY(inReceiverThread);
}

// Start and stop a 1 ms timer at random moments while its receiver is slow: once stop() returns
// no emission may be running or start later.
void TestMyTimer::noEmissionAfterStopReturns()
{
    MyTimer timer;
    TickLog log;
    log.attach(&timer, nullptr, std::chrono::microseconds(300));
    QRandomGenerator rng(42);
    int violations = 0;
    for (int round = 0; round < 300; ++round) {
        timer.start(1);
        std::this_thread::sleep_for(std::chrono::microseconds(rng.bounded(2500)));
        timer.stop();
        if (log.inside != 0)
            ++violations;
        const int seen = log.count;
        std::this_thread::sleep_for(std::chrono::microseconds(rng.bounded(1500)));
        if (log.count != seen || log.inside != 0)
            ++violations;
    }
    QCOMPARE(violations, 0);
    QVERIFY(log.count > 0);
}

void TestMyTimer::stopFromDirectlyConnectedSlot()
{
    MyTimer timer;
    std::atomic<int> ticks { 0 };
    connect(
        &timer, &MyTimer::timeout, &timer,
        [&] {
            timer.stop(); // must neither deadlock nor let another tick through
            ++ticks;
        },
        Qt::DirectConnection);
    timer.start(1);
    QTRY_VERIFY(ticks > 0);
    QTest::qWait(20);
    QCOMPARE(ticks.load(), 1);
    QVERIFY(!timer.isActive());
}

void TestMyTimer::destroyWhileRunning()
{
    TickLog log;
    auto *timer = new MyTimer;
    log.attach(timer, nullptr, std::chrono::microseconds(200));
    timer->start(1);
    QTRY_VERIFY(log.count >= 3);
    delete timer;
    QCOMPARE(log.inside.load(), 0);
    const int seen = log.count;
    QTest::qWait(20);
    QCOMPARE(log.count.load(), seen);
}

void TestMyTimer::lateTickIsNotFollowedByBurst()
{
    // The first tick stalls for three and a half periods. The missed ticks are skipped, not
    // fired back to back once the stall ends.
    MyTimer timer;
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> stallEndNs { 0 };
    std::mutex mutex;
    QList<qint64> startsNs;
    connect(
        &timer, &MyTimer::timeout, &timer,
        [&] {
            {
                std::lock_guard<std::mutex> lock(mutex);
                startsNs << clock.nsecsElapsed();
            }
            if (stallEndNs == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(35));
                stallEndNs = clock.nsecsElapsed();
            }
        },
        Qt::DirectConnection);
    timer.start(10);
    QTRY_VERIFY(stallEndNs != 0);
    QTest::qWait(60);
    timer.stop();
    std::lock_guard<std::mutex> lock(mutex);
    int soonAfterStall = 0;
    for (qint64 t : startsNs)
        if (t >= stallEndNs && t < stallEndNs + 1000000)
            ++soonAfterStall;
    QVERIFY2(soonAfterStall <= 1, qPrintable(QString::number(soonAfterStall)));
    QVERIFY(startsNs.size() >= 3);
}

QTEST_GUILESS_MAIN(TestMyTimer)
#include "tst_mytimer.moc"
