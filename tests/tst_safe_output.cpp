// Safe output: red log lines show outside text literally, exports keep every value as plain text,
// and odd file names save where the operator chose and nowhere else.
#include "ui_widget.h"
#include "widget.h"

#include "frames.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

namespace {

constexpr int kWorkbookTimeoutMs = 30000;

QStringList filesUnder(const QString &folder)
{
    QStringList out;
    const QDir root(folder);
    const auto entries = root.entryInfoList(
        QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &info : entries) {
        if (info.isDir()) {
            for (const QString &inner : filesUnder(info.filePath()))
                out << info.fileName() + QLatin1Char('/') + inner;
        } else {
            out << info.fileName();
        }
    }
    return out;
}

QStringList redLines(const Widget &w)
{
    return testsupport::redLines(w.ui->plainTextEdit_show_data);
}

void receive(Widget &w, const QString &packed)
{
    QVERIFY(QMetaObject::invokeMethod(&w, "slot_receive_data_main_1", Q_ARG(QString, packed)));
}

} // namespace

class TestSafeOutput : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void redLinesShowTextLiterally_data();
    void redLinesShowTextLiterally();
    void exportsKeepValuesAsText();
    void oddFileNames_data();
    void oddFileNames();

private:
    QString m_python;
};

void TestSafeOutput::initTestCase()
{
    m_python = testsupport::pythonWithOpenpyxl();
}

void TestSafeOutput::redLinesShowTextLiterally_data()
{
    QTest::addColumn<QString>("source"); // where the outside text comes from
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown"); // what a red line must show of it, character for character
    const QString markup = QStringLiteral("<b>bold</b> <i>x</i> &amp; <img src=x> <a href=y>z</a>");
    QTest::newRow("hex-typo-in-custom-command") << "custom-command" << markup << markup;
    QTest::newRow("period-of-timed-sending") << "period" << markup << markup;
    QTest::newRow("port-name-in-open-failure")
        << "port-name" << QStringLiteral("/nonexistent/<b>x</b>&amp;")
        << QStringLiteral("/nonexistent/<b>x</b>&amp;");
    QTest::newRow("file-name-in-failed-export")
        << "save-name" << QStringLiteral("/nonexistent/<b>r</b>&lt;.txt")
        << QStringLiteral("/nonexistent/<b>r</b>&lt;.jpg");
    QTest::newRow("error-reply-echo") << "ee-reply" << QStringLiteral("EE<b>00</b>&amp;")
                                      << frames::spacedPairs(QStringLiteral("EE<b>00</b>&amp;"));
    // Runs of blanks stay visible (as no-break spaces) instead of folding into one.
    QTest::newRow("blanks-kept") << "custom-command" << QStringLiteral("a  <b>  b")
                                 << QStringLiteral("a  <b>  b");
}

void TestSafeOutput::redLinesShowTextLiterally()
{
    QFETCH(QString, source);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    Widget w;
    testsupport::MessageBoxCatcher boxes;
    if (source == QLatin1String("custom-command")) {
        w.ui->checkBo_hex->setChecked(true);
        w.ui->lineEdit_send->setText(text);
        QTest::mouseClick(w.ui->button_send, Qt::LeftButton);
    } else if (source == QLatin1String("period")) {
        w.ui->lineEdit_send->setText(QStringLiteral("AA"));
        w.ui->lineEdit_dingshi_send->setText(text);
        QTest::mouseClick(w.ui->checkBox_dingshi_send, Qt::LeftButton);
    } else if (source == QLatin1String("port-name")) {
        w.ui->chuankou_Box->addItem(text);
        w.ui->chuankou_Box->setCurrentIndex(w.ui->chuankou_Box->count() - 1);
        QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
        QTRY_VERIFY(!redLines(w).isEmpty());
    } else if (source == QLatin1String("save-name")) {
        w.askSaveFileName = [text] { return text; };
        QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    } else {
        receive(w, text);
    }
    const QStringList red = redLines(w);
    QVERIFY(!red.isEmpty());
    bool literal = false;
    for (QString line : red)
        literal = literal || line.replace(QChar(0x00A0), QLatin1Char(' ')).contains(shown);
    QVERIFY2(literal, qPrintable(red.join(QLatin1Char('\n'))));
    // Nothing from outside became formatting, a picture or a link.
    const QTextDocument *doc = w.ui->plainTextEdit_show_data->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            QVERIFY(!f.hasProperty(QTextFormat::FontWeight));
            QVERIFY(!f.hasProperty(QTextFormat::FontItalic));
            QVERIFY(!f.isAnchor());
            QVERIFY(!f.isImageFormat());
        }
    }
}

