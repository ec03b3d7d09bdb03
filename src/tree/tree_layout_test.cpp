// The walk over a tree and the mbox layout it gets, on real folders: the
// order, what is not followed or cannot be listed, the names below OUTDIR
// and where two folders would take one name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "io/paths.h"
#include "maildir/maildir_tree_layout.h"
#include "mbox/mbox_tree_layout.h"
#include "test_support.h"
#include "tree/tree_folders.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

// "a/b" with the system's separators.
std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '/', kPathSeparator);
  return path;
}

// Every file below folder, as "a/b", sorted.
std::vector<std::string> FilesBelow(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_directory()) continue;
    EXPECT_EQ(e.file_size(), 0u) << e.path();
    files.push_back(fs::relative(e.path(), folder).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Root reads and writes every folder: where a test needs a folder that
// cannot be listed or written, it acts as nobody for a while.
class AsNobody {
 public:
  AsNobody() {
#ifndef _WIN32
    if (geteuid() == 0) active = setegid(65534) == 0 && seteuid(65534) == 0;
#endif
  }
  ~AsNobody() {
#ifndef _WIN32
    if (active) {
      EXPECT_TRUE(seteuid(0) == 0 && setegid(0) == 0);
    }
#endif
  }

 private:
  bool active = false;
};

TEST(MboxTreeLayoutTest, NamesEveryFolderOnceAndKeepsTheHierarchy) {
  TempDir root, out;
  const std::string kBases[] = {
      "messages.tbb",
      "Inbox/messages.tbb",
      "Sent Items/messages.tbb",
      "Archive/2001/Q1/MESSAGES.TBB",
      "Archive.sbd/messages.tbb",  // beside Archive, which has subfolders
      "Archive.sbd/Deep/messages.tbb",
      "mail/messages.tbb",  // ROOT's own base is "Mail"
  };
  for (const std::string& base : kBases) {
    fs::create_directories(fs::path(root.File(Native(base))).parent_path());
    ASSERT_TRUE(WriteFile(root.File(Native(base)), "12345"));
  }
  ASSERT_TRUE(WriteFile(root.File(Native("Archive/2001/notes.txt")), "x"));
  fs::create_directories(root.File(Native("Empty/Deeper")));
  const bool posix = kPathSeparator == '/';
  const std::string longName(253, 'n');  // fits; with ".sbd" it does not
  if (posix) {
    fs::create_directories(root.File(longName + "/Sub"));
    ASSERT_TRUE(WriteFile(root.File(longName + "/Sub/messages.tbb"), ""));
    // A second base in ROOT, where names differ in case.
    ASSERT_TRUE(WriteFile(root.File("MESSAGES.TBB"), "54321"));
#ifndef _WIN32
    fs::create_directory_symlink(root.File("Inbox"), root.File("to-inbox"));
    fs::create_directory_symlink(root.File("loop"), root.File("loop"));
    fs::create_directories(root.File("Locked"));
    ASSERT_TRUE(WriteFile(root.File("Locked/messages.tbb"), "x"));
    fs::permissions(root.File("Locked"), fs::perms::none);
#endif
  }

  TreeFolders folders;
  DWORD error = 0;
  {
    AsNobody nobody;
    ASSERT_TRUE(DiscoverTree(root.path(), &folders, &error));
  }
  MboxTreeLayout layout;
  std::string why;
  ASSERT_TRUE(PlaceFolders(&layout, out.path(), "Mail", &folders, &why)) << why;

  struct Expected {
    std::string path, output;
    bool renamed;
    uint64_t baseSize;
  };
  std::vector<Expected> expected = {
      {"", "Mail", false, 5},
      {"Archive", "Archive", false, 0},
      {"Archive/2001", "Archive.sbd/2001", false, 0},
      {"Archive/2001/Q1", "Archive.sbd/2001.sbd/Q1", false, 5},
      {"Archive.sbd", "Archive.sbd-2", true, 5},
      {"Archive.sbd/Deep", "Archive.sbd-2.sbd/Deep", false, 5},
      {"Empty", "", false, 0},
      {"Empty/Deeper", "", false, 0},
      {"Inbox", "Inbox", false, 5},
  };
  if (posix) expected.insert(expected.begin() + 1, {"", "Mail-2", true, 5});
  if (posix) expected.push_back({"Locked", "", false, 0});
  expected.push_back({"mail", posix ? "mail-3" : "mail-2", true, 5});
  if (posix) {
    // Its place in tree order, counting ROOT as 0.
    const std::string n = std::to_string(expected.size());
    expected.push_back({longName, "folder-" + n, true, 0});
    expected.push_back(
        {longName + "/Sub", "folder-" + n + ".sbd/Sub", false, 0});
  }
  expected.push_back({"Sent Items", "Sent Items", false, 5});

  ASSERT_EQ(folders.size(), expected.size());
  std::vector<std::string> files;
  for (size_t i = 0; i < expected.size(); ++i) {
    const TreeFolder& f = folders[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.path);
    EXPECT_EQ(f.path, Native(e.path));
    EXPECT_EQ(f.output, Native(e.output));
    EXPECT_EQ(!f.renamedBecause.empty(), e.renamed) << f.renamedBecause;
    EXPECT_EQ(f.baseSize, e.baseSize);
    EXPECT_EQ(f.twin, i > 0 && e.path == expected[i - 1].path);
    if (!e.output.empty()) files.push_back(e.output);
    if (e.path == "Locked") {
      EXPECT_EQ(f.listError, DWORD{ERROR_ACCESS_DENIED});
      EXPECT_FALSE(f.HasBase());
    } else {
      EXPECT_EQ(f.listError, 0u);
    }
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(FilesBelow(out.path()), files);

  // A base that failed gives its file back, unless folders below need it.
  layout.Discard(out.path(), folders[0]);
  layout.Discard(out.path(), folders[1]);
  EXPECT_FALSE(fs::exists(out.File("Mail")));
  EXPECT_TRUE(fs::exists(out.File("Archive")));
#ifndef _WIN32
  fs::permissions(root.File("Locked"), fs::perms::owner_all);
#endif
}

TEST(MaildirTreeLayoutTest, NamesEveryFolderOnceBelowTheInbox) {
  TempDir root, out;
  const bool posix = kPathSeparator == '/';
  const std::string longName(252, 'n');  // fits; with ".Sub" it does not
  const std::string kBases[] = {
      "messages.tbb",  // ROOT's own: ".Mail"
      "Inbox/messages.tbb",
      "Inbox/Sub/messages.tbb",
      "Archive/2001/messages.tbb",
      "Mail.old/messages.tbb",
      "mail/messages.tbb",
  };
  for (const std::string& base : kBases) {
    fs::create_directories(fs::path(root.File(Native(base))).parent_path());
    ASSERT_TRUE(WriteFile(root.File(Native(base)), "12345"));
  }
  // A second Inbox, where names differ in case; a long name; a name
  // outside ASCII (the test program's own names on Windows are in the
  // code page, not in UTF-8 as korvane's).
  if (posix) {
    fs::create_directories(root.File("K\xc3\xb6ln"));
    ASSERT_TRUE(WriteFile(root.File("K\xc3\xb6ln/messages.tbb"), "12345"));
    fs::create_directories(root.File("inbox"));
    ASSERT_TRUE(WriteFile(root.File("inbox/messages.tbb"), "12345"));
    ASSERT_TRUE(WriteFile(root.File("Archive/2001/Messages.tbb"), "1"));
    fs::create_directories(root.File(longName + "/Sub"));
    ASSERT_TRUE(WriteFile(root.File(longName + "/Sub/messages.tbb"), "1"));
  }
  TreeFolders folders;
  DWORD error = 0;
  ASSERT_TRUE(DiscoverTree(root.path(), &folders, &error));
  MaildirTreeLayout layout;
  std::string why;
  ASSERT_TRUE(PlaceFolders(&layout, out.path(), "Mail", &folders, &why)) << why;

  // Where "\" separates names, a name that needs it is refused.
  const std::string old = posix ? ".Mail\\2eold" : ".folder-";
  struct Expected {
    std::string path, output;
    bool renamed;
  };
  std::vector<Expected> expected = {
      {"", ".Mail", false},
      {"Archive", ".Archive", false},
      {"Archive/2001", ".Archive.2001", false},
      {"Inbox", ".", false},
      {"Inbox/Sub", ".INBOX.Sub", false},
  };
  if (posix)
    expected.insert(expected.begin() + 3,
                    {"Archive/2001", ".Archive.2001-2", true});
  if (posix) expected.push_back({"inbox", ".inbox-2", true});
  if (posix) expected.push_back({"K\xc3\xb6ln", ".K&APY-ln", false});
  expected.push_back({"mail", ".mail-2", true});
  expected.push_back({"Mail.old", old, !posix});
  if (posix) {
    expected.push_back({longName, "." + longName, false});
    expected.push_back({longName + "/Sub", ".folder-", true});
  }
  ASSERT_EQ(folders.size(), expected.size());
  std::vector<std::string> made = {"cur", "new", "tmp"};
  for (size_t i = 0; i < expected.size(); ++i) {
    const TreeFolder& f = folders[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.path);
    EXPECT_EQ(f.path, Native(e.path));
    if (e.output.back() == '-')  // ".folder-N", N its place in tree order
      EXPECT_EQ(f.output, e.output + std::to_string(i));
    else
      EXPECT_EQ(f.output, e.output);
    EXPECT_EQ(!f.renamedBecause.empty(), e.renamed) << f.renamedBecause;
    if (f.output == ".") continue;
    made.push_back(f.output);
    for (const char* sub : {"cur", "new", "tmp", "maildirfolder"})
      made.push_back(f.output + "/" + sub);
  }
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(out.path()))
    found.push_back(fs::relative(e.path(), out.path()).generic_u8string());
  std::sort(made.begin(), made.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, made);

  // A base that failed gives its Maildir back, unless it is the top one or
  // folders below need it.
  layout.Discard(out.path(), folders[0]);
  layout.Discard(out.path(), folders[1]);
  layout.Discard(out.path(), folders[3]);
  EXPECT_FALSE(fs::exists(out.File(".Mail")));
  EXPECT_TRUE(fs::exists(out.File(".Archive")));
  EXPECT_TRUE(fs::exists(out.File("cur")));
}

#ifndef _WIN32
TEST(MboxTreeLayoutTest, UnwritableOutputFolderStopsIt) {
  TempDir root, out;
  fs::create_directories(root.File("Inbox"));
  ASSERT_TRUE(WriteFile(root.File("Inbox/messages.tbb"), "x"));
  TreeFolders folders;
  DWORD error = 0;
  ASSERT_TRUE(DiscoverTree(root.path(), &folders, &error));
  fs::permissions(out.path(), fs::perms::owner_read | fs::perms::owner_exec);
  MboxTreeLayout layout;
  std::string why;
  {
    AsNobody nobody;
    EXPECT_FALSE(PlaceFolders(&layout, out.path(), "Mail", &folders, &why));
  }
  EXPECT_EQ(why, "can't create " + out.File("folder-1") + ": access denied");
  fs::permissions(out.path(), fs::perms::owner_all);
}
#endif

TEST(TreeDiscoveryTest, RootThatCannotBeListed) {
  TempDir dir;
  TreeFolders folders;
  DWORD error = 0;
  EXPECT_FALSE(DiscoverTree(dir.File("missing"), &folders, &error));
  EXPECT_EQ(error, DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_TRUE(folders.empty());
}

TEST(TreePathsTest, InsideAndNames) {
  const std::string s(1, kPathSeparator);
  const std::string a = s + "m" + s + "Mail";
  EXPECT_TRUE(IsSameOrInside(a, a));
  EXPECT_TRUE(IsSameOrInside(a + s + "x", a));
  EXPECT_FALSE(IsSameOrInside(a + "-mbox", a));
  EXPECT_FALSE(IsSameOrInside(s + "m", a));
  EXPECT_TRUE(IsSameOrInside(a, s + "m"));
  EXPECT_EQ(LastName(a), "Mail");
  EXPECT_EQ(ParentPath(a), s + "m");
  EXPECT_EQ(ParentPath(s + "m"), s);
#ifdef _WIN32
  EXPECT_TRUE(IsSameOrInside("C:\\M\\MAIL\\x", "c:\\m\\mail"));
  EXPECT_TRUE(IsSameOrInside("C:\\M", "C:\\"));
  EXPECT_EQ(LastName("C:\\"), "");
#else
  EXPECT_FALSE(IsSameOrInside("/M/MAIL/x", "/m/mail"));
  EXPECT_TRUE(IsSameOrInside("/m", "/"));
  EXPECT_EQ(LastName("/"), "");
#endif
  std::vector<std::string> names = {"b", "B", "a.sbd", "A", "a", "a-2"};
  std::sort(names.begin(), names.end(),
            [](const std::string& x, const std::string& y) {
              return CompareNames(x, y) < 0;
            });
  EXPECT_EQ(names,
            (std::vector<std::string>{"A", "a", "a-2", "a.sbd", "B", "b"}));
}

}  // namespace
