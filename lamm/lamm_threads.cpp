#include "lamm/lamm_threads.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "lamm/lamm_globals.h"
#include "storage/atomic_file.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "services/run_switches.h"
#include "platform/system.h"
#include "platform/worker_threads.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {
std::function<void(int)> gEquationStartHook;
}  // namespace

void SetLammEquationStartHook(std::function<void(int equation)> hook) { gEquationStartHook = std::move(hook); }

namespace {

std::string LogDirectory() {
  auto& lammGlobalsPart = LammGlobals();
  return (lammGlobalsPart.szLammLogDirectory && *lammGlobalsPart.szLammLogDirectory) ? lammGlobalsPart.szLammLogDirectory : TempDirectory();
}

}  // namespace

MultiThreadCLammIdeal::~MultiThreadCLammIdeal() { Log("\ndeleting MultiThreadCLammIdeal"); }

void MultiThreadCLammIdeal::Log(const std::string& text) {
  if (!LammGlobals().bLammThreadDebugLog) return;
  if (szLogFile.empty()) {
    szLogFile = LogDirectory() + "MTdebug_t" + std::to_string(nThread) + ".txt";
    szLogText = nThread == 0 ? "deleting threads (thread #0)"
                             : "\nstarting new debugging session for thread #" + std::to_string(nThread);
    bThreadZero = nThread == 0;
  }
  std::string why;
  if (!AppendToFile(szLogFile, (bLogCreated ? std::string() : szLogText) + text, !bLogCreated, &why)) {
    RaiseError(WithReason("\n\aAttention: could not open " + szLogFile + " to write debugging info", why));
    return;
  }
  bLogCreated = true;
}

void MultiThreadCLammIdeal::SetThreadNumber(int k, int threadCount) {
  nThread = k;
  nThreadCount = std::max(1, threadCount);
  Log("");
}

void MultiThreadCLammIdeal::SetJob(const CLammIdeal* tmpl, int count, const double* s,
                                   const double* D, const double* vbar, float*** out,
                                   const float* outRadii, int nRadii, float* const* scanRadii,
                                   const int* scanCounts) {
  pTemplate = tmpl;
  nEquations = count;
  pS = s;
  pD = D;
  pVbar = vbar;
  pppOut = out;
  pOutRadii = outRadii;
  nOutRadii = nRadii;
  ppScanRadii = scanRadii;
  pnScanPoints = scanCounts;
}

void MultiThreadCLammIdeal::SetErrorSlots(int* codes, int* indices) {
  pErrorCodes = codes;
  pErrorIndex = indices;
}

namespace {

// A failure that leaves no usable kernel (memory, a refused set-up) ends the list;
// a discretization error or a singular matrix keeps the retried solution, and the
// list goes on as a list solved in one thread does.
bool EndsTheList(int status) { return status == 1 || status >= 4; }

}  // namespace

void MultiThreadCLammIdeal::Fail(int status, int equation) {
  // The first failure of the thread is kept, unless a later one ends the list.
  if (pErrorCodes[nThread] == 0 || (EndsTheList(status) && !EndsTheList(pErrorCodes[nThread]))) {
    pErrorCodes[nThread] = status;
    pErrorIndex[nThread] = equation;
  }
  if (EndsTheList(status)) pStop->store(true);
}

int MultiThreadCLammIdeal::Run() {
  pErrorCodes[nThread] = pErrorIndex[nThread] = 0;
  if (!pS || !pD || !pppOut || !pTemplate) return 0;
  if (!pNextEquation || !pStop) return 0;
  try {
    Log("\nstart MultiThreadCLammIdeal::Run()");
    SolveEquations();
    Log("\nexit from MultiThreadCLammIdeal::Run()");
  } catch (const std::exception& e) {
    // A failure outside a solution (memory for a log line or a message): the list
    // ends with it.
    RaiseError(e.what());
    Fail(1, 0);
  }
  return 0;
}

