// Text between the program's UTF-8 and Windows' UTF-16: every name and text
// the window shows or reads passes here, so that any script works.
#ifndef KORVANE_WINDOW_WIDE_TEXT_H_
#define KORVANE_WINDOW_WIDE_TEXT_H_

#ifdef _WIN32

#include <string>

// Bytes that are no UTF-8 become U+FFFD.
std::wstring Wide(const std::string& utf8);
// Lone surrogates become U+FFFD.
std::string Narrow(const std::wstring& utf16);

#endif  // _WIN32

#endif  // KORVANE_WINDOW_WIDE_TEXT_H_
