// One measurement record as a line of a machine-read stream: CSV or JSON Lines, naming its port.
#include "core/recordlines.h"

namespace records {

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

QString csvLine(const QString &port, const core::Record &record)
{
    QString line = csvField(port);
    for (const QString &cell : core::recordTexts(record))
        line += QLatin1Char(',') + csvField(cell);
    return line + QLatin1Char('\n');
}

QString jsonLine(const QString &port, const core::Record &record)
{
    const QStringList cells = core::recordTexts(record);
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

} // namespace records
