// Ctrl+C (and a polite kill) as a call in the event loop, so a run can end in an orderly way.
#pragma once

#include <functional>

namespace cli {

/**
 * @brief Runs @p handler in the main thread's event loop on Ctrl+C (SIGINT, SIGTERM, or the
 * console's Ctrl+C and close events on Windows). Call once, after the application object exists.
 */
void onInterrupt(std::function<void()> handler);

} // namespace cli
