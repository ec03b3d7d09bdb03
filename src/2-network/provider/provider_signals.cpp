#include "provider/provider_signals.h"

#include "bytes/ascii.h"

bool SuggestedBackoffMs(const std::string& text, int64_t* ms) {
  const std::string folded = FoldedAscii(text);
  const std::string label = "suggested backoff time:";
  const size_t at = folded.find(label);
  if (at == std::string::npos) return false;
  size_t p = at + label.size();
  while (p < folded.size() && folded[p] == ' ') ++p;
  int64_t value = 0;
  size_t digits = 0;
  for (; p < folded.size() && folded[p] >= '0' && folded[p] <= '9'; ++p) {
    if (++digits > 12) return false;  // no pause of 30 years
    value = value * 10 + (folded[p] - '0');
  }
  if (digits == 0) return false;
  while (p < folded.size() && folded[p] == ' ') ++p;
  const std::string unit = folded.substr(p, 12);
  if (unit.compare(0, 12, "milliseconds") == 0 || unit.compare(0, 2, "ms") == 0)
    *ms = value;
  else if (unit.compare(0, 7, "seconds") == 0)
    *ms = value * 1000;
  else
    return false;
  return true;
}

bool SaysDailyLimit(const Provider* provider, const std::string& code,
                    const std::string& text) {
  if (!provider || provider->dailyUploadBytes == 0) return false;
  const std::string folded = FoldedAscii(text);
  // A full mailbox says OVERQUOTA too, in other words: that is no daily
  // limit, and a rerun tomorrow would not get further.
  return folded.find("bandwidth limit") != std::string::npos ||
         (FoldedAscii(code) == "overquota" &&
          folded.find("exceeded command") != std::string::npos);
}
