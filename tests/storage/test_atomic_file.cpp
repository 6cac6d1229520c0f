// Replacing files only when the new content is complete: a write stopped by the
// file-size limit (as a full disk would stop it) keeps the old file and leaves no
// temporary; a complete write replaces the content; a missing directory is
// reported with the path and the reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "storage/atomic_file.h"
#include "numerics/ccurve.h"
#include "storage/folder_lock.h"
#include "numerics/cvector.h"
#include "platform/headless/headless_backend.h"
#include "platform/types.h"
#include "tests/support/hold_folder.h"
#include "tests/storage/saved_set.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;
using ::tarmic::testing::HoldFolderInChild;

// Names in dir other than the target itself: the temporaries a write left behind.
std::vector<std::string> Leftovers(const fs::path& dir, const std::string& keep) {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir))
    if (e.path().filename() != keep) names.push_back(e.path().filename().string());
  return names;
}

// Runs write() in a child whose file-size limit is limitBytes (SIGXFSZ ignored, so
// the write fails with EFBIG instead of killing the child). 1: the writer reported
// success, 0: it reported failure, -1: the child could not be run.
template <class Write>
int RunWithSizeLimit(rlim_t limitBytes, Write write) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {limitBytes, limitBytes};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    ::_exit(write() ? 1 : 0);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  const int code = WEXITSTATUS(status);
  return code == 3 ? -1 : code;
}

TEST(AtomicFile, FailedWriteKeepsOldFileCompleteWriteReplacesIt) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_file";
  fs::remove_all(dir);
  fs::create_directories(dir);

  // A text and a value file (the writer of the settings files), each larger than
  // the limit of 1 KiB, over old contents that fit well within it.
  const fs::path text = dir / "params.ini";
  const std::string oldText = "old\ncontent\n";
  WriteRaw(text, oldText);
  const std::string bigText(64 * 1024, 'x');
  const int textResult = RunWithSizeLimit(1024, [&] {
    return WriteTextFileAtomically(text.string(), bigText);
  });
  if (textResult < 0) GTEST_SKIP() << "fork or setrlimit(RLIMIT_FSIZE) is not available here";
  EXPECT_EQ(textResult, 0) << "a write stopped by the size limit was reported as success";
  EXPECT_EQ(ReadAll(text), oldText);
  EXPECT_TRUE(Leftovers(dir, "params.ini").empty());

  const fs::path values = dir / "values.dat";
  WriteRaw(values, "1.000000\n");
  std::vector<float> many(5000, 2.5f);
  const int valueResult = RunWithSizeLimit(1024, [&] {
    CVector v(static_cast<std::uint32_t>(many.size()), many.data(), 1);
    return v.WriteToFile(values.string().c_str());
  });
  EXPECT_EQ(valueResult, 0);
  EXPECT_EQ(ReadAll(values), "1.000000\n");
  fs::remove(text);
  EXPECT_TRUE(Leftovers(dir, "values.dat").empty());

  // Without a limit the same writes replace the contents exactly and keep the
  // file's permission bits.
  ::chmod(values.c_str(), 0640);
  CVector small(3, many.data(), 1);
  ASSERT_TRUE(small.WriteToFile(values.string().c_str()));
  EXPECT_EQ(ReadAll(values), "2.5\n2.5\n2.5\n");
  struct stat st {};
  ASSERT_EQ(::stat(values.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  std::string error = "unchanged";
  ASSERT_TRUE(WriteTextFileAtomically(text.string(), "new\n", &error));
  EXPECT_EQ(ReadAll(text), "new\n");

  // A write-protected file is not replaced (unless the test runs as root).
  if (::geteuid() != 0) {
    ::chmod(text.c_str(), 0444);
    EXPECT_FALSE(WriteTextFileAtomically(text.string(), "other\n", &error));
    EXPECT_EQ(error, text.string() + ": " + std::strerror(EACCES));
    ::chmod(text.c_str(), 0644);
  }
  EXPECT_EQ(ReadAll(text), "new\n");

  // A writer that gives up keeps the old file as well.
  EXPECT_FALSE(WriteFileAtomically(text.string(), [](std::FILE* f) {
    std::fputs("partial", f);
    return false;
  }));
  EXPECT_EQ(ReadAll(text), "new\n");
  fs::remove(values);
  EXPECT_TRUE(Leftovers(dir, "params.ini").empty());

  // A directory that does not exist: failure naming the path and the reason.
  const std::string missing = (dir / "no_such_dir" / "file.txt").string();
  error.clear();
  EXPECT_FALSE(WriteTextFileAtomically(missing, "x", &error));
  EXPECT_EQ(error, missing + ": " + std::strerror(ENOENT));
  EXPECT_FALSE(fs::exists(missing));
  fs::remove_all(dir);
}

// A save that fails names the system's reason on a line of its own after the
// message: the value files (saved parameters, the Lamm settings) and two-column
// tables (RI noise), shown or handed up; the reason of a write stopped midway (the
// file-size limit) as well. A path under a regular file refuses the open even for
// root.
TEST(AtomicFile, FailedWritesNameTheSystemsReason) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_reason";
  fs::remove_all(dir);
  fs::create_directories(dir);
  WriteRaw(dir / "plain", "a file\n");
  const std::string under = (dir / "plain" / "tarmiclammparams.ini").string();
  const std::string reason = under + ": " + std::strerror(ENOTDIR);
  std::vector<float> values(4, 1.5f);
  CVector v(4, values.data(), 1);
  {
    ScopedHeadlessBackend backend;
    backend->QueueMessageBox(IDOK, "Error");
    backend->QueueMessageBox(IDOK, "Error");
    EXPECT_FALSE(v.WriteToFile(under.c_str()));
    EXPECT_FALSE(WriteXYTable(under.c_str(), 4, values.data(), values.data()));
    ASSERT_EQ(backend->Transcript().size(), 2u);
    EXPECT_EQ(backend->Transcript()[0].text, "Attention: could not open " + under + "\n" + reason);
    EXPECT_EQ(backend->Transcript()[1].text, "\n\aAttention: could not open " + under + "\n" + reason);
  }
  std::string failure;
  EXPECT_FALSE(v.WriteToFile(under.c_str(), &failure));
  EXPECT_EQ(failure, "Attention: could not open " + under + "\n" + reason);
  EXPECT_EQ(SaveFailureReason(under), reason);
  EXPECT_EQ(SaveFailureReason(under + "x"), "");
  // A message that ends in the bare path takes the reason in its place.
  EXPECT_EQ(WithReason("could not write:\n" + under, reason), "could not write:\n" + reason);
  EXPECT_EQ(WithReason("could not write", ""), "could not write");

  const fs::path big = dir / "values.dat";
  std::vector<float> many(5000, 2.5f);
  const int cut = RunWithSizeLimit(1024, [&] {
    CVector w(static_cast<std::uint32_t>(many.size()), many.data(), 1);
    std::string why;
    return !w.WriteToFile(big.string().c_str(), &why) &&
           why == "Attention: could not write " + big.string() + "\n" + big.string() + ": " +
                      std::strerror(EFBIG);
  });
  if (cut >= 0) EXPECT_EQ(cut, 1) << "the reason of a write stopped by the size limit";
  fs::remove_all(dir);
}

// A set of files replaces its targets together: a write that fails (here a target
// that is a directory; in a child, the file-size limit) leaves every target as it
// was and no temporary behind; a rename that fails midway leaves the ones before it
// replaced, names the rest, and keeps the journal and the rest's temporaries, so
// that the next save finishes the set.
TEST(AtomicFileBatch, SetIsReplacedWholeOrNotAtAll) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_batch";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string a = (dir / "a.dat").string(), b = (dir / "b.dat").string(),
                    c = (dir / "c.dat").string();
  WriteRaw(a, "old a\n");
  WriteRaw(b, "old b\n");
  auto writeSet = [&](const std::string& text, const std::string& cText) {
    AtomicFileBatch batch;
    for (const std::string& p : {a, b}) batch.Check(p, WriteTextFileAtomically(p, text));
    batch.Check(c, WriteTextFileAtomically(c, cText));
    return batch.Finish();
  };
  auto kept = [&] { return ReadAll(a) == "old a\n" && ReadAll(b) == "old b\n"; };
  auto names = [&] {
    std::vector<std::string> n;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  };

  // Failure before the renames: c is a directory.
  fs::create_directories(c);
  const std::string error = writeSet("new\n", "new\n");
  EXPECT_NE(error.find(c + ": " + std::strerror(EISDIR)), std::string::npos) << error;
  EXPECT_TRUE(kept());
  EXPECT_EQ(names(), (std::vector<std::string>{"a.dat", "b.dat", "c.dat"}));
  fs::remove_all(c);

  // The same in a child whose writes stop at 1 KiB: the large third file fails.
  const int child = RunWithSizeLimit(1024, [&] { return writeSet("new\n", std::string(64 * 1024, 'x')).empty(); });
  if (child >= 0) {
    EXPECT_EQ(child, 0);
    EXPECT_TRUE(kept());
    EXPECT_EQ(names(), (std::vector<std::string>{"a.dat", "b.dat"}));
  }

  // A rename that fails midway: b's place is taken by a directory after the files
  // were written.
  {
    fs::remove(b);
    AtomicFileBatch batch;
    for (const std::string& p : {a, b, c}) batch.Check(p, WriteTextFileAtomically(p, "new\n"));
    fs::create_directories(dir / "b.dat" / "inside");
    EXPECT_FALSE(batch.Commit());
    EXPECT_EQ(batch.NotReplaced(), (std::vector<std::string>{b, c}));
    EXPECT_EQ(batch.Error().rfind(b + ": ", 0), 0u);
  }
  EXPECT_EQ(ReadAll(a), "new\n");
  EXPECT_FALSE(fs::exists(c));
  std::vector<std::string> left = names();
  EXPECT_EQ(left.size(), 5u) << "a, b, the journal and the temporaries of b and c";
  for (const std::string& name : left) EXPECT_TRUE(name == "a.dat" || name == "b.dat" || IsSaveTemporaryName(name)) << name;
  fs::remove_all(dir / "b.dat");

  EXPECT_EQ(writeSet("all new\n", "all new\n"), "");
  for (const std::string& p : {a, b, c}) EXPECT_EQ(ReadAll(p), "all new\n");
  EXPECT_EQ(names(), (std::vector<std::string>{"a.dat", "b.dat", "c.dat"}));
  fs::remove_all(dir);
}

