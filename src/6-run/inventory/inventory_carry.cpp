// Carrying the rows of finished bases over from the inventory of a run
// that was cut off into its rerun's.
#include <string>
#include <vector>

#include "inventory/csv.h"
#include "inventory/inventory.h"

const char kTreeInventoryName[] = "inventory.csv";
const char kEarlierInventoryName[] = ".inventory.csv.earlier";

namespace {

// Splits whole records (RFC 4180: a CR LF ends one outside quotes) off the
// front of text, calling take(record, first field) for each; leaves the
// unfinished rest in text.
template <typename Take>
void TakeRecords(std::string* text, Take take) {
  size_t start = 0, i = 0;
  bool quoted = false;
  while (i < text->size()) {
    const char c = (*text)[i];
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == '\n') {
      const std::string record = text->substr(start, i + 1 - start);
      std::string first;
      bool inQuotes = false;
      for (size_t j = 0; j < record.size(); ++j) {
        const char d = record[j];
        if (d == '"') {
          if (inQuotes && j + 1 < record.size() && record[j + 1] == '"') {
            first.push_back('"');
            ++j;
          } else {
            inQuotes = !inQuotes;
          }
        } else if (!inQuotes && (d == ',' || d == '\r' || d == '\n')) {
          break;
        } else {
          first.push_back(d);
        }
      }
      take(record, first);
      start = i + 1;
    }
    ++i;
  }
  text->erase(0, start);
}

}  // namespace

DWORD Inventory::CarryOver(const std::string& earlier,
                           const std::set<std::string>& keep) {
  DWORD error = Make();
  HANDLE file = INVALID_HANDLE_VALUE;
  if (error == ERROR_SUCCESS)
    error = fs->OpenForReading(*folder, earlier, &file);
  if (error == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;  // none kept
  if (error != ERROR_SUCCESS) return error;
  std::string text, kept;
  uint64_t count = 0;
  bool head = true;  // the byte-order mark and the column names
  std::vector<char> buffer(1 << 20);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), DWORD(buffer.size()), &got, nullptr)) {
      error = GetLastError();
      break;
    }
    if (got == 0) break;
    text.append(buffer.data(), got);
    TakeRecords(&text, [&](const std::string& record, const std::string& f) {
      if (head) {
        head = false;
      } else if (keep.count(f) != 0) {
        kept += record;
        ++count;
      }
    });
    if (kept.size() >= (1 << 20)) {
      Append(kept, count);
      kept.clear();
      count = 0;
    }
  }
  CloseHandle(file);
  // A row cut off at the end belonged to a base that is done again.
  if (error == ERROR_SUCCESS) Append(kept, count);
  if (error == ERROR_SUCCESS) error = fs->RemoveFile(*folder, earlier);
  std::lock_guard<std::mutex> lock(mutex);
  return error != ERROR_SUCCESS ? error : this->error;
}