void TestSafeOutput::exportsKeepValuesAsText()
{
    // Records from real replies: negative distance and signal (a leading minus), a module error
    // with its hex code, a continuous result with an empty last column.
    Widget w;
    testsupport::MessageBoxCatcher boxes;
    w.mode_celiang = 1;
    receive(w, testsupport::aaMeasurement(-5, -1));
    w.mode_celiang = 2;
    receive(w, testsupport::aaMeasurement(1234, 110));
    receive(w, QStringLiteral("EE00002200010004") + QStringLiteral("27"));
    QCOMPARE(w.list_save_data.size(), 3);
    for (const QList<QString> &record : std::as_const(w.list_save_data)) {
        for (const QString &value : record) {
            QVERIFY2(!value.contains(QLatin1Char(',')) && !value.contains(QLatin1Char('\n')),
                qPrintable(value));
            QVERIFY2(!value.startsWith(QLatin1Char('=')) && !value.startsWith(QLatin1Char('+'))
                    && !value.startsWith(QLatin1Char('@')),
                qPrintable(value));
        }
    }

    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("run.txt"));
    w.askSaveFileName = [text] { return text; };
    QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    QFile file(text);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 5); // header, three records, the final line end
    for (int i = 0; i < 3; ++i)
        QCOMPARE(QString::fromUtf8(lines.at(i + 1)), w.list_save_data.at(i).join(QLatin1Char(',')));

    if (m_python.isEmpty())
        QSKIP("python3 with openpyxl is needed to read the workbook back");
    const QString book = dir.filePath(QStringLiteral("run.xlsx"));
    w.askSaveFileName = [book] { return book; };
    boxes.clear();
    QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, kWorkbookTimeoutMs);
    QProcess reader;
    reader.start(
        m_python, { testsupport::sourceDir() + QStringLiteral("/tests/read_xlsx.py"), book });
    QVERIFY(reader.waitForFinished(120000));
    QVERIFY2(reader.exitCode() == 0, reader.readAllStandardError().constData());
    const QJsonArray rows = QJsonDocument::fromJson(reader.readAllStandardOutput())
                                .object()
                                .value(QStringLiteral("rows"))
                                .toArray();
    QCOMPARE(rows.size(), 4);
    for (int r = 1; r < 4; ++r) {
        for (int c = 0; c < 5; ++c) {
            const QJsonArray cell = rows.at(r).toArray().at(c).toArray();
            const QString value = w.list_save_data.at(r - 1).at(c);
            // Text cells in text format: a spreadsheet neither computes nor converts them.
            QCOMPARE(cell.at(2).toString(), QStringLiteral("@"));
            if (value.isEmpty()) {
                QVERIFY(cell.at(0).isNull());
            } else {
                QCOMPARE(cell.at(1).toString(), QStringLiteral("s"));
                QCOMPARE(cell.at(0).toString(), value);
            }
        }
    }
}

void TestSafeOutput::oddFileNames_data()
{
    QTest::addColumn<QString>("chosen"); // relative to the test folder
    QTest::addColumn<QStringList>("files"); // what the folder holds afterwards
    QTest::newRow("text-blanks-and-non-ascii")
        << QStringLiteral("测量 结果 1.txt")
        << QStringList { QStringLiteral("测量 结果 1.jpg"), QStringLiteral("测量 结果 1.txt") };
    QTest::newRow("text-no-extension") << QStringLiteral(
        "run") << QStringList { QStringLiteral("run"), QStringLiteral("run.jpg") };
    QTest::newRow("text-no-extension-blanks-non-ascii") << QStringLiteral(
        "  länge ") << QStringList { QStringLiteral("  länge "), QStringLiteral("  länge .jpg") };
    QTest::newRow("text-folder-with-blanks-and-non-ascii")
        << QStringLiteral("数据 dir/run.txt")
        << QStringList { QStringLiteral("数据 dir/run.jpg"), QStringLiteral("数据 dir/run.txt") };
    QTest::newRow("text-leading-dash") << QStringLiteral(
        "-rf.txt") << QStringList { QStringLiteral("-rf.jpg"), QStringLiteral("-rf.txt") };
    QTest::newRow("workbook-blanks-and-non-ascii")
        << QStringLiteral("测量 run.xlsx")
        << QStringList { QStringLiteral("测量 run.jpg"), QStringLiteral("测量 run.xlsx") };
    QTest::newRow("workbook-folder-with-blanks")
        << QStringLiteral("my data/run 2.xlsx")
        << QStringList { QStringLiteral("my data/run 2.jpg"),
               QStringLiteral("my data/run 2.xlsx") };
}

void TestSafeOutput::oddFileNames()
{
    QFETCH(QString, chosen);
    QFETCH(QStringList, files);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QFileInfo(dir.filePath(chosen)).path();
    QVERIFY(QDir().mkpath(folder));
    // Where a name without a folder or with a mangled one would land instead.
    const QString base = QFileInfo(chosen).completeBaseName();
    const QStringList elsewhereBefore = QDir::current().entryList({ base + QLatin1Char('*') })
        + QDir(dir.path()).entryList({ QStringLiteral("*.xlsx.*") });

    Widget w;
    testsupport::MessageBoxCatcher boxes;
    receive(w, testsupport::aaMeasurement(1234, 110));
    const QString path = dir.filePath(chosen);
    w.askSaveFileName = [path] { return path; };
    QTest::mouseClick(w.ui->button_save, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(boxes.count(), 1, kWorkbookTimeoutMs);
    QCOMPARE(boxes.lastText(), QStringLiteral("File saved successfully"));

    files.sort();
    QCOMPARE(filesUnder(dir.path()), files);
    QVERIFY(QFileInfo(path).size() > 0);
    QCOMPARE(QDir::current().entryList({ base + QLatin1Char('*') })
            + QDir(dir.path()).entryList({ QStringLiteral("*.xlsx.*") }),
        elsewhereBefore);
}

QTEST_MAIN(TestSafeOutput)
#include "tst_safe_output.moc"
