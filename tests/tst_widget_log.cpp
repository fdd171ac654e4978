// Log panel under load: the lines of each reply in order and colour, the line limit with its
// notice, and repaints of log and chart paced to frames while replies stream in.
#include "ui_widget.h"
#include "widget.h"

#include "testsupport.h"

#include "frames.h"

#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

class TestWidgetLog : public QObject
{
    Q_OBJECT
private slots:
    void replyLines_data();
    void replyLines();
    void lineLimitKeepsNewestLines();
    void logRepaintsPacedAndResumed();
    void linesOutOfSightGiveUpTheirLayout();
    void chartReplotsPacedAndFinal();

private:
    static void receive(Widget &w, const QString &packed);
    static void post(Widget &w, const QString &packed);
    static QStringList blocks(const Widget &w);
};

void TestWidgetLog::receive(Widget &w, const QString &packed)
{
    QVERIFY(QMetaObject::invokeMethod(&w, "slot_receive_data_main_1", Q_ARG(QString, packed)));
}

// As the serial worker delivers a reply: queued, handled in a later pass of the event loop.
void TestWidgetLog::post(Widget &w, const QString &packed)
{
    QVERIFY(QMetaObject::invokeMethod(
        &w, "slot_receive_data_main_1", Qt::QueuedConnection, Q_ARG(QString, packed)));
}

// Every block of the log as "red|" or "plain|" and its text, the clock masked; a red block
// keeps its separator after a line separator.
QStringList TestWidgetLog::blocks(const Widget &w)
{
    static const QRegularExpression clock(QStringLiteral("\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\]"));
    QStringList out;
    const QTextDocument *doc = w.ui->plainTextEdit_show_data->document();
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        const bool red = b.begin() != b.end()
            && b.begin().fragment().charFormat().foreground().color() == QColor(Qt::red);
        QString text = b.text();
        text.replace(clock, QStringLiteral("[t]"));
        text.replace(QChar::LineSeparator, QLatin1Char('|'));
        text.replace(QChar::Nbsp, QLatin1Char(' ')); // red lines keep their blanks this way
        out << (red ? QStringLiteral("red|") : QStringLiteral("plain|")) + text;
    }
    return out;
}

void TestWidgetLog::replyLines_data()
{
    const QString sep(50, QLatin1Char('-'));
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("aa-measurement-echo-result-separator")
        << 0 << QStringList { testsupport::aaMeasurement(1234, 110) }
        << QStringList { "plain|0  [t] Receive:AA 00 00 22 00 03 00 00 04 D2 00 6E 69",
               "plain|0  [t] Measuring distance:1234mmSignal result：110", "plain|" + sep };
    QTest::newRow("aa-module-error-echo-and-block-red")
        << 0 << QStringList { "EE0000000001001213" }
        << QStringList { "red|0  [t] Receive:EE 00 00 00 00 01 00 12 13",
               "red|0  [t] error:0012|" + sep };
    QTest::newRow("modbus-exception-plain-echo-then-red-block")
        << 1 << QStringList { "0184020102" }
        << QStringList { "plain|0  [t] Receive:01 84 02 01 02",
               "red|0  [t] Modbus exception 02|" + sep };
    QTest::newRow("too-short-reply-not-counted-then-measurement")
        << 0 << QStringList { "00", testsupport::aaMeasurement(7, 1) }
        << QStringList { "plain|0  [t] Receive:00", "plain|" + sep,
               "plain|0  [t] Receive:AA 00 00 22 00 03 00 00 00 07 00 01 2D",
               "plain|0  [t] Measuring distance:7mmSignal result：1", "plain|" + sep };
    QTest::newRow("error-between-measurements-keeps-places")
        << 0
        << QStringList { testsupport::aaMeasurement(1, 1), "EE0000000001001213",
               testsupport::aaMeasurement(2, 1) }
        << QStringList { "plain|0  [t] Receive:AA 00 00 22 00 03 00 00 00 01 00 01 27",
               "plain|0  [t] Measuring distance:1mmSignal result：1", "plain|" + sep,
               "red|1  [t] Receive:EE 00 00 00 00 01 00 12 13", "red|1  [t] error:0012|" + sep,
               "plain|2  [t] Receive:AA 00 00 22 00 03 00 00 00 02 00 01 28",
               "plain|2  [t] Measuring distance:2mmSignal result：1", "plain|" + sep };
}

void TestWidgetLog::replyLines()
{
    QFETCH(int, mode);
    QFETCH(QStringList, replies);
    QFETCH(QStringList, expected);
    Widget w;
    w.ui->jiaoyan_mode->setCurrentIndex(mode);
    for (const QString &reply : replies)
        receive(w, reply);
    QCOMPARE(blocks(w), expected);
}

