// The common radial grid on which the least squares of every model run: the scans'
// data interpolated onto evenly spaced radii (or, when all scans share one radius
// array, the scans' own arrays), the averages over the fit range, the systematic
// noise profiles and the species signal tables of the linear amplitude fit.
#pragma once

#include "numerics/analysis.h"

#include <array>
#include <vector>

#include "scandata/grid_data.h"

namespace tarmic {

// The state of this module in an analysis (numerics/analysis.h).
struct RadialGridState {
  // Grid spacing, cm (default 0.001); also the loaders' minimum point spacing when
  // above 0.001.
  float fRadialStep = 0.001f;
};
// The current analysis' RadialGridState.
inline RadialGridState& RadialGrid() { return CurrentPart<RadialGridState>(); }

// A gap in a scan: neighbouring radii farther apart than this many times the scan's
// median spacing (one point left out is bridged; two or more are a gap).
constexpr float kGapSpacingFactor = 2.5f;

// Marks in measured[1..count] (0) the radii of radii[1..count] (increasing) that
// scan s does not support: those beyond half its median spacing outside its first
// or last radius, and those strictly inside an interval of its radii wider than
// kGapSpacingFactor times that spacing. The common grid's fit points take it for
// every scan; so does the residual bitmap, whose pixels show no scan where it has
// no points.
void MarkRadiiScanLacks(int s, const float* radii, int count, std::vector<unsigned char>& measured);
// Whether some scan does not support grid point g (GridFitPoints leaves it out).
bool GridPointUnmeasured(int g);
// Sets the current grid's mask of measured points (gridPointMeasured, [1..n]) with
// its running totals (gridPointsMeasuredUpTo); an empty mask, or one with every
// point measured, clears both (every point counts). The one way to change them.
void SetGridPointMask(std::vector<unsigned char> measured);

// The smallest grid spacing accepted (cm) and the largest grid.
constexpr float kMinRadialStep = 1.0e-5f;
constexpr int kMaxGridPoints = 200000;
// Whether step can serve as the grid spacing: positive and not below kMinRadialStep.
bool IsUsableRadialStep(float step);

// Whether an own grid from radius r0 to r1 can be built at fRadialStep (the step is
// usable and the grid stays within kMaxGridPoints); when not and report is set, the
// reason is shown in the error box.
bool RadialGridIsBuildable(float r0, float r1, bool report);

// Builds the grid from the loaded scans and sets the fit-limit indices. Refuses
// (message, no grid, false) when fRadialStep is not usable or the grid would exceed
// kMaxGridPoints; true otherwise (also with no scans loaded, when nothing is built).
bool BuildCommonRadialGrid();
// Recomputes scan s's row of ppGridSignal from its own data when the grid holds
// copies (interpolation; intensity data as their absorbance, intensity_scans.h); nothing
// when the row aliases the scan's signal.
void FillGridSignalRow(int s);

// The signal tables (and their means) of the species slots whose inclusion switch is
// set, on the common grid; the earlier tables are freed. The form with slots makes
// those of slots[k] (1..4) instead.
void AllocSpeciesSignalArrays();
void AllocSpeciesSignalArrays(const std::array<bool, kSpeciesSlots + 1>& slots);

}  // namespace tarmic
