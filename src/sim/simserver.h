// SimServer: runs a VirtualModule on the master end of a pseudo-terminal in a thread of its own,
// with the line's timing (pacing, latency, adapter chunking) and faults on demand.
#pragma once

#include "core/replay/bytelog.h"
#include "sim/virtualmodule.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

class PseudoTerminal;

namespace sim {

class PortPublisher;

struct ServerOptions
{
    ModuleSettings module;
    bool pacing = true; ///< 10 bit times per byte at the module's baud rate
    int chunkMs = 0; ///< USB adapter latency timer: bytes reach the port every chunkMs (0: off)

    // Faults on demand, each on every Nth reply (0: never).
    int corruptEvery = 0; ///< last byte flipped, so the sum or the CRC fails
    int dropEvery = 0; ///< the middle byte of the reply is lost
    int noiseEvery = 0; ///< a burst of noise bytes before the reply
    int noiseBytes = 3;
    int noiseGapMs = 10; ///< silence between the burst and the reply (> 5 ms: a reply of its own)
    int disconnectAfter = 0; ///< the line drops once this many replies have gone out
    quint32 seed = 1; ///< noise bytes

    bool publish = false; ///< publish a ttyVM link (see io::ports::virtualPorts())

    /// The line speed the port is opened at must be the module's: at another speed both sides
    /// hear what a UART sampling at the wrong rate makes of the bytes (read from the terminal's
    /// settings). Off: every speed works, as a pseudo-terminal has none.
    bool strictSpeed = false;
    /// More modules on the same line (a bus): the same settings, other addresses.
    QList<ModuleSettings> moreModules;

    /// Plays this recorded module (see sim::Replay) instead of the virtual one, its bytes paced
    /// at the recording's line speed; the module's settings and the faults are not used.
    std::optional<core::replay::Log> replay;
};

/**
 * @brief What a UART receiving at @p toBaud makes of @p bytes sent back to back at @p fromBaud
 * (8N1): it samples each bit in the middle and drops bytes without a stop bit.
 */
QByteArray resampleUart(const QByteArray &bytes, int fromBaud, int toBaud);

struct ServerCounters
{
    quint64 bytesReceived = 0;
    quint64 requests = 0; ///< frames addressed to the module
    quint64 replies = 0;
    quint64 bytesSent = 0; ///< noise included
    quint64 bytesUnmatched = 0; ///< replay: bytes heard that began no recorded request
};

class SimServer : public QObject
{
    Q_OBJECT
public:
    explicit SimServer(QObject *parent = nullptr);
    ~SimServer() override;

    /** @brief Opens a pseudo-terminal and starts serving it; false (and errorString()) on failure.
     */
    bool start(const ServerOptions &options = {});
    /** @brief Stops serving, closes the terminal and removes the published link. */
    void stop();

    bool isRunning() const;
    /** @brief The port to open, for example /dev/pts/7. */
    QString slavePath() const;
    /** @brief The published link, empty when not published. */
    QString linkPath() const;
    /** @brief Why start() or publishing failed. */
    QString errorString() const;

    ServerCounters counters() const;
    /** @brief The module's settings as they are now (address, offset, baud-rate code...). */
    ModuleSettings moduleSettings() const;

signals:
    /** Bytes as the module read them from the line. */
    void bytesReceived(const QByteArray &bytes);
    /** One reply handed to the line, faults applied. */
    void replySent(const QByteArray &bytes);
    /** The line was dropped by the disconnect fault. */
    void disconnected();

private:
    struct Engine;
    void run();

    std::unique_ptr<PseudoTerminal> m_pty;
    std::unique_ptr<PortPublisher> m_publisher;
    std::unique_ptr<Engine> m_engine;
    std::thread m_thread;
    std::atomic<bool> m_running { false };
    int m_wakePipe[2] = { -1, -1 };
    std::atomic<bool> m_stopRequested { false };
    ServerOptions m_options;
    QString m_error;

    mutable QMutex m_lock; ///< guards what other threads read: counters and module settings
    ServerCounters m_counters;
    ModuleSettings m_settings;
};

} // namespace sim
