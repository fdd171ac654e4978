// One measurement record as a line of a machine-read stream: CSV or JSON Lines, naming its port.
#pragma once

#include "core/session.h"

#include <QString>

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

/**
 * @brief @p record of @p port as one JSON object and "\n", with the CSV header's keys in its order.
 * Numbers are JSON numbers; a module error's code is the string the result table shows; an empty
 * cell is null.
 */
QString jsonLine(const QString &port, const QString &time, const core::Record &record);

/**
 * @brief ISO 8601 local time with date, milliseconds and UTC offset
 * ("2026-12-07T23:59:58.102+01:00") of @p msSinceEpoch in a zone @p offsetS seconds ahead of UTC:
 * a run across midnight still sorts.
 */
QString isoTime(qint64 msSinceEpoch, int offsetS);

} // namespace core::records
