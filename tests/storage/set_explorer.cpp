#include "tests/storage/set_explorer.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <memory>
#include <random>
#include <semaphore>
#include <regex>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "storage/atomic_file.h"
#include "storage/folder_lock.h"
#include "storage/save_parts.h"

namespace tarmic::testing {

namespace {

using Ms = std::chrono::milliseconds;
// The longest a save or a load may wait, as documented: for files that ended saves
// left and someone holds, and for folders that other instances hold while they
// save; with the last poll of each wait to spare (a pause of every actor at most:
// the clock moves by the pauses of all while one waits).
constexpr Ms kQuantum{100};
constexpr Ms kWaitBound = kFileLetGoWait;
constexpr Ms kFolderWaitBound = Ms(10000);
constexpr int kStepCap = 20000;
// How far the clock may move on between two steps while the running actor is
// stopped (a suspended computer): a claim so aged is fresh (10 min), lapsed for its
// own save but not yet for another computer (40 min: a save stops at half the
// lapse), or lapsed for all (2 h).
constexpr std::chrono::seconds kClockSteps[] = {std::chrono::seconds(10 * 60), std::chrono::seconds(40 * 60),
                                                std::chrono::seconds(2 * 60 * 60)};
constexpr int kClockChoices = static_cast<int>(std::size(kClockSteps));

std::string NameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/')); }

// The choices of one run: those given (to repeat a schedule's start), then the
// first option (a walk) or a random one (a sample).
class Chooser {
 public:
  struct Point {
    int options, taken;
  };
  Chooser(std::vector<int> prefix, unsigned seed, bool sample)
      : prefix_(std::move(prefix)), random_(seed), sample_(sample) {}
  int Choose(int options) {
    int taken = 0;
    if (trace_.size() < prefix_.size()) {
      taken = prefix_[trace_.size()];
    } else if (sample_) {
      // Mostly on; now and then a deviation.
      std::uniform_int_distribution<int> pick(0, options - 1);
      taken = std::uniform_real_distribution<double>(0, 1)(random_) < 0.03 ? pick(random_) : 0;
    }
    trace_.push_back({options, taken});
    return taken;
  }
  const std::vector<Point>& Trace() const { return trace_; }

 private:
  std::vector<int> prefix_;
  std::mt19937 random_;
  bool sample_;
  std::vector<Point> trace_;
};

// One run: the actors' threads take turns; the step hook decides at every call.
class Scheduler {
 public:
  // everywhere: a deviation may come at any call, not only at those that change
  // something (the samples; the walk needs only those, since a read changes nothing
  // another process could see).
  Scheduler(MemoryFileSystem& fs, const ExplorerScenario& s, Chooser& chooser, int depth, bool everywhere)
      : fs_(fs), scenario_(s), chooser_(chooser), depthLeft_(depth), everywhere_(everywhere), sets_(s.earlier) {}

  std::vector<std::string> Run() {
    const std::size_t n = scenario_.actors.size();
    state_.resize(n);
    for (std::size_t k = 0; k < n; ++k) turns_.push_back(std::make_unique<std::binary_semaphore>(0));
    if (std::getenv("TARMIC_EXPLORE_TRACE")) std::printf("    -- run\n");
    fs_.SetStepHook([this](long pid, const MemoryFileSystem::Call& c) { OnStep(pid, c); });
    fs_.SetViolation([this](const std::string& v) { Note(v); });
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < n; ++k) {
      threads.emplace_back([this, k] { ActorThread(k); });
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [&] { return state_[k].pid != 0; });  // pids in the actors' order
    }
    HandTo(0);
    for (std::thread& t : threads) t.join();
    // The machine may crash once every actor has ended as well: what a save said
    // it had done must be on the disk by then.
    NoteFinished();
    if (scenario_.crashes && !crashed_ && depthLeft_ > 0)
      if (const int c = chooser_.Choose(1 + CrashChoices()); c > 0) CrashNow(c - 1, " once every actor had ended");
    fs_.SetStepHook(nullptr);
    return violations_;
  }
  const std::string& Schedule() const { return schedule_; }
  bool Crashed() const { return crashed_; }
  std::map<std::string, std::set<std::string>>& Sets() { return sets_; }
  const std::set<std::string>& Finished() const { return finished_; }
  std::vector<SaveRecord>& Saves() { return saves_; }
  // Whether a process other than pid could hold a save up now: a live actor that
  // has not ended, or a file protected by the scenario's fault.
  bool OthersLive(long pid) {
    for (const State& s : state_)
      if (s.pid != pid && !s.done && fs_.Alive(s.pid)) return true;
    return false;
  }
  // Whether pid was stopped while the clock moved on by half the longest save or
  // more: its save may be refused (its claim lapsed), whoever else lives.
  bool HeldUpPastLapse(long pid) {
    const auto h = heldUp_.find(pid);
    return h != heldUp_.end() && h->second >= std::chrono::seconds(save_parts::kLongestSave / 2);
  }
  void Note(const std::string& v) {
    if (std::getenv("TARMIC_EXPLORE_TRACE")) std::printf("      VIOLATION %s\n", v.c_str());
    std::lock_guard<std::mutex> lock(violationMutex_);
    violations_.push_back(v);
  }

