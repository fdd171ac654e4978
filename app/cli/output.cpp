// Where a command's results go: standard output as lines, and the --output file.
#include "cli/output.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "core/recordlines.h"
#include "export/exporting.h"
#include "export/save_file.h"

#include <QFileInfo>

#include <cstdio>

namespace cli {

namespace {
constexpr int kFlushMs = 1000;
} // namespace

Output::Output(Format format, const QStringList &ports, int language)
    : m_format(format)
    , m_manyPorts(ports.size() > 1)
    , m_ports(ports)
    , m_language(language)
{
    if (m_format == Format::Csv)
        write(records::csvHeader());
    m_flushTimer.setInterval(kFlushMs);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] { flushFiles(); });
}

Output::~Output()
{
    close(nullptr);
}

QMap<QString, QString> Output::fileNames(const QString &path, const QStringList &ports)
{
    QMap<QString, QString> names;
    const QFileInfo info(path);
    const bool perPort = ports.size() > 1 && info.suffix() != QLatin1String("csv");
    for (const QString &port : ports) {
        // run.txt for ports /dev/ttyUSB0 and /dev/ttyUSB1: run-ttyUSB0.txt, run-ttyUSB1.txt.
        names[port] = !perPort ? path
                               : info.path() + QLatin1Char('/') + info.completeBaseName()
                + QLatin1Char('-') + QFileInfo(port).fileName() + QLatin1Char('.') + info.suffix();
    }
    return names;
}

bool Output::openFile(const QString &path, QString *error)
{
    const QString suffix = QFileInfo(path).suffix();
    m_kind = suffix == QLatin1String("csv") ? FileKind::Csv
        : suffix == QLatin1String("txt")    ? FileKind::Text
                                            : FileKind::Workbook;
    const QMap<QString, QString> names = fileNames(path, m_ports);
    if (m_kind == FileKind::Workbook) {
        m_workbooks = names;
        return true;
    }
    for (const QString &port : m_ports) {
        const QString key = m_kind == FileKind::Csv ? QString() : port;
        if (m_files.contains(key))
            continue;
        auto file = std::make_shared<QFile>(names[port]);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = file->fileName() + QStringLiteral(": ") + file->errorString();
            return false;
        }
        file->write((m_kind == FileKind::Csv ? records::csvHeader()
                                             : exporting::textHeader(m_language, m_date))
                        .toUtf8());
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
        if (!file->flush() && error) {
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
        writer.slot_save_data(exporting::workbookBaseName(it.value()), save_file::kWriteRequest,
            m_rows.value(it.key()), m_language);
        if (failed && error) {
            *error = it.value() + QStringLiteral(": ") + writer.error_text;
        }
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

void Output::record(const QString &port, const core::Record &record, const QString &text)
{
    switch (m_format) {
    case Format::Text:
        line(port, text);
        break;
    case Format::Csv:
        write(records::csvLine(port, record));
        break;
    case Format::Jsonl:
        write(records::jsonLine(port, record));
        break;
    }
    switch (m_kind) {
    case FileKind::None:
        break;
    case FileKind::Csv:
        m_files.first()->write(records::csvLine(port, record).toUtf8());
        break;
    case FileKind::Text:
        m_files[port]->write(exporting::textLine(core::recordTexts(record)).toUtf8());
        break;
    case FileKind::Workbook:
        m_rows[port].append(core::recordTexts(record));
        break;
    }
}

void Output::summary(const QString &port, const core::RunStats::Summary &summary)
{
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
    for (const QList<QString> &row : core::statsTable(summary, m_language))
        std::fprintf(stderr, "%s\n",
            qPrintable(QStringLiteral("%1: %2 %3 %4")
                           .arg(port, row.value(0).leftJustified(20),
                               row.value(1).rightJustified(12), row.value(2).rightJustified(12))));
}

void Output::write(const QString &text)
{
    m_pending += text.toUtf8();
    // A reader at the other end of a pipe sees each line as it arrives, yet the replies of one
    // pass of the event loop go out in one write.
    if (!m_flushQueued) {
        m_flushQueued = true;
        QTimer::singleShot(0, this, [this] { flushOut(); });
    }
}

void Output::flushOut()
{
    m_flushQueued = false;
    std::fwrite(m_pending.constData(), 1, size_t(m_pending.size()), stdout);
    std::fflush(stdout);
    m_pending.clear();
}

void Output::flushFiles()
{
    for (const auto &file : std::as_const(m_files))
        file->flush();
}

} // namespace cli
