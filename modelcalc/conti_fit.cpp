// The refinement of continuous-distribution models: objective, the three drivers,
// the final regularised evaluation and the save of the result.
#include "modelcalc/conti_fit.h"
#include "numerics/analysis.h"

#include <cstddef>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "distributions/conti_grid_setup.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_storage.h"
#include "distributions/noise_fit.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"
#include "lamm/lamm_window_display.h"
#include "modelcalc/boundary_simplex_status.h"
#include "modelcalc/conti_fit_params.h"
#include "modelcalc/conti_fit_status.h"
#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_grid_check.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/marquardt.h"
#include "modelcalc/model_steps.h"
#include "modelcalc/simplex.h"
#include "modelcalc/simulation_messages.h"
#include "modelcalc/surface_search.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "services/error_box.h"
#include "numerics/random.h"
#include "services/run_switches.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

class Refinement;

// This module's own state in the analysis.
struct LocalState {
  // The last evaluation of ContiSimplexSim was stopped by a key (its run interrupted,
  // or a key the run took as it ended): it has no result.
bool g_evaluationStopped = false;
  // The vector whose kernels and normal equations are in place (none unless the
  // last inner run was computed).
std::optional<std::vector<float>> g_kernelVector{};
  // The evaluations of the last surface search, before its end checks.
int g_searchEvaluations = 0;
  // Called by MLFit after every converging pass of the refinement g_mlFit.
Refinement* g_mlFit = nullptr;
};
LocalState& Local() { return CurrentPart<LocalState>(); }


std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// A refinement step whose Run was not computed: the searches never take it as a
// point (the Marquardt-Levenberg target reads it as refused).
constexpr float kNoResult = kNoModelRmsd;
// Relative perturbation of the simplex vertices (times the entry's scale) and the
// tolerance of each Nelder-Mead call.
constexpr float kContiSimplexPerturbation = 0.1f;
constexpr float kContiSimplexFtol = 0.005f;
// The surface search's evaluations at most, in multiples of its surface's coefficients.
constexpr int kSurfaceSearchRounds = 3;


void ForgetKernels() { Local().g_kernelVector.reset(); }
// The last evaluation computed q's model (the applied values), on the equations of
// every point: the model in place is q's.
bool ComputedLastAt(const std::vector<float>& q) { return Local().g_kernelVector && *Local().g_kernelVector == q; }

float Evaluate(const float* p, Window* window, const ContiRunFunction& runner,
               RefusedTrials* refused);

// The kernel array and workspace of the grid exist (a failed or interrupted run
// releases them); they are made again otherwise. A failure is shown when met: the
// search goes on (every later evaluation gives no result).
bool EnsureGrid() {
  auto& distributionStoragePart = DistributionStorage();
  if (distributionStoragePart.pppKernels && distributionStoragePart.ppNormalMatrix && distributionStoragePart.pDistSolution) return true;
  ForgetKernels();
  std::string failure;
  if (SetupContiGrid(GetContiRunSettings().answers, &failure)) return true;
  ShowRunMessage(ErrorBoxMessage(std::move(failure)));
  return false;
}

void ShowStatus(Window* window, int y, ProgressKind kind, const std::string& text) {
  if (!window || bBatchMode) return;
  ReportProgress({kind, text});
  LammWindowDisplay(*window).ShowText(10, y, text);
}

// The two lines of the objective at (10, 30) and (10, 50).
void ShowEvaluationStatus(Window* window) {
  auto& marquardtPart = Marquardt();
  if (!window || bBatchMode) return;
  std::string rmsd = Format("testrmsd=%e             ", static_cast<double>(Rmsd().fFitRmsd));
  if (FitState().eFitSearch == FitSearch::Marquardt)
    rmsd = Format("testrmsd=%f (n=%.0f,lamda=%.1e)     ", marquardtPart.fMLRmsd, marquardtPart.fMLPoints, marquardtPart.fMLLambda);
  ShowStatus(window, 30, ProgressKind::FitStep, ContiStatusLines()[0]);
  ShowStatus(window, 50, ProgressKind::Detail, rmsd);
}

