// A station's results: its own file first, then the line's server.
#include "store/station.h"

namespace store {

std::unique_ptr<Station> Station::open(
    const QString &spec, QString *error, const QString &passwordFile, const QString &localPath)
{
    const std::optional<Location> where = parseLocation(spec, error);
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

Recorded Station::record(const core::plan::RunRecord &run)
{
    Recorded r;
    const Saved saved = m_local->save(run);
    r.stored = saved != Saved::Failed;
    if (!r.stored) {
        r.message = QStringLiteral("run %1 NOT stored: %2").arg(run.id, m_local->errorString());
        return r;
    }
    r.message = QStringLiteral("run %1 stored in %2").arg(run.id, m_local->location().path);
    if (!m_server)
        return r;
    r.upload = sync();
    r.message += r.upload.error.isEmpty()
        ? QStringLiteral(", uploaded to %1").arg(m_server->describe())
        : QStringLiteral("; %1 run(s) wait for %2: %3")
              .arg(r.upload.pending)
              .arg(m_server->describe(), r.upload.error);
    return r;
}

} // namespace store