// A save ended by a kill leaves its temporary: hidden, with an extension no loader
// takes. Saving the target again removes the temporaries of it that processes no
// longer running left, of the present naming and of the earlier one; those of a
// running instance and those of other targets stay.
TEST(AtomicFile, StaleTemporariesOfTheTargetGoWhenItIsSavedAgain) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_stale";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string target = (dir / "00001.ra1").string(), other = (dir / "00002.ra1").string();
  // A child that opens the target's temporary and then either ends at once, as a
  // kill would end it (no destructor runs), or waits on a pipe until told to end.
  // The waiting child says on readyFd when its temporary holds its bytes.
  auto leaveTemporary = [](const std::string& path, int waitFd, int readyFd) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      AtomicFile file(path);
      std::fputs("cut sh", file.File());
      std::fflush(file.File());
      char c = 'r';
      if (readyFd >= 0) (void)!::write(readyFd, &c, 1);
      if (waitFd >= 0) (void)!::read(waitFd, &c, 1);
      ::_exit(0);
    }
    return pid;
  };
  auto temporaries = [&] {
    std::vector<std::string> n;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
      if (IsSaveTemporaryName(e.path().filename().string())) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  };
  int pipeFds[2], readyFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::pipe(readyFds), 0);
  const pid_t running = leaveTemporary(target, pipeFds[0], readyFds[1]);
  ASSERT_GT(running, 0);
  // However the test ends, the waiting child does not outlive it (a child left
  // waiting would hold the test's output open).
  struct EndChild {
    pid_t pid;
    ~EndChild() {
      if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    }
  } endRunning{running};
  char ready = 0;
  ASSERT_EQ(::read(readyFds[0], &ready, 1), 1);
  ::close(readyFds[0]);
  ::close(readyFds[1]);
  const pid_t killed = leaveTemporary(target, -1, -1);
  ASSERT_GT(killed, 0);
  const pid_t killedOther = leaveTemporary(other, -1, -1);
  ASSERT_GT(killedOther, 0);
  ::waitpid(killed, nullptr, 0);
  ::waitpid(killedOther, nullptr, 0);
  // Temporaries of the earlier naming carry no host: an hour-old one goes, a fresh
  // one (perhaps a save on another machine sharing the folder) stays.
  const std::string old = "00001.ra1.tmp" + std::to_string(killed) + "_7";
  const std::string fresh = "00001.ra1.tmp" + std::to_string(killed) + "_8";
  WriteRaw(dir / old, "cut short");
  WriteRaw(dir / fresh, "being written elsewhere");
  fs::last_write_time(dir / old, fs::file_time_type::clock::now() - std::chrono::hours(2));
  const std::vector<std::string> before = temporaries();
  ASSERT_EQ(before.size(), 5u);
  for (const std::string& name : before) {
    if (name == old || name == fresh) continue;
    EXPECT_EQ(name[0], '.') << name;
    EXPECT_EQ(fs::path(name).extension(), ".part") << name;
  }
  auto ofPid = [&](pid_t pid) {
    return "-" + std::to_string(pid) + "-";
  };
  auto holds = [&](const std::vector<std::string>& names, const std::string& part) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return n.find(part) != std::string::npos; });
  };

  ASSERT_TRUE(WriteTextFileAtomically(target, "saved again\n"));
  EXPECT_EQ(ReadAll(target), "saved again\n");
  const std::vector<std::string> after = temporaries();
  EXPECT_TRUE(holds(after, ofPid(running))) << "a running instance keeps its temporary";
  EXPECT_FALSE(holds(after, ofPid(killedOther))) << "an ended save's temporary of another file goes too";
  EXPECT_FALSE(holds(after, ofPid(killed)));
  EXPECT_FALSE(holds(after, old));
  EXPECT_TRUE(holds(after, fresh)) << "a fresh temporary of the earlier naming stays";
  EXPECT_EQ(after.size(), 2u);

  // Once the instance has ended, its temporary goes with the next save.
  ASSERT_EQ(::write(pipeFds[1], "x", 1), 1);
  ::waitpid(running, nullptr, 0);
  endRunning.pid = 0;
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  ASSERT_TRUE(WriteTextFileAtomically(target, "and again\n"));
  EXPECT_EQ(temporaries().size(), 1u);
  EXPECT_FALSE(holds(temporaries(), ofPid(running)));

  // What is no temporary is never taken for one.
  for (const char* name : {"00001.ra1", "list_corr.ra1", "~tmppars.ra1", "a.tmp", "x.tmp12", ".hidden.part",
                           ".a.ra1.tmp-host-x-1.part", "a.ra1.tmp0_1"})
    EXPECT_FALSE(IsSaveTemporaryName(name)) << name;
  fs::remove_all(dir);
}

// ------------------------------------------------------ sets ended by a kill

// A set of three files in two folders, its program killed at every step of the
// replacement (before the journals, between them, between the renames, between the
// removals of the journals). Without the journal, a kill between two renames left
// some files new and some old. The next load or save in either folder finishes
// the set: all old when the program ended before its journals were complete, all
// new after that; no journal or temporary stays.
TEST(AtomicFileBatch, SetEndedAtAnyStepIsWholeAfterTheNextLoadInAFolderOfIt) {
  const TwoFolderSet set("atomic_killed");
  int step = 0;
  for (;; ++step) {
    SCOPED_TRACE("killed at step " + std::to_string(step));
    set.WriteOld();
    const pid_t child = set.SaveInChild(step, -1);
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status)) {
      EXPECT_EQ(WEXITSTATUS(status), 0);
      break;
    }
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    // Steps 0-2: temporaries complete, journal in "fits", journal in "data"; steps
    // 3 and 4 end between the renames.
    if (step == 3 || step == 4) EXPECT_EQ(set.NewCount(), step - 2) << "the kill left a mixed set";
    for (const std::string& name : set.Leftovers()) {
      EXPECT_EQ(name[0], '.') << name;
      EXPECT_TRUE(IsSaveTemporaryName(name)) << name;
    }
    // The folder holding the scans is read first (a load), then the other
    // (a save there: the journal is found before its temporaries are looked at).
    EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), "");
    EXPECT_EQ(set.NewCount(), step >= 2 ? 3 : 0);
    ASSERT_TRUE(WriteTextFileAtomically((set.b / "other.txt").string(), "x"));
    fs::remove(set.b / "other.txt");
    EXPECT_EQ(set.NewCount(), step >= 2 ? 3 : 0);
    // No journal stays; before the journals were complete, the temporaries stay
    // until their targets are saved again (the last round).
    for (const std::string& name : set.Leftovers())
      EXPECT_TRUE(step < 2 && fs::path(name).extension() == ".part") << name;
  }
  EXPECT_EQ(step, 8) << "1 + 2 journals + 3 renames + 2 removals";
  EXPECT_EQ(set.NewCount(), 3);
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
}

// The journal of a process that still runs (stopped between its renames) is left
// alone; once the process has ended, a load finishes its set. A journal whose pid
// now belongs to another process (a running one, started later) is finished too.
TEST(AtomicFileBatch, JournalOfARunningProcessStaysAndPidReuseIsSeen) {
  const TwoFolderSet set("atomic_running");
  set.WriteOld();
  const pid_t child = set.SaveInChild(-1, 3);
  ASSERT_GT(child, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, WUNTRACED), child);
  ASSERT_TRUE(WIFSTOPPED(status));
  EXPECT_EQ(set.NewCount(), 1);
  EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), "");
  EXPECT_EQ(RecoverInterruptedSaves(set.b.string()), "");
  EXPECT_EQ(set.NewCount(), 1);
  EXPECT_EQ(set.Leftovers().size(), 4u) << "two journals and two temporaries";
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  EXPECT_EQ(RecoverInterruptedSaves(set.b.string()), "");
  EXPECT_EQ(set.NewCount(), 3);
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});

  // Killed again; its journals then carry this test's pid (running, but started
  // before the child): they are still those of an ended process.
  const pid_t self = ::getpid();
  set.SaveKilledAt(3);
  std::string killedPid;  // "...-<pid>" of "...-<pid>-<start>-<n>.part"
  for (const std::string& name : set.Leftovers())
    if (fs::path(name).extension() == ".part") {
      killedPid = name.substr(0, name.rfind('-'));
      killedPid.erase(killedPid.rfind('-'));
    }
  const pid_t killed = std::stoi(killedPid.substr(killedPid.rfind('-') + 1));
  const std::string from = "-" + std::to_string(killed) + "-", to = "-" + std::to_string(self) + "-";
  // The whole set then carries this pid: journals and temporaries, in their names
  // and in what the journals name.
  auto reused = [&](std::string text) {
    for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
    return text;
  };
  for (const fs::path& dir : {set.a, set.b}) {
    const std::vector<std::string> names = Leftovers(dir, "");
    for (const std::string& name : names) {
      if (name.find(from) == std::string::npos) continue;
      if (fs::path(name).extension() == ".journal") {
        WriteRaw(dir / reused(name), reused(ReadAll(dir / name)));
        fs::remove(dir / name);
      } else {
        fs::rename(dir / name, dir / reused(name));
      }
    }
  }
  EXPECT_EQ(set.NewCount(), 1);
  EXPECT_EQ(RecoverInterruptedSaves(set.b.string()), "");
  EXPECT_EQ(set.NewCount(), 3);
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});

  // A rename that cannot be done (a folder in the place of a target) is reported
  // and its journal stays; once the folder is gone the set is finished.
  set.SaveKilledAt(3);
  fs::remove(set.files[1]);
  fs::create_directories(set.files[1] / "inside");
  EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), set.files[1].string() + ": " + std::strerror(EISDIR));
  EXPECT_EQ(RecoverInterruptedSavesOf({set.files[2].string()}),
            set.files[1].string() + ": " + std::strerror(EISDIR));
  fs::remove_all(set.files[1]);
  EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), "");
  EXPECT_EQ(set.NewCount(), 3);
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
}

// A batch opened inside another is part of it: its files are replaced only with
// the outer set, and a file it could not write (its batch committed or discarded)
// makes the outer set fail as a whole, with the reason.
TEST(AtomicFileBatch, InnerBatchIsPartOfTheOuterSet) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_nested";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string x = (dir / "x.dat").string(), y = (dir / "y.dat").string(),
                    z = (dir / "z.dat").string();
  for (const std::string& p : {x, y}) WriteRaw(p, "old\n");
  for (const bool commitInner : {true, false}) {
    SCOPED_TRACE(commitInner ? "inner committed" : "inner discarded");
    fs::create_directories(z);  // z cannot be written
    AtomicFileBatch outer;
    outer.Check(x, WriteTextFileAtomically(x, "new\n"));
    {
      AtomicFileBatch inner;
      inner.Check(y, WriteTextFileAtomically(y, "new\n"));
      inner.Check(z, WriteTextFileAtomically(z, "new\n"));
      if (commitInner) EXPECT_FALSE(inner.Commit());
    }
    EXPECT_EQ(AtomicFileBatch::Current(), &outer);
    const std::string report = outer.Finish();
    EXPECT_EQ(report.rfind("could not write:\n" + z + ": " + std::strerror(EISDIR), 0), 0u) << report;
    EXPECT_EQ(ReadAll(x), "old\n");
    EXPECT_EQ(ReadAll(y), "old\n");
    fs::remove_all(z);
    EXPECT_EQ(Leftovers(dir, "").size(), 2u);
  }
  // Written whole, the inner files wait for the outer set.
  AtomicFileBatch outer;
  {
    AtomicFileBatch inner;
    inner.Check(y, WriteTextFileAtomically(y, "new\n"));
    EXPECT_TRUE(inner.Commit());
  }
  EXPECT_EQ(ReadAll(y), "old\n");
  outer.Check(x, WriteTextFileAtomically(x, "new\n"));
  EXPECT_EQ(outer.Finish(), "");
  EXPECT_EQ(ReadAll(x), "new\n");
  EXPECT_EQ(ReadAll(y), "new\n");
  fs::remove_all(dir);
}

