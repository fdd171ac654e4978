// Language switch: every fixed text, the two-state buttons and the axis titles in Chinese or
// English.
#include "ui_widget.h"
#include "widget.h"

#include <QSignalBlocker>

namespace {
struct TextPair
{
    const char *chinese;
    const char *english;
};

QString pick(const TextPair &t, int language)
{
    return QString::fromUtf8(language == 0 ? t.chinese : t.english);
}

// Two-state buttons: the text tells the state, so a switch maps each text to its twin.
void translateToggle(QAbstractButton *button, std::initializer_list<TextPair> states, int language)
{
    for (const TextPair &state : states) {
        const QString from = pick(state, language == 0 ? 1 : 0);
        if (button->text() == from)
            button->setText(pick(state, language));
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
        ui->jiaoyan_mode->addItem(
            language == 0 ? QStringLiteral("无校验") : QStringLiteral("No-check"));
        ui->jiaoyan_mode->addItem(
            language == 0 ? QStringLiteral("CRC校验") : QStringLiteral("CRC-check"));
        ui->jiaoyan_mode->setCurrentIndex(checkMode < 0 ? 0 : checkMode);
    }

    const struct
    {
        QWidget *control;
        TextPair text;
    } fixed[] = {
        { ui->button_Language, { "English", "中      文" } },
        { ui->label_11, { "测距折线图", "Range Line chart" } },
        { ui->label_5, { "测距折线图", "Range Line chart" } },
        { ui->label_6, { "接收数据显示", "Received Data display" } },
        { ui->label_10, { "测距控制区", "Range Control area" } },
        { ui->label_13, { "串口设置区", "Serial Port setup area" } },
        { ui->label_14, { "图片预览区", "Image Preview area" } },
        { ui->label_8, { "模块状态查询", "Module Status read" } },
        { ui->label_18, { "  串  口  号", " Serial Select" } },
        { ui->label_3, { "  模 块  型 号", " Module Type" } },
        { ui->label_16, { "  波 特 率", " Baudrate" } },
        { ui->label_17, { "  校 验 方 式", " Check Formula" } },
        { ui->label_4, { "  模 块 地 址", " Mode Address" } },
        { ui->label, { "  原 地 址", " Old Address" } },
        { ui->label_2, { "  新 地 址", " New Address" } },
        { ui->button_set_measurement_offset, { "  设 置 偏 移", " Set Offset" } },
        { ui->button_set_baudrate, { "  重 置 波 特 率", " Reset Baudrate" } },
        { ui->button_set_address, { "  设 置 地 址", " Set Address" } },
        { ui->radioButton_auto, { "自动测量", "Auto Measure" } },
        { ui->radioButton_low, { "慢速测量", "Slow Measure" } },
        { ui->radioButton_fast, { "快速测量", "Fast Measure" } },
        { ui->button_once, { "单 次 测 量", "Single Measure" } },
        { ui->button_save, { "保存数据", "Save Data" } },
        { ui->button_clear_show, { "清除数据", "Delete Data" } },
        { ui->button_send, { "发送数据", "Send Data" } },
        { ui->checkBo_hex, { "HEX发送", "HEX Send " } },
        { ui->checkBox_dingshi_send, { "定时发送", "Periodic Send" } },
        { ui->label_9, { "ms/次", "Ms/Once" } },
        { ui->label_12, { "       自定义命令", "    Custom Input" } },
        { ui->button_paint_reset, { "复 位 图 形", "Reset Graphics" } },
        { ui->button_sofftware, { "软件版本号", "SW Version" } },
        { ui->button_hardware, { "硬件版本号", "HW Version" } },
        { ui->button_serial_number, { "模块序列号", "Serial Number" } },
        { ui->button_address, { "模 块 地 址", "Address" } },
        { ui->button_measure_offce, { "偏    移    量", "Offset" } },
        { ui->button_read_vcc, { "电            压", "Voltage" } },
        { ui->button_reaad_temp, { "温           度", "Temperature" } },
        { ui->button_read_state, { "状           态", "Status" } },
        { ui->button_angle, { "倾            角", "Angle" } },
    };
    for (const auto &entry : fixed) {
        const QString text = pick(entry.text, language);
        if (auto *label = qobject_cast<QLabel *>(entry.control))
            label->setText(text);
        else if (auto *button = qobject_cast<QAbstractButton *>(entry.control))
            button->setText(text);
    }

    // The layout's first open-button label has one leading blank; it means "closed" too.
    if (language == 1 && ui->open_button->text() == QStringLiteral(" 打 开 串 口"))
        ui->open_button->setText(QStringLiteral("Open Serial"));
    translateToggle(ui->open_button,
        { { "  打 开 串 口", "Open Serial" }, { "  关 闭 串 口", "Close Serial" } }, language);
    translateToggle(ui->button_light,
        { { "开启激光", "Laser    on " }, { "关闭激光", "Laser    off" } }, language);
    translateToggle(ui->button_continue,
        { { "连续测量", "Repeat measure" }, { "停止测量", "Stop measure" } }, language);
    translateToggle(ui->button_paint_show,
        { { "打开折线图", "Open line chart" }, { "关闭折线图", "Close line chart" } }, language);
    translateToggle(ui->button_jiancha,
        { { "开 始 监 测", "Start Tracking " }, { "停 止 监 测", "Stop Tracking " } }, language);

    QCustomPlot *plot = ui->widget_paint;
    plot->xAxis->setLabel(language == 0 ? QStringLiteral("测量次数/次")
                                        : QStringLiteral("Number of measurements/times"));
    plot->yAxis->setLabel(
        language == 0 ? QStringLiteral("测量距离/mm") : QStringLiteral("Measuring distance /mm"));
    replotChart(QCustomPlot::rpRefreshHint);

    ++language_i;
}
