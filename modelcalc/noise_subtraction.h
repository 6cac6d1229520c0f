// Taking the systematic noise that a fit found out of the loaded data, and putting
// the time-invariant part back.
//
// A fit with systematic noise leaves a time-invariant (TI) profile pTINoise on the
// common grid, one radial-invariant (RI) offset per scan in pRINoise and a baseline
// fBaseline. Each removal changes the measured signal (ppSignal), the model values
// (ppFit) and the grid data (ppGridSignal) by the same amount, so residuals stay as
// they were. Invariant: pTINoise[i] + pRemovedTINoise[i] is the whole TI noise of
// the last fit at grid point i; a TI subtraction moves it into pRemovedTINoise, a
// restore moves it back.
//
// After a change the scan means and the average scan are recomputed, the data plot
// is fixed to the fit range of the new data (one zoom step, handed to the zoom
// history hook) and both plots are redrawn.
#pragma once

#include "numerics/analysis.h"

#include <functional>

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct NoiseSubtractionState {
  // Set by the commands that take calculated noise out of the loaded data: the
  // loaders then no longer offer the saved parameters of the data.
  bool bNoiseTakenFromData = false;
};
// The current analysis' NoiseSubtractionState.
inline NoiseSubtractionState& NoiseSubtraction() { return CurrentPart<NoiseSubtractionState>(); }

// Each does nothing with DLS data, without scans or with its switch off:
// SubtractTINoise, RestoreTINoise (bFitTINoise); SubtractRINoise, SubtractAllNoise
// (bFitRINoise; SubtractAllNoise takes RI offsets first, then the TI profile when
// bFitTINoise); SubtractBaseline (bVaryBaseline). They return whether they changed
// the data.
bool SubtractTINoise();
bool SubtractRINoise();
bool RestoreTINoise();
bool SubtractAllNoise();
bool SubtractBaseline();

// The data-plot ranges a noise change fixes (x: fit range of the grid +- 0.01 cm,
// y: range of the grid data inside it +- 0.1) go to this hook as one new zoom step;
// none installed: only the plot is fixed.
using NoiseZoomHook = std::function<void(float xmin, float xmax, float ymin, float ymax)>;
void SetNoiseZoomHook(NoiseZoomHook hook);

}  // namespace tarmic
