// Main window start-up state, chart toggles, model pictures and the picture window.
#include "ui_form.h"
#include "ui_widget.h"
#include "widget.h"

#include "mytimer.h"
#include "testsupport.h"

#include <QButtonGroup>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

class TestWidget : public QObject
{
    Q_OBJECT
private slots:
    void initialMembers();
    void initialControls();
    void onlyTheLampIsDisabled();
    void chartPanelToggle();
    void monitoringToggle();
    void modelPicture_data();
    void modelPicture();
    void pictureWindowBeforeChoice_data();
    void pictureWindowBeforeChoice();
    void pictureWindowRecentres();
    void previewButtonStaysSquare_data();
    void previewButtonStaysSquare();
    void timedSendingReportsInvalidHexOnce();
};

void TestWidget::initialMembers()
{
    Widget w;
    QCOMPARE(w.serialport_state_1, false);
    QCOMPARE(w.measure_mode, 0);
    QCOMPARE(w.state_measure, 0);
    QCOMPARE(w.show_num, 0);
    QCOMPARE(w.address_index, 0);
    QCOMPARE(w.address_index_moudbus, 1);
    QVERIFY(w.list_save_data.isEmpty());
    QCOMPARE(w.mode_celiang, 0);
    QCOMPARE(w.jiance_mode, 0);
    QCOMPARE(w.MIN_Y, 0);
    QCOMPARE(w.MAX_Y, 300);
    QCOMPARE(w.address_i, -1);
    QVERIFY(w.send_measure.isEmpty());
    QCOMPARE(w.mokuai_chose, -1);
    QVERIFY(w.curGraph != nullptr);
    QVERIFY(w.plottracer == nullptr);
    QVERIFY(w.thread_save.isRunning());
    QVERIFY(!w.THread_1.isRunning());
    QVERIFY(!w.timer_address->isActive());
    QVERIFY(!w.timer_dingshi_send->isActive());
    QCOMPARE(w.checks->checkedId(), 1);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(w.screen_x, (screen.width() - 591) / 2);
    QCOMPARE(w.screen_y, (screen.height() - 400) / 2);
}

void TestWidget::initialControls()
{
    Widget w;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tovandrix"));
    QCOMPARE(w.font().family(), QStringLiteral("Courier New"));
    QCOMPARE(w.font().pointSize(), 10);
    QVERIFY(w.font().bold());
    QVERIFY(!w.windowIcon().isNull());
    QVERIFY(w.ui->plainTextEdit_show_data->isReadOnly());
    QVERIFY(w.ui->plainTextEdit_show_data->toPlainText().isEmpty());
    QVERIFY(w.ui->widget_30->isHidden());
    const QStringList rates = { "0", "2400", "4800", "9600", "19200", "38400", "57600", "115200" };
    for (QComboBox *box : { w.ui->botelv_Box, w.ui->botelv_Box_2 }) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        QCOMPARE(items, rates);
        QCOMPARE(box->currentIndex(), 0);
    }
    QCOMPARE(w.ui->comboBox_mokuai_choose->count(), 11);
    QCOMPARE(w.ui->comboBox_mokuai_choose->itemText(0), QStringLiteral("RM01"));
    QCOMPARE(w.ui->comboBox_mokuai_choose->itemText(10), QStringLiteral("RM11"));
    for (QComboBox *box : { static_cast<QComboBox *>(w.ui->comboBox_mokuai_choose),
             w.ui->botelv_Box, w.ui->botelv_Box_2, static_cast<QComboBox *>(w.ui->chuankou_Box) })
        QCOMPARE(box->maxVisibleItems(), 5);
    QVERIFY(w.ui->radioButton_auto->isChecked());
    QCOMPARE(w.ui->lineEdit_address->text(), QStringLiteral("00"));
    QVERIFY(w.ui->widget_paint->graphicsEffect() != nullptr);
    QVERIFY(w.ui->label_6->graphicsEffect() != nullptr);
}

