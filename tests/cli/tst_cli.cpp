// tovandrix-cli as a script runs it, against virtual modules (tovandrix-sim) on pseudo-terminals.
// The oracles are the frames each module received and the values it was told to report.
#include "testsupport.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cmath>
#include <csignal>
#include <memory>

namespace {

constexpr int kWaitMs = 20000;
using testsupport::aa;
using testsupport::Module;
using testsupport::program;
using testsupport::rtu;

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

struct Run
{
    int exitCode = -1;
    QStringList out; ///< lines of standard output
    QString err;
};

void start(QProcess &p, QStringList args, const QStringList &env = {})
{
    // A loaded machine may be slow to answer; a silent module is told its own timeout.
    if (!args.contains(QLatin1String("--timeout")) && !args.contains(QLatin1String("ports"))
        && !args.contains(QLatin1String("analyze")))
        args << "--timeout"
             << "10000";
    if (!env.isEmpty())
        p.setEnvironment(QProcess::systemEnvironment() + env);
    p.start(program("tovandrix-cli"), args);
}

Run finish(QProcess &p, const QByteArray &readBefore = {})
{
    p.waitForFinished(kWaitMs);
    Run run { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
        QString::fromUtf8(readBefore + p.readAllStandardOutput()).split(QLatin1Char('\n')),
        QString::fromUtf8(p.readAllStandardError()) };
    run.out.removeAll(QString());
    return run;
}

Run cli(const QStringList &args, const QStringList &env = {})
{
    QProcess p;
    start(p, args, env);
    return finish(p);
}

/** The lines of a text file, or the rows of a workbook's first sheet as comma-joined cells. */
QStringList fileRows(const QString &file, QStringList *sheets = nullptr)
{
    if (!file.endsWith(QLatin1String(".xlsx"))) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return { QStringLiteral("(cannot open)") };
        QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        if (lines.takeLast() != QString())
            lines << QStringLiteral("(last line cut)");
        return lines;
    }
    QProcess reader;
    reader.start(testsupport::pythonWithOpenpyxl(),
        { testsupport::sourceDir() + "/tests/export/read_xlsx.py", file });
    reader.waitForFinished(kWaitMs);
    const QJsonObject book = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    QStringList table;
    for (const QJsonValue row : book["rows"].toArray()) {
        QStringList cells;
        for (const QJsonValue cell : row.toArray())
            cells << cell.toArray()[0].toString();
        table << cells.join(QLatin1Char(','));
    }
    if (sheets)
        for (const QJsonValue s : book["sheets"].toArray())
            *sheets << s.toString();
    return table;
}

QByteArray frames(const QList<QByteArray> &list)
{
    return list.join();
}

bool near(double value, double expected)
{
    return qAbs(value - expected) <= 1e-9 * qMax(1.0, qAbs(expected));
}

/** Standard output without what differs from one run of the same exchange to the next. */
QStringList timesAside(const Run &run, const QString &port)
{
    static const QRegularExpression times(
        QStringLiteral("\\d{4}-\\d\\d-\\d\\dT[0-9:.]+[+-]\\d\\d:\\d\\d|\\[[0-9:.]+\\]|\"measuring_"
                       "time_ms\":\\d+"));
    QStringList lines;
    for (QString line : run.out)
        if (!line.contains(QLatin1String("\"all\":"))
            && !line.contains(QLatin1String("\"allan\":")))
            lines << line.replace(times, QString()).replace(port, QStringLiteral("PORT"));
    return lines;
}

const QRegularExpression kIsoTime(
    QStringLiteral("^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3})([+-]\\d\\d:\\d\\d)$"));

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void commands_data();
    void commands();
    void measureFormats_data();
    void measureFormats();
    void severalPorts();
    void usageErrors_data();
    void usageErrors();
    void existingFiles();
    void failures_data();
    void failures();
    void stopping_data();
    void stopping();
    void closedOutput();
    void testPlans_data();
    void testPlans();
    void help_data();
    void help();
    void scan_data();
    void scan();
    void analyzeFile_data();
    void analyzeFile();
    void recordAndReplay_data();
    void recordAndReplay();
    void temperatureReads();

private:
    QTemporaryDir m_dir;
};

void TestCli::initTestCase()
{
    for (const char *name : { "tovandrix-cli", "tovandrix-sim" })
        if (!QFile::exists(program(name)))
            QSKIP(qPrintable(program(name) + QStringLiteral(" not built")));
    if (testsupport::pythonWithOpenpyxl().isEmpty())
        QSKIP("python3 with openpyxl missing");
    QVERIFY(m_dir.isValid());
    // Every run of `test` is kept in the station's default file: here, not in the user's.
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
}

