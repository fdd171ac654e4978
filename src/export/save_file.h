// save_file: the export worker that writes the result table as an .xlsx workbook in its own thread.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

class save_file : public QObject
{
    Q_OBJECT

public:
    /// Values of sig_tongzhi_close_file: the window's slot takes them as a bool, so "false"
    /// means the workbook is complete on disk and "true" that the export failed.
    static constexpr int kSaveDone = 0;
    static constexpr int kSaveFailed = 1;
    /// The only request index that writes; any other index is refused.
    static constexpr int kWriteRequest = 1;

    explicit save_file(QObject *parent = nullptr);
    ~save_file() override;

    lxw_workbook *workbook = nullptr; ///< open while an export runs (start_i is 1)
    lxw_worksheet *worksheet = nullptr; ///< the first and only worksheet of workbook
    lxw_format *text_format = nullptr; ///< number format "@": every record value stays text
    QString filename_1; ///< target name without ".xlsx"
    QString temp_name; ///< file in the target folder that is renamed into place when complete
    QString error_text; ///< why the current export failed; empty while all is well
    int start_i = 0; ///< 1 while a workbook is open
    QList<QList<QString>> list_save_data; ///< rows of the current export, emptied after each
    int language = 0; ///< 0 Chinese, 1 English header texts
    /// Rows of the second sheet ("统计" / "Statistics") of the next workbook; none, no sheet.
    QList<QList<QString>> list_stats;
    /// Rows of the sheet after it ("分析" / "Analysis", core::analysis::analysisTable); none, no
    /// sheet.
    QList<QList<QString>> list_analysis;

signals:
    void sig_write_data();
    /** kSaveDone once filename_1 + ".xlsx" is complete on disk, kSaveFailed otherwise. */
    void sig_tongzhi_close_file(int index);

public slots:
    void slot_save_data(QString filename, int index, QList<QList<QString>> list_data, int langue);
    void slot_write_data();
    void slot_create_file();
    /** @brief The statistics for the next workbook written; queue it before the save request. */
    void setStats(const QList<QList<QString>> &rows) { list_stats = rows; }
    /** @brief The analysis for the next workbook written; queue it before the save request. */
    void setAnalysis(const QList<QList<QString>> &rows) { list_analysis = rows; }

private:
    void fail(const QString &reason);
    void closeWorkbook();
    void writeSheet(const char *name, const QList<QList<QString>> &rows);
};
