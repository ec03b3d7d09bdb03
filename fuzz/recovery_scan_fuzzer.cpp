// The alternative (recovery) scan and the mailbox writer over arbitrary
// bytes, with the X and Y of -a[X][:Y] chosen by the fuzzer.
//
// Input: a flags byte (bits 0 and 1 pick the writer's block conversion,
// see ConvertAndCheck), Y (1 byte, signed), X (4 bytes, signed,
// little-endian), the time-zone bias in minutes (2 bytes, signed), then
// the base.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <memory>

#include "mailbox_check.h"
#include "scan/alternative_scanner.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 8) return 0;
  const unsigned blockConversion = input[0];
  const int32_t y = int8_t(input[1]);
  const int32_t x = int32_t(fuzz::ReadLittleEndian32(input + 2));
  const int32_t bias = int16_t(fuzz::ReadLittleEndian16(input + 6));
  input += 8;
  size -= 8;
  if (size > UINT32_MAX) return 0;
  std::unique_ptr<unsigned char[]> base(new unsigned char[size]);
  if (size > 0) memcpy(base.get(), input, size);

  AlternativeScanner scanner(x, y);
  // The switch's values are put in range, whatever was typed.
  FUZZ_CHECK(scanner.minHeaderSize >= 1);
  FUZZ_CHECK(x < 1 || scanner.minHeaderSize == x);
  FUZZ_CHECK(scanner.gapLength == 1 || scanner.gapLength == 2 ||
             scanner.gapLength == 4 || scanner.gapLength == 8);
  FUZZ_CHECK(y < 0 || y > 3 || scanner.gapLength == 1 << y);
  fuzz::ConvertAndCheck(&scanner, base.get(), static_cast<uint32_t>(size), true,
                        bias, blockConversion);
  return 0;
}
