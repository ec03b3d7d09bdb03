// How wide text shows on a terminal, for the columns of the tree table.
#ifndef KORVANE_MAIN_DISPLAY_WIDTH_H_
#define KORVANE_MAIN_DISPLAY_WIDTH_H_

#include <stddef.h>

#include <string>

// The columns UTF-8 text takes: 2 for each East Asian wide or fullwidth
// character, 0 for a combining mark or a character of no width, 1 for any
// other character and for every byte that is not part of valid UTF-8. The
// same everywhere: no locale is asked.
size_t DisplayWidth(const std::string& text);

#endif  // KORVANE_MAIN_DISPLAY_WIDTH_H_
