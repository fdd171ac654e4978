// Widget: the main window; declarations grouped by the source file that implements them.
//
// Glossary of the pinyin names: jiexi = parse, jiaoyan = check, botelv = baud rate,
// chuankou = serial port, dingshi = timed, celiang = measure, mokuai = module,
// jiance = monitor, tongzhi = notify, shuju = data, son = worker side, main = window side.
#pragma once

#include "core/analysis/analysis.h"
#include "core/replies.h"
#include "core/scan.h"
#include "core/session.h"
#include "ui/form.h"

#include <qcustomplot.h>

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QThread>
#include <QTime>
#include <QWidget>
#include <functional>
#include <optional>

class QButtonGroup;
class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QSerialPort;
class QTimer;
namespace io {
class PortScanner;
}
class MyTimer;
class Thread_1;
class save_file;

namespace ui {
class AnalysisView;
}

QT_BEGIN_NAMESPACE
namespace Ui {
class Widget;
}
QT_END_NAMESPACE

class Widget : public QWidget
{
    Q_OBJECT

public:
    /// The log panel keeps this many newest lines; the result table and the chart keep all.
    static constexpr int kLogLineLimit = 200000;

    // widget.cpp: construction, wiring and shutdown
    explicit Widget(QWidget *parent = nullptr);
    ~Widget() override;

    Ui::Widget *ui;
    QSerialPort *serial_main_1;
    QThread THread_1;
    Thread_1 *thread_1_son;
    bool serialport_state_1 = false;
    int measure_mode = 0;
    QButtonGroup *checks = nullptr;
    int state_measure = 0;
    Form widget_son;
    QCPGraph *curGraph = nullptr;
    int address_index = 0;
    int address_index_moudbus = 1;
    save_file *start_save = nullptr;
    QThread thread_save;
    int time_send = 0;
    int time_receive = 0;
    int mode_celiang = 0;
    int jiance_mode = 0;
    QCPItemTracer *plottracer = nullptr;
    int screen_x = 0;
    int screen_y = 0;
    MyTimer *timer_address = nullptr;
    MyTimer *timer_dingshi_send = nullptr;
    int mokuai_chose = -1;
    int language = 0;

    /// Asks for the file name of an export; empty means cancelled. Tests replace it.
    std::function<QString()> askSaveFileName;
    /// Asks for the file name of a byte log; empty means cancelled. Tests replace it.
    std::function<QString()> askRecordFileName;

    /// The run shown: records, reply numbering, chart range, last frame, address search.
    const core::Session &session() const { return session_; }

    // widget.cpp: frame helpers
    QByteArray change_(QString a);
    int time_change(QString string);

    // widget_chart.cpp: distance chart set-up
    void paint();

signals:
    void sig_talk_serial_name(QString);
    void sig_send_data_main_1(QByteArray);
    void sig_change_serialport_1(int, QString, int);
    void sig_jiexi_data(QString);
    void sig_jiexi_data_eng(QString);
    void sig_jiexi_data_modbus(QString);
    void sig_jiexi_data_modbus_eng(QString);
    void sig_shw_paint_index(int);
    void sig_save_data(QString, int, QList<QList<QString>>, int);
    void sig_jiaoyan_mode_chose(int);

private slots:
    // widget_port.cpp: port panel, raw and timed sending, port list and hot-plug
    void slot_timer_dingshi_send();
    void slot_show_send_data(QByteArray string);
    void slot_serialport_change_state_1(bool a, QString serialport_name, QString serial_error);
    void on_open_button_clicked();
    void on_button_send_clicked();
    void on_checkBox_dingshi_send_stateChanged(int arg1);
    void on_jiaoyan_mode_activated(int index);
    void slot_mycombobox_clicked();
    void on_comStatus(QString name, bool flag);
    void onReply(const QByteArray &reply);

    // widget_commands.cpp: queries, settings and measurement control
    void slot_timer_address();
    void on_button_read_vcc_clicked();
    void on_button_read_state_clicked();
    void on_button_hardware_clicked();
    void on_button_sofftware_clicked();
    void on_button_serial_number_clicked();
    void on_button_light_clicked();
    void on_button_set_measurement_offset_clicked();
    void on_button_set_address_clicked();
    void on_button_reaad_temp_clicked();
    void on_lineEdit_address_cursorPositionChanged(int arg1, int arg2);
    void on_button_address_clicked();
    void on_button_measure_offce_clicked();
    void on_button_angle_clicked();
    void on_button_set_baudrate_clicked();
    void slot_checks();
    void on_button_once_clicked();
    void on_button_continue_clicked();

    // widget_replies.cpp: reply dispatch, both parsers, log and result table
    void slot_receive_data_main_1(QString data);
    void slot_jiexi_data(QString data);
    void slot_jiexi_data_eng(QString data);
    void slot_jiexi_data_modbus(QString data);
    void slot_jiexi_data_modbus_eng(QString data);
    void on_button_clear_show_clicked();

