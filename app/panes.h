// The panes of the main window and their layout: the data pane (upper: data, fits
// and the radial markers) and the residual pane (lower). Besides the full paint the
// program redraws single panes directly: during a fit (the timed refresh of the
// plotting library) and after marker moves (RedrawPlots); those routines are
// pane_painting.h.
#pragma once

#include "platform/types.h"

namespace tarmic {

class DC;
class TXLAWindow;

// Pane rows in display units (0..1000).
extern int nDataPaneTop;          // 50
extern int nDataPaneBottom;       // 475
extern int nResidualPaneTop;      // 550
extern int nResidualPaneBottom;   // 950

// The screen mapping of every pane: the picture space (1399 x 1000 units) stretched
// onto the client area.
void SetScreenMapping(DC& dc, Size client);


void ResetPaneLayout();

}  // namespace tarmic
