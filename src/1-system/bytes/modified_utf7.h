// IMAP's modified UTF-7, the form in which servers name folders (and in
// which Maildir++ keeps their names on disk): ASCII from space to "~" as it
// is but "&" as "&-", everything else as UTF-16 in modified base64 between
// "&" and "-".
#ifndef KORVANE_BYTES_MODIFIED_UTF7_H_
#define KORVANE_BYTES_MODIFIED_UTF7_H_

#include <string>

// name is read as UTF-8; a byte that is not part of a valid UTF-8 sequence
// stands for the character of the same number (as in ISO 8859-1), so that
// every name has a form and no two names share one.
std::string ModifiedUtf7(const std::string& name);

#endif  // KORVANE_BYTES_MODIFIED_UTF7_H_
