// The results store from the command line, as stations and a line use it, against virtual
// modules on pseudo-terminals, real SQLite files and a PostgreSQL server of the test's own. The
// oracles are the run ids read straight from the databases, the values the modules were told to
// report, and figures computed here from the records the test wrote.
#include "pgserver.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <map>
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

// The first column of every row, read from the database itself, not through the program's store.
QStringList column(const QString &sql, const QString &file, const testsupport::PgServer *pg = {})
{
    QStringList values;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(pg ? "QPSQL" : "QSQLITE", "oracle");
        db.setDatabaseName(file);
        if (pg) {
            db.setHostName(pg->host());
            db.setUserName("tovandrix");
            db.setPassword(pg->password());
        }
        QSqlQuery q(db.open() ? db : QSqlDatabase());
        for (q.exec(sql); q.next();)
            values << q.value(0).toString();
    }
    QSqlDatabase::removeDatabase("oracle");
    return values;
}

QJsonObject json(const QString &line)
{
    return QJsonDocument::fromJson(line.toUtf8()).object();
}

} // namespace

class TestResults : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_plan;
    QString m_imported; ///< a store of the records the report rows judge

    QString path(const QString &name) const { return m_dir.filePath(name); }
    QStringList test(const QStringList &ports, const QStringList &more) const
    {
        QStringList args { "test", m_plan, "--timeout", "10000" };
        for (const QString &port : ports)
            args << "--port" << port;
        return args + more;
    }

    // Twelve runs of four units over four days, each at 23:30 local time, so a day's last runs
    // decide whether --until takes that whole day; four of them fail.
    static double volts(int i) { return 3000 + 50 * (i * 5 % 12); }
    static QJsonObject record(int i)
    {
        const double volts = TestResults::volts(i);
        const QString outcome = volts <= 3400 ? "PASS" : "FAIL";
        const QJsonObject measurement { { "name", "voltage" }, { "value", volts }, { "unit", "mV" },
            { "min", 3000 }, { "max", 3400 }, { "outcome", outcome } };
        const QJsonObject attempt { { "outcome", outcome },
            { "measurements", QJsonArray { measurement } } };
        const QDateTime local(QDate(2026, 12, 1 + i / 3), QTime(23, 30));
        const QString start = local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
        return { { "id", QStringLiteral("00000000-0000-4000-8000-%1").arg(i, 12, 10, QChar('0')) },
            { "plan", QJsonObject { { "name", i % 3 == 2 ? "b" : "a" } } },
            { "station", QStringLiteral("st-%1").arg(i % 2) }, { "lot", i < 6 ? "L1" : "L2" },
            { "dut_id", QStringLiteral("U%1").arg(i % 4) }, { "start_time", start },
            { "outcome", outcome },
            { "steps",
                QJsonArray { QJsonObject { { "name", "supply" }, { "outcome", outcome },
                    { "attempts", QJsonArray { attempt } } } } } };
    }

