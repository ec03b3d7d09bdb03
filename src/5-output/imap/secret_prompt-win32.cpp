#include "imap/imap_credentials.h"
#include "platform/win32.h"

namespace {

bool ConsoleInput(HANDLE* input, DWORD* mode) {
  *input = GetStdHandle(STD_INPUT_HANDLE);
  return *input != INVALID_HANDLE_VALUE && *input != nullptr &&
         GetFileType(*input) == FILE_TYPE_CHAR && GetConsoleMode(*input, mode);
}

}  // namespace

bool StandardInputIsTerminal() {
  HANDLE input;
  DWORD mode;
  return ConsoleInput(&input, &mode);
}

bool ReadSecret(const std::string& prompt, std::string* secret) {
  secret->clear();
  HANDLE input;
  DWORD mode;
  if (!ConsoleInput(&input, &mode)) return false;
  HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written;
  WriteFile(error, prompt.data(), static_cast<DWORD>(prompt.size()), &written,
            nullptr);
  SetConsoleMode(input, (mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
  std::wstring line;
  wchar_t buffer[256];
  DWORD got = 0;
  bool ended = false;
  while (ReadConsoleW(input, buffer, 256, &got, nullptr) && got > 0) {
    line.append(buffer, got);
    if (line.find(L'\n') != std::wstring::npos) {
      ended = true;
      break;
    }
  }
  SetConsoleMode(input, mode);
  WriteFile(error, "\r\n", 2, &written, nullptr);
  line = line.substr(0, line.find_first_of(L"\r\n"));
  if (!line.empty()) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(),
                                         static_cast<int>(line.size()), nullptr,
                                         0, nullptr, nullptr);
    secret->resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                        &(*secret)[0], size, nullptr, nullptr);
  }
  SecureZeroMemory(&line[0], line.size() * sizeof(wchar_t));
  return ended || !secret->empty();
}
