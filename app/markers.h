// The radial markers of the data plot: meniscus, bottom, the two fitting limits,
// the bounds of the meniscus and bottom fit ranges and, with the buffer mismatch
// model, the reference meniscus. This module keeps the interaction state that the
// keyboard and mouse handlers share while a marker is held, picked or awaiting its
// confirmation, and the marker colours. The members that commit a move
// (TXLAWindow::FinishMarkerMove) and convert a radius to a client column
// (TXLAWindow::RadiusToPixelColumn) are defined in markers.cpp.
//
// The radii themselves (fMeniscus, fBottom, fFitLeftLim, fFitRightLim and the four
// fit-range bounds) belong to the scan data set (scandata/data_set.h).
#pragma once

#include <functional>
#include <string>

#include "app/plot_units.h"
#include "platform/types.h"

namespace tarmic {

class TXLAWindow;

// Marker colours. A marker is erased by drawing its column again in white.
inline constexpr Color crMeniscusMarker = RGB(255, 0, 0);
inline constexpr Color crBottomMarker = RGB(0, 0, 255);
inline constexpr Color crFitLimitMarker = RGB(0, 255, 0);
inline constexpr Color crRefMeniscusMarker = RGB(255, 0, 255);
inline constexpr Color crRangeMarker = RGB(200, 200, 200);  // drawn as 30 dashes
inline constexpr Color crEraseMarker = kWhite;
// Dashes of a fit-range bound line.
inline constexpr int nRangeMarkerDashes = 30;

// Buffer mismatch model: the reference meniscus lies fMeniscusDifference (cm, the
// "meniscus difference (s-r)") left of the meniscus; the marker picks and drags
// set the difference. Whether the reference meniscus is shown (buffer
// sedimentation corrected with a meniscus mismatch) is the model's switches; the
// model installs the test of them, and without it no reference meniscus is shown.
extern double fMeniscusDifference;
void SetRefMeniscusShownTest(std::function<bool()> test);

// Interaction state.
extern float fCursorValue;   // cm: where the held marker (or the pick cursor) stands; 0 = none
extern bool bCursorActive;   // the radial cursor is on
extern int nDragLinePixel;   // client column of the drag line; 0 = none
extern bool bHoldMeniscus;
extern bool bHoldRefMeniscus;
extern bool bHoldBottom;
extern bool bHoldLeftLimit;
extern bool bHoldRightLimit;
extern bool bHoldMinMeniscus;
extern bool bHoldMaxMeniscus;
extern bool bHoldMinBottom;
extern bool bHoldMaxBottom;
// The meniscus (bottom) was just committed: the question whether its fit range
// moves along is open, with the shifted range in fShiftedRangeMin..fShiftedRangeMax.
extern bool bAskMeniscusRangeShift;
extern bool bAskBottomRangeShift;
extern float fShiftedRangeMax;
extern float fShiftedRangeMin;
// A confirm-or-cancel question stands (a dropped marker, or the fit-range
// question after a meniscus or bottom commit); Enter, Tab and Esc answer it.
extern bool bRangeQuestionPending;
// The pick modes entered by a double-click and ended by Enter, Tab or Esc.
extern bool bPickMeniscusBottom;
extern bool bPickFitLimit;
extern bool bPickRefMeniscus;

// The nine markers, in the order in which a left press tests them.
enum class Marker {
  LeftLimit = 1,
  RightLimit,
  Meniscus,
  MinMeniscus,
  MaxMeniscus,
  Bottom,
  MinBottom,
  MaxBottom,
  RefMeniscus
};
inline constexpr Marker kAllMarkers[] = {
    Marker::LeftLimit,   Marker::RightLimit, Marker::Meniscus,
    Marker::MinMeniscus, Marker::MaxMeniscus, Marker::Bottom,
    Marker::MinBottom,   Marker::MaxBottom,  Marker::RefMeniscus};

// The radius of a marker, cm (the reference meniscus at fMeniscus minus the
// difference); its hold flag; its colour; whether it is drawn as dashes.
float MarkerRadius(Marker m);
bool& MarkerHoldFlag(Marker m);
Color MarkerColour(Marker m);
bool MarkerDashed(Marker m);
// Whether the full paint shows the marker's line: a set radius; meniscus, bottom
// and the range bounds not for DLS data; the reference meniscus only with the
// buffer mismatch shown; a marker that its pick mode stands in for is hidden. Only
// a shown marker can be grabbed.
bool MarkerVisible(Marker m);

// The marker's name as the readout gives it ("right fitting limit").
std::string MarkerName(Marker m);
// The colour the readout names a marker in: its own, darker for the light grey of
// the range bounds.
Color MarkerTextColour(Marker m);
// The fitting limit that a fitting-limit pick ended at radius v moves: an unset
// limit first (the left one), else the nearer one (the left one at equal
// distance) when the cell's meniscus and bottom are set or the data are DLS
// data, else the left one.
Marker FitLimitPickTarget(float v);

// Whether any hold flag is set.
bool AnyMarkerHeld();
// Clears every hold flag.
void ReleaseAllMarkers();
// Whether one of the three pick modes is on.
bool AnyPickMode();
// Whether the reference-meniscus line is shown (the installed test; false without
// one).
bool RefMeniscusShown();

// Applies the rules that keep the fit ranges of meniscus and bottom off the fitting
// limits: R1 pulls the upper meniscus bound left of the left limit, R2 pushes the
// lower bottom bound right of the right limit (0.001 cm margins).
void ApplyMeniscusRangeRule();
void ApplyBottomRangeRule();

// The radii of the nine markers at one moment and whether their lines may stand
// on the screen, to show afterwards what a change of the geometry moved.
struct MarkerSnapshot {
  float radius[10] = {};
  bool visible[10] = {};
  static MarkerSnapshot Take();
};
// Every marker whose radius changed since `before` loses its old line (drawn
// white); then every shown marker is drawn, so that no erased line takes a
// standing one with it.
void ShowMarkerChanges(TXLAWindow& window, const MarkerSnapshot& before);
// Draws a marker's line (dashed for the range bounds) at a radius in a colour.
void DrawMarker(TXLAWindow& window, Marker m, float radius, Color colour);

// Packs the model variables, meniscus and bottom with them, into the parameter
// vector (the shell hook packModelParams; without it entries 13 and 14 only).
void CopyGeometryToModelParams();

// Back to idle: no marker held, no pick, no question, cursor off; no test of the
// reference meniscus installed and the difference 0.1 cm.
void ResetMarkerState();

}  // namespace tarmic
