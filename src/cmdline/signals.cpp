// Stop signals as a call in the event loop.
#include "cmdline/signals.h"

#include <QCoreApplication>

#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>
#endif

namespace cmdline {

namespace {
std::function<void(int)> g_handler;

void runHandler(int signal)
{
    if (g_handler)
        g_handler(signal);
}

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    // Called on a thread of its own: the handler runs queued in the main thread.
    QMetaObject::invokeMethod(
        qApp, [] { runHandler(SIGINT); }, Qt::QueuedConnection);
    return TRUE;
}
#else
int g_socket[2] = { -1, -1 };

void onSignal(int signal)
{
    // Only async-signal-safe work here: the signal's number, as one byte, wakes the event loop.
    const char c = char(signal);
    [[maybe_unused]] const auto n = ::write(g_socket[0], &c, 1);
}
#endif
} // namespace

void onStopSignal(std::function<void(int)> handler)
{
    g_handler = std::move(handler);
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_socket) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_socket[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char received[16];
        const auto n = ::read(g_socket[1], received, sizeof received);
        for (ssize_t i = 0; i < n; ++i)
            runHandler(received[i]);
    });
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGINT, SIGTERM, SIGHUP })
        ::sigaction(signal, &action, nullptr);
#endif
}

const char *stopSignalName(int signal)
{
    switch (signal) {
    case SIGTERM:
        return "terminate";
#ifdef SIGHUP
    case SIGHUP:
        return "hang-up";
#endif
    default:
        return "interrupt";
    }
}

} // namespace cmdline
