// Where a command's results go: standard output as lines, and the --output file.
#include "cli/output.h"

#include "core/plan/verdict.h"
#include "core/recordlines.h"
#include "export/exporting.h"
#include "export/save_file.h"

#include <QAbstractEventDispatcher>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace cli {

namespace {
constexpr int kFlushMs = 1000;

QString suffixOf(const QString &path)
{
    return QFileInfo(path).suffix();
}

bool takesAppend(const QString &path)
{
    return suffixOf(path) == QLatin1String("csv") || suffixOf(path) == QLatin1String("jsonl");
}

int exportLanguage(core::Language language)
{
    return int(language);
}
} // namespace

Output::Output(Format format, const QStringList &ports, core::Language language, bool records)
    : m_format(format)
    , m_manyPorts(ports.size() > 1)
    , m_ports(ports)
    , m_language(language)
{
    if (m_format == Format::Csv && records)
        write(core::records::csvHeader());
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { flushFiles(); });
    // A reader at the other end of a pipe sees each line as it arrives, yet the replies of one
    // pass of the event loop go out in one write: when the loop has nothing more to do. (A timer
    // of no time would wake the loop once more for every reply.)
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
        &Output::flushOut);
}

Output::~Output()
{
    close(nullptr);
}

QString Output::portTag(const QString &port)
{
    QString tag = port;
    if (tag.startsWith(QLatin1String("/dev/")))
        tag = tag.mid(5);
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._]+"));
    tag.replace(unsafe, QStringLiteral("-"));
    while (tag.startsWith(QLatin1Char('-')))
        tag.remove(0, 1);
    return tag;
}

QMap<QString, QString> Output::fileNames(const QString &path, const QStringList &ports)
{
    QMap<QString, QString> names;
    const QFileInfo info(path);
    const bool perPort = ports.size() > 1 && !takesAppend(path);
    for (const QString &port : ports) {
        // run.txt for ports /dev/ttyUSB0 and /dev/ttyUSB1: run-ttyUSB0.txt, run-ttyUSB1.txt.
        names[port] = !perPort ? path
                               : info.path() + QLatin1Char('/') + info.completeBaseName()
                + QLatin1Char('-') + portTag(port) + QLatin1Char('.') + info.suffix();
    }
    return names;
}

QString Output::check(const QString &path, const QStringList &ports, Existing existing)
{
    const QString suffix = suffixOf(path);
    if (!QStringList({ "csv", "jsonl", "txt", "xlsx" }).contains(suffix))
        return QStringLiteral("--output wants a .csv, .jsonl, .txt or .xlsx file, not \"%1\"")
            .arg(path);
    if (existing == Existing::Append && !takesAppend(path))
        return QStringLiteral("--append continues a .csv or .jsonl file, not \"%1\"").arg(path);
    const QMap<QString, QString> names = fileNames(path, ports);
    QStringList seen;
    for (const QString &name : names) {
        if (seen.contains(name, Qt::CaseInsensitive) && names.size() > 1 && !takesAppend(path))
            return QStringLiteral("two ports would write the same file %1; name the ports "
                                  "differently or write a .csv or .jsonl file")
                .arg(name);
        seen << name;
        const QFileInfo info(name);
        if (!info.exists())
            continue;
        if (info.isDir())
            return QStringLiteral("%1 is a folder").arg(name);
        if (existing == Existing::Refuse)
            return QStringLiteral("%1 exists; --force overwrites it%2")
                .arg(name,
                    takesAppend(path) ? QStringLiteral(", --append continues it") : QString());
        if (existing == Existing::Append && suffixOf(path) == QLatin1String("csv")
            && info.size() > 0) {
            QFile f(name);
            const QByteArray first = f.open(QIODevice::ReadOnly) ? f.readLine() : QByteArray();
            if (QString::fromUtf8(first) != core::records::csvHeader())
                return QStringLiteral("%1 does not start with the header of these records, so "
                                      "it is not continued")
                    .arg(name);
        }
    }
    return {};
}

