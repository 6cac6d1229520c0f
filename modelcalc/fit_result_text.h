// The fit-result text: a block of status lines drawn in the plot areas of the
// window, clear of the plots' labels (files fitted, search progress, rmsd, the
// model's parameters, meniscus, bottom, fit range, baseline, the start-time or
// non-ideality line, the runs test of the residuals, vbar, buffer-mismatch and
// fluorescence corrections). Lines are built as strings of any length.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/types.h"

namespace tarmic {

class DC;
class Window;

// The slots of the text, top to bottom; ShowFitResultText draws the slots that have
// a line one below the other in the plot areas of the window (see DrawFitResultText).
enum FitTextSlot {
  kSlotFiles, kSlotStatus, kSlotRmsd, kSlotModel1, kSlotModel2, kSlotModel3, kSlotMeniscus,
  kSlotBottom, kSlotRange, kSlotBaseline, kSlotExtra, kSlotRuns, kSlotVbar, kSlotCorrections,
  kFitTextSlots
};
using FitTextLines = std::array<std::string, kFitTextSlots>;

// The lines of the fit-result text from the current state (after UnpackModelParams
// the fit drivers keep the vector current). The extra slot is empty unless the
// start time is fitted or the multiple-species non-ideal model is active.
FitTextLines BuildFitResultLines();
// The shorter block of DrawBestFitInfo (empty lines for the slots it leaves out).
FitTextLines BuildBestFitInfoLines();

// The lines that describe a continuous distribution model in the fit-result text
// (the regularisation heading when there is one, then the model's settings such as
// the fitted frictional ratio), without trailing blanks; empty for every other
// model, the boundary analyses and ls-g*(s) included.
std::vector<std::string> ContinuousModelLines();
// The line of a continuous model's own settings (frictional ratio, D, shape values,
// scaling law, ...); with sizeShapeRange the c(s,ff0) models give their s range.
std::string ContinuousModelSettingsLine(bool sizeShapeRange);

// The note on the floated values that stand at an end of their bounds after a fit:
// "Meniscus = 5.97 stands at its limit: no free optimum" (with several values
// "... stand at their limits ..."), for the continuous models their refinement's
// values; empty when there are none or while a fit runs. The status line of the
// text carries it.
std::string AtLimitNote();

// The rmsd of the fit on show, "rmsd=%f (n=%.0f,SSR=%f)", taken anew from its rows
// (fFitRmsd and fFitPoints are set); kNoFitOfLoadedDataText instead when the fit
// is not one of the loaded data (FitOfLoadedData), NoFitPointText() when no data
// point lies inside the fitting limits (a fit over no point has no rmsd, and 0
// would read as a perfect fit). The runs-test line is empty without a fit of the
// loaded data.
std::string RmsdLine();
// That no data point of the fitted scans lies inside the fitting limits (named).
std::string NoFitPointText();

// Builds the lines and draws them on the window; nothing when no scans are loaded.
// While a fit improves on its start, the best rmsd is updated first.
void ShowFitResultText(Window* window);
// The same lines drawn on dc in client pixels (whatever its mapping) for a client
// area of that size, without showing the window: the window's paint draws them on
// its own device context. The lines fill the plot areas of the panes shown, top to
// bottom (FitTextRegions, FlowTextLines): in a small window they continue in the
// residual and distribution panes, and a line too wide is broken, so that the block
// covers no tick label, axis title, residual bitmap or on-plot button.
void DrawFitResultText(DC& dc, Size client);
// Draws the shorter block into any context whose logical units are the window's
// client pixels (the printed page), from (x + 10, y + 10) on, flowed like the
// window's text into the plot areas right of and below that corner. Nothing for the
// multiple-species non-ideal model.
void DrawBestFitInfo(Window* window, DC& dc, int x, int y);

}  // namespace tarmic
