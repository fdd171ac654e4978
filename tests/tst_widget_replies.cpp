// Reply side in the window: dispatch, numbering, log lines, result records, chart ranges and
// clearing.
#include "ui_widget.h"
#include "widget.h"

#include "testsupport.h"

#include "frames.h"
#include "mytimer.h"

#include <QSignalSpy>
#include <QTest>

class TestWidgetReplies : public QObject
{
    Q_OBJECT
private slots:
    void dispatch_data();
    void dispatch();
    void numberingMatchesEcho();
    void records_data();
    void records();
    void measuringTimeFromMonotonicClock();
    void chartRanges();
    void monitoringFreezesAxes();
    void clearEmptiesEverything();
    void noTracerBeforeData();
    void modbusExceptionAddsNoRecord();
    void addressSearchReportsReplyAddress();

private:
    static void receive(Widget &w, const QString &packed);
};

void TestWidgetReplies::receive(Widget &w, const QString &packed)
{
    QVERIFY(QMetaObject::invokeMethod(&w, "slot_receive_data_main_1", Q_ARG(QString, packed)));
}

void TestWidgetReplies::dispatch_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("signal"); // index of the parser signal, -1 none
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("red");
    QTest::addColumn<int>("showNum");
    QTest::newRow("empty-nothing-at-all") << "" << 0 << 1 << -1 << 0 << false << 0;
    QTest::newRow("one-byte-echo-and-separator") << "00" << 0 << 1 << -1 << 2 << false << 0;
    QTest::newRow("three-chars-not-counted") << "AA0" << 0 << 0 << -1 << 2 << false << 0;
    QTest::newRow("aa-chinese") << "AA8000060001123445" << 0 << 0 << 0 << 3 << false << 1;
    QTest::newRow("aa-english") << "AA8000060001123445" << 0 << 1 << 1 << 3 << false << 1;
    QTest::newRow("modbus-chinese") << "0104020102" << 1 << 0 << 2 << 1 << false << 1;
    QTest::newRow("modbus-english") << "0104020102" << 1 << 1 << 3 << 1 << false << 1;
    QTest::newRow("ee-in-aa-mode-red") << "EE00" << 0 << 1 << 1 << 3 << true << 1;
    QTest::newRow("ee-in-modbus-mode-red") << "EE04020102" << 1 << 1 << 3 << 1 << true << 1;
}

void TestWidgetReplies::dispatch()
{
    QFETCH(QString, reply);
    QFETCH(int, mode);
    QFETCH(int, language);
    QFETCH(int, signal);
    QFETCH(int, lines);
    QFETCH(bool, red);
    QFETCH(int, showNum);
    Widget w;
    w.ui->jiaoyan_mode->setCurrentIndex(mode);
    w.language = language;
    QSignalSpy s0(&w, &Widget::sig_jiexi_data);
    QSignalSpy s1(&w, &Widget::sig_jiexi_data_eng);
    QSignalSpy s2(&w, &Widget::sig_jiexi_data_modbus);
    QSignalSpy s3(&w, &Widget::sig_jiexi_data_modbus_eng);
    const int timeBefore = w.time_receive = -1;
    receive(w, reply);
    const QList<int> counts
        = { int(s0.count()), int(s1.count()), int(s2.count()), int(s3.count()) };
    for (int i = 0; i < 4; ++i)
        QCOMPARE(counts.at(i), i == signal ? 1 : 0);
    const QString log = w.ui->plainTextEdit_show_data->toPlainText();
    QCOMPARE(log.isEmpty() ? 0 : int(log.split(QLatin1Char('\n')).size()), lines);
    QCOMPARE(w.show_num, showNum);
    QCOMPARE(w.time_receive == timeBefore, reply.isEmpty());
    if (!reply.isEmpty()) {
        const QString firstLine = log.section(QLatin1Char('\n'), 0, 0);
        QVERIFY(firstLine.startsWith(QStringLiteral("0  [")));
        QVERIFY(firstLine.endsWith(
            (language == 0 ? QStringLiteral("接收:") : QStringLiteral("Receive:"))
            + frames::spacedPairs(reply)));
        QCOMPARE(w.ui->plainTextEdit_show_data->document()->toHtml().contains(
                     QStringLiteral("color:#ff0000")),
            red);
    }
}

