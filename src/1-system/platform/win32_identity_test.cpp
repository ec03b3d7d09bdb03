// Tests of the identity calls of the Win32 subset: the user and computer
// names, and CharLowerBuffA.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/win32.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

TEST(Win32IdentityTest, NamesFollowTheSizeProtocol) {
  char buffer[512];
  DWORD size = 0;
  ASSERT_FALSE(GetUserNameA(buffer, &size));
  ASSERT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
  const DWORD needed = size;  // with the terminator
  ASSERT_TRUE(needed >= 2 && needed <= sizeof buffer);
  size = needed - 1;
  EXPECT_FALSE(GetUserNameA(buffer, &size));
  EXPECT_EQ(needed, size);
  ASSERT_TRUE(GetUserNameA(buffer, &size));
  EXPECT_EQ(needed, size);
  EXPECT_EQ(needed - 1, strlen(buffer));
#ifndef _WIN32
  EXPECT_STREQ(getpwuid(geteuid())->pw_name, buffer);
#endif

  size = sizeof buffer;
  ASSERT_TRUE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(strlen(buffer), size);  // without the terminator
  EXPECT_EQ(nullptr, strchr(buffer, '.'));
  EXPECT_LE(size, DWORD{MAX_COMPUTERNAME_LENGTH});  // the NetBIOS name
#ifndef _WIN32
  char host[300] = {};
  ASSERT_EQ(0, gethostname(host, sizeof host - 1));
  EXPECT_EQ(std::string(host, strcspn(host, ".")).substr(0, 15), buffer);
#endif
  const DWORD length = size;
  EXPECT_FALSE(GetComputerNameA(buffer, &size));
  EXPECT_EQ(ERROR_BUFFER_OVERFLOW, GetLastError());
  EXPECT_EQ(length + 1, size);
}

TEST(Win32CharLowerBuffTest, LowersAsciiLettersOfTheGivenLength) {
  const char* const kCases[][2] = {
      {"MiXeD Case 1", "mixed case 1"},
      {"@[`{AZ", "@[`{az"},  // the neighbours of the letter ranges
#ifndef _WIN32
      {"\xC4\xD6X", "\xC4\xD6x"},
#endif
  };
  for (const auto& c : kCases) {
    std::string text = std::string(c[0]) + "TAIL";
    const DWORD length = static_cast<DWORD>(strlen(c[0]));
    EXPECT_EQ(length, CharLowerBuffA(&text[0], length));
    EXPECT_EQ(std::string(c[1]) + "TAIL", text);
  }
}

}  // namespace
