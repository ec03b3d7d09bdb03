// The user's request to stop a run: Ctrl-C, or on Windows also the console
// window being closed. Instead of ending the process at once, it sets a
// flag that the run watches, so that work under way (an upload waiting for
// the server's answers) ends cleanly and says how far it got. A second
// Ctrl-C ends the process as the system would.
#ifndef KORVANE_PLATFORM_INTERRUPT_H_
#define KORVANE_PLATFORM_INTERRUPT_H_

#include <atomic>

// Watches for the request from the first call on; the flag turns true when
// it comes.
const std::atomic<bool>* StopRequest();

#endif  // KORVANE_PLATFORM_INTERRUPT_H_
