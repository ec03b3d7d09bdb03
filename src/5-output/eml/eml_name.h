// The names of .eml files: the same on every run, on Windows and Linux.
#ifndef KORVANE_EML_EML_NAME_H_
#define KORVANE_EML_EML_NAME_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <string_view>

#include "platform/win32.h"

// The longest subject in a name, in characters.
const size_t kEmlSubjectCharacters = 60;

// "NNNNNN YYYY-MM-DD Subject.eml": the message's index in its base
// (1-based, six digits or more), its envelope date in UTC, and its decoded
// subject as SafeNamePart leaves it, cut to 60 characters and so that the
// name stays within 255 bytes. Without a subject (or none left), no
// subject part.
std::string EmlFileName(uint64_t index, const SYSTEMTIME& utcDate,
                        std::string_view subject);

// UTF-8 text as part of a file name that Windows and Linux both take:
// each of <>:"/\|? and *, control character, mark or override of writing
// direction and byte that is no UTF-8 an underscore, no blanks in front, at
// most maxCharacters characters and maxBytes bytes, no dot or blank at the end,
// and no device name of Windows (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0 to
// COM9, LPT0 to LPT9, also with ¹, ² or ³, in any case, alone or before a dot):
// an underscore follows one.
std::string SafeNamePart(std::string_view text, size_t maxCharacters,
                         size_t maxBytes);

#endif  // KORVANE_EML_EML_NAME_H_
