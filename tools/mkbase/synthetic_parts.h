// What the generators of synthetic messages share: the random stream,
// people, subjects, the line writer and a few tables; and the entry points
// of the mailing-list and the rough messages, which synthetic_messages.cpp
// calls.
#ifndef KORVANE_MKBASE_SYNTHETIC_PARTS_H_
#define KORVANE_MKBASE_SYNTHETIC_PARTS_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "synthetic_messages.h"

namespace mkbase {
namespace synthetic {

// splitmix64: tiny, fast, and defined by integer arithmetic alone, so a
// seed gives the same stream under every compiler and library.
inline uint64_t Mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class Rng {
 public:
  explicit Rng(uint64_t seed) : state(seed) {}
  Rng(uint64_t seed, uint64_t stream)
      : state(Mix64(seed) ^ Mix64(stream + 0x632BE59BD9B4E019ull)) {}

  uint64_t Next() {
    state += 0x9E3779B97F4A7C15ull;
    return Mix64(state);
  }
  // Uniform in [0, n) by multiply-and-shift; n > 0.
  uint32_t Below(uint32_t n) {
    return uint32_t(((Next() >> 32) * uint64_t(n)) >> 32);
  }
  uint32_t Between(uint32_t low, uint32_t high) {
    return low + Below(high - low + 1);
  }
  bool OneIn(uint32_t n) { return Below(n) == 0; }
  template <typename T, size_t N>
  T Pick(const T (&choices)[N]) {
    return choices[Below(uint32_t(N))];
  }

 private:
  uint64_t state;
};

inline const char* const kDomains[] = {
    "example.org",      "example.com",       "example.net",
    "mail.example.org", "staff.example.com", "lists.example.net"};

inline const char* const kRelays[] = {"mx1.example.net", "mx2.example.org",
                                      "relay.example.com", "smtp.example.org",
                                      "gw.example.net"};

// Zones of the Date and Received dates, in minutes east of UTC.
inline const int kZones[] = {0, 60, 120, -300, -240, -420, 330, 540, -480, 600};

struct Person {
  std::string name;
  std::string address;
};

Person MakePerson(Rng& rng);

// A subject of 2 to 7 words, now and then with "Re: " or "Fwd: ".
std::string Subject(Rng& rng);

// `value` as `digits` upper-case hex digits.
std::string Hex(uint64_t value, int digits);

// "<RANDOM.INDEX@DOMAIN>", unique to message `index`.
std::string MessageId(Rng& rng, uint64_t index);

class MessageWriter {
 public:
  MessageWriter(std::string* out, bool crlf) : out(out), crlf(crlf) {}

  void Line(const std::string& text) {
    *out += text;
    End();
  }
  void End() { *out += crlf ? "\r\n" : "\n"; }

  // A body line of 20 to 100 bytes: the prefix, then words up to a random
  // length.
  void BodyLine(Rng& rng, const char* prefix);

 private:
  // Sentences run on across lines; a capital follows a full stop.
  bool capital = true;

  std::string* out;
  bool crlf;
};

// A mailing-list message (synthetic_list.cpp).
void AppendListMessage(std::string* out, uint64_t seed, uint64_t index,
                       const SyntheticOptions& options);

// The rough edges of one message (synthetic_rough.cpp): each line or name
// is empty where the message has none.
struct RoughEdges {
  std::string ownFromLine;    // a "From " line before the first header field
  std::string laterFromLine;  // one before the second header field
  std::string eightBitName;   // a sender name in 8-bit bytes
};

// Drawn from a stream of their own, so that the rest of the message stays
// as it is without them. `stamp` is the message's time stamp.
RoughEdges MakeRoughEdges(uint64_t seed, uint64_t index, int64_t stamp,
                          const std::string& senderAddress);

}  // namespace synthetic
}  // namespace mkbase

#endif  // KORVANE_MKBASE_SYNTHETIC_PARTS_H_
