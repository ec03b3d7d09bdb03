// Layout of a message base (.tbb): a fixed file header, then records back to
// back, each a fixed record header followed by the message text. All
// integers are unsigned 32-bit little-endian.
#ifndef KORVANE_TBB_BASE_LAYOUT_H_
#define KORVANE_TBB_BASE_LAYOUT_H_

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace base_layout {

// BaseFileHeader: magic, headerSize, then 3072 bytes nobody reads.
const uint32_t kFileMagic = 0x19790620u;
const uint32_t kFileHeaderSize = 3080;

// MessageRecordHeader, 48 bytes.
const uint32_t kRecordMagic = 0x19700921u;
const uint32_t kRecordHeaderSize = 48;
const uint32_t kRecordMagicOffset = 0;
const uint32_t kRecordHeaderSizeOffset = 4;
const uint32_t kRecordTimeStampOffset = 12;
const uint32_t kRecordLengthOffset = 36;

// The first five bytes of every record header: magic and the low byte of
// headerSize. A record header left inside a recovered message shows up as
// a line that begins with them.
const unsigned char kRecordStartPattern[5] = {0x21, 0x09, 0x70, 0x19, 0x30};

// Whether the length bytes at p begin with kRecordStartPattern.
inline bool IsRecordStart(const unsigned char* p, size_t length) {
  return length >= sizeof kRecordStartPattern &&
         memcmp(p, kRecordStartPattern, sizeof kRecordStartPattern) == 0;
}

inline uint32_t ReadLittleEndian32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
         uint32_t(p[3]) << 24;
}

}  // namespace base_layout

#endif  // KORVANE_TBB_BASE_LAYOUT_H_
