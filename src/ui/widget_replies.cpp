// Reply dispatch, the four reply parsers, the log panel and the result table.
#include "ui/log.h"
#include "ui/widget.h"
#include "ui_widget.h"

#include "core/frames.h"
#include "core/replies.h"
#include "core/replytext.h"
#include "io/mytimer.h"
#include "ui/chartview.h"
#include "ui/logview.h"
#include "ui/texts.h"

namespace texts = ui::texts;

namespace {
// A line of this many '-' closes every decoded reply in the log.
constexpr int kSeparatorWidth = 50;

QString separator()
{
    return QString(kSeparatorWidth, QLatin1Char('-'));
}

QString linePrefix(int number, const QString &clock)
{
    return QString::number(number) + QLatin1String("  [") + clock + QLatin1String("] ");
}
} // namespace

QString Widget::timeStamp() const
{
    return linePrefix(session_.replyNumber(), core::frames::clockText(QTime::currentTime()));
}

void Widget::appendLine(const QString &text)
{
    ui->plainTextEdit_show_data->appendLine(text);
}

void Widget::appendRedLine(const QString &text)
{
    ui->plainTextEdit_show_data->appendRedLine(text);
}

void Widget::slot_receive_data_main_1(QString data)
{
    onReply(core::frames::fromHexText(data));
}

void Widget::onReply(const QByteArray &reply)
{
    const std::optional<core::CheckMode> mode = checkMode();
    const core::replies::Route route
        = core::replies::routeReply(reply, core::checkModeAt(ui->jiaoyan_mode->currentIndex()));
    if (route == core::replies::Route::Empty) {
        qCDebug(lcUi) << "empty reply";
        return;
    }
    // Reading the clock is dear on some systems (a time-zone check per call): once per reply.
    reply_time = QTime::currentTime();
    const QString clock = core::frames::clockText(reply_time);
    ui->plainTextEdit_show_data->beginBatch();
    const QString packed = core::frames::toPackedHex(reply);
    const QString echo = linePrefix(session_.replyNumber(), clock)
        + texts::get(texts::Text::Receive, lang()) + core::frames::spacedPairs(packed);
    // A module error is echoed in red as well as decoded in red.
    if (quint8(reply.at(0)) == 0xEE)
        appendRedLine(echo);
    else
        appendLine(echo);

    time_receive = time_change(clock);
    receive_mono_ms = monotonic.elapsed();
    qCDebug(lcUi) << "reply of" << reply.size() << "bytes";

    if (route == core::replies::Route::TooShort) {
        appendLine(separator());
    } else {
        // The parsers are reached through their signals, as anything else that hands them a
        // reply does.
        const bool chinese = lang() == core::Language::Chinese;
        if (mode == core::CheckMode::Sum8)
            emit(chinese ? sig_jiexi_data(packed) : sig_jiexi_data_eng(packed));
        else if (mode == core::CheckMode::Crc)
            emit(chinese ? sig_jiexi_data_modbus(packed) : sig_jiexi_data_modbus_eng(packed));
        session_.countReply();
    }
    reply_time = QTime();
    ui->plainTextEdit_show_data->endBatch();
}

void Widget::parseReply(
    const QString &data, core::Language parserLanguage, core::CheckMode protocol)
{
    const QByteArray reply = core::frames::fromHexText(data);
    if (protocol == core::CheckMode::Sum8) {
        core::replies::AaContext ctx;
        ctx.addressSearchRunning = session_.addressSearchRunning();
        ctx.lastProbedAddress = session_.lastProbe();
        showReply(core::replies::decodeAa(reply, ctx), parserLanguage);
    } else {
        showReply(core::replies::decodeModbus(reply, session_.lastSent()), parserLanguage);
    }
}

void Widget::showReply(const core::replies::Reply &reply, core::Language parserLanguage)
{
    const QTime time = reply_time.isValid() ? reply_time : QTime::currentTime();
    const QString prefix = linePrefix(session_.replyNumber(), core::frames::clockText(time));
    const QString words
        = core::replies::describe(reply, parserLanguage, ui->botelv_Box_2->currentText());
    if (reply.kind == core::replies::Kind::NotAFrame) {
        appendLine(separator());
    } else if (reply.isError()) {
        appendRedLine(prefix + words + QLatin1Char('\n') + separator());
    } else if (reply.kind != core::replies::Kind::Nothing) {
        appendLine(prefix + words + QLatin1Char('\n') + separator());
    }

    if (reply.isMeasurement()) {
        // Only a single measurement has a start to measure from; continuous replies come on
        // their own.
        const qint32 measuringMs
            = mode_celiang == 1 ? qint32(qMax<qint64>(0, receive_mono_ms - send_mono_ms)) : -1;
        session_.addRecord(core::recordOf(
            reply, time.msecsSinceStartOfDay(), measure_mode, parserLanguage, measuringMs));
        // Records without a chart point (errors, Modbus) still change the statistics it shows.
        ui->widget_paint->scheduleReplot();
    }
    if (reply.kind == core::replies::Kind::Temperature)
        analysis_temperatures.append({ time.msecsSinceStartOfDay(), double(reply.number) / 10 });
    if (reply.chartPoint)
        addChartPoint(qint32(reply.number));
    if (reply.newAddress) {
        if (reply.protocol == core::CheckMode::Sum8)
            address_index = *reply.newAddress;
        else
            address_index_moudbus = *reply.newAddress;
    }
    if (reply.endsAddressSearch) {
        timer_address->stop();
        session_.endAddressSearch();
    }
}

void Widget::slot_jiexi_data(QString data)
{
    parseReply(data, core::Language::Chinese, core::CheckMode::Sum8);
}
void Widget::slot_jiexi_data_eng(QString data)
{
    parseReply(data, core::Language::English, core::CheckMode::Sum8);
}
void Widget::slot_jiexi_data_modbus(QString data)
{
    parseReply(data, core::Language::Chinese, core::CheckMode::Crc);
}
void Widget::slot_jiexi_data_modbus_eng(QString data)
{
    parseReply(data, core::Language::English, core::CheckMode::Crc);
}

void Widget::on_button_clear_show_clicked()
{
    session_.clear();
    analysis_temperatures.clear();
    forceAnalysis();
    ui->widget_paint->clearPoints();
    ui->widget_paint->replotNow();
    ui->plainTextEdit_show_data->clearLines();
}
