// Finding a module whose line speed, check mode and address are unknown.
#include "core/scan.h"

#include "core/commands.h"
#include "core/frames.h"
#include "core/protocol.h"

#include <QStringList>

namespace core::scan {

using namespace protocol;

namespace {
// The probes and their answers: a status read (AA P 00 00 P) answered by AA P 00 00 00 01 HH LL S,
// and a read of the address register answered by M 03 02 00 M + CRC.
constexpr int kAaAnswerLength = kAaWriteLength;
constexpr int kRtuAnswerLength = rtuReadReplyLength(1);
constexpr int kBitsPerByte = 10; // start, eight data bits, stop

// The addresses of @p range a module in @p checkMode can have.
QPair<int, int> usable(const std::optional<QPair<int, int>> &range, CheckMode checkMode)
{
    const AddressRange all = addressRange(checkMode);
    if (!range)
        return { all.first, all.last };
    return { qMax(range->first, all.first), qMin(range->second, all.last) };
}
} // namespace

QList<Target> order(const Plan &plan)
{
    QList<int> bauds = plan.bauds;
    if (bauds.isEmpty())
        bauds = QList<int>(std::begin(kCommonBauds), std::end(kCommonBauds));
    const QList<CheckMode> modes = plan.checkModes.isEmpty()
        ? QList<CheckMode> { CheckMode::Sum8, CheckMode::Crc }
        : plan.checkModes;

    QList<Target> out;
    for (const int baud : bauds)
        for (const CheckMode mode : modes) {
            const QPair<int, int> range = usable(plan.addresses, mode);
            const int factory = addressRange(mode).factory;
            if (factory >= range.first && factory <= range.second)
                out.append({ baud, mode, factory });
        }
    for (const int baud : bauds)
        for (const CheckMode mode : modes) {
            const QPair<int, int> range = usable(plan.addresses, mode);
            for (int a = range.first; a <= range.second; ++a)
                if (a != addressRange(mode).factory)
                    out.append({ baud, mode, a });
        }
    return out;
}

QByteArray probe(const Target &target)
{
    commands::Inputs in;
    in.address = target.address;
    in.modbusAddress = target.address;
    const commands::Built built
        = commands::build(commands::Command::ReadAddress, target.checkMode, in);
    const QByteArray frame = frames::fromHexText(built.text.value_or(QString()));
    return target.checkMode == CheckMode::Crc ? appendCrc(frame) : frame;
}

int waitMs(const Target &target, int answerMs)
{
    const qint64 bytes = target.checkMode == CheckMode::Sum8 ? kAaReadLength + kAaAnswerLength
                                                             : kRtuRequestLength + kRtuAnswerLength;
    const qint64 bits = bytes * kBitsPerByte;
    const qint64 baud = qMax(target.baud, 1);
    return int((bits * 1000 + baud - 1) / baud) + answerMs;
}

std::optional<int> answeringAddress(const QByteArray &bytes, CheckMode checkMode)
{
    const auto *p = reinterpret_cast<const quint8 *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (checkMode == CheckMode::Sum8) {
        for (qsizetype i = 0; i + kAaAnswerLength <= n; ++i) {
            const quint8 *f = p + i;
            if (f[0] == kAaHeader && (f[1] & kAaReadFlag) && f[2] == 0 && f[3] == 0 && f[4] == 0
                && f[5] == 1 && checkSum8Frame(bytes.constData() + i, kAaAnswerLength))
                return f[1] - kAaReadFlag;
        }
        return std::nullopt;
    }
    constexpr quint8 kRead = quint8(Function::ReadHoldingRegisters);
    for (qsizetype i = 0; i + kRtuExceptionLength <= n; ++i) {
        const quint8 *f = p + i;
        const char *at = bytes.constData() + i;
        // An exception answer proves a module at that address just as well.
        const bool exception
            = f[1] == (kRead | kExceptionFlag) && checkCrc(at, kRtuExceptionLength);
        const bool read = i + kRtuAnswerLength <= n && f[1] == kRead && f[2] == 0x02
            && checkCrc(at, kRtuAnswerLength);
        if ((exception || read) && addressRange(CheckMode::Crc).contains(f[0]))
            return f[0];
    }
    return std::nullopt;
}

std::optional<QList<int>> parseBauds(const QString &text)
{
    QList<int> out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int baud = part.trimmed().toInt(&ok);
        if (!ok || !baudCode(baud))
            return std::nullopt;
        if (!out.contains(baud))
            out.append(baud);
    }
    return out;
}

std::optional<QList<CheckMode>> parseChecks(const QString &text)
{
    QList<CheckMode> out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const std::optional<CheckMode> mode = checkModeFromWord(part.trimmed());
        if (!mode)
            return std::nullopt;
        if (!out.contains(*mode))
            out.append(*mode);
    }
    return out;
}

std::optional<QPair<int, int>> parseAddresses(const QString &text)
{
    const QStringList ends = text.split(QLatin1Char('-'));
    if (ends.size() > 2)
        return std::nullopt;
    bool okFirst = false, okLast = false;
    const int first = ends.first().trimmed().toInt(&okFirst);
    const int last = ends.last().trimmed().toInt(&okLast);
    if (!okFirst || !okLast || first < 0 || last > 255 || first > last)
        return std::nullopt;
    return QPair<int, int>(first, last);
}

} // namespace core::scan