void TestCli::commands_data()
{
    QTest::addColumn<QStringList>("module");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("wire"); // what the module must receive
    QTest::addColumn<QStringList>("mentions"); // on standard output, one line each
    const QStringList crc { "--check", "crc" };
    QTest::newRow("info-aa-every-query-once")
        << QStringList() << QStringList { "info" }
        << frames({ aa("80 00 0A"), aa("80 00 0C"), aa("80 00 0E"), aa("80 00 00"), aa("80 00 12"),
               aa("80 00 06"), aa("80 00 08"), aa("80 00 00") })
        << QStringList { "0A0B", "0C0D", "", "address:0", "0mm", "3456", "21.5", "" };
    QTest::newRow("info-modbus-every-query-once")
        << QStringList() << crc + QStringList { "info" }
        << frames({ rtu("01 04 00 03 00 01"), rtu("01 04 00 02 00 01"), rtu("01 04 00 07 00 02"),
               rtu("01 03 00 00 00 01"), rtu("01 03 00 01 00 01"), rtu("01 04 00 01 00 01"),
               rtu("01 04 00 06 00 01"), rtu("01 04 00 05 00 02") })
        << QStringList { "0A0B", "0C0D", "", "01", "0mm", "3456", "21.5", "3.4" };
    QTest::newRow("set-address-aa") << QStringList() << QStringList { "set", "address", "5" }
                                    << aa("00 00 10 00 01 00 05") << QStringList { "5" };
    QTest::newRow("set-address-modbus")
        << QStringList() << crc + QStringList { "set", "address", "5" } << rtu("01 06 00 00 00 05")
        << QStringList { "05" };
    QTest::newRow("set-baud-aa-code-4") << QStringList() << QStringList { "set", "baud", "19200" }
                                        << aa("00 00 14 00 01 00 04") << QStringList { "19200" };
    QTest::newRow("set-negative-offset-modbus")
        << QStringList() << crc + QStringList { "set", "offset", "-5" } << rtu("01 06 00 01 FF FB")
        << QStringList { "-5mm" };
    // The offset goes to the module addressed, not to address 1.
    QTest::newRow("set-offset-modbus-address-17")
        << QStringList { "--modbus-address", "17" }
        << crc + QStringList { "--address", "17", "set", "offset", "-5" }
        << rtu("11 06 00 01 FF FB") << QStringList { "-5mm" };
    QTest::newRow("set-laser-on-modbus")
        << QStringList() << crc + QStringList { "set", "laser", "on" } << rtu("01 05 00 00 FF 00")
        << QStringList {};
    QTest::newRow("send-aa-prints-the-reply")
        << QStringList() << QStringList { "send", "AA 80 00 06 86" } << aa("80 00 06")
        << QStringList { hexText(aa("80 00 06 00 01 34 56")) };
    QTest::newRow("send-modbus-crc-appended")
        << QStringList() << crc + QStringList { "send", "0104000100", "01" }
        << rtu("01 04 00 01 00 01") << QStringList { hexText(rtu("01 04 02 34 56")) };
    QTest::newRow("measure-count-aa-fast")
        << QStringList() << QStringList { "measure", "--count", "2", "--speed", "fast" }
        << frames({ aa("00 00 20 00 01 00 02"), aa("00 00 20 00 01 00 02") })
        << QStringList { "4321", "4321" };
    QTest::newRow("measure-count-modbus-slow-sets-the-speed-first")
        << QStringList() << crc + QStringList { "measure", "--count", "1", "--speed", "slow" }
        << frames({ rtu("01 01 06 00 02 01"), rtu("01 04 00 04 00 03") }) << QStringList { "4321" };
}

void TestCli::commands()
{
    QFETCH(QStringList, module);
    QFETCH(QStringList, args);
    QFETCH(QByteArray, wire);
    QFETCH(QStringList, mentions);
    Module m(module);
    const Run run = cli(args + QStringList { "--port", m.path });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(m.received(), hexText(wire));
    QCOMPARE(run.out.size(), qMax<qsizetype>(mentions.size(), 1));
    for (int i = 0; i < mentions.size(); ++i)
        QVERIFY2(run.out[i].contains(mentions[i]), qPrintable(run.out.join('\n')));
}

void TestCli::measureFormats_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("mode"); // the mode text of the records
    QTest::addColumn<QString>("zone"); // TZ of the program; its offset ends every ISO time
    QTest::newRow("text-to-txt-aa") << QStringList { "--format", "text" } << "txt"
                                    << "Auto measure"
                                    << "UTC";
    QTest::newRow("csv-to-csv-modbus-chinese-offset-0530")
        << QStringList { "--format", "csv", "--check", "crc", "--lang", "zh" } << "csv"
        << "自动测量"
        << "Asia/Kolkata";
    QTest::newRow("jsonl-to-xlsx-aa-slow-offset-minus-0300")
        << QStringList { "--format", "jsonl", "--speed", "slow" } << "xlsx"
        << "Slow measure"
        << "America/Sao_Paulo";
    QTest::newRow("csv-to-jsonl-aa") << QStringList { "--format", "csv" } << "jsonl"
                                     << "Auto measure"
                                     << "UTC";
}