private slots:
    void initTestCase()
    {
        for (const char *name : { "tovandrix-cli", "tovandrix-sim" })
            if (!QFile::exists(testsupport::program(name)))
                QSKIP(name);
        m_plan = path("plan.toml");
        QFile plan(m_plan);
        QVERIFY(plan.open(QIODevice::WriteOnly)
            && plan.write("[plan]\nname = \"supply\"\nversion = \"1\"\n"
                          "[[step]]\nname = \"id\"\nread = \"serial\"\n"
                          "[[step]]\nname = \"supply\"\nread = \"voltage\"\n"
                          "min = 3000\nmax = 3600\n")
                > 0);
    }

    void stationFile()
    {
        Module m({});
        const QString file = path("station.sqlite");
        const Run tested = cli(
            test({ m.path }, { "--db", "sqlite:" + file, "--station", "st'1;", "--lot", "L 7" }),
            path("home"));
        QCOMPARE(tested.exitCode, 0);
        const QStringList ids = column("SELECT uuid FROM runs", file);
        QCOMPARE(ids.size(), 1);
        QVERIFY2(tested.err.contains(ids[0] + " stored in " + file), qPrintable(tested.err));
        const Run measured
            = cli({ "measure", "--port", m.path, "--count", "3", "--db", file }, path("home"));
        QCOMPARE(measured.exitCode, 0);

        const Run history = cli({ "history", "2024", "--db", file, "--format", "jsonl" }, {});
        const QJsonObject run = json(history.out);
        QCOMPARE(history.out.count('\n'), 1);
        QCOMPARE(run["id"].toString(), ids[0]);
        QCOMPARE(run["plan"]["name"].toString(), "supply");
        QCOMPARE(
            QStringList({ run["dut_id"].toString(), run["station"].toString(),
                run["lot"].toString(), run["operator"].toString(), run["outcome"].toString() }),
            QStringList({ "2024", "st'1;", "L 7", "", "PASS" }));
        QVERIFY(run["start_time"].toString() <= run["end_time"].toString());
        // measure's run has no plan and no verdict: counted among the runs, not in the yields.
        QCOMPARE(column("SELECT plan_name || '|' || serial || '|' || port FROM runs"
                        " WHERE outcome = 'NONE'",
                     file),
            QStringList { "||" + m.path });
        const QJsonObject report
            = json(cli({ "report", "--db", file, "--format", "jsonl" }, {}).out);
        QCOMPARE(report["runs"].toInt(), 2);
        QCOMPARE(report["first_pass_yield"].toDouble(), 1.0);
        std::map<QString, double> means;
        for (const QJsonValue v : report["measurements"].toArray())
            means[v["step"].toString() + "/" + v["name"].toString()] = v["mean"].toDouble();
        QCOMPARE(means["measure/count"], 3.0);
        QCOMPARE(means["measure/mean"], 4321.0);
        QCOMPARE(means["supply/voltage"], 3456.0);
    }

    void importTwice()
    {
        const QString folder = path("records");
        QVERIFY(QDir().mkpath(folder));
        for (int i = 0; i < 12; ++i) {
            QFile file(folder + QStringLiteral("/%1.json").arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly)
                && file.write(QJsonDocument(record(i)).toJson()) > 0);
        }
        m_imported = path("imported.sqlite");
        const Run first = cli({ "import", folder, "--db", m_imported }, {});
        const Run again = cli({ "import", folder, "--db", m_imported }, {});
        QVERIFY2(
            first.exitCode == 0 && first.err.contains("12 run(s) stored"), qPrintable(first.err));
        QVERIFY2(
            again.exitCode == 0 && again.err.contains("0 run(s) stored"), qPrintable(again.err));
        QCOMPARE(column("SELECT COUNT(*) FROM runs", m_imported), QStringList { "12" });
    }

    void report_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("first"); // the records the options choose: first to last, then
        QTest::addColumn<int>("last"); // those of plan, station and lot when given
        QTest::addColumn<QString>("plan");
        QTest::addColumn<QString>("station");
        QTest::addColumn<QString>("lot");
        QTest::newRow("every-run") << QStringList() << 0 << 11 << ""
                                   << ""
                                   << "";
        QTest::newRow("until-takes-the-whole-last-day")
            << QStringList { "--until", "2026-12-02" } << 0 << 5 << ""
            << ""
            << "";
        QTest::newRow("since-and-until-one-day")
            << QStringList { "--since", "2026-12-03", "--until", "2026-12-03" } << 6 << 8 << ""
            << ""
            << "";
        QTest::newRow("plan-station-lot")
            << QStringList { "--plan", "a", "--station", "st-1", "--lot", "L2" } << 0 << 11 << "a"
            << "st-1"
            << "L2";
    }
    void report()
    {
        QFETCH(QStringList, options);
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(QString, plan);
        QFETCH(QString, station);
        QFETCH(QString, lot);
        if (m_imported.isEmpty())
            importTwice();
        // The figures from their definitions, over the records chosen, oldest first.
        int runs = 0, failures = 0;
        double sum = 0;
        std::map<QString, std::pair<bool, bool>> passed; // the unit's first and last run
        for (int i = first; i <= last; ++i) {
            const QJsonObject r = record(i);
            if ((!plan.isEmpty() && r["plan"]["name"] != plan)
                || (!station.isEmpty() && r["station"] != station)
                || (!lot.isEmpty() && r["lot"] != lot))
                continue;
            ++runs;
            const bool pass = r["outcome"] == "PASS";
            failures += !pass;
            sum += volts(i);
            passed.try_emplace(r["dut_id"].toString(), pass, pass).first->second.second = pass;
        }
        double firstPass = 0, finalPass = 0;
        for (const auto &[unit, p] : passed)
            std::tie(firstPass, finalPass) = std::pair(firstPass + p.first, finalPass + p.second);

        const Run run
            = cli(QStringList { "report", "--db", m_imported, "--format", "jsonl" } + options, {});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject got = json(run.out);
        QCOMPARE(got["runs"].toInt(), runs);
        QCOMPARE(got["units"].toInt(), int(passed.size()));
        QCOMPARE(got["first_pass_yield"].toDouble(), firstPass / passed.size());
        QCOMPARE(got["final_yield"].toDouble(), finalPass / passed.size());
        QCOMPARE(got["failures"][0]["count"].toInt(), failures);
        const QJsonObject volts = got["measurements"][0].toObject();
        QCOMPARE(volts["n"].toInt(), runs);
        QCOMPARE(volts["mean"].toDouble(), sum / runs);
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("password-in-db")
            << QStringList { "history", "1", "--db", "postgresql://u:s3cret@h/r" } << "PGPASSWORD";
        QTest::newRow("password-in-db-query")
            << QStringList { "sync", "--db", "postgresql://u@h/r?password=s3cret" } << "~/.pgpass";
        QTest::newRow("history-takes-no-port")
            << QStringList { "history", "1", "--port", "/dev/null" } << "--port belongs to";
        QTest::newRow("sync-needs-a-server") << QStringList { "sync" } << "sync uploads to";
    }
    void refused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const Run run = cli(args, path("refused"));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.contains(says) && !run.err.contains("s3cret"), qPrintable(run.err));
        QVERIFY(!QFile::exists(path("refused")));
    }

    void notStored_data()
    {
        QTest::addColumn<bool>("fullDisk");
        QTest::addColumn<QString>("db");
        QTest::newRow("full-disk") << true << "full.sqlite";
        QTest::newRow("folder-that-cannot-be-made") << false << "plan.toml/results.sqlite";
    }
    void notStored()
    {
        QFETCH(bool, fullDisk);
        QFETCH(QString, db);
        Module m({});
        const QStringList where { "--db", path(db) };
        if (fullDisk)
            QCOMPARE(cli(test({ m.path }, where), {}).exitCode, 0);
        const Run lost = cli(test({ m.path }, where), {}, fullDisk);
        QCOMPARE(lost.exitCode, 4);
        QVERIFY2(lost.out.startsWith(m.path + "\t2024\tPASS\t"), qPrintable(lost.out));
        QVERIFY2(lost.err.contains(" NOT stored: "), qPrintable(lost.err));
        if (fullDisk) // the run stored before is whole
            QCOMPARE(cli({ "history", "2024", "--db", path(db) }, {}).out.count("PASS"), 1);
    }

    // Eight stations of four units each test back to back into one server; it is stopped in the
    // middle and started again; a station is killed during an upload. Every run is there once.
    void line()
    {
        if (!testsupport::PgServer::available())
            QSKIP("postgresql-15 is not installed");
        testsupport::PgServer pg;
        QVERIFY2(pg.start(), qPrintable(pg.errorString()));
        const QString server = pg.newDatabase("line");
        const QStringList toServer { "--db", server, "--db-password-file", pg.passwordFile() };
        constexpr int kStations = 8, kUnits = 4, kRounds = 6;
        struct Station
        {
            QProcess process;
            QStringList ports;
            int rounds = 0;
            bool startedWhileDown = false;
        };
        std::vector<std::unique_ptr<Module>> modules;
        std::array<Station, kStations> stations;
        auto home = [this](int s) { return path(QStringLiteral("station%1").arg(s)); };
        auto file = [&](int s) { return home(s) + "/tovandrix/results.sqlite"; };
        int finished = 0, finishedOfDown = 0, waited = 0;
        bool down = false;
        QStringList problems;
        auto begin = [&](int s) {
            stations[s].startedWhileDown = down;
            stations[s].process.setProcessEnvironment(homeOf(home(s)));
            stations[s].process.start(testsupport::program("tovandrix-cli"),
                test(stations[s].ports,
                    toServer + QStringList { "--station", QStringLiteral("st-%1").arg(s) }));
        };
        for (int s = 0; s < kStations; ++s) {
            for (int u = 0; u < kUnits; ++u) {
                modules.push_back(std::make_unique<Module>(QStringList {
                    "--serial", QStringLiteral("%1%2FFFF").arg(s).arg(u, 3, 10, QChar('0')) }));
                stations[s].ports << modules.back()->path;
            }
            connect(&stations[s].process, &QProcess::finished, this, [&, s] {
                Station &st = stations[s];
                const QString err = QString::fromUtf8(st.process.readAllStandardError());
                if (st.process.exitCode() != 0)
                    problems << err;
                waited += err.contains(" wait for ");
                ++finished;
                finishedOfDown += st.startedWhileDown;
                // Down after a third of the runs; up once every station has tested while down.
                if (finished == kStations * kRounds / 3) {
                    QVERIFY2(pg.stop(), qPrintable(pg.errorString()));
                    down = true;
                } else if (down && finishedOfDown == kStations) {
                    QVERIFY2(pg.start(), qPrintable(pg.errorString()));
                    down = false;
                }
                if (++st.rounds < kRounds)
                    QTimer::singleShot(0, this, [&begin, s] { begin(s); });
            });
            begin(s);
        }
        QTRY_VERIFY_WITH_TIMEOUT(finished == kStations * kRounds, 240000);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join('\n')));
        QVERIFY(waited > 0 && !down);

        // Station 0 tests offline, then uploads; the server holds its second run's id in a
        // transaction of its own, so the upload stops there until the station is killed.
        QCOMPARE(cli(test(stations[0].ports, { "--db", file(0) }), home(0)).exitCode, 0);
        const QStringList pending
            = column("SELECT uuid FROM runs WHERE uploaded = 0 ORDER BY id", file(0));
        QVERIFY(pending.size() >= kUnits);
        {
            QSqlDatabase holder = QSqlDatabase::addDatabase("QPSQL", "holder");
            holder.setHostName(pg.host());
            holder.setDatabaseName("line");
            holder.setUserName("tovandrix");
            holder.setPassword(pg.password());
            QSqlQuery hold(holder.open() ? holder : QSqlDatabase());
            QVERIFY(hold.exec("BEGIN")
                && hold.exec("INSERT INTO runs (uuid, plan_name, plan_version, plan_sha256,"
                             " station, operator, lot, port, serial, software, hardware,"
                             " start_ms, start_offset, outcome) VALUES ('"
                    + pending[1] + "', '', '', '', '', '', '', '', '', '', '', 0, 0, 'NONE')"));
            QProcess sync;
            sync.setProcessEnvironment(homeOf(home(0)));
            sync.start(testsupport::program("tovandrix-cli"), QStringList { "sync" } + toServer);
            QTRY_COMPARE_WITH_TIMEOUT(column("SELECT COUNT(*) FROM pg_stat_activity"
                                             " WHERE wait_event_type = 'Lock'",
                                          "line", &pg),
                QStringList { "1" }, 120000);
            sync.kill();
            QVERIFY(sync.waitForFinished() && hold.exec("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase("holder");
        QVERIFY(column("SELECT uuid FROM runs", "line", &pg).contains(pending[0]));

        std::multiset<QString> local;
        for (int s = 0; s < kStations; ++s) {
            const Run synced = cli(QStringList { "sync" } + toServer, home(s));
            QVERIFY2(synced.exitCode == 0, qPrintable(synced.err));
            for (const QString &id : column("SELECT uuid FROM runs", file(s)))
                local.insert(id);
        }
        const QStringList onServer = column("SELECT uuid FROM runs", "line", &pg);
        QCOMPARE(int(local.size()), kStations * kRounds * kUnits + kUnits);
        QCOMPARE(std::multiset<QString>(onServer.begin(), onServer.end()), local);
        QCOMPARE(std::set<QString>(local.begin(), local.end()).size(), local.size());
    }
};

QTEST_GUILESS_MAIN(TestResults)
#include "tst_results.moc"
