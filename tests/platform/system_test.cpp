// Operating-system services: processes, file times, paths, clock, threads.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/system.h"

namespace tarmic {
namespace {

// ---------------------------------------------------------------- processes

TEST(StartProgram, AMissingProgramIsReportedNotStarted) {
  ProcessResult r = StartProgram("tarmic-no-such-program-xyz", {"a"}, true);
  EXPECT_FALSE(r.started);
  EXPECT_NE(r.error.find("tarmic-no-such-program-xyz"), std::string::npos) << r.error;
  ProcessResult r2 = StartProgram("/no/such/dir/viewer", {}, false);
  EXPECT_FALSE(r2.started);
  EXPECT_FALSE(r2.error.empty());
}

TEST(StartProgram, WaitingGivesTheExitCode) {
  ProcessResult ok = StartProgram("/bin/true", {}, true);
  EXPECT_TRUE(ok.started);
  EXPECT_EQ(ok.exitCode, 0);
  ProcessResult fail = StartProgram("false", {}, true);  // found through PATH
  EXPECT_TRUE(fail.started);
  EXPECT_EQ(fail.exitCode, 1);
}

TEST(StartProgram, ArgumentsWithBlanksArriveWhole) {
  ProcessResult r = StartProgram("/bin/sh", {"-c", "test \"$1\" = \"a b\"", "sh", "a b"}, true);
  EXPECT_TRUE(r.started);
  EXPECT_EQ(r.exitCode, 0);
  ProcessResult split = StartProgram("/bin/sh", {"-c", "test \"$#\" = 1", "sh", "a b"}, true);
  EXPECT_EQ(split.exitCode, 0);
  ProcessResult quotes = StartProgram("/bin/sh", {"-c", "test \"$1\" = \"'x' \\\"y\\\"\"", "sh", "'x' \"y\""}, true);
  EXPECT_EQ(quotes.exitCode, 0);
}

// Children of this process that are zombies.
int ZombieChildren() {
  int count = 0;
  DIR* d = opendir("/proc");
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state;
    int ppid;
    rest >> state >> ppid;
    if (ppid == getpid() && state == 'Z') ++count;
  }
  closedir(d);
  return count;
}

TEST(StartProgram, WithoutWaitingLeavesNoZombie) {
  ProcessResult r = StartProgram("/bin/true", {}, false);
  EXPECT_TRUE(r.started);
  int zombies = 1;
  for (int i = 0; i < 200 && zombies > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    zombies = ZombieChildren();
  }
  EXPECT_EQ(zombies, 0);
}

// ---------------------------------------------------------------- file times

TEST(FileTimesTest, SetThenGetRoundTripsTheModificationTime) {
  const std::string path = TempDirectory() + "tarmic_filetimes_test.txt";
  { std::ofstream(path) << "scan\n"; }
  FileTimes t = GetFileTimes(path);
  ASSERT_TRUE(t.valid);
  FileTimes wanted = t;
  wanted.lastWrite = 1234567890LL * 1000000000LL + 250000000LL;
  wanted.lastAccess = 1234567999LL * 1000000000LL;
  ASSERT_TRUE(SetFileTimes(path, wanted));
  FileTimes back = GetFileTimes(path);
  ASSERT_TRUE(back.valid);
  EXPECT_EQ(back.lastWrite, wanted.lastWrite);
  EXPECT_EQ(back.lastAccess, wanted.lastAccess);
  std::remove(path.c_str());
  EXPECT_FALSE(GetFileTimes(path).valid);
  EXPECT_FALSE(SetFileTimes(path, wanted));
  EXPECT_FALSE(SetFileTimes(path, FileTimes{}));
}

// ---------------------------------------------------------------- paths

TEST(Paths, SplitPathGivesDirectoryNameAndExtension) {
  const PathParts cases[] = {{"/data/run 1/", "scan", ".ip1"}, {"", "tarmic", ""},
                             {"/a.b/", "c", ""},  // a dot in the directory
                             {"", "x.tar", ".gz"}, {"/home/u/", ".tarmicrc", ""}};
  for (const PathParts& want : cases) {
    const std::string path = want.dir + want.name + want.ext;
    const PathParts got = SplitPath(path);
    EXPECT_EQ(got.dir, want.dir) << path;
    EXPECT_EQ(got.name, want.name) << path;
    EXPECT_EQ(got.ext, want.ext) << path;
    EXPECT_EQ(MergePath(got), path);
  }
  EXPECT_EQ(MergePath(PathParts{"/tmp", "average", "ra1"}), "/tmp/average.ra1");
}

TEST(Paths, ProgramDirectoryFromArgv0) {
  EXPECT_EQ(ProgramDirectoryFromArgv0("/bin/sh").back(), '/');
  EXPECT_EQ(ProgramDirectoryFromArgv0("/usr/bin/env"), "/usr/bin/");
  // A bare name: the directory of the running executable.
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  std::string self(exe, static_cast<std::size_t>(n));
  std::string expected = self.substr(0, self.rfind('/') + 1);
  EXPECT_EQ(ProgramDirectoryFromArgv0("tests_platform"), expected);
  EXPECT_EQ(ProgramDirectoryFromArgv0(nullptr), expected);
}

// ---------------------------------------------------------------- clock and threads

TEST(Clock, OverrideReplacesTheClockAndTickCountWraps) {
  SetClockOverride([] { return std::int64_t{0x100000005}; });
  EXPECT_EQ(MonotonicMs(), 0x100000005);
  EXPECT_EQ(GetTickCount(), 5u);
  SetClockOverride(nullptr);
  std::int64_t a = MonotonicMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::int64_t b = MonotonicMs();
  EXPECT_GE(b - a, 15);
  EXPECT_LT(b - a, 5000);
}

TEST(Threads, OnlyTheMarkedThreadIsTheUiThread) {
  MarkUiThread();
  EXPECT_TRUE(IsUiThread());
  bool inWorker = true;
  std::thread([&] { inWorker = IsUiThread(); }).join();
  EXPECT_FALSE(inWorker);
}

}  // namespace
}  // namespace tarmic
