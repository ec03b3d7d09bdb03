#include "synthetic_messages.h"

#include <algorithm>
#include <vector>

namespace mkbase {

namespace {

// splitmix64: tiny, fast, and defined by integer arithmetic alone, so a
// seed gives the same stream under every compiler and library.
uint64_t Mix64(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

class Rng {
 public:
  explicit Rng(uint64_t seed) : state(seed) {}
  Rng(uint64_t seed, uint64_t stream)
      : state(Mix64(seed) ^ Mix64(stream + 0x632BE59BD9B4E019ull)) {}

  uint64_t Next() {
    state += 0x9E3779B97F4A7C15ull;
    return Mix64(state);
  }
  // Uniform in [0, n) by multiply-and-shift; n > 0.
  uint32_t Below(uint32_t n) {
    return uint32_t(((Next() >> 32) * uint64_t(n)) >> 32);
  }
  uint32_t Between(uint32_t low, uint32_t high) {
    return low + Below(high - low + 1);
  }
  bool OneIn(uint32_t n) { return Below(n) == 0; }
  template <typename T, size_t N>
  T Pick(const T (&choices)[N]) {
    return choices[Below(uint32_t(N))];
  }

 private:
  uint64_t state;
};

const char* const kFirstNames[] = {
    "Alice",  "Bruno",  "Carmen", "Dmitri", "Elena",  "Farid", "Greta",
    "Hiroshi", "Ines",  "Jonas",  "Kamala", "Lars",   "Marta", "Nils",
    "Olga",   "Pavel",  "Quentin", "Rosa",  "Sven",   "Tamsin", "Ulrich",
    "Vera",   "Wendel", "Xenia",  "Yusuf",  "Zora"};

const char* const kLastNames[] = {
    "Abernathy", "Brandt",  "Castillo", "Dubois",    "Eriksen",
    "Fontaine",  "Gallagher", "Halvorsen", "Ibarra", "Jansen",
    "Kowalski",  "Lindqvist", "Moreau",  "Novak",    "Okafor",
    "Petrov",    "Quist",   "Rinaldi",  "Sato",      "Thorne",
    "Urquhart",  "Varga",   "Whitfield", "Yilmaz",   "Zeller"};

const char* const kDomains[] = {"example.org",      "example.com",
                                "example.net",      "mail.example.org",
                                "staff.example.com", "lists.example.net"};

const char* const kRelays[] = {"mx1.example.net", "mx2.example.org",
                               "relay.example.com", "smtp.example.org",
                               "gw.example.net"};

const char* const kSubjectWords[] = {
    "quarterly", "report",   "meeting",  "notes",    "budget",   "draft",
    "review",    "schedule", "update",   "invoice",  "travel",   "plans",
    "project",   "minutes",  "agenda",   "proposal", "question", "reminder",
    "lunch",     "Friday",   "server",   "migration", "results", "photos",
    "weekend",   "contract", "summary",  "release",  "feedback", "backup"};

// No "from" here: lines that begin with it are placed on purpose.
const char* const kBodyWords[] = {
    "the",      "a",        "and",      "to",       "of",       "in",
    "we",       "you",      "it",       "is",       "that",     "for",
    "on",       "with",     "this",     "will",     "be",       "have",
    "our",      "next",     "week",     "meeting",  "report",   "please",
    "let",      "me",       "know",     "if",       "there",    "are",
    "any",      "questions", "about",   "schedule", "budget",   "team",
    "review",   "draft",    "attached", "figures",  "office",   "morning",
    "afternoon", "thanks",  "again",    "sorry",    "delay",    "should",
    "could",    "would",    "probably", "before",   "after",    "Monday",
    "Thursday", "project",  "server",   "backup",   "printer",  "kitchen",
    "coffee",   "agenda",   "minutes",  "numbers",  "version",  "customer",
    "order",    "shipment", "invoice",  "contract", "holiday",  "travel",
    "train",    "station",  "hotel",    "room",     "call",     "phone",
    "message",  "letter",   "garden",   "weather",  "rain",     "quickly",
    "finally",  "already",  "still",    "maybe",    "together", "around",
    "between",  "through",  "during",   "without",  "important", "small",
    "large",    "new",      "old",      "good",     "better",   "same"};

// UTF-8 and Latin-1 names for From: lines with 8-bit bytes.
const char* const kEightBitNames[] = {
    "J\xc3\xb6rg M\xc3\xbcller", "Ren\xe9 Dupr\xe9",
    "\xd0\x9e\xd0\xbb\xd1\x8c\xd0\xb3\xd0\xb0", "Sm\xf8rrebr\xf8\x64"};

const int kZones[] = {0, 60, 120, -300, -240, -420, 330, 540, -480, 600};

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kWeekdays[] = {"Sun", "Mon", "Tue", "Wed",
                                 "Thu", "Fri", "Sat"};

// Body lines must stay within these, line end not counted.
const size_t kMinBodyLine = 20;
const size_t kMaxBodyLine = 100;

// Decimal, zero-padded to at least `width` digits; value >= 0.
std::string Digits(int64_t value, size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::string Lower(const std::string& s) {
  std::string lower = s;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  }
  return lower;
}

struct Person {
  std::string name;
  std::string address;
};

Person MakePerson(Rng& rng) {
  std::string first = rng.Pick(kFirstNames);
  std::string last = rng.Pick(kLastNames);
  std::string local;
  switch (rng.Below(3)) {
    case 0: local = first + "." + last; break;
    case 1: local = first; break;
    default: local = first.substr(0, 1) + last; break;
  }
  return {first + " " + last, Lower(local) + "@" + rng.Pick(kDomains)};
}

class MessageWriter {
 public:
  MessageWriter(std::string* out, bool crlf) : out(out), crlf(crlf) {}

  void Line(const std::string& text) {
    *out += text;
    End();
  }
  void End() { *out += crlf ? "\r\n" : "\n"; }

  // A body line of 20 to 100 bytes: the prefix, then words up to a random
  // length.
  void BodyLine(Rng& rng, const char* prefix) {
    const size_t start = out->size();
    const size_t target = rng.Between(kMinBodyLine, kMaxBodyLine);
    *out += prefix;
    if (prefix[0] != '\0') capital = false;
    while (out->size() - start < target) {
      const char* word = rng.Pick(kBodyWords);
      const uint32_t mark = rng.Below(16);
      const char* punctuation = mark < 2 ? "." : mark < 3 ? "," : "";
      size_t length = out->size() - start;
      size_t separator = (length == 0 || (*out)[out->size() - 1] == ' ') ? 0 : 1;
      size_t need = separator + strlen(word) + strlen(punctuation);
      // Stopping here leaves more than 80 bytes, well above the minimum.
      if (length + need > kMaxBodyLine) break;
      if (separator) *out += ' ';
      size_t wordStart = out->size();
      *out += word;
      if (capital && (*out)[wordStart] >= 'a' && (*out)[wordStart] <= 'z') {
        (*out)[wordStart] = char((*out)[wordStart] - 'a' + 'A');
      }
      *out += punctuation;
      capital = punctuation[0] == '.';
    }
    End();
  }

 private:
  // Sentences run on across lines; a capital follows a full stop.
  bool capital = true;

  static size_t strlen(const char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
  }

  std::string* out;
  bool crlf;
};

std::string Hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex(size_t(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    hex[size_t(i)] = kDigits[value & 15];
    value >>= 4;
  }
  return hex;
}

std::string Subject(Rng& rng) {
  std::string subject;
  switch (rng.Below(6)) {
    case 0: subject = "Re: "; break;
    case 1: subject = "Fwd: "; break;
    default: break;
  }
  const uint32_t words = rng.Between(2, 7);
  for (uint32_t i = 0; i < words; ++i) {
    std::string word = rng.Pick(kSubjectWords);
    if (i == 0 && word[0] >= 'a' && word[0] <= 'z') {
      word[0] = char(word[0] - 'a' + 'A');
    }
    if (i > 0) subject += ' ';
    subject += word;
  }
  return subject;
}

// A mail date "Sun, 9 Sep 2001 01:46:40 +0000" as an envelope line's date:
// form 0 "Sun Sep 9 01:46:40 2001", 1 "Sun Sep  9 01:46:40 2001", 2 "Sun
// Sep 9 01:46 2001". (No zone: git mailsplit knows no envelope line with
// one.)
std::string EnvelopeDate(const std::string& mailDate, uint32_t form) {
  std::vector<std::string> w;  // "Sun," "9" "Sep" "2001" "01:46:40" "+0000"
  size_t p = 0;
  while (p <= mailDate.size()) {
    size_t e = std::min(mailDate.find(' ', p), mailDate.size());
    w.push_back(mailDate.substr(p, e - p));
    p = e + 1;
  }
  std::string day = (form == 1 && w[1].size() == 1 ? " " : "") + w[1];
  std::string time = form == 2 ? w[4].substr(0, 5) : w[4];
  return w[0].substr(0, 3) + " " + w[2] + " " + day + " " + time + " " + w[3];
}

template <typename Sink>
size_t AddSynthetic(Sink* sink, uint64_t seed, size_t count, uint64_t maxBytes,
                    const SyntheticOptions& options) {
  Record record;
  size_t added = 0;
  for (; added < count; ++added) {
    record.text.clear();
    AppendSyntheticMessage(&record.text, seed, added, options);
    if (uint64_t(sink->Size()) + kRecordHeaderSize + record.text.size() >
        maxBytes) {
      break;
    }
    record.timeStamp = SyntheticTimeStamp(added, options);
    sink->AddRecord(record);
  }
  return added;
}

}  // namespace

uint32_t SyntheticTimeStamp(uint64_t index, const SyntheticOptions& options) {
  return uint32_t(options.startTime + index * options.step);
}

std::string FormatMailDate(int64_t unixTime, int zoneMinutes) {
  const int64_t local = unixTime + int64_t(zoneMinutes) * 60;
  const int64_t days = FloorDiv(local, 86400);
  const int64_t seconds = local - days * 86400;
  // Civil date from a day count (proleptic Gregorian).
  const int64_t z = days + 719468;
  const int64_t era = FloorDiv(z, 146097);
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear =
      dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 = March
  const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  const int64_t weekday = days - FloorDiv(days + 4, 7) * 7 + 4;  // 0 = Sunday

  const int64_t zone = zoneMinutes < 0 ? -int64_t(zoneMinutes) : zoneMinutes;
  std::string text = kWeekdays[weekday];
  text += ", " + std::to_string(day) + " " + kMonths[month - 1] + " " +
          Digits(year, 4) + " " + Digits(seconds / 3600, 2) + ":" +
          Digits(seconds / 60 % 60, 2) + ":" + Digits(seconds % 60, 2) + " " +
          (zoneMinutes < 0 ? "-" : "+") + Digits(zone / 60, 2) +
          Digits(zone % 60, 2);
  return text;
}

void AppendSyntheticMessage(std::string* out, uint64_t seed, uint64_t index,
                            const SyntheticOptions& options) {
  Rng rng(seed, index);
  MessageWriter message(out, options.crlf);
  const int64_t stamp = SyntheticTimeStamp(index, options);
  const int64_t sent = stamp - rng.Between(30, 900);

  const Person sender = MakePerson(rng);
  const Person recipient = MakePerson(rng);
  // One draw per statement: the compiler chooses the order in which the
  // operands of + are evaluated, and the output must not depend on it.
  const std::string idRandom = Hex(rng.Next(), 16);
  const std::string idDomain = rng.Pick(kDomains);
  const std::string messageId =
      "<" + idRandom + "." + std::to_string(index) + "@" + idDomain + ">";
  const bool returnPath = rng.OneIn(2);
  const uint32_t fromForm = rng.Below(2);
  const bool received = rng.OneIn(3);

  // The rough edges, from a stream of their own.
  std::string ownFromLine, laterFromLine, eightBitName;
  if (options.rough) {
    Rng edges(seed ^ 0x726F75676845ull, index);
    const uint32_t roll = edges.Below(10);
    const std::string mailDate = FormatMailDate(stamp, 0);
    std::string line =
        "From " + (edges.OneIn(3) ? "MAILER-DAEMON" : sender.address) + " " +
        (roll % 2 == 0 ? EnvelopeDate(mailDate, edges.Below(3)) : mailDate);
    if (roll < 2 || roll == 6 || roll == 7) {
      ownFromLine = line;
    } else if (roll == 4 || roll == 5) {
      laterFromLine = line;
    }
    if (edges.OneIn(4)) eightBitName = edges.Pick(kEightBitNames);
  }
  if (!ownFromLine.empty()) message.Line(ownFromLine);
  // The later "From " line goes before the second header field.
  int fields = 0;
  auto header = [&](const std::string& line) {
    if (line[0] != '\t' && fields++ == 1 && !laterFromLine.empty())
      message.Line(laterFromLine);
    message.Line(line);
  };

  if (returnPath) {
    // Lists rewrite the envelope sender; the header From stays the author.
    std::string envelope = rng.OneIn(4)
        ? "bounce-" + std::to_string(rng.Below(100000)) + "@lists.example.net"
        : sender.address;
    header("Return-Path: <" + envelope + ">");
  }
  if (received) {
    const uint32_t hops = rng.Between(1, 3);
    int64_t when = stamp - rng.Below(20);
    for (uint32_t hop = 0; hop < hops; ++hop) {
      const char* from = rng.Pick(kRelays);
      const char* by = rng.Pick(kRelays);
      header(std::string("Received: from ") + from + " (" + from +
             " [192.0.2." + std::to_string(rng.Between(1, 254)) + "])");
      header(std::string("\tby ") + by + " with ESMTP id " +
             Hex(rng.Next(), 10));
      header("\tfor <" + recipient.address + ">; " +
             FormatMailDate(when, rng.Pick(kZones)));
      when -= rng.Between(1, 60);
    }
  }
  const std::string date =
      "Date: " + FormatMailDate(sent, rng.Pick(kZones));
  const std::string from =
      !eightBitName.empty()
          ? "From: " + sender.address + " (" + eightBitName + ")"
      : fromForm == 0 ? "From: " + sender.name + " <" + sender.address + ">"
                      : "From: " + sender.address;
  const std::string to = rng.OneIn(3)
      ? "To: " + recipient.address
      : "To: " + recipient.name + " <" + recipient.address + ">";
  const std::string subject = "Subject: " + Subject(rng);
  if (rng.OneIn(2)) {
    header(date);
    header(from);
    header(to);
    header(subject);
  } else {
    header(from);
    header(to);
    header(subject);
    header(date);
  }
  header("Message-ID: " + messageId);
  if (rng.OneIn(2)) {
    header("MIME-Version: 1.0");
    header("Content-Type: text/plain; charset=us-ascii");
  }
  message.End();

  const uint32_t lines =
      rng.OneIn(40) ? rng.Between(100, 400) : rng.Between(3, 60);
  const bool quoting = rng.OneIn(6);
  for (uint32_t i = 0; i < lines; ++i) {
    const uint32_t roll = rng.Below(1000);
    const char* prefix = "";
    if (roll < 5) {
      prefix = "From ";
    } else if (roll < 7) {
      prefix = "from ";
    } else if (roll < 9) {
      prefix = ">From ";
    } else if (quoting && i > 0 && i < lines / 2) {
      prefix = "> ";
    }
    message.BodyLine(rng, prefix);
  }
}

std::string SyntheticMessage(uint64_t seed, uint64_t index,
                             const SyntheticOptions& options) {
  std::string message;
  AppendSyntheticMessage(&message, seed, index, options);
  return message;
}

std::string GarbageBytes(uint64_t seed, size_t count) {
  Rng rng(seed, 0x67617262616765ull);
  std::string bytes;
  bytes.reserve(count);
  while (bytes.size() < count) {
    const unsigned char c = (unsigned char)(rng.Next() >> 56);
    switch (c) {
      case 0x00: case 0x09: case 0x0A: case 0x0D: case 0x21:
      case 'D': case 'd': case 'F': case 'f': case 'R': case 'r':
        continue;
      default:
        bytes.push_back(char(c));
    }
  }
  return bytes;
}

size_t AddSyntheticMessages(BaseBuilder* builder, uint64_t seed, size_t count,
                            uint64_t maxBytes,
                            const SyntheticOptions& options) {
  return AddSynthetic(builder, seed, count, maxBytes, options);
}

size_t AddSyntheticMessages(BaseWriter* writer, uint64_t seed, size_t count,
                            uint64_t maxBytes,
                            const SyntheticOptions& options) {
  return AddSynthetic(writer, seed, count, maxBytes, options);
}

}  // namespace mkbase