void TestCli::measureFormats()
{
    QFETCH(QStringList, args);
    QFETCH(QString, suffix);
    QFETCH(QString, mode);
    QFETCH(QString, zone);
    Module module({});
    const QString file = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".") + suffix);
    const QDateTime before = QDateTime::currentDateTimeUtc();
    const Run run = cli(
        args + QStringList { "measure", "--count", "3", "--port", module.path, "--output", file },
        { "TZ=" + zone });
    QCOMPARE(run.exitCode, 0);
    const QTimeZone tz(zone.toLatin1());
    const int offsetS = tz.offsetFromUtc(before);
    const QString offset = QStringLiteral("%1%2:%3")
                               .arg(offsetS < 0 ? '-' : '+')
                               .arg(qAbs(offsetS) / 3600, 2, 10, QLatin1Char('0'))
                               .arg(qAbs(offsetS) / 60 % 60, 2, 10, QLatin1Char('0'));
    // Machine-read times carry date, milliseconds and the zone's offset, and name this moment.
    auto checkTime = [&](const QString &text) {
        const auto m = kIsoTime.match(text);
        QVERIFY2(m.hasMatch() && m.captured(2) == offset, qPrintable(text));
        const QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
        QVERIFY2(
            qAbs(t.toMSecsSinceEpoch() - before.toMSecsSinceEpoch()) < 60000, qPrintable(text));
    };
    QStringList records = run.out;
    if (args[1] == QLatin1String("csv"))
        QCOMPARE(records.takeFirst(), "port,time,mode,distance_mm,signal,measuring_time_ms");
    // The run's statistics: the last JSON line, or a table on standard error.
    if (args[1] == QLatin1String("jsonl")) {
        const QJsonObject all
            = QJsonDocument::fromJson(records.takeLast().toUtf8()).object()["all"].toObject();
        QCOMPARE(all["count"].toInt(), 3);
        QCOMPARE(all["mean_mm"].toDouble(), 4321.0);
        QCOMPARE(all["stddev_mm"].toDouble(), 0.0);
    } else {
        QVERIFY2(run.err.contains(QLatin1String("4321.00")), qPrintable(run.err));
    }
    QCOMPARE(records.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QString &line = records[i];
        if (args[1] == QLatin1String("text")) {
            QVERIFY2(line.startsWith(QString::number(i) + QStringLiteral("  [")), qPrintable(line));
            QVERIFY(line.contains(QLatin1String("4321mm")) && line.endsWith(QLatin1String("77")));
        } else if (args[1] == QLatin1String("csv")) {
            const QStringList c = line.split(QLatin1Char(','));
            QCOMPARE(c.mid(0, 1) + c.mid(2, 3), QStringList({ module.path, mode, "4321", "77" }));
            checkTime(c[1]);
            QVERIFY(c[5].toInt() > 0);
        } else {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            QCOMPARE(o.keys().size(), 6);
            QCOMPARE(o["port"].toString(), module.path);
            QCOMPARE(o["mode"].toString(), mode);
            QCOMPARE(o["distance_mm"].toInt(), 4321);
            QCOMPARE(o["signal"].toInt(), 77);
            checkTime(o["time"].toString());
            QVERIFY(o["measuring_time_ms"].toInt() > 0);
        }
    }
    QStringList sheets;
    QStringList table = fileRows(file, &sheets);
    if (suffix == QLatin1String("csv")) {
        QCOMPARE(table, run.out);
        return;
    }
    if (suffix == QLatin1String("jsonl")) {
        QCOMPARE(table.size(), 3);
        for (const QString &row : table)
            QCOMPARE(QJsonDocument::fromJson(row.toUtf8()).object()["distance_mm"].toInt(), 4321);
        return;
    }
    if (suffix == QLatin1String("xlsx"))
        QCOMPARE(sheets, QStringList({ "Sheet1", "Statistics", "Analysis" }));
    // The window's files keep the window's format: its header, then time of day, mode, distance,
    // signal, measuring time.
    QCOMPARE(table.takeFirst(),
        QDateTime::currentDateTimeUtc().toTimeZone(tz).date().toString("'time:'yyyy/MM/dd")
            + ",Measurement mode,Measure result/mm,Signal result,Measuring time/ms");
    QCOMPARE(table.size(), 3);
    for (const QString &row : table)
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}," + mode + ",4321,77,\\d+$")
                     .match(row)
                     .hasMatch(),
            qPrintable(row));
}

void TestCli::severalPorts()
{
    Module near({ "--distance", "100", "--rate", "50" });
    Module far({ "--distance", "9000", "--rate", "50" });
    // Two ports whose last path element is the same: their files must not be one.
    const QString base = m_dir.filePath(QStringLiteral("several"));
    QVERIFY(QDir().mkpath(base + "/d1") && QDir().mkpath(base + "/d2"));
    const QString a = base + "/d1/m", b = base + "/d2/m";
    QVERIFY(QFile::link(near.path, a) && QFile::link(far.path, b));
    const QString file = base + "/coll.txt";
    const Run run = cli({ "measure", "--seconds", "1", "--format", "csv", "--port", a, "--port", b,
        "--output", file });
    QCOMPARE(run.exitCode, 0);
    QMap<QString, int> counts;
    for (const QString &line : run.out.mid(1)) {
        const QStringList c = line.split(QLatin1Char(','));
        QCOMPARE(c[3], c[0] == a ? "100" : "9000");
        ++counts[c[0]];
    }
    QVERIFY2(counts.value(a) > 0 && counts.value(b) > 0, qPrintable(run.err));
    // One file per port, named after its whole path, with that port's records only.
    const QString tag = QString(base).remove(0, 1).replace('/', '-');
    for (const auto &[port, distance] : { std::pair(a, "100"), std::pair(b, "9000") }) {
        const QString name = base + "/coll-" + tag + (port == a ? "-d1-m.txt" : "-d2-m.txt");
        const QStringList rows = fileRows(name).mid(1);
        QCOMPARE(rows.size(), counts.value(port));
        for (const QString &row : rows)
            QCOMPARE(row.split(QLatin1Char(','))[2], distance);
    }
    // Each line was started and stopped: a continuous start, then the stop byte.
    for (Module *m : { &near, &far })
        QCOMPARE(m->received(), hexText(aa("00 00 20 00 01 00 04") + QByteArray("\x58")));
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mention");
    const QString exists = m_dir.filePath(QStringLiteral("exists.csv"));
    QFile f(exists);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("a,b\n1,2\n") > 0);
    f.close();
    const QStringList port { "--port", "/nonexistent/x" };
    const QStringList crc { "--check", "crc" };
    QTest::newRow("no-command") << QStringList {} << "command";
    QTest::newRow("unknown-command") << QStringList { "calibrate", "--port", "x" } << "calibrate";
    QTest::newRow("scan-narrowed-with-bauds-not-baud")
        << QStringList { "scan", "--baud", "9600", "--port", "x" } << "--bauds";
    QTest::newRow("info-without-port") << QStringList { "info" } << "--port";
    QTest::newRow("empty-port") << QStringList { "info", "--port", "" } << "--port";
    QTest::newRow("aa-address-128")
        << port + QStringList { "info", "--address", "128" } << "0 to 127";
    QTest::newRow("modbus-address-255")
        << port + crc + QStringList { "info", "--address", "255" } << "1 to 247";
    QTest::newRow("modbus-broadcast-address-0")
        << port + crc + QStringList { "measure", "--address", "0" } << "1 to 247";
    QTest::newRow("modbus-set-address-0")
        << port + crc + QStringList { "set", "address", "0" } << "1 to 247";
    QTest::newRow("modbus-set-address-248")
        << port + crc + QStringList { "set", "address", "248" } << "\"248\"";
    QTest::newRow("negative-count-says-minus-1")
        << port + QStringList { "measure", "--count", "-1" } << "not \"-1\"";
    QTest::newRow("negative-timeout-says-minus-5")
        << port + QStringList { "info", "--timeout", "-5" } << "not \"-5\"";
    QTest::newRow("offset-beyond-16-bits")
        << port + QStringList { "set", "offset", "65536" } << "offset";
    QTest::newRow("send-not-hex") << port + QStringList { "send", "AZ" } << "AZ";
    QTest::newRow("count-and-seconds")
        << port + QStringList { "measure", "--count", "1", "--seconds", "1" } << "both";
    QTest::newRow("format-outside-measure")
        << port + QStringList { "info", "--format", "csv" } << "--format";
    QTest::newRow("output-of-unknown-kind")
        << port + QStringList { "measure", "--output", "a.pdf" } << "--output";
    QTest::newRow("existing-output-file-named")
        << port + QStringList { "measure", "--output", exists } << exists;
    QTest::newRow("append-to-a-csv-of-other-records")
        << port + QStringList { "measure", "--append", "--output", exists } << "header";
    QTest::newRow("append-to-a-workbook")
        << port + QStringList { "measure", "--append", "--output", "a.xlsx" } << "--append";
    QTest::newRow("force-and-append")
        << port + QStringList { "measure", "--force", "--append", "--output", "a.csv" }
        << "--force";
    QTest::newRow("password-in-db")
        << port + QStringList { "measure", "--db", "postgresql://u:pw@h/r" } << "PGPASSWORD";
    QTest::newRow("two-ports-one-file-name")
        << QStringList { "measure", "--port", "/x/a-b", "--port", "/x/a/b", "--output", "c.txt" }
        << "same file";
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, mention);
    const Run run = cli(args);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QStringList());
    QVERIFY2(run.err.contains(mention) && run.err.contains("--help"), qPrintable(run.err));
    QVERIFY2(!run.err.contains(QLatin1String("neg")), qPrintable(run.err));
}

