// Every name from the disk and every word of a server passes here before
// the window shows it: invalid UTF-8 becomes U+FFFD and control characters
// a visible \xNN, so that nothing such text holds can change what the
// window shows around it.
#ifndef KORVANE_WINDOW_SHOWN_TEXT_H_
#define KORVANE_WINDOW_SHOWN_TEXT_H_

#include <string>

std::string ShownText(const std::string& raw);

#endif  // KORVANE_WINDOW_SHOWN_TEXT_H_
