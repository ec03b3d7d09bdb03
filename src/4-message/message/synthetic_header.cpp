#include "message/synthetic_header.h"

#include <stdio.h>

#include "date/mail_date.h"
#include "message/message_head.h"

namespace {

const DWORD kNameSize = 256;

}  // namespace

std::string SyntheticHeader(const SYSTEMTIME& time, const char* lineEnd) {
  char buffer[kNameSize];
  std::string block;

  FILETIME date;
  if (!SystemTimeToFileTime(&time, &date)) GetSystemTimeAsFileTime(&date);
  FormatMailDate(&date, buffer);
  block.append("Date: ").append(buffer).append(lineEnd);
  block.append("From: ").append(kProgramName).append(lineEnd);

  buffer[0] = '\0';
  DWORD n = kNameSize;
  if (GetUserNameA(buffer, &n) && n <= kNameSize)
    CharLowerBuffA(buffer, n);
  else
    buffer[0] = '\0';
  buffer[kNameSize - 1] = '\0';
  block.append("To: ").append(buffer).append("@");
  n = kNameSize;
  if (GetComputerNameA(buffer, &n) && n < kNameSize)
    CharLowerBuffA(buffer, n);
  else
    snprintf(buffer, kNameSize, "%s", "localhost");
  buffer[kNameSize - 1] = '\0';
  block.append(buffer).append(lineEnd);

  block.append("Subject: recovered message").append(lineEnd);
  block.append("X-Mailer: ").append(kProgramName).append(lineEnd);
  block.append(lineEnd);
  return block;
}