// ------------------------------------------------ the world around one save

// A journal obeys only what a save of this program wrote for its set. Journals put
// into a data folder by another machine or by anyone (their process ended: another
// host's, two hours old, or a pid of this host that no longer runs) that name an
// absolute path, a file beyond ".." or a file of another name as a temporary, or a
// folder without a copy of the journal, touch nothing: every file stays as it was,
// the journals stay, and the load reports each of them.
TEST(AtomicFileBatch, JournalNamingFilesOutsideItsSetIsLeftAloneAndReported) {
  const fs::path root = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_planted";
  fs::remove_all(root);
  const fs::path data = root / "data", home = root / "home", other = root / "other";
  for (const fs::path& d : {data, home, other}) fs::create_directories(d);
  WriteRaw(home / "notes.txt", "notes");
  WriteRaw(other / "victim.txt", "victim");
  WriteRaw(data / "planted.txt", "planted");
  WriteRaw(data / "f1.ra1", "old f1");
  const OwnTemporaryName own = OwnTemporaryOf(data / "f1.ra1");
  ASSERT_FALSE(own.host.empty());
  // A temporary of another file.
  const std::string foreign = ".other.ra1.tmp-" + own.host + "-999999-1-0.part";
  WriteRaw(data / foreign, "foreign");
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(ended, nullptr, 0), ended);
  const std::string here = own.host + "-" + std::to_string(ended) + "-1-";
  const std::string elsewhere = "elsewhere-4242-77-";
  const std::string victim = (other / "victim.txt").string(), notes = (home / "notes.txt").string();
  const std::vector<std::pair<std::string, std::string>> journals = {
      // "planted.txt" over a file beyond "..".
      {".tarmic-save-" + here + "0.journal", JournalText({"."}, {{"planted.txt", "../home/notes.txt"}})},
      {".tarmic-save-" + elsewhere + "1.journal", JournalText({"."}, {{"planted.txt", "../home/notes.txt"}})},
      // A file of another folder as the temporary, the second copy "missing".
      {".tarmic-save-" + here + "2.journal", JournalText({".", "../other"}, {{"../other/victim.txt", "../other/x.txt"}})},
      // Absolute paths.
      {".tarmic-save-" + elsewhere + "3.journal", JournalText({"."}, {{victim, (other / "x.txt").string()}})},
      {".tarmic-save-" + here + "4.journal", JournalText({".", home.string()}, {{"planted.txt", notes}})},
      // A temporary of another target as the temporary of f1.
      {".tarmic-save-" + here + "5.journal", JournalText({"."}, {{foreign, "f1.ra1"}})},
      // The journal's own folder not among its copies.
      {".tarmic-save-" + here + "6.journal", JournalText({"../home"}, {{"../home/notes.txt", "../home/y.txt"}})},
  };
  for (const auto& [name, text] : journals) {
    WriteRaw(data / name, text);
    fs::last_write_time(data / name, fs::file_time_type::clock::now() - std::chrono::hours(2));
  }
  const std::string report = RecoverInterruptedSaves(data.string());
  for (const auto& [name, text] : journals) {
    EXPECT_NE(report.find((data / name).string() + ": "), std::string::npos) << name << "\n" << report;
    EXPECT_TRUE(fs::exists(data / name)) << name;
  }
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n') + 1, static_cast<long>(journals.size())) << report;
  EXPECT_EQ(ReadAll(home / "notes.txt"), "notes");
  EXPECT_EQ(ReadAll(other / "victim.txt"), "victim");
  EXPECT_EQ(ReadAll(data / "planted.txt"), "planted");
  EXPECT_EQ(ReadAll(data / "f1.ra1"), "old f1");
  EXPECT_EQ(ReadAll(data / foreign), "foreign");
  EXPECT_FALSE(fs::exists(other / "x.txt"));
  EXPECT_FALSE(fs::exists(home / "y.txt"));
  // A save in the folder is not held up by them.
  EXPECT_TRUE(WriteTextFileAtomically((data / "f1.ra1").string(), "new f1"));
  EXPECT_EQ(ReadAll(home / "notes.txt"), "notes");
  fs::remove_all(root);
}

// A folder of the set that cannot be read at the next load (moved away, as an
// unmounted drive is away) is no sign of a commit finished or given up: the
// journal stays, the load says so, nothing of the set is touched, and a save of a
// file of that set waits for it. Once the folder is back the set is finished. The
// same when the folder goes away between the renames of the recovery.
TEST(AtomicFileBatch, FolderOutOfReachAtRecoveryKeepsTheJournalUntilItIsBack) {
  const TwoFolderSet set("atomic_away");
  const fs::path away = set.b.parent_path() / "moved";
  set.SaveKilledAt(3);
  ASSERT_EQ(set.NewCount(), 1);
  fs::rename(set.b, away);
  const std::string report = RecoverInterruptedSaves(set.a.string());
  EXPECT_NE(report.find(set.b.string()), std::string::npos) << report;
  EXPECT_EQ(ReadAll(set.files[0]), "new f1.ra1");
  EXPECT_EQ(ReadAll(set.files[1]), "old f2.ra1");
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomically(set.files[1].string(), "other f2.ra1", &error));
  EXPECT_NE(error.find(set.b.string()), std::string::npos) << error;
  EXPECT_EQ(ReadAll(set.files[1]), "old f2.ra1");
  fs::rename(away, set.b);
  EXPECT_EQ(RecoverInterruptedSaves(set.b.string()), "");
  EXPECT_EQ(set.NewCount(), 3);
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});

  static fs::path gMoveFrom, gMoveTo;
  gMoveFrom = set.b;
  gMoveTo = away;
  set.SaveKilledAt(3);
  SetRecoveryStepHookForTesting([](int step) {
    if (step == 0) fs::rename(gMoveFrom, gMoveTo);
  });
  EXPECT_NE(RecoverInterruptedSaves(set.a.string()), "");
  SetRecoveryStepHookForTesting(nullptr);
  EXPECT_EQ(ReadAll(set.files[1]), "new f2.ra1");
  fs::rename(away, set.b);
  EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), "");
  EXPECT_EQ(set.NewCount(), 3);
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
}

// A save that, after its first rename, says so on gHeldFd and then waits (running,
// not stopped) until it is killed.
int gHeldFd = -1;
void WaitAfterFirstRename(int step) {
  if (step != 3) return;
  const char c = 'h';
  if (::write(gHeldFd, &c, 1) != 1) ::_exit(3);
  for (;;) ::pause();
}

// Two instances saving one set: one waiting after its first rename holds the
// folders, the other waits for them. When the first is killed, the second
// finishes the first's set and then saves its own whole. One stopped (it lets go
// only once it is continued) is not waited for: the save replaces nothing and says
// why, as one that cannot wait any longer does. After the next load the set is whole.
TEST(AtomicFileBatch, TwoInstancesSavingOneSetDoNotInterleave) {
  const TwoFolderSet set("atomic_two");
  set.WriteOld();
  int status = 0;
  int held[2];
  ASSERT_EQ(::pipe(held), 0);
  const pid_t first = ::fork();
  if (first == 0) {
    gHeldFd = held[1];
    SetSaveStepHookForTesting(WaitAfterFirstRename);
    ::_exit(set.Save("first").empty() ? 0 : 1);
  }
  ASSERT_GT(first, 0);
  char c = 0;
  ASSERT_EQ(::read(held[0], &c, 1), 1);
  ::close(held[0]);
  ::close(held[1]);
  const pid_t second = set.SaveInChild(-1, -1, "second");
  ASSERT_GT(second, 0);
  ::usleep(300 * 1000);
  EXPECT_EQ(::waitpid(second, &status, WNOHANG), 0) << "the second save did not wait";
  ::kill(first, SIGKILL);
  ASSERT_EQ(::waitpid(first, nullptr, 0), first);
  ASSERT_EQ(::waitpid(second, &status, 0), second);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), "");
  EXPECT_EQ(RecoverInterruptedSaves(set.b.string()), "");
  EXPECT_EQ(set.Tag(), "second");
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});

  // Stopped: not waited for.
  const pid_t stopped = set.SaveInChild(-1, 3, "third");
  ASSERT_EQ(::waitpid(stopped, &status, WUNTRACED), stopped);
  ASSERT_TRUE(WIFSTOPPED(status));
  const std::string report = set.Save("fourth");
  EXPECT_NE(report.find("another instance of the program was saving into the folder"), std::string::npos)
      << report;
  EXPECT_NE(report.find("(held by the stopped process " + std::to_string(stopped)), std::string::npos) << report;
  for (const fs::path& f : set.files) EXPECT_EQ(ReadAll(f).rfind("fourth", 0), std::string::npos) << f;
  ::kill(stopped, SIGKILL);
  ASSERT_EQ(::waitpid(stopped, nullptr, 0), stopped);
  EXPECT_EQ(RecoverInterruptedSaves(set.b.string()), "");
  EXPECT_EQ(set.Tag(), "third");
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});

  // Only the folder of the last file busy: the reason names that folder, and no
  // file of the other folder is given as the one that waited.
  SetFolderLockWaitForTesting(std::chrono::milliseconds(200));
  // Held until it is killed below: a save slowed by a loaded machine must still find it held.
  const pid_t holder = HoldFolderInChild(set.b, 60000);
  ASSERT_GT(holder, 0);
  const std::string busy = set.Save("fifth");
  SetFolderLockWaitForTesting(std::chrono::seconds(10));
  ::kill(holder, SIGKILL);
  ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
  EXPECT_NE(busy.find("saving into the folder " + set.b.string()), std::string::npos) << busy;
  EXPECT_EQ(busy.find(set.files[0].string() + ": "), std::string::npos) << busy;
  EXPECT_EQ(set.Tag(), "third");
}