 private:
  struct State {
    long pid = 0;
    bool done = false;
    int calls = 0;
  };

  void ActorThread(std::size_t k) {
    const ExplorerActor& actor = scenario_.actors[k];
    const long pid = fs_.BeginProcess(actor.outsider, actor.host);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      state_[k].pid = pid;
    }
    cv_.notify_all();
    WaitForTurn(k);
    ExplorerRun run(fs_, scenario_, &violations_, [this](long p) { return OthersLive(p) || HeldUpPastLapse(p); },
                    &sets_, &saves_);
    run.pid = pid;
    actor.body(run);
    if (fs_.Alive(pid)) fs_.EndProcess();
    int next = -1;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      state_[k].done = true;
      next = NextAfter(k);
    }
    if (next >= 0) HandTo(static_cast<std::size_t>(next));
  }

  int IndexOf(long pid) const {
    for (std::size_t k = 0; k < state_.size(); ++k)
      if (state_[k].pid == pid) return static_cast<int>(k);
    return -1;
  }
  // The next actor not ended after k, in the actors' order (k itself last); -1 when none.
  int NextAfter(std::size_t k) const {
    for (std::size_t d = 1; d <= state_.size(); ++d) {
      const std::size_t j = (k + d) % state_.size();
      if (!state_[j].done) return static_cast<int>(j);
    }
    return -1;
  }

  void OnStep(long pid, const MemoryFileSystem::Call& call) {
    const int k = IndexOf(pid);
    if (k < 0) return;
    State& me = state_[k];
    ++me.calls;
    if (std::getenv("TARMIC_EXPLORE_TRACE"))
      std::printf("      %s %d %s %s\n", scenario_.actors[k].name.c_str(), me.calls, call.what, call.path.c_str());
    if (++steps_ > kStepCap) {
      Note("no end after " + std::to_string(kStepCap) + " steps");
      fs_.Kill(pid);
      return;
    }
    // A save or load may wait twice (a file let go, then another held): each
    // wait's last poll may end a round of every actor's pauses late.
    const Ms spare = 2 * (kQuantum * static_cast<int>(state_.size()) + Ms(kLongestPause));
    if ((fs_.Paused(pid) > kWaitBound + spare || fs_.PausedForFolders(pid) > kFolderWaitBound + spare) &&
        !waitNoted_[k]) {
      waitNoted_[k] = true;
      Note(scenario_.actors[k].name + " waited " + std::to_string(fs_.Paused(pid).count()) + " ms for held files and " +
           std::to_string(fs_.PausedForFolders(pid).count()) +
           " ms for folders in one save or load, longer than documented (2 s, 10 s)");
    }
    CheckSaidSo();
    int next = k;
    const bool crashPoint = call.changes || std::string(call.what) == "sync folder";
    if (std::string(call.what) == "sleep") {
      next = NextAfter(k);  // a pause lets the next actor run
      if (next < 0) next = k;
    } else if ((call.changes || everywhere_ || (crashPoint && scenario_.crashes)) && depthLeft_ > 0) {
      // 0: go on; then kill this one (when it may be killed); then stop it and run another.
      std::vector<int> others;
      for (std::size_t j = 0; j < state_.size(); ++j)
        if (static_cast<int>(j) != k && !state_[j].done) others.push_back(static_cast<int>(j));
      const bool killable = scenario_.actors[k].killable;
      // A crash keeps none of the unsynced changes, every entry change but no
      // unsynced data, or only the removals; a sample draws what it keeps.
      // A sync is a point too: right after the change before it, a kernel may
      // have written a folder's later change and not an earlier one.
      const int crashes = !crashPoint || !scenario_.crashes || crashed_ ? 0 : CrashChoices();
      // Where another computer saves, the clock may move on between two steps by
      // less than the longest save: a claim of that age is still live.
      const bool farAway = std::any_of(scenario_.actors.begin(), scenario_.actors.end(),
                                       [](const ExplorerActor& a) { return a.host != 0; });
      const int clocks = farAway && call.changes && NextAfter(k) >= 0 && NextAfter(k) != k ? kClockChoices : 0;
      const int options = 1 + (killable ? 1 : 0) + crashes + clocks + static_cast<int>(others.size());
      int c = options > 1 ? chooser_.Choose(options) : 0;
      const std::string at = " at its call " + std::to_string(me.calls) + " (" + call.what +
                             (call.path.empty() ? "" : " " + NameOf(call.path)) + ")";
      if (c == 1 && killable) {
        --depthLeft_;
        schedule_ += "\n  kill " + scenario_.actors[k].name + at;
        fs_.Kill(pid);
        return;
      }
      if (c > 0 && killable) --c;
      if (c > 0 && c <= crashes) {
        CrashNow(c - 1, at + " of " + scenario_.actors[k].name);
        return;
      }
      if (c > crashes && c <= crashes + clocks) {
        --depthLeft_;
        // A computer suspended there (a laptop): the others run on its claim aged so.
        next = NextAfter(k);
        const std::chrono::seconds by = kClockSteps[c - crashes - 1];
        schedule_ += "\n  stop " + scenario_.actors[k].name + at + " while the clock moves on " +
                     std::to_string(by.count()) + " s, run " + scenario_.actors[next].name;
        // Every actor midway (begun, not ended) is held up as long: it did not run meanwhile.
        for (const State& other : state_)
          if (!other.done && other.calls > 0) heldUp_[other.pid] = std::max(heldUp_[other.pid], by);
        fs_.AdvanceClock(by);
      } else if (c > crashes + clocks) {
        --depthLeft_;
        next = others[static_cast<std::size_t>(c - 1 - crashes - clocks)];
        schedule_ += "\n  stop " + scenario_.actors[k].name + at + ", run " + scenario_.actors[next].name;
      }
    }
    if (next == k) return;
    HandTo(static_cast<std::size_t>(next));
    WaitForTurn(static_cast<std::size_t>(k));
  }

  // The sets of saves no longer running (killed, ended, or made before the run)
  // that stand whole with no journal left in the folders: finished, by their save
  // or by a recovery. A crash must not unmake them (CheckAfterCrash takes them as
  // saves that said they were done).
  void NoteFinished() {
    for (const auto& [tag, files] : sets_) {
      if (finished_.count(tag)) continue;
      bool running = false;
      for (std::size_t j = 0; j < state_.size(); ++j)
        if (scenario_.actors[j].name == tag && !state_[j].done && fs_.Alive(state_[j].pid)) running = true;
      if (running) continue;
      bool whole = true;
      for (const std::string& f : files) {
        std::string text;
        whole = whole && fs_.Peek(f, &text) && text == tag + " " + NameOf(f);
      }
      if (!whole) continue;
      for (const std::string& folder : scenario_.folders)
        if (!JournalIn(fs_, folder).empty()) whole = false;
      if (whole) finished_.insert(tag);
    }
  }
  // What a crash may keep of the unsynced changes: each policy in a walk, one drawn in a sample.
  int CrashChoices() const { return everywhere_ ? 1 : 5; }
  void CrashNow(int policy, const std::string& where) {
    --depthLeft_;
    using Keeps = MemoryFileSystem::CrashKeeps;
    static const Keeps kPolicies[] = {Keeps::Nothing, Keeps::EntriesNotData, Keeps::Removals, Keeps::LaterNotEarlier,
                                      Keeps::LastOnly};
    const Keeps keeps = everywhere_ ? Keeps::Drawn : kPolicies[policy];
    const unsigned seed = static_cast<unsigned>(steps_);
    static const char* const kKeeps[] = {"nothing unsynced", "every entry change but no unsynced data",
                                         "only the removals", "what a draw keeps",
                                         "every entry change but the earliest", "only the latest entry change"};
    schedule_ += "\n  crash" + where + ", keeping " + kKeeps[static_cast<int>(keeps)] +
                 (everywhere_ ? " (" + std::to_string(seed) + ")" : "");
    crashed_ = true;
    fs_.Crash(keeps, seed);
  }

  // No save that said it replaced its set left it mixed: once one file holds what
  // it wrote, every other file of its set received what it wrote for that file
  // (and may have been saved again since).
  void CheckSaidSo() {
    NoteFinished();
    for (const SaveRecord& r : saves_) {
      if (!r.saved || saidSoNoted_.count(r.tag)) continue;
      std::string got, missed;
      for (const std::string& f : r.files) {
        std::string text;
        const std::string mine = r.tag + " " + NameOf(f);
        if (fs_.Peek(f, &text) && text == mine) got = f;
        if (!fs_.EverHeld(f, mine)) missed = f;
      }
      if (got.empty() || missed.empty()) continue;
      saidSoNoted_.insert(r.tag);
      Note("the save " + r.tag + " said it replaced its set, but " + NameOf(missed) +
           " never received what it wrote while " + NameOf(got) + " holds it");
    }
  }

  MemoryFileSystem& fs_;
  const ExplorerScenario& scenario_;
  Chooser& chooser_;
  int depthLeft_;
  bool everywhere_;
  bool crashed_ = false;
  std::vector<SaveRecord> saves_;
  std::set<std::string> saidSoNoted_;
  std::set<std::string> finished_;  // NoteFinished
  // The turn passes from actor to actor: only the one whose turn it is runs, woken
  // by its own semaphore.
  void HandTo(std::size_t k) { turns_[k]->release(); }
  void WaitForTurn(std::size_t k) { turns_[k]->acquire(); }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::unique_ptr<std::binary_semaphore>> turns_;
  std::vector<State> state_;
  std::map<int, bool> waitNoted_;
  std::map<long, std::chrono::seconds> heldUp_;  // the longest clock step each process was stopped through
  int steps_ = 0;
  std::mutex violationMutex_;
  std::vector<std::string> violations_;
  std::string schedule_;
  std::map<std::string, std::set<std::string>> sets_;  // each save's files, by its tag
};

