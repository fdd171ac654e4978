// Result export: the save button, the text file, the chart picture and the workbook worker's
// notice.
#include "ui_widget.h"
#include "widget.h"

#include "exporting.h"

#include <QDate>
#include <QFileDialog>
#include <QMessageBox>

namespace {
QString askFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(parent, QString(), QString(), QObject::tr("*.txt;;*.xlsx"));
}
} // namespace

void Widget::showSaveOutcome(bool failed)
{
    if (failed)
        QMessageBox::warning(this,
            language == 0 ? QStringLiteral("警告：") : QStringLiteral("warn:"),
            language == 0 ? QStringLiteral("文件保存失败") : QStringLiteral("File saving failure"),
            QMessageBox::Ok);
    else
        QMessageBox::information(this,
            language == 0 ? QStringLiteral("保存结果:") : QStringLiteral("Save the result:"),
            language == 0 ? QStringLiteral("文件保存成功")
                          : QStringLiteral("File saved successfully"),
            QMessageBox::Ok);
}

void Widget::savePicture(const QPixmap &picture, const QString &path)
{
    if (!picture.save(path, "JPG"))
        appendRedLine((language == 0 ? QStringLiteral("折线图图片保存失败: ")
                                     : QStringLiteral("Chart picture not saved: "))
            + path);
}

void Widget::on_button_save_clicked()
{
    QCustomPlot *plot = ui->widget_paint;
    // A hidden chart has no on-screen size; render it at a useful one instead.
    const QPixmap picture = plot->isVisible()
        ? plot->grab()
        : plot->toPixmap(qMax(plot->width(), 800), qMax(plot->height(), 500));

    const QString name = askSaveFileName ? askSaveFileName() : askFileName(this);
    if (name.isEmpty()) {
        showSaveOutcome(true);
        return;
    }

    if (exporting::isWorkbookName(name)) {
        emit sig_save_data(exporting::workbookBaseName(name), 1, list_save_data, language);
        savePicture(picture, exporting::pictureName(name));
        return;
    }

    QString error;
    const bool written
        = exporting::writeTextFile(name, list_save_data, language, QDate::currentDate(), &error);
    if (!written)
        appendRedLine(error);
    showSaveOutcome(!written);
    savePicture(picture, exporting::pictureName(name));
}

void Widget::slot_tongzhi_close_file(bool index)
{
    // The worker says 0 once the workbook is complete on disk, 1 when any step failed.
    showSaveOutcome(index);
}
