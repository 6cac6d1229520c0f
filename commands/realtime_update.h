// The realtime update of files: while it is on, a window timer (every 60 s, and
// any key at once) looks for new scan files in the directory of the loaded data
// (files with the loaded scans' extension that were not there at the previous
// look) and for loaded files that changed (size or modification time). When it
// finds any, the loaded set plus the new files is reloaded without questions and
// the analysis runs again: the test of approach to equilibrium in its mode, else
// the current model's Run. A distribution zoom the user chose is applied again.
// An interrupted run stops the update.
#pragma once

#include <string>

namespace tarmic {

class MetaFile;
class TXLAWindow;

// Starts the update for the loaded data (false, with "load data first", without).
bool StartRealtimeUpdate(TXLAWindow& window);
// Stops it: the timer ends, the status lines go.
void StopRealtimeUpdate(TXLAWindow& window);
// One tick. Returns true when files had changed and were reloaded.
bool RealtimeUpdateTick(TXLAWindow& window);

// The equilibrium-test plot's picture, redrawn; null when that view is not shown.
const MetaFile* RedrawEqTestPlot();

// Forgets the watched files and stops the mode without touching the window (tests).
void ResetRealtimeUpdate();

}  // namespace tarmic
