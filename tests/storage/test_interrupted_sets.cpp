// Sets whose save was interrupted and that the next save or load meets in a state
// no plain kill leaves: a temporary someone holds for a moment, renames that stop
// partway in a running save, journals older than the files they name.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "storage/atomic_file.h"
#include "storage/folder_lock.h"
#include "platform/headless/headless_backend.h"
#include "tests/storage/saved_set.h"

namespace tarmic {
namespace {

std::vector<std::string> PathsOf(const std::vector<fs::path>& files) {
  std::vector<std::string> paths;
  for (const fs::path& f : files) paths.push_back(f.string());
  return paths;
}

int CountEnding(const std::vector<std::string>& names, const std::string& end) {
  int n = 0;
  for (const std::string& name : names) n += name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
  return n;
}

// A three-file save killed after its first or its second rename, whose third
// temporary another process holds (a lockf lock) while the set is saved again. A
// lock let go within the wait: the save finishes the set left and then saves its
// own. A lock held past the wait: the save is refused naming the journal and
// replaces nothing, every temporary of that set stays (none is taken for stale),
// and loads say the set may be mixed; once the lock is let go, the next load
// finishes the set and a save goes through. A wait of more than a moment is shown
// and cleared, as a wait for a folder is. Before, the save went on over the
// set, and from then on every load said its new content was gone and every save
// of it was refused, until the hidden journal was deleted by hand.
TEST(InterruptedSets, ATemporaryHeldForAMomentIsWaitedForAndNeverSweptAway) {
  for (const int killedAt : {3, 4})
    for (const bool pastTheWait : {false, true}) {
      SCOPED_TRACE("killed at step " + std::to_string(killedAt) + (pastTheWait ? ", held past the wait" : ""));
      const TwoFolderSet set("interrupted_held");
      set.SaveKilledAt(killedAt);
      const std::string temp = TemporaryIn(set.b, ".~tmppars.ra1.tmp-");
      ASSERT_FALSE(temp.empty());
      const pid_t holder = HoldWithLockf(set.b / temp, pastTheWait ? 60000 : 700);
      ASSERT_GT(holder, 0);
      if (!pastTheWait) {
        ScopedHeadlessBackend backend;  // marks this thread as the user-interface thread
        std::vector<std::string> seen;
        GetFolderWaitHooks() = {[&](const std::string& text) { seen.push_back(text); },
                                [&] { seen.push_back("(cleared)"); }, nullptr, nullptr};
        EXPECT_EQ(set.Save("second"), "");
        ResetFolderWaitHooks();
        EXPECT_EQ(set.Tag(), "second");
        EXPECT_EQ(ExitCode(holder), 0);
        EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
        ASSERT_GE(seen.size(), 2u) << "the wait was not shown";
        EXPECT_EQ(seen[0], "waiting for another process to let go of the files an interrupted save left in " +
                               fs::canonical(set.b).string() + " ... giving up in 2 s (press a key to give up now)");
        EXPECT_EQ(seen.back(), "(cleared)");
        continue;
      }
      SetFolderLockWaitForTesting(std::chrono::milliseconds(400));
      const std::string refused = set.Save("second");
      SetFolderLockWaitForTesting(std::chrono::seconds(10));
      EXPECT_NE(refused.find("is held by another process"), std::string::npos) << refused;
      EXPECT_NE(refused.find("/.tarmic-save-"), std::string::npos) << "the journal is named: " << refused;
      EXPECT_EQ(refused.find(".part"), std::string::npos) << refused;
      EXPECT_EQ(set.NewCount(), killedAt - 2) << "nothing replaced";
      EXPECT_EQ(CountEnding(set.Leftovers(), ".part"), 3 - (killedAt - 2)) << "a temporary of the set was removed";
      SetFolderLockWaitForTesting(std::chrono::milliseconds(100));
      const std::string note = FolderReading(PathsOf(set.files)).Note();
      SetFolderLockWaitForTesting(std::chrono::seconds(10));
      EXPECT_NE(note.find("may come from different saves"), std::string::npos) << note;
      ::kill(holder, SIGKILL);
      ::waitpid(holder, nullptr, 0);
      EXPECT_EQ(FolderReading(PathsOf(set.files)).Note(), "");
      EXPECT_EQ(set.NewCount(), 3) << "the set left is finished once the lock is let go";
      EXPECT_EQ(set.Save("third"), "");
      EXPECT_EQ(set.Tag(), "third");
      EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
    }
}

// ------------------------------------------------ renames that stop partway

std::function<void()> gAtThirdRename;
void ActBeforeThirdRename(int step) {
  if (step == 4 && gAtThirdRename) gAtThirdRename();  // steps 3 and 4: the first two renames done
}

// Sets or clears the immutable flag of file; the error, 0 when done.
int SetImmutable(const fs::path& file, bool on) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  int flags = 0;
  int err = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 ? 0 : errno;
  flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
  if (err == 0 && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) err = errno;
  ::close(fd);
  return err;
}

// The third of three renames fails in the running save: its target was made
// immutable, or its folder was moved away and comes back later. The save reports
// the failure and that the set is finished later; the two files replaced stay, and
// every load says the set may be mixed while the third cannot be replaced (a save
// of the set is refused meanwhile). Once the file or folder is as before, the next
// load finishes the set: all new, nothing left over. Before, the save removed its
// journal, and the set stayed new, new, old with no load ever saying so.
TEST(InterruptedSets, ARenameThatFailsPartwayLeavesTheSetToBeFinished) {
  for (const std::string way : {"immutable", "moved"}) {
    SCOPED_TRACE(way);
    const TwoFolderSet set("interrupted_partway");
    set.WriteOld();
    const fs::path away = set.b.parent_path() / "data-elsewhere";
    if (way == "immutable") {
      if (const int err = SetImmutable(set.files[2], true); err != 0) {
        std::printf("[ skipped  ] no immutable files here: %s\n", std::strerror(err));
        continue;
      }
      SetImmutable(set.files[2], false);
      gAtThirdRename = [&] { SetImmutable(set.files[2], true); };
    } else {
      gAtThirdRename = [&] { fs::rename(set.b, away); };
    }
    struct Undo {
      const TwoFolderSet& set;
      fs::path away;
      void operator()() const {
        SetImmutable(set.files[2], false);
        if (fs::exists(away)) fs::rename(away, set.b);
      }
      ~Undo() { (*this)(); }
    } undo{set, away};
    SetSaveStepHookForTesting(ActBeforeThirdRename);
    const std::string report = set.Save("new");
    SetSaveStepHookForTesting(nullptr);
    gAtThirdRename = nullptr;
    EXPECT_NE(report.find("could not replace:\n" + set.files[2].string()), std::string::npos) << report;
    EXPECT_NE(report.find("finished at the next load or save"), std::string::npos) << report;
    EXPECT_EQ(ReadAll(set.files[0]), "new f1.ra1");
    // A load of the files still there, and a save of the set, while the third
    // cannot be replaced.
    const std::vector<std::string> inFits = {set.files[0].string(), set.files[1].string()};
    const std::string note = FolderReading(inFits).Note();
    EXPECT_NE(note.find("may come from different saves"), std::string::npos) << note;
    EXPECT_EQ(note.find(".part"), std::string::npos) << note;
    EXPECT_NE(set.Save("later"), "");
    EXPECT_EQ(ReadAll(set.files[0]), "new f1.ra1") << "a save went on over the set left";
    undo();
    EXPECT_EQ(FolderReading(PathsOf(set.files)).Note(), "");
    EXPECT_EQ(set.Tag(), "new");
    EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
  }
}

// ------------------------------------------------ journals older than their files

// A journal never replaces a file saved after it. A version-1 journal (it records
// no file) of another computer's save, with its temporaries, dated two hours back,
// appears after a newer save here (a late sync, a restore): the files saved here
// stay, what it left goes, and the load says so. A version-1 journal of this
// computer written after its targets is still finished.
TEST(InterruptedSets, AJournalNeverReplacesAFileSavedAfterIt) {
  const OwnTemporaryName own = [] {
    const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "interrupted_own";
    fs::create_directories(dir);
    OwnTemporaryName name = OwnTemporaryOf(dir / "x");
    fs::remove_all(dir);
    return name;
  }();
  ASSERT_FALSE(own.host.empty());
  for (const std::string way : {"synced", "older"}) {
    SCOPED_TRACE(way);
    const TwoFolderSet set("interrupted_older");
    // "synced": saved here, then another computer's journal appears; "older": an
    // ended save of this computer, its journal written after the files.
    EXPECT_EQ(set.Save(way == "synced" ? "local" : "old"), "");
    const pid_t ended = EndedPid();
    ASSERT_GT(ended, 0);
    // The journal is written after the files, as a save writes it: a later tick of the
    // file system's coarse clock, or the files would count as saved at or after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const std::string id = (way == "synced" ? std::string("otherbox") : own.host) + "-" + std::to_string(ended) + "-1-";
    std::vector<std::string> temps;
    for (std::size_t k = 0; k < set.files.size(); ++k) {
      const fs::path& f = set.files[k];
      temps.push_back("." + f.filename().string() + ".tmp-" + id + std::to_string(k) + ".part");
      WriteRaw(f.parent_path() / temps.back(), "journal " + f.filename().string());
    }
    const std::string journal = ".tarmic-save-" + id + "0.journal";
    WriteRaw(set.a / journal, JournalText({".", "../data"}, {{temps[0], "f1.ra1"},
                                                             {temps[1], "f2.ra1"},
                                                             {"../data/" + temps[2], "../data/~tmppars.ra1"}}));
    WriteRaw(set.b / journal, JournalText({"../fits", "."}, {{"../fits/" + temps[0], "../fits/f1.ra1"},
                                                             {"../fits/" + temps[1], "../fits/f2.ra1"},
                                                             {temps[2], "~tmppars.ra1"}}));
    if (way == "synced") {
      const auto twoHoursBack = fs::file_time_type::clock::now() - std::chrono::hours(2);
      for (const fs::path& dir : {set.a, set.b})
        for (const std::string& name : set.Leftovers())
          if (fs::exists(dir / name)) fs::last_write_time(dir / name, twoHoursBack);
    }
    const std::string note = FolderReading(PathsOf(set.files)).Note();
    if (way == "synced") {
      EXPECT_EQ(set.Tag(), "local") << "an older journal replaced files saved after it";
      EXPECT_NE(note.find(": was saved again"), std::string::npos) << note;
    } else {
      EXPECT_EQ(set.Tag(), "journal");
      EXPECT_EQ(note, "");
    }
    EXPECT_EQ(set.Leftovers(), std::vector<std::string>{});
  }
}

// The syncs a save asks of the disk: a file's data once, before its rename, and
// its folder once after; a set of n files in one folder each file's data and the
// journal's, and the folder before the journal, after it and after the renames.
// Before, the folder was synced once more after the journal was removed, which a
// crash may bring back harmlessly (it names only temporaries renamed already).
TEST(InterruptedSets, ASaveSyncsEachFilesDataOnceAndItsFolderOnlyWhereTheSetNeedsIt) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "interrupted_syncs";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto syncsOf = [&](int files) {
    const unsigned long long before = StorageWorkForTesting().syncs;
    if (files == 1) {
      EXPECT_TRUE(WriteTextFileAtomically((dir / "single.dat").string(), "x"));
    } else {
      AtomicFileBatch batch;
      for (int k = 0; k < files; ++k) {
        const std::string path = (dir / ("s" + std::to_string(k) + ".dat")).string();
        batch.Check(path, WriteTextFileAtomically(path, "x"));
      }
      EXPECT_EQ(batch.Finish(), "");
    }
    return StorageWorkForTesting().syncs - before;
  };
  EXPECT_EQ(syncsOf(1), 2u);
  for (const int n : {2, 40}) EXPECT_EQ(syncsOf(n), static_cast<unsigned long long>(n) + 1 + 3) << n << " files";
  // The journal is gone all the same.
  for (const auto& e : fs::directory_iterator(dir)) EXPECT_EQ(e.path().extension(), ".dat") << e.path();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace tarmic
