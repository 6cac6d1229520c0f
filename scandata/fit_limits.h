// The fit limits on the loaded data: the point and grid indices inside the left and
// right limit, the fit-range totals, and the default ranges of meniscus and bottom.
#pragma once

namespace tarmic {

// Bring fFitLeftLim into the data and the cell, then recompute every scan's
// pFitFirst..pFitLast, the grid indices iFitFirst..iFitLast, the fit-range totals
// and pScanMeans from both limits (a limit of 0 is not set). A scan (or the grid)
// with no point inside the limits gets the empty range pnPoints + 1 .. pnPoints.
// Set DataSet().bDataChanged.
void SetLeftFitLimitIndices();
// The same after bringing fFitRightLim into the data; a limit beyond a scan's last
// radius is reported ("possible problem with right limit ...", not in batch mode)
// and moved.
void SetRightFitLimitIndices();
// A left fit limit of 0 becomes the meniscus, a right one of 0 the bottom (with the
// fit-limit indices refreshed).
void SetDefaultFitLimitsWhenUnset();
// The same with the cell given (cm) instead of the data set's.
void SetDefaultFitLimitsWhenUnset(float meniscus, float bottom);

// The half-widths of the default ranges of meniscus and bottom (cm): 0.1 for
// fluorescence data, else 0.02 for the meniscus and 0.05 for the bottom.
float MeniscusRangeHalfWidth();
float BottomRangeHalfWidth();

// The ranges within which meniscus and bottom may be fitted around their current
// values, of the half-widths above; the meniscus range ends 0.001 cm left of the left fit limit, the bottom
// range begins 0.001 cm right of the right fit limit. Nothing while bFitRangesSet.
// Except for DLS data, whose ranges are not drawn, the ranges placed are shown and
// kept from then on: bFitRangesSet is set when all four bounds are non-zero.
void SetDefaultFitLimits();

}  // namespace tarmic
