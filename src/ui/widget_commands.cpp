// Query, settings and measurement commands: the buttons, the address field and the address search.
#include "ui/log.h"
#include "ui/widget.h"
#include "ui_widget.h"

#include "core/commands.h"
#include "io/mytimer.h"
#include "ui/buttonstyle.h"
#include "ui/texts.h"

#include <QButtonGroup>
#include <QMessageBox>

using core::commands::Command;

namespace texts = ui::texts;

void Widget::sendCommand(const QString &hexText)
{
    qCDebug(lcUi) << hexText;
    emit sig_send_data_main_1(change_(hexText));
}

bool Widget::runCommand(int command)
{
    core::commands::FieldTexts fields;
    fields.address = ui->lineEdit_address->text();
    fields.offset = ui->lineEdit_set_measurement_offset->text();
    fields.oldAddress = ui->lineEdit_old_address->text();
    fields.newAddress = ui->lineEdit_new_address->text();
    core::commands::Inputs in;
    in.address = address_index;
    in.modbusAddress = address_index_moudbus;
    in.measureMode = measure_mode;
    in.offset = core::commands::fieldNumber(fields.offset);
    in.oldAddress = core::commands::fieldNumber(fields.oldAddress);
    in.newAddress = core::commands::fieldNumber(fields.newAddress);
    in.baudCode = ui->botelv_Box_2->currentIndex();
    // A check-mode box that names no protocol sends nothing.
    const std::optional<core::CheckMode> mode = checkMode();
    if (!mode)
        return false;
    const core::CheckMode checkMode = *mode;
    const core::commands::Built built = core::commands::build(Command(command), checkMode, in);
    core::commands::Warning warning = built.warning;
    if (built.text) {
        // A field that holds no usable number would otherwise go out as 0 (or as its low bits):
        // a frame the operator never asked for.
        warning = core::commands::fieldWarning(Command(command), checkMode, fields);
        if (warning == core::commands::Warning::None) {
            sendCommand(*built.text);
            return true;
        }
    }
    if (warning != core::commands::Warning::None) {
        QMessageBox box(QMessageBox::Warning, texts::warningTitle(warning, lang()),
            texts::warningText(warning, lang()), QMessageBox::Ok, this);
        box.setDefaultButton(QMessageBox::NoButton);
        box.exec();
    }
    return false;
}

void Widget::on_button_read_vcc_clicked()
{
    runCommand(int(Command::ReadVoltage));
}
void Widget::on_button_read_state_clicked()
{
    runCommand(int(Command::ReadStatus));
}
void Widget::on_button_hardware_clicked()
{
    runCommand(int(Command::ReadHardwareVersion));
}
void Widget::on_button_sofftware_clicked()
{
    runCommand(int(Command::ReadSoftwareVersion));
}
void Widget::on_button_serial_number_clicked()
{
    runCommand(int(Command::ReadSerialNumber));
}
void Widget::on_button_reaad_temp_clicked()
{
    runCommand(int(Command::ReadTemperature));
}
void Widget::on_button_measure_offce_clicked()
{
    runCommand(int(Command::ReadOffset));
}
void Widget::on_button_angle_clicked()
{
    runCommand(int(Command::ReadAngle));
}
void Widget::on_button_set_measurement_offset_clicked()
{
    runCommand(int(Command::SetOffset));
}
void Widget::on_button_set_address_clicked()
{
    runCommand(int(Command::SetAddress));
}
void Widget::on_button_set_baudrate_clicked()
{
    runCommand(int(Command::SetBaudRate));
}

void Widget::on_button_light_clicked()
{
    // A frame refused for its address leaves the toggle where it was.
    if (!runCommand(int(laser_on ? Command::LaserOff : Command::LaserOn)))
        return;
    laser_on = !laser_on;
    ui->button_light->setText(texts::toggle(texts::Text::LaserOn, laser_on, lang()));
    ui->button_light->setStyleSheet(ui::buttonStyle(
        QStringLiteral("button_light"), laser_on ? ui::ButtonLook::Lit : ui::ButtonLook::Normal));
}

void Widget::on_lineEdit_address_cursorPositionChanged(int arg1, int arg2)
{
    Q_UNUSED(arg1);
    Q_UNUSED(arg2);
    const int value = core::commands::fieldNumber(ui->lineEdit_address->text());
    if (checkMode() == core::CheckMode::Sum8)
        address_index = value;
    else if (checkMode() == core::CheckMode::Crc)
        address_index_moudbus = value;
}

void Widget::on_button_address_clicked()
{
    if (checkMode() == core::CheckMode::Sum8) {
        if (!timer_address->isActive()) {
            session_.startAddressSearch();
            timer_address->start(20);
        }
    } else if (checkMode() == core::CheckMode::Crc) {
        runCommand(int(Command::ReadAddress));
    }
}

void Widget::slot_timer_address()
{
    // A tick queued just before the search ended must not start a probe of its own (it would
    // skip address 0 next time).
    if (!timer_address->isActive() || !session_.addressSearchRunning())
        return;
    sendCommand(core::commands::addressProbe(session_.nextProbe()));
    if (!session_.addressSearchRunning())
        timer_address->stop();
}

void Widget::slot_checks()
{
    static const char *const kModeNames[] = { "自动测量", "慢速测量", "快速测量" };
    for (int id = 1; id <= 3; ++id) {
        if (checks->button(id)->isChecked()) {
            measure_mode = id - 1;
            qCDebug(lcUi) << kModeNames[id - 1];
        }
    }
    runCommand(int(Command::MeasureMode));
}

void Widget::on_button_once_clicked()
{
    mode_celiang = 1;
    runCommand(int(Command::MeasureOnce));
}

void Widget::on_button_continue_clicked()
{
    if (checkMode() != core::CheckMode::Sum8) {
        runCommand(int(Command::ContinuousStart)); // shows the not-available warning
        return;
    }
    mode_celiang = 2;
    if (state_measure != 0) {
        sendCommand(core::commands::stopByte());
        state_measure = 0;
        ui->button_continue->setText(texts::toggle(texts::Text::RepeatMeasure, false, lang()));
        ui->button_continue->setStyleSheet(ui::buttonStyle(QStringLiteral("button_continue")));
        return;
    }
    if (!runCommand(int(Command::ContinuousStart)))
        return;
    ui->button_continue->setText(texts::toggle(texts::Text::RepeatMeasure, true, lang()));
    ui->button_continue->setStyleSheet(
        ui::buttonStyle(QStringLiteral("button_continue"), ui::ButtonLook::Active));
    state_measure = 1;
}
