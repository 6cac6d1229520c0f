#include "modelcalc/fit_driver.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "storage/atomic_file.h"
#include "distributions/conti_run.h"
#include "lamm/lamm_globals.h"
#include "lamm/lamm_window_display.h"
#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_grid_check.h"
#include "modelcalc/fit_species_check.h"
#include "modelcalc/verdict_thresholds.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/fit_misfit.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelcalc/marquardt.h"
#include "modelcalc/model_computation.h"
#include "modelcalc/simulation_messages.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "services/path_table.h"
#include "numerics/random.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "platform/system.h"
#include "plot/progress_line.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/solvent_settings.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"
#include "scandata/text_io.h"
#include "services/computation_events.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// ---- the extra values of the fit vector ----

using ExtraValue = FloatingExtra;

bool BufferOn() { return ModelFlags().bBufferSedCorrection; }

// Buffer D (1e-7 cm^2/s) within [0.01, 1000] or Mb (g/mol) at least 10, either
// given by its magnitude.
FitBounds BufferDOrMbBounds() {
  FitBounds b = ModelFlags().bFitMAndS ? FitBounds::AtLeast(10.0f) : FitBounds::Within(0.01f, 1000.0f);
  b.magnitude = true;
  return b;
}
void SetBufferDOrMb(double& D, double& Mb, float v) { (ModelFlags().bFitMAndS ? Mb : D) = v; }

// The vbar of the inhomogeneous solvent: vbar including solvation in the dynamic
// (sedimenting-cosolute) mode, the macromolecule's vbar otherwise (with its
// buoyancy product).
float SolventVbar() {
  return SolventSettings().gInhomSolvent.bCosoluteDynamicGradient ? SolventSettings().gInhomSolvent.vbarEffective : SolventConstants().VBAR;
}
void SetSolventVbar(float v) {
  if (SolventSettings().gInhomSolvent.bCosoluteDynamicGradient) {
    SolventSettings().gInhomSolvent.vbarEffective = SolventSettings().gInhomSolvent.vbarSolvated = v;
  } else {
    SolventConstants().VBAR = v;
    SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  }
}

FitBounds Unbounded() { return FitBounds::None(); }
FitBounds NotNegative() { return FitBounds::AtLeast(0.0f); }
// The exponent of nonlinear detection stays one the transform can invert.
FitBounds PowerCoefficientBounds() {
  const ValueRange r = PowerCoefficientRange(true);
  return FitBounds::Within(static_cast<float>(r.low), static_cast<float>(r.high));
}

const ExtraValue kExtras[] = {
    {[] { return SolventSettings().gInhomSolvent.bInhomogeneousSolvent && SolventSettings().gInhomSolvent.bFitVbar; }, SolventVbar,
     SetSolventVbar, [] { return FitBounds::Within(0.1f, 2.0f); }, "vbar", nullptr, 1.0001, 0.0001,
     0.0001, false},
    {[] { return FluorescenceDetection().bExcitationShadow && FluorescenceDetection().bFitConeRadius; }, [] { return FluorescenceDetection().fConeRadius; },
     [](float v) { FluorescenceDetection().fConeRadius = v; }, [] { return FitBounds::Within(0.01f, 1.0f); },
     "excit. cone", nullptr, 1.001, 0.001, 0.001, false},
    {[] { return FluorescenceDetection().bMagnificationDrift && FluorescenceDetection().bFitMagnificationDrift; },
     [] { return FluorescenceDetection().fMagnificationDrift; }, [](float v) { FluorescenceDetection().fMagnificationDrift = v; }, Unbounded,
     "dmag/dt", nullptr, 1.001, 0.001, 0.001, false},
    {[] { return FluorescenceDetection().bRadialConvolution && FluorescenceDetection().bFitConvolutionWidth; }, [] { return FluorescenceDetection().fConvolutionWidth; },
     [](float v) { FluorescenceDetection().fConvolutionWidth = v; }, [] { return FitBounds::Within(0.001f, 1.0f); },
     "convolution", nullptr, 1.001, 0.001, 0.001, false},
    {[] { return FluorescenceDetection().bMagnificationGradient && FluorescenceDetection().bFitMagnificationGradient; },
     [] { return FluorescenceDetection().fMagnificationGradient; }, [](float v) { FluorescenceDetection().fMagnificationGradient = v; },
     [] { return FitBounds::Within(0.5f, 2.0f); }, "radial mag factor", nullptr, 1.0001, 0.0001,
     0.0001, false},
    {[] { return FluorescenceDetection().bNonlinearDetection && FluorescenceDetection().bFitPowerCoefficient; }, [] { return FluorescenceDetection().fPowerCoefficient; },
     [](float v) { FluorescenceDetection().fPowerCoefficient = v; }, PowerCoefficientBounds, "nonlin coeff", nullptr, 1.0001, 0.0001,
     0.0001, false},
    {[] { return BufferOn() && BufferSedimentation().BufferSed.fitSignal && !ModelParams().bLinearAmplitudes; },
     [] { return static_cast<float>(BufferSedimentation().BufferSed.signal); }, [](float v) { BufferSedimentation().BufferSed.signal = v; },
     NotNegative, "buffer", nullptr, 1.001, 0.001, 0.001, false},
    {[] { return BufferOn() && BufferSedimentation().BufferSed.fitSampleD; },
     [] { return static_cast<float>(ModelFlags().bFitMAndS ? BufferSedimentation().BufferSed.sampleMb : BufferSedimentation().BufferSed.sampleD); },
     [](float v) { SetBufferDOrMb(BufferSedimentation().BufferSed.sampleD, BufferSedimentation().BufferSed.sampleMb, v); }, BufferDOrMbBounds,
     "buffer D", "buffer Mb", 1.01, 0.1, 10.0, false},
    {[] { return BufferOn() && BufferSedimentation().BufferSed.fitSampleS; },
     [] { return static_cast<float>(BufferSedimentation().BufferSed.sampleS); },
     [](float v) { BufferSedimentation().BufferSed.sampleS = v; }, NotNegative, "buffer s", nullptr, 1.001, 0.001, 0.001,
     true},
    {[] { return BufferOn() && BufferSedimentation().bMeniscusMismatch && BufferSedimentation().BufferSed.fitMeniscusDifference; },
     [] { return static_cast<float>(MeniscusDifference()); },
     [](float v) { MeniscusDifference() = v; }, Unbounded, "meniscus diff (s-r)", nullptr, 1.0001,
     0.001, 0.001, true},
    {[] { return BufferOn() && BufferSedimentation().bMeniscusMismatch && BufferSedimentation().BufferSed.fitRelativeConc; },
     [] { return static_cast<float>(BufferSedimentation().BufferSed.relativeConc); },
     [](float v) { BufferSedimentation().BufferSed.relativeConc = v; }, [] { return FitBounds::AtLeast(0.0001f); },
     "conc. ratio (s/r)", nullptr, 1.01, 0.01, 0.01, false},
    {[] { return BufferOn() && BufferSedimentation().BufferSed.differentReference && BufferSedimentation().BufferSed.fitRefD; },
     [] { return static_cast<float>(ModelFlags().bFitMAndS ? BufferSedimentation().BufferSed.refMb : BufferSedimentation().BufferSed.refD); },
     [](float v) { SetBufferDOrMb(BufferSedimentation().BufferSed.refD, BufferSedimentation().BufferSed.refMb, v); }, BufferDOrMbBounds,
     "refD", "refMb", 1.01, 0.1, 10.0, false},
    {[] { return BufferOn() && BufferSedimentation().BufferSed.differentReference && BufferSedimentation().BufferSed.fitRefS; },
     [] { return static_cast<float>(BufferSedimentation().BufferSed.refS); },
     [](float v) { BufferSedimentation().BufferSed.refS = v; }, NotNegative, "refs", nullptr, 1.001, 0.001, 0.001, false},
};

}  // namespace

