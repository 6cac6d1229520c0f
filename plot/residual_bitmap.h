// The residual bitmap: the residuals of all scans as one image, a pixel row per
// scan in display order and a pixel column per point of the common radial grid
// inside the fit limits, each pixel coloured by the sign and size of the residual.
// The main window shows it as a strip directly above the residual plot; a command
// copies it to the clipboard.
#pragma once

#include "numerics/analysis.h"

#include "platform/image.h"
#include "platform/types.h"

namespace tarmic {

class DC;
class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct ResidualBitmapState {
  bool bBitmapBlackAndWhite = true;  // grey scale instead of red and blue
  bool bBitmapContinuousShading = true;  // shades instead of two colours
  // Residual that reaches full brightness; 0 takes it from the residual plot's range.
  float fResidualBitmapScale = 0.05f;
};
// The current analysis' ResidualBitmapState.
inline ResidualBitmapState& ResidualBitmap() { return CurrentPart<ResidualBitmapState>(); }

// Colour of a residual level v (-128..127, 128 levels per scale).
Color ResidualBitmapColor(int v);
// The same under the given settings (for a caller that paints many pixels).
Color ResidualBitmapColor(int v, const ResidualBitmapState& state);

// The image: (iFitLast - iFitFirst + 1) x nScans pixels from the current signals
// and model values; a null image without data or grid. Neither the data set nor the
// plots are changed (apart from the scale of fluorescence data, see the .cpp).
Image BuildResidualsBitmap();

// Builds the image after recomputing and rescaling the residual plot, and puts it on
// the clipboard as a bitmap.
void CopyResidualsBitmap(Window& window);
// Stretches the image across the residual plot's x axis (the plot area's width
// without a residual plot) into the strip above the residual plot, one pixel row per
// scan, on dc in the pixels of a client of that size (the window's paint passes its
// own device context). Draws from the current data and changes nothing else. False
// when there was nothing to draw.
bool DrawResidualsBitmap(DC& dc, Size client);
// The same on a device context of its own, then shows the window.
void DrawResidualsBitmap(Window& window);
// The client rectangle of the strip for a client size (empty when there is no room).
Rect ResidualsBitmapRect(Size client, int scanCount);

}  // namespace tarmic
