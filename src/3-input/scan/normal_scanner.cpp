#include "scan/normal_scanner.h"

#include "tbb/base_layout.h"
#include "scan/time_stamp.h"

using base_layout::ReadLittleEndian32;

bool NormalScanner::Attach(const unsigned char* data, uint32_t dataSize) {
  if (data == nullptr) return false;
  if (dataSize < base_layout::kFileHeaderSize) return false;
  if (ReadLittleEndian32(data) != base_layout::kFileMagic ||
      ReadLittleEndian32(data + 4) != base_layout::kFileHeaderSize)
    return false;
  base = data;
  position = data + base_layout::kFileHeaderSize;
  size = dataSize;
  return true;
}

bool NormalScanner::Next(const unsigned char** text, int32_t* length,
                         FILETIME* time) {
  if (base == nullptr) return false;
  uint64_t offset = static_cast<uint64_t>(position - base);
  if (offset >= size) return false;

  const uint64_t headerSize = base_layout::kRecordHeaderSize;
  bool good = offset + headerSize <= size &&
              ReadLittleEndian32(position) == base_layout::kRecordMagic &&
              ReadLittleEndian32(position + 4) == headerSize;
  if (!good) {
    *length = 0;
    brokenRecord = position;
    position = base + size;  // the walk is over
    return true;
  }

  uint32_t recordLength =
      ReadLittleEndian32(position + base_layout::kRecordLengthOffset);
  *text = position + headerSize;
  SecondsToFileTime(
      ReadLittleEndian32(position + base_layout::kRecordTimeStampOffset),
      time);
  uint64_t next = offset + headerSize + recordLength;
  // A text that runs past the end is unusable, and so is one too long for
  // the signed 32-bit length a message carries (possible only in a base of
  // more than 2 GiB); the walk still steps over the latter.
  bool usable = next <= size && recordLength <= 0x7FFFFFFFu;
  if (next > size) brokenRecord = position;
  *length = usable ? static_cast<int32_t>(recordLength) : 0;
  // Past the end, stop at the end: the next call ends the walk all the same
  // and the pointer never leaves the mapped range.
  position = next > size ? base + size : base + next;
  return true;
}
