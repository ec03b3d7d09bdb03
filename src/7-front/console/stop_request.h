// Ctrl-C, SIGTERM, a console window closed: the run's cancel flag is set
// instead of the process ending at once, so that the run stops between
// two messages, with every output that has its final name whole. Then the
// process ends as it would have at once (by the same signal; on Windows
// with the status of an interrupted program), so that callers see no
// difference but the outputs. A second request ends it at once.
#ifndef KORVANE_CONSOLE_STOP_REQUEST_H_
#define KORVANE_CONSOLE_STOP_REQUEST_H_

#include <atomic>

// From now on a stop request sets *cancel.
void WatchStopRequests(std::atomic<bool>* cancel);

// The run has ended: the watch is taken down. Where a request came, the
// process ends here as it would have, and this does not return.
void EndStopRequests();

#endif  // KORVANE_CONSOLE_STOP_REQUEST_H_