void TestWidget::onlyTheLampIsDisabled()
{
    Widget w;
    const auto widgets = w.findChildren<QWidget *>();
    for (QWidget *child : widgets) {
        if (child == w.ui->port_name_show)
            QVERIFY(!child->isEnabled());
        else
            QVERIFY2(child->isEnabled(), qPrintable(child->objectName()));
    }
}

void TestWidget::chartPanelToggle()
{
    Widget w;
    w.show();
    QTest::mouseClick(w.ui->button_paint_show, Qt::LeftButton);
    QVERIFY(w.ui->widget_30->isVisible());
    QCOMPARE(w.ui->button_paint_show->text(), QStringLiteral("Close line chart"));
    QVERIFY(w.ui->button_paint_show->styleSheet().contains(
        QStringLiteral("background-color: rgb(87, 87, 87);    border-radius: 4px;    color")));
    QTest::mouseClick(w.ui->button_paint_show, Qt::LeftButton);
    QVERIFY(!w.ui->widget_30->isVisible());
    QCOMPARE(w.ui->button_paint_show->text(), QStringLiteral("Open line chart"));
    QVERIFY(w.ui->button_paint_show->styleSheet().startsWith(
        QStringLiteral("QPushButton {    background-color: rgb(206, 206, 206)")));
    QVERIFY(w.ui->button_paint_show->styleSheet().contains(
        QStringLiteral("QPushButton#button_paint_show {    border: 1px solid rgb(87, 87, 87);}")));
}

void TestWidget::monitoringToggle()
{
    Widget w;
    QCPAxis *x = w.ui->widget_paint->xAxis;
    x->setRange(3, 9);
    QTest::mouseClick(w.ui->button_jiancha, Qt::LeftButton);
    QCOMPARE(w.jiance_mode, 1);
    QCOMPARE(w.ui->button_jiancha->text(), QStringLiteral("Stop Tracking "));
    QCOMPARE(x->range(), QCPRange(3, 9)); // switching does not touch the axes
    QTest::mouseClick(w.ui->button_jiancha, Qt::LeftButton);
    QCOMPARE(w.jiance_mode, 0);
    QCOMPARE(w.ui->button_jiancha->text(), QStringLiteral("Start Tracking "));
    QTest::mouseClick(w.ui->button_paint_reset, Qt::LeftButton);
    QCOMPARE(x->range(), QCPRange(0, 20));
    QCOMPARE(w.ui->widget_paint->yAxis->range(), QCPRange(0, 300));
    x->setRange(-5, 10); // the x axis never starts below 0
    QCOMPARE(x->range(), QCPRange(0, 10));
}

void TestWidget::modelPicture_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("rm01-group-1") << 0 << "1.png"
                                  << "2.png";
    QTest::newRow("rm04-group-1") << 3 << "1.png"
                                  << "2.png";
    QTest::newRow("rm05-group-2") << 4 << "3.png"
                                  << "4.png";
    QTest::newRow("rm06-group-2") << 5 << "3.png"
                                  << "4.png";
    QTest::newRow("rm07-group-3") << 6 << "5.png"
                                  << "6.png";
    QTest::newRow("rm11-group-3") << 10 << "5.png"
                                  << "6.png";
}

