// MyTimer: start, stop and restart, refused periods, no tick once stop() has returned, and ticks
// delivered in the receiver's thread. Timing precision is the benchmarks' business.
#include "io/mytimer.h"

#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Counts emissions in the timer thread itself (a direct connection), so no queued tick blurs
// what happened when. A slow receiver counts at the end of its work: an emission still running
// when stop() returns shows as a late count.
struct Ticks
{
    std::atomic<int> count { 0 };

    explicit Ticks(MyTimer *timer, int busyUs = 0)
    {
        QObject::connect(
            timer, &MyTimer::timeout, timer,
            [this, busyUs] {
                std::this_thread::sleep_for(std::chrono::microseconds(busyUs));
                ++count;
            },
            Qt::DirectConnection);
    }
};

} // namespace

class TestTimer : public QObject
{
    Q_OBJECT
private slots:

    void periods_data()
    {
        QTest::addColumn<int>("before"); // period it already runs with, 0: stopped
        QTest::addColumn<int>("period");
        QTest::addColumn<bool>("accepted");
        const int max = MyTimer::kMaxPeriodMs;
        QTest::newRow("zero-refused") << 0 << 0 << false;
        QTest::newRow("minus-one-refused") << 0 << -1 << false;
        QTest::newRow("one-beyond-max-refused") << 0 << max + 1 << false;
        QTest::newRow("zero-while-running-stops-it") << 1 << 0 << false;
        QTest::newRow("one-ms-ticks-until-stopped") << 0 << 1 << true;
        QTest::newRow("restart-long-to-short-ticks-at-once") << max << 1 << true;
        QTest::newRow("restart-short-to-max-leaves-nothing-behind") << 1 << max << true;
    }

    void periods()
    {
        QFETCH(int, before);
        QFETCH(int, period);
        QFETCH(bool, accepted);
        MyTimer timer;
        Ticks ticks(&timer);
        if (before > 0)
            timer.start(before);
        if (before == 1)
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count > 0, 5000);
        timer.start(period);
        QCOMPARE(timer.isActive(), accepted);
        if (period == 1) {
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count >= 3, 5000); // periodic, not single-shot
            timer.stop();
            QVERIFY(!timer.isActive());
        }
        const int seen = ticks.count;
        QTest::qWait(30);
        QCOMPARE(ticks.count.load(), seen);
    }

    void noTickAfterStopReturns()
    {
        // A 1 ms timer with a slow receiver, stopped at random moments.
        MyTimer timer;
        Ticks ticks(&timer, 300);
        QRandomGenerator rng(7);
        int late = 0;
        for (int round = 0; round < 200; ++round) {
            timer.start(1);
            std::this_thread::sleep_for(std::chrono::microseconds(rng.bounded(2500)));
            timer.stop();
            const int seen = ticks.count;
            std::this_thread::sleep_for(std::chrono::microseconds(rng.bounded(1500)));
            late += ticks.count - seen;
        }
        QCOMPARE(late, 0);
        QVERIFY(ticks.count > 0);
    }

    void ticksArriveInReceiverThread()
    {
        // The receiver in a thread of its own, as the serial worker is.
        QThread thread;
        QObject receiver;
        receiver.moveToThread(&thread);
        thread.start();
        MyTimer timer;
        std::atomic<int> ticks { 0 }, elsewhere { 0 };
        // Connected the way every user connects: automatically.
        connect(&timer, &MyTimer::timeout, &receiver, [&] {
            ++ticks;
            elsewhere += QThread::currentThread() != receiver.thread();
        });
        timer.start(2);
        QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 5000);
        timer.stop();
        thread.quit();
        thread.wait();
        QCOMPARE(elsewhere.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTimer)
#include "tst_timer.moc"