void TestCli::existingFiles()
{
    Module module({});
    const QString csv = m_dir.filePath(QStringLiteral("continued.csv"));
    const QString jsonl = m_dir.filePath(QStringLiteral("continued.jsonl"));
    auto measure = [&](const QString &file, const QString &how) {
        return cli({ "measure", "--count", "2", "--port", module.path, "--output", file, how })
            .exitCode;
    };
    QCOMPARE(measure(csv, "--append"), 0); // a new file is started
    QCOMPARE(measure(csv, "--append"), 0);
    QCOMPARE(measure(jsonl, "--force"), 0);
    QCOMPARE(measure(jsonl, "--append"), 0);
    const QStringList rows = fileRows(csv);
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows.count(QStringLiteral("port,time,mode,distance_mm,signal,measuring_time_ms")), 1);
    QCOMPARE(fileRows(jsonl).size(), 4);
    // --force starts the file afresh.
    QCOMPARE(measure(csv, "--force"), 0);
    QCOMPARE(fileRows(csv).size(), 3);
    // A run killed mid-line left a partial line: the records continue on a line of their own.
    QFile f(jsonl);
    QVERIFY(f.open(QIODevice::Append) && f.write("{\"port\":") > 0);
    f.close();
    QCOMPARE(measure(jsonl, "--append"), 0);
    const QStringList lines = fileRows(jsonl);
    QCOMPARE(lines.size(), 7);
    QVERIFY(QJsonDocument::fromJson(lines.last().toUtf8()).isObject());
}

void TestCli::failures_data()
{
    QTest::addColumn<QStringList>("module");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("records"); // the most the module sends, -1: none expected
    QTest::addColumn<QString>("reason");
    // A module at another address never answers.
    QTest::newRow("single-no-reply-aa")
        << QStringList { "--address", "9" }
        << QStringList { "measure", "--count", "2", "--timeout", "300" } << -1 << "no reply";
    QTest::newRow("run-no-reply-modbus")
        << QStringList { "--modbus-address", "9" }
        << QStringList { "measure", "--seconds", "0", "--check", "crc", "--timeout", "300" } << -1
        << "no reply";
    QTest::newRow("run-line-drops-after-25")
        << QStringList { "--disconnect-after", "25", "--rate", "200" }
        << QStringList { "measure", "--seconds", "0" } << 25 << "port failed";
    // An error reply is a record and an error of the run in either protocol.
    QTest::newRow("error-replies-counted-aa")
        << QStringList { "--error-every", "2" } << QStringList { "measure", "--count", "4" } << 4
        << "2 error replies";
    QTest::newRow("error-replies-counted-modbus")
        << QStringList { "--error-every", "2" }
        << QStringList { "measure", "--count", "4", "--check", "crc" } << 4 << "2 error replies";
    QTest::newRow("bare-port-name-says-where-it-looked")
        << QStringList() << QStringList { "measure", "--port", "tovandrix-no-such-port" } << -1
        << "/dev/tovandrix-no-such-port";
}

