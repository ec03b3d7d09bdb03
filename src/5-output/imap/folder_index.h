// What a folder holds, for the rule that makes a second run safe. Each
// message korvane uploads carries its identity in a header field of its
// own (X-Korvane-Id: the SHA-256 of its message file, in hexadecimal): a
// message is already there when the folder holds a message of the same
// identity that no other message of the run has been matched to. A
// multiset: a base that holds the same message twice gets both copies into
// the folder. Messages uploaded by earlier versions carry no identity: for
// them the folder's Message-ID and size only name candidates, which the
// uploader confirms by their bytes before it takes one for its own.
#ifndef KORVANE_IMAP_FOLDER_INDEX_H_
#define KORVANE_IMAP_FOLDER_INDEX_H_

#include <stdint.h>

#include <set>
#include <string>
#include <unordered_map>
#include <vector>

// The header field that carries a message's identity, as korvane puts it
// at the top of each message it uploads.
extern const char kIdentityField[];

// The line korvane puts at the top of a message it uploads.
std::string IdentityLine(const std::string& identity);

// The fields the index reads of a message, by the one header reader of the
// program (ReadHeaderFields): from a whole message, or from the lines a
// server sends for BODY.PEEK[HEADER.FIELDS (X-KORVANE-ID MESSAGE-ID)].
struct IndexFields {
  std::string identity;   // 64 lower-case hexadecimal digits; "" for none
  std::string messageId;  // the Message-ID field's value; "" for none
};
IndexFields ReadIndexFields(const std::string& header);

struct FolderMessage {
  uint32_t uid = 0;
  std::string identity;
  std::string messageId;
  uint64_t size = 0;  // bytes as stored (CR LF line ends)
};

class FolderIndex {
 public:
  void Add(const FolderMessage& message);
  void Clear();
  size_t Count() const { return count; }

  // Matches identity to one of the folder's messages of that identity not
  // matched yet; false if there is none left.
  bool TakeIdentity(const std::string& identity);
  // The folder's messages without an identity, not matched yet, of this
  // Message-ID and size: candidates, by UID.
  std::vector<uint32_t> Candidates(const std::string& messageId,
                                   uint64_t size) const;
  // Matches the message of uid (a candidate confirmed); false if it is
  // matched already.
  bool TakeUid(uint32_t uid);

 private:
  static std::string Key(const std::string& messageId, uint64_t size);

  size_t count = 0;
  std::unordered_map<std::string, uint32_t> identities;
  std::unordered_map<std::string, std::vector<uint32_t>> withoutIdentity;
  std::set<uint32_t> taken;
};

#endif  // KORVANE_IMAP_FOLDER_INDEX_H_
