// The history and the report as the command line prints them: text for people, CSV and JSON
// Lines for programs (field names as in the run record).
#pragma once

#include "core/plan/runrecord.h"
#include "store/report.h"

#include <QString>

#include <optional>

namespace store {

enum class Format { Text, Csv, Jsonl };

/** @brief "text", "csv" or "jsonl"; nothing for other names. */
std::optional<Format> formatFromName(const QString &name);

/**
 * @brief The runs, one line each after a header (text, csv): id, dut_id, plan, plan_version,
 * station, operator, lot, port, outcome, start_time, end_time. In JSON Lines one object per run
 * with the run record's fields (plan as {name, version, sha256}) and no steps.
 */
QString historyText(const QList<core::plan::RunRecord> &runs, Format format);

/**
 * @brief The report. JSON Lines: one object {runs, units, first_pass_yield, final_yield,
 * failures [{step, count}], measurements [{step, name, unit, lsl, usl, n, mean, sigma, min,
 * max, cp, cpk}]}, yields as fractions and null where a figure does not exist. CSV: three
 * tables (the totals, the failures, the measurements), each with its header, a blank line
 * between. Text: the same for people, yields in percent.
 */
QString reportText(const Report &report, Format format);

} // namespace store