bool Output::openFile(const QString &path, Existing existing, QString *error)
{
    const QString suffix = suffixOf(path);
    m_kind = suffix == QLatin1String("csv") ? FileKind::Csv
        : suffix == QLatin1String("jsonl")  ? FileKind::Jsonl
        : suffix == QLatin1String("txt")    ? FileKind::Text
                                            : FileKind::Workbook;
    const QMap<QString, QString> names = fileNames(path, m_ports);
    if (m_kind == FileKind::Workbook) {
        m_workbooks = names;
        return true;
    }
    const bool shared = m_kind == FileKind::Csv || m_kind == FileKind::Jsonl;
    for (const QString &port : m_ports) {
        const QString key = shared ? QString() : port;
        if (m_files.contains(key))
            continue;
        auto file = std::make_shared<QFile>(names[port]);
        const bool append = existing == Existing::Append && file->exists() && file->size() > 0;
        // A file that appeared since the check is not overwritten unless asked.
        const QIODevice::OpenMode mode = append ? QIODevice::Append
            : existing == Existing::Refuse      ? QIODevice::WriteOnly | QIODevice::NewOnly
                                                : QIODevice::WriteOnly | QIODevice::Truncate;
        if (!file->open(mode)) {
            *error = file->fileName() + QStringLiteral(": ") + file->errorString();
            return false;
        }
        if (append) {
            // A run killed mid-line leaves a partial last line; the new records start afresh.
            QFile reader(file->fileName());
            if (reader.open(QIODevice::ReadOnly) && reader.seek(reader.size() - 1)
                && reader.read(1) != "\n")
                file->write("\n");
        } else if (m_kind == FileKind::Csv) {
            file->write(core::records::csvHeader().toUtf8());
        } else if (m_kind == FileKind::Text) {
            file->write(exporting::textHeader(exportLanguage(m_language), m_date).toUtf8());
        }
        m_files[key] = file;
    }
    m_flushTimer.start();
    return true;
}

bool Output::close(QString *error)
{
    m_flushTimer.stop();
    bool ok = true;
    for (const auto &file : std::as_const(m_files)) {
        bool written = file->flush();
#ifdef Q_OS_UNIX
        // The run is reported complete only once it is on the disk.
        written = written && ::fsync(file->handle()) == 0;
#endif
        if (!written && error) {
            *error = file->fileName() + QStringLiteral(": ") + file->errorString();
            ok = false;
        }
        file->close();
    }
    m_files.clear();
    for (auto it = m_workbooks.cbegin(); it != m_workbooks.cend(); ++it) {
        // The window's workbook writer, called in this thread: it answers before it returns.
        save_file writer;
        bool failed = true;
        connect(&writer, &save_file::sig_tongzhi_close_file,
            [&failed](int outcome) { failed = outcome != save_file::kSaveDone; });
        writer.setStats(m_stats.value(it.key()));
        writer.setAnalysis(m_analysis.value(it.key()));
        writer.slot_save_data(exporting::workbookBaseName(it.value()), save_file::kWriteRequest,
            m_rows.value(it.key()), exportLanguage(m_language));
        if (failed && error)
            *error = it.value() + QStringLiteral(": ") + writer.error_text;
        ok = ok && !failed;
    }
    m_workbooks.clear();
    flushOut();
    return ok;
}

void Output::line(const QString &port, const QString &text)
{
    write((m_manyPorts ? port + QLatin1Char('\t') : QString()) + text + QLatin1Char('\n'));
}

void Output::record(
    const QString &port, const core::Record &record, const QString &text, const QString &time)
{
    switch (m_format) {
    case Format::Text:
        line(port, text);
        break;
    case Format::Csv:
        write(core::records::csvLine(port, time, record));
        break;
    case Format::Jsonl:
        write(core::records::jsonLine(port, time, record));
        break;
    }
    switch (m_kind) {
    case FileKind::None:
        break;
    case FileKind::Csv:
        m_files.first()->write(core::records::csvLine(port, time, record).toUtf8());
        break;
    case FileKind::Jsonl:
        m_files.first()->write(core::records::jsonLine(port, time, record).toUtf8());
        break;
    case FileKind::Text:
        m_files[port]->write(exporting::textLine(core::recordTexts(record)).toUtf8());
        break;
    case FileKind::Workbook:
        m_rows[port].append(core::recordTexts(record));
        break;
    }
}

void Output::temperature(
    const QString &port, double celsius, const QString &text, const QString &time)
{
    const QString json = core::records::temperatureJsonLine(port, time, celsius);
    if (m_format == Format::Text)
        line(port, text);
    else if (m_format == Format::Jsonl)
        write(json);
    if (m_kind == FileKind::Jsonl)
        m_files.first()->write(json.toUtf8());
}

