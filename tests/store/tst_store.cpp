// The results store over a real SQLite file and a real PostgreSQL server of the test's own: runs
// read back whole and verbatim, the schema version guard, history and the report against figures
// computed here from the runs stored, and uploads that reach the server exactly once, also when
// the server has a run its station did not mark.
#include "store/formats.h"
#include "store/station.h"

#include "pgserver.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTest>

#include <climits>
#include <cmath>
#include <csignal>
#include <map>
#include <numeric>
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

} // namespace

class TestStore : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    testsupport::PgServer m_pg;
    int m_count = 0;
    QString m_spec; ///< the address of the database made last

    // A fresh database of the row's backend; none without a PostgreSQL server to make it in.
    std::unique_ptr<store::Store> fresh(const QString &backend)
    {
        const QString name = QStringLiteral("t%1").arg(++m_count);
        m_spec = backend == "sqlite" ? m_dir.filePath(name + ".sqlite") : m_pg.newDatabase(name);
        QString error;
        auto s = m_spec.isEmpty()
            ? nullptr
            : store::Store::open(*store::parseLocation(m_spec), &error, m_pg.password());
        if (!s && testsupport::PgServer::available())
            qWarning() << error << m_pg.errorString();
        return s;
    }

private slots:
    void initTestCase()
    {
        if (testsupport::PgServer::available())
            QVERIFY2(m_pg.start(), qPrintable(m_pg.errorString()));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }
    void roundTrip()
    {
        QFETCH(QString, backend);
        auto s = fresh(backend);
        if (!s && !testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        QVERIFY(s);
        RunRecord run { newRunId(), { "plan 'final'; --", "2.1", QString(64, 'f') },
            QStringLiteral("站台 \"7\";\\n Zürich"), "O'Neil", "50%_lot", "/dev/ttyUSB0",
            { kOddSerial, "V1.2", "" },
            QDateTime(QDate(2026, 3, 1), QTime(23, 59, 58, 102), Qt::OffsetFromUTC, 19800), {},
            Outcome::Marginal, {} };
        run.endTime = run.startTime.addMSecs(1234).toOffsetFromUtc(-8 * 3600);
        Attempt first { run.startTime, {}, Outcome::Error, {}, {}, "no reply; line quiet" };
        Attempt second { run.startTime, run.endTime, Outcome::Marginal,
            { { "mean", 1009.875, {}, "mm", 990.0, 1010.0, 0.5, Outcome::Marginal },
                number("spread", 0.1, {}, {}),
                { "firmware", {}, "V1.2", "", {}, {}, {}, Outcome::Pass },
                { "status", {}, "", "", {}, {}, {}, Outcome::None } },
            { INT_MIN, -1, 0, 1, INT_MAX }, {} };
        run.steps = { { "distance", Outcome::Marginal, { first, second } },
            { "empty", Outcome::Skipped, {} } };
        const RunRecord bare { newRunId(), {}, {}, {}, {}, {}, { kOddSerial, {}, {} },
            run.startTime.addDays(-1) }; // a characterization: no plan, no steps, no end
        // In by import of record files (one damaged), then once more by import and by save.
        const QString folder = m_dir.filePath(backend);
        QDir().mkpath(folder);
        for (const auto &[name, bytes] :
            { std::pair { "a.json", QJsonDocument(toJson(run)).toJson() },
                { "b.json", QJsonDocument(toJson(bare)).toJson() }, { "c.json", "{\"id\":" } }) {
            QFile file(folder + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        const store::ImportResult imported = s->importFolder(folder);
        QVERIFY(imported.stored == 2 && imported.problems.size() == 1);
        QVERIFY2(imported.problems[0].startsWith(folder + "/c.json: "),
            qPrintable(imported.problems[0]));
        QCOMPARE(s->importFolder(folder).alreadyThere, 2);
        QCOMPARE(s->save(run), Saved::AlreadyThere);
        QCOMPARE(toJson(*s->load(run.id)), toJson(run));
        QCOMPARE(toJson(*s->load(bare.id)), toJson(bare));
        const QList<RunRecord> history = s->history(kOddSerial);
        QCOMPARE(history.size(), 2);
        QCOMPARE(history[1].id, bare.id);
        // A cell with quotes and commas is quoted whole, its quotes doubled.
        QVERIFY(store::historyText(history, store::Format::Csv)
                    .contains(",\"0'A\"\"1; DROP TABLE runs; -- 序列号 ü\",plan 'final'; --,"));
    }

    void newerSchemaRefused()
    {
        QVERIFY(fresh("sqlite"));
        const QString path = m_spec;
        QString error;
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
        db.setDatabaseName(path);
        QVERIFY(db.open() && QSqlQuery(db).exec("UPDATE schema_version SET version = 99"));
        db.close();
        QFile file(path);
        const QByteArray before = file.open(QIODevice::ReadOnly) ? file.readAll() : "";
        QVERIFY2(!store::Store::open(*store::parseLocation(path), &error)
                && error.contains(path + " holds results of schema version 99, newer"),
            qPrintable(error));
        QVERIFY(file.seek(0));
        QCOMPARE(file.readAll(), before);
    }

    void queries_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::addColumn<store::ReportFilter>("filter");
        for (const QString b : { "sqlite", "postgresql" }) {
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
        auto s = fresh(backend);
        if (!s && !testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        QVERIFY(s);
        QRandomGenerator rng(7);
        QList<RunRecord> runs;
        for (int i = 0; i < 60; ++i) {
            runs.append(lineRun(i, rng));
            QVERIFY2(s->save(runs.last()) == Saved::Stored, qPrintable(s->errorString()));
        }
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
            const bool pass = r.outcome == Outcome::Pass || r.outcome == Outcome::Marginal;
            if (r.outcome != Outcome::None)
                firstLast.try_emplace(r.unit.serial, pass, pass).first->second.second = pass;
            for (const Step &step : r.steps) {
                if (step.outcome == Outcome::Fail || step.outcome == Outcome::Error)
                    ++failures[step.name];
                for (const Attempt &a : step.attempts)
                    for (const Measurement &m : a.measurements)
                        groups[{ step.name, m.name, m.min, m.max }].append(*m.value);
            }
        }
        // Equal to the last digits a double keeps through different orders of summing.
        auto close = [](double a, double b) {
            return a == b || std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b));
        };
        const std::optional<store::Report> report = s->report(filter);
        QVERIFY2(report, qPrintable(s->errorString()));
        QCOMPARE(report->runs, chosen);
        QCOMPARE(report->units, qint64(units.size()));
        double firstPass = 0, finalPass = 0;
        for (const auto &[serial, passed] : firstLast)
            std::tie(firstPass, finalPass)
                = std::pair(firstPass + passed.first, finalPass + passed.second);
        QCOMPARE(*report->firstPassYield, firstPass / firstLast.size());
        QCOMPARE(*report->finalYield, finalPass / firstLast.size());
        std::map<QString, qint64> pareto;
        for (int i = 0; i < report->failures.size(); ++i) {
            pareto[report->failures[i].step] = report->failures[i].count;
            QVERIFY(i == 0 || report->failures[i - 1].count >= report->failures[i].count);
        }
        QCOMPARE(pareto, failures);
        QCOMPARE(report->measurements.size(), qsizetype(groups.size()));
        for (const store::MeasurementStats &m : report->measurements) {
            const QList<double> &v = groups[{ m.step, m.name, m.min, m.max }];
            const double mean = std::accumulate(v.begin(), v.end(), 0.0) / v.size();
            const double sigma
                = std::sqrt(std::accumulate(v.begin(), v.end(), 0.0, [mean](double sum, double x) {
                      return sum + (x - mean) * (x - mean);
                  }) / (v.size() - 1));
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
        // The names programs read the report by.
        const QJsonObject json
            = QJsonDocument::fromJson(store::reportText(*report, store::Format::Jsonl).toUtf8())
                  .object();
        QCOMPARE(json["final_yield"].toDouble(), *report->finalYield);
        QCOMPARE(json["measurements"].toArray().last()["cpk"].toDouble(),
            *report->measurements.last().cpk);
    }

    // A server that goes down and a station killed in the middle of an upload are the command
    // line's tests (tests/cli/tst_results.cpp); here the moment between the server's commit and
    // the station's mark, which a kill cannot be aimed at.
    void upload_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("uploaded-twice") << "";
        QTest::newRow("station-died-after-server-commit") << "taken";
    }
    void upload()
    {
        QFETCH(QString, stop);
        auto server = fresh("postgresql");
        if (!server && !testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        const QString file = m_dir.filePath(QStringLiteral("station%1.sqlite").arg(m_count));
        QString error;
        auto station = store::Station::open(m_spec, &error, m_pg.passwordFile(), file);
        QVERIFY2(server && station, qPrintable(error));
        QRandomGenerator rng(3);
        QStringList ids;
        for (int i = 0; i < 300; ++i) {
            const RunRecord run = lineRun(i, rng);
            ids.append(run.id);
            QCOMPARE(station->local().save(run), Saved::Stored);
        }
        if (stop == "taken") // what a station that died right after the server's commit leaves
            QCOMPARE(server->save(*station->local().load(ids[0])), Saved::Stored);
        const store::SyncResult result = station->sync();
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(result.alreadyThere, stop == "taken" ? 1 : 0);
        for (const QString &id : stop.isEmpty() ? ids : QStringList())
            QCOMPARE(server->save(*station->local().load(id)), Saved::AlreadyThere);
        QCOMPARE(station->local().pending(), QStringList());
        QCOMPARE(server->report().value_or(store::Report {}).runs, qint64(ids.size()));
        for (const QString &id : ids)
            QVERIFY2(server->load(id), qPrintable(id));
    }

    void fullDisk()
    {
        auto s = fresh("sqlite");
        QRandomGenerator rng(5);
        const RunRecord kept = lineRun(1, rng), lost = lineRun(2, rng);
        QCOMPARE(s->save(kept), Saved::Stored);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        ::getrlimit(RLIMIT_FSIZE, &saved);
        const rlimit none { 0, saved.rlim_max }; // every write that would grow a file fails
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &none), 0);
        const Saved result = s->save(lost);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &saved) == 0 && result == Saved::Failed);
        QVERIFY2(s->errorString().contains(s->location().path), qPrintable(s->errorString()));
        QCOMPARE(toJson(*s->load(kept.id)), toJson(kept));
        QCOMPARE(s->pending(), QStringList { kept.id });
        QCOMPARE(s->save(lost), Saved::Stored);
    }

    void locations_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QString>("read"); // the address and its libpq settings; empty: refused
        const char *rows[][3] = { { "sqlite-prefix", "sqlite:r;1.db", "r;1.db " },
            { "server-port-sslmode", "postgresql://line@db.lan:6543/results?sslmode=require",
                "postgresql://line@db.lan:6543/results sslmode=require;connect_timeout=10" },
            { "socket-folder-default-port", "postgres://u@%2Frun%2Fpg/r",
                "postgresql://u@/run/pg:5432/r connect_timeout=10" },
            { "password-in-address", "postgresql://u:s3cret@h/r", "" },
            { "password-in-query", "postgresql://u@h/r?password=s3cret", "" },
            { "option-with-blank", "postgresql://u@h/r?sslmode=a%20b", "" } };
        for (const auto &row : rows)
            QTest::newRow(row[0]) << row[1] << row[2];
    }
    void locations()
    {
        QFETCH(QString, spec);
        QFETCH(QString, read);
        QString error;
        const std::optional<store::Location> where = store::parseLocation(spec, &error);
        QCOMPARE(where ? where->describe() + " " + where->options : QString(), read);
        QVERIFY(!error.contains("s3cret"));
        QCOMPARE(store::parseLocation("")->path,
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                + "/tovandrix/results.sqlite");
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
