// Result export: the text file's exact bytes, the save-name rules, the workbook written in its own
// thread and read back with openpyxl, and failures that keep an earlier file.
#include "core/runstats.h"
#include "export/exporting.h"
#include "export/save_file.h"

#include "testsupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/resource.h>

using Records = QList<QList<QString>>;

namespace {

const QDate kDay(2027, 1, 2); // month and day zero-padded
const QByteArray kEarlier = "earlier file\n";

QByteArray headerLine(int language, const QDate &date)
{
    const char *zh = "时间:%1,测量模式,测量结果/mm,信号结果,测量时间/ms\n";
    const char *en = "time:%1,Measurement mode,Measure result/mm,Signal result,Measuring time/ms\n";
    return QString(language == 0 ? zh : en).arg(date.toString("yyyy/MM/dd")).toUtf8();
}

// Records like a long run, lines of varying length so that they straddle any chunk boundary.
Records manyRecords(int count)
{
    Records rows;
    for (int i = 0; i < count; ++i)
        rows.append({ QStringLiteral("12:00:%1.%2").arg(i % 60).arg(i % 1000),
            i % 2 ? QStringLiteral("自动测量") : QStringLiteral("Fast measure"),
            QString::number(i * 7 - 5000), QString::number(i % 300), i % 3 ? "" : "187" });
    return rows;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The workbook worker in a thread of its own, as the window runs it: one worker for all saves.
// Returns the answers to a request for each base in turn and, in @p atNotice, what was in the
// last request's folder as its answer left.
QList<int> exportWorkbook(const QStringList &bases, int index, const Records &rows, int language,
    QStringList *atNotice, const Records &stats = {}, const Records &analysis = {})
{
    QThread thread;
    save_file worker; // destroyed here once its thread has ended
    QList<int> answers; // written in the worker's thread, read once it has ended
    QObject::connect(
        &worker, &save_file::sig_tongzhi_close_file, &worker,
        [&](int answer) {
            answers << answer;
            *atNotice = entries(QFileInfo(bases.at(answers.size() - 1)).absolutePath());
        },
        Qt::DirectConnection);
    worker.moveToThread(&thread);
    thread.start();
    for (const QString &base : bases) {
        QMetaObject::invokeMethod(&worker, [&] { worker.setStats(stats); });
        QMetaObject::invokeMethod(&worker, [&] { worker.setAnalysis(analysis); });
        QMetaObject::invokeMethod(
            &worker, [&, base] { worker.slot_save_data(base, index, rows, language); });
    }
    QMetaObject::invokeMethod(&worker, [&] { thread.quit(); });
    thread.wait();
    return answers;
}

} // namespace

class TestExport : public QObject
{
    Q_OBJECT
private slots:

    void textFile_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<Records>("rows");
        QTest::addColumn<QByteArray>("lines"); // after the header
        QTest::newRow("chinese-header-only") << 0 << Records {} << QByteArray();
        QTest::newRow("english-utf8-record")
            << 1 << Records { { "23:59:59.990", "慢速测量", "-12", "-32768", "201" } }
            << QString("23:59:59.990,慢速测量,-12,-32768,201\n").toUtf8();
        QTest::newRow("empty-fields-kept-no-quoting")
            << 1 << Records { { "14:03:27.415", "Fast", "1,5", "110", "" }, { "", "", "" } }
            << QByteArray("14:03:27.415,Fast,1,5,110,\n,,\n");
        QByteArray many;
        const Records rows = manyRecords(5000);
        for (const QList<QString> &row : rows)
            many += row.join(QLatin1Char(',')).toUtf8() + '\n';
        QTest::newRow("five-thousand-records-none-lost") << 0 << rows << many;
    }

    void textFile()
    {
        QFETCH(int, language);
        QFETCH(Records, rows);
        QFETCH(QByteArray, lines);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.txt"));
        QVERIFY(writeFile(path, kEarlier)); // replaced as a whole
        QString error;
        QVERIFY2(exporting::writeTextFile(path, rows, language, kDay, &error), qPrintable(error));
        QCOMPARE(contents(path), headerLine(language, kDay) + lines);
        QCOMPARE(entries(dir.path()), QStringList { QStringLiteral("run.txt") });
    }