std::span<const FloatingExtra> FloatingExtras() { return kExtras; }

const char* FloatingExtra::Name() const { return ModelFlags().bFitMAndS && nameMb ? nameMb : name; }

namespace {

int ExtraCount() {
  int n = 0;
  for (const ExtraValue& e : kExtras) n += e.present() ? 1 : 0;
  return n;
}

// The higher cumulants of the DLS cumulant mode (entries 2 to 4) may be negative:
// a skewed or flat decay-rate distribution has the third and fourth so, and the
// second, a variance, comes out slightly below 0 from noise on a single size. Held
// at 0, it would stop a search that stepped below 0: the model would not change there.
bool SignedCumulant(int k) { return ModelFlags().bCumulants && k >= 2; }

}  // namespace

FitBounds ParamEntryBounds(int k) {
  if (k <= 4) {
    if (IsSelfAssociationModel()) return k != 3 ? NotNegative() : Unbounded();
    if (IsDiscreteSpeciesModel() && !DataSet().bEquilibriumMode && !SignedCumulant(k)) return NotNegative();
    return Unbounded();
  }
  if (k >= 9 && k <= 12) return IsNonidealModel() ? Unbounded() : NotNegative();
  if (k == 13 && DataSet().fMaxMeniscus > DataSet().fMinMeniscus) return FitBounds::Within(DataSet().fMinMeniscus, DataSet().fMaxMeniscus);
  if (k == 14 && DataSet().fMaxBottom > DataSet().fMinBottom) return FitBounds::Within(DataSet().fMinBottom, DataSet().fMaxBottom);
  if ((k >= 16 && k <= 19) || k == 23 || k == 25 || k == 27 || k == 29 || k == 31 || k == 33)
    return NotNegative();
  if (k == 26 || k == 30 || k == 34) return FitBounds::Within(0.0f, 1.0f);
  return Unbounded();
}

