#include "inventory/inventory.h"

#include <condition_variable>
#include <deque>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "bytes/sha256.h"
#include "framing/message_digest.h"
#include "headers/header_decoder.h"
#include "headers/header_fields.h"
#include "inventory/csv.h"

const char kTreeInventoryName[] = "inventory.csv";
const char kEarlierInventoryName[] = ".inventory.csv.earlier";

namespace {

// Rows gather until this much is waiting, then go to the file in one
// piece that ends at a row's end.
const size_t kRowsPending = 64 * 1024;

const char* ScanName(FoundBy foundBy) {
  switch (foundBy) {
    case FoundBy::kNormalScan:
      return "normal";
    case FoundBy::kAlternativeScan:
      return "alternative";
    case FoundBy::kRecovery:
      return "recovered";
  }
  return "";
}

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

// A record as the row maker takes it, with what it points to that does not
// outlive the call (the sender, the words) copied; the message's text stays
// in the mapped base until the conversion is finished.
struct RecordCopy {
  MessageFacts facts;
  std::string sender;
  std::string output;
  std::string problem;
};

// Hashing and decoding every message costs more than converting it: a
// thread of the base's own makes the rows while the conversion goes on, a
// bounded queue between them.
class Inventory::BaseRows : public MessageObserver {
 public:
  BaseRows(Inventory* inventory, std::string folder, std::string outputPrefix)
      : inventory(inventory),
        folder(std::move(folder)),
        outputPrefix(std::move(outputPrefix)) {}
  // Rows of a conversion that stopped before its end are kept too.
  ~BaseRows() override { Finished(); }

  void Record(const MessageFacts& m, const std::string& output,
              const std::string& problem) override {
    RecordCopy copy{m, std::string(), output, problem};
    if (m.sender != nullptr)
      copy.sender.assign(m.sender, size_t(m.senderLength));
    if (!Started()) {
      MakeRow(copy);
      return;
    }
    batch.push_back(std::move(copy));
    if (batch.size() == kBatch) HandOn();
  }

  void Finished() override {
    if (thread.joinable()) {
      HandOn();
      {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
      }
      work.notify_one();
      thread.join();
    }
    if (count == 0 && told) return;
    inventory->Append(pending, count);
    told = true;
    pending.clear();
    count = 0;
  }

 private:
  // Records go to the thread a batch at a time: one hand-on per record
  // cost more than the row.
  static const size_t kBatch = 256;
  static const size_t kQueued = 16;  // batches

  void HandOn() {
    if (batch.empty()) return;
    std::unique_lock<std::mutex> lock(mutex);
    room.wait(lock, [this] { return queue.size() < kQueued; });
    queue.push_back(std::move(batch));
    batch.clear();
    work.notify_one();
  }

  // Starts the thread with the first record; false where there is none
  // (it could not be started, or the conversion is finished).
  bool Started() {
    if (!tried) {
      tried = true;
      try {
        thread = std::thread(&BaseRows::Run, this);
      } catch (const std::system_error&) {
      }
    }
    return thread.joinable();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      work.wait(lock, [this] { return stopping || !queue.empty(); });
      if (queue.empty()) return;
      std::vector<RecordCopy> records = std::move(queue.front());
      queue.pop_front();
      room.notify_one();
      lock.unlock();
      for (const RecordCopy& r : records) MakeRow(r);
      lock.lock();
    }
  }

  void MakeRow(const RecordCopy& r) {
    const MessageFacts& m = r.facts;
    HeaderField fields[5];
    const char* const names[5] = {"From", "To", "Cc", "Subject", "Message-ID"};
    std::string decoded[4];
    std::string date, digest;
    if (m.sender != nullptr) {
      for (int i = 0; i < 5; ++i) fields[i].name = names[i];
      ReadHeaderFields(m.text, m.text + m.length, fields, 5);
      for (int i = 0; i < 4; ++i)
        if (fields[i].found) decoded[i] = DecodeHeaderValue(fields[i].value);
      if (m.headerBlock) decoded[3] = "recovered message";
      date = IsoUtcDate(m.envelopeDate);
      digest = MessageFileDigest(&sha, m, true);
    }
    std::string place;
    if (!r.output.empty())
      place = outputPrefix.empty() ? r.output : outputPrefix + r.output;
    AppendCsvRow(
        &pending,
        {folder, std::to_string(m.place.index), std::to_string(m.place.offset),
         std::to_string(m.length), ScanName(m.place.foundBy), date, r.sender,
         decoded[0], decoded[1], decoded[2], decoded[3],
         DecodeHeaderValue(fields[4].value), digest, place, r.problem});
    ++count;
    if (pending.size() >= kRowsPending) {
      inventory->Append(pending, count);
      told = true;
      pending.clear();
      count = 0;
    }
  }

  Inventory* const inventory;
  const std::string folder;
  const std::string outputPrefix;
  Sha256 sha;
  // The row maker's: the thread's while it runs.
  std::string pending;
  uint64_t count = 0;  // rows pending
  bool told = false;   // the inventory has heard of this base

  std::mutex mutex;  // guards the queue and stopping
  std::condition_variable work, room;
  std::deque<std::vector<RecordCopy>> queue;
  std::vector<RecordCopy> batch;  // the conversion's, until handed on
  bool stopping = false;
  bool tried = false;
  std::thread thread;
};

DWORD Inventory::Open() {
  opened = true;
  if (folder != nullptr) {
    const DWORD error = fs->CreateNewFile(*folder, name, &file);
    if (error != ERROR_SUCCESS) return error;
  } else {
    const HANDLE handle =
        CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError();
    file = WritableFileOver(handle);
  }
  std::string head = kUtf8ByteOrderMark;
  for (size_t i = 0; i < kInventoryColumnCount; ++i) {
    if (i > 0) head.push_back(',');
    AppendCsvField(&head, kInventoryColumns[i]);
  }
  head.append("\r\n");
  return file->Write(head.data(), head.size());
}

std::unique_ptr<MessageObserver> Inventory::ForBase(
    const std::string& folder, const std::string& outputPrefix) {
  return std::unique_ptr<MessageObserver>(
      new BaseRows(this, folder, outputPrefix));
}

void Inventory::Append(const std::string& text, uint64_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  if (!opened) error = Open();
  // Handed to the system at once: a run that is cut off keeps its rows.
  if (error == ERROR_SUCCESS && !text.empty()) {
    error = file->Write(text.data(), text.size());
    if (error == ERROR_SUCCESS) error = file->Flush();
  }
  rows += count;
}

DWORD Inventory::Close() {
  std::lock_guard<std::mutex> lock(mutex);
  if (file) {
    const DWORD closed = file->Close();
    if (error == ERROR_SUCCESS) error = closed;
    file.reset();
  }
  return error;
}

uint64_t Inventory::Rows() const {
  std::lock_guard<std::mutex> lock(mutex);
  return rows;
}

bool Inventory::Made() const {
  std::lock_guard<std::mutex> lock(mutex);
  return opened && error == ERROR_SUCCESS;
}

DWORD Inventory::Make() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!opened) error = Open();
  return error;
}

// Carrying the rows of finished bases over from the inventory of a run
// that was cut off into its rerun's.
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
