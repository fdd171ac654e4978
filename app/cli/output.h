// Where a command's results go: standard output as lines, and the --output file.
#pragma once

#include "core/runstats.h"
#include "core/session.h"

#include <QDate>
#include <QFile>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <memory>

namespace cli {

enum class Format { Text, Csv, Jsonl };

/**
 * Standard output carries data only, one line per result as it arrives; the file gets the same
 * records in the format its suffix names (.csv, the window's .txt, the window's .xlsx), flushed
 * every second so an interrupted run keeps what it measured. With several ports every line and
 * record names its port; .txt and .xlsx, which have no port column, get one file per port.
 */
class Output : public QObject
{
public:
    Output(Format format, const QStringList &ports, int language);
    ~Output() override;

    /** @brief Opens the file(s) for @p path; false with the reason in @p error. */
    bool openFile(const QString &path, QString *error);
    /** @brief Writes what is left and completes the files; false with the reason. */
    bool close(QString *error);

    /** @brief A result line of a command other than measure. */
    void line(const QString &port, const QString &text);
    /** @brief One measurement: @p text is the window's decoded line, for the text format. */
    void record(const QString &port, const core::Record &record, const QString &text);

    /**
     * @brief The statistics of a finished run: a JSON object on standard output with --format
     * jsonl (keys "port", "all", "newest_100"), else the window's statistics table on standard
     * error, so CSV and text stay records only.
     */
    void summary(const QString &port, const core::RunStats::Summary &summary);

    /** @brief File names of @p path for @p ports: one, or one per port for .txt and .xlsx. */
    static QMap<QString, QString> fileNames(const QString &path, const QStringList &ports);

private:
    void write(const QString &text);
    void flushOut();
    void flushFiles();

    Format m_format;
    bool m_manyPorts;
    QStringList m_ports;
    int m_language;
    QDate m_date = QDate::currentDate();
    enum class FileKind { None, Csv, Text, Workbook } m_kind = FileKind::None;
    QMap<QString, std::shared_ptr<QFile>> m_files; ///< .csv: one under key ""; .txt: per port
    QMap<QString, QString> m_workbooks; ///< .xlsx: port -> file name
    QMap<QString, QList<QList<QString>>> m_rows; ///< .xlsx rows, written at the end
    QTimer m_flushTimer;
    QByteArray m_pending; ///< standard output not yet written
    bool m_flushQueued = false;
};

} // namespace cli
