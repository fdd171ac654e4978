// Publishing running virtual modules where the port list finds them: a link per simulator in a
// per-user runtime folder, guarded by a lock its simulator holds while it runs.
#include "sim/publish.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sim {

namespace {

constexpr int kMaxLinks = 100;

const QRegularExpression &linkName()
{
    static const QRegularExpression re(QStringLiteral("^ttyVM(\\d+)$"));
    return re;
}

QString lockPathOf(const QString &link)
{
    return link + QStringLiteral(".lock");
}

#ifdef Q_OS_UNIX
QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

/** Creates the folder for this user only, and refuses one that someone else planted. */
bool ensureFolder(const QString &folder, QString *error)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot create %1: %2").arg(folder, errnoText());
        return false;
    }
    struct stat st
    {
    };
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        *error = QStringLiteral("%1 is not a folder of this user").arg(folder);
        return false;
    }
    return true;
}

/**
 * A link is live while its simulator holds the lock beside it. The kernel drops the lock when
 * the process dies however it dies, so a failing try-lock is proof of life.
 */
bool isLive(const QString &link)
{
    const QByteArray lockPath = QFile::encodeName(lockPathOf(link));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // A simulator makes its lock before its link and removes it after, so a link without
        // a lock is a leftover.
        if (errno == ENOENT)
            ::unlink(QFile::encodeName(link).constData());
        return false;
    }
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    if (!held) {
        // Still holding the lock, so no simulator can take this name while we clean up.
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

QList<PublishedPort> publishedPorts()
{
    QList<PublishedPort> ports;
#ifdef Q_OS_UNIX
    const QDir folder(publishFolder());
    const QStringList names = folder.entryList(
        { QStringLiteral("ttyVM*") }, QDir::AllEntries | QDir::System | QDir::Hidden);
    QList<QPair<int, QString>> numbered;
    for (const QString &name : names) {
        const auto match = linkName().match(name);
        if (match.hasMatch())
            numbered.append({ match.captured(1).toInt(), name });
    }
    std::sort(numbered.begin(), numbered.end());
    for (const auto &entry : numbered) {
        const QString link = folder.filePath(entry.second);
        const QFileInfo info(link);
        if (!info.isSymLink() || !isLive(link))
            continue;
        // A live simulator whose terminal vanished cannot be opened; leave it to its owner.
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(link).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
            continue;
        ports.append({ link, info.symLinkTarget() });
    }
#endif
    return ports;
}

PortPublisher::~PortPublisher()
{
    unpublish();
}

bool PortPublisher::publish(const QString &target)
{
    unpublish();
#ifdef Q_OS_UNIX
    const QString folder = publishFolder();
    if (!ensureFolder(folder, &m_error))
        return false;
    int retries = kMaxLinks;
    for (int n = 0; n < kMaxLinks; ++n) {
        const QString link = QStringLiteral("%1/ttyVM%2").arg(folder).arg(n);
        const QByteArray lockPath = QFile::encodeName(lockPathOf(link));
        const int fd
            = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        // Someone cleaning up a dead entry may have removed the lock file between our open and
        // our lock; a lock on a removed file guards nothing, so try the name again.
        struct stat mine
        {
        }, named {};
        if (::fstat(fd, &mine) != 0 || ::stat(lockPath.constData(), &named) != 0
            || mine.st_ino != named.st_ino || mine.st_dev != named.st_dev) {
            ::close(fd);
            if (--retries > 0)
                --n;
            continue;
        }
        const QByteArray linkPath = QFile::encodeName(link);
        ::unlink(linkPath.constData());
        if (::symlink(QFile::encodeName(target).constData(), linkPath.constData()) != 0) {
            m_error = QStringLiteral("cannot create %1: %2").arg(link, errnoText());
            ::unlink(lockPath.constData());
            ::close(fd);
            return false;
        }
        m_lockFd = fd;
        m_linkPath = link;
        m_error.clear();
        return true;
    }
    m_error = QStringLiteral("no free name in %1").arg(folder);
#else
    Q_UNUSED(target)
    m_error = QStringLiteral("virtual modules are published on Linux only");
#endif
    return false;
}

void PortPublisher::unpublish()
{
#ifdef Q_OS_UNIX
    if (m_lockFd < 0)
        return;
    // Link first, lock last: a link without a lock is taken for a dead one.
    ::unlink(QFile::encodeName(m_linkPath).constData());
    ::unlink(QFile::encodeName(lockPathOf(m_linkPath)).constData());
    ::close(m_lockFd);
    m_lockFd = -1;
    m_linkPath.clear();
#endif
}

} // namespace sim
