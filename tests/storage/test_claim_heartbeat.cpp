// The claim of a save on its files lives by its heartbeat, judged by the share's
// clock: a save of the other computer of this host name (whose locks do not reach
// here) is held up at one of two points (its temporaries written, or its journal
// written too), its files first aged, then its heartbeat refreshed, then held for
// a while; meanwhile this computer, whose clock stands hours off the share's,
// saves another file of the folder (which sweeps what ended saves left) and loads
// the set (which finishes a set an ended save left). Swept over the clock offset,
// the files' age (the save running on meanwhile, its progress points a few minutes
// apart) and the time held up:
//  - a heartbeat under an hour old is never taken for ended, whatever the files'
//    age and the offset: nothing of the save is touched;
//  - one older than an hour and the offset is: its temporaries are swept, or its
//    journal's set finished;
//  - the save, once continued, replaces its set when it was held up under half an
//    hour, and otherwise stops with a failure that says so; in every case the set
//    ends whole (both files of one save), and nothing of the save stays once the
//    clock has moved past its claim.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "storage/atomic_file.h"
#include "storage/save_parts.h"
#include "tests/storage/memory_file_system.h"

namespace tarmic::testing {
namespace {

using std::chrono::minutes;

const std::string kDir = "/share/d";
const std::string kA = kDir + "/a", kB = kDir + "/b", kZ = kDir + "/z";

// Hands the turn between the test and the other computer's save: each waits for
// the stage the other sets.
class Baton {
 public:
  void Set(int stage) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stage_ = std::max(stage_, stage);
    }
    cv_.notify_all();
  }
  void WaitFor(int stage) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return stage_ >= stage; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int stage_ = 0;
};

Baton* gBaton = nullptr;
// After the journal is written (step 1 of a set in one folder), the save is held up.
void HoldAfterJournal(int step) {
  if (step != 1) return;
  gBaton->Set(3);
  gBaton->WaitFor(4);
}

std::string Content(MemoryFileSystem& fs, const std::string& path) {
  std::string text;
  return fs.Peek(path, &text) ? text : "(none)";
}

// The program's hidden files in the folder (temporaries, journals).
int HiddenFiles(MemoryFileSystem& fs) {
  int n = 0;
  for (const std::string& name : fs.Names(kDir)) n += IsSaveTemporaryName(name) ? 1 : 0;
  return n;
}

struct Outcome {
  int hiddenWhileHeldUp = 0;          // the save's files left by this computer's save and load
  std::string aWhileHeldUp, bWhileHeldUp;
  std::string report;                 // of the save once continued
  std::string aAfter, bAfter;         // once it ended
  int hiddenAtEnd = 0;                // once the clock moved past the claim and this computer saved again
};

// The other computer's save of a and b, running on for aged after writing them,
// then held up at its journal (or before it) for heldUp while this computer (clock
// offset) saves z and loads the set.
Outcome HeldUpSave(minutes offset, minutes aged, minutes heldUp, bool atJournal) {
  MemoryFileSystem fs;
  fs.MakeFolder("/share");
  fs.MakeFolder(kDir);
  fs.Put(kA, "old a");
  fs.Put(kB, "old b");
  fs.Put(kZ, "old z");
  fs.SetClockOffset(0, offset);
  SetFileSystemForTesting(&fs);
  Baton baton;
  gBaton = &baton;
  Outcome out;
  std::thread far([&] {
    fs.BeginProcess(false, 1);
    if (atJournal) SetSaveStepHookForTesting(HoldAfterJournal);
    AtomicFileBatch batch;
    batch.Check(kA, WriteTextFileAtomically(kA, "far a"));
    batch.Check(kB, WriteTextFileAtomically(kB, "far b"));
    // The files age while the save runs on: its progress points come every few
    // minutes, each refreshing the heartbeat when due.
    for (minutes t(0); t < aged; t += minutes(5)) {
      fs.AdvanceClock(std::min<minutes>(minutes(5), aged - t));
      batch.Check(kB, true);
    }
    baton.Set(1);
    baton.WaitFor(2);
    if (!atJournal) {
      baton.Set(3);
      baton.WaitFor(4);
    }
    out.report = batch.Finish();
    SetSaveStepHookForTesting(nullptr);
    fs.EndProcess();
    baton.Set(5);
  });
  baton.WaitFor(1);
  baton.Set(2);
  baton.WaitFor(3);
  fs.AdvanceClock(heldUp);
  fs.BeginProcess(false, 0);
  EXPECT_TRUE(WriteTextFileAtomically(kZ, "near z"));
  { const FolderReading reading({kA, kB}); }
  fs.EndProcess();
  out.hiddenWhileHeldUp = HiddenFiles(fs);
  out.aWhileHeldUp = Content(fs, kA);
  out.bWhileHeldUp = Content(fs, kB);
  baton.Set(4);
  baton.WaitFor(5);
  far.join();
  out.aAfter = Content(fs, kA);
  out.bAfter = Content(fs, kB);
  fs.AdvanceClock(std::chrono::duration_cast<minutes>(std::chrono::seconds(save_parts::kLongestSave)) +
                  std::chrono::abs(offset) + minutes(60));
  fs.BeginProcess(false, 0);
  EXPECT_TRUE(WriteTextFileAtomically(kZ, "near z again"));
  { const FolderReading reading({kA, kB}); }
  fs.EndProcess();
  out.hiddenAtEnd = HiddenFiles(fs);
  SetFileSystemForTesting(nullptr);
  return out;
}

