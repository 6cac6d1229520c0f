#include "modelcalc/fit_rmsd.h"

namespace tarmic {

float FitRmsd() {
  auto row = [](const std::vector<float *> &rows) {
    return [&rows](int s) -> const float * {
      const auto u = static_cast<std::size_t>(s);
      return u < rows.size() ? rows[u] : nullptr;
    };
  };
  return static_cast<float>(RmsdOverFitPoints(row(ppSignal), row(ppFit)));
}

} // namespace tarmic
