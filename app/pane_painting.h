// Single panes of the main window, redrawn without a full repaint: each opens its
// own device context with the screen mapping and replays the recorded pictures,
// the data pane with its marker lines and overlays. They use the client size of the
// last paint for the marker columns. The pane members of TXLAWindow are defined in
// pane_painting.cpp.
#pragma once

namespace tarmic {

class TXLAWindow;

// Hands the pane routines of the window to the plotting library's timed refresh
// during fits.
void InstallFitPanePainters(TXLAWindow& window);

}  // namespace tarmic
