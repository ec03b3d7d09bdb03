// Lets calls in other files of the POSIX layer act on the descriptor behind
// a file handle.
#ifndef KORVANE_PLATFORM_FILE_DESCRIPTOR_POSIX_H_
#define KORVANE_PLATFORM_FILE_DESCRIPTOR_POSIX_H_

#include "platform/win32.h"

namespace win32_posix {

// Writes out what the handle holds back and runs action on its descriptor,
// with the handle kept alive meanwhile. action returns 0 or an errno value.
// FALSE with the last error set when the handle is no file, the write-out
// fails or action fails.
BOOL WithWrittenOutDescriptor(HANDLE file, int (*action)(int fd, void* context),
                              void* context);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_FILE_DESCRIPTOR_POSIX_H_
