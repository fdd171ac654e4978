// Prompt wake-ups: the threads that wait on the line get a core soon after they wake.
#pragma once

namespace io {

/**
 * Asks the system to give the calling thread, and the threads it starts afterwards, a core soon
 * after they wake, even while other programs keep every core busy. Their share of the CPU stays
 * the same. Does nothing where the system has no such request.
 */
void preferPromptWakeUps();

} // namespace io
