// Conversion of a record's time stamp (seconds since 1970-01-01 UTC) into a
// FILETIME.
#ifndef KORVANE_SCAN_TIME_STAMP_H_
#define KORVANE_SCAN_TIME_STAMP_H_

#include <stdint.h>

#include "platform/win32.h"

// Counts four-year blocks from 1980, as the mail client did, so stamps
// before 1980 and from 2048-01-19 03:14:08 on do not convert (with a few
// exact block boundaries before 1980 as the exception). Returns false and
// leaves *out unwritten when the stamp does not convert.
bool SecondsToFileTime(uint32_t seconds, FILETIME* out);

#endif  // KORVANE_SCAN_TIME_STAMP_H_