// The hidden files of the program in folder that neither a live process holds
// nor a journal there names, of processes that ended before the count since.
std::vector<std::string> Unowned(MemoryFileSystem& fs, const std::string& folder, long since, int host) {
  std::string journals;
  for (const std::string& name : fs.Names(folder)) {
    std::string text;
    if (name.find(".journal") != std::string::npos && name.size() > 8 &&
        name.compare(name.size() - 8, 8, ".journal") == 0 && fs.Peek(folder + "/" + name, &text))
      journals += text;
  }
  std::vector<std::string> left;
  for (const std::string& name : fs.Names(folder)) {
    if (!IsSaveTemporaryName(name) || name.compare(name.size() - 8, 8, ".journal") == 0) continue;
    if (fs.HeldByOther(folder + "/" + name, -1) || journals.find(name) != std::string::npos) continue;
    // A save still running owns its temporaries ("...-<pid>-<start>-<n>.part", and
    // "...-<n>.journal.part" of its journals).
    static const std::regex owner(R"(-([0-9]+)-[0-9]+-[0-9]+(\.journal)?\.part$)");
    std::smatch m;
    // Another computer's files are its own to judge (by their age, at most).
    if (std::regex_search(name, m, owner) &&
        (fs.Alive(std::stol(m[1].str())) || fs.EndedAt(std::stol(m[1].str())) > since ||
         fs.HostOf(std::stol(m[1].str())) != host))
      continue;
    left.push_back(folder + "/" + name);
  }
  return left;
}

}  // namespace

