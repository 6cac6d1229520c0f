// The summary line of a batch run, a table a spreadsheet reads: one value a cell,
// the unit in the column's name. The data and its cell, the model, how the
// analysis ended and its rmsd; the cell's meniscus and bottom with the switches of
// what was fitted (meniscus, bottom, TI and RI noise); a distribution adds its f/f0
// with its switch and the number of its peaks (each in peaks.tsv: PeaksText),
// discrete species their s, D (or M) and c, each with the digits the window's
// report gives them, and with its error where the fit computed one.
#pragma once

#include <string>
#include <vector>

#include "batch/batch_extras.h"
#include "modelcalc/analysis_outcome.h"

namespace tarmic {

// The words of the summary's status column.
inline constexpr const char* kStatusComputed = "computed";            // computed, no flag
inline constexpr const char* kStatusFlagged = "computed with flags";  // computed, its flags in the flags column
inline constexpr const char* kStatusNotComputed = "not computed";
inline constexpr const char* kStatusStopped = "stopped";    // a question came up during the analysis
inline constexpr const char* kStatusNotSaved = "not saved";  // computed, but the results could not be written

// The exit code of a run that ended with the status, its results saved or not:
// 0 computed (kBatchComputed), 3 computed with flags (kBatchComputedWithFlags),
// each only when saved; 1 (kBatchAnalysisRefused) otherwise.
int BatchExitCode(const std::string& status, bool saved);

// The status of a summary's text (its header line and line of values); "" when it
// names none.
std::string SummaryStatus(const std::string& summaryText);

struct BatchSummary {
  std::vector<std::string> columns;
  std::vector<std::string> values;
};

// The summary of the analysis in effect from the outcome of its Run or Fit (cell:
// the scans' cell, -1 when unknown).
// Without a computed model the values of the results are blank; the columns are
// those of the model whatever the status.
BatchSummary SummarizeAnalysis(const AnalysisOutcome& outcome, const std::string& data, int cell,
                               const std::string& status, bool computed);

// peaks.tsv: one line for each peak of the outcome (the peaks the window labels on
// the distribution, their weight-average position and area), with the Monte-Carlo limits of the peak when limits has it, and the
// unit of the positions (S, or g/mol for c(M)). A header line first.
std::string PeaksText(const AnalysisOutcome& outcome, const std::string& data, int cell,
                      const std::vector<MonteCarloPeak>& limits);

// The header line and the line of values, tab-separated, each ending in a newline.
std::string SummaryText(const BatchSummary& summary);

// The name of the active model: its menu text, or the name of a model chosen by a
// parameter file that has no command.
std::string ActiveModelName();

}  // namespace tarmic
