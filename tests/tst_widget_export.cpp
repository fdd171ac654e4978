// The window's save button: text file, workbook and chart picture on disk, the outcome boxes,
// and closing the window while a workbook is still being written.
#include "ui_widget.h"
#include "widget.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using Records = QList<QList<QString>>;

namespace {

// Generous: the workbook is written in the export thread on a shared machine.
constexpr int kBoxTimeoutMs = 30000;

const QString kSavedTitleZh = QStringLiteral("保存结果:");
const QString kSavedTextZh = QStringLiteral("文件保存成功");
const QString kSavedTitleEn = QStringLiteral("Save the result:");
const QString kSavedTextEn = QStringLiteral("File saved successfully");
const QString kFailTitleZh = QStringLiteral("警告：");
const QString kFailTextZh = QStringLiteral("文件保存失败");
const QString kFailTitleEn = QStringLiteral("warn:");
const QString kFailTextEn = QStringLiteral("File saving failure");

QStringList headerCells(int language, const QDate &date)
{
    const QString day = date.toString(QStringLiteral("yyyy/MM/dd"));
    if (language == 0)
        return { QStringLiteral("时间:") + day, QStringLiteral("测量模式"),
            QStringLiteral("测量结果/mm"), QStringLiteral("信号结果"),
            QStringLiteral("测量时间/ms") };
    return { QStringLiteral("time:") + day, QStringLiteral("Measurement mode"),
        QStringLiteral("Measure result/mm"), QStringLiteral("Signal result"),
        QStringLiteral("Measuring time/ms") };
}

QByteArray expectedText(int language, const QDate &date, const Records &rows)
{
    QString text = headerCells(language, date).join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const QList<QString> &row : rows)
        text += QStringList(row).join(QLatin1Char(',')) + QLatin1Char('\n');
    return text.toUtf8();
}

// A run as the window gathers it: records of both languages (the language was switched between
// measurements), a continuous result with an empty measuring time and a module error.
Records mixedRecords()
{
    return { { QStringLiteral("14:03:27.415"), QStringLiteral("自动测量"), QStringLiteral("1234"),
                 QStringLiteral("110"), QStringLiteral("187") },
        { QStringLiteral("14:03:27.502"), QStringLiteral("Fast measure"), QStringLiteral("-12"),
            QStringLiteral("-1"), QString() },
        { QStringLiteral("14:03:28.001"), QStringLiteral("慢速测量"), QStringLiteral("0F0A"),
            QString(), QString() } };
}

Records manyRecords(int count)
{
    static const QString modes[] = { QStringLiteral("自动测量"), QStringLiteral("Fast measure"),
        QStringLiteral("慢速测量") };
    Records rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString clock = QTime::fromMSecsSinceStartOfDay(i * 53 % 86400000)
                                  .toString(QStringLiteral("HH:mm:ss.zzz"));
        rows.append({ clock, modes[i % 3], QString::number(i * 3 - 700), QString::number(i % 200),
            i % 4 == 0 ? QString() : QString::number(80 + i % 50) });
    }
    return rows;
}

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool isJpeg(const QString &path)
{
    QImageReader reader(path);
    return reader.format() == "jpeg" && !reader.read().isNull();
}

// The window in the language asked for (it opens in English), answering the save dialog with
// the name given.
void prepare(Widget &w, int language, const QString &name, const Records &rows)
{
    if (w.language != language)
        QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    w.askSaveFileName = [name] { return name; };
    w.list_save_data = rows;
}

} // namespace

class TestWidgetExport : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void textExport_data();
    void textExport();
    void workbookExport_data();
    void workbookExport();
    void cancelledDialog_data();
    void cancelledDialog();
    void missingFolder_data();
    void missingFolder();
    void closingWindowWaitsForWorkbook();

private:
    void compareWorkbook(const QString &path, const Records &rows, int language,
        const QDate &before, const QDate &after);
    QString m_python;
};

void TestWidgetExport::initTestCase()
{
    m_python = testsupport::pythonWithOpenpyxl();
}

