// Port discovery: running virtual modules listed after the system ports in number order, the
// leftovers of dead ones removed; the hot-plug watcher is one per process and quiet without udev.
#include "io/comchange.h"
#include "io/portdiscovery.h"
#include "sim/simserver.h"

#include <QDir>
#include <QFile>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QString kVirtual = QStringLiteral(" | ") + io::ports::kVirtualDescription;

QStringList listed(const QList<io::ports::PortEntry> &entries)
{
    QStringList out;
    for (const io::ports::PortEntry &e : entries)
        out << e.path + " | " + e.description;
    return out;
}

// A link to @p target with the lock file a module makes beside it (@p lock: 0 none, 1 present,
// 2 held while the returned descriptor stays open).
int makeLink(const QString &link, const QString &target, int lock)
{
    if (!QFile::link(target, link) || lock == 0)
        return -1;
    const int fd = ::open(QFile::encodeName(link + ".lock").constData(), O_RDWR | O_CREAT, 0600);
    if (lock == 2 && ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        qFatal("cannot hold the lock of %s", qPrintable(link));
    return fd;
}

} // namespace

class TestPorts : public QObject
{
    Q_OBJECT
private slots:

    void initTestCase()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        m_folder = m_runtime.path() + QStringLiteral("/tovandrix");
        QVERIFY(QDir().mkpath(m_folder));
    }

    void runningModulesListedAfterSystemPorts()
    {
        // Two live links held here, numbered so that name order and number order differ.
        const QString vm2 = m_folder + "/ttyVM2", vm10 = m_folder + "/ttyVM10";
        const int locks[] = { makeLink(vm2, "/dev/null", 2), makeLink(vm10, "/dev/null", 2) };
        sim::ServerOptions options;
        options.publish = true;
        sim::SimServer first, second;
        QVERIFY(first.start(options) && second.start(options));
        const QStringList running { first.linkPath() + kVirtual, second.linkPath() + kVirtual };
        QCOMPARE(listed(io::ports::virtualPorts()),
            (running + QStringList { vm2 + kVirtual, vm10 + kVirtual }));
        for (int fd : locks)
            ::close(fd); // now dead: gone from the list from here on
        QStringList system;
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            system << info.portName() + " | " + info.description();
        QCOMPARE(listed(io::ports::availablePorts()), system + running);
        first.stop();
        QCOMPARE(listed(io::ports::virtualPorts()), QStringList { running.last() });
        second.stop();
        QCOMPARE(listed(io::ports::availablePorts()), system);
    }

    void leftovers_data()
    {
        QTest::addColumn<int>("lock"); // 0 none, 1 present but not held, 2 held
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("kept"); // the link and its lock file
        QTest::newRow("held-lock-listed") << 2 << "/dev/null" << true << true;
        QTest::newRow("link-without-lock-removed") << 0 << "/dev/null" << false << false;
        QTest::newRow("lock-nobody-holds-both-removed") << 1 << "/dev/null" << false << false;
        QTest::newRow("held-lock-terminal-gone-skipped-kept")
            << 2 << "/dev/pts/tovandrix-missing" << false << true;
        QTest::newRow("held-lock-no-terminal-skipped-kept")
            << 2 << QCoreApplication::applicationFilePath() << false << true;
    }

    void leftovers()
    {
        QFETCH(int, lock);
        QFETCH(QString, target);
        QFETCH(bool, shown);
        QFETCH(bool, kept);
        static int number = 100; // a fresh name per row; what a row leaves is dead for the next
        const QString link = m_folder + QStringLiteral("/ttyVM%1").arg(number++);
        const int fd = makeLink(link, target, lock);
        QCOMPARE(listed(io::ports::virtualPorts()),
            shown ? QStringList { link + kVirtual } : QStringList());
        QCOMPARE(QFileInfo(link).isSymLink(), kept);
        QCOMPARE(QFileInfo::exists(link + ".lock"), kept);
        ::close(fd);
    }

    void hotPlugWatcher()
    {
        // Hot-plug itself cannot be faked here: one watcher, and nothing breaks without events.
        ComChange *watcher = ComChange::getInstance();
        QVERIFY(watcher && ComChange::getInstance() == watcher);
        QTest::qWait(50); // its notifier, if any, runs meanwhile
        qInfo() << "hot-plug notices watched:" << watcher->isWatching(); // either answer is fine
    }

private:
    QTemporaryDir m_runtime; // never the user's own runtime folder
    QString m_folder;
};

QTEST_GUILESS_MAIN(TestPorts)
#include "tst_ports.moc"
