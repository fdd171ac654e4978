// Language switch: every fixed text, the two-state buttons and the axis titles in Chinese or
// English.
#include "ui/widget.h"
#include "ui_widget.h"

#include "ui/texts.h"

#include <QSignalBlocker>

namespace {
// Two-state buttons: the text tells the state, so a switch maps each text to its twin. @p off is
// the first of the two texts; the other state's text follows it in the table.
void translateToggle(QAbstractButton *button, texts::Text off, int language)
{
    for (const texts::Text state : { off, texts::Text(int(off) + 1) }) {
        if (button->text() == texts::get(state, language == 0 ? 1 : 0))
            button->setText(texts::get(state, language));
    }
}
} // namespace

void Widget::on_button_Language_clicked()
{
    language = (language_i % 2 == 0) ? 1 : 0;

    // Keep the operator's check mode: the worker and the reply routing keep it too.
    const int checkMode = ui->jiaoyan_mode->currentIndex();
    {
        const QSignalBlocker blocker(ui->jiaoyan_mode);
        ui->jiaoyan_mode->clear();
        ui->jiaoyan_mode->addItem(texts::get(texts::Text::NoCheck, language));
        ui->jiaoyan_mode->addItem(texts::get(texts::Text::CrcCheck, language));
        ui->jiaoyan_mode->setCurrentIndex(checkMode < 0 ? 0 : checkMode);
    }

    for (const texts::ControlText &entry : texts::controlTexts()) {
        const QString text = QString::fromUtf8(language == 0 ? entry.chinese : entry.english);
        QWidget *control = findChild<QWidget *>(QLatin1String(entry.objectName));
        if (auto *label = qobject_cast<QLabel *>(control))
            label->setText(text);
        else if (auto *button = qobject_cast<QAbstractButton *>(control))
            button->setText(text);
    }

    // The layout's first open-button label has one leading blank; it means "closed" too.
    if (language == 1 && ui->open_button->text() == QStringLiteral(" 打 开 串 口"))
        ui->open_button->setText(QStringLiteral("Open Serial"));
    using texts::Text;
    translateToggle(ui->open_button, Text::OpenSerial, language);
    translateToggle(ui->button_light, Text::LaserOn, language);
    translateToggle(ui->button_continue, Text::RepeatMeasure, language);
    translateToggle(ui->button_paint_show, Text::OpenChart, language);
    translateToggle(ui->button_jiancha, Text::StartTracking, language);

    QCustomPlot *plot = ui->widget_paint;
    plot->xAxis->setLabel(texts::get(texts::Text::ChartX, language));
    plot->yAxis->setLabel(texts::get(texts::Text::ChartY, language));
    replotChart(QCustomPlot::rpRefreshHint);

    ++language_i;
}
