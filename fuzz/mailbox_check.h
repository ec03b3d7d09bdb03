// Shared by the scanner harnesses: runs a scanner over fuzzer bytes the way
// the conversion run does, writes every message through the real mailbox
// writer into a scratch file, and checks what scanner and writer promise.
// A broken promise aborts, which the fuzzer reports as a crash.
#ifndef KORVANE_FUZZ_MAILBOX_CHECK_H_
#define KORVANE_FUZZ_MAILBOX_CHECK_H_

#include <stddef.h>
#include <stdint.h>

#include "scan/message_scanner.h"

namespace fuzz {

// Attaches scanner to data[0, size) and converts it. timeZoneBias is the
// run's bias in minutes. blockConversion picks how the writer converts
// plain lines (the low two bits count): 0 the one the run takes (the
// widest this processor has, AVX-512 where there is), 1 16-byte registers,
// 2 32-byte registers (AVX2) where there are, 3 none, every line by the
// rules.
void ConvertAndCheck(MessageScanner* scanner, const unsigned char* data,
                     uint32_t size, bool alternativeScan, int32_t timeZoneBias,
                     unsigned blockConversion);

// Sends standard output, where the run's warnings go, to /dev/null: the
// fuzzer's own report is on standard error.
void SilenceStdout();

// Little-endian reads of the parameters at the head of a fuzzer input.
uint16_t ReadLittleEndian16(const uint8_t* p);
uint32_t ReadLittleEndian32(const uint8_t* p);

// Stops the process with a message when cond is false. Unlike assert it
// stays in optimised builds.
#define FUZZ_CHECK(cond)                                           \
  do {                                                             \
    if (!(cond)) ::fuzz::CheckFailed(#cond, __FILE__, __LINE__);   \
  } while (0)

[[noreturn]] void CheckFailed(const char* what, const char* file, int line);

}  // namespace fuzz

#endif  // KORVANE_FUZZ_MAILBOX_CHECK_H_
