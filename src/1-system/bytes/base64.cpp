#include "bytes/base64.h"

#include <stdint.h>

namespace {

std::string Encode(const std::string& bytes, const char* digits, bool pad) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = static_cast<uint8_t>(bytes[i]) << 16 |
                       static_cast<uint8_t>(bytes[i + 1]) << 8 |
                       static_cast<uint8_t>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += digits[v >> shift & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (two) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += digits[v >> 18 & 63];
    out += digits[v >> 12 & 63];
    if (two) out += digits[v >> 6 & 63];
    if (pad) out += two ? "=" : "==";
  }
  return out;
}

}  // namespace

std::string Base64Url(const std::string& bytes) {
  return Encode(
      bytes, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_",
      false);
}