// A save, or the recovery of a load, that finds a folder of its set held by another
// instance waits for it and, once the wait has lasted a moment, says so naming the
// folder, keeps the window system pumped, and clears the line when the wait ends:
// with the lock (the set is then whole) or without it (the reason is reported). A
// save in a worker thread waits as well but never touches the window.
TEST(AtomicFileBatch, AWaitForAnotherInstanceIsShownAndCleared) {
  const TwoFolderSet set("atomic_wait_notice");
  set.WriteOld();
  ScopedHeadlessBackend backend;  // marks this thread as the user-interface thread
  std::vector<std::string> seen;
  GetFolderWaitHooks() = {[&](const std::string& text) { seen.push_back(text); },
                          [&] { seen.push_back("(cleared)"); }, nullptr, nullptr};
  struct Reset {
    ~Reset() {
      ResetFolderWaitHooks();
      SetFolderLockWaitForTesting(std::chrono::seconds(10));
    }
  } reset;
  // A line naming the folder (again as the seconds left count down), then
  // cleared; the window pumped meanwhile.
  int pumps = 0;
  auto expectShownAndCleared = [&](const char* what) {
    ASSERT_GE(seen.size(), 2u) << what << ": a line shown, then cleared";
    for (std::size_t k = 0; k + 1 < seen.size(); ++k) {
      EXPECT_EQ(seen[k].rfind("waiting for another instance of the program saving into ", 0), 0u) << seen[k];
      EXPECT_NE(seen[k].find(set.b.string()), std::string::npos) << seen[k];
    }
    EXPECT_EQ(seen.back(), "(cleared)") << what;
    EXPECT_GT(backend->PumpCount(), pumps) << what << ": the window was not pumped during the wait";
    seen.clear();
    pumps = backend->PumpCount();
  };

  pid_t other = HoldFolderInChild(set.b, 500);
  ASSERT_GT(other, 0);
  EXPECT_EQ(set.Save("waited"), "");
  ASSERT_EQ(::waitpid(other, nullptr, 0), other);
  EXPECT_EQ(set.Tag(), "waited");
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
  expectShownAndCleared("save");

  // The recovery of a set cut short waits for the folder as a save does.
  set.SaveKilledAt(3);
  ASSERT_EQ(set.NewCount(), 1);
  other = HoldFolderInChild(set.b, 500);
  ASSERT_GT(other, 0);
  EXPECT_EQ(RecoverInterruptedSaves(set.b.string()), "");
  ASSERT_EQ(::waitpid(other, nullptr, 0), other);
  EXPECT_EQ(set.NewCount(), 3);
  expectShownAndCleared("recovery");

  // Held longer than the save waits: the line goes, the reason names the folder.
  SetFolderLockWaitForTesting(std::chrono::milliseconds(400));
  other = HoldFolderInChild(set.b, 900);
  ASSERT_GT(other, 0);
  const std::string refused = set.Save("refused");
  ASSERT_EQ(::waitpid(other, nullptr, 0), other);
  EXPECT_NE(refused.find("another instance of the program was saving into the folder"), std::string::npos)
      << refused;
  EXPECT_EQ(set.NewCount(), 3);
  expectShownAndCleared("refused save");
  SetFolderLockWaitForTesting(std::chrono::seconds(10));

  other = HoldFolderInChild(set.b, 500);
  ASSERT_GT(other, 0);
  std::string report = "not run";
  std::thread worker([&] { report = set.Save("worker"); });
  worker.join();
  ASSERT_EQ(::waitpid(other, nullptr, 0), other);
  EXPECT_EQ(report, "");
  EXPECT_EQ(set.Tag(), "worker");
  EXPECT_EQ(seen, std::vector<std::string>{});
  EXPECT_EQ(backend->PumpCount(), pumps);
}

// A temporary left by an earlier run that had this process's pid (a container
// gives the program the same pid each start) is removed by the next save of its
// target: one carrying another start, and a day-old one named before temporaries
// carried the start. This run's own temporaries stay.
TEST(AtomicFile, TemporaryOfAnEarlierRunWithThisPidGoes) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_same_pid";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path target = dir / "00001.ra1";
  const OwnTemporaryName own = OwnTemporaryOf(target);
  ASSERT_FALSE(own.host.empty());
  EXPECT_FALSE(own.start.empty()) << "temporaries carry the process start";
  const std::string start = own.start.empty() ? "1000" : own.start;
  const std::string earlier = own.prefix + own.pid + "-" + std::to_string(std::stoull(start) + 1) + "-3.part";
  const std::string unnamed = own.prefix + own.pid + "-4.part";
  // This run's own temporary: a save of the target still being written.
  AtomicFile live(target.string());
  ASSERT_TRUE(live.IsOpen());
  std::string mine;
  for (const fs::directory_entry& e : fs::directory_iterator(dir)) mine = e.path().filename().string();
  EXPECT_EQ(mine.rfind(own.prefix + own.pid + "-" + start + "-", 0), 0u) << mine;
  for (const std::string& name : {earlier, unnamed}) WriteRaw(dir / name, "cut short");
  for (const std::string& name : {earlier, unnamed})
    fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::hours(24));
  ASSERT_TRUE(WriteTextFileAtomically(target.string(), "saved\n"));
  EXPECT_FALSE(fs::exists(dir / earlier));
  EXPECT_FALSE(fs::exists(dir / unnamed));
  EXPECT_TRUE(fs::exists(dir / mine));
  for (const std::string& name : {earlier, unnamed, mine}) EXPECT_TRUE(IsSaveTemporaryName(name)) << name;
  live.Discard();
  fs::remove_all(dir);
}

// ------------------------------------------ whose files a save or load may touch

// A save of a set in a child that waits at one step of its replacement until it is
// told to go on: it writes a byte when it has reached the step and reads one.
int gPauseAt = -1, gPausedFd = -1, gGoFd = -1;
void PauseAtStep(int step) {
  if (step != gPauseAt) return;
  char c = 'p';
  if (::write(gPausedFd, &c, 1) != 1 || ::read(gGoFd, &c, 1) != 1) ::_exit(3);
}
struct Pause {
  int paused[2] = {-1, -1}, go[2] = {-1, -1};
  Pause() {
    if (::pipe(paused) != 0 || ::pipe(go) != 0) ADD_FAILURE() << "no pipe";
  }
  ~Pause() {
    for (const int fd : {paused[0], paused[1], go[0], go[1]})
      if (fd >= 0) ::close(fd);
  }
  // In the child, before its save.
  void Arm(int step) const {
    gPauseAt = step;
    gPausedFd = paused[1];
    gGoFd = go[0];
    SetSaveStepHookForTesting(PauseAtStep);
  }
  // In the parent: whether the child has reached its step (within 20 s).
  bool Reached() const {
    pollfd p{paused[0], POLLIN, 0};
    char c;
    return ::poll(&p, 1, 20000) == 1 && ::read(paused[0], &c, 1) == 1;
  }
  void Go() const {
    const char c = 'g';
    (void)!::write(go[1], &c, 1);
  }
};

// Runs body (its result is the exit code) in a process of a pid namespace of its
// own, with that namespace's /proc, as an instance in a container or a sandboxed
// desktop package runs. Its pid is one that no process outside has, so that pid
// and start in its files' names mean nothing outside. The pid of the outer child;
// it exits with kNoNamespace when no namespace can be made here (not root).
constexpr int kNoNamespace = 77;
template <class Body>
pid_t RunInOwnPidNamespace(Body body) {
  const pid_t outer = ::fork();
  if (outer != 0) return outer;
  int unused = 30000;
  while (unused > 1000 && !(::kill(unused, 0) != 0 && errno == ESRCH)) unused -= 7;
  if (::unshare(CLONE_NEWPID | CLONE_NEWNS) != 0) ::_exit(kNoNamespace);
  const pid_t init = ::fork();
  if (init == 0) {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
      ::_exit(kNoNamespace);
    std::ofstream("/proc/sys/kernel/ns_last_pid") << unused - 1;
    const pid_t worker = ::fork();
    if (worker == 0) ::_exit(body());
    ::_exit(ExitCode(worker) & 0xff);
  }
  ::_exit(ExitCode(init) & 0xff);
}

// An instance of the program in another pid namespace (a container, a sandboxed
// desktop package) shares the folders with this one: its pids mean nothing here.
// Its temporaries, complete and waiting for the set's renames, stay when this
// instance saves one of the same targets meanwhile; its journal, while it renames,
// is not taken for one of an ended save. Both saves end whole, in their order.
TEST(AtomicFileBatch, ASaveInAnotherPidNamespaceKeepsItsFiles) {
  const TwoFolderSet set("atomic_namespace");
  set.WriteOld();
  {
    Pause pause;
    const pid_t other = RunInOwnPidNamespace([&] {
      pause.Arm(0);  // every temporary complete, no folder held yet
      return set.Save("sandboxed").empty() ? 0 : 1;
    });
    ASSERT_GT(other, 0);
    if (!pause.Reached()) {
      const int code = ExitCode(other);
      if (code == kNoNamespace) GTEST_SKIP() << "no pid namespace can be made here (it needs root)";
      FAIL() << "the other instance ended with " << code;
    }
    EXPECT_TRUE(WriteTextFileAtomically(set.files[1].string(), "here f2.ra1"));
    EXPECT_EQ(set.Leftovers().size(), 3u) << "the other instance's three temporaries stay";
    pause.Go();
    EXPECT_EQ(ExitCode(other), 0) << "the other instance's save failed";
    EXPECT_EQ(set.Tag(), "sandboxed");
    EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
  }
  {
    Pause pause;
    const pid_t other = RunInOwnPidNamespace([&] {
      pause.Arm(3);  // journals written, the first rename done, the folders held
      return set.Save("renaming").empty() ? 0 : 1;
    });
    ASSERT_TRUE(pause.Reached());
    SetFolderLockWaitForTesting(std::chrono::milliseconds(300));
    EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), "") << "a running save's journal taken for an ended one";
    SetFolderLockWaitForTesting(std::chrono::seconds(10));
    pause.Go();
    EXPECT_EQ(ExitCode(other), 0);
    EXPECT_EQ(set.Tag(), "renaming");
    EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
  }
}

