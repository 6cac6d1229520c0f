// The status display of a running refinement of a continuous-distribution model:
// eight text lines in the upper left of the main window (search state, rmsd, model
// parameters, bottom or lamella, meniscus, discrete component or buffer, vbar,
// fluorescence corrections) and the distribution plot following the best solution.
#pragma once

#include <array>
#include <string>

namespace tarmic {

class Window;

// The lines in display order (the first by the search of eFitSearch, fit_state.h): status, rmsd, model, bottom or lamella, meniscus,
// discrete component or buffer, vbar, fluorescence (an empty string draws nothing).
// After a refinement the status line names the values that stand at a limit
// (AtLimitNote, fit_result_text.h).
std::array<std::string, 8> ContiStatusLines();
// Rows (pixels) of the lines at x = 10.
inline constexpr int kContiStatusRows[8] = {70, 90, 110, 130, 150, 170, 190, 210};

// When the rmsd of the last evaluation beats the start and the best rmsd so far it
// becomes the best, the fit rows and the distribution are taken from the last
// solve and the distribution plot is redrawn; then the lines are drawn (nothing is
// drawn without a window).
void DisplayBestContiParams(Window* window);

}  // namespace tarmic
