// The results store from the command line, as stations and a line use it, against virtual
// modules on pseudo-terminals, real SQLite files and a PostgreSQL server of the test's own. The
// oracles are the run ids read straight from the databases, the values the modules were told to
// report, and the figures of records the test wrote.
#include "pgserver.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <set>
#include <sys/resource.h>

using testsupport::Module;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Each station keeps its own file under its own data folder.
QProcessEnvironment homeOf(const QString &dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    return env;
}

// fullDisk: every write that would make a file larger than 4 KiB fails, as on a disk with no room
// left (the serial port's lock file still fits).
Run cli(const QStringList &args, const QString &dataHome, bool fullDisk = false)
{
    QProcess p;
    p.setProcessEnvironment(homeOf(dataHome));
    if (fullDisk)
        p.setChildProcessModifier([] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit full { 4096, 4096 };
            ::setrlimit(RLIMIT_FSIZE, &full);
        });
    p.start(testsupport::program("tovandrix-cli"), args);
    p.waitForFinished(120000);
    return { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
        QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError()) };
}

// A connection of the test's own to a station's file or to the server, not through the store.
QSqlDatabase database(const QString &name, const QString &file, const testsupport::PgServer *pg)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(pg ? "QPSQL" : "QSQLITE", name);
    db.setDatabaseName(file);
    if (pg) {
        db.setHostName(pg->host());
        db.setUserName("tovandrix");
        db.setPassword(pg->password());
    }
    db.open();
    return db;
}

// The first column of every row.
QStringList column(const QString &sql, const QString &file, const testsupport::PgServer *pg = {})
{
    QStringList values;
    {
        QSqlQuery q(database("oracle", file, pg));
        for (q.exec(sql); q.next();)
            values << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("oracle");
    return values;
}

} // namespace

class TestResults : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList test(const QStringList &ports, const QStringList &more) const
    {
        QStringList args { "test", path("plan.toml"), "--timeout", "10000" };
        for (const QString &port : ports)
            args << "--port" << port;
        return args + more;
    }

