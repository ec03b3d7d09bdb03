// The file-system seam on the real disk: what the program relies on. It
// never replaces, never follows a link where a name is opened in a folder,
// knows no length limit, and tells where a folder lies by identity.
#include "io/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "io/mapped_file.h"
#include "io/paths.h"
#include "test_support.h"

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;
using testing_support::WriteFile;

FileSystem* const kReal = RealFileSystem();

std::unique_ptr<Folder> Open(const std::string& path) {
  std::unique_ptr<Folder> folder;
  EXPECT_EQ(kReal->OpenFolder(path, &folder), DWORD{ERROR_SUCCESS}) << path;
  return folder;
}

DWORD Create(const Folder& folder, const std::string& name,
             const std::string& bytes) {
  std::unique_ptr<WritableFile> file;
  DWORD error = kReal->CreateNewFile(folder, name, &file);
  if (error == ERROR_SUCCESS) error = file->Write(bytes.data(), bytes.size());
  if (error == ERROR_SUCCESS) error = file->Close();
  return error;
}

TEST(FileSystemTest, NeverReplaces) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir.File("a"), "old a"));
  ASSERT_TRUE(WriteFile(dir.File("b"), "old b"));
  fs::create_directory(dir.File("sub"));
  std::unique_ptr<Folder> top = Open(dir.path()), sub;
  ASSERT_EQ(kReal->OpenSubfolder(*top, "sub", &sub), DWORD{ERROR_SUCCESS});

  EXPECT_EQ(Create(*top, "a", "new"), DWORD{ERROR_FILE_EXISTS});
  EXPECT_EQ(Create(*top, "sub", "new"), DWORD{ERROR_FILE_EXISTS});
  EXPECT_EQ(kReal->MakeFolder(*top, "a"), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(kReal->Rename(*top, "a", *top, "b"), DWORD{ERROR_ALREADY_EXISTS});
  EXPECT_EQ(ReadFileOrEmpty(dir.File("a")), "old a");
  EXPECT_EQ(ReadFileOrEmpty(dir.File("b")), "old b");
  // Between folders, and into a free name.
  EXPECT_EQ(kReal->Rename(*top, "a", *sub, "a2"), DWORD{ERROR_SUCCESS});
  EXPECT_EQ(ReadFileOrEmpty(dir.File("sub/a2")), "old a");
  for (const char* name : {"", ".", "..", "x/y"})
    EXPECT_EQ(kReal->MakeFolder(*top, name), DWORD{ERROR_INVALID_NAME});
  sub.reset();  // on Windows an open folder cannot be removed at all
  EXPECT_EQ(kReal->RemoveFolder(*top, "sub"), DWORD{ERROR_DIR_NOT_EMPTY});
}

#ifndef _WIN32
TEST(FileSystemTest, NeverFollowsALinkAndListsEveryKind) {
  TempDir dir, outside;
  fs::create_directory(dir.File("folder"));
  ASSERT_TRUE(WriteFile(dir.File("file"), "12345"));
  fs::create_directory_symlink(outside.path(), dir.File("to-folder"));
  fs::create_symlink(dir.File("file"), dir.File("to-file"));
  fs::create_symlink(outside.File("new"), dir.File("dangling"));
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  std::unique_ptr<Folder> top = Open(dir.path()), folder;

  EXPECT_EQ(kReal->OpenSubfolder(*top, "to-folder", &folder),
            DWORD{ERROR_STOPPED_ON_SYMLINK});
  EXPECT_EQ(kReal->OpenSubfolder(*top, "file", &folder),
            DWORD{ERROR_DIRECTORY});
  EXPECT_EQ(kReal->OpenSubfolder(*top, "none", &folder),
            DWORD{ERROR_PATH_NOT_FOUND});
  EXPECT_EQ(Create(*top, "dangling", "x"), DWORD{ERROR_FILE_EXISTS});
  EXPECT_FALSE(testing_support::FileExists(outside.File("new")));
  MappedFile base;
  for (const char* name : {"to-file", "fifo", "folder"}) {
    EXPECT_FALSE(base.OpenIn(kReal, *top, name)) << name;
    EXPECT_EQ(GetLastError(),
              std::string(name) == "to-file" ? DWORD{ERROR_STOPPED_ON_SYMLINK}
              : std::string(name) == "fifo"  ? DWORD{ERROR_BAD_FILE_TYPE}
                                             : DWORD{ERROR_ACCESS_DENIED});
  }
  ASSERT_TRUE(base.OpenIn(kReal, *top, "file"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(base.viewBase), 5),
            "12345");

  std::vector<FolderEntry> entries;
  ASSERT_EQ(kReal->List(*top, &entries), DWORD{ERROR_SUCCESS});
  std::map<std::string, std::pair<EntryKind, uint64_t>> seen;
  for (const FolderEntry& e : entries) seen[e.name] = {e.kind, e.size};
  const std::map<std::string, std::pair<EntryKind, uint64_t>> expected = {
      {"folder", {EntryKind::kFolder, 0}},  {"file", {EntryKind::kFile, 5}},
      {"to-folder", {EntryKind::kLink, 0}}, {"to-file", {EntryKind::kLink, 0}},
      {"dangling", {EntryKind::kLink, 0}},  {"fifo", {EntryKind::kOther, 0}}};
  EXPECT_EQ(seen, expected);
}
#endif

