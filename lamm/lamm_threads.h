// Lists of Lamm equations solved on worker threads.
//
// A continuous distribution needs one solution per grid point, each with its own
// s and D and the same cell, rotor, scans and numerics. CLRunMTList starts
// nLammThreads workers, each of which takes the next equation not taken yet (a
// shared counter, so that a worker that gets less of the processor on a loaded
// machine solves fewer, and a worker the system could not start solves none: the
// list counts only the threads that started, and with none the calling thread
// solves it); every equation is solved by a fresh CLammIdeal copied from
// one fully set-up template, so the workers share nothing mutable except the counter,
// their own output rows and the interrupt flag bUserAbort, and the solutions do not
// depend on which worker solved them.
// A worker never touches the window system: its messages are kept and shown by
// the calling thread after the join, and its progress is counted in an atomic that
// the caller may read.
#pragma once

#include "numerics/analysis.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "lamm/lamm_ideal.h"

namespace tarmic {

// An equation of a list that could not be solved while the list went on
// (CLRunMTList with gathered): its number, its status and its reason.
struct ListFailure {
  int equation = 0;
  int status = 0;
  std::string reason;
};

// The state of this module in an analysis (numerics/analysis.h).
struct LammProgressState {
  // Equations finished, solved or failed, by the running CLRunMTList (reset at its
  // start); not those an interrupt ended.
  std::atomic<int> nLammEquationsDone{0};
};
// The current analysis' LammProgressState.
inline LammProgressState& LammProgress() { return CurrentPart<LammProgressState>(); }
// The readout of a list that shows its progress: "solving Lamm equations... done
// of count done", written at (10, 30) whenever more equations are done.
std::string LammListProgressText(int done, int count);

// For tests: called with an equation's number by the thread that took it from a
// list, before that thread solves it (a worker thread, or the interface thread
// when no worker started); empty: nothing. Set it only while no list runs.
void SetLammEquationStartHook(std::function<void(int equation)> hook);

class MultiThreadCLammIdeal {
 public:
  MultiThreadCLammIdeal() = default;
  ~MultiThreadCLammIdeal();
  MultiThreadCLammIdeal(const MultiThreadCLammIdeal&) = delete;
  MultiThreadCLammIdeal& operator=(const MultiThreadCLammIdeal&) = delete;

  // Thread number k (1..N) of the threadCount threads of a list.
  void SetThreadNumber(int k, int threadCount);
  void SetJob(const CLammIdeal* tmpl, int count, const double* s, const double* D,
              const double* vbar, float*** out, const float* outRadii, int nRadii,
              float* const* scanRadii, const int* scanCounts);
  void SetErrorSlots(int* codes, int* indices);
  // The counter of equations taken and the stop of the list, shared by its threads.
  void ShareEquations(std::atomic<int>* next, std::atomic<bool>* stop) {
    pNextEquation = next;
    pStop = stop;
  }
  // The thread body: takes the next equation not taken yet and solves it while the
  // list is not stopped and the interrupt flag is clear. A failed equation is kept
  // in this thread's error slots (its first failure, or the first that ends the
  // list); memory that could not be had or a refused set-up (statuses 1, 4 and
  // above) stops the list, a discretization error or a singular matrix (2, 3) keeps
  // the retried solution and the thread goes on. A failure never sets the interrupt
  // flag. Returns 0 (at once without a shared counter and stop); never throws.
  int Run();

  int nThread = 0;
  int nThreadCount = 1;
  int* pErrorCodes = nullptr;  // 1..N: status of each thread's failed equation (0 none)
  int* pErrorIndex = nullptr;  // 1..N: number of that equation
  const CLammIdeal* pTemplate = nullptr;
  int nEquations = 0;
  const double* pS = nullptr;     // 1-based s, S
  const double* pD = nullptr;     // 1-based D, cm^2/s
  const double* pVbar = nullptr;  // 1-based vbar, or null (the template's)
  float*** pppOut = nullptr;      // per equation: output profiles [scan][point]
  const float* pOutRadii = nullptr;
  int nOutRadii = 0;
  float* const* ppScanRadii = nullptr;
  const int* pnScanPoints = nullptr;
  std::atomic<int>* pNextEquation = nullptr;  // equations taken so far, or null
  std::atomic<bool>* pStop = nullptr;         // set when a failure ends the list
  ProfileSums* const* ppSums = nullptr;       // per equation: sums of its output, or null
  bool bGather = false;                       // failures that do not end the list are kept:
  std::vector<ListFailure> vGathered;         // this thread's, in the order it met them
  bool bPollKeys = false;  // runs in the user-interface thread: polls between equations too
  std::string szLogText;
  std::string szLogFile;
  bool bLogCreated = false;
  bool bThreadZero = false;

 private:
  void Log(const std::string& text);
  void SolveEquations();
  void Fail(int status, int equation);

  // The work arrays of this worker's solvers, handed from one equation's to the next.
  LammWorkArrayPool workArrays_;
};

// Solves equations 1..count with s[i], D[i] (and vbar[i] when vbar is given) into
// out[i][scan][point] on the template's output radii (or the per-scan radii). Returns
// 0 when every equation succeeded, else the status of the highest-numbered thread
// that failed (one that ended the list before one that did not). The list reports
// in one box, after the join: the messages of its solutions, each text once, and
// "error #%d in simulation #%d" with that status and the first equation that failed
// with it. A key stops it also when no worker could be started and the calling
// thread solves the equations itself: the solutions read the keyboard then.
// Equations left unsolved by a failure that ended the list, or by an interrupt,
// keep their output rows untouched.
//
// With gathered, an equation that could not be solved while the list goes on (a
// discretisation error, the balance lost also on the refined grids, or a singular
// matrix: statuses 2 and 3) is neither boxed nor counted in the status: it is
// added to *gathered with its reason (its first message), in the order of the
// equations, for the caller to report once.
//
// With sums, sums[i] (when not null) is told of every output row equation i writes
// (CLammIdeal::pOutputSums), in the worker that solves it.
int CLRunMTList(CLammIdeal* tmpl, int count, const double* s, const double* D, const double* vbar,
                float*** out, const float* outRadii, int nRadii, float* const* scanRadii,
                const int* scanCounts, std::vector<ListFailure>* gathered = nullptr,
                ProfileSums* const* sums = nullptr);

}  // namespace tarmic