// The state every refinement sets while it runs and restores on every way out:
// the redraw switch, the running-fit mark and the search of the status line.
class Refinement {
 public:
  // A failed parameter save of the refinement goes into report (the first one).
  // runner computes the distribution of each point (empty: RunContiSed).
  Refinement(Window* window, FitSearch search, FitReport& report, const ContiRunFunction& runner)
      : window_(window), redraw_(ContiRun().bRedrawModel), report_(report), runner_(runner) {
    DistributionModels().bFinalFitEvaluation = false;
    ContiRun().bRedrawModel = false;
    FitState().eFitSearch = search;
    report_.converged = false;
    ForgetFitEndFindings(report_);
    ForgetKernels();
  }
  ~Refinement() {
    report_.refused.Add(refused_);
    SimulationMessages().bFitRunning = false;
    EndFitCounters();
    ContiRun().bRedrawModel = redraw_;
    ForgetKernels();
  }
  Refinement(const Refinement&) = delete;
  Refinement& operator=(const Refinement&) = delete;

  // Prerequisites, grid and the running-fit state; false when the fit cannot start.
  bool Start() {
    auto& simulationMessagesPart = SimulationMessages();
    if (!KernelModelAvailable() || !CheckFitPrerequisites(window_)) return false;
    WarnLsgOnEquilibriumData();
    // The inner runs of the search ask no question: DLS data are made g(1) first.
    const AnswerPolicy answers = GetContiRunSettings().answers;
    if (!EnsureFieldCorrelationData(window_, answers)) return false;
    UnpackModelParams();
    std::string failure;
    if (!SetupContiGrid(answers, &failure)) {
      report_.message = ErrorBoxMessage(std::move(failure));
      return false;
    }
    simulationMessagesPart.bFitRunning = true;
    simulationMessagesPart.bDiscretizationShown = false;
    FitState().bFitInterrupted = false;
    StartFitCounters();
    n_ = GetContiParams(0, nullptr);
    std::vector<float> start(Idx(n_) + 1, 0.0f);
    GetContiParams(n_, start.data());
    // The start, the state on show, is the best point from the first evaluation on.
    best_ = start;
    bestRmsd_ = FitOfLoadedData() ? FitRmsd() : kNoResult;
    guard_ = TrialPointGuard(std::move(start));
    return true;
  }

  // After the search: takes the interrupt (the grid, released by an interrupted run,
  // is made again) and evaluates p once with regularisation. Returns the outcome of
  // the refinement; the result is shown and, for the c(s) family, saved.
  FitOutcome Finish(const float* p, bool alsoInterrupted = false) {
    auto& contiRunPart = ContiRun();
    auto& fitStatePart = FitState();
    auto& localPart = Local();
    const bool interrupted = fitStatePart.bFitInterrupted || alsoInterrupted;
    // A stopped refinement ends at the best point it evaluated, never worse than its start.
    if (interrupted && !best_.empty()) p = best_.data();
    fitStatePart.bFitInterrupted = false;
    bUserAbort = false;
    // An interrupted fit also stops the realtime update and asks a series to stop.
    if (interrupted) bStopRealtimeUpdate = bSeriesInterrupted = true;
    if (interrupted) ForgetKernels();
    SimulationMessages().bFitRunning = false;
    DistributionModels().bFinalFitEvaluation = true;
    localPart.g_evaluationStopped = false;
    const bool computed = EnsureGrid() && Evaluate(p, window_, runner_, nullptr) < kNoResult &&
                          contiRunPart.eLastContiRunOutcome == ContiRunOutcome::Computed;
    // A key pressed after the final evaluation does not undo the search.
    fitStatePart.bFitInterrupted = false;
    contiRunPart.bRedrawModel = redraw_;
    if (!computed) {
      // The best parameters stay set; nothing of the refinement's trials (their fit
      // rows, the grid's empty distribution) is shown as their result.
      ClearDistribution();
      ZeroFitRows(1);
      AnalysisSwitches().bModelComputed = false;
      RepaintMain(window_);
      // A key that stopped the final evaluation: the command says so.
      if (localPart.g_evaluationStopped) {
        bStopRealtimeUpdate = bSeriesInterrupted = true;
        report_.stoppedBeforeResult = true;
        return FitOutcome::Interrupted;
      }
      return FitOutcome::Failed;
    }
    DisplayBestContiParams(window_);
    FinishContiResult(window_);
    RepaintMain(window_);
    if (ContiSaveAfterFit()) Save();
    return interrupted ? FitOutcome::Interrupted : FitOutcome::Completed;
  }

