// The fit of the discrete-species models (every model computed by CalculateModel):
// prerequisites, the fit vector of all floated values, the objective SimplexSim,
// and the three searches: repeated Nelder-Mead passes until parameters and rmsd
// settle, simulated annealing followed by the chosen final method, and
// Marquardt-Levenberg.
//
// The fit vector (one-based) holds the floated extra values first, in this order
// and each only when floated: cone radius of the excitation shadow, signal drift
// (%/h), radial convolution width, magnification gradient 1+da/dr, nonlinear-
// detection power coefficient, buffer signal (amplitudes not solved linearly),
// buffer D (1e-7 cm^2/s) or Mb (g/mol, with "fit M and s"), buffer s (S), meniscus
// difference s-r (cm), relative concentration s/r, reference D or Mb, reference s;
// then every pParams entry k (1..34) whose fit switch is set, in increasing k.
// GetFloatingExtraParams and SetFloatingExtraParams are the one packer and
// unpacker of this vector, used by every search. Each value has bounds (its
// FloatingExtra's, ParamEntryBounds for the entries): the unpacker holds it to them,
// and Marquardt-Levenberg reads the same bounds (GetFloatingExtraBounds) so that it
// never steps or differences past them.
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "distributions/conti_run.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/fit_report.h"
#include "modelcalc/fit_species_check.h"
#include "modelcalc/marquardt.h"
#include "modelcalc/model_steps.h"
#include "modelcalc/simplex.h"
#include "modelcalc/trial_point_guard.h"

namespace tarmic {

class Window;

// ---- fit settings ----
// The state of this module in an analysis (numerics/analysis.h).
struct SearchSettingsState {
  float fAnnealStartTemp = 2.0f;  // start temperature: relative increase of the rmsd (2.0)
  float fAnnealTemp = 2.0f;  // temperature of the running step; 0 while the final method runs
  int nAnnealTemps = 10;  // temperature steps (10)
  int nAnnealIters = 500;  // evaluation budget per temperature (500)
  bool bAnnealFinalML = true;  // after annealing: Marquardt-Levenberg (on)
  bool bAnnealFinalSimplex = false;  // after annealing: the simplex passes (off)
  float fSimplexRandomization = 0.01f;  // relative width of the start-simplex perturbation (0.01)
  bool bCoarseGridFirst = false;  // first simplex pass on half the Lamm grid (off)
  bool bSaveBestParams = true;
};
inline SearchSettingsState& SearchSettings() { return CurrentPart<SearchSettingsState>(); }
// Tolerance of each Nelder-Mead call.
inline constexpr float kSimplexFtol = 0.0005f;

// The fits save their parameters (TmpSaveBestParams) when they end (on).

// How a fit computes the model of a point: CalculateModel, unless the caller (a test
// of the searches) supplies its own.
using ModelFunction = std::function<ModelResult(Window*)>;

// One extra value of the fit vector: when it is floated, how it is read and written,
// its bounds, its name in the fit-result text (with "fit M and s" where that
// differs), its derivative factor and absolute derivative value (the latter with
// "fit M and s" where that differs), and whether a reference value 0 counts as
// settled only within a tenth of the tolerance.
struct FloatingExtra {
  bool (*present)();
  float (*get)();
  void (*set)(float);  // stores a value within bounds()
  FitBounds (*bounds)();
  const char* name;
  const char* nameMb;  // null: name
  double derivFactor, derivStep, derivStepMb;
  bool fineAtZero;

