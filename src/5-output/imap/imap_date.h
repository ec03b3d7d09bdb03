// The date-time of IMAP ("09-Sep-2001 01:46:40 +0000"): a message's
// internal date, the one mail programs sort by.
#ifndef KORVANE_IMAP_IMAP_DATE_H_
#define KORVANE_IMAP_IMAP_DATE_H_

#include <stdint.h>

#include <string>

#include "platform/win32.h"

// seconds since 1970-01-01 UTC, in UTC. Years outside 1..9999, which the
// form cannot hold, are held to its ends.
std::string FormatImapDate(int64_t seconds);

// The UTC seconds of an IMAP date-time, with its zone applied; false if it
// is not one.
bool ParseImapDate(const std::string& text, int64_t* seconds);

// The UTC seconds of a Date: field's value ("Tue, 1 Jul 2003 10:52:37
// +0200"; the day's name, the seconds and the zone may be missing, the
// year may have two digits, the zone may be a name of RFC 822); false if
// it is none.
bool ParseHeaderDate(const std::string& value, int64_t* seconds);

// The internal date of a message whose time came from the clock and whose
// Date: field tells none: 1980-01-01 00:00:00 UTC, the same on every run.
const int64_t kUndatedInternalDate = 315532800;

// The internal date an upload gives a message: its envelope time; where
// that came from the clock (clockTime), its Date: field's time, else
// kUndatedInternalDate. message: the message file.
int64_t UploadDate(const FILETIME& envelopeTime, bool clockTime,
                   const std::string& message);

#endif  // KORVANE_IMAP_IMAP_DATE_H_
