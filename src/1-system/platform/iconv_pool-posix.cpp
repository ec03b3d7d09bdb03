#include "platform/iconv_pool-posix.h"

#include <mutex>
#include <utility>
#include <vector>

namespace win32_posix {

namespace {

class ConverterPool {
 public:
  iconv_t Take(const CodePage& codePage) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < idle_.size(); ++i) {
      if (idle_[i].first == codePage.number) {
        const iconv_t converter = idle_[i].second;
        idle_[i] = idle_.back();
        idle_.pop_back();
        return converter;
      }
    }
    return iconv_open("UTF-16LE", codePage.iconvName);
  }
  void Give(UINT number, iconv_t converter) {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.emplace_back(number, converter);
  }

 private:
  std::mutex mutex_;
  std::vector<std::pair<UINT, iconv_t>> idle_;
};

// Never destroyed: another thread may still convert while the process
// ends.
ConverterPool& Converters() {
  static ConverterPool* const pool = new ConverterPool;
  return *pool;
}

}  // namespace

BorrowedConverter::BorrowedConverter(const CodePage& codePage)
    : number_(codePage.number), converter_(Converters().Take(codePage)) {
  if (converter_ != kNoConverter)
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);
}

BorrowedConverter::~BorrowedConverter() {
  if (converter_ != kNoConverter) Converters().Give(number_, converter_);
}

}  // namespace win32_posix
