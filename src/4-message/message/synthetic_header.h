// The header block given to a recovered message that has none, so that a
// mail reader can list it.
#ifndef KORVANE_MESSAGE_SYNTHETIC_HEADER_H_
#define KORVANE_MESSAGE_SYNTHETIC_HEADER_H_

#include <string>

#include "platform/win32.h"

// Six lines, each ended by lineEnd: Date (time, as a mail date), From and
// X-Mailer (the program), To (user@computer, lower-cased), Subject
// ("recovered message"), and the empty line that ends the block.
std::string SyntheticHeader(const SYSTEMTIME& time, const char* lineEnd);

#endif  // KORVANE_MESSAGE_SYNTHETIC_HEADER_H_
