// Model choice, the preview button's picture and the module picture window.
#include "ui/log.h"
#include "ui/texts.h"
#include "ui/widget.h"
#include "ui_widget.h"

#include <QMessageBox>

namespace texts = ui::texts;

void Widget::on_comboBox_mokuai_choose_activated(int index)
{
    qCDebug(lcUi) << index;
    mokuai_chose = index;
    const QString name = Form::firstPicture(index);
    if (name.isEmpty())
        qCDebug(lcUi) << "出错";
    ui->button_photo_1->setStyleSheet(QStringLiteral("QPushButton {    border-image: url(")
        + QStringLiteral(":/new/prefix1/") + name + QStringLiteral(") 0 0 0 0 stretch stretch;}"));
}

void Widget::on_button_photo_1_clicked()
{
    if (mokuai_chose == -1) {
        QMessageBox::warning(this, texts::get(texts::Text::WarnTitle, lang()),
            texts::get(texts::Text::NoModel, lang()), QMessageBox::Ok);
        return;
    }
    widget_son.move(screen_x, screen_y);
    widget_son.setWindowFlags(Qt::WindowStaysOnTopHint);
    widget_son.show();
    emit sig_shw_paint_index(mokuai_chose);
}
