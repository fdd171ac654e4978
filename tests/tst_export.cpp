// Result export: text bytes, save-name rules, workbooks read back with openpyxl, failures, threads.
#include "exporting.h"
#include "save_file.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTime>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using Records = QList<QList<QString>>;

namespace {
const QDate kDay(2026, 12, 5);
const QString kEarlier = QStringLiteral("earlier file\n");
// openpyxl reports the stored width: Excel keeps 10 characters of 7 pixels plus 5 pixels of
// padding, in 1/256 steps.
constexpr double kStoredWidth10 = 10.7109375;

// Varied records like a real run: both languages, negative distances, error codes, and the
// empty measuring time of continuous measurements.
Records sampleRecords(int count)
{
    static const QString modes[] = { QStringLiteral("自动测量"), QStringLiteral("Fast measure"),
        QStringLiteral("慢速测量"), QStringLiteral("Auto measure") };
    Records rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString clock = QTime::fromMSecsSinceStartOfDay(i * 37 % 86400000)
                                  .toString(QStringLiteral("HH:mm:ss.zzz"));
        if (i % 97 == 5) {
            rows.append({ clock, modes[i % 4], QStringLiteral("0F0A"), QString(), QString() });
            continue;
        }
        rows.append({ clock, modes[i % 4], QString::number(i * 7 - 5000),
            QString::number(i % 65536 - 32768),
            i % 3 == 0 ? QString() : QString::number(150 + i % 90) });
    }
    return rows;
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Runs the worker in the calling thread, the way its slot runs inside its own thread.
int exportNow(const QString &base, const Records &rows, int language)
{
    save_file worker;
    QSignalSpy done(&worker, &save_file::sig_tongzhi_close_file);
    worker.slot_save_data(base, save_file::kWriteRequest, rows, language);
    return done.size() == 1 ? done.first().first().toInt() : -1;
}

bool writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0;
}

QString readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A 64 KiB tmpfs is a disk that really fills up. It is mounted in a mount namespace of this
// thread alone, so it disappears with the process and nothing else on the machine sees it.
bool mountSmallDisk(const QString &where, QString *why)
{
    if (::unshare(CLONE_NEWNS) != 0
        || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", QFile::encodeName(where).constData(), "tmpfs", 0, "size=64k") != 0) {
        *why = qt_error_string();
        return false;
    }
    return true;
}

// Leaves the small disk before the temporary folder holding it is removed.
struct Unmount
{
    QByteArray where;
    ~Unmount()
    {
        if (!where.isEmpty())
            ::umount2(where.constData(), MNT_DETACH);
    }
};

// Root writes through any permission bits, so the read-only case runs as "nobody", who owns
// the folder but has no write bit on it; root comes back even when a check fails.
constexpr uid_t kNobody = 65534;
struct Unprivileged
{
    bool active = false;
    bool enter() { return active = ::seteuid(kNobody) == 0; }
    ~Unprivileged()
    {
        if (active && ::seteuid(0) != 0)
            qFatal("cannot become root again");
    }
};
} // namespace

// Stands in for the window: the same signal, so the request crosses threads as it will there.
class Requester : public QObject
{
    Q_OBJECT
signals:
    void sig_save_data(QString filename, int index, QList<QList<QString>> list_data, int langue);
};

// The worker in a thread of its own, wired and shut down as the window does it.
struct ThreadedWorker
{
    QThread thread;
    Requester window;
    save_file *worker = new save_file;
    ThreadedWorker()
    {
        QObject::connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        QObject::connect(&window, &Requester::sig_save_data, worker, &save_file::slot_save_data);
        worker->moveToThread(&thread);
        thread.start();
    }
    ~ThreadedWorker() { stop(); }
    void stop()
    {
        thread.quit();
        thread.wait();
    }
};

