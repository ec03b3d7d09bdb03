// The default scanner: trusts the file header and walks the records one
// after another. The first broken record ends the walk.
#ifndef KORVANE_SCAN_NORMAL_SCANNER_H_
#define KORVANE_SCAN_NORMAL_SCANNER_H_

#include "scan/message_scanner.h"

class NormalScanner : public MessageScanner {
 public:
  bool Attach(const unsigned char* data, uint32_t size) override;
  bool Next(const unsigned char** text, int32_t* length,
            FILETIME* time) override;

  // Where the walk broke off: the record whose header is broken or whose
  // text runs past the end. Null while the chain is whole. The messages
  // behind it are lost to this scan.
  const unsigned char* brokenRecord = nullptr;
};

#endif  // KORVANE_SCAN_NORMAL_SCANNER_H_
