// Reply dispatch, the four reply parsers, the log panel and the result table.
#include "ui/log.h"
#include "ui/widget.h"
#include "ui_widget.h"

#include "core/frames.h"
#include "core/replies.h"
#include "core/replytext.h"
#include "io/mytimer.h"
#include "ui/texts.h"

#include <QScrollBar>
#include <QTextBlock>

namespace {
// Ten repaints a second keep a streaming log moving smoothly; each repaint of the shadowed panel
// costs milliseconds, so one per line would take the whole GUI thread at wire speed.
constexpr int kLogFrameMs = 100;
// Lines this long after the ones before come one by one (a stream at 115200 baud brings a reply
// every 1.1 ms), so they are painted at once.
constexpr qint64 kLogOneByOneMs = 20;
// Lines this far above the first one shown keep their layout, so scrolling back a little finds
// them laid out.
constexpr int kLogLayoutMargin = 200;
// A line of this many '-' closes every decoded reply in the log.
constexpr int kSeparatorWidth = 50;

QString htmlText(const QString &text)
{
    // Rich text folds runs of blanks into one; the log must show "0  [" as plain lines do.
    return text.toHtmlEscaped().replace(QLatin1String("  "), QLatin1String("&nbsp; "));
}

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
    appendLog(text, false);
}

void Widget::appendRedLine(const QString &text)
{
    appendLog(
        QStringLiteral("<font color='red'>") + htmlText(text) + QStringLiteral("</font>"), true);
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
        log->appendPlainText(texts::get(texts::Text::LogTrimmed, language).arg(kLogLineLimit));
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
    const qint64 gap = log_write_clock.isValid() ? log_write_clock.elapsed() : kLogFrameMs;
    log_write_clock.start();
    if (!log_frame_timer.isActive()) {
        // The first lines after a pause are painted at once; the frame starts now.
        log_frame_timer.start(kLogFrameMs);
        return;
    }
    // Lines that come one by one (single measurements) are painted at once too, while the line
    // is quiet; held to the end of the frame, their paint would often start just as the next
    // reply arrives and hold it up. Only a stream is painted once a frame. The frame runs on
    // either way, so its end still lets go of old layouts.
    ui->plainTextEdit_show_data->setUpdatesEnabled(gap >= kLogOneByOneMs);
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

void Widget::followLogEnd()
{
    // Qt keeps a log at its end only as lines are added. When the chart or the splitter takes
    // some of the log's room, its first line stays put and the newest ones drop out of sight,
    // and from then on new lines are added out of sight too. A log shown to its end stays there.
    QScrollBar *bar = ui->plainTextEdit_show_data->verticalScrollBar();
    connect(bar, &QAbstractSlider::valueChanged, this,
        [this, bar](int value) { log_at_end = value == bar->maximum(); });
    connect(bar, &QAbstractSlider::rangeChanged, this, [this, bar](int, int maximum) {
        if (log_at_end)
            bar->setValue(maximum);
    });
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
    onReply(core::frames::fromHexText(data));
}

void Widget::onReply(const QByteArray &reply)
{
    const int checkMode = ui->jiaoyan_mode->currentIndex();
    const core::replies::Route route = core::replies::routeReply(reply, checkMode);
    if (route == core::replies::Route::Empty) {
        qCDebug(lcUi) << "empty reply";
        return;
    }
    // Reading the clock is dear on some systems (a time-zone check per call): once per reply.
    reply_time = QTime::currentTime();
    const QString clock = core::frames::clockText(reply_time);
    log_batching = true;
    const QString packed = core::frames::toPackedHex(reply);
    const QString echo = linePrefix(session_.replyNumber(), clock)
        + texts::get(texts::Text::Receive, language) + core::frames::spacedPairs(packed);
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
        if (checkMode == 0)
            emit(language == 0 ? sig_jiexi_data(packed) : sig_jiexi_data_eng(packed));
        else if (checkMode == 1)
            emit(language == 0 ? sig_jiexi_data_modbus(packed) : sig_jiexi_data_modbus_eng(packed));
        session_.countReply();
    }
    log_batching = false;
    reply_time = QTime();
    writeLog(std::exchange(pending_log, {}));
}

void Widget::parseReply(const QString &data, int parserLanguage, core::CheckMode protocol)
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

void Widget::showReply(const core::replies::Reply &reply, int parserLanguage)
{
    const QTime time = reply_time.isValid() ? reply_time : QTime::currentTime();
    const QString prefix = linePrefix(session_.replyNumber(), core::frames::clockText(time));
    const QString words = core::replies::describe(
        reply, core::languageAt(parserLanguage), ui->botelv_Box_2->currentText());
    if (reply.kind == core::replies::Kind::NotAFrame) {
        appendLine(separator());
    } else if (reply.isError()) {
        // Part of an error line comes from the wire: escaped, blanks kept.
        appendLog(QStringLiteral("<font color='red'>") + htmlText(prefix) + htmlText(words)
                + QStringLiteral("<br>") + separator() + QStringLiteral("</font>"),
            true);
    } else if (reply.kind != core::replies::Kind::Nothing) {
        appendLine(prefix + words + QLatin1Char('\n') + separator());
    }

    if (reply.isMeasurement()) {
        // Only a single measurement has a start to measure from; continuous replies come on
        // their own.
        const qint32 measuringMs
            = mode_celiang == 1 ? qint32(qMax<qint64>(0, receive_mono_ms - send_mono_ms)) : -1;
        session_.addRecord(core::recordOf(reply, time.msecsSinceStartOfDay(), measure_mode,
            core::languageAt(parserLanguage), measuringMs));
        // Records without a chart point (errors, Modbus) still change the statistics it shows.
        scheduleChartReplot();
    }
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
    parseReply(data, 0, core::CheckMode::Sum8);
}
void Widget::slot_jiexi_data_eng(QString data)
{
    parseReply(data, 1, core::CheckMode::Sum8);
}
void Widget::slot_jiexi_data_modbus(QString data)
{
    parseReply(data, 0, core::CheckMode::Crc);
}
void Widget::slot_jiexi_data_modbus_eng(QString data)
{
    parseReply(data, 1, core::CheckMode::Crc);
}

void Widget::on_button_clear_show_clicked()
{
    session_.clear();
    curGraph->data()->clear();
    chart_points.clear();
    replotChart(QCustomPlot::rpRefreshHint);
    ui->plainTextEdit_show_data->clear();
    ui->plainTextEdit_show_data->setUpdatesEnabled(true);
    log_trim_noticed = false;
}
