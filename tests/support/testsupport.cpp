// Helpers shared by the test programs.
#include "testsupport.h"

#include "frames.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace testsupport {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray aa(const char *body, quint8 header)
{
    const QByteArray b = hex(body);
    return char(header) + b + char(frames::sum8(b.constData(), b.size()));
}

QByteArray rtu(const char *body)
{
    return frames::appendCrc(hex(body));
}

QString sourceDir()
{
    return qEnvironmentVariable("TOVANDRIX_SOURCE_DIR", QStringLiteral("."));
}

QString binaryDir()
{
    return qEnvironmentVariable("TOVANDRIX_BINARY_DIR", QStringLiteral("."));
}

MessageBoxCatcher::MessageBoxCatcher(QObject *parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(5);
    connect(m_timer, &QTimer::timeout, this, &MessageBoxCatcher::poll);
    m_timer->start();
}

MessageBoxCatcher::~MessageBoxCatcher() = default;

void MessageBoxCatcher::clear()
{
    m_titles.clear();
    m_texts.clear();
}

void MessageBoxCatcher::poll()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget *w : widgets) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible())
            continue;
        m_titles << box->windowTitle();
        m_texts << box->text();
        if (m_onBox)
            m_onBox(box);
        QAbstractButton *ok = box->button(QMessageBox::Ok);
        if (ok)
            ok->click();
        else
            box->done(0);
    }
}

} // namespace testsupport
