#include "mbox_model.h"

namespace mbox_model {

namespace {

const char kRecordStart[] = "\x21\x09\x70\x19\x30";  // 5 bytes

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// prefix in lower case.
bool StartsWithNoCase(const std::string& s, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i == s.size()) return false;
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool AllOf(const std::string& s, bool (*test)(unsigned char)) {
  for (char c : s)
    if (!test(static_cast<unsigned char>(c))) return false;
  return !s.empty();
}

bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool Printable(unsigned char c) { return c >= 0x21 && c <= 0x7E; }

bool Among(const std::string& word, const char* const* names, int n) {
  for (int i = 0; i < n; ++i)
    if (word == names[i]) return true;
  return false;
}

}  // namespace

std::vector<std::string> MessageLines(const std::string& text) {
  std::vector<std::string> lines;
  const size_t n = text.size();
  size_t p = 0;
  for (;;) {
    size_t start = p;
    while (p < n && text[p] != '\r' && text[p] != '\n' && text[p] != '\0') ++p;
    lines.push_back(text.substr(start, p - start));
    if (p == n || text[p] == '\0') break;
    p += text[p] == '\r' && p + 1 < n && text[p + 1] == '\n' ? 2 : 1;
    if (p == n || text[p] == '\0') break;
  }
  return lines;
}

bool IsEnvelopeForm(const std::string& line) {
  static const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu",
                                      "Fri", "Sat", "Sun"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  if (!StartsWith(line, "From ") || line.size() == 5 || line[5] == ' ')
    return false;
  size_t last = line.find_last_not_of(" \t");
  // The words between runs of spaces; a tab left inside one spoils it.
  std::vector<std::string> words;
  size_t p = 5;
  while (p <= last) {
    size_t e = line.find(' ', p);
    if (e == std::string::npos || e > last) e = last + 1;
    words.push_back(line.substr(p, e - p));
    p = line.find_first_not_of(' ', e);
  }
  if (words.size() != 6) return false;
  const std::string& time = words[4];
  const std::string& year = words[5];
  return AllOf(words[0], Printable) && Among(words[1], kDays, 7) &&
         Among(words[2], kMonths, 12) && words[3].size() <= 2 &&
         AllOf(words[3], Digit) && time.size() == 8 && time[2] == ':' &&
         time[5] == ':' &&
         AllOf(time.substr(0, 2) + time.substr(3, 2) + time.substr(6),
               Digit) &&
         year.size() == 4 && AllOf(year, Digit) && std::stoi(year) > 90;
}

Entry ModelEntry(const std::string& text, bool alternativeScan) {
  Entry entry;
  std::vector<std::string> lines = MessageLines(text);

  // The sender: the first line of the first block that is an envelope line
  // (only the message's first may be), or a "Return-Path: " or "From: "
  // line with a value. In the recovery scan a first line without a colon
  // (its last two bytes not counted) is no header line, nor is what
  // follows it.
  std::string value;
  for (size_t i = 0; i < lines.size() && !lines[i].empty(); ++i) {
    const std::string& line = lines[i];
    if (i == 0 && IsEnvelopeForm(line)) {
      entry.ownEnvelope = true;
      break;
    }
    if (StartsWithNoCase(line, "return-path: ") && line.size() > 13) {
      value = line.substr(13);
      if (value[0] == '<') value.erase(0, 1);
      if (!value.empty() && value.back() == '>') value.pop_back();
      break;
    }
    if (StartsWithNoCase(line, "from: ") && line.size() > 6) {
      value = line.substr(6);
      size_t angle = value.find('<');
      if (angle != std::string::npos) value.erase(0, angle + 1);
      if (!value.empty() && value.back() == '>') value.pop_back();
      break;
    }
    if (alternativeScan && i == 0 &&
        line.substr(0, line.size() < 2 ? 0 : line.size() - 2).find(':') ==
            std::string::npos)
      break;
  }
  if (!entry.ownEnvelope) {
    // One word of ASCII, at most 255 bytes.
    value = value.substr(0, 255);
    if (value.empty()) value = "korvane";
    for (char& c : value) {
      unsigned char b = static_cast<unsigned char>(c);
      if (b <= 0x20 || b >= 0x7F) c = '-';
    }
    entry.sender = value;
    entry.headerBlock = alternativeScan && lines[0].empty();
  }

  // A record header that the recovery scan left as a message's last line
  // is not part of it.
  if (alternativeScan && StartsWith(lines.back(), kRecordStart))
    lines.pop_back();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (StartsWith(lines[i], "From ") && !(entry.ownEnvelope && i == 0))
      entry.lines += ">";
    entry.lines += lines[i] + "\n";
  }
  return entry;
}

size_t CountStrictEntries(const std::string& mailbox) {
  size_t count = 0;
  bool atStart = true;  // of the mailbox, or after an empty line
  size_t p = 0;
  while (p < mailbox.size()) {
    size_t e = mailbox.find('\n', p);
    if (e == std::string::npos) e = mailbox.size();
    std::string line = mailbox.substr(p, e - p);
    if (atStart && IsEnvelopeForm(line)) ++count;
    atStart = line.empty();
    p = e + 1;
  }
  return count;
}

}  // namespace mbox_model
