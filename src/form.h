// Form: the module picture window, two pictures of the chosen model's group side by side.
#pragma once

#include <QWidget>

QT_BEGIN_NAMESPACE
namespace Ui {
class Form;
}
QT_END_NAMESPACE

class Form : public QWidget
{
    Q_OBJECT
public:
    explicit Form(QWidget *parent = nullptr);
    ~Form() override;

    Ui::Form *ui;
};
