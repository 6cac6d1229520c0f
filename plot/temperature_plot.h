// The temperature plot: the temperature of every loaded scan against its elapsed
// time, shown once over the whole plot area ("Show Temperature Plot", and the
// loaders when the temperatures of a data set fluctuate). The next paint of the
// main window draws it and frees it; the normal view returns at the repaint after.
#pragma once

#include "numerics/analysis.h"

namespace tarmic {

class CWINPlot;

// The state of this module in an analysis (numerics/analysis.h).
struct TemperaturePlotState {
  // Trace mode: while set, the paint keeps the temperature plot on the screen instead
  // of showing it once and freeing it, and the mouse move reads the pointer's time and
  // temperature off it. Off at start.
  bool bTemperatureTrace = false;

  // The plot waiting to be painted; null when none. Owned here: only
  // BuildTemperaturePlot makes it and FreeTemperaturePlot deletes it.
  CWINPlot* pTemperaturePlot = nullptr;
};
// The current analysis' TemperaturePlotState.
inline TemperaturePlotState& TemperaturePlot() { return CurrentPart<TemperaturePlotState>(); }

// Makes pTemperaturePlot from the loaded scans in display order: x the working
// elapsed time (s), y the temperature (degrees C), marks joined by lines. False
// (and no plot) without scans.
bool BuildTemperaturePlot();

// Deletes the plot with its curve; pTemperaturePlot becomes null.
void FreeTemperaturePlot();

}  // namespace tarmic
