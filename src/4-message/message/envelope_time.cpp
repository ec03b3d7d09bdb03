#include "message/envelope_time.h"

#include "platform/file_time.h"

namespace {

const int64_t kUnitsPerSecond = static_cast<int64_t>(kTicksPerSecond);
const int64_t kUnitsPerMinute = 60 * kUnitsPerSecond;
const int64_t kUnitsPerHour = 60 * kUnitsPerMinute;
const int64_t kUnitsPerDay = 24 * kUnitsPerHour;

int64_t ToInt64(FILETIME t) { return static_cast<int64_t>(TicksOf(t)); }

FILETIME FromInt64(int64_t v) { return FileTimeOfTicks(uint64_t(v)); }

// The envelope line shows whole seconds; a file's time is the same.
FILETIME WholeSeconds(int64_t t) { return FromInt64(t - t % kUnitsPerSecond); }

}  // namespace

WriterOptions CurrentWriterOptions(bool alternativeScan) {
  WriterOptions options;
  options.alternativeScan = alternativeScan;
  TIME_ZONE_INFORMATION zone = {};
  GetTimeZoneInformation(&zone);
  options.timeZoneBias = zone.Bias;
  GetSystemTimeAsFileTime(&options.currentTime);
  SYSTEMTIME lowerBound = {1979, 1, 0, 1, 0, 0, 0, 0};
  SystemTimeToFileTime(&lowerBound, &options.lowerTimeBound);
  return options;
}

FILETIME EnvelopeTimes::Of(const WriterOptions& options, FILETIME* time,
                           bool storeBack, SYSTEMTIME* date, bool* fromClock) {
  int64_t t = ToInt64(*time);
  int64_t now = ToInt64(options.currentTime);
  // The current time itself comes from the clock too: a message's time
  // that an earlier one stored back.
  if (fromClock != nullptr)
    *fromClock = t < ToInt64(options.lowerTimeBound) || t >= now;
  if (t < ToInt64(options.lowerTimeBound) || t > now) t = now;
  // A following message whose time stamp does not convert keeps this time
  // and gets the bias once, as this one does.
  if (storeBack) *time = FromInt64(t);
  const int64_t u = t + int64_t(options.timeZoneBias) * kUnitsPerMinute;
  const int64_t uDay = u >= 0 ? u / kUnitsPerDay : -1;
  if (uDay >= 0 && uDay == day) {
    const int64_t inDay = u % kUnitsPerDay;
    *date = dayDate;
    date->wHour = static_cast<WORD>(inDay / kUnitsPerHour);
    date->wMinute = static_cast<WORD>(inDay / kUnitsPerMinute % 60);
    date->wSecond = static_cast<WORD>(inDay / kUnitsPerSecond % 60);
    date->wMilliseconds = static_cast<WORD>(inDay / 10000 % 1000);
    return WholeSeconds(u);
  }
  FILETIME universal = FromInt64(u);
  day = -1;
  if (!FileTimeToSystemTime(&universal, date)) {
    GetSystemTime(date);
    GetSystemTimeAsFileTime(&universal);
  } else {
    day = uDay;
    dayDate = *date;
  }
  return WholeSeconds(ToInt64(universal));
}