    void names_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<bool>("workbook");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("picture");
        const auto row = [](const char *tag, const char *chosen, bool workbook, const char *base,
                             const char *picture) {
            QTest::newRow(tag) << QString(chosen) << workbook << QString(base) << QString(picture);
        };
        row("xlsx-is-workbook", "/d/r.xlsx", true, "/d/r", "/d/r.jpg");
        row("upper-case-XLSX-is-text", "/d/r.XLSX", false, "/d/r.XLSX", "/d/r.XLSX.jpg");
        row("lsx-without-dot-is-workbook", "/d/rlsx", true, "/d/rlsx", "/d/rlsx.jpg");
        row("txt-dropped-from-picture", "/d/测量 1.txt", false, "/d/测量 1.txt", "/d/测量 1.jpg");
        row("upper-case-TXT-kept", "/d/r.TXT", false, "/d/r.TXT", "/d/r.TXT.jpg");
        row("every-xlsx-removed", "/b.xlsx.d/r.xlsx", true, "/b.d/r", "/b.d/r.jpg");
        row("every-txt-removed", "/a.txt.d/r.txt", false, "/a.txt.d/r.txt", "/a.d/r.jpg");
    }

    void names()
    {
        QFETCH(QString, chosen);
        QFETCH(bool, workbook);
        QFETCH(QString, base);
        QFETCH(QString, picture);
        QCOMPARE(exporting::isWorkbookName(chosen), workbook);
        QCOMPARE(exporting::workbookBaseName(chosen), base);
        QCOMPARE(exporting::pictureName(chosen), picture);
    }

    void workbook_data()
    {
        QTest::addColumn<int>("language");
        QTest::addColumn<Records>("rows");
        QTest::addColumn<Records>("stats");
        QTest::addColumn<Records>("analysis");
        QTest::addColumn<QByteArray>("sheets"); // names and the later sheets' cells, as JSON
        const QByteArray one = R"({"sheets": ["Sheet1"], "stats": []})";
        QTest::newRow("english-header-row-only")
            << 1 << Records {} << Records {} << Records {} << one;
        QTest::newRow("number-and-formula-look-alikes-stay-text")
            << 0
            << Records { { "00:00:00.000", "自动测量", "0012", "-32768", "1e3" },
                   { "=1+1", "+5", "1,5", "TRUE", "#N/A" } }
            << Records {} << Records {} << one;
        QTest::newRow("empty-and-missing-fields-blank-text-cells")
            << 1 << Records { { " 14:03:27.415", "Slow ", "0F0A", "", "" }, { "14:03:27.500" } }
            << Records {} << Records {} << one;
        QTest::newRow("two-thousand-records-in-order")
            << 0 << manyRecords(2000) << Records {} << Records {} << one;
        // The statistics sheet after the records, its figures as numbers, "-" where none.
        core::RunStats::Summary summary;
        summary.all = { 5, 1, 1001.25, 2.5, -998, 1004, 2002, 12.5 };
        summary.recent = { 1, 1, 0, 0, 0, 0, 0, 0 };
        QTest::newRow("chinese-statistics-second-sheet")
            << 0 << manyRecords(3) << core::statsTable(summary, core::Language::Chinese) << Records {}
            << QByteArray(R"({"sheets": ["Sheet1", "统计"], "stats": [[null, "全部", "最近 100 条"],
                ["记录数", 5, 1], ["错误回复", 1, 1], ["平均值 mm", 1001.25, "-"],
                ["标准差 mm", 2.5, "-"], ["最小值 mm", -998, "-"], ["最大值 mm", 1004, "-"],
                ["峰峰值 mm", 2002, "-"], ["速率 次/秒", 12.5, "-"]]})");
        QTest::newRow("english-statistics-sheet-name")
            << 1 << Records {} << core::statsTable({}, core::Language::English) << Records {}
            << QByteArray(R"({"sheets": ["Sheet1", "Statistics"], "stats": [[null, "All",
                "Newest 100"], ["Records", 0, 0], ["Error replies", 0, 0], ["Mean mm", "-", "-"],
                ["Std. deviation mm", "-", "-"], ["Minimum mm", "-", "-"], ["Maximum mm", "-",
                "-"], ["Peak to peak mm", "-", "-"], ["Rate /s", "-", "-"]]})");
        // The analysis a third sheet: figures as numbers, texts as text, empty rows kept.
        QTest::newRow("chinese-analysis-third-sheet")
            << 0 << manyRecords(1) << Records { { "统计" } }
            << Records { { "记录数", "3" }, { "预热时间 s", "未稳定" }, {},
                   { "τ s", "Allan 偏差 mm", "n" }, { "0.5", "1.25e-3", "2" } }
            << QByteArray(R"({"sheets": ["Sheet1", "统计", "分析"], "stats": [["统计"]],
                "analysis": [["记录数", 3, null], ["预热时间 s", "未稳定", null],
                [null, null, null], ["τ s", "Allan 偏差 mm", "n"], [0.5, 0.00125, 2]]})");
    }

    void workbook()
    {
        QFETCH(int, language);
        QFETCH(Records, rows);
        QFETCH(Records, stats);
        QFETCH(Records, analysis);
        QFETCH(QByteArray, sheets);
        const QString python = testsupport::pythonWithOpenpyxl();
        if (python.isEmpty())
            QSKIP("python3 with openpyxl is needed to read the workbook back");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("run.xlsx"));
        QVERIFY(writeFile(path, kEarlier)); // replaced as a whole
        const QDate before = QDate::currentDate();
        QStringList atNotice;
        // A failed save first (a folder that is not there) must not spoil the next one.
        QCOMPARE(exportWorkbook({ dir.filePath("gone/run"), dir.filePath("run") },
                     save_file::kWriteRequest, rows, language, &atNotice, stats, analysis),
            (QList<int> { save_file::kSaveFailed, save_file::kSaveDone }));
        const QDate after = QDate::currentDate();
        // Renamed into place, complete, before the answer leaves; no scratch file left beside it.
        QCOMPARE(atNotice, QStringList { QStringLiteral("run.xlsx") });

        QProcess reader;
        reader.start(python, { testsupport::sourceDir() + "/tests/export/read_xlsx.py", path });
        QVERIFY2(reader.waitForFinished(120000) && reader.exitCode() == 0,
            reader.readAllStandardError().constData());
        QJsonObject book = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
        QJsonArray sheet = book.take("rows").toArray();
        book.remove("widths");
        QCOMPARE(book, QJsonDocument::fromJson(sheets).object());
        QStringList header;
        for (const QJsonValue &cell : sheet.at(0).toArray())
            header << cell.toArray().at(0).toString();
        const QByteArray line = (header.join(QLatin1Char(',')) + '\n').toUtf8();
        if (line != headerLine(language, after)) // saved across midnight: either day
            QCOMPARE(line, headerLine(language, before));
        // Every record cell text with number format "@", blank where the field is empty.
        QJsonArray records;
        for (const QList<QString> &record : rows) {
            QJsonArray cells;
            for (int c = 0; c < 5; ++c) {
                const QString field = record.value(c);
                cells.append(field.isEmpty() ? QJsonArray { QJsonValue(), "n", "@" }
                                             : QJsonArray { field, "s", "@" });
            }
            records.append(cells);
        }
        sheet.removeFirst();
        QCOMPARE(sheet, records);
    }

    void failures_data()
    {
        QTest::addColumn<bool>("workbook");
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("index");
        for (const bool workbook : { false, true })
            for (const char *situation : { "missing-folder", "folder-of-that-name", "size-limit" })
                QTest::addRow("%s-%s", workbook ? "workbook" : "text", situation)
                    << workbook << QString::fromLatin1(situation) << int(save_file::kWriteRequest);
        QTest::newRow("workbook-request-index-0-refused") << true << "refused" << 0;
        QTest::newRow("workbook-request-index-2-refused") << true << "refused" << 2;
    }

    void failures()
    {
        QFETCH(bool, workbook);
        QFETCH(QString, situation);
        QFETCH(int, index);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("out"));
        const QString target = folder + (workbook ? "/run.xlsx" : "/run.txt");
        // The earlier file: the target itself, or a file inside a folder of the target's name.
        const QString earlier = situation == "folder-of-that-name" ? target + "/inside" : target;
        if (situation != "missing-folder")
            QVERIFY(
                QDir().mkpath(QFileInfo(earlier).absolutePath()) && writeFile(earlier, kEarlier));
        // A file-size limit fails writes far into the file, as a disk that fills up does (for the
        // whole process: a test log written to a file meanwhile may lose lines).
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const rlimit small { 2048, saved.rlim_max };
        if (situation == "size-limit")
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const Records rows = manyRecords(200);
        QString error;
        QStringList atNotice;
        const bool failed = workbook
            ? exportWorkbook({ folder + "/run" }, index, rows, 1, &atNotice)
                == QList<int> { save_file::kSaveFailed }
            : !exporting::writeTextFile(target, rows, 1, kDay, &error);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        QVERIFY(failed);
        QCOMPARE(error.isEmpty(), workbook);
        const bool missing = situation == "missing-folder";
        QCOMPARE(QFileInfo::exists(folder) ? entries(folder) : QStringList(),
            missing ? QStringList() : QStringList { QFileInfo(target).fileName() });
        QCOMPARE(contents(earlier), missing ? QByteArray("<unreadable>") : kEarlier);
    }
};

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
