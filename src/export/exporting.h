// Result export helpers: header texts, the comma-separated text file and the save-name rules.
#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

namespace exporting {

/** @brief Language value that selects the Chinese texts; every other value gives English. */
constexpr int kChinese = 0;

/**
 * @brief The five header cells of a result table saved on @p date:
 * "时间:yyyy/MM/dd", "测量模式", "测量结果/mm", "信号结果", "测量时间/ms" in Chinese, or
 * "time:yyyy/MM/dd", "Measurement mode", "Measure result/mm", "Signal result",
 * "Measuring time/ms" in English.
 */
QStringList workbookHeader(int language, const QDate &date);

/** @brief The header line of the text file: the five header cells joined by "," and a "\n". */
QString textHeader(int language, const QDate &date);

/** @brief One record's line of the text file: its fields joined by "," and a "\n". */
QString textLine(const QList<QString> &row);

/**
 * @brief Writes the header line and one line per record (fields joined by ",", empty fields
 * kept, no quoting) to @p device as UTF-8 without byte-order mark, each line ended by "\n".
 * @return false as soon as the device refuses a write.
 */
bool writeText(
    QIODevice *device, const QList<QList<QString>> &rows, int language, const QDate &date);

/**
 * @brief Writes the text file at @p path through a temporary file in the same folder that
 * replaces the target only once everything is written, so a failure leaves an earlier file of
 * that name as it was.
 * @return true when the file is complete on disk; otherwise false and, if @p error is given, the
 * reason.
 */
bool writeTextFile(const QString &path, const QList<QList<QString>> &rows, int language,
    const QDate &date, QString *error = nullptr);

/**
 * @brief True when the chosen save name goes to the workbook: its last three characters are
 * exactly "lsx" (case-sensitive, so "run.XLSX" is saved as text under that name).
 */
bool isWorkbookName(const QString &chosen);

/** @brief The chosen workbook name with every ".xlsx" removed (case-sensitive). */
QString workbookBaseName(const QString &chosen);

/**
 * @brief Name of the chart picture saved beside the result file: for a workbook name the
 * @ref workbookBaseName, otherwise the chosen name with every ".txt" removed (case-sensitive),
 * followed by ".jpg".
 */
QString pictureName(const QString &chosen);

} // namespace exporting
