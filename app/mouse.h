// The left mouse button of the main window: pressing the question buttons,
// grabbing and dragging a radial marker (with an optional throw that lets it slide
// on after the release), the readout of a clicked data point, and the double-click
// that enters the pick modes. The members are defined in mouse.cpp; the pointer
// motion and the right button are in mouse_move.cpp and zoom.cpp.
//
// Three coordinate kinds meet here: client pixels (mouse messages); plot units,
// 1400 x 1000 across the client area; button units, 0..1000 in both directions.
#pragma once

#include <optional>
#include <string>

#include "app/client_coordinates.h"
#include "app/markers.h"
#include "app/mouse_hit_tests.h"
#include "platform/types.h"

namespace tarmic {

class TXLAWindow;

// A marker is being dragged: set by the press that grabs it, cleared by the release.
extern bool bMarkerDragging;
// The slide after a throw was ended by Tab, Enter or Esc, which finished the move.
extern bool bSlideEndedByKey;
// A press grabs a marker when column - 2 < x < column + 2.
inline constexpr int nMarkerPickTolerance = 2;
// The two readout lines, drawn at client positions (10, 50) and (10, 70).
extern std::string szReadoutLine1;
extern std::string szReadoutLine2;
// Data coordinates of the last coordinate readout (the traced temperature plot).
extern float fReadoutX;
extern float fReadoutY;
// Client columns of the nine markers, recomputed on every press and move.
extern int nLeftLimitColumn;
extern int nRightLimitColumn;
extern int nMeniscusColumn;
extern int nMinMeniscusColumn;
extern int nMaxMeniscusColumn;
extern int nBottomColumn;
extern int nMinBottomColumn;
extern int nMaxBottomColumn;
extern int nRefMeniscusColumn;

// The pointer is over no marker, and the arrow cursor and the normal marker lines
// have been restored (true at start).
extern bool bHoverIdle;
// Colours of the dashed hover lines.
inline constexpr Color crMeniscusHover = RGB(180, 0, 0);
inline constexpr Color crFitLimitHover = RGB(0, 180, 0);
inline constexpr Color crRangeHover = RGB(80, 80, 80);
inline constexpr Color crBottomHover = RGB(180, 180, 255);
inline constexpr Color crRefMeniscusHover = RGB(150, 0, 150);

int& MarkerColumn(Marker m);
// Recomputes the nine marker columns.
void ComputeMarkerColumns(TXLAWindow& window);
// Whether client column x lies within reach of a marker column.
inline bool NearColumn(int x, int column) {
  return column - nMarkerPickTolerance < x && x < column + nMarkerPickTolerance;
}

// Formats "%1.4f    "-style texts of one value.
std::string FormatReadout(const char* format, double value);
// Writes text at a client position straight onto the window (the readout lines).
void DrawReadoutText(TXLAWindow& window, int x, int y, const std::string& text, Color colour = kBlack);
// Names, in the second readout line and in the marker's colour, the marker that the
// press, double-click or pick under way moves ("moves the right fitting limit"),
// before anything moves.
void ShowMoveTarget(TXLAWindow& window, Marker m);
// The visible marker whose column is nearest to client column x within the grab
// tolerance; at equal distance the first in kAllMarkers (the fitting limits before
// meniscus, bottom and the range bounds). Nothing when none is within reach.
std::optional<Marker> MarkerUnderColumn(int x);

void ResetMouseState();

}  // namespace tarmic
