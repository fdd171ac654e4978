// The results store from the command line: a unit's history, the report, record files brought
// in, the upload to the line's server, and the keeping of the runs that test and measure make.
#pragma once

#include "cli/jobs.h"

#include "core/plan/runrecord.h"

#include <QList>

namespace store {
class Station;
class Store;
} // namespace store

namespace cli {

class Invocation;

/**
 * history, report, import or sync, done at once without a port: exit status 0, or 1 when the
 * store cannot be used, a record file cannot be stored or runs still wait for the server.
 */
class StoreJob : public PortJob
{
    Q_OBJECT
public:
    StoreJob(const Invocation &in, Output *output);
    void start() override;

private:
    int history(store::Store &db);
    int report(store::Store &db);
    int importFolder(store::Station &station);
    int sync(store::Station &station);

    const Invocation &m_in;
};

/** @brief Refuses a --db, a password file or an operand the store commands cannot use. */
void checkStoreOptions(const Invocation &in);

/**
 * @brief Keeps @p runs in one transaction where --db says (the station's own file, then the
 * server), saying on standard error where each went; false when they could not be stored.
 */
bool storeRuns(const Invocation &in, const QList<core::plan::RunRecord> &runs);

} // namespace cli
