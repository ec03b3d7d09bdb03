// Bytes no one can guess, from the system's own source (getrandom on
// Linux, BCryptGenRandom on Windows): the PKCE verifier and the state of a
// sign-in are made of them. random-posix.cpp, random-win32.cpp.
#ifndef KORVANE_RANDOM_RANDOM_H_
#define KORVANE_RANDOM_RANDOM_H_

#include <stddef.h>

#include <string>

#include "status/status.h"

// Fills buffer with size unpredictable bytes.
Status RandomBytes(void* buffer, size_t size);

// size unpredictable bytes in base64url without padding (RFC 4648 §5): the
// form PKCE and the state take.
Status RandomText(size_t size, std::string* text);

#endif  // KORVANE_RANDOM_RANDOM_H_
