// The connection behind a Store, shared by the files that implement it.
#pragma once

#include "store/store.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <array>

namespace store {

/** Statements prepared once per connection, by their place in Private::kStatements. */
enum Statement {
    InsertRun,
    InsertStep,
    InsertAttempt,
    InsertSamples,
    InsertMeasurement,
    StatementCount
};

struct Store::Private
{
    static const char *const kStatements[StatementCount];
    static const char kRunColumns[];

    Location where;
    QString password;
    QString connection; ///< the name of the QSqlDatabase connection
    QString error;
    bool broken = false; ///< a statement failed: the connection is made anew before the next use
    std::array<std::optional<QSqlQuery>, StatementCount> prepared;

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }
    bool connect();
    void disconnect();
    /** @brief Connected, making the connection anew after a failure. */
    bool ready();
    /** @brief Notes why @p query failed; always false. */
    bool failed(const QSqlQuery &query, const QString &what);
    /** @brief A transaction that holds the write lock from its start. */
    bool begin();
    bool commit();
    void rollback();
    /** @brief Runs @p sql with @p values bound in order. */
    bool run(QSqlQuery &query, const QString &sql, const QVariantList &values = {});
    QSqlQuery *statement(Statement which);
    /** @brief Writes the run inside the open transaction; nothing when a statement failed. */
    std::optional<Saved> insert(const core::plan::RunRecord &run);
};

/** @brief A run's columns (Store::Private::kRunColumns, from the first) as its record, no steps. */
core::plan::RunRecord runFromRow(const QSqlQuery &query, int first = 0);

} // namespace store
