// SquareButton: a push button that keeps itself square inside whatever space its layout offers.
#pragma once

#include <QPushButton>

class SquareButton : public QPushButton
{
    Q_OBJECT
public:
    explicit SquareButton(QWidget *parent = nullptr);

protected:
    void resizeEvent(QResizeEvent *event) override;
};
