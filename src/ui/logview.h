// LogView: the received-data log; writes, paints, follows and trims its lines under a stream.
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPlainTextEdit>
#include <QString>
#include <QTextCursor>
#include <QTimer>

#include <utility>

namespace ui {

/**
 * The log panel. It is the window's QPlainTextEdit promoted in widget.ui (object name and base
 * type unchanged), as a terminal's console is: the log is a widget with behaviour of its own, and
 * being the widget it can pace its own paints and keep its own scroll position, which a wrapper
 * could only do from outside through the widget's public face. The window says what to write;
 * how 900 replies a second are written, painted, followed and trimmed is decided here.
 */
class LogView : public QPlainTextEdit
{
    Q_OBJECT
public:
    /// Ten paints a second keep a streaming log moving smoothly; one per line would take the whole
    /// GUI thread at wire speed.
    static constexpr int kFrameMs = 100;
    /// Lines this long after the ones before come one by one (a stream at 115200 baud brings a
    /// reply every 1.1 ms), so they are painted at once.
    static constexpr qint64 kOneByOneMs = 20;
    /// Lines this far above the first one shown keep their layout, so scrolling back a little
    /// finds them laid out.
    static constexpr int kLayoutMargin = 200;

    explicit LogView(QWidget *parent = nullptr);

    /** @brief The line written once, when the oldest lines start to go (maximumBlockCount). */
    void setTrimNotice(const QString &notice) { m_trimNotice = notice; }

    /** @brief Appends @p text as plain lines. */
    void appendLine(const QString &text);
    /** @brief Appends @p text shown literally in red, one line that a line break in it wraps. */
    void appendRedLine(const QString &text);

    /** @brief Lines appended until endBatch() are written in one go (the lines of one reply). */
    void beginBatch() { m_batching = true; }
    void endBatch();

    /** @brief Empties the log; the trim notice is written again when it fills up. */
    void clearLines();

private:
    void write(const QList<std::pair<QString, bool>> &lines);
    void put(const QList<std::pair<QString, bool>> &lines);
    void endFrame();
    void forgetOldLayouts();

    QString m_trimNotice;
    bool m_trimNoticed = false; ///< the notice that old lines go has been written
    /// Lines of the batch being gathered, html flag second.
    QList<std::pair<QString, bool>> m_batch;
    bool m_batching = false;
    /// Lines of a stream, written and painted once per frame instead of once per line.
    QList<std::pair<QString, bool>> m_held;
    QTimer m_frame;
    QElapsedTimer m_sinceWrite; ///< since lines were last written
    bool m_atEnd = true; ///< the log shows its newest line, so it follows new ones
    /// Start of the first line whose layout may still be kept; the lines before it keep none.
    QTextCursor m_layoutMark;
};

} // namespace ui
