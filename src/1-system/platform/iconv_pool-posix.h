// The iconv converters of the POSIX layer's code pages.
#ifndef KORVANE_PLATFORM_ICONV_POOL_POSIX_H_
#define KORVANE_PLATFORM_ICONV_POOL_POSIX_H_

#include <iconv.h>

#include "platform/code_pages-posix.h"

namespace win32_posix {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// A converter borrowed for one conversion, in its initial state;
// kNoConverter where iconv has none for the code page. iconv loads a
// module for a code page the first time: converters are opened one at a
// time and kept open to the end of the process, each lent to one thread
// at a time.
class BorrowedConverter {
 public:
  explicit BorrowedConverter(const CodePage& codePage);
  ~BorrowedConverter();
  BorrowedConverter(const BorrowedConverter&) = delete;
  BorrowedConverter& operator=(const BorrowedConverter&) = delete;
  iconv_t get() const { return converter_; }

 private:
  const UINT number_;
  const iconv_t converter_;
};

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_ICONV_POOL_POSIX_H_
