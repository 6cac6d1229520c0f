// The outcome of a Run or Fit of the loaded data as one value: whether the model of
// the data was computed and, for a fit, whether it converged and why not, the
// values that stand at their bounds, the misfit estimate and the notes of its end
// as records with an id. The window shows the same facts in its boxes and its
// result text; a reader without a window (tarmic-batch) takes them from here and
// matches no wording.
#pragma once

#include <string>
#include <vector>

#include "modelcalc/fit_report.h"

namespace tarmic {

struct AnalysisOutcome {
  enum class Status {
    NotComputed,   // no model of the loaded data is on show
    Computed,      // the model is computed (a fit: it converged)
    NotConverged,  // a fit with a result that did not end converged
  };
  Status status = Status::NotComputed;
  bool fit = false;
  std::string whyNotConverged;        // WhyNotConverged; "" when converged or no fit
  // How a fit ended as a word of a table (FitEndStatus: "computed", "at a bound",
  // "not converged", "systematic misfit"); "" when no fit was computed.
  std::string fitEnd;
  std::vector<std::string> atBounds;  // floated values at an end of their bounds ("Meniscus = 5.97")
  double misfitRatio = 0.0;           // rmsd over the noise of the residuals; 0: no estimate
  bool systematicMisfit = false;
  // The command showed an error while it computed (a model value with no
  // solution, say): what it left is no result, whatever the status.
  bool errorShown = false;
  std::vector<OutcomeMessage> messages;  // the notes of the fit's end
};

// The outcome of the Run (fit false) or the Fit just done on the loaded data; a fit
// is judged by its end kept in LastFitEnd.
AnalysisOutcome OutcomeOfComputation(bool fit);

// The status as a word of a table: "computed", "not computed", "not converged".
const char* OutcomeStatusName(AnalysisOutcome::Status status);

// The outcome of a save: whether the whole set was written, and the files.
struct SaveOutcome {
  bool saved = false;
  std::vector<std::string> written;
};

}  // namespace tarmic
