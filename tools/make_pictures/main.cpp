// Draws the module pictures, the combo-box arrow and the window icon into a folder.
#include <QBuffer>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QtEndian>

#include <cstdio>
#include <functional>

namespace {

constexpr int kSide = 800;
const QColor kHoleColor(232, 236, 241);
const QColor kSilk(238, 242, 236);

QFont sansFont(int pixels, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QLinearGradient verticalGradient(qreal top, qreal bottom, const QColor &from, const QColor &to)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, from);
    g.setColorAt(1, to);
    return g;
}

// Studio backdrop and the caption that names the models and the view.
void backdrop(QPainter &p, const QString &caption)
{
    p.fillRect(0, 0, kSide, kSide,
        verticalGradient(0, kSide, QColor(251, 252, 253), QColor(221, 226, 232)));
    p.setPen(QPen(QColor(175, 182, 192), 1.5));
    p.drawLine(290, 722, 510, 722);
    p.setFont(sansFont(24));
    p.setPen(QColor(70, 78, 90));
    p.drawText(QRect(0, 730, kSide, 40), Qt::AlignCenter, caption);
}

// QPainter has no blur, so stacked translucent outlines stand in for a soft drop shadow.
void softShadow(QPainter &p, const QRectF &r, qreal radius)
{
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 30, 40, 7));
    for (int i = 14; i > 0; i -= 1)
        p.drawRoundedRect(r.adjusted(-i, -i, i, i).translated(8, 16), radius + i, radius + i);
    p.restore();
}

void disc(QPainter &p, QPointF c, qreal r, const QBrush &brush, const QPen &pen = Qt::NoPen)
{
    p.setPen(pen);
    p.setBrush(brush);
    p.drawEllipse(c, r, r);
}

// Glass with a dark bezel and a specular highlight; the tint tells emitter from receiver.
void lens(QPainter &p, QPointF c, qreal r, const QColor &tint)
{
    disc(p, c, r + r * 0.18, QColor(18, 18, 20));
    disc(p, c, r + r * 0.08, QColor(70, 72, 78));
    QRadialGradient glass(c + QPointF(-r * 0.3, -r * 0.3), r * 1.4);
    glass.setColorAt(0, tint.lighter(170));
    glass.setColorAt(0.45, tint);
    glass.setColorAt(1, QColor(5, 5, 10));
    disc(p, c, r, glass);
    p.setBrush(QColor(255, 255, 255, 120));
    p.drawEllipse(QRectF(c.x() - r * 0.55, c.y() - r * 0.62, r * 0.5, r * 0.3));
    disc(p, c + QPointF(r * 0.35, r * 0.4), r * 0.08, QColor(255, 255, 255, 90));
}

void mountingHole(QPainter &p, QPointF c, qreal r, const QColor &ring)
{
    disc(p, c, r * 1.7, ring, QPen(ring.darker(130), 1.5));
    disc(p, c, r, kHoleColor, QPen(QColor(0, 0, 0, 90), 2));
}

// Cross-recessed screw head as used on the housings.
void screw(QPainter &p, QPointF c, qreal r)
{
    QRadialGradient g(c + QPointF(-r / 3, -r / 3), r * 1.5);
    g.setColorAt(0, QColor(235, 237, 240));
    g.setColorAt(1, QColor(120, 124, 130));
    disc(p, c, r, g, QPen(QColor(90, 94, 100), 1.5));
    p.setPen(QPen(QColor(60, 62, 66), r / 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c + QPointF(-r / 2, 0), c + QPointF(r / 2, 0));
    p.drawLine(c + QPointF(0, -r / 2), c + QPointF(0, r / 2));
}

void pcbBoard(QPainter &p, const QRectF &board)
{
    softShadow(p, board, 14);
    p.setPen(QPen(QColor(12, 70, 36), 3));
    p.setBrush(
        verticalGradient(board.top(), board.bottom(), QColor(40, 140, 72), QColor(22, 100, 52)));
    p.drawRoundedRect(board, 14, 14);
    for (QPointF c : { board.topLeft() + QPointF(32, 32), board.topRight() + QPointF(-32, 32),
             board.bottomLeft() + QPointF(32, -32), board.bottomRight() + QPointF(-32, -32) })
        mountingHole(p, c, 11, QColor(214, 178, 92));
}

void smdPart(QPainter &p, const QRectF &r, const QColor &body)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 203, 208));
    p.drawRect(r);
    p.setBrush(body);
    p.drawRect(r.adjusted(r.width() * 0.25, 0, -r.width() * 0.25, 0));
}

