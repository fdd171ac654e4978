// Publishing a running virtual module where the port list finds it: a link in the per-user folder
// that port discovery reads, guarded by a lock held while the module runs.
#include "sim/publish.h"

#include "io/portdiscovery.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sim {

using io::ports::lockPathOf;
using io::ports::publishFolder;

namespace {

constexpr int kMaxLinks = 100;

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

#endif

} // namespace

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
