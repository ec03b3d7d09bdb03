#include "imap/imap_server_test_support.h"

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "bytes/modified_utf7.h"
#include "platform/win32.h"
#include "test_support.h"

namespace imap_testing {

const Server& TheServer() {
  static Server server;
  if (server.imaps) return server;
  const char* dir = getenv("KORVANE_TEST_DOVECOT");
  if (!dir) return server;
  server.folder = dir;
#ifdef _WIN32
  // Under Wine: the server's folder is a Linux path, Z: is its root.
  if (server.folder[0] == '/') server.folder = "Z:" + server.folder;
#endif
  std::ifstream env(server.folder + "/server.env");
  std::string line;
  while (std::getline(env, line)) {
    const std::string name = line.substr(0, line.find('='));
    const std::string value = line.substr(line.find('=') + 1);
    if (name == "imaps_port") server.imaps = static_cast<uint16_t>(stoi(value));
    if (name == "imap_port") server.imap = static_cast<uint16_t>(stoi(value));
    if (name == "ca_file") server.caFile = value;
#ifdef _WIN32
    if (name == "ca_file") server.caFile = "Z:" + value;
#endif
    if (name == "config") server.config = value;
  }
  return server;
}

ImapAccount Account(const std::string& user, const std::string& password) {
  ImapAccount account;
  account.host = "127.0.0.1";
  account.port = TheServer().imaps;
  account.user = user;
  account.credentials.secret = password;
  account.caFile = TheServer().caFile;
  account.timeoutMs = 30000;
  return account;
}

std::string MessageId(int n) {
  return "<" + std::to_string(n) + "@server.test>";
}

std::string StoredSize(const ImapMessage& message) {
  return std::to_string(IdentityLine(std::string(64, '0')).size() +
                        message.bytes.size());
}

ImapMessage Message(int n, size_t size) {
  ImapMessage m;
  m.internalDate = 1000000000 + n * 3661;
  m.bytes = "From: a@example.org\r\nSubject: message " + std::to_string(n) +
            "\r\nMessage-ID: " + MessageId(n) + "\r\n\r\n";
  while (m.bytes.size() + 78 <= size)
    m.bytes += std::string(76, static_cast<char>('a' + n % 26)) + "\r\n";
  return m;
}

// What doveadm finds in mailbox of user (names in UTF-8, "." between).
#ifndef _WIN32
// What doveadm finds in mailbox of user (names in UTF-8, "." between).
std::vector<Stored> Fetch(const std::string& user, const std::string& mailbox) {
  const auto result = testing_support::RunProgram(
      "doveadm",
      {"-c", TheServer().config, "-f", "tab", "fetch", "-u", user,
       "date.received flags size.virtual hdr.message-id", "mailbox", mailbox,
       "all"},
      TheServer().folder);
  std::vector<Stored> stored;
  std::istringstream lines(result.output);
  std::string line;
  std::getline(lines, line);  // the column names
  while (std::getline(lines, line)) {
    Stored s;
    std::istringstream fields(line);
    std::getline(fields, s.date, '\t');
    std::getline(fields, s.flags, '\t');
    std::getline(fields, s.size, '\t');
    std::getline(fields, s.messageId, '\t');
    stored.push_back(s);
  }
  return stored;
}
#else
// Under Wine, where doveadm cannot be run: the same from the server's
// Maildir files, in the order of its UID list. The received date is the
// file's write time, the size with CR LF the name's W=, \Seen its "S".
std::vector<Stored> Fetch(const std::string& user, const std::string& mailbox) {
  std::string folder = TheServer().folder + "/home/" + user + "/Maildir";
  if (mailbox != "INBOX") {
    folder += "/";
    std::string part;
    std::istringstream names(mailbox);
    while (std::getline(names, part, '.')) folder += "." + ModifiedUtf7(part);
  }
  std::vector<Stored> stored;
  std::ifstream uids(folder + "/dovecot-uidlist");
  std::string line;
  std::getline(uids, line);  // the list's header
  while (std::getline(uids, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string base = line.substr(colon + 1);
    for (const char* sub : {"/cur/", "/new/"}) {
      WIN32_FIND_DATAA data;
      HANDLE h = FindFirstFileA((folder + sub + base + "*").c_str(), &data);
      if (h == INVALID_HANDLE_VALUE) continue;
      FindClose(h);
      const std::string name = data.cFileName;
      Stored s;
      const size_t w = name.find(",W=");
      s.size = name.substr(w + 3, name.find_first_of(":,", w + 3) - w - 3);
      const size_t info = name.find(":2,");
      if (info != std::string::npos &&
          name.find('S', info + 3) != std::string::npos)
        s.flags = "\\Seen";
      const uint64_t ticks =
          static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
          data.ftLastWriteTime.dwLowDateTime;
      s.date =
          DoveadmDate(static_cast<int64_t>(ticks / 10000000) - 11644473600);
      std::ifstream file(folder + sub + name, std::ios::binary);
      std::string header, text;
      while (std::getline(file, text) && text != "" && text != "\r")
        header += text + "\n";
      s.messageId = ReadIndexFields(header).messageId;
      stored.push_back(s);
      break;
    }
  }
  return stored;
}
#endif

std::vector<std::string> StoredTexts(const std::string& user,
                                     const std::string& mailbox) {
  namespace fs = std::filesystem;
  fs::path folder =
      fs::u8path(TheServer().folder + "/home/" + user + "/Maildir");
  if (mailbox != "INBOX") {
    std::string name;
    std::istringstream names(mailbox);
    for (std::string part; std::getline(names, part, '.');)
      name += "." + ModifiedUtf7(part);
    folder /= name;
  }
  std::vector<std::string> texts;
  std::ifstream uids(folder / "dovecot-uidlist");
  std::string line;
  std::getline(uids, line);  // the list's header
  while (std::getline(uids, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string base = line.substr(colon + 1);
    for (const char* sub : {"cur", "new"}) {
      std::error_code error;
      for (const auto& entry : fs::directory_iterator(folder / sub, error)) {
        if (entry.path().filename().u8string().compare(0, base.size(), base))
          continue;
        std::ifstream file(entry.path(), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(file)),
                         std::istreambuf_iterator<char>());
        if (text.compare(0, 13, "X-Korvane-Id:") == 0)
          text.erase(0, text.find('\n') + 1);
        texts.push_back(LfLines(text));
      }
    }
  }
  return texts;
}

std::string LfLines(const std::string& text) {
  std::string lf;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      lf += text[i];
    } else if (i + 1 == text.size() || text[i + 1] != '\n') {
      lf += '\n';
    }
  }
  if (!lf.empty() && lf.back() != '\n') lf += '\n';
  return lf;
}

std::string DoveadmDate(int64_t seconds) {  // TZ=UTC in the test's environment
  char text[32];
  const time_t t = static_cast<time_t>(seconds);
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", gmtime(&t));
  return text;
}

std::string Unique(const std::string& name) {
  // The process id too: ctest runs several test processes at once, each
  // with its own counter, against the same server and users.
  static int counter = 0;
  return name + "-" + std::to_string(time(nullptr) % 100000) + "-" +
         std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(++counter);
}

UploadRun Upload(const ImapAccount& account, const UploadSettings& settings,
                 const std::vector<std::string>& path,
                 const std::vector<ImapMessage>& messages) {
  UploadRun run;
  ImapUploader uploader(account, settings, [&](const UploadResult& r) {
    run.results.push_back(r);
  });
  run.error = uploader.Open(path);
  for (size_t i = 0; run.error.IsOk() && i < messages.size(); ++i)
    run.error = uploader.Add(messages[i]);
  if (run.error.IsOk()) run.error = uploader.Finish();
  run.tally = uploader.Tally();
  run.reconnects = uploader.Reconnects();
  return run;
}

}  // namespace imap_testing
