// ShadowEffect: a drop shadow that blurs only when the outline of what it shades changes.
#pragma once

#include <QGraphicsDropShadowEffect>
#include <QImage>

/**
 * @brief A QGraphicsDropShadowEffect that keeps its blurred shadow between paints.
 *
 * Qt's drop shadow blurs the whole widget on every repaint, even when only its contents changed.
 * On the log and the chart, which repaint with every reply, that blur cost more than everything
 * else the window does per reply. A shadow depends only on the alpha channel of what it shades,
 * so this effect blurs once per outline (Qt's own blur, same look) and afterwards only draws the
 * kept shadow under the fresh contents.
 */
class ShadowEffect : public QGraphicsDropShadowEffect
{
    Q_OBJECT

public:
    explicit ShadowEffect(QObject *parent = nullptr);

    /** @brief How often the shadow was blurred anew (the outline changed), for tests. */
    int blurCount() const { return m_blurs; }

protected:
    void draw(QPainter *painter) override;

private:
    QImage shadowFor(const QPixmap &source, const QPoint &offset);

    QImage m_alpha; ///< outline the kept shadow was made for
    QImage m_shadow; ///< shadow alone, premultiplied, same size and place as the source pixmap
    int m_blurs = 0;
};
