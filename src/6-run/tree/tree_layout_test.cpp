// The walk over a tree and the layouts it gets, on real folders: what the
// walk reaches and what it takes for a base, the names below OUTDIR, where
// two folders would take one name, and where the target refuses one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "faulty_file_system.h"
#include "io/paths.h"
#include "maildir/maildir_tree_layout.h"
#include "mbox/mbox_tree_layout.h"
#include "test_support.h"
#include "tree/tree_folders.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using testing_support::Fault;
using testing_support::FaultRule;
using testing_support::FaultyFileSystem;
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

// Root reads and searches every folder: where a test needs a folder that
// cannot be, it acts as nobody for a while.
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

// The walk reaches every folder whatever the length of its path, takes
// only regular files for bases (a link or a FIFO so named is told, never
// opened), and tells the folders it cannot open or list, and why.
TEST(TreeDiscoveryTest, ReachesEveryFolderAndTakesOnlyRegularFiles) {
  TempDir root, outside;
  for (const char* folder : {"Inbox", "Gone/Below", "Both"}) {
    fs::create_directories(root.File(Native(folder)));
    ASSERT_TRUE(
        WriteFile(root.File(Native(folder) + "/messages.tbb"), "12345"));
  }
  // Deep, past PATH_MAX (on Windows past MAX_PATH, within what Wine can
  // map to a POSIX path): made by names in open folders.
#ifdef _WIN32
  const int kDeep = 10;
#else
  const int kDeep = 22;
#endif
  FileSystem* real = RealFileSystem();
  const std::string deepName(200, 'd');
  std::string deepPath = "Deep";
  std::unique_ptr<Folder> at;
  ASSERT_EQ(real->OpenFolder(root.path(), &at), DWORD{ERROR_SUCCESS});
  for (int depth = 0; depth <= kDeep; ++depth) {
    const std::string name = depth == 0 ? "Deep" : deepName;
    std::unique_ptr<Folder> next;
    ASSERT_EQ(real->MakeFolder(*at, name), DWORD{ERROR_SUCCESS});
    ASSERT_EQ(real->OpenSubfolder(*at, name, &next), DWORD{ERROR_SUCCESS});
    at = std::move(next);
    if (depth > 0) deepPath = JoinPath(deepPath, deepName);
  }
  std::unique_ptr<WritableFile> base;
  ASSERT_EQ(real->CreateNewFile(*at, "Messages.tbb", &base),
            DWORD{ERROR_SUCCESS});
  ASSERT_EQ(base->Write("123", 3), DWORD{ERROR_SUCCESS});
  ASSERT_EQ(base->Close(), DWORD{ERROR_SUCCESS});
  at.reset();
  const bool posix = kPathSeparator == '/';
#ifndef _WIN32
  ASSERT_TRUE(WriteFile(outside.File("messages.tbb"), "outside"));
  fs::create_directories(root.File("Linked"));
  fs::create_symlink(outside.File("messages.tbb"),
                     root.File("Linked/messages.tbb"));
  fs::create_directories(root.File("Zero"));
  fs::create_symlink("/dev/zero", root.File("Zero/messages.tbb"));
  fs::create_directories(root.File("Fifo"));
  ASSERT_EQ(mkfifo(root.File("Fifo/messages.tbb").c_str(), 0600), 0);
  fs::create_directory_symlink(outside.path(), root.File("Both/MESSAGES.TBB"));
  fs::create_directory_symlink(root.File("Inbox"), root.File("to-inbox"));
  fs::create_directory_symlink(root.File("loop"), root.File("loop"));
  for (const char* folder : {"Locked", "Unsearchable"}) {
    fs::create_directories(root.File(folder));
    ASSERT_TRUE(
        WriteFile(root.File(std::string(folder) + "/messages.tbb"), ""));
  }
  fs::permissions(root.File("Locked"), fs::perms::none);
  fs::permissions(root.File("Unsearchable"), fs::perms::owner_read |
                                                 fs::perms::group_read |
                                                 fs::perms::others_read);
#endif

  FaultyFileSystem faulty;
  faulty.Add({Fault::kFolderGone, "Gone"});
  TreeFolders folders;
  DWORD error = 0;
  {
    AsNobody nobody;
    std::unique_ptr<Folder> open;
    ASSERT_EQ(faulty.OpenFolder(root.path(), &open), DWORD{ERROR_SUCCESS});
    ASSERT_TRUE(DiscoverTree(&faulty, *open, &folders, &error));
  }
#ifndef _WIN32
  fs::permissions(root.File("Locked"), fs::perms::owner_all);
  fs::permissions(root.File("Unsearchable"), fs::perms::owner_all);
#endif

  struct Row {
    std::string path, base;
    uint64_t size;
    std::string skipped;
    DWORD listError;
    EntryKind kind;  // of what is skipped
  };
  std::vector<Row> expected = {
      {"", "", 0, "", 0, EntryKind::kOther},
      {"Both", "messages.tbb", 5, "", 0, EntryKind::kOther}};
  if (posix)
    expected.push_back({"Both", "", 0, "MESSAGES.TBB", 0, EntryKind::kLink});
  expected.push_back({"Deep", "", 0, "", 0, EntryKind::kOther});
  std::string deep = "Deep";
  for (int depth = 1; depth <= kDeep; ++depth) {
    deep += "/" + deepName;
    expected.push_back({deep, depth == kDeep ? "Messages.tbb" : "",
                        depth == kDeep ? 3u : 0u, "", 0, EntryKind::kOther});
  }
  if (posix)
    expected.push_back({"Fifo", "", 0, "messages.tbb", 0, EntryKind::kOther});
  expected.push_back(
      {"Gone", "", 0, "", ERROR_PATH_NOT_FOUND, EntryKind::kOther});
  expected.push_back({"Inbox", "messages.tbb", 5, "", 0, EntryKind::kOther});
  if (posix) {
    expected.push_back({"Linked", "", 0, "messages.tbb", 0, EntryKind::kLink});
    expected.push_back(
        {"Locked", "", 0, "", ERROR_ACCESS_DENIED, EntryKind::kOther});
    expected.push_back(
        {"Unsearchable", "", 0, "", ERROR_ACCESS_DENIED, EntryKind::kOther});
    expected.push_back({"Zero", "", 0, "messages.tbb", 0, EntryKind::kLink});
  }
  ASSERT_EQ(folders.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const TreeFolder& f = folders[i];
    const Row& e = expected[i];
    SCOPED_TRACE(e.path.substr(0, 40));
    EXPECT_EQ(f.path, Native(e.path));
    EXPECT_EQ(f.baseName, e.base);
    EXPECT_EQ(f.baseSize, e.size);
    EXPECT_EQ(f.state, e.base.empty() ? TreeBaseState::kNoBase
                                      : TreeBaseState::kWaiting);
    EXPECT_EQ(f.skippedName, e.skipped);
    EXPECT_EQ(f.skippedKind, e.kind);
    EXPECT_EQ(f.listError, e.listError);
  }
  EXPECT_GT(deep.size(), kDeep * 200u);
}

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
      // The run's journal and the layout's own file take these names.
      ".korvane-run/messages.tbb",
      "korvane-try/messages.tbb",
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
  }

  TreeFolders folders;
  DWORD error = 0;
  ASSERT_TRUE(DiscoverTree(root.path(), &folders, &error));
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
      {".korvane-run", ".korvane-run-2", true, 5},
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
  expected.push_back({"korvane-try", "korvane-try-2", true, 5});
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
    // A base's file is made by its conversion; only the hierarchy's now.
    if (!e.output.empty() && !f.HasBase()) files.push_back(e.output);
  }
  std::sort(files.begin(), files.end());
  EXPECT_EQ(FilesBelow(out.path()), files);
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

