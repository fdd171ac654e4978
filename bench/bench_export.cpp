// Times saving a large result table as text and as a workbook, against openpyxl's write-only mode.
//
// Usage: bench_export [records]   (default 1,000,000)
#include "export/exporting.h"
#include "export/save_file.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTime>

#include <cstdio>
#include <ctime>

namespace {
// The same workload for every writer: openpyxl reads the rows from the text file, then only its
// writing is timed, every cell a string with the text number format as ours.
const char kOpenpyxlWriter[] = R"(
import sys, time
from openpyxl import Workbook
from openpyxl.cell import WriteOnlyCell
with open(sys.argv[1], encoding="utf-8") as f:
    lines = f.read().split("\n")[:-1]
rows = [line.split(",") for line in lines]
start = time.perf_counter()
start_cpu = time.process_time()
book = Workbook(write_only=True)
sheet = book.create_sheet()
sheet.column_dimensions["A"].width = 10
for values in rows:
    cells = []
    for value in values:
        cell = WriteOnlyCell(sheet, value=value or None)
        cell.number_format = "@"
        cells.append(cell)
    sheet.append(cells)
book.save(sys.argv[2])
print(time.perf_counter() - start, time.process_time() - start_cpu)
)";

QList<QList<QString>> records(int count)
{
    static const QString modes[] = { QStringLiteral("自动测量"), QStringLiteral("Fast measure"),
        QStringLiteral("慢速测量"), QStringLiteral("Auto measure") };
    QList<QList<QString>> rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        rows.append({ QTime::fromMSecsSinceStartOfDay(i * 37 % 86400000)
                          .toString(QStringLiteral("HH:mm:ss.zzz")),
            modes[i % 4], QString::number(1000 + i % 40000), QString::number(i % 300),
            i % 2 == 0 ? QString() : QString::number(150 + i % 90) });
    }
    return rows;
}

// Other programs share the cores, so wall time alone overstates the cost; CPU time of this
// process (one thread does all the writing) shows what an idle core would take.
double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

double megabytes(const QString &path)
{
    return QFileInfo(path).size() / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    QTemporaryDir dir;
    const QList<QList<QString>> rows = records(count);
    std::printf("records: %d\n", count);

    QElapsedTimer clock;
    const QString textPath = dir.filePath(QStringLiteral("run.txt"));
    clock.start();
    double cpu = cpuSeconds();
    QString error;
    const bool textSaved
        = exporting::writeTextFile(textPath, rows, 1, QDate::currentDate(), &error);
    const double textSeconds = clock.nsecsElapsed() / 1e9;
    const double textCpu = cpuSeconds() - cpu;
    std::printf("text:     %7.3f s wall  %7.3f s cpu  %6.1f MB  %s\n", textSeconds, textCpu,
        megabytes(textPath), textSaved ? "ok" : qPrintable(error));

    save_file worker;
    int outcome = -1;
    QObject::connect(
        &worker, &save_file::sig_tongzhi_close_file, [&](int index) { outcome = index; });
    clock.restart();
    cpu = cpuSeconds();
    worker.slot_save_data(dir.filePath(QStringLiteral("run")), save_file::kWriteRequest, rows, 1);
    const double bookSeconds = clock.nsecsElapsed() / 1e9;
    const QString bookPath = dir.filePath(QStringLiteral("run.xlsx"));
    const double bookCpu = cpuSeconds() - cpu;
    std::printf("workbook: %7.3f s wall  %7.3f s cpu  %6.1f MB  %s\n", bookSeconds, bookCpu,
        megabytes(bookPath), outcome == save_file::kSaveDone ? "ok" : "FAILED");

    const QString python = testsupport::pythonWithOpenpyxl();
    if (python.isEmpty()) {
        std::printf("openpyxl: skipped, no python3 with openpyxl\n");
        return 0;
    }
    // The header line is a row like the others for openpyxl.
    QProcess reference;
    const QString referencePath = dir.filePath(QStringLiteral("openpyxl.xlsx"));
    reference.start(python,
        { QStringLiteral("-c"), QString::fromLatin1(kOpenpyxlWriter), textPath, referencePath });
    if (!reference.waitForFinished(-1) || reference.exitCode() != 0) {
        std::printf("openpyxl: failed: %s\n", reference.readAllStandardError().constData());
        return 1;
    }
    const QList<QByteArray> figures = reference.readAllStandardOutput().simplified().split(' ');
    const double referenceSeconds = figures.value(0).toDouble();
    const double referenceCpu = figures.value(1).toDouble();
    std::printf("openpyxl: %7.3f s wall  %7.3f s cpu  %6.1f MB  (write-only mode, writing only)\n",
        referenceSeconds, referenceCpu, megabytes(referencePath));
    std::printf(
        "openpyxl / workbook: %.1fx wall, %.1fx cpu   workbook / text: %.1fx wall, %.1fx cpu\n",
        referenceSeconds / bookSeconds, referenceCpu / bookCpu, bookSeconds / textSeconds,
        bookCpu / textCpu);
    return textSaved && outcome == save_file::kSaveDone ? 0 : 1;
}