void MultiThreadCLammIdeal::SolveEquations() {
  auto& lammProgressPart = LammProgress();
  for (;;) {
    if (pStop->load() || bUserAbort) break;
    // The next equation not taken yet: a thread that gets less of the processor
    // solves fewer.
    const int i = pNextEquation->fetch_add(1, std::memory_order_relaxed) + 1;
    if (i > nEquations) break;
    if (gEquationStartHook) gEquationStartHook(i);
    char text[160];
    std::snprintf(text, sizeof text,
                  "\nstarting new debugging session for Lamm equation #%d (s = %.4f S, D = %.3f F)",
                  i, pS[i], pD[i] * 1e7);
    Log(text);
    int status = 0;
    bool aborted = false;
    try {
      auto lamm = std::make_unique<CLammIdeal>();
      lamm->CopySetup(*pTemplate);
      lamm->pWorkArrayPool = &workArrays_;
      lamm->bInWorkerThread = true;
      lamm->bListInUiThread = bPollKeys;
      lamm->nEquation = i;
      lamm->nThread = nThread;
      lamm->SetSpeciesAndOutput(pS[i], pD[i], pppOut[i], pOutRadii, nOutRadii, ppScanRadii,
                                pnScanPoints);
      lamm->SetSolventConditions(pTemplate->fTemperature, pVbar ? pVbar[i] : pTemplate->fVbar,
                                 pTemplate->fDensity, pTemplate->fViscosity);
      lamm->bQuietMessages = bGather;
      lamm->pOutputSums = ppSums ? ppSums[i] : nullptr;
      status = lamm->Solve();
      aborted = lamm->bAborted;
      if (bGather && (status == 2 || status == 3) && !aborted) {
        const std::vector<std::string>& messages = lamm->Messages();
        vGathered.push_back({i, status, messages.empty() ? std::string() : messages.front()});
        status = 0;
      } else if (bGather) {
        // Any other failure is reported as without gathering.
        for (const std::string& message : lamm->Messages()) RaiseError(message);
      }
    } catch (const std::exception& e) {
      // A fatal error of the numerical library (an allocation) ends this equation.
      RaiseError(e.what());
      status = 1;
    }
    // A failure is the list's, not the user's: the interrupt flag stays as it was.
    if (status > 0) Fail(status, i);
    if (aborted) bUserAbort = true;
    // An equation an interrupt ended is not done.
    if (!aborted) ++lammProgressPart.nLammEquationsDone;
    Log(" -> OK");
    // Solving in the user-interface thread (no worker could be started): the
    // keyboard is polled between equations.
    if (bPollKeys && !bUserAbort && CheckKeyPress()) bUserAbort = true;
  }
}

std::string LammListProgressText(int done, int count) {
  char text[96];
  std::snprintf(text, sizeof text, "solving Lamm equations... %d of %d done       ", done, count);
  return text;
}

