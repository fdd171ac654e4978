// Language switch: every fixed text, the two-state buttons and the axis titles in Chinese or
// English.
#include "ui/widget.h"
#include "ui_widget.h"

#include "ui/chartview.h"
#include "ui/logview.h"
#include "ui/texts.h"

#include <QSignalBlocker>

namespace texts = ui::texts;

void Widget::on_button_Language_clicked()
{
    language = int(
        lang() == core::Language::Chinese ? core::Language::English : core::Language::Chinese);

    // Keep the operator's check mode: the worker and the reply routing keep it too.
    const int checkIndex = ui->jiaoyan_mode->currentIndex();
    {
        const QSignalBlocker blocker(ui->jiaoyan_mode);
        ui->jiaoyan_mode->clear();
        ui->jiaoyan_mode->addItem(texts::get(texts::Text::NoCheck, lang()));
        ui->jiaoyan_mode->addItem(texts::get(texts::Text::CrcCheck, lang()));
        ui->jiaoyan_mode->setCurrentIndex(checkIndex < 0 ? 0 : checkIndex);
    }

    for (const texts::ControlText &entry : texts::controlTexts()) {
        const QString text
            = QString::fromUtf8(lang() == core::Language::Chinese ? entry.chinese : entry.english);
        QWidget *control = findChild<QWidget *>(QLatin1String(entry.objectName));
        if (auto *label = qobject_cast<QLabel *>(control))
            label->setText(text);
        else if (auto *button = qobject_cast<QAbstractButton *>(control))
            button->setText(text);
    }
    // Two-state buttons say their state.
    using texts::Text;
    ui->open_button->setText(texts::toggle(Text::OpenSerial, serialport_state_1, lang()));
    ui->button_light->setText(texts::toggle(Text::LaserOn, laser_on, lang()));
    ui->button_continue->setText(texts::toggle(Text::RepeatMeasure, state_measure != 0, lang()));
    ui->button_paint_show->setText(texts::toggle(Text::OpenChart, chart_shown, lang()));
    ui->button_jiancha->setText(texts::toggle(Text::StartTracking, jiance_mode != 0, lang()));
    button_record->setText(texts::toggle(Text::RecordBytes, !record_path.isEmpty(), lang()));
    forceAnalysis();

    ui::ChartView *plot = ui->widget_paint;
    plot->xAxis->setLabel(texts::get(texts::Text::ChartX, lang()));
    plot->yAxis->setLabel(texts::get(texts::Text::ChartY, lang()));
    plot->setLanguage(lang());
    plot->replotNow();
    ui->plainTextEdit_show_data->setTrimNotice(
        texts::get(texts::Text::LogTrimmed, lang()).arg(kLogLineLimit));
}