void silkText(QPainter &p, const QRectF &r, const QString &text, int pixels = 16)
{
    p.setPen(kSilk);
    p.setFont(sansFont(pixels, true));
    p.drawText(r, Qt::AlignCenter, text);
}

const QStringList kPinNames
    = { QStringLiteral("VCC"), QStringLiteral("GND"), QStringLiteral("TX"), QStringLiteral("RX") };

// Group 1, front: bare green board with the optics holder and a 4-pin header.
void pcbFront(QPainter &p)
{
    const QRectF board(150, 190, 500, 380);
    pcbBoard(p, board);
    p.setPen(QPen(kSilk, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(238, 238, 324, 194), 8, 8);
    p.setPen(QPen(QColor(10, 10, 12), 2));
    p.setBrush(verticalGradient(245, 425, QColor(62, 64, 70), QColor(20, 20, 24)));
    p.drawRoundedRect(QRectF(245, 245, 310, 180), 12, 12);
    lens(p, QPointF(318, 335), 30, QColor(170, 30, 30));
    lens(p, QPointF(462, 335), 58, QColor(40, 60, 120));
    for (int i = 0; i < 3; ++i) {
        smdPart(p, QRectF(200 + i * 34, 452, 24, 12), QColor(40, 40, 44));
        smdPart(p, QRectF(520 + i * 30, 452, 20, 12), QColor(176, 140, 90));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(25, 25, 28));
    p.drawRect(QRectF(320, 505, 160, 34));
    for (int i = 0; i < 4; ++i) {
        p.setBrush(verticalGradient(512, 532, QColor(250, 220, 130), QColor(180, 140, 50)));
        p.drawRect(QRectF(332 + i * 40, 512, 16, 20));
        silkText(p, QRectF(320 + i * 40, 478, 40, 22), kPinNames.at(i), 13);
    }
    silkText(p, QRectF(238, 200, 324, 30), QStringLiteral("LASER RANGE MODULE"), 15);
}

// Group 1, back: controller, crystal, traces and the header's solder joints.
void pcbBack(QPainter &p)
{
    const QRectF board(150, 190, 500, 380);
    pcbBoard(p, board);
    p.setPen(QPen(QColor(70, 170, 96), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 8; ++i) {
        const qreal y = 291 + i * 14, end = 236 + (i % 2) * 34;
        p.drawLine(QPointF(end, y), QPointF(342, y));
        disc(p, QPointF(end, y), 5, QColor(214, 178, 92));
        p.setPen(QPen(QColor(70, 170, 96), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    for (int i = 0; i < 4; ++i) {
        const qreal x = 399 + i * 14, pad = 340 + i * 40;
        p.drawPolyline(
            QPolygonF({ QPointF(x, 418), QPointF(x, 440), QPointF(pad, 490), QPointF(pad, 510) }));
    }
    p.drawPolyline(QPolygonF({ QPointF(498, 305), QPointF(520, 305), QPointF(535, 313) }));
    p.drawPolyline(QPolygonF({ QPointF(498, 361), QPointF(530, 361), QPointF(530, 367) }));
    p.setPen(QPen(QColor(205, 208, 214), 3));
    for (int i = 0; i < 8; ++i) {
        const qreal x = 371 + i * 14, y = 291 + i * 14;
        p.drawLine(QPointF(x, 262), QPointF(x, 278));
        p.drawLine(QPointF(x, 402), QPointF(x, 418));
        p.drawLine(QPointF(342, y), QPointF(358, y));
        p.drawLine(QPointF(482, y), QPointF(498, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(verticalGradient(280, 400, QColor(50, 52, 58), QColor(22, 22, 26)));
    p.drawRect(QRectF(358, 278, 124, 124));
    disc(p, QPointF(374, 294), 5, QColor(70, 72, 78));
    p.setBrush(verticalGradient(300, 340, QColor(235, 236, 240), QColor(150, 152, 160)));
    p.drawRoundedRect(QRectF(535, 300, 60, 26), 12, 12);
    for (int i = 0; i < 4; ++i)
        smdPart(p, QRectF(530 + (i % 2) * 36, 360 + (i / 2) * 26, 26, 14), QColor(176, 140, 90));
    for (int i = 0; i < 4; ++i) {
        const QPointF c(340 + i * 40, 522);
        disc(p, c, 13, QColor(214, 178, 92));
        disc(p, c, 8, QColor(215, 218, 224), QPen(QColor(150, 152, 160), 1.5));
        silkText(p, QRectF(c.x() - 20, 537, 40, 22), kPinNames.at(3 - i), 13);
    }
    silkText(p, QRectF(500, 425, 120, 24), QStringLiteral("REV 2.1"), 14);
}

// Group 2 shares one black housing; the ears carry the mounting holes.
void blackBody(QPainter &p, const QRectF &body)
{
    softShadow(p, body, 28);
    p.setPen(QPen(QColor(8, 8, 10), 2));
    p.setBrush(verticalGradient(body.top(), body.bottom(), QColor(72, 74, 80), QColor(24, 25, 28)));
    p.drawRoundedRect(body, 28, 28);
    p.setPen(QPen(QColor(255, 255, 255, 50), 2));
    p.drawLine(body.topLeft() + QPointF(30, 4), body.topRight() + QPointF(-30, 4));
}

void cable(QPainter &p, const QPainterPath &path)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(30, 30, 34), 28, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(path);
    p.setPen(QPen(QColor(88, 90, 98), 6, Qt::SolidLine, Qt::FlatCap));
    p.drawPath(path);
}

void housingFront(QPainter &p)
{
    QPainterPath wire(QPointF(400, 600));
    wire.cubicTo(400, 710, 600, 650, 820, 700);
    cable(p, wire);
    for (qreal x : { 150.0, 570.0 }) {
        const QRectF ear(x, 340, 80, 110);
        softShadow(p, ear, 10);
        p.setPen(QPen(QColor(8, 8, 10), 2));
        p.setBrush(QColor(44, 45, 50));
        p.drawRoundedRect(ear, 10, 10);
        disc(p, ear.center() + QPointF(x < 400 ? -8 : 8, 0), 14, kHoleColor, QPen(Qt::black, 2));
    }
    blackBody(p, QRectF(220, 180, 360, 410));
    p.setBrush(QColor(34, 35, 38));
    p.setPen(QPen(QColor(90, 92, 98), 2));
    p.drawRoundedRect(QRectF(250, 205, 300, 360), 18, 18);
    lens(p, QPointF(400, 340), 86, QColor(60, 40, 120));
    lens(p, QPointF(330, 490), 24, QColor(170, 30, 30));
    disc(p, QPointF(480, 490), 7, QColor(60, 220, 90), QPen(QColor(20, 60, 30), 2));
    p.setPen(QColor(150, 152, 160));
    p.setFont(sansFont(16, true));
    p.drawText(QRectF(250, 525, 300, 30), Qt::AlignCenter, QStringLiteral("RANGE"));
    p.setBrush(verticalGradient(590, 625, QColor(70, 72, 78), QColor(30, 30, 34)));
    p.setPen(QPen(Qt::black, 2));
    p.drawRoundedRect(QRectF(375, 588, 50, 34), 6, 6);
}

// Yellow laser warning label; a plain triangle and a dot, no real label is copied.
void warningLabel(QPainter &p, QPointF c, qreal s)
{
    QPolygonF triangle(
        { c + QPointF(0, -s), c + QPointF(s * 0.95, s * 0.7), c + QPointF(-s * 0.95, s * 0.7) });
    p.setPen(QPen(Qt::black, s / 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(250, 205, 40));
    p.drawPolygon(triangle);
    disc(p, c + QPointF(0, s * 0.2), s * 0.18, Qt::black);
}

void housingSide(QPainter &p)
{
    QPainterPath wire(QPointF(430, 600));
    wire.cubicTo(430, 710, 620, 660, 820, 710);
    cable(p, wire);
    const QRectF body(300, 180, 260, 410);
    p.setPen(QPen(Qt::black, 2));
    for (auto [y, r] : { std::pair<qreal, qreal> { 340, 94 }, { 490, 30 } }) {
        p.setBrush(verticalGradient(y - r, y + r, QColor(80, 82, 88), QColor(18, 18, 20)));
        p.drawRect(QRectF(body.left() - 36, y - r, 50, 2 * r));
        p.setBrush(verticalGradient(y - r, y + r, QColor(90, 80, 150), QColor(10, 8, 30)));
        p.drawRoundedRect(QRectF(body.left() - 44, y - r + 8, 14, 2 * r - 16), 6, 6);
    }
    blackBody(p, body);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(236, 238, 240));
    p.drawRoundedRect(QRectF(340, 260, 180, 150), 6, 6);
    p.setBrush(QColor(150, 154, 160));
    for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF(356, 330 + i * 14, 150 - (i % 3) * 30, 6));
    warningLabel(p, QPointF(380, 296), 22);
    p.setPen(QColor(60, 64, 70));
    p.setFont(sansFont(15, true));
    p.drawText(
        QRectF(410, 282, 100, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("CLASS 2"));
    screw(p, QPointF(340, 540), 12);
    screw(p, QPointF(520, 540), 12);
    p.setBrush(verticalGradient(590, 625, QColor(70, 72, 78), QColor(30, 30, 34)));
    p.setPen(QPen(Qt::black, 2));
    p.drawRoundedRect(QRectF(405, 588, 50, 34), 6, 6);
}

// Brushed aluminium: a steel gradient with faint random streaks along the brushing direction.
void aluminium(QPainter &p, const QRectF &r, qreal radius, bool streaksAcross)
{
    p.setPen(QPen(QColor(110, 116, 124), 2));
    p.setBrush(verticalGradient(r.top(), r.bottom(), QColor(232, 235, 239), QColor(150, 156, 164)));
    p.drawRoundedRect(r, radius, radius);
    QPainterPath clip;
    clip.addRoundedRect(r.adjusted(2, 2, -2, -2), radius, radius);
    p.save();
    p.setClipPath(clip);
    QRandomGenerator random(11);
    for (int i = 0; i < 220; ++i) {
        const int shade = random.bounded(2) ? 255 : 80;
        p.setPen(QPen(QColor(shade, shade, shade, 10 + random.bounded(18)), 1));
        const qreal at = random.bounded(streaksAcross ? r.height() : r.width());
        if (streaksAcross)
            p.drawLine(QPointF(r.left(), r.top() + at), QPointF(r.right(), r.top() + at));
        else
            p.drawLine(QPointF(r.left() + at, r.top()), QPointF(r.left() + at, r.bottom()));
    }
    p.restore();
}

void tubeFront(QPainter &p)
{
    const QRectF face(200, 230, 400, 300);
    softShadow(p, face, 24);
    aluminium(p, face, 24, true);
    p.setPen(QPen(QColor(60, 62, 70), 2));
    p.setBrush(verticalGradient(260, 500, QColor(40, 42, 50), QColor(8, 8, 12)));
    p.drawRoundedRect(QRectF(250, 265, 300, 230), 16, 16);
    lens(p, QPointF(310, 380), 34, QColor(170, 30, 30));
    lens(p, QPointF(450, 380), 78, QColor(40, 90, 110));
    for (QPointF c : { QPointF(226, 256), QPointF(574, 256), QPointF(226, 504), QPointF(574, 504) })
        screw(p, c, 11);
}

void tubeSide(QPainter &p)
{
    QPainterPath wire(QPointF(705, 390));
    wire.cubicTo(770, 390, 760, 560, 820, 600);
    cable(p, wire);
    const QRectF body(100, 300, 540, 180);
    softShadow(p, body, 16);
    aluminium(p, body, 16, true);
    p.setPen(QPen(QColor(110, 116, 124), 2));
    for (qreal y : { 350.0, 430.0 }) {
        p.drawLine(QPointF(112, y), QPointF(628, y));
        p.setPen(QPen(QColor(255, 255, 255, 160), 2));
        p.drawLine(QPointF(112, y + 2), QPointF(628, y + 2));
        p.setPen(QPen(QColor(110, 116, 124), 2));
    }
    p.setBrush(verticalGradient(300, 480, QColor(50, 52, 60), QColor(10, 10, 14)));
    p.drawRoundedRect(QRectF(86, 306, 26, 168), 6, 6);
    for (qreal x : { 200.0, 500.0 }) {
        p.setPen(QPen(QColor(90, 94, 100), 2));
        p.setBrush(QColor(60, 62, 68));
        p.drawRoundedRect(QRectF(x, 448, 60, 18), 9, 9);
    }
    warningLabel(p, QPointF(300, 392), 22);
    p.setPen(QColor(90, 96, 104));
    p.setFont(sansFont(20, true));
    p.drawText(
        QRectF(335, 372, 200, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("LASER RANGE"));
    p.setPen(QPen(QColor(80, 84, 90), 2));
    p.setBrush(verticalGradient(340, 440, QColor(200, 204, 210), QColor(110, 114, 120)));
    p.drawRect(QRectF(640, 350, 24, 80));
    p.setBrush(verticalGradient(355, 425, QColor(90, 92, 100), QColor(30, 30, 34)));
    p.drawRoundedRect(QRectF(664, 358, 44, 64), 5, 5);
    for (int i = 0; i < 8; ++i)
        p.drawLine(QPointF(668 + i * 5, 362), QPointF(668 + i * 5, 418));
}

QImage drawPicture(const QString &caption, const std::function<void(QPainter &)> &draw)
{
    QImage image(kSide, kSide, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    backdrop(p, caption);
    draw(p);
    return image;
}

QImage drawArrow()
{
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(80, 80, 80));
    p.drawPolygon(QPolygonF({ QPointF(4.5, 7), QPointF(15.5, 7), QPointF(10, 13.5) }));
    return image;
}

// Window icon in a 64-unit grid: a laser on a ruler, its beam hitting a target.
QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(QPen(QColor(120, 130, 145), 1.5));
    p.setBrush(verticalGradient(2, 62, QColor(255, 255, 255), QColor(214, 226, 240)));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    for (int i = 0; i < 4; ++i)
        disc(p, QPointF(46, 26), 14 - i * 4, i % 2 ? Qt::white : QColor(200, 20, 30));
    p.setPen(QPen(QColor(255, 40, 40, 90), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 26), QPointF(46, 26));
    p.setPen(QPen(QColor(230, 0, 0), 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 26), QPointF(46, 26));
    QRadialGradient spot(QPointF(46, 26), 5);
    spot.setColorAt(0, Qt::white);
    spot.setColorAt(0.4, QColor(255, 120, 120));
    spot.setColorAt(1, QColor(255, 0, 0, 0));
    disc(p, QPointF(46, 26), 5, spot);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(60, 64, 72));
    p.drawRoundedRect(QRectF(5, 19, 13, 14), 2, 2);
    p.setPen(QPen(QColor(120, 90, 0), 1.2));
    p.setBrush(QColor(250, 205, 40));
    p.drawRect(QRectF(5, 44, 54, 13));
    for (int x = 8; x <= 56; x += 4)
        p.drawLine(QPointF(x, 44), QPointF(x, x % 16 == 8 ? 52 : 48));
    return image;
}

// Qt's ICO writer stores one image per file; several such files are joined into one directory.
QByteArray joinIcons(const QList<QByteArray> &files)
{
    constexpr int kHeader = 6, kEntry = 16;
    QByteArray directory(kHeader, '\0');
    qToLittleEndian<quint16>(1, directory.data() + 2);
    qToLittleEndian<quint16>(quint16(files.size()), directory.data() + 4);
    QByteArray images;
    const quint32 first = kHeader + kEntry * files.size();
    for (const QByteArray &file : files) {
        QByteArray entry = file.mid(kHeader, kEntry);
        const quint32 length = qFromLittleEndian<quint32>(entry.constData() + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry.constData() + 12);
        qToLittleEndian<quint32>(first + quint32(images.size()), entry.data() + 12);
        directory += entry;
        images += file.mid(offset, length);
    }
    return directory + images;
}

bool writeIcon(const QString &path, const QList<int> &sizes)
{
    QList<QByteArray> files;
    for (int size : sizes) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "ico");
        if (!writer.write(drawIcon(size))) {
            std::fprintf(stderr, "ico writer: %s\n", qPrintable(writer.errorString()));
            return false;
        }
        files.append(buffer.data());
    }
    QFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(joinIcons(files)) > 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const QList<std::pair<QString, std::function<void(QPainter &)>>> pictures = {
        { QStringLiteral("RM01-RM04 front"), pcbFront },
        { QStringLiteral("RM01-RM04 back"), pcbBack },
        { QStringLiteral("RM05-RM06 front"), housingFront },
        { QStringLiteral("RM05-RM06 side"), housingSide },
        { QStringLiteral("RM07-RM11 front"), tubeFront },
        { QStringLiteral("RM07-RM11 side"), tubeSide },
    };
    bool ok = true;
    for (int i = 0; i < pictures.size(); ++i) {
        const QString name = dir.filePath(QString::number(i + 1) + QStringLiteral(".png"));
        ok &= drawPicture(pictures[i].first, pictures[i].second).save(name, "PNG");
    }
    ok &= drawArrow().save(dir.filePath(QStringLiteral("down_arrow.jpg")), "JPG", 100);
    ok &= writeIcon(dir.filePath(QStringLiteral("tuxing_1.ico")), { 64, 32 });
    if (!ok)
        std::fprintf(stderr, "writing into %s failed\n", argv[1]);
    return ok ? 0 : 1;
}
