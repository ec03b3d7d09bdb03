// The bulk of a message's lines, 64 bytes at a time: most blocks of a
// message need nothing but their CRs dropped to become mailbox bytes.
#ifndef KORVANE_MESSAGE_PLAIN_BLOCKS_H_
#define KORVANE_MESSAGE_PLAIN_BLOCKS_H_

#include <stddef.h>
#include <string.h>

#include "tbb/base_layout.h"

const size_t kPlainBlockSize = 64;
// A conversion reads up to this far from the start of the block it
// converts (PlainBlockReach tells how far each does), and writes up to
// kPlainBlockSize bytes past the output it produces.
const size_t kPlainBlockReach = 2 * kPlainBlockSize;

// A block conversion: converts blocks of 64 bytes from *from on, while
// PlainBlockReach bytes from the block's start lie before end and room
// holds kPlainBlockReach bytes: each block's output is its bytes without
// its CRs. Stops at the first block that needs the line-by-line rules: one
// that holds a NUL, a CR not followed by LF, or a line that starts with
// "From " (to be quoted) or, when recordStart, with the record-start
// pattern (a record header that may end a recovered message). The tests
// look past the block, so a block boundary is never a line start that
// needs a look.
//
// The caller makes sure that the byte at *from is no NUL and, if it starts
// a line, that the line needs none of those rules (LineNeedsRules).
// Advances *from to the first byte not converted (possibly within a line)
// and returns the number of bytes written to out.
typedef size_t (*PlainBlockConverter)(const unsigned char** from,
                                      const unsigned char* end,
                                      unsigned char* out, size_t room,
                                      bool recordStart);

// The conversions, by the registers they use; all give the same bytes.
enum class BlockConversion {
  kNone,    // lines one by one only
  kSse2,    // 16-byte registers, on every x86-64 processor
  kAvx2,    // 32-byte registers
  kAvx512,  // 64-byte registers and the byte compress instruction
};

// The conversion of that kind; null where the build or the processor lacks
// it, and for kNone.
PlainBlockConverter PlainBlockConverterOf(BlockConversion kind);

// The conversion the writer uses: the widest this processor has or, where
// the build pins one (KORVANE_BLOCK_CONVERSION), that one, or the widest
// below it where the processor lacks it.
BlockConversion BestBlockConversion();
// Its converter; null converts nothing in blocks.
PlainBlockConverter BestPlainBlockConverter();

// "none", "sse2", "avx2" or "avx512".
const char* BlockConversionName(BlockConversion kind);

// How many bytes from the start of a block the conversion needs before
// end: kPlainBlockReach, or a block and five bytes for the ones that read
// nothing past the block but the byte after it and the start of the line
// that may begin there; the rest of each message goes line by line.
size_t PlainBlockReach(PlainBlockConverter converter);

// Whether a line that starts at line needs the line-by-line rules: it
// begins "From " or, with recordStart, with the record-start pattern.
// Reads 5 bytes.
inline bool LineNeedsRules(const unsigned char* line, bool recordStart) {
  return memcmp(line, "From ", 5) == 0 ||
         (recordStart && base_layout::IsRecordStart(line, 5));
}

#endif  // KORVANE_MESSAGE_PLAIN_BLOCKS_H_
