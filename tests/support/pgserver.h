// A PostgreSQL server of the test's own: a new cluster in a temporary folder, reached on a Unix
// socket in that folder, gone with the object. Runs as an unprivileged user when started as root.
#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#define TOVANDRIX_PG_BIN "/usr/lib/postgresql/15/bin/" // Debian's postgresql-15

namespace testsupport {

class PgServer
{
public:
    PgServer();
    ~PgServer();
    /** @brief Debian's postgresql-15 binaries are installed. */
    static bool available() { return QFile::exists(TOVANDRIX_PG_BIN "initdb"); }
    /** @brief Makes the cluster on the first call, starts the server and waits until it serves. */
    bool start();
    /** @brief Stops the server (fast: open sessions are cut, their transactions undone). */
    bool stop();
    /** @brief What the last failed call printed. */
    QString errorString() const { return m_error; }
    /** @brief The password of the server's user, which every connection must give. */
    QString password() const { return m_password; }
    /** @brief A file holding the password, as `--db-password-file` reads it. */
    QString passwordFile() const { return m_dir.filePath(QStringLiteral("password")); }
    /** @brief The folder of the server's Unix socket, its host name for libpq. */
    QString host() const { return m_dir.path(); }
    /** @brief A new empty database; its `--db` address ("postgresql://...%2Ftmp%2F.../NAME"). */
    QString newDatabase(const QString &name);

private:
    bool tool(const QString &name, const QStringList &args, bool asOwner = true);
    QTemporaryDir m_dir;
    QString m_password;
    QString m_error;
    bool m_running = false;
};

} // namespace testsupport