class TestExport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void header_data();
    void header();
    void textFile_data();
    void textFile();
    void textToFullDevice();
    void naming_data();
    void naming();
    void workbook_data();
    void workbook();
    void threadedWorker_data();
    void threadedWorker();
    void failures_data();
    void failures();
    void quitDuringExport();

private:
    QJsonObject readBack(const QString &path);
    void compareWorkbook(const QJsonObject &book, const Records &rows, int language,
        const QDate &before, const QDate &after);
    QString m_python;
};

void TestExport::initTestCase()
{
    m_python = testsupport::pythonWithOpenpyxl();
}

QJsonObject TestExport::readBack(const QString &path)
{
    QProcess reader;
    reader.start(
        m_python, { testsupport::sourceDir() + QStringLiteral("/tests/read_xlsx.py"), path });
    if (!reader.waitForFinished(120000) || reader.exitCode() != 0) {
        qWarning() << reader.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

void TestExport::compareWorkbook(const QJsonObject &book, const Records &rows, int language,
    const QDate &before, const QDate &after)
{
    QVERIFY2(!book.isEmpty(), "openpyxl could not read the workbook");
    QCOMPARE(
        book.value(QStringLiteral("sheets")).toArray(), QJsonArray { QStringLiteral("Sheet1") });
    for (const QJsonValue &width : book.value(QStringLiteral("widths")).toArray())
        QCOMPARE(width.toDouble(), kStoredWidth10);
    const QJsonArray sheet = book.value(QStringLiteral("rows")).toArray();
    QCOMPARE(sheet.size(), rows.size() + 1);

    QStringList header;
    for (const QJsonValue &cell : sheet.at(0).toArray())
        header << cell.toArray().at(0).toString();
    // Saving across midnight may date the header with either day.
    if (header != exporting::workbookHeader(language, after))
        QCOMPARE(header, exporting::workbookHeader(language, before));

    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QJsonArray cells = sheet.at(r + 1).toArray();
        for (int c = 0; c < 5; ++c) {
            const QJsonArray cell = cells.at(c).toArray();
            const QString field = rows.at(r).at(c);
            QCOMPARE(cell.at(2).toString(), QStringLiteral("@"));
            if (field.isEmpty()) {
                QVERIFY2(cell.at(0).isNull(), qPrintable(QStringLiteral("row %1").arg(r + 2)));
            } else {
                QCOMPARE(cell.at(1).toString(), QStringLiteral("s"));
                QCOMPARE(cell.at(0).toString(), field);
            }
        }
    }
}

void TestExport::header_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("line");
    QTest::newRow("chinese-2026-12-05")
        << 0 << kDay
        << QStringLiteral("时间:2026/12/05,测量模式,测量结果/mm,信号结果,测量时间/ms\n");
    QTest::newRow("english-2026-12-05")
        << 1 << kDay
        << QStringLiteral("time:2026/12/05,Measurement mode,Measure result/mm,Signal result,"
                          "Measuring time/ms\n");
    QTest::newRow("chinese-month-and-day-zero-padded")
        << 0 << QDate(2027, 1, 2)
        << QStringLiteral("时间:2027/01/02,测量模式,测量结果/mm,信号结果,测量时间/ms\n");
    QTest::newRow("english-month-and-day-zero-padded")
        << 1 << QDate(2027, 1, 2)
        << QStringLiteral("time:2027/01/02,Measurement mode,Measure result/mm,Signal result,"
                          "Measuring time/ms\n");
}

void TestExport::header()
{
    QFETCH(int, language);
    QFETCH(QDate, date);
    QFETCH(QString, line);
    QCOMPARE(exporting::textHeader(language, date), line);
    // The workbook's A1:E1 carry the same five texts as the text header.
    QCOMPARE(exporting::workbookHeader(language, date), line.chopped(1).split(QLatin1Char(',')));
}

