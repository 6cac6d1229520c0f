// Worker threads of the normal equations and the threaded build.
#include "distributions/normal_equation_threads.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <immintrin.h>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "distributions/distribution_hooks.h"
#include "distributions/distribution_storage.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "platform/worker_threads.h"

namespace tarmic {

namespace {
// How often a threaded build draws its progress and polls the keyboard.
constexpr std::chrono::milliseconds kPollInterval{20};
}  // namespace

// What the workers of one build share.
struct NEQSharedBuild {
  const NEQBuildPlan* plan = nullptr;
  NEQScratch* scratch = nullptr;
  std::mutex mutex;               // guards count and wakes the workers
  std::condition_variable signal;
  int count = 0;                  // workers of the build, 0 until published
  std::condition_variable finished;  // a worker finished (with mutex)
  std::exception_ptr failure;     // the first exception of a worker (with mutex)
};

MultiContiNEQThread::~MultiContiNEQThread() { WaitForExit(); }

bool MultiContiNEQThread::Start(NEQSharedBuild* build, int index) {
  build_ = build;
  nIndex = index;
  bFinished = false;
  return StartAnalysisThread(&thread_, [this] { Run(); });
}

void MultiContiNEQThread::WaitForExit() {
  if (thread_.joinable()) thread_.join();
}

void MultiContiNEQThread::Run() {
  NEQSharedBuild& b = *build_;
  int count = 0;
  {
    std::unique_lock<std::mutex> lock(b.mutex);
    b.signal.wait(lock, [&b] { return b.count != 0; });
    count = b.count;
  }
  if (nIndex <= count) {
    try {
      BuildNormalEquationRows(*b.plan, *b.scratch, nIndex, count, &NeqThreads().pThreadSumSq[nIndex], [] {
        NormalEquations().nNEQScansDone.fetch_add(1);
        return true;
      });
    } catch (...) {
      // The build has stopped every thread; the caller reports the failure.
      std::lock_guard<std::mutex> lock(b.mutex);
      if (!b.failure) b.failure = std::current_exception();
    }
  }
  bFinished.store(true, std::memory_order_release);
  // Taking the mutex between the store and the notice: a caller that found this
  // worker unfinished under the mutex is already waiting when the notice comes.
  { std::lock_guard<std::mutex> lock(b.mutex); }
  b.finished.notify_all();
}

bool BuildNormalEquationsThreaded(NoiseModel model, int threads, double multiplyAddsPerThread,
                                  std::string* error) {
  NormalEquations().bFixedFirstKernel = false;
  NormalEquations().dFixedFirstAmplitude = 0.0;
  const NEQBuildPlan plan = PlanNormalEquations(model);
  if (!NormalEquationArraysFit(plan)) return false;
  // No more threads than the build can feed (the equations are the same).
  const int wanted = NormalEquationThreads(plan, threads, multiplyAddsPerThread);

  WriteContiDebugLog("\n\tnormal equations prep");
  const std::unique_ptr<NEQScratch> scratch = TryMakeNEQScratch(plan, wanted, error);
  if (!scratch) return false;
  std::vector<double> sums(static_cast<std::size_t>(wanted) + 1, 0.0);
  NeqThreads().pThreadSumSq = sums.data();
  NormalEquations().nNEQScansDone = 0;

  // The calling thread is worker 1; workers 2.. run on threads of their own.
  NEQSharedBuild build;
  build.plan = &plan;
  build.scratch = scratch.get();
  std::vector<std::unique_ptr<MultiContiNEQThread>> workers;
  workers.reserve(static_cast<std::size_t>(wanted));
  // Every way out, an exception included, releases the workers (a build left
  // before it published its workers stops at once) and joins them before what they
  // share goes.
  struct ReleaseWorkers {
    NEQSharedBuild& build;
    std::vector<std::unique_ptr<MultiContiNEQThread>>& workers;
    ~ReleaseWorkers() {
      auto& neqThreadsPart = NeqThreads();
      {
        std::lock_guard<std::mutex> lock(build.mutex);
        if (build.count == 0) {
          build.count = static_cast<int>(workers.size()) + 1;
          build.scratch->Abandon(build.count);
        }
      }
      build.signal.notify_all();
      for (auto& w : workers) w->WaitForExit();
      neqThreadsPart.pThreadSumSq = nullptr;
    }
  } release{build, workers};
  for (int t = 2; t <= wanted; ++t) {
    workers.push_back(std::make_unique<MultiContiNEQThread>());
    // The workers are those the system could start: the result does not depend on
    // their number.
    if (!workers.back()->Start(&build, t)) {
      workers.pop_back();
      break;
    }
  }
  WriteContiDebugLog(", allocated threads");
  const int count = static_cast<int>(workers.size()) + 1;
  {
    std::lock_guard<std::mutex> lock(build.mutex);
    build.count = count;
  }
  build.signal.notify_all();

  // Worker 1's scans; after the first and then every 20 ms, the progress of all
  // workers and a poll of the keyboard (a key sets bUserAbort, which stops every
  // worker).
  const float total = static_cast<float>(scratch->parts);
  using Clock = std::chrono::steady_clock;
  Clock::time_point nextPoll = Clock::now();
  BuildNormalEquationRows(plan, *scratch, 1, count, &sums[1], [total, &nextPoll] {
    const int done = NormalEquations().nNEQScansDone.fetch_add(1) + 1;
    if (Clock::now() < nextPoll) return !bUserAbort;
    nextPoll = Clock::now() + kPollInterval;
    ShowNormalEquationProgress(static_cast<float>(done) / total);
    if (!bUserAbort && CheckKeyPress()) bUserAbort = true;
    return !bUserAbort;
  });
  // Then wait for the others: draw their progress and poll the keyboard meanwhile.
  auto allFinished = [&workers] {
    for (const auto& w : workers) {
      if (!w->Finished()) return false;
    }
    return true;
  };
  for (;;) {
    // The keyboard is polled before the workers are checked again, so a key pressed
    // before the build ended always interrupts it.
    ShowNormalEquationProgress(static_cast<float>(NormalEquations().nNEQScansDone.load()) / total);
    if (!bUserAbort && CheckKeyPress()) bUserAbort = true;
    if (bUserAbort) scratch->Halt();
    // The others are about done when the calling thread is (the scans are taken by
    // whoever is free, and added in order): it watches them for a moment, then sleeps until one finishes or the
    // next poll is due. Spinning and yielding longer took cores from the workers on
    // a loaded machine, so that more threads made the build slower.
    bool finished = allFinished();
    const Clock::time_point spinEnd = Clock::now() + kSpinBeforeSleep;
    for (int spin = 1; !finished; ++spin) {
      _mm_pause();
      if (spin % 64 != 0) continue;
      finished = allFinished();
      if (Clock::now() >= spinEnd) break;
    }
    if (!finished) {
      std::unique_lock<std::mutex> lock(build.mutex);
      finished = build.finished.wait_for(lock, kPollInterval, allFinished);
    }
    if (finished) break;
  }
  for (auto& w : workers) w->WaitForExit();
  WriteContiDebugLog(", all done");
  // A worker's failure is the build's: memory that could not be had is reported as
  // the serial build reports it, anything else goes on to the caller.
  if (build.failure) {
    NeqThreads().pThreadSumSq = nullptr;
    try {
      std::rethrow_exception(build.failure);
    } catch (const std::bad_alloc&) {
      if (error) *error = kWorkspaceAllocationText;
      return false;
    }
  }
  workers.clear();
  WriteContiDebugLog(", deleted");

  double sumSq = 0.0;
  for (double s : sums) sumSq += s;
  NeqThreads().pThreadSumSq = nullptr;
  FinishNormalEquations(plan, sumSq);
  if (model == NoiseModel::TIRI) ShowNormalEquationProgress(1.0f);
  WriteContiDebugLog(", finished");
  return !bUserAbort;
}

}  // namespace tarmic
