// The names of the message files in a Maildir.
//
// A file is written under a name no other delivery uses, into tmp/, and
// then moved to cur/ under the same name with its size and the empty flag
// list added: "<seconds>.M<micro>P<pid>Q<n>.<host>,S=<size>:2,". Windows
// allows no ":" in a name; there the file goes to new/ with the part before
// ":2,", which readers take as a message not yet seen.
#ifndef KORVANE_MAILDIR_MAILDIR_NAME_H_
#define KORVANE_MAILDIR_MAILDIR_NAME_H_

#include <stdint.h>

#include <string>

#include "platform/win32.h"

#ifdef _WIN32
const bool kColonInNames = false;
#else
const bool kColonInNames = true;
#endif

// "<seconds>.M<micro>P<pid>Q<sequence>.<host>" for a delivery at now (the
// seconds and microseconds since 1970).
std::string UniqueMessageName(FILETIME now, DWORD pid, uint64_t sequence,
                              const std::string& host);

// Whether name is one a delivery of process pid on host (a name part, as
// HostNamePart makes it) gave a file, in tmp/ or delivered, with whatever
// flags a reader added since.
bool IsNameOfProcess(const std::string& name, DWORD pid,
                     const std::string& host);

// The name of the delivered file: the unique name with ",S=<size>", and
// with ":2," where the name may hold a colon.
std::string DeliveredMessageName(const std::string& unique, uint64_t size,
                                 bool colonInNames);

// The sub-folder a delivered file goes to: "cur", or "new" where the name
// has no flag part.
const char* DeliveredFolder(bool colonInNames);

// A host name as a name part: "/" as "\057" and ":" as "\072", as Maildir
// readers expect, and "," as "\054", since readers take what follows a
// comma for the size. Bytes below 0x21 and 0x7F become "_".
std::string HostNamePart(const std::string& host);

// This computer's name as a name part; "localhost" when it is unknown.
std::string LocalHostNamePart();

#endif  // KORVANE_MAILDIR_MAILDIR_NAME_H_
