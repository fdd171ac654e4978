// Result export helpers: header texts, the comma-separated text file and the save-name rules.
#include "export/exporting.h"

#include <QIODevice>
#include <QSaveFile>

namespace exporting {

namespace {
// Lines are gathered into chunks of about this many characters before they are encoded and
// handed to the device: a million records then cost a few hundred writes, not millions.
constexpr qsizetype kChunkChars = 32 * 1024;

bool writeChunk(QIODevice *device, QString &chunk)
{
    const QByteArray bytes = chunk.toUtf8();
    chunk.clear();
    return device->write(bytes) == bytes.size();
}
} // namespace

QStringList workbookHeader(int language, const QDate &date)
{
    const QString day = date.toString(QStringLiteral("yyyy/MM/dd"));
    if (language == kChinese) {
        return { QStringLiteral("时间:") + day, QStringLiteral("测量模式"),
            QStringLiteral("测量结果/mm"), QStringLiteral("信号结果"),
            QStringLiteral("测量时间/ms") };
    }
    return { QStringLiteral("time:") + day, QStringLiteral("Measurement mode"),
        QStringLiteral("Measure result/mm"), QStringLiteral("Signal result"),
        QStringLiteral("Measuring time/ms") };
}

QString textHeader(int language, const QDate &date)
{
    return workbookHeader(language, date).join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString textLine(const QList<QString> &row)
{
    return row.join(QLatin1Char(',')) + QLatin1Char('\n');
}

bool writeText(
    QIODevice *device, const QList<QList<QString>> &rows, int language, const QDate &date)
{
    QString chunk;
    chunk.reserve(kChunkChars + 256);
    chunk += textHeader(language, date);
    for (const QList<QString> &row : rows) {
        chunk += textLine(row);
        if (chunk.size() >= kChunkChars && !writeChunk(device, chunk))
            return false;
    }
    return chunk.isEmpty() || writeChunk(device, chunk);
}

bool writeTextFile(const QString &path, const QList<QList<QString>> &rows, int language,
    const QDate &date, QString *error)
{
    // Binary mode: the file has "\n" line ends on every platform, as the readers of these
    // files expect.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    // Flushed here: QSaveFile::commit() ignores a failing final flush and would put a truncated
    // file in place of the earlier one.
    if (!writeText(&file, rows, language, date) || !file.flush()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool isWorkbookName(const QString &chosen)
{
    return chosen.endsWith(QLatin1String("lsx"), Qt::CaseSensitive);
}

QString workbookBaseName(const QString &chosen)
{
    return QString(chosen).remove(QLatin1String(".xlsx"), Qt::CaseSensitive);
}

QString pictureName(const QString &chosen)
{
    if (isWorkbookName(chosen))
        return workbookBaseName(chosen) + QLatin1String(".jpg");
    return QString(chosen).remove(QLatin1String(".txt"), Qt::CaseSensitive) + QLatin1String(".jpg");
}

} // namespace exporting
