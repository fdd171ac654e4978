// One measurement record as a line of a machine-read stream: CSV or JSON Lines, naming its port.
#include "core/recordlines.h"

#include <QDateTime>

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

} // namespace

QString csvHeader()
{
    QString line;
    for (const char *key : kKeys)
        line += (line.isEmpty() ? QString() : QStringLiteral(",")) + QLatin1String(key);
    return line + QLatin1Char('\n');
}

QString csvLine(const QString &port, const QString &time, const core::Record &record)
{
    QStringList cells = core::recordTexts(record);
    cells[0] = time;
    QString line = csvField(port);
    for (const QString &cell : cells)
        line += QLatin1Char(',') + csvField(cell);
    return line + QLatin1Char('\n');
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