// A journal acts only on the temporaries its own save made. Journals of an ended
// process of this host that name the temporary of a save still being written, or
// the temporary another ended save left, and one carrying the live save's own pid
// and start but held by nobody, touch nothing: every file stays as it was, the
// journals stay and each is reported; the live save then ends as it would have.
TEST(AtomicFileBatch, JournalActsOnlyOnTheTemporariesOfItsOwnSave) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_owner";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path f1 = dir / "f1.ra1", g1 = dir / "g1.ra1";
  WriteRaw(f1, "the user's f1");
  WriteRaw(g1, "the user's g1");
  // A save of f1, half written.
  Pause pause;
  const pid_t live = ::fork();
  if (live == 0) {
    AtomicFile file(f1.string());
    std::fputs("partial", file.File());
    std::fflush(file.File());
    pause.Arm(-1);
    PauseAtStep(-1);
    std::fputs(" and the rest", file.File());
    ::_exit(file.Commit() ? 0 : 1);
  }
  ASSERT_GT(live, 0);
  ASSERT_TRUE(pause.Reached());
  const std::string liveTemp = TemporaryIn(dir, ".f1.ra1.tmp-");
  ASSERT_FALSE(liveTemp.empty());
  // ".f1.ra1.tmp-<host>-<pid>-<start>-<n>.part"
  const std::string mark = "-" + std::to_string(live) + "-";
  const std::string host = liveTemp.substr(12, liveTemp.rfind(mark) - 12);
  const std::string liveStart = liveTemp.substr(liveTemp.rfind(mark) + mark.size(),
                                                liveTemp.rfind('-') - liveTemp.rfind(mark) - mark.size());
  // A save of g1 killed after writing its temporary.
  const pid_t killed = ::fork();
  if (killed == 0) {
    AtomicFile file(g1.string());
    std::fputs("cut short", file.File());
    std::fflush(file.File());
    ::_exit(0);  // as a kill: the temporary stays
  }
  ASSERT_EQ(ExitCode(killed), 0);
  const std::string killedTemp = TemporaryIn(dir, ".g1.ra1.tmp-");
  ASSERT_FALSE(killedTemp.empty());
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(ExitCode(ended), 0);
  const std::string endedId = host + "-" + std::to_string(ended) + "-1-";
  const std::vector<std::pair<std::string, std::string>> journals = {
      {".tarmic-save-" + endedId + "0.journal", JournalText({"."}, {{liveTemp, "f1.ra1"}})},
      {".tarmic-save-" + endedId + "1.journal", JournalText({"."}, {{killedTemp, "g1.ra1"}})},
      {".tarmic-save-" + host + "-" + std::to_string(live) + "-" + liveStart + "-9.journal",
       JournalText({"."}, {{liveTemp, "f1.ra1"}})},
  };
  for (const auto& [name, text] : journals) WriteRaw(dir / name, text);
  const std::string report = RecoverInterruptedSaves(dir.string());
  // The first two name what no save of theirs made; the third finds the
  // temporary it names in use (by another process, waited for 2 s): its set waits.
  for (const auto& [name, text] : journals) EXPECT_TRUE(fs::exists(dir / name)) << name;
  for (int k = 0; k < 2; ++k)
    EXPECT_NE(report.find((dir / journals[k].first).string() + ": names files that no save"), std::string::npos)
        << journals[k].first << "\n" << report;
  EXPECT_NE(report.find(f1.string() + ": the new content an interrupted save left for it is held by another "
                        "process; left as it is, so the set recorded in " + (dir / journals[2].first).string()),
            std::string::npos) << report;
  EXPECT_NE(report.find("and did not let them go within 2 s"), std::string::npos) << report;
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3) << report;
  EXPECT_EQ(ReadAll(f1), "the user's f1");
  EXPECT_EQ(ReadAll(g1), "the user's g1");
  EXPECT_TRUE(fs::exists(dir / liveTemp));
  EXPECT_TRUE(fs::exists(dir / killedTemp));
  pause.Go();
  EXPECT_EQ(ExitCode(live), 0) << "the live save could not finish";
  EXPECT_EQ(ReadAll(f1), "partial and the rest");
  fs::remove_all(dir);
}

// A temporary named by the journal of an ended save that is not a regular file (a
// symbolic link to a file elsewhere, a pipe, a folder) was made by no save, and is
// called what it is; one rewritten since is not the file the save wrote: neither is
// ever renamed over its target. The journal stays and names the set's file (never
// the hidden temporary) and why, the target keeps its file, the file the link
// points to is untouched, and a save of the target is refused while the set cannot
// be finished.
TEST(AtomicFileBatch, TemporaryThatIsNotARegularFileIsLeftAndReported) {
  const std::pair<std::string, std::string> kinds[] = {{"link", "is not a regular file (a symbolic link)"},
                                                       {"pipe", "is not a regular file (a pipe)"},
                                                       {"folder", "is not a regular file (a folder)"},
                                                       {"changed", "was changed since"}};
  for (const auto& [kind, words] : kinds) {
    SCOPED_TRACE(kind);
    const TwoFolderSet set("atomic_" + kind);
    const fs::path outside = set.a.parent_path() / "outside.txt";
    WriteRaw(outside, "elsewhere");
    set.SaveKilledAt(3);  // f1 renamed; the temporaries of f2 and ~tmppars left
    const std::string temp = TemporaryIn(set.a, ".f2.ra1.tmp-");
    ASSERT_FALSE(temp.empty());
    fs::remove(set.a / temp);
    if (kind == "link")
      fs::create_symlink(outside, set.a / temp);
    else if (kind == "pipe")
      ASSERT_EQ(::mkfifo((set.a / temp).c_str(), 0600), 0);
    else if (kind == "folder")
      fs::create_directory(set.a / temp);
    else
      WriteRaw(set.a / temp, "forged, longer than the new f2.ra1");
    const std::string report = RecoverInterruptedSaves(set.b.string());
    EXPECT_NE(report.find(set.files[1].string() + ": the new content an interrupted save left for it " + words),
              std::string::npos)
        << report;
    EXPECT_EQ(report.find(".part"), std::string::npos) << "a hidden temporary named: " << report;
    // Looked at without opening it: a pipe in its place would block a read.
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(set.files[1])));
    if (fs::is_regular_file(fs::symlink_status(set.files[1]))) EXPECT_EQ(ReadAll(set.files[1]), "old f2.ra1");
    EXPECT_TRUE(fs::exists(fs::symlink_status(set.a / temp)));
    std::string error;
    EXPECT_FALSE(WriteTextFileAtomically(set.files[1].string(), "later f2.ra1", &error));
    EXPECT_NE(error.find(words), std::string::npos) << error;
    EXPECT_EQ(error.find(".part"), std::string::npos) << error;
    EXPECT_EQ(ReadAll(outside), "elsewhere");
    int journals = 0;
    for (const std::string& name : set.Leftovers()) journals += fs::path(name).extension() == ".journal";
    EXPECT_EQ(journals, 2) << "the journals stay";
  }
}

// The journal of an ended set of n files, of which the odd ones were renamed
// already, written by a process of host whose pid (ended) no longer runs. Only the
// first withFiles files of the set are made.
void PlantEndedSet(const fs::path& dir, const std::string& host, pid_t ended, int n, int id, int withFiles) {
  std::vector<std::pair<std::string, std::string>> renames;
  const std::string owner = host + "-" + std::to_string(ended) + "-1-";
  for (int i = 0; i < n; ++i) {
    const std::string target = "s" + std::to_string(id) + "_" + std::to_string(i) + ".dat";
    const std::string temp = "." + target + ".tmp-" + owner + std::to_string(i) + ".part";
    if (i >= withFiles) {
    } else if (i % 2 == 0) {
      WriteRaw(dir / temp, "new " + std::to_string(i));
      WriteRaw(dir / target, "old " + std::to_string(i));
    } else {
      WriteRaw(dir / target, "new " + std::to_string(i));
    }
    renames.emplace_back(temp, target);
  }
  // The journal is written after the files, as a save writes it: a later tick of the
  // file system's coarse clock, or its targets would count as saved again after it.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  WriteRaw(dir / (".tarmic-save-" + owner + std::to_string(id) + ".journal"), JournalText({"."}, renames));
}

// Recovery takes time in proportion to the journal: a set of 4,000 files (a set of
// this program holds at most 4,096), every other one renamed before the program
// ended, is finished at the next load. A journal naming 20,000 files, more than any
// set of this program, is refused as soon as its counts are read and reported, and
// touches nothing. The times are printed.
TEST(AtomicFileBatch, LargeJournalsAreFinishedInLinearTimeOrRefused) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_large";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const OwnTemporaryName own = OwnTemporaryOf(dir / "x");
  ASSERT_FALSE(own.host.empty());
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(ExitCode(ended), 0);
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); };

  PlantEndedSet(dir, own.host, ended, 4000, 0, 4000);
  Clock::time_point began = Clock::now();
  EXPECT_EQ(RecoverInterruptedSaves(dir.string()), "");
  std::printf("[ timing   ] a journal of 4,000 files finished in %.3f s\n", seconds(began));
  int fresh = 0;
  for (int i = 0; i < 4000; ++i) fresh += ReadAll(dir / ("s0_" + std::to_string(i) + ".dat")) == "new " + std::to_string(i);
  EXPECT_EQ(fresh, 4000);
  EXPECT_EQ(Leftovers(dir, "").size(), 4000u) << "no temporary and no journal left";
  fs::remove_all(dir);
  fs::create_directories(dir);

  PlantEndedSet(dir, own.host, ended, 20000, 1, 2);
  began = Clock::now();
  const std::string report = RecoverInterruptedSaves(dir.string());
  std::printf("[ timing   ] a journal of 20,000 files refused in %.3f s\n", seconds(began));
  EXPECT_NE(report.find("names more files or folders than any set this program saves"), std::string::npos)
      << report;
  EXPECT_EQ(ReadAll(dir / "s1_0.dat"), "old 0");
  EXPECT_EQ(ReadAll(dir / "s1_1.dat"), "new 1");
  EXPECT_EQ(Leftovers(dir, "").size(), 4u) << "every file stays";
  fs::remove_all(dir);
}

// One allowance of waiting for a whole save. A set of ten files saved into a
// folder where an ended save left a set that also touches a folder another
// instance keeps: the save waits once, shown once with the seconds left, instead
// of once for each file and again for the set, and is then saved, leaving that
// set for later. A key pressed while the notice is up gives a wait up at once.
TEST(AtomicFileBatch, ASaveWaitsOnceAndAKeyGivesTheWaitUp) {
  const TwoFolderSet set("atomic_wait_once");
  set.SaveKilledAt(3);  // journals in both folders
  ScopedHeadlessBackend backend;
  std::vector<std::string> shown;
  GetFolderWaitHooks() = {[&](const std::string& text) { shown.push_back(text); }, [] {}, nullptr, nullptr};
  struct Reset {
    ~Reset() {
      ResetFolderWaitHooks();
      SetFolderLockWaitForTesting(std::chrono::seconds(10));
    }
  } reset;
  SetFolderLockWaitForTesting(std::chrono::milliseconds(400));
  pid_t other = HoldFolderInChild(set.b, 4000);
  ASSERT_GT(other, 0);
  std::string report;
  {
    AtomicFileBatch batch;
    for (int k = 0; k < 10; ++k) {
      const std::string path = (set.a / ("x" + std::to_string(k) + ".dat")).string();
      batch.Check(path, WriteTextFileAtomically(path, "x"));
    }
    report = batch.Finish();
  }
  ::kill(other, SIGKILL);
  ASSERT_EQ(::waitpid(other, nullptr, 0), other);
  EXPECT_EQ(report, "");
  EXPECT_EQ(ReadAll(set.a / "x9.dat"), "x");
  ASSERT_EQ(shown.size(), 1u) << "one wait for the whole save";
  EXPECT_NE(shown[0].find(set.b.string()), std::string::npos) << shown[0];
  EXPECT_NE(shown[0].find("giving up in 1 s"), std::string::npos) << shown[0];

  // The key: the recovery of the set gives its wait up long before its 10 s.
  SetFolderLockWaitForTesting(std::chrono::seconds(10));
  GetFolderWaitHooks().keyPressed = [] { return true; };
  other = HoldFolderInChild(set.b, 20000);
  ASSERT_GT(other, 0);
  shown.clear();
  const std::string given = RecoverInterruptedSaves(set.a.string());
  ::kill(other, SIGKILL);
  ASSERT_EQ(::waitpid(other, nullptr, 0), other);
  EXPECT_NE(given.find("the wait for it was given up"), std::string::npos) << given;
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("giving up in 10 s"), std::string::npos) << shown[0];
  EXPECT_EQ(set.NewCount(), 1) << "the set stays as it was";
  EXPECT_EQ(RecoverInterruptedSaves(set.a.string()), "");
  EXPECT_EQ(set.NewCount(), 3);
}

