// The zoom history of the data plot and the state of a right-button drag (the
// handlers that change them: right_button.cpp).
#include "app/zoom.h"

#include <optional>

#include "plot/data_plots.h"

namespace tarmic {

int nZoomLevel = 0;
float afZoomXMin[kMaxZoomLevel + 1] = {};
float afZoomXMax[kMaxZoomLevel + 1] = {};
float afZoomYMin[kMaxZoomLevel + 1] = {};
float afZoomYMax[kMaxZoomLevel + 1] = {};
bool bZoomStepHasY = false;
bool bRubberBandActive = false;
bool bZoomDataPlot = false;
Point ptBandStart;
Point ptBandCurrent;
Point ptBandPrev;
Point ptBandMaxX;
Point ptBandMinX;

void ClearZoomHistory() {
  for (int i = 0; i <= kMaxZoomLevel; ++i) {
    afZoomXMin[i] = 0.0f;
    afZoomXMax[i] = 0.0f;
    afZoomYMin[i] = 0.0f;
    afZoomYMax[i] = 0.0f;
  }
  nZoomLevel = 0;
  FollowDataPlotZoom(std::nullopt);
}

void ResetZoomState() {
  ClearZoomHistory();
  bZoomStepHasY = false;
  bRubberBandActive = false;
  bZoomDataPlot = false;
  ptBandStart = ptBandCurrent = ptBandPrev = ptBandMaxX = ptBandMinX = Point{};
}

}  // namespace tarmic
