#include "inventory/inventory.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

// Two bases' conversions at once, each telling more records than one
// batch: every row arrives once and whole, each base's in scan order, and
// messages apart from empty records.
TEST(InventoryThreadTest, RowsOfBasesAtOnceStayWholeAndInOrder) {
  testing_support::TempDir dir;
  std::unique_ptr<Folder> folder;
  ASSERT_EQ(DWORD{ERROR_SUCCESS},
            RealFileSystem()->OpenFolder(dir.path(), &folder));
  Inventory inventory(RealFileSystem(), folder.get(), "inventory.csv");
  const std::string text = "Subject: hi\r\nMessage-ID: <a@b>\r\n\r\nbody\r\n";
  const int kRecords = 1000;
  auto convert = [&](const std::string& base) {
    std::unique_ptr<MessageObserver> rows = inventory.ForBase(base, base + "/");
    for (int i = 1; i <= kRecords; ++i) {
      MessageFacts m;
      m.place.index = uint32_t(i);
      if (i % 10 != 0) {
        m.text = reinterpret_cast<const unsigned char*>(text.data());
        m.length = uint32_t(text.size());
        m.sender = "a@b";
        m.senderLength = 3;
      }
      rows->Record(m, m.sender ? std::to_string(i) + ".eml" : "",
                   m.sender ? "" : "empty");
    }
    rows->Finished();
  };
  std::thread other(convert, "A");
  convert("B");
  other.join();
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, inventory.Close());
  EXPECT_EQ(uint64_t(2 * kRecords), inventory.Rows());

  std::istringstream file(
      testing_support::ReadFileOrEmpty(dir.File("inventory.csv")));
  std::string line;
  std::getline(file, line);
  EXPECT_EQ(0u, line.find("\xEF\xBB\xBF"
                          "folder,index,"));
  int next[2] = {1, 1}, rows = 0;
  while (std::getline(file, line)) {
    ++rows;
    const int base = line[0] - 'A';
    ASSERT_TRUE(base == 0 || base == 1) << line;
    const std::string index = std::to_string(next[base]);
    ASSERT_EQ(std::string(1, line[0]) + "," + index + ",",
              line.substr(0, 3 + index.size()));
    const bool empty = next[base] % 10 == 0;
    EXPECT_NE(std::string::npos,
              line.find(empty ? ",empty\r" : "/" + index + ".eml,\r"))
        << line;
    ++next[base];
  }
  EXPECT_EQ(2 * kRecords, rows);
}

}  // namespace