int CLRunMTList(CLammIdeal* tmpl, int count, const double* s, const double* D, const double* vbar,
                float*** out, const float* outRadii, int nRadii, float* const* scanRadii,
                const int* scanCounts, std::vector<ListFailure>* gathered,
                ProfileSums* const* sums) {
  // A thread count below 1 is one thread; threads beyond the list would have nothing
  // to do.
  const int N = std::clamp(LammGlobals().nLammThreads, 1, std::max(1, count));
  std::vector<int> errorCodes(N + 1, 0), errorIndex(N + 1, 0);
  const bool inUiThread = !tmpl->bInWorkerThread;
  if (tmpl->bDebugLog) tmpl->DebugLog("\nStarting CLRunMTList");
  const bool showProgress =
      tmpl->pDisplay && inUiThread && !tmpl->bNoProgressText && !tmpl->bNoProgressText2;
  if (showProgress) {
    const ProgressEvent stage{ProgressKind::Stage, "solving Lamm equations...       "};
    ReportProgress(stage);
    tmpl->pDisplay->ShowText(10, 30, stage.text);
  }
  LammProgress().nLammEquationsDone = 0;
  // How far the list has got, written again whenever more equations are done.
  int shownDone = 0;
  const auto showDone = [&] {
    const int done = LammProgress().nLammEquationsDone.load();
    if (!showProgress || done == shownDone) return;
    shownDone = done;
    const ProgressEvent kernels{ProgressKind::KernelsDone, LammListProgressText(done, count), done, count};
    ReportProgress(kernels);
    tmpl->pDisplay->ShowText(10, 30, kernels.text);
  };
  std::vector<std::unique_ptr<MultiThreadCLammIdeal>> workers;
  for (int k = 0; k <= N; ++k) workers.push_back(std::make_unique<MultiThreadCLammIdeal>());
  std::atomic<int> nextEquation{0};
  std::atomic<bool> stop{false};
  for (int k = 1; k <= N; ++k) {
    workers[k]->ShareEquations(&nextEquation, &stop);
    workers[k]->SetThreadNumber(k, N);
    workers[k]->SetJob(tmpl, count, s, D, vbar, out, outRadii, nRadii, scanRadii, scanCounts);
    workers[k]->SetErrorSlots(errorCodes.data(), errorIndex.data());
    workers[k]->bGather = gathered != nullptr;
    workers[k]->ppSums = sums;
  }
  {
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;  // threads started and not yet finished (with mutex)
    std::vector<std::thread> threads;
    // Every way out of this block, an exception of the poll included, stops the
    // workers before their next equation and joins them before what they share goes.
    struct JoinAll {
      std::atomic<bool>& stop;
      std::vector<std::thread>& threads;
      ~JoinAll() {
        stop = true;
        for (std::thread& t : threads)
          if (t.joinable()) t.join();
      }
    } joinAll{stop, threads};
    // Only the threads that started count: they share all the equations between them.
    threads.reserve(static_cast<std::size_t>(N));
    for (int k = 1; k <= N; ++k) {
      MultiThreadCLammIdeal* w = workers[k].get();
      {
        std::lock_guard<std::mutex> lock(mutex);
        ++running;
      }
      std::thread t;
      const bool started = StartAnalysisThread(&t, [w, &running, &mutex, &finished] {
        w->Run();
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
      });
      if (!started) {
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        break;
      }
      threads.push_back(std::move(t));
    }
    if (threads.empty()) {
      // No thread could be started: the calling thread solves the list itself,
      // reading the keyboard inside every solution as between them, and reports
      // as the workers do, once the list is done.
      ScopedWorkerErrors kept;
      workers[1]->bPollKeys = inUiThread;
      workers[1]->Run();
    }
    // Wait for the workers, polling the keyboard in the user-interface thread.
    std::unique_lock<std::mutex> lock(mutex);
    while (running > 0) {
      finished.wait_for(lock, std::chrono::milliseconds(20));
      if (running > 0 && inUiThread && !bUserAbort) {
        lock.unlock();
        if (CheckKeyPress()) bUserAbort = true;
        if (!bUserAbort) showDone();
        lock.lock();
      }
    }
  }
  if (!bUserAbort) showDone();
  if (gathered) {
    for (int k = 1; k <= N; ++k)
      gathered->insert(gathered->end(), workers[k]->vGathered.begin(), workers[k]->vGathered.end());
    std::sort(gathered->begin(), gathered->end(),
              [](const ListFailure& a, const ListFailure& b) { return a.equation < b.equation; });
  }
  int result = 0;
  for (int k = 1; k <= N; ++k) {
    // The highest-numbered failed thread's status, unless an earlier one ended the list.
    if (errorCodes[k] > 0 && (EndsTheList(errorCodes[k]) || !EndsTheList(result)))
      result = errorCodes[k];
  }
  // The failure is the list's, whichever threads met it: one box after the join,
  // from the calling thread, with the messages of the solutions (each text once)
  // and the first equation that failed so.
  std::string failure;
  if (result > 0) {
    int equation = 0;
    for (int k = 1; k <= N; ++k)
      if (errorCodes[k] == result && (equation == 0 || errorIndex[k] < equation)) equation = errorIndex[k];
    char text[80];
    std::snprintf(text, sizeof text, "error #%d in simulation #%d", result, equation);
    failure = text;
  }
  if (inUiThread) {
    std::vector<std::string> lines;
    for (std::string& message : TakeWorkerErrors())
      if (std::find(lines.begin(), lines.end(), message) == lines.end()) lines.push_back(std::move(message));
    if (!failure.empty()) lines.push_back(failure);
    std::string box;
    for (const std::string& line : lines) box += (box.empty() ? "" : "\n") + line;
    if (!box.empty()) RaiseError(box);
  } else if (!failure.empty()) {
    RaiseError(failure);
  }
  if (tmpl->bDebugLog) tmpl->DebugLog(", all done , and deleted. ");
  return result;
}

}  // namespace tarmic