  // Saves the parameters as they stand (checkpoints and the end of the refinement).
  void Save() { report_.saved.Add(TmpSaveBestParams(window_, false)); }
  Window* window() const { return window_; }
  // The objective of the refinement's searches: the trial points without a result
  // are counted in the refinement's own tally; a point its guard refuses (a value no
  // number, or absurdly far from the start) has none and is not computed.
  float operator()(const float* p) {
    if (!guard_.Admits(p, n_)) return kNoResult;
    const float y = Evaluate(p, window_, runner_, &refused_);
    evaluated_.Add(p, n_, y);
    if (y < bestRmsd_ && !Local().g_evaluationStopped) {
      bestRmsd_ = y;
      best_.assign(p, p + n_ + 1);
    }
    return y;
  }
  const RefusedTrials& Refused() const { return refused_; }
  // Every point evaluated with a result, for the restarts' surface.
  const EvaluatedPoints& Evaluated() const { return evaluated_; }

 private:
  Window* window_;
  bool redraw_;
  FitReport& report_;
  ContiRunFunction runner_;
  RefusedTrials refused_;
  EvaluatedPoints evaluated_;
  int n_ = 0;  // length of the refinement's vector
  TrialPointGuard guard_;
  std::vector<float> best_;
  float bestRmsd_ = kNoResult;
  // Each message of the kernel computations is shown once per refinement.
  ScopedErrorsOnce errorsOnce_;
};


// Nothing is floated: the analysis is run once as by the Run command; its message
// goes to the command with the report.
FitOutcome RunOnce(Window* window, FitReport& report) {
  auto& distributionModelsPart = DistributionModels();
  distributionModelsPart.bContiInnerRun = false;
  distributionModelsPart.bFinalFitEvaluation = true;
  ContiRunResult run = RunContiSed(window);
  report.message = std::move(run.message);
  const ContiRunOutcome outcome = run.outcome;
  if (outcome == ContiRunOutcome::Computed) return NothingFloated(report);
  // The run's own note says that it was stopped and what is on show.
  if (outcome == ContiRunOutcome::Interrupted) {
    report.stoppedBeforeResult = true;
    return FitOutcome::Interrupted;
  }
  return outcome == ContiRunOutcome::NotStarted ? FitOutcome::NotStarted : FitOutcome::Failed;
}

// Vertices j = 2..n+1 (all but keep) around vertex keep: entry i moved by a Gaussian
// of width scale_i x 0.1 x its value (an entry of value 0 stays), then evaluated.
// A restart is sized by the extent of the pass before (RestartNear).
void PerturbAround(SimplexSet& s, int keep, Refinement& fit, bool evaluateKeep,
                   const std::vector<float>& extent = {}) {
  const int n = s.n;
  for (int j = 1; j <= n + 1; ++j) {
    if (j == keep) continue;
    for (int i = 1; i <= n; ++i) {
      const float v = s.p[Idx(keep)][Idx(i)];
      s.p[Idx(j)][Idx(i)] = v + GaussianRandom(ContiSimplexStepScale(i) * kContiSimplexPerturbation * v);
    }
  }
  if (!extent.empty()) RestartNear(s, keep, extent);
  for (int j = n + 1; j >= 1; --j)
    if (j != keep || evaluateKeep) s.y[Idx(j)] = fit(s.p[Idx(j)].data());
}

SimplexObjective Objective(Refinement& fit) { return std::ref(fit); }
// The status of a boundary analysis is its own step count and rmsd.
SimplexProgress Display(Window* window) {
  return [window](const float* p, float) {
    if (ModelFlags().bBoundaryAnalysis)
      ShowSimplexStep(window);
    else
      ContiSimplexDisplay(window, p);
  };
}

// The values as applied (bounds included) of p[1..n].
std::vector<float> Applied(const float* p, int n) {
  ApplyContiParams(p);
  std::vector<float> q(Idx(n) + 1, 0.0f);
  GetContiParams(n, q.data());
  return q;
}
std::vector<float> Applied(const SimplexSet& s, int j) { return Applied(s.p[Idx(j)].data(), s.n); }