std::string NamedTemporary(MemoryFileSystem& fs, const std::string& folder) {
  const std::string journal = JournalIn(fs, folder);
  std::string text;
  if (journal.empty() || !fs.Peek(journal, &text)) return {};
  for (const std::string& name : fs.Names(folder))
    if (name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0 && name.find(".journal") == std::string::npos &&
        text.find(name) != std::string::npos)
      return folder + "/" + name;
  return {};
}

std::string JournalIn(MemoryFileSystem& fs, const std::string& folder) {
  for (const std::string& name : fs.Names(folder))
    if (name.size() > 8 && name.compare(name.size() - 8, 8, ".journal") == 0) return folder + "/" + name;
  return {};
}

void ExplorerRun::Violation(const std::string& text) {
  if (std::getenv("TARMIC_EXPLORE_TRACE")) std::printf("      VIOLATION %s\n", text.c_str());
  violations_->push_back(text);
}

std::string ExplorerRun::Save(const std::vector<std::string>& files, const std::string& tag) {
  fs.Measure(pid, true);
  const long since = fs.Ended();
  (*sets_)[tag] = std::set<std::string>(files.begin(), files.end());
  std::string report;
  if (files.size() == 1) {
    std::string error;
    if (!WriteTextFileAtomically(files[0], tag + " " + NameOf(files[0]), &error)) report = error.empty() ? "?" : error;
  } else {
    AtomicFileBatch batch;
    for (const std::string& f : files) batch.Check(f, WriteTextFileAtomically(f, tag + " " + NameOf(f)));
    report = batch.Finish();
  }
  fs.Measure(pid, false);
  if (!fs.Alive(pid)) return report;
  saves_->push_back({tag, files, report.empty()});
  if (!report.empty() && !blocked_(pid))
    Violation("a save of " + std::to_string(files.size()) + " files by " + tag +
              " was refused while no other process held anything:\n" + report);
  std::set<std::string> folders;
  for (const std::string& f : files) folders.insert(FolderOf(f));
  for (const std::string& folder : folders)
    for (const std::string& left : Unowned(fs, folder, since, fs.HostOf(pid)))
      Violation("after a save in its folder, " + NameOf(left) + " is left, which no journal names and no live "
                "process holds");
  return report;
}

