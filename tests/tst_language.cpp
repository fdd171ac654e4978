// Language switch: start-up in English, every fixed text in both languages, two-state buttons,
// check mode.
#include "ui_widget.h"
#include "widget.h"

#include "testsupport.h"

#include <QSignalSpy>
#include <QTest>

class TestLanguage : public QObject
{
    Q_OBJECT
private slots:
    void startsInEnglish();
    void fixedTexts_data();
    void fixedTexts();
    void twoClicksRestoreEveryText_data();
    void twoClicksRestoreEveryText();
    void toggleChangedInOtherLanguageKeepsState();
    void checkModeSurvivesSwitch();
    void axisTitles();
};

namespace {
QString textOf(Widget &w, const QString &name)
{
    QObject *o = w.findChild<QObject *>(name);
    if (auto *label = qobject_cast<QLabel *>(o))
        return label->text();
    if (auto *button = qobject_cast<QAbstractButton *>(o))
        return button->text();
    return QStringLiteral("<no control %1>").arg(name);
}

QStringList allTexts(Widget &w)
{
    QStringList out;
    const auto labels = w.findChildren<QLabel *>();
    for (QLabel *l : labels)
        out << l->objectName() + QLatin1Char('=') + l->text();
    const auto buttons = w.findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons)
        out << b->objectName() + QLatin1Char('=') + b->text();
    out << w.ui->jiaoyan_mode->itemText(0) << w.ui->jiaoyan_mode->itemText(1);
    out << w.ui->widget_paint->xAxis->label() << w.ui->widget_paint->yAxis->label();
    return out;
}
} // namespace

void TestLanguage::startsInEnglish()
{
    Widget w;
    QCOMPARE(w.language, 1);
    QCOMPARE(w.ui->button_Language->text(), QStringLiteral("中      文"));
    QCOMPARE(w.ui->jiaoyan_mode->count(), 2);
    QCOMPARE(w.ui->jiaoyan_mode->itemText(0), QStringLiteral("No-check"));
    QCOMPARE(w.ui->jiaoyan_mode->itemText(1), QStringLiteral("CRC-check"));
    QCOMPARE(w.ui->jiaoyan_mode->currentIndex(), 0);
    QCOMPARE(w.ui->open_button->text(), QStringLiteral("Open Serial"));
    QCOMPARE(w.ui->button_light->text(), QStringLiteral("Laser    on "));
    QCOMPARE(w.ui->button_continue->text(), QStringLiteral("Repeat measure"));
    QCOMPARE(w.ui->button_paint_show->text(), QStringLiteral("Open line chart"));
    QCOMPARE(w.ui->button_jiancha->text(), QStringLiteral("Start Tracking "));
    // No Chinese character may be left on a labelled control after start-up.
    const QRegularExpression han(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    const auto labels = w.findChildren<QLabel *>();
    for (QLabel *l : labels)
        QVERIFY2(!han.match(l->text()).hasMatch(), qPrintable(l->objectName() + l->text()));
    const auto buttons = w.findChildren<QAbstractButton *>();
    for (QAbstractButton *b : buttons) {
        if (b == w.ui->button_Language)
            continue;
        QVERIFY2(!han.match(b->text()).hasMatch(), qPrintable(b->objectName() + b->text()));
    }
}

void TestLanguage::fixedTexts_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("chinese");
    QTest::addColumn<QString>("english");
    const struct
    {
        const char *name, *zh, *en;
    } rows[] = {
        { "button_Language", "English", "中      文" },
        { "label_11", "测距折线图", "Range Line chart" },
        { "label_5", "测距折线图", "Range Line chart" },
        { "label_6", "接收数据显示", "Received Data display" },
        { "label_10", "测距控制区", "Range Control area" },
        { "label_13", "串口设置区", "Serial Port setup area" },
        { "label_14", "图片预览区", "Image Preview area" },
        { "label_8", "模块状态查询", "Module Status read" },
        { "label_18", "  串  口  号", " Serial Select" },
        { "label_3", "  模 块  型 号", " Module Type" },
        { "label_16", "  波 特 率", " Baudrate" },
        { "label_17", "  校 验 方 式", " Check Formula" },
        { "label_4", "  模 块 地 址", " Mode Address" },
        { "label", "  原 地 址", " Old Address" },
        { "label_2", "  新 地 址", " New Address" },
        { "button_set_measurement_offset", "  设 置 偏 移", " Set Offset" },
        { "button_set_baudrate", "  重 置 波 特 率", " Reset Baudrate" },
        { "button_set_address", "  设 置 地 址", " Set Address" },
        { "radioButton_auto", "自动测量", "Auto Measure" },
        { "radioButton_low", "慢速测量", "Slow Measure" },
        { "radioButton_fast", "快速测量", "Fast Measure" },
        { "button_once", "单 次 测 量", "Single Measure" },
        { "button_save", "保存数据", "Save Data" },
        { "button_clear_show", "清除数据", "Delete Data" },
        { "button_send", "发送数据", "Send Data" },
        { "checkBo_hex", "HEX发送", "HEX Send " },
        { "checkBox_dingshi_send", "定时发送", "Periodic Send" },
        { "label_9", "ms/次", "Ms/Once" },
        { "label_12", "       自定义命令", "    Custom Input" },
        { "button_paint_reset", "复 位 图 形", "Reset Graphics" },
        { "button_sofftware", "软件版本号", "SW Version" },
        { "button_hardware", "硬件版本号", "HW Version" },
        { "button_serial_number", "模块序列号", "Serial Number" },
        { "button_address", "模 块 地 址", "Address" },
        { "button_measure_offce", "偏    移    量", "Offset" },
        { "button_read_vcc", "电            压", "Voltage" },
        { "button_reaad_temp", "温           度", "Temperature" },
        { "button_read_state", "状           态", "Status" },
        { "button_angle", "倾            角", "Angle" },
        { "open_button", "  打 开 串 口", "Open Serial" },
        { "button_light", "开启激光", "Laser    on " },
        { "button_continue", "连续测量", "Repeat measure" },
        { "button_paint_show", "打开折线图", "Open line chart" },
        { "button_jiancha", "开 始 监 测", "Start Tracking " },
    };
    for (const auto &r : rows)
        QTest::newRow(r.name) << QString::fromUtf8(r.name) << QString::fromUtf8(r.zh)
                              << QString::fromUtf8(r.en);
}

