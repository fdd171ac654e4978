// One measurement record as a line of a machine-read stream: CSV or JSON Lines, naming its port.
#pragma once

#include "core/session.h"

#include <QString>

namespace records {

/** @brief The CSV header line, "\n" included: port,time,mode,distance_mm,signal,measuring_time_ms.
 */
QString csvHeader();

/**
 * @brief @p record of @p port as a CSV line, "\n" included. A field holding a comma, a quote or a
 * line break is quoted (RFC 4180); empty cells stay empty.
 */
QString csvLine(const QString &port, const core::Record &record);

/**
 * @brief @p record of @p port as one JSON object and "\n", with the CSV header's keys in its order.
 * Numbers are JSON numbers; a module error's code is the string the result table shows; an empty
 * cell is null.
 */
QString jsonLine(const QString &port, const core::Record &record);

} // namespace records
