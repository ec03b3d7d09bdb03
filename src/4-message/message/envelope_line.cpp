#include "message/envelope_line.h"

#include <string.h>

#include "date/mail_date.h"

namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// One or more spaces.
bool SkipBlanks(const unsigned char** p, const unsigned char* end) {
  if (*p == end || **p != ' ') return false;
  while (*p != end && **p == ' ') ++*p;
  return true;
}

// count digits exactly.
bool SkipDigits(const unsigned char** p, const unsigned char* end, int count) {
  if (end - *p < count) return false;
  for (int i = 0; i < count; ++i)
    if (!IsDigit((*p)[i])) return false;
  *p += count;
  return true;
}

// One of the three-letter names name(0) .. name(n - 1).
bool SkipName(const unsigned char** p, const unsigned char* end,
              const char* (*name)(int), int n) {
  if (end - *p < 3) return false;
  for (int i = 0; i < n; ++i) {
    if (memcmp(*p, name(i), 3) == 0) {
      *p += 3;
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsEnvelopeLine(const unsigned char* line, int32_t length) {
  if (length < 5 || memcmp(line, "From ", 5) != 0) return false;
  const unsigned char* p = line + 5;
  const unsigned char* end = line + length;
  while (end != p && (end[-1] == ' ' || end[-1] == '\t')) --end;

  const unsigned char* sender = p;
  while (p != end && *p >= 0x21 && *p <= 0x7E) ++p;
  if (p == sender || !SkipBlanks(&p, end)) return false;
  if (!SkipName(&p, end, DayName, 7) || !SkipBlanks(&p, end)) return false;
  if (!SkipName(&p, end, MonthName, 12) || !SkipBlanks(&p, end)) return false;
  if (!SkipDigits(&p, end, 1)) return false;
  if (p != end && IsDigit(*p)) ++p;
  if (!SkipBlanks(&p, end)) return false;
  for (int part = 0; part < 3; ++part) {
    if (part > 0 && (p == end || *p++ != ':')) return false;
    if (!SkipDigits(&p, end, 2)) return false;
  }
  if (!SkipBlanks(&p, end) || end - p != 4) return false;
  const unsigned char* year = p;
  if (!SkipDigits(&p, end, 4)) return false;
  return (year[0] - '0') * 1000 + (year[1] - '0') * 100 + (year[2] - '0') * 10 +
             (year[3] - '0') >
         90;
}
