// PortScanner: tries settings on one serial port until a module answers, without blocking.
#pragma once

#include "core/scan.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

namespace io {

/**
 * Sends the probes of a scan one at a time on a port of its own and waits for each only as long
 * as an answer at that speed needs. The port must not be open elsewhere; the scanner opens it at
 * start() and closes it when it finishes, so a front-end opens it again with what was found.
 * Everything runs in the thread the scanner lives in, from its event loop.
 */
class PortScanner : public QObject
{
    Q_OBJECT
public:
    explicit PortScanner(QObject *parent = nullptr);
    ~PortScanner() override;

    /**
     * @brief Starts probing @p targets on @p portName in order. With @p all every target is
     * tried and every module reported; otherwise the scan ends at the first. @p answerMs is the
     * module's answer time added to each wait.
     */
    void start(const QString &portName, const QList<core::scan::Target> &targets, bool all = false,
        int answerMs = core::scan::kAnswerMs);
    /** @brief Ends a running scan at once; finished() follows with cancelled set. */
    void cancel();
    bool isRunning() const { return m_running; }
    QString portName() const { return m_port.portName(); }

signals:
    /** About to probe @p target, the @p index-th of @p total (from 0). */
    void probing(int index, int total, const core::scan::Target &target);
    /** A module answered: its line speed, check mode and address. */
    void found(const core::scan::Target &module);
    /** The scan is over; @p error says why the port could not be used. */
    void finished(int foundCount, bool cancelled, const QString &error);

private:
    void next();
    void onReadyRead();
    void onWaitOver();
    void sendProbe();
    void finish(bool cancelled, const QString &error = QString());

    QSerialPort m_port;
    QTimer m_wait;
    QList<core::scan::Target> m_targets;
    QList<core::scan::Target> m_found;
    QByteArray m_heard; ///< bytes since the line speed or check mode last changed
    int m_index = -1;
    bool m_all = false;
    bool m_running = false;
    enum class Phase {
        Idle,
        Settling, ///< quiet after a change of speed or protocol, before the probe
        Waiting, ///< for the answer to the probe just sent
        Lingering, ///< after the last probe at a speed, for a late answer
    };
    Phase m_phase = Phase::Idle;
    int m_answerMs = core::scan::kAnswerMs;
};

} // namespace io
