// Ctrl+C (and a polite kill) as a call in the event loop, so a run can end in an orderly way.
#include "cli/interrupt.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace cli {

namespace {
std::function<void()> g_handler;

void runHandler()
{
    if (g_handler)
        g_handler();
}

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    // Called on a thread of its own: the handler runs queued in the main thread.
    QMetaObject::invokeMethod(qApp, &runHandler, Qt::QueuedConnection);
    return TRUE;
}
#else
int g_pipe[2] = { -1, -1 };

void onSignal(int)
{
    // Only async-signal-safe work here: one byte wakes the event loop.
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_pipe[0], &c, 1);
}
#endif
} // namespace

void onInterrupt(std::function<void()> handler)
{
    g_handler = std::move(handler);
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, [] {
        char buffer[16];
        [[maybe_unused]] const auto n = ::read(g_pipe[1], buffer, sizeof buffer);
        runHandler();
    });
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

} // namespace cli
