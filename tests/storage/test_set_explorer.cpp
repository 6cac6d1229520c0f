// The explorer of saved sets (set_explorer.h) over the scenarios in which
// interleavings were found one at a time before: a save whose last rename fails
// while its process runs on, a two-folder set killed partway with a journal's copy
// held, a killed save whose set an unrelated save finishes, loads and saves that
// wait for files held with lockf or flock, and temporaries of saves killed while
// writing, temporaries held shared, another computer of the same name saving into
// the folder, and crashes of the machine. Every schedule up to
// TARMIC_EXPLORE_DEPTH deviations (1 unless set) is run, and TARMIC_EXPLORE_SAMPLES
// deeper ones (4 unless set) per scenario from seeds printed (TARMIC_EXPLORE_SEED
// gives the first, 1 unless set). Then each rule of the saves is undone in turn
// (FileSystem::plantedFault): the explorer must find what breaks.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "storage/atomic_file.h"
#include "storage/folder_lock.h"
#include "storage/save_parts.h"
#include "tests/storage/set_explorer.h"

namespace tarmic::testing {
namespace {

using save_parts::SyncSite;

int EnvNumber(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

const std::string kD1 = "/data/d1", kD2 = "/data/d2";
std::string In1(const std::string& name) { return kD1 + "/" + name; }
std::string In2(const std::string& name) { return kD2 + "/" + name; }

ExplorerActor Saver(std::string name, std::vector<std::string> files, bool killable, int lingerMs = 0) {
  return {name, killable, false, [=](ExplorerRun& r) {
            r.Save(files, name);
            for (int t = 0; t < lingerMs; t += kLongestPause) r.Pause(kLongestPause);  // runs on after its save
          }};
}
ExplorerActor Loader(std::string name, std::vector<std::string> files) {
  return {name, false, false, [=](ExplorerRun& r) { r.Load(files); }};
}
ExplorerActor Holder(std::string name, std::function<std::string(MemoryFileSystem&)> pick, HoldKind kind,
                     int holdMs) {
  return {name, false, true, [=](ExplorerRun& r) { r.Hold(pick, kind, holdMs); }};
}

int gKillJournals = 0;  // journal copies beyond the first of the set killed
MemoryFileSystem* gKillIn = nullptr;
long gVictim = 0;
void KillAfterFirstRename(int step) {
  if (step == 2 + gKillJournals) gKillIn->Kill(gVictim);
}

// The files of kD1 and kD2 as a scenario's hand puts them ("old <name>"), and a
// save of files (each "<tag> <name>") killed after its first rename, in fs put in
// use; the folders and files are made when missing.
void KilledAfterFirstRename(MemoryFileSystem& fs, const std::vector<std::string>& files, const std::string& tag) {
  fs.MakeFolder("/data");
  fs.MakeFolder(kD1);
  fs.MakeFolder(kD2);
  std::set<std::string> folders;
  for (const std::string& f : files) {
    std::string text;
    if (!fs.Peek(f, &text)) fs.Put(f, "old " + f.substr(f.size() - 1));
    folders.insert(f.substr(0, f.find_last_of('/')));
  }
  gKillJournals = static_cast<int>(folders.size()) - 1;
  SetFileSystemForTesting(&fs);
  std::thread([&] {
    gKillIn = &fs;
    gVictim = fs.BeginProcess();
    SetSaveStepHookForTesting(KillAfterFirstRename);
    AtomicFileBatch batch;
    for (const std::string& f : files) batch.Check(f, WriteTextFileAtomically(f, tag + " " + f.substr(f.size() - 1)));
    (void)batch.Finish();
    SetSaveStepHookForTesting(nullptr);
  }).join();
}

// The files a and b of kD1 ("old a", "old b") in fs, which is put in use; a save of
// them ("new a", "new b") killed after its first rename.
const std::vector<std::string> kAB = {In1("a"), In1("b")};
void KilledAfterFirstRename(MemoryFileSystem& fs) { KilledAfterFirstRename(fs, kAB, "new"); }

std::vector<ExplorerScenario> Scenarios() {
  std::vector<ExplorerScenario> all;
  const std::vector<std::string> ab = {In1("a"), In1("b")};
  // A save whose last rename fails (a protected target) runs on; another process
  // holds its temporary left; the protection is lifted; a second save of the set.
  all.push_back({"a failed rename, its save still running, its temporary held",
                 {kD1},
                 ab,
                 [](MemoryFileSystem& fs) { fs.Protect(In1("b"), true); },
                 {Saver("s1", ab, false, 6000),
                  Holder("lockf holder", [](MemoryFileSystem& fs) { return NamedTemporary(fs, kD1); }, HoldKind::Lockf, 3000),
                  {"hand", false, true,
                   [](ExplorerRun& r) {
                     r.Pause(200);
                     r.fs.Protect(In1("b"), false);
                   }},
                  Saver("s2", ab, false), Loader("load", ab)}});
  // A set in two folders killed partway; its journal's copy in the first folder
  // held; a save of the second folder's file alone; a load of the set.
  const std::vector<std::string> twoFolders = {In1("a"), In2("b")};
  all.push_back({"a two-folder set killed partway, a journal copy held",
                 {kD1, kD2},
                 twoFolders,
                 {},
                 {Saver("s1", twoFolders, true),
                  Holder("lockf holder", [](MemoryFileSystem& fs) { return JournalIn(fs, kD1); }, HoldKind::Lockf, 3000),
                  Saver("s2", {In2("b")}, false), Loader("load", twoFolders)}});
  // A set of four killed partway; one of its files rewritten by hand; an unrelated
  // one-file save in the folder; two loads of the set.
  const std::vector<std::string> four = {In1("a"), In1("b"), In1("c"), In1("d")};
  std::vector<std::string> fourAndZ = four;
  fourAndZ.push_back(In1("z"));
  all.push_back({"a killed set, a file rewritten, an unrelated save",
                 {kD1},
                 fourAndZ,
                 {},
                 {Saver("s1", four, true),
                  {"writer", false, true,
                   [](ExplorerRun& r) { r.fs.Put(In1("c"), "by hand c"); }},
                  Saver("u", {In1("z")}, false), Loader("load 1", four), Loader("load 2", four)}});
  // A killed save's temporary held with lockf, flock, an fcntl read lock or a
  // shared flock, for longer than any wait: a load and a save of the set.
  const std::pair<HoldKind, const char*> holds[] = {{HoldKind::Lockf, "lockf"},
                                                    {HoldKind::Flock, "flock"},
                                                    {HoldKind::ReadLock, "an fcntl read lock"},
                                                    {HoldKind::SharedFlock, "a shared flock"}};
  for (const auto& [kind, words] : holds)
    all.push_back({std::string("a killed set, its temporary held with ") + words,
                   {kD1},
                   ab,
                   {},
                   {Saver("s1", ab, true),
                    Holder("holder", [](MemoryFileSystem& fs) { return NamedTemporary(fs, kD1); }, kind, 12000),
                    Loader("load", ab), Saver("s2", ab, false)}});
  // Another computer of the same name saves a set into the shared folder, whose
  // locks do not reach across; this one saves an unrelated file there and loads
  // the set meanwhile.
  // This computer's clock may stand hours off the share's: the ages of the other
  // computer's claims are measured by the share's clock all the same.
  for (const int hours : {0, 2, -2}) {
    ExplorerActor far = Saver("far", ab, false);
    far.host = 1;
    ExplorerScenario s{std::string("another computer of the same name saving into the folder") +
                           (hours == 0 ? "" : hours > 0 ? ", this clock 2 h ahead" : ", this clock 2 h behind"),
                       {kD1},
                       {In1("a"), In1("b"), In1("z")},
                       {},
                       {far, Saver("near", {In1("z")}, false), Loader("load", ab)}};
    s.clockOffset = std::chrono::hours(hours);
    all.push_back(s);
  }
  // The machine crashes at a step of a set in two folders (or of a save of one of
  // its files after it), keeping of the unsynced changes what the kernel may.
  all.push_back({"a set in two folders saved, the machine crashing",
                 {kD1, kD2},
                 twoFolders,
                 {},
                 {Saver("s1", twoFolders, false), Saver("s2", {In1("a")}, false)},
                 true});
  // A set in two folders that a killed save left half replaced (on the disk
  // already), finished by the next save of one of its files while the machine
  // crashes: the recovery's renames must be on the disk before its journal goes.
  all.push_back({"a set left half replaced, finished by the next save, the machine crashing",
                 {kD1, kD2},
                 twoFolders,
                 [twoFolders](MemoryFileSystem& fs) {
                   KilledAfterFirstRename(fs, twoFolders, "s0");
                   fs.SyncAll();
                 },
                 {Saver("s1", {In1("a")}, false)},
                 true,
                 {},
                 {{"s0", {twoFolders.begin(), twoFolders.end()}}}});
  // Saves killed while writing leave temporaries: the next save in the folder.
  all.push_back({"a save killed while writing, then another save in the folder",
                 {kD1},
                 {In1("a"), In1("b"), In1("z")},
                 {},
                 {Saver("s1", ab, true), Saver("u", {In1("z")}, false)}});
  // Overlapping sets in two folders saved at once, with a load.
  const std::vector<std::string> x = {In1("a"), In1("b"), In2("c")}, y = {In1("b"), In2("c"), In2("e")};
  all.push_back({"overlapping sets saved at once",
                 {kD1, kD2},
                 {In1("a"), In1("b"), In2("c"), In2("e")},
                 {},
                 {Saver("x", x, true), Saver("y", y, true), Loader("load", x)}});
  return all;
}

std::vector<unsigned> Seeds() {
  const int samples = EnvNumber("TARMIC_EXPLORE_SAMPLES", 4);
  const unsigned first = static_cast<unsigned>(EnvNumber("TARMIC_EXPLORE_SEED", 1));
  std::vector<unsigned> seeds;
  for (int k = 0; k < samples; ++k) seeds.push_back(first + static_cast<unsigned>(k));
  return seeds;
}

std::string Only() {
  const char* only = std::getenv("TARMIC_EXPLORE_ONLY");
  return only ? only : "";
}

// Every scenario explored; nothing breaks a check. What breaks one is printed with
// the schedule that did (the stops, kills and crashes, and the seed of a sample).
// One case a scenario (each a whole exploration, dear under the sanitizers).
class SetExplorerScenario : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SetExplorerScenario, NoScheduleBreaksACheck) {
  const std::vector<ExplorerScenario> all = Scenarios();
  ASSERT_LT(GetParam(), all.size());
  const ExplorerScenario& scenario = all[GetParam()];
  const std::string only = Only();
  if (!only.empty() && scenario.name.find(only) == std::string::npos) GTEST_SKIP() << "not " << only;
  const std::vector<ExplorerFinding> findings =
      ExploreAll({scenario}, only, EnvNumber("TARMIC_EXPLORE_DEPTH", 1), Seeds());
  EXPECT_EQ(findings.size(), 0u) << scenario.name;
}

INSTANTIATE_TEST_SUITE_P(Each, SetExplorerScenario, ::testing::Range<std::size_t>(0, Scenarios().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           std::string name = Scenarios()[info.param].name;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return std::to_string(info.param) + "_" + name;
                         });

// A filter of the scenarios (TARMIC_EXPLORE_ONLY) names at least one: an
// exploration of nothing never passes.
TEST(SetExplorer, TheFilterNamesAScenario) {
  const std::string only = Only();
  if (only.empty()) return;
  bool named = false;
  for (const ExplorerScenario& s : Scenarios()) named = named || s.name.find(only) != std::string::npos;
  EXPECT_TRUE(named) << "no scenario's name holds \"" << only << "\"";
}

// Each rule undone in turn, the explorer finds a violation in the scenarios that
// need the rule, at depth 1 and without samples. Each rule a case of its own (an
// exploration of its scenarios, dear under the sanitizers).
struct Plant {
  PlantedFault fault;
  const char* scenarios;  // the scenarios' names hold this
  SyncSite site = SyncSite::FileRenamed;  // the folder sync left out (NoFolderSync)
};
const Plant kPlants[] = {
    {PlantedFault::HeldCopyIgnored, "a journal copy held"},
    {PlantedFault::JournalOwnerByLock, "another computer"},
    {PlantedFault::SweepByLock, "another computer"},
    {PlantedFault::SharedHoldersUnseen, "held with a"},
    {PlantedFault::NoFileSync, "crashing"},
    {PlantedFault::NoSyncBeforeJournalGoes, "crashing"},
    {PlantedFault::LongestSaveASecond, "another computer"},
    {PlantedFault::AgeByOwnClock, "2 h ahead"},
    {PlantedFault::NoFolderSync, "crashing", SyncSite::FileRenamed},
    {PlantedFault::NoFolderSync, "crashing", SyncSite::TemporariesMade},
    {PlantedFault::NoFolderSync, "crashing", SyncSite::JournalWritten},
    {PlantedFault::NoFolderSync, "crashing", SyncSite::RenamesDone},
    {PlantedFault::NoFolderSync, "crashing", SyncSite::RecoveryRenamesDone},
};

class SetExplorerRule : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SetExplorerRule, EachRuleUndoneIsFound) {
  const Plant& p = kPlants[GetParam()];
  const std::vector<ExplorerFinding> findings =
      ExploreAll(Scenarios(), p.scenarios, 1, {}, p.fault, static_cast<int>(p.site));
  EXPECT_FALSE(findings.empty()) << "rule " << static_cast<int>(p.fault) << " (site " << static_cast<int>(p.site)
                                 << ") undone, nothing found in \"" << p.scenarios << "\"";
  for (const ExplorerFinding& f : findings)
    EXPECT_EQ(f.violation.find("explored nothing"), std::string::npos) << f.violation;
}

INSTANTIATE_TEST_SUITE_P(Rules, SetExplorerRule, ::testing::Range<std::size_t>(0, std::size(kPlants)));

// A filter that matches no scenario is a finding too.
TEST(SetExplorer, AFilterOfNoScenarioIsAFinding) {
  const std::vector<ExplorerFinding> none = ExploreAll(Scenarios(), "no scenario is called this", 1, {});
  ASSERT_EQ(none.size(), 1u);
  EXPECT_NE(none[0].violation.find("explored nothing"), std::string::npos);
}

// A process of fs on a thread of its own that takes hold (true when it holds) and
// keeps it until Release(); its pid.
class HoldingProcess {
 public:
  HoldingProcess(MemoryFileSystem& fs, bool outsider, std::function<bool()> take)
      : thread_([this, &fs, outsider, take] {
          const long pid = fs.BeginProcess(outsider);
          const bool held = take();
          std::unique_lock<std::mutex> lock(mutex_);
          pid_ = held ? pid : -1;
          cv_.notify_all();
          cv_.wait(lock, [&] { return released_; });
          fs.EndProcess();
        }) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return pid_ != 0; });
  }
  ~HoldingProcess() { Release(); }
  long Pid() const { return pid_; }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  long pid_ = 0;
  bool released_ = false;
  std::thread thread_;
};

