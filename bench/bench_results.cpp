// How fast the results store is: storing runs on a station, a unit's history among a million
// runs, and the report over a million measurements, in SQLite and in a PostgreSQL server of its
// own.
#include "store/store.h"

#include "pgserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace core::plan;

namespace {

const char kUsage[]
    = R"(bench_results [--runs N] [--history-runs N] [--measurements N] [--folder DIR]
  Stores N runs (default 3000) of 6 steps, each step one attempt of 30 samples and 5
  measurements, into SQLite one at a time as a station does (WAL, synchronous=FULL), and uploads
  them to PostgreSQL. Each run waits for the disk to confirm its write, so the figure is bound by
  the disk's flush time, which is timed first on its own; --folder /dev/shm (no flush) shows
  the program's own cost. Then stores as many again one, 4 and 32 to a transaction in turns,
  as a station whose units finish together does (one flush for all). The SQLite files are made in DIR
  (default: a temporary folder). Then fills a database with --history-runs runs (default
  1000000, 4 a unit)
  and --measurements measurements (default 1000000, 30 a run) and times the history of 100 units
  and the report, with and without a filter, in SQLite and PostgreSQL.
)";

struct Failure
{
    QString what;
};

// Thrown, not exited: the throwaway server is stopped on the way out.
[[noreturn]] void die(const QString &what)
{
    throw Failure { what };
}

RunRecord stationRun(int i)
{
    RunRecord run;
    run.id = newRunId();
    run.plan = { "bench", "1.0", QString(64, 'a') };
    run.station = "st-1";
    run.unit.serial = QStringLiteral("B%1").arg(i);
    run.startTime = QDateTime::currentDateTime();
    run.endTime = run.startTime.addSecs(30);
    run.outcome = Outcome::Pass;
    for (int s = 0; s < 6; ++s) {
        Attempt a { run.startTime, run.endTime, Outcome::Pass, {}, {}, {} };
        for (int k = 0; k < 30; ++k)
            a.samples.append(1000 + (i * 31 + k * 7) % 19);
        for (int m = 0; m < 5; ++m)
            a.measurements.append({ QStringLiteral("m%1").arg(m), 1000.0 + m, {}, "mm", 990.0,
                1010.0, {}, Outcome::Pass });
        run.steps.append({ QStringLiteral("step-%1").arg(s), Outcome::Pass, { a } });
    }
    return run;
}

// Rows made by the database itself: a numbered list i = 1..N written with one statement each.
void fill(const store::Location &where, const QString &password, qint64 runs, qint64 measurements)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(
        where.backend == store::Backend::Sqlite ? "QSQLITE" : "QPSQL", "fill");
    db.setDatabaseName(where.backend == store::Backend::Sqlite ? where.path : where.database);
    db.setHostName(where.host);
    db.setPort(where.port);
    db.setUserName(where.user);
    db.setPassword(password);
    if (!db.open())
        die(db.lastError().text());
    const QString numbers = "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c "
                            "WHERE i < %1) ";
    const QStringList statements {
        numbers.arg(runs)
            + "INSERT INTO runs (uuid, plan_name, plan_version, plan_sha256, station, operator,"
              " lot, port, serial, software, hardware, start_ms, start_offset, end_ms,"
              " end_offset, outcome, uploaded) SELECT 'bench-' || i, 'plan-' || (i % 2), '1',"
              " '', 'st-' || (i % 8), 'op', 'lot-' || (i % 10), '/dev/ttyUSB0',"
              " 'U' || (i % ("
            + QString::number(runs / 4)
            + ")), 'V1', 'H1',"
              " 1780000000000 + i * 1000, 3600, 1780000000000 + i * 1000 + 900, 3600,"
              " CASE WHEN i % 13 = 0 THEN 'FAIL' ELSE 'PASS' END, 1 FROM c",
        numbers.arg(measurements / 5)
            + "INSERT INTO steps (run_id, idx, name, outcome) SELECT i / 6 + 1, i % 6,"
              " 'step-' || (i % 6), CASE WHEN i % 37 = 0 THEN 'FAIL' ELSE 'PASS' END FROM c",
        numbers.arg(measurements)
            + "INSERT INTO measurements (run_id, step_idx, attempt_idx, idx, step, name, value,"
              " unit, min, max, outcome) SELECT i / 30 + 1, (i % 30) / 5, 0, i % 5,"
              " 'step-' || ((i % 30) / 5), 'm' || (i % 5), 1000 + ((i % 1009) * 7919 % 1000) / "
              "100.0,"
              " 'mm', 990, 1010, 'PASS' FROM c",
    };
    for (const QString &sql : statements)
        if (QSqlQuery q(db); !q.exec(sql))
            die(q.lastError().text());
    if (QSqlQuery q(db); !q.exec("ANALYZE"))
        die(q.lastError().text());
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase("fill");
}

