#include <errno.h>
#include <sys/random.h>

#include "random/random.h"

Status RandomBytes(void* buffer, size_t size) {
  char* at = static_cast<char*>(buffer);
  while (size > 0) {
    const ssize_t n = getrandom(at, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::Of(StatusKind::kOther,
                        "the system gave no random bytes (getrandom: errno " +
                            std::to_string(errno) + ")");
    }
    at += n;
    size -= static_cast<size_t>(n);
  }
  return Status::Ok();
}