void ExplorerRun::Load(const std::vector<std::string>& files) {
  fs.Measure(pid, true);
  std::string note;
  std::vector<std::string> contents;
  {
    const FolderReading reading(files);
    note = reading.Note();
    for (const std::string& f : files) {
      std::string text;
      fs.Peek(f, &text);
      contents.push_back(text);
    }
  }
  fs.Measure(pid, false);
  if (!fs.Alive(pid)) return;
  // Mixed: a file holds what a save wrote for it, and another file of that save's
  // set never received what the save wrote for it.
  for (std::size_t a = 0; a < files.size(); ++a) {
    const std::string tag = contents[a].substr(0, contents[a].find(' '));
    if (tag == "old" || tag.empty() || contents[a] != tag + " " + NameOf(files[a])) continue;
    for (std::size_t b = 0; b < files.size(); ++b)
      if (b != a && note.empty() && sets_->count(tag) && sets_->at(tag).count(files[b]) &&
          !fs.EverHeld(files[b], tag + " " + NameOf(files[b]))) {
        Violation("a load read a mixed set and said nothing: " + NameOf(files[a]) + " holds \"" + contents[a] +
                  "\", " + NameOf(files[b]) + " holds \"" + contents[b] + "\"");
        return;
      }
  }
}

void ExplorerRun::Hold(const std::function<std::string(MemoryFileSystem&)>& pick, HoldKind kind, int holdMs) {
  for (int waited = 0; waited < 6000; waited += 100) {
    const std::string path = pick(fs);
    if (!path.empty()) {
      const int fd = fs.Open(path, kind == HoldKind::ReadLock ? O_RDONLY : O_RDWR, 0);
      const int locked = fd < 0                            ? -1
                         : kind == HoldKind::Flock         ? fs.FileLock(fd, LOCK_EX | LOCK_NB)
                         : kind == HoldKind::SharedFlock   ? fs.FileLock(fd, LOCK_SH | LOCK_NB)
                         : kind == HoldKind::ReadLock      ? fs.LockWhole(fd, F_RDLCK)
                                                           : fs.LockWhole(fd, F_WRLCK);
      if (locked == 0) {
        for (int held = 0; held < holdMs; held += kLongestPause) Pause(kLongestPause);
        fs.Close(fd);
        return;
      }
      if (fd >= 0) fs.Close(fd);
    }
    Pause(100);
  }
}

