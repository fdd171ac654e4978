// The words of a decoded reply in Chinese and English, as every front-end shows them.
#include "core/replytext.h"

#include "core/frames.h"

namespace core::replies {

namespace {

// Both languages follow the same rules; only these texts differ. The module's own frames and
// Modbus have words of their own for the same answer.
struct Texts
{
    const char *modes[3];
    const char *signal;
    // 0xAA frames
    const char *distance;
    const char *laserOff;
    const char *laserOn;
    const char *temperature;
    const char *hardware;
    const char *address;
    const char *state;
    const char *software;
    const char *serial;
    const char *voltage;
    const char *setAddress;
    const char *readOffset;
    const char *writeOffset;
    const char *writeOffsetUnit;
    const char *baudRate;
    const char *moduleError;
    // Modbus
    const char *mbLightOn;
    const char *mbLightOff;
    const char *mbModes[3];
    const char *mbSetAddress;
    const char *mbSetOffset;
    const char *mbSetBaudRate;
    const char *mbVoltage;
    const char *mbSoftware;
    const char *mbHardware;
    const char *mbDistance;
    const char *mbAngle;
    const char *mbTemperature;
    const char *mbSerial;
    const char *mbAddress;
    const char *mbOffset;
    const char *mbException;
};

const Texts kChinese = {
    { "自动测量", "慢速测量", "快速测量" },
    "信号结果：",
    "测量距离:",
    "关闭激光",
    "开启激光",
    "模块温度:",
    "模块硬件版本号:",
    "模块地址:",
    "模块状态:",
    "模块软件版本号:",
    "模块序列号:",
    "模块输入电压:",
    "设置模块地址:",
    "读取模块偏移量:",
    "设置模块偏移量:",
    "mm            ",
    "重置模块波特率为:",
    "模块报错:",
    "开灯成功",
    "关灯成功",
    { "设置自动测量模式成功", "设置慢速测量模式成功", "设置快速测量模式成功" },
    "设置模块地址成功:",
    "设置模块偏移量成功:",
    "设置模块波特率:",
    "模块电压:",
    "模块软件版本号:",
    "模块硬件版本号:",
    "模块测量距离:",
    "模块倾角:",
    "模块温度:",
    "模块序列号:",
    "模块地址:",
    "模块偏移量:",
    "Modbus异常 ",
};

const Texts kEnglish = {
    { "Auto measure", "Slow measure", "Fast measure" },
    "Signal result：",
    "Measuring distance:",
    "Turn off the light successfully",
    "Turn on the light successfully",
    "Module temperature:",
    "Module hardware version number:",
    "Module address:",
    "Module state:",
    "Module software version number:",
    "Module SN:",
    "Module input voltage:",
    "Set module address:",
    "The reading module measures the offset:",
    "Set the module measurement offset:",
    "mm",
    "Reset the module baud rate:",
    "error:",
    "Turn on the light successfully",
    "Turn off the light successfully",
    { "Setting the automatic measurement mode succeeded. Procedure",
        "Setting the slow measurement mode succeeded. Procedure",
        "Succeeded in setting the quick measurement mode" },
    "Setting the module address succeeded. Procedure:",
    "Description Setting the module offset succeeded:",
    "Example Set the module baud rate:",
    "Module voltage:",
    "Module software version number:",
    "Module hardware version number:",
    "Module measuring distance:",
    "Module angle:",
    "Module temperature:",
    "Module SN:",
    "Module address:",
    "The module measures the offset:",
    "Modbus exception ",
};

QString tr8(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Tenths of a unit, shown the way the log always has: general format, 6 digits.
QString tenths(qint64 raw)
{
    return QString::number(double(raw) / 10.0, 'g', 6);
}

} // namespace

QString measureModeText(int measureMode, Language language)
{
    if (measureMode < 0 || measureMode > 2)
        return QString();
    return tr8((language == Language::Chinese ? kChinese : kEnglish).modes[measureMode]);
}

QString describe(const Reply &reply, Language language, const QString &baudRateText)
{
    const Texts &t = language == Language::Chinese ? kChinese : kEnglish;
    const bool aa = reply.protocol == CheckMode::Sum8;
    const auto label = [aa](const char *aaText, const char *modbusText) {
        return tr8(aa ? aaText : modbusText);
    };
    const QString word = frames::toPackedHex(reply.word);
    const QString number = QString::number(reply.number);
    const QString mm = QStringLiteral("mm");
    switch (reply.kind) {
    case Kind::Nothing:
    case Kind::NotAFrame:
        return QString();
    case Kind::Measurement:
        return label(t.distance, t.mbDistance) + number + mm + tr8(t.signal)
            + QString::number(reply.signal);
    case Kind::ModuleError:
        return tr8(t.moduleError) + word;
    case Kind::ModbusException:
        return tr8(t.mbException) + word;
    case Kind::LaserOn:
        return label(t.laserOn, t.mbLightOn);
    case Kind::LaserOff:
        return label(t.laserOff, t.mbLightOff);
    case Kind::MeasureModeSet:
        return reply.number >= 0 && reply.number <= 2 ? tr8(t.mbModes[reply.number]) : QString();
    case Kind::Temperature:
        return label(t.temperature, t.mbTemperature) + tenths(reply.number) + QStringLiteral("°C");
    case Kind::Angle:
        return tr8(t.mbAngle) + tenths(reply.number) + QStringLiteral("°");
    case Kind::Voltage:
        return label(t.voltage, t.mbVoltage) + word + QStringLiteral("mV");
    case Kind::HardwareVersion:
        return label(t.hardware, t.mbHardware) + word;
    case Kind::SoftwareVersion:
        return label(t.software, t.mbSoftware) + word;
    case Kind::SerialNumber:
        return label(t.serial, t.mbSerial) + word;
    case Kind::Status:
        return tr8(t.state) + word;
    case Kind::AddressFound:
        return tr8(t.address) + number;
    case Kind::Address:
        return tr8(t.mbAddress) + word;
    case Kind::AddressSet:
        return aa ? tr8(t.setAddress) + number : tr8(t.mbSetAddress) + word;
    case Kind::OffsetRead:
        return label(t.readOffset, t.mbOffset) + number + mm;
    case Kind::OffsetSet:
        return aa ? tr8(t.writeOffset) + number + tr8(t.writeOffsetUnit)
                  : tr8(t.mbSetOffset) + number + mm;
    case Kind::BaudRateSet:
        return label(t.baudRate, t.mbSetBaudRate) + baudRateText;
    }
    return QString();
}

} // namespace core::replies
