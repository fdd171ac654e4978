// Widget construction, wiring of every part, frame helpers and shutdown.
#include "ui/widget.h"
#include "ui/log.h"
#include "ui_widget.h"

#include "core/commands.h"
#include "core/frames.h"
#include "export/save_file.h"
#include "io/comchange.h"
#include "io/mytimer.h"
#include "io/thread_1.h"
#include "io/wakeups.h"
#include "ui/chartview.h"
#include "ui/logview.h"
#include "ui/mycombobox.h"
#include "ui/shadoweffect.h"

#include <QButtonGroup>
#include <QDateTime>
#include <QDesktopServices>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QSerialPort>
#include <QUrl>

Q_LOGGING_CATEGORY(lcUi, "tovandrix.ui", QtWarningMsg)

namespace {
const QString kHomePage = QStringLiteral("https://tovandrix.github.io/");
// Every panel usable, the picture preview about 200 pixels square.
constexpr QSize kStartSize(1100, 760);
constexpr int kScreenMargin = 48;
const QString kListSelection = QStringLiteral(
    "\nQComboBox{selection-background-color: rgb(35, 153, 197); selection-color: white;}");
} // namespace

Widget::Widget(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::Widget)
{
    qRegisterMetaType<QList<QList<QString>>>("QList<QList<QString>>");
    monotonic.start();
    // The form asks for the narrow Windows UI font "等线"; where it is missing the
    // default fallback is a wide sans that clips the fixed-width buttons.
    QFont::insertSubstitutions(QStringLiteral("等线"),
        { QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("Droid Sans Fallback") });

    ui->setupUi(this);
    ui->port_name_show->setEnabled(false); // the lamp only shows the port state

    for (QWidget *w :
        { static_cast<QWidget *>(ui->widget_paint), ui->widget_31, ui->widget_32, ui->widget_33,
            ui->widget_34, ui->widget_7, static_cast<QWidget *>(ui->plainTextEdit_show_data),
            static_cast<QWidget *>(ui->label_10), static_cast<QWidget *>(ui->label_11),
            static_cast<QWidget *>(ui->label_6) }) {
        auto *shadow = new ShadowEffect(w);
        shadow->setOffset(1, 1);
        shadow->setColor(QColor(QStringLiteral("#000000")));
        shadow->setBlurRadius(5);
        w->setGraphicsEffect(shadow);
    }
    for (QComboBox *box : { static_cast<QComboBox *>(ui->comboBox_mokuai_choose), ui->botelv_Box,
             ui->botelv_Box_2, static_cast<QComboBox *>(ui->chuankou_Box) })
        box->setMaxVisibleItems(5);
    // The lists' white background hides the style's white-on-white current entry.
    for (QComboBox *box : findChildren<QComboBox *>())
        box->setStyleSheet(box->styleSheet() + kListSelection);
    for (const int rate : core::protocol::kBaudRates) {
        ui->botelv_Box->addItem(QString::number(rate), rate);
        ui->botelv_Box_2->addItem(QString::number(rate), rate);
    }
    ui->jiaoyan_mode->addItem(QStringLiteral("无校验"));
    ui->jiaoyan_mode->addItem(QStringLiteral("CRC校验"));
    for (int i = 1; i <= 11; ++i)
        ui->comboBox_mokuai_choose->addItem(QStringLiteral("RM%1").arg(i, 2, 10, QLatin1Char('0')));
    ui->plainTextEdit_show_data->setReadOnly(true);
    // Hours of replies would fill the memory with log lines; the table keeps every measurement.
    ui->plainTextEdit_show_data->setMaximumBlockCount(kLogLineLimit);
    setWindowTitle(QStringLiteral("Tovandrix"));
    QFont font(QStringLiteral("Courier New"), 10);
    font.setBold(true);
    font.setItalic(false);
    setFont(font);
    setWindowIcon(QIcon(QStringLiteral(":/new/prefix1/tuxing_1.ico")));
    // Address fields take only what one frame byte can carry.
    for (QLineEdit *field :
        { ui->lineEdit_address, ui->lineEdit_old_address, ui->lineEdit_new_address })
        field->setValidator(new QRegularExpressionValidator(
            QRegularExpression(QStringLiteral("0*(25[0-5]|2[0-4][0-9]|1?[0-9]?[0-9])")), field));

    slot_mycombobox_clicked();
    setUpModuleSearch();
    setUpBench();

    // Before the worker's threads start, so they inherit it.
    io::preferPromptWakeUps();
    serial_main_1 = new QSerialPort();
    thread_1_son = new Thread_1(serial_main_1, nullptr);
    connect(this, &Widget::sig_send_data_main_1, thread_1_son, &Thread_1::slot_send_data_son);
    // Replies cross as bytes; the hex-text signal stays for whoever else wants text.
    connect(thread_1_son, &Thread_1::replyReceived, this, &Widget::onReply);
    connect(
        this, &Widget::sig_change_serialport_1, thread_1_son, &Thread_1::slot_change_serialport);
    connect(thread_1_son, &Thread_1::sig_serialport_state_change, this,
        &Widget::slot_serialport_change_state_1);
    connect(
        this, &Widget::sig_jiaoyan_mode_chose, thread_1_son, &Thread_1::slot_jiaoyan_mode_chose);
    connect(thread_1_son, &Thread_1::sig_show_send_data, this, &Widget::slot_show_send_data);
    // Both live in the worker thread from the start and go with it.
    io::runInThread(thread_1_son, serial_main_1, &THread_1);

    connect(this, &Widget::sig_jiexi_data, this, &Widget::slot_jiexi_data);
    connect(this, &Widget::sig_jiexi_data_eng, this, &Widget::slot_jiexi_data_eng);
    connect(this, &Widget::sig_jiexi_data_modbus, this, &Widget::slot_jiexi_data_modbus);
    connect(this, &Widget::sig_jiexi_data_modbus_eng, this, &Widget::slot_jiexi_data_modbus_eng);

    checks = new QButtonGroup(this);
    checks->addButton(ui->radioButton_auto, 1);
    checks->addButton(ui->radioButton_low, 2);
    checks->addButton(ui->radioButton_fast, 3);
    checks->button(1)->setChecked(true);
    connect(checks, &QButtonGroup::idClicked, this, &Widget::slot_checks);

    connect(this, &Widget::sig_shw_paint_index, &widget_son, &Form::slot_shw_paint_index);

    paint();

    start_save = new save_file(nullptr);
    connect(&thread_save, &QThread::finished, start_save, &QObject::deleteLater);
    connect(this, &Widget::sig_save_data, start_save, &save_file::slot_save_data);
    connect(start_save, &save_file::sig_tongzhi_close_file, this, &Widget::slot_tongzhi_close_file);
    start_save->moveToThread(&thread_save);
    thread_save.start(QThread::InheritPriority);

    connect(ui->chuankou_Box, &MyComboBox::clicked, this, &Widget::slot_mycombobox_clicked);
    connect(ui->widget_paint, &QCustomPlot::mouseMove, this, &Widget::myMoveMouseEvent);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        // The form's own size leaves the picture preview a sliver a few pixels high; open taller
        // and a little wider where the screen has the room (leaving some for the title bar).
        const QRect room = screen->availableGeometry();
        resize(qBound(width(), kStartSize.width(), room.width() - kScreenMargin),
            qBound(height(), kStartSize.height(), room.height() - kScreenMargin));
        const QRect geometry = screen->geometry();
        screen_x = (geometry.width() - widget_son.width()) / 2;
        screen_y = (geometry.height() - widget_son.height()) / 2;
    }

    ui->widget_30->hide();

    timer_address = new MyTimer(this);
    connect(timer_address, &MyTimer::timeout, this, &Widget::slot_timer_address);
    connect(ui->widget_paint->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), this,
        &Widget::setxAxisRange);
    timer_dingshi_send = new MyTimer(this);
    connect(timer_dingshi_send, &MyTimer::timeout, this, &Widget::slot_timer_dingshi_send);

    on_button_Language_clicked();

    ComChange *watcher = ComChange::getInstance();
    watcher->setHWND(winId());
    connect(watcher, &ComChange::comStatus, this, &Widget::on_comStatus, Qt::DirectConnection);
}

Widget::~Widget()
{
    // A save asked for just before closing may still wait in the export thread's queue, and
    // quit() could end the thread before it is delivered: an empty call queued behind it
    // returns only once everything before it has run.
    QMetaObject::invokeMethod(
        start_save, [] {}, Qt::BlockingQueuedConnection);
    thread_save.quit();
    thread_save.wait();
    THread_1.quit();
    THread_1.wait();
    // The timers tick on threads of their own; stop them before the slots they feed go away
    // with this window (they are deleted with it).
    timer_address->stop();
    timer_dingshi_send->stop();
    delete ui;
}

void Widget::on_button_web_clicked()
{
    QDesktopServices::openUrl(QUrl(kHomePage));
}

QByteArray Widget::change_(QString a)
{
    time_send = time_change(core::frames::clockText(QTime::currentTime()));
    send_mono_ms = monotonic.elapsed();
    return core::frames::fromHexText(a);
}

std::optional<core::CheckMode> Widget::checkMode() const
{
    return core::checkModeAt(ui->jiaoyan_mode->currentIndex());
}

int Widget::time_change(QString string)
{
    return core::frames::timeOfDayMs(string);
}
