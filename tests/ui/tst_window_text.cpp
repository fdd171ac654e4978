// The window's words and looks: English at start, the language switch and back, the start
// geometry, and a quiet start.
#include "ui_widget.h"
#include "windowrig.h"

#include "testsupport.h"

#include <QMutex>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>

namespace {

// The offscreen platform's own screen (800 x 800) is narrower than the window's layout (1012 px);
// the window is shown on a 1366 x 768 laptop screen instead. Set before QTEST_MAIN's application.
const bool kLaptopScreen = [] {
    QFile config(testsupport::binaryDir() + QStringLiteral("/tst_window_text-screen.json"));
    if (qgetenv("QT_QPA_PLATFORM") != "offscreen" || !config.open(QIODevice::WriteOnly)
        || config.write(R"({"screens": [{"width": 1366, "height": 768}]})") < 0)
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
    return true;
}();

const QRegularExpression kHan(
    QStringLiteral("[\\x{2E80}-\\x{9FFF}\\x{F900}-\\x{FAFF}\\x{FF00}-\\x{FFEF}]"));

/** Every text the window shows, after the control's name: texts, tooltips, list entries. */
QStringList shownTexts(Widget &w)
{
    QStringList out { w.windowTitle(), w.ui->widget_paint->xAxis->label(),
        w.ui->widget_paint->yAxis->label() };
    for (QWidget *c : w.findChildren<QWidget *>()) {
        const QString name = c->objectName() + QLatin1Char('=');
        if (auto *b = qobject_cast<QAbstractButton *>(c))
            out << name + b->text();
        if (auto *l = qobject_cast<QLabel *>(c))
            out << name + l->text();
        if (auto *box = qobject_cast<QComboBox *>(c))
            for (int i = 0; i < box->count(); ++i)
                out << name + box->itemText(i);
        out << name + c->toolTip();
    }
    return out;
}

QMutex g_lock;
QStringList g_messages;

void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    // The offscreen platform's notice about itself, whatever window it shows.
    const QMutexLocker locker(&g_lock);
    if (message != QLatin1String("This plugin does not support propagateSizeHints()"))
        g_messages << message;
}

} // namespace

class TestWindowText : public QObject
{
    Q_OBJECT
private slots:
    void languageAndLooks_data();
    void languageAndLooks();
    void quietStart();
};

void TestWindowText::languageAndLooks_data()
{
    QTest::addColumn<QStringList>("toggled");
    QTest::newRow("toggles-at-rest") << QStringList();
    QTest::newRow("toggles-in-their-other-state")
        << QStringList { "button_light", "button_continue", "button_paint_show", "button_jiancha" };
}

void TestWindowText::languageAndLooks()
{
    QFETCH(QStringList, toggled);
    testsupport::MessageBoxCatcher boxes;
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    for (const QString &name : toggled)
        QTest::mouseClick(w.findChild<QAbstractButton *>(name), Qt::LeftButton);
    QVERIFY(w.screen()->availableGeometry().contains(w.frameGeometry()));
    QVERIFY(w.ui->button_photo_1->width() >= 150 && w.ui->button_photo_1->height() >= 150);
    const auto noTextClipped = [&w] {
        for (QAbstractButton *b : w.findChildren<QAbstractButton *>()) {
            const int need = b->fontMetrics().horizontalAdvance(b->text());
            QVERIFY2(!b->isVisible() || need <= b->contentsRect().width(), qPrintable(b->text()));
        }
    };
    noTextClipped();
    // The language button names the other language.
    const QStringList english = shownTexts(w);
    for (const QString &text : english)
        QVERIFY2(
            !kHan.match(text).hasMatch() || text.startsWith("button_Language="), qPrintable(text));

    // In Chinese no English word is left, but for names: the controls', the program's, HEX, CRC,
    // units, the web address, the language button, ports and models.
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    noTextClipped();
    const QRegularExpression names(
        QStringLiteral("^(button_Language|chuankou_Box|comboBox_mokuai_choose)=.*|^\\w*=|Tovandrix|"
                       "HEX|CRC|ms|mm|https://\\S+"));
    for (const QString &entry : shownTexts(w))
        QVERIFY2(!QString(entry).remove(names).contains(QRegularExpression("[A-Za-z]{2}")),
            qPrintable(entry));
    QTest::mouseClick(w.ui->button_Language, Qt::LeftButton);
    QCOMPARE(shownTexts(w), english);
    QCOMPARE(boxes.count(), 0);
}

void TestWindowText::quietStart()
{
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    {
        Widget w;
        w.show();
        QTest::qWait(300);
    }
    qInstallMessageHandler(previous);
    QVERIFY2(g_messages.isEmpty(), qPrintable(g_messages.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestWindowText)
#include "tst_window_text.moc"
