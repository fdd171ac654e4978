// Reply decoders of both protocols, the log-block and echo formatting, and the chart range rule.
#include "replies.h"

#include "frames.h"

#include <limits>

namespace replies {

QString htmlText(const QString &text)
{
    // Rich text folds runs of blanks into one; the log must show "0  [" as plain lines do.
    return text.toHtmlEscaped().replace(QLatin1String("  "), QLatin1String("&nbsp; "));
}

namespace {

// Both languages follow the same rules; only these texts differ.
struct Texts
{
    const char *modes[3];
    const char *receive;
    // 0xAA protocol
    const char *distance;
    const char *signal;
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
    "接收:",
    "测量距离:",
    "信号结果：",
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
    "Receive:",
    "Measuring distance:",
    "Signal result：",
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

const Texts &textsFor(int language)
{
    return language == 0 ? kChinese : kEnglish;
}

QString tr8(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// Byte k of packed hex text sits at characters 2k and 2k+1.
QString chars(const QString &packed, int byte, int bytes)
{
    return packed.mid(2 * byte, 2 * bytes);
}

// A field the reply is too short for, or that holds a non-hex character,
// reads as 0, so a damaged reply still yields a line instead of nothing.
quint32 unsignedField(const QString &packed, int byte, int bytes)
{
    quint32 value = 0;
    const QString field = chars(packed, byte, bytes);
    for (const QChar c : field) {
        const ushort u = c.unicode();
        int digit;
        if (u >= '0' && u <= '9')
            digit = u - '0';
        else if (u >= 'A' && u <= 'F')
            digit = u - 'A' + 10;
        else if (u >= 'a' && u <= 'f')
            digit = u - 'a' + 10;
        else
            return 0;
        value = (value << 4) | quint32(digit);
    }
    return value;
}

qint16 signed16(const QString &packed, int byte)
{
    return qint16(quint16(unsignedField(packed, byte, 2)));
}

qint32 signed32(const QString &packed, int byte)
{
    return qint32(unsignedField(packed, byte, 4));
}

// Tenths of a unit, shown the way the log always has: general format, 6 digits.
QString tenths(qint64 raw)
{
    return QString::number(double(raw) / 10.0, 'g', 6);
}

QStringList measurementRecord(const QString &clock, int measureMode, int modeCeliang,
    qint64 measuringTimeMs, int language, const QString &distance, const QString &signal)
{
    // Only a single measurement has a start to measure from; continuous
    // replies come on their own.
    const QString elapsed = modeCeliang == 1 ? QString::number(measuringTimeMs) : QString();
    return { clock, measureModeText(measureMode, language), distance, signal, elapsed };
}

Result text(const QString &body)
{
    Result r;
    r.kind = Kind::Text;
    r.body = body;
    return r;
}

} // namespace

QString measureModeText(int measureMode, int language)
{
    if (measureMode < 0 || measureMode > 2)
        return QString();
    return tr8(textsFor(language).modes[measureMode]);
}

Result decodeAa(const QString &packedReply, const AaContext &ctx, int language)
{
    const Texts &t = textsFor(language);
    const QString header = chars(packedReply, 0, 1);

    if (header == QLatin1String("EE")) {
        const QString code = chars(packedReply, 6, 2);
        Result r;
        r.kind = Kind::ModuleError;
        r.body = tr8(t.moduleError) + code;
        r.record = measurementRecord(ctx.clock, ctx.measureMode, ctx.modeCeliang,
            ctx.measuringTimeMs, language, code, QString());
        return r;
    }
    if (header != QLatin1String("AA")) {
        Result r;
        r.kind = Kind::Separator;
        return r;
    }

    const QString reg = chars(packedReply, 3, 1);
    const QString word = chars(packedReply, 6, 2);

    if (reg == QLatin1String("22") || reg == QLatin1String("20")) {
        const qint32 distance = signed32(packedReply, 6);
        const qint16 signal = signed16(packedReply, 10);
        Result r;
        r.kind = Kind::Measurement;
        r.body = tr8(t.distance) + QString::number(distance) + QLatin1String("mm") + tr8(t.signal)
            + QString::number(signal);
        r.record = measurementRecord(ctx.clock, ctx.measureMode, ctx.modeCeliang,
            ctx.measuringTimeMs, language, QString::number(distance), QString::number(signal));
        r.chartDistance = distance;
        return r;
    }
    if (reg == QLatin1String("BE")) {
        const QString laser = chars(packedReply, 7, 1);
        if (laser == QLatin1String("00"))
            return text(tr8(t.laserOff));
        if (laser == QLatin1String("01"))
            return text(tr8(t.laserOn));
        return Result();
    }
    if (reg == QLatin1String("08"))
        return text(tr8(t.temperature) + tenths(signed16(packedReply, 6)) + QStringLiteral("°C"));
    if (reg == QLatin1String("0A"))
        return text(tr8(t.hardware) + word);
    if (reg == QLatin1String("00")) {
        if (!ctx.addressSearchRunning)
            return text(tr8(t.state) + word);
        // A module that answers after the next probe went out would be
        // reported under the wrong address; its own read address byte
        // (address + 0x80) names it exactly.
        const quint32 addressByte = unsignedField(packedReply, 1, 1);
        const int address = addressByte >= 0x80 ? int(addressByte - 0x80) : ctx.addressI;
        Result r = text(tr8(t.address) + QString::number(address));
        r.stopAddressSearch = true;
        return r;
    }
    if (reg == QLatin1String("0C"))
        return text(tr8(t.software) + word);
    if (reg == QLatin1String("0E"))
        return text(tr8(t.serial) + word);
    if (reg == QLatin1String("06"))
        return text(tr8(t.voltage) + word + QLatin1String("mV"));
    if (reg == QLatin1String("10")) {
        const int address = int(unsignedField(packedReply, 7, 1));
        Result r = text(tr8(t.setAddress) + QString::number(address));
        r.newAddressIndex = address;
        return r;
    }
    if (reg == QLatin1String("12")) {
        // Reads carry the read flag (0x80) in the address byte; the module
        // echoes it, so the number alone tells a read from a write.
        const QString offset = QString::number(signed16(packedReply, 6));
        if (unsignedField(packedReply, 1, 1) > 79)
            return text(tr8(t.readOffset) + offset + QLatin1String("mm"));
        return text(tr8(t.writeOffset) + offset + tr8(t.writeOffsetUnit));
    }
    if (reg == QLatin1String("14"))
        return text(tr8(t.baudRate) + ctx.baudRateText);
    return Result();
}

Result decodeModbus(
    const QString &packedReply, const QString &sendMeasure, const ModbusContext &ctx, int language)
{
    const Texts &t = textsFor(language);

    // An exception reply carries only a code; reading it as the answer to the
    // last frame would show invented values.
    if (unsignedField(packedReply, 1, 1) & 0x80) {
        Result r;
        r.kind = Kind::ModbusException;
        r.body = tr8(t.mbException) + chars(packedReply, 2, 1);
        return r;
    }

    const QString function = chars(sendMeasure, 1, 1);
    const QString reg = chars(sendMeasure, 3, 1);
    const QString sent4 = chars(sendMeasure, 4, 1);
    const QString sent5 = chars(sendMeasure, 5, 1);

    if (function == QLatin1String("05")) {
        if (chars(packedReply, 4, 1) == QLatin1String("FF"))
            return text(tr8(t.mbLightOn));
        if (sent4 == QLatin1String("00"))
            return text(tr8(t.mbLightOff));
        return Result();
    }
    if (function == QLatin1String("01")) {
        for (int mode = 0; mode < 3; ++mode) {
            if (sent5 == QStringLiteral("0%1").arg(mode))
                return text(tr8(t.mbModes[mode]));
        }
        return Result();
    }
    if (function == QLatin1String("06")) {
        if (reg == QLatin1String("00")) {
            Result r = text(tr8(t.mbSetAddress) + chars(packedReply, 5, 1));
            r.newAddressIndexMoudbus = int(unsignedField(packedReply, 5, 1));
            return r;
        }
        if (reg == QLatin1String("01")) {
            return text(tr8(t.mbSetOffset) + QString::number(signed16(packedReply, 4))
                + QLatin1String("mm"));
        }
        if (reg == QLatin1String("03"))
            return text(tr8(t.mbSetBaudRate) + ctx.baudRateText);
        return Result();
    }
    if (function == QLatin1String("04")) {
        const QString first = chars(packedReply, 3, 2);
        if (reg == QLatin1String("01"))
            return text(tr8(t.mbVoltage) + first + QLatin1String("mV"));
        if (reg == QLatin1String("02"))
            return text(tr8(t.mbSoftware) + first);
        if (reg == QLatin1String("03"))
            return text(tr8(t.mbHardware) + first);
        if (reg == QLatin1String("04")) {
            const qint32 distance = signed32(packedReply, 3);
            const qint16 signal = signed16(packedReply, 7);
            Result r;
            r.kind = Kind::Measurement;
            r.body = tr8(t.mbDistance) + QString::number(distance) + QLatin1String("mm")
                + tr8(t.signal) + QString::number(signal);
            r.record = measurementRecord(ctx.clock, ctx.measureMode, ctx.modeCeliang,
                ctx.measuringTimeMs, language, QString::number(distance), QString::number(signal));
            return r;
        }
        if (reg == QLatin1String("05"))
            return text(tr8(t.mbAngle) + tenths(signed32(packedReply, 3)) + QStringLiteral("°"));
        if (reg == QLatin1String("06")) {
            return text(
                tr8(t.mbTemperature) + tenths(signed16(packedReply, 3)) + QStringLiteral("°C"));
        }
        if (reg == QLatin1String("07"))
            return text(tr8(t.mbSerial) + first);
        return Result();
    }
    if (function == QLatin1String("03")) {
        if (reg == QLatin1String("00"))
            return text(tr8(t.mbAddress) + chars(packedReply, 4, 1));
        if (reg == QLatin1String("01")) {
            return text(
                tr8(t.mbOffset) + QString::number(signed16(packedReply, 3)) + QLatin1String("mm"));
        }
        return Result();
    }
    return Result();
}

QString separator()
{
    return QString(kSeparatorWidth, QLatin1Char('-'));
}

QString linePrefix(int showNum, const QString &clock)
{
    return QString::number(showNum) + QLatin1String("  [") + clock + QLatin1String("] ");
}

QString resultBlock(int showNum, const QString &clock, const QString &body)
{
    return linePrefix(showNum, clock) + body + QLatin1Char('\n') + separator();
}

QString redResultBlock(int showNum, const QString &clock, const QString &body)
{
    return QLatin1String("<font color='red'>") + htmlText(linePrefix(showNum, clock))
        + htmlText(body) + QLatin1String("<br>") + separator() + QLatin1String("</font>");
}

QString logBlock(const Result &result, int showNum, const QString &clock)
{
    switch (result.kind) {
    case Kind::Nothing:
        return QString();
    case Kind::Separator:
        return separator();
    case Kind::ModuleError:
    case Kind::ModbusException:
        return redResultBlock(showNum, clock, result.body);
    case Kind::Text:
    case Kind::Measurement:
        break;
    }
    return resultBlock(showNum, clock, result.body);
}

bool isErrorReply(const QString &packedReply)
{
    return packedReply.startsWith(QLatin1String("EE"));
}

EchoLine echoLine(int showNum, const QString &clock, const QString &packedReply, int language)
{
    const QString line = linePrefix(showNum, clock) + tr8(textsFor(language).receive)
        + frames::spacedPairs(packedReply);
    if (!isErrorReply(packedReply))
        return { line, false };
    return { QLatin1String("<font color='red'>") + htmlText(line) + QLatin1String("</font>"),
        true };
}

Route routeReply(const QString &packedReply, int checkMode)
{
    if (packedReply.isEmpty())
        return Route::Empty;
    if (packedReply.size() < kMinParsedChars)
        return Route::TooShort;
    if (checkMode == 0)
        return Route::Aa;
    if (checkMode == 1)
        return Route::Modbus;
    return Route::Unparsed;
}

ChartRange applyDistance(int minY, int maxY, qint32 distance, int showNum, int jianceMode)
{
    ChartRange range;
    range.minY = minY;
    range.maxY = maxY;
    if (jianceMode != 0)
        return range; // monitoring: the operator's view stays where it is
    if (showNum > 20)
        range.xUpper = showNum;
    if (distance > maxY) {
        // 10% headroom above the largest distance; a distance near either int
        // limit would overflow the conversion, so the range stops there.
        const double top = 1.1 * double(distance);
        range.maxY = top >= double(std::numeric_limits<int>::max())
            ? std::numeric_limits<int>::max()
            : top <= double(std::numeric_limits<int>::min()) ? std::numeric_limits<int>::min()
                                                             : int(top);
    } else if (distance < minY) {
        range.minY = distance;
    }
    range.setYRange = true;
    return range;
}

} // namespace replies
