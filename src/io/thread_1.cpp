// Thread_1: the serial worker that opens, closes, writes and reads the port in a thread of its own.
#include "io/thread_1.h"

#include "core/frames.h"
#include "io/log.h"
#include "io/mytimer.h"
#include "io/recorder.h"

#include <QMetaMethod>
#include <QThread>
#include <QTimer>

#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <termios.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#endif

// Debug and info lines are for whoever turns them on; warnings always show.
Q_LOGGING_CATEGORY(lcIo, "tovandrix.io", QtWarningMsg)

namespace {
// Shown when the port library gives no text, so the window still sees that something failed.
const char kUnknownPortError[] = "serial port error";
} // namespace

void io::connectWorker(Thread_1 *worker, QSerialPort *port)
{
    QObject::connect(port, &QSerialPort::readyRead, worker, &Thread_1::slot_receive_data_son);
}

void io::runInThread(Thread_1 *worker, QSerialPort *port, QThread *thread)
{
    QObject::connect(thread, &QThread::finished, port, &QObject::deleteLater);
    QObject::connect(thread, &QThread::finished, worker, &QObject::deleteLater);
    connectWorker(worker, port);
    worker->moveToThread(thread);
    port->moveToThread(thread);
    thread->start(QThread::InheritPriority);
}

Thread_1::Thread_1(QSerialPort *port, QObject *parent)
    : QObject(parent)
    , serial(port)
    , jiaoyan_mode(0)
    , timer_send(nullptr)
    , m_silence(new QTimer(this))
{
    m_clock.start();
    connect(this, &Thread_1::sig_jiexi_data, this, &Thread_1::slot_jiexi_data);
    timer_send = new MyTimer(nullptr);
    // timeout() comes from the timer thread, so this runs queued in the worker's thread.
    connect(timer_send, &MyTimer::timeout, this, &Thread_1::slot_timer_send);
    // A child, so it moves to the worker's thread with it; single-shot, so no tick is ever left
    // queued behind a restart.
    m_silence->setSingleShot(true);
    m_silence->setTimerType(Qt::PreciseTimer);
    connect(m_silence, &QTimer::timeout, this, &Thread_1::slot_timer_send);
    if (serial) {
        // A vanished adapter (ResourceError) or a line whose other end is gone (a ReadError on
        // every read, thousands a second) is only ever reported here.
        connect(serial, &QSerialPort::errorOccurred, this,
            [this](QSerialPort::SerialPortError error) { onPortError(error); });
    }
}

Thread_1::~Thread_1()
{
    logCounters("worker ends");
    // Stops the timer synchronously, so no tick can reach a deleted worker.
    delete timer_send;
}

void Thread_1::GetCRC(const quint8 *data, int len, quint16 &crc)
{
    const quint16 value = core::protocol::crc16(reinterpret_cast<const char *>(data), qMax(len, 0));
    crc = quint16(((value & 0xFF) << 8) | (value >> 8));
    crc_hex = QStringLiteral("%1").arg(crc, 4, 16, QLatin1Char('0')).toUpper();
}

bool Thread_1::CheckCRC(const quint8 *data, int len)
{
    if (len < 2)
        return false;
    const quint16 received = quint16(data[len - 1] + data[len - 2] * 256);
    quint16 crc = 0;
    GetCRC(data, len - 2, crc);
    return received == crc;
}

void Thread_1::slot_send_data_son(QByteArray data)
{
    QByteArray frame = data;
    if (core::checkModeAt(jiaoyan_mode) == core::CheckMode::Crc) {
        frame = core::protocol::appendCrc(data);
        crc_hex = core::frames::toPackedHex(frame.right(2));
    }
    // A frame "sent" while the port is closed still goes to the log; only the wire misses it.
    if (serial && serial->isOpen()) {
        // The answer to a request need not be like the replies before it.
        m_streamed = -1;
        if (m_readMinimum > 1 && buffer_receive.size() == m_taken)
            setReadMinimum(1);
        serial->write(frame);
    } else
        qCDebug(lcIo) << "port closed, frame not written:" << core::frames::toHexText(frame);
    if (m_recorder && serial && serial->isOpen())
        m_recorder->add(core::replay::Direction::Sent, frame, m_clock.nsecsElapsed() / 1000);
    emit sig_show_send_data(frame);
}

