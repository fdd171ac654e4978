// The log panel on its own: lines and red lines as written (outside text literally), the lines of a
// batch in order, trimming with one notice, following its end, letting go of old layouts.
#include "testsupport.h"
#include "ui/logview.h"
#include "windowrig.h"

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

using ui::LogView;

namespace {

/** One write: lines given to the log in one batch, each red or not. */
using Write = QList<std::pair<QString, bool>>;

/** The log's lines as plain text, no-break spaces read as blanks. */
QStringList shownLines(const LogView &log)
{
    QStringList lines;
    if (log.document()->isEmpty())
        return lines;
    for (QTextBlock b = log.document()->begin(); b.isValid(); b = b.next())
        lines << b.text().replace(QChar::Nbsp, QLatin1Char(' '));
    return lines;
}

/** Writes each batch far enough apart that none is held for a stream. */
void writeApart(LogView &log, const QList<Write> &writes)
{
    for (const Write &write : writes) {
        QTest::qWait(int(LogView::kOneByOneMs) + 10);
        log.beginBatch();
        for (const auto &[text, red] : write)
            red ? log.appendRedLine(text) : log.appendLine(text);
        log.endBatch();
    }
}

Write plainLines(int from, int count)
{
    Write lines;
    for (int i = from; i < from + count; ++i)
        lines.append({ QStringLiteral("line %1").arg(i), false });
    return lines;
}

} // namespace

class TestLogView : public QObject
{
    Q_OBJECT
private slots:
    void linesAsWritten_data();
    void linesAsWritten();
    void trimsWithOneNotice_data();
    void trimsWithOneNotice();
    void followsItsEnd_data();
    void followsItsEnd();
    void oldLinesLetGoOfTheirLayout();
};

void TestLogView::linesAsWritten_data()
{
    QTest::addColumn<Write>("write");
    QTest::newRow("red-markup-shown-literally") << Write { { "<b>x</b>", true } };
    QTest::newRow("red-entity-and-blank-runs-kept") << Write { { "a  &amp;  <i>b", true } };
    QTest::newRow("red-image-tag-shown-literally") << Write { { "<img src=x>5", true } };
    QTest::newRow("red-line-break-wraps-the-red-line") << Write { { "0  [x] error\n-----", true } };
    QTest::newRow("batch-keeps-plain-and-red-in-order")
        << Write { { "a", false }, { "b\nc", false }, { "<d>", true }, { "e", false } };
}

void TestLogView::linesAsWritten()
{
    QFETCH(Write, write);
    LogView log;
    writeApart(log, { write });
    // A plain line break starts a line; a red one wraps the red line.
    QStringList expected, red;
    for (const auto &[text, isRed] : write) {
        if (isRed)
            red << QString(text).replace(QLatin1Char('\n'), QChar::LineSeparator);
        expected += isRed ? QStringList { red.last() } : text.split(QLatin1Char('\n'));
    }
    QCOMPARE(shownLines(log), expected);
    QStringList shownRed = testsupport::redLines(&log);
    shownRed.replaceInStrings(QString(QChar::Nbsp), QStringLiteral(" "));
    QCOMPARE(shownRed, red);
}

void TestLogView::trimsWithOneNotice_data()
{
    QTest::addColumn<QList<Write>>("writes");
    QTest::addColumn<bool>("clearFirst"); // the writes come again after Delete Data
    QTest::newRow("up-to-the-limit-no-notice") << QList<Write> { plainLines(0, 10) } << false;
    QTest::newRow("past-the-limit-notice-then-newest")
        << QList<Write> { plainLines(0, 8), plainLines(8, 3), plainLines(11, 4) } << false;
    QTest::newRow("one-write-past-the-limit") << QList<Write> { plainLines(0, 25) } << false;
    QTest::newRow("notice-again-after-clearing")
        << QList<Write> { plainLines(0, 7), plainLines(7, 7) } << true;
}

void TestLogView::trimsWithOneNotice()
{
    QFETCH(QList<Write>, writes);
    QFETCH(bool, clearFirst);
    constexpr int kLimit = 10;
    const QString notice = QStringLiteral("older lines go");
    LogView log;
    log.setMaximumBlockCount(kLimit);
    log.setTrimNotice(notice);
    if (clearFirst) {
        writeApart(log, writes);
        log.clearLines();
    }
    writeApart(log, writes);
    // The notice before the first write that would take the log past its limit; the newest kept.
    QStringList expected;
    bool noticed = false;
    for (const Write &write : writes) {
        if (!noticed && expected.size() + write.size() > kLimit) {
            expected << notice;
            noticed = true;
        }
        for (const auto &line : write)
            expected << line.first;
    }
    QCOMPARE(shownLines(log), expected.mid(qMax(0, int(expected.size()) - kLimit)));
}

void TestLogView::followsItsEnd_data()
{
    QTest::addColumn<bool>("scrolledBack");
    QTest::addColumn<bool>("shrunk"); // the chart or the splitter takes some of its room
    QTest::newRow("at-end-follows-new-lines") << false << false;
    QTest::newRow("at-end-stays-there-when-shrunk") << false << true;
    QTest::newRow("scrolled-back-stays-put") << true << false;
    QTest::newRow("scrolled-back-stays-put-when-shrunk") << true << true;
}

void TestLogView::followsItsEnd()
{
    QFETCH(bool, scrolledBack);
    QFETCH(bool, shrunk);
    LogView log;
    log.resize(300, 300);
    log.show();
    QVERIFY(QTest::qWaitForWindowExposed(&log));
    writeApart(log, { plainLines(0, 100) });
    QScrollBar *bar = log.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    if (scrolledBack)
        bar->setValue(10);
    if (shrunk)
        log.resize(300, 120);
    writeApart(log, { plainLines(100, 20) });
    QTRY_COMPARE(log.document()->blockCount(), 120);
    QCOMPARE(bar->value(), scrolledBack ? 10 : bar->maximum());
}

void TestLogView::oldLinesLetGoOfTheirLayout()
{
    LogView log;
    log.resize(300, 300);
    log.show();
    QVERIFY(QTest::qWaitForWindowExposed(&log));
    writeApart(log, { plainLines(0, 1000) });
    // The first lines are shown and laid out, then scrolled far out of sight.
    log.verticalScrollBar()->setValue(0);
    QTRY_VERIFY(log.document()->firstBlock().layout()->lineCount() > 0);
    log.verticalScrollBar()->setValue(log.verticalScrollBar()->maximum());
    writeApart(log, { plainLines(1000, 1) }); // a frame runs while lines come
    QTRY_COMPARE(log.document()->firstBlock().layout()->lineCount(), 0);
    // Lines near the ones shown keep theirs, so scrolling back a little finds them laid out.
    const int shown = log.cursorForPosition(QPoint(0, 0)).blockNumber();
    QVERIFY(log.document()->findBlockByNumber(shown).layout()->lineCount() > 0);
}

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