void TestWidgetReplies::numberingMatchesEcho()
{
    Widget w;
    receive(w, testsupport::aaMeasurement(100, 5));
    receive(w, testsupport::aaMeasurement(200, 5));
    const QStringList lines = w.ui->plainTextEdit_show_data->toPlainText().split(QLatin1Char('\n'));
    // echo, result, separator per reply
    QCOMPARE(lines.size(), 6);
    QVERIFY(lines.at(0).startsWith(QStringLiteral("0  [")));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("0  [")));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("Measuring distance:100mmSignal result：5")));
    QCOMPARE(lines.at(2), QString(50, QLatin1Char('-')));
    QVERIFY(lines.at(3).startsWith(QStringLiteral("1  [")));
    QVERIFY(lines.at(4).startsWith(QStringLiteral("1  [")));
    QCOMPARE(w.curGraph->dataCount(), 2);
    QCOMPARE(w.curGraph->data()->at(1)->key, 1.0);
    QCOMPARE(w.curGraph->data()->at(1)->value, 200.0);
}

void TestWidgetReplies::records_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("modeCeliang");
    QTest::addColumn<int>("language");
    QTest::addColumn<QStringList>("columns"); // all but the time column; "*" = any number
    QTest::newRow("single-chinese-five-columns") << testsupport::aaMeasurement(1234, 110) << 1 << 0
                                                 << QStringList { "自动测量", "1234", "110", "*" };
    QTest::newRow("continuous-empty-fifth") << testsupport::aaMeasurement(-5, 0xFFFF) << 2 << 1
                                            << QStringList { "Auto measure", "-5", "-1", "" };
    QTest::newRow("error-record-code-and-empty-signal") << "EE00000000010012"
            + QStringLiteral("13") << 2 << 1 << QStringList { "Auto measure", "0012", "", "" };
}

void TestWidgetReplies::records()
{
    QFETCH(QString, reply);
    QFETCH(int, modeCeliang);
    QFETCH(int, language);
    QFETCH(QStringList, columns);
    Widget w;
    w.language = language;
    w.mode_celiang = modeCeliang;
    receive(w, reply);
    QCOMPARE(w.list_save_data.size(), 1);
    const QList<QString> record = w.list_save_data.first();
    QCOMPARE(record.size(), 5);
    QVERIFY(QTime::fromString(record.at(0), QStringLiteral("HH:mm:ss.zzz")).isValid());
    for (int i = 0; i < 4; ++i) {
        if (columns.at(i) == QLatin1String("*")) {
            bool ok = false;
            record.at(i + 1).toInt(&ok);
            QVERIFY2(ok, qPrintable(record.at(i + 1)));
        } else {
            QCOMPARE(record.at(i + 1), columns.at(i));
        }
    }
}

void TestWidgetReplies::measuringTimeFromMonotonicClock()
{
    Widget w;
    QTest::mouseClick(w.ui->button_once, Qt::LeftButton); // stamps the send time
    w.time_send = 86399000; // as if sent just before midnight by the wall clock
    QTest::qWait(30);
    receive(w, testsupport::aaMeasurement(10, 1));
    const int ms = w.list_save_data.first().at(4).toInt();
    QVERIFY2(ms >= 25 && ms < 5000, qPrintable(QString::number(ms)));
}

void TestWidgetReplies::chartRanges()
{
    Widget w;
    QCPAxis *x = w.ui->widget_paint->xAxis;
    QCPAxis *y = w.ui->widget_paint->yAxis;
    receive(w, testsupport::aaMeasurement(1234, 1));
    QCOMPARE(w.MAX_Y, 1357);
    QCOMPARE(y->range(), QCPRange(0, 1357));
    receive(w, testsupport::aaMeasurement(500, 1)); // smaller positive distance changes nothing
    QCOMPARE(w.MAX_Y, 1357);
    receive(w, testsupport::aaMeasurement(-5, 1));
    QCOMPARE(w.MIN_Y, -5);
    QCOMPARE(y->range(), QCPRange(-5, 1357));
    while (w.show_num <= 20)
        receive(w, testsupport::aaMeasurement(100, 1));
    QCOMPARE(x->range(), QCPRange(0, 20)); // x stays until point 21
    receive(w, testsupport::aaMeasurement(100, 1));
    QCOMPARE(x->range(), QCPRange(0, 21));
}