// Where the target refuses a folder's own name, its place is "folder-N";
// where even that cannot be made, the error names the folder's own place.
TEST(TreeLayoutTest, RefusedNamesFallBackAndFailuresNameTheFolder) {
  TempDir root;
  for (const char* folder : {"Archive/2001", "Inbox"}) {
    fs::create_directories(root.File(Native(folder)));
    ASSERT_TRUE(WriteFile(root.File(Native(folder) + "/messages.tbb"), "1"));
  }
  const struct {
    bool maildir;
    std::vector<FaultRule> rules;
    size_t folder;      // 1 Archive, 3 Inbox
    std::string place;  // the folder's place; "" when Prepare fails
    std::string error;  // after OUTDIR's name
  } kCases[] = {
      {false, {{Fault::kNameRefused, "Inbox"}}, 3, "folder-3", ""},
      {true, {{Fault::kNameRefused, ".Archive"}}, 1, ".folder-1", ""},
      // The first create is the layout's own file to try names with.
      {false, {{Fault::kCreateFails, "", 2}}, 1, "", "/Archive: access denied"},
      {true, {{Fault::kCreateFails, ".*"}}, 1, "", "/.Archive: access denied"},
      {true, {{Fault::kCreateFails, "tmp"}}, 1, "", ": access denied"},
      {false,
       {{Fault::kNameRefused, "Inbox"},
        {Fault::kRenameFails, ".korvane-try.partial", 2}},
       3,
       "",
       "/Inbox: the name is not valid there (nor as folder-3: access "
       "denied)"},
      {false,
       {{Fault::kFolderGone, "Archive.sbd"}},
       2,
       "",
       "/Archive.sbd/2001: no such folder"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.error);
    TempDir out;
    TreeFolders folders;
    DWORD error = 0;
    ASSERT_TRUE(DiscoverTree(root.path(), &folders, &error));
    ASSERT_EQ(folders[3].path, "Inbox");
    FaultyFileSystem faulty;
    for (const FaultRule& rule : c.rules) faulty.Add(rule);
    MboxTreeLayout mbox(&faulty);
    MaildirTreeLayout maildir(&faulty);
    TreeLayout* layout = c.maildir ? static_cast<TreeLayout*>(&maildir)
                                   : static_cast<TreeLayout*>(&mbox);
    std::unique_ptr<Folder> outDir;
    ASSERT_EQ(faulty.OpenFolder(out.path(), &outDir), DWORD{ERROR_SUCCESS});
    std::string why;
    EXPECT_EQ(PlaceFolders(layout, *outDir, "OUT", "Mail", &folders, &why),
              c.error.empty());
    EXPECT_EQ(why,
              c.error.empty() ? "" : "can't create " + Native("OUT" + c.error));
    EXPECT_EQ(folders[c.folder].output, c.place);
    EXPECT_EQ(folders[c.folder].renamedBecause.empty(), c.place.empty());
  }
}

TEST(TreeDiscoveryTest, RootThatCannotBeListed) {
  TempDir dir;
  TreeFolders folders;
  DWORD error = 0;
  EXPECT_FALSE(DiscoverTree(dir.File("missing"), &folders, &error));
  EXPECT_EQ(error, DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_TRUE(folders.empty());
}

TEST(TreePathsTest, LastNamesAndOrder) {
  const std::string s(1, kPathSeparator);
  const std::string a = s + "m" + s + "Mail";
  EXPECT_EQ(LastName(a), "Mail");
  EXPECT_EQ(ParentPath(a), s + "m");
  EXPECT_EQ(ParentPath(s + "m"), s);
#ifdef _WIN32
  EXPECT_EQ(LastName("C:\\"), "");
#else
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
