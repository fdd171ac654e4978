// tovandrix-cli at the wire limit: one or more virtual modules measuring continuously, every reply
// counted, CPU of the CLI process per reply.
#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const char kUsage[] = R"(bench_cli [--seconds 60] [--modules 1] [--baud 115200] [--chunk-ms 0]
  Starts N virtual modules (tovandrix-sim --rate max: results back to back at the wire limit),
  runs "tovandrix-cli measure --seconds S --format csv" on all of them at once and prints, per
  module, the replies the module sent, the records the CLI wrote and the lost ones, then the
  CLI's CPU time (user + system, from wait4) per reply. The programs are taken from the folder
  of this benchmark. --chunk-ms has the modules deliver their bytes every so many ms, as a USB
  adapter's latency timer does (0: byte by byte at the line's pace, which costs the modules a
  wake-up per byte: sixteen of them take more of two cores than the CLI does).
  Example: bench_cli --seconds 60 --modules 16 --chunk-ms 1
)";

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(' ', 0, 2)
                                       : QStringLiteral("?");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    double seconds = 60;
    int modules = 1;
    int baud = 115200;
    int chunkMs = 0;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString value = i + 1 < args.size() ? args[i + 1] : QString();
        if (args[i] == QLatin1String("--seconds"))
            seconds = value.toDouble();
        else if (args[i] == QLatin1String("--modules"))
            modules = value.toInt();
        else if (args[i] == QLatin1String("--baud"))
            baud = value.toInt();
        else if (args[i] == QLatin1String("--chunk-ms"))
            chunkMs = value.toInt();
        else {
            std::fprintf(stderr, "%s", kUsage);
            return 2;
        }
        ++i;
    }
    if (seconds <= 0 || modules < 1 || baud <= 0 || chunkMs < 0) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    const QString dir = QCoreApplication::applicationDirPath();

    std::vector<std::unique_ptr<QProcess>> sims;
    QStringList paths;
    for (int i = 0; i < modules; ++i) {
        auto sim = std::make_unique<QProcess>();
        sim->start(dir + QStringLiteral("/tovandrix-sim"),
            { "--no-publish", "--baud", QString::number(baud), "--rate", "max", "--seed",
                QString::number(i + 1), "--chunk", QString::number(chunkMs) });
        QString out;
        const QRegularExpression pts(QStringLiteral(" on (/dev/pts/\\d+) "));
        while (!pts.match(out).hasMatch() && sim->waitForReadyRead(10000))
            out += QString::fromLocal8Bit(sim->readAllStandardOutput());
        if (!pts.match(out).hasMatch()) {
            std::fprintf(stderr, "bench_cli: tovandrix-sim did not start\n");
            return 1;
        }
        paths << pts.match(out).captured(1);
        sims.push_back(std::move(sim));
    }

    // The CLI is started by hand, so that wait4 reports its own CPU time.
    QList<QByteArray> argvBytes { (dir + QStringLiteral("/tovandrix-cli")).toLocal8Bit(), "measure",
        "--seconds", QByteArray::number(seconds), "--baud", QByteArray::number(baud), "--format",
        "csv" };
    for (const QString &p : paths)
        argvBytes << "--port" << p.toLocal8Bit();
    std::vector<char *> cliArgv;
    for (QByteArray &a : argvBytes)
        cliArgv.push_back(a.data());
    cliArgv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0)
        return 1;
    const QString loadBefore = loadAverage();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(cliArgv[0], cliArgv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    QMap<QString, qint64> received;
    QByteArray pending;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        pending.append(buffer, n);
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            const qsizetype comma = line.indexOf(',');
            if (comma > 0 && !line.startsWith("port,"))
                ++received[QString::fromLocal8Bit(line.left(comma))];
        }
    }
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const QString loadAfter = loadAverage();

    qint64 totalSent = 0, totalReceived = 0;
    std::printf(
        "modules %d (bytes every %d ms), %g s at %d baud, load average before %s, after %s\n",
        modules, chunkMs, seconds, baud, qPrintable(loadBefore), qPrintable(loadAfter));
    for (int i = 0; i < modules; ++i) {
        ::kill(pid_t(sims[size_t(i)]->processId()), SIGINT);
        sims[size_t(i)]->waitForFinished(10000);
        const QString text = QString::fromLocal8Bit(sims[size_t(i)]->readAllStandardOutput());
        const qint64 sent = QRegularExpression(QStringLiteral("sent (\\d+) repl"))
                                .match(text)
                                .captured(1)
                                .toLongLong();
        const qint64 got = received.value(paths[i]);
        totalSent += sent;
        totalReceived += got;
        std::printf("  %s: sent %lld, received %lld, lost %lld\n", qPrintable(paths[i]),
            (long long)sent, (long long)got, (long long)(sent - got));
    }
    const double cpuUs = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    std::printf("total: sent %lld, received %lld, lost %lld; CLI exit status %d\n",
        (long long)totalSent, (long long)totalReceived, (long long)(totalSent - totalReceived),
        WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::printf("CLI CPU: %.0f ms (user %.0f, system %.0f), %.1f us per reply\n", cpuUs / 1000,
        double(usage.ru_utime.tv_sec) * 1e3 + double(usage.ru_utime.tv_usec) / 1e3,
        double(usage.ru_stime.tv_sec) * 1e3 + double(usage.ru_stime.tv_usec) / 1e3,
        totalReceived > 0 ? cpuUs / double(totalReceived) : 0.0);
    return totalSent == totalReceived ? 0 : 1;
}
