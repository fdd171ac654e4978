// save_file: the export worker that writes the result table as an .xlsx workbook in its own thread.
#include "export/save_file.h"

#include "export/exporting.h"
#include "export/log.h"

#include <xlsxwriter.h>

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QTemporaryFile>
#include <QThread>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

Q_LOGGING_CATEGORY(lcExport, "tovandrix.export", QtWarningMsg)

namespace {
constexpr lxw_col_t kColumns = 5;
constexpr double kColumnWidth = 10;
// Row 1 holds the header, so a worksheet takes one record less than its row count.
constexpr qsizetype kMaxRecords = LXW_ROW_MAX - 1;

// The workbook library opens files by a UTF-8 name on Windows and passes the bytes on unchanged
// elsewhere.
QByteArray libraryPath(const QString &path)
{
#ifdef Q_OS_WIN
    return QDir::toNativeSeparators(path).toUtf8();
#else
    return QFile::encodeName(path);
#endif
}

// The library closes its file without syncing it; syncing before the rename means a crash right
// after it cannot leave the target name on a file whose data never reached the disk.
bool syncToDisk(const QString &path)
{
#ifdef Q_OS_WIN
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && _commit(file.handle()) == 0;
#else
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
#endif
}

// QFile::rename refuses to replace an existing file; the system rename replaces it in one step,
// so readers see either the earlier workbook or the new one, never a mix.
bool replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    const QString nativeFrom = QDir::toNativeSeparators(from);
    const QString nativeTo = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<const wchar_t *>(nativeFrom.utf16()),
               reinterpret_cast<const wchar_t *>(nativeTo.utf16()),
               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
        != 0;
#else
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

lxw_error writeRecord(
    lxw_worksheet *sheet, lxw_row_t row, const QList<QString> &record, lxw_format *format)
{
    for (lxw_col_t col = 0; col < kColumns; ++col) {
        // An empty value becomes a blank cell that still carries the text format, so the whole
        // A2:E range is text, as in a workbook typed by hand.
        const QByteArray value = col < record.size() ? record.at(col).toUtf8() : QByteArray();
        const lxw_error error = worksheet_write_string(sheet, row, col, value.constData(), format);
        if (error != LXW_NO_ERROR)
            return error;
    }
    return LXW_NO_ERROR;
}

QString libraryError(lxw_error error)
{
    return QString::fromUtf8(lxw_strerror(error));
}
} // namespace

save_file::save_file(QObject *parent)
    : QObject(parent)
{
    // The rows cross from the window's thread by a queued connection.
    qRegisterMetaType<QList<QList<QString>>>();
    connect(this, &save_file::sig_write_data, this, &save_file::slot_write_data);
}

save_file::~save_file()
{
    if (start_i == 1) {
        fail(QStringLiteral("export interrupted"));
        closeWorkbook();
    }
}

void save_file::slot_save_data(
    QString filename, int index, QList<QList<QString>> list_data, int langue)
{
    if (index != kWriteRequest) {
        qCDebug(lcExport) << "出错了";
        list_stats.clear();
        list_analysis.clear();
        // Every request gets exactly one answer, so the window never waits for a lost one.
        emit sig_tongzhi_close_file(kSaveFailed);
        return;
    }
    filename_1 = filename;
    language = langue;
    list_save_data.append(std::move(list_data));
    // The count, not the rows: a long run would otherwise flood the debug log.
    qCDebug(lcExport) << "save_file:" << list_save_data.size() << "records for" << filename_1;
    emit sig_write_data();
}

void save_file::slot_write_data()
{
    slot_create_file();
    if (start_i == 1 && error_text.isEmpty()) {
        if (list_save_data.size() > kMaxRecords) {
            fail(QStringLiteral("%1 records do not fit in one worksheet")
                     .arg(list_save_data.size()));
        } else {
            lxw_row_t row = 1;
            for (const QList<QString> &record : std::as_const(list_save_data)) {
                const lxw_error error = writeRecord(worksheet, row++, record, text_format);
                if (error != LXW_NO_ERROR) {
                    fail(QStringLiteral("row %1: %2").arg(row).arg(libraryError(error)));
                    break;
                }
            }
        }
    }
    if (start_i == 1 && error_text.isEmpty() && !list_stats.isEmpty())
        writeSheet(language == exporting::kChinese ? "\xE7\xBB\x9F\xE8\xAE\xA1" : "Statistics",
            list_stats); // 统计
    if (start_i == 1 && error_text.isEmpty() && !list_analysis.isEmpty())
        writeSheet(language == exporting::kChinese ? "\xE5\x88\x86\xE6\x9E\x90" : "Analysis",
            list_analysis); // 分析
    list_save_data.clear();
    list_stats.clear();
    list_analysis.clear();
    closeWorkbook();
    emit sig_tongzhi_close_file(error_text.isEmpty() ? kSaveDone : kSaveFailed);
}

