// Where the secrets come from: the environment, or a prompt that does not
// echo. Never the command line; never shown, logged or put in an error.
#ifndef KORVANE_IMAP_IMAP_CREDENTIALS_H_
#define KORVANE_IMAP_IMAP_CREDENTIALS_H_

#include <string>

#include "imap/imap_account.h"

enum class CredentialsFound {
  kFound,      // from KORVANE_OAUTH2_TOKEN or KORVANE_PASSWORD
  kNone,       // neither is set: ask, where standard input is a terminal
  kAmbiguous,  // both are set
};

CredentialsFound CredentialsFromEnvironment(ImapCredentials* credentials);

// KORVANE_CA_FILE, or "".
std::string CaFileFromEnvironment();

// KORVANE_IMAP_TIMEOUT: how long a server may take to answer, in
// milliseconds; 60 seconds where it is not a whole number of seconds from
// 1 to 3600.
int ImapTimeoutMsFromEnvironment();

// Whether standard input is a terminal one can be asked at.
bool StandardInputIsTerminal();

// Writes prompt to the terminal and reads a line from standard input with
// echo off (UTF-8). False if nothing could be read.
bool ReadSecret(const std::string& prompt, std::string* secret);

#endif  // KORVANE_IMAP_IMAP_CREDENTIALS_H_
