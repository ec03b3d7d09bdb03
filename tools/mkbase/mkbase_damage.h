// The damage korvane-mkbase does on request: record fields written wrong
// and bytes put between the records while the base is built, then changes
// to the written file.
#ifndef KORVANE_MKBASE_MKBASE_DAMAGE_H_
#define KORVANE_MKBASE_MKBASE_DAMAGE_H_

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "base_builder.h"
#include "mkbase_options.h"

namespace mkbase {

// Indices the damage options name that a base of `count` records does not
// have: a message naming the largest, or empty.
std::string MissingRecord(const Options& options, size_t count);

// Writes the records with the fields and insertions the options ask for,
// and with --map prints where each went.
class DamagingWriter {
 public:
  explicit DamagingWriter(const Options& options) : options(options) {}

  bool Open() {
    return writer.Open(options.output, options.fileHeader, options.fileMagic,
                       options.fileHeaderSize);
  }

  uint64_t Size() const { return writer.Size(); }
  size_t RecordCount() const { return writer.RecordCount(); }

  // Takes the text by swap, to spare a copy per record.
  void Add(std::string* text);

  bool Finish() {
    Insert(options.before, writer.RecordCount());
    return writer.Close();
  }

 private:
  void Insert(const std::map<size_t, std::vector<std::string>>& insertions,
              size_t index);

  const Options& options;
  BaseWriter writer;
  Record record;
};

// --truncate, --zero and --patch on the written file, in command-line order.
bool ApplyFileOperations(const Options& options);

}  // namespace mkbase

#endif  // KORVANE_MKBASE_MKBASE_DAMAGE_H_
