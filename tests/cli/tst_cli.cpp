// tovandrix-cli as a script runs it, against virtual modules (tovandrix-sim) on pseudo-terminals.
// The oracles are the frames each module received and the values it was told to report.
#include "testsupport.h"

#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

constexpr int kWaitMs = 20000;
using testsupport::aa;
using testsupport::rtu;

QString program(const char *name)
{
    return testsupport::binaryDir() + QLatin1Char('/') + QLatin1String(name);
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

/** A virtual module told its values; it prints every request it gets. */
struct Module
{
    QProcess process;
    QString path;
    QString out;

    explicit Module(const QStringList &options)
    {
        process.start(program("tovandrix-sim"),
            QStringList { "--no-publish", "-v", "--hardware", "0A0B", "--software", "0C0D",
                "--voltage", "3456", "--temperature", "21.5", "--angle", "3.4", "--distance",
                "4321", "--signal", "77" }
                + options);
        const QRegularExpression pts(QStringLiteral(" on (/dev/pts/\\d+) "));
        while (!pts.match(out).hasMatch() && process.waitForReadyRead(kWaitMs))
            out += QString::fromLocal8Bit(process.readAllStandardOutput());
        path = pts.match(out).captured(1);
    }
    ~Module()
    {
        if (process.state() != QProcess::NotRunning)
            received();
    }
    /** Every byte the module received, in order, however the reads cut them. */
    QString received()
    {
        ::kill(pid_t(process.processId()), SIGINT);
        process.waitForFinished(kWaitMs);
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
        QStringList bytes;
        const QRegularExpression request(QStringLiteral("<- ([0-9A-F ]+)\\n"));
        for (const auto &m : request.globalMatch(out))
            bytes << m.captured(1);
        return bytes.join(QLatin1Char(' '));
    }
};

struct Run
{
    int exitCode = -1;
    QStringList out; ///< lines of standard output
    QString err;
};

Run cli(QStringList args, QProcess *process = nullptr)
{
    QProcess own;
    QProcess &p = process ? *process : own;
    // A loaded machine may be slow to answer; a silent module is told its own timeout.
    if (!args.contains(QLatin1String("--timeout")) && !args.isEmpty())
        args << "--timeout"
             << "10000";
    if (!process)
        p.start(program("tovandrix-cli"), args);
    p.waitForFinished(kWaitMs);
    Run run { p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
        QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n')),
        QString::fromUtf8(p.readAllStandardError()) };
    run.out.removeAll(QString());
    return run;
}

QByteArray frames(const QList<QByteArray> &list)
{
    return list.join();
}

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
    void severalPortsAtOnce();
    void usageErrors_data();
    void usageErrors();
    void failures_data();
    void failures();
    void ctrlCEndsTheRunCleanly();
    void scan_data();
    void scan();

private:
    QTemporaryDir m_dir;
};

void TestCli::initTestCase()
{
    for (const char *name : { "tovandrix-cli", "tovandrix-sim" })
        if (!QFile::exists(program(name)))
            QSKIP(qPrintable(program(name) + QStringLiteral(" not built")));
    QVERIFY(m_dir.isValid());
}

void TestCli::commands_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("wire"); // what the module must receive
    QTest::addColumn<QStringList>("mentions"); // on standard output, one line each
    const QStringList crc { "--check", "crc" };
    QTest::newRow("info-aa-every-query-once")
        << QStringList { "info" }
        << frames({ aa("80 00 0A"), aa("80 00 0C"), aa("80 00 0E"), aa("80 00 00"), aa("80 00 12"),
               aa("80 00 06"), aa("80 00 08"), aa("80 00 00") })
        << QStringList { "0A0B", "0C0D", "", "address:0", "0mm", "3456", "21.5", "" };
    QTest::newRow("info-modbus-every-query-once")
        << crc + QStringList { "info" }
        << frames({ rtu("01 04 00 03 00 01"), rtu("01 04 00 02 00 01"), rtu("01 04 00 07 00 02"),
               rtu("01 03 00 00 00 01"), rtu("01 03 00 01 00 01"), rtu("01 04 00 01 00 01"),
               rtu("01 04 00 06 00 01"), rtu("01 04 00 05 00 02") })
        << QStringList { "0A0B", "0C0D", "", "01", "0mm", "3456", "21.5", "3.4" };
    QTest::newRow("set-address-aa") << QStringList { "set", "address", "5" }
                                    << aa("00 00 10 00 01 00 05") << QStringList { "5" };
    QTest::newRow("set-address-modbus") << crc + QStringList { "set", "address", "5" }
                                        << rtu("01 06 00 00 00 05") << QStringList { "05" };
    QTest::newRow("set-baud-aa-code-4") << QStringList { "set", "baud", "19200" }
                                        << aa("00 00 14 00 01 00 04") << QStringList { "19200" };
    QTest::newRow("set-negative-offset-modbus")
        << crc + QStringList { "set", "offset", "-5" } << rtu("01 06 00 01 FF FB")
        << QStringList { "-5mm" };
    QTest::newRow("set-laser-on-modbus")
        << crc + QStringList { "set", "laser", "on" } << rtu("01 05 00 00 FF 00") << QStringList {};
    QTest::newRow("send-aa-prints-the-reply") << QStringList { "send",
        "AA 80 00 06 86" } << aa("80 00 06") << QStringList { hexText(aa("80 00 06 00 01 34 56")) };
    QTest::newRow("send-modbus-crc-appended")
        << crc + QStringList { "send", "0104000100", "01" } << rtu("01 04 00 01 00 01")
        << QStringList { hexText(rtu("01 04 02 34 56")) };
    QTest::newRow("measure-count-aa-fast")
        << QStringList { "measure", "--count", "2", "--speed", "fast" }
        << frames({ aa("00 00 20 00 01 00 02"), aa("00 00 20 00 01 00 02") })
        << QStringList { "4321", "4321" };
    QTest::newRow("measure-count-modbus-slow-sets-the-speed-first")
        << crc + QStringList { "measure", "--count", "1", "--speed", "slow" }
        << frames({ rtu("01 01 06 00 02 01"), rtu("01 04 00 04 00 03") }) << QStringList { "4321" };
}

