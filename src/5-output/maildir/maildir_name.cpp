#include "maildir/maildir_name.h"

#include "platform/file_time.h"

std::string UniqueMessageName(FILETIME now, DWORD pid, uint64_t sequence,
                              const std::string& host) {
  uint64_t ticks = TicksOf(now);
  ticks = ticks > kUnixEpochTicks ? ticks - kUnixEpochTicks : 0;
  return std::to_string(ticks / kTicksPerSecond) + ".M" +
         std::to_string(ticks % kTicksPerSecond / 10) + "P" +
         std::to_string(pid) + "Q" + std::to_string(sequence) + "." + host;
}

bool IsNameOfProcess(const std::string& name, DWORD pid,
                     const std::string& host) {
  size_t at = 0;
  // Digits, then the character after them.
  auto number = [&name, &at](char after, std::string* digits) {
    const size_t start = at;
    while (at < name.size() && name[at] >= '0' && name[at] <= '9') ++at;
    if (at == start || at == name.size() || name[at] != after) return false;
    if (digits != nullptr) *digits = name.substr(start, at - start);
    ++at;
    return true;
  };
  std::string process;
  if (!number('.', nullptr) || at == name.size() || name[at++] != 'M' ||
      !number('P', nullptr) || !number('Q', &process) ||
      process != std::to_string(pid) || !number('.', nullptr))
    return false;
  const size_t end = name.find_first_of(",:", at);
  return name.compare(at, end == std::string::npos ? end : end - at, host) == 0;
}

std::string DeliveredMessageName(const std::string& unique, uint64_t size,
                                 bool colonInNames) {
  std::string name = unique + ",S=" + std::to_string(size);
  if (colonInNames) name += ":2,";
  return name;
}

const char* DeliveredFolder(bool colonInNames) {
  return colonInNames ? "cur" : "new";
}

std::string HostNamePart(const std::string& host) {
  std::string part;
  for (char c : host) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (c == '/') {
      part += "\\057";
    } else if (c == ':') {
      part += "\\072";
    } else if (c == ',') {
      part += "\\054";
    } else if (b < 0x21 || b == 0x7F) {
      part += '_';
    } else {
      part += c;
    }
  }
  return part.empty() ? "localhost" : part;
}

std::string LocalHostNamePart() {
  char name[256];
  DWORD size = sizeof name;
  if (!GetComputerNameA(name, &size) || size >= sizeof name) return "localhost";
  return HostNamePart(std::string(name, size));
}
