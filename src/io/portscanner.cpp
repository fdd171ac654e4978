// PortScanner: tries settings on one serial port until a module answers, without blocking.
#include "io/portscanner.h"

#include "io/log.h"

namespace io {

PortScanner::PortScanner(QObject *parent)
    : QObject(parent)
    , m_port(this)
    , m_wait(this)
{
    m_wait.setSingleShot(true);
    m_wait.setTimerType(Qt::PreciseTimer);
    connect(&m_wait, &QTimer::timeout, this, &PortScanner::onWaitOver);
    connect(&m_port, &QSerialPort::readyRead, this, &PortScanner::onReadyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
        // A port that goes away mid-scan ends it; the errors of opening are handled in start().
        if (m_running && m_index >= 0 && e == QSerialPort::ResourceError)
            finish(false, m_port.errorString());
    });
}

PortScanner::~PortScanner() = default;

void PortScanner::start(
    const QString &portName, const QList<core::scan::Target> &targets, bool all, int answerMs)
{
    if (m_running)
        return;
    m_targets = targets;
    m_found.clear();
    m_heard.clear();
    m_index = -1;
    m_all = all;
    m_answerMs = answerMs;
    m_running = true;
    m_port.setPortName(portName);
    m_port.setBaudRate(targets.isEmpty() ? 9600 : targets.first().baud);
    m_port.setParity(QSerialPort::NoParity);
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QString error = m_port.errorString();
        // Answered from the event loop, so a caller can connect after start() returns.
        QMetaObject::invokeMethod(
            this, [this, error] { finish(false, error); }, Qt::QueuedConnection);
        return;
    }
    QMetaObject::invokeMethod(this, &PortScanner::next, Qt::QueuedConnection);
}

void PortScanner::cancel()
{
    if (m_running)
        finish(true);
}

void PortScanner::next()
{
    if (!m_running)
        return;
    const core::scan::Target previous = m_index >= 0
        ? m_targets.at(m_index)
        : core::scan::Target { -1, core::CheckMode::Sum8, -1 };
    // Skip what a module already found answers for: one module has one speed and address.
    do {
        ++m_index;
    } while (m_index < m_targets.size() && m_found.contains(m_targets.at(m_index)));
    if (m_index >= m_targets.size()) {
        finish(false);
        return;
    }
    const core::scan::Target &t = m_targets.at(m_index);
    emit probing(m_index, m_targets.size(), t);
    if (!m_running) // cancelled by a receiver of probing()
        return;
    if (t.baud != previous.baud || t.checkMode != previous.checkMode) {
        // A module that heard garbage at the old speed may still hold it as the start of a
        // frame: a moment of silence lets it give that up before the probe comes.
        m_port.setBaudRate(t.baud);
        m_phase = Phase::Settling;
        m_wait.start(core::scan::kSettleMs);
        return;
    }
    sendProbe();
}

void PortScanner::sendProbe()
{
    const core::scan::Target &t = m_targets.at(m_index);
    m_port.write(core::scan::probe(t));
    m_phase = Phase::Waiting;
    m_wait.start(core::scan::waitMs(t, m_answerMs));
}

void PortScanner::onReadyRead()
{
    m_heard += m_port.readAll();
    if (!m_running || m_phase == Phase::Settling || m_index < 0 || m_index >= m_targets.size())
        return;
    const core::scan::Target &t = m_targets.at(m_index);
    const std::optional<int> address = core::scan::answeringAddress(m_heard, t.checkMode);
    if (!address)
        return;
    m_heard.clear();
    const core::scan::Target module { t.baud, t.checkMode, *address };
    if (m_found.contains(module))
        return;
    m_found.append(module);
    qCDebug(lcIo) << "scan found a module at" << module.baud
                  << core::checkModeWord(module.checkMode) << module.address;
    emit found(module);
    if (!m_running)
        return;
    if (!m_all) {
        finish(false);
        return;
    }
    // The answer to this probe is in: go on without waiting out its time.
    if (module.address == t.address) {
        m_wait.stop();
        next();
    }
}

void PortScanner::onWaitOver()
{
    switch (m_phase) {
    case Phase::Settling:
        // What came at another speed or in the other protocol proves nothing here.
        m_port.clear(QSerialPort::Input);
        m_heard.clear();
        sendProbe();
        return;
    case Phase::Waiting: {
        // A busy computer may wake us late: what the port already holds is read before the
        // probe is given up.
        m_port.waitForReadyRead(0);
        if (!m_running || m_phase != Phase::Waiting)
            return;
        // The last probe at a speed gets a while longer: a late answer can still name its
        // module, but not once the speed has changed.
        const int following = m_index + 1;
        const core::scan::Target &t = m_targets.at(m_index);
        if (following >= m_targets.size() || m_targets.at(following).baud != t.baud
            || m_targets.at(following).checkMode != t.checkMode) {
            m_phase = Phase::Lingering;
            m_wait.start(core::scan::kLingerMs);
            return;
        }
        next();
        return;
    }
    case Phase::Lingering:
        m_port.waitForReadyRead(0);
        next();
        return;
    case Phase::Idle:
        return;
    }
}

void PortScanner::finish(bool cancelled, const QString &error)
{
    // One answer per scan: a cancel may come before the queued report of a failed open.
    if (!m_running)
        return;
    m_wait.stop();
    m_phase = Phase::Idle;
    m_running = false;
    if (m_port.isOpen())
        m_port.close();
    emit finished(int(m_found.size()), cancelled, error);
}

} // namespace io