// The steps from the end q of the cycles (fit_end_check.h), each from the lower point
// the one before found, until one finds none (q then holds the end) or their rounds
// are spent (the report says so).
void EndStepFrom(Refinement& fit, std::vector<float>& q, FitReport& report) {
  const int n = static_cast<int>(q.size()) - 1;
  std::vector<FitBounds> bounds(Idx(n) + 1);
  GetContiParamBounds(n, bounds.data());
  FitPointsTarget target(Objective(fit));
  // The differences take the steps of the values' Marquardt derivatives: a meniscus
  // or bottom moves by a tenth of a millimetre at most, not by a thousandth of its
  // radius (tens of standard errors, across the narrowest boundaries).
  MLWorkSet w;
  w.n = n;
  w.derivFactor.assign(Idx(n) + 1, 0.0);
  w.derivStep.assign(Idx(n) + 1, 0.0);
  InitContiMLDerivativeFactors(w);
  const std::vector<double> steps = DerivativeSteps(w.derivFactor, w.derivStep, q.data(), n);
  // Each round starts from the model its step computed at the point it moved to.
  int rounds = 0;
  std::vector<double> atP;
  while (StepFromEnd(target, q, bounds, &steps, report, rounds, atP.empty() ? nullptr : &atP, false, &atP) ==
         EndCheck::GoesOn) {
  }
}

// The grid at the end q of a refinement (fit_grid_check.h): where its error exceeds
// the share of the noise the kernels are solved on the finer grid and the steps from
// the end go on there, until the grid holds or its rounds are spent.
// evaluatedHere: the last evaluation was q's (its model is in place).
// Where the check computes both grids it takes the finer first: the kernels and
// equations of q on the grid in force are then in place when the grid holds, and the
// final evaluation only solves them again with regularisation.
void SettleGrid(Refinement& fit, std::vector<float>& q, FitReport& report, bool evaluatedHere = false) {
  int rounds = 0;
  for (;;) {
    GridError measured;
    const GridVerdict verdict = CheckGridAtEnd(
        [&] {
          ForgetKernels();
          return fit(q.data()) < kNoResult;
        },
        evaluatedHere, report, rounds, GridLimit::NoiseShare, GridOnShow::InForce, &measured);
    evaluatedHere = false;
    // Kernels of the finer grid, or of a grid no longer in force, are not q's.
    if (verdict != GridVerdict::Holds || !measured.inForceOnShow) ForgetKernels();
    if (verdict != GridVerdict::GoesOn) return;
    EndStepFrom(fit, q, report);
  }
}

