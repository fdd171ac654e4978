// ComChange: process-wide watcher that reports serial ports arriving and leaving.
#include "io/comchange.h"

#include "io/log.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>

#ifdef Q_OS_WIN
#include <dbt.h>
#endif

#ifdef TOVANDRIX_HAVE_UDEV
#include <QFileInfo>
#include <QSocketNotifier>

#include <cstring>
#include <libudev.h>
#endif

ComChange *ComChange::m_comChange = nullptr;

ComChange *ComChange::getInstance()
{
    // Locked on every call: it is called once or twice, and an unlocked first test of a plain
    // pointer would be a data race.
    static QBasicMutex mutex;
    QMutexLocker lock(&mutex);
    // The application owns it, so it goes with the application and its udev handles are closed.
    if (!m_comChange)
        m_comChange = new ComChange(QCoreApplication::instance());
    return m_comChange;
}

ComChange::ComChange(QObject *parent)
    : QObject(parent)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->installNativeEventFilter(this);
    startUdev();
}

ComChange::~ComChange()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeNativeEventFilter(this);
#ifdef TOVANDRIX_HAVE_UDEV
    delete m_notifier;
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    if (m_udev)
        udev_unref(m_udev);
#endif
    if (m_comChange == this)
        m_comChange = nullptr;
}

void ComChange::setHWND(WindowHandle hwnd)
{
    m_hwnd = hwnd;
}

bool ComChange::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result)
{
    Q_UNUSED(eventType)
    Q_UNUSED(result)
#ifdef Q_OS_WIN
    const MSG *msg = static_cast<const MSG *>(message);
    if (!msg || msg->message != WM_DEVICECHANGE || msg->hwnd != m_hwnd)
        return false;
    if (msg->wParam != DBT_DEVICEARRIVAL && msg->wParam != DBT_DEVICEREMOVECOMPLETE)
        return false;
    const auto *header = reinterpret_cast<const DEV_BROADCAST_HDR *>(msg->lParam);
    // Storage devices, volumes and interfaces come through here too; only ports matter.
    if (!header || header->dbch_devicetype != DBT_DEVTYP_PORT)
        return false;
    const auto *port = reinterpret_cast<const DEV_BROADCAST_PORT_W *>(header);
    emit comStatus(QString::fromWCharArray(port->dbcp_name), msg->wParam == DBT_DEVICEARRIVAL);
#else
    Q_UNUSED(message)
#endif
    return false;
}

void ComChange::startUdev()
{
#if defined(Q_OS_WIN)
    m_watching = true; // the device-change broadcasts do the work
#elif defined(TOVANDRIX_HAVE_UDEV)
    // Containers and CI machines often have no udev: hot-plug reporting is then off, nothing more.
    auto off = [this](const char *why) {
        qCDebug(lcIo) << "hot-plug detection off:" << why;
        if (m_monitor)
            udev_monitor_unref(m_monitor);
        if (m_udev)
            udev_unref(m_udev);
        m_monitor = nullptr;
        m_udev = nullptr;
    };
    m_udev = udev_new();
    if (!m_udev)
        return off("no udev context");
    // Without the udev daemon nothing is relayed on the "udev" group; the kernel's own events
    // carry the same action and device name.
    const char *source = QFileInfo::exists(QStringLiteral("/run/udev/control")) ? "udev" : "kernel";
    m_monitor = udev_monitor_new_from_netlink(m_udev, source);
    if (!m_monitor)
        return off("no udev monitor");
    if (udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0
        || udev_monitor_enable_receiving(m_monitor) < 0)
        return off("udev monitor cannot receive");
    const int fd = udev_monitor_get_fd(m_monitor);
    if (fd < 0)
        return off("udev monitor has no socket");
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] { readUdev(); });
    m_watching = true;
#else
    qCDebug(lcIo) << "hot-plug detection off: no device notifications on this platform";
#endif
}

void ComChange::readUdev()
{
#ifdef TOVANDRIX_HAVE_UDEV
    // The socket is non-blocking: take every queued event, then wait for the next notice.
    while (udev_device *device = udev_monitor_receive_device(m_monitor)) {
        const char *action = udev_device_get_action(device);
        const char *name = udev_device_get_sysname(device);
        if (action && name) {
            // sysname is ttyUSB0, ttyACM0...: the same as QSerialPortInfo::portName().
            if (std::strcmp(action, "add") == 0)
                emit comStatus(QString::fromLocal8Bit(name), true);
            else if (std::strcmp(action, "remove") == 0)
                emit comStatus(QString::fromLocal8Bit(name), false);
        }
        udev_device_unref(device);
    }
#endif
}
