#include "imap/response_reader.h"

#include <string.h>

#include <algorithm>

bool LiteralAtEnd(const std::string& line, uint64_t* count) {
  if (line.empty() || line.back() != '}') return false;
  size_t i = line.size() - 1;
  if (i > 0 && line[i - 1] == '+') --i;
  const size_t digitsEnd = i;
  while (i > 0 && line[i - 1] >= '0' && line[i - 1] <= '9') --i;
  if (i == digitsEnd || i == 0 || line[i - 1] != '{') return false;
  uint64_t n = 0;
  for (size_t k = i; k < digitsEnd; ++k) {
    const unsigned digit = static_cast<unsigned>(line[k] - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *count = n;
  return true;
}

void ResponseReader::SetTimeLimit(Clock* clock, int timeoutMs) {
  this->clock = clock;
  this->timeoutMs = timeoutMs;
}

NetStatus ResponseReader::Fill() {
  if (start == end) start = end = 0;
  if (clock != nullptr) {
    // A second more for each 64 KiB already read: a large response from a
    // slow server is no trickle.
    stream->SetDeadline(started + timeoutMs +
                        static_cast<int64_t>(received / 65536) * 1000);
  }
  size_t got = 0;
  const NetStatus status =
      stream->Read(buffer + end, sizeof buffer - end, &got);
  end += got;
  received += got;
  return status;
}

NetStatus ResponseReader::ReadLine(std::string* line, bool* cut) {
  line->clear();
  for (;;) {
    const char* begin = buffer + start;
    const char* lf = static_cast<const char*>(memchr(begin, '\n', end - start));
    const size_t take = lf ? static_cast<size_t>(lf - begin) : end - start;
    const size_t room = kMaxLine - std::min(kMaxLine, line->size());
    if (take > room) *cut = true;
    line->append(begin, std::min(take, room));
    start += take;
    if (lf) {
      ++start;
      if (!line->empty() && line->back() == '\r') line->pop_back();
      return NetStatus::kOk;
    }
    start = end = 0;
    const NetStatus status = Fill();
    if (status != NetStatus::kOk) return status;
  }
}

NetStatus ResponseReader::ReadLiteral(uint64_t count, size_t keep,
                                      std::string* literal) {
  literal->clear();
  literal->reserve(static_cast<size_t>(std::min<uint64_t>(count, keep)));
  while (count > 0) {
    if (start == end) {
      const NetStatus status = Fill();
      if (status != NetStatus::kOk) return status;
    }
    const size_t take =
        static_cast<size_t>(std::min<uint64_t>(count, end - start));
    const size_t room = keep - std::min(keep, literal->size());
    literal->append(buffer + start, std::min(take, room));
    if (watcher) watcher(buffer + start, take);
    start += take;
    count -= take;
  }
  return NetStatus::kOk;
}

NetStatus ResponseReader::Next(RawResponse* response) {
  if (clock != nullptr) started = clock->NowMs();
  received = 0;
  response->lines.clear();
  response->literals.clear();
  response->cut = false;
  size_t kept = 0;
  // Past the response's budget the rest is read and dropped; what is kept
  // always ends with a line.
  bool keeping = true;
  for (;;) {
    std::string line;
    bool cut = false;
    NetStatus status = ReadLine(&line, &cut);
    if (status != NetStatus::kOk) return status;
    response->cut |= cut;
    uint64_t count = 0;
    // A line cut short has lost its end: no literal is read for it.
    const bool literal = !cut && LiteralAtEnd(line, &count);
    if (keeping) {
      kept += line.size();
      response->lines.push_back(std::move(line));
    }
    if (!literal) return NetStatus::kOk;
    keeping = keeping && kept < kMaxResponse &&
              response->literals.size() < kMaxLiterals;
    const size_t keep =
        keeping ? std::min(kMaxLiteral, kMaxResponse - kept) : 0;
    std::string bytes;
    status = ReadLiteral(count, keep, &bytes);
    if (status != NetStatus::kOk) return status;
    if (count > keep) response->cut = true;
    if (keeping) {
      kept += bytes.size();
      response->literals.push_back(std::move(bytes));
    }
  }
}
