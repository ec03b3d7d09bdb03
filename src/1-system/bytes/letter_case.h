// Letter case beyond ASCII, for servers that take two names differing in it
// for one (Exchange): the capitals of Latin-1, Latin Extended-A, Greek and
// Cyrillic, and ASCII's, made small; everything else, and bytes that are
// no UTF-8, as they are. The same on every system, whatever the locale.
#ifndef KORVANE_BYTES_LETTER_CASE_H_
#define KORVANE_BYTES_LETTER_CASE_H_

#include <string>

std::string FoldedLetters(const std::string& utf8);

#endif  // KORVANE_BYTES_LETTER_CASE_H_
