// The form of an mbox envelope line, as strict mail readers recognise the
// start of an entry:
//
//   "From " SENDER BLANKS WEEKDAY BLANKS MONTH BLANKS DAY BLANKS TIME
//   [BLANKS ZONE] BLANKS YEAR [spaces or tabs]
//
// BLANKS is one or more spaces; SENDER one or more bytes from 0x21 to 0x7E;
// WEEKDAY "Mon" .. "Sun" and MONTH "Jan" .. "Dec" in exactly that case; DAY
// one or two digits; TIME hh:mm or hh:mm:ss, two digits each; ZONE a sign
// and four digits or one or more ASCII letters; YEAR four digits.
#ifndef KORVANE_MESSAGE_ENVELOPE_LINE_H_
#define KORVANE_MESSAGE_ENVELOPE_LINE_H_

#include <stdint.h>

// Whether the length bytes at line (a line without its line end) have the
// envelope form. Reads nothing outside them.
bool IsEnvelopeLine(const unsigned char* line, int32_t length);

#endif  // KORVANE_MESSAGE_ENVELOPE_LINE_H_
