// The outcome of a Run or Fit of the loaded data as one value: whether the model of
// the data was computed and, for a fit, whether it converged and why not, the
// values that stand at their bounds, the misfit estimate and the notes of its end
// as records with an id. The window shows the same facts in its boxes and its
// result text; a reader without a window (tarmic-batch) takes them from here and
// matches no wording.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "modelcalc/fit_report.h"
#include "modelcalc/model_steps.h"

namespace tarmic {

class Window;

// One value of the model the computation used, at its end.
struct OutcomeParameter {
  std::string name;  // as the summary's columns name it: "meniscus", "s1", "D1" or "M1", "c1", "f/f0"
  double value = 0.0;
  std::string unit;  // "cm", "S", "g/mol", "1e-7 cm^2/s", the signal's unit, "fraction"; "" for f/f0
  bool floated = false;
  // The standard error the last fit computed, while the value is still the one the
  // fit ended at (LastFitError); nullopt otherwise.
  std::optional<double> error;
  bool atBound = false;  // floated and at an end of the bounds the fit holds it to
};

// A labelled peak of the distribution on show: its weight-average position and area.
struct OutcomePeak {
  double position = 0.0;
  double area = 0.0;
};

struct AnalysisOutcome {
  enum class Status {
    NotComputed,   // no model of the loaded data is on show
    Computed,      // the model is computed (a fit: it converged)
    NotConverged,  // a fit with a result that did not end converged
  };
  Status status = Status::NotComputed;
  bool fit = false;
  std::string whyNotConverged;        // WhyNotConverged; "" when converged or no fit
  std::vector<std::string> atBounds;  // floated values at an end of their bounds ("Meniscus = 5.97")
  double misfitRatio = 0.0;           // rmsd over the noise of the residuals; 0: no estimate
  bool systematicMisfit = false;
  // The command showed an error while it computed (a model value with no
  // solution, say): what it left is no result, whatever the status.
  bool errorShown = false;
  std::vector<OutcomeMessage> messages;  // the notes of the fit's end
  // The flags of a fit's result (FitFlags: "at a bound: D2 = 0", "not converged",
  // "grid", "misfit"); empty for a fit that ended clean and for a Run. A flagged
  // result is a result: the batch keeps it, with its flags.
  std::vector<OutcomeMessage> flags;
  // The values of the model, whatever the status (a reader blanks them when nothing
  // was computed): meniscus and bottom; a distribution's f/f0; each species that is
  // switched on with its s, D (or M) and loading, and the baseline.
  std::vector<OutcomeParameter> parameters;
  // A distribution's labelled peaks (DistributionPeakList), in the unit peakUnit
  // ("S", or "g/mol" for c(M)); empty for a model without one.
  std::vector<OutcomePeak> peaks;
  std::string peakUnit;
  // The rmsd of the model on show at the fit points (signal minus fit, as the
  // window's rmsd line takes it) and the points it counted; 0 when nothing was
  // computed.
  double rmsd = 0.0;
  long long points = 0;
};

// The outcome of the Run (fit false) or the Fit just done on the loaded data; a fit
// is judged by its end kept in LastFitEnd.
AnalysisOutcome OutcomeOfComputation(bool fit);

// The outcome of a Run, judged on what its computation returned: computed only
// when the computation completed (computed), then with the rmsd of the model it
// left on show; the values of the model either way. A Run that computed nothing
// claims no model, whatever model an earlier computation left on show.
AnalysisOutcome OutcomeOfRun(bool computed);

// A Run of the discrete model as the computation returns it: the model
// computation's result and the outcome judged on it (computed: result.ok()),
// taken before the command puts anything else back on show.
struct RunComputation {
  ModelResult result;
  AnalysisOutcome outcome;
};
// Computes the discrete model of the loaded data with the values in place.
RunComputation RunLoadedData(Window* window);

// A fit of the loaded data as the computation returns it: how the search ended and
// the outcome judged at its end (OutcomeOfComputation(true), the rmsd with it).
struct FitComputation {
  FitOutcome end = FitOutcome::NotStarted;
  AnalysisOutcome outcome;
};
// Fits the loaded data by method: a continuous model refines its nonlinear values
// (ContiFit), a discrete model fits its floated values (FitDriver). A discrete fit
// that did not fail keeps its best values for the next load of these data
// (TmpSaveBestParams, with bSaveBestParams; the refinement saves its own), the save
// said in report.saved. What the command is to show is in report.
FitComputation FitLoadedData(Window* window, FitMethod method, FitReport& report);

// The parameter of that name in o, or null.
const OutcomeParameter* FindParameter(const AnalysisOutcome& o, const std::string& name);

// The unit of the loaded data's signal: OD, fringes or counts.
std::string SignalUnit();

// The status as a word of a table: "computed", "not computed", "not converged".
const char* OutcomeStatusName(AnalysisOutcome::Status status);

// The outcome of a save: whether the whole set was written, and the files.
struct SaveOutcome {
  bool saved = false;
  std::vector<std::string> written;
};

}  // namespace tarmic
