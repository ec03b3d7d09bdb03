// What a server's response says: its kind, tag, status or data word,
// response code, text and data values. Parsed from what ResponseReader
// kept; nesting is bounded, so no input recurses deeply.
#ifndef KORVANE_IMAP_RESPONSE_H_
#define KORVANE_IMAP_RESPONSE_H_

#include <stdint.h>

#include <string>
#include <vector>

#include "imap/response_reader.h"

// An atom (also a number, or a fetch item name such as
// "BODY[HEADER.FIELDS (MESSAGE-ID)]"), a string (quoted or literal), NIL
// or a parenthesised list.
struct ImapValue {
  enum Kind { kAtom, kString, kNil, kList };
  Kind kind = kAtom;
  std::string text;
  std::vector<ImapValue> items;
};

struct ImapResponse {
  enum Kind { kUntagged, kTagged, kContinuation };
  Kind kind = kUntagged;
  std::string tag;
  // Upper-cased: OK, NO, BAD, BYE or PREAUTH for a status response, else
  // the data's name (CAPABILITY, LIST, EXISTS, FETCH, ...).
  std::string word;
  uint32_t number = 0;  // "* 12 FETCH ...": 12
  // A status response's code without brackets ("TOOBIG", "APPENDUID 7
  // 3:5") and its text, or a continuation's text.
  std::string code;
  std::string text;
  std::vector<ImapValue> data;  // what follows a data response's name

  bool IsStatus() const;
  // The code's first word, upper-cased ("APPENDUID").
  std::string CodeName() const;
};

// False if raw is no well-formed response (or too deeply nested); *out is
// then partly filled.
bool ParseResponse(const RawResponse& raw, ImapResponse* out);

// The values of a FETCH response's list: the value named item
// (case-insensitive), or null.
const ImapValue* FetchItem(const ImapResponse& fetch, const char* item);

#endif  // KORVANE_IMAP_RESPONSE_H_
