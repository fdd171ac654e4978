// Frame helpers: hex text, the command-text converter and time-of-day stamps.
#include "core/frames.h"

namespace core::frames {

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";

int hexValue(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}

QString hexPairs(const QByteArray &bytes, bool spaced)
{
    QString out;
    out.reserve(bytes.size() * (spaced ? 3 : 2));
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (spaced && i > 0)
            out += QLatin1Char(' ');
        const auto b = static_cast<quint8>(bytes.at(i));
        out += QLatin1Char(kHexDigits[b >> 4]);
        out += QLatin1Char(kHexDigits[b & 0x0F]);
    }
    return out;
}

int decimalField(const QString &s, int pos, int len)
{
    bool ok = false;
    const int v = s.mid(pos, len).toInt(&ok, 10);
    return ok ? v : 0;
}
} // namespace

QString toHexText(const QByteArray &bytes)
{
    return hexPairs(bytes, true);
}

QString toPackedHex(const QByteArray &bytes)
{
    return hexPairs(bytes, false);
}

QByteArray fromHexText(const QString &text)
{
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    QByteArray out;
    out.reserve(digits.size() / 2 + 1);
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int hi = hexValue(digits.at(i));
        if (i + 1 >= digits.size()) {
            // An odd last digit stands for a byte of its own ("F" -> 0x0F).
            out.append(char(hi < 0 ? 0 : hi));
            break;
        }
        const int lo = hexValue(digits.at(i + 1));
        out.append(char(hi < 0 || lo < 0 ? 0 : (hi << 4) | lo));
    }
    return out;
}

bool isStrictHexText(const QString &text)
{
    qsizetype digits = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char(' '))
            continue;
        if (hexValue(c) < 0)
            return false;
        ++digits;
    }
    return digits > 0 && digits % 2 == 0;
}

QString spacedPairs(const QString &packed)
{
    QString out;
    out.reserve(packed.size() + packed.size() / 2);
    for (qsizetype i = 0; i < packed.size(); i += 2) {
        if (i > 0)
            out += QLatin1Char(' ');
        out += QStringView(packed).mid(i, 2);
    }
    return out;
}

QString clockText(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss.zzz"));
}

int timeOfDayMs(const QString &clock)
{
    return decimalField(clock, 0, 2) * 3600000 + decimalField(clock, 3, 2) * 60000
        + decimalField(clock, 6, 2) * 1000 + decimalField(clock, 9, 3);
}

} // namespace core::frames