void TestExport::textFile_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<Records>("rows");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray zh = "时间:2026/12/05,测量模式,测量结果/mm,信号结果,测量时间/ms\n";
    const QByteArray en = "time:2026/12/05,Measurement mode,Measure result/mm,Signal result,"
                          "Measuring time/ms\n";
    QTest::newRow("empty-table-header-only") << 0 << Records {} << zh;
    QTest::newRow("single-measurement-five-columns")
        << 1 << Records { { "14:03:27.415", "Auto measure", "1234", "110", "187" } }
        << en + "14:03:27.415,Auto measure,1234,110,187\n";
    QTest::newRow("continuous-record-ends-in-comma")
        << 1 << Records { { "14:03:27.415", "Fast measure", "1234", "110", "" } }
        << en + "14:03:27.415,Fast measure,1234,110,\n";
    QTest::newRow("module-error-record-two-empty-fields")
        << 0 << Records { { "14:03:27.415", "自动测量", "0F0A", "", "" } }
        << zh + "14:03:27.415,自动测量,0F0A,,\n";
    QTest::newRow("mixed-language-records-under-chinese-header")
        << 0
        << Records { { "23:59:59.990", "Slow measure", "-12", "-32768", "201" },
               { "00:00:00.120", "慢速测量", "1234", "110", "-86399870" } }
        << zh + "23:59:59.990,Slow measure,-12,-32768,201\n"
            + "00:00:00.120,慢速测量,1234,110,-86399870\n";
}

void TestExport::textFile()
{
    QFETCH(int, language);
    QFETCH(Records, rows);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.txt"));
    QString error;
    QVERIFY2(exporting::writeTextFile(path, rows, language, kDay, &error), qPrintable(error));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), bytes);
    QCOMPARE(folderEntries(dir.path()), QStringList { QStringLiteral("run.txt") });
}

void TestExport::textToFullDevice()
{
    // /dev/full refuses every write with "no space left on device".
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        QSKIP("/dev/full is not available");
    QVERIFY(!exporting::writeText(&full, sampleRecords(3000), 0, kDay));
}

void TestExport::naming_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<bool>("workbook");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("picture");
    QTest::newRow("txt-name") << "D:/data/run.txt" << false << ""
                              << "D:/data/run.jpg";
    QTest::newRow("xlsx-name") << "D:/data/run.xlsx" << true << "D:/data/run"
                               << "D:/data/run.jpg";
    QTest::newRow("upper-case-XLSX-takes-text-path") << "D:/data/run.XLSX" << false << ""
                                                     << "D:/data/run.XLSX.jpg";
    QTest::newRow("upper-case-TXT-kept-in-picture") << "/tmp/run.TXT" << false << ""
                                                    << "/tmp/run.TXT.jpg";
    QTest::newRow("xls-takes-text-path") << "/tmp/run.xls" << false << ""
                                         << "/tmp/run.xls.jpg";
    QTest::newRow("blanks-in-xlsx-name")
        << "/home/op/test run 1.xlsx" << true << "/home/op/test run 1"
        << "/home/op/test run 1.jpg";
    QTest::newRow("non-ascii-txt-name") << "/home/op/测量结果.txt" << false << ""
                                        << "/home/op/测量结果.jpg";
    QTest::newRow("non-ascii-xlsx-name")
        << "/home/op/测量 结果.xlsx" << true << "/home/op/测量 结果"
        << "/home/op/测量 结果.jpg";
    QTest::newRow("no-extension-text-path") << "/home/op/run" << false << ""
                                            << "/home/op/run.jpg";
    QTest::newRow("every-txt-removed-also-in-folder") << "/data/a.txt.d/run.txt" << false << ""
                                                      << "/data/a.d/run.jpg";
    QTest::newRow("every-xlsx-removed-also-in-folder")
        << "/data/b.xlsx.d/run.xlsx" << true << "/data/b.d/run"
        << "/data/b.d/run.jpg";
    QTest::newRow("ends-in-lsx-without-dot") << "/data/runlsx" << true << "/data/runlsx"
                                             << "/data/runlsx.jpg";
}

