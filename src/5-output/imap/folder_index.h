// What a folder holds, for the rule that makes a second run safe: a
// message is already there when the folder has a message with the same
// Message-ID, internal date and size that no other message of the run has
// been matched to. A multiset: a base that holds the same message twice
// gets both copies into the folder.
#ifndef KORVANE_IMAP_FOLDER_INDEX_H_
#define KORVANE_IMAP_FOLDER_INDEX_H_

#include <stdint.h>

#include <string>
#include <unordered_map>

struct MessageKey {
  std::string messageId;  // as NormalizedMessageId gives it
  int64_t date = 0;       // internal date, seconds since 1970 UTC
  uint64_t size = 0;      // bytes as stored (CR LF line ends)
};

// A Message-ID field's value as compared: unfolded, without the spaces and
// tabs around it.
std::string NormalizedMessageId(const std::string& value);

// The Message-ID in the header lines a server sends for
// BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)]; "" if there is none.
std::string MessageIdOfFields(const std::string& fields);

class FolderIndex {
 public:
  void Add(const MessageKey& key);
  // Matches key to one of the folder's messages not matched yet; false if
  // there is none left.
  bool Take(const MessageKey& key);
  void Clear() { counts_.clear(); }
  size_t Unmatched() const { return unmatched_; }

 private:
  static std::string Text(const MessageKey& key);
  std::unordered_map<std::string, uint32_t> counts_;
  size_t unmatched_ = 0;
};

#endif  // KORVANE_IMAP_FOLDER_INDEX_H_