void Thread_1::slot_receive_data_son()
{
    if (timer_send->isActive())
        timer_send->stop();
    if (buffer_receive.isEmpty()) {
        // Bytes read before the kept tail was judged count as come in time, even when its
        // deadline has passed: the worker may have been kept off a core while they waited in
        // the port, and the tail's age only counts while the worker can look.
        const qint64 now = m_clock.elapsed();
        m_gatherArrivedMs = m_tailDueMs >= 0 ? qMin(now, m_tailDueMs - 1) : now;
    }
    const QByteArray read = serial->readAll();
    if (m_recorder)
        m_recorder->add(core::replay::Direction::Received, read, m_clock.nsecsElapsed() / 1000);
    buffer_receive.append(read);
    // A reply whose cut no later byte can change goes up now, not after the silence.
    const bool checking = takeMode();
    if (checking)
        handOver(m_splitter.early(buffer_receive, m_taken));
    if (buffer_receive.size() >= core::rx::kStreamLimit) {
        // Replies streaming back to back leave no silence; hand up what is complete so that
        // neither the buffer nor the delay grows without bound.
        if (checking)
            handOver(
                m_splitter.drain(buffer_receive, m_clock.elapsed(), m_gatherArrivedMs, &m_taken));
        else
            buffer_receive.clear();
        m_tailDueMs = -1;
        m_gatherArrivedMs = m_clock.elapsed();
    }
    awaitRest(checking);
}

void Thread_1::awaitRest(bool checking)
{
    // The module writes a frame at the line's pace; once its head is read, its length is known
    // and the rest can be waited for in the system, which wakes this thread once instead of for
    // every byte. The silence that ends a gather is then timed from when the rest is due.
    int need = 1;
    if (checking && !m_restOverdue) {
        const auto *p = reinterpret_cast<const quint8 *>(buffer_receive.constData()) + m_taken;
        const qsizetype have = buffer_receive.size() - m_taken;
        int expected = have > 0 ? core::protocol::shortestLength(p, have, m_splitter.mode()) : 0;
        // Replies that come unasked (a continuous run) come alike: the next one is as long as the
        // last, so the system may wait for all of it. Should it be shorter after all, the wait
        // ends when the rest was due.
        if (m_streamed > 0 && (have == 0 || (expected > 0 && p[0] == m_lastHead)))
            expected = qMax(expected, m_lastLength);
        if (expected > have)
            need = int(qMin<qsizetype>(expected - have, kMaxReadMinimum));
    }
    need = setReadMinimum(need);
    const qint64 restMs = need > 1
        ? (qint64(need) * 10 * 1000 + serial->baudRate() - 1) / qMax(serial->baudRate(), 1) + 1
        : 0;
    m_silence->start(int(kSilenceMs + restMs));
}

int Thread_1::setReadMinimum(int bytes)
{
#ifdef Q_OS_LINUX
    // A read of the terminal is ready once this many bytes wait (VMIN with VTIME 0); the port is
    // non-blocking, so a read still returns whatever is there.
    if (bytes == m_readMinimum || !serial || !serial->isOpen())
        return m_readMinimum;
    // The port's settings are read once when it opens and set with one call: the C library's
    // tcsetattr() reads them back after every change, three system calls a frame for nothing.
    termios t {};
    if (m_lineSettings.size() != sizeof t) {
        if (::ioctl(int(serial->handle()), TCGETS, &t) != 0)
            return m_readMinimum;
        m_lineSettings = QByteArray(reinterpret_cast<const char *>(&t), sizeof t);
    }
    std::memcpy(&t, m_lineSettings.constData(), sizeof t);
    t.c_cc[VMIN] = cc_t(bytes);
    t.c_cc[VTIME] = 0;
    if (::ioctl(int(serial->handle()), TCSETS, &t) == 0)
        m_readMinimum = bytes;
    return m_readMinimum;
#else
    Q_UNUSED(bytes);
    return 1;
#endif
}

