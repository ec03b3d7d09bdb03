// A message's envelope time: its stored time within the usable range,
// moved to universal time by the zone's bias.
#ifndef KORVANE_MESSAGE_ENVELOPE_TIME_H_
#define KORVANE_MESSAGE_ENVELOPE_TIME_H_

#include <stdint.h>

#include "message/writer_options.h"
#include "platform/win32.h"

// Works out envelope times, one message after another. Most messages of a
// base share their day with the one before; the calendar is asked only
// when the day changes.
class EnvelopeTimes {
 public:
  // The envelope time of a message of time *time, in whole seconds, and
  // *date as the envelope line shows it. A time before the lower bound or
  // after the current time is the current time. With storeBack, *time
  // becomes the time that a following message whose time stamp did not
  // convert starts from. *fromClock (where given) tells whether the time
  // is the current time.
  FILETIME Of(const WriterOptions& options, FILETIME* time, bool storeBack,
              SYSTEMTIME* date, bool* fromClock = nullptr);

 private:
  // The day (in days since 1601) of the last date the calendar gave, and
  // that date; -1 for none.
  int64_t day = -1;
  SYSTEMTIME dayDate = {};
};

#endif  // KORVANE_MESSAGE_ENVELOPE_TIME_H_