void TestWidgetReplies::monitoringFreezesAxes()
{
    Widget w;
    QTest::mouseClick(w.ui->button_jiancha, Qt::LeftButton);
    receive(w, testsupport::aaMeasurement(5000, 1));
    QCOMPARE(w.ui->widget_paint->yAxis->range(), QCPRange(0, 300));
    QCOMPARE(w.MAX_Y, 300);
    QCOMPARE(w.curGraph->dataCount(), 1);
    QTest::mouseClick(w.ui->button_jiancha, Qt::LeftButton);
    receive(w, testsupport::aaMeasurement(5000, 1));
    QCOMPARE(w.ui->widget_paint->yAxis->range(), QCPRange(0, 5500));
}

void TestWidgetReplies::clearEmptiesEverything()
{
    Widget w;
    receive(w, testsupport::aaMeasurement(700, 1));
    receive(w, testsupport::aaMeasurement(-20, 1));
    QTest::mouseClick(w.ui->button_clear_show, Qt::LeftButton);
    QCOMPARE(w.MIN_Y, 0);
    QCOMPARE(w.MAX_Y, 300);
    QVERIFY(w.list_save_data.isEmpty());
    QCOMPARE(w.curGraph->dataCount(), 0);
    QVERIFY(w.ui->plainTextEdit_show_data->toPlainText().isEmpty());
    QCOMPARE(w.show_num, 0);
    receive(w, testsupport::aaMeasurement(50, 1));
    QCOMPARE(w.curGraph->data()->at(0)->key, 0.0);
}

void TestWidgetReplies::noTracerBeforeData()
{
    Widget w;
    w.show();
    QTest::mouseMove(w.ui->widget_paint, QPoint(50, 50));
    QMouseEvent move(QEvent::MouseMove, QPointF(50, 50), QPointF(50, 50), Qt::NoButton,
        Qt::NoButton, Qt::NoModifier);
    QVERIFY(QMetaObject::invokeMethod(&w, "myMoveMouseEvent", Q_ARG(QMouseEvent *, &move)));
    QVERIFY(w.plottracer == nullptr);
    receive(w, testsupport::aaMeasurement(123, 1));
    QVERIFY(QMetaObject::invokeMethod(&w, "myMoveMouseEvent", Q_ARG(QMouseEvent *, &move)));
    QVERIFY(w.plottracer != nullptr);
    QCOMPARE(w.plottracer->position->coords(), QPointF(0, 123));
}

void TestWidgetReplies::modbusExceptionAddsNoRecord()
{
    Widget w;
    w.ui->jiaoyan_mode->setCurrentIndex(1);
    w.send_measure = QStringLiteral("010400040003B00A");
    receive(w, QStringLiteral("018402C2C1"));
    QVERIFY(w.list_save_data.isEmpty());
    QVERIFY(w.ui->plainTextEdit_show_data->toPlainText().contains(
        QStringLiteral("Modbus exception 02")));
}

void TestWidgetReplies::addressSearchReportsReplyAddress()
{
    Widget w;
    w.timer_address->start(1000); // a search in progress, probe 9 sent last
    w.address_i = 9;
    receive(w, QStringLiteral("AA850000000100") + QStringLiteral("0086"));
    QVERIFY(!w.timer_address->isActive());
    QCOMPARE(w.address_i, -1);
    QVERIFY(
        w.ui->plainTextEdit_show_data->toPlainText().contains(QStringLiteral("Module address:5")));
}

QTEST_MAIN(TestWidgetReplies)
#include "tst_widget_replies.moc"