private slots:
    void initTestCase()
    {
        QFile plan(path("plan.toml"));
        QVERIFY(plan.open(QIODevice::WriteOnly)
            && plan.write("[plan]\nname = \"supply\"\nversion = \"1\"\n[[step]]\nname = \"id\"\n"
                          "read = \"serial\"\n[[step]]\nname = \"supply\"\nread = \"voltage\"\n"
                          "min = 3000\nmax = 3600\n")
                > 0);
    }

    void stationFile()
    {
        Module m({});
        const QString file = path("station.sqlite");
        const Run tested = cli(test({ m.path }, { "--db", "sqlite:" + file, "--lot", "L'7;" }), {});
        const QStringList ids = column("SELECT uuid FROM runs", file);
        QVERIFY2(tested.exitCode == 0 && ids.size() == 1
                && tested.err.contains(ids.value(0) + " stored in " + file),
            qPrintable(tested.err));
        QCOMPARE(
            cli({ "measure", "--port", m.path, "--count", "3", "--db", file }, {}).exitCode, 0);
        const QJsonObject run = QJsonDocument::fromJson(
            cli({ "history", "2024", "--db", file, "--format", "jsonl" }, {}).out.toUtf8())
                                    .object();
        QCOMPARE(
            QStringList({ run["id"].toString(), run["dut_id"].toString(),
                run["plan"]["name"].toString(), run["lot"].toString(), run["outcome"].toString() }),
            QStringList({ ids.value(0), "2024", "supply", "L'7;", "PASS" }));
        QVERIFY(run.contains("station") && run.contains("operator")
            && run["start_time"].toString() <= run["end_time"].toString());
        // measure's run: no plan, no serial, no verdict; its mean is the module's distance.
        QCOMPARE(column("SELECT r.outcome || r.plan_name || r.serial || '/' || m.value FROM runs r"
                        " JOIN measurements m ON m.run_id = r.id WHERE m.name = 'mean'",
                     file),
            QStringList { "NONE/4321.0" });
    }

    // Eight runs over four days at 23:30 local time, so whether --until takes a day's last runs
    // shows; units U0..U3, U0's second run and U1's first fail.
    void report_data()
    {
        const double volts[] = { 3100, 3500, 3200, 3300, 3450, 3150, 3250, 3350 };
        QVERIFY(QDir().mkpath(path("records")));
        for (int i = 0; i < 8; ++i) {
            const QString outcome = volts[i] <= 3400 ? "PASS" : "FAIL";
            const QJsonObject value { { "name", "voltage" }, { "value", volts[i] }, { "min", 3000 },
                { "max", 3400 }, { "outcome", outcome } };
            const QJsonObject step { { "name", "supply" }, { "outcome", outcome },
                { "attempts",
                    QJsonArray { QJsonObject {
                        { "outcome", outcome }, { "measurements", QJsonArray { value } } } } } };
            const QDateTime start(QDate(2026, 12, 1 + i / 2), QTime(23, 30));
            const QJsonObject record { { "id", QStringLiteral("%1").arg(i, 36, 10, QChar('0')) },
                { "plan", QJsonObject { { "name", i == 5 ? "b" : "a" } } },
                { "station", QStringLiteral("st-%1").arg(i % 2) }, { "lot", i < 4 ? "L1" : "L2" },
                { "dut_id", QStringLiteral("U%1").arg(i % 4) }, { "outcome", outcome },
                { "start_time",
                    start.toOffsetFromUtc(start.offsetFromUtc()).toString(Qt::ISODate) },
                { "steps", QJsonArray { step } } };
            QFile file(path("records/%1.json").arg(i));
            QVERIFY(
                file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(record).toJson()) > 0);
        }
        // Imported twice: the second import stores nothing.
        for (const char *stored : { "8 run(s) stored", "0 run(s) stored" }) {
            const Run run = cli({ "import", path("records"), "--db", path("line.sqlite") }, {});
            QVERIFY2(run.exitCode == 0 && run.err.contains(stored), qPrintable(run.err));
        }
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QList<double>>("figures"); // runs, units, yields, failures, mean volts
        QTest::newRow("every-run")
            << QStringList() << QList<double> { 8, 4, 0.75, 0.75, 2, 3287.5 };
        QTest::newRow("until-takes-its-whole-day") << QStringList { "--until", "2026-12-02" }
                                                   << QList<double> { 4, 4, 0.75, 0.75, 1, 3275 };
        QTest::newRow("since-and-until-one-day") << QStringList { "--since", "2026-12-03",
            "--until", "2026-12-03" } << QList<double> { 2, 2, 0.5, 0.5, 1, 3300 };
        QTest::newRow("plan-station-lot") << QStringList { "--plan", "a", "--station", "st-1",
            "--lot", "L2" } << QList<double> { 1, 1, 1, 1, 0, 3350 };
    }
    void report()
    {
        QFETCH(QStringList, options);
        QFETCH(QList<double>, figures);
        const Run run = cli(
            QStringList { "report", "--db", path("line.sqlite"), "--format", "jsonl" } + options,
            {});
        const QJsonObject o = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(
            QList<double>({ o["runs"].toDouble(), o["units"].toDouble(),
                o["first_pass_yield"].toDouble(), o["final_yield"].toDouble(),
                o["failures"][0]["count"].toDouble(), o["measurements"][0]["mean"].toDouble() }),
            figures);
    }

    // The station's file on a full disk: the verdict is printed, the record file (smaller than
    // what still fits) written, the run stored before left whole; the exit status and a message
    // say the run is not stored.
    void fullDisk()
    {
        Module m({});
        const QStringList args = test({ m.path }, { "--db", path("full.sqlite") });
        QCOMPARE(cli(args, {}).exitCode, 0);
        const Run run = cli(args + QStringList { "--record", m_dir.path() }, {}, true);
        QCOMPARE(run.exitCode, 4);
        QVERIFY2(run.out.startsWith(m.path + "\t2024\tPASS\t") && run.err.contains(" NOT stored: "),
            qPrintable(run.out + run.err));
        QCOMPARE(QDir(m_dir.path()).entryList({ "*-2024-PASS.json" }).size(), 1);
        QCOMPARE(cli({ "history", "2024", "--db", path("full.sqlite") }, {}).out.count("PASS"), 1);
    }

    // Eight stations of four units each test six times into one server, which is stopped while
    // the third round runs and started before the fifth; one station is killed during an upload.
    // Every run is on the server exactly once.
    void line()
    {
        if (!testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        testsupport::PgServer pg;
        QVERIFY2(pg.start(), qPrintable(pg.errorString()));
        const QStringList server { "--db", pg.newDatabase("line"), "--db-password-file",
            pg.passwordFile() };
        // Each reply in one write: 40 programs on 2 cores may hold a module's thread between
        // the bytes of a paced one longer than a reply's pieces are waited for.
        std::vector<std::unique_ptr<Module>> modules;
        QList<QStringList> ports(8);
        for (int s = 0; s < 32; ++s) {
            modules.push_back(std::make_unique<Module>(
                QStringList { "--no-pacing", "--serial", QString::number(1000 + s) + "FFFF" }));
            ports[s / 4] << modules.back()->path;
        }
        auto home = [this](int s) { return path(QStringLiteral("station%1").arg(s)); };
        for (int round = 0; round < 6; ++round) {
            if (round == 4)
                QVERIFY2(pg.start(), qPrintable(pg.errorString()));
            std::array<QProcess, 8> stations;
            for (int s = 0; s < 8; ++s) {
                stations[s].setProcessEnvironment(homeOf(home(s)));
                stations[s].start(testsupport::program("tovandrix-cli"), test(ports[s], server));
            }
            if (round == 2)
                QVERIFY2(pg.stop(), qPrintable(pg.errorString()));
            for (QProcess &p : stations) {
                const bool done = p.waitForFinished(120000);
                const QString err = QString::fromUtf8(p.readAllStandardError());
                // While it is down the stations go on; their runs wait in their files.
                QVERIFY2(done && p.exitCode() == 0
                        && (round == 2 || err.contains(" wait for ") == (round == 3)),
                    qPrintable(err));
            }
        }
        // Station 0 tests offline, then uploads while the test holds its second waiting run's id
        // in an open transaction on the server: the upload stops there, and the station is
        // killed.
        const QString file0 = home(0) + "/tovandrix/results.sqlite";
        QCOMPARE(cli(test(ports[0], { "--db", file0 }), {}).exitCode, 0);
        const QStringList waiting
            = column("SELECT uuid FROM runs WHERE uploaded = 0 ORDER BY id", file0);
        {
            QSqlQuery hold(database("holder", "line", &pg));
            QVERIFY(waiting.size() == 4 && hold.exec("BEGIN")
                && hold.exec("INSERT INTO runs (uuid, plan_name, plan_version, plan_sha256,"
                             " station, operator, lot, port, serial, software, hardware,"
                             " start_ms, start_offset, outcome) VALUES ('"
                    + waiting[1] + "', '', '', '', '', '', '', '', '', '', '', 0, 0, 'NONE')"));
            QProcess sync;
            sync.setProcessEnvironment(homeOf(home(0)));
            sync.start(testsupport::program("tovandrix-cli"), QStringList { "sync" } + server);
            QTRY_COMPARE_WITH_TIMEOUT(column("SELECT COUNT(*) FROM pg_stat_activity"
                                             " WHERE wait_event_type = 'Lock'",
                                          "line", &pg),
                QStringList { "1" }, 120000);
            sync.kill();
            QVERIFY(sync.waitForFinished() && hold.exec("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase("holder");
        QVERIFY(column("SELECT uuid FROM runs", "line", &pg).contains(waiting[0]));
        std::multiset<QString> local;
        for (int s = 0; s < 8; ++s) {
            const Run synced = cli(QStringList { "sync" } + server, home(s));
            QVERIFY2(synced.exitCode == 0, qPrintable(synced.err));
            for (const QString &id :
                column("SELECT uuid FROM runs", home(s) + "/tovandrix/results.sqlite"))
                local.insert(id);
        }
        const QStringList onServer = column("SELECT uuid FROM runs", "line", &pg);
        QCOMPARE(std::set<QString>(local.begin(), local.end()).size(), size_t(8 * 6 * 4 + 4));
        QVERIFY(std::multiset<QString>(onServer.begin(), onServer.end()) == local);
    }
};

QTEST_GUILESS_MAIN(TestResults)
#include "tst_results.moc"