// Journals that do not read as journals of this program: empty, garbage, larger
// than any set's journal (50 MB), a symbolic link and a pipe in a journal's name,
// and one naming 98,400 copy folders.
// Each is reported once, left as it is, and saves into the folder go on.
TEST(AtomicFileBatch, JournalsThatDoNotReadAsOneAreReported) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_unread";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const OwnTemporaryName own = OwnTemporaryOf(dir / "x");
  const pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ASSERT_EQ(ExitCode(ended), 0);
  auto named = [&](int n) { return ".tarmic-save-" + own.host + "-" + std::to_string(ended) + "-1-" + std::to_string(n) + ".journal"; };
  WriteRaw(dir / named(0), "");
  WriteRaw(dir / named(1), std::string("tarmic save journal 1\nboot -\ncopies x\n\x01\x02\xff"));
  WriteRaw(dir / named(2), JournalText({"."}, {}));
  fs::resize_file(dir / named(2), 50u << 20);
  WriteRaw(dir.parent_path() / "atomic_unread_elsewhere", JournalText({"."}, {}));
  fs::create_symlink(dir.parent_path() / "atomic_unread_elsewhere", dir / named(3));
  ASSERT_EQ(::mkfifo((dir / named(4)).c_str(), 0600), 0);
  // 98,400 copy folders (1.5 MB), more than any set has files.
  std::vector<std::string> copies{"."};
  for (int k = 1; k < 98400; ++k) copies.push_back("../copy" + std::to_string(k));
  WriteRaw(dir / named(5), JournalText(copies, {}));
  const std::string report = RecoverInterruptedSaves(dir.string());
  EXPECT_NE(report.find((dir / named(5)).string() + ": names more files or folders than any set"),
            std::string::npos) << report;
  for (int n = 0; n < 6; ++n) {
    const std::string head = (dir / named(n)).string() + ": ";
    EXPECT_NE(report.find(head), std::string::npos) << n << "\n" << report;
    EXPECT_EQ(report.find(head), report.rfind(head)) << "reported once";
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir / named(n))));
  }
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 5) << report;
  EXPECT_TRUE(WriteTextFileAtomically((dir / "f.dat").string(), "saved"));
  fs::remove_all(dir);
  fs::remove(dir.parent_path() / "atomic_unread_elsewhere");
}

// A folder whose file system refuses locks is saved to unlocked, and the user is
// told once in the run that saves into it are not protected from other instances;
// one on a network share is locked on this computer only, and is told once that
// other computers do not see the lock. Saves go on.
TEST(FolderLocks, AFolderThatCannotBeLockedIsToldOnce) {
  const fs::path root = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_unlocked";
  fs::remove_all(root);
  fs::create_directories(root / "local");
  fs::create_directories(root / "share");
  std::vector<std::string> told;
  GetFolderWaitHooks().tell = [&](const std::string& text) { told.push_back(text); };
  struct Reset {
    ~Reset() {
      ResetFolderWaitHooks();
      SetFolderLockCallForTesting(nullptr);
      SetFolderFileSystemTypeForTesting(0);
    }
  } reset;
  auto saveTwice = [](const fs::path& dir) {
    EXPECT_TRUE(WriteTextFileAtomically((dir / "one.dat").string(), "1"));
    AtomicFileBatch batch;
    for (const char* name : {"a.dat", "b.dat"})
      batch.Check((dir / name).string(), WriteTextFileAtomically((dir / name).string(), name));
    EXPECT_EQ(batch.Finish(), "");
    EXPECT_EQ(ReadAll(dir / "b.dat"), "b.dat");
  };
  SetFolderLockCallForTesting([](int, int) {
    errno = ENOLCK;
    return -1;
  });
  saveTwice(root / "local");
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find((root / "local").string()), std::string::npos) << told[0];
  EXPECT_NE(told[0].find("not protected from other instances of the program"), std::string::npos) << told[0];
  SetFolderLockCallForTesting(nullptr);
  // Each share whose locks stay on one computer is told once; local file systems never.
  const std::pair<long, bool> types[] = {{0x6969, true},      {0x517B, true},     {0xFF534D42, true},
                                         {0xFE534D42, true},  {0x65735546, true}, {0x01021997, true},
                                         {0xEF53, false},     {0x01021994, false}, {0x58465342, false}};
  std::size_t expected = 1;
  for (const auto& [type, shared] : types) {
    SetFolderFileSystemTypeForTesting(type);
    const fs::path share = root / ("share" + std::to_string(type));
    fs::create_directories(share);
    saveTwice(share);
    expected += shared ? 1 : 0;
    ASSERT_EQ(told.size(), expected) << std::hex << type;
    if (!shared) continue;
    EXPECT_NE(told.back().find(share.string()), std::string::npos) << told.back();
    EXPECT_NE(told.back().find("instances of the program on other computers"), std::string::npos) << told.back();
  }
  // A load of a share's folder is told as a save is, once in the run.
  SetFolderFileSystemTypeForTesting(0x65735546);
  fs::create_directories(root / "loaded");
  WriteRaw(root / "loaded" / "a.dat", "a");
  for (int k = 0; k < 2; ++k) {
    const FolderReading reading({(root / "loaded" / "a.dat").string()});
    (void)reading;
  }
  ASSERT_EQ(told.size(), expected + 1);
  EXPECT_NE(told.back().find((root / "loaded").string()), std::string::npos) << told.back();
  SetFolderFileSystemTypeForTesting(0);
  fs::remove_all(root);
}

// A load holds the folders it reads as a reader: while another instance is between
// the renames of a set, a load waits for it (as a save waits) and then reads the
// set whole, also when it reads the files through symbolic links in another
// folder (it holds the folders the save holds); two loads do not wait for each other.
TEST(AtomicFileBatch, ALoadWaitsForASaveInProgressAndReadsTheSetWhole) {
  for (const bool throughLinks : {false, true}) {
  SCOPED_TRACE(throughLinks ? "through links" : "the files themselves");
  const TwoFolderSet set("atomic_load_waits");
  set.WriteOld();
  std::vector<std::string> paths;
  const fs::path links = set.a.parent_path() / "links";
  fs::create_directories(links);
  for (const fs::path& f : set.files) {
    paths.push_back(f.string());
    if (!throughLinks) continue;
    paths.back() = (links / f.filename()).string();
    fs::create_symlink(f, paths.back());
  }
  Pause pause;
  const pid_t saver = ::fork();
  if (saver == 0) {
    pause.Arm(3);
    ::_exit(set.Save("new").empty() ? 0 : 1);
  }
  ASSERT_GT(saver, 0);
  ASSERT_TRUE(pause.Reached());
  std::atomic<bool> read{false};
  std::string tag, note;
  std::thread load([&] {
    const FolderReading reading(paths);
    tag = set.Tag();
    note = reading.Note();
    read = true;
  });
  ::usleep(300 * 1000);
  EXPECT_FALSE(read) << "the load did not wait for the save";
  pause.Go();
  load.join();
  EXPECT_EQ(ExitCode(saver), 0);
  EXPECT_EQ(tag, "new");
  EXPECT_EQ(note, "");
  // Readers together.
  const FolderReading first(paths);
  std::thread second([&] {
    const FolderReading reading(paths);
    note = reading.Note();
  });
  second.join();
  EXPECT_EQ(note, "");
  }
}

// A save that finds in its folder the journal of an ended set that also touches
// another folder takes both in the one order (by device and inode) before it
// finishes that set, never the other one while holding its own. Another instance
// that holds the other folder and then takes this one, in that order, goes first,
// and the save then finishes the set.
TEST(AtomicFileBatch, RecoveryTakesTheFoldersOfItsSetInTheOneOrder) {
  const TwoFolderSet set("atomic_order");
  struct stat sa {}, sb {};
  ASSERT_EQ(::stat(set.a.c_str(), &sa), 0);
  ASSERT_EQ(::stat(set.b.c_str(), &sb), 0);
  ASSERT_EQ(sa.st_dev, sb.st_dev);
  const bool aFirst = sa.st_ino < sb.st_ino;
  const fs::path first = aFirst ? set.a : set.b, second = aFirst ? set.b : set.a;
  // This instance's save into the folder that comes second, written before the
  // set is left there.
  AtomicFile file((second / "mine.txt").string());
  ASSERT_TRUE(file.IsOpen());
  std::fputs("mine", file.File());
  set.SaveKilledAt(3);
  ASSERT_EQ(set.NewCount(), 1);
  // The other instance: the first folder, then (in the one order) the second.
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t other = ::fork();
  if (other == 0) {
    const int one = ::open(first.c_str(), O_RDONLY | O_DIRECTORY);
    char held = one >= 0 && ::flock(one, LOCK_EX) == 0 ? 'y' : 'n';
    if (::write(ready[1], &held, 1) != 1) ::_exit(2);
    ::usleep(300 * 1000);
    ::alarm(20);
    const int two = ::open(second.c_str(), O_RDONLY | O_DIRECTORY);
    ::_exit(two >= 0 && ::flock(two, LOCK_EX) == 0 ? 0 : 1);
  }
  char held = 'n';
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ::close(ready[0]);
  ::close(ready[1]);
  ASSERT_EQ(held, 'y');
  SetFolderLockWaitForTesting(std::chrono::seconds(3));
  EXPECT_TRUE(file.Commit()) << file.Error();
  SetFolderLockWaitForTesting(std::chrono::seconds(10));
  EXPECT_EQ(ExitCode(other), 0);
  EXPECT_EQ(ReadAll(second / "mine.txt"), "mine");
  EXPECT_EQ(set.NewCount(), 3) << "the set left there is finished by the save";
}

// ------------------------------------------------------ round three: sets whole