TEST(ClaimHeartbeat, AFreshHeartbeatIsNeverTakenForEndedALapsedOneIs) {
  const minutes lapse = std::chrono::duration_cast<minutes>(std::chrono::seconds(save_parts::kLongestSave));
  int fresh = 0, lapsed = 0, stopped = 0;
  for (int o = -120; o <= 120; o += 30)
    for (const int aged : {0, 61, 150})
      for (const bool atJournal : {false, true}) {
        const minutes offset(o);
        const minutes apart = std::chrono::abs(offset);
        for (const minutes heldUp : {minutes(0), minutes(20), minutes(45), minutes(59), lapse + apart + minutes(2),
                                     lapse + apart + minutes(90)}) {
          const Outcome out = HeldUpSave(offset, minutes(aged), heldUp, atJournal);
          const std::string at = "offset " + std::to_string(o) + " min, files aged " + std::to_string(aged) +
                                 " min, held up " + std::to_string(heldUp.count()) + " min" +
                                 (atJournal ? " after its journal" : " before its journal");
          const bool isFresh = heldUp < lapse;
          if (isFresh) {
            ++fresh;
            // Two temporaries, and the journal when written: untouched, the set as it was.
            EXPECT_EQ(out.hiddenWhileHeldUp, atJournal ? 3 : 2) << at;
            EXPECT_EQ(out.aWhileHeldUp, "old a") << at;
            EXPECT_EQ(out.bWhileHeldUp, "old b") << at;
          } else {
            ++lapsed;
            EXPECT_EQ(out.hiddenWhileHeldUp, 0) << at;
            // A journal's set is finished; temporaries without one are swept.
            EXPECT_EQ(out.aWhileHeldUp, atJournal ? "far a" : "old a") << at;
            EXPECT_EQ(out.bWhileHeldUp, atJournal ? "far b" : "old b") << at;
          }
          if (heldUp < minutes(30)) {
            EXPECT_EQ(out.report, "") << at;
          } else {
            ++stopped;
            EXPECT_NE(out.report.find("was held up"), std::string::npos) << at << "\n" << out.report;
          }
          const bool whole = (out.aAfter == "old a" && out.bAfter == "old b") ||
                             (out.aAfter == "far a" && out.bAfter == "far b");
          EXPECT_TRUE(whole) << at << ": " << out.aAfter << ", " << out.bAfter;
          if (heldUp < minutes(30)) EXPECT_EQ(out.aAfter, "far a") << at;
          EXPECT_EQ(out.hiddenAtEnd, 0) << at;
        }
      }
  EXPECT_GT(fresh, 0);
  EXPECT_GT(lapsed, 0);
  EXPECT_GT(stopped, 0);
}

