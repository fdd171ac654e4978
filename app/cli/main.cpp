// tovandrix-cli: the module from the command line, over the same core and serial worker as the
// window.
#include "cli/commands.h"
#include "cli/options.h"
#include "cli/output.h"

#include "cmdline/signals.h"
#include "io/wakeups.h"

#include <QCoreApplication>

#include <cstdio>

// The build names the version; a bare compile (the Windows syntax check) gets a stand-in.
#ifndef TOVANDRIX_VERSION
#define TOVANDRIX_VERSION "0"
#endif

namespace {

constexpr char kName[] = "tovandrix-cli";

cli::Output::Existing existingFiles(const cli::Invocation &in)
{
    if (in.isSet("force"))
        return cli::Output::Existing::Overwrite;
    if (in.isSet("append"))
        return cli::Output::Existing::Append;
    return cli::Output::Existing::Refuse;
}

cli::Format formatOf(const cli::Invocation &in)
{
    // A port's records and runs, a file's figures; history and report lay out the store's
    // formats themselves.
    const bool figures = in.name() == QLatin1String("analyze");
    const QString f
        = in.command() && (in.command()->needsPort || figures) ? in.text("format") : QString();
    return f == QLatin1String("csv")  ? cli::Format::Csv
        : f == QLatin1String("jsonl") ? cli::Format::Jsonl
                                      : cli::Format::Text;
}

int run(QCoreApplication &app)
{
    const cli::Invocation in(app.arguments().mid(1));
    if (in.args().version) {
        std::printf("%s %s\n", kName, TOVANDRIX_VERSION);
        return cli::kExitOk;
    }
    if (in.args().help) {
        std::printf("%s", qPrintable(cli::helpText(in.name())));
        return cli::kExitOk;
    }
    cli::checkOperands(in);
    // Everything that can be refused is refused before a port is opened or a file written.
    const QString output = in.text("output");
    if (!output.isEmpty()) {
        const QString problem = cli::Output::check(output, in.ports(), existingFiles(in));
        if (!problem.isEmpty())
            throw cmdline::UsageError { problem };
    }

    cli::Output out(
        formatOf(in), in.ports(), in.settings().language, in.name() != QLatin1String("analyze"));
    QString error;
    if (!output.isEmpty() && !out.openFile(output, existingFiles(in), &error)) {
        std::fprintf(stderr, "%s: %s\n", kName, qPrintable(error));
        return cli::kExitFailed;
    }
    cli::Jobs jobs = cli::makeJobs(in, &out);

    int running = int(jobs.size());
    for (auto &job : jobs) {
        QObject::connect(job.get(), &cli::PortJob::finished, &app, [&running] {
            if (--running == 0)
                QCoreApplication::exit(0);
        });
    }
    auto stopAll = [&jobs](const QString &why) {
        for (auto &job : jobs)
            if (!job->isFinished())
                job->stop(why);
    };
    cmdline::onStopSignal(
        [&stopAll](int signal) { stopAll(QString::fromLatin1(cmdline::stopSignalName(signal))); });
    out.onClosed([&stopAll] { stopAll(QStringLiteral("standard output closed")); });
    for (auto &job : jobs)
        job->start();
    if (running > 0)
        app.exec();

    int status = cli::kExitOk;
    for (const auto &job : jobs)
        status = qMax(status, job->exitCode());
    if (in.name() == QLatin1String("test"))
        status = cli::concludeTests(in, jobs);
    if (in.name() == QLatin1String("measure"))
        status = cli::concludeMeasure(in, jobs, status);
    if (!out.close(&error)) {
        std::fprintf(stderr, "%s: %s\n", kName, qPrintable(error));
        status = qMax(status, int(cli::kExitFailed));
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // First, so every thread started afterwards inherits it.
    io::preferPromptWakeUps();
    // Qt's own event loop: the GLib one it uses by default costs more on every wake-up, and a
    // command-line program has no GLib sources to serve.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QLatin1String(kName));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOVANDRIX_VERSION));
    try {
        return run(app);
    } catch (const cli::PlanError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.text));
        return cli::kExitUsage;
    } catch (const cmdline::UsageError &e) {
        QString command;
        for (const QString &a : app.arguments().mid(1))
            for (const cli::CommandInfo &c : cli::commandTable())
                if (command.isEmpty() && a == c.name)
                    command = a;
        return cmdline::reportUsageError(QLatin1String(kName), e.text, command);
    }
}
