// Zoom history of the data plot and the state of a right-button drag: a right drag
// over the data pane zooms the data plot to the dragged rectangle and remembers up
// to nine zoom steps, which a right double-click (and "Full Range") takes back. The
// right-button members of TXLAWindow are defined in right_button.cpp.
#pragma once

#include "platform/types.h"

namespace tarmic {

inline constexpr int kMaxZoomLevel = 9;

// Zoom depth of the data plot, 0..9; 0 = full range.
extern int nZoomLevel;
// The data-plot ranges of zoom levels 1..9, at indexes 1..9.
extern float afZoomXMin[kMaxZoomLevel + 1];
extern float afZoomXMax[kMaxZoomLevel + 1];
extern float afZoomYMin[kMaxZoomLevel + 1];
extern float afZoomYMax[kMaxZoomLevel + 1];
// Set by every band wider than 10 pixels and by "Set Range", never cleared: from
// then on a zoom step back restores x and y ranges, before it only x.
extern bool bZoomStepHasY;

// The right drag: a band is drawn (the mouse is captured), and it zooms the data
// plot.
extern bool bRubberBandActive;
extern bool bZoomDataPlot;
// Anchor corner, pointer corner and the corner drawn last, client pixels; the x of
// the last two track the largest and smallest column reached during the drag.
extern Point ptBandStart;
extern Point ptBandCurrent;
extern Point ptBandPrev;
extern Point ptBandMaxX;
extern Point ptBandMinX;

// The start of the program: the four arrays 0 and nZoomLevel 0.
void ClearZoomHistory();
// ClearZoomHistory, bZoomStepHasY cleared and no drag under way.
void ResetZoomState();

}  // namespace tarmic
