#include "imap/folder_index.h"

#include "headers/header_fields.h"

const char kIdentityField[] = "X-Korvane-Id";

std::string IdentityLine(const std::string& identity) {
  return std::string(kIdentityField) + ": " + identity + "\r\n";
}

IndexFields ReadIndexFields(const std::string& header) {
  HeaderField fields[2];
  fields[0].name = kIdentityField;
  fields[1].name = "Message-ID";
  const unsigned char* text =
      reinterpret_cast<const unsigned char*>(header.data());
  ReadHeaderFields(text, text + header.size(), fields, 2);
  IndexFields found;
  found.messageId = fields[1].value;
  // The digits alone: a line the message itself continued korvane's field
  // with stays out of it.
  const std::string& value = fields[0].value;
  if (value.size() >= 64) {
    std::string digits = value.substr(0, 64);
    for (char& c : digits) {
      if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return found;
    }
    if (value.size() == 64 || value[64] == ' ' || value[64] == '\t')
      found.identity = digits;
  }
  return found;
}

std::string FolderIndex::Key(const std::string& messageId, uint64_t size) {
  return messageId + '\0' + std::to_string(size);
}

void FolderIndex::Clear() {
  count = 0;
  identities.clear();
  withoutIdentity.clear();
  taken.clear();
}

void FolderIndex::Add(const FolderMessage& message) {
  ++count;
  if (!message.identity.empty())
    ++identities[message.identity];
  else
    withoutIdentity[Key(message.messageId, message.size)].push_back(
        message.uid);
}

bool FolderIndex::TakeIdentity(const std::string& identity) {
  const auto found = identities.find(identity);
  if (found == identities.end() || found->second == 0) return false;
  --found->second;
  return true;
}

std::vector<uint32_t> FolderIndex::Candidates(const std::string& messageId,
                                              uint64_t size) const {
  std::vector<uint32_t> candidates;
  const auto found = withoutIdentity.find(Key(messageId, size));
  if (found == withoutIdentity.end()) return candidates;
  for (const uint32_t uid : found->second)
    if (taken.count(uid) == 0) candidates.push_back(uid);
  return candidates;
}

bool FolderIndex::TakeUid(uint32_t uid) { return taken.insert(uid).second; }