// The surface search (surface_search.h) of one to three values: a design round the
// start of each entry's simplex perturbation, trust-region steps on the quadratic
// through the evaluated points, points bracketing its minimum and the minimum
// itself. A minimum the surface placed among bracketing points is itself the local
// test of the end, as for the cycles (a quadratic model of the objective from
// evaluations about the end); a search that spent its kSurfaceSearchRounds x coefficients evaluations
// without placing it ends at its point of the lowest surface value by the steps from
// the end. Both then settle the grid (from the last evaluation when that computed the
// end on every point).
FitOutcome SurfaceRefinement(Window* window, FitReport& report, const ContiRunFunction& runner) {
  auto& fitStatePart = FitState();
  const int n = GetContiParams(0, nullptr);
  Refinement fit(window, FitSearch::Simplex, report, runner);
  if (!fit.Start()) return FitOutcome::NotStarted;
  fitStatePart.fStartRmsd = fitStatePart.fBestRmsd = kNoResult;
  DisplayBestContiParams(window);
  std::vector<float> start(Idx(n) + 1, 0.0f);
  GetContiParams(n, start.data());
  std::vector<double> scale(Idx(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) {
    const double value = std::abs(static_cast<double>(start[Idx(i)]));
    scale[Idx(i)] = ContiSimplexStepScale(i) * kContiSimplexPerturbation * (value > 0.0 ? value : 1.0);
  }
  std::vector<FitBounds> bounds(Idx(n) + 1);
  GetContiParamBounds(n, bounds.data());
  const int q = (n + 1) * (n + 2) / 2;
  // The search's trial runs take the data binned radially (SearchRadialBin), the bin
  // chosen once from the kernels of its first evaluation (on every point). The end is
  // settled on every point: no trial run's equations are kept, and the grid check
  // computes the end anew.
  SurfaceSearchEnd end;
  int bin = 0;
  {
    struct BinnedSearch {
      ~BinnedSearch() { NormalEquations().iSearchRadialBin = 1; }
    } scope;
    const auto objective = [&bin, f = Objective(fit)](const float* p) {
      const float value = f(p);
      if (bin == 0) NormalEquations().iSearchRadialBin = bin = SearchRadialBin();
      return value;
    };
    end = SurfaceSearch(objective, start, scale, bounds, CountFitPoints(), kSurfaceSearchRounds * q,
                        [&] { return fitStatePart.bFitInterrupted; });
  }
  if (bin > 1) ForgetKernels();
  Local().g_searchEvaluations = end.evaluations;
  std::vector<float> q1 = Applied(end.point.data(), n);
  if (fit.Evaluated().Count() > 0) fitStatePart.fBestRmsd = fit.Evaluated().LowestValue();
  if (!fitStatePart.bFitInterrupted) {
    if (!end.placed) EndStepFrom(fit, q1, report);
    report.converged = !fitStatePart.bFitInterrupted;
  }
  if (report.converged) SettleGrid(fit, q1, report, ComputedLastAt(q1));
  return fit.Finish(q1.data());
}

// Repeated Nelder-Mead cycles around the best vertex until the surface through the
// evaluated points places the minimum (SurfacePlacesMinimum) or a cycle no longer
// lowers the rmsd (SimplexRestarts), at most kSimplexRestartLimit cycles after the
// first. Every pass also evaluates the points that surface proposes (SurfaceProposals).
// A surface that places the minimum with an evaluated point within a twentieth of a
// chi-square unit of it is itself the local test of the end (a quadratic model of
// the objective from evaluations about the end); an end found otherwise takes the
// steps from the end (EndStepFrom).
FitOutcome SimplexCycles(Window* window, FitReport& report, const ContiRunFunction& runner) {
  auto& fitStatePart = FitState();
  const int n = GetContiParams(0, nullptr);
  if (n == 0) return RunOnce(window, report);
  if (n <= kSurfaceSearchMostEntries) return SurfaceRefinement(window, report, runner);
  Refinement fit(window, FitSearch::Simplex, report, runner);
  if (!fit.Start()) return FitOutcome::NotStarted;
  fitStatePart.fStartRmsd = fitStatePart.fBestRmsd = kNoResult;
  DisplayBestContiParams(window);
  SimplexSet s(n);
  GetContiParams(n, s.p[1].data());
  PerturbAround(s, 1, fit, true);
  int nfunk = 0;
  // Every pass evaluates the minima the surface through the evaluated points
  // proposes, and ends as soon as that surface places the minimum.
  const long long points = CountFitPoints();
  SurfaceProposals proposals(fit.Evaluated(), points);
  const auto pass = [&](const SimplexTolerance& ftol) {
    if (amoeba(s, ftol, Objective(fit), nfunk, Display(window), proposals.AsProposal()) ==
        AmoebaEnd::EvaluationLimit)
      report.simplexNotConverged = true;
  };
  const auto placed = [&] { return SurfacePlacesMinimum(fit.Evaluated(), points); };
  const auto until = [&](float ftol) {
    return [&placed, ftol] { return placed() ? std::numeric_limits<float>::infinity() : ftol; };
  };
  pass(until(kContiSimplexFtol));
  int ilo = s.Lowest();
  std::vector<float> q = Applied(s, ilo);
  fitStatePart.fStartRmsd = fitStatePart.fBestRmsd = s.y[Idx(ilo)];
  SimplexRestarts restarts(points, kContiSimplexFtol, s.y[Idx(ilo)]);
  bool exhausted = false;
  bool byPlacement = placed();
  if (byPlacement) report.converged = !fitStatePart.bFitInterrupted;
  while (!report.converged && !fitStatePart.bFitInterrupted) {
    PerturbAround(s, ilo, fit, false, SimplexExtent(s, ilo));
    pass(until(restarts.Tolerance()));
    ilo = s.Lowest();
    q = Applied(s, ilo);
    if ((byPlacement = placed())) {
      report.converged = !fitStatePart.bFitInterrupted;
      break;
    }
    if (restarts.SurfaceSays(fit.Evaluated()) || restarts.Settled(s.y[Idx(ilo)])) {
      EndStepFrom(fit, q, report);
      report.converged = !fitStatePart.bFitInterrupted;
      break;
    }
    if ((exhausted = restarts.Exhausted())) break;
  }
  // The result is the point the surface through the evaluated points puts nearest its
  // minimum: the lowest value may be a scatter's. (An end the steps from the end
  // settled keeps the point they found.)
  if (report.converged && byPlacement) {
    const SurfaceVerdict surface = fit.Evaluated().Surface(points);
    if (surface.determined) {
      std::vector<float> nearest(Idx(n) + 1, 0.0f);
      fit.Evaluated().Point(surface.nearest, nearest.data());
      q = Applied(nearest.data(), n);
    }
  }
  if (report.converged && !fitStatePart.bFitInterrupted) SettleGrid(fit, q, report);
  // A simplex that settled beside trial points without a result did not converge:
  // the best fit may lie among them.
  for (int j = 1; j <= n + 1 && fit.Refused().count > 0; ++j)
    if (!(s.y[Idx(j)] < kNoResult)) report.converged = false;
  const FitOutcome outcome = fit.Finish(q.data());
  if (exhausted && outcome == FitOutcome::Completed && !report.message.errorBox)
    report.message = ErrorBoxMessage(Format(kSimplexRestartLimitText, kSimplexRestartLimit));
  return outcome;
}

void MLConvergingPass() {
  auto& localPart = Local();
  if (SearchSettings().bSaveBestParams && ContiSaveAfterFit()) localPart.g_mlFit->Save();
  DisplayBestContiParams(localPart.g_mlFit->window());
}

}  // namespace

