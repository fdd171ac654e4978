// MyTimer: periodic millisecond timer whose timeout() comes from a timer thread of its own.
#pragma once

#include <QObject>

#include <memory>

/**
 * Periodic timer with 1 ms resolution. timeout() is emitted from a timer thread, never from the
 * owner's thread, so receivers connect automatically and run queued in their own threads.
 * start(), stop() and isActive() belong to the owner's thread; stop() may also be called from a
 * slot connected directly to timeout(). Once stop() has returned, no timeout() of this timer is
 * emitted any more (one that was already queued is still delivered). start() on a running timer
 * restarts it, and a period it refuses (0, negative, beyond kMaxPeriodMs) leaves it stopped.
 * On Windows the multimedia timer (timeSetEvent) does the work; elsewhere a thread that sleeps to
 * absolute deadlines on the monotonic clock.
 */
class MyTimer : public QObject
{
    Q_OBJECT
public:
    /** Longest period accepted; the Windows multimedia timer refuses more. */
    static constexpr int kMaxPeriodMs = 1000000;

    explicit MyTimer(QObject *parent = nullptr);
    ~MyTimer() override;

    bool isActive() const { return m_id != 0; }

signals:
    void timeout();

public slots:
    void start(int time);
    void stop();

private:
    int m_id; ///< identifier of the running system timer, 0 while stopped

#ifndef Q_OS_WIN
    struct Engine;
    static void runEngine(std::shared_ptr<Engine> engine);
    std::shared_ptr<Engine> m_engine; ///< shared with the timer thread, which may outlive us
#endif
};
