// View state of the boundary and equilibrium analyses that the main window's
// painting and input handlers read: the realtime update of files with its two
// status lines, the view of the test of approach to equilibrium, and the M* window.
// The command library sets them; the shell only reads them.
#pragma once

#include <string>

namespace tarmic {

// --- realtime update of files ---
// Identifier of the window timer of the realtime update, and its period (ms).
inline constexpr unsigned kRealtimeTimerId = 1;
inline constexpr int kRealtimeIntervalMs = 60000;
// The timer-driven realtime update is on.
extern bool bRealtimeUpdateMode;
// Its two status lines, painted at (500, 30) and (500, 50) while it is on.
extern std::string szRealtimeLine1;
extern std::string szRealtimeLine2;

// --- test of approach to equilibrium ---
// The test's plot is shown over the data pane (Esc leaves the view).
extern bool bEqTestView;
// The test is the analysis of the realtime update: every update runs it again.
extern bool bEqTestMode;

// --- M* window ---
// The M* window is shown; its own plot stands in for the data plot.
extern bool bVIrezMode;
// The single-pane alternative M* view is shown (Esc leaves it alone).
extern bool bVIrezAltPlotShown;

// Sets every value above to its start value.
void ResetAnalysisViews();

}  // namespace tarmic
