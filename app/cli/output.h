// Where a command's results go: standard output as lines, and the --output file.
#pragma once

#include "core/analysis/analysis.h"
#include "core/plan/runrecord.h"
#include "core/protocol.h"
#include "core/runstats.h"
#include "core/scan.h"
#include "core/session.h"

#include <QDate>
#include <QFile>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>

namespace cli {

enum class Format { Text, Csv, Jsonl };

/**
 * Standard output carries data only, one line per result as it arrives; the file gets the same
 * records in the format its suffix names (.csv and .jsonl with a port column or key, the window's
 * .txt, the window's .xlsx), flushed every second so a stopped run keeps what it measured. With
 * several ports every line and record names its port; .txt and .xlsx, which have no port column,
 * get one file per port, named after the port's whole path.
 */
class Output : public QObject
{
public:
    /** @p records: standard output carries records (in CSV, their header first). */
    Output(Format format, const QStringList &ports, core::Language language, bool records = true);
    ~Output() override;

    /** What to do with an output file that exists. */
    enum class Existing { Refuse, Overwrite, Append };

    /**
     * @brief Checks before any port is opened that @p path can be written: a file that exists is
     * refused unless overwritten or appended to (.csv and .jsonl only, whose header must match),
     * and two ports may not come to the same file name. Returns the problem, else empty text.
     */
    static QString check(const QString &path, const QStringList &ports, Existing existing);
    /** @brief Opens the file(s) for @p path; false with the reason in @p error. */
    bool openFile(const QString &path, Existing existing, QString *error);
    /** @brief Writes what is left and completes the files; false with the reason. */
    bool close(QString *error);

    /** @brief Called once when standard output can no longer be written (its reader is gone). */
    void onClosed(std::function<void()> handler) { m_onClosed = std::move(handler); }
    bool isClosed() const { return m_closed; }

    /** @brief Text laid out already (lines ending in a newline), as it is. */
    void text(const QString &text) { write(text); }
    /** @brief A result line of a command other than measure. */
    void line(const QString &port, const QString &text);
    /**
     * @brief One measurement: @p text is the window's decoded line, for the text format; @p time
     * the ISO 8601 time of the machine-read formats.
     */
    void record(
        const QString &port, const core::Record &record, const QString &text, const QString &time);
    /**
     * @brief A temperature read during a measuring run: its decoded line @p text in the text
     * format, a JSON line in JSON Lines and in a .jsonl file; CSV has no place for it.
     */
    void temperature(const QString &port, double celsius, const QString &text, const QString &time);
    /** @brief A unit's test run: PORT, SERIAL, VERDICT, SECONDS tab-separated, or its record. */
    void run(const core::plan::RunRecord &record);
    /** @brief A module a scan found: PORT, BAUD, CHECK, ADDRESS tab-separated, or JSON. */
    void found(const QString &port, const core::scan::Target &module);

    /**
     * @brief The statistics of a finished run: a JSON object on standard output with --format
     * jsonl (keys "port", "all", "newest_100"), else the window's statistics table on standard
     * error, so CSV and text stay records only. A workbook gets them on its second sheet.
     */
    void summary(const QString &port, const core::RunStats::Summary &summary);

    /** Where a run's figures go. */
    enum class Shown {
        Hidden, ///< only to a workbook's Analysis sheet
        AfterRecords, ///< standard output with --format jsonl, else standard error
        Alone, ///< standard output
    };
    /**
     * @brief The figures of @p port's run: one JSON object (analysisJson and "port") with
     * --format jsonl, else the rows of analysisTable, as CSV or as text, each after the port. A
     * workbook gets them on its Analysis sheet.
     */
    void analysis(const QString &port, const core::analysis::Figures &figures, Shown shown);
    /** @brief Whether the run's workbook is written at the end (it wants the figures). */
    bool hasWorkbook() const { return m_kind == FileKind::Workbook; }

    /** @brief File names of @p path for @p ports: one, or one per port for .txt and .xlsx. */
    static QMap<QString, QString> fileNames(const QString &path, const QStringList &ports);
    /** @brief A port's whole path as a piece of a file name ("/dev/ttyUSB0" -> "ttyUSB0",
     * "/a/d1/m" -> "a-d1-m"). */
    static QString portTag(const QString &port);

private:
    void write(const QString &text);
    void flushOut();
    void flushFiles();

    Format m_format;
    bool m_manyPorts;
    QStringList m_ports;
    core::Language m_language;
    QDate m_date = QDate::currentDate();
    enum class FileKind { None, Csv, Jsonl, Text, Workbook } m_kind = FileKind::None;
    QMap<QString, std::shared_ptr<QFile>>
        m_files; ///< .csv, .jsonl: one under key ""; .txt: per port
    QMap<QString, QString> m_workbooks; ///< .xlsx: port -> file name
    QMap<QString, QList<QList<QString>>> m_rows; ///< .xlsx rows, written at the end
    QMap<QString, QList<QList<QString>>> m_stats; ///< .xlsx statistics sheet per port
    QMap<QString, QList<QList<QString>>> m_analysis; ///< .xlsx analysis sheet per port
    QTimer m_flushTimer;
    QByteArray m_pending; ///< standard output not yet written
    bool m_closed = false;
    std::function<void()> m_onClosed;
};

} // namespace cli