// A set killed after its first rename whose temporary of f2 is then gone (removed
// by anyone): the journal records what each temporary was, so the missing one is
// never taken for renamed. Nothing more is replaced, the journal stays, every load
// says so and a save of f2 names the journal that holds it up.
TEST(AtomicFileBatch, AMissingTemporaryIsNeverTakenForRenamed) {
  const TwoFolderSet set("atomic_lost");
  set.SaveKilledAt(3);
  const std::string temp = TemporaryIn(set.a, ".f2.ra1.tmp-");
  ASSERT_FALSE(temp.empty());
  fs::remove(set.a / temp);
  const std::string report = RecoverInterruptedSaves(set.b.string());
  EXPECT_NE(report.find(set.files[1].string() + ": the new content an interrupted save left for it is gone"), std::string::npos) << report;
  EXPECT_EQ(ReadAll(set.files[2]), "old ~tmppars.ra1") << "nothing more of the set replaced";
  std::vector<std::string> paths;
  for (const fs::path& f : set.files) paths.push_back(f.string());
  EXPECT_NE(FolderReading(paths).Note().find("may come from different saves"), std::string::npos);
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomically(set.files[1].string(), "later f2.ra1", &error));
  EXPECT_NE(error.find("(the save is recorded in " + set.a.string() + "/.tarmic-save-"), std::string::npos) << error;
}

// Another computer's save, killed after its first rename, left its journals and
// temporaries (its host's name in them). While they are younger than an hour that
// save may still run: a load says the files may come from different saves, naming
// the journal, and a save here of a file it names is refused, naming the journal.
// A file saved there since (by another program) is never replaced when the journal
// is finished an hour later: the rest of that set stays, and the load says so.
TEST(AtomicFileBatch, AnotherComputersJournalHoldsUpSavesOfItsFilesAndNeverRevertsANewerOne) {
  const TwoFolderSet set("atomic_foreign");
  const OwnTemporaryName own = OwnTemporaryOf(set.a / "x");
  ASSERT_FALSE(own.host.empty());
  set.SaveKilledAt(3);
  auto elsewhere = [&](std::string text) {
    for (const std::string mark : {"tmp-", "save-"})
      for (std::size_t at; (at = text.find(mark + own.host + "-")) != std::string::npos;)
        text.replace(at, mark.size() + own.host.size(), mark + "elsewhere");
    return text;
  };
  std::string journal;
  for (const fs::path& dir : {set.a, set.b})
    for (const std::string& name : Leftovers(dir, "")) {
      if (name.find(own.host) == std::string::npos) continue;
      if (fs::path(name).extension() == ".journal") {
        WriteRaw(dir / elsewhere(name), elsewhere(ReadAll(dir / name)));
        fs::remove(dir / name);
        if (dir == set.b) journal = (dir / elsewhere(name)).string();
      } else {
        fs::rename(dir / name, dir / elsewhere(name));
      }
    }
  ASSERT_FALSE(journal.empty());
  std::vector<std::string> paths;
  for (const fs::path& f : set.files) paths.push_back(f.string());
  const std::string note = FolderReading(paths).Note();
  EXPECT_NE(note.find("on another computer"), std::string::npos) << note;
  EXPECT_NE(note.find(journal), std::string::npos) << note;
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomically(set.files[2].string(), "here ~tmppars.ra1", &error));
  EXPECT_NE(error.find(journal), std::string::npos) << error;
  EXPECT_EQ(ReadAll(set.files[2]), "old ~tmppars.ra1");

  WriteRaw(set.files[2], "later ~tmppars.ra1");
  for (const std::string& name : set.Leftovers())
    if (fs::path(name).extension() == ".journal")
      for (const fs::path& dir : {set.a, set.b})
        if (fs::exists(dir / name))
          fs::last_write_time(dir / name, fs::file_time_type::clock::now() - std::chrono::hours(2));
  const std::string report = RecoverInterruptedSaves(set.b.string());
  EXPECT_EQ(ReadAll(set.files[2]), "later ~tmppars.ra1") << "an old journal replaced a newer file";
  EXPECT_EQ(ReadAll(set.files[1]), "old f2.ra1");
  EXPECT_NE(report.find(set.files[2].string()), std::string::npos) << report;
  EXPECT_NE(report.find("saved again (or left) while the save recorded in " + journal), std::string::npos) << report;
  // The journal stays as the record that the set is mixed (its temporaries go):
  // every load says so, not only the first, until the set is saved again.
  for (const std::string& name : set.Leftovers()) EXPECT_EQ(fs::path(name).extension(), ".journal") << name;
  for (int load = 0; load < 2; ++load)
    EXPECT_NE(FolderReading(paths).Note().find("come from different saves"), std::string::npos) << load;
  {
    // An unrelated save in the folder keeps what it found, and leaves the record.
    AtomicFile other((set.b / "unrelated.txt").string());
    std::fputs("x", other.File());
    ASSERT_TRUE(other.Commit()) << other.Error();
    EXPECT_NE(other.FolderReport().find("come from different saves"), std::string::npos) << other.FolderReport();
    fs::remove(set.b / "unrelated.txt");
  }
  EXPECT_NE(FolderReading(paths).Note().find("come from different saves"), std::string::npos);
  set.Save("whole");
  EXPECT_EQ(FolderReading(paths).Note(), "");
  EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
}

// Journals of an ended process of this host that act on a folder other than their
// own and those of their set are not obeyed, and say so naming the journal: one
// whose copies are "." and "../outside", where "outside" holds the same file and a
// temporary of the program's form (the copy there does not name the same set, seen
// from there); one whose copies are "." and "..", the folder above holding none of
// its files. Nothing outside is replaced, and saves of their targets go on.
TEST(AtomicFileBatch, AJournalActsOnlyOnTheFoldersOfItsOwnSet) {
  const fs::path root = fs::path(TARMIC_TEST_OUTPUT_DIR) / "atomic_copies";
  fs::remove_all(root);
  const fs::path data = root / "data", outside = root / "outside";
  fs::create_directories(data);
  fs::create_directories(outside);
  const OwnTemporaryName own = OwnTemporaryOf(data / "x");
  ASSERT_FALSE(own.host.empty());
  const pid_t ended = EndedPid();
  ASSERT_GT(ended, 0);
  const std::string id = own.host + "-" + std::to_string(ended) + "-1-";
  auto temp = [&](const std::string& target, int n) { return "." + target + ".tmp-" + id + std::to_string(n) + ".part"; };
  const std::string out = ".tarmic-save-" + id + "0.journal", up = ".tarmic-save-" + id + "1.journal";
  const std::string outText =
      JournalText({".", "../outside"}, {{temp("x.dat", 0), "x.dat"}, {"../outside/" + temp("victim.txt", 1), "../outside/victim.txt"}});
  WriteRaw(data / out, outText);
  WriteRaw(outside / out, outText);
  WriteRaw(data / temp("x.dat", 0), "forged x");
  WriteRaw(outside / temp("victim.txt", 1), "forged");
  WriteRaw(outside / "victim.txt", "victim");
  WriteRaw(data / up, JournalText({".", ".."}, {{temp("y.dat", 2), "y.dat"}, {"../" + temp("z.dat", 3), "../z.dat"}}));
  WriteRaw(data / temp("y.dat", 2), "forged y");
  const std::string report = RecoverInterruptedSaves(data.string());
  EXPECT_NE(report.find((data / out).string() + ": its copy"), std::string::npos) << report;
  EXPECT_NE(report.find((data / up).string() + ": names the folder " + root.string()), std::string::npos) << report;
  EXPECT_EQ(ReadAll(outside / "victim.txt"), "victim");
  EXPECT_FALSE(fs::exists(data / "x.dat"));
  std::string error;
  EXPECT_TRUE(WriteTextFileAtomically((data / "y.dat").string(), "saved y", &error)) << error;
  EXPECT_TRUE(WriteTextFileAtomically((outside / "victim.txt").string(), "saved", &error)) << error;
  fs::remove_all(root);
}

// A folder that can be written but not listed (mode 0333) can be neither locked nor
// searched for what an ended save left: saves into it go on, and the user is told
// once that they are not protected. Run as a user the mode holds for (root passes
// over it, so the test runs as "nobody" then).
TEST(FolderLocks, AFolderThatCanBeWrittenButNotListedIsToldAsUnprotected) {
  // In the system's temporary folder, which "nobody" can pass through wherever the
  // build lies.
  const fs::path dir = fs::temp_directory_path() / ("tarmic-unlisted-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::chown(dir.c_str(), 65534, 65534) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
      ::_exit(kNoNamespace);
    if (::chmod(dir.c_str(), 0333) != 0) ::_exit(kNoNamespace);
    if (::opendir(dir.c_str()) != nullptr) ::_exit(kNoNamespace);
    std::vector<std::string> told;
    GetFolderWaitHooks().tell = [&](const std::string& text) { told.push_back(text); };
    bool saved = false;
    {
      AtomicFileBatch batch;
      for (const char* name : {"a.dat", "b.dat"})
        batch.Check((dir / name).string(), WriteTextFileAtomically((dir / name).string(), name));
      saved = batch.Finish().empty();
    }
    saved = saved && WriteTextFileAtomically((dir / "c.dat").string(), "c");
    const bool toldOnce = told.size() == 1 && told[0].find(dir.string()) != std::string::npos &&
                          told[0].find("not protected from other instances") != std::string::npos &&
                          told[0].find("cannot be read") != std::string::npos;
    ::_exit(saved ? (toldOnce ? 0 : 2) : 1);
  }
  const int code = ExitCode(child);
  fs::permissions(dir, fs::perms::owner_all);
  if (code == kNoNamespace) GTEST_SKIP() << "no user here for whom the folder's mode holds";
  EXPECT_EQ(code, 0) << "1: the saves failed, 2: not told once that they are unprotected";
  EXPECT_EQ(ReadAll(dir / "b.dat"), "b.dat");
  fs::remove_all(dir);
}