namespace {

// ---- status ----

void ShowStatus(Window* window, int y, ProgressKind kind, const char* text) {
  if (!window || bBatchMode) return;
  ReportProgress({kind, text});
  LammWindowDisplay(*window).ShowText(10, y, text);
}

// This module's own state in the analysis.
struct LocalState {
  // The search that evaluates: it chooses the status line of the objective.
FitMethod eRunningSearch = FitMethod::Simplex;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// The status line of an evaluation; annealPlanned: the evaluations of the running
// annealing schedule (FitObjective::PlanEvaluations).
void ShowSearchStatus(Window* window, int annealPlanned) {
  char line[128];
  switch (Local().eRunningSearch) {
    case FitMethod::Marquardt:
      std::snprintf(line, sizeof line, "sim #%d, ML step #%d, step #%d   ", FitState().nFitSim, FitState().nFitIteration,
                    FitState().nFitStep);
      ShowStatus(window, 30, ProgressKind::FitStep, line);
      std::snprintf(line, sizeof line, "testrmsd=%f (n=%.0f,lamda=%.1e          )", Marquardt().fMLRmsd,
                    Marquardt().fMLPoints, Marquardt().fMLLambda);
      ShowStatus(window, 50, ProgressKind::Detail, line);
      return;
    case FitMethod::Annealing:
      std::snprintf(line, sizeof line, "sim #%d of %d, SA step #%d, step#%d, T=%.3f    ", FitState().nFitSim,
                    annealPlanned, FitState().nFitIteration, FitState().nFitStep, SearchSettings().fAnnealTemp);
      break;
    case FitMethod::Simplex:
      std::snprintf(line, sizeof line, "s%d, step #%d    ", FitState().nFitIteration, FitState().nFitStep);
      break;
  }
  ShowStatus(window, 30, ProgressKind::FitStep, line);
}

void Box(const char* text, const char* caption, unsigned flags) {
  ShowComputationNote(text, caption, flags);
}

// The searches show their best vertex once per iteration: it is applied, its rmsd
// becomes the one shown.
void ShowBestVertex(const float* best, float value) {
  SetFloatingExtraParams(best);
  Rmsd().fFitRmsd = value;
  if (value < FitState().fBestRmsd) FitState().fBestRmsd = value;
}

// ---- convergence of the simplex passes ----

// The values whose relative change decides whether the passes have settled: every
// floated extra and every pParams entry (floated or not: the linearly solved
// amplitudes take part), and the rmsd.
struct FitSnapshot {
  std::vector<float> extras;
  std::vector<bool> fineAtZero;
  float params[nModelParams + 1] = {};
  float rmsd = 0.0f;
};

FitSnapshot TakeSnapshot(float rmsd) {
  FitSnapshot s;
  for (const ExtraValue& e : kExtras)
    if (e.present()) {
      s.extras.push_back(e.get());
      s.fineAtZero.push_back(e.fineAtZero);
    }
  std::copy(AnalysisSwitches().pParams, AnalysisSwitches().pParams + nModelParams + 1, s.params);
  s.rmsd = rmsd;
  return s;
}

double RelativeChange(double oldValue, double newValue) {
  return RefitRelativeChange(oldValue, newValue);
}

// Whether a vector entry moved between two refits of an error analysis: from 0
// when its new value exceeds tol; from a value above 0.001 when it changed by more
// than 0.001 and by more than tol relative; entries at or below 0.001 (negative ones
// included) do not count.
bool RefitEntryMoved(double oldValue, double newValue, double tol) {
  if (oldValue == 0.0) return newValue > tol;
  if (!(oldValue > 0.001)) return false;
  const double change = std::fabs(newValue - oldValue);
  return change > 0.001 && change / oldValue > tol;
}

// refit: the rule of the refits of the error analyses for the pParams entries.
bool Settled(const FitSnapshot& a, const FitSnapshot& b, double tol, bool refit) {
  if (RelativeChange(a.rmsd, b.rmsd) > tol) return false;
  for (std::size_t i = 0; i < a.extras.size() && i < b.extras.size(); ++i) {
    const double limit = (a.extras[i] == 0.0f && a.fineAtZero[i]) ? 0.1 * tol : tol;
    if (RelativeChange(a.extras[i], b.extras[i]) > limit) return false;
  }
  for (int k = 1; k <= nModelParams; ++k) {
    const bool moved = refit ? RefitEntryMoved(a.params[k], b.params[k], tol)
                             : RelativeChange(a.params[k], b.params[k]) > tol;
    if (moved) return false;
  }
  return true;
}

// Applies the lowest vertex and puts it into row 1 as applied, i.e. after the
// bounds of each value, so that the next pass starts around a point inside the
// ranges. A vertex outside a range evaluates as the clamped point: around such a
// vertex the objective is flat in that value, and a pass restarted there stays
// outside (a meniscus held at the end of its range).
void ApplyBestVertex(SimplexSet& s) {
  const int lo = s.Lowest();
  if (lo != 1) {
    std::swap(s.p[1], s.p[Idx(lo)]);
    std::swap(s.y[1], s.y[Idx(lo)]);
  }
  SetFloatingExtraParams(s.p[1].data());
  GetFloatingExtraParams(s.n, s.p[1].data());
}

// Evaluates every vertex: the start simplex from the last vertex to the first, the
// simplex of a refinement pass from the first to the last (vertex 1 only when its
// value is not known on the grid in force).
void EvaluateVertices(SimplexSet& s, FitObjective& objective, bool fromLast, bool firstKnown = false) {
  for (int k = 1; k <= s.n + 1; ++k) {
    const int j = fromLast ? s.n + 2 - k : k;
    if (j == 1 && firstKnown) continue;
    s.y[Idx(j)] = objective(s.p[Idx(j)].data());
  }
}

// Says, once per fit, that it ended at a refusal: note, then the reason (in place
// of the information note of an earlier search of the same fit).
void NoteRefusal(FitReport& report, const char* note, const RefusedTrials& refused) {
  if (report.message.errorBox) return;
  std::string text = note;
  if (!refused.reason.empty()) text += "\n" + refused.reason;
  report.message = ErrorBoxMessage(std::move(text));
}

// Whether a vertex of the simplex was refused its model (not only left without
// one by an interrupt).
bool TouchesRefused(const SimplexSet& s, bool interrupted, const RefusedTrials& refused) {
  if (interrupted || refused.count == 0) return false;
  for (int j = 1; j <= s.n + 1; ++j)
    if (!(s.y[Idx(j)] < kNoModelRmsd)) return true;
  return false;
}

// The model of the best point, computed once more after the search. True when a
// key stopped that computation: the best parameters stay set, but their unfinished
// model is not shown (no fit rows, bModelComputed clear) and the report says so.
bool EvaluateBestPoint(const float* p, FitObjective& objective, FitReport& report) {
  // The finished model of p is on show already (the check of the end computed it
  // last).
  if (objective.OnShow(p)) {
    FitState().bFitInterrupted = false;
    return false;
  }
  const float rmsd = objective(p);
  const bool stopped = objective.ModelStopped();
  FitState().bFitInterrupted = false;
  if (!stopped && !(rmsd < kNoModelRmsd)) {
    // Said before any note of how the search ended: it matters most.
    report.message = RunMessage{};
    report.converged = false;
    NoteRefusal(report, kFitResultNotComputedText, objective.Refused());
    ZeroFitRows(1);
    AnalysisSwitches().bModelComputed = false;
  }
  if (!stopped) return false;
  bStopRealtimeUpdate = bSeriesInterrupted = true;
  report.stoppedBeforeResult = true;
  ZeroFitRows(1);
  AnalysisSwitches().bModelComputed = false;
  return true;
}

// Shared start of the searches: prerequisites passed, the switches of a running
// fit set, the start rmsd taken. Restores the switches when it goes out of scope.
class RunningFit {
 public:
  RunningFit(Window* window, FitReport& report, const ModelFunction& model)
      : window_(window), redraw_(ContiRun().bRedrawModel), report_(report), objective_(window, model) {
    ContiRun().bRedrawModel = false;
    SimulationMessages().bFitRunning = true;
    SimulationMessages().bDiscretizationShown = false;
    FitState().bFitInterrupted = false;
    report_.converged = false;
    StartFitCounters();
    if (window_ && !bBatchMode) window_->Invalidate();
    FitState().fStartRmsd = FitState().fBestRmsd = FitRmsd(objective_.Points());
    objective_.TakeStartAsBest(AnalysisSwitches().bModelComputed ? FitState().fStartRmsd : kNoModelRmsd);
    ForgetFitEndFindings(report_);
  }
  ~RunningFit() {
    // Refused parameters the fit went round are said once, after the whole fit.
    report_.refused.Add(objective_.Refused());
    SimulationMessages().bFitRunning = false;
    EndFitCounters();
    ContiRun().bRedrawModel = redraw_;
    if (window_ && !bBatchMode) window_->Invalidate();
  }
  // Clears the interrupt and says whether there was one; then the best point can be
  // evaluated once more.
  // An interrupted fit also stops the realtime update and asks a series to stop,
  // unless markStops is false (simulated annealing leaves both alone).
  bool TakeInterrupt(bool markStops = true) {
    const bool interrupted = FitState().bFitInterrupted;
    FitState().bFitInterrupted = false;
    if (interrupted && markStops) bStopRealtimeUpdate = bSeriesInterrupted = true;
    return interrupted;
  }
  // The fit's objective, which counts the refused trial points of the fit.
  FitObjective& Objective() { return objective_; }
  // Says, once per fit, that it ended at a refusal, with the first reason.
  void NoteRefusal(const char* note) { tarmic::NoteRefusal(report_, note, objective_.Refused()); }

