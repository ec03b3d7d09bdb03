#include "synthetic_parts.h"

namespace mkbase {

namespace {

const char* const kFirstNames[] = {
    "Alice",   "Bruno",  "Carmen",  "Dmitri", "Elena", "Farid",  "Greta",
    "Hiroshi", "Ines",   "Jonas",   "Kamala", "Lars",  "Marta",  "Nils",
    "Olga",    "Pavel",  "Quentin", "Rosa",   "Sven",  "Tamsin", "Ulrich",
    "Vera",    "Wendel", "Xenia",   "Yusuf",  "Zora"};

const char* const kLastNames[] = {
    "Abernathy", "Brandt",    "Castillo",  "Dubois", "Eriksen",
    "Fontaine",  "Gallagher", "Halvorsen", "Ibarra", "Jansen",
    "Kowalski",  "Lindqvist", "Moreau",    "Novak",  "Okafor",
    "Petrov",    "Quist",     "Rinaldi",   "Sato",   "Thorne",
    "Urquhart",  "Varga",     "Whitfield", "Yilmaz", "Zeller"};

const char* const kSubjectWords[] = {
    "quarterly", "report",   "meeting", "notes",     "budget",   "draft",
    "review",    "schedule", "update",  "invoice",   "travel",   "plans",
    "project",   "minutes",  "agenda",  "proposal",  "question", "reminder",
    "lunch",     "Friday",   "server",  "migration", "results",  "photos",
    "weekend",   "contract", "summary", "release",   "feedback", "backup"};

// No "from" here: lines that begin with it are placed on purpose.
const char* const kBodyWords[] = {
    "the",       "a",         "and",      "to",       "of",        "in",
    "we",        "you",       "it",       "is",       "that",      "for",
    "on",        "with",      "this",     "will",     "be",        "have",
    "our",       "next",      "week",     "meeting",  "report",    "please",
    "let",       "me",        "know",     "if",       "there",     "are",
    "any",       "questions", "about",    "schedule", "budget",    "team",
    "review",    "draft",     "attached", "figures",  "office",    "morning",
    "afternoon", "thanks",    "again",    "sorry",    "delay",     "should",
    "could",     "would",     "probably", "before",   "after",     "Monday",
    "Thursday",  "project",   "server",   "backup",   "printer",   "kitchen",
    "coffee",    "agenda",    "minutes",  "numbers",  "version",   "customer",
    "order",     "shipment",  "invoice",  "contract", "holiday",   "travel",
    "train",     "station",   "hotel",    "room",     "call",      "phone",
    "message",   "letter",    "garden",   "weather",  "rain",      "quickly",
    "finally",   "already",   "still",    "maybe",    "together",  "around",
    "between",   "through",   "during",   "without",  "important", "small",
    "large",     "new",       "old",      "good",     "better",    "same"};

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

size_t TextLength(const char* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace

namespace synthetic {

Person MakePerson(Rng& rng) {
  std::string first = rng.Pick(kFirstNames);
  std::string last = rng.Pick(kLastNames);
  std::string local;
  switch (rng.Below(3)) {
    case 0:
      local = first + "." + last;
      break;
    case 1:
      local = first;
      break;
    default:
      local = first.substr(0, 1) + last;
      break;
  }
  return {first + " " + last, Lower(local) + "@" + rng.Pick(kDomains)};
}

void MessageWriter::BodyLine(Rng& rng, const char* prefix) {
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
    size_t need = separator + TextLength(word) + TextLength(punctuation);
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

std::string Hex(uint64_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex(size_t(digits), '0');
  for (int i = digits - 1; i >= 0; --i) {
    hex[size_t(i)] = kDigits[value & 15];
    value >>= 4;
  }
  return hex;
}

std::string MessageId(Rng& rng, uint64_t index) {
  // One draw per statement: the compiler chooses the order in which the
  // operands of + are evaluated, and the output must not depend on it.
  const std::string random = Hex(rng.Next(), 16);
  const std::string domain = rng.Pick(kDomains);
  return "<" + random + "." + std::to_string(index) + "@" + domain + ">";
}

std::string Subject(Rng& rng) {
  std::string subject;
  switch (rng.Below(6)) {
    case 0:
      subject = "Re: ";
      break;
    case 1:
      subject = "Fwd: ";
      break;
    default:
      break;
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

}  // namespace synthetic

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

}  // namespace mkbase