bool ContiSaveAfterFit() {
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  const bool family = modelFlagsPart.bContiSModel || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsff0Model || modelFlagsPart.bCsff0OneDiscrete ||
                      modelFlagsPart.bCsScalingLaw || modelFlagsPart.bFMScalingLaw;
  const bool excluded = modelFlagsPart.bLsgModel || modelFlagsPart.bCsModel521 || modelFlagsPart.bCsInvariantD || modelFlagsPart.bCsMsTable || modelFlagsPart.bCsNonideal ||
                        modelFlagsPart.bCsConformationalChange || modelFlagsPart.bCsFloatingVbar || modelFlagsPart.bCsWormChain ||
                        modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCMPriorVbar ||
                        modelFlagsPart.bLsgOneDiscrete || dataSetPart.bDLSData || modelFlagsPart.bCvConstantD || dataSetPart.bEquilibriumMode;
  return family && !excluded;
}

namespace {

// The evaluation of the refinement at p; a trial point without a result is counted
// in refused (none: not counted).
float Evaluate(const float* p, Window* window, const ContiRunFunction& runner,
               RefusedTrials* refused) {
  if (FitState().bFitInterrupted) return kNoResult;
  WriteContiDebugLog("\nEntering ContiSimplexSim");
  ++FitState().nFitStep;
  ApplyContiParams(p);
  const int n = GetContiParams(0, nullptr);
  std::vector<float> applied(Idx(n) + 1, 0.0f);
  GetContiParams(n, applied.data());
  Regularization().dChiSquare = 1e10;
  ContiRunOutcome outcome = ContiRunOutcome::Failed;
  if (EnsureGrid()) {
    ContiRun().bInnerRunKernelsCurrent = Local().g_kernelVector && applied == *Local().g_kernelVector;
    DistributionModels().bContiInnerRun = true;
    if (ModelFlags().bZoneCentrifugation) DisplayBestContiParams(window);
    const ContiRunResult run = runner ? runner(window) : RunContiSed(window);
    outcome = run.outcome;
    ContiRun().bInnerRunKernelsCurrent = false;
    // A trial point without a result is gone round: its message is held and said
    // once after the fit; the final evaluation's is the result's own.
    const bool refusedTrial = !DistributionModels().bFinalFitEvaluation && (outcome == ContiRunOutcome::NotStarted ||
                                                       outcome == ContiRunOutcome::Failed);
    if (refusedTrial) {
      if (refused) refused->Add(run.message.text);
    } else {
      ShowRunMessage(run.message);
    }
    Local().g_kernelVector.reset();
    if (outcome == ContiRunOutcome::Computed) {
      Local().g_kernelVector.emplace(applied);
      WriteContiDebugLog("\n start CalculateppAFit in ContiSimplexSim");
      CalculateppAFit();
      WriteContiDebugLog(" --> done");
    }
    DistributionModels().bContiInnerRun = false;
  }
  Local().g_evaluationStopped = outcome == ContiRunOutcome::Interrupted;
  if (CheckKeyPress()) bUserAbort = true;
  if (bUserAbort || outcome == ContiRunOutcome::Interrupted) {
    bUserAbort = false;
    FitState().bFitInterrupted = true;
  }
  // The rmsd at the scans' own fit points: the chi-square of the equations is summed
  // over the common grid, whose interpolated points (often several per measured
  // point) carry less than the full noise.
  if (outcome != ContiRunOutcome::Computed) {
    Rmsd().fFitRmsd = kNoResult;
  } else if (FluorescenceDetection().bNonlinearDetection) {
    Rmsd().fFitRmsd = GetUntransformedRmsd();
  } else {
    FitRmsd();
  }
  ++FitState().nFitStep;
  ++FitState().nFitSim;
  WriteContiDebugLog("\n start info output  in ContiSimplexSim");
  ShowEvaluationStatus(window);
  WriteContiDebugLog("\nExit ContiSimplexSim");
  return Rmsd().fFitRmsd;
}

}  // namespace

