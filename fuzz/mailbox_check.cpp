#include "mailbox_check.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "framing/message_writer.h"
#include "io/file_stream.h"
#include "mbox/mbox_sink.h"
#include "mbox_model.h"
#include "message/plain_blocks.h"
#include "platform/win32.h"

namespace fuzz {

void CheckFailed(const char* what, const char* file, int line) {
  fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  abort();
}

void SilenceStdout() {
  fflush(stdout);
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDOUT_FILENO);
    close(null);
  }
}

uint16_t ReadLittleEndian16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t ReadLittleEndian32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
         uint32_t(p[3]) << 24;
}

namespace {

typedef std::string Bytes;

// One scratch mailbox per process (libFuzzer may run several), in memory
// when /dev/shm is there. Removed at exit.
const std::string& ScratchPath() {
  static const std::string* path = [] {
    struct stat st;
    const char* dir = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)
                          ? "/dev/shm"
                          : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    std::string* p = new std::string(std::string(dir) + "/korvane-fuzz-" +
                                     std::to_string(getpid()) + ".mbx");
    atexit([] { unlink(ScratchPath().c_str()); });
    return p;
  }();
  return *path;
}

Bytes ReadWholeFile(const std::string& path) {
  Bytes bytes;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  char chunk[65536];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) bytes.append(chunk, n);
  FUZZ_CHECK(n == 0);
  close(fd);
  return bytes;
}

FILETIME MakeTime(WORD year, WORD month, WORD day, WORD hour) {
  SYSTEMTIME s = {year, month, 0, day, hour, 0, 0, 0};
  FILETIME t;
  FUZZ_CHECK(SystemTimeToFileTime(&s, &t));
  return t;
}

std::vector<Bytes> OutputLines(const Bytes& entry) {
  std::vector<Bytes> lines;
  size_t start = 0;
  for (size_t i = 0; i < entry.size(); ++i) {
    if (entry[i] != '\n') continue;
    lines.push_back(entry.substr(start, i - start));
    start = i + 1;
  }
  FUZZ_CHECK(start == entry.size());  // every line ends with a line feed
  return lines;
}

bool StartsWith(const Bytes& s, const char* prefix) {
  return s.compare(0, strlen(prefix), prefix) == 0;
}

bool IsDigits(const Bytes& s, size_t from, size_t count) {
  if (from + count > s.size()) return false;
  for (size_t i = from; i < from + count; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

bool OneOf(const Bytes& word, const char* const* names, int n) {
  for (int i = 0; i < n; ++i)
    if (word == names[i]) return true;
  return false;
}

// "From SENDER  Ddd Mmm D hh:mm:ss YYYY" with the sender given.
void CheckEnvelope(const Bytes& line, const Bytes& sender) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                      "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  const Bytes head = "From " + sender + "  ";
  FUZZ_CHECK(line.compare(0, head.size(), head) == 0);
  Bytes date = line.substr(head.size());
  FUZZ_CHECK(date.size() >= 20);
  FUZZ_CHECK(OneOf(date.substr(0, 3), kDays, 7) && date[3] == ' ');
  FUZZ_CHECK(OneOf(date.substr(4, 3), kMonths, 12) && date[7] == ' ');
  size_t p = 8;
  size_t dayDigits = IsDigits(date, p, 2) ? 2 : 1;
  FUZZ_CHECK(IsDigits(date, p, dayDigits) && date[p] != '0');
  p += dayDigits;
  FUZZ_CHECK(date.size() > p + 10 && date[p] == ' ');
  FUZZ_CHECK(IsDigits(date, p + 1, 2) && date[p + 3] == ':' &&
             IsDigits(date, p + 4, 2) && date[p + 6] == ':' &&
             IsDigits(date, p + 7, 2) && date[p + 9] == ' ');
  p += 10;
  FUZZ_CHECK(date.size() - p >= 4 && IsDigits(date, p, date.size() - p));
}

// Checks one entry of the output against the message it was written from.
void CheckEntry(const Bytes& entry, const unsigned char* text, int32_t length,
                bool alternativeScan) {
  std::vector<Bytes> out = OutputLines(entry);
  // The entry ends with an empty line and begins with an envelope line, and
  // no other line begins "From ": mail readers start an entry only there.
  FUZZ_CHECK(out.size() >= 2 && out.back().empty());
  FUZZ_CHECK(mbox_model::IsEnvelopeForm(out[0]));
  for (size_t i = 1; i < out.size(); ++i)
    FUZZ_CHECK(!StartsWith(out[i], "From "));

  // The rest as the model has it: the envelope line with its sender, or the
  // message's own; the recovery scan's header block; every line of the
  // message, quoted where it begins "From " (nothing lost, nothing added).
  const mbox_model::Entry model = mbox_model::ModelEntry(
      Bytes(reinterpret_cast<const char*>(text), size_t(length)),
      alternativeScan);
  size_t k = 0;
  if (!model.ownEnvelope) {
    CheckEnvelope(out[k++], model.sender);
    if (model.headerBlock) {
      FUZZ_CHECK(out.size() >= k + 7);
      FUZZ_CHECK(StartsWith(out[k++], "Date: "));
      FUZZ_CHECK(out[k++] == "From: korvane");
      FUZZ_CHECK(StartsWith(out[k], "To: ") && out[k].find('@') != Bytes::npos);
      ++k;
      FUZZ_CHECK(out[k++] == "Subject: recovered message");
      FUZZ_CHECK(out[k++] == "X-Mailer: korvane");
      FUZZ_CHECK(out[k++].empty());
    }
  }
  size_t at = 0;
  for (size_t i = 0; i < k; ++i) at += out[i].size() + 1;
  FUZZ_CHECK(entry.compare(at, Bytes::npos, model.lines + "\n") == 0);
}

struct Entry {
  const unsigned char* text;
  int32_t length;
  uint64_t begin;  // offsets of the entry in the output
  uint64_t end;
};

uint64_t OutputSize(FileStream* mailbox) {
  DWORD high = 0;
  DWORD low = GetFileSize(mailbox->handle, &high);
  FUZZ_CHECK(!(low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS));
  return uint64_t(high) << 32 | low;
}

}  // namespace

