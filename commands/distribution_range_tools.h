// Tools of the distribution pane that work on ranges of the distribution: the
// "integrate" / "select range" toggle button above the pane, the arming of a range
// selection (by that button, "integrate distribution" (Ctrl+I) or "Rescale
// Distribution Plot"), the integration over a range drawn with the right mouse
// button or over the ranges of a file, the highlight of a range under the curve,
// and the zoom of the distribution plot to a range and back to full scale.
//
// The integration itself (IntegrateDistribution) is the distribution engine's;
// these tools decide what is integrated and what is shown and written.
#pragma once

#include <memory>
#include <string>

#include "platform/types.h"

namespace tarmic {

class CScreenButton;
class TXLAWindow;

// The integrate button; null while no distribution plot exists.
extern std::unique_ptr<CScreenButton> pIntegrateButton;

// The range selection of the distribution plot: armed or under way; for
// integration; for rescaling; a band of the distribution plot is being drawn.
extern bool bDistRangeArmed;
extern bool bRangeSelectMode;
extern bool bDistZoomDrag;
extern bool bDistDrag;
// The y range of the last drawn rectangle (the second coordinate of a c(s,ff0)
// integration).
extern float fIntegYMin;
extern float fIntegYMax;
// The last zoom of the distribution plot (x1..x2), kept until full scale, so that
// the realtime update of files shows the new distribution over the same range.
extern bool bDistZoomKept;
extern float fDistZoomX1;
extern float fDistZoomX2;

// Integration ranges from a file: the file's path, its rows (s-min, s-max) and
// whether ranges are loaded (a table that cannot be read replaces none). The option itself is bIntegRangesFromFile
// (app/preferences.h, preference line 10).
extern std::string szIntegRangeTable;
extern float** pIntegRanges;
extern int nIntegRanges;
extern bool bIntegRangesLoaded;

// The button: made when absent (above the distribution pane at its right end),
// removed, toggled.
void CreateIntegrateButton();
void DeleteIntegrateButton();
// Makes the button anew for the present window and text size, in the same state.
void RelayoutIntegrateButton();
void ToggleIntegrateButton();
// Shows the button's current picture on the screen.
void ShowIntegrateButton(TXLAWindow& window);
// The action of the button (the press has toggled it already): arms a selection
// for integration, integrates the file's ranges, or cancels an armed selection.
void ClickIntegrateButton(TXLAWindow& window);
// Arms the selection: a note (with wizard messages), the cross cursor.
void ArmRangeSelection(TXLAWindow& window);
// Cancels an armed selection: flags cleared, the button back to "integrate".
void CancelRangeSelection(TXLAWindow& window);

// Integrates the distribution between x1 and x2 (the y range is that of the
// rectangle), shows the result in "INTEGRATE DISTRIBUTION", puts "area TAB
// average" on the clipboard and returns the plot to full scale.
void IntegrateSelectedRange(TXLAWindow& window, float x1, float x2, float y1, float y2);
// The text of that box for the current model.
std::string IntegrationText(float x1, float x2, float y1, float y2, float area, float average,
                            float total, float sd, float zAverage);
// Draws the part of the distribution between x1 and x2 over the distribution pane.
void HighlightDistributionRange(TXLAWindow& window, float x1, float x2, int style, Color colour);
// Shows x1..x2 of the distribution (y from 0 to the largest value there); and the
// whole distribution.
void ZoomDistributionPlot(TXLAWindow& window, float x1, float x2);
void FullscaleDistributionPlot(TXLAWindow& window);

// The range file: its path is kept in "integratrangefile.txt" of the program
// directory. Both read the table before anything changes: false (reported) when
// it cannot be read, with the loaded ranges and the kept path as they were.
bool LoadIntegrationRanges();
// *failure (when given) receives why the table's path could not be remembered, with
// the system's reason; it stays empty for a cancelled or unreadable choice.
bool SelectIntegrationRangeFile(TXLAWindow& window, std::string* failure = nullptr);
// Integrates every range of the file, writes the report "integrals.dat" beside the
// data, shows it and puts the table on the clipboard. False when the file option is
// off, the ranges cannot be read, or the report cannot be written.
bool IntegrateFileRanges(TXLAWindow& window);

// Whether the client point lies in the distribution pane (5 % above its top still
// counts); false without a distribution plot.
bool IsInDistributionPane(const TXLAWindow& window, int x, int y);
// The distribution plot's x value of a client column (10 to the power on a log
// axis); 0 without the plot.
float DistributionXOfColumn(const TXLAWindow& window, int x);

// Whether a distribution over s (not M) is shown for the integration texts and the
// highlight.
bool SDistributionModel();

// Forgets the button, the selection and the ranges (tests).
void ResetDistributionRangeTools();

// Enter while the integration range is to be drawn (after "integrate distribution"):
// the lower and upper limits are asked for by number and the range is integrated as
// a drawn one would be; Cancel leaves the selection armed. False (nothing done) when
// no integration range is awaited.
bool DistributionPaneEnter(TXLAWindow& window);

}  // namespace tarmic
