// Command buttons end to end in the window: the frames they emit, warnings, toggles, address
// search.
#include "ui_widget.h"
#include "widget.h"

#include "mytimer.h"
#include "testsupport.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

class TestWidgetCommands : public QObject
{
    Q_OBJECT
private slots:
    void buttonFrames_data();
    void buttonFrames();
    void modelNeverChangesFrames();
    void warnings_data();
    void warnings();
    void aaAddressAbove127Refused();
    void laserToggle_data();
    void laserToggle();
    void continuousToggle_data();
    void continuousToggle();
    void speedRadios_data();
    void speedRadios();
    void addressFieldFollowsCheckMode();
    void addressSearch();

private:
    static void setCheckMode(Widget &w, int mode);
};

void TestWidgetCommands::setCheckMode(Widget &w, int mode)
{
    w.ui->jiaoyan_mode->setCurrentIndex(mode);
    emit w.ui->jiaoyan_mode->activated(mode);
}

namespace {
QByteArray lastFrame(const QSignalSpy &spy)
{
    return spy.isEmpty() ? QByteArray("<none>") : spy.last().at(0).toByteArray();
}
} // namespace

void TestWidgetCommands::buttonFrames_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("frame");
    // 0xAA frames at address 0 and 127 (the field is read as decimal).
    QTest::newRow("aa-read-voltage-address-0")
        << "button_read_vcc" << 0 << "0" << QByteArray::fromHex("AA80000686");
    QTest::newRow("aa-read-voltage-address-127")
        << "button_read_vcc" << 0 << "127" << QByteArray::fromHex("AAFF000605");
    QTest::newRow("aa-read-status-address-1")
        << "button_read_state" << 0 << "1" << QByteArray::fromHex("AA81000081");
    QTest::newRow("aa-hardware-address-0")
        << "button_hardware" << 0 << "0" << QByteArray::fromHex("AA80000A8A");
    QTest::newRow("aa-software-address-127")
        << "button_sofftware" << 0 << "127" << QByteArray::fromHex("AAFF000C0B");
    QTest::newRow("aa-serial-number-address-0")
        << "button_serial_number" << 0 << "0" << QByteArray::fromHex("AA80000E8E");
    QTest::newRow("aa-temperature-address-0")
        << "button_reaad_temp" << 0 << "0" << QByteArray::fromHex("AA80000888");
    QTest::newRow("aa-read-offset-address-127")
        << "button_measure_offce" << 0 << "127" << QByteArray::fromHex("AAFF001211");
    QTest::newRow("aa-laser-on-address-0")
        << "button_light" << 0 << "0" << QByteArray::fromHex("AA0001BE00010001C1");
    QTest::newRow("aa-single-auto-address-0")
        << "button_once" << 0 << "0" << QByteArray::fromHex("AA0000200001000021");
    QTest::newRow("aa-continuous-auto-address-1")
        << "button_continue" << 0 << "1" << QByteArray::fromHex("AA0100200001000426");
    QTest::newRow("aa-baud-code-0-address-0")
        << "button_set_baudrate" << 0 << "0" << QByteArray::fromHex("AA0000140001000015");
    // Modbus frames at address 1 and 247, before the worker's CRC.
    QTest::newRow("modbus-read-voltage-address-1")
        << "button_read_vcc" << 1 << "1" << QByteArray::fromHex("010400010001");
    QTest::newRow("modbus-read-voltage-address-247")
        << "button_read_vcc" << 1 << "247" << QByteArray::fromHex("F70400010001");
    QTest::newRow("modbus-hardware-address-1")
        << "button_hardware" << 1 << "1" << QByteArray::fromHex("010400030001");
    QTest::newRow("modbus-software-address-1")
        << "button_sofftware" << 1 << "1" << QByteArray::fromHex("010400020001");
    QTest::newRow("modbus-serial-number-address-1")
        << "button_serial_number" << 1 << "1" << QByteArray::fromHex("010400070002");
    QTest::newRow("modbus-temperature-address-247")
        << "button_reaad_temp" << 1 << "247" << QByteArray::fromHex("F70400060001");
    QTest::newRow("modbus-read-offset-address-1")
        << "button_measure_offce" << 1 << "1" << QByteArray::fromHex("010300010001");
    QTest::newRow("modbus-angle-address-1")
        << "button_angle" << 1 << "1" << QByteArray::fromHex("010400050002");
    QTest::newRow("modbus-read-address-address-247")
        << "button_address" << 1 << "247" << QByteArray::fromHex("F70300000001");
    QTest::newRow("modbus-laser-on-address-1")
        << "button_light" << 1 << "1" << QByteArray::fromHex("01050000FF00");
    QTest::newRow("modbus-single-address-1")
        << "button_once" << 1 << "1" << QByteArray::fromHex("010400040003");
    QTest::newRow("modbus-baud-code-0-address-247")
        << "button_set_baudrate" << 1 << "247" << QByteArray::fromHex("F70600030000");
}