void TestExport::naming()
{
    QFETCH(QString, chosen);
    QFETCH(bool, workbook);
    QFETCH(QString, base);
    QFETCH(QString, picture);
    QCOMPARE(exporting::isWorkbookName(chosen), workbook);
    if (workbook)
        QCOMPARE(exporting::workbookBaseName(chosen), base);
    QCOMPARE(exporting::pictureName(chosen), picture);
}

void TestExport::workbook_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<Records>("rows");
    QTest::newRow("empty-table-header-row-only") << 1 << Records {};
    QTest::newRow("mixed-language-records-chinese-header")
        << 0
        << Records { { "14:03:27.415", "自动测量", "1234", "110", "187" },
               { "14:03:28.002", "Fast measure", "1240", "98", "" } };
    QTest::newRow("number-and-formula-look-alikes-stay-text")
        << 1
        << Records { { "00:00:00.000", "Auto measure", "0012", "-32768", "1e3" },
               { "=1+2", "+5", "1,5", "TRUE", "#N/A" } };
    QTest::newRow("error-record-blank-cells-keep-text-format")
        << 0 << Records { { "14:03:27.415", "慢速测量", "0F0A", "", "" } };
    QTest::newRow("leading-and-trailing-blanks-kept")
        << 1 << Records { { " 14:03:27.415", "Slow measure ", "  7", "1 ", "2" } };
}

void TestExport::workbook()
{
    QFETCH(int, language);
    QFETCH(Records, rows);
    if (m_python.isEmpty())
        QSKIP("python3 with openpyxl is needed to read the workbook back");
    QTemporaryDir dir;
    const QDate before = QDate::currentDate();
    QCOMPARE(exportNow(dir.filePath(QStringLiteral("run")), rows, language), save_file::kSaveDone);
    const QDate after = QDate::currentDate();
    QCOMPARE(folderEntries(dir.path()), QStringList { QStringLiteral("run.xlsx") });
    compareWorkbook(
        readBack(dir.filePath(QStringLiteral("run.xlsx"))), rows, language, before, after);
}

void TestExport::threadedWorker_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("outcome");
    QTest::newRow("ten-thousand-records-round-trip") << "run" << 1 << 10000 << save_file::kSaveDone;
    QTest::newRow("missing-folder-reports-failure")
        << "missing/run" << 1 << 10 << save_file::kSaveFailed;
    QTest::newRow("request-index-0-refused") << "run" << 0 << 10 << save_file::kSaveFailed;
}

void TestExport::threadedWorker()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QFETCH(int, count);
    QFETCH(int, outcome);
    QTemporaryDir dir;
    const QString base = dir.filePath(name);
    const Records rows = sampleRecords(count);
    ThreadedWorker run;
    QSignalSpy done(run.worker, &save_file::sig_tongzhi_close_file);
    // What is on disk at the very moment the notice leaves the worker.
    QStringList onDiskAtNotice;
    QObject::connect(
        run.worker, &save_file::sig_tongzhi_close_file, run.worker,
        [&] { onDiskAtNotice = folderEntries(dir.path()); }, Qt::DirectConnection);

    const QDate before = QDate::currentDate();
    emit run.window.sig_save_data(base, index, rows, 0);
    QVERIFY(done.wait(60000));
    const QDate after = QDate::currentDate();
    run.stop();

    QCOMPARE(done.size(), 1);
    QCOMPARE(done.first().first().toInt(), outcome);
    const bool saved = outcome == save_file::kSaveDone;
    QCOMPARE(onDiskAtNotice, saved ? QStringList { QStringLiteral("run.xlsx") } : QStringList {});
    if (!saved)
        return;
    if (m_python.isEmpty())
        QSKIP("python3 with openpyxl is needed to read the workbook back");
    compareWorkbook(readBack(base + QStringLiteral(".xlsx")), rows, 0, before, after);
}