void Thread_1::slot_change_serialport(int state, QString portname, int botelv)
{
    if (state == 1) {
        abandonReceive();
        serial->setPortName(portname);
        serial->setBaudRate(botelv, QSerialPort::AllDirections);
        serial->setParity(QSerialPort::NoParity);
        serial->setDataBits(QSerialPort::Data8);
        serial->setStopBits(QSerialPort::OneStop);
        serial->open(QIODevice::ReadWrite);
        if (!serial->isOpen()) {
            QString error = serial->errorString();
            if (error.isEmpty())
                error = QString::fromLatin1(kUnknownPortError);
            qCDebug(lcIo) << "open failed:" << portname << error;
            emit sig_serialport_state_change(false, serial->portName(), error);
            return;
        }
        qCDebug(lcIo) << "opened" << serial->portName() << "at" << botelv;
        m_readMinimum = 0;
        m_lineSettings.clear();
        preferLowLatency();
        emit sig_serialport_state_change(true, serial->portName(), QString());
        return;
    }
    // Closing a closed port would only raise NotOpenError; the answer is the same either way.
    if (serial->isOpen())
        serial->close();
    abandonReceive();
    logCounters("port closed");
    emit sig_serialport_state_change(false, serial->portName(), QString());
}

void Thread_1::slot_jiexi_data(QByteArray string)
{
    const core::rx::Counters before = m_splitter.counters();
    const qint64 now = m_clock.elapsed();
    if (takeMode())
        handOver(m_splitter.feed(string, now, string.isEmpty() ? now : m_gatherArrivedMs, m_taken));
    m_tailDueMs = -1;
    m_taken = 0;
    buffer_receive.clear();
    const core::rx::Counters &after = m_splitter.counters();
    if (after.split != before.split || after.dropped != before.dropped
        || after.joined != before.joined)
        logCounters("reply repaired or dropped");
}

void Thread_1::slot_jiaoyan_mode_chose(int index)
{
    jiaoyan_mode = index;
}

void Thread_1::slot_timer_send()
{
    // The tail timer is periodic and its ticks arrive queued: one posted before bytes came must
    // not cut the reply being gathered short. While a silence is timed, its end does the judging.
    if (m_silence->isActive())
        return;
    if (m_readMinimum > 1) {
        // The rest of a frame did not come in time (a byte lost, a reply cut short): what did
        // come is read as usual, and this gather waits for no more rests.
        setReadMinimum(1);
        m_restOverdue = true;
        if (portHoldsBytes()) {
            m_silence->start(kSilenceMs);
            return;
        }
    }
    // A kept tail is about to be given up: first read what the port holds. Its rest may have
    // been waiting there while the worker was off a core; the port's notifier hands it over as
    // soon as this returns (reading it here instead races the notifier into a read error), and
    // bytes read before the tail is judged count as come in time.
    if (buffer_receive.isEmpty() && m_tailDueMs >= 0 && portHoldsBytes()) {
        if (serial->bytesAvailable() > 0)
            slot_receive_data_son();
        else
            m_silence->start(kSilenceMs);
        return;
    }
    emit sig_jiexi_data(buffer_receive);
    m_restOverdue = false;
    timer_send->stop();
    armTailDeadline();
}

bool Thread_1::setRecording(const QString &path, QString *error)
{
    QString failed;
    if (m_recorder) {
        m_recorder->close();
        failed = m_recorder->errorString();
        delete m_recorder;
        m_recorder = nullptr;
    }
    if (!path.isEmpty()) {
        auto *recorder = new io::Recorder(this);
        const int baud = serial && serial->isOpen() ? int(serial->baudRate()) : 0;
        if (recorder->open(path, { baud, jiaoyan_mode }, m_clock.nsecsElapsed() / 1000, &failed))
            m_recorder = recorder;
        else
            delete recorder;
    }
    if (error)
        *error = failed;
    return failed.isEmpty();
}