void TestCli::failures()
{
    QFETCH(QStringList, module);
    QFETCH(QStringList, args);
    QFETCH(int, records);
    QFETCH(QString, reason);
    Module m(module);
    const QString file = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".jsonl"));
    if (!args.contains(QLatin1String("--port")))
        args << "--port" << m.path;
    const Run run = cli(args + QStringList { "--output", file, "--format", "jsonl" });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    // The file holds, whole, every record taken: those on standard output before the statistics.
    QStringList out = run.out;
    QJsonObject stats;
    if (!out.isEmpty() && out.last().contains(QLatin1String("newest_100")))
        stats = QJsonDocument::fromJson(out.takeLast().toUtf8()).object()["all"].toObject();
    QCOMPARE(fileRows(file), out);
    if (records < 0)
        return;
    // A hung-up pseudo-terminal drops the input not yet read, so a starved run may take fewer.
    QVERIFY(out.size() <= records);
    QVERIFY2(run.err.contains(QStringLiteral("%1 record").arg(out.size())), qPrintable(run.err));
    // The statistics count what the records say.
    int errors = 0;
    for (const QString &line : out)
        errors += QJsonDocument::fromJson(line.toUtf8()).object()["signal"].isNull();
    QCOMPARE(stats["count"].toInt(), out.size());
    QCOMPARE(stats["errors"].toInt(), errors);
}

void TestCli::stopping_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QStringList>("module");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("suffix"); // of the --output file; empty: none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("stopByte"); // the module is told to stop
    const QStringList open { "measure", "--seconds", "0" };
    // A dropped SSH session, a polite kill and Ctrl+C end a run alike.
    QTest::newRow("hangup-ends-an-open-run-0-workbook-complete")
        << int(SIGHUP) << QStringList { "--rate", "100" } << open << "xlsx" << 0 << true;
    QTest::newRow("terminate-ends-an-open-run-0-csv-complete")
        << int(SIGTERM) << QStringList { "--rate", "100" }
        << open + QStringList { "--format", "csv" } << "csv" << 0 << true;
    QTest::newRow("interrupt-ends-an-open-run-0-txt-complete")
        << int(SIGINT) << QStringList { "--rate", "100" } << open << "txt" << 0 << true;
    QTest::newRow("interrupt-cuts-a-count-short-130")
        << int(SIGINT) << QStringList()
        << QStringList { "measure", "--count", "100000", "--speed", "fast", "--format", "jsonl" }
        << "jsonl" << 130 << false;
    QTest::newRow("hangup-cuts-a-timed-run-short-130")
        << int(SIGHUP) << QStringList { "--rate", "100" }
        << QStringList { "measure", "--seconds", "60", "--format", "csv" } << "csv" << 130 << true;
    // A module at another address never answers: the signal comes while the command waits.
    QTest::newRow("interrupt-cuts-info-short-130")
        << int(SIGINT) << QStringList { "--address", "9" } << QStringList { "info" } << "" << 130
        << false;
    QTest::newRow("interrupt-cuts-a-scan-short-130")
        << int(SIGINT) << QStringList { "--address", "9" }
        << QStringList { "scan", "--all", "--checks", "none", "--bauds", "9600" } << "" << 130
        << false;
}

void TestCli::stopping()
{
    QFETCH(int, signal);
    QFETCH(QStringList, module);
    QFETCH(QStringList, args);
    QFETCH(QString, suffix);
    QFETCH(int, exitCode);
    QFETCH(bool, stopByte);
    Module m(module);
    const QString file = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".") + suffix);
    QStringList full = args + QStringList { "--port", m.path };
    if (!suffix.isEmpty())
        full << "--output" << file;
    QProcess p;
    start(p, full);
    QByteArray out;
    const bool measures = args.first() == QLatin1String("measure");
    // Measuring runs are stopped once records flow, the others once they are under way.
    while (measures && out.count('\n') < 5 && p.waitForReadyRead(kWaitMs))
        out += p.readAllStandardOutput();
    // The others once the module hears a request: the stop handler is in place before a port
    // opens, however slowly a busy machine starts the program.
    while (
        !measures && !m.out.contains(QLatin1String("<- ")) && m.process.waitForReadyRead(kWaitMs))
        m.out += QString::fromLocal8Bit(m.process.readAllStandardOutput());
    ::kill(pid_t(p.processId()), signal);
    const Run run = finish(p, out);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.err.contains(QLatin1String("stop")), qPrintable(run.err));
    if (measures) {
        // Every record shown is in the file, whole, and the summary counts them.
        QStringList records = run.out;
        if (suffix == QLatin1String("jsonl"))
            records.removeLast(); // the statistics
        QStringList rows = fileRows(file);
        if (suffix == QLatin1String("txt") || suffix == QLatin1String("xlsx")) {
            QVERIFY2(!rows.isEmpty(), qPrintable(file)); // no header: the file was not read
            rows.removeFirst();
        }
        QCOMPARE(rows.size(), records.size());
        if (suffix == QLatin1String("csv") || suffix == QLatin1String("jsonl"))
            QCOMPARE(rows.mid(1), records.mid(1));
        const qsizetype count
            = suffix == QLatin1String("csv") ? records.size() - 1 : records.size();
        QVERIFY2(run.err.contains(QStringLiteral(": %1 record").arg(count)), qPrintable(run.err));
    }
    QCOMPARE(m.received().endsWith(QLatin1String(" 58")), stopByte);
}

