// One measurement record as a line of a machine-read stream: CSV or JSON Lines, naming its port.
#include "core/recordlines.h"

#include <QDate>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <iterator>

namespace core::records {

namespace {

const char *const kKeys[]
    = { "port", "time", "mode", "distance_mm", "signal", "measuring_time_ms" };

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"'))
        && !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString jsonString(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

constexpr qint64 kDayMs = 24 * 3600 * 1000;

// RFC 4180 fields of one line: quoted fields may hold commas and doubled quotes.
QStringList csvFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted && c == QLatin1Char('"') && i + 1 < line.size()
            && line.at(i + 1) == QLatin1Char('"')) {
            field += c;
            ++i;
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(',') && !quoted) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    return fields << field;
}

// A module error's code as the result table shows it: hex digits, two a byte.
bool readErrorCode(const QString &text, Record *record)
{
    bool ok = false;
    record->value = qint32(text.toUInt(&ok, 16));
    record->error = true;
    record->codeBytes = quint8((text.size() + 1) / 2);
    return ok && text.size() <= 8;
}

bool readTime(const QString &text, ReadLine *line)
{
    const std::optional<qint64> ms = parseIsoTime(text);
    line->utcMs = ms.value_or(0);
    line->record.clockMs = qint32((line->utcMs % kDayMs + kDayMs) % kDayMs);
    return ms.has_value();
}

ReadLine readJson(const QString &text)
{
    ReadLine line;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8());
    const QJsonObject o = doc.object();
    const QJsonValue distance = o.value(QLatin1String("distance_mm"));
    const QJsonValue celsius = o.value(QLatin1String("temperature_c"));
    if (!doc.isObject() || (distance.isUndefined() && celsius.isUndefined())) {
        line.kind = doc.isObject() ? ReadLine::Kind::Other : ReadLine::Kind::Damaged;
        return line;
    }
    line.port = o.value(QLatin1String("port")).toString();
    bool ok = readTime(o.value(QLatin1String("time")).toString(), &line);
    if (celsius.isDouble()) {
        line.kind = ReadLine::Kind::Temperature;
        line.celsius = celsius.toDouble();
    } else if (distance.isString()) {
        ok = readErrorCode(distance.toString(), &line.record) && ok;
    } else {
        ok = distance.isDouble() && ok;
        line.record.value = distance.toInt();
        line.record.signal = o.value(QLatin1String("signal")).toInt();
    }
    line.record.measuringMs = o.value(QLatin1String("measuring_time_ms")).toInt(-1);
    if (ok && line.kind != ReadLine::Kind::Temperature)
        line.kind = ReadLine::Kind::Record;
    else if (!ok)
        line.kind = ReadLine::Kind::Damaged;
    return line;
}

ReadLine readCsv(const QString &text)
{
    ReadLine line;
    const QStringList cells = csvFields(text);
    if (cells.size() != int(std::size(kKeys)))
        return line;
    if (text + QLatin1Char('\n') == csvHeader()) {
        line.kind = ReadLine::Kind::Other;
        return line;
    }
    line.port = cells[0];
    bool ok = readTime(cells[1], &line);
    if (cells[4].isEmpty()) {
        ok = readErrorCode(cells[3], &line.record) && ok;
    } else {
        bool value = false, signal = false;
        line.record.value = cells[3].toInt(&value);
        line.record.signal = cells[4].toInt(&signal);
        ok = ok && value && signal;
    }
    line.record.measuringMs = cells[5].isEmpty() ? -1 : cells[5].toInt();
    line.kind = ok ? ReadLine::Kind::Record : ReadLine::Kind::Damaged;
    return line;
}

} // namespace

QString csvHeader()
{
    QString line;
    for (const char *key : kKeys)
        line += (line.isEmpty() ? QString() : QStringLiteral(",")) + QLatin1String(key);
    return line + QLatin1Char('\n');
}

QString csvRow(const QStringList &cells)
{
    QString line;
    for (qsizetype i = 0; i < cells.size(); ++i)
        line += (i > 0 ? QStringLiteral(",") : QString()) + csvField(cells[i]);
    return line + QLatin1Char('\n');
}

QString csvLine(const QString &port, const QString &time, const core::Record &record)
{
    QStringList cells = core::recordTexts(record);
    cells[0] = time;
    return csvRow(QStringList { port } + cells);
}

QString jsonLine(const QString &port, const QString &time, const core::Record &record)
{
    QStringList cells = core::recordTexts(record);
    cells[0] = time;
    // time and mode are texts; distance is a number unless it is an error code.
    const QString values[] = { jsonString(port), jsonString(cells[0]), jsonString(cells[1]),
        record.isError() ? jsonString(cells[2]) : cells[2],
        cells[3].isEmpty() ? QStringLiteral("null") : cells[3],
        cells[4].isEmpty() ? QStringLiteral("null") : cells[4] };
    QString line = QStringLiteral("{");
    for (int i = 0; i < 6; ++i)
        line += (i ? QStringLiteral(",\"") : QStringLiteral("\"")) + QLatin1String(kKeys[i])
            + QStringLiteral("\":") + values[i];
    return line + QStringLiteral("}\n");
}

QString temperatureJsonLine(const QString &port, const QString &time, double celsius)
{
    return QStringLiteral("{\"port\":%1,\"time\":%2,\"temperature_c\":%3}\n")
        .arg(jsonString(port), jsonString(time), QString::number(celsius, 'g', 10));
}

ReadLine readLine(const QString &line)
{
    return line.startsWith(QLatin1Char('{')) ? readJson(line) : readCsv(line);
}

std::optional<qint64> parseIsoTime(QStringView text)
{
    // Only isoTime()'s own shape: date, time with milliseconds, and the offset written out.
    static constexpr char kShape[] = "dddd-dd-ddTdd:dd:dd.ddd+dd:dd";
    if (text.size() != qsizetype(sizeof kShape - 1))
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool fits = kShape[i] == 'd' ? c.isDigit()
            : kShape[i] == '+'             ? c == QLatin1Char('+') || c == QLatin1Char('-')
                                           : c == QLatin1Char(kShape[i]);
        if (!fits || c.unicode() > 127)
            return std::nullopt;
    }
    const auto number = [text](int at, int digits) { return text.mid(at, digits).toInt(); };
    const QDate date(number(0, 4), number(5, 2), number(8, 2));
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59 || number(24, 2) > 23
        || number(27, 2) > 59)
        return std::nullopt;
    const qint64 local = (date.toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * kDayMs
        + ((hour * 60 + minute) * 60 + second) * 1000 + number(20, 3);
    const qint64 offsetMs = (number(24, 2) * 60 + number(27, 2)) * 60000;
    return text.at(23) == QLatin1Char('-') ? local + offsetMs : local - offsetMs;
}

QString isoTime(qint64 msSinceEpoch, int offsetS)
{
    // Written out by hand: Qt writes a zero offset as "Z", and every line should look alike.
    const QDateTime local
        = QDateTime::fromMSecsSinceEpoch(msSinceEpoch + offsetS * 1000LL, Qt::UTC);
    const int minutes = qAbs(offsetS) / 60;
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
        + QLatin1Char(offsetS < 0 ? '-' : '+')
        + QStringLiteral("%1:%2")
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace core::records
