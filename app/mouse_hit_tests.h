// Hit tests of the mouse handlers: whether a client point lies in the data pane,
// and which data point of a scan lies under the pointer on the data plot or on the
// residual plot.
#pragma once

namespace tarmic {

class TXLAWindow;

// Half-size in pixels of the box in which a data point counts as clicked.
inline constexpr int nScanPickTolerance = 3;
// Point (1-based) found by the last data-point search.
extern int nPickedPointIndex;

// True when the data plot exists and is shown and the client row y lies strictly
// between the data pane's top and bottom rows (x is not tested).
bool IsInDataPane(const TXLAWindow& window, int x, int y);

// Searches scan s for a point whose picture position lies within (dx, dy) plot
// units of (x, y), plot units, on the data plot (signal) or the residual plot
// (residuals). On a hit nPickedPointIndex holds the point and the result is true;
// the search stops early once the points lie right of the pointer, since the radii
// of a scan increase.
bool HitDataPoint(int s, int x, int y, int dx, int dy);
bool HitResidualPoint(int s, int x, int y, int dx, int dy);

}  // namespace tarmic
