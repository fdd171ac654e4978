// ShadowEffect: a drop shadow that blurs only when the outline of what it shades changes.
#include "ui/shadoweffect.h"

#include <QPainter>

#include <algorithm>

ShadowEffect::ShadowEffect(QObject *parent)
    : QGraphicsDropShadowEffect(parent)
{
    // Colour, radius and offset take part in the shadow: a change makes it anew.
    auto forget = [this] { m_alpha = QImage(); };
    connect(this, &QGraphicsDropShadowEffect::offsetChanged, this, forget);
    connect(this, &QGraphicsDropShadowEffect::blurRadiusChanged, this, forget);
    connect(this, &QGraphicsDropShadowEffect::colorChanged, this, forget);
}

void ShadowEffect::draw(QPainter *painter)
{
    QPoint offset;
    const QPixmap source = sourcePixmap(Qt::DeviceCoordinates, &offset, PadToEffectiveBoundingRect);
    if (source.isNull())
        return;
    const QImage alpha = source.toImage().convertToFormat(QImage::Format_Alpha8);
    if (m_alpha.isNull() || alpha != m_alpha) {
        m_shadow = shadowFor(source, offset);
        m_alpha = alpha;
        ++m_blurs;
    }
    // Same as Qt's effect: device coordinates, shadow first, the source over it.
    const QTransform restore = painter->worldTransform();
    painter->setWorldTransform(QTransform());
    painter->drawImage(offset, m_shadow);
    painter->drawPixmap(offset, source);
    painter->setWorldTransform(restore);
}

QImage ShadowEffect::shadowFor(const QPixmap &source, const QPoint &offset)
{
    // Qt's effect paints the shadow and then the source over it. Painted into an empty image,
    // the source can be taken out again where it is not opaque (under opaque pixels the shadow
    // never shows), which leaves Qt's shadow alone.
    QImage both(source.size(), QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::transparent);
    {
        QPainter p(&both);
        // The effect draws at the source's device position with the world transform reset; the
        // window transform is left alone and moves that position to the image's corner.
        p.setWindow(QRect(offset, source.deviceIndependentSize().toSize()));
        p.setViewport(both.rect());
        QGraphicsDropShadowEffect::draw(&p);
    }
    const QImage ontop = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < both.height(); ++y) {
        auto *out = reinterpret_cast<QRgb *>(both.scanLine(y));
        const auto *src = reinterpret_cast<const QRgb *>(ontop.constScanLine(y));
        for (int x = 0; x < both.width(); ++x) {
            const int coverage = qAlpha(src[x]);
            if (coverage == 0)
                continue;
            if (coverage == 255) {
                out[x] = 0;
                continue;
            }
            // both = source + (1 - coverage) * shadow, premultiplied.
            const int rest = 255 - coverage;
            const QRgb b = out[x];
            const QRgb s = src[x];
            auto shadow = [rest](int mixed, int own, int limit) {
                return std::clamp(((mixed - own) * 255 + rest / 2) / rest, 0, limit);
            };
            const int alpha = shadow(qAlpha(b), coverage, 255);
            out[x] = qRgba(shadow(qRed(b), qRed(s), alpha), shadow(qGreen(b), qGreen(s), alpha),
                shadow(qBlue(b), qBlue(s), alpha), alpha);
        }
    }
    both.setDevicePixelRatio(source.devicePixelRatio());
    return both;
}