 private:
  Window* window_;
  bool redraw_;
  FitReport& report_;
  FitObjective objective_;
  // A set-up that fails at one trial point fails at its neighbours too: each
  // message of the model computation is shown once per fit.
  ScopedErrorsOnce errorsOnce_;
};

// The covariance report of a Marquardt-Levenberg fit: for each value its standard
// error and its row of the covariance (MLCovariance, scaled by the fit's own noise);
// a failed write comes back with the system's reason for the command to show.
SaveResult WriteMLReport(const std::vector<std::vector<double>>& covariance, int n, const float* p) {
  SaveResult result;
  if (szMLCovarianceFile.empty()) return result;
  AtomicFile out(szMLCovarianceFile);
  std::FILE* f = out.File();
  if (!f) {
    result.ok = false;
    result.message = WithReason("could not open " + szMLCovarianceFile, out.Error());
    return result;
  }
  for (int i = 1; i <= n; ++i) {
    const double var = covariance[Idx(i)][Idx(i)];
    std::fprintf(f, "%d: %e\t(%e)\t - ", i, p[i], var > 0.0 ? std::sqrt(var) : 0.0);
    for (int j = 1; j <= n; ++j) std::fprintf(f, "%e\t", covariance[Idx(i)][Idx(j)]);
    std::fprintf(f, "\n");
  }
  if (!out.Commit()) {
    out.Discard();
    result.ok = false;
    result.message = WithReason("could not write " + szMLCovarianceFile, out.Error());
  }
  return result;
}

// The rounds of a fit's end on finer grids (fit_grid_check.h); settled once the
// grid held or the rounds were spent.
struct EndGrid {
  int rounds = 0;
  bool settled = false;
};

// The check of a search's end at p (one-based, as applied; fit_end_check.h): until
// the grid settled, the grid's error at p against the noise (CheckGridAtEnd), then,
// with localStep (the searches that do not take the step themselves), the step from
// p. GoesOn: the search is to go on, from p (now the lower point) or on the finer
// grid; after kEndCheckRounds steps (counted in rounds) or kGridCheckRounds grids
// the finding is put into the report instead and the search ends (p is the lower
// point).
EndCheck CheckSearchEnd(FitObjective& objective, std::vector<float>& p, FitReport& report, int& rounds,
                        bool localStep, EndGrid& grid) {
  bool finer = false;
  // The model at p on the grid the step is taken on, where the grid's check has it.
  GridError measured;
  const std::vector<double>* atP = nullptr;
  if (!grid.settled) {
    // A search that takes no step ends on the model of the grid in force, which the
    // check then computes last (its end point need not be computed again); the step
    // takes its model at p from the check instead.
    const GridVerdict verdict = CheckGridAtEnd([&] { return objective(p.data()) < kNoModelRmsd; },
                                               objective.OnShow(p.data()), report, grid.rounds, GridLimit::Values,
                                               localStep ? GridOnShow::Finer : GridOnShow::InForce, &measured);
    if (verdict == GridVerdict::Interrupted || FitState().bFitInterrupted) return EndCheck::Interrupted;
    finer = verdict == GridVerdict::GoesOn;
    grid.settled = !finer;
    // The values of the coarser grid are another objective's.
    if (finer) objective.ForgetEvaluated();
    if (finer && !localStep) return EndCheck::GoesOn;
    const std::vector<double>& values = finer ? measured.finer : measured.inForce;
    if (!values.empty()) atP = &values;
  }
  if (!localStep) return EndCheck::Ends;
  const int n = static_cast<int>(p.size()) - 1;
  std::vector<FitBounds> bounds(Idx(n) + 1);
  GetFloatingExtraBounds(n, bounds.data());
  FitPointsTarget target(std::ref(objective), objective.Points());
  // On a finer grid the minimum lies a fraction of the noise away: the step from the
  // end there finds it, and the grid's error is measured again where it ends. A step
  // lower by less than the search goes on for still ends the search at its point: it
  // is nearer the minimum, and its model, computed last, is the one on show.
  // A thousandth of each value: the discrete fits' verdicts and recorded results were
  // measured with it (the refinement takes its values' Marquardt steps).
  const EndCheck step = StepFromEnd(target, p, bounds, nullptr, report, rounds, atP, true);
  return finer && step == EndCheck::Ends ? EndCheck::GoesOn : step;
}

// The point a search ends at: its own end, or after a key the best point the fit
// evaluated (never worse than its start).
const float* EndPoint(const float* searchEnd, const FitObjective& objective, bool interrupted) {
  return interrupted ? objective.Best().data() : searchEnd;
}

FitOutcome SimplexPasses(Window* window, FitReport& report, bool refit = false,
                         const ModelFunction& model = {}) {
  if (!CheckFitPrerequisites(window)) return FitOutcome::NotStarted;
  Local().eRunningSearch = FitMethod::Simplex;
  RunningFit fit(window, report, model);
  FitObjective& objective = fit.Objective();
  const int n = GetFloatingExtraParams(0, nullptr);
  if (n == 0) return NothingFloated(report);
  const int gridPoints = LammSettings().nLammGridPoints;
  const bool coarse = SearchSettings().bCoarseGridFirst && LammSettings().nLammGridPoints >= 4;
  if (coarse) {
    LammSettings().nLammGridPoints = gridPoints / 2;
    if (LammArrays().bSimArraysAllocated) ResizeSimArrays(LammSettings().nLammGridPoints);
  }
  SimplexSet s(n);
  GetFloatingExtraParams(n, s.p[1].data());
  InitSimplex(s);
  EvaluateVertices(s, objective, true);
  int nfunk = 0;
  const auto pass = [&](const SimplexTolerance& ftol) {
    if (amoeba(s, ftol, std::ref(objective), nfunk, ShowBestVertex) == AmoebaEnd::EvaluationLimit)
      report.simplexNotConverged = true;
  };
  pass([] { return kSimplexFtol; });
  ApplyBestVertex(s);
  FitSnapshot reference = TakeSnapshot(s.y[1]);
  // The rmsd of the first pass on the coarse grid is no measure for the restarts.
  // The restarts run to the step from the end's least gain (kSimplexCheckedStep): what
  // they leave, the step takes. The confirming restart keeps the finer tolerance.
  const long long fitPoints = CountFitPoints(objective.Points());
  SimplexRestarts restarts(fitPoints, kSimplexFtol, coarse ? kNoModelRmsd : s.y[1], kSimplexCheckedStep);
  const float confirmTolerance = SimplexRestarts::ToleranceOf(fitPoints, kSimplexFtol, kSimplexChiSquareStep);
  if (coarse) {
    LammSettings().nLammGridPoints = gridPoints;
    if (LammArrays().bSimArraysAllocated) ResizeSimArrays(LammSettings().nLammGridPoints);
    // The values of the coarse grid are another objective's.
    objective.ForgetEvaluated();
  }
  // Passes restarted around the best point: the refits of the error analyses until
  // rmsd and parameters settle, a fit until a restart no longer lowers the rmsd
  // (SimplexRestarts).
  // The value of the best vertex holds on the grid of the restarts (not after the
  // coarse first pass): it is not evaluated again.
  bool bestEvaluated = !coarse;
  // A pass ended by the surface's word is confirmed by one more restart, a fresh
  // simplex of the last pass's scale: it must not lower the best value by more than
  // kSimplexChiSquareStep units (from confirmFrom).
  bool confirming = false;
  float confirmFrom = 0.0f;
  int confirmations = 0;
  int endRounds = 0;
  bool endNextToRefused = false;
  while (!FitState().bFitInterrupted) {
    const std::vector<float> extent = SimplexExtent(s, 1);
    InitSimplex(s);
    if (!refit) RestartNear(s, 1, extent);
    EvaluateVertices(s, objective, false, bestEvaluated);
    bestEvaluated = true;
    if (refit) {
      pass([] { return kSimplexFtol; });
    } else {
      pass(restarts.PassTolerance(objective.Evaluated()));
    }
    ApplyBestVertex(s);
    if (!refit) {
      bool ends = false;
      if (confirming) {
        confirming = false;
        ends = !(confirmFrom - s.y[1] > confirmTolerance * confirmFrom);
        if (ends) ++report.confirmedByRestart;
      } else if (restarts.SurfaceSays(objective.Evaluated())) {
        confirming = Verdicts().confirmingRestart;
        confirmFrom = s.y[1];
        ends = !confirming;
        if (confirming) continue;
      } else {
        ends = restarts.Settled(s.y[1]);
      }
      if (ends) {
        // The search goes on from a lower point by the steps from the end, each from
        // the point the one before found (near a minimum they converge as
        // Marquardt-Levenberg does, at n + 2 evaluations a step).
        std::vector<float> p = s.p[1];
        EndGrid grid;
        const int refusedBefore = objective.Refused().count;
        EndCheck check = CheckSearchEnd(objective, p, report, endRounds, true, grid);
        while (check == EndCheck::GoesOn) check = CheckSearchEnd(objective, p, report, endRounds, true, grid);
        if (check == EndCheck::Interrupted) break;
        // A point of the check without a model (a difference or the step refused):
        // the end lies next to refused points, where the check cannot show a minimum.
        endNextToRefused = objective.Refused().count > refusedBefore;
        s.p[1] = p;
        report.converged = true;
        break;
      }
      // Confirmations that kept lowering count as restarts too.
      if (restarts.Exhausted() || ++confirmations > kSimplexRestartLimit) {
        if (!report.message.errorBox)
          report.message = ErrorBoxMessage(Format(kSimplexRestartLimitText, kSimplexRestartLimit));
        break;
      }
      continue;
    }
    const FitSnapshot now = TakeSnapshot(s.y[1]);
    const bool settled = Settled(reference, now, LammSettings().fRefitTolerance, refit);
    reference = now;
    if (settled) break;
  }
  bool interrupted = fit.TakeInterrupt();
  if (interrupted) report.converged = false;
  if (TouchesRefused(s, interrupted, objective.Refused()) || (endNextToRefused && !interrupted)) {
    report.converged = false;
    fit.NoteRefusal(kFitEndedNextToRefusedText);
  }
  // The final model of the best point.
  if (EvaluateBestPoint(EndPoint(s.p[1].data(), objective, interrupted), objective, report)) interrupted = true;
  if (LammSettings().nLammGridPoints >= 2147483646)
    Box("gridsize reached upper limit!", "", MB_OK | MB_ICONEXCLAMATION);
  return interrupted ? FitOutcome::Interrupted : FitOutcome::Completed;
}

}  // namespace

double RefitRelativeChange(double oldValue, double newValue) {
  return oldValue != 0.0 ? std::fabs(newValue - oldValue) / std::fabs(oldValue)
                         : std::fabs(newValue);
}

bool CheckFitPrerequisites(Window* /*window*/) {
  if (DataSet().nScans <= 0 || DataSet().pFitFirst.empty() || DataSet().pFitLast.empty()) {
    PlayErrorSound();
    Box("load data first", "ERROR", MB_OK);
    return false;
  }
  if (DataSet().bDLSData) return true;
  if (DataSet().fMeniscus == 0.0f || DataSet().fBottom == 0.0f) {
    PlayErrorSound();
    Box("set meniscus and bottom first", "ERROR", MB_OK);
    return false;
  }
  if (DataSet().fFitLeftLim == 0.0f || DataSet().fFitLeftLim < DataSet().fMeniscus) {
    DataSet().fFitLeftLim = DataSet().fMeniscus;
    Box("setting left fit limit to meniscus", "", MB_OK);
    SetLeftFitLimitIndices();
  }
  if (DataSet().fFitRightLim == 0.0f || DataSet().fFitRightLim > DataSet().fBottom) {
    DataSet().fFitRightLim = DataSet().fBottom;
    Box("setting right fit limit to bottom", "", MB_OK);
    SetRightFitLimitIndices();
  }
  return true;
}

namespace {
// A pParams entry in the fit vector: its fit switch is set. The buffer component's
// amplitude entry stays out while amplitudes are not solved linearly: the buffer's
// signal is then floated as an extra value, and the entry is read by nothing.
bool EntryFloated(int k) {
  if (!AnalysisSwitches().pParamFitFlags[k]) return false;
  return !(k == 3 * nSpeciesSlots && BufferOn() && !ModelParams().bLinearAmplitudes && IsDiscreteSpeciesModel());
}
}  // namespace

namespace {
// Visits the fit vector in its order: extra(e) for each floated extra value, then
// entry(k) for each floated pParams entry.
template <class Extra, class Entry>
void ForEachFloatedValue(Extra extra, Entry entry) {
  for (const ExtraValue& e : kExtras)
    if (e.present()) extra(e);
  for (int k = 1; k <= nModelParams; ++k)
    if (EntryFloated(k)) entry(k);
}

// The name of pParams entry k in the fit-result text.
std::string EntryName(int k) {
  if (k == 13) return "Meniscus";
  if (k == 14) return "Bottom";
  if (k == 23) return "Lamella thickness";
  if (ModelFlags().bNonIdealMultiple && k >= 25) {
    static const char* const names[] = {"synthetic boundary", "overlay conc1 fraction", "c2", "s2", "D2",
                                        "conc2 fraction", "c3", "s3", "D3", "conc3 fraction"};
    return names[k - 25];
  }
  if (IsSelfAssociationModel() && k == 11) return "c";
  const int species = (k - 1) % nSpeciesSlots + 1;
  if (k <= 4) return Format(ModelFlags().bFitMAndS ? "M%d" : "D%d", species);
  if (k <= 8) return Format("s%d", species);
  if (k <= 12) return Format("c%d", species);
  return Format("parameter %d", k);
}
}  // namespace

int GetFloatingExtraParams(int max, float* out) {
  FitVectorWriter<float> put{max, out};
  ForEachFloatedValue([&](const ExtraValue& e) { put(e.get()); }, [&](int k) { put(AnalysisSwitches().pParams[k]); });
  return put.n;
}

int GetFloatingExtraBounds(int max, FitBounds* out) {
  FitVectorWriter<FitBounds> put{max, out};
  ForEachFloatedValue([&](const ExtraValue& e) { put(e.bounds()); },
                      [&](int k) { put(ParamEntryBounds(k)); });
  return put.n;
}

void SetFloatingExtraParams(const float* values) {
  if (!values) return;
  // In the electrophoresis cell the bottom keeps its distance from a floated
  // meniscus.
  const float electroLength = DataSet().fBottom - DataSet().fMeniscus;
  int n = 0;
  ForEachFloatedValue([&](const ExtraValue& e) { e.Apply(values[++n]); },
                      [&](int k) { AnalysisSwitches().pParams[k] = ParamEntryBounds(k).Clamp(values[++n]); });
  if (LammGlobals().bElectrophoresis && AnalysisSwitches().pParamFitFlags[13] && !AnalysisSwitches().pParamFitFlags[14])
    AnalysisSwitches().pParams[14] = AnalysisSwitches().pParams[13] + electroLength;
  UnpackModelParams();
}

FitAccess DiscreteFitAccess(Window* window, const ModelFunction& model) {
  FitAccess access;
  access.compute = [window, model] { return model ? model(window) : CalculateModel(window); };
  access.objective = [window, model]() -> SimplexObjective {
    auto objective = std::make_shared<FitObjective>(window, model);
    return [objective](const float* p) { return (*objective)(p); };
  };
  access.values = GetFloatingExtraParams;
  access.bounds = GetFloatingExtraBounds;
  access.apply = SetFloatingExtraParams;
  return access;
}

std::vector<std::string> FloatedValuesAtLimit(const std::vector<int>& speciesLeftOut) {
  std::vector<std::string> values;
  auto check = [&](const std::string& name, float v, FitBounds b) {
    if (b.AtLimit(v)) values.push_back(name + Format(" = %g", static_cast<double>(v)));
  };
  // A species switched off carries its values wherever they stand, and so does one
  // the data do not determine.
  const auto switchedOff = [&](int k) {
    if (!IsDiscreteSpeciesModel() || k > 3 * nSpeciesSlots) return false;
    const int slot = (k - 1) % nSpeciesSlots + 1;
    return !AnalysisSwitches().pSpeciesLinked[slot] ||
           std::find(speciesLeftOut.begin(), speciesLeftOut.end(), slot) != speciesLeftOut.end();
  };
  ForEachFloatedValue([&](const ExtraValue& e) { check(e.Name(), e.get(), e.bounds()); },
                      [&](int k) {
                        if (!switchedOff(k)) check(EntryName(k), AnalysisSwitches().pParams[k], ParamEntryBounds(k));
                      });
  return values;
}

void InitSimplex(SimplexSet& s) {
  const int n = s.n;
  const float r = SearchSettings().fSimplexRandomization;
  const std::vector<float>& v1 = s.p[1];
  for (int j = 2; j <= n + 1; ++j)
    for (int i = 1; i <= n; ++i) s.p[Idx(j)][Idx(i)] = v1[Idx(i)] + GaussianRandom(r * v1[Idx(i)]);
  const bool assocLarge = ModelFlags().bAssoc124 || ModelFlags().bAssoc148;
  int pos = ExtraCount();
  for (int k = 1; k <= nModelParams; ++k) {
    if (!EntryFloated(k)) continue;
    const auto i = Idx(++pos);
    const float v = v1[i];
    for (int j = 2; j <= n + 1; ++j) {
      float& x = s.p[Idx(j)][i];
      auto nonNegative = [&] { x = x < 0.0f ? 0.0f : x; };
      auto withOffset = [&] { x = v + GaussianRandom(r * v) + GaussianRandom(0.3f * r); };
      if (assocLarge && (k == 3 || k == 7)) {
        withOffset();
      } else if (IsSelfAssociationModel() && k <= 4) {
        // Masses may not turn negative; the log K entries 3 and 4 keep their sign.
        if (k <= 2) nonNegative();
      } else if (k <= 4) {
        // A higher cumulant started at 0 spreads on the scale of the mean D to its
        // order (mu_k ~ D^k): a spread relative to 0 would leave it there for good.
        if (ModelFlags().bCumulants && k >= 2 && v == 0.0f)
          x = GaussianRandom(r * std::pow(std::fabs(AnalysisSwitches().pParams[1]), static_cast<float>(k)));
        if (!DataSet().bEquilibriumMode && !SignedCumulant(k)) nonNegative();
      } else if (k >= 9 && k <= 12) {
        if (IsNonidealModel()) withOffset(); else nonNegative();
      } else if (k == 13) {
        x = ParamEntryBounds(k).Clamp(v + GaussianRandom((DataSet().fMaxMeniscus - DataSet().fMinMeniscus) / 3.0f));
      } else if (k == 14) {
        x = ParamEntryBounds(k).Clamp(v + GaussianRandom((DataSet().fMaxBottom - DataSet().fMinBottom) / 3.0f));
      } else if (k == 15 || k == 22) {
        withOffset();
      } else if (k == 24) {
        x = v + GaussianRandom(v) + GaussianRandom(100.0f);
      } else if (k >= 16) {
        // Fractions within [0, 1], lamella width, concentrations, D and the further
        // species values not negative.
        x = ParamEntryBounds(k).Clamp(x);
      }
    }
  }
}

FitObjective::FitObjective(Window* window, ModelFunction model)
    : FitObjective(window, std::move(model), CurrentFitPoints()) {}

FitObjective::FitObjective(Window* window, ModelFunction model, const FitPointsData& points)
    : window_(window), model_(std::move(model)), points_(points), n_(GetFloatingExtraParams(0, nullptr)) {
  std::vector<float> start(Idx(n_) + 1, 0.0f);
  GetFloatingExtraParams(n_, start.data());
  best_ = start;
  guard_ = TrialPointGuard(std::move(start));
}

float FitObjective::operator()(const float* p) {
  modelStopped_ = false;
  last_.clear();
  if (FitState().bFitInterrupted || !guard_.Admits(p, n_)) return kNoModelRmsd;
  if (!box_.empty()) {
    held_.assign(p, p + n_ + 1);
    for (int i = 1; i <= n_ && Idx(i) < box_.size(); ++i) held_[Idx(i)] = box_[Idx(i)].Clamp(held_[Idx(i)]);
    p = held_.data();
  }
  SetFloatingExtraParams(p);
  // A moved meniscus or bottom needs the radial grid of the Lamm solution rebuilt.
  if (LammArrays().bSimArraysAllocated && LammArrays().pLammRadius &&
      (LammArrays().pLammRadius[1] != DataSet().fMeniscus || LammArrays().pLammRadius[LammArrays().nSimGridPointsAllocated] != DataSet().fBottom))
    BuildLammGrid();
  ++FitState().nFitStep;
  ++FitState().nFitSim;
  ShowSearchStatus(window_, plannedEvaluations_);
  ModelResult result;
  std::vector<std::string> messages;
  {
    // The messages of this computation are held until it is known whether the
    // parameters were refused.
    // (Off the user-interface thread nothing is held and nothing is taken.)
    const bool hold = IsUiThread();
    ScopedWorkerErrors held;
    result = model_ ? model_(window_) : CalculateModel(window_);
    if (hold) messages = TakeWorkerErrors();
  }
  const bool refused = result.status == ModelStatus::Failed;
  if (refused) {
    refused_.Add(!result.message.empty() ? result.message
                 : messages.empty()      ? std::string()
                                         : messages.front());
  } else {
    for (const std::string& m : messages) RaiseError(m);
  }
  modelStopped_ = bUserAbort || result.status == ModelStatus::Interrupted;
  if (CheckKeyPress()) bUserAbort = true;
  if (bUserAbort || result.status == ModelStatus::Interrupted) {
    bUserAbort = false;
    FitState().bFitInterrupted = true;
  }
  const float rmsd = FitRmsd(points_);
  if (refused) return kNoModelRmsd;
  if (!modelStopped_) {
    last_.assign(p, p + n_ + 1);
    lastRefinement_ = GridRefinement();
    lastNodes_ = LammSettings().nLammGridPoints;
    evaluated_.Add(p, n_, rmsd);
    if (rmsd < bestRmsd_) {
      bestRmsd_ = rmsd;
      best_.assign(p, p + n_ + 1);
    }
  }
  return rmsd;
}

bool FitObjective::OnShow(const float* p) const {
  return !last_.empty() && std::equal(last_.begin(), last_.end(), p) && lastRefinement_ == GridRefinement() &&
         lastNodes_ == LammSettings().nLammGridPoints;
}

float SimplexSim(const float* p, Window* window) { return FitObjective(window)(p); }

FitOutcome RefitPasses(Window* window, FitReport& report) {
  FitState().eFitSearch = FitSearch::Simplex;
  return SimplexPasses(window, report, true);
}

namespace {
// The search of the chosen method (annealing at temperature 0 runs its final method).
FitOutcome RunSearch(Window* window, FitMethod method, FitReport& report, const ModelFunction& model) {
  // The method, for the status lines and the fit-result text.
  FitState().eFitSearch = method == FitMethod::Marquardt   ? FitSearch::Marquardt
               : method == FitMethod::Annealing ? FitSearch::Annealing
                                                : FitSearch::Simplex;
  if (method == FitMethod::Annealing && SearchSettings().fAnnealTemp > 0.0f)
    return SimulatedAnnealingFit(window, report, model);
  if (method == FitMethod::Marquardt) return MLOptimize(window, report, model);
  if (method == FitMethod::Annealing && SearchSettings().bAnnealFinalML && SearchSettings().fAnnealTemp == 0.0f)
    return MLOptimize(window, report, model);
  return SimplexPasses(window, report, false, model);
}
}  // namespace

FitOutcome FitDriver(Window* window, FitMethod method, FitReport& report, const ModelFunction& model) {
  const SpeciesAtStart start = TakeSpeciesAtStart();
  StartFitOnSettingsGrid();
  const FitOutcome searched = RunSearch(window, method, report, model);
  report.undeterminedSpecies.clear();
  report.implausibleSpecies.clear();
  report.heldMeniscusGain = report.heldMeniscusShift = 0.0;
  if (searched == FitOutcome::Completed && !report.stoppedBeforeResult) {
    const FitAccess access = DiscreteFitAccess(window, model);
    CheckFittedSpecies(access, report);
    NoteValuesAtBound(report, FloatedValuesAtLimit(report.undeterminedSpecies));
    // The score of the held meniscus means what it says only at a minimum of the
    // other values: an end that converged, inside its bounds.
    if (report.converged && report.localStepGain == 0.0 && report.gridRefined == 0 && report.atBound.empty())
      CheckHeldMeniscus(access, report);
  }
  const FitOutcome outcome = NoteRefusedTrials(report, searched);
  NoteSystematicMisfit(report, outcome, start);
  report.searchConverged = report.converged;
  SayFitEnd(report, outcome);
  KeepLastFitEnd(outcome, report);
  return outcome;
}

FitOutcome SimulatedAnnealingFit(Window* window, FitReport& report, const ModelFunction& model) {
  SearchSettings().fAnnealTemp = SearchSettings().fAnnealStartTemp;
  FitState().nFitIteration = 0;
  if (!CheckFitPrerequisites(window)) return FitOutcome::NotStarted;
  bool interrupted = false;
  {
    Local().eRunningSearch = FitMethod::Annealing;
    RunningFit fit(window, report, model);
    FitObjective& objective = fit.Objective();
    const int n = GetFloatingExtraParams(0, nullptr);
    if (n == 0) return NothingFloated(report);
    SimplexSet s(n);
    std::vector<float> pb(Idx(n) + 1, 0.0f);
    GetFloatingExtraParams(n, s.p[1].data());
    std::vector<FitBounds> bounds(Idx(n) + 1);
    GetFloatingExtraBounds(n, bounds.data());
    objective.HoldWithin(AnnealBox(s.p[1], bounds));
    objective.PlanEvaluations(AnnealEvaluations(n));
    InitSimplex(s);
    EvaluateVertices(s, objective, true);
    const int lo = s.Lowest();
    float yb = s.y[Idx(lo)];
    SetFloatingExtraParams(s.p[Idx(lo)].data());
    GetFloatingExtraParams(n, pb.data());  // the best point after its bounds
    Simplex().nAnnealSeed = -3;
    ran1(Simplex().nAnnealSeed);
    for (int k = 0; k < SearchSettings().nAnnealTemps && !FitState().bFitInterrupted; ++k) {
      ++FitState().nFitIteration;
      FitState().nFitStep = 0;
      int iter = SearchSettings().nAnnealIters;
      SearchSettings().fAnnealTemp = AnnealTemperature(k, SearchSettings().nAnnealTemps, SearchSettings().fAnnealStartTemp);
      amebsa(s, SearchSettings().fAnnealTemp, pb, yb, kSimplexFtol, std::ref(objective), iter, ShowBestVertex);
      if (iter > 0) {  // converged before its budget was spent
        report.converged = true;
        break;
      }
    }
    interrupted = fit.TakeInterrupt(false);
    if (interrupted) report.converged = false;
    objective.HoldWithin({});
    // The end of the fit is that of its final method when one follows: a refused
    // vertex of the annealing's last simplex says nothing of where the fit ends.
    const bool finalMethod = !interrupted && (SearchSettings().bAnnealFinalML || SearchSettings().bAnnealFinalSimplex);
    if (!finalMethod && TouchesRefused(s, interrupted, objective.Refused())) {
      report.converged = false;
      fit.NoteRefusal(kFitEndedNextToRefusedText);
    }
    // Without a final method the annealing's end is checked (no rounds to go on).
    if (!finalMethod && !interrupted) {
      int rounds = kEndCheckRounds;
      EndGrid grid{kGridCheckRounds, false};
      if (CheckSearchEnd(objective, pb, report, rounds, true, grid) == EndCheck::Interrupted)
        interrupted = fit.TakeInterrupt(false);
    }
    // The model of the best point ever evaluated.
    if (EvaluateBestPoint(EndPoint(pb.data(), objective, interrupted), objective, report)) interrupted = true;
  }
  SearchSettings().fAnnealTemp = 0.0f;
  FitOutcome outcome = interrupted ? FitOutcome::Interrupted : FitOutcome::Completed;
  // An interrupted annealing does not go on to its final method.
  if (!interrupted && (SearchSettings().bAnnealFinalML || SearchSettings().bAnnealFinalSimplex))
    outcome = RunSearch(window, FitMethod::Annealing, report, model);
  SearchSettings().fAnnealTemp = SearchSettings().fAnnealStartTemp;
  return outcome;
}

int AnnealEvaluations(int n) { return n + 1 + std::max(SearchSettings().nAnnealTemps, 0) * (std::max(SearchSettings().nAnnealIters, 0) + n + 1); }

std::vector<FitBounds> AnnealBox(const std::vector<float>& v, const std::vector<FitBounds>& bounds) {
  std::vector<FitBounds> box(v.size());
  for (std::size_t i = 1; i < v.size(); ++i) {
    const FitBounds b = i < bounds.size() ? bounds[i] : FitBounds::None();
    const float x = b.Clamp(v[i]);
    const float m = std::fabs(x);
    if (m == 0.0f || !std::isfinite(m)) {
      box[i] = b;
      continue;
    }
    FitBounds held = b.lo >= 0.0f ? FitBounds::Within(x / (1.0f + kAnnealReach), x * (1.0f + kAnnealReach))
                                  : FitBounds::Within(x - kAnnealReach * m, x + kAnnealReach * m);
    held.lo = std::max(held.lo, b.lo);
    held.hi = std::min(held.hi, b.hi);
    held.magnitude = b.magnitude;
    box[i] = held;
  }
  return box;
}

FitOutcome MLOptimize(Window* window, FitReport& report, const ModelFunction& model) {
  if (!CheckFitPrerequisites(window)) return FitOutcome::NotStarted;
  Local().eRunningSearch = FitMethod::Marquardt;
  RunningFit fit(window, report, model);
  FitObjective& objective = fit.Objective();
  const int n = GetFloatingExtraParams(0, nullptr);
  if (n == 0) return NothingFloated(report);
  FitPointsTarget target(std::ref(objective), objective.Points());
  MLWorkSet w;
  if (!AllocMLArrays(w, n, target.Points())) {
    report.message = ErrorBoxMessage(kMLAllocationText);
    return FitOutcome::Failed;
  }
  int i = 0;
  for (const ExtraValue& e : kExtras)
    if (e.present()) {
      ++i;
      w.derivFactor[Idx(i)] = e.derivFactor;
      w.derivStep[Idx(i)] = ModelFlags().bFitMAndS ? e.derivStepMb : e.derivStep;
    }
  GetFloatingExtraBounds(n, w.bounds.data());
  std::vector<float> p(Idx(n) + 1, 0.0f);
  GetFloatingExtraParams(n, p.data());
  // The progress line over the derivatives of each iteration, at the top left.
  CProgressLine progress;
  const bool showProgress = window && !bBatchMode;
  if (showProgress) {
    progress.Show(*window, 10, 10);
    w.progress = [&progress, window](float fraction) {
      progress.fValue = 0.0f;  // every derivative pass draws the line anew
      progress.Update(fraction, *window);
    };
  }
  w.chiSquareUnit = ChiSquareUnit;
  MLEnd end = MLFit(w, target, p.data());
  // The end's grid (the step from the end is Marquardt-Levenberg's own).
  EndGrid grid;
  for (int rounds = 0; end == MLEnd::Converged && !FitState().bFitInterrupted;) {
    const EndCheck check = CheckSearchEnd(objective, p, report, rounds, false, grid);
    if (check != EndCheck::GoesOn) break;
    end = MLFit(w, target, p.data());
  }
  if (end == MLEnd::Converged) report.localStepGain = w.endStepGain;
  bool interrupted = fit.TakeInterrupt() || end == MLEnd::Interrupted;
  // The values of the last accepted step; a fit that did not converge says so.
  if (!interrupted && end == MLEnd::Refused)
    fit.NoteRefusal(w.nextToRefused ? kFitEndedNextToRefusedText : kFitCannotGoOnText);
  if (!interrupted && end == MLEnd::IterationLimit && !report.message.errorBox)
    report.message = ErrorBoxMessage(Format(kFitIterationLimitText, nMLIterMax));
  report.converged = !interrupted && end == MLEnd::Converged;
  // The model of the last accepted parameters.
  if (EvaluateBestPoint(EndPoint(p.data(), objective, interrupted), objective, report)) interrupted = true;
  if (showProgress) progress.Hide(*window);
  // The covariance exists only after an iteration that ran to its end.
  if (!interrupted && end != MLEnd::Refused) {
    // The covariance scaled by the fit's own noise: its errors are standard errors.
    const std::vector<std::vector<double>> covariance = MLCovariance(w);
    report.saved.Add(WriteMLReport(covariance, w.n, p.data()));
    // The errors of the covariance report, by the slot of each value floated.
    report.paramErrors.assign(static_cast<std::size_t>(nModelParams) + 1, 0.0);
    report.paramValues.assign(AnalysisSwitches().pParams, AnalysisSwitches().pParams + nModelParams + 1);
    int i = 0;
    ForEachFloatedValue([&](const ExtraValue&) { ++i; },
                        [&](int k) {
                          ++i;
                          const double var = i <= w.n ? covariance[Idx(i)][Idx(i)] : 0.0;
                          report.paramErrors[static_cast<std::size_t>(k)] = var > 0.0 ? std::sqrt(var) : 0.0;
                        });
  }
  return interrupted ? FitOutcome::Interrupted : FitOutcome::Completed;
}

std::optional<double> LastFitError(int slot) {
  const FitReport& report = LastFitEnd().report;
  const std::vector<double>& errors = report.paramErrors;
  const auto i = static_cast<std::size_t>(slot);
  // An error belongs to the value the fit ended at, not to one changed since.
  if (slot < 0 || i >= errors.size() || i >= report.paramValues.size() || !(errors[i] > 0.0) ||
      report.paramValues[i] != AnalysisSwitches().pParams[i])
    return std::nullopt;
  return errors[i];
}

SpeciesErrors LastFitSpeciesErrors(int k) {
  // The slots of the parameter vector: D or M 1-4, s 5-8, loading 9-12.
  return {LastFitError(nSpeciesSlots + k), LastFitError(k), LastFitError(2 * nSpeciesSlots + k)};
}

bool ParamEntryFloated(int k) { return EntryFloated(k); }

void ResetFitDriver() {
  SearchSettings().fAnnealStartTemp = SearchSettings().fAnnealTemp = 2.0f;
  SearchSettings().nAnnealTemps = 10;
  SearchSettings().nAnnealIters = 500;
  SearchSettings().bAnnealFinalML = true;
  SearchSettings().bAnnealFinalSimplex = false;
  SearchSettings().fSimplexRandomization = 0.01f;
  SearchSettings().bCoarseGridFirst = false;
  Local().eRunningSearch = FitMethod::Simplex;
  ForgetLastFit();
}

}  // namespace tarmic