void TestExport::failures_data()
{
    QTest::addColumn<bool>("workbook");
    QTest::addColumn<QString>("situation");
    for (const bool workbook : { false, true }) {
        const char *kind = workbook ? "workbook" : "text";
        for (const char *situation : { "missing-folder", "read-only-folder", "full-disk" })
            QTest::addRow("%s-%s", kind, situation) << workbook << QString::fromLatin1(situation);
    }
}

void TestExport::failures()
{
    QFETCH(bool, workbook);
    QFETCH(QString, situation);
    QTemporaryDir dir;
    Unmount unmount;
    const QString folder = dir.filePath(QStringLiteral("out"));
    const QByteArray nativeFolder = QFile::encodeName(folder);
    const QString fileName = workbook ? QStringLiteral("run.xlsx") : QStringLiteral("run.txt");
    const bool missing = situation == QLatin1String("missing-folder");
    const bool readOnly = situation == QLatin1String("read-only-folder");
    const bool asRoot = ::geteuid() == 0;

    if (!missing) {
        QVERIFY(QDir().mkdir(folder));
        QString why;
        if (!readOnly && !mountSmallDisk(folder, &why))
            QSKIP(qPrintable(
                QStringLiteral("a 64 KiB tmpfs as full disk needs CAP_SYS_ADMIN: %1").arg(why)));
        if (!readOnly)
            unmount.where = nativeFolder;
        QVERIFY(writeFile(folder + QLatin1Char('/') + fileName, kEarlier));
    }
    if (readOnly) {
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
        if (asRoot)
            QVERIFY(::chown(nativeFolder.constData(), kNobody, kNobody) == 0);
        QVERIFY(::chmod(nativeFolder.constData(), 0555) == 0);
    }

    // 5,000 records are about 250 KB of text: far more than the small disk holds.
    const Records rows = sampleRecords(5000);
    bool saved = false;
    QString error;
    {
        Unprivileged nobody;
        if (readOnly && asRoot && !nobody.enter())
            QSKIP("root writes into read-only folders and cannot act as an unprivileged user");
        if (workbook)
            saved = exportNow(folder + QStringLiteral("/run"), rows, 1) == save_file::kSaveDone;
        else
            saved = exporting::writeTextFile(
                folder + QLatin1Char('/') + fileName, rows, 1, kDay, &error);
    }

    QVERIFY(!saved);
    if (!workbook)
        QVERIFY(!error.isEmpty());
    if (missing) {
        QVERIFY(!QFileInfo::exists(folder));
    } else {
        QCOMPARE(readFile(folder + QLatin1Char('/') + fileName), kEarlier);
        QCOMPARE(folderEntries(folder), QStringList { fileName });
    }
    if (readOnly)
        QVERIFY(::chmod(nativeFolder.constData(), 0755) == 0);
}

void TestExport::quitDuringExport()
{
    if (m_python.isEmpty())
        QSKIP("python3 with openpyxl is needed to read the workbook back");
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("run"));
    const Records rows = sampleRecords(20000);
    ThreadedWorker run;
    QSignalSpy done(run.worker, &save_file::sig_tongzhi_close_file);
    const QDate before = QDate::currentDate();
    emit run.window.sig_save_data(base, save_file::kWriteRequest, rows, 1);

    // Quit as the window's destructor does, once the workbook has begun to grow.
    QElapsedTimer clock;
    clock.start();
    while (folderEntries(dir.path()).isEmpty() && clock.elapsed() < 30000)
        QThread::usleep(200);
    QVERIFY(!folderEntries(dir.path()).isEmpty());
    run.stop();
    const QDate after = QDate::currentDate();

    QCOMPARE(done.size(), 1);
    QCOMPARE(done.first().first().toInt(), save_file::kSaveDone);
    QCOMPARE(folderEntries(dir.path()), QStringList { QStringLiteral("run.xlsx") });
    compareWorkbook(readBack(base + QStringLiteral(".xlsx")), rows, 1, before, after);
}

QTEST_GUILESS_MAIN(TestExport)
#include "tst_export.moc"
