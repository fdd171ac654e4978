// The results store from the command line.
#include "cli/storejob.h"

#include "cli/options.h"
#include "cli/output.h"

#include "store/formats.h"
#include "store/station.h"

#include <QDate>
#include <QFileInfo>

#include <cstdio>

namespace cli {

namespace {

using cmdline::UsageError;

void say(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// The option's value as given: its default in the table is a description, not a value.
QString given(const Invocation &in, const char *option)
{
    return in.args().value(QLatin1String(option));
}

QDateTime startOfDay(const QString &date, int laterDays)
{
    return QDate::fromString(date.trimmed(), Qt::ISODate).addDays(laterDays).startOfDay();
}

} // namespace

StoreJob::StoreJob(const Invocation &in, Output *output)
    : PortJob({}, in.settings(), output)
    , m_in(in)
{
}

void StoreJob::start()
{
    const QString name = m_in.name();
    QString error;
    int status = kExitFailed;
    if (name == QLatin1String("history") || name == QLatin1String("report")) {
        const QString password = m_in.isSet("db-password-file")
            ? store::readPasswordFile(given(m_in, "db-password-file"), &error).value_or(QString())
            : QString();
        // A query reads the store --db names, the server itself when it is one.
        const auto db = error.isEmpty()
            ? store::Store::open(*store::parseLocation(given(m_in, "db")), &error, password)
            : nullptr;
        if (db)
            status = name == QLatin1String("history") ? history(*db) : report(*db);
    } else {
        const auto station
            = store::Station::open(given(m_in, "db"), &error, given(m_in, "db-password-file"));
        if (station)
            status = name == QLatin1String("import") ? importFolder(*station) : sync(*station);
    }
    if (!error.isEmpty())
        say(QStringLiteral("tovandrix-cli: ") + error);
    finish(status);
}

int StoreJob::history(store::Store &db)
{
    const QList<core::plan::RunRecord> runs = db.history(m_in.operands().value(0));
    if (runs.isEmpty() && !db.errorString().isEmpty()) {
        say(db.errorString());
        return kExitFailed;
    }
    m_output->text(store::historyText(
        runs, store::formatFromName(m_in.text("format")).value_or(store::Format::Text)));
    return kExitOk;
}

int StoreJob::report(store::Store &db)
{
    store::ReportFilter filter { {}, {}, m_in.text("plan"), m_in.text("station"),
        m_in.text("lot") };
    if (m_in.isSet("since"))
        filter.since = startOfDay(m_in.text("since"), 0);
    // The whole of the last day counts.
    if (m_in.isSet("until"))
        filter.until = startOfDay(m_in.text("until"), 1);
    const std::optional<store::Report> report = db.report(filter);
    if (!report) {
        say(db.errorString());
        return kExitFailed;
    }
    m_output->text(store::reportText(
        *report, store::formatFromName(m_in.text("format")).value_or(store::Format::Text)));
    return kExitOk;
}

int StoreJob::importFolder(store::Station &station)
{
    const store::ImportResult r = station.local().importFolder(m_in.operands().value(0));
    for (const QString &problem : r.problems)
        say(problem);
    say(QStringLiteral("%1 run(s) stored in %2, %3 there already, %4 not stored")
            .arg(r.stored)
            .arg(station.local().location().path)
            .arg(r.alreadyThere)
            .arg(r.problems.size()));
    const int status = r.problems.isEmpty() ? kExitOk : kExitFailed;
    return station.hasServer() ? qMax(status, sync(station)) : status;
}

int StoreJob::sync(store::Station &station)
{
    const store::SyncResult r = station.sync();
    say(station.syncMessage(r));
    return r.error.isEmpty() ? kExitOk : kExitFailed;
}

void checkStoreOptions(const Invocation &in)
{
    QString error;
    const std::optional<store::Location> where = store::parseLocation(given(in, "db"), &error);
    if (!where)
        throw UsageError { error };
    if (in.isSet("db-password-file")
        && !store::readPasswordFile(given(in, "db-password-file"), &error))
        throw UsageError { error };
    if (in.name() == QLatin1String("sync") && where->backend != store::Backend::Postgres)
        throw UsageError { QStringLiteral(
            "sync uploads to a line's server: give --db postgresql://USER@HOST[:PORT]/DB") };
    if (in.name() == QLatin1String("import") && !QFileInfo(in.operands().value(0)).isDir())
        throw UsageError { QStringLiteral("import wants a folder that exists, not \"%1\"")
                               .arg(in.operands().value(0)) };
}

bool storeRuns(const Invocation &in, const QList<core::plan::RunRecord> &runs)
{
    QString error;
    const auto station
        = store::Station::open(given(in, "db"), &error, given(in, "db-password-file"));
    store::Recorded r = station ? station->record(runs) : store::Recorded {};
    if (!station)
        for (const core::plan::RunRecord &run : runs)
            r.message += QStringLiteral("%1: run %2 NOT stored: %3\n").arg(run.port, run.id, error);
    say(r.message.trimmed());
    return r.stored;
}

} // namespace cli
