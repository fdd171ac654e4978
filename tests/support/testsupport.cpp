// Helpers shared by the test programs.
#include "testsupport.h"

#include "frames.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTextBlock>
#include <QTextDocument>
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

QString aaMeasurement(qint32 distance, qint16 signal)
{
    QByteArray body = hex("00 00 22 00 03");
    for (int shift = 24; shift >= 0; shift -= 8)
        body.append(char((quint32(distance) >> shift) & 0xFF));
    body.append(char((quint16(signal) >> 8) & 0xFF));
    body.append(char(quint16(signal) & 0xFF));
    return frames::toPackedHex(
        char(0xAA) + body + char(frames::sum8(body.constData(), body.size())));
}

QByteArray rtu(const char *body)
{
    return frames::appendCrc(hex(body));
}

QStringList redLines(const QPlainTextEdit *log)
{
    QStringList lines;
    const QTextDocument *doc = log->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().foreground().color() == QColor(Qt::red)) {
                lines << block.text();
                break;
            }
        }
    }
    return lines;
}

QString pythonWithOpenpyxl()
{
    // A pyenv shim may shadow the Debian interpreter that has openpyxl.
    for (const QString &candidate :
        { QStringLiteral("python3"), QStringLiteral("/usr/bin/python3") }) {
        QProcess probe;
        probe.start(candidate, { QStringLiteral("-c"), QStringLiteral("import openpyxl") });
        if (probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit
            && probe.exitCode() == 0)
            return candidate;
    }
    return {};
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
