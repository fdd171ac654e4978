// The window's own texts in Chinese and English, in one table.
#include "ui/texts.h"

namespace ui::texts {

namespace {

struct Pair
{
    Text text;
    const char *chinese;
    const char *english;
};

constexpr Pair kTexts[] = {
    { Text::WarnTitle, "警告：", "warn:" },
    { Text::SerialFailure, "串口通信故障", "Serial communication failure" },
    { Text::SaveFailed, "文件保存失败", "File saving failure" },
    { Text::SaveTitle, "保存结果:", "Save the result:" },
    { Text::SaveDone, "文件保存成功", "File saved successfully" },
    { Text::PictureNotSaved, "折线图图片保存失败: ", "Chart picture not saved: " },
    { Text::NotHex, "不是有效的十六进制命令，未发送: ", "Not valid hex, nothing sent: " },
    { Text::BadPeriod, "定时发送周期无效: ", "Invalid send period: " },
    { Text::Send, "发送:", "Send:" },
    { Text::Receive, "接收:", "Receive:" },
    { Text::LogTrimmed, "日志只保留最新的 %1 行，更早的行从这里起被删除；结果表保留全部测量数据。",
        "The log keeps the newest %1 lines: older lines are removed from here on. The result "
        "table keeps every measurement." },
    { Text::NoModel, "未选择模块", "Unselected module" },
    { Text::NoCheck, "无校验", "No-check" },
    { Text::CrcCheck, "CRC校验", "CRC-check" },
    { Text::ChartX, "测量次数/次", "Number of measurements/times" },
    { Text::ChartY, "测量距离/mm", "Measuring distance /mm" },
    { Text::FindTitle, "查找模块", "Find module" },
    { Text::FindTrying, "正在尝试 %1 波特率，%2，地址 %3", "Trying %1 baud, %2, address %3" },
    { Text::FindFound, "在 %1 找到模块：%2 波特率，%3，地址 %4",
        "Module found on %1: %2 baud, %3, address %4" },
    { Text::FindNone, "%1 上没有模块应答（已尝试 %2 种设置）",
        "No module answered on %1 (%2 settings tried)" },
    { Text::FindCancelled, "查找模块已取消", "Module search cancelled" },
    { Text::FindFailed, "无法查找模块：", "Cannot search for a module: " },
    { Text::AnalysisTitle, "运行分析（自清除数据起）", "Analysis of the run (since Delete Data)" },
    { Text::AnalysisDistance, "测量距离/mm", "Distance /mm" },
    { Text::AnalysisRecords, "记录数", "Records" },
    { Text::AnalysisNormal, "正态曲线（平均值，标准差）", "Normal curve (mean, sigma)" },
    { Text::AnalysisTau, "平均时间 τ/s", "Averaging time τ /s" },
    { Text::AnalysisAdev, "Allan 偏差/mm", "Allan deviation /mm" },
    { Text::AnalysisWhiteNoise, "白噪声（斜率 -1/2）", "White noise (slope -1/2)" },
    { Text::RecordDone, "字节记录已写入：", "Byte log written: " },
    { Text::RecordFailed, "字节记录失败：", "Byte log failed: " },
    { Text::OpenSerial, "  打 开 串 口", "Open Serial" },
    { Text::CloseSerial, "  关 闭 串 口", "Close Serial" },
    { Text::LaserOn, "开启激光", "Laser    on " },
    { Text::LaserOff, "关闭激光", "Laser    off" },
    { Text::RepeatMeasure, "连续测量", "Repeat measure" },
    { Text::StopMeasure, "停止测量", "Stop measure" },
    { Text::OpenChart, "打开折线图", "Open line chart" },
    { Text::CloseChart, "关闭折线图", "Close line chart" },
    { Text::StartTracking, "开 始 监 测", "Start Tracking " },
    { Text::StopTracking, "停 止 监 测", "Stop Tracking " },
    { Text::RecordBytes, "记录字节", "Record bytes" },
    { Text::StopRecording, "停止记录", "Stop recording" },
};
static_assert(sizeof kTexts / sizeof kTexts[0] == size_t(Text::Count), "one row per text");

const QList<ControlText> kControls = {
    { "button_Language", "English", "中      文" },
    { "button_find_module", "查找模块", "Find module" },
    { "button_find_cancel", "取消", "Cancel" },
    { "button_analysis", "分析", "Analysis" },
    { "label_11", "测距折线图", "Range Line chart" },
    { "label_5", "测距折线图", "Range Line chart" },
    { "label_6", "接收数据显示", "Received Data display" },
    { "label_10", "测距控制区", "Range Control area" },
    { "label_13", "串口设置区", "Serial Port setup area" },
    { "label_14", "图片预览区", "Image Preview area" },
    { "label_8", "模块状态查询", "Module Status read" },
    { "label_18", "  串  口  号", " Serial Select" },
    { "label_3", "  模 块  型 号", " Module Type" },
    { "label_16", "  波 特 率", " Baudrate" },
    { "label_17", "  校 验 方 式", " Check Formula" },
    { "label_4", "  模 块 地 址", " Mode Address" },
    { "label", "  原 地 址", " Old Address" },
    { "label_2", "  新 地 址", " New Address" },
    { "button_set_measurement_offset", "  设 置 偏 移", " Set Offset" },
    { "button_set_baudrate", "  重 置 波 特 率", " Reset Baudrate" },
    { "button_set_address", "  设 置 地 址", " Set Address" },
    { "radioButton_auto", "自动测量", "Auto Measure" },
    { "radioButton_low", "慢速测量", "Slow Measure" },
    { "radioButton_fast", "快速测量", "Fast Measure" },
    { "button_once", "单 次 测 量", "Single Measure" },
    { "button_save", "保存数据", "Save Data" },
    { "button_clear_show", "清除数据", "Delete Data" },
    { "button_send", "发送数据", "Send Data" },
    { "checkBo_hex", "HEX发送", "HEX Send " },
    { "checkBox_dingshi_send", "定时发送", "Periodic Send" },
    { "label_9", "ms/次", "Ms/Once" },
    { "label_12", "       自定义命令", "    Custom Input" },
    { "button_paint_reset", "复 位 图 形", "Reset Graphics" },
    { "button_sofftware", "软件版本号", "SW Version" },
    { "button_hardware", "硬件版本号", "HW Version" },
    { "button_serial_number", "模块序列号", "Serial Number" },
    { "button_address", "模 块 地 址", "Address" },
    { "button_measure_offce", "偏    移    量", "Offset" },
    { "button_read_vcc", "电            压", "Voltage" },
    { "button_reaad_temp", "温           度", "Temperature" },
    { "button_read_state", "状           态", "Status" },
    { "button_angle", "倾            角", "Angle" },
};

struct WarningTexts
{
    core::commands::Warning warning;
    const char *chineseText;
    const char *chineseTitle;
    const char *englishText;
};

// The tilt warning's Chinese title is "warn：", unlike the others: the window has always shown it
// so.
constexpr WarningTexts kWarnings[] = {
    { core::commands::Warning::StatusNotAvailable, "该模块不支持查看模块状态", "警告：",
        "The module does not support checking the module status" },
    { core::commands::Warning::ContinuousNotAvailable, "该模块不支持连续测量", "警告：",
        "This module does not support continuous measurement" },
    { core::commands::Warning::AngleNotAvailable, "该模块不支持查看模块倾角", "warn：",
        "This module does not support viewing module inclination" },
    { core::commands::Warning::AddressOutOfRange,
        "模块地址必须在 0 到 127 之间（无校验）或 1 到 247 之间（CRC校验）", "警告：",
        "The module address must be 0 to 127 (No-check) or 1 to 247 (CRC-check)" },
    { core::commands::Warning::OffsetInvalid, "偏移量必须是 -32768 到 65535 之间的整数 (mm)",
        "警告：", "The offset must be a whole number of mm from -32768 to 65535" },
    { core::commands::Warning::AddressInvalid, "请输入 0 到 255 之间的模块地址", "警告：",
        "Enter a module address from 0 to 255" },
};

const WarningTexts *findWarning(core::commands::Warning warning)
{
    for (const WarningTexts &w : kWarnings) {
        if (w.warning == warning)
            return &w;
    }
    return nullptr;
}

} // namespace

const QList<ControlText> &controlTexts()
{
    return kControls;
}

QString get(Text text, core::Language language)
{
    const Pair &pair = kTexts[int(text)];
    Q_ASSERT(pair.text == text);
    return QString::fromUtf8(language == core::Language::Chinese ? pair.chinese : pair.english);
}

QString toggle(Text off, bool on, core::Language language)
{
    return get(on ? Text(int(off) + 1) : off, language);
}

QString warningText(core::commands::Warning warning, core::Language language)
{
    const WarningTexts *w = findWarning(warning);
    if (!w)
        return {};
    return QString::fromUtf8(language == core::Language::Chinese ? w->chineseText : w->englishText);
}

QString warningTitle(core::commands::Warning warning, core::Language language)
{
    const WarningTexts *w = findWarning(warning);
    if (!w)
        return {};
    return language == core::Language::Chinese ? QString::fromUtf8(w->chineseTitle)
                                               : QStringLiteral("warn:");
}

} // namespace ui::texts