float ContiSimplexSim(const float* p, Window* window) { return Evaluate(p, window, {}, nullptr); }

int ContiSearchEvaluations() { return Local().g_searchEvaluations; }

void ContiSimplexDisplay(Window* window, const float* p) {
  ApplyContiParams(p);
  DisplayBestContiParams(window);
}

FitOutcome ContiFit(Window* window, FitMethod method, FitReport& report,
                    const ContiRunFunction& runner) {
  StartFitOnSettingsGrid();
  const auto search = [&] {
    if (method == FitMethod::Annealing && SearchSettings().fAnnealTemp > 0.0f)
      return ContiAnnealingFit(window, report, runner);
    if (method == FitMethod::Marquardt) return MLContiFit(window, report, runner);
    if (method == FitMethod::Annealing && SearchSettings().bAnnealFinalML && SearchSettings().fAnnealTemp == 0.0f)
      return MLContiFit(window, report, runner);
    return SimplexCycles(window, report, runner);
  };
  const FitOutcome searched = search();
  if (searched == FitOutcome::Completed && !report.stoppedBeforeResult)
    NoteValuesAtBound(report, ContiValuesAtLimit());
  const FitOutcome outcome = NoteRefusedTrials(report, searched);
  report.searchConverged = report.converged;
  SayFitEnd(report, outcome);
  KeepLastFitEnd(outcome, report);
  return outcome;
}