void save_file::slot_create_file()
{
    error_text.clear();
    const QString target = filename_1 + QLatin1String(".xlsx");

    // The workbook grows under a name of its own beside the target and replaces it only when
    // complete; an earlier file of the target name stays as it was if anything fails.
    QTemporaryFile reserved(target + QLatin1String(".XXXXXX"));
    reserved.setAutoRemove(false);
    if (!reserved.open()) {
        fail(QStringLiteral("cannot create a file beside %1: %2")
                 .arg(target, reserved.errorString()));
        return;
    }
    temp_name = reserved.fileName();
    reserved.close();

    // Constant memory: each row goes to disk once the next one starts, so the workbook holds one
    // row in memory instead of a million (and is about three times faster). Rows are written
    // strictly in order, as this mode requires. The library's own scratch files stay on the
    // target's disk: it does not check its writes to them, but it does check the final write, which
    // then meets the same full disk.
    const QByteArray scratch = libraryPath(QFileInfo(target).absolutePath());
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char *>(scratch.constData());
    workbook = workbook_new_opt(libraryPath(temp_name).constData(), &options);
    if (!workbook) {
        fail(QStringLiteral("cannot start a workbook in %1").arg(temp_name));
        return;
    }
    start_i = 1;

    worksheet = workbook_add_worksheet(workbook, nullptr);
    text_format = workbook_add_format(workbook);
    if (!worksheet || !text_format) {
        fail(QStringLiteral("cannot add the worksheet"));
        return;
    }
    format_set_num_format(text_format, "@");

    lxw_error error = worksheet_set_column(worksheet, 0, kColumns - 1, kColumnWidth, nullptr);
    const QStringList header = exporting::workbookHeader(language, QDate::currentDate());
    for (lxw_col_t col = 0; col < kColumns && error == LXW_NO_ERROR; ++col)
        error = worksheet_write_string(
            worksheet, 0, col, header.at(col).toUtf8().constData(), nullptr);
    if (error != LXW_NO_ERROR)
        fail(QStringLiteral("header: %1").arg(libraryError(error)));
    qCDebug(lcExport) << "构造线程ID：" << QThread::currentThreadId();
}

void save_file::writeSheet(const char *name, const QList<QList<QString>> &rows)
{
    // Sheets after the records, so the first sheet stays exactly what it always was. Figures go
    // in as numbers, for a spreadsheet to compute with; labels and "-" as text.
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, name);
    if (!sheet) {
        fail(QStringLiteral("cannot add the sheet %1").arg(QString::fromUtf8(name)));
        return;
    }
    lxw_error error = worksheet_set_column(sheet, 0, 0, 2 * kColumnWidth, nullptr);
    for (qsizetype r = 0; r < rows.size() && error == LXW_NO_ERROR; ++r) {
        const QList<QString> &row = rows.at(r);
        for (qsizetype c = 0; c < row.size() && error == LXW_NO_ERROR; ++c) {
            bool number = false;
            const double value = row.at(c).toDouble(&number);
            error = number
                ? worksheet_write_number(sheet, lxw_row_t(r), lxw_col_t(c), value, nullptr)
                : worksheet_write_string(
                    sheet, lxw_row_t(r), lxw_col_t(c), row.at(c).toUtf8().constData(), nullptr);
        }
    }
    if (error != LXW_NO_ERROR)
        fail(QStringLiteral("%1: %2").arg(QString::fromUtf8(name), libraryError(error)));
}

void save_file::fail(const QString &reason)
{
    // The first reason is the one worth reporting; later steps only fail because of it.
    if (error_text.isEmpty())
        error_text = reason;
    qCWarning(lcExport) << "save_file:" << reason;
}

void save_file::closeWorkbook()
{
    if (workbook) {
        // Closing also frees the workbook, its worksheet and its formats.
        const lxw_error error = workbook_close(workbook);
        workbook = nullptr;
        worksheet = nullptr;
        text_format = nullptr;
        if (error != LXW_NO_ERROR)
            fail(QStringLiteral("cannot write %1: %2").arg(temp_name, libraryError(error)));
        qCDebug(lcExport) << "释放资源";
    }
    start_i = 0;
    if (temp_name.isEmpty())
        return;

    const QString target = filename_1 + QLatin1String(".xlsx");
    if (error_text.isEmpty() && !syncToDisk(temp_name)) {
        const QString reason = qt_error_string();
        fail(QStringLiteral("cannot sync %1: %2").arg(temp_name, reason));
    }
    if (error_text.isEmpty() && !replaceFile(temp_name, target)) {
        const QString reason = qt_error_string();
        fail(QStringLiteral("cannot rename %1 to %2: %3").arg(temp_name, target, reason));
    }
    if (!error_text.isEmpty())
        QFile::remove(temp_name);
    temp_name.clear();
}
