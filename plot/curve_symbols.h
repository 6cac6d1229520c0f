// The point symbols of the curve style codes, shared by the plot's own curve
// painter and the overlay plotters. The mark size is passed in, so an overlay
// never touches the plot's own mark size.
//
// Style codes: -1 line, 0 invisible, 1 cross, 2 and 6 filled circle, 3 open
// triangle, 4 value text, 5 open square, 7 one-pixel dot, 8 circle on a stick,
// 9 filled square, 10 bold cross, 11 filled bar, 12 thick line, 13 outlined line,
// 14 dashed line, 15 none (a hollow circle in overlays), 16 2 x 2 block, 17 thick
// line with circles. Other codes draw no symbol.
#pragma once

#include "platform/gdi.h"

namespace tarmic {

class DC;

struct SymbolPainter {
  DC* dc = nullptr;
  int markSize = 0;   // S: half-size of the marks (0: one-pixel dots)
  int markSizeY = 0;  // W: half-width of the style-11 bar
  int zeroRow = 0;    // picture row of y = 0, where the stick of style 8 starts
  Pen linePen;        // pen of the current point, selected again by style 13
  bool overlay = false;  // overlay forms: no text for style 4, a hollow circle for 15
};

// Draws the symbol of style at (px, py). (x0, y0) is the previous point of the run;
// continuing tells whether this point continues a run (false: it starts one); last
// whether it is the last point walked. Every symbol leaves the current position at
// (px, py), except the dots, which leave it at (px + 1, py + 1). Style 4 is drawn by
// the caller (it needs the point's value).
void DrawSymbol(const SymbolPainter& p, int style, int px, int py, int x0, int y0,
                bool continuing, bool last);

// The largest step in x between neighbouring points of xs[first..end-1] that a
// line may join: kGapSpacingFactor (scandata/radial_grid.h) times their median
// step, the rule by which the common grid tells a gap in a scan. Infinite for fewer
// than three points.
float CurveGapLimit(const float* xs, int first, int end);

}  // namespace tarmic
