// Text from the disk on a terminal: made harmless, and how wide it shows
// (for the columns of the tree table).
#ifndef KORVANE_CONSOLE_DISPLAY_WIDTH_H_
#define KORVANE_CONSOLE_DISPLAY_WIDTH_H_

#include <stddef.h>

#include <string>

// The columns UTF-8 text takes: 2 for each East Asian wide or fullwidth
// character, 0 for a combining mark or a character of no width, 1 for any
// other character and for every byte that is not part of valid UTF-8. The
// same everywhere: no locale is asked.
size_t DisplayWidth(const std::string& text);

// text with every control character written as "\x1b" and the like: C0,
// DEL and C1 (as UTF-8, and as bytes 0x80 to 0x9F that are not part of
// valid UTF-8), so that a name cannot move the cursor, recolour or retitle
// the terminal. Every name from the disk goes through it on its way to the
// console.
std::string ConsoleText(const std::string& text);

#endif  // KORVANE_CONSOLE_DISPLAY_WIDTH_H_
