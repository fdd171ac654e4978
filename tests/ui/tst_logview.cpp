// The log panel on its own: lines and red lines as written (outside text literally, the lines of
// a batch in order), trimming with one notice, following its end.
#include "testsupport.h"
#include "ui/logview.h"
#include "windowrig.h"

#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

using ui::LogView;
using Write = QList<std::pair<QString, bool>>; ///< lines given in one batch, each red or not

namespace {
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
} // namespace

class TestLogView : public QObject
{
    Q_OBJECT
private slots:
    void shows_data();
    void shows();
    void followsItsEnd_data();
    void followsItsEnd();
};

void TestLogView::shows_data()
{
    QTest::addColumn<QList<Write>>("writes");
    QTest::addColumn<int>("limit"); // lines kept, 0: all
    QTest::addColumn<QStringList>("shown"); // no-break spaces read as blanks
    QTest::addColumn<int>("red");
    const QString wrap(QChar::LineSeparator), n = QStringLiteral("older lines go");
    QTest::newRow("red-markup-entities-blank-runs-literal")
        << QList<Write> { { { "<b>x</b>  &amp; <img src=x>", true } } } << 0
        << QStringList { "<b>x</b>  &amp; <img src=x>" } << 1;
    QTest::newRow("batch-in-order-red-line-break-wraps")
        << QList<Write> { { { "a", false }, { "b\nc", false }, { "d\ne", true }, { "f", false } } }
        << 0 << QStringList { "a", "b", "c", "d" + wrap + "e", "f" } << 1;
    QTest::newRow("past-the-limit-notice-then-newest")
        << QList<Write> { { { "a", false }, { "b\nc", false } }, { { "d", false }, { "e", true } } }
        << 4 << QStringList { "c", n, "d", "e" } << 1;
    QTest::newRow("one-write-past-the-limit") << QList<Write> { { { "a\nb\nc\nd\ne", false } } }
                                              << 3 << QStringList { "c", "d", "e" } << 0;
}

void TestLogView::shows()
{
    QFETCH(QList<Write>, writes);
    QFETCH(int, limit);
    QFETCH(QStringList, shown);
    QFETCH(int, red);
    LogView log;
    log.setMaximumBlockCount(limit);
    log.setTrimNotice(QStringLiteral("older lines go"));
    writeApart(log, writes);
    QStringList lines;
    for (QTextBlock b = log.document()->begin(); b.isValid(); b = b.next())
        lines << b.text().replace(QChar::Nbsp, QLatin1Char(' '));
    QCOMPARE(lines, shown);
    QCOMPARE(testsupport::redLines(&log).size(), red);
}

void TestLogView::followsItsEnd_data()
{
    QTest::addColumn<bool>("scrolledBack");
    QTest::addColumn<bool>("shrunk"); // the chart or the splitter takes some of its room
    QTest::newRow("at-end-follows-new-lines") << false << false;
    QTest::newRow("at-end-stays-there-when-shrunk") << false << true;
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
    writeApart(log, { { { QString(99, QLatin1Char('\n')), false } } });
    QScrollBar *bar = log.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    if (scrolledBack)
        bar->setValue(10);
    if (shrunk)
        log.resize(300, 120);
    writeApart(log, { { { QString(19, QLatin1Char('\n')), false } } });
    QCOMPARE(log.document()->blockCount(), 120);
    QCOMPARE(bar->value(), scrolledBack ? 10 : bar->maximum());
}

QTEST_MAIN(TestLogView)
#include "tst_logview.moc"
