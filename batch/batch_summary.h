// The summary line of a batch run: the data, the model, how the analysis ended and
// its rmsd; a distribution adds its peaks (weight-average position:area, found and
// integrated by the window's peak finder), discrete species their s, D (or M) and
// c, each with the digits the window's report gives them.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

class TXLAWindow;

struct BatchSummary {
  std::vector<std::string> columns;
  std::vector<std::string> values;
};

// The summary of the analysis in effect. Without a computed model only data, model
// and status are filled.
BatchSummary SummarizeAnalysis(TXLAWindow& window, const std::string& data, const std::string& status,
                               bool computed);

// The header line and the line of values, tab-separated, each ending in a newline.
std::string SummaryText(const BatchSummary& summary);

// The name of the active model: its menu text, or the name of a model chosen by a
// parameter file that has no command.
std::string ActiveModelName();

}  // namespace tarmic
