// Whole conversions on a file system that fails on purpose: one base into
// an open folder, and the program's tree mode on a tree. Each fault gives
// its error and status, nothing is replaced, and whatever has a name
// afterwards is whole: the same bytes as the run without the fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base_builder.h"
#include "console/run.h"
#include "convert/conversion.h"
#include "faulty_file_system.h"
#include "maildir/maildir_name.h"
#include "run/run_status.h"
#include "test_support.h"
#include "tree/run_journal.h"

namespace fs = std::filesystem;

namespace {

using testing_support::Fault;
using testing_support::FaultyFileSystem;
using testing_support::ReadFileOrEmpty;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Base(int messages, size_t size) {
  return mkbase::UniformBase(messages, size, 60u);
}

typedef testing_support::OutputTree Outputs;

Outputs Read(const std::string& folder, int* leftovers) {
  return testing_support::ReadOutputTree(folder, leftovers);
}

// The reference's name of a place: placeAs "X=Y" where the layout fell
// back to X.
std::string Mapped(const std::string& place, const std::string& placeAs) {
  const size_t is = placeAs.find('=');
  const std::string from = placeAs.substr(0, is);
  if (placeAs.empty() || place.compare(0, from.size(), from) != 0 ||
      (place.size() > from.size() && place[from.size()] != '/'))
    return place;
  return placeAs.substr(is + 1) + place.substr(from.size());
}

// Whether every output is whole: the reference's place holds the same
// files, or more.
void ExpectWhole(const Outputs& outputs, const Outputs& reference,
                 const std::string& placeAs) {
  for (const auto& o : outputs) {
    const std::string place = Mapped(o.first, placeAs);
    SCOPED_TRACE(place);
    ASSERT_EQ(reference.count(place), 1u);
    const std::multiset<std::string>& all = reference.at(place);
    EXPECT_TRUE(std::includes(all.begin(), all.end(), o.second.begin(),
                              o.second.end()));
  }
}

struct Row {
  const char* run;  // "tree" or "one" base, "-m" for a Maildir
  Fault fault;
  std::string name;  // the fault's
  int from;          // the n-th call that fails, and those after it
  int status;
  const char* said;  // in the console (tree) or the reason (one base)
  const char* placeAs = "";
  bool taken = false;  // the output's name is taken already (no fault)
};

class FaultTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"Mail/Big", "Mail/Archive/2001", "Mail/Small"})
      fs::create_directories(dir.File(folder));
    ASSERT_TRUE(WriteFile(dir.File("Mail/Big/messages.tbb"), Base(300, 2000)));
    ASSERT_TRUE(
        WriteFile(dir.File("Mail/Archive/2001/messages.tbb"), Base(4, 300)));
    ASSERT_TRUE(WriteFile(dir.File("Mail/Small/messages.tbb"), Base(2, 100)));
    for (bool maildir : {false, true}) {
      ASSERT_EQ(Tree(RealFileSystem(), maildir, Ref(maildir)), kRunDone);
      int leftovers = 0;
      reference[maildir] = Read(Ref(maildir), &leftovers);
    }
  }
  std::string Ref(bool maildir) { return dir.File(maildir ? "ref-m" : "ref"); }

  // The tree mode into out; what it printed in *said.
  int Tree(FileSystem* fs, bool maildir, const std::string& out,
           std::string* said = nullptr) {
    RunRequest request;
    request.source = dir.File("Mail");
    request.destination = out;
    request.tree = true;
    request.kind = maildir ? OutputKindOfLetter('m') : nullptr;
    request.jobs = 1;
    request.fs = fs;
    ::testing::internal::CaptureStdout();
    const int status = RunOnConsole(request);
    const std::string console = ::testing::internal::GetCapturedStdout();
    if (said != nullptr) *said = console;
    return status;
  }

  // The Big folder's base into the folder out as "box".
  ConversionResult One(FileSystem* fs, bool maildir, const std::string& out) {
    fs::create_directories(out);
    std::unique_ptr<Folder> top, in, place;
    EXPECT_EQ(fs->OpenFolder(dir.File("Mail"), &top), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(fs->OpenSubfolder(*top, "Big", &in), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(fs->OpenFolder(out, &place), DWORD{ERROR_SUCCESS});
    ConversionOptions options;
    const std::unique_ptr<Destination> box =
        (maildir ? *OutputKindOfLetter('m') : DefaultOutputKind())
            .destination("box");
    options.destination = box.get();
    options.fs = fs;
    options.baseFolder = in.get();
    options.outputFolder = place.get();
    return ConvertBase("messages.tbb", "box", options, nullptr);
  }

  TempDir dir;
  Outputs reference[2];
};

TEST_F(FaultTableTest, EveryFaultIsToldAndLeavesOnlyWholeOutputs) {
  const std::string host = "*." + LocalHostNamePart();
  const Row kRows[] = {
      // Tree runs, one base at a time, the biggest (Big) first.
      {"tree", Fault::kCreateFails, ".Big.partial", 1, 2,
       "failed: can't create the output: access denied"},
      // The layout's try of the name renames it once.
      {"tree", Fault::kRenameFails, ".Big.partial", 2, 2,
       "failed: can't write the output: access denied"},
      {"tree", Fault::kDiskFull, ".Big.partial", 2, 2,
       "failed: can't write the output: the disk is full"},
      {"tree", Fault::kNameRefused, "Big", 1, 0,
       "converted (written as folder-3: the name \"Big\" cannot be used",
       "folder-3=Big"},
      {"tree", Fault::kNameRefused, "Big", 2, 2,
       "failed: can't write the output: the name is not valid there"},
      // Its fourth call: the layout's three made Archive.sbd/2001's place.
      {"tree", Fault::kFolderGone, "Archive.sbd", 4, 2,
       "failed: can't create the output: no such folder"},
      {"tree", Fault::kDiskFull, kJournalName, 3, 2,
       "error: the run stopped: can't write "},
      {"tree", Fault::kCreateFails, kJournalName, 1, 2, "error: can't create "},
      {"tree -m", Fault::kCreateFails, host, 5, 2,
       "failed: can't write the output: access denied"},
      {"tree -m", Fault::kRenameFails, host, 3, 2,
       "failed: can't write the output: access denied"},
      {"tree -m", Fault::kDiskFull, host, 4, 2,
       "failed: can't write the output: the disk is full"},
      // Gone after the walk opened and listed it: the others carry on.
      {"tree -m", Fault::kFolderGone, "Small", 3, 2,
       "failed: can't open the base: no such folder\n3 folders"},
      {"tree -m", Fault::kNameRefused, ".Big", 1, 0,
       "(written as .folder-3:", ".folder-3=.Big"},
      // One base into an open folder.
      {"one", Fault::kCreateFails, ".box.partial", 1, 2, "access denied"},
      {"one", Fault::kRenameFails, ".box.partial", 1, 2, "access denied"},
      {"one", Fault::kDiskFull, ".box.partial", 2, 2, "the disk is full"},
      {"one", Fault::kNameRefused, "box", 1, 2, "the name is not valid there"},
      {"one", Fault::kFolderGone, "Big", 2, 2, "no such folder"},
      {"one", Fault::kCreateFails, "", 0, 2, "the file exists already", "",
       true},
      {"one -m", Fault::kCreateFails, host, 3, 2, "access denied"},
      {"one -m", Fault::kRenameFails, host, 3, 2, "access denied"},
      {"one -m", Fault::kDiskFull, host, 3, 2, "the disk is full"},
      {"one -m", Fault::kNameRefused, "box", 1, 2,
       "the name is not valid there"},
      {"one -m", Fault::kCreateFails, "", 0, 2, "the file exists already", "",
       true},
  };
  // The single base's reference: Big's output in the tree.
  Outputs single[2];
  single[0]["box"] = reference[0].at("Big");
  single[1]["box"] = reference[1].at(".Big");

  int n = 0;
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::to_string(n) + ": " + row.said);
    const std::string out = dir.File("out" + std::to_string(n++));
    const bool tree = row.run[0] == 't';
    const bool maildir = std::string(row.run).find("-m") != std::string::npos;
    FaultyFileSystem faulty;
    if (!row.taken) faulty.Add({row.fault, row.name, row.from});
    if (row.taken) {
      fs::create_directories(out + (maildir ? "/box" : ""));
      ASSERT_TRUE(WriteFile(out + (maildir ? "/box/x" : "/box"), "keep"));
    }
    std::string said;
    if (tree) {
      EXPECT_EQ(Tree(&faulty, maildir, out, &said), row.status);
    } else {
      const ConversionResult r = One(&faulty, maildir, out);
      EXPECT_EQ(int(StatusOfOutcome(r.outcome)), row.status);
      said = r.failure.Text();
    }
    EXPECT_NE(said.find(row.said), std::string::npos) << said;
    EXPECT_TRUE(row.taken || faulty.Failed() > 0);
    if (!fs::exists(out)) continue;
    int leftovers = 0;
    const Outputs after = Read(out, &leftovers);
    EXPECT_EQ(leftovers, 0);
    if (row.taken) {
      EXPECT_EQ(after, (Outputs{{maildir ? "box/x" : "box", {"keep"}}}));
      continue;
    }
    const Outputs& whole = tree ? reference[maildir] : single[maildir];
    ExpectWhole(after, whole, row.placeAs);
    // Whatever the journal tells finished is there, all of it.
    std::unique_ptr<Folder> open;
    JournalContents journal;
    if (!tree || RealFileSystem()->OpenFolder(out, &open) != ERROR_SUCCESS ||
        ReadJournal(RealFileSystem(), *open, &journal) != ERROR_SUCCESS)
      continue;
    for (const JournalDone& d : journal.done)
      for (const JournalPlace& p : journal.places)
        if (p.path == d.path && p.baseName == d.baseName) {
          const std::string place =
              p.output == "." ? "" : fs::u8path(p.output).generic_u8string();
          ASSERT_EQ(after.count(place), 1u) << place;
          EXPECT_EQ(after.at(place), whole.at(Mapped(place, row.placeAs)));
        }
  }
}

}  // namespace
