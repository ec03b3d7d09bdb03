// The parallel run over a tree, in process: every base converted once on
// the worker threads, progress only on the caller's thread, biggest bases
// first, and a failing output that stops the run. The names hold "Thread"
// for the thread-sanitizer stage.
#include "tree/tree_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "base_builder.h"
#include "io/mapped_file.h"
#include "io/paths.h"
#include "maildir/maildir_tree_layout.h"
#include "mbox/mbox_tree_layout.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;
using testing_support::WriteFile;

// A base of n messages.
std::string Base(int n) {
  mkbase::BaseBuilder b;
  for (int i = 0; i < n; ++i)
    b.AddMessage("Subject: " + std::to_string(i) + "\r\n\r\n" +
                     std::string(100 * n, 'x') + "\r\n",
                 1000000000u + i);
  return b.Build();
}

class Recorder : public TreeProgress {
 public:
  void Advanced(const TreeProgressState& s) override {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    EXPECT_LE(s.bytesDone, s.bytesTotal);
    EXPECT_LE(s.basesDone, s.basesTotal);
    last = s;
    ++calls;
  }
  std::thread::id caller = std::this_thread::get_id();
  TreeProgressState last;
  int calls = 0;
};

struct Tree {
  TempDir root, out;
  TreeFolders folders;
  MboxTreeLayout layout;
  std::unique_ptr<Folder> rootFolder, outFolder;

  TreeRunSummary Run(const TreeRunOptions& options, TreeProgress* progress) {
    FileSystem* real = RealFileSystem();
    EXPECT_EQ(real->OpenFolder(root.path(), &rootFolder), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(real->OpenFolder(out.path(), &outFolder), DWORD{ERROR_SUCCESS});
    return RunTree(*rootFolder, *outFolder, out.path(), &layout, options,
                   &folders, progress);
  }
};

// Folders A1..An below ROOT, Ai's base with i messages.
void Build(Tree* t, int n) {
  for (int i = 1; i <= n; ++i) {
    fs::create_directories(t->root.File("A" + std::to_string(i)));
    ASSERT_TRUE(WriteFile(
        t->root.File("A" + std::to_string(i) + "/" + kBaseFileName), Base(i)));
  }
  DWORD error = 0;
  ASSERT_TRUE(DiscoverTree(t->root.path(), &t->folders, &error));
  std::string why;
  ASSERT_TRUE(
      PlaceFolders(&t->layout, t->out.path(), "Root", &t->folders, &why));
}

TEST(TreeRunnerTest, ThreadsConvertEveryBaseOnceBiggestFirst) {
  Tree t;
  Build(&t, 7);
  // Tree order is A1..A7 after ROOT; the biggest base is A7's.
  EXPECT_EQ(ConversionOrder(t.folders),
            (std::vector<size_t>{7, 6, 5, 4, 3, 2, 1}));

  TreeRunOptions options;
  options.jobs = 3;
  Recorder progress;
  TreeRunSummary summary = t.Run(options, &progress);
  EXPECT_FALSE(summary.stopped);
  ASSERT_GE(progress.calls, 1);
  EXPECT_EQ(progress.last.basesDone, 7);
  EXPECT_EQ(progress.last.basesTotal, 7);
  EXPECT_EQ(progress.last.bytesDone, progress.last.bytesTotal);
  for (size_t i = 1; i < t.folders.size(); ++i) {
    const TreeFolder& f = t.folders[i];
    SCOPED_TRACE(f.path);
    EXPECT_EQ(f.state, TreeBaseState::kDone);
    EXPECT_EQ(f.result.outcome, ConversionOutcome::kConverted);
    EXPECT_EQ(f.result.messages, static_cast<int>(i));
    EXPECT_EQ(ReadFileOrEmpty(JoinPath(t.out.path(), f.output)).size(),
              f.result.bytesWritten);
  }
}

TEST(TreeRunnerTest, OutputThatCannotBeWrittenStopsTheThreads) {
  Tree t;
  Build(&t, 4);
  // The biggest base's output cannot be given its name: a folder stands
  // there. Its place is told with the folder, as it would be where the
  // layout had to fall back to a name of its own.
  const std::string blocked = JoinPath(t.out.path(), t.folders[4].output);
  fs::create_directory(blocked);
  t.folders[4].renamedBecause = "a fallback";

  TreeRunOptions options;
  options.jobs = 1;
  TreeRunSummary summary = t.Run(options, nullptr);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.stopReason.Text().rfind(blocked + " (the folder A4): ", 0),
            0u)
      << summary.stopReason.Text();
  EXPECT_EQ(t.folders[4].result.outcome, ConversionOutcome::kCantWriteOutput);
  EXPECT_TRUE(fs::is_empty(blocked));
  for (size_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(t.folders[i].state, TreeBaseState::kNotStarted);
    EXPECT_EQ(ReadFileOrEmpty(JoinPath(t.out.path(), t.folders[i].output)), "");
  }
}

