// The interface through which the run takes messages from the mapped base.
#ifndef KORVANE_SCAN_MESSAGE_SCANNER_H_
#define KORVANE_SCAN_MESSAGE_SCANNER_H_

#include <stdint.h>

#include "platform/win32.h"

class MessageScanner {
 public:
  virtual ~MessageScanner() {}

  // Validates the base and places the scanner before its first message.
  virtual bool Attach(const unsigned char* data, uint32_t size) = 0;

  // Yields the next message as a pointer into the mapped bytes, a length and
  // a time stamp; false when there is none left. A length of 0 is a record
  // the scanner could not use: text and time may then be left unwritten.
  virtual bool Next(const unsigned char** text, int32_t* length,
                    FILETIME* time) = 0;

  // Read by the run for its progress percentage. Whenever Next has just
  // yielded a non-empty message, position lies within [base, base + size].
  const unsigned char* base = nullptr;
  const unsigned char* position = nullptr;
  uint32_t size = 0;
};

#endif  // KORVANE_SCAN_MESSAGE_SCANNER_H_