void queries(const char *name, const store::Location &where, const QString &password, qint64 runs,
    qint64 measurements)
{
    QElapsedTimer clock;
    clock.start();
    QString error;
    if (!store::Store::open(where, &error, password))
        die(error);
    fill(where, password, runs, measurements);
    std::printf("%s: %lld runs and %lld measurements made in %.1f s\n", name, runs, measurements,
        clock.nsecsElapsed() / 1e9);
    auto s = store::Store::open(where, &error, password);
    QList<double> ms;
    for (int u = 0; u < 100; ++u) {
        clock.start();
        const qsizetype found = s->history(QStringLiteral("U%1").arg(u * 2477 % (runs / 4))).size();
        ms.append(clock.nsecsElapsed() / 1e6);
        if (found != 4)
            die(QStringLiteral("history found %1 runs, not 4").arg(found));
    }
    std::sort(ms.begin(), ms.end());
    std::printf("  history of one unit among %lld runs: median %.2f ms, max %.2f ms (100 units)\n",
        runs, ms[50], ms.last());
    for (const auto &[label, filter] : { std::pair { "every run", store::ReportFilter {} },
             std::pair { "one station", store::ReportFilter { {}, {}, {}, "st-3", {} } } }) {
        clock.start();
        const std::optional<store::Report> report = s->report(filter);
        if (!report)
            die(s->errorString());
        qint64 n = 0;
        for (const store::MeasurementStats &m : report->measurements)
            n += m.n;
        std::printf("  report, %s: %.2f s (%lld runs, %lld measurements, first-pass yield %.3f)\n",
            label, clock.nsecsElapsed() / 1e9, report->runs, n, report->firstPassYield.value_or(0));
    }
}

} // namespace

int run(const QStringList &args)
{
    qint64 count = 3000, runs = 1000000, measurements = 1000000;
    QString folder = QDir::tempPath();
    for (int i = 0; i < args.size(); i += 2) {
        if (args[i] == "--folder" && i + 1 < args.size()) {
            folder = args[i + 1];
            continue;
        }
        qint64 *target = args[i] == "--runs" ? &count
            : args[i] == "--history-runs"    ? &runs
            : args[i] == "--measurements"    ? &measurements
                                             : nullptr;
        if (!target || i + 1 >= args.size() || args[i + 1].toLongLong() < 4) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        *target = args[i + 1].toLongLong();
    }
    QTemporaryDir dir(folder + "/bench-results-XXXXXX");
    testsupport::PgServer pg;
    if (!pg.start())
        die(pg.errorString());
    QString error;
    auto station
        = store::Store::open(*store::parseLocation(dir.filePath("station.sqlite")), &error);
    auto server
        = store::Store::open(*store::parseLocation(pg.newDatabase("line")), &error, pg.password());
    if (!station || !server)
        die(error);
    {
        // The disk's part: a transaction of one small row, flushed as every run is.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "floor");
        db.setDatabaseName(dir.filePath("floor.sqlite"));
        QSqlQuery q(db.open() ? db : QSqlDatabase());
        q.exec("PRAGMA journal_mode=WAL");
        q.exec("PRAGMA synchronous=FULL");
        q.exec("CREATE TABLE t (i INTEGER)");
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 200; ++i)
            if (!q.exec("INSERT INTO t VALUES (1)"))
                die(q.lastError().text());
        std::printf("disk: a one-row transaction flushed (WAL, synchronous=FULL): %.3f ms\n",
            clock.nsecsElapsed() / 1e6 / 200);
    }
    QSqlDatabase::removeDatabase("floor");
    QList<RunRecord> made;
    auto makeRuns = [&made, count] {
        made.clear();
        for (int i = 0; i < count; ++i)
            made.append(stationRun(i));
    };
    makeRuns();
    QElapsedTimer clock;
    clock.start();
    for (const RunRecord &run : made)
        if (station->save(run) != store::Saved::Stored)
            die(station->errorString());
    double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("station: %lld runs of 6 steps x 30 samples and 5 measurements stored into SQLite "
                "one by one: %.0f runs/s (%.3f ms a run)\n",
        count, count / seconds, 1000 * seconds / count);
    clock.start();
    const store::SyncResult sync = station->uploadPending(*server);
    seconds = clock.nsecsElapsed() / 1e9;
    if (!sync.error.isEmpty())
        die(sync.error);
    std::printf("station: %d runs uploaded to PostgreSQL: %.0f runs/s\n", sync.uploaded,
        sync.uploaded / seconds);
    // Units a station finished together are stored in one transaction: one flush for all. The
    // sizes take turns, a fifth of the runs at a time, so the disk's changing flush time (a
    // shared disk) and the file's growth weigh on each alike.
    const int sizes[] = { 1, 4, 32 };
    double spent[3] = {};
    for (int turn = 0; turn < 5; ++turn)
        for (int k = 0; k < 3; ++k) {
            makeRuns();
            made = made.mid(0, count / 5);
            clock.start();
            for (qsizetype i = 0; i < made.size(); i += sizes[k])
                if (station->save(made.mid(i, sizes[k])).contains(store::Saved::Failed))
                    die(station->errorString());
            spent[k] += clock.nsecsElapsed() / 1e9;
        }
    for (int k = 0; k < 3; ++k)
        std::printf("station: %lld runs stored %d to a transaction, in turns with the other sizes: "
                    "%.0f runs/s (%.3f ms a run)\n",
            count / 5 * 5, sizes[k], count / 5 * 5 / spent[k], 1000 * spent[k] / (count / 5 * 5));
    station.reset();
    server.reset();

    queries(
        "SQLite", *store::parseLocation(dir.filePath("million.sqlite")), {}, runs, measurements);
    queries("PostgreSQL", *store::parseLocation(pg.newDatabase("million")), pg.password(), runs,
        measurements);
    return 0;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    try {
        return run(app.arguments().mid(1));
    } catch (const Failure &failure) {
        std::fprintf(stderr, "bench_results: %s\n", qPrintable(failure.what));
        return 1;
    }
}
