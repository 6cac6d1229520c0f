// What a save or load takes for left over by an ended save, on the system's own
// file system: files named by a save of this boot whose lock is gone, or of an
// earlier boot of this machine, or untouched for longer than any save; never a
// fresh file of another computer of the same host name (whose locks and pids are
// not seen here), never one held, shared or exclusive. And what a set left mixed
// by a save of an earlier version says, at every load and to the save that met it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>

#include "storage/atomic_file.h"
#include "storage/folder_lock.h"
#include "tests/storage/saved_set.h"

namespace tarmic {
namespace {

// This process's host tag ("<host>.<machine>.<boot>") from the name of a temporary.
std::string OwnTag() {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "proven_own";
  fs::create_directories(dir);
  const std::string host = OwnTemporaryOf(dir / "x").host;
  fs::remove_all(dir);
  return host;
}

// The tag with its field k (0 host, 1 machine, 2 boot) replaced.
std::string WithField(const std::string& tag, int k, const std::string& value) {
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    const std::size_t dot = tag.find('.', start);
    fields.push_back(tag.substr(start, dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  fields.at(static_cast<std::size_t>(k)) = value;
  std::string out;
  for (const std::string& f : fields) out += (out.empty() ? "" : ".") + f;
  return out;
}

// Another computer of this host name: another machine and another boot.
std::string Elsewhere(const std::string& tag) { return WithField(WithField(tag, 1, "0the0ther"), 2, "0e15e000"); }

void Age(const fs::path& file, std::chrono::hours by) {
  fs::last_write_time(file, fs::file_time_type::clock::now() - by);
}

// The temporaries and journal temporaries of a file that saves of every origin left
// in a folder, fresh and two hours old, and an unrelated save there: what goes is
// what the save's end proves, on whatever machine of the same name it ran.
TEST(ProvenEnded, ASaveSweepsOnlyWhatEndedSavesLeft) {
  const std::string own = OwnTag();
  ASSERT_EQ(std::count(own.begin(), own.end(), '.'), 2) << own << ": no machine or boot id here";
  const pid_t ended = EndedPid();
  ASSERT_GT(ended, 0);
  struct Case {
    const char* what;
    std::string tag;
    int hoursOld;
    bool goes;
  };
  const std::string host = own.substr(0, own.find('.'));
  const std::vector<Case> cases = {
      {"this boot, its process ended", own, 0, true},
      {"an earlier boot of this machine", WithField(own, 2, "0badb007"), 0, true},
      {"another machine of this name, fresh", Elsewhere(own), 0, false},
      {"another machine of this name, two hours old", Elsewhere(own), 2, true},
      // A container on this kernel: its lock would be seen here, whatever the
      // host name or machine id its tag gives.
      {"a container of another machine id, this boot, its lock gone", WithField(own, 1, "0c0ntain"), 0, true},
      {"a container of another name, this boot, its lock gone", WithField(own, 0, "box"), 0, true},
      {"a container without a machine id, this boot, its lock gone",
       "box." + own.substr(own.rfind('.') + 1), 0, true},
      {"a name without machine or boot, fresh", host, 0, false},
      {"a name without machine or boot, two hours old", host, 2, true},
  };
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "proven_sweep";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::vector<std::string> names;
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const std::string owner = cases[k].tag + "-" + std::to_string(ended) + "-1-" + std::to_string(k);
    names.push_back(".a.dat.tmp-" + owner + ".part");
    names.push_back(".tarmic-save-" + owner + ".journal.part");
    for (const std::string& name : {names[names.size() - 2], names.back()}) {
      WriteRaw(dir / name, "left");
      Age(dir / name, std::chrono::hours(cases[k].hoursOld));
    }
  }
  ASSERT_TRUE(WriteTextFileAtomically((dir / "z.dat").string(), "z"));
  for (std::size_t k = 0; k < names.size(); ++k)
    EXPECT_EQ(fs::exists(dir / names[k]), !cases[k / 2].goes) << cases[k / 2].what << ": " << names[k];
  fs::remove_all(dir);
}

// A set of another computer of this host name, its renames under way (journal and
// temporaries fresh, its lock not seen here): a load of the set says that save may
// still be running and finishes nothing; an unrelated save in the folder leaves it
// all; a save of a file of the set is refused. Once it is two hours old, it is taken
// for ended: the next load finishes the set as far as it can (its journal of
// version 1 cannot show that the file left behind is the one it replaced: a file
// changed since the journal is taken for saved again).
TEST(ProvenEnded, ALiveSaveOfAnotherComputerOfThisNameIsLeftAlone) {
  const std::string other = Elsewhere(OwnTag());
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "proven_other";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string owner = other + "-4242-77-";
  const std::vector<std::string> files = {(dir / "a.dat").string(), (dir / "b.dat").string()};
  WriteRaw(dir / "a.dat", "far a");  // renamed already
  WriteRaw(dir / "b.dat", "old b");
  const std::string tempB = ".b.dat.tmp-" + owner + "1.part";
  WriteRaw(dir / tempB, "far b");
  const fs::path journal = dir / (".tarmic-save-" + owner + "0.journal");
  WriteRaw(journal, JournalText({"."}, {{".a.dat.tmp-" + owner + "0.part", "a.dat"}, {tempB, "b.dat"}}));
  const std::string note = FolderReading(files).Note();
  EXPECT_NE(note.find("on another computer"), std::string::npos) << note;
  EXPECT_EQ(ReadAll(dir / "b.dat"), "old b");
  ASSERT_TRUE(WriteTextFileAtomically((dir / "z.dat").string(), "z"));
  EXPECT_TRUE(fs::exists(dir / tempB));
  EXPECT_TRUE(fs::exists(journal));
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomically(files[1], "near b", &error));
  EXPECT_NE(error.find("on another computer"), std::string::npos) << error;
  for (const fs::path& f : {fs::path(journal), dir / tempB}) Age(f, std::chrono::hours(2));
  const std::string late = FolderReading(files).Note();
  EXPECT_EQ(late.find("on another computer"), std::string::npos) << late;
  EXPECT_NE(late.find("come from different saves"), std::string::npos) << late;
  EXPECT_FALSE(fs::exists(dir / tempB)) << "its set was not finished";
  fs::remove_all(dir);
}

// A killed save's temporary held by another program with a lock of each kind,
// shared ones too: a load waits for it and, while it stays held, leaves the set as
// it is and says so; the temporary is never renamed under its holder. Once let go,
// the next load finishes the set.
TEST(ProvenEnded, SharedHoldersAreWaitedForAsExclusiveOnes) {
  struct Kind {
    const char* what;
    int flags;
    bool (*take)(int fd);
  };
  const Kind kinds[] = {
      {"lockf", O_RDWR, [](int fd) { return ::lockf(fd, F_TLOCK, 0) == 0; }},
      {"flock", O_RDONLY, [](int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }},
      {"an fcntl read lock", O_RDONLY,
       [](int fd) {
         struct flock l {};
         l.l_type = F_RDLCK;
         l.l_whence = SEEK_SET;
         return ::fcntl(fd, F_SETLK, &l) == 0;
       }},
      {"a shared flock", O_RDONLY, [](int fd) { return ::flock(fd, LOCK_SH | LOCK_NB) == 0; }},
  };
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.what);
    const TwoFolderSet set("proven_shared");
    set.SaveKilledAt(3);  // after the first rename
    const std::string temp = TemporaryIn(set.b, ".~tmppars.ra1.tmp-");
    ASSERT_FALSE(temp.empty());
    const fs::path held = set.b / temp;
    const pid_t holder = testing::HoldInChild(60000, [&] {
      const int fd = ::open(held.c_str(), kind.flags | O_CLOEXEC);
      return fd >= 0 && kind.take(fd);
    });
    ASSERT_GT(holder, 0);
    std::vector<std::string> paths;
    for (const fs::path& f : set.files) paths.push_back(f.string());
    const std::string note = FolderReading(paths).Note();
    EXPECT_NE(note.find("did not let them go within 2 s"), std::string::npos) << note;
    EXPECT_TRUE(fs::exists(held)) << "renamed under its holder";
    EXPECT_EQ(set.NewCount(), 1);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(FolderReading(paths).Note(), "");
    EXPECT_EQ(set.NewCount(), 3);
  }
}