void TestWidgetExport::compareWorkbook(
    const QString &path, const Records &rows, int language, const QDate &before, const QDate &after)
{
    QProcess reader;
    reader.start(
        m_python, { testsupport::sourceDir() + QStringLiteral("/tests/read_xlsx.py"), path });
    QVERIFY(reader.waitForFinished(120000));
    QVERIFY2(reader.exitCode() == 0, reader.readAllStandardError().constData());
    const QJsonArray sheet = QJsonDocument::fromJson(reader.readAllStandardOutput())
                                 .object()
                                 .value(QStringLiteral("rows"))
                                 .toArray();
    QCOMPARE(sheet.size(), rows.size() + 1);
    QStringList header;
    for (const QJsonValue &cell : sheet.at(0).toArray())
        header << cell.toArray().at(0).toString();
    // Saving across midnight may date the header with either day.
    if (header != headerCells(language, after))
        QCOMPARE(header, headerCells(language, before));
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QJsonArray cells = sheet.at(r + 1).toArray();
        for (int c = 0; c < 5; ++c) {
            const QJsonValue value = cells.at(c).toArray().at(0);
            const QString field = rows.at(r).at(c);
            // An empty field is a blank cell; every other one is the record's text as is.
            if (field.isEmpty())
                QVERIFY2(value.isNull(), qPrintable(QStringLiteral("row %1").arg(r + 2)));
            else
                QCOMPARE(value.toString(), field);
        }
    }
}

void TestWidgetExport::textExport_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<Records>("rows");
    QTest::newRow("text-english-header-mixed-records") << 1 << "run.txt"
                                                       << "run.jpg" << mixedRecords();
    QTest::newRow("text-chinese-header-mixed-records") << 0 << "run.txt"
                                                       << "run.jpg" << mixedRecords();
    QTest::newRow("text-empty-table-header-only") << 1 << "run.txt"
                                                  << "run.jpg" << Records {};
    QTest::newRow("text-upper-case-xlsx-is-text-picture-appended")
        << 1 << "run.XLSX"
        << "run.XLSX.jpg" << mixedRecords();
    QTest::newRow("text-other-suffix-kept-picture-appended") << 0 << "run.csv"
                                                             << "run.csv.jpg" << mixedRecords();
}

void TestWidgetExport::textExport()
{
    QFETCH(int, language);
    QFETCH(QString, name);
    QFETCH(QString, picture);
    QFETCH(Records, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    Widget w;
    prepare(w, language, path, rows);
    testsupport::MessageBoxCatcher boxes;
    QByteArray onDiskWhileBoxShown = "<no box>";
    boxes.setOnBox([&](QMessageBox *) { onDiskWhileBoxShown = readAll(path); });

    const QDate before = QDate::currentDate();
    QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    const QDate after = QDate::currentDate();

    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.lastTitle(), language == 0 ? kSavedTitleZh : kSavedTitleEn);
    QCOMPARE(boxes.lastText(), language == 0 ? kSavedTextZh : kSavedTextEn);
    const QByteArray bytes = readAll(path);
    if (bytes != expectedText(language, after, rows))
        QCOMPARE(bytes, expectedText(language, before, rows));
    // The box tells the operator the file is there: it must already be complete.
    QCOMPARE(onDiskWhileBoxShown, bytes);
    QStringList expected { name, picture };
    expected.sort();
    QCOMPARE(folderEntries(dir.path()), expected);
    QVERIFY(isJpeg(dir.filePath(picture)));
    QCOMPARE(w.list_save_data, rows); // saving leaves the table as it was
}

void TestWidgetExport::workbookExport_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<Records>("rows");
    QTest::newRow("workbook-english-mixed-records") << 1 << mixedRecords();
    QTest::newRow("workbook-chinese-mixed-records") << 0 << mixedRecords();
    QTest::newRow("workbook-empty-table-header-row-only") << 1 << Records {};
}

