// The protocol table: what the two wire protocols are, written once.
#include "core/protocol.h"

#include <algorithm>
#include <utility>

namespace core {

std::optional<CheckMode> checkModeAt(int index)
{
    if (index == indexOf(CheckMode::Sum8))
        return CheckMode::Sum8;
    if (index == indexOf(CheckMode::Crc))
        return CheckMode::Crc;
    return std::nullopt;
}

namespace {
// The command line's words for the check modes and the languages.
constexpr std::pair<CheckMode, const char *> kCheckWords[] = { { CheckMode::Sum8, "none" },
    { CheckMode::Crc, "crc" } };
constexpr std::pair<Language, const char *> kLanguageWords[] = { { Language::Chinese, "zh" },
    { Language::English, "en" } };

template<typename E, size_t N>
QLatin1String wordOf(E value, const std::pair<E, const char *> (&words)[N])
{
    for (const auto &[v, word] : words)
        if (v == value)
            return QLatin1String(word);
    return QLatin1String();
}

template<typename E, size_t N>
std::optional<E> valueOf(const QString &word, const std::pair<E, const char *> (&words)[N])
{
    for (const auto &[v, w] : words)
        if (word == QLatin1String(w))
            return v;
    return std::nullopt;
}
} // namespace

QLatin1String checkModeWord(CheckMode mode)
{
    return wordOf(mode, kCheckWords);
}

std::optional<CheckMode> checkModeFromWord(const QString &word)
{
    return valueOf(word, kCheckWords);
}

QLatin1String languageWord(Language language)
{
    return wordOf(language, kLanguageWords);
}

std::optional<Language> languageFromWord(const QString &word)
{
    return valueOf(word, kLanguageWords);
}

namespace protocol {

std::optional<int> baudCode(int baud)
{
    const auto it = std::find(kBaudRates.begin() + 1, kBaudRates.end(), baud);
    return it == kBaudRates.end() ? std::nullopt : std::optional<int>(int(it - kBaudRates.begin()));
}

int baudOfCode(int code)
{
    return code >= 0 && code < int(kBaudRates.size()) ? kBaudRates[size_t(code)] : 0;
}

bool isKnownFunction(quint8 code)
{
    switch (Function(code & ~kExceptionFlag)) {
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
    case Function::WriteSingleCoil:
    case Function::WriteSingleRegister:
    case Function::WriteMultipleCoils:
    case Function::WriteMultipleRegisters:
        return true;
    }
    return false;
}

void ReplyLengths::add(int l)
{
    if (contains(l))
        return;
    if (count < int(len.size()))
        len[size_t(count++)] = l;
}

bool ReplyLengths::contains(int l) const
{
    return std::find(len.begin(), len.begin() + count, l) != len.begin() + count;
}

namespace {

// The more likely of the two reply lengths of a 0xAA/0xEE frame: the word count (bytes 4-5) says
// it when it is 1 or 3; else measurement registers give the long form.
int likelyAaLength(const quint8 *p, qsizetype avail)
{
    if (p[0] == kAaErrorHeader)
        return kAaWriteLength;
    if (avail >= 6 && p[4] == 0) {
        if (p[5] == 1)
            return kAaWriteLength;
        if (p[5] == 3)
            return kAaMeasurementLength;
    }
    return avail >= 4 && !isAaMeasurementRegister(p[3]) ? kAaWriteLength : kAaMeasurementLength;
}

} // namespace

ReplyLengths replyLengths(const quint8 *p, qsizetype avail, CheckMode mode)
{
    ReplyLengths out;
    if (mode == CheckMode::Sum8) {
        if (avail < 1 || !isAaHeader(p[0]))
            return out;
        const int first = likelyAaLength(p, avail);
        out.add(first);
        out.add(first == kAaMeasurementLength ? kAaWriteLength : kAaMeasurementLength);
        return out;
    }
    if (avail < 2)
        return out;
    const quint8 fc = p[1];
    if (fc & kExceptionFlag) {
        out.add(kRtuExceptionLength);
        return out;
    }
    const bool counted = avail >= 3;
    switch (Function(fc)) {
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
        if (counted)
            out.add(5 + p[2]);
        break;
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
        out.add(kRtuRequestLength); // the echo of the measurement-mode frame
        if (counted)
            out.add(5 + p[2]);
        break;
    case Function::WriteSingleCoil:
    case Function::WriteSingleRegister:
    case Function::WriteMultipleCoils:
    case Function::WriteMultipleRegisters:
        out.add(kRtuRequestLength);
        break;
    }
    return out;
}

int impliedLength(const quint8 *p, qsizetype avail, CheckMode mode)
{
    if (avail <= 0)
        return 0;
    if (mode == CheckMode::Sum8)
        return isAaHeader(p[0]) ? likelyAaLength(p, avail) : 0;
    if (avail == 1)
        return kRtuMaxLength; // an address byte alone: anything goes
    const quint8 fc = p[1];
    if (!isKnownFunction(fc))
        return 0;
    if (fc & kExceptionFlag)
        return kRtuExceptionLength;
    switch (Function(fc)) {
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
        return avail >= 3 ? 5 + p[2] : kRtuMaxLength;
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
        return avail >= 3 ? qMax(kRtuRequestLength, 5 + p[2]) : kRtuMaxLength;
    default:
        return kRtuRequestLength;
    }
}

int shortestLength(const quint8 *p, qsizetype avail, CheckMode mode)
{
    if (avail <= 0)
        return 0;
    if (mode == CheckMode::Sum8) {
        if (!isAaHeader(p[0]))
            return 0;
        if (avail < 6)
            return kAaWriteLength;
        const bool counted = p[4] == 0 && (p[5] == 1 || p[5] == 3);
        return counted ? 7 + 2 * p[5] : kAaMinLength;
    }
    if (avail == 1)
        return kRtuMinLength;
    const quint8 fc = p[1];
    if (!isKnownFunction(fc))
        return 0;
    if (fc & kExceptionFlag)
        return kRtuExceptionLength;
    switch (Function(fc)) {
    case Function::ReadHoldingRegisters:
    case Function::ReadInputRegisters:
        return avail >= 3 ? 5 + p[2] : 5;
    case Function::ReadCoils:
    case Function::ReadDiscreteInputs:
        return avail >= 3 ? qMin(kRtuRequestLength, 5 + p[2]) : 5;
    default:
        return kRtuRequestLength;
    }
}

bool contradictsWordCount(const quint8 *p, qsizetype len)
{
    if (len < 7 || p[4] != 0 || (p[5] != 1 && p[5] != 3))
        return false;
    return len != 7 + 2 * qsizetype(p[5]);
}

quint8 sum8(const char *data, qsizetype len)
{
    quint8 sum = 0;
    for (qsizetype i = 0; i < len; ++i)
        sum = quint8(sum + static_cast<quint8>(data[i]));
    return sum;
}

quint16 crc16(const char *data, qsizetype len)
{
    quint16 crc = kCrc16Init;
    for (qsizetype i = 0; i < len; ++i)
        crc = crc16Step(crc, static_cast<quint8>(data[i]));
    return crc;
}

QByteArray appendCrc(const QByteArray &frame)
{
    const quint16 crc = crc16(frame);
    QByteArray out = frame;
    out.append(char(crc & 0xFF));
    out.append(char(crc >> 8));
    return out;
}

bool checkCrc(const char *data, qsizetype len)
{
    if (len < 2)
        return false;
    const quint16 received
        = quint16(static_cast<quint8>(data[len - 2]) | (static_cast<quint8>(data[len - 1]) << 8));
    return crc16(data, len - 2) == received;
}

bool checkSum8Frame(const char *data, qsizetype len)
{
    if (len < 2 || !isAaHeader(static_cast<quint8>(data[0])))
        return false;
    return sum8(data + 1, len - 2) == static_cast<quint8>(data[len - 1]);
}

} // namespace protocol
} // namespace core