void ConvertAndCheck(MessageScanner* scanner, const unsigned char* data,
                     uint32_t size, bool alternativeScan, int32_t timeZoneBias,
                     unsigned blockConversion) {
  if (!scanner->Attach(data, size)) return;
  FUZZ_CHECK(scanner->base == data && scanner->size == size);
  FUZZ_CHECK(scanner->position >= data && scanner->position <= data + size);

  FileStream mailbox;
  FUZZ_CHECK(mailbox.Open(ScratchPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                          CREATE_ALWAYS));
  WriterOptions options;
  options.alternativeScan = alternativeScan;
  switch (blockConversion & 3) {
    case 1:
      options.convertBlocks = PlainBlockConverterOf(BlockConversion::kSse2);
      break;
    case 2:
      if (PlainBlockConverterOf(BlockConversion::kAvx2) != nullptr)
        options.convertBlocks = PlainBlockConverterOf(BlockConversion::kAvx2);
      break;
    case 3:
      options.convertBlocks = nullptr;
      break;
  }
  options.timeZoneBias = timeZoneBias;
  // Fixed, so that a finding reproduces on another day.
  options.currentTime = MakeTime(2024, 6, 1, 12);
  options.lowerTimeBound = MakeTime(1979, 1, 1, 0);
  MboxSink sink(&mailbox);
  MessageWriter writer(&sink, kMboxFraming, options);

  std::vector<Entry> entries;
  const unsigned char* before = scanner->position;
  const unsigned char* text = nullptr;
  int32_t length = 0;
  FILETIME time = {0, 0};
  while (scanner->Next(&text, &length, &time)) {
    // Forward on every call, so the walk ends; never outside the data.
    FUZZ_CHECK(scanner->position > before);
    FUZZ_CHECK(scanner->position <= data + size);
    before = scanner->position;
    FUZZ_CHECK(length >= 0);
    if (length == 0) continue;
    FUZZ_CHECK(text >= data && text <= data + size);
    FUZZ_CHECK(uint64_t(length) <= uint64_t(data + size - text));
    entries.push_back({text, length, OutputSize(&mailbox), 0});
    FUZZ_CHECK(writer.WriteMessage(text, length, &time));
    // Handed on entry by entry here, to see where each ends.
    FUZZ_CHECK(writer.Finish());
    entries.back().end = OutputSize(&mailbox);
  }
  FUZZ_CHECK(mailbox.Close());

  const Bytes output = ReadWholeFile(ScratchPath());
  FUZZ_CHECK(output.find('\r') == Bytes::npos);
  uint64_t at = 0;
  for (const Entry& e : entries) {
    FUZZ_CHECK(e.begin == at && e.end > e.begin);  // back to back
    CheckEntry(output.substr(e.begin, e.end - e.begin), e.text, e.length,
               alternativeScan);
    at = e.end;
  }
  FUZZ_CHECK(at == output.size());  // nothing before, between or after
  // A strict reader finds every entry.
  FUZZ_CHECK(mbox_model::CountStrictEntries(output) == entries.size());
}

}  // namespace fuzz
