// Offset tools of interference data and the rmsd between two scans.
//
// Interference signals are in fringes; a lost or gained fringe shifts a whole scan
// (or the rest of a scan) by an integer. Scan numbers are those of the data set
// (1..nScans); radii in cm.
#pragma once

#include <vector>

namespace tarmic {

// The whole-fringe offset of every scan against the first displayed scan at the
// first point at or beyond radius: d = its signal there minus the reference, k =
// the integer nearest to d (halves away from zero; 0 for |d| <= 0.5). Entry s of
// the result (size nScans + 1) belongs to scan s; a scan without a point at or
// beyond the radius gets 0.
std::vector<int> WholeFringeOffsets(float radius);

// Subtracts the whole-fringe offsets at radius from every scan, then adds
// addConstant to every signal value; the grid and the data plot follow.
void AlignFringeOffsets(float addConstant, float radius);

// Removes integral fringe jumps inside each scan's fit range: at a point j where
// the signal (useResiduals: the residual) differs from its predecessor (from the
// mean of the three residuals before it) by more than threshold, the nearest
// integer of that difference, when not 0, is subtracted once from the signal (and
// residual) of every point from j to the end. Only when both fit limits are set;
// the grid follows.
void RemoveFringeJumps(float threshold, bool useResiduals);

// Interference data only: the mean of each displayed scan's grid data over
// r1 <= r < r2 is brought to that of the first displayed scan; the offsets go into
// pRINoise (0 for the first scan) and are subtracted from every point of each scan.
void SubtractJitterOffsets(float r1, float r2);

// Root-mean-square difference of scans a and b on the radii of b after removing
// their mean difference, over b's fit range (all points when not set). Intensity
// files count as their absorbance (intensity_scans.h). 0 for invalid scan numbers,
// a == b or too few points.
float RmsdBetweenScans(int a, int b);

}  // namespace tarmic