    // widget_chart.cpp: distance chart
    void setxAxisRange(QCPRange range);
    void myMoveMouseEvent(QMouseEvent *event);
    void on_button_paint_reset_clicked();
    void on_button_jiancha_clicked();
    void on_button_paint_show_clicked();

    // widget_export.cpp: result export
    void slot_tongzhi_close_file(bool index);
    void on_button_save_clicked();

    // widget.cpp
    void on_button_web_clicked();

    // widget_language.cpp: language switch
    void on_button_Language_clicked();

    // widget_pictures.cpp: model choice and the picture window
    void on_comboBox_mokuai_choose_activated(int index);
    void on_button_photo_1_clicked();

public:
    // widget_scan.cpp: finding a module at unknown settings
    /** What Find tries; everything unless narrowed (as the command line's scan options do). */
    void setModuleSearchPlan(const core::scan::Plan &plan) { module_search_plan = plan; }
    /** Closes the port if open, then tries the settings on the chosen port with progress and
     * Cancel; a find fills the baud rate, check mode and address and opens the port. */
    void startModuleSearch();

private:
    core::Session session_;

    // States of the two-state buttons that are no member of their own (the port, continuous
    // measurement and monitoring have theirs above).
    bool laser_on = false;
    bool chart_shown = false;

    /// Name of the port the worker reported open, so hot-plug removal can be
    /// matched without touching the worker's port object from this thread.
    QString open_port_name;
    /// The hot-plug watcher has warned about the open port's removal; the worker's own
    /// report of the same loss must not bring a second box.
    bool port_loss_shown = false;
    /// The custom command last refused as hex, so timed sending reports a typo only once.
    QString refused_send_text;
    /// A timed frame has gone to the worker and its echo has not come back yet.
    bool timed_frame_in_flight = false;
    /// Monotonic twins of time_send/time_receive: the measuring time must not
    /// go negative across midnight or jump with clock changes.
    QElapsedTimer monotonic;
    qint64 send_mono_ms = 0;
    qint64 receive_mono_ms = 0;
    /// Time of the reply being handled: all its lines and its record carry one time.
    QTime reply_time;

    /// The language member and the check-mode box as the types the rest of the program reads.
    core::Language lang() const { return core::languageAt(language); }
    std::optional<core::CheckMode> checkMode() const;

    // widget_port.cpp
    QString portName() const;
    int portBaudRate() const;
    QByteArray customCommandBytes(bool *ok, bool quietIfRepeated = false);
    void showSerialFailure(const QString &detail);

    // widget_commands.cpp
    void sendCommand(const QString &hexText);
    bool runCommand(int command);

    // widget_replies.cpp
    void appendLine(const QString &text);
    void appendRedLine(const QString &text); ///< plain text, shown in red
    /// "N  [HH:mm:ss.zzz] " of the next reply at the current time: the head of a sent line.
    QString timeStamp() const;
    void parseReply(const QString &data, core::Language parserLanguage, core::CheckMode protocol);
    void showReply(const core::replies::Reply &reply, core::Language parserLanguage);

    // widget_chart.cpp
    void addChartPoint(qint32 distance);

    // widget_scan.cpp
    void setUpModuleSearch();
    void runModuleSearch();
    void showModuleFound(const core::scan::Target &module);
    void endModuleSearch(int foundCount, bool cancelled, const QString &error);
    QPushButton *button_find_module = nullptr;
    io::PortScanner *module_search = nullptr;
    QDialog *search_dialog = nullptr;
    QLabel *search_label = nullptr;
    QProgressBar *search_bar = nullptr;
    core::scan::Plan module_search_plan;
    QString search_port;

    // widget_export.cpp
    void showSaveOutcome(bool failed);
    void savePicture(const QPixmap &picture, const QString &path);

    // widget_bench.cpp: the analysis view of the run and the byte log of the line
    void setUpBench();
    void openAnalysis();
    /** Analyses the run again if it has changed since, and looks again later while shown. */
    void refreshAnalysis();
    void forceAnalysis();
    void toggleRecording();
    void stopRecording();
    void showRecording();
    QPushButton *button_analysis = nullptr;
    QPushButton *button_record = nullptr;
    ui::AnalysisView *analysis_view = nullptr;
    QTimer *analysis_refresh = nullptr;
    /// Temperatures read since Delete Data, for the temperature coefficient.
    QList<core::analysis::Temperature> analysis_temperatures;
    qsizetype analysed_count = -1; ///< records and temperatures when last analysed; -1: anew
    qint64 analysis_cost_ms = 0; ///< how long the last analysis took
    QString record_path; ///< the byte log being written; empty: none
};
