// Reads a server's responses off a stream in bounded memory. A response is
// a line, or lines joined by literals ("{n}" at a line's end, then n bytes,
// then the line goes on). Whatever the server sends, the reader keeps at
// most a fixed number of bytes of a response and reads (and drops) the
// rest, so that overlong lines, literals of any size and responses of any
// kind cost no more memory than that. With a time limit, a whole response
// must arrive within it (and a second more for each 64 KiB it holds), so
// that a server that trickles bytes cannot hold the reader for ever.
#ifndef KORVANE_IMAP_RESPONSE_READER_H_
#define KORVANE_IMAP_RESPONSE_READER_H_

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "net/byte_stream.h"
#include "net/clock.h"

// One response as read: lines[0], literals[0], lines[1], ... (one line more
// than literals), line ends and literal counts taken off.
struct RawResponse {
  std::vector<std::string> lines;
  std::vector<std::string> literals;
  bool cut = false;  // some of it was longer than the reader keeps
};

class ResponseReader {
 public:
  // What one response keeps at most: a line, a literal, all of it, and
  // how many literals.
  static constexpr size_t kMaxLine = 16384;
  static constexpr size_t kMaxLiteral = 65536;
  static constexpr size_t kMaxResponse = 1 << 20;
  static constexpr size_t kMaxLiterals = 1024;

  explicit ResponseReader(ByteStream* stream) : stream(stream) {}

  // From now on each response must arrive within timeoutMs of clock (plus
  // a second per 64 KiB); a response late past that is kTimedOut.
  void SetTimeLimit(Clock* clock, int timeoutMs);

  // Reads the next whole response. Anything but kOk leaves *response
  // incomplete.
  NetStatus Next(RawResponse* response);

  // Hands every byte of every literal to watcher as it is read, the bytes
  // the response does not keep too (a message's body, to be hashed); null
  // for none.
  typedef std::function<void(const char* bytes, size_t size)> LiteralWatcher;
  void WatchLiterals(LiteralWatcher watcher) { this->watcher = watcher; }

 private:
  // The line up to its LF, without CR LF, at most kMaxLine bytes kept.
  NetStatus ReadLine(std::string* line, bool* cut);
  // count bytes, the first `keep` of them into *literal.
  NetStatus ReadLiteral(uint64_t count, size_t keep, std::string* literal);
  NetStatus Fill();

  ByteStream* const stream;
  Clock* clock = nullptr;  // null: no time limit but the stream's own
  int timeoutMs = 0;
  LiteralWatcher watcher;
  int64_t started = 0;    // when the response began to be read
  uint64_t received = 0;  // bytes of it read so far
  char buffer[1 << 15];
  size_t start = 0, end = 0;
};

// The count of the literal that ends line ("{12}", "{12+}", "~{12}"); false
// if the line ends with none, or one too big for 64 bits.
bool LiteralAtEnd(const std::string& line, uint64_t* count);

#endif  // KORVANE_IMAP_RESPONSE_READER_H_
