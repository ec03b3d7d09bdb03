// The command line of korvane-mkbase: what to build and how to damage it.
#ifndef KORVANE_MKBASE_MKBASE_OPTIONS_H_
#define KORVANE_MKBASE_MKBASE_OPTIONS_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "base_builder.h"
#include "synthetic_messages.h"

namespace mkbase {

// Bad usage: main says why and exits with status 2.
struct UsageError {
  std::string message;
};

// A header field to write instead of the right value.
struct FieldSetting {
  bool relative = false;
  int64_t value = 0;

  uint32_t Apply(uint32_t right) const {
    return relative ? uint32_t(int64_t(right) + value) : uint32_t(value);
  }
};

// A change to the written file, after the build.
struct FileOperation {
  enum Kind { kTruncate, kZero, kPatch };
  explicit FileOperation(Kind kind) : kind(kind) {}

  Kind kind;
  bool fromEnd = false;  // for kTruncate
  uint64_t offset = 0;   // or the size for kTruncate
  uint64_t count = 0;
  std::string bytes;
};

struct Options {
  std::string output;
  std::vector<std::string> inputs;
  uint32_t start = kDefaultStartTime;
  uint32_t step = kDefaultTimeStep;
  bool haveSyntheticCount = false;
  uint64_t syntheticCount = 0;
  bool haveSyntheticBytes = false;
  uint64_t syntheticBytes = 0;
  uint64_t seed = 1;
  bool lf = false;
  bool listMail = false;
  bool rough = false;

  bool fileHeader = true;
  uint32_t fileMagic = kFileMagic;
  uint32_t fileHeaderSize = kFileHeaderSize;

  std::map<size_t, FieldSetting> magic, headerSize, length, time;
  // Bytes to insert, keyed by record index, in command-line order.
  std::map<size_t, std::vector<std::string>> before, after;
  std::vector<FileOperation> fileOperations;

  bool map = false;
  bool quiet = false;
};

// Reads the command line; throws UsageError. --help prints the usage and
// exits.
Options ParseArguments(int argc, char** argv);

}  // namespace mkbase

#endif  // KORVANE_MKBASE_MKBASE_OPTIONS_H_