void TestWidgetCommands::buttonFrames()
{
    QFETCH(QString, button);
    QFETCH(int, mode);
    QFETCH(QString, address);
    QFETCH(QByteArray, frame);
    Widget w;
    setCheckMode(w, mode);
    w.ui->lineEdit_address->setText(address); // moves the cursor: the field is taken
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    QTest::mouseClick(w.findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastFrame(spy), frame);
}

void TestWidgetCommands::modelNeverChangesFrames()
{
    const QStringList buttons = { "button_read_vcc", "button_once", "button_light",
        "button_set_measurement_offset", "button_set_address" };
    QList<QByteArray> reference;
    for (int model : { -1, 0, 10 }) {
        Widget w;
        w.ui->lineEdit_set_measurement_offset->setText("-5");
        w.ui->lineEdit_old_address->setText("1");
        w.ui->lineEdit_new_address->setText("2");
        if (model >= 0)
            emit w.ui->comboBox_mokuai_choose->activated(model);
        QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
        for (const QString &b : buttons)
            QTest::mouseClick(w.findChild<QPushButton *>(b), Qt::LeftButton);
        QList<QByteArray> sent;
        for (const auto &args : spy)
            sent << args.at(0).toByteArray();
        if (reference.isEmpty())
            reference = sent;
        QCOMPARE(sent, reference);
    }
    QCOMPARE(reference.at(3), QByteArray::fromHex("AA0000120001FFFB0D"));
    QCOMPARE(reference.at(4), QByteArray::fromHex("AA0100100001000214"));
}

void TestWidgetCommands::warnings_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("status-modbus-chinese") << "button_read_state" << 1 << 0 << "警告："
                                           << "该模块不支持查看模块状态";
    QTest::newRow("status-modbus-english")
        << "button_read_state" << 1 << 1 << "warn:"
        << "The module does not support checking the module status";
    QTest::newRow("continuous-modbus-chinese") << "button_continue" << 1 << 0 << "警告："
                                               << "该模块不支持连续测量";
    QTest::newRow("continuous-modbus-english")
        << "button_continue" << 1 << 1 << "warn:"
        << "This module does not support continuous measurement";
    QTest::newRow("angle-aa-chinese-fullwidth-title") << "button_angle" << 0 << 0 << "warn："
                                                      << "该模块不支持查看模块倾角";
    QTest::newRow("angle-aa-english") << "button_angle" << 0 << 1 << "warn:"
                                      << "This module does not support viewing module inclination";
}

void TestWidgetCommands::warnings()
{
    QFETCH(QString, button);
    QFETCH(int, mode);
    QFETCH(int, language);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Widget w;
    setCheckMode(w, mode);
    w.language = language;
    testsupport::MessageBoxCatcher boxes;
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    const QString before = w.findChild<QPushButton *>(button)->text();
    QTest::mouseClick(w.findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.lastTitle(), title);
    QCOMPARE(boxes.lastText(), text);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(w.findChild<QPushButton *>(button)->text(), before);
    QCOMPARE(w.state_measure, 0);
    QCOMPARE(w.mode_celiang, 0); // continuous in Modbus mode never changes it
}

void TestWidgetCommands::aaAddressAbove127Refused()
{
    Widget w;
    w.ui->lineEdit_address->setText("200");
    QCOMPARE(w.address_index, 200);
    testsupport::MessageBoxCatcher boxes;
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    QTest::mouseClick(w.ui->button_read_vcc, Qt::LeftButton);
    QTest::mouseClick(w.ui->button_light, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(w.ui->button_light->text(), QStringLiteral("Laser    on ")); // toggle did not flip
    // The validator refuses what no frame byte can carry.
    w.ui->lineEdit_address->clear();
    QTest::keyClicks(w.ui->lineEdit_address, "300");
    QCOMPARE(w.ui->lineEdit_address->text(), QStringLiteral("30"));
}

void TestWidgetCommands::laserToggle_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("background");
    QTest::newRow("aa-1-click-on")
        << 0 << 1 << "Laser    off" << QByteArray::fromHex("AA0001BE00010001C1")
        << "rgb(35, 153, 197);    border-radius: 4px;color";
    QTest::newRow("aa-2-clicks-off")
        << 0 << 2 << "Laser    on " << QByteArray::fromHex("AA0001BE00010000C0")
        << "rgb(206, 206, 206)";
    QTest::newRow("aa-3-clicks-on")
        << 0 << 3 << "Laser    off" << QByteArray::fromHex("AA0001BE00010001C1")
        << "rgb(35, 153, 197)";
    QTest::newRow("modbus-1-click-on")
        << 1 << 1 << "Laser    off" << QByteArray::fromHex("01050000FF00") << "rgb(35, 153, 197)";
    QTest::newRow("modbus-2-clicks-off")
        << 1 << 2 << "Laser    on " << QByteArray::fromHex("010500000000") << "rgb(206, 206, 206)";
    QTest::newRow("modbus-3-clicks-on")
        << 1 << 3 << "Laser    off" << QByteArray::fromHex("01050000FF00") << "rgb(35, 153, 197)";
}

