// Where results are kept: a SQLite file on the station, or a PostgreSQL server for a whole line.
#pragma once

#include <QString>

#include <optional>

namespace store {

enum class Backend { Sqlite, Postgres };

struct Location
{
    Backend backend = Backend::Sqlite;
    QString path; ///< the SQLite file
    QString user;
    QString host; ///< a name, an address, or the folder of the server's Unix socket
    int port = 5432;
    QString database;
    QString options; ///< libpq settings from the address's query, "sslmode=require;..."

    /** @brief For messages: the file, or "postgresql://USER@HOST:PORT/DB" (never a password). */
    QString describe() const;
};

/** @brief The station's own file: $XDG_DATA_HOME/tovandrix/results.sqlite. */
QString defaultPath();

/**
 * @brief Reads what `--db` names: empty text (the default file), "PATH", "sqlite:PATH", or
 * "postgresql://USER@HOST[:PORT]/DB[?sslmode=...]" (also "postgres://"; a socket folder as host
 * is percent-encoded, "%2Frun%2Fpostgresql"). A password in the address is refused: it would show
 * in the process list. Nothing, with the reason in @p error, for an address that is not usable.
 */
std::optional<Location> parseLocation(const QString &dbText, QString *error = nullptr);

/** @brief The password kept in the first line of a file (`--db-password-file`). */
std::optional<QString> readPasswordFile(const QString &path, QString *error = nullptr);

} // namespace store
