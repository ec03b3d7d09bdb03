// ASCII letter case, the one folding the program uses: names of folders and
// header fields compare without regard to the case of ASCII letters only,
// whatever the locale, so that every system orders and matches them alike;
// protocol words (IMAP's) are read in capitals the same way.
#ifndef KORVANE_BYTES_ASCII_H_
#define KORVANE_BYTES_ASCII_H_

#include <string>

inline char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string FoldedAscii(std::string text) {
  for (char& c : text) c = FoldAscii(c);
  return text;
}

inline std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

#endif  // KORVANE_BYTES_ASCII_H_
