// MyComboBox: a combo box that says when it is pressed, so the port list can be rebuilt before it
// opens.
#pragma once

#include <QComboBox>

class MyComboBox : public QComboBox
{
    Q_OBJECT
public:
    explicit MyComboBox(QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