void Output::analysis(const QString &port, const core::analysis::Figures &figures, Shown shown)
{
    const QList<QList<QString>> table = core::analysis::analysisTable(figures, m_language);
    if (m_workbooks.contains(port))
        m_analysis[port] = table;
    if (shown == Shown::Hidden)
        return;
    QString text;
    if (m_format == Format::Jsonl) {
        QJsonObject o = core::analysis::analysisJson(figures);
        o.insert(QStringLiteral("port"), port);
        text = QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + '\n';
    }
    for (const QList<QString> &row : table) {
        if (m_format == Format::Csv) {
            text += core::records::csvRow(QStringList { port } + row);
        } else if (m_format == Format::Text) {
            // A figure's label reads from the left; the columns of a table line up on the right.
            QString line = port + QLatin1Char(':');
            for (qsizetype c = 0; c < row.size(); ++c)
                line += QLatin1Char(' ')
                    + (c == 0 && row.size() == 2 ? row[c].leftJustified(30)
                                                 : row[c].rightJustified(14));
            text += line + QLatin1Char('\n');
        }
    }
    if (shown == Shown::Alone || m_format == Format::Jsonl) {
        write(text);
        return;
    }
    flushOut(); // the records first, then their figures
    std::fputs(qPrintable(text), stderr);
}

void Output::run(const core::plan::RunRecord &record)
{
    if (m_format == Format::Jsonl)
        write(QString::fromUtf8(
                  QJsonDocument(core::plan::toJson(record)).toJson(QJsonDocument::Compact))
            + '\n');
    else
        write(core::plan::unitLine(record) + '\n');
}

void Output::found(const QString &port, const core::scan::Target &module)
{
    if (m_format == Format::Jsonl) {
        const QJsonObject o { { "port", port }, { "baud", module.baud },
            { "check", core::checkModeWord(module.checkMode) }, { "address", module.address } };
        write(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + '\n');
        return;
    }
    write(QStringLiteral("%1\t%2\t%3\t%4\n")
              .arg(port)
              .arg(module.baud)
              .arg(core::checkModeWord(module.checkMode))
              .arg(module.address));
}

void Output::summary(const QString &port, const core::RunStats::Summary &summary)
{
    const QList<QList<QString>> table = core::statsTable(summary, m_language);
    if (m_workbooks.contains(port))
        m_stats[port] = table;
    if (m_format == Format::Jsonl) {
        auto figures = [](const core::RunStats::Figures &f) {
            QJsonObject o { { "count", f.count }, { "errors", f.errors },
                { "rate_per_s", f.ratePerS } };
            // Figures the records cannot give yet are null.
            const bool any = f.hasDistance();
            o["mean_mm"] = any ? QJsonValue(f.mean) : QJsonValue();
            o["stddev_mm"] = f.hasSpread() ? QJsonValue(f.stddev) : QJsonValue();
            o["min_mm"] = any ? QJsonValue(f.min) : QJsonValue();
            o["max_mm"] = any ? QJsonValue(f.max) : QJsonValue();
            o["peak_to_peak_mm"] = any ? QJsonValue(f.peakToPeak) : QJsonValue();
            return o;
        };
        const QJsonObject line { { "port", port }, { "all", figures(summary.all) },
            { "newest_100", figures(summary.recent) } };
        write(QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)) + '\n');
        return;
    }
    flushOut(); // the records first, then their summary
    for (const QList<QString> &row : table)
        std::fprintf(stderr, "%s\n",
            qPrintable(QStringLiteral("%1: %2 %3 %4")
                           .arg(port, row.value(0).leftJustified(20),
                               row.value(1).rightJustified(12), row.value(2).rightJustified(12))));
}

void Output::write(const QString &text)
{
    if (m_closed)
        return;
    m_pending += text.toUtf8();
}

void Output::flushOut()
{
    if (m_closed || m_pending.isEmpty())
        return;
    const size_t written = std::fwrite(m_pending.constData(), 1, size_t(m_pending.size()), stdout);
    const bool ok = written == size_t(m_pending.size()) && std::fflush(stdout) == 0;
    m_pending.clear();
    if (ok)
        return;
    // The reader is gone (a closed pipe, a hung-up terminal): nothing more can reach it, and the
    // run ends in an orderly way instead of dying on the next write.
    m_closed = true;
    if (m_onClosed)
        QTimer::singleShot(0, this, m_onClosed);
}

void Output::flushFiles()
{
    for (const auto &file : std::as_const(m_files))
        file->flush();
}

} // namespace cli
