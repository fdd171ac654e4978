// MyComboBox: a combo box that says when it is pressed, so the port list can be rebuilt before it
// opens.
#include "ui/mycombobox.h"

#include <QMouseEvent>

MyComboBox::MyComboBox(QWidget *parent)
    : QComboBox(parent)
{
}

void MyComboBox::mousePressEvent(QMouseEvent *event)
{
    // Rebuild first (the receiver is connected directly), then open the list.
    if (event->button() == Qt::LeftButton)
        emit clicked();
    QComboBox::mousePressEvent(event);
}