void TestCli::commands()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, wire);
    QFETCH(QStringList, mentions);
    Module module({});
    const Run run = cli(args + QStringList { "--port", module.path });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(module.received(), hexText(wire));
    QCOMPARE(run.out.size(), qMax<qsizetype>(mentions.size(), 1));
    for (int i = 0; i < mentions.size(); ++i)
        QVERIFY2(run.out[i].contains(mentions[i]), qPrintable(run.out.join('\n')));
}

void TestCli::measureFormats_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("mode"); // the mode text of the records
    QTest::newRow("text-to-txt-aa") << QStringList { "--format", "text" } << "txt"
                                    << "Auto measure";
    QTest::newRow("csv-to-csv-modbus-chinese")
        << QStringList { "--format", "csv", "--check", "crc", "--lang", "zh" } << "csv"
        << "自动测量";
    QTest::newRow("jsonl-to-xlsx-aa-slow")
        << QStringList { "--format", "jsonl", "--speed", "slow" } << "xlsx"
        << "Slow measure";
}

void TestCli::measureFormats()
{
    QFETCH(QStringList, args);
    QFETCH(QString, suffix);
    QFETCH(QString, mode);
    Module module({});
    const QString file = m_dir.filePath(QStringLiteral("run.") + suffix);
    const Run run = cli(
        args + QStringList { "measure", "--count", "3", "--port", module.path, "--output", file });
    QCOMPARE(run.exitCode, 0);
    // Every format carries the same cells: the port, a time, the mode, 4321 mm, signal 77 and a
    // measuring time.
    const QRegularExpression clock(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"));
    QStringList records = run.out;
    if (suffix == QLatin1String("csv"))
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
            QVERIFY(clock.match(c[1]).hasMatch() && c[5].toInt() > 0);
        } else {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            QCOMPARE(o.keys().size(), 6);
            QCOMPARE(o["port"].toString(), module.path);
            QCOMPARE(o["mode"].toString(), mode);
            QCOMPARE(o["distance_mm"].toInt(), 4321);
            QCOMPARE(o["signal"].toInt(), 77);
            QVERIFY(
                clock.match(o["time"].toString()).hasMatch() && o["measuring_time_ms"].toInt() > 0);
        }
    }
    QStringList table; // the file's rows as comma-joined cells
    if (suffix == QLatin1String("xlsx")) {
        const QString python = testsupport::pythonWithOpenpyxl();
        if (python.isEmpty())
            QSKIP("python3 with openpyxl missing");
        QProcess reader;
        reader.start(python, { testsupport::sourceDir() + "/tests/export/read_xlsx.py", file });
        QVERIFY(reader.waitForFinished(kWaitMs));
        for (const QJsonValue row :
            QJsonDocument::fromJson(reader.readAllStandardOutput()).object()["rows"].toArray()) {
            QStringList cells;
            for (const QJsonValue cell : row.toArray())
                cells << cell.toArray()[0].toString();
            table << cells.join(QLatin1Char(','));
        }
    } else {
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        table = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(table.takeLast(), QString());
    }
    if (suffix == QLatin1String("csv")) {
        QCOMPARE(table, run.out);
        return;
    }
    // The window's export: its header, then time, mode, distance, signal, measuring time.
    QCOMPARE(table.takeFirst(),
        QDate::currentDate().toString("'time:'yyyy/MM/dd")
            + ",Measurement mode,Measure result/mm,Signal result,Measuring time/ms");
    QCOMPARE(table.size(), 3);
    for (const QString &row : table)
        QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}," + mode + ",4321,77,\\d+$")
                     .match(row)
                     .hasMatch(),
            qPrintable(row));
}

