// What every fit hands up, discrete (fit_driver.h) or continuous (conti_fit.h):
// its method and outcome, its report (messages, refused trial points, convergence),
// the notes said once after it, the end of the last fit for the batch, and the
// Marquardt-Levenberg view of the fit points both fits search with. The two fits
// depend on this file, not on each other. Main thread only.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "distributions/run_message.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/save_result.h"
#include "modelcalc/marquardt.h"
#include "modelcalc/simplex.h"
#include "services/outcome_message.h"

namespace tarmic {

enum class FitMethod { Simplex, Annealing, Marquardt };
enum class FitOutcome {
  NotStarted,   // prerequisites missing (shown by the check, or in FitReport::message)
  Completed,    // ran to its end (or nothing was floated); the best point is applied and computed
  Interrupted,  // stopped by the user; the best point found is applied and computed
  Failed,       // the work arrays could not be had (FitReport::message says why)
};
// The trial points of one running fit (discrete or continuous) whose model was
// refused, and the first refusal's reason. The object that runs the fit keeps them;
// its report takes them when the fit ends.
struct RefusedTrials {
  int count = 0;
  std::string reason;
  void Add(const std::string& why) {
    if (count++ == 0) reason = why;
  }
  void Add(const RefusedTrials& other) {
    if (count == 0 || reason.empty()) reason = other.reason;
    count += other.count;
  }
};

// What a fit hands up besides its outcome, for the command to show once.
struct FitReport {
  // Why the fit did not start or failed, or the message its one run ended with
  // (a refinement with nothing floated runs once, as the Run command does).
  RunMessage message;
  bool simplexNotConverged = false;  // a Nelder-Mead call ended at its evaluation limit
  SaveResult saved;                  // the first parameter save of the fit that failed
  // A key stopped the computation of the result (the model of the best point, or
  // the one run of a refinement with nothing floated): no model of the best point
  // is shown (outcome Interrupted).
  bool stoppedBeforeResult = false;
  // The trial points of the fit's searches whose model was refused
  // (NoteRefusedTrials says them once after the fit).
  RefusedTrials refused;
  // The last search of the fit ended by its convergence test (the simplex passes,
  // Marquardt-Levenberg, the refinement's cycles); the note of refused trial points
  // says so only then.
  bool converged = false;
  // What the search's own convergence test said before the check of its end, which
  // clears converged when it finds anything (FitDriver and ContiFit keep it here
  // before they say the end): a flagged fit tells a search that converged at a
  // bound from one that did not converge at all (fit_flags.h).
  bool searchConverged = false;
  // The rmsd of the result over the noise estimated from its residuals (fit_misfit.h;
  // 0 when no estimate was made), the standardised statistic of the test of a
  // systematic misfit (0 when it did not run), and whether the test found one: the
  // model misses the data or the fit ended in a local minimum (its note says so). Set
  // by FitDriver.
  double misfitRatio = 0.0;
  double misfitZ = 0.0;
  bool systematicMisfit = false;
  // The standard errors of a Marquardt-Levenberg fit that ended normally, by slot of
  // pParams: the square roots of the diagonal of its covariance scaled by the fit's
  // own noise (MLCovariance; the values of its covariance report); empty otherwise,
  // and 0 for slots the fit did not float.
  std::vector<double> paramErrors;
  // The values of pParams those errors belong to (the fit's end point).
  std::vector<float> paramValues;
  // The notes of the fit's end as records, in order, in batch mode as well (where
  // message stays empty): the systematic misfit and what it names, the trial points
  // the fit went round.
  std::vector<OutcomeMessage> notes;
  // What the check of the search's end found (fit_end_check.h): the floated values
  // that ended at a physical limit ("name = value"); the lowering of the sum of squares
  // (units of chi-square) that a step from the end still found after the search went
  // on from such steps; the node factor a finer grid needed at the end values that the
  // fit could not settle on (0: none). Each makes the fit not converged.
  std::vector<std::string> atBound;
  double localStepGain = 0.0;
  int gridRefined = 0;
  // What the check of the species found (fit_species_check.h): the species slots the
  // data do not determine (their values, and bounds they stand at, are no result),
  // and species whose values lie where the data cannot show them, each with what is
  // said of it ("species 2 sedimented before the first scan (s = 270 S)"). Flags of
  // the fit; neither makes it not converged.
  std::vector<int> undeterminedSpecies;
  // A meniscus the fit held that the data place elsewhere (fit_species_check.h): the
  // score statistic (units of chi-square) and the meniscus' own step towards where
  // the data place it (cm); 0 when the test did not find it.
  double heldMeniscusGain = 0.0;
  double heldMeniscusShift = 0.0;
  // The simplex ends that the surface of its points placed and a restart from a fresh
  // simplex confirmed (the simplex passes of the discrete fit).
  int confirmedByRestart = 0;
  std::vector<std::pair<int, std::string>> implausibleSpecies;
};
// Whether a fit ended converged: it ran to its end (not interrupted, not failed),
// the model of its result is computed, its last search ended by its convergence
// test (FitReport::converged), no Nelder-Mead call of it ended at its
// evaluation limit, and the check of its end found nothing (no value at a bound, no
// lower point a step from the end, no finer grid). The one judgement of
// convergence: every search fills the report it reads.
bool FitConverged(FitOutcome outcome, const FitReport& report);
// Why a fit did not end converged, as the id of the first reason FitConverged
// finds ("not-started", "interrupted", "failed", "stopped-before-result",
// "evaluation-limit", "no-convergence-test", "at-bound", "lower-point-near-the-end",
// "finer-grid-needed"); "" when it converged.
std::string WhyNotConverged(FitOutcome outcome, const FitReport& report);
// The end of the last fit that the discrete or the continuous fit ran to its end, whatever its
// search: its outcome and report, kept so that a caller of the Fit command (the
// batch) can judge it. Outcome NotStarted before any fit and after ForgetLastFit.
// Main thread only.
struct FitEnd {
  FitOutcome outcome = FitOutcome::NotStarted;
  FitReport report;
};
const FitEnd& LastFitEnd();
void KeepLastFitEnd(FitOutcome outcome, const FitReport& report);
void ForgetLastFit();
// The end of a search with nothing floated: the values stand as they are, which is
// their own convergence (Completed, converged).
FitOutcome NothingFloated(FitReport& report);
// The note of a fit stopped by a key while it computed the model of its best point.
inline constexpr const char* kFitStoppedBeforeModelText =
    "fit interrupted: the best parameters found so far are set, but the key stopped the "
    "computation of their model: no fit is shown (Run computes it)";
// The notes of a fit that met parameters whose model was refused; the refusal's
// reason follows each.
inline constexpr const char* kFitEndedNextToRefusedText =
    "The fit did not converge: it ended next to parameters whose model was not computed, "
    "so the values found may not be the best fit.";
inline constexpr const char* kFitCannotGoOnText =
    "The fit did not converge: it stopped at the best values found so far, because the "
    "model next to them was not computed and the fit could not go on.";
inline constexpr const char* kFitResultNotComputedText =
    "The fit has no result: the model of the best values found was not computed.";
// Marquardt-Levenberg ended at its iteration limit.
inline constexpr const char* kFitIterationLimitText =
    "The fit did not converge: Marquardt-Levenberg reached its limit of %d iterations; the "
    "values of its last accepted step are shown.";
// The simplex passes ended at their limit of restarts.
inline constexpr const char* kSimplexRestartLimitText =
    "The fit did not converge: the simplex was restarted %d times from its best vertex and "
    "still moved; the best values found are shown.";
// The note of a fit that went round trial points whose model was refused (an
// information box, not an error): "%d" is their count; the convergence sentence
// follows only when the fit's last search ended by its convergence test, then the
// reason.
inline constexpr const char* kFitWentRoundRefusedText =
    "%d trial points of the fit could not be computed; the fit went round them.";
inline constexpr const char* kFitWentRoundOneRefusedText =
    "One trial point of the fit could not be computed; the fit went round it.";
inline constexpr const char* kFitConvergedText = " The fit converged by its convergence test.";
// The end of a fit of either kind (discrete or continuous): when it met refused
// trial points, has a result and has said nothing of them, the information note
// with the first reason goes into report.message (once: a note there is kept).
// Returns outcome.
FitOutcome NoteRefusedTrials(FitReport& report, FitOutcome outcome);
// The message of simplexNotConverged.
inline constexpr const char* kSimplexNotConvergedText = "Nelder-Mead not converged";


// The Marquardt-Levenberg view of a fit: the objective computes the whole model, and
// the model values are the fit rows ppFit at the fit points of the data (ppSignal)
// it is given (the current analysis' unless said).
class FitPointsTarget : public MLTarget {
 public:
  explicit FitPointsTarget(SimplexObjective objective);
  FitPointsTarget(SimplexObjective objective, const FitPointsData& points);
  // False once the fit is interrupted.
  bool Evaluate(const float* p) override;
  std::size_t Points() const override { return points_; }
  void Values(double* model, double* data) const override;
  // The objective returned kNoModelRmsd: the parameters have no model.
  bool Refused() const override { return refused_; }

 private:
  SimplexObjective objective_;
  FitPointsData data_;
  std::size_t points_ = 0;
  bool refused_ = false;
};

}  // namespace tarmic
