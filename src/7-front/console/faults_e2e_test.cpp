// Faults that a disk or another program can cause, each run end to end with
// the built korvane: the run must end with a clear error and the right
// status, never hang or die by a signal, and leave the base as it was.
// Linux only: the tests build their faults with FIFOs, inotify and users.
#include <gtest/gtest.h>

#if defined(__linux__)

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "base_builder.h"
#include "synthetic_messages.h"
#include "test_support.h"

namespace {

using testing_support::FileExists;
using testing_support::ProgramResult;
using testing_support::ReadFileOrEmpty;
using testing_support::RunKorvaneBinary;
using testing_support::RunProgram;
using testing_support::TempDir;

const char kBanner[] =
    "korvane v" KORVANE_VERSION " - message base to unix mailbox converter\n";

std::string SmallBase(const std::string& subject) {
  mkbase::BaseBuilder b;
  b.AddMessage("Return-Path: <a@example.org>\r\nSubject: " + subject +
                   "\r\n\r\nFrom here\r\n",
               1000000000u);
  b.AddMessage("\r\nno header block\r\n", 1000003600u);
  return b.Build();
}

// Synthetic messages up to about size bytes.
std::string LargeBase(uint64_t size) {
  mkbase::BaseBuilder b;
  mkbase::AddSyntheticMessages(&b, 11, SIZE_MAX, size,
                               mkbase::SyntheticOptions());
  return b.Build();
}

struct stat StatOf(const std::string& path) {
  struct stat st;
  memset(&st, 0, sizeof st);
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// A folder with bases in it; checks afterwards that no run changed them.
class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("TZ", "UTC", 1); }

  void Put(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(testing_support::WriteFile(dir.File(name), bytes));
    Keep(name);
  }
  // Files too large to compare byte by byte (sparse ones) are kept by
  // their size and their modification and change times.
  void Keep(const std::string& name) {
    Kept k;
    k.name = name;
    k.st = StatOf(dir.File(name));
    k.compareBytes = k.st.st_size < (int64_t{64} << 20);
    if (k.compareBytes) k.bytes = ReadFileOrEmpty(dir.File(name));
    kept.push_back(k);
  }
  void Forget(const std::string& name) {
    for (size_t i = 0; i < kept.size(); ++i)
      if (kept[i].name == name) kept.erase(kept.begin() + i--);
  }
  ProgramResult Run(const std::vector<std::string>& args) {
    return RunKorvaneBinary(args, dir.path());
  }
  void TearDown() override {
    for (const Kept& k : kept) {
      struct stat now = StatOf(dir.File(k.name));
      EXPECT_EQ(k.st.st_size, now.st_size) << k.name << " changed";
      EXPECT_TRUE(SameTime(k.st.st_mtim, now.st_mtim)) << k.name << " changed";
      EXPECT_TRUE(SameTime(k.st.st_ctim, now.st_ctim)) << k.name << " changed";
      // Not EXPECT_EQ: the line diff of two bases of megabytes would take
      // more memory than the machine has.
      if (k.compareBytes) {
        EXPECT_TRUE(k.bytes == ReadFileOrEmpty(dir.File(k.name)))
            << k.name << " changed";
      }
    }
  }

  struct Kept {
    std::string name;
    struct stat st;
    bool compareBytes;
    std::string bytes;
  };
  TempDir dir;
  std::vector<Kept> kept;
};

// korvane started in the background in workDir with standard output on
// outFd and standard input empty. Descriptors of the test must be opened
// with O_CLOEXEC, or the run holds them too: a FIFO's reader, say.
pid_t StartKorvane(const std::vector<std::string>& args,
                   const std::string& workDir, int outFd) {
  std::vector<std::string> all = {KORVANE_BINARY};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    // As a shell would start it: this process may ignore them, and an
    // ignored signal stays ignored across exec.
    signal(SIGPIPE, SIG_DFL);
    signal(SIGXFSZ, SIG_DFL);
    int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(outFd, 1) < 0 ||
        chdir(workDir.c_str()) != 0)
      _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status, or 128 + the signal that ended the process.