namespace {

// After a crash, in the next boot: a load of the set says whether it is mixed;
// every file holds what some save wrote for it (no data lost with its rename);
// and every save that said it replaced its set kept it: each file holds what it
// wrote or what came later.
void CheckAfterCrash(MemoryFileSystem& fs, const ExplorerScenario& scenario,
                     std::map<std::string, std::set<std::string>>& sets, std::vector<SaveRecord>& saves,
                     std::vector<std::string>* violations) {
  ExplorerRun run(fs, scenario, violations, [](long) { return false; }, &sets, &saves);
  run.pid = fs.BeginProcess();
  run.Load(scenario.targets);
  for (const std::string& t : scenario.targets) {
    std::string text;
    if (!fs.Peek(t, &text)) continue;
    bool known = text == "old " + NameOf(t);
    for (const auto& [tag, files] : sets) known = known || (files.count(t) && text == tag + " " + NameOf(t));
    if (!known) violations->push_back("after the crash, " + NameOf(t) + " holds \"" + text + "\", which no save wrote");
  }
  for (const SaveRecord& r : saves) {
    if (!r.saved) continue;
    for (const std::string& f : r.files) {
      std::string text;
      const std::string mine = r.tag + " " + NameOf(f);
      if (!fs.Peek(f, &text) || text == mine) continue;
      if (fs.LastRenameOf(f, text) <= fs.LastRenameOf(f, mine))
        violations->push_back("after the crash, " + NameOf(f) + " holds \"" + text + "\" again although the save " +
                              r.tag + " had said it was replaced (or its set had been finished)");
    }
  }
  fs.EndProcess();
}

}  // namespace

std::vector<ExplorerFinding> ExploreAll(const std::vector<ExplorerScenario>& scenarios, const std::string& only,
                                        int depth, const std::vector<unsigned>& seeds, PlantedFault planted,
                                        int plantedSite) {
  std::string seedList;
  for (const unsigned seed : seeds) seedList += (seedList.empty() ? "" : ", ") + std::to_string(seed);
  std::printf("[ explorer ] depth %d, samples from the seeds %s (TARMIC_EXPLORE_SEED=%u repeats them)\n", depth,
              seedList.empty() ? "(none)" : seedList.c_str(), seeds.empty() ? 0u : seeds.front());
  std::vector<ExplorerFinding> all;
  int runs = 0, scenariosRun = 0;
  for (const ExplorerScenario& s : scenarios) {
    if (!only.empty() && s.name.find(only) == std::string::npos) continue;
    ++scenariosRun;
    int n = 0;
    const std::vector<ExplorerFinding> findings = Explore(s, depth, seeds, &n, planted, plantedSite);
    runs += n;
    std::printf("[ explorer ] %s: %d runs, %zu kinds of violation\n", s.name.c_str(), n, findings.size());
    for (const ExplorerFinding& f : findings) {
      std::printf("[ explorer ]   %s\n  schedule: %s\n", f.violation.c_str(), f.schedule.c_str());
      all.push_back(f);
    }
  }
  std::printf("[ explorer ] %d scenarios, %d runs\n", scenariosRun, runs);
  if (scenariosRun == 0 || runs == 0)
    all.push_back({only, "", "explored nothing: no scenario's name holds \"" + only + "\", or none ran"});
  return all;
}

