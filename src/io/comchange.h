// ComChange: process-wide watcher that reports serial ports arriving and leaving.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QObject>
#include <QString>

#ifdef Q_OS_WIN
#include <QtCore/qt_windows.h>
#endif

class QSocketNotifier;

/**
 * Tells the main window when a serial port arrives or is removed, in the main thread. On Windows
 * it reads the WM_DEVICECHANGE broadcasts addressed to the main window; on Linux it listens to
 * udev for the "tty" subsystem. Where neither works, hot-plug reporting is simply off.
 */
class ComChange : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT
public:
#ifdef Q_OS_WIN
    using WindowHandle = HWND;
#else
    using WindowHandle = quintptr; ///< what QWidget::winId() returns (WId)
#endif

    /** @brief The single instance, created (and installed as native event filter) on first use. */
    static ComChange *getInstance();

    /** @brief The main window whose device-change messages are looked at. */
    void setHWND(WindowHandle hwnd);
#ifdef Q_OS_WIN
    /** @brief Same, from QWidget::winId(), so callers look alike on every platform. */
    void setHWND(quintptr id)
    {
        setHWND(reinterpret_cast<HWND>(id));
    }
#endif

    /** @brief Looks at each native message; never consumes one. */
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    /** @brief False where no source of hot-plug notices could be set up. */
    bool isWatching() const
    {
        return m_watching;
    }

signals:
    /** A port named @p name (as QSerialPortInfo::portName() gives it) arrived or was removed. */
    void comStatus(QString name, bool flag);

private:
    explicit ComChange(QObject *parent = nullptr);
    ~ComChange() override;

    void startUdev();
    void readUdev();

    WindowHandle m_hwnd {};
    bool m_watching = false;
    static ComChange *m_comChange;

#ifdef TOVANDRIX_HAVE_UDEV
    struct udev *m_udev = nullptr;
    struct udev_monitor *m_monitor = nullptr;
    QSocketNotifier *m_notifier = nullptr;
#endif
};
