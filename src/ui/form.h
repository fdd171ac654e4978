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

    /** @brief Resource name of the first picture of a model's group, empty outside 0..10. */
    static QString firstPicture(int index);
    /** @brief Resource name of the second picture of a model's group, empty outside 0..10. */
    static QString secondPicture(int index);

public slots:
    void slot_shw_paint_index(int index);
};
