// Worker threads of the normal equations and the threaded build.
#include "distributions/normal_equation_threads.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <vector>

#include "distributions/distribution_hooks.h"
#include "numerics/error_box.h"
#include "numerics/run_switches.h"

namespace tarmic {

double* pThreadSumSq = nullptr;

namespace {

// Wakes the waiting user-interface thread when a worker ends.
std::mutex g_doneMutex;
std::condition_variable g_doneSignal;

}  // namespace

MultiContiNEQThread::~MultiContiNEQThread() { WaitForExit(); }

bool MultiContiNEQThread::Start(const NEQBuildPlan* plan, int index, int count) {
  pPlan = plan;
  nIndex = index;
  nCount = count;
  bFinished = false;
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void MultiContiNEQThread::WaitForExit() {
  if (thread_.joinable()) thread_.join();
}

int MultiContiNEQThread::Run() {
  nResult = 0;
  try {
    BuildNormalEquationRows(*pPlan, nIndex, nCount, &pThreadSumSq[nIndex], nullptr);
  } catch (const std::bad_alloc&) {
    nResult = 1;
    bUserAbort = true;  // the other workers stop at their next scan
  }
  {
    std::lock_guard<std::mutex> lock(g_doneMutex);
    bFinished = true;
  }
  g_doneSignal.notify_all();
  return nResult;
}

bool BuildNormalEquationsThreaded(NoiseModel model, int threads) {
  bFixedFirstKernel = false;
  dFixedFirstAmplitude = 0.0;
  const NEQBuildPlan plan = PlanNormalEquations(model);
  if (!NormalEquationArraysFit(plan)) return false;
  const int count = std::max(1, threads);

  WriteContiDebugLog("\n\tnormal equations prep");
  ComputeNormalEquationMeans(plan);
  std::vector<double> sums(static_cast<std::size_t>(count) + 1, 0.0);
  pThreadSumSq = sums.data();
  nNEQScansDone = 0;

  std::vector<std::unique_ptr<MultiContiNEQThread>> workers;
  for (int t = 0; t <= count; ++t) workers.push_back(std::make_unique<MultiContiNEQThread>());
  WriteContiDebugLog(", allocated threads");
  std::vector<int> notStarted;
  for (int t = 1; t <= count; ++t) {
    if (!workers[static_cast<std::size_t>(t)]->Start(&plan, t, count)) notStarted.push_back(t);
  }
  // A worker the system could not start runs here; its rows are the same.
  for (int t : notStarted) workers[static_cast<std::size_t>(t)]->Run();

  // Wait for the workers: draw their progress and poll the keyboard meanwhile.
  const int scans = plan.lastScan - plan.firstScan + 1;
  const float total = static_cast<float>(scans) * static_cast<float>(count);
  bool keyInterrupt = false;
  for (;;) {
    // The keyboard is polled before the workers are checked, so a key pressed
    // before the build ended always interrupts it.
    ShowNormalEquationProgress(static_cast<float>(nNEQScansDone.load()) / total);
    if (!bUserAbort && CheckKeyPress()) {
      bUserAbort = true;
      keyInterrupt = true;
    }
    auto allFinished = [&workers, count] {
      for (int t = 1; t <= count; ++t) {
        if (!workers[static_cast<std::size_t>(t)]->Finished()) return false;
      }
      return true;
    };
    std::unique_lock<std::mutex> lock(g_doneMutex);
    if (g_doneSignal.wait_for(lock, std::chrono::milliseconds(20), allFinished)) break;
  }
  bool outOfMemory = false;
  for (int t = 1; t <= count; ++t) {
    workers[static_cast<std::size_t>(t)]->WaitForExit();
    if (workers[static_cast<std::size_t>(t)]->nResult != 0) outOfMemory = true;
  }
  WriteContiDebugLog(", all done");
  workers.clear();
  WriteContiDebugLog(", deleted");

  double sumSq = 0.0;
  for (int t = 1; t <= count; ++t) sumSq += sums[static_cast<std::size_t>(t)];
  pThreadSumSq = nullptr;
  FinishNormalEquations(plan, sumSq);
  if (model == NoiseModel::TIRI) ShowNormalEquationProgress(1.0f);
  WriteContiDebugLog(", finished");
  if (outOfMemory) {
    ShowError("could not allocate arrays, increase memory or take fewer scans", false);
    if (!keyInterrupt) bUserAbort = false;
    return false;
  }
  return !bUserAbort;
}

}  // namespace tarmic
