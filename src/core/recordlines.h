// One measurement record as a line of a machine-read stream: CSV or JSON Lines, naming its port.
#pragma once

#include "core/session.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace core::records {

/** @brief The CSV header line, "\n" included: port,time,mode,distance_mm,signal,measuring_time_ms.
 */
QString csvHeader();

/**
 * @brief @p record of @p port, received at @p time, as a CSV line, "\n" included. A field holding
 * a comma, a quote or a line break is quoted (RFC 4180); empty cells stay empty. The record's own
 * time of day gives way to @p time, which carries the date (see isoTime()).
 */
QString csvLine(const QString &port, const QString &time, const core::Record &record);

/** @brief @p cells as one CSV line, "\n" included, each quoted as csvLine() quotes them. */
QString csvRow(const QStringList &cells);

/**
 * @brief @p record of @p port as one JSON object and "\n", with the CSV header's keys in its order.
 * Numbers are JSON numbers; a module error's code is the string the result table shows; an empty
 * cell is null.
 */
QString jsonLine(const QString &port, const QString &time, const core::Record &record);

/**
 * @brief A temperature read from @p port's module during a run, at @p time, as one JSON object
 * and "\n": {"port":…,"time":…,"temperature_c":21.5}.
 */
QString temperatureJsonLine(const QString &port, const QString &time, double celsius);

/** One line of a records file, read back. */
struct ReadLine
{
    enum class Kind {
        Record, ///< a measurement or a module error
        Temperature,
        Other, ///< a header, a run's statistics or analysis: not a record, nothing wrong
        Damaged, ///< none of the lines these functions write
    };
    Kind kind = Kind::Damaged;
    QString port;
    qint64 utcMs = 0; ///< the time as ms since 1970-01-01 UTC
    /// Distance or error code, signal and measuring time; its clockMs is utcMs's time of day in
    /// UTC, so a run read back passes midnight as RunStats reads it, whatever the zone.
    core::Record record;
    double celsius = 0;
};

/**
 * @brief @p line as csvLine(), jsonLine() or temperatureJsonLine() wrote it (no line break). In
 * CSV a record without a signal is a module error whose code is the distance cell's hex text; in
 * JSON an error's code is a string.
 */
ReadLine readLine(const QString &line);

/** @brief ms since 1970-01-01 UTC of an isoTime() text; none for any other text. */
std::optional<qint64> parseIsoTime(QStringView text);

/**
 * @brief ISO 8601 local time with date, milliseconds and UTC offset
 * ("2026-12-07T23:59:58.102+01:00") of @p msSinceEpoch in a zone @p offsetS seconds ahead of UTC:
 * a run across midnight still sorts.
 */
QString isoTime(qint64 msSinceEpoch, int offsetS);

} // namespace core::records