void TestLanguage::fixedTexts()
{
    QFETCH(QString, control);
    QFETCH(QString, chinese);
    QFETCH(QString, english);
    Widget w;
    QCOMPARE(textOf(w, control), english);
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    QCOMPARE(w.language, 0);
    QCOMPARE(textOf(w, control), chinese);
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    QCOMPARE(w.language, 1);
    QCOMPARE(textOf(w, control), english);
}

void TestLanguage::twoClicksRestoreEveryText_data()
{
    QTest::addColumn<int>("states");
    // One bit per two-state button: laser, continuous, chart panel, monitoring.
    for (int s = 0; s < 16; ++s)
        QTest::newRow(qPrintable(QStringLiteral("laser%1-continuous%2-chart%3-monitor%4")
                                     .arg(s & 1)
                                     .arg((s >> 1) & 1)
                                     .arg((s >> 2) & 1)
                                     .arg((s >> 3) & 1)))
            << s;
}

void TestLanguage::twoClicksRestoreEveryText()
{
    QFETCH(int, states);
    Widget w;
    testsupport::MessageBoxCatcher boxes;
    if (states & 1)
        QTest::mouseClick(w.ui->button_light, Qt::LeftButton);
    if (states & 2)
        QTest::mouseClick(w.ui->button_continue, Qt::LeftButton);
    if (states & 4)
        QTest::mouseClick(w.ui->button_paint_show, Qt::LeftButton);
    if (states & 8)
        QTest::mouseClick(w.ui->button_jiancha, Qt::LeftButton);
    for (int startLanguage = 0; startLanguage < 2; ++startLanguage) {
        const QStringList before = allTexts(w);
        QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
        QVERIFY(allTexts(w) != before);
        QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
        QCOMPARE(allTexts(w), before);
        QTest::mouseClick(w.ui->button_Language, Qt::LeftButton); // go on from the other language
    }
    QCOMPARE(boxes.count(), 0);
}

void TestLanguage::toggleChangedInOtherLanguageKeepsState()
{
    Widget w;
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton); // Chinese
    QTest::mouseClick(w.ui->button_continue, Qt::LeftButton); // running
    QCOMPARE(w.ui->button_continue->text(), QStringLiteral("停止测量"));
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton); // English
    QCOMPARE(w.ui->button_continue->text(), QStringLiteral("Stop measure"));
    QTest::mouseClick(w.ui->button_light, Qt::LeftButton); // laser on, in English
    QCOMPARE(w.ui->button_light->text(), QStringLiteral("Laser    off"));
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton); // Chinese
    QCOMPARE(w.ui->button_light->text(), QStringLiteral("关闭激光"));
    QCOMPARE(w.ui->button_continue->text(), QStringLiteral("停止测量"));
}

void TestLanguage::checkModeSurvivesSwitch()
{
    Widget w;
    QSignalSpy modeSpy(&w, &Widget::sig_jiaoyan_mode_chose);
    QSignalSpy frames(&w, &Widget::sig_send_data_main_1);
    w.ui->jiaoyan_mode->setCurrentIndex(1);
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    QCOMPARE(w.ui->jiaoyan_mode->currentIndex(), 1);
    QCOMPARE(w.ui->jiaoyan_mode->currentText(), QStringLiteral("CRC校验"));
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    QCOMPARE(w.ui->jiaoyan_mode->currentIndex(), 1);
    QCOMPARE(w.ui->jiaoyan_mode->currentText(), QStringLiteral("CRC-check"));
    QCOMPARE(modeSpy.count(), 0); // refilling the list is not a choice of the operator
    // A frame built after the switch is still a Modbus frame.
    QTest::mouseClick(w.ui->button_read_vcc, Qt::LeftButton);
    QCOMPARE(frames.count(), 1);
    QCOMPARE(frames.at(0).at(0).toByteArray(), QByteArray::fromHex("010400010001"));
}

void TestLanguage::axisTitles()
{
    Widget w;
    QCOMPARE(w.ui->widget_paint->xAxis->label(), QStringLiteral("Number of measurements/times"));
    QCOMPARE(w.ui->widget_paint->yAxis->label(), QStringLiteral("Measuring distance /mm"));
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    QCOMPARE(w.ui->widget_paint->xAxis->label(), QStringLiteral("测量次数/次"));
    QCOMPARE(w.ui->widget_paint->yAxis->label(), QStringLiteral("测量距离/mm"));
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
