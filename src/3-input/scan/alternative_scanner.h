// The scanner for damaged message bases (switch -a): instead of walking the
// record chain it searches the bytes for places where a message plausibly
// begins (a record header, or a typical first header line after a run of
// zero bytes) and cuts the base into messages there.
#ifndef KORVANE_SCAN_ALTERNATIVE_SCANNER_H_
#define KORVANE_SCAN_ALTERNATIVE_SCANNER_H_

#include <stdint.h>

#include "platform/win32.h"
#include "scan/message_scanner.h"

class AlternativeScanner : public MessageScanner {
 public:
  // X and Y of the switch -a[X][:Y]. X below 1 means 64; Y outside 0..3
  // means 2, and 2 to the power Y zero bytes must precede a header line.
  AlternativeScanner(int32_t minHeaderSizeSetting, int32_t compatibilityLevel);

  // Fails for a null pointer, a base not longer than minHeaderSize or one
  // without any message start.
  bool Attach(const unsigned char* data, uint32_t dataSize) override;
  bool Next(const unsigned char** text, int32_t* length,
            FILETIME* time) override;

  // The first message start from position on, which position then points
  // at; nullptr, with position at the end of the data, when there is none.
  // Sets recordLength, and messageTime for a start at a record header.
  const unsigned char* FindMessageStart();
  // Whether the gapLength bytes before a header-line candidate are zero.
  bool IsGapClear(const unsigned char* candidate) const;

  int32_t minHeaderSize;
  int32_t gapLength;
  // length field of the trusted record header the pending message starts
  // at; -1 when it did not start at one.
  int32_t recordLength = -1;
  // Carried over to header-line messages from the last record header.
  FILETIME messageTime = {0, 0};

 private:
  enum SearchKind { kRecordSearch, kRSearch, kDSearch, kSearchKinds };

  // What a search found when it last ran: its first candidate at or after
  // from, or kNoCandidate up to the end of the data. The candidates depend
  // on the data alone, so this stays the answer for any later start up to
  // found, and position never moves back.
  struct SearchMemo {
    bool valid = false;
    uint32_t from = 0;
    uint32_t found = 0;
  };

  static constexpr uint32_t kNoCandidate = 0xFFFFFFFFu;

  uint64_t HeaderBlockEnd(uint64_t from) const;
  bool HeaderBlockStep(uint64_t* q) const;
  uint32_t FirstCandidate(SearchKind kind, uint32_t from);
  uint32_t SearchRecord(uint32_t from) const;
  uint32_t SearchHeaderLine(SearchKind kind, uint32_t from) const;
  const unsigned char* NoStart();

  SearchMemo searchMemo[kSearchKinds];
};

#endif  // KORVANE_SCAN_ALTERNATIVE_SCANNER_H_
