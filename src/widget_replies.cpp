// Reply dispatch, the four reply parsers, the log panel and the result table.
#include "ui_widget.h"
#include "widget.h"

#include "frames.h"
#include "mytimer.h"
#include "replies.h"

#include <QDebug>
#include <QTextBlock>

namespace {
// Ten repaints a second keep a streaming log moving smoothly; each repaint of the shadowed panel
// costs milliseconds, so one per line would take the whole GUI thread at wire speed.
constexpr int kLogFrameMs = 100;
// Lines this far above the first one shown keep their layout, so scrolling back a little finds
// them laid out.
constexpr int kLogLayoutMargin = 200;
} // namespace

QString Widget::timeStamp() const
{
    return QStringLiteral("  [") + frames::clockText(QTime::currentTime()) + QStringLiteral("] ");
}

QString Widget::replyClock() const
{
    return reply_clock.isEmpty() ? frames::clockText(QTime::currentTime()) : reply_clock;
}

void Widget::appendLine(const QString &text)
{
    appendLog(text, false);
}

void Widget::appendRedLine(const QString &text)
{
    appendLog(
        QStringLiteral("<font color='red'>") + replies::htmlText(text) + QStringLiteral("</font>"),
        true);
}

void Widget::appendLog(const QString &text, bool html)
{
    if (log_batching)
        pending_log.append({ text, html });
    else
        writeLog({ { text, html } });
}

void Widget::writeLog(const QList<std::pair<QString, bool>> &lines)
{
    if (lines.isEmpty())
        return;
    QPlainTextEdit *log = ui->plainTextEdit_show_data;
    paceLogPaint();
    if (!log_trim_noticed && log->blockCount() >= kLogLineLimit) {
        log_trim_noticed = true;
        log->appendPlainText(language == 0
                ? QStringLiteral(
                    "日志只保留最新的 %1 行，更早的行从这里起被删除；结果表保留全部测量数据。")
                      .arg(kLogLineLimit)
                : QStringLiteral("The log keeps the newest %1 lines: older lines are removed from "
                                 "here on. The result table keeps every measurement.")
                      .arg(kLogLineLimit));
    }
    // Every append lays out the line before it, so neighbouring plain lines go in together.
    QString plain;
    for (const auto &[text, html] : lines) {
        if (!html) {
            plain += plain.isNull() ? text : QLatin1Char('\n') + text;
            continue;
        }
        if (!plain.isNull())
            log->appendPlainText(std::exchange(plain, QString()));
        log->appendHtml(text);
    }
    if (!plain.isNull())
        log->appendPlainText(plain);
}

void Widget::paceLogPaint()
{
    if (!log_frame_timer.isActive()) {
        // The first lines after a pause are painted at once; the frame starts now.
        log_frame_timer.start(kLogFrameMs);
        return;
    }
    ui->plainTextEdit_show_data->setUpdatesEnabled(false);
}

void Widget::showLogFrame()
{
    QPlainTextEdit *log = ui->plainTextEdit_show_data;
    forgetOldLogLayouts();
    if (log->updatesEnabled())
        return; // nothing written during the frame: the stream has paused
    log->setUpdatesEnabled(true);
    log_frame_timer.start(kLogFrameMs);
}

void Widget::forgetOldLogLayouts()
{
    // Every line painted once keeps its layout, which costs more memory than its text, and
    // whenever the widest line leaves the top of a full log Qt measures every kept layout again.
    // Lines scrolled well out of sight give theirs up; Qt lays a line out again when it is shown.
    QPlainTextEdit *log = ui->plainTextEdit_show_data;
    QTextDocument *doc = log->document();
    if (log_layout_mark.isNull() || log_layout_mark.document() != doc)
        log_layout_mark = QTextCursor(doc);
    const int shownFrom = log->cursorForPosition(QPoint(0, 0)).blockNumber();
    const QTextBlock keepFrom = doc->findBlockByNumber(shownFrom - kLogLayoutMargin);
    if (!keepFrom.isValid())
        return;
    // The mark is a cursor, so it stays on its line as lines are added and removed; when its
    // line is dropped from the top it moves to the new first line.
    const int stop = keepFrom.blockNumber();
    QTextBlock b = log_layout_mark.block();
    for (int n = b.blockNumber(); b.isValid() && n < stop; b = b.next(), ++n)
        b.clearLayout();
    if (keepFrom.position() > log_layout_mark.position())
        log_layout_mark.setPosition(keepFrom.position());
}

void Widget::slot_receive_data_main_1(QString data)
{
    const replies::Route route = replies::routeReply(data, ui->jiaoyan_mode->currentIndex());
    if (route == replies::Route::Empty) {
        qDebug() << "数据1收发存在问题";
        return;
    }
    // Reading the clock is dear on some systems (a time-zone check per call): once per reply.
    reply_clock = frames::clockText(QTime::currentTime());
    log_batching = true;
    const replies::EchoLine echo = replies::echoLine(show_num, reply_clock, data, language);
    appendLog(echo.text, echo.html);

    time_receive = time_change(reply_clock);
    receive_mono_ms = monotonic.elapsed();
    qDebug() << "接受数据大小：" << data.size();

    if (route == replies::Route::TooShort) {
        appendLine(replies::separator());
    } else {
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
    log_batching = false;
    reply_clock.clear();
    writeLog(std::exchange(pending_log, {}));
}

void Widget::showResult(const replies::Result &result)
{
    const QString block = replies::logBlock(result, show_num, replyClock());
    if (!block.isEmpty())
        appendLog(block, result.isRed());
    if (!result.record.isEmpty()) {
        QList<QString> record = result.record;
        // Mode, signal and empty columns mostly repeat from one record to the next: the texts
        // are shared instead of held once per record, which adds up over hours of replies.
        if (!list_save_data.isEmpty()) {
            const QList<QString> &last = list_save_data.constLast();
            for (qsizetype i = 0; i < record.size() && i < last.size(); ++i) {
                if (record.at(i) == last.at(i))
                    record[i] = last.at(i);
            }
        }
        list_save_data.append(std::move(record));
    }
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
    ctx.clock = replyClock();
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
    ui->plainTextEdit_show_data->setUpdatesEnabled(true);
    log_trim_noticed = false;
    show_num = 0;
}
