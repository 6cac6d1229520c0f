#include "distributions/conti_grid_setup.h"

#include <utility>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_plot.h"

namespace tarmic {

bool SetupContiGrid(const AnswerPolicy& answers, std::string* error) {
  auto& distributionPlotPart = DistributionPlot();
  std::string ignored;
  if (!error) error = &ignored;
  // Refused settings change nothing: the previous result stays on show.
  if (std::string refusal = ContiGridSettingsRefusal(); !refusal.empty()) {
    *error = std::move(refusal);
    return false;
  }
  // 1. The previous distribution goes, without laying the other plots out again.
  distributionPlotPart.bRelayoutOnClear = false;
  ClearDistribution();
  distributionPlotPart.bRelayoutOnClear = true;
  // 3. to 6. The grid, its vectors and prior.
  if (!BuildContiGridPoints(answers, error)) return false;
  // 7. The plot.
  SetupDistributionPlot();
  // 8. and 9. Kernels, workspace and the models' tables.
  return AllocContiGridWorkspace(error);
}

}  // namespace tarmic