void TestCli::closedOutput()
{
    Module module({ "--rate", "100" });
    const QString file = m_dir.filePath(QStringLiteral("reader-gone.csv"));
    // A real reader that goes away: head takes the first line and exits.
    QProcess p;
    p.start(QStringLiteral("bash"),
        { "-c",
            QStringLiteral("\"$0\" measure --seconds 10 --format csv --output \"$1\" --port "
                           "\"$2\" | head -1; exit ${PIPESTATUS[0]}"),
            program("tovandrix-cli"), file, module.path });
    QElapsedTimer clock;
    clock.start();
    const Run run = finish(p);
    QCOMPARE(run.out.size(), 1);
    // The run ends soon after nobody reads it, and ends cleanly.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(run.err));
    QCOMPARE(run.exitCode, 130);
    QVERIFY2(run.err.contains(QLatin1String("standard output closed")), qPrintable(run.err));
    const QStringList rows = fileRows(file);
    QVERIFY(rows.size() > 1);
    for (const QString &row : rows.mid(1))
        QCOMPARE(row.split(QLatin1Char(',')).size(), 6);
    // The module was stopped: the next command gets its own answers, not a stale stream.
    const Run next = cli({ "measure", "--count", "2", "--format", "csv", "--port", module.path });
    QCOMPARE(next.exitCode, 0);
    QCOMPARE(next.out.size(), 3);
    for (const QString &row : next.out.mid(1))
        QVERIFY2(row.split(QLatin1Char(','))[5].toInt() > 0, qPrintable(row));
    QVERIFY(module.received().startsWith(hexText(aa("00 00 20 00 01 00 04") + "\x58")));
}

void TestCli::testPlans_data()
{
    QTest::addColumn<QStringList>("module");
    QTest::addColumn<QString>("plan");
    QTest::addColumn<int>("signal"); // sent once the run is under way; 0: none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("verdict"); // on standard output, or on standard error for exit 2
    const QString supply = QStringLiteral("[plan]\nname = \"supply\"\nversion = \"1\"\n"
                                          "[[step]]\nname = \"id\"\nread = \"serial\"\n"
                                          "[[step]]\nname = \"supply\"\nread = \"voltage\"\n"
                                          "min = 3000\nmax = 3600\n");
    const QString slow = supply + "[[step]]\nname = \"long\"\nmeasure = { count = 1000 }\n";
    QTest::newRow("passing-unit-0") << QStringList() << supply << 0 << 0 << "PASS";
    QTest::newRow("voltage-below-its-limit-1")
        << QStringList { "--voltage", "2999" } << supply << 0 << 1 << "FAIL";
    QTest::newRow("silent-unit-not-tested-3")
        << QStringList { "--address", "9" } << supply << 0 << 3 << "ERROR";
    QTest::newRow("interrupted-run-aborted-3")
        << QStringList() << slow << int(SIGINT) << 3 << "ABORTED";
    QTest::newRow("plan-mistake-with-line-and-column-2")
        << QStringList() << QString(supply).replace("min = 3000", "mini = 3000") << 0 << 2
        << "plan.toml:10:1:";
}

void TestCli::testPlans()
{
    QFETCH(QStringList, module);
    QFETCH(QString, plan);
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QFETCH(QString, verdict);
    Module m(QStringList { "--serial", "12345678" } + module);
    QTemporaryDir dir;
    const QString planFile = dir.filePath(QStringLiteral("plan.toml"));
    QFile f(planFile);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(plan.toUtf8()) > 0);
    f.close();
    QProcess p;
    start(p,
        { "test", planFile, "--port", m.path, "--station", "s'1;", "--record", dir.path(),
            "--junit", dir.filePath(QStringLiteral("junit.xml")), "--timeout", "300" });
    if (signal) {
        QByteArray err;
        while (!err.contains("supply, attempt 1") && p.waitForReadyRead(kWaitMs))
            err += p.readAllStandardError();
        ::kill(pid_t(p.processId()), signal);
    }
    const Run run = finish(p);
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode == 2) {
        QVERIFY2(run.err.startsWith(planFile + verdict.mid(9)), qPrintable(run.err));
        QCOMPARE(m.received(), QString()); // nothing was sent
        return;
    }
    // One line for the unit, the serial as the module sends it; its record and report on disk.
    QCOMPARE(run.out.size(), 1);
    const QStringList cells = run.out.first().split(QLatin1Char('\t'));
    QCOMPARE(cells.mid(0, 3),
        QStringList({ m.path, exitCode == 3 && !signal ? QString() : "1234", verdict }));
    const QStringList records = QDir(dir.path()).entryList({ "*.json" });
    QCOMPARE(records.size(), 1);
    QVERIFY2(records.first().endsWith("-" + verdict + ".json"), qPrintable(records.first()));
    QFile record(dir.filePath(records.first()));
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(record.readAll()).object();
    QCOMPARE(o["outcome"].toString(), verdict);
    QCOMPARE(o["station"].toString(), "s'1;");
    QFile junit(dir.filePath(QStringLiteral("junit.xml")));
    QVERIFY(junit.open(QIODevice::ReadOnly) && junit.readAll().contains("<testsuite"));
    // The run's bytes lie beside its record, under its name.
    if (!signal)
        QVERIFY(QFile::exists(dir.filePath(records.first().chopped(5) + ".tvxr")));
    if (signal)
        QVERIFY2(run.err.contains(QLatin1String("aborting")), qPrintable(run.err));
    QVERIFY2(run.err.contains(o["id"].toString() + " stored in " + qgetenv("XDG_DATA_HOME")
                 + "/tovandrix/results.sqlite"),
        qPrintable(run.err));
}

void TestCli::help_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mention");
    QTest::newRow("scan-timeout-default-5") << QStringList { "scan", "--help" } << "Default: 5.";
    QTest::newRow("measure-timeout-default-1000")
        << QStringList { "measure", "--help" } << "Default: 1000.";
    QTest::newRow("whole-help-names-exit-130") << QStringList { "--help" } << "130";
}

void TestCli::help()
{
    QFETCH(QStringList, args);
    QFETCH(QString, mention);
    QProcess p;
    p.start(program("tovandrix-cli"), args);
    const Run run = finish(p);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.join('\n').contains(mention), qPrintable(run.out.join('\n')));
}

