#include "inventory/inventory.h"

#include <utility>

#include "bytes/sha256.h"
#include "headers/header_decoder.h"
#include "headers/header_fields.h"
#include "inventory/csv.h"
#include "message/message_range.h"
#include "message/synthetic_header.h"

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

// The bytes a message file holds with the line ends as stored (the .eml
// file): the same digest for the same message whatever the output kind.
std::string MessageDigest(Sha256* sha, const MessageFacts& m) {
  if (m.headerBlock) {
    const std::string block = SyntheticHeader(m.envelopeDate, "\r\n");
    sha->Update(block.data(), block.size());
  }
  const MessageRange range =
      MessageFileRange(m.text, m.text + m.length, m.ownEnvelope,
                       m.place.foundBy != FoundBy::kNormalScan, false);
  sha->Update(range.begin, size_t(range.end - range.begin));
  return Sha256::Hex(sha->Finish());
}

}  // namespace

class Inventory::BaseRows : public MessageObserver {
 public:
  BaseRows(Inventory* inventory, std::string folder, std::string outputPrefix)
      : inventory(inventory),
        folder(std::move(folder)),
        outputPrefix(std::move(outputPrefix)) {}
  // Rows of a conversion that stopped before its end are kept too.
  ~BaseRows() override {
    if (count > 0) Finished();
  }

  void Record(const MessageFacts& m, const std::string& output,
              const std::string& problem) override {
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
      digest = MessageDigest(&sha, m);
    }
    std::string place;
    if (!output.empty())
      place = outputPrefix.empty() ? output : outputPrefix + output;
    AppendCsvRow(
        &pending,
        {folder, std::to_string(m.place.index), std::to_string(m.place.offset),
         std::to_string(m.length), ScanName(m.place.foundBy), date,
         m.sender != nullptr
             ? std::string_view(m.sender, size_t(m.senderLength))
             : std::string_view(),
         decoded[0], decoded[1], decoded[2], decoded[3],
         DecodeHeaderValue(fields[4].value), digest, place, problem});
    ++count;
    if (pending.size() >= kRowsPending) Finished();
  }

  void Finished() override {
    if (count == 0 && told) return;
    inventory->Append(pending, count);
    told = true;
    pending.clear();
    count = 0;
  }

 private:
  Inventory* const inventory;
  const std::string folder;
  const std::string outputPrefix;
  Sha256 sha;
  std::string pending;
  uint64_t count = 0;  // rows pending
  bool told = false;   // the inventory has heard of this base
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
  if (error == ERROR_SUCCESS && !text.empty())
    error = file->Write(text.data(), text.size());
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