FitOutcome ContiAnnealingFit(Window* window, FitReport& report, const ContiRunFunction& runner) {
  auto& rmsdPart = Rmsd();
  auto& fitStatePart = FitState();
  auto& searchSettingsPart = SearchSettings();
  auto& simplexPart = Simplex();
  const int n = GetContiParams(0, nullptr);
  if (n == 0) return RunOnce(window, report);
  FitOutcome outcome = FitOutcome::NotStarted;
  bool finalMethod = false;
  {
    Refinement fit(window, FitSearch::Annealing, report, runner);
    searchSettingsPart.fAnnealTemp = searchSettingsPart.fAnnealStartTemp;
    if (!fit.Start()) return outcome;
    fitStatePart.fStartRmsd = fitStatePart.fBestRmsd = rmsdPart.fFitRmsd;
    DisplayBestContiParams(window);
    SimplexSet s(n);
    GetContiParams(n, s.p[1].data());
    PerturbAround(s, 1, fit, true);
    const int lo = s.Lowest();
    std::vector<float> pb = Applied(s, lo);
    float yb = s.y[Idx(lo)];
    fitStatePart.fStartRmsd = fitStatePart.fBestRmsd = yb;
    simplexPart.nAnnealSeed = -3;
    ran1(simplexPart.nAnnealSeed);
    for (int k = 0; k < searchSettingsPart.nAnnealTemps && !fitStatePart.bFitInterrupted; ++k) {
      ++fitStatePart.nFitIteration;
      fitStatePart.nFitStep = 0;
      int budget = searchSettingsPart.nAnnealIters;
      searchSettingsPart.fAnnealTemp = AnnealTemperature(k, searchSettingsPart.nAnnealTemps, searchSettingsPart.fAnnealStartTemp);
      amebsa(s, searchSettingsPart.fAnnealTemp, pb, yb, kContiSimplexFtol, Objective(fit), budget,
             Display(window));
      if (budget >= 1) {  // converged within this temperature
        report.converged = !fitStatePart.bFitInterrupted;
        break;
      }
    }
    searchSettingsPart.fAnnealTemp = 0.0f;
    // The final method continues from the best point ever evaluated; without one
    // (or when interrupted) that point is the result.
    finalMethod = !fitStatePart.bFitInterrupted && (searchSettingsPart.bAnnealFinalML || searchSettingsPart.bAnnealFinalSimplex);
    if (finalMethod)
      ApplyContiParams(pb.data());
    else
      outcome = fit.Finish(pb.data());
  }
  if (finalMethod) outcome = ContiFit(window, FitMethod::Annealing, report, runner);
  searchSettingsPart.fAnnealTemp = searchSettingsPart.fAnnealStartTemp;
  return outcome;
}

FitOutcome MLContiFit(Window* window, FitReport& report, const ContiRunFunction& runner) {
  auto& fitStatePart = FitState();
  auto& localPart = Local();
  WriteContiDebugLog("\nEntering MLContiFit");
  const int n = GetContiParams(0, nullptr);
  if (n == 0) return RunOnce(window, report);
  Refinement fit(window, FitSearch::Marquardt, report, runner);
  if (!fit.Start()) return FitOutcome::NotStarted;
  fitStatePart.fStartRmsd = fitStatePart.fBestRmsd = kNoResult;
  DisplayBestContiParams(window);
  FitPointsTarget target(Objective(fit));
  MLWorkSet w;
  if (!AllocMLArrays(w, n, target.Points())) {
    report.message = ErrorBoxMessage(kMLAllocationText);
    return FitOutcome::Failed;
  }
  InitContiMLDerivativeFactors(w);
  GetContiParamBounds(n, w.bounds.data());
  std::vector<float> p(Idx(n) + 1, 0.0f);
  GetContiParams(n, p.data());
  localPart.g_mlFit = &fit;
  w.chiSquareUnit = ChiSquareUnit;
  const MLEnd end = MLFit(w, target, p.data(), MLConvergingPass);
  if (end == MLEnd::Converged) report.localStepGain = w.endStepGain;
  localPart.g_mlFit = nullptr;
  if (end == MLEnd::Converged && !fitStatePart.bFitInterrupted) SettleGrid(fit, p, report);
  const FitOutcome outcome = fit.Finish(p.data(), end == MLEnd::Interrupted);
  // A refinement that did not converge says so (the message of a Run met on the way
  // was shown when met).
  if (!report.message.errorBox && outcome != FitOutcome::Interrupted) {
    std::string text;
    if (end == MLEnd::Refused) {
      text = w.nextToRefused ? kFitEndedNextToRefusedText : kFitCannotGoOnText;
      if (!fit.Refused().reason.empty()) text += "\n" + fit.Refused().reason;
    } else if (end == MLEnd::IterationLimit) {
      text = Format(kFitIterationLimitText, nMLIterMax);
    }
    if (!text.empty()) report.message = ErrorBoxMessage(std::move(text));
  }
  report.converged = end == MLEnd::Converged && outcome == FitOutcome::Completed;
  WriteContiDebugLog(" --> MLContiFit done.");
  return outcome;
}

}  // namespace tarmic