void TestCli::scan_data()
{
    QTest::addColumn<QStringList>("module");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("found"); // BAUD CHECK ADDRESS after the port
    // Modules that answer only at their own speed; on a loaded machine they get 60 ms to answer.
    QTest::newRow("modbus-address-7-at-38400")
        << QStringList { "--baud", "38400", "--address", "3", "--modbus-address", "7" }
        << QStringList { "--checks", "crc", "--bauds", "9600,38400", "--addresses", "1-8" }
        << QStringList { "38400\tcrc\t7" };
    QTest::newRow("all-two-modules-on-one-line")
        << QStringList { "--address", "2", "--extra-address", "4" }
        << QStringList { "--all", "--bauds", "9600", "--checks", "none", "--addresses", "0-5" }
        << QStringList { "9600\tnone\t2", "9600\tnone\t4" };
    QTest::newRow("jsonl") << QStringList { "--address",
        "2" } << QStringList { "--bauds", "9600", "--checks", "none", "--format", "jsonl" }
                           << QStringList { R"("address":2,"baud":9600,"check":"none")" };
    QTest::newRow("none-found-exit-1")
        << QStringList { "--baud", "4800" }
        << QStringList { "--bauds", "9600", "--addresses", "2-3" } << QStringList();
}

void TestCli::scan()
{
    QFETCH(QStringList, module);
    QFETCH(QStringList, args);
    QFETCH(QStringList, found);
    Module m(module + QStringList { "--strict-speed" });
    const Run run = cli(QStringList { "scan", "--port", m.path, "--timeout", "60" } + args);
    QCOMPARE(run.exitCode, found.isEmpty() ? 1 : 0);
    const bool json = args.contains(QLatin1String("jsonl"));
    for (QString &line : found)
        line = json ? QStringLiteral("{%1,\"port\":\"%2\"}").arg(line, m.path)
                    : m.path + QLatin1Char('\t') + line;
    QCOMPARE(run.out, found);
    if (found.isEmpty())
        QVERIFY2(run.err.contains("no module answered"), qPrintable(run.err));
}

void TestCli::analyzeFile_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<int>>("distances"); // of the first port, in order
    QTest::addColumn<QList<double>>("seconds"); // when they came
    QTest::addColumn<int>("errors");
    QTest::addColumn<double>("coefficient"); // mm/°C; NaN: none
    QTest::addColumn<int>("exitCode");
    // 00:59:50 at +01:00 is 23:59:50 UTC: the runs pass midnight.
    const QDateTime t0(QDate(2026, 12, 7), QTime(0, 59, 50), QTimeZone(3600));
    const auto at
        = [&](double s) { return t0.addMSecs(qint64(s * 1000)).toString(Qt::ISODateWithMs); };
    const QString csvRecord = QStringLiteral("%1,%2,Auto measure,%3,110,");
    QStringList csv { "port,time,mode,distance_mm,signal,measuring_time_ms" };
    QList<int> mm;
    QList<double> seconds;
    for (int i = 0; i < 13; ++i) {
        // An error reply counts among the records, not among the distances.
        csv << csvRecord.arg(
            "/dev/a", at(1.5 * i), i == 6 ? "0004" : QString::number(1000 + i * 7 % 5 + i / 9 * 3));
        if (i == 6)
            csv.last().replace(",110,", ",,");
        else
            mm << 1000 + i * 7 % 5 + i / 9 * 3, seconds << 1.5 * i;
        if (i % 4 == 0) // a second port, whose name needs quotes
            csv << csvRecord.arg("\"/dev/b,x\"", at(1.5 * i + 0.2), "999");
    }
    QTest::newRow("csv-error-counted-two-ports-past-midnight")
        << csv << mm << seconds << 1 << qQNaN() << 0;

    // Readings at 20 and 30 °C either side; the distance follows the temperature by 2 mm/°C.
    const QString json = QStringLiteral(R"({"port":"p","time":"%1",%2})");
    QStringList jsonl { R"({"port":"p","all":{"count":9}})",
        json.arg(at(0), "\"temperature_c\":20") };
    mm.clear();
    seconds.clear();
    for (int s = 10; s <= 90; s += 10) {
        mm << 1000 + s / 5;
        seconds << s;
        jsonl << json.arg(at(s),
            QStringLiteral(
                R"("mode":"Auto measure","distance_mm":%1,"signal":110,"measuring_time_ms":null)")
                .arg(mm.last()));
    }
    jsonl << json.arg(at(100), "\"temperature_c\":30");
    QTest::newRow("jsonl-temperatures-give-2-mm-per-c") << jsonl << mm << seconds << 0 << 2.0 << 0;

    const QStringList damaged { csv[0], csvRecord.arg("q", at(0), "1500"), "not a record",
        csvRecord.arg("q", at(1), "1502") };
    QTest::newRow("damaged-line-named-exit-1")
        << damaged << QList<int> { 1500, 1502 } << QList<double> { 0, 1 } << 0 << qQNaN() << 1;
}