void TestWidget::modelPicture()
{
    QFETCH(int, index);
    QFETCH(QString, first);
    QFETCH(QString, second);
    Widget w;
    const QSignalSpy frames(&w, &Widget::sig_send_data_main_1);
    w.ui->comboBox_mokuai_choose->setCurrentIndex(index);
    emit w.ui->comboBox_mokuai_choose->activated(index);
    QCOMPARE(w.mokuai_chose, index);
    QCOMPARE(w.ui->button_photo_1->styleSheet(),
        QStringLiteral("QPushButton {    border-image: url(:/new/prefix1/%1) 0 0 0 0 stretch "
                       "stretch;}")
            .arg(first));
    QTest::mouseClick(w.ui->button_photo_1, Qt::LeftButton);
    QVERIFY(w.widget_son.isVisible());
    QVERIFY(w.widget_son.windowFlags() & Qt::WindowStaysOnTopHint);
    const QImage left = w.widget_son.ui->label_1->pixmap().toImage();
    const QImage right = w.widget_son.ui->label_2->pixmap().toImage();
    QCOMPARE(left, QImage(QStringLiteral(":/new/prefix1/") + first).convertToFormat(left.format()));
    QCOMPARE(
        right, QImage(QStringLiteral(":/new/prefix1/") + second).convertToFormat(right.format()));
    QVERIFY(w.widget_son.ui->label_1->hasScaledContents());
    QCOMPARE(w.widget_son.ui->label_1->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(frames.count(), 0); // the model never sends anything
    w.widget_son.hide();
}

void TestWidget::pictureWindowBeforeChoice_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("chinese") << 0 << "警告："
                             << "未选择模块";
    QTest::newRow("english") << 1 << "warn:"
                             << "Unselected module";
}

void TestWidget::pictureWindowBeforeChoice()
{
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Widget w;
    w.language = language;
    testsupport::MessageBoxCatcher boxes;
    QTest::mouseClick(w.ui->button_photo_1, Qt::LeftButton);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.lastTitle(), title);
    QCOMPARE(boxes.lastText(), text);
    QVERIFY(!w.widget_son.isVisible());
}

void TestWidget::pictureWindowRecentres()
{
    Widget w;
    emit w.ui->comboBox_mokuai_choose->activated(2);
    QTest::mouseClick(w.ui->button_photo_1, Qt::LeftButton);
    w.widget_son.move(5, 7);
    QTest::mouseClick(w.ui->button_photo_1, Qt::LeftButton);
    QCOMPARE(w.widget_son.pos(), QPoint(w.screen_x, w.screen_y));
    QCOMPARE(w.widget_son.windowTitle(), QStringLiteral("模块详情图"));
    w.widget_son.hide();
}

void TestWidget::previewButtonStaysSquare_data()
{
    QTest::addColumn<QSize>("window");
    QTest::newRow("start-size") << QSize(1012, 546);
    QTest::newRow("tall-window") << QSize(900, 1000);
    QTest::newRow("wide-window") << QSize(1600, 560);
}

void TestWidget::previewButtonStaysSquare()
{
    QFETCH(QSize, window);
    Widget w;
    w.resize(window);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCoreApplication::processEvents();
    const QSize button = w.ui->button_photo_1->size();
    QCOMPARE(button.width(), button.height());
    QVERIFY(w.ui->widget_3->width() <= 300);
    QVERIFY(w.ui->widget_6->height() <= 20);
}

void TestWidget::timedSendingReportsInvalidHexOnce()
{
    Widget w;
    QSignalSpy frames(&w, &Widget::sig_send_data_main_1);
    w.ui->checkBo_hex->setChecked(true);
    w.ui->lineEdit_send->setText(QStringLiteral("AA 0"));
    w.ui->lineEdit_dingshi_send->setText(QStringLiteral("5"));
    w.ui->checkBox_dingshi_send->setChecked(true);
    QTest::qWait(200);
    // Every tick refuses the text, but the log says so once, not every 5 ms.
    QCOMPARE(frames.count(), 0);
    QCOMPARE(
        w.ui->plainTextEdit_show_data->toPlainText().count(QStringLiteral("Not valid hex")), 1);
    // Mended text goes out at the next ticks.
    w.ui->lineEdit_send->setText(QStringLiteral("AA 00"));
    QTRY_VERIFY_WITH_TIMEOUT(frames.count() >= 2, 5000);
    QCOMPARE(frames.first().at(0).toByteArray(), QByteArray::fromHex("AA00"));
    w.ui->checkBox_dingshi_send->setChecked(false);
}

QTEST_MAIN(TestWidget)
#include "tst_widget.moc"