int WaitFor(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

// Waits until fd is readable (true) or the process pid has ended first
// (false). Without pidfd_open (Linux 5.3) a minute stands in for the end
// of the process, so that a run that ended early fails the test instead of
// hanging it.
bool WaitForInput(int fd, pid_t pid) {
  int processFd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  struct pollfd fds[2] = {{fd, POLLIN, 0}, {processFd, POLLIN, 0}};
  int ready;
  do {
    ready = poll(fds, processFd >= 0 ? 2 : 1, processFd >= 0 ? -1 : 60000);
  } while (ready < 0 && errno == EINTR);
  if (processFd >= 0) close(processFd);
  return ready > 0 && (fds[0].revents & (POLLIN | POLLHUP)) != 0;
}

std::string ReadAll(int fd) {
  std::string bytes;
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return bytes;
}

// --- The mailbox cannot be written -------------------------------------

TEST_F(FaultTest, MailboxThatCannotBeCreatedIsAWriteError) {
  Put("in.tbb", SmallBase("s"));
  ASSERT_EQ(0, mkdir(dir.File("folder").c_str(), 0755));
  const char* const cases[] = {
      "missing/out.mbx",  // a folder that is not there
      "missing/deeper/out.mbx",
      "in.tbb/out.mbx",  // a file where a folder should be
      "folder",          // a folder where the file should be
      "",                // no name at all
  };
  for (const char* mailbox : cases) {
    ProgramResult r = Run({"in.tbb", mailbox});
    EXPECT_EQ(2, r.status) << mailbox;
    EXPECT_EQ(
        std::string(kBanner) + "error: can't open " + mailbox + " for write\n",
        r.output);
  }
  EXPECT_FALSE(FileExists(dir.File("missing")));
}

// Root writes into any folder, so the run goes as an ordinary user then.
TEST_F(FaultTest, MailboxInReadOnlyFolderIsAWriteError) {
  Put("in.tbb", SmallBase("s"));
  ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
  ASSERT_EQ(0, mkdir(dir.File("ro").c_str(), 0555));
  ASSERT_EQ(0, chmod(dir.File("ro").c_str(), 0555));  // whatever the umask
  ASSERT_EQ(0, chmod(dir.File("in.tbb").c_str(), 0644));
  Forget("in.tbb");
  Keep("in.tbb");

  std::string program = KORVANE_BINARY;
  std::vector<std::string> args = {"in.tbb", "ro/out.mbx"};
  if (geteuid() == 0) {
    if (RunProgram("setpriv", {"--version"}, dir.path()).status != 0)
      GTEST_SKIP() << "running as root and setpriv is missing, so nothing "
                      "can run as a user that lacks write access";
    // nobody, with no supplementary groups.
    args.insert(args.begin(), {"--reuid=65534", "--regid=65534",
                               "--clear-groups", KORVANE_BINARY});
    program = "setpriv";
  } else if (access(dir.File("ro").c_str(), W_OK) == 0) {
    GTEST_SKIP() << "this user may write into a read-only folder";
  }
  ProgramResult r = RunProgram(program, args, dir.path());
  EXPECT_EQ(2, r.status) << r.output;
  EXPECT_EQ(std::string(kBanner) + "error: can't open ro/out.mbx for write\n",
            r.output);
  EXPECT_FALSE(FileExists(dir.File("ro/out.mbx")));
}

// The existing suite fills /dev/full with the normal scan; the recovery
// scan also writes its synthetic header blocks through the stream.
TEST_F(FaultTest, FullDeviceIsAWriteErrorInTheRecoveryScanToo) {
  Put("in.tbb", LargeBase(3 << 20));
  Put("small.tbb", SmallBase("s"));
  for (const char* base : {"in.tbb", "small.tbb"}) {
    ProgramResult r = Run({base, "/dev/full", "-a"});
    EXPECT_EQ(2, r.status) << base;
    EXPECT_TRUE(std::regex_search(
        r.output,
        std::regex("^" + std::string(kBanner) +
                   "scanning message base\\. this may take few "
                   "minutes\\.\\.\\.\n[\\s\\S]*"
                   "found \\d+ messages, time left [0-9:.]+\\.\n"
                   "error: can't write /dev/full: the disk is full\n$")))
        << base << ": " << r.output;
  }
}

// A file-size limit (ulimit -f) would kill the run by SIGXFSZ.
TEST_F(FaultTest, FileSizeLimitIsAWriteError) {
  Put("in.tbb", LargeBase(3 << 20));
  for (const char* scan : {"-d", "-a"}) {
    ProgramResult r = RunProgram(
        "sh",
        {"-c", "ulimit -f 100 && exec env --default-signal=XFSZ \"$0\" \"$@\"",
         KORVANE_BINARY, "in.tbb", "out.mbx", scan},
        dir.path());
    EXPECT_EQ(2, r.status) << scan;
    EXPECT_TRUE(std::regex_search(
        r.output,
        std::regex("found \\d+ messages, time left [0-9:.]+\\.\n"
                   "error: can't write out.mbx: the file would be larger than "
                   "the system allows\n$")))
        << scan << ": " << r.output;
  }
}

// A mailbox FIFO whose reader goes away would kill the run by SIGPIPE.
TEST_F(FaultTest, MailboxReaderThatGoesAwayIsAWriteError) {
  Put("in.tbb", LargeBase(4 << 20));
  ASSERT_EQ(0, mkfifo(dir.File("out.fifo").c_str(), 0600));
  TempDir scratch;
  for (const char* scan : {"-d", "-a"}) {
    SCOPED_TRACE(scan);
    int fifo =
        open(dir.File("out.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    std::string outputName = scratch.File("output");
    int out = open(outputName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                   0600);
    ASSERT_GE(out, 0);
    pid_t pid = StartKorvane({"in.tbb", "out.fifo", scan}, dir.path(), out);
    close(out);
    ASSERT_GT(pid, 0);
    // The first megabyte has arrived; the rest now finds no reader.
    ASSERT_TRUE(WaitForInput(fifo, pid)) << ReadFileOrEmpty(outputName);
    close(fifo);
    EXPECT_EQ(2, WaitFor(pid));
    std::string output = ReadFileOrEmpty(outputName);
    EXPECT_TRUE(std::regex_search(
        output,
        std::regex("found \\d+ messages, time left [0-9:.]+\\.\n"
                   "error: can't write out.fifo: the reader of the output "
                   "went away\n$")))
        << output;
  }
}

// --- The base changes under the run ------------------------------------

// Another program that ignores the advisory lock cuts the base while the
// run has it mapped. The mailbox is a FIFO: its first bytes arrive once the
// run has mapped the base and converted about a megabyte, and the run
// cannot get further ahead of the reader than the pipe holds.
TEST_F(FaultTest, BaseShrunkWhileMappedIsAReadError) {
  const long page = sysconf(_SC_PAGESIZE);
  const struct {
    off_t newSize;
    const char* scan;
  } cases[] = {{0, "-d"}, {page, "-d"}, {0, "-a"}, {page, "-a"}};
  const std::string original = LargeBase(16 << 20);
  TempDir scratch;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.newSize) + " " + c.scan);
    ASSERT_TRUE(testing_support::WriteFile(dir.File("big.tbb"), original));
    unlink(dir.File("out.fifo").c_str());
    ASSERT_EQ(0, mkfifo(dir.File("out.fifo").c_str(), 0600));
    // Open before the run starts, or the run's open would find no reader.
    int fifo =
        open(dir.File("out.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    std::string outputName = scratch.File("output");
    int out = open(outputName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                   0600);
    ASSERT_GE(out, 0);
    pid_t pid = StartKorvane({"big.tbb", "out.fifo", c.scan}, dir.path(), out);
    close(out);
    ASSERT_GT(pid, 0);

    ASSERT_TRUE(WaitForInput(fifo, pid)) << ReadFileOrEmpty(outputName);
    ASSERT_EQ(0, truncate(dir.File("big.tbb").c_str(), c.newSize));
    ASSERT_EQ(0, fcntl(fifo, F_SETFL, 0));
    std::string mailbox = ReadAll(fifo);
    close(fifo);
    int status = WaitFor(pid);

    std::string output = ReadFileOrEmpty(outputName);
    EXPECT_EQ(2, status) << output;
    EXPECT_EQ(0u, output.find(kBanner)) << output;
    const std::string error =
        "error: can't read big.tbb: the file shrank while it was being read\n";
    EXPECT_TRUE(
        output.size() >= error.size() &&
        output.compare(output.size() - error.size(), error.size(), error) == 0)
        << output;
    EXPECT_EQ(std::string::npos, output.find("found ")) << output;
    // The run wrote nothing into the base.
    EXPECT_EQ(original.substr(0, c.newSize),
              ReadFileOrEmpty(dir.File("big.tbb")));
    EXPECT_LT(mailbox.size(), original.size());
  }
}

// The same, but the other program appends to the base or overwrites it in
// place, size unchanged: the run reads what it mapped, or what is there
// now, and finishes; the sanitized build would catch a read out of bounds
// that changed bytes might cause.
TEST_F(FaultTest, BaseChangedWhileMappedIsReadAsItIs) {
  const std::string original = LargeBase(8 << 20);
  const size_t from = 2 << 20;  // well past what the run has read
  const struct {
    const char* change;
    std::string bytes;
    bool append;
  } cases[] = {
      {"appended", LargeBase(1 << 20), true},
      {"zeros", std::string(original.size() - from, '\0'), false},
      {"garbage", mkbase::GarbageBytes(3, original.size() - from), false},
      {"record headers",
       [&] {
         std::string h;
         while (h.size() < original.size() - from)
           h += mkbase::RecordHeader(mkbase::kRecordMagic, 48, 0, 0x7FFFFFF0u);
         return h.substr(0, original.size() - from);
       }(),
       false},
  };
  TempDir scratch;
  for (const auto& c : cases) {
    for (const char* scan : {"-d", "-a"}) {
      SCOPED_TRACE(std::string(c.change) + " " + scan);
      ASSERT_TRUE(testing_support::WriteFile(dir.File("base.tbb"), original));
      unlink(dir.File("out.fifo").c_str());
      ASSERT_EQ(0, mkfifo(dir.File("out.fifo").c_str(), 0600));
      int fifo =
          open(dir.File("out.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
      ASSERT_GE(fifo, 0);
      std::string outputName = scratch.File("output");
      int out = open(outputName.c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      ASSERT_GE(out, 0);
      pid_t pid = StartKorvane({"base.tbb", "out.fifo", scan}, dir.path(), out);
      close(out);
      ASSERT_GT(pid, 0);
      ASSERT_TRUE(WaitForInput(fifo, pid)) << ReadFileOrEmpty(outputName);

      int base = open(dir.File("base.tbb").c_str(), O_WRONLY | O_CLOEXEC);
      ASSERT_GE(base, 0);
      const off_t at = c.append ? off_t(original.size()) : off_t(from);
      ASSERT_EQ(ssize_t(c.bytes.size()),
                pwrite(base, c.bytes.data(), c.bytes.size(), at));
      close(base);
      ASSERT_EQ(0, fcntl(fifo, F_SETFL, 0));
      ReadAll(fifo);
      close(fifo);

      int status = WaitFor(pid);
      std::string output = ReadFileOrEmpty(outputName);
      EXPECT_EQ(0, status) << output;
      EXPECT_TRUE(std::regex_search(
          output, std::regex("found \\d+ messages, time left [0-9:.]+\\.\n$")))
          << output;
      // The run wrote nothing into the base.
      std::string expected = original;
      expected.replace(at, c.bytes.size(), c.bytes);
      EXPECT_TRUE(expected == ReadFileOrEmpty(dir.File("base.tbb")));
    }
  }
}

// --- Bases that cannot be read -----------------------------------------

TEST_F(FaultTest, SizeRefusalAtFourGiBCreatesAndEmptiesNothing) {
  ASSERT_TRUE(testing_support::WriteFile(dir.File("out.mbx"), "keep"));
  Keep("out.mbx");
  const uint64_t kGiB = uint64_t{1} << 30;
  for (uint64_t size : {4 * kGiB, 4 * kGiB + 1, 5 * kGiB}) {
    const std::string name = "huge" + std::to_string(size) + ".tbb";
    ASSERT_TRUE(
        testing_support::WriteFile(dir.File(name), mkbase::FileHeader()));
    ASSERT_EQ(0, truncate(dir.File(name).c_str(), off_t(size)));  // sparse
    Keep(name);
    for (std::vector<std::string> args : {std::vector<std::string>{name},
                                          {name, "out.mbx"},
                                          {name, "out.mbx", "-a"}}) {
      ProgramResult r = Run(args);
      EXPECT_EQ(2, r.status) << size;
      EXPECT_EQ(std::string(kBanner) + "error: can't open " + name +
                    " for read\n" +
                    "hint: message bases of 4 GiB or more are not supported\n",
                r.output);
    }
    EXPECT_FALSE(FileExists(dir.File("huge" + std::to_string(size) + ".mbx")));
  }
}

// One byte less is a base like any other: mapped and scanned.
TEST_F(FaultTest, SparseBaseJustBelowFourGiBIsScanned) {
  const std::string name = "big.tbb";
  ASSERT_TRUE(testing_support::WriteFile(dir.File(name), SmallBase("s")));
  ASSERT_EQ(0,
            truncate(dir.File(name).c_str(), off_t((uint64_t{1} << 32) - 1)));
  Keep(name);
  ProgramResult r = Run({name});
  EXPECT_EQ(0, r.status) << r.output;
  // The zeros after the two records are a broken record.
  EXPECT_TRUE(std::regex_search(
      r.output, std::regex("warning: possible corrupted message base\n"
                           "hint: use -a switch\nfound 2 messages, ")))
      << r.output;
}

TEST_F(FaultTest, BasesThatAreNoFilesAreReadErrorsWithoutHanging) {
  Put("in.tbb", SmallBase("s"));
  ASSERT_EQ(0, symlink("loop2", dir.File("loop1").c_str()));
  ASSERT_EQ(0, symlink("loop1", dir.File("loop2").c_str()));
  ASSERT_EQ(0, symlink("self", dir.File("self").c_str()));
  ASSERT_EQ(0, symlink("nowhere.tbb", dir.File("dangling").c_str()));
  ASSERT_EQ(0, mkdir(dir.File("folder").c_str(), 0755));
  ASSERT_EQ(0, mkfifo(dir.File("pipe").c_str(), 0600));
  ASSERT_EQ(0, mkfifo(dir.File("busy-pipe").c_str(), 0600));
  // A FIFO that another program holds open with data waiting: the run must
  // neither wait for more nor take what is there.
  int busy = open(dir.File("busy-pipe").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(busy, 0);
  ASSERT_EQ(5, write(busy, "bytes", 5));
  // A socket file: opening it fails at once.
  int sock = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(sock, 0);
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::string socketPath = dir.File("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(0,
            bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address));

  const char* const names[] = {
      "loop1",
      "self",
      "dangling",
      "loop1/x",
      "folder",
      "pipe",
      "busy-pipe",
      "socket",
      "/dev/zero",
      "/dev/stdin",
      "/proc/self/status",  // a regular file that reports no size
      "in.tbb/",            // a file is no folder
  };
  for (const char* name : names) {
    for (const char* scan : {"-d", "-a"}) {
      ProgramResult r = Run({name, "out.mbx", scan});
      EXPECT_EQ(2, r.status) << name << " " << scan;
      EXPECT_EQ(
          std::string(kBanner) + "error: can't open " + name + " for read\n",
          r.output);
      EXPECT_FALSE(FileExists(dir.File("out.mbx"))) << name;
    }
  }
  char waiting[8] = {};
  EXPECT_EQ(5, read(busy, waiting, sizeof waiting));
  EXPECT_STREQ("bytes", waiting);
  close(busy);
  close(sock);
}

// --- The base and the mailbox are one file ------------------------------

// Spellings beyond those of the main suite (., absolute, hard and symbolic
// link): the refusal rests on the file's identity, not on its name.
TEST_F(FaultTest, MailboxThatIsTheBaseIsRefusedUnderEverySpelling) {
  ASSERT_TRUE(testing_support::WriteFile(dir.File("base.tbb"), SmallBase("s")));
  ASSERT_EQ(0, mkdir(dir.File("sub").c_str(), 0755));
  ASSERT_EQ(0, link(dir.File("base.tbb").c_str(),
                    dir.File("sub/other-name").c_str()));
  Keep("base.tbb");  // now that the link has been counted
  ASSERT_EQ(0, symlink("base.tbb", dir.File("soft").c_str()));
  ASSERT_EQ(0, symlink("soft", dir.File("soft-to-soft").c_str()));
  ASSERT_EQ(0, symlink(".", dir.File("here").c_str()));
  ASSERT_EQ(0, symlink("sub/other-name", dir.File("soft-to-hard").c_str()));
  Put("x.mbx", SmallBase("x"));  // x.mbx's derived mailbox is itself
  ASSERT_EQ(0, mkdir(dir.File("y.tbb").c_str(), 0755));

  const std::string abs = dir.File("base.tbb");
  const std::vector<std::vector<std::string>> cases = {
      {"base.tbb", "sub/../base.tbb"},
      {"base.tbb", ".//./base.tbb"},
      {"base.tbb", "here/here/base.tbb"},
      {"base.tbb", "/" + abs},  // two leading slashes
      {"base.tbb", "/proc/self/cwd/base.tbb"},
      {"base.tbb", "sub/other-name"},
      {"base.tbb", "soft-to-soft"},
      {"base.tbb", "soft-to-hard"},
      {"soft-to-soft", "sub/other-name"},
      {"sub/other-name", "here/soft"},
      {"base.tbb", "base.tbb", "-a"},
      {"base.tbb", "here/base.tbb", "-a:3"},
      {"x.mbx"},
      {"here/x.mbx", "-a"},
      {"x.mbx", "/proc/self/cwd/x.mbx"},
  };
  for (const auto& args : cases) {
    std::string mailbox = args.size() > 1 && args[1][0] != '-'
                              ? args[1]
                              : args[0].substr(0, args[0].rfind('.')) + ".mbx";
    ProgramResult r = Run(args);
    EXPECT_EQ(2, r.status) << args[0] << " " << mailbox;
    EXPECT_EQ(std::string(kBanner) + "error: can't open " + mailbox +
                  " for write\nhint: " + mailbox +
                  " is a message base, which is never written; name another "
                  "output\n",
              r.output);
  }
}

// --- Two runs into one mailbox ------------------------------------------

// The first run is held, with the mailbox open, by a full pipe on its
// standard output: it flushes that pipe only after it has created the
// mailbox, and cannot go on until the test drains the pipe. The test learns
// that the mailbox is taken from inotify: the run empties the old mailbox
// right after it took the lock.
TEST_F(FaultTest, SecondRunIntoTheSameMailboxIsRefused) {
  Put("one.tbb", SmallBase("first run"));
  Put("two.tbb", SmallBase("second run"));
  ProgramResult reference = Run({"one.tbb", "reference.mbx"});
  ASSERT_EQ(0, reference.status);
  const std::string expected = ReadFileOrEmpty(dir.File("reference.mbx"));
  ASSERT_NE(std::string::npos, expected.find("first run"));

  const std::vector<std::string> secondMailboxes = {
      "out.mbx", "./out.mbx", dir.File("out.mbx"), "out-link"};
  for (const std::string& second : secondMailboxes) {
    SCOPED_TRACE(second);
    ASSERT_TRUE(testing_support::WriteFile(dir.File("out.mbx"), "old"));
    unlink(dir.File("out-link").c_str());
    ASSERT_EQ(0,
              link(dir.File("out.mbx").c_str(), dir.File("out-link").c_str()));

    int watch = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.File("out.mbx").c_str(), IN_MODIFY),
              0);
    int pipeFds[2];
    ASSERT_EQ(0, pipe2(pipeFds, O_CLOEXEC));
    // Fill the pipe, then let writes block again.
    ASSERT_EQ(0, fcntl(pipeFds[1], F_SETFL, O_NONBLOCK));
    std::string junk(4096, 'j');
    while (write(pipeFds[1], junk.data(), junk.size()) > 0) {
    }
    while (write(pipeFds[1], junk.data(), 1) > 0) {
    }
    ASSERT_EQ(EAGAIN, errno);
    ASSERT_EQ(0, fcntl(pipeFds[1], F_SETFL, 0));

    pid_t first = StartKorvane({"one.tbb", "out.mbx"}, dir.path(), pipeFds[1]);
    close(pipeFds[1]);
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitForInput(watch, first)) << "the first run ended early";

    ProgramResult r = Run({"two.tbb", second});
    EXPECT_EQ(2, r.status);
    EXPECT_EQ(
        std::string(kBanner) + "error: can't open " + second + " for write\n",
        r.output);

    std::string firstOutput = ReadAll(pipeFds[0]);
    close(pipeFds[0]);
    EXPECT_EQ(0, WaitFor(first));
    EXPECT_NE(std::string::npos, firstOutput.find("found 2 messages"));
    EXPECT_EQ(expected, ReadFileOrEmpty(dir.File("out.mbx")));
    close(watch);
  }
}

}  // namespace

#endif  // __linux__
