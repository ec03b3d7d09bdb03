#include "mkbase_damage.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

namespace fs = std::filesystem;

namespace mkbase {

namespace {

uint32_t Setting(const std::map<size_t, FieldSetting>& settings, size_t index,
                 uint32_t right) {
  const auto found = settings.find(index);
  return found == settings.end() ? right : found->second.Apply(right);
}

}  // namespace

std::string MissingRecord(const Options& options, size_t count) {
  size_t worst = 0;
  bool any = false;
  auto check = [&](size_t index, size_t limit) {
    if (index >= limit && (!any || index > worst)) {
      worst = index;
      any = true;
    }
  };
  for (const auto* fields :
       {&options.magic, &options.headerSize, &options.length, &options.time}) {
    for (const auto& entry : *fields) check(entry.first, count);
  }
  for (const auto& entry : options.after) check(entry.first, count);
  for (const auto& entry : options.before) check(entry.first, count + 1);
  if (!any) return std::string();
  return "record " + std::to_string(worst) + " named, but the base has " +
         std::to_string(count) + " records";
}

void DamagingWriter::Add(std::string* text) {
  const size_t index = writer.RecordCount();
  Insert(options.before, index);
  record.text.swap(*text);
  const uint32_t size = uint32_t(record.text.size());
  const uint32_t stamp =
      uint32_t(options.start + uint64_t(index) * options.step);
  record.timeStamp = Setting(options.time, index, stamp);
  record.magic = Setting(options.magic, index, kRecordMagic);
  record.headerSize = Setting(options.headerSize, index, kRecordHeaderSize);
  record.length = Setting(options.length, index, size);
  record.overrideLength = true;
  writer.AddRecord(record);
  if (options.map) {
    std::cout << index << ' ' << writer.RecordOffset(index) << ' '
              << writer.TextOffset(index) << ' ' << size << ' '
              << record.timeStamp << '\n';
  }
  Insert(options.after, index);
  record.text.swap(*text);
}

void DamagingWriter::Insert(
    const std::map<size_t, std::vector<std::string>>& insertions,
    size_t index) {
  const auto found = insertions.find(index);
  if (found == insertions.end()) return;
  for (const std::string& bytes : found->second) writer.AddRaw(bytes);
}

bool ApplyFileOperations(const Options& options) {
  for (const FileOperation& operation : options.fileOperations) {
    bool ok = true;
    switch (operation.kind) {
      case FileOperation::kTruncate: {
        std::error_code error;
        const uint64_t size = fs::file_size(options.output, error);
        if (error) return false;
        uint64_t newSize = operation.offset;
        if (operation.fromEnd) {
          newSize = size - std::min(size, operation.offset);
        }
        ok = TruncateFile(options.output, newSize);
        break;
      }
      case FileOperation::kZero:
        ok = ZeroFileRange(options.output, operation.offset, operation.count);
        break;
      case FileOperation::kPatch:
        ok = OverwriteFile(options.output, operation.offset, operation.bytes);
        break;
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace mkbase