// A save killed after its first rename; its other temporary held with flock() by
// another process for longer than any wait. A load waits for it 2 s in all (not 2 s
// at each of its looks) and says how the wait ended: given up with a key, or the
// file not let go within 2 s; the held file is never renamed. Once it is let go,
// the next load finishes the set.
TEST(SetExplorer, AWaitForAHeldFileTakes2sInAllAndSaysHowItEnded) {
  MemoryFileSystem fs;
  KilledAfterFirstRename(fs);
  const std::vector<std::string>& ab = kAB;
  const std::string held = NamedTemporary(fs, kD1);
  ASSERT_NE(held, "");
  HoldingProcess holder(fs, true, [&] {
    const int fd = fs.Open(held, O_RDWR, 0);
    return fd >= 0 && fs.FileLock(fd, LOCK_EX | LOCK_NB) == 0;
  });
  ASSERT_GT(holder.Pid(), 0);
  fs.BeginProcess();
  struct Reset {
    ~Reset() {
      ResetFolderWaitHooks();
      SetFileSystemForTesting(nullptr);
    }
  } reset;
  for (const bool key : {false, true}) {
    GetFolderWaitHooks().keyPressed = [key] { return key; };
    const auto began = fs.Now();
    const std::string note = FolderReading(ab).Note();
    EXPECT_LE(fs.Now() - began, kFileLetGoWait + std::chrono::milliseconds(10)) << key;
    EXPECT_NE(note.find(key ? "; the wait for it was given up" : "and did not let them go within 2 s"),
              std::string::npos) << note;
    EXPECT_NE(note.find("come from different saves"), std::string::npos) << note;
    std::string text;
    EXPECT_TRUE(fs.Peek(held, &text)) << "a held temporary was moved";
  }
  holder.Release();
  GetFolderWaitHooks().keyPressed = nullptr;
  EXPECT_EQ(FolderReading(ab).Note(), "");
  for (const std::string& f : ab) {
    std::string text;
    EXPECT_TRUE(fs.Peek(f, &text) && text == "new " + f.substr(f.size() - 1)) << f;
  }
  fs.EndProcess();
}


