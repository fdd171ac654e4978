// The results database: runs saved whole, a unit's history, the report, and the upload of a
// station's runs to the line's server.
#pragma once

#include "core/plan/runrecord.h"
#include "store/location.h"
#include "store/report.h"

#include <QStringList>

#include <memory>
#include <optional>

namespace store {

/** How a save ended. */
enum class Saved {
    Stored,
    AlreadyThere, ///< a run of that id was stored before; nothing was written
    Failed, ///< nothing was written; Store::errorString() says why (a full disk, a lost server)
};

/** What an upload of pending runs did. */
struct SyncResult
{
    int uploaded = 0; ///< runs the server took
    int alreadyThere = 0; ///< runs the server had already (an upload cut short before)
    int pending = 0; ///< runs still waiting for the server
    QString error; ///< why the upload stopped early; empty when everything went up
};

/** What an import of run-record files did. */
struct ImportResult
{
    int stored = 0;
    int alreadyThere = 0;
    QStringList problems; ///< "FILE: reason" per file that could not be read or stored
};

/**
 * One connection to a results database, SQLite or PostgreSQL, with the same tables on both.
 * A station writes each run to its own SQLite file (save), then copies what is pending to the
 * line's server (uploadPending): every run reaches the server exactly once, keyed by its id,
 * whatever stops in between. Every value goes in as a bound parameter. Use it from one thread.
 */
class Store
{
public:
    /**
     * @brief Opens the database, creating a SQLite file and its folder, and the tables, when
     * missing, and bringing an older schema up to date. A database of a newer schema is refused
     * and left as it is. SQLite runs in WAL mode with synchronous=FULL, so a run reported stored
     * survives a power cut. A PostgreSQL password comes from @p password (a password file), else
     * libpq's own PGPASSWORD or ~/.pgpass; no message ever holds it.
     * @return nothing, with the reason in @p error, when the database cannot be used.
     */
    static std::unique_ptr<Store> open(
        const Location &where, QString *error, const QString &password = {});
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    const Location &location() const;
    /** @brief Why the last call that failed failed. */
    QString errorString() const;

    /** @brief Stores the whole run in one transaction, unless a run of its id is there. */
    Saved save(const core::plan::RunRecord &run);
    /**
     * @brief Stores the runs in one transaction, one flush to the disk for all of them (the
     * units a station finished together); a run of an id already there is left out. Either every
     * run is kept or, with every entry Failed, none.
     */
    QList<Saved> save(const QList<core::plan::RunRecord> &runs);
    /** @brief The run of that id, whole; nothing if there is none (or on failure). */
    std::optional<core::plan::RunRecord> load(const QString &id);
    /** @brief Every run of one unit, newest first, without their steps. */
    QList<core::plan::RunRecord> history(const QString &serial);
    /** @brief Runs, yields, failures by step and measurement statistics of the chosen runs. */
    std::optional<Report> report(const ReportFilter &filter = {});

    /** @brief Ids of the runs not yet uploaded, oldest first. */
    QStringList pending();
    /** @brief Notes that the server has the run. */
    bool markUploaded(const QString &id);
    /**
     * @brief Copies every pending run to @p server, one server transaction per run, and marks
     * each uploaded once the server has it. A crash between the two only uploads the run again,
     * and the server keeps the copy it has. Stops at the first failure; the rest stays pending.
     * A server connection that failed or went stale (a restarted server) is made anew.
     */
    SyncResult uploadPending(Store &server);
    /** @brief Stores every run record (*.json) of @p folder; a run already stored is skipped. */
    ImportResult importFolder(const QString &folder);

private:
    struct Private;
    explicit Store(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace store
