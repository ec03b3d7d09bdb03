#include "message/message_head.h"

#include <string.h>

#include "message/envelope_line.h"
#include "message/line_splitter.h"
#include "platform/win32.h"

namespace {

// Header names match in any letter case; the line holds no NUL. The
// first letter is compared here first: most lines fail on it, and cheaply.
bool StartsWithNoCase(const LineCursor& line, const char* prefix, int32_t n) {
  return line.lineLength >= n &&
         (line.lineStart[0] | 0x20) == (prefix[0] | 0x20) &&
         _strnicmp(reinterpret_cast<const char*>(line.lineStart), prefix, n) ==
             0;
}

}  // namespace

void ReadMessageHead(const unsigned char* text, const unsigned char* end,
                     bool alternativeScan, MessageHead* head) {
  head->ownEnvelope = false;
  head->examinedLines = 0;
  const unsigned char* value = nullptr;
  int32_t valueLength = 0;
  LineCursor line;
  SplitLine(text, &line, end);
  while (line.lineLength != 0) {
    ++head->examinedLines;
    if (head->examinedLines == 1 &&
        IsEnvelopeLine(line.lineStart, line.lineLength)) {
      // Its sender is the line's first word.
      head->ownEnvelope = true;
      value = line.lineStart + 5;
      const void* blank = memchr(value, ' ', line.lineLength - 5);
      valueLength = static_cast<int32_t>(
          static_cast<const unsigned char*>(blank) - value);
      break;
    }
    if (StartsWithNoCase(line, "Return-Path: ", 13) && line.lineLength > 13) {
      value = line.lineStart + 13;
      valueLength = line.lineLength - 13;
      if (value[0] == '<') {
        ++value;
        --valueLength;
      }
      if (valueLength > 0 && value[valueLength - 1] == '>') --valueLength;
      break;
    }
    if (StartsWithNoCase(line, "From: ", 6) && line.lineLength > 6) {
      value = line.lineStart + 6;
      valueLength = line.lineLength - 6;
      const void* angle = memchr(value, '<', valueLength);
      if (angle != nullptr) {
        const unsigned char* after =
            static_cast<const unsigned char*>(angle) + 1;
        valueLength -= static_cast<int32_t>(after - value);
        value = after;
      }
      if (valueLength > 0 && value[valueLength - 1] == '>') --valueLength;
      break;
    }
    if (alternativeScan && head->examinedLines == 1 &&
        (line.lineLength <= 2 ||
         memchr(line.lineStart, ':', line.lineLength - 2) == nullptr))
      break;
    if (line.nextLineStart == nullptr) break;
    SplitLine(line.nextLineStart, &line, end);
  }

  char* sender = head->sender;
  if (valueLength > kSenderCapacity) valueLength = kSenderCapacity;
  if (valueLength > 0) memcpy(sender, value, valueLength);
  sender[valueLength > 0 ? valueLength : 0] = '\0';
  if (sender[0] == '\0') memcpy(sender, kProgramName, sizeof kProgramName);
  head->senderLength =
      valueLength > 0 ? valueLength : int32_t(sizeof kProgramName - 1);
  // A blank in the envelope sender would end the envelope line's first
  // word early, and mail readers then miss the entry; make it one word. Some
  // readers take the envelope line for ASCII and fail on other bytes.
  // Every byte is stored, so that the compiler can do many at once.
  for (int32_t i = 0; i < head->senderLength; ++i) {
    unsigned char b = static_cast<unsigned char>(sender[i]);
    sender[i] = b <= 0x20 || b >= 0x7F ? '-' : char(b);
  }
}