// A killed save's temporary held by another program, and the set's folder held by
// an instance that was stopped (it lets go only once it is continued): a load and a
// save end their waits at once, and what they say names both, the folder and its
// stopped holder, and the set's file whose new content is held. Once the instance
// goes on and ends and the file is let go, the load finishes the set.
TEST(SetExplorer, AStoppedHolderIsNotWaitedForAndEveryHeldThingIsNamed) {
  MemoryFileSystem fs;
  struct Reset {
    ~Reset() { SetFileSystemForTesting(nullptr); }
  } reset;
  KilledAfterFirstRename(fs);
  const std::vector<std::string>& ab = kAB;
  const std::string temp = NamedTemporary(fs, kD1);
  ASSERT_NE(temp, "");
  HoldingProcess file(fs, true, [&] {
    const int fd = fs.Open(temp, O_RDONLY, 0);
    return fd >= 0 && fs.FileLock(fd, LOCK_SH | LOCK_NB) == 0;
  });
  ASSERT_GT(file.Pid(), 0);
  long stoppedPid = 0;
  HoldingProcess folder(fs, false, [&] {
    const int fd = fs.Open(kD1, O_RDONLY | O_DIRECTORY, 0);
    return fd >= 0 && fs.FileLock(fd, LOCK_EX | LOCK_NB) == 0;
  });
  stoppedPid = folder.Pid();
  ASSERT_GT(stoppedPid, 0);
  fs.Stop(stoppedPid, true);
  const long me = fs.BeginProcess();
  fs.Measure(me, true);
  const std::string note = FolderReading(ab).Note();
  std::string error;
  EXPECT_FALSE(WriteTextFileAtomically(In1("z"), "z", &error));
  EXPECT_LT(fs.Paused(me) + fs.PausedForFolders(me), std::chrono::milliseconds(500)) << "waited for a stopped holder";
  fs.Measure(me, false);
  for (const std::string& said : {note, error})
    EXPECT_NE(said.find(kD1 + " (held by the stopped process " + std::to_string(stoppedPid)), std::string::npos)
        << said;
  EXPECT_NE(note.find(In1("b") + ": the new content an interrupted save left for it is held by another process"),
            std::string::npos)
      << note;
  fs.Stop(stoppedPid, false);
  folder.Release();
  file.Release();
  EXPECT_EQ(FolderReading(ab).Note(), "");
  for (const std::string& f : ab) {
    std::string text;
    EXPECT_TRUE(fs.Peek(f, &text) && text == "new " + f.substr(f.size() - 1)) << f;
  }
  fs.EndProcess();
}

}  // namespace
}  // namespace tarmic::testing