  // Stores v held to the bounds: the one way a fit writes the value.
  void Apply(float v) const { set(bounds().Clamp(v)); }
  const char* Name() const;
};
// The extra values in the order of the fit vector (the continuous-model refinement
// floats the same values).
std::span<const FloatingExtra> FloatingExtras();

// A fit may start: scans and fit limits exist ("load data first"), meniscus and
// bottom are set ("set meniscus and bottom first"); fit limits of 0 or outside the
// cell are moved to meniscus and bottom with their messages. DLS data skip the
// geometry.
bool CheckFitPrerequisites(Window* window);

// Writes the values it is given into out[1..max] in turn (out may be null) and
// counts them: the packers of the fit vectors and of their bounds.
template <class T>
struct FitVectorWriter {
  int max;
  T* out;
  int n = 0;
  void operator()(const T& v) {
    ++n;
    if (out && n <= max) out[n] = v;
  }
};

// Writes the current fit vector into out[1..max] (out may be null) and returns its
// length.
int GetFloatingExtraParams(int max, float* out);
// Applies a fit vector with the bounds of each value (the model variables follow
// through UnpackModelParams); nothing when values is null.
void SetFloatingExtraParams(const float* values);
// The bounds SetFloatingExtraParams holds each value of the fit vector to, into
// out[1..max]; returns the length of the vector.
int GetFloatingExtraBounds(int max, FitBounds* out);
// The bounds a fit holds pParams entry k to when it is floated.
FitBounds ParamEntryBounds(int k);

// The floated values of the discrete fit that stand at an end of their bounds, as
// "name = value" (the fit-result text names them).
std::vector<std::string> FloatedValuesAtLimit(const std::vector<int>& speciesLeftOut = {});

// The discrete fit as the checks of its end see it (fit_species_check.h): the model
// function (CalculateModel when empty), the objective FitObjective, the fit vector.
FitAccess DiscreteFitAccess(Window* window, const ModelFunction& model);

// Fills vertices 2..n+1 from vertex 1 by Gaussian perturbations: relative width
// fSimplexRandomization, meniscus and bottom a third of their fit ranges, with the
// sign and range rules of each pParams entry.
void InitSimplex(SimplexSet& s);

// The objective of one fit of the discrete-species model, the one evaluation every
// search of it makes: applies the vector, computes the model (by the fit's model
// function), polls the keyboard (a key interrupts the fit) and returns the rmsd.
// Returns kNoModelRmsd without computing once the fit is interrupted, and for
// parameters whose model the solver refused (also after its refinement): their
// messages are held, the refusal is counted in the fit's RefusedTrials, and the
// fit's end says the reason once when it matters (FitReport::message: the fit ended
// next to such points, could not go on, or its best point has no model).
// A trial point the fit's TrialPointGuard refuses (a value no number, or absurdly
// far from the fit vector at construction) returns kNoModelRmsd before anything is
// applied or computed, and is no refused trial.
// The rmsd is taken over the fit points it is given (FitPointsData, fit_rmsd.h: the
// current analysis' unless said), built once when the objective is made.
class FitObjective {
 public:
  explicit FitObjective(Window* window, ModelFunction model = {});
  FitObjective(Window* window, ModelFunction model, const FitPointsData& points);
  float operator()(const float* p);
  const RefusedTrials& Refused() const { return refused_; }
  // The last evaluation was stopped by a key (its model is unfinished).
  bool ModelStopped() const { return modelStopped_; }
  // Every point evaluated with a finished model, for the restarts' surface.
  const EvaluatedPoints& Evaluated() const { return evaluated_; }
  void ForgetEvaluated() { evaluated_.Clear(); }
  // The best point of the fit so far (one-based): the start, the state on show,
  // from the first evaluation on (its rmsd `startRmsd`, kNoModelRmsd when no model
  // of it is on show), then every point evaluated with a finished model that was
  // lower. A stopped fit ends there, never worse than it started.
  void TakeStartAsBest(float startRmsd) { bestRmsd_ = startRmsd; }
  // Holds every trial point to box[1..n] before it is applied (annealing's region of
  // known cost); empty: no box.
  void HoldWithin(std::vector<FitBounds> box) { box_ = std::move(box); }
  // The evaluations a search of known length plans (annealing's schedule,
  // AnnealEvaluations), for its status line.
  void PlanEvaluations(int n) { plannedEvaluations_ = n; }
  const std::vector<float>& Best() const { return best_; }
  float BestRmsd() const { return bestRmsd_; }
  // The last evaluation was of p (one-based, as given), its model finished and
  // computed on the grid in force (its nodes and refinement): that model is on show.
  bool OnShow(const float* p) const;
  // The fit points the rmsd is taken over.
  const FitPointsData& Points() const { return points_; }

