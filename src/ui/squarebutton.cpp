// SquareButton: a push button that keeps itself square inside whatever space its layout offers.
#include "ui/squarebutton.h"
#include "ui/log.h"

#include <QResizeEvent>

SquareButton::SquareButton(QWidget *parent)
    : QPushButton(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void SquareButton::resizeEvent(QResizeEvent *event)
{
    const int w = event->size().width();
    const int h = event->size().height();
    const int side = qMin(w, h);
    qCDebug(lcUi) << w << h;
    qCDebug(lcUi) << side;
    // The base class's handler is deliberately skipped: it would only repaint
    // at the layout's rectangle, and the picture must follow the square.
    resize(side, side);
}
