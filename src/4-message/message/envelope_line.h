// The form of an mbox envelope line that every mail reader takes for the
// start of an entry:
//
//   "From " SENDER BLANKS WEEKDAY BLANKS MONTH BLANKS DAY BLANKS TIME
//   BLANKS YEAR [spaces or tabs]
//
// BLANKS is one or more spaces; SENDER one or more bytes from 0x21 to 0x7E;
// WEEKDAY "Mon" .. "Sun" and MONTH "Jan" .. "Dec" in exactly that case; DAY
// one or two digits; TIME hh:mm:ss, two digits each; YEAR four digits
// above 90. Wider forms (a zone before the year, no seconds) are taken by
// some readers and not by others (one reads the number after the time as
// the year and wants it above 90), so a message's first line of such a
// form is no envelope line of its own: it is quoted, and the message gets
// one.
#ifndef KORVANE_MESSAGE_ENVELOPE_LINE_H_
#define KORVANE_MESSAGE_ENVELOPE_LINE_H_

#include <stdint.h>

// Whether the length bytes at line (a line without its line end) have the
// envelope form. Reads nothing outside them.
bool IsEnvelopeLine(const unsigned char* line, int32_t length);

#endif  // KORVANE_MESSAGE_ENVELOPE_LINE_H_
