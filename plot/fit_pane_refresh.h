// The refresh of the main window's panes while a fit runs: the window installs the
// painters of its panes, and the fit asks for a refresh after each step; the
// preferences (data_plots.h) choose the panes and the shortest interval. It draws
// the residual bitmap too, so it lies above the data plots and the bitmap.
#pragma once

#include <functional>

namespace tarmic {

class Window;

// The panes of the main window, installed by the window; a missing painter is
// skipped.
struct FitPanePainters {
  std::function<void(Window&)> drawDataPane;
  std::function<void(Window&)> drawResidualPane;
  std::function<void(Window&)> drawDistributionPane;
};
void SetFitPanePainters(FitPanePainters painters);
const FitPanePainters& GetFitPanePainters();
// During a fit: repaints the panes chosen by the preferences, at most once per
// fMaxUpdateInterval (the first call always repaints).
void RefreshFitPanesTimed(Window& window);

}  // namespace tarmic
