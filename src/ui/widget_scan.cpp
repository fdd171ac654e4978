// Find module: tries line speeds, check modes and addresses on the chosen port until one answers.
#include "ui/widget.h"
#include "ui_widget.h"

#include "io/portscanner.h"
#include "io/thread_1.h"
#include "ui/freespace.h"
#include "ui/texts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace texts = ui::texts;

void Widget::setUpModuleSearch()
{
    button_find_module = ui::addButton(
        ui->botelv_Box->parentWidget(), "button_find_module", ui->open_button->font());
    button_find_module->setText(texts::get(texts::Text::FindTitle, lang()));
    // In the free space right of the baud-rate box.
    QWidget *box = ui->botelv_Box;
    ui::keepAt(button_find_module, { box, box->parentWidget() }, [box] {
        const QRect at = box->geometry();
        QWidget *panel = box->parentWidget();
        const int margin = panel->layout() ? panel->layout()->contentsMargins().right() : 6;
        const int left = at.right() + 1 + margin;
        return QRect(left, at.y(), qMax(0, panel->width() - margin - left), at.height());
    });
    connect(button_find_module, &QPushButton::clicked, this, &Widget::startModuleSearch);

    module_search = new io::PortScanner(this);
    search_dialog = new QDialog(this);
    search_label = new QLabel(search_dialog);
    search_bar = new QProgressBar(search_dialog);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, search_dialog);
    QPushButton *cancel = buttons->button(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("button_find_cancel")); // the language switch names it
    cancel->setText(QStringLiteral("取消"));
    auto *column = new QVBoxLayout(search_dialog);
    column->addWidget(search_label);
    column->addWidget(search_bar);
    column->addWidget(buttons);
    search_dialog->setMinimumWidth(420);
    // Cancel, Escape and the window's close button all end the scan.
    connect(buttons, &QDialogButtonBox::rejected, search_dialog, &QDialog::reject);
    connect(search_dialog, &QDialog::rejected, module_search, &io::PortScanner::cancel);
    connect(module_search, &io::PortScanner::probing, this,
        [this](int index, int total, const core::scan::Target &t) {
            search_bar->setMaximum(total);
            search_bar->setValue(index);
            search_label->setText(texts::get(texts::Text::FindTrying, lang())
                                      .arg(t.baud)
                                      .arg(ui->jiaoyan_mode->itemText(core::indexOf(t.checkMode)))
                                      .arg(t.address));
        });
    connect(module_search, &io::PortScanner::found, this, &Widget::showModuleFound);
    connect(module_search, &io::PortScanner::finished, this, &Widget::endModuleSearch);
}

void Widget::startModuleSearch()
{
    if (module_search->isRunning() || search_dialog->isVisible())
        return;
    search_port = portName();
    if (!serialport_state_1) {
        runModuleSearch();
        return;
    }
    // The scanner needs the port to itself: it starts once the worker has let it go.
    connect(
        thread_1_son, &Thread_1::sig_serialport_state_change, this,
        [this](bool open) {
            if (!open)
                runModuleSearch();
        },
        Qt::ConnectionType(Qt::AutoConnection | Qt::SingleShotConnection));
    emit sig_change_serialport_1(0, portName(), portBaudRate());
}

void Widget::runModuleSearch()
{
    search_dialog->setWindowTitle(texts::get(texts::Text::FindTitle, lang()));
    search_label->clear();
    search_bar->setValue(0);
    search_dialog->open();
    module_search->start(
        search_port, core::scan::order(module_search_plan), false, module_search_plan.answerMs);
}

void Widget::showModuleFound(const core::scan::Target &module)
{
    const int baudIndex = ui->botelv_Box->findData(module.baud);
    if (baudIndex >= 0)
        ui->botelv_Box->setCurrentIndex(baudIndex);
    ui->jiaoyan_mode->setCurrentIndex(core::indexOf(module.checkMode));
    on_jiaoyan_mode_activated(core::indexOf(module.checkMode));
    ui->lineEdit_address->setText(QString::number(module.address));
    // The field's own slot takes the address, whether or not the cursor happened to move.
    on_lineEdit_address_cursorPositionChanged(0, ui->lineEdit_address->cursorPosition());
    appendLine(texts::get(texts::Text::FindFound, lang())
                   .arg(search_port)
                   .arg(module.baud)
                   .arg(ui->jiaoyan_mode->itemText(core::indexOf(module.checkMode)))
                   .arg(module.address));
}

void Widget::endModuleSearch(int foundCount, bool cancelled, const QString &error)
{
    search_dialog->hide();
    if (!error.isEmpty())
        appendRedLine(texts::get(texts::Text::FindFailed, lang()) + search_port + ": " + error);
    else if (cancelled)
        appendLine(texts::get(texts::Text::FindCancelled, lang()));
    else if (foundCount == 0)
        appendRedLine(texts::get(texts::Text::FindNone, lang())
                          .arg(search_port)
                          .arg(core::scan::order(module_search_plan).size()));
    else if (!serialport_state_1)
        on_open_button_clicked();
}
