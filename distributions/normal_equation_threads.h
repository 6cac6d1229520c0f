// The normal equations of a distribution fit built on worker threads.
//
// The rows of the normal matrix are dealt round-robin: worker t of T builds the rows
// i with i mod T = t - 1, writes only those rows of ppNormalMatrix and entries of
// pNormalRhs and its own slot of pThreadSumSq, and reads data, kernels and means.
// No locks are needed. The workers never draw and never poll the window system: the
// calling (user-interface) thread waits for them, draws the progress they publish
// in nNEQScansDone and polls the keyboard, and a key sets bUserAbort, which every
// worker reads before each scan. The equations equal those of the single-thread
// builders bit for bit, for any number of threads.
#pragma once

#include <atomic>
#include <thread>

#include "distributions/normal_equations.h"

namespace tarmic {

// Per-worker sums of squares of the transformed data [1..nThreads], alive during one
// threaded build; only worker 1 sums (it owns row 1).
extern double* pThreadSumSq;

// One worker of a threaded build.
class MultiContiNEQThread {
 public:
  MultiContiNEQThread() = default;
  ~MultiContiNEQThread();
  MultiContiNEQThread(const MultiContiNEQThread&) = delete;
  MultiContiNEQThread& operator=(const MultiContiNEQThread&) = delete;

  // Starts the thread on worker index `index` of `count`; false when the system
  // could not create a thread (Run can then be called in the calling thread).
  bool Start(const NEQBuildPlan* plan, int index, int count);
  // Waits until the thread has ended (nothing when it never started).
  void WaitForExit();
  // The worker's rows; returns 0, or 1 when its scratch memory could not be had.
  int Run();
  bool Finished() const { return bFinished.load(); }

  int nIndex = 0;
  int nCount = 1;
  const NEQBuildPlan* pPlan = nullptr;
  std::atomic<bool> bFinished{false};
  int nResult = 0;

 private:
  std::thread thread_;
};

// The whole threaded build of the noise model on `threads` workers (at least one;
// the fixed baseline of the model without noise terms is fBaseline):
// the means, the workers, then the mirrored matrix and dSumSqData. Returns true when
// the equations are complete, false when the arrays do not fit the data, memory ran
// out (reported) or the build was interrupted (bUserAbort is then set).
bool BuildNormalEquationsThreaded(NoiseModel model, int threads);

}  // namespace tarmic
