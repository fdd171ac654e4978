// LogView: the received-data log; writes, paints, follows and trims its lines under a stream.
#include "ui/logview.h"

#include <QScrollBar>
#include <QTextBlock>

namespace ui {

namespace {
QString htmlText(const QString &text)
{
    // Rich text folds runs of blanks into one; the log must show "0  [" as plain lines do.
    return text.toHtmlEscaped()
        .replace(QLatin1String("  "), QLatin1String("&nbsp; "))
        .replace(QLatin1Char('\n'), QLatin1String("<br>"));
}
} // namespace

LogView::LogView(QWidget *parent)
    : QPlainTextEdit(parent)
{
    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &LogView::endFrame);
    // Qt keeps a log at its end only as lines are added. When the chart or the splitter takes
    // some of the log's room, its first line stays put and the newest ones drop out of sight,
    // and from then on new lines are added out of sight too. A log shown to its end stays there.
    QScrollBar *bar = verticalScrollBar();
    connect(bar, &QAbstractSlider::valueChanged, this,
        [this, bar](int value) { m_atEnd = value == bar->maximum(); });
    connect(bar, &QAbstractSlider::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_atEnd)
            bar->setValue(maximum);
    });
}

void LogView::appendLine(const QString &text)
{
    if (m_batching)
        m_batch.append({ text, false });
    else
        write({ { text, false } });
}

void LogView::appendRedLine(const QString &text)
{
    const QString html
        = QStringLiteral("<font color='red'>") + htmlText(text) + QStringLiteral("</font>");
    if (m_batching)
        m_batch.append({ html, true });
    else
        write({ { html, true } });
}

void LogView::endBatch()
{
    m_batching = false;
    write(std::exchange(m_batch, {}));
}

void LogView::clearLines()
{
    clear();
    m_held.clear();
    m_trimNoticed = false;
}

void LogView::write(const QList<std::pair<QString, bool>> &lines)
{
    if (lines.isEmpty())
        return;
    const qint64 gap = m_sinceWrite.isValid() ? m_sinceWrite.elapsed() : kFrameMs;
    m_sinceWrite.start();
    if (!m_frame.isActive()) {
        // The first lines after a pause are written and painted at once; the frame starts now.
        m_frame.start(kFrameMs);
        put(lines);
        return;
    }
    // Lines that come one by one (single measurements) are written at once too, while the line
    // is quiet; held to the end of the frame, their paint would often start just as the next
    // reply arrives and hold it up. A stream is written in one go at the end of each frame: each
    // write lays out the line before it and measures the document again, which line by line was
    // most of the window's work at wire speed, and a paint per frame shows the same.
    if (gap >= kOneByOneMs) {
        m_held += lines;
        put(std::exchange(m_held, {}));
        return;
    }
    m_held += lines;
}

void LogView::put(const QList<std::pair<QString, bool>> &lines)
{
    if (lines.isEmpty())
        return;
    // The notice goes just before the write that takes the log past its limit, so it stands
    // where lines start to go.
    if (!m_trimNoticed && maximumBlockCount() > 0) {
        int incoming = 0;
        for (const auto &[text, html] : lines)
            incoming += 1 + int(html ? 0 : text.count(QLatin1Char('\n')));
        const int shown = document()->isEmpty() ? 0 : blockCount();
        if (shown + incoming > maximumBlockCount()) {
            m_trimNoticed = true;
            appendPlainText(m_trimNotice);
        }
    }
    // Every append lays out the line before it, so neighbouring plain lines go in together.
    QString plain;
    for (const auto &[text, html] : lines) {
        if (!html) {
            plain += plain.isNull() ? text : QLatin1Char('\n') + text;
            continue;
        }
        if (!plain.isNull())
            appendPlainText(std::exchange(plain, QString()));
        appendHtml(text);
    }
    if (!plain.isNull())
        appendPlainText(plain);
}

void LogView::endFrame()
{
    // The frame runs on while lines come, so its end also lets go of old layouts.
    const bool streaming = !m_held.isEmpty();
    put(std::exchange(m_held, {}));
    forgetOldLayouts();
    if (streaming)
        m_frame.start(kFrameMs);
}

void LogView::forgetOldLayouts()
{
    // Every line painted once keeps its layout, which costs more memory than its text, and
    // whenever the widest line leaves the top of a full log Qt measures every kept layout again.
    // Lines scrolled well out of sight give theirs up; Qt lays a line out again when it is shown.
    QTextDocument *doc = document();
    if (m_layoutMark.isNull() || m_layoutMark.document() != doc)
        m_layoutMark = QTextCursor(doc);
    const int shownFrom = cursorForPosition(QPoint(0, 0)).blockNumber();
    const QTextBlock keepFrom = doc->findBlockByNumber(shownFrom - kLayoutMargin);
    if (!keepFrom.isValid())
        return;
    // The mark is a cursor, so it stays on its line as lines are added and removed; when its
    // line is dropped from the top it moves to the new first line.
    const int stop = keepFrom.blockNumber();
    QTextBlock b = m_layoutMark.block();
    for (int n = b.blockNumber(); b.isValid() && n < stop; b = b.next(), ++n)
        b.clearLayout();
    if (keepFrom.position() > m_layoutMark.position())
        m_layoutMark.setPosition(keepFrom.position());
}

} // namespace ui
