// The normal scan and the mailbox writer over arbitrary bytes.
//
// Input: a flags byte, the time-zone bias in minutes (2 bytes, signed,
// little-endian), then the base. Flag bit 0 puts a sound file header in
// front of the base, so that the fuzzer spends its effort on the records
// rather than on the 3072 header bytes that nobody reads; bits 1 and 2
// pick the writer's block conversion (see ConvertAndCheck).
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "tbb/base_layout.h"
#include "mailbox_check.h"
#include "scan/normal_scanner.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 3) return 0;
  const unsigned flags = input[0];
  const bool withHeader = flags & 1;
  const int32_t bias = int16_t(fuzz::ReadLittleEndian16(input + 1));
  input += 3;
  size -= 3;
  const size_t headerSize = withHeader ? base_layout::kFileHeaderSize : 0;
  if (size > UINT32_MAX - headerSize) return 0;
  const size_t total = headerSize + size;
  // Exactly as large as the base, so that a read past its end is caught.
  std::unique_ptr<unsigned char[]> base(new unsigned char[total]);
  if (withHeader) {
    memset(base.get(), 0, headerSize);
    const uint32_t fields[2] = {base_layout::kFileMagic,
                                base_layout::kFileHeaderSize};
    for (int i = 0; i < 8; ++i)
      base[i] = static_cast<unsigned char>(fields[i / 4] >> (8 * (i % 4)));
  }
  if (size > 0) memcpy(base.get() + headerSize, input, size);

  NormalScanner scanner;
  fuzz::ConvertAndCheck(&scanner, base.get(), static_cast<uint32_t>(total),
                        false, bias, flags >> 1);
  return 0;
}
