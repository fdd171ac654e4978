// Result export: the save button, the text file, the chart picture and the workbook worker's
// notice.
#include "ui/widget.h"
#include "ui_widget.h"

#include "export/exporting.h"
#include "export/save_file.h"
#include "ui/chartview.h"
#include "ui/texts.h"

#include <QDate>
#include <QFileDialog>
#include <QMessageBox>

namespace texts = ui::texts;

namespace {
QString askFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(parent, QString(), QString(), QObject::tr("*.txt;;*.xlsx"));
}
} // namespace

void Widget::showSaveOutcome(bool failed)
{
    if (failed)
        QMessageBox::warning(this, texts::get(texts::Text::WarnTitle, lang()),
            texts::get(texts::Text::SaveFailed, lang()), QMessageBox::Ok);
    else
        QMessageBox::information(this, texts::get(texts::Text::SaveTitle, lang()),
            texts::get(texts::Text::SaveDone, lang()), QMessageBox::Ok);
}

void Widget::savePicture(const QPixmap &picture, const QString &path)
{
    if (!picture.save(path, "JPG"))
        appendRedLine(texts::get(texts::Text::PictureNotSaved, lang()) + path);
}

void Widget::on_button_save_clicked()
{
    ui::ChartView *plot = ui->widget_paint;
    // A hidden chart has no on-screen size; render it at a useful one instead.
    const int width = qMax(plot->width(), 800);
    if (!plot->isVisible())
        plot->refreshView(width); // a hidden chart has not drawn its view of late points
    const QPixmap picture
        = plot->isVisible() ? plot->grab() : plot->toPixmap(width, qMax(plot->height(), 500));

    const QString name = askSaveFileName ? askSaveFileName() : askFileName(this);
    if (name.isEmpty()) {
        showSaveOutcome(true);
        return;
    }

    if (exporting::isWorkbookName(name)) {
        // Queued ahead of the request, so the writer has them when the request comes.
        QMetaObject::invokeMethod(start_save,
            [worker = start_save, stats = core::statsTable(session_.stats().summary(), lang())] {
                worker->setStats(stats);
            });
        // Analysed in the export thread: a long run takes a moment the window need not wait.
        QMetaObject::invokeMethod(start_save,
            [worker = start_save, records = session_.records(),
                temperatures = analysis_temperatures, language = lang()] {
                worker->setAnalysis(core::analysis::analysisTable(
                    core::analysis::analyse(records, temperatures), language));
            });
        emit sig_save_data(exporting::workbookBaseName(name), 1, session_.table(), language);
        savePicture(picture, exporting::pictureName(name));
        return;
    }

    QString error;
    const bool written
        = exporting::writeTextFile(name, session_.table(), language, QDate::currentDate(), &error);
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
