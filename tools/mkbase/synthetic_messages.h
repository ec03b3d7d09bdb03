// Synthetic messages for tests and benchmarks: realistic enough to exercise
// sender, date and "From " line handling, and the same bytes on every
// platform for a given seed (the generator uses only integer arithmetic of
// its own, no library distributions).
#ifndef KORVANE_MKBASE_SYNTHETIC_MESSAGES_H_
#define KORVANE_MKBASE_SYNTHETIC_MESSAGES_H_

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base_builder.h"

namespace mkbase {

const uint32_t kDefaultStartTime = 1000000000u;  // 2001-09-09 01:46:40 UTC
const uint32_t kDefaultTimeStep = 3600;

struct SyntheticOptions {
  // CR LF line ends; LF alone when false.
  bool crlf = true;
  // Message i is stamped startTime + i * step (modulo 2^32); its Date
  // header is a few minutes earlier, as a sending time would be.
  uint32_t startTime = kDefaultStartTime;
  uint32_t step = kDefaultTimeStep;
  // Messages as older mail stores hold them: about one in five begins with
  // a "From " line of its own (half of them an envelope line "From SENDER
  // Sun Sep 9 01:46:40 2001", half a "From SENDER Sun, 9 Sep 2001 ..." line
  // that is none), one in ten has such a line after its first header, and
  // one in four has a From: line "addr (name)" with a name in 8-bit bytes.
  // Drawn apart from the rest: without it the messages stay as they are.
  bool rough = false;
};

// The time stamp that goes with message `index`.
uint32_t SyntheticTimeStamp(uint64_t index, const SyntheticOptions& options);

// Message `index` of the series for `seed`: header lines, a blank line and
// body lines of 20 to 100 bytes (line end not counted), every line ended.
// Each message depends only on (seed, index), so any one can be made alone.
//
// Senders vary: "Return-Path: <addr>" with a From: header, or only
// "From: Name <addr>", or only "From: addr". About one message in three has
// Received: lines. About one body line in 200 begins "From ", and about one
// in 500 each begins "from " or ">From ".
std::string SyntheticMessage(uint64_t seed, uint64_t index,
                             const SyntheticOptions& options);
// The same, appended to *out, so that a caller can reuse one buffer.
void AppendSyntheticMessage(std::string* out, uint64_t seed, uint64_t index,
                            const SyntheticOptions& options);

// A Date header value, "Sun, 9 Sep 2001 03:46:40 +0200", for the instant
// unixTime shown in the zone zoneMinutes east of UTC.
std::string FormatMailDate(int64_t unixTime, int zoneMinutes);

// Pseudo-random filler for damaged bases. The bytes never include 0x00,
// CR, LF, TAB, 0x21 ('!'), or the letters D, F, R in either case, so that
// garbage can be told from a zero run and never forms a line end, the
// start of a record header (21 09 ...) or the start of a Date, From or
// Return-Path line by accident.
std::string GarbageBytes(uint64_t seed, size_t count);

// Adds synthetic messages 0, 1, ... (stamped as in SyntheticTimeStamp)
// until `count` have been added or the next would take the base beyond
// `maxBytes` bytes, file header included; returns how many were added.
// Pass SIZE_MAX or UINT64_MAX for a limit that should not apply.
size_t AddSyntheticMessages(BaseBuilder* builder, uint64_t seed, size_t count,
                            uint64_t maxBytes,
                            const SyntheticOptions& options);
size_t AddSyntheticMessages(BaseWriter* writer, uint64_t seed, size_t count,
                            uint64_t maxBytes,
                            const SyntheticOptions& options);

}  // namespace mkbase

#endif  // KORVANE_MKBASE_SYNTHETIC_MESSAGES_H_
