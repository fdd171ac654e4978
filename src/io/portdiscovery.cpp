// Port discovery: the system's serial ports and the virtual modules running on this machine.
#include "io/portdiscovery.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace io::ports {

namespace {

#ifdef Q_OS_UNIX
/**
 * A link is live while its module holds the lock beside it. The kernel drops the lock when the
 * process dies however it dies, so a failing try-lock is proof of life.
 */
bool isLive(const QString &link)
{
    const QByteArray lockPath = QFile::encodeName(lockPathOf(link));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // A module makes its lock before its link and removes it after, so a link without a
        // lock is a leftover.
        if (errno == ENOENT)
            ::unlink(QFile::encodeName(link).constData());
        return false;
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!held) {
        // Still holding the lock, so no module can take this name while we clean up.
        ::unlink(QFile::encodeName(link).constData());
        ::unlink(lockPath.constData());
    }
    ::close(fd);
    return held;
}
#endif

} // namespace

QString publishFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/tovandrix");
#ifdef Q_OS_UNIX
    return QStringLiteral("/tmp/tovandrix-%1").arg(::getuid());
#else
    return QDir::tempPath() + QStringLiteral("/tovandrix");
#endif
}

QString lockPathOf(const QString &link)
{
    return link + QStringLiteral(".lock");
}

QList<PortEntry> virtualPorts()
{
    QList<PortEntry> found;
#ifdef Q_OS_UNIX
    static const QRegularExpression linkName(QStringLiteral("^ttyVM(\\d+)$"));
    const QDir folder(publishFolder());
    const QStringList names = folder.entryList(
        { QStringLiteral("ttyVM*") }, QDir::AllEntries | QDir::System | QDir::Hidden);
    QList<QPair<int, QString>> numbered;
    for (const QString &name : names) {
        const auto match = linkName.match(name);
        if (match.hasMatch())
            numbered.append({ match.captured(1).toInt(), name });
    }
    std::sort(numbered.begin(), numbered.end());
    for (const auto &entry : numbered) {
        const QString link = folder.filePath(entry.second);
        if (!QFileInfo(link).isSymLink() || !isLive(link))
            continue;
        // A live module whose terminal vanished cannot be opened; leave it to its owner.
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(link).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
            continue;
        found.append({ link, QString::fromLatin1(kVirtualDescription) });
    }
#endif
    return found;
}

QList<PortEntry> availablePorts()
{
    QList<PortEntry> found;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        found.append({ info.portName(), info.description() });
    // Virtual modules come after the real ports, so a real port stays first.
    found.append(virtualPorts());
    return found;
}

QString systemLocation(const QString &name)
{
#ifdef Q_OS_WIN
    return name;
#else
    // The serial port library's own rule: only an absolute or ./ ../ path is taken as it stands.
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./"))
        || name.startsWith(QLatin1String("../")))
        return name;
    return QStringLiteral("/dev/") + name;
#endif
}

} // namespace io::ports
