// Form: the module picture window, two pictures of the chosen model's group side by side.
#include "ui/form.h"
#include "ui/log.h"
#include "ui_form.h"

#include <QPixmap>

namespace {
// Models RM01-RM04, RM05-RM06 and RM07-RM11 share one pair of pictures each.
int pictureGroup(int index)
{
    if (index >= 0 && index <= 3)
        return 0;
    if (index == 4 || index == 5)
        return 1;
    if (index >= 6 && index <= 10)
        return 2;
    return -1;
}
} // namespace

QString Form::firstPicture(int index)
{
    const int group = pictureGroup(index);
    return group < 0 ? QString() : QStringLiteral("%1.png").arg(group * 2 + 1);
}

QString Form::secondPicture(int index)
{
    const int group = pictureGroup(index);
    return group < 0 ? QString() : QStringLiteral("%1.png").arg(group * 2 + 2);
}

Form::Form(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Form)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("模块详情图"));
}

Form::~Form()
{
    delete ui;
}

void Form::slot_shw_paint_index(int index)
{
    qCDebug(lcUi) << index;
    if (pictureGroup(index) < 0) {
        qCDebug(lcUi) << "出错";
        ui->label_1->setPixmap(QPixmap());
        ui->label_2->setPixmap(QPixmap());
        return;
    }
    const QString prefix = QStringLiteral(":/new/prefix1/");
    ui->label_1->setPixmap(QPixmap(prefix + firstPicture(index)));
    ui->label_2->setPixmap(QPixmap(prefix + secondPicture(index)));
    for (QLabel *label : { ui->label_1, ui->label_2 }) {
        // Each picture fills its half of the window, stretched.
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        label->setScaledContents(true);
    }
}
