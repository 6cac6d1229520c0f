// The explorer of saved sets: actors (savers of overlapping sets, loaders,
// holders of files, a hand that changes files or lifts a fault) run as processes
// of a MemoryFileSystem, one at a time; every call that changes something is a
// point where the explorer may kill the running process or stop it and run
// another, or (where the scenario allows) crash the whole machine, keeping of
// the unsynced changes what the kernel may keep. All schedules up to a bounded
// number of such deviations are run (a depth-first walk of the choices, each run
// made again from the start), and deeper ones are sampled from seeds it prints.
// After every step (no save that said nothing left its set mixed) and at the end
// of every run the checks of docs/decisions/saved-sets.md ("Saved sets explored") are
// made; what breaks one is reported with the schedule that did.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/storage/memory_file_system.h"

namespace tarmic::testing {

// The longest pause of an actor's own (a holder holding, a save running on), in
// milliseconds of the explorer's clock.
inline constexpr int kLongestPause = 200;

// What an actor may do and ask while it runs.
class ExplorerRun;
struct ExplorerActor {
  std::string name;
  bool killable = false;  // a save the explorer may kill (kill -9)
  bool outsider = false;  // no instance of the program (its locks are never broken)
  std::function<void(ExplorerRun&)> body;
  int host = 0;  // 1: the other computer of the same name (MemoryFileSystem)
};

struct ExplorerScenario {
  std::string name;
  std::vector<std::string> folders;
  std::vector<std::string> targets;  // the files of every set (each begins as "old <name>")
  std::function<void(MemoryFileSystem&)> prepare;  // faults and files before the run
  std::vector<ExplorerActor> actors;
  bool crashes = false;  // the machine may crash at a step (a deviation)
  // How far this computer's wall clock stands from the share's (host 1's stands right).
  std::chrono::seconds clockOffset{0};
  // Saves made by prepare, before the run (by their tags): what they wrote counts as written.
  std::map<std::string, std::set<std::string>> earlier;
};

// How a holder holds a file: an fcntl lock or flock(), exclusive or shared.
enum class HoldKind { Lockf, Flock, ReadLock, SharedFlock };

// A save that ended in a run: its files, and whether it said it replaced them all.
struct SaveRecord {
  std::string tag;
  std::vector<std::string> files;
  bool saved = false;
};

// What one run found: the schedule's deviations and the checks that failed.
struct ExplorerFinding {
  std::string scenario, schedule, violation;
};

class ExplorerRun {
 public:
  MemoryFileSystem& fs;
  long pid = 0;
  // A save of the files, each "<tag> <name>"; the report ("" when saved). Checks
  // that a refusal has a cause and that what ended saves left in its folders went.
  std::string Save(const std::vector<std::string>& files, const std::string& tag);
  // A load of the files: checks that a set read mixed is said to be.
  void Load(const std::vector<std::string>& files);
  // Holds (lockf, or flock when withFlock) the first file that pick() names in
  // the folders, once there is one, for holdMs of the clock.
  void Hold(const std::function<std::string(MemoryFileSystem&)>& pick, HoldKind kind, int holdMs);
  void Pause(int ms) { fs.Sleep(std::chrono::milliseconds(ms)); }
  void Violation(const std::string& text);

  ExplorerRun(MemoryFileSystem& f, const ExplorerScenario& s, std::vector<std::string>* v,
              std::function<bool(long)> blocked, std::map<std::string, std::set<std::string>>* sets,
              std::vector<SaveRecord>* saves)
      : fs(f), scenario_(s), violations_(v), blocked_(std::move(blocked)), sets_(sets), saves_(saves) {}

 private:
  const ExplorerScenario& scenario_;
  std::vector<std::string>* violations_;
  std::function<bool(long)> blocked_;  // whether anything but pid may hold a save up now
  std::map<std::string, std::set<std::string>>* sets_;  // the files of each save of the run, by tag
  std::vector<SaveRecord>* saves_;                      // the saves that ended
};

// The first temporary a journal in the folder names, or the folder's journal
// itself (journal = true); empty when there is none.
std::string NamedTemporary(MemoryFileSystem& fs, const std::string& folder);
std::string JournalIn(MemoryFileSystem& fs, const std::string& folder);

// Runs every schedule of scenario with at most depth deviations (kills, stops,
// crashes), then samples schedules of up to depth + 2 from each of the seeds.
// Returns what broke a check, one finding per different violation; *runs counts.
// planted: the rule of the saves each run's file system undoes (None: none).
std::vector<ExplorerFinding> Explore(const ExplorerScenario& scenario, int depth,
                                     const std::vector<unsigned>& seeds, int* runs,
                                     PlantedFault planted = PlantedFault::None, int plantedSite = -1);

// Explores the scenarios whose name holds only (all when empty), printing each
// finding with its schedule, the seeds and the count of runs. The findings; a
// filter that leaves no scenario, or a walk that runs nothing, is a finding too:
// an exploration of nothing never passes.
std::vector<ExplorerFinding> ExploreAll(const std::vector<ExplorerScenario>& scenarios, const std::string& only,
                                        int depth, const std::vector<unsigned>& seeds,
                                        PlantedFault planted = PlantedFault::None, int plantedSite = -1);

}  // namespace tarmic::testing
