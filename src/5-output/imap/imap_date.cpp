#include "imap/imap_date.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "bytes/ascii.h"
#include "headers/header_fields.h"
#include "platform/file_time.h"

namespace {

const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
const int64_t kMinSeconds = -62135596800;  // 0001-01-01 00:00:00
const int64_t kMaxSeconds = 253402300799;  // 9999-12-31 23:59:59

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

}  // namespace

std::string FormatImapDate(int64_t seconds) {
  if (seconds < kMinSeconds) seconds = kMinSeconds;
  if (seconds > kMaxSeconds) seconds = kMaxSeconds;
  int64_t days = seconds / 86400, rest = seconds % 86400;
  if (rest < 0) rest += 86400, --days;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  char text[40];
  snprintf(text, sizeof text, "%02u-%.3s-%04d %02d:%02d:%02d +0000", day,
           kMonths + 3 * (month - 1), static_cast<int>(year),
           static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
           static_cast<int>(rest % 60));
  return text;
}

bool ParseImapDate(const std::string& text, int64_t* seconds) {
  unsigned day, hour, minute, second, zone;
  int year;
  char month[4], sign;
  int end = 0;
  if (sscanf(text.c_str(), "%2u-%3c-%4d %2u:%2u:%2u %c%4u%n", &day, month,
             &year, &hour, &minute, &second, &sign, &zone, &end) != 8 ||
      static_cast<size_t>(end) != text.size() || (sign != '+' && sign != '-'))
    return false;
  month[3] = '\0';
  const char* found = strstr(kMonths, month);
  if (!found || (found - kMonths) % 3 != 0 || day < 1 || day > 31 ||
      hour > 23 || minute > 59 || second > 60 || zone % 100 > 59)
    return false;
  const unsigned m = static_cast<unsigned>((found - kMonths) / 3 + 1);
  const int64_t offset = (zone / 100 * 60 + zone % 100) * 60;
  *seconds = DaysFromCivil(year, m, day) * 86400 + hour * 3600 + minute * 60 +
             second - (sign == '+' ? offset : -offset);
  return true;
}

namespace {

// Reads digits at *at (after blanks), at most most of them; how many
// there were (0: none).
size_t Number(const std::string& text, size_t* at, size_t most, int* value) {
  while (*at < text.size() && (text[*at] == ' ' || text[*at] == '\t')) ++*at;
  size_t n = 0;
  *value = 0;
  while (*at < text.size() && n < most &&
         isdigit(static_cast<unsigned char>(text[*at]))) {
    *value = *value * 10 + (text[*at] - '0');
    ++*at;
    ++n;
  }
  return n;
}

// The zone at *at in minutes east of UTC: +hhmm, -hhmm, or a name; none is
// UTC.
int ZoneMinutes(const std::string& text, size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int hhmm = 0;
    size_t digits = at + 1;
    if (Number(text, &digits, 4, &hhmm) != 4 || digits != at + 5) return 0;
    const int minutes = hhmm / 100 * 60 + hhmm % 100;
    return text[at] == '-' ? -minutes : minutes;
  }
  static const struct {
    const char* name;
    int hours;
  } kZones[] = {{"edt", -4}, {"est", -5}, {"cdt", -5}, {"cst", -6},
                {"mdt", -6}, {"mst", -7}, {"pdt", -7}, {"pst", -8}};
  const std::string name = FoldedAscii(text.substr(at, 3));
  for (const auto& z : kZones)
    if (name == z.name) return z.hours * 60;
  return 0;
}

}  // namespace

bool ParseHeaderDate(const std::string& value, int64_t* seconds) {
  size_t at = value.find(',');
  at = at == std::string::npos ? 0 : at + 1;
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  if (!Number(value, &at, 2, &day)) return false;
  while (at < value.size() && value[at] == ' ') ++at;
  const std::string month = FoldedAscii(value.substr(at, 3));
  static const char kLower[] = "janfebmaraprmayjunjulaugsepoctnovdec";
  const char* found =
      month.size() == 3 ? strstr(kLower, month.c_str()) : nullptr;
  if (found == nullptr || (found - kLower) % 3 != 0) return false;
  at += 3;
  const size_t digits = Number(value, &at, 4, &year);
  if (digits < 2) return false;
  if (digits == 2) year += year < 50 ? 2000 : 1900;
  if (digits == 3) year += 1900;
  if (!Number(value, &at, 2, &hour) || at >= value.size() || value[at] != ':')
    return false;
  ++at;
  if (!Number(value, &at, 2, &minute)) return false;
  if (at < value.size() && value[at] == ':') {
    ++at;
    if (!Number(value, &at, 2, &second)) return false;
  }
  if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
      year < 1 || year > 9999)
    return false;
  const unsigned m = static_cast<unsigned>((found - kLower) / 3 + 1);
  *seconds = DaysFromCivil(year, m, static_cast<unsigned>(day)) * 86400 +
             hour * 3600 + minute * 60 + second -
             int64_t(ZoneMinutes(value, at)) * 60;
  return true;
}

int64_t UploadDate(const FILETIME& envelopeTime, bool clockTime,
                   const std::string& message) {
  if (!clockTime)
    return (static_cast<int64_t>(TicksOf(envelopeTime)) -
            static_cast<int64_t>(kUnixEpochTicks)) /
           static_cast<int64_t>(kTicksPerSecond);
  HeaderField date;
  date.name = "Date";
  const unsigned char* text =
      reinterpret_cast<const unsigned char*>(message.data());
  ReadHeaderFields(text, text + message.size(), &date, 1);
  int64_t seconds = 0;
  return date.found && ParseHeaderDate(date.value, &seconds)
             ? seconds
             : kUndatedInternalDate;
}