void TestWidgetExport::workbookExport()
{
    if (m_python.isEmpty())
        QSKIP("python3 with openpyxl is needed to read the workbook back");
    QFETCH(int, language);
    QFETCH(Records, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.xlsx"));
    Widget w;
    prepare(w, language, path, rows);
    testsupport::MessageBoxCatcher boxes;
    bool completeWhileBoxShown = false;
    boxes.setOnBox([&](QMessageBox *) {
        completeWhileBoxShown = QFileInfo::exists(path)
            && folderEntries(dir.path()).filter(QStringLiteral(".xlsx.")).isEmpty();
    });

    const QDate before = QDate::currentDate();
    QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    // The workbook is the export thread's work: the outcome cannot be known yet.
    QCOMPARE(boxes.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, kBoxTimeoutMs);
    const QDate after = QDate::currentDate();
    QCOMPARE(boxes.lastTitle(), language == 0 ? kSavedTitleZh : kSavedTitleEn);
    QCOMPARE(boxes.lastText(), language == 0 ? kSavedTextZh : kSavedTextEn);
    QVERIFY(completeWhileBoxShown);

    QCOMPARE(folderEntries(dir.path()),
        (QStringList { QStringLiteral("run.jpg"), QStringLiteral("run.xlsx") }));
    QVERIFY(isJpeg(dir.filePath(QStringLiteral("run.jpg"))));
    compareWorkbook(path, rows, language, before, after);
}

void TestWidgetExport::cancelledDialog_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("cancel-chinese") << 0 << kFailTitleZh << kFailTextZh;
    QTest::newRow("cancel-english") << 1 << kFailTitleEn << kFailTextEn;
}

void TestWidgetExport::cancelledDialog()
{
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QTemporaryDir dir;
    QVERIFY(QDir::setCurrent(dir.path())); // where a relative picture name would land
    Widget w;
    prepare(w, language, QString(), mixedRecords());
    testsupport::MessageBoxCatcher boxes;
    QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    QTest::qWait(200); // a workbook request would answer by now
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.lastTitle(), title);
    QCOMPARE(boxes.lastText(), text);
    QVERIFY(folderEntries(dir.path()).isEmpty());
    QVERIFY(QDir::setCurrent(QDir::tempPath()));
}

void TestWidgetExport::missingFolder_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("text-missing-folder-english") << 1 << "run.txt" << kFailTitleEn << kFailTextEn;
    QTest::newRow("text-missing-folder-chinese") << 0 << "run.txt" << kFailTitleZh << kFailTextZh;
    QTest::newRow("workbook-missing-folder-english")
        << 1 << "run.xlsx" << kFailTitleEn << kFailTextEn;
    QTest::newRow("workbook-missing-folder-chinese")
        << 0 << "run.xlsx" << kFailTitleZh << kFailTextZh;
}

void TestWidgetExport::missingFolder()
{
    QFETCH(int, language);
    QFETCH(QString, name);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    Widget w;
    prepare(w, language, missing + QLatin1Char('/') + name, mixedRecords());
    testsupport::MessageBoxCatcher boxes;
    QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, kBoxTimeoutMs);
    QCOMPARE(boxes.lastTitle(), title);
    QCOMPARE(boxes.lastText(), text);
    // No success box follows the failure.
    QTest::qWait(300);
    QCOMPARE(boxes.count(), 1);
    QVERIFY(!QFileInfo::exists(missing));
    QVERIFY(folderEntries(dir.path()).isEmpty());
    // The picture could not be saved either, and the log says so.
    QVERIFY2(w.ui->plainTextEdit_show_data->toPlainText().contains(missing + "/run.jpg"),
        qPrintable(w.ui->plainTextEdit_show_data->toPlainText()));
}

void TestWidgetExport::closingWindowWaitsForWorkbook()
{
    if (m_python.isEmpty())
        QSKIP("python3 with openpyxl is needed to read the workbook back");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.xlsx"));
    const Records rows = manyRecords(20000);
    testsupport::MessageBoxCatcher boxes;
    auto *w = new Widget;
    prepare(*w, 1, path, rows);
    const QDate before = QDate::currentDate();
    QTest::mouseClick(w->ui->button_save, Qt::LeftButton);
    delete w; // the operator closes the window at once
    const QDate after = QDate::currentDate();

    QCOMPARE(folderEntries(dir.path()),
        (QStringList { QStringLiteral("big.jpg"), QStringLiteral("big.xlsx") }));
    compareWorkbook(path, rows, 1, before, after);
    QTest::qWait(100);
    QCOMPARE(boxes.count(), 0); // nobody is left to show the outcome to
}

QTEST_MAIN(TestWidgetExport)
#include "tst_widget_export.moc"
