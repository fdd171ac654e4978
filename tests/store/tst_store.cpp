// The results store over a real SQLite file and a real PostgreSQL server of the test's own: runs
// read back whole and verbatim, the schema version guard, history and the report against figures
// computed here from the runs stored, and uploads that reach the server exactly once whatever
// stops them.
#include "store/store.h"

#include "pgserver.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <climits>
#include <cmath>
#include <csignal>
#include <map>
#include <sys/resource.h>

using namespace core::plan;
using store::Saved;

Q_DECLARE_METATYPE(store::ReportFilter)

namespace {

const QDateTime kBase = QDateTime(QDate(2026, 12, 7), QTime(8, 0), Qt::OffsetFromUTC, 3600);
const QString kOddSerial = QStringLiteral("0'A\"1; DROP TABLE runs; -- 序列号 ü");

Measurement number(
    const QString &name, double value, std::optional<double> min, std::optional<double> max)
{
    const bool in = (!min || value >= *min) && (!max || value <= *max);
    return { name, value, {}, QStringLiteral("mm"), min, max, {},
        min || max ? (in ? Outcome::Pass : Outcome::Fail) : Outcome::None };
}

// Run i of a small line: ten units tested in turn, every fourth run a plan-less characterization.
RunRecord lineRun(int i, QRandomGenerator &rng)
{
    RunRecord run;
    run.id = newRunId();
    const bool judged = i % 4 != 3;
    run.plan = { judged ? (i % 2 ? "plan-a" : "plan-b") : "", "1.0", "ab12" };
    run.station = QStringLiteral("st-%1").arg(i % 3);
    run.lot = i < 30 ? "L1" : "L2";
    run.unit.serial = i % 10 ? QStringLiteral("S%1").arg(i % 10) : kOddSerial;
    run.startTime = kBase.addSecs(60 * i);
    run.endTime = run.startTime.addSecs(20);
    for (const char *name : { "distance", "supply" }) {
        Step step { name, Outcome::None, {} };
        for (int a = 0; a < 2 && (a == 0 || step.outcome == Outcome::Fail); ++a) {
            Attempt at { run.startTime, run.endTime, Outcome::None, {}, { i, -i, a }, {} };
            const double v = rng.generateDouble();
            at.measurements = { !judged       ? number("mean", 1000 + v, {}, {})
                    : step.name == "distance" ? number("mean", 1000 + 14 * v, 990.0, 1010.0)
                                              : number("volts", 5 + v, {}, 5.8) };
            at.outcome = step.outcome = at.measurements[0].outcome;
            step.attempts.append(at);
        }
        run.outcome = worse(run.outcome, step.outcome);
        run.steps.append(step);
    }
    return run;
}

// Equal to the last digits a double keeps through different orders of summing.
bool close(double a, double b)
{
    return a == b || std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b));
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    testsupport::PgServer m_pg;
    int m_count = 0;
    QString m_spec; ///< the address of the database made last

    // A fresh database of the row's backend.
    std::unique_ptr<store::Store> fresh(const QString &backend)
    {
        const QString name = QStringLiteral("t%1").arg(++m_count);
        m_spec = backend == "sqlite" ? m_dir.filePath(name + ".sqlite") : m_pg.newDatabase(name);
        QString error;
        auto s = store::Store::open(*store::parseLocation(m_spec), &error, m_pg.password());
        if (!s)
            qWarning() << error << m_pg.errorString();
        return s;
    }

    void checkExactlyOnce(store::Store &local, store::Store &server, const QStringList &ids)
    {
        QCOMPARE(local.pending(), QStringList());
        QCOMPARE(server.report()->runs, qint64(ids.size()));
        for (const QString &id : ids)
            QVERIFY2(server.load(id), qPrintable(id));
    }