// Deep, past PATH_MAX (on Windows past MAX_PATH, within what Wine can map
// to a POSIX path): the base is read and its output made by names in open
// folders, the output as deep as the base.
#ifdef _WIN32
const int kDeep = 10;
#else
const int kDeep = 22;
#endif

// The bytes of the file at relative below folder, read through the seam.
std::string ReadBelow(const Folder& folder, const std::string& relative) {
  FolderBelow at;
  MappedFile file;
  const std::string name = LastName(relative);
  if (at.Open(RealFileSystem(), folder,
              relative.substr(0, relative.size() - name.size())) !=
          ERROR_SUCCESS ||
      !file.OpenIn(RealFileSystem(), at.get(), name))
    return std::string();
  return std::string(reinterpret_cast<const char*>(file.viewBase), file.size);
}

TEST(TreeRunnerTest, ConvertsBasesBelowPathsLongerThanTheSystemTakes) {
  Tree t, shallow;
  FileSystem* real = RealFileSystem();
  std::unique_ptr<Folder> at;
  ASSERT_EQ(real->OpenFolder(t.root.path(), &at), DWORD{ERROR_SUCCESS});
  for (int depth = 0; depth < kDeep; ++depth) {
    std::unique_ptr<Folder> next;
    ASSERT_EQ(real->MakeFolder(*at, std::string(200, 'd')),
              DWORD{ERROR_SUCCESS});
    ASSERT_EQ(real->OpenSubfolder(*at, std::string(200, 'd'), &next),
              DWORD{ERROR_SUCCESS});
    at = std::move(next);
  }
  std::unique_ptr<WritableFile> base;
  const std::string bytes = Base(5);
  ASSERT_EQ(real->CreateNewFile(*at, kBaseFileName, &base),
            DWORD{ERROR_SUCCESS});
  ASSERT_EQ(base->Write(bytes.data(), bytes.size()), DWORD{ERROR_SUCCESS});
  ASSERT_EQ(base->Close(), DWORD{ERROR_SUCCESS});
  at.reset();
  Build(&t, 0);
  Build(&shallow, 5);
  ASSERT_EQ(t.folders.back().HasBase(), true);

  TreeRunSummary summary = t.Run(TreeRunOptions(), nullptr);
  EXPECT_FALSE(summary.stopped) << summary.stopReason.Text();
  const TreeFolder& deep = t.folders.back();
  EXPECT_EQ(deep.result.outcome, ConversionOutcome::kConverted);
  EXPECT_GT(JoinPath(t.out.path(), deep.output).size(), kDeep * 200u);
  shallow.Run(TreeRunOptions(), nullptr);
  EXPECT_EQ(ReadBelow(*t.outFolder, deep.output),
            ReadFileOrEmpty(JoinPath(shallow.out.path(), "A5")));
}

}  // namespace