// Folders this deep have paths far past PATH_MAX; on Windows past
// MAX_PATH, and within what Wine can map to a POSIX path.
#ifdef _WIN32
const int kDeep = 12;
#else
const int kDeep = 25;
#endif

// Paths too long for the system's calls are reached by names in open
// folders and by the whole path's text.
TEST(FileSystemTest, KnowsNoLengthLimit) {
  TempDir dir;
  const std::string name(200, 'd');
  std::unique_ptr<Folder> at = Open(dir.path());
  std::string path = dir.path();
  for (int depth = 0; depth < kDeep; ++depth) {
    ASSERT_EQ(kReal->MakeFolder(*at, name), DWORD{ERROR_SUCCESS}) << depth;
    std::unique_ptr<Folder> next;
    ASSERT_EQ(kReal->OpenSubfolder(*at, name, &next), DWORD{ERROR_SUCCESS});
    at = std::move(next);
    path = JoinPath(path, name);
  }
  ASSERT_GT(path.size(), kDeep * 200u);
  ASSERT_EQ(Create(*at, "messages.tbb", "bytes"), DWORD{ERROR_SUCCESS});
  ASSERT_EQ(kReal->Rename(*at, "messages.tbb", *at, "m"), DWORD{ERROR_SUCCESS});
  MappedFile base;
  ASSERT_TRUE(base.OpenIn(kReal, *at, "m"));
  EXPECT_EQ(base.size, 5u);
  base.Close();

  std::unique_ptr<Folder> again = Open(path);
  FileIdentity a, b;
  ASSERT_EQ(kReal->Identify(*at, &a), DWORD{ERROR_SUCCESS});
  ASSERT_EQ(kReal->Identify(*again, &b), DWORD{ERROR_SUCCESS});
  EXPECT_EQ(a, b);
  std::vector<FolderEntry> entries;
  ASSERT_EQ(kReal->List(*again, &entries), DWORD{ERROR_SUCCESS});
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "m");
  EXPECT_EQ(kReal->RemoveFile(*again, "m"), DWORD{ERROR_SUCCESS});
}

// Whether OUTDIR (or the nearest folder of its path that exists) lies in
// ROOT, by identity: a link or a bind mount to ROOT does not hide it.
TEST(FileSystemTest, TellsWhereAFolderLies) {
  TempDir dir;
  for (const char* sub : {"root/a/b", "beside"})
    fs::create_directories(dir.File(sub));
#ifndef _WIN32
  fs::create_directory_symlink(dir.File("root/a"), dir.File("beside/to-a"));
#endif
  std::unique_ptr<Folder> root = Open(dir.File("root"));
  FileIdentity rootIdentity;
  ASSERT_EQ(kReal->Identify(*root, &rootIdentity), DWORD{ERROR_SUCCESS});
  const struct {
    const char* folder;
    bool below;
  } kCases[] = {
      {"root", true},        {"root/a/b", true},
      {"beside", false},     {".", false},  // around it
#ifndef _WIN32
      {"beside/to-a", true},
#endif
  };
  for (const auto& c : kCases) {
    bool below = !c.below;
    EXPECT_EQ(
        IsSameOrBelow(kReal, *Open(dir.File(c.folder)), rootIdentity, &below),
        DWORD{ERROR_SUCCESS});
    EXPECT_EQ(below, c.below) << c.folder;
  }
}

#ifndef _WIN32
TEST(FileSystemTest, TellsABindMountOfTheFolder) {
  if (geteuid() != 0)
    GTEST_SKIP() << "a bind mount needs root; this runs as user " << geteuid();
  TempDir dir;
  fs::create_directories(dir.File("root/a"));
  fs::create_directories(dir.File("alias"));
  // In a mount namespace of its own, which goes with the child.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(dir.File("root").c_str(), dir.File("alias").c_str(), nullptr,
              MS_BIND, nullptr) != 0)
      _exit(77);
    std::unique_ptr<Folder> root, alias;
    FileIdentity identity;
    bool below = false;
    if (kReal->OpenFolder(dir.File("root"), &root) != ERROR_SUCCESS ||
        kReal->OpenFolder(dir.File("alias/a"), &alias) != ERROR_SUCCESS ||
        kReal->Identify(*root, &identity) != ERROR_SUCCESS ||
        IsSameOrBelow(kReal, *alias, identity, &below) != ERROR_SUCCESS)
      _exit(2);
    _exit(below ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no mount namespace of its own here (a container?)";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "alias/a not seen inside root";
}
#endif

}  // namespace
