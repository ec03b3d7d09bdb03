// The date-time of IMAP ("09-Sep-2001 01:46:40 +0000"): a message's
// internal date, the one mail programs sort by.
#ifndef KORVANE_IMAP_IMAP_DATE_H_
#define KORVANE_IMAP_IMAP_DATE_H_

#include <stdint.h>

#include <string>

// seconds since 1970-01-01 UTC, in UTC. Years outside 1..9999, which the
// form cannot hold, are held to its ends.
std::string FormatImapDate(int64_t seconds);

// The UTC seconds of an IMAP date-time, with its zone applied; false if it
// is not one.
bool ParseImapDate(const std::string& text, int64_t* seconds);

#endif  // KORVANE_IMAP_IMAP_DATE_H_
