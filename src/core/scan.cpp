// Finding a module whose line speed, check mode and address are unknown.
#include "core/scan.h"

#include "core/commands.h"
#include "core/frames.h"

#include <QStringList>

namespace scan {

namespace {
// Lengths of the probes and of their answers: a status read (AA P 00 00 P) answered by
// AA P 00 00 00 01 HH LL S, and a read of the address register answered by M 03 02 00 M + CRC.
constexpr int kProbeLen[] = { 5, 8 };
constexpr int kAnswerLen[] = { 9, 7 };
constexpr int kBitsPerByte = 10; // start, eight data bits, stop

// The addresses of @p range a module in @p checkMode can have.
QPair<int, int> usable(const std::optional<QPair<int, int>> &range, int checkMode)
{
    const int first = kFirstAddress[checkMode], last = kLastAddress[checkMode];
    if (!range)
        return { first, last };
    return { qMax(range->first, first), qMin(range->second, last) };
}
} // namespace

QList<Target> order(const Plan &plan)
{
    QList<int> bauds = plan.bauds;
    if (bauds.isEmpty())
        bauds = QList<int>(std::begin(kCommonBauds), std::end(kCommonBauds));
    const QList<int> modes = plan.checkModes.isEmpty() ? QList<int> { 0, 1 } : plan.checkModes;

    QList<Target> out;
    for (const int baud : bauds)
        for (const int mode : modes) {
            const QPair<int, int> range = usable(plan.addresses, mode);
            const int factory = kFactoryAddress[mode];
            if (factory >= range.first && factory <= range.second)
                out.append({ baud, mode, factory });
        }
    for (const int baud : bauds)
        for (const int mode : modes) {
            const QPair<int, int> range = usable(plan.addresses, mode);
            for (int a = range.first; a <= range.second; ++a)
                if (a != kFactoryAddress[mode])
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
    return target.checkMode == 1 ? frames::appendCrc(frame) : frame;
}

int waitMs(const Target &target, int answerMs)
{
    const int mode = target.checkMode == 1 ? 1 : 0;
    const qint64 bits = qint64(kProbeLen[mode] + kAnswerLen[mode]) * kBitsPerByte;
    const qint64 baud = qMax(target.baud, 1);
    return int((bits * 1000 + baud - 1) / baud) + answerMs;
}

std::optional<int> answeringAddress(const QByteArray &bytes, int checkMode)
{
    const auto *p = reinterpret_cast<const quint8 *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (checkMode == 0) {
        for (qsizetype i = 0; i + kAnswerLen[0] <= n; ++i) {
            const quint8 *f = p + i;
            if (f[0] == 0xAA && (f[1] & 0x80) && f[2] == 0 && f[3] == 0 && f[4] == 0 && f[5] == 1
                && frames::checkSum8Frame(bytes.constData() + i, kAnswerLen[0]))
                return f[1] - 0x80;
        }
        return std::nullopt;
    }
    for (qsizetype i = 0; i + 5 <= n; ++i) {
        const quint8 *f = p + i;
        const char *at = bytes.constData() + i;
        // An exception answer proves a module at that address just as well.
        const bool exception = f[1] == 0x83 && frames::checkCrc(at, 5);
        const bool read = i + kAnswerLen[1] <= n && f[1] == 0x03 && f[2] == 0x02
            && frames::checkCrc(at, kAnswerLen[1]);
        if ((exception || read) && f[0] >= kFirstAddress[1] && f[0] <= kLastAddress[1])
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
        if (!ok || baud <= 0
            || std::find(std::begin(commands::kBaudRates), std::end(commands::kBaudRates), baud)
                == std::end(commands::kBaudRates))
            return std::nullopt;
        if (!out.contains(baud))
            out.append(baud);
    }
    return out;
}

std::optional<QList<int>> parseChecks(const QString &text)
{
    QList<int> out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString word = part.trimmed();
        const int mode = word == QLatin1String("none") ? 0 : word == QLatin1String("crc") ? 1 : -1;
        if (mode < 0)
            return std::nullopt;
        if (!out.contains(mode))
            out.append(mode);
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

} // namespace scan
