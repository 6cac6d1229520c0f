// Thin vertical lines and the zoom rectangle drawn straight onto the client area,
// outside the recorded plot pictures: solid and dashed marker lines (copying pen),
// the inverting cursor line and the inverting outline of a right-button zoom drag.
// A later repaint of the panes replaces whatever they drew. The routines are
// members of TXLAWindow (marker_lines.cpp); this header holds their state and the
// row conversion they share.
#pragma once

namespace tarmic {

class TXLAWindow;

// Client column of the cursor line now inverted on screen; 0 = none.
extern int nCursorLinePixel;

// Client pixel row of a row in display units (0..1000): floor(row x client height
// / 1000) with the client height of the last paint.
int DisplayRowToPixel(const TXLAWindow& window, float row);

void ResetMarkerLines();

}  // namespace tarmic
