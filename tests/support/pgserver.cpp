// A throwaway PostgreSQL server for tests and benchmarks.
#include "pgserver.h"

#include <QFile>
#include <QProcess>
#include <QUrl>
#include <QUuid>

#include <unistd.h>

namespace testsupport {

namespace {
const QString kBin = QStringLiteral(TOVANDRIX_PG_BIN);
constexpr uid_t kNobody = 65534; // PostgreSQL refuses to run as root
} // namespace

PgServer::PgServer()
    : m_dir(QDir::tempPath() + QStringLiteral("/tovandrix-pg-XXXXXX"))
    , m_password(QUuid::createUuid().toString(QUuid::Id128))
{
}

PgServer::~PgServer()
{
    if (m_running)
        tool("pg_ctl", { "-D", m_dir.filePath("data"), "-m", "immediate", "stop" });
}

bool PgServer::tool(const QString &name, const QStringList &args, bool asOwner)
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PGPASSWORD", m_password);
    p.setProcessEnvironment(env);
    const bool root = asOwner && ::geteuid() == 0;
    p.start(root ? "setpriv" : kBin + name,
        (root ? QStringList { "--reuid=65534", "--regid=65534", "--clear-groups", kBin + name }
              : QStringList())
            + args);
    if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    m_error = name + ": " + QString::fromLocal8Bit(p.readAll()) + p.errorString();
    return false;
}

bool PgServer::start()
{
    const QString dir = m_dir.path(), pw = m_dir.filePath("password");
    QFile file(pw);
    // The cluster is made on the first start, owned by the user the server runs as.
    if (!QFile::exists(m_dir.filePath("data"))
        && (!m_dir.isValid() || !file.open(QIODevice::WriteOnly)
            || file.write(m_password.toUtf8()) < 0 || !file.flush()
            || (::geteuid() == 0
                && (::chown(qPrintable(dir), kNobody, kNobody)
                    || ::chown(qPrintable(pw), kNobody, kNobody)))
            || !tool("initdb",
                { "-D", m_dir.filePath("data"), "-U", "tovandrix", "--auth=scram-sha-256",
                    "--pwfile=" + pw, "-E", "UTF8", "--no-locale", "--no-sync",
                    "--no-instructions" })))
        return false;
    m_running = tool("pg_ctl",
        { "-D", m_dir.filePath("data"), "-l", m_dir.filePath("log"), "-w", "-t", "120", "-o",
            "-k " + dir + " -c listen_addresses='' -p 5432", "start" });
    return m_running;
}

bool PgServer::stop()
{
    m_running = !tool("pg_ctl", { "-D", m_dir.filePath("data"), "-m", "fast", "stop" });
    return !m_running;
}

QString PgServer::newDatabase(const QString &name)
{
    if (!tool("createdb", { "-h", m_dir.path(), "-p", "5432", "-U", "tovandrix", name }, false))
        return {};
    return QStringLiteral("postgresql://tovandrix@%1:5432/%2")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(m_dir.path())), name);
}

} // namespace testsupport
