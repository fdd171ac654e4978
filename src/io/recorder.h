// Recorder: writes the byte log of a run (core/replay/bytelog.h) as the bytes go by.
#pragma once

#include "core/replay/bytelog.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

namespace io {

/**
 * Takes every piece of bytes sent and received with its time and writes the byte log to a file,
 * buffered and flushed once a second (and when closed), so a run that is killed loses at most
 * its last second. Lives in the thread that calls it, which needs an event loop for the flush.
 *
 * A reader hands bytes up in small pieces while a reply is on the line; a piece that follows
 * the one before in the same direction while the line was still busy with it (within the time
 * its bytes take on the line and half a millisecond more) joins its entry, so a 13-byte reply
 * costs one entry (17 bytes at most) however it was read, and a replay that paces an entry's
 * bytes at the line's speed gives them back at the times they came.
 */
class Recorder : public QObject
{
    Q_OBJECT
public:
    explicit Recorder(QObject *parent = nullptr);
    ~Recorder() override;

    /**
     * @brief Starts the log in @p path (replaced) for a line of @p header at @p startUs on the
     * clock of add(). @return false with the reason in @p error.
     */
    bool open(
        const QString &path, const core::replay::Header &header, qint64 startUs, QString *error);
    /** @brief @p bytes went by in @p direction at @p timeUs (a monotonic clock, in µs). */
    void add(core::replay::Direction direction, const QByteArray &bytes, qint64 timeUs);
    /** @brief Writes what is held and closes the file. */
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    /** @brief Why the last write failed; empty while all is well. */
    QString errorString() const { return m_error; }

private:
    void endEntry();
    void flush();

    QFile m_file;
    QTimer m_flushTimer;
    QByteArray m_buffer; ///< encoded entries not yet written
    QString m_error;
    qint64 m_byteUs = 0; ///< time of one byte on the line (10 bits); 0: unknown speed
    qint64 m_entryUs = 0; ///< time of the last entry ended, or of the start
    bool m_pending = false;
    core::replay::Direction m_direction = core::replay::Direction::Sent;
    qint64 m_startUs = 0; ///< of the pending entry
    qint64 m_lastUs = 0; ///< when its last piece came
    QByteArray m_bytes; ///< of the pending entry
};

} // namespace io