 private:
  Window* window_;
  ModelFunction model_;
  FitPointsData points_;
  RefusedTrials refused_;
  EvaluatedPoints evaluated_;
  bool modelStopped_ = false;
  int n_ = 0;  // length of the fit vector
  TrialPointGuard guard_;
  std::vector<float> best_;
  std::vector<float> last_;  // the point of the model on show; empty: none finished
  int lastRefinement_ = 0, lastNodes_ = 0;  // the grid last_ was computed on
  float bestRmsd_ = kNoModelRmsd;
  std::vector<FitBounds> box_;
  std::vector<float> held_;  // the trial point held to the box
  int plannedEvaluations_ = 0;
};
// One evaluation as a fit's objective makes it, outside any fit's count.
float SimplexSim(const float* p, Window* window);

// Relative change of a value between two passes: |new - old| / |old|, or |new| when
// old is 0 (the passes end when no value changes by more than fRefitTolerance).
double RefitRelativeChange(double oldValue, double newValue);

// The simplex passes of the refits of the error analyses: as FitDriver's simplex,
// but a pParams entry counts as moved between passes only as the refits count it
// (from 0 above fRefitTolerance; from above 0.001 by more than 0.001 and by more
// than fRefitTolerance relative; never at or below 0.001).
FitOutcome RefitPasses(Window* window, FitReport& report);
// The fit of the chosen method (annealing at temperature 0 runs its final method).
// What the command is to show besides the outcome goes into report: after the
// search the note of refused trial points (NoteRefusedTrials), then that of a
// systematic misfit (NoteSystematicMisfit, fit_misfit.h).
// The model of each point is computed by `model` (empty: CalculateModel).
FitOutcome FitDriver(Window* window, FitMethod method, FitReport& report,
                     const ModelFunction& model = {});
// The annealing schedule, then the final method chosen by bAnnealFinalML /
// bAnnealFinalSimplex. Its evaluations are known before it starts (AnnealEvaluations,
// shown with the count so far) and each costs about what one near the start costs:
// the schedule's trial points are held to the box AnnealBox of the start values (a
// value far out, an s of a thousand S or a D of nearly 0, takes a Lamm solution
// hundreds of times as long, and the hot steps of the schedule walk there).
// The final method searches without the box.
FitOutcome SimulatedAnnealingFit(Window* window, FitReport& report, const ModelFunction& model = {});
// The most evaluations of the schedule for a fit vector of n values: the start simplex
// and each temperature's budget, which a step may overrun by a shrink (n + 1).
int AnnealEvaluations(int n);
// The box of the schedule around the start values v[1..n] within their bounds: a
// value whose range starts at 0 or above within a factor 1 + kAnnealReach of its
// start, any other within kAnnealReach times its magnitude of it (a value 0 is free).
inline constexpr float kAnnealReach = 1.0f;
std::vector<FitBounds> AnnealBox(const std::vector<float>& v, const std::vector<FitBounds>& bounds);
// Marquardt-Levenberg; after a normal end the covariance report (the covariance of
// the values scaled by the fit's own noise, MLCovariance, with each value's standard
// error) is written to "tarmic_ml_covariance.txt" in the program directory (when it
// is known). An end
// that is no convergence (refused neighbours, the iteration limit) is said in
// report.message.
FitOutcome MLOptimize(Window* window, FitReport& report, const ModelFunction& model = {});

// Restores the values of this file to their defaults (tests).
void ResetFitDriver();

// The standard errors of species k's s, D (or M) and loading where the last fit
// computed them (a Marquardt-Levenberg fit that floated the value) and the value is
// still the one the fit ended at; nullopt otherwise.
struct SpeciesErrors {
  std::optional<double> s, massOrD, c;
};
SpeciesErrors LastFitSpeciesErrors(int k);
// The standard error of pParams entry slot on the same terms.
std::optional<double> LastFitError(int slot);
// pParams entry k is in the discrete fit's vector (its fit switch is set, and it is
// not the buffer component's amplitude while the buffer's signal is floated).
bool ParamEntryFloated(int k);

}  // namespace tarmic
