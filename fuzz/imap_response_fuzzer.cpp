// What an IMAP server may send: the response reader and the parser on any
// bytes. The reader must keep to its bounds and end at the end of the
// input; whatever parses is taken apart as the client does (fetch items,
// dates, the fields of the folder's index, response codes).
//
// Input: a byte that sets how many bytes each read hands out (0: 4096),
// then the server's bytes.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "imap/folder_index.h"
#include "imap/imap_date.h"
#include "imap/response.h"

namespace {

class MemoryStream : public ByteStream {
 public:
  MemoryStream(const uint8_t* data, size_t size, size_t chunk)
      : data_(data), size_(size), chunk_(chunk) {}
  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    *got = std::min({size, chunk_, size_ - at_});
    if (*got == 0) return NetStatus::kClosed;
    std::copy(data_ + at_, data_ + at_ + *got, buffer);
    at_ += *got;
    return NetStatus::kOk;
  }
  NetStatus Write(const char*, size_t) override { return NetStatus::kOk; }
  bool ReadableNow() override { return at_ < size_; }

 private:
  const uint8_t* data_;
  size_t size_, chunk_, at_ = 0;
};

void Check(bool ok) {
  if (!ok) abort();
}

void TakeApart(const std::vector<ImapValue>& values, int depth) {
  Check(depth <= 16);
  for (const ImapValue& v : values) {
    if (v.kind == ImapValue::kList) TakeApart(v.items, depth + 1);
    if (v.kind != ImapValue::kString) continue;
    int64_t seconds;
    if (ParseImapDate(v.text, &seconds))
      Check(ParseImapDate(FormatImapDate(seconds), &seconds));
    ReadIndexFields(v.text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t chunk = data[0] ? data[0] : 4096;
  MemoryStream stream(data + 1, size - 1, chunk);
  ResponseReader reader(&stream);
  RawResponse raw;
  size_t responses = 0;
  while (reader.Next(&raw) == NetStatus::kOk) {
    // At least a line end per response: the reader always moves on.
    Check(++responses <= size);
    Check(raw.lines.size() == raw.literals.size() + 1);
    Check(raw.literals.size() <= ResponseReader::kMaxLiterals);
    size_t kept = 0;
    for (const std::string& line : raw.lines) {
      Check(line.size() <= ResponseReader::kMaxLine);
      kept += line.size();
    }
    for (const std::string& literal : raw.literals) {
      Check(literal.size() <= ResponseReader::kMaxLiteral);
      kept += literal.size();
    }
    Check(kept <= ResponseReader::kMaxResponse + ResponseReader::kMaxLine);
    ImapResponse response;
    if (!ParseResponse(raw, &response)) continue;
    response.CodeName();
    FetchItem(response, "RFC822.SIZE");
    TakeApart(response.data, 0);
  }
  return 0;
}
