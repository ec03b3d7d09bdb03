#include "main/run.h"

#include <stdio.h>

#include <string>

#include "io/file_stream.h"
#include "io/mapped_file.h"
#include "main/command_line.h"
#include "mbox/mailbox_writer.h"
#include "platform/win32.h"
#include "scan/alternative_scanner.h"
#include "scan/normal_scanner.h"

namespace {

const char kVersion[] = "1.3 rc 1";

void PrintElapsedTime(DWORD startTick) {
  DWORD elapsed = GetTickCount() - startTick;
  uint64_t units = uint64_t(elapsed) * 10000;
  FILETIME asFileTime;
  asFileTime.dwLowDateTime = static_cast<DWORD>(units);
  asFileTime.dwHighDateTime = static_cast<DWORD>(units >> 32);
  SYSTEMTIME t;
  if (FileTimeToSystemTime(&asFileTime, &t)) {
    printf("time left %02d:%02d:%02d.%03d", t.wHour, t.wMinute, t.wSecond,
           t.wMilliseconds);
  } else {
    printf("time left %.3f seconds", (GetTickCount() - startTick) * 0.001);
  }
}

}  // namespace

int RunKorvane(int argc, char** argv) {
  printf("korvane v%s - message base to unix mailbox converter", kVersion);
  printf("\n");

  RunSettings settings;
  if (!ParseCommandLine(argc, argv, kSlashSwitches, &settings)) {
    printf("%s", kUsageText);
    return 1;
  }
  const char* inputName = ResolveInputName(settings.inputName);

  MappedFile base;
  if (!base.Open(inputName, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)) {
    printf("error: can't open %s for read", inputName);
    printf("\n");
    if (base.tooLarge) {
      printf("hint: message bases of 4 GiB or more are not supported");
      printf("\n");
    }
    return base.errorCode;
  }

  std::string derivedName;
  const char* mailboxName = settings.mailboxName;
  if (mailboxName == nullptr) {
    derivedName = DeriveMailboxName(inputName);
    mailboxName = derivedName.c_str();
  }
  FileStream mailbox;
  if (!mailbox.Open(mailboxName, GENERIC_WRITE, FILE_SHARE_READ,
                    CREATE_ALWAYS)) {
    printf("error: can't open %s for write", mailboxName);
    printf("\n");
    return mailbox.errorCode;
  }

  MessageScanner* scanner;
  if (settings.alternativeScan) {
    scanner = new AlternativeScanner(settings.minHeaderSize,
                                     settings.compatibilityLevel);
    printf("scanning message base. this may take few minutes...");
    printf("\n");
  } else {
    scanner = new NormalScanner();
  }
  if (!scanner->Attach(base.viewBase, base.size)) {
    if (settings.alternativeScan) {
      printf("warning: possible empty message base. if not report about");
    } else {
      printf("error: unsupported or corrupted message base");
      printf("\n");
      printf("hint: use -a switch");
    }
    printf("\n");
    delete scanner;
    return 1;
  }

  MailboxWriter writer;
  writer.senderBuffer = new char[kRunBufferSize];
  writer.lineBuffer = new char[kRunBufferSize];
  writer.mailbox = &mailbox;
  writer.alternativeScan = settings.alternativeScan;
  writer.messageCount = 0;
  DWORD startTick = GetTickCount();
  writer.lastProgressTick = startTick;
  writer.warned = false;
  TIME_ZONE_INFORMATION zone = {};
  GetTimeZoneInformation(&zone);
  writer.timeZoneBias = zone.Bias;
  GetSystemTimeAsFileTime(&writer.currentTime);
  SYSTEMTIME lowerBound = {1979, 1, 0, 1, 0, 0, 0, 0};
  SystemTimeToFileTime(&lowerBound, &writer.lowerTimeBound);

  PrintProgressLine(*scanner);
  // A read failure (the lost pages read as zeros) stops the run before the
  // next message, and before a message that Next read over zeros.
  while (!writer.writeFailed && base.ReadFailure() == nullptr &&
         scanner->Next(&writer.messageText, &writer.messageLength,
                       &writer.messageTime) &&
         base.ReadFailure() == nullptr) {
    writer.Step(*scanner);
  }

  delete scanner;
  delete[] writer.lineBuffer;
  delete[] writer.senderBuffer;

  if (base.ReadFailure() != nullptr) {
    printf("error: can't read %s: %s", inputName, base.ReadFailure());
    printf("\n");
    return 2;
  }

  printf("found %d messages, ", writer.messageCount);
  PrintElapsedTime(startTick);
  printf(".\n");

  // The layer holds the last block of the mailbox until it is closed, so a
  // full disk may show only here.
  bool written = mailbox.Close() && !writer.writeFailed;
  if (!written) {
    printf("error: can't write %s", mailboxName);
    printf("\n");
    return 2;
  }
  return 0;
}