void TestWidgetLog::lineLimitKeepsNewestLines()
{
    Widget w;
    QPlainTextEdit *log = w.ui->plainTextEdit_show_data;
    // One line short of the limit, in one go.
    log->appendPlainText(
        QStringLiteral("old\n").repeated(Widget::kLogLineLimit - 2) + QStringLiteral("last old"));
    QCOMPARE(log->blockCount(), Widget::kLogLineLimit - 1);

    auto notices = [log] {
        return int(log->toPlainText().count(
            QStringLiteral("The log keeps the newest %1 lines").arg(Widget::kLogLineLimit)));
    };
    receive(w, testsupport::aaMeasurement(100, 1)); // three lines: the oldest two go, no notice yet
    QCOMPARE(log->blockCount(), Widget::kLogLineLimit);
    QCOMPARE(notices(), 0);
    receive(w, testsupport::aaMeasurement(200, 1));
    receive(w, testsupport::aaMeasurement(300, 1));
    QCOMPARE(log->blockCount(), Widget::kLogLineLimit);
    QCOMPARE(notices(), 1);
    // The notice stands where the dropping began, before the lines of the second reply.
    const QStringList lines = log->toPlainText().split(QLatin1Char('\n'));
    const QStringList tail = lines.mid(lines.size() - 7);
    QVERIFY(tail.at(0).startsWith(QStringLiteral("The log keeps the newest")));
    QVERIFY(tail.at(2).endsWith(QStringLiteral("Measuring distance:200mmSignal result：1")));
    QVERIFY(tail.at(5).endsWith(QStringLiteral("Measuring distance:300mmSignal result：1")));
    // The table and the chart keep every measurement.
    QCOMPARE(w.list_save_data.size(), 3);
    QCOMPARE(w.curGraph->dataCount(), 3);

    // A cleared log starts afresh: a full one later says so again.
    QTest::mouseClick(w.ui->button_clear_show, Qt::LeftButton);
    log->appendPlainText(
        QStringLiteral("old\n").repeated(Widget::kLogLineLimit - 1) + QStringLiteral("last old"));
    receive(w, testsupport::aaMeasurement(400, 1));
    QCOMPARE(notices(), 1);
    QCOMPARE(log->blockCount(), Widget::kLogLineLimit);
}

void TestWidgetLog::logRepaintsPacedAndResumed()
{
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPlainTextEdit *log = w.ui->plainTextEdit_show_data;
    // Counts the log's repaints and remembers how many lines the last one showed.
    struct PaintWatch : QObject
    {
        QPlainTextEdit *log = nullptr;
        int paints = 0;
        int linesPainted = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint) {
                ++paints;
                linesPainted = log->blockCount();
            }
            return false;
        }
    } watch;
    watch.log = log;
    log->viewport()->installEventFilter(&watch);

    // A lone reply after a pause is shown at once.
    receive(w, testsupport::aaMeasurement(5, 1));
    QTRY_COMPARE(watch.linesPainted, 3);
    QTest::qWait(300);

    // Replies one per pass of the event loop, as the worker delivers them at wire speed.
    const int kReplies = 300;
    watch.paints = 0;
    for (int i = 0; i < kReplies; ++i) {
        post(w, testsupport::aaMeasurement(10 + i, 1));
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(w.list_save_data.size(), kReplies + 1);
    QVERIFY2(watch.paints < kReplies / 3, qPrintable(QString::number(watch.paints)));
    // The panel is not left frozen: the last lines are painted once the burst is over.
    QTRY_COMPARE(watch.linesPainted, 3 * (kReplies + 1));
    QVERIFY(log->updatesEnabled());
}

void TestWidgetLog::linesOutOfSightGiveUpTheirLayout()
{
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QPlainTextEdit *log = w.ui->plainTextEdit_show_data;
    auto laidOut = [log](int blockNumber) {
        return log->document()->findBlockByNumber(blockNumber).layout()->lineCount() > 0;
    };
    // A stream of replies, each painted while it is the newest.
    const int kReplies = 400;
    for (int i = 0; i < kReplies; ++i) {
        receive(w, testsupport::aaMeasurement(10 + i, 1));
        QTest::qWait(1);
    }
    QTRY_VERIFY(log->updatesEnabled());
    QTest::qWait(250); // a frame or two
    // (The first line may stay laid out: the panel's own text cursor stands there.)
    QTRY_VERIFY(!laidOut(10));
    const int last = log->blockCount() - 1;
    QCOMPARE(last + 1, 3 * kReplies);
    QVERIFY(laidOut(last));
    // The text stays whole, and scrolling back shows the first lines laid out again.
    QVERIFY(log->document()->findBlockByNumber(0).text().contains(QStringLiteral("AA 00 00 22")));
    log->verticalScrollBar()->setValue(0);
    QTRY_VERIFY(laidOut(10));
    QCOMPARE(log->cursorForPosition(QPoint(0, 0)).blockNumber(), 0);
    // What is shown keeps its layout while new lines arrive below.
    receive(w, testsupport::aaMeasurement(5000, 1));
    QTest::qWait(250);
    QVERIFY(laidOut(10));
}

void TestWidgetLog::chartReplotsPacedAndFinal()
{
    Widget w;
    w.show();
    QTest::mouseClick(w.ui->button_paint_show, Qt::LeftButton);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCustomPlot *plot = w.ui->widget_paint;
    int replots = 0;
    int pointsDrawn = 0;
    connect(plot, &QCustomPlot::afterReplot, this, [&] {
        ++replots;
        pointsDrawn = w.curGraph->dataCount();
    });

    receive(w, testsupport::aaMeasurement(5, 1));
    QTRY_COMPARE(pointsDrawn, 1);
    QTest::qWait(200);

    const int kReplies = 300;
    replots = 0;
    for (int i = 0; i < kReplies; ++i) {
        post(w, testsupport::aaMeasurement(10 + i, 1));
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(w.curGraph->dataCount(), kReplies + 1);
    QVERIFY2(replots < kReplies / 3, qPrintable(QString::number(replots)));
    // The last point is drawn.
    QTRY_COMPARE(pointsDrawn, kReplies + 1);
    QCOMPARE(plot->xAxis->range().upper, double(kReplies));
}

QTEST_MAIN(TestWidgetLog)
#include "tst_widget_log.moc"
