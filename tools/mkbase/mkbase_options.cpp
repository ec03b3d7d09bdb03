// Parsing korvane-mkbase's command line; kUsage tells the options.
#include "mkbase_options.h"

#include <cstdlib>
#include <iostream>
#include <limits>

namespace mkbase {

namespace {

const char kUsage[] =
    R"(usage: korvane-mkbase [OPTIONS] OUT.tbb [DIR_OR_FILE...]

Writes a message base: a file header, then one record per message. A file
argument is one message, its bytes copied exactly; a directory gives its
*.eml files in name order (other files are skipped). Synthetic messages, if
asked for, follow the files. With no messages at all the base is a bare
file header. Record i is stamped START + i * STEP.

Building:
  --start T             time stamp of record 0 (default 1000000000)
  --step S              time stamp increment (default 3600)
  --synthetic N         add N synthetic messages
  --synthetic-bytes B   add synthetic messages while the base stays within
                        B bytes (with --synthetic too: whichever stops first)
  --seed S              seed of the synthetic messages and garbage (default 1)
  --lf                  synthetic messages with LF line ends (default CR LF)
  --list-mail           synthetic messages as from mailing lists: 1 to 2 KB,
                        mostly short header lines
  --rough               synthetic messages with "From " lines of their own
                        (envelope lines and others) and 8-bit sender names

Damage (I is a record index from 0, OFFSET a file offset; options compose,
and later settings of the same field win):
  --bad-file-header     wrong file magic (0x20067919, the right one reversed)
  --file-header-size V  write V as the file header's headerSize
  --no-file-header      leave the file header out
  --bad-magic I         wrong magic in record I (0x21097019, reversed)
  --magic I=V           write V as record I's magic
  --header-size I=V     write V as record I's headerSize
  --length I=V          write V as record I's length
  --time I=T            write T as record I's time stamp
                        (for --header-size, --length and --time a V of +N
                        or -N is relative to the right value)
  --zeros-before I=N    insert N zero bytes before record I
  --garbage-before I=N  insert N pseudo-random bytes before record I; they
                        hold no 00, 09, 0A, 0D, 21 or D F R d f r bytes
  --raw-before I=HEX    insert the given bytes before record I
  --raw-after I=HEX     insert the given bytes after record I's text
                        (for the *-before options I may be the record
                        count: the bytes then go at the end of the file)
  --patch OFFSET=HEX    overwrite bytes at OFFSET
  --zero OFFSET:COUNT   overwrite COUNT bytes at OFFSET with zeros
  --truncate N          cut the file to N bytes, or with -N, by N bytes
  Insertions happen while building; --patch, --zero and --truncate then
  apply to the written file, in command-line order, clipped at its end.

Other:
  --map                 print "INDEX OFFSET TEXT_OFFSET LENGTH TIME" per
                        record (as built, before --zero and --truncate)
  --quiet               no summary line
  --help                this text

Numbers may be decimal or 0x hexadecimal; HEX is pairs of hex digits.
Exit status: 0 done, 1 input or output failure, 2 bad usage.
)";

const uint32_t kBadFileMagic = 0x20067919u;
const uint32_t kBadRecordMagic = 0x21097019u;

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  size_t i = 0;
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i == text.size()) return false;
  uint64_t result = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = unsigned(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = unsigned(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = unsigned(c - 'A' + 10);
    } else {
      return false;
    }
    if (result > (max - digit) / base) return false;
    result = result * base + digit;
  }
  *value = result;
  return true;
}

uint64_t Unsigned(const std::string& option, const std::string& text,
                  uint64_t max) {
  uint64_t value;
  if (!ParseUnsigned(text, max, &value)) {
    throw UsageError{"bad number '" + text + "' for " + option};
  }
  return value;
}

uint32_t Unsigned32(const std::string& option, const std::string& text) {
  return uint32_t(Unsigned(option, text, UINT32_MAX));
}

std::string HexBytes(const std::string& option, const std::string& text) {
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string bytes;
  if (text.size() % 2 != 0) {
    throw UsageError{"odd number of hex digits in '" + text + "' for " +
                     option};
  }
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = nibble(text[i]), low = nibble(text[i + 1]);
    if (high < 0 || low < 0) {
      throw UsageError{"bad hex bytes '" + text + "' for " + option};
    }
    bytes.push_back(char(high * 16 + low));
  }
  return bytes;
}

// Splits "A=B" (or "A:B") at the first separator.
void Split(const std::string& option, const std::string& text, char separator,
           std::string* left, std::string* right) {
  const size_t at = text.find(separator);
  if (at == std::string::npos) {
    throw UsageError{option + " wants " + (separator == '=' ? "X=Y" : "X:Y") +
                     ", not '" + text + "'"};
  }
  *left = text.substr(0, at);
  *right = text.substr(at + 1);
}

size_t Index(const std::string& option, const std::string& text) {
  return size_t(Unsigned(option, text, std::numeric_limits<size_t>::max()));
}

FieldSetting Field(const std::string& option, const std::string& text,
                   bool relativeAllowed) {
  FieldSetting setting;
  if (relativeAllowed && !text.empty() && (text[0] == '+' || text[0] == '-')) {
    setting.relative = true;
    const int64_t magnitude = int64_t(Unsigned32(option, text.substr(1)));
    setting.value = text[0] == '-' ? -magnitude : magnitude;
  } else {
    setting.value = Unsigned32(option, text);
  }
  return setting;
}

}  // namespace