// A load holds the set's folder; the other computer, whose locks do not reach
// here, changes the folder meanwhile in each of the ways a save does (its files
// replaced one by one or as a set, a journal left, only another file saved, or
// nothing): the load finds the set changed exactly when a file of it or a journal
// beside it did, and not once it took the new state as the one held.
TEST(FolderReading, ASetChangedWhileReadIsFoundAndOnlyThen) {
  struct Change {
    const char* what;
    std::vector<std::string> files;  // saved by the other computer, as one set
    bool journalLeft;                // its save stopped after its journal
    bool changesSet;
  };
  const std::vector<Change> changes = {
      {"nothing", {}, false, false},
      {"another file of the folder", {kZ}, false, false},
      {"one file of the set", {kB}, false, true},
      {"the whole set", {kA, kB}, false, true},
      {"the set and another file", {kA, kB, kZ}, false, true},
      {"a journal of the set, nothing renamed yet", {kA, kB}, true, true},
  };
  for (const Change& c : changes) {
    MemoryFileSystem fs;
    fs.MakeFolder("/share");
    fs.MakeFolder(kDir);
    for (const std::string& f : {kA, kB, kZ}) fs.Put(f, "old");
    SetFileSystemForTesting(&fs);
    fs.BeginProcess(false, 0);
    FolderReading reading({kA, kB});
    EXPECT_TRUE(reading.Unchanged()) << c.what;
    Baton baton;
    gBaton = &baton;
    std::thread far([&] {
      fs.BeginProcess(false, 1);
      if (c.journalLeft) SetSaveStepHookForTesting(HoldAfterJournal);
      AtomicFileBatch batch;
      for (const std::string& f : c.files) batch.Check(f, WriteTextFileAtomically(f, "far"));
      (void)batch.Finish();  // held up after its journal until the load has looked
      baton.Set(3);
      SetSaveStepHookForTesting(nullptr);
      fs.EndProcess();
    });
    baton.WaitFor(3);
    EXPECT_EQ(reading.Unchanged(), !c.changesSet) << c.what;
    // The changed files are named: the set's files saved, or the journal left.
    const std::vector<std::string> changed = reading.ChangedFiles();
    if (!c.changesSet) EXPECT_TRUE(changed.empty()) << c.what;
    else if (c.journalLeft) EXPECT_EQ(changed.size(), 1u) << c.what;
    else
      EXPECT_EQ(changed, (c.files.size() == 1 ? std::vector<std::string>{kB} : std::vector<std::string>{kA, kB}))
          << c.what;
    std::string why;
    EXPECT_EQ(reading.AfterReading(0, &why), c.changesSet ? FolderReading::SetRead::ReadAgain
                                                          : FolderReading::SetRead::Whole)
        << c.what;
    EXPECT_TRUE(reading.Unchanged()) << c.what;
    EXPECT_EQ(reading.AfterReading(1, &why), FolderReading::SetRead::Whole) << c.what;
    EXPECT_TRUE(why.empty()) << c.what;
    baton.Set(4);
    far.join();
    fs.EndProcess();
    SetFileSystemForTesting(nullptr);
  }
}

// A save killed on this kernel leaves its temporary; a process of the same boot
// sweeps it, whether it or the killed save knows a machine id or not (a container
// without one): the same boot id with the lock gone is ended.
TEST(ClaimHeartbeat, TheSameBootWithTheLockGoneIsEndedWhateverTheMachineId) {
  for (const bool killedKnowsMachine : {true, false})
    for (const bool sweeperKnowsMachine : {true, false}) {
      MemoryFileSystem fs;
      fs.MakeFolder("/share");
      fs.MakeFolder(kDir);
      fs.Put(kA, "old a");
      SetFileSystemForTesting(&fs);
      std::thread([&] {
        const long pid = fs.BeginProcess(false, 0);
        if (!killedKnowsMachine) fs.HideMachineId(pid);
        AtomicFile file(kA);
        ASSERT_TRUE(file.IsOpen());
        fs.Kill(pid);
      }).join();
      ASSERT_EQ(HiddenFiles(fs), 1);
      // A thread of its own: what a process is called is kept per thread.
      std::thread([&] {
        const long me = fs.BeginProcess(false, 0);
        if (!sweeperKnowsMachine) fs.HideMachineId(me);
        EXPECT_TRUE(WriteTextFileAtomically(kA, "new a"));
        fs.EndProcess();
      }).join();
      EXPECT_EQ(HiddenFiles(fs), 0) << "killed save knows its machine: " << killedKnowsMachine
                                    << ", the sweeper: " << sweeperKnowsMachine;
      EXPECT_EQ(Content(fs, kA), "new a");
      SetFileSystemForTesting(nullptr);
    }
}

}  // namespace
}  // namespace tarmic::testing
