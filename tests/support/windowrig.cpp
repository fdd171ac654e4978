// The window on one end of a pseudo-terminal and a virtual module on the other, for the window's
// tests; plus a catcher for the message boxes the window shows.
#include "windowrig.h"

#include "ui_widget.h"

#include "core/commands.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

namespace testsupport {

namespace {
constexpr qint64 kSettleMs = 300;
}

QStringList redLines(const QPlainTextEdit *log)
{
    QStringList lines;
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().foreground().color() == QColor(Qt::red)) {
                lines << block.text();
                break;
            }
        }
    }
    return lines;
}

MessageBoxCatcher::MessageBoxCatcher(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(5);
    connect(m_timer, &QTimer::timeout, this, &MessageBoxCatcher::poll);
    m_timer->start();
}

void MessageBoxCatcher::clear()
{
    m_titles.clear();
    m_texts.clear();
}

void MessageBoxCatcher::poll()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        m_titles << box->windowTitle();
        m_texts << box->text();
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->done(0);
    }
}

WindowRig::WindowRig()
{
    QObject::connect(&server, &sim::SimServer::bytesReceived, &w,
        [this](const QByteArray &bytes) { received += bytes; });
    QObject::connect(&server, &sim::SimServer::replySent, &w,
        [this](const QByteArray &bytes) { replies << bytes; });
}

WindowRig::~WindowRig()
{
    if (w.serialport_state_1) {
        QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
        if (!QTest::qWaitFor([this] { return !w.serialport_state_1; }, 5000))
            qWarning("the port did not close");
    }
}

bool WindowRig::open(const sim::ServerOptions &options, int checkMode, int language)
{
    if (!server.start(options)) {
        qWarning("virtual module: %s", qPrintable(server.errorString()));
        return false;
    }
    if (language != w.language)
        QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    w.ui->chuankou_Box->addItem(server.slavePath() + QStringLiteral(" test"), server.slavePath());
    w.ui->chuankou_Box->setCurrentIndex(w.ui->chuankou_Box->count() - 1);
    const int rate = core::protocol::kBaudRates[options.module.baudCode];
    w.ui->botelv_Box->setCurrentIndex(w.ui->botelv_Box->findText(QString::number(rate)));
    QTest::mouseClick(w.ui->open_button, Qt::LeftButton);
    if (!QTest::qWaitFor([this] { return w.serialport_state_1; }, 5000)) {
        qWarning("the port did not open:\n%s", qPrintable(log()));
        return false;
    }
    w.ui->jiaoyan_mode->setCurrentIndex(checkMode);
    emit w.ui->jiaoyan_mode->activated(checkMode);
    return true;
}

void WindowRig::click(const char *objectName)
{
    auto *button = w.findChild<QAbstractButton *>(QLatin1String(objectName));
    if (!button)
        qFatal("no button %s", objectName);
    QTest::mouseClick(button, Qt::LeftButton);
}

QString WindowRig::log() const
{
    return w.ui->plainTextEdit_show_data->toPlainText();
}

bool WindowRig::waitForReplies(int n, int timeoutMs)
{
    if (!QTest::qWaitFor([&] { return replies.size() >= n; }, timeoutMs))
        return false;
    // The last reply still crosses the line, the worker's silence and the window's queue, which
    // on a loaded machine can take a while: wait until the log has stopped growing for a while.
    int lines = -1;
    QElapsedTimer quiet;
    return QTest::qWaitFor(
        [&] {
            const int now = w.ui->plainTextEdit_show_data->blockCount();
            if (now != lines) {
                lines = now;
                quiet.start();
            }
            return quiet.elapsed() >= kSettleMs;
        },
        timeoutMs);
}

} // namespace testsupport
