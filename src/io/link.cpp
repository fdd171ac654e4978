// Link: one serial worker and its port, for front-ends without a window.
#include "io/link.h"

#include "io/thread_1.h"

#include <QSerialPort>

namespace io {

namespace {
// Longest wait for the port to take the bytes still to be written when it is closed.
constexpr int kFlushMs = 1000;
} // namespace

Link::Link(QObject *parent, Threading threading)
    : QObject(parent)
    , m_port(new QSerialPort())
    , m_worker(new Thread_1(m_port, nullptr))
{
    // Queued even in one thread: a reply handler may close or reopen the port, which must not
    // happen while the worker is still handing up the replies of the same read.
    connect(m_worker, &Thread_1::replyReceived, this, &Link::onReply, Qt::QueuedConnection);
    connect(
        m_worker, &Thread_1::sig_show_send_data, this,
        [this](const QByteArray &frame) { m_lastSent = frame; }, Qt::QueuedConnection);
    connect(
        m_worker, &Thread_1::sig_serialport_state_change, this,
        [this](bool open, const QString &, const QString &reason) { onPortState(open, reason); },
        Qt::QueuedConnection);
    if (threading == Threading::OwnThread) {
        io::runInThread(m_worker, m_port, &m_thread);
    } else {
        // Children go in the order they came: the port first, as in the worker's own thread.
        m_port->setParent(this);
        m_worker->setParent(this);
        io::connectWorker(m_worker, m_port);
    }
    m_replyTimer.setSingleShot(true);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] {
        // After a stall of this thread the timer may fire before replies that were already
        // queued to it: the verdict waits behind them, and any of them cancels it.
        const quint64 armed = m_armed;
        QMetaObject::invokeMethod(
            this,
            [this, armed] {
                if (armed == m_armed)
                    emit noReply();
            },
            Qt::QueuedConnection);
    });
}

Link::~Link()
{
    close();
    m_thread.quit();
    m_thread.wait();
}

void Link::inWorker(const std::function<void()> &work)
{
    if (m_worker->thread() == QThread::currentThread())
        work();
    else
        QMetaObject::invokeMethod(m_worker, work, Qt::BlockingQueuedConnection);
}

bool Link::open(const QString &path, int baud, core::CheckMode checkMode, QString *error)
{
    bool opened = false;
    QString reason;
    // Runs in the worker's thread; the caller waits, so the two locals are safe to fill.
    inWorker([&] {
        m_worker->slot_jiaoyan_mode_chose(core::indexOf(checkMode));
        m_worker->slot_change_serialport(1, path, baud);
        opened = m_port->isOpen();
        reason = m_port->errorString();
    });
    m_open = opened;
    if (!opened && error)
        *error = reason;
    return opened;
}

void Link::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_replyTimer.stop();
    ++m_armed;
    // Waits, and lets the port write out what it still holds (a stop byte, say) before it closes:
    // closing drops unwritten bytes.
    inWorker([this] {
        while (m_port->isOpen() && m_port->bytesToWrite() > 0
            && m_port->waitForBytesWritten(kFlushMs)) { }
        // The close is answered here; its notice would reach a link opened again meanwhile and
        // read there as the line lost.
        const QSignalBlocker quiet(m_worker);
        m_worker->slot_change_serialport(0, QString(), 0);
    });
}

void Link::send(const QByteArray &frame)
{
    QMetaObject::invokeMethod(
        m_worker, [this, frame] { m_worker->slot_send_data_son(frame); }, Qt::QueuedConnection);
}

bool Link::record(const QString &path, QString *error)
{
    bool ok = false;
    inWorker([&] { ok = m_worker->setRecording(path, error); });
    return ok;
}

void Link::expectReply(int timeoutMs)
{
    ++m_armed;
    if (timeoutMs > 0)
        m_replyTimer.start(timeoutMs);
    else
        m_replyTimer.stop();
}

void Link::onPortState(bool open, const QString &reason)
{
    // Open and close are answered in open() and close(); only a failure while open is news.
    if (open || !m_open)
        return;
    m_open = false;
    m_replyTimer.stop();
    emit lost(reason);
}

void Link::onReply(const QByteArray &reply)
{
    m_replyTimer.stop();
    ++m_armed;
    emit replyReceived(reply);
}

} // namespace io
