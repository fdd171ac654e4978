// Thread_1: the serial worker that opens, closes, writes and reads the port in a thread of its own.
#pragma once

#include "core/rxsplitter.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>

class QTimer;

class MyTimer;

namespace io {
class Recorder;
}

class QThread;
class Thread_1;

namespace io {
/**
 * @brief Puts @p worker and its @p port into @p thread and starts it: the port's readyRead()
 * reaches the worker, and both are deleted in that thread when it finishes, the port first, so the
 * worker never holds a dangling pointer. The window and the plan runner run the serial worker
 * this way; the command line keeps it in its own thread (connectWorker() alone).
 */
void runInThread(Thread_1 *worker, QSerialPort *port, QThread *thread);
/** @brief The port's readyRead() reaches @p worker, in whatever thread both live. */
void connectWorker(Thread_1 *worker, QSerialPort *port);
} // namespace io

/**
 * The only code that touches the serial port. It writes the frames the window hands it (adding
 * the CRC-16 in check mode 1), gathers incoming bytes until 5 ms pass in silence, checks them by
 * check mode and hands accepted replies up as bytes (and as packed hex text to whoever listens
 * for that). All its slots run in the thread
 * it lives in; every member below belongs to that thread.
 */
class Thread_1 : public QObject
{
    Q_OBJECT
public:
    /** The silence that ends a reply. */
    static constexpr int kSilenceMs = 5;

    Thread_1(QSerialPort *port, QObject *parent);
    ~Thread_1() override;

    /** Modbus CRC-16 of @p len bytes, bytes swapped into wire order; also sets crc_hex. */
    void GetCRC(const quint8 *data, int len, quint16 &crc);
    /** True when the last two of @p len bytes are the CRC-16 of the others, low byte first. */
    bool CheckCRC(const quint8 *data, int len);

    /**
     * @brief Records every frame written and every read from now on into the byte log @p path
     * (replaced), headed by the port's line speed and the check mode of now; an empty path ends
     * the recording. Call it in the worker's thread. @return false with the reason in @p error;
     * ending returns false when the log could not be written whole.
     */
    bool setRecording(const QString &path, QString *error);

    /** Frames handed up, split out, dropped so far (for diagnostics and tests). */
    core::rx::Counters counters() const { return m_splitter.counters(); }

    QSerialPort *serial; ///< not owned: the window creates it
    int jiaoyan_mode; ///< 0: 0xAA frames with 8-bit sum, 1: Modbus RTU with CRC-16
    QString crc_hex; ///< CRC of the last frame written in mode 1, 4 hex digits in wire order
    QByteArray buffer_receive; ///< bytes of the reply being gathered
    MyTimer *timer_send; ///< wakes the worker when a kept piece of a reply may be given up

signals:
    void sig_send_data_son(QString);
    /** One accepted reply, as it came off the line. */
    void replyReceived(QByteArray reply);
    void sig_serialport_state_change(bool, QString, QString);
    void sig_jiexi_data(QByteArray);
    void sig_show_send_data(QByteArray);

public slots:
    void slot_send_data_son(QByteArray data);
    void slot_receive_data_son();
    void slot_change_serialport(int state, QString portname, int botelv);
    void slot_jiexi_data(QByteArray string);
    void slot_jiaoyan_mode_chose(int index);
    void slot_timer_send();

private:
    void handOver(const QList<QByteArray> &replies);
    void onPortError(QSerialPort::SerialPortError error);
    void abandonReceive();
    void logCounters(const char *why) const;
    bool portHoldsBytes() const;
    void armTailDeadline();
    bool takeMode();
    void awaitRest(bool checking);
    int setReadMinimum(int bytes);
    void preferLowLatency();

    core::rx::Splitter m_splitter;
    /// The 5 ms silence, timed in this thread: its end wakes the worker directly, one thread
    /// wake-up fewer on every reply than a tick queued from a timer thread.
    QTimer *m_silence;
    QElapsedTimer m_clock; ///< monotonic time for silences and tail lifetimes
    /// When the first bytes of buffer_receive were read, in the terms a kept tail is judged by.
    qint64 m_gatherArrivedMs = 0;
    /// When the kept tail may be given up; -1 while none is kept or it has been judged.
    qint64 m_tailDueMs = -1;
    /// Bytes at the front of buffer_receive already handed up before the silence.
    qsizetype m_taken = 0;
    /// Bytes a read of the port waits for (VMIN); 0 or 1: any.
    int m_readMinimum = 0;
    /// The terminal settings of the open port, read once (Linux).
    QByteArray m_lineSettings;
    /// The rest of a frame was awaited and did not come: this gather waits for no more.
    bool m_restOverdue = false;
    /// Replies handed up since the last request, less one: above 0 they come unasked.
    int m_streamed = 0;
    int m_lastLength = 0; ///< of the last reply handed up
    quint8 m_lastHead = 0; ///< its first byte
    static constexpr int kMaxReadMinimum = 255;
    /// The byte log being written, or none; it lives in this thread.
    io::Recorder *m_recorder = nullptr;
};
