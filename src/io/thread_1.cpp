// Thread_1: the serial worker that opens, closes, writes and reads the port in a thread of its own.
#include "io/thread_1.h"

#include "core/frames.h"
#include "io/log.h"
#include "io/mytimer.h"

#include <QMetaMethod>

// Debug and info lines are for whoever turns them on; warnings always show.
Q_LOGGING_CATEGORY(lcIo, "tovandrix.io", QtWarningMsg)

namespace {
// Shown when the port library gives no text, so the window still sees that something failed.
const char kUnknownPortError[] = "serial port error";
} // namespace

Thread_1::Thread_1(QSerialPort *port, QObject *parent)
    : QObject(parent)
    , serial(port)
    , jiaoyan_mode(0)
    , timer_send(nullptr)
{
    m_clock.start();
    connect(this, SIGNAL(sig_jiexi_data(QByteArray)), this, SLOT(slot_jiexi_data(QByteArray)));
    timer_send = new MyTimer(nullptr);
    // timeout() comes from the timer thread, so this runs queued in the worker's thread.
    connect(timer_send, SIGNAL(timeout()), this, SLOT(slot_timer_send()));
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
    const quint16 value = frames::crc16(reinterpret_cast<const char *>(data), qMax(len, 0));
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
    if (jiaoyan_mode == 1) {
        quint16 crc = 0;
        GetCRC(reinterpret_cast<const quint8 *>(data.constData()), int(data.size()), crc);
        frame += frames::fromHexText(crc_hex);
    }
    // A frame "sent" while the port is closed still goes to the log; only the wire misses it.
    if (serial && serial->isOpen())
        serial->write(frame);
    else
        qCDebug(lcIo) << "port closed, frame not written:" << frames::toHexText(frame);
    emit sig_show_send_data(frame);
}

void Thread_1::slot_receive_data_son()
{
    buffer_receive.append(serial->readAll());
    m_lastArrivalNs = m_clock.nsecsElapsed();
    if (buffer_receive.size() >= rx::kStreamLimit) {
        // Replies streaming back to back leave no silence; hand up what is complete so that
        // neither the buffer nor the delay grows without bound.
        m_splitter.setMode(jiaoyan_mode);
        handOver(m_splitter.drain(buffer_receive, m_clock.elapsed()));
    }
    // A silence timer already running keeps running: its tick measures the silence from the last
    // arrival and waits out the rest. Restarting it for every arrival would wake the timer thread
    // several times per reply.
    if (!m_silenceArmed) {
        timer_send->start(kSilenceMs);
        m_silenceArmed = true;
    }
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
    const rx::Counters before = m_splitter.counters();
    m_splitter.setMode(jiaoyan_mode);
    handOver(m_splitter.feed(string, m_clock.elapsed()));
    buffer_receive.clear();
    const rx::Counters &after = m_splitter.counters();
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
    // The timer is periodic, is not restarted per arrival, and its ticks arrive queued, some
    // from before the last byte: only a tick a whole silence after the last byte ends the reply;
    // an earlier one starts the timer again for the rest of the silence. A timer started after a
    // byte never ticks before that, so the test is exact.
    constexpr qint64 kSilenceNs = qint64(kSilenceMs) * 1000000;
    const qint64 quietNs = m_clock.nsecsElapsed() - m_lastArrivalNs;
    if (timer_send->isActive() && quietNs < kSilenceNs) {
        if (m_silenceArmed)
            timer_send->start(int(qMax<qint64>(1, (kSilenceNs - quietNs + 999999) / 1000000)));
        return;
    }
    emit sig_jiexi_data(buffer_receive);
    timer_send->stop();
    m_silenceArmed = false;
    // A partial frame is being kept: wake once more after its lifetime to drop it if nothing
    // came to complete it.
    if (m_splitter.hasTail())
        timer_send->start(int(rx::kTailLifeMs) + 1);
}

void Thread_1::handOver(const QList<QByteArray> &replies)
{
    // Front-ends take the bytes; the hex-text form is made only for a listener that asks for it.
    const bool textListened
        = isSignalConnected(QMetaMethod::fromSignal(&Thread_1::sig_send_data_son));
    for (const QByteArray &reply : replies) {
        emit replyReceived(reply);
        if (textListened)
            emit sig_send_data_son(frames::toPackedHex(reply));
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
        timer_send->stop();
        m_silenceArmed = false;
        slot_jiexi_data(buffer_receive);
    }
    abandonReceive();
    serial->close();
    emit sig_serialport_state_change(false, name, text);
}

void Thread_1::abandonReceive()
{
    timer_send->stop();
    m_silenceArmed = false;
    buffer_receive.clear();
    m_splitter.reset();
}

void Thread_1::logCounters(const char *why) const
{
    const rx::Counters &c = m_splitter.counters();
    qCDebug(lcIo).nospace() << why << ": replies accepted " << c.accepted << ", split " << c.split
                            << ", joined " << c.joined << ", dropped " << c.dropped << " ("
                            << c.droppedBytes << " bytes)";
}
