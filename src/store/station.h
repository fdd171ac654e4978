// A station's results: every run into the station's own SQLite file first, then up to the
// line's server when `--db` names one. What `test`, `measure --db` and `sync` stand on.
#pragma once

#include "store/store.h"

namespace store {

/** What became of one run. */
struct Recorded
{
    bool stored = false; ///< every run is in the station's file, safe from a power cut
    SyncResult upload; ///< the upload after it (nothing tried without a server)
    QString message; ///< lines for standard error: where the runs went, or why not
};

class Station
{
public:
    /**
     * @brief Opens what `--db` names (@p dbText; empty text: the default file). A server address
     * opens the station's own file (@p localPath, by default the default file) beside it; a
     * server that cannot be reached now is no error, its runs wait in the file. The password
     * comes from @p passwordFile (`--db-password-file`), else libpq's PGPASSWORD or ~/.pgpass.
     * @return nothing, with the reason in @p error, when the station's file cannot be used.
     */
    static std::unique_ptr<Station> open(const QString &dbText, QString *error,
        const QString &passwordFile = {}, const QString &localPath = {});

    Store &local() { return *m_local; }
    bool hasServer() const { return m_server.has_value(); }

    /**
     * @brief Stores the runs in one transaction, then uploads everything pending when there is a
     * server. The message has a line per run ("PORT: run ID stored in FILE") and one for the
     * upload.
     */
    Recorded record(const QList<core::plan::RunRecord> &runs);
    Recorded record(const core::plan::RunRecord &run) { return record(QList { run }); }
    /** @brief Uploads what is pending; an error without a server or when it is down. */
    SyncResult sync();
    /** @brief "N run(s) uploaded to SERVER, M there already", or how many wait and why. */
    QString syncMessage(const SyncResult &result) const;

private:
    std::unique_ptr<Store> m_local;
    std::optional<Location> m_server; ///< the line's server, if any
    QString m_password;
    std::unique_ptr<Store> m_serverStore; ///< opened when first needed, again after a failure
};

} // namespace store
