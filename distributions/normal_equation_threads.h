// The normal equations of a distribution fit built on worker threads.
//
// The workers share one build: each first computes the means of the shares of rows
// it takes, then takes scan after scan (BuildNormalEquationRows), centres and
// multiplies each in blocks of its own and adds the sums of its products to
// ppNormalMatrix and pNormalRhs after the scan before. Worker 1 runs in the calling
// thread. The worker that adds the last scan writes the sum of squares into its
// slot of pThreadSumSq (the others add nothing to theirs). No locks guard the
// matrix: the scans add each element one after the other. Only the calling
// (user-interface) thread draws and polls the window system: every 20 ms between its
// own scans, and while it waits for the others it draws the progress they publish
// in nNEQScansDone; a key sets bUserAbort, and every worker stops before its next
// scan. The equations equal those of the single-thread builders bit for bit, for
// any number of threads. The workers are started for each build: starting and
// ending seven threads costs well under a millisecond, against tens of
// milliseconds of a build large enough for several threads.
#pragma once

#include "numerics/analysis.h"

#include <atomic>
#include <thread>

#include "distributions/normal_equations.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct NeqThreadState {
  // Per-worker sums of squares of the transformed data [1..nThreads], alive during one
  // threaded build; only the worker that adds the last scan writes its own.
  double* pThreadSumSq = nullptr;
};
// The current analysis' NeqThreadState.
inline NeqThreadState& NeqThreads() { return CurrentPart<NeqThreadState>(); }

struct NEQSharedBuild;

// One worker of a threaded build.
class MultiContiNEQThread {
 public:
  MultiContiNEQThread() = default;
  ~MultiContiNEQThread();
  MultiContiNEQThread(const MultiContiNEQThread&) = delete;
  MultiContiNEQThread& operator=(const MultiContiNEQThread&) = delete;

  // Starts the thread as worker `index` (1-based) of `build`; the thread waits until
  // the build publishes its final number of workers. False when the system could not
  // create a thread.
  bool Start(NEQSharedBuild* build, int index);
  // Waits until the thread has ended (nothing when it never started).
  void WaitForExit();
  bool Finished() const { return bFinished.load(); }

  int nIndex = 0;
  std::atomic<bool> bFinished{false};

 private:
  void Run();
  NEQSharedBuild* build_ = nullptr;
  std::thread thread_;
};

// The whole threaded build of the noise model on at most `threads` workers, as many
// as the build can feed with multiplyAddsPerThread each (NormalEquationThreads; 0:
// all `threads`), the calling thread one of them (at least one; the fixed baseline
// of the model without noise terms is fBaseline):
// the means, the workers, then the mirrored matrix and dSumSqData. Returns true when
// the equations are complete, false when the arrays do not fit the data, memory ran
// out (kWorkspaceAllocationText in *error, when given) or the build was interrupted
// (bUserAbort is then set).
bool BuildNormalEquationsThreaded(NoiseModel model, int threads,
                                  double multiplyAddsPerThread = kNEQMultiplyAddsPerThread,
                                  std::string* error = nullptr);

}  // namespace tarmic