void TestCli::severalPortsAtOnce()
{
    Module near({ "--distance", "100", "--rate", "50" });
    Module far({ "--distance", "9000", "--rate", "50" });
    const Run run = cli({ "measure", "--seconds", "1", "--format", "csv", "--port", near.path,
        "--port", far.path });
    QCOMPARE(run.exitCode, 0);
    QMap<QString, int> counts;
    for (const QString &line : run.out.mid(1)) {
        const QStringList c = line.split(QLatin1Char(','));
        QCOMPARE(c[3], c[0] == near.path ? "100" : "9000");
        ++counts[c[0]];
    }
    QVERIFY2(counts.value(near.path) > 0 && counts.value(far.path) > 0, qPrintable(run.err));
    // Each line was started and stopped: a continuous start, then the stop byte.
    for (Module *m : { &near, &far })
        QCOMPARE(m->received(), hexText(aa("00 00 20 00 01 00 04") + QByteArray("\x58")));
}

void TestCli::usageErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("mention");
    QTest::newRow("no-command") << QStringList {} << "command";
    QTest::newRow("unknown-command") << QStringList { "calibrate", "--port", "x" } << "calibrate";
    QTest::newRow("scan-narrowed-with-bauds-not-baud")
        << QStringList { "scan", "--baud", "9600", "--port", "x" } << "--bauds";
    QTest::newRow("info-without-port") << QStringList { "info" } << "--port";
    QTest::newRow("aa-address-128")
        << QStringList { "info", "--port", "x", "--address", "128" } << "--address";
    QTest::newRow("offset-beyond-16-bits")
        << QStringList { "set", "offset", "65536", "--port", "x" } << "offset";
    QTest::newRow("send-not-hex") << QStringList { "send", "AZ", "--port", "x" } << "AZ";
    QTest::newRow("count-and-seconds")
        << QStringList { "measure", "--count", "1", "--seconds", "1", "--port", "x" } << "both";
    QTest::newRow("format-outside-measure")
        << QStringList { "info", "--format", "csv", "--port", "x" } << "--format";
    QTest::newRow("output-of-unknown-kind")
        << QStringList { "measure", "--output", "a.pdf", "--port", "x" } << "--output";
}

void TestCli::usageErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, mention);
    const Run run = cli(args);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.out, QStringList());
    QVERIFY2(run.err.contains(mention) && run.err.contains("--help"), qPrintable(run.err));
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
    QTest::newRow("error-replies-counted")
        << QStringList { "--error-every", "2" } << QStringList { "measure", "--count", "4" } << 4
        << "2 error replies";
}

void TestCli::failures()
{
    QFETCH(QStringList, module);
    QFETCH(QStringList, args);
    QFETCH(int, records);
    QFETCH(QString, reason);
    Module m(module);
    const QString file = m_dir.filePath(QStringLiteral("fail.csv"));
    const Run run
        = cli(args + QStringList { "--port", m.path, "--output", file, "--format", "csv" });
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(reason), qPrintable(run.err));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    // The file holds, whole, every record taken: those on standard output.
    QCOMPARE(QString::fromUtf8(f.readAll()), run.out.join('\n') + '\n');
    if (records >= 0) {
        // A hung-up pseudo-terminal drops the input not yet read, so a starved run may take fewer.
        QVERIFY(run.out.size() - 1 <= records);
        QVERIFY2(run.err.contains(QStringLiteral("%1 record").arg(run.out.size() - 1)),
            qPrintable(run.err));
    }
}

void TestCli::ctrlCEndsTheRunCleanly()
{
    Module module({ "--rate", "100" });
    const QString file = m_dir.filePath(QStringLiteral("interrupted.txt"));
    QProcess p;
    p.start(program("tovandrix-cli"),
        { "measure", "--seconds", "0", "--port", module.path, "--output", file });
    QByteArray out;
    while (out.count('\n') < 5 && p.waitForReadyRead(kWaitMs))
        out += p.readAllStandardOutput();
    ::kill(pid_t(p.processId()), SIGINT);
    Run run = cli({}, &p);
    run.out = QString::fromUtf8(out).split('\n') + run.out;
    run.out.removeAll(QString());
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(
        run.err.contains(QStringLiteral("%1 records").arg(run.out.size())), qPrintable(run.err));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll().count('\n'), run.out.size() + 1);
    QVERIFY(module.received().endsWith(QLatin1String(" 58")));
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
        << QStringList { "38400 crc 7" };
    QTest::newRow("all-two-modules-on-one-line")
        << QStringList { "--address", "2", "--extra-address", "4" }
        << QStringList { "--all", "--bauds", "9600", "--checks", "none", "--addresses", "0-5" }
        << QStringList { "9600 none 2", "9600 none 4" };
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
    for (QString &line : found)
        line.prepend(m.path + QLatin1Char(' '));
    QCOMPARE(run.out, found);
    if (found.isEmpty())
        QVERIFY2(run.err.contains("no module answered"), qPrintable(run.err));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
