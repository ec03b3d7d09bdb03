#include "imap/folder_index.h"

#include "bytes/ascii.h"

std::string NormalizedMessageId(const std::string& value) {
  std::string out;
  for (const char c : value)
    if (c != '\r' && c != '\n') out += c;
  const size_t first = out.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return out.substr(first, out.find_last_not_of(" \t") - first + 1);
}

std::string MessageIdOfFields(const std::string& fields) {
  static const char kName[] = "message-id:";
  const size_t nameSize = sizeof kName - 1;
  size_t at = 0;
  while (at < fields.size()) {
    size_t end = fields.find('\n', at);
    if (end == std::string::npos) end = fields.size();
    if (end - at > nameSize &&
        FoldedAscii(fields.substr(at, nameSize)) == kName) {
      // The value goes on over the lines that start with a space or tab.
      size_t last = end;
      while (last + 1 < fields.size() &&
             (fields[last + 1] == ' ' || fields[last + 1] == '\t')) {
        last = fields.find('\n', last + 1);
        if (last == std::string::npos) last = fields.size();
      }
      return NormalizedMessageId(
          fields.substr(at + nameSize, last - at - nameSize));
    }
    at = end + 1;
  }
  return "";
}

std::string FolderIndex::Text(const MessageKey& key) {
  return key.messageId + '\0' + std::to_string(key.date) + '\0' +
         std::to_string(key.size);
}

void FolderIndex::Add(const MessageKey& key) {
  ++counts_[Text(key)];
  ++unmatched_;
}

bool FolderIndex::Take(const MessageKey& key) {
  const auto found = counts_.find(Text(key));
  if (found == counts_.end() || found->second == 0) return false;
  --found->second;
  --unmatched_;
  return true;
}
