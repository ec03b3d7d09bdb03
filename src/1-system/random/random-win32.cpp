#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "random/random.h"

Status RandomBytes(void* buffer, size_t size) {
  unsigned char* at = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    const ULONG piece = size > 1u << 20 ? 1u << 20 : static_cast<ULONG>(size);
    const NTSTATUS result =
        BCryptGenRandom(nullptr, at, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (result != 0)
      return Status::Of(StatusKind::kOther,
                        "the system gave no random bytes (BCryptGenRandom: " +
                            std::to_string(static_cast<unsigned long>(result)) +
                            ")");
    at += piece;
    size -= piece;
  }
  return Status::Ok();
}
