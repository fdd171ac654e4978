// Ctrl+C, a polite kill and a hang-up as a call in the event loop, so a program can end in an
// orderly way: stop the module, finish its files, say what it did.
#pragma once

#include <functional>

namespace cmdline {

/**
 * @brief Runs @p handler in the main thread's event loop when the process is asked to stop:
 * SIGINT, SIGTERM and SIGHUP (a dropped SSH session), or the console's Ctrl+C, Ctrl+Break and
 * close events on Windows. The handler gets the signal's number (2 for Ctrl+C on Windows).
 * SIGPIPE is ignored from then on: a reader that goes away shows as a failed write instead of
 * killing the process mid-run. Call once, after the application object exists.
 */
void onStopSignal(std::function<void(int signal)> handler);

/** @brief The name of a stop signal for messages ("interrupt", "terminate", "hang-up"). */
const char *stopSignalName(int signal);

} // namespace cmdline
