// ComChange: one watcher per process, native messages never consumed, quiet without udev.
#include "comchange.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

namespace {
int g_offMessages = 0;
QtMessageHandler g_previous = nullptr;

void countOffMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (text.contains(QLatin1String("hot-plug detection off")))
        ++g_offMessages;
    g_previous(type, context, text);
}
} // namespace

class TestComChange : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void oneInstanceAndAtMostOneMessage();
    void foreignMessagesPassThrough_data();
    void foreignMessagesPassThrough();
    void kernelEventReachesComStatus_data();
    void kernelEventReachesComStatus();
};

void TestComChange::initTestCase()
{
    g_previous = qInstallMessageHandler(countOffMessages);
}

void TestComChange::oneInstanceAndAtMostOneMessage()
{
    ComChange *first = ComChange::getInstance();
    QVERIFY(first);
    QCOMPARE(ComChange::getInstance(), first);
    QCOMPARE(ComChange::getInstance(), first);
    // Where udev is missing (containers, CI) hot-plug is off, said once, and nothing else fails.
    QCOMPARE(g_offMessages, first->isWatching() ? 0 : 1);
}

void TestComChange::foreignMessagesPassThrough_data()
{
    QTest::addColumn<QByteArray>("eventType");
    QTest::newRow("xcb-event") << QByteArray("xcb_generic_event_t");
    QTest::newRow("windows-message-type-name") << QByteArray("windows_generic_MSG");
}

void TestComChange::foreignMessagesPassThrough()
{
    QFETCH(QByteArray, eventType);
    ComChange *watcher = ComChange::getInstance();
    watcher->setHWND(quintptr(0x1234));
    QSignalSpy spy(watcher, &ComChange::comStatus);
#ifdef Q_OS_WIN
    MSG msg {};
    msg.hwnd = reinterpret_cast<HWND>(0x5678); // another window
    msg.message = WM_DEVICECHANGE;
    void *message = &msg;
#else
    quint8 raw[64] = {};
    void *message = raw;
#endif
    qintptr result = 0;
    QVERIFY(!watcher->nativeEventFilter(eventType, message, &result));
    QCOMPARE(spy.count(), 0);
}

void TestComChange::kernelEventReachesComStatus_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("flag");
    QTest::newRow("tty-add-is-arrival") << QStringLiteral("add") << true;
    QTest::newRow("tty-remove-is-removal") << QStringLiteral("remove") << false;
}

// A synthetic uevent stands in for plugging an adapter. Only where no udev daemon runs (so the
// event touches nothing) and /sys is writable, that is as root in a container.
void TestComChange::kernelEventReachesComStatus()
{
    QFETCH(QString, action);
    QFETCH(bool, flag);
#ifndef TOVANDRIX_HAVE_UDEV
    QSKIP("built without libudev");
#else
    if (QFileInfo::exists(QStringLiteral("/run/udev/control")))
        QSKIP("a udev daemon runs here: synthetic device events would reach it");
    const QStringList serial = QDir(QStringLiteral("/sys/class/tty"))
                                   .entryList({ QStringLiteral("ttyS*") }, QDir::AllEntries);
    if (serial.isEmpty())
        QSKIP("no ttyS device in /sys/class/tty");
    QFile uevent(QStringLiteral("/sys/class/tty/%1/uevent").arg(serial.first()));
    if (!uevent.open(QIODevice::WriteOnly))
        QSKIP("cannot write uevent files (needs root)");
    ComChange *watcher = ComChange::getInstance();
    if (!watcher->isWatching())
        QSKIP("no udev monitor here");
    QSignalSpy spy(watcher, &ComChange::comStatus);
    uevent.write(action.toLatin1());
    uevent.close();
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), serial.first());
    QCOMPARE(spy.at(0).at(1).toBool(), flag);
#endif
}

QTEST_GUILESS_MAIN(TestComChange)
#include "tst_comchange.moc"