bool Thread_1::takeMode()
{
    // A check mode that names no protocol accepts nothing: what arrives is dropped.
    const std::optional<core::CheckMode> mode = core::checkModeAt(jiaoyan_mode);
    if (mode)
        m_splitter.setMode(*mode);
    else
        m_splitter.reset();
    return mode.has_value();
}

void Thread_1::armTailDeadline()
{
    // A partial frame is being kept: wake once more after its lifetime to drop it if nothing
    // came to complete it.
    if (!m_splitter.hasTail())
        return;
    m_tailDueMs = m_splitter.tailSinceMs() + core::rx::kTailLifeMs + 1;
    timer_send->start(int(qMax<qint64>(1, m_tailDueMs - m_clock.elapsed())));
}

void Thread_1::preferLowLatency()
{
#ifdef Q_OS_LINUX
    // USB adapters hold received bytes up to their latency timer (16 ms by default) unless the
    // driver is asked for low latency. A device that refuses, or a pseudo-terminal, works as is.
    serial_struct s {};
    const int fd = int(serial->handle());
    if (::ioctl(fd, TIOCGSERIAL, &s) == 0 && !(s.flags & ASYNC_LOW_LATENCY)) {
        s.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &s) != 0)
            qCDebug(lcIo) << "low latency refused:" << serial->portName();
    }
#endif
}

bool Thread_1::portHoldsBytes() const
{
    // The port object reads the system's buffer only when its notifier gets its turn in this
    // thread, so ask the system directly.
    if (!serial || !serial->isOpen())
        return false;
    if (serial->bytesAvailable() > 0)
        return true;
#ifdef Q_OS_WIN
    COMSTAT status = {};
    DWORD errors = 0;
    return ClearCommError(serial->handle(), &errors, &status) && status.cbInQue > 0;
#else
    int waiting = 0;
    return ::ioctl(serial->handle(), FIONREAD, &waiting) == 0 && waiting > 0;
#endif
}

void Thread_1::handOver(const QList<QByteArray> &replies)
{
    // Front-ends take the bytes; the hex-text form is made only for a listener that asks for it.
    const bool textListened
        = isSignalConnected(QMetaMethod::fromSignal(&Thread_1::sig_send_data_son));
    for (const QByteArray &reply : replies) {
        ++m_streamed;
        m_lastLength = int(reply.size());
        m_lastHead = quint8(reply.at(0));
        emit replyReceived(reply);
        if (textListened)
            emit sig_send_data_son(core::frames::toPackedHex(reply));
    }
}

void Thread_1::onPortError(QSerialPort::SerialPortError error)
{
    if (error == QSerialPort::NoError || !serial->isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::PermissionError:
    case QSerialPort::DeviceNotFoundError:
        break;
    default:
        qCDebug(lcIo) << "port error ignored:" << error << serial->errorString();
        return;
    }
    // The device is gone: close at the first error (the port would otherwise repeat it on every
    // read) and report it like a failed open, so the window warns once and shows the port closed.
    QString text = serial->errorString();
    if (text.isEmpty())
        text = QString::fromLatin1(kUnknownPortError);
    const QString name = serial->portName();
    qCDebug(lcIo) << "port lost:" << name << error << text;
    // The line's end is as good as a silence: the replies that came whole before it are handed
    // up, not thrown away with the port (a late silence tick would otherwise lose the last one).
    if (!buffer_receive.isEmpty()) {
        m_silence->stop();
        slot_jiexi_data(buffer_receive);
    }
    abandonReceive();
    serial->close();
    emit sig_serialport_state_change(false, name, text);
}

void Thread_1::abandonReceive()
{
    timer_send->stop();
    m_silence->stop();
    buffer_receive.clear();
    m_taken = 0;
    m_restOverdue = false;
    setReadMinimum(0);
    m_splitter.reset();
    m_tailDueMs = -1;
}

void Thread_1::logCounters(const char *why) const
{
    const core::rx::Counters &c = m_splitter.counters();
    qCDebug(lcIo).nospace() << why << ": replies accepted " << c.accepted << ", split " << c.split
                            << ", joined " << c.joined << ", dropped " << c.dropped << " ("
                            << c.droppedBytes << " bytes)";
}
