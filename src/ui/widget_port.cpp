// Port panel: open/close, check mode, raw and timed sending, the send echo, port list and hot-plug.
#include "ui/log.h"
#include "ui/widget.h"
#include "ui_widget.h"

#include "core/frames.h"
#include "io/mytimer.h"
#include "io/portdiscovery.h"
#include "io/thread_1.h"
#include "ui/logview.h"
#include "ui/texts.h"

#include <QMessageBox>
#include <QSerialPort>

namespace {
// The watcher may name a port as the port list does (ttyUSB0, pts/7) or by its device path
// (/dev/pts/7); the worker reports the port list's form. Compared on both sides, so a Windows
// name (COM3) still only matches itself.
QString deviceLocation(const QString &name)
{
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}
} // namespace

namespace texts = ui::texts;

QString Widget::portName() const
{
    return ui->chuankou_Box->currentData().toString();
}

int Widget::portBaudRate() const
{
    return ui->botelv_Box->currentData().toInt();
}

void Widget::on_open_button_clicked()
{
    emit sig_change_serialport_1(serialport_state_1 ? 0 : 1, portName(), portBaudRate());
}

void Widget::showSerialFailure(const QString &detail)
{
    if (!detail.isEmpty()) {
        // The port's own words (permission denied, no such device, ...) tell
        // the operator what to fix; the box alone does not.
        appendRedLine(detail);
    }
    QMessageBox::warning(this, texts::get(texts::Text::WarnTitle, lang()),
        texts::get(texts::Text::SerialFailure, lang()), QMessageBox::Ok);
}

void Widget::slot_serialport_change_state_1(bool a, QString serialport_name, QString serial_error)
{
    serialport_state_1 = a;
    // A byte log is of one opened line: it ends when the port closes.
    if (!a && !record_path.isEmpty())
        stopRecording();
    button_record->setEnabled(a);
    if (!serial_error.isEmpty()) {
        const QString detail = serialport_name.isEmpty()
            ? serial_error
            : serialport_name + QStringLiteral(": ") + serial_error;
        // An unplugged adapter is seen by the hot-plug watcher and by the port itself; the
        // operator was warned once already, the port's words still go to the log.
        if (port_loss_shown)
            appendRedLine(detail);
        else
            showSerialFailure(detail);
        emit sig_change_serialport_1(0, portName(), portBaudRate());
        return;
    }
    port_loss_shown = false;
    if (!a) {
        open_port_name.clear();
        ui->open_button->setText(texts::toggle(texts::Text::OpenSerial, false, lang()));
        ui->port_name_show->setText(QString());
        ui->port_name_show->setChecked(false);
        return;
    }
    open_port_name = serialport_name;
    ui->open_button->setText(texts::toggle(texts::Text::OpenSerial, true, lang()));
    ui->port_name_show->setText(serialport_name);
    ui->port_name_show->setChecked(true);
    emit sig_talk_serial_name(serialport_name);
}

void Widget::on_jiaoyan_mode_activated(int index)
{
    emit sig_jiaoyan_mode_chose(index);
}

QByteArray Widget::customCommandBytes(bool *ok, bool quietIfRepeated)
{
    const QString text = ui->lineEdit_send->text();
    *ok = true;
    if (!ui->checkBo_hex->isChecked())
        return text.toUtf8();
    // A typo in hex mode must not put unintended bytes on the line.
    if (!text.trimmed().isEmpty() && !core::frames::isStrictHexText(text)) {
        *ok = false;
        // Timed sending reads the text at every tick: one line per typo, not one per tick.
        if (!quietIfRepeated || text != refused_send_text)
            appendRedLine(texts::get(texts::Text::NotHex, lang()) + text);
        refused_send_text = text;
        return {};
    }
    refused_send_text.clear();
    return change_(text);
}

void Widget::on_button_send_clicked()
{
    bool ok = false;
    const QByteArray bytes = customCommandBytes(&ok);
    if (ok)
        emit sig_send_data_main_1(bytes);
}

void Widget::slot_timer_dingshi_send()
{
    // A tick while the last timed frame has not come back from the worker is skipped: with a
    // short period and a long command the ticks would otherwise queue up faster than the frames
    // can be written and echoed, and the window would fall seconds behind.
    if (timed_frame_in_flight)
        return;
    bool ok = false;
    const QByteArray bytes = customCommandBytes(&ok, true);
    if (ok) {
        timed_frame_in_flight = true;
        emit sig_send_data_main_1(bytes);
    }
}

void Widget::on_checkBox_dingshi_send_stateChanged(int arg1)
{
    Q_UNUSED(arg1);
    if (!ui->lineEdit_send->text().isEmpty() && ui->checkBox_dingshi_send->isChecked()) {
        bool ok = false;
        const int period = ui->lineEdit_dingshi_send->text().toInt(&ok, 10);
        if (!timer_dingshi_send->isActive())
            timer_dingshi_send->start(ok ? period : 0);
        if (!timer_dingshi_send->isActive()) {
            appendRedLine(
                texts::get(texts::Text::BadPeriod, lang()) + ui->lineEdit_dingshi_send->text());
        }
    } else {
        timer_dingshi_send->stop();
    }
}

void Widget::slot_show_send_data(QByteArray string)
{
    timed_frame_in_flight = false;
    session_.setLastSent(string);
    appendLine(
        timeStamp() + texts::get(texts::Text::Send, lang()) + core::frames::toHexText(string));
}

void Widget::slot_mycombobox_clicked()
{
    ui->chuankou_Box->clear();
    for (const io::ports::PortEntry &port : io::ports::availablePorts())
        ui->chuankou_Box->addItem(port.path + QLatin1Char(' ') + port.description, port.path);
}

void Widget::on_comStatus(QString name, bool flag)
{
    qCDebug(lcUi) << "port" << name << (flag ? "arrived" : "removed");
    if (flag || !serialport_state_1 || deviceLocation(name) != deviceLocation(open_port_name))
        return;
    // Set before the box: the worker's own report of the lost port can arrive while it is up.
    port_loss_shown = true;
    showSerialFailure(QString());
    emit sig_change_serialport_1(0, name, portBaudRate());
}
