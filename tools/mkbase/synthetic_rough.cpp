// The rough edges of synthetic messages (--rough): "From " lines of their
// own and sender names in 8-bit bytes, as older mail stores hold them.
#include <algorithm>
#include <vector>

#include "synthetic_parts.h"

namespace mkbase {
namespace synthetic {

namespace {

// UTF-8 and Latin-1 names for From: lines with 8-bit bytes.
const char* const kEightBitNames[] = {
    "J\xc3\xb6rg M\xc3\xbcller", "Ren\xe9 Dupr\xe9",
    "\xd0\x9e\xd0\xbb\xd1\x8c\xd0\xb3\xd0\xb0", "Sm\xf8rrebr\xf8\x64"};

// A mail date "Sun, 9 Sep 2001 01:46:40 +0000" as an envelope line's date:
// form 0 "Sun Sep 9 01:46:40 2001", 1 "Sun Sep  9 01:46:40 2001", 2 "Sun
// Sep 9 01:46 2001". (No zone: git mailsplit knows no envelope line with
// one.)
std::string EnvelopeDate(const std::string& mailDate, uint32_t form) {
  std::vector<std::string> w;  // "Sun," "9" "Sep" "2001" "01:46:40" "+0000"
  size_t p = 0;
  while (p <= mailDate.size()) {
    size_t e = std::min(mailDate.find(' ', p), mailDate.size());
    w.push_back(mailDate.substr(p, e - p));
    p = e + 1;
  }
  std::string day = (form == 1 && w[1].size() == 1 ? " " : "") + w[1];
  std::string time = form == 2 ? w[4].substr(0, 5) : w[4];
  return w[0].substr(0, 3) + " " + w[2] + " " + day + " " + time + " " + w[3];
}

}  // namespace

RoughEdges MakeRoughEdges(uint64_t seed, uint64_t index, int64_t stamp,
                          const std::string& senderAddress) {
  RoughEdges edges;
  Rng rng(seed ^ 0x726F75676845ull, index);
  const uint32_t roll = rng.Below(10);
  const std::string mailDate = FormatMailDate(stamp, 0);
  // One draw per statement (as in MessageId). The date's comes first, as
  // the bases made so far have it.
  const std::string date =
      roll % 2 == 0 ? EnvelopeDate(mailDate, rng.Below(3)) : mailDate;
  const std::string sender = rng.OneIn(3) ? "MAILER-DAEMON" : senderAddress;
  const std::string line = "From " + sender + " " + date;
  if (roll < 2 || roll == 6 || roll == 7) {
    edges.ownFromLine = line;
  } else if (roll == 4 || roll == 5) {
    edges.laterFromLine = line;
  }
  if (rng.OneIn(4)) edges.eightBitName = rng.Pick(kEightBitNames);
  return edges;
}

}  // namespace synthetic
}  // namespace mkbase