// A set an ended save of an earlier version (journal version 1, a day old) left
// mixed: one file renamed, the other saved again since. An unrelated save in its
// folder tells the user so; so does every load while a file holds what that save
// wrote; once that file is saved again, the set is no longer mixed and the record
// goes.
TEST(ProvenEnded, ASetLeftMixedIsSaidToBeAtEveryLoad) {
  const std::string own = OwnTag();
  const pid_t ended = EndedPid();
  ASSERT_GT(ended, 0);
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "proven_mixed";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string owner = own + "-" + std::to_string(ended) + "-1-";
  const std::string tempA = ".a.dat.tmp-" + owner + "0.part", tempB = ".b.dat.tmp-" + owner + "1.part";
  WriteRaw(dir / "a.dat", "interrupted a");  // its temporary, renamed
  WriteRaw(dir / tempB, "interrupted b");
  const fs::path journal = dir / (".tarmic-save-" + owner + "0.journal");
  WriteRaw(journal, JournalText({"."}, {{tempA, "a.dat"}, {tempB, "b.dat"}}));
  for (const fs::path& f : {dir / "a.dat", dir / tempB, fs::path(journal)}) Age(f, std::chrono::hours(24));
  WriteRaw(dir / "b.dat", "later b");  // saved again since
  const std::vector<std::string> files = {(dir / "a.dat").string(), (dir / "b.dat").string()};

  std::vector<std::string> told;
  GetFolderWaitHooks().tell = [&](const std::string& text) { told.push_back(text); };
  ASSERT_TRUE(WriteTextFileAtomically((dir / "z.dat").string(), "z"));
  ResetFolderWaitHooks();
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("b.dat: saved again"), std::string::npos) << told[0];
  for (int load = 0; load < 2; ++load) {
    const std::string note = FolderReading(files).Note();
    EXPECT_NE(note.find("b.dat: saved again"), std::string::npos) << load << ": " << note;
    EXPECT_NE(note.find("a.dat do"), std::string::npos) << note;
  }
  EXPECT_FALSE(fs::exists(dir / tempB));
  EXPECT_EQ(ReadAll(dir / "b.dat"), "later b");
  EXPECT_EQ(ReadAll(journal).rfind("tarmic save journal 2\n", 0), 0u) << "recorded as of version 2";
  ASSERT_TRUE(WriteTextFileAtomically(files[0], "later a"));
  EXPECT_EQ(FolderReading(files).Note(), "");
  EXPECT_FALSE(fs::exists(journal));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarmic
