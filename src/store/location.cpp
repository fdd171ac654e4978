// Where results are kept, from the text of `--db`.
#include "store/location.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>

namespace store {

namespace {

const QString kPasswordAdvice = QStringLiteral(
    "give the password through PGPASSWORD, ~/.pgpass or --db-password-file, never in --db");

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

// libpq settings pass through Qt's option text, which splits at ';' and ' ': plain words only.
bool readQuery(const QString &query, Location &where, QString *error)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:@-]*$"));
    QStringList options;
    bool timeoutGiven = false;
    for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const QString key
            = QUrl::fromPercentEncoding(pair.section(QLatin1Char('='), 0, 0).toUtf8());
        const QString value = QUrl::fromPercentEncoding(pair.section(QLatin1Char('='), 1).toUtf8());
        if (key == QLatin1String("password"))
            return fail(error, kPasswordAdvice);
        if (!plain.match(key).hasMatch() || key.isEmpty() || !plain.match(value).hasMatch())
            return fail(
                error, QStringLiteral("--db: the setting \"%1\" is not a plain word").arg(key));
        timeoutGiven = timeoutGiven || key == QLatin1String("connect_timeout");
        options.append(key + QLatin1Char('=') + value);
    }
    // A server that is down must not hold a station for minutes; its runs wait in SQLite.
    if (!timeoutGiven)
        options.append(QStringLiteral("connect_timeout=10"));
    where.options = options.join(QLatin1Char(';'));
    return true;
}

} // namespace

QString Location::describe() const
{
    if (backend == Backend::Sqlite)
        return path;
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

QString defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/tovandrix/results.sqlite");
}

std::optional<Location> parseLocation(const QString &dbText, QString *error)
{
    Location where;
    if (!dbText.startsWith(QLatin1String("postgresql://"))
        && !dbText.startsWith(QLatin1String("postgres://"))) {
        where.path = dbText.startsWith(QLatin1String("sqlite:")) ? dbText.mid(7) : dbText;
        if (dbText.isEmpty())
            where.path = defaultPath();
        if (where.path.isEmpty()) {
            fail(error, QStringLiteral("--db sqlite: needs a file name"));
            return std::nullopt;
        }
        return where;
    }
    static const QRegularExpression url(
        QStringLiteral("^postgres(?:ql)?://([^@/]*)@([^/:?]+|\\[[^\\]/]+\\])(?::(\\d{1,5}))?/([^?/"
                       "]+)(?:\\?(.*))?$"));
    const QRegularExpressionMatch m = url.match(dbText);
    // Never quote the address back: it may hold the password that is being refused.
    const QString authority
        = dbText.section(QLatin1String("://"), 1).section(QLatin1Char('/'), 0, 0);
    if (authority.section(QLatin1Char('@'), 0, -2).contains(QLatin1Char(':'))) {
        fail(error, kPasswordAdvice);
        return std::nullopt;
    }
    if (!m.hasMatch()) {
        fail(error, QStringLiteral("--db: a server is given as postgresql://USER@HOST[:PORT]/DB"));
        return std::nullopt;
    }
    where.backend = Backend::Postgres;
    where.user = QUrl::fromPercentEncoding(m.captured(1).toUtf8());
    where.host = QUrl::fromPercentEncoding(m.captured(2).toUtf8());
    if (where.host.startsWith(QLatin1Char('[')))
        where.host = where.host.mid(1, where.host.size() - 2);
    if (!m.captured(3).isEmpty())
        where.port = m.captured(3).toInt();
    where.database = QUrl::fromPercentEncoding(m.captured(4).toUtf8());
    if (where.user.isEmpty() || where.port < 1 || where.port > 65535) {
        fail(error, QStringLiteral("--db: the server address needs a user and a port 1..65535"));
        return std::nullopt;
    }
    if (!readQuery(m.captured(5), where, error))
        return std::nullopt;
    return where;
}

std::optional<QString> readPasswordFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("--db-password-file %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QString line = QString::fromUtf8(file.readLine());
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

} // namespace store
