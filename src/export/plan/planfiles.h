// The files of test runs: one JSON record per run, and the JUnit report of all of them.
#pragma once

#include "core/plan/runrecord.h"

#include <QList>
#include <QString>

namespace exporting::plan {

/**
 * @brief "<start>-<serial>-<verdict>.json" of @p run: the start in local time as
 * 20261207T235958.102, the serial ("unknown" when none was read; characters other than letters,
 * digits, '.', '_' and '-' as '_'), the outcome's name.
 */
QString recordFileName(const core::plan::RunRecord &run);

/**
 * @brief Writes the run's JSON record into folder @p dir under recordFileName() (with "-2", "-3",
 * ... before ".json" when the name is taken), through a temporary file renamed into place, so a
 * record on disk is always whole. @return the file's path, or empty text and the reason in
 * @p error.
 */
QString writeRecordFile(const QString &dir, const core::plan::RunRecord &run, QString *error);

/** @brief Writes the JUnit XML of @p runs to @p path the same way; false and the reason if not. */
bool writeJunitFile(const QString &path, const QList<core::plan::RunRecord> &runs, QString *error);

} // namespace exporting::plan
