// The engineer's bench: the analysis view of the run since Delete Data and the byte log of the
// line.
#include "ui/widget.h"
#include "ui_widget.h"

#include "io/thread_1.h"
#include "ui/analysisview.h"
#include "ui/buttonstyle.h"
#include "ui/freespace.h"
#include "ui/logview.h"
#include "ui/texts.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>

namespace texts = ui::texts;

namespace {
/// The analysis view looks at the run again this often while shown, or less often when an
/// analysis takes long: a long run never keeps the window busy more than a tenth of the time.
constexpr qint64 kAnalysisRefreshMs = 1000;
constexpr qint64 kAnalysisShare = 10;
} // namespace

void Widget::setUpBench()
{
    // In the free row of the measurement panel, above Save Data and Delete Data.
    QWidget *panel = ui->button_save->parentWidget();
    button_record = ui::addButton(panel, "button_record", ui->button_save->font());
    button_analysis = ui::addButton(panel, "button_analysis", ui->button_save->font());
    const auto above = [this](QWidget *control) {
        return [this, control] {
            return QRect(control->x(), ui->button_Language->y(), control->width(),
                ui->button_Language->height());
        };
    };
    ui::keepAt(button_record, { ui->button_save, ui->button_Language }, above(ui->button_save));
    ui::keepAt(button_analysis, { ui->button_clear_show, ui->button_Language },
        above(ui->button_clear_show));
    button_record->setEnabled(false); // a byte log is of an open line
    connect(button_record, &QPushButton::clicked, this, &Widget::toggleRecording);
    connect(button_analysis, &QPushButton::clicked, this, &Widget::openAnalysis);

    analysis_view = new ui::AnalysisView(this);
    analysis_refresh = new QTimer(this);
    analysis_refresh->setSingleShot(true);
    connect(analysis_refresh, &QTimer::timeout, this, &Widget::refreshAnalysis);
}

void Widget::openAnalysis()
{
    analysis_view->show();
    analysis_view->raise();
    analysis_view->activateWindow();
    forceAnalysis();
}

void Widget::forceAnalysis()
{
    analysed_count = -1;
    refreshAnalysis();
}

void Widget::refreshAnalysis()
{
    if (!analysis_view->isVisible())
        return;
    const qsizetype count = session_.records().size() + analysis_temperatures.size();
    if (count != analysed_count) {
        QElapsedTimer spent;
        spent.start();
        analysis_view->setFigures(
            core::analysis::analyse(session_.records(), analysis_temperatures), lang());
        analysed_count = count;
        analysis_cost_ms = spent.elapsed();
    }
    analysis_refresh->start(int(qMax(kAnalysisRefreshMs, kAnalysisShare * analysis_cost_ms)));
}

void Widget::toggleRecording()
{
    if (!record_path.isEmpty()) {
        stopRecording();
        return;
    }
    QString path = askRecordFileName
        ? askRecordFileName()
        : QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral("*.tvxr"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".tvxr");
    QString error;
    bool started = false;
    // The worker writes the log in its own thread, on its clock; it answers before this goes on.
    QMetaObject::invokeMethod(
        thread_1_son, [&] { started = thread_1_son->setRecording(path, &error); },
        Qt::BlockingQueuedConnection);
    if (!started) {
        appendRedLine(texts::get(texts::Text::RecordFailed, lang()) + path + ": " + error);
        return;
    }
    record_path = path;
    showRecording();
}

void Widget::stopRecording()
{
    QString error;
    bool written = false;
    QMetaObject::invokeMethod(
        thread_1_son, [&] { written = thread_1_son->setRecording({}, &error); },
        Qt::BlockingQueuedConnection);
    if (written)
        appendLine(texts::get(texts::Text::RecordDone, lang()) + record_path);
    else
        appendRedLine(texts::get(texts::Text::RecordFailed, lang()) + record_path + ": " + error);
    record_path.clear();
    showRecording();
}

void Widget::showRecording()
{
    const bool on = !record_path.isEmpty();
    button_record->setText(texts::toggle(texts::Text::RecordBytes, on, lang()));
    button_record->setStyleSheet(ui::buttonStyle(
        button_record->objectName(), on ? ui::ButtonLook::Active : ui::ButtonLook::Normal));
}
