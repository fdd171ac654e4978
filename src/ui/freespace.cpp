// Controls the window adds in free space, outside the grids of its panels.
#include "ui/freespace.h"

#include "ui/buttonstyle.h"

#include <QEvent>
#include <QPushButton>

namespace ui {

namespace {
class Keeper : public QObject
{
public:
    Keeper(QWidget *control, const QList<QWidget *> &watched, std::function<QRect()> where)
        : QObject(control)
        , m_control(control)
        , m_where(std::move(where))
    {
        for (QWidget *w : watched)
            w->installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Move
            || event->type() == QEvent::Show)
            m_control->setGeometry(m_where());
        return false;
    }

private:
    QWidget *m_control;
    std::function<QRect()> m_where;
};
} // namespace

void keepAt(QWidget *control, const QList<QWidget *> &watched, std::function<QRect()> where)
{
    new Keeper(control, watched, std::move(where));
}

QPushButton *addButton(QWidget *panel, const char *objectName, const QFont &font)
{
    auto *button = new QPushButton(panel);
    button->setObjectName(QLatin1String(objectName));
    button->setFont(font);
    button->setStyleSheet(buttonStyle(button->objectName()));
    return button;
}

} // namespace ui
