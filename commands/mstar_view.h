// The M* window: the view in which the transformation of equilibrium data shows
// its plots. While it is open its own plot stands in for the data plot: opening
// installs it as pDataPlot (the data plot, nPlotAreaTop and nDataPlotBottom are
// remembered) and closing puts all three back and deletes the M* plot. The view is
// per-scan or global; Esc closes the one shown. The transformation that fills the
// plots is not part of this program yet: nothing opens the view but the entry
// point below.
#pragma once

#include <array>
#include <vector>

#include "app/analysis_views.h"  // bVIrezMode, bVIrezAltPlotShown

namespace tarmic {

class CScreenButton;
class CWINPlot;
class TXLAWindow;

// The view's main plot (the data plot while the view is open), its three further
// panes [1..3], its single-pane alternative, and the rows of its panes (plot units).
extern CWINPlot* pVIrezPlot;
extern std::array<CWINPlot*, 4> pVIrezSubPlots;
extern CWINPlot* pVIrezAltPlot;
extern int nVIrezPaneTop;
extern int nVIrezPaneBottom;
// The per-scan view is shown (else the global view).
extern bool bVIrezPerScan;
// Set by M* buttons: a right drag over the data pane sets the extrapolation range
// of phase 1 or 4.
extern bool bVIrezDragMode1;
extern bool bVIrezDragMode4;
// The view's on-screen buttons [1..nVIrezButtons] (owned by the view).
extern std::vector<CScreenButton*> pVIrezButtons;
extern int nVIrezButtons;

// Opens the view (per-scan or global) with a new, empty M* plot over the data
// pane's rows, handing the data plot over to it. Nothing when the view is open.
void StartVIrezTransformation(TXLAWindow& window, bool perScan);
// Replot the M* window in its view and repaint.
void PlotVIrezPerScan(TXLAWindow& window);
void PlotVIrezGlobal(TXLAWindow& window);
// The action of on-screen button k; with k = 0 only the replot of the view shown.
void DoVIrezButton(TXLAWindow& window, int button);
// Close the view: the data plot and its rows come back, the M* plots and buttons
// are deleted, the window repaints.
void EndVIrezPerScan(TXLAWindow& window);
void EndVIrezGlobal(TXLAWindow& window);
// Esc in the view: the arrow cursor after a drag mode, the view closed; true (and
// nothing done) while the single-pane alternative is shown.
bool EscapeMStarView(TXLAWindow& window);

// Closes the view without drawing (tests).
void ResetMStarView();

}  // namespace tarmic
