// Link: one serial worker and its port, for front-ends without a window.
#pragma once

#include "core/protocol.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <functional>

class QSerialPort;
class Thread_1;

namespace io {

/**
 * Drives a Thread_1 the way the window does (same worker, same splitter, same CRC rule) from any
 * thread with an event loop: open, send frames, get each accepted reply as bytes, learn when the
 * line is lost, and time out a reply that does not come.
 *
 * The worker runs in a thread of its own, or in the caller's: a program that only writes what
 * comes (the CLI) saves a thread hand-off per reply, while a window keeps its thread free.
 */
class Link : public QObject
{
    Q_OBJECT
public:
    enum class Threading {
        OwnThread, ///< the worker reads in a thread of its own
        CallersThread, ///< the worker reads in the event loop of the thread making the link
    };

    explicit Link(QObject *parent = nullptr, Threading threading = Threading::OwnThread);
    /** Closes the port and ends the worker's thread. */
    ~Link() override;

    /**
     * @brief Opens @p path at @p baud for @p checkMode and waits until the worker has tried.
     * @return false with the port's reason in @p error.
     */
    bool open(const QString &path, int baud, core::CheckMode checkMode, QString *error);
    void close();
    bool isOpen() const { return m_open; }

    /** @brief Hands @p frame to the worker, which appends the CRC in Modbus mode. */
    void send(const QByteArray &frame);
    /** @brief The frame written last as it went out (CRC included): a Modbus reply answers it. */
    const QByteArray &lastSent() const { return m_lastSent; }

    /**
     * @brief Records every byte sent and received from now on into the byte log @p path; an
     * empty path ends the recording. @return false with the reason in @p error (on ending: the
     * log could not be written whole).
     */
    bool record(const QString &path, QString *error);

    /** @brief noReply() follows unless a reply arrives within @p timeoutMs; 0 or less disarms. */
    void expectReply(int timeoutMs);

signals:
    void replyReceived(const QByteArray &reply);
    void noReply();
    /** The port failed while open (adapter gone, line dropped); it is closed now. */
    void lost(const QString &reason);

private:
    void onPortState(bool open, const QString &reason);
    void onReply(const QByteArray &reply);
    /** Runs @p work in the worker's thread and waits for it. */
    void inWorker(const std::function<void()> &work);

    QThread m_thread;
    QSerialPort *m_port;
    Thread_1 *m_worker;
    QTimer m_replyTimer;
    QByteArray m_lastSent;
    bool m_open = false;
    quint64 m_armed
        = 0; ///< counts arming and replies: a reply-timeout verdict of an older count is void
};

} // namespace io