void TestWidgetCommands::laserToggle()
{
    QFETCH(int, mode);
    QFETCH(int, clicks);
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    QFETCH(QString, background);
    Widget w;
    setCheckMode(w, mode);
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(w.ui->button_light, Qt::LeftButton);
    QCOMPARE(spy.count(), clicks);
    QCOMPARE(lastFrame(spy), frame);
    QCOMPARE(w.ui->button_light->text(), text);
    QVERIFY(w.ui->button_light->styleSheet().startsWith(
        QStringLiteral("QPushButton {    background-color: ") + background));
    QVERIFY(w.ui->button_light->styleSheet().endsWith(
        QStringLiteral("QPushButton#button_light {    border: 1px solid rgb(87, 87, 87);}")));
}

void TestWidgetCommands::continuousToggle_data()
{
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("state");
    QTest::newRow("auto-1-click-start")
        << 1 << 1 << "Stop measure" << QByteArray::fromHex("AA0000200001000425") << 1;
    QTest::newRow("auto-2-clicks-stop-byte")
        << 1 << 2 << "Repeat measure" << QByteArray::fromHex("58") << 0;
    QTest::newRow("fast-3-clicks-start-again")
        << 3 << 3 << "Stop measure" << QByteArray::fromHex("AA0000200001000627") << 1;
}

void TestWidgetCommands::continuousToggle()
{
    QFETCH(int, speed);
    QFETCH(int, clicks);
    QFETCH(QString, text);
    QFETCH(QByteArray, frame);
    QFETCH(int, state);
    Widget w;
    QTest::mouseClick(w.checks->button(speed), Qt::LeftButton);
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    for (int i = 0; i < clicks; ++i)
        QTest::mouseClick(w.ui->button_continue, Qt::LeftButton);
    QCOMPARE(spy.count(), clicks);
    QCOMPARE(lastFrame(spy), frame);
    QCOMPARE(w.ui->button_continue->text(), text);
    QCOMPARE(w.state_measure, state);
    QCOMPARE(w.mode_celiang, 2);
    QVERIFY(w.ui->button_continue->styleSheet().startsWith(state
            ? QStringLiteral("QPushButton {    background-color: rgb(87, 87, 87)")
            : QStringLiteral("QPushButton {    background-color: rgb(206, 206, 206)")));
}

void TestWidgetCommands::speedRadios_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("measureMode");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("aa-fast-sends-nothing") << 0 << 3 << 2 << QByteArray();
    QTest::newRow("modbus-slow-mode-frame") << 1 << 2 << 1 << QByteArray::fromHex("010106000201");
    QTest::newRow("modbus-auto-already-checked-resends")
        << 1 << 1 << 0 << QByteArray::fromHex("010106000200");
}

void TestWidgetCommands::speedRadios()
{
    QFETCH(int, mode);
    QFETCH(int, id);
    QFETCH(int, measureMode);
    QFETCH(QByteArray, frame);
    Widget w;
    setCheckMode(w, mode);
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    QTest::mouseClick(w.checks->button(id), Qt::LeftButton);
    QCOMPARE(w.measure_mode, measureMode);
    QCOMPARE(spy.count(), frame.isEmpty() ? 0 : 1);
    if (!frame.isEmpty())
        QCOMPARE(lastFrame(spy), frame);
    // Fast single measurement in check mode 0 carries the speed in its value byte.
    if (mode == 0) {
        QTest::mouseClick(w.ui->button_once, Qt::LeftButton);
        QCOMPARE(lastFrame(spy), QByteArray::fromHex("AA0000200001000223"));
        QCOMPARE(w.mode_celiang, 1);
    }
}

void TestWidgetCommands::addressFieldFollowsCheckMode()
{
    Widget w;
    setCheckMode(w, 1);
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    QTest::mouseClick(w.ui->button_read_vcc, Qt::LeftButton); // field says "00", Modbus uses 1
    QCOMPARE(lastFrame(spy), QByteArray::fromHex("010400010001"));
    setCheckMode(w, 0);
    w.ui->lineEdit_address->clear();
    QTest::keyClicks(w.ui->lineEdit_address, "1");
    QCOMPARE(w.address_index, 1);
    QTest::keyClicks(w.ui->lineEdit_address, "2");
    QCOMPARE(w.address_index, 12); // decimal, not 0x12
    QCOMPARE(w.address_index_moudbus, 1);
}

void TestWidgetCommands::addressSearch()
{
    Widget w;
    QSignalSpy spy(&w, &Widget::sig_send_data_main_1);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w.ui->button_address, Qt::LeftButton);
    QTest::mouseClick(w.ui->button_address, Qt::LeftButton); // one search at a time
    QVERIFY(w.timer_address->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!w.timer_address->isActive(), 10000);
    QTest::qWait(60); // a tick queued at the end must not probe again
    QCOMPARE(spy.count(), 127);
    QCOMPARE(spy.first().at(0).toByteArray(), QByteArray::fromHex("AA80000080"));
    QCOMPARE(spy.last().at(0).toByteArray(), QByteArray::fromHex("AAFE0000FE"));
    QCOMPARE(w.address_i, -1);
    qInfo("127 probes took %lld ms", clock.elapsed());
}

QTEST_MAIN(TestWidgetCommands)
#include "tst_widget_commands.moc"
