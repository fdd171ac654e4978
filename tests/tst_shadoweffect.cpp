// Checks that the kept drop shadow looks like Qt's own and is blurred again only when it must be.
#include "shadoweffect.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTest>

#include <functional>

namespace {

/** A grey pane holding one widget with a drop shadow, as the window's panels do. */
struct Pane
{
    QWidget pane;
    QWidget *child = nullptr;

    Pane(QWidget *widget, QGraphicsDropShadowEffect *effect)
        : child(widget)
    {
        pane.resize(220, 120);
        pane.setAutoFillBackground(true);
        QPalette palette = pane.palette();
        palette.setColor(QPalette::Window, QColor(0xc8, 0xc8, 0xc8));
        pane.setPalette(palette);
        widget->setParent(&pane);
        widget->setGeometry(20, 20, 150, 70);
        if (!effect)
            return;
        effect->setOffset(1, 1);
        effect->setColor(QColor(QStringLiteral("#000000")));
        effect->setBlurRadius(5);
        widget->setGraphicsEffect(effect);
    }

    QImage picture() { return pane.grab().toImage().convertToFormat(QImage::Format_ARGB32); }
};

/** Where two pictures of the same size differ most in any colour channel, and by how much. */
struct Difference
{
    int largest = 0;
    QPoint at;
    QRgb ours = 0;
    QRgb qts = 0;

    QString describe() const
    {
        return QStringLiteral("differs by %1 at (%2, %3): %4 against Qt's %5")
            .arg(largest)
            .arg(at.x())
            .arg(at.y())
            .arg(ours, 8, 16, QLatin1Char('0'))
            .arg(qts, 8, 16, QLatin1Char('0'));
    }
};

Difference compare(const QImage &a, const QImage &b)
{
    Difference d;
    if (a.size() != b.size()) {
        d.largest = 256;
        return d;
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int m = std::max({ std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                std::abs(qBlue(p) - qBlue(q)) });
            if (m > d.largest)
                d = { m, QPoint(x, y), p, q };
        }
    }
    return d;
}

using Make = std::function<QWidget *()>;
using Change = std::function<void(QWidget *)>;

} // namespace

Q_DECLARE_METATYPE(Make)
Q_DECLARE_METATYPE(Change)

class TestShadowEffect : public QObject
{
    Q_OBJECT
private slots:
    void looksLikeQtsShadow_data();
    void looksLikeQtsShadow();
};

void TestShadowEffect::looksLikeQtsShadow_data()
{
    QTest::addColumn<Make>("make");
    QTest::addColumn<Change>("change");
    QTest::addColumn<int>("blursAfterChange");

    const Make roundedPanel = [] {
        auto *w = new QWidget;
        w->setAttribute(Qt::WA_StyledBackground);
        w->setStyleSheet(QStringLiteral("background: #ffffff; border-radius: 8px;"));
        return w;
    };
    const Make label = [] {
        auto *w = new QLabel(QStringLiteral("Range Line"));
        w->setFont(QFont(QStringLiteral("DejaVu Sans"), 14, QFont::Bold));
        return w;
    };
    const Make log = [] {
        auto *w = new QPlainTextEdit;
        w->appendPlainText(QStringLiteral("[12:00:00.000] 0  AA 00 00 22"));
        return w;
    };

    QTest::newRow("rounded-panel-recoloured-keeps-its-blur")
        << roundedPanel << Change([](QWidget *w) {
               w->setStyleSheet(QStringLiteral("background: #ffe0e0; border-radius: 8px;"));
           })
        << 1;
    QTest::newRow("log-with-new-lines-keeps-its-blur") << log << Change([](QWidget *w) {
        auto *edit = static_cast<QPlainTextEdit *>(w);
        for (int i = 0; i < 20; ++i)
            edit->appendHtml(QStringLiteral("<font color='red'>line %1</font>").arg(i));
    }) << 1;
    QTest::newRow("label-with-other-text-blurs-anew") << label << Change([](QWidget *w) {
        static_cast<QLabel *>(w)->setText(QStringLiteral("Chart"));
    }) << 2;
    QTest::newRow("resized-panel-blurs-anew")
        << roundedPanel << Change([](QWidget *w) { w->resize(120, 60); }) << 2;
    QTest::newRow("wider-blur-radius-blurs-anew") << roundedPanel << Change([](QWidget *w) {
        if (auto *effect = qobject_cast<QGraphicsDropShadowEffect *>(w->graphicsEffect()))
            effect->setBlurRadius(9);
    }) << 2;
}

void TestShadowEffect::looksLikeQtsShadow()
{
    QFETCH(Make, make);
    QFETCH(Change, change);
    QFETCH(int, blursAfterChange);

    auto *kept = new ShadowEffect;
    Pane ours(make(), kept);
    Pane qts(make(), new QGraphicsDropShadowEffect);
    Pane plain(make(), nullptr);

    // Antialiased edges may differ by a rounding step where shadow and widget overlap.
    const int tolerance = 2;
    Difference d = compare(ours.picture(), qts.picture());
    QVERIFY2(d.largest <= tolerance, qPrintable(d.describe()));
    // Drawn again unchanged: the kept shadow serves.
    d = compare(ours.picture(), qts.picture());
    QVERIFY2(d.largest <= tolerance, qPrintable(d.describe()));
    QCOMPARE(kept->blurCount(), 1);

    change(ours.child);
    change(qts.child);
    change(plain.child);
    const QImage after = ours.picture();
    d = compare(after, qts.picture());
    QVERIFY2(d.largest <= tolerance, qPrintable(d.describe()));
    QCOMPARE(kept->blurCount(), blursAfterChange);
    // The shadow really is there: the picture is darker than the same widget without one.
    QVERIFY(compare(after, plain.picture()).largest > 20);
}

QTEST_MAIN(TestShadowEffect)
#include "tst_shadoweffect.moc"