private slots:
    void initTestCase()
    {
        if (testsupport::PgServer::available())
            QVERIFY2(m_pg.start(), qPrintable(m_pg.errorString()));
    }

    void backends_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

    void roundTrip_data() { backends_data(); }
    void roundTrip()
    {
        QFETCH(QString, backend);
        if (backend != "sqlite" && !testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        auto s = fresh(backend);
        QVERIFY(s);
        RunRecord run;
        run.id = newRunId();
        run.plan = { "plan 'final'; --", "2.1", QString(64, 'f') };
        run.station = QStringLiteral("站台 \"7\";\\n Zürich");
        run.operatorName = QStringLiteral("O'Neil");
        run.lot = "50%_lot";
        run.port = "/dev/ttyUSB0";
        run.unit = { kOddSerial, "V1.2", "" };
        run.startTime
            = QDateTime(QDate(2026, 3, 1), QTime(23, 59, 58, 102), Qt::OffsetFromUTC, 19800);
        run.endTime = run.startTime.addMSecs(1234).toOffsetFromUtc(-8 * 3600);
        run.outcome = Outcome::Marginal;
        Attempt first { run.startTime, {}, Outcome::Error, {}, {}, "no reply; line quiet" };
        Attempt second { run.startTime, run.endTime, Outcome::Marginal,
            { number("mean", 1009.875, 990.0, 1010.0), number("spread", 0.1, {}, {}),
                { "firmware", {}, "V1.2", "", {}, {}, {}, Outcome::Pass },
                { "status", {}, "", "", {}, {}, {}, Outcome::None } },
            { INT_MIN, -1, 0, 1, INT_MAX }, {} };
        second.measurements[0].marginal = 0.5;
        second.measurements[0].outcome = Outcome::Marginal;
        run.steps = { { "distance", Outcome::Marginal, { first, second } },
            { "empty", Outcome::Skipped, {} } };
        QCOMPARE(s->save(run), Saved::Stored);
        QCOMPARE(s->save(run), Saved::AlreadyThere);
        RunRecord bare; // a characterization: no plan, no steps, no end
        bare.id = newRunId();
        bare.startTime = run.startTime.addDays(-1);
        bare.unit.serial = kOddSerial;
        QCOMPARE(s->save(bare), Saved::Stored);
        QCOMPARE(toJson(*s->load(run.id)), toJson(run));
        QCOMPARE(toJson(*s->load(bare.id)), toJson(bare));
        const QList<RunRecord> history = s->history(kOddSerial);
        QCOMPARE(history.size(), 2);
        QCOMPARE(history[0].station, run.station);
        QCOMPARE(history[1].id, bare.id);
        QVERIFY(s->history(kOddSerial.left(3)).isEmpty());
    }

    void newerSchemaRefused()
    {
        const QString path = m_dir.filePath("newer.sqlite");
        QString error;
        QVERIFY(store::Store::open(*store::parseLocation(path), &error));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "raw");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec("UPDATE schema_version SET version = 99"));
            db.close();
        }
        QSqlDatabase::removeDatabase("raw");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QVERIFY(!store::Store::open(*store::parseLocation(path), &error));
        QVERIFY2(
            error.contains("schema version 99, newer") && error.contains(path), qPrintable(error));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }

    void queries_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<store::ReportFilter>("filter");
        for (const char *backend : { "sqlite", "postgresql" }) {
            const QString b = backend;
            QTest::newRow(qPrintable(b + "-every-run")) << b << store::ReportFilter {};
            QTest::newRow(qPrintable(b + "-one-station"))
                << b << store::ReportFilter { {}, {}, {}, "st-1", {} };
            QTest::newRow(qPrintable(b + "-plan-and-lot"))
                << b << store::ReportFilter { {}, {}, "plan-a", {}, "L2" };
            QTest::newRow(qPrintable(b + "-since-until"))
                << b << store::ReportFilter { kBase.addSecs(600), kBase.addSecs(2400), {}, {}, {} };
        }
    }
    void queries()
    {
        QFETCH(QString, backend);
        QFETCH(store::ReportFilter, filter);
        if (backend != "sqlite" && !testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        auto s = fresh(backend);
        QVERIFY(s);
        QRandomGenerator rng(7);
        QList<RunRecord> runs;
        for (int i = 0; i < 60; ++i) {
            runs.append(lineRun(i, rng));
            QVERIFY2(s->save(runs.last()) == Saved::Stored, qPrintable(s->errorString()));
        }
        QStringList newestFirst;
        for (const RunRecord &r : runs)
            if (r.unit.serial == kOddSerial)
                newestFirst.prepend(r.id);
        QStringList history;
        for (const RunRecord &r : s->history(kOddSerial))
            history.append(r.id);
        QCOMPARE(history, newestFirst);

        // The figures from their definitions, over the runs this row chooses (stored in order).
        QSet<QString> units;
        std::map<QString, QPair<bool, bool>> firstLast; // passed first, passed last
        std::map<QString, qint64> failures;
        std::map<std::tuple<QString, QString, std::optional<double>, std::optional<double>>,
            QList<double>>
            groups;
        qint64 chosen = 0;
        for (const RunRecord &r : runs) {
            if ((filter.since.isValid() && r.startTime < filter.since)
                || (filter.until.isValid() && r.startTime >= filter.until)
                || (!filter.plan.isEmpty() && r.plan.name != filter.plan)
                || (!filter.station.isEmpty() && r.station != filter.station)
                || (!filter.lot.isEmpty() && r.lot != filter.lot))
                continue;
            ++chosen;
            units.insert(r.unit.serial);
            if (r.outcome != Outcome::None) {
                const bool pass = r.outcome == Outcome::Pass || r.outcome == Outcome::Marginal;
                firstLast.try_emplace(r.unit.serial, pass, pass).first->second.second = pass;
            }
            for (const Step &step : r.steps) {
                if (step.outcome == Outcome::Fail || step.outcome == Outcome::Error)
                    ++failures[step.name];
                for (const Attempt &a : step.attempts)
                    for (const Measurement &m : a.measurements)
                        groups[{ step.name, m.name, m.min, m.max }].append(*m.value);
            }
        }
        const std::optional<store::Report> report = s->report(filter);
        QVERIFY2(report, qPrintable(s->errorString()));
        QCOMPARE(report->runs, chosen);
        QCOMPARE(report->units, qint64(units.size()));
        double firstPass = 0, finalPass = 0;
        for (const auto &[serial, passed] : firstLast) {
            firstPass += passed.first;
            finalPass += passed.second;
        }
        QCOMPARE(*report->firstPassYield, firstPass / firstLast.size());
        QCOMPARE(*report->finalYield, finalPass / firstLast.size());
        QCOMPARE(report->failures.size(), qsizetype(failures.size()));
        for (int i = 0; i < report->failures.size(); ++i) {
            QCOMPARE(report->failures[i].count, failures[report->failures[i].step]);
            QVERIFY(i == 0 || report->failures[i - 1].count >= report->failures[i].count);
        }
        QCOMPARE(report->measurements.size(), qsizetype(groups.size()));
        for (const store::MeasurementStats &m : report->measurements) {
            const QList<double> &v = groups[{ m.step, m.name, m.min, m.max }];
            double mean = 0, squares = 0;
            for (double x : v)
                mean += x / v.size();
            for (double x : v)
                squares += (x - mean) * (x - mean);
            const double sigma = std::sqrt(squares / (v.size() - 1));
            QCOMPARE(m.n, qint64(v.size()));
            QVERIFY(close(m.mean, mean) && close(*m.sigma, sigma));
            QCOMPARE(m.lowest, *std::min_element(v.begin(), v.end()));
            QCOMPARE(m.highest, *std::max_element(v.begin(), v.end()));
            const double upper = m.max ? (*m.max - mean) / (3 * sigma) : INFINITY;
            const double lower = m.min ? (mean - *m.min) / (3 * sigma) : INFINITY;
            QCOMPARE(m.cp.has_value(), m.min && m.max);
            QVERIFY(!m.cp || close(*m.cp, (*m.max - *m.min) / (6 * sigma)));
            QVERIFY(close(m.cpk.value_or(INFINITY), std::min(upper, lower)));
        }
    }

    void upload_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("uploaded-twice") << "";
        QTest::newRow("server-stopped-mid-batch") << "server";
        QTest::newRow("station-killed-mid-batch") << "station";
        QTest::newRow("station-killed-after-server-commit") << "hold";
    }
    void upload()
    {
        QFETCH(QString, stop);
        if (!testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        auto local = fresh("sqlite");
        auto server = fresh("postgresql");
        const QString serverSpec = m_spec;
        QVERIFY(local && server);
        QRandomGenerator rng(3);
        QStringList ids;
        auto test = [&](int count) {
            for (int i = 0; i < count; ++i) {
                const RunRecord run = lineRun(i, rng);
                ids.append(run.id);
                QCOMPARE(local->save(run), Saved::Stored);
            }
        };
        test(300);
        if (stop.isEmpty()) {
            QCOMPARE(local->uploadPending(*server).uploaded, 300);
            for (const QString &id : ids)
                QCOMPARE(server->save(*local->load(id)), Saved::AlreadyThere);
            QCOMPARE(local->uploadPending(*server).uploaded, 0);
            return checkExactlyOnce(*local, *server, ids);
        }
        QProcess station;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PGPASSWORD", m_pg.password());
        station.setProcessEnvironment(env);
        station.start(testsupport::binaryDir() + "/tests/store_station",
            { local->location().path, serverSpec, stop == "hold" ? "hold" : "sync" });
        QVERIFY(station.waitForStarted());
        if (stop == "hold") {
            QVERIFY(station.waitForReadyRead(60000));
        } else {
            for (int seen = 0; seen < 30 && !station.waitForFinished(5);)
                seen = int(server->report().value_or(store::Report {}).runs);
        }
        if (stop == "server") {
            QVERIFY2(m_pg.stop(), qPrintable(m_pg.errorString()));
            test(5); // the station goes on testing; its runs wait
            const store::SyncResult down = local->uploadPending(*server);
            QVERIFY(!down.error.isEmpty() && down.pending > 0);
            QVERIFY2(m_pg.start(), qPrintable(m_pg.errorString()));
        }
        station.kill();
        station.waitForFinished();
        const store::SyncResult result = local->uploadPending(*server);
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        // A station killed mid-batch may have left one run on the server but not marked.
        QVERIFY(stop == "hold" ? result.alreadyThere == 1 : result.alreadyThere <= 1);
        checkExactlyOnce(*local, *server, ids);
    }

    void fullDisk()
    {
        auto s = fresh("sqlite");
        QRandomGenerator rng(5);
        const RunRecord kept = lineRun(1, rng), lost = lineRun(2, rng);
        QCOMPARE(s->save(kept), Saved::Stored);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit none { 0, saved.rlim_max }; // every write that would grow a file fails
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &none), 0);
        const Saved result = s->save(lost);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        QCOMPARE(result, Saved::Failed);
        QVERIFY2(s->errorString().contains(s->location().path), qPrintable(s->errorString()));
        QCOMPARE(toJson(*s->load(kept.id)), toJson(kept));
        QCOMPARE(s->pending(), QStringList { kept.id });
        QCOMPARE(s->save(lost), Saved::Stored);
    }

    void importFolder()
    {
        auto s = fresh("sqlite");
        QRandomGenerator rng(9);
        const QString folder = m_dir.filePath("records");
        QDir().mkpath(folder);
        QList<RunRecord> runs { lineRun(0, rng), lineRun(3, rng) };
        for (int i = 0; i < 3; ++i) {
            QFile file(QStringLiteral("%1/run%2.json").arg(folder).arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(i < 2 ? QJsonDocument(toJson(runs[i])).toJson() : QByteArray("{\"id\":"));
        }
        const store::ImportResult first = s->importFolder(folder);
        QCOMPARE(first.stored, 2);
        QCOMPARE(first.problems.size(), 1);
        QVERIFY(first.problems[0].startsWith(folder + "/run2.json: "));
        QCOMPARE(s->importFolder(folder).alreadyThere, 2);
        QCOMPARE(toJson(*s->load(runs[1].id)), toJson(runs[1]));
    }

    void locations_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("described"); // empty: refused
        QTest::addColumn<QString>("options");
        QTest::newRow("plain-path") << "/var/r.sqlite"
                                    << "/var/r.sqlite"
                                    << "";
        QTest::newRow("sqlite-prefix") << "sqlite:r;1.db"
                                       << "r;1.db"
                                       << "";
        QTest::newRow("server-port-sslmode")
            << "postgresql://line@db.lan:6543/results?sslmode=require"
            << "postgresql://line@db.lan:6543/results"
            << "sslmode=require;connect_timeout=10";
        QTest::newRow("socket-folder-default-port") << "postgres://u@%2Frun%2Fpg/r"
                                                    << "postgresql://u@/run/pg:5432/r"
                                                    << "connect_timeout=10";
        QTest::newRow("password-in-address") << "postgresql://u:s3cret@h/r"
                                             << ""
                                             << "";
        QTest::newRow("password-in-query") << "postgresql://u@h/r?password=s3cret"
                                           << ""
                                           << "";
        QTest::newRow("option-with-blank") << "postgresql://u@h/r?sslmode=a%20b"
                                           << ""
                                           << "";
    }
    void locations()
    {
        QFETCH(QString, spec);
        QFETCH(QString, described);
        QFETCH(QString, options);
        QString error;
        const std::optional<store::Location> where = store::parseLocation(spec, &error);
        QCOMPARE(where ? where->describe() : QString(), described);
        QCOMPARE(where ? where->options : QString(), options);
        QVERIFY(!error.contains("s3cret"));
        QCOMPARE(store::parseLocation("")->path, store::defaultPath());
        QVERIFY(store::defaultPath().endsWith("/tovandrix/results.sqlite"));
    }

    void wrongPasswordNotShown()
    {
        if (!testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        const QString spec = m_pg.newDatabase("secret");
        QString error;
        QVERIFY(!store::Store::open(*store::parseLocation(spec), &error, "s3cret-wrong"));
        QVERIFY2(error.contains("password authentication failed") && !error.contains("s3cret"),
            qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