void TestCli::analyzeFile()
{
    QFETCH(QStringList, lines);
    QFETCH(QList<int>, distances);
    QFETCH(QList<double>, seconds);
    QFETCH(int, errors);
    QFETCH(double, coefficient);
    QFETCH(int, exitCode);
    const QString path = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".log"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(lines.join('\n').toUtf8()) > 0);
    file.close();
    const Run run = cli({ "analyze", path, "--format", "jsonl" });
    QCOMPARE(run.exitCode, exitCode);
    if (exitCode)
        QVERIFY2(run.err.contains("line 3"), qPrintable(run.err));
    const QJsonObject o = QJsonDocument::fromJson(run.out.value(0).toUtf8()).object();
    QCOMPARE(o["count"].toInt(), distances.size() + errors);
    QCOMPARE(o["errors"].toInt(), errors);
    // Each figure from its definition.
    const int n = int(distances.size());
    double mean = 0, squares = 0, meanS = 0, sxy = 0, sxx = 0;
    for (int i = 0; i < n; ++i)
        mean += distances[i] / double(n), meanS += seconds[i] / n;
    for (int i = 0; i < n; ++i) {
        squares += (distances[i] - mean) * (distances[i] - mean);
        sxy += (seconds[i] - meanS) * (distances[i] - mean);
        sxx += (seconds[i] - meanS) * (seconds[i] - meanS);
    }
    QVERIFY(near(o["mean"].toDouble(), mean));
    QVERIFY(near(o["sigma"].toDouble(), std::sqrt(squares / (n - 1))));
    QVERIFY(near(o["drift_mm_per_h"].toDouble(), 3600 * sxy / sxx));
    // The overlapping Allan deviation by a plain loop, at tau = m x the interval of the records.
    const QJsonArray allan = o["allan"].toArray();
    int k = 0;
    for (int m = 1; 2 * m <= n; m *= 2, ++k) {
        double sum = 0;
        for (int j = 0; j + 2 * m <= n; ++j) {
            double first = 0, second = 0;
            for (int i = 0; i < m; ++i)
                first += distances[j + i], second += distances[j + m + i];
            sum += (second - first) / m * (second - first) / m;
        }
        const QJsonObject point = allan[k].toObject();
        QCOMPARE(point["n"].toInt(), n - 2 * m + 1);
        QVERIFY(near(point["adev"].toDouble(), std::sqrt(sum / (2.0 * (n - 2 * m + 1)))));
        QVERIFY(near(point["tau_s"].toDouble(), m * (seconds[1] - seconds[0])));
    }
    QCOMPARE(allan.size(), k);
    // 1 mm bins, each counting its distance.
    int binned = 0;
    for (const QJsonValue bin : o["histogram"].toArray()) {
        const double from = bin["from"].toDouble();
        QCOMPARE(bin["to"].toDouble(), from + 1);
        QCOMPARE(bin["count"].toInt(), int(distances.count(int(from + 0.5))));
        binned += bin["count"].toInt();
    }
    QCOMPARE(binned, n);
    QVERIFY(qIsNaN(coefficient) ? o["temperature_mm_per_c"].isNull()
                                : near(o["temperature_mm_per_c"].toDouble(), coefficient));
}

void TestCli::recordAndReplay_data()
{
    QTest::addColumn<QStringList>("module");
    QTest::addColumn<QStringList>("args");
    QTest::newRow("measure-continuous-gaussian-115200-analyzed")
        << QStringList { "--baud", "115200", "--rate", "max", "--model", "noisy", "--noise-kind",
               "gaussian", "--noise", "5", "--distance", "2500" }
        << QStringList { "--baud", "115200", "measure", "--seconds", "1", "--analyze", "--format",
               "jsonl" };
    QTest::newRow("measure-count-modbus")
        << QStringList { "--model", "ramp" }
        << QStringList { "--check", "crc", "measure", "--count", "3", "--format", "jsonl" };
    QTest::newRow("send-raw-frame") << QStringList() << QStringList { "send", "AA 80 00 06 86" };
}

void TestCli::recordAndReplay()
{
    QFETCH(QStringList, module);
    QFETCH(QStringList, args);
    const QString log = m_dir.filePath(QTest::currentDataTag() + QStringLiteral(".tvxr"));
    Module m(module);
    const Run recorded = cli(args + QStringList { "--port", m.path, "--record", log });
    QCOMPARE(recorded.exitCode, 0);
    Module player({ "--replay", log });
    const Run replayed = cli(args + QStringList { "--port", player.path });
    QCOMPARE(replayed.exitCode, 0);
    // The same records, times aside, as the recorded module's.
    QVERIFY(!recorded.out.isEmpty());
    QCOMPARE(timesAside(replayed, player.path), timesAside(recorded, m.path));
    if (!args.contains(QLatin1String("--analyze")))
        return;
    // The figures of the records printed, and near what the module was told.
    QList<double> mm;
    for (const QString &line : recorded.out)
        if (line.contains(QLatin1String("distance_mm")))
            mm << QJsonDocument::fromJson(line.toUtf8())["distance_mm"].toDouble();
    double mean = 0, squares = 0;
    for (double d : mm)
        mean += d / double(mm.size());
    for (double d : mm)
        squares += (d - mean) * (d - mean);
    const QJsonObject o = QJsonDocument::fromJson(recorded.out.last().toUtf8()).object();
    QCOMPARE(o["count"].toInt(), mm.size());
    QVERIFY(near(o["mean"].toDouble(), mean));
    QVERIFY(near(o["sigma"].toDouble(), std::sqrt(squares / double(mm.size() - 1))));
    QVERIFY2(qAbs(mean - 2500) < 1.5 && qAbs(o["sigma"].toDouble() - 5) < 1,
        qPrintable(recorded.out.last()));
}

void TestCli::temperatureReads()
{
    Module m({ "--rate", "50", "--temperature", "21.5" });
    const Run run = cli({ "measure", "--port", m.path, "--seconds", "2.5", "--temperature-every",
        "1", "--format", "jsonl" });
    QCOMPARE(run.exitCode, 0);
    const QStringList readings = run.out.filter(QStringLiteral("\"temperature_c\":21.5}"));
    QVERIFY(readings.size() >= 2);
    // Read, start; then for each later read: stop, read, start; and the stop that ends the run.
    const QByteArray read = aa("80 00 08"), start = aa("00 00 20 00 01 00 04"),
                     stop = QByteArray("\x58");
    QByteArray wire = read + start;
    for (qsizetype i = 1; i < readings.size(); ++i)
        wire += stop + read + start;
    QCOMPARE(m.received(), hexText(wire + stop));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
