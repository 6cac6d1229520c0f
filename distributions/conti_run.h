// One continuous-distribution analysis of the loaded scans: the checks of data and
// geometry, the grid, the kernels (one Lamm equation solution per grid point), the
// normal equations with the systematic noise eliminated, the regularised
// non-negative solve, and the result (noise, fit, distribution vectors, plot).
//
// Everything runs in the user-interface thread; only the kernel solutions and the
// normal equations are spread over worker threads, which the steps start and join
// themselves. A key press during the kernels, the normal equations or the
// non-negative least squares of the solve (bUserAbort) ends the run without a
// result; one during the maximum-entropy search ends the search at its best point. A run that ends without a result, by
// an interrupt, a refusal or a failure anywhere, leaves the last result on show as
// it was: distribution, grid and plot, fit rows, residuals and noise, and
// bModelComputed (inner runs of a refinement leave that to the refinement).
#pragma once

#include "numerics/analysis.h"

#include <memory>
#include <string>

#include "distributions/conti_run_settings.h"
#include "distributions/run_message.h"

namespace tarmic {

class Window;
class SetAsideDistribution;

// --- run switches (bSyntheticFromDistribution: distribution_kernels.h) ---
// The c(s,ff0) kernels and normal equations must be recomputed.
// A progress line is drawn during the normal equations (default on).
// The normal equations and the solution are written to diagnostic files.
// The window is repainted after a run (fits clear it while they run; on at start).

// Set by a nonlinear refinement before an inner run whose parameters are those of
// the kernels and normal equations in place: the run solves them again without
// recomputing them (every kernel depends on the refined parameters, the equations
// only on the kernels and the data).

// How a run ended.
enum class ContiRunOutcome {
  Computed,     // a new result is in place (bModelComputed is set)
  NotStarted,   // nothing to do or a check refused the run (message shown)
  Interrupted,  // a key stopped the kernels, the normal equations or the solve
  Failed,       // the solve failed (reported); no new result
};

// The state of this module in an analysis (numerics/analysis.h).
struct ContiRunState {
  bool bRebuildKernels = true;
  bool bShowProgressLine = true;
  bool bDumpNormalEquations = false;
  bool bRedrawModel = true;
  bool bInnerRunKernelsCurrent = false;
  ContiRunOutcome eLastContiRunOutcome = ContiRunOutcome::NotStarted;
};
inline ContiRunState& ContiRun() { return CurrentPart<ContiRunState>(); }
// How a run ended and the box it has for the user (shown by the caller: the Run
// command, or ShowRunMessage for the inner runs of other computations).
struct ContiRunResult {
  ContiRunOutcome outcome = ContiRunOutcome::NotStarted;
  RunMessage message;
  bool operator==(ContiRunOutcome o) const { return outcome == o; }
};

// The outcome of the last RunContiSed.


// The result on show when a run starts, kept for a run that ends without one (a
// refusal, a question declined, a failed kernel, equations or solve, memory that
// could not be had, an interrupt): the distribution with its grid and plot and what
// the plot shows. The fit rows, the noise and the residuals change only when a run
// has a result; the distribution is set aside when the run builds its grid (its
// vectors as one object, gDistributionVectors swapped whole, with its plot). Inner
// runs and synthetic data keep nothing: their caller owns the result. Monte Carlo
// and the light-scattering time course, which build the grid of their runs
// themselves, keep the result with it as well.
class LastContiResult {
 public:
  LastContiResult();
  // Puts the result back unless Replaced: also on a way out not foreseen.
  ~LastContiResult();
  LastContiResult(const LastContiResult&) = delete;
  LastContiResult& operator=(const LastContiResult&) = delete;

  // Before the grid set-up releases the distribution on show.
  void SetAside();
  // The run has its result: what was set aside is freed.
  void Replaced();
  // The run ends without a result: the result is shown again.
  void PutBack();
  bool Active() const { return active_; }

 private:
  bool active_;
  bool transformed_, rhTransformed_, mofsTableRun_;
  std::unique_ptr<SetAsideDistribution> aside_;
};

// Runs one analysis for the current model on the loaded data (the models of
// KernelModelAvailable, distribution_kernels.h; others are refused with a message). window is the main
// window (progress text, repaint; the questions of the grid set-up); null runs
// without drawing. Returns the outcome (also kept in eLastContiRunOutcome) with the
// message that ended the run, which the caller shows: a refusal, a failed kernel,
// or for a key in any phase the note of StoppedRunText (run_message.h), which says
// whether the result on show is the earlier one (inner runs have none: their
// caller reports the interruption). Warnings after which the run goes on are shown
// when met.
ContiRunResult RunContiSed(Window* window);

// The DLS distributions need field correlations g(1). With intensity correlations
// g(2) - 1 loaded, asks "DLS data for this model must be field autocorrelation g(1)
// - transform?" (caption "ERROR") of answers; Yes converts every function (signed
// square roots) and rebuilds the plots. False when the data are not g(1) afterwards
// (No; inner runs and batch mode ask nothing). True for any other data.
bool EnsureFieldCorrelationData(Window* window, const AnswerPolicy& answers);

// The ls-g*(s) models on sedimentation-equilibrium data: the warning "not
// implemented for sed eq data" (exclamation icon, empty caption, none in batch
// mode); the analysis goes on with equilibrium kernels. Nothing for other models
// or data. A run warns outside inner runs, a refinement once when it starts.
void WarnLsgOnEquilibriumData();

// With the first kernel fixed (bFixedFirstKernel) the equations have the unknowns of
// grid points 2..N. For the life of this object the prior of point 1 is set aside
// (the prior of points 2..N stands at 1..N-1); PlaceFixedAmplitude moves a solution
// of the reduced system to points 2..N and puts the fixed amplitude at point 1 (also
// into pDistSolution2 when second is set). Nothing without a fixed first kernel.
class FixedFirstKernelShift {
 public:
  FixedFirstKernelShift();
  ~FixedFirstKernelShift();
  FixedFirstKernelShift(const FixedFirstKernelShift&) = delete;
  FixedFirstKernelShift& operator=(const FixedFirstKernelShift&) = delete;
  void PlaceFixedAmplitude(bool second) const;

 private:
  bool active_;
  double prior1_ = 0.0;
};

// The regularised solve of the current normal equations as a run makes it (by the
// settings: maximum entropy, Tikhonov-Phillips, or both, the Tikhonov-Phillips
// result then in pDistSolution2) into pDistSolution; false when there is none.
bool SolveContiDistribution(const ContiRunSettings& settings);

// The result of a solve in pDistSolution turned into what the user sees: noise and
// fit of every scan, the distribution vectors and their derived arrays, release of
// kernels and workspace (kept for c(s,ff0)), bModelComputed, plot and repaint.
void FinishContiResult(Window* window);

// The solution pDistSolution as distribution values pDistValues (and pDistValues2
// with both regularisations shown; the c(s,ff0) cells into pCsff0Values and their
// sum over f/f0 into pDistValues), before normalisation.
void CopySolutionToDistribution(bool showBoth);
// The solution of the last solve as pDistValues (c(s,ff0): the cell values in
// pCsff0Values and their projection on s); the second curve is left alone.
void SolutionToDistributionValues();

// Whether the c(s,ff0) kernels must be rebuilt (sets bRebuildKernels): always
// outside the c(s,ff0) models and in inner runs; otherwise unless grid settings,
// data, kernel array and workspace are all as the last build left them.
bool CheckCsff0KernelReuse();

// Restores every value of this file to its default.
void ResetContiRun();

}  // namespace tarmic
