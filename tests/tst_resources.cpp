// Checks that the module pictures, the combo-box arrow and the window icon are built in and usable.
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QTest>

class TestResources : public QObject
{
    Q_OBJECT
private slots:
    void images_data();
    void images();
    void arrowPointsDown_data();
    void arrowPointsDown();
    void iconSizes_data();
    void iconSizes();
};

void TestResources::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const QSize picture(800, 800);
    QTest::newRow("rm01-rm04-front-800x800") << ":/new/prefix1/1.png" << picture;
    QTest::newRow("rm01-rm04-back-800x800") << ":/new/prefix1/2.png" << picture;
    QTest::newRow("rm05-rm06-front-800x800") << ":/new/prefix1/3.png" << picture;
    QTest::newRow("rm05-rm06-side-800x800") << ":/new/prefix1/4.png" << picture;
    QTest::newRow("rm07-rm11-front-800x800") << ":/new/prefix1/5.png" << picture;
    QTest::newRow("rm07-rm11-side-800x800") << ":/new/prefix1/6.png" << picture;
    QTest::newRow("combo-arrow-any-size") << ":/new/prefix1/down_arrow.jpg" << QSize();
    QTest::newRow("window-icon-any-size") << ":/new/prefix1/tuxing_1.ico" << QSize();
}

void TestResources::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path + " does not load"));
    if (size.isValid())
        QCOMPARE(image.size(), size);
    // A painter that silently failed leaves one flat colour behind.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += qMax(1, image.height() / 16))
        for (int x = 0; x < image.width(); x += qMax(1, image.width() / 16))
            colours.insert(image.pixel(x, y));
    QVERIFY2(colours.size() > 1, qPrintable(path + " is one flat colour"));
}

void TestResources::arrowPointsDown_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("combo-arrow-dark-on-white") << ":/new/prefix1/down_arrow.jpg";
}

// The drop-down arrow must sit on white (the combo boxes are white) and narrow downwards.
void TestResources::arrowPointsDown()
{
    QFETCH(QString, path);
    const QImage image(path);
    QVERIFY(!image.isNull());
    QVERIFY(qGray(image.pixel(0, 0)) > 240);
    QVERIFY(qGray(image.pixel(image.width() - 1, image.height() - 1)) > 240);
    QList<int> darkWidths;
    for (int y = 0; y < image.height(); ++y) {
        int dark = 0;
        for (int x = 0; x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
        if (dark > 0)
            darkWidths.append(dark);
    }
    QVERIFY2(darkWidths.size() >= 3, "no arrow drawn");
    QVERIFY(darkWidths.first() > darkWidths.last());
}

void TestResources::iconSizes_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("window-icon-holds-64px") << QSize(64, 64);
    QTest::newRow("window-icon-holds-32px") << QSize(32, 32);
}

void TestResources::iconSizes()
{
    QFETCH(QSize, size);
    const QString path = QStringLiteral(":/new/prefix1/tuxing_1.ico");
    const QIcon icon(path);
    QVERIFY(!icon.availableSizes().isEmpty());
    // Every image of the file must be readable, not only the first one.
    QImageReader reader(path);
    QList<QSize> sizes;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read();
        QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
        sizes.append(image.size());
    }
    QVERIFY2(sizes.contains(size), "size missing from the icon file");
    QVERIFY(!icon.pixmap(size).isNull());
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
