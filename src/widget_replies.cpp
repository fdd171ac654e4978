// Reply dispatch, the four reply parsers, the log panel and the result table.
#include "ui_widget.h"
#include "widget.h"

#include "frames.h"
#include "mytimer.h"
#include "replies.h"

#include <QDebug>

QString Widget::timeStamp() const
{
    return QStringLiteral("  [") + frames::clockText(QTime::currentTime()) + QStringLiteral("] ");
}

void Widget::appendLine(const QString &text)
{
    ui->plainTextEdit_show_data->appendPlainText(text);
}

void Widget::appendRedLine(const QString &text)
{
    ui->plainTextEdit_show_data->appendHtml(
        QStringLiteral("<font color='red'>") + replies::htmlText(text) + QStringLiteral("</font>"));
}

void Widget::slot_receive_data_main_1(QString data)
{
    const replies::Route route = replies::routeReply(data, ui->jiaoyan_mode->currentIndex());
    if (route == replies::Route::Empty) {
        qDebug() << "数据1收发存在问题";
        return;
    }
    const replies::EchoLine echo
        = replies::echoLine(show_num, frames::clockText(QTime::currentTime()), data, language);
    if (echo.html)
        ui->plainTextEdit_show_data->appendHtml(echo.text);
    else
        appendLine(echo.text);

    time_receive = time_change(frames::clockText(QTime::currentTime()));
    receive_mono_ms = monotonic.elapsed();
    qDebug() << "接受数据大小：" << data.size();

    if (route == replies::Route::TooShort) {
        appendLine(replies::separator());
        return;
    }
    if (ui->jiaoyan_mode->currentIndex() == 0) {
        if (language == 0)
            emit sig_jiexi_data(data);
        else
            emit sig_jiexi_data_eng(data);
    }
    if (ui->jiaoyan_mode->currentIndex() == 1) {
        if (language == 0)
            emit sig_jiexi_data_modbus(data);
        else
            emit sig_jiexi_data_modbus_eng(data);
    }
    ++show_num;
}

void Widget::showResult(const replies::Result &result)
{
    const QString block
        = replies::logBlock(result, show_num, frames::clockText(QTime::currentTime()));
    if (!block.isEmpty()) {
        if (result.isRed())
            ui->plainTextEdit_show_data->appendHtml(block);
        else
            appendLine(block);
    }
    if (!result.record.isEmpty())
        list_save_data.append(result.record);
    if (result.chartDistance)
        addChartPoint(*result.chartDistance);
    if (result.newAddressIndex)
        address_index = *result.newAddressIndex;
    if (result.newAddressIndexMoudbus)
        address_index_moudbus = *result.newAddressIndexMoudbus;
    if (result.stopAddressSearch) {
        timer_address->stop();
        address_i = -1;
    }
}

replies::ModbusContext Widget::replyContext() const
{
    replies::ModbusContext ctx;
    ctx.measureMode = measure_mode;
    ctx.modeCeliang = mode_celiang;
    ctx.measuringTimeMs = receive_mono_ms - send_mono_ms;
    ctx.clock = frames::clockText(QTime::currentTime());
    ctx.baudRateText = ui->botelv_Box_2->currentText();
    return ctx;
}

void Widget::parseAaReply(const QString &data, int parserLanguage)
{
    replies::AaContext ctx;
    static_cast<replies::ModbusContext &>(ctx) = replyContext();
    ctx.addressSearchRunning = timer_address->isActive();
    ctx.addressI = address_i;
    showResult(replies::decodeAa(data, ctx, parserLanguage));
}

void Widget::parseModbusReply(const QString &data, int parserLanguage)
{
    showResult(replies::decodeModbus(data, send_measure, replyContext(), parserLanguage));
}

void Widget::slot_jiexi_data(QString data)
{
    parseAaReply(data, 0);
}
void Widget::slot_jiexi_data_eng(QString data)
{
    parseAaReply(data, 1);
}
void Widget::slot_jiexi_data_modbus(QString data)
{
    parseModbusReply(data, 0);
}
void Widget::slot_jiexi_data_modbus_eng(QString data)
{
    parseModbusReply(data, 1);
}

void Widget::on_button_clear_show_clicked()
{
    MIN_Y = 0;
    MAX_Y = 300;
    list_save_data.clear();
    curGraph->data()->clear();
    replotChart(QCustomPlot::rpRefreshHint);
    ui->plainTextEdit_show_data->clear();
    show_num = 0;
}
