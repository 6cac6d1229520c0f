// The distribution commands of the Data and Copy menus: "Save Continuous
// Distribution", "Copy Distribution Plot" and "Copy Distribution", and the restore
// of a saved distribution.
#pragma once

#include <string>

#include "modelcalc/conti_monte_carlo.h"

namespace tarmic {

class TXLAWindow;

// What the commands on a distribution say when none is on show.
inline constexpr const char* kNoDistributionText = "compute a continuous distribution first (Run)";

// Installs the distribution saved in path as the current one. The file names its
// kind (c(s) or c(M)); when the active model makes distributions of the other kind,
// or none, the model of the file's kind is chosen first ("Continuous c(s)
// Distribution" or "Continuous c(M) Distribution"), so that a saved c(M) comes
// back as c(M). False (reported) when the file is not a saved distribution.
bool RestoreSavedDistribution(TXLAWindow& window, const std::string& path);

// The table of "Copy Distribution": the grid in the plotted unit and the
// distribution (and the second regularisation's when both are shown), one row per
// grid point, tab-separated. Empty without a distribution.
std::string DistributionTableText();

// The result of the last Monte-Carlo command of the window (Monte Carlo for
// Distributions, Monte Carlo for integrated sw) as its computation handed it up;
// empty (not started) until one ran. Main thread only.
const MonteCarloResult& LastMonteCarloResult();

}  // namespace tarmic
