// One analysis: the state of a data set, its model and parameters, its fit limits,
// its settings and its results, held as one object.
//
// Each engine module keeps its part of that state in a struct of its own (the data
// set's DataSetState, the model flags' ModelFlags, ...) whose members keep the names
// the code has always used. An Analysis holds one instance of each part, made (value-
// initialised) the first time the part is asked for, and destroyed with the analysis
// in the reverse order of their making.
//
// The engine reaches its parts through the analysis bound to the calling thread
// (CurrentAnalysis): the one an AnalysisScope bound, else the program's own. The
// command layer that owns an analysis binds it at the engine's entry points (a batch
// run, each thread of a test running analyses side by side); the window works on the
// program's own. A worker thread of a computation works on the analysis of the thread
// that started it (BindAnalysisOf).
//
// The parts keep the engine's arrays as raw blocks, released by the engine's resets.
// An analysis that ends (or is cleared) gives back what its parts hold: a part that
// holds blocks, plot objects or anything else a plain destructor would drop says how
// to give them back with a member `ReleaseAtAnalysisEnd()`, which the analysis calls on
// every such part, in the reverse order of their making and with the analysis bound to
// the thread, before it destroys any part (a release may reach other parts: the data
// set's frees the grid that aliases its scans and the plots drawn from them).
//
// An analysis is used by one computation at a time: the threads of that computation
// read it, and write only their own slots of its results. The threads may be first
// to reach a part at the same moment: a part is made once, under the analysis' own
// lock, and published through its slot (an acquire load on the way in, which on x86
// is a plain load: reaching a part made before costs what it did).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace tarmic {

// A part that gives back what it holds when its analysis ends (see above).
template <class Part>
concept ReleasedAtAnalysisEnd = requires(Part& part) { part.ReleaseAtAnalysisEnd(); };

class Analysis {
 public:
  Analysis() = default;
  // The program's analysis: kept to the end of the process, as the program's state
  // always was (its parts hold the arrays of the loaded data, which nothing else
  // reaches then).
  struct Program {};
  constexpr explicit Analysis(Program) : program_(true) {}
  ~Analysis();
  Analysis(const Analysis&) = delete;
  Analysis& operator=(const Analysis&) = delete;

  // This analysis' instance of the part, made on first use.
  template <class Part>
  Part& Get() {
    static const std::size_t index = NewPartIndex();
    void* part = parts_[index].load(std::memory_order_acquire);
    if (part == nullptr) [[unlikely]]
      part = Make<Part>(index);
    return *static_cast<Part*>(part);
  }

  // Every part back to its first state: what the parts hold released, the parts
  // destroyed (the next use makes each anew). Called by the analysis' owner while no
  // computation works on it.
  void Clear();

  // How many parts have been made (for tests).
  std::size_t PartsMade();

  static constexpr std::size_t kMaxParts = 192;

 private:
  // The part's first use: made under the lock, after a second look at the slot (a
  // thread that waited for the lock finds the part another made meanwhile). The lock
  // is recursive: a part whose making reaches another part of the same analysis
  // makes that one under the lock its thread holds already.
  template <class Part>
  [[gnu::noinline]] void* Make(std::size_t index) {
    std::lock_guard<std::recursive_mutex> lock(making_);
    if (void* part = parts_[index].load(std::memory_order_acquire)) return part;
    Part* made = new Part();
    void (*release)(void*) = nullptr;
    if constexpr (ReleasedAtAnalysisEnd<Part>) release = [](void* p) { static_cast<Part*>(p)->ReleaseAtAnalysisEnd(); };
    Remember(index, [](void* p) { delete static_cast<Part*>(p); }, release);
    parts_[index].store(made, std::memory_order_release);
    return made;
  }
  static std::size_t NewPartIndex();
  // Under the lock: the part's destroyer, its release (null for a part that holds
  // nothing to give back) and its place in the order of making.
  void Remember(std::size_t index, void (*destroy)(void*), void (*release)(void*));
  // What every part holds, given back before any part goes.
  void ReleaseParts();

  std::array<std::atomic<void*>, kMaxParts> parts_{};
  // Written only under the lock.
  std::array<void (*)(void*), kMaxParts> destroy_{};
  std::array<void (*)(void*), kMaxParts> release_{};
  std::array<std::size_t, kMaxParts> made_{};  // indexes in the order they were made
  std::size_t madeCount_ = 0;
  // Constant-initialised in the standard library the program builds with, as the
  // program's analysis needs (constinit below refuses a library where it is not).
  std::recursive_mutex making_;
  bool program_ = false;
};

// The analysis of the program (the window's, and the engine's when nothing is bound).
// Constant-initialised: in place before any code runs.
inline constinit Analysis gProgramAnalysis{Analysis::Program{}};
inline Analysis& ProgramAnalysis() { return gProgramAnalysis; }

namespace analysis_binding {
// The analysis bound to this thread, or null for the program's own.
inline constinit thread_local Analysis* tBound = nullptr;
}  // namespace analysis_binding

inline Analysis& CurrentAnalysis() {
  Analysis* bound = analysis_binding::tBound;
  return bound != nullptr ? *bound : gProgramAnalysis;
}

// The current analysis' instance of a part.
template <class Part>
Part& CurrentPart() {
  return CurrentAnalysis().Get<Part>();
}

// Binds an analysis to this thread for the scope's life; scopes nest.
class AnalysisScope {
 public:
  explicit AnalysisScope(Analysis& analysis) : previous_(analysis_binding::tBound) {
    analysis_binding::tBound = &analysis;
  }
  ~AnalysisScope() { analysis_binding::tBound = previous_; }
  AnalysisScope(const AnalysisScope&) = delete;
  AnalysisScope& operator=(const AnalysisScope&) = delete;

 private:
  Analysis* previous_;
};

// Wraps a worker thread's body so that it works on the analysis of the thread that
// wraps it.
template <class Body>
auto BindAnalysisOf(Body body) {
  return [analysis = &CurrentAnalysis(), body = std::move(body)]() mutable {
    AnalysisScope scope(*analysis);
    return body();
  };
}

// Starts a worker thread of a computation (platform/worker_threads.h: false when the
// system could not create it), working on the current analysis. Every thread the
// engine starts goes through here.
bool StartAnalysisThread(std::thread* thread, std::function<void()> body);

}  // namespace tarmic
