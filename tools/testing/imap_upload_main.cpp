// korvane-imap-upload: uploads generated list-mail messages into a folder
// through ImapUploader, for the IMAP tests (a run to be killed half way and
// started again) and for measuring the uploader.
//
//   korvane-imap-upload [--count N] [--first N] [--no-multiappend]
//                       [--no-literal-plus] [--batch N] URL
//
// The password or token and the CA file come from the environment, as for
// korvane. Prints the totals and the time and processor time taken.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <string>

#ifdef _WIN32
#include "platform/win32.h"
#else
#include <sys/resource.h>
#endif

#include "imap/imap_credentials.h"
#include "imap/imap_uploader.h"
#include "imap/imap_url.h"

namespace {

double ProcessorSeconds() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto seconds = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) /
           1e7;
  };
  return seconds(kernel) + seconds(user);
#else
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
         usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
#endif
}

// A mailing-list message of about 1.5 KB, the same for the same number.
ImapMessage ListMessage(uint64_t n) {
  ImapMessage m;
  m.internalDate = 1000000000 + static_cast<int64_t>(n) * 97;
  const std::string messageId = "<list." + std::to_string(n) + "@korvane.test>";
  std::string& b = m.bytes;
  b = "Received: from list.example.org by mx.example.net; id " +
      std::to_string(n) + "\r\n";
  b += "From: Member " + std::to_string(n % 97) + " <m" +
       std::to_string(n % 97) + "@example.org>\r\n";
  b += "To: list@example.org\r\nSubject: [list] thread " +
       std::to_string(n / 7) + "\r\nMessage-ID: " + messageId + "\r\n";
  b += "List-Id: <list.example.org>\r\nList-Unsubscribe: "
       "<mailto:list-leave@example.org>\r\n\r\n";
  for (int line = 0; line < 18; ++line)
    b += "Line " + std::to_string(line) +
         " of a message to the list, about the matter in hand.\r\n";
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t count = 1000, first = 0;
  UploadSettings settings;
  std::string url;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--count" && i + 1 < argc) {
      count = strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--first" && i + 1 < argc) {
      first = strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--batch" && i + 1 < argc) {
      settings.batchMessages = strtoull(argv[++i], nullptr, 10);
    } else if (arg == "--no-multiappend") {
      settings.multiappend = false;
    } else if (arg == "--no-literal-plus") {
      settings.literalPlus = false;
    } else {
      url = arg;
    }
  }
  ImapUrl where;
  std::string why;
  if (!ParseImapUrl(url, &where, &why)) {
    fprintf(stderr, "korvane-imap-upload: %s\n", why.c_str());
    return 2;
  }
  ImapAccount account;
  account.host = where.host;
  account.port = where.port;
  account.implicitTls = where.implicitTls;
  account.user = where.user;
  account.caFile = CaFileFromEnvironment();
  if (CredentialsFromEnvironment(&account.credentials) !=
      CredentialsFound::kFound) {
    fprintf(stderr,
            "korvane-imap-upload: set KORVANE_PASSWORD or "
            "KORVANE_OAUTH2_TOKEN\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = ProcessorSeconds();
  ImapUploader uploader(account, settings, nullptr);
  Status status = uploader.Open(where.folder);
  for (uint64_t n = first; status.IsOk() && n < first + count; ++n)
    status = uploader.Add(ListMessage(n));
  if (status.IsOk()) status = uploader.Finish();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  const double cpu = ProcessorSeconds() - cpuStart;
  const DeliveryTally& t = uploader.Tally();
  printf(
      "uploaded %llu, already there %llu, refused %llu, reconnects %llu; "
      "%.2f s, %.0f messages/s, client CPU %.2f s = %.1f us/message\n",
      static_cast<unsigned long long>(t.delivered),
      static_cast<unsigned long long>(t.alreadyThere),
      static_cast<unsigned long long>(t.refused),
      static_cast<unsigned long long>(uploader.Reconnects()), seconds,
      count / seconds, cpu, count ? cpu / count * 1e6 : 0.0);
  if (!status.IsOk()) {
    fprintf(stderr, "korvane-imap-upload: %s\n", status.Text().c_str());
    return 2;
  }
  return 0;
}
