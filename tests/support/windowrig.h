// The window on one end of a pseudo-terminal and a virtual module on the other, for the window's
// tests; plus a catcher for the message boxes the window shows.
#pragma once

#include "sim/simserver.h"
#include "ui/widget.h"

#include <QByteArrayList>
#include <QObject>
#include <QStringList>

#include <functional>

class QMessageBox;
class QPlainTextEdit;
class QTimer;

namespace testsupport {

/** @brief Lines of @p log shown in red (module errors, refusals, port failures), as plain text. */
QStringList redLines(const QPlainTextEdit *log);

/**
 * Watches for modal message boxes while alive, records the title and text of each and closes it
 * with its OK button, so slots that show a box do not block a test.
 */
class MessageBoxCatcher : public QObject
{
    Q_OBJECT
public:
    explicit MessageBoxCatcher(QObject *parent = nullptr);

    int count() const { return m_titles.size(); }
    QString lastTitle() const { return m_titles.value(m_titles.size() - 1); }
    QString lastText() const { return m_texts.value(m_texts.size() - 1); }
    void clear();

private:
    void poll();

    QTimer *m_timer;
    QStringList m_titles;
    QStringList m_texts;
};

/**
 * One window and one virtual module. The port is closed before the window goes, and the window
 * goes before the module, so no hang-up reaches the window. What the module read and what it
 * was told to send are recorded in the main thread: the oracle of every end-to-end check.
 */
struct WindowRig
{
    sim::SimServer server;
    MessageBoxCatcher boxes;
    Widget w;
    QByteArray received; ///< every byte the module read
    QByteArrayList replies; ///< every reply the module handed to the line, faults applied

    WindowRig();
    ~WindowRig();

    /**
     * @brief Starts the module with @p options and opens its port through the window at the
     * module's line speed, in check mode @p checkMode and @p language. False (with a warning
     * that says why) when the port does not open.
     */
    bool open(const sim::ServerOptions &options, int checkMode, int language = 1);
    /** @brief Clicks the button of that object name. */
    void click(const char *objectName);
    /** @brief The log's text. */
    QString log() const;
    /** @brief Waits until @p n replies have left the module and the window has had time to
     * take them in; false on timeout. */
    bool waitForReplies(int n, int timeoutMs = 5000);
};

} // namespace testsupport
