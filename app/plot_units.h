// The plot units of the client area in the conversions between pixels and the
// picture space that the mouse handlers, the marker lines and the on-plot
// questions share.
#pragma once

namespace tarmic {

// Plot units across the client width in the conversions of the mouse handlers and
// of the marker columns: the single-precision product of the horizontal display
// factor 1.4 and the extent 1000, which is exactly 1400.
inline constexpr double kPlotUnitsAcross = 1400.0;
inline constexpr double kPlotUnitsDown = 1000.0;

}  // namespace tarmic