std::vector<ExplorerFinding> Explore(const ExplorerScenario& scenario, int depth, const std::vector<unsigned>& seeds,
                                     int* runs, PlantedFault planted, int plantedSite) {
  std::vector<ExplorerFinding> findings;
  std::set<std::string> seen;
  auto once = [&](std::vector<int> prefix, unsigned seed, bool sample, int d) {
    MemoryFileSystem fs;
    fs.plantedFault = planted;
    fs.plantedSite = plantedSite;
    fs.SetPauseQuantum(kQuantum);
    fs.SetClockOffset(0, scenario.clockOffset);
    std::set<std::string> touchable(scenario.targets.begin(), scenario.targets.end());
    fs.SetTouchable(touchable);
    for (const std::string& f : scenario.folders) {
      fs.MakeFolder(FolderOf(f));
      fs.MakeFolder(f);
    }
    for (const std::string& t : scenario.targets) fs.Put(t, "old " + NameOf(t));
    fs.Put(scenario.folders.front() + "/bystander.txt", "not of any set");
    if (scenario.prepare) scenario.prepare(fs);
    SetFileSystemForTesting(&fs);
    Chooser chooser(std::move(prefix), seed, sample);
    Scheduler scheduler(fs, scenario, chooser, d, sample);
    std::vector<std::string> violations = scheduler.Run();
    fs.SetViolation([&](const std::string& v) { violations.push_back(v); });
    if (scheduler.Crashed()) {
      std::vector<SaveRecord> done = scheduler.Saves();
      for (const std::string& tag : scheduler.Finished()) {
        const std::set<std::string>& files = scheduler.Sets().at(tag);
        done.push_back({tag, {files.begin(), files.end()}, true});
      }
      CheckAfterCrash(fs, scenario, scheduler.Sets(), done, &violations);
    }
    // Another computer's files are judged by the age of their heartbeat: the clock
    // moves past the longest save, widened by this computer's clock offset, before the end.
    if (std::any_of(scenario.actors.begin(), scenario.actors.end(), [](const ExplorerActor& a) { return a.host != 0; }))
      fs.AdvanceClock(std::chrono::seconds(save_parts::kLongestSave) + std::chrono::hours(1) +
                      std::chrono::abs(scenario.clockOffset));
    // Once every actor has ended (holders gone, owners ended), the set is saved whole
    // and loads whole, and nothing of the program is left in its folders.
    fs.BeginProcess();
    {
      AtomicFileBatch batch;
      for (const std::string& t : scenario.targets)
        batch.Check(t, WriteTextFileAtomically(t, "final " + NameOf(t)));
      const std::string report = batch.Finish();
      if (!report.empty())
        violations.push_back("once every process had ended, the set could not be saved:\n" + report);
      const FolderReading reading(scenario.targets);
      if (report.empty() && !reading.Note().empty())
        violations.push_back("once the set was saved whole, a load still said:\n" + reading.Note());
    }
    for (const std::string& folder : scenario.folders)
      for (const std::string& name : fs.Names(folder))
        if (IsSaveTemporaryName(name)) violations.push_back("once the set was saved whole, " + name + " is left");
    std::string text;
    if (!fs.Peek(scenario.folders.front() + "/bystander.txt", &text) || text != "not of any set")
      violations.push_back("a file of no set was changed");
    fs.EndProcess();
    SetFileSystemForTesting(nullptr);
    ++*runs;
    for (const std::string& v : violations) {
      // One finding per kind of violation: its first line without the set's tags.
      static const std::regex hidden(R"(\.[^ ,:"]*\.(part|journal))"), number("[0-9]+");
      std::string kind = std::regex_replace(std::regex_replace(v, hidden, "<hidden>"), number, "#");
      kind = kind.substr(0, kind.find('\n'));
      if (!seen.insert(kind).second) continue;
      findings.push_back({scenario.name, (sample ? "sample of seed " + std::to_string(seed) : std::string("walk")) +
                                             (scheduler.Schedule().empty() ? "\n  (no deviation)" : scheduler.Schedule()),
                          v});
    }
    return chooser.Trace();
  };
  // The walk: every schedule with at most depth deviations, depth first.
  std::vector<int> prefix;
  for (;;) {
    const std::vector<Chooser::Point> trace = once(prefix, 0, false, depth);
    std::size_t k = trace.size();
    while (k > 0 && trace[k - 1].taken + 1 >= trace[k - 1].options) --k;
    if (k == 0) break;
    prefix.clear();
    for (std::size_t j = 0; j + 1 < k; ++j) prefix.push_back(trace[j].taken);
    prefix.push_back(trace[k - 1].taken + 1);
  }
  for (const unsigned seed : seeds) once({}, seed, true, depth + 2);
  return findings;
}

}  // namespace tarmic::testing
