// A station's results: its own file first, then the line's server.
#include "store/station.h"

namespace store {

std::unique_ptr<Station> Station::open(
    const QString &dbText, QString *error, const QString &passwordFile, const QString &localPath)
{
    const std::optional<Location> where = parseLocation(dbText, error);
    if (!where)
        return nullptr;
    auto station = std::unique_ptr<Station>(new Station);
    if (where->backend == Backend::Postgres) {
        station->m_server = where;
        if (!passwordFile.isEmpty()) {
            const std::optional<QString> password = readPasswordFile(passwordFile, error);
            if (!password)
                return nullptr;
            station->m_password = *password;
        }
    }
    Location local;
    local.path = where->backend == Backend::Sqlite ? where->path
        : localPath.isEmpty()                      ? defaultPath()
                                                   : localPath;
    station->m_local = Store::open(local, error);
    return station->m_local ? std::move(station) : nullptr;
}

SyncResult Station::sync()
{
    SyncResult result;
    if (!m_server) {
        result.error = QStringLiteral("no server to upload to: --db names none");
        return result;
    }
    if (!m_serverStore)
        m_serverStore = Store::open(*m_server, &result.error, m_password);
    if (!m_serverStore) {
        result.pending = int(m_local->pending().size());
        return result;
    }
    result = m_local->uploadPending(*m_serverStore);
    return result;
}

QString Station::syncMessage(const SyncResult &result) const
{
    const QString server = m_server ? m_server->describe() : QString();
    return result.error.isEmpty()
        ? QStringLiteral("%1 run(s) uploaded to %2, %3 there already")
              .arg(result.uploaded)
              .arg(server)
              .arg(result.alreadyThere)
        : QStringLiteral("%1 run(s) wait for %2: %3").arg(result.pending).arg(server, result.error);
}

Recorded Station::record(const QList<core::plan::RunRecord> &runs)
{
    Recorded r;
    r.stored = !m_local->save(runs).contains(Saved::Failed);
    QStringList lines;
    for (const core::plan::RunRecord &run : runs)
        lines.append((run.port.isEmpty() ? QString() : run.port + QStringLiteral(": "))
            + (r.stored
                    ? QStringLiteral("run %1 stored in %2").arg(run.id, m_local->location().path)
                    : QStringLiteral("run %1 NOT stored: %2").arg(run.id, m_local->errorString())));
    if (r.stored && m_server) {
        r.upload = sync();
        lines.append(syncMessage(r.upload));
    }
    r.message = lines.join(QLatin1Char('\n'));
    return r;
}

} // namespace store