// A save's work grows with its set: a set of 2,000 files in one folder (beside
// journals that do not read as one) lists its folder and reads each journal as
// often as a set of 500, and looks at about 4 times the folder entries. A set of
// more files than one save replaces together is refused at its first file too many,
// whose temporary is never written, and leaves nothing behind.
TEST(AtomicFileBatch, ASavesWorkGrowsWithItsSet) {
  // In memory where the machine has it: thousands of syncs to a disk take a minute.
  const fs::path dir = (fs::is_directory("/dev/shm") && ::access("/dev/shm", W_OK) == 0
                            ? fs::path("/dev/shm")
                            : fs::path(TARMIC_TEST_OUTPUT_DIR)) /
                       ("tarmic_atomic_cost_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const OwnTemporaryName own = OwnTemporaryOf(dir / "x");
  for (int n = 0; n < 3; ++n)
    WriteRaw(dir / (".tarmic-save-" + own.host + "-1-1-" + std::to_string(n) + ".journal"), "not a journal");
  // A name line of 15 MiB is refused from the journal's head.
  WriteRaw(dir / (".tarmic-save-" + own.host + "-1-1-3.journal"),
           "tarmic save journal 2\nboot -\ncopies 1\n.\nrenames 1\n" + std::string(15u << 20, 'x') + "\n");
  auto save = [&](int n, int* failedAt = nullptr) {
    const StorageWork before = StorageWorkForTesting();
    AtomicFileBatch batch;
    for (int k = 0; k < n; ++k) {
      const std::string path = (dir / ("s" + std::to_string(k) + ".dat")).string();
      const bool written = WriteTextFileAtomically(path, "x");
      if (!written && failedAt && *failedAt < 0) *failedAt = k;
      batch.Check(path, written);
    }
    const std::string report = batch.Finish();
    EXPECT_EQ(report.empty(), failedAt == nullptr) << report.substr(0, 400);
    const StorageWork after = StorageWorkForTesting();
    return StorageWork{after.listings - before.listings, after.entries - before.entries,
                       after.journalReads - before.journalReads};
  };
  save(500);
  const StorageWork small = save(500);
  save(2000);
  const StorageWork large = save(2000);
  std::printf("[ work     ] 500 files: %llu listings, %llu entries, %llu journal reads; 2,000 files: %llu, %llu, %llu\n",
              small.listings, small.entries, small.journalReads, large.listings, large.entries, large.journalReads);
  EXPECT_EQ(large.listings, small.listings);
  EXPECT_EQ(large.journalReads, small.journalReads);
  EXPECT_LE(large.journalReads, 4u) << "each journal read once";
  EXPECT_LE(large.entries, 4.5 * static_cast<double>(small.entries));
  fs::remove_all(dir);
  fs::create_directories(dir);
  int failedAt = -1;
  save(4097, &failedAt);
  EXPECT_EQ(failedAt, 4096);
  EXPECT_TRUE(fs::is_empty(dir)) << "the refused set left files behind";
  fs::remove_all(dir);
}

// The temporary of a journal copy whose name is taken meanwhile (another
// instance's recovery removed it between its making and its lock, or a file of
// that name is there) is given up for another name, as the temporaries of files
// are: the save goes on, and no message names a hidden file.
std::string gJournalSeen;
void NoteJournal(int step) {
  if (step != 1) return;
  for (const char* dir : {"atomic_journal_name/fits", "atomic_journal_name/data"})
    for (const fs::directory_entry& e : fs::directory_iterator(fs::path(TARMIC_TEST_OUTPUT_DIR) / dir))
      if (e.path().extension() == ".journal") gJournalSeen = e.path().filename().string();
}
TEST(AtomicFileBatch, AJournalNameTakenMeanwhileIsGivenUpForAnother) {
  const TwoFolderSet set("atomic_journal_name");
  set.WriteOld();
  SetSaveStepHookForTesting(NoteJournal);
  EXPECT_EQ(set.Save("first"), "");
  SetSaveStepHookForTesting(nullptr);
  // ".tarmic-save-<host>-<pid>-<start>-<n>.journal": the next saves take n + 1, ...
  ASSERT_FALSE(gJournalSeen.empty());
  const std::string stem = gJournalSeen.substr(0, gJournalSeen.rfind('-') + 1);
  const int n = std::stoi(gJournalSeen.substr(stem.size()));
  for (int next = n + 1; next <= n + 3; ++next)
    for (const fs::path& dir : {set.a, set.b}) fs::create_directory(dir / (stem + std::to_string(next) + ".journal.part"));
  const std::string report = set.Save("second");
  EXPECT_EQ(report, "");
  EXPECT_EQ(report.find(".journal.part"), std::string::npos) << report;
  EXPECT_EQ(set.Tag(), "second");
}

// ------------------------------------------------------ many instances at once

// One set of nine files in two folders, with symbolic links to each in a third.
struct SharedSet {
  fs::path root, a, b, links;
  std::vector<fs::path> files, viaLinks;
  explicit SharedSet(const std::string& name) : root(fs::path(TARMIC_TEST_OUTPUT_DIR) / name) {
    fs::remove_all(root);
    a = root / "fits";
    b = root / "data";
    links = root / "links";
    for (const fs::path& d : {a, b, links}) fs::create_directories(d);
    for (int k = 0; k < 6; ++k) files.push_back(a / ("f" + std::to_string(k) + ".ra1"));
    for (int k = 0; k < 3; ++k) files.push_back(b / ("p" + std::to_string(k) + ".dat"));
    for (const fs::path& f : files) {
      WriteRaw(f, "0 " + f.filename().string());
      viaLinks.push_back(links / f.filename());
      fs::create_symlink(f, viaLinks.back());
    }
  }
  ~SharedSet() { fs::remove_all(root); }
  void Save(const std::string& tag) const {
    AtomicFileBatch batch;
    for (const fs::path& f : files)
      batch.Check(f.string(), WriteTextFileAtomically(f.string(), tag + " " + f.filename().string()));
    (void)batch.Finish();
  }
};

// The files of a killed saver let go one by one: a child made at the step the
// saver kills itself shares its open files, and so their locks. Once the saver is
// gone, it lets go of the folders, then of the temporaries and journals one at a
// time a few milliseconds apart, in an order of its own.
unsigned gLingerSeed = 0;
void LetGoOneByOne() {
  std::vector<int> open, files;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') open.push_back(std::atoi(e->d_name));
    open.erase(std::remove(open.begin(), open.end(), ::dirfd(d)), open.end());
    ::closedir(d);
  }
  for (const int fd : open) {
    struct stat st {};
    if (fd <= 2 || ::fstat(fd, &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) ::close(fd);  // the folders: no save of the set waits for this one
    else if (S_ISREG(st.st_mode)) files.push_back(fd);
  }
  for (std::size_t k = files.size(); k > 1; --k) {
    gLingerSeed = gLingerSeed * 1103515245u + 12345u;
    std::swap(files[k - 1], files[(gLingerSeed >> 8) % k]);
  }
  for (const int fd : files) {
    ::usleep(1000 + (gLingerSeed >> 4) % 8000);
    ::close(fd);
  }
}
void LingerAndDieAtStep(int step) {
  if (step != gKillAtStep) return;
  const pid_t lingerer = ::fork();
  if (lingerer == 0) {
    ::usleep(500);  // the saver is killed meanwhile
    LetGoOneByOne();
    ::_exit(0);
  }
  std::raise(SIGKILL);
}

// Saves killed by themselves at a random step of their replacement (or not), one
// after another until end; in a process of its own each, so that a kill ends it.
// Three in four killed savers let their files go one by one (LingerAndDieAtStep).
int SaveAndDieAtRandom(const SharedSet& set, std::chrono::steady_clock::time_point end, unsigned seed) {
  for (unsigned n = 0; std::chrono::steady_clock::now() < end; ++n) {
    const pid_t saver = ::fork();
    if (saver == 0) {
      // Steps 0-13 of a set of nine files in two folders, or none (saves go on);
      // those whose files linger die between two renames (steps 3-11).
      const unsigned r = seed * 7919u + n * 104729u;
      const bool linger = n % 4 != 0;
      gKillAtStep = static_cast<int>(linger ? 3 + r % 9u : r % 16u);
      gLingerSeed = seed + n;
      SetSaveStepHookForTesting(linger ? LingerAndDieAtStep : KillAtStep);
      for (unsigned k = 0; std::chrono::steady_clock::now() < end; ++k)
        set.Save(std::to_string(::getpid()) + "." + std::to_string(k));
      ::_exit(0);
    }
    if (saver < 0 || ::waitpid(saver, nullptr, 0) != saver) return 1;
  }
  return 0;
}

// Several instances save and load one set of files in two folders at once for a few
// seconds: three savers killed (kill -9) at random moments and started again, two
// instances whose saves kill themselves at random steps, most of them with their
// files let go one by one after the save is gone (one of the two in a pid namespace of
// its own, where the machine allows it), and two loaders, one reading the files,
// one reading them through symbolic links. No load ever reads a mixed set without
// saying so, and afterwards the set on disk is whole and nothing is left over.
TEST(AtomicFileBatch, ManyInstancesSavingAndLoadingOneSetNeverMixItSilently) {
  const SharedSet set("atomic_stress");
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(3);
  auto saver = [&] {
    const pid_t pid = ::fork();
    if (pid == 0)
      for (unsigned k = 0;; ++k) set.Save(std::to_string(::getpid()) + "." + std::to_string(k));
    return pid;
  };
  auto loader = [&](const std::vector<fs::path>& paths) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    std::vector<std::string> names;
    for (const fs::path& p : paths) names.push_back(p.string());
    int silent = 0, loads = 0;
    while (Clock::now() < end) {
      const FolderReading reading(names);
      silent += TagOf(paths) == "mixed" && reading.Note().empty();
      ++loads;
    }
    ::_exit(loads == 0 ? 255 : std::min(silent, 250));
  };
  const pid_t direct = loader(set.files), linked = loader(set.viaLinks);
  const unsigned seed = static_cast<unsigned>(::getpid());
  const pid_t boxed = RunInOwnPidNamespace([&] { return SaveAndDieAtRandom(set, end, seed); });
  const pid_t dying = ::fork();
  if (dying == 0) ::_exit(SaveAndDieAtRandom(set, end, seed + 1));
  std::vector<pid_t> savers = {saver(), saver(), saver()};
  std::printf("[ stress   ] seed %u\n", seed);
  int kills = 0;
  for (unsigned n = seed; Clock::now() < end; ++kills) {
    n = n * 1103515245u + 12345u;
    ::usleep(2000 + (n >> 8) % 30000);
    pid_t& victim = savers[(n >> 4) % savers.size()];
    ::kill(victim, SIGKILL);
    ::waitpid(victim, nullptr, 0);
    victim = saver();
  }
  for (const pid_t pid : savers) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  const int boxedCode = ExitCode(boxed);
  if (boxedCode == kNoNamespace) std::printf("[ stress   ] no pid namespace can be made here (it needs root)\n");
  else EXPECT_EQ(boxedCode, 0) << "the instance in its own pid namespace";
  EXPECT_EQ(ExitCode(dying), 0) << "the instance whose saves kill themselves";
  EXPECT_EQ(ExitCode(direct), 0) << "loads of the files that read a mixed set and said nothing";
  EXPECT_EQ(ExitCode(linked), 0) << "loads through links that read a mixed set and said nothing";
  std::printf("[ stress   ] %d kills\n", kills);
  std::vector<std::string> names;
  for (const fs::path& f : set.files) names.push_back(f.string());
  {
    const FolderReading reading(names);
    EXPECT_EQ(reading.Note(), "");
    EXPECT_NE(TagOf(set.files), "mixed");
  }
  // The next save takes away what the killed saves left.
  set.Save("last");
  EXPECT_EQ(TagOf(set.files), "last");
  std::vector<std::string> left;
  for (const fs::path& dir : {set.a, set.b})
    for (const std::string& name : Leftovers(dir, ""))
      if (IsSaveTemporaryName(name)) left.push_back(name);
  EXPECT_EQ(left, std::vector<std::string>{});
}

}  // namespace
}  // namespace tarmic