Options ParseArguments(int argc, char** argv) {
  Options options;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (optionsEnded || argument.size() < 2 ||
        argument.compare(0, 2, "--") != 0) {
      if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
        throw UsageError{"unknown option " + argument};
      }
      positional.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = argument, value;
    bool inlineValue = false;
    const size_t equals = argument.find('=');
    if (equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
      inlineValue = true;
    }
    auto flag = [&]() {
      if (inlineValue) throw UsageError{name + " takes no value"};
    };
    // Values are taken whole, so "--truncate -100" works.
    auto next = [&]() -> std::string {
      if (inlineValue) return value;
      if (i + 1 >= argc) throw UsageError{name + " needs a value"};
      return argv[++i];
    };
    std::string left, right;
    if (name == "--help") {
      flag();
      std::cout << kUsage;
      std::exit(0);
    } else if (name == "--start") {
      options.start = Unsigned32(name, next());
    } else if (name == "--step") {
      options.step = Unsigned32(name, next());
    } else if (name == "--synthetic") {
      options.haveSyntheticCount = true;
      options.syntheticCount = Unsigned(name, next(), UINT64_MAX);
    } else if (name == "--synthetic-bytes") {
      options.haveSyntheticBytes = true;
      options.syntheticBytes = Unsigned(name, next(), UINT64_MAX);
    } else if (name == "--seed") {
      options.seed = Unsigned(name, next(), UINT64_MAX);
    } else if (name == "--lf") {
      flag();
      options.lf = true;
    } else if (name == "--list-mail") {
      flag();
      options.listMail = true;
    } else if (name == "--rough") {
      flag();
      options.rough = true;
    } else if (name == "--bad-file-header") {
      flag();
      options.fileMagic = kBadFileMagic;
    } else if (name == "--file-header-size") {
      options.fileHeaderSize = Unsigned32(name, next());
    } else if (name == "--no-file-header") {
      flag();
      options.fileHeader = false;
    } else if (name == "--bad-magic") {
      options.magic[Index(name, next())] = FieldSetting{false, kBadRecordMagic};
    } else if (name == "--magic") {
      Split(name, next(), '=', &left, &right);
      options.magic[Index(name, left)] = Field(name, right, false);
    } else if (name == "--header-size") {
      Split(name, next(), '=', &left, &right);
      options.headerSize[Index(name, left)] = Field(name, right, true);
    } else if (name == "--length") {
      Split(name, next(), '=', &left, &right);
      options.length[Index(name, left)] = Field(name, right, true);
    } else if (name == "--time") {
      Split(name, next(), '=', &left, &right);
      options.time[Index(name, left)] = Field(name, right, true);
    } else if (name == "--zeros-before") {
      Split(name, next(), '=', &left, &right);
      const uint64_t count = Unsigned(name, right, UINT32_MAX);
      options.before[Index(name, left)].push_back(std::string(count, '\0'));
    } else if (name == "--garbage-before") {
      Split(name, next(), '=', &left, &right);
      const uint64_t count = Unsigned(name, right, UINT32_MAX);
      // Distinct garbage for each insertion, still fixed by the seed.
      const uint64_t garbageSeed =
          options.seed * 0x100000001B3ull + uint64_t(i) * 0x9E3779B97F4A7C15ull;
      options.before[Index(name, left)].push_back(
          GarbageBytes(garbageSeed, count));
    } else if (name == "--raw-before") {
      Split(name, next(), '=', &left, &right);
      options.before[Index(name, left)].push_back(HexBytes(name, right));
    } else if (name == "--raw-after") {
      Split(name, next(), '=', &left, &right);
      options.after[Index(name, left)].push_back(HexBytes(name, right));
    } else if (name == "--patch") {
      Split(name, next(), '=', &left, &right);
      FileOperation operation(FileOperation::kPatch);
      operation.offset = Unsigned(name, left, UINT64_MAX);
      operation.bytes = HexBytes(name, right);
      options.fileOperations.push_back(operation);
    } else if (name == "--zero") {
      Split(name, next(), ':', &left, &right);
      FileOperation operation(FileOperation::kZero);
      operation.offset = Unsigned(name, left, UINT64_MAX);
      operation.count = Unsigned(name, right, UINT64_MAX);
      options.fileOperations.push_back(operation);
    } else if (name == "--truncate") {
      std::string size = next();
      FileOperation operation(FileOperation::kTruncate);
      operation.fromEnd = !size.empty() && size[0] == '-';
      operation.offset =
          Unsigned(name, operation.fromEnd ? size.substr(1) : size, UINT64_MAX);
      options.fileOperations.push_back(operation);
    } else if (name == "--map") {
      flag();
      options.map = true;
    } else if (name == "--quiet") {
      flag();
      options.quiet = true;
    } else {
      throw UsageError{"unknown option " + name};
    }
  }
  if (positional.empty()) throw UsageError{"no output file given"};
  options.output = positional[0];
  options.inputs.assign(positional.begin() + 1, positional.end());
  return options;
}

}  // namespace mkbase
