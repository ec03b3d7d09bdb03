// The rules a run's messages are written by: the scan (recovered messages
// have rules of their own), the clock and the zone for envelope dates, and
// how plain lines are converted.
#ifndef KORVANE_MESSAGE_WRITER_OPTIONS_H_
#define KORVANE_MESSAGE_WRITER_OPTIONS_H_

#include "message/plain_blocks.h"
#include "platform/win32.h"

struct WriterOptions {
  bool alternativeScan = false;
  LONG timeZoneBias = 0;  // minutes; UTC = local time + bias
  FILETIME currentTime = {0, 0};
  FILETIME lowerTimeBound = {0, 0};
  // The widest block conversion the processor has; tests substitute the
  // others. Null converts nothing in blocks.
  PlainBlockConverter convertBlocks = BestPlainBlockConverter();
};

// The options of a run starting now on this machine: its time-zone bias,
// the current time, and 1979-01-01 as the lower time bound.
WriterOptions CurrentWriterOptions(bool alternativeScan);

#endif  // KORVANE_MESSAGE_WRITER_OPTIONS_H_
