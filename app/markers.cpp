// The radial markers: their state, the radius-to-column conversion and the commit
// or cancel of a marker move.
#include "app/markers.h"

#include <cmath>
#include <utility>

#include "app/marker_lines.h"
#include "app/marker_question.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "services/run_switches.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"

namespace tarmic {

double fMeniscusDifference = 0.1;

namespace {
std::function<bool()> g_refMeniscusShown;
}  // namespace

void SetRefMeniscusShownTest(std::function<bool()> test) { g_refMeniscusShown = std::move(test); }

float fCursorValue = 0.0f;
bool bCursorActive = false;
int nDragLinePixel = 0;
bool bHoldMeniscus = false;
bool bHoldRefMeniscus = false;
bool bHoldBottom = false;
bool bHoldLeftLimit = false;
bool bHoldRightLimit = false;
bool bHoldMinMeniscus = false;
bool bHoldMaxMeniscus = false;
bool bHoldMinBottom = false;
bool bHoldMaxBottom = false;
bool bAskMeniscusRangeShift = false;
bool bAskBottomRangeShift = false;
float fShiftedRangeMax = 0.0f;
float fShiftedRangeMin = 0.0f;
bool bRangeQuestionPending = false;
bool bPickMeniscusBottom = false;
bool bPickFitLimit = false;
bool bPickRefMeniscus = false;

// ---------------------------------------------------------------- the nine markers

float MarkerRadius(Marker m) {
  switch (m) {
    case Marker::LeftLimit: return DataSet().fFitLeftLim;
    case Marker::RightLimit: return DataSet().fFitRightLim;
    case Marker::Meniscus: return DataSet().fMeniscus;
    case Marker::MinMeniscus: return DataSet().fMinMeniscus;
    case Marker::MaxMeniscus: return DataSet().fMaxMeniscus;
    case Marker::Bottom: return DataSet().fBottom;
    case Marker::MinBottom: return DataSet().fMinBottom;
    case Marker::MaxBottom: return DataSet().fMaxBottom;
    case Marker::RefMeniscus: return static_cast<float>(DataSet().fMeniscus - fMeniscusDifference);
  }
  return 0.0f;
}

bool& MarkerHoldFlag(Marker m) {
  switch (m) {
    case Marker::LeftLimit: return bHoldLeftLimit;
    case Marker::RightLimit: return bHoldRightLimit;
    case Marker::Meniscus: return bHoldMeniscus;
    case Marker::MinMeniscus: return bHoldMinMeniscus;
    case Marker::MaxMeniscus: return bHoldMaxMeniscus;
    case Marker::Bottom: return bHoldBottom;
    case Marker::MinBottom: return bHoldMinBottom;
    case Marker::MaxBottom: return bHoldMaxBottom;
    case Marker::RefMeniscus: return bHoldRefMeniscus;
  }
  return bHoldMeniscus;
}

Color MarkerColour(Marker m) {
  switch (m) {
    case Marker::LeftLimit:
    case Marker::RightLimit: return crFitLimitMarker;
    case Marker::Meniscus: return crMeniscusMarker;
    case Marker::Bottom: return crBottomMarker;
    case Marker::RefMeniscus: return crRefMeniscusMarker;
    case Marker::MinMeniscus:
    case Marker::MaxMeniscus:
    case Marker::MinBottom:
    case Marker::MaxBottom: return crRangeMarker;
  }
  return crRangeMarker;
}

std::string MarkerName(Marker m) {
  switch (m) {
    case Marker::LeftLimit: return "left fitting limit";
    case Marker::RightLimit: return "right fitting limit";
    case Marker::Meniscus: return "meniscus";
    case Marker::MinMeniscus: return "lower bound of the meniscus range";
    case Marker::MaxMeniscus: return "upper bound of the meniscus range";
    case Marker::Bottom: return "bottom";
    case Marker::MinBottom: return "lower bound of the bottom range";
    case Marker::MaxBottom: return "upper bound of the bottom range";
    case Marker::RefMeniscus: return "reference meniscus";
  }
  return {};
}

Color MarkerTextColour(Marker m) { return MarkerDashed(m) ? RGB(100, 100, 100) : MarkerColour(m) == crFitLimitMarker ? RGB(0, 150, 0) : MarkerColour(m); }

Marker FitLimitPickTarget(float v) {
  if (!FitLeftLimitSet()) return Marker::LeftLimit;
  if (!FitRightLimitSet()) return Marker::RightLimit;
  if ((DataSet().fMeniscus != 0 && DataSet().fBottom != 0) || DataSet().bDLSData)
    return std::fabs(DataSet().fFitRightLim - v) < std::fabs(v - DataSet().fFitLeftLim) ? Marker::RightLimit
                                                                                        : Marker::LeftLimit;
  return Marker::LeftLimit;
}

bool MarkerDashed(Marker m) { return MarkerColour(m) == crRangeMarker; }

bool RefMeniscusShown() { return g_refMeniscusShown && g_refMeniscusShown(); }

namespace {

// Whether the marker's line is shown apart from the pick modes.
bool MarkerLineShown(Marker m) {
  switch (m) {
    case Marker::LeftLimit: return FitLeftLimitSet();
    case Marker::RightLimit: return FitRightLimitSet();
    case Marker::Meniscus: return DataSet().fMeniscus != 0 && !DataSet().bDLSData;
    case Marker::Bottom: return DataSet().fBottom != 0 && !DataSet().bDLSData;
    case Marker::MinMeniscus:
    case Marker::MaxMeniscus:
    case Marker::MinBottom:
    case Marker::MaxBottom: return MarkerRadius(m) != 0 && !DataSet().bDLSData;
    case Marker::RefMeniscus: return DataSet().fMeniscus != 0 && !DataSet().bDLSData && RefMeniscusShown();
  }
  return false;
}

}  // namespace

bool MarkerVisible(Marker m) {
  if (!MarkerLineShown(m)) return false;
  switch (m) {
    case Marker::LeftLimit: return !bPickFitLimit;
    case Marker::Meniscus: return !bPickMeniscusBottom;
    case Marker::RefMeniscus: return !bPickRefMeniscus;
    default: return true;
  }
}

bool AnyMarkerHeld() {
  for (Marker m : kAllMarkers)
    if (MarkerHoldFlag(m)) return true;
  return false;
}

void ReleaseAllMarkers() {
  for (Marker m : kAllMarkers) MarkerHoldFlag(m) = false;
}

bool AnyPickMode() { return bPickMeniscusBottom || bPickFitLimit || bPickRefMeniscus; }

void ApplyMeniscusRangeRule() {
  if (DataSet().fFitLeftLim > 0 && DataSet().fMaxMeniscus > 0 && DataSet().fFitLeftLim < DataSet().fMaxMeniscus)
    DataSet().fMaxMeniscus = static_cast<float>(DataSet().fFitLeftLim - 0.001);
}

void ApplyBottomRangeRule() {
  if (DataSet().fFitRightLim > 0 && DataSet().fMinBottom > 0 && DataSet().fFitRightLim > DataSet().fMinBottom)
    DataSet().fMinBottom = static_cast<float>(DataSet().fFitRightLim + 0.001);
}

void CopyGeometryToModelParams() {
  if (const auto& pack = GetShellHooks().packModelParams) {
    pack();
    return;
  }
  AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
  AnalysisSwitches().pParams[14] = DataSet().fBottom;
}

void ResetMarkerState() {
  fMeniscusDifference = 0.1;
  g_refMeniscusShown = nullptr;
  fCursorValue = 0.0f;
  bCursorActive = false;
  nDragLinePixel = 0;
  ReleaseAllMarkers();
  bAskMeniscusRangeShift = false;
  bAskBottomRangeShift = false;
  fShiftedRangeMax = 0.0f;
  fShiftedRangeMin = 0.0f;
  bRangeQuestionPending = false;
  bPickMeniscusBottom = false;
  bPickFitLimit = false;
  bPickRefMeniscus = false;
}

// ---------------------------------------------------------------- columns

int TXLAWindow::RadiusToPixelColumn(float radius) {
  if (!DataPlots().pDataPlot) return 0;
  // The plot's own mapping gives picture units (a non-positive radius on a
  // logarithmic axis lands left of the plot); those scale to the client width.
  const int p = DataPlots().pDataPlot->MapX(radius);
  const double column = std::floor(static_cast<double>(p) * fClientWidth / kPlotUnitsAcross);
  return std::isfinite(column) ? static_cast<int>(column) : 0;
}

// ---------------------------------------------------------------- showing changes

MarkerSnapshot MarkerSnapshot::Take() {
  MarkerSnapshot s;
  for (Marker m : kAllMarkers) {
    s.radius[static_cast<int>(m)] = MarkerRadius(m);
    // A line hidden by its pick may still stand on the screen from before.
    s.visible[static_cast<int>(m)] = MarkerLineShown(m);
  }
  return s;
}

void DrawMarker(TXLAWindow& window, Marker m, float radius, Color colour) {
  const int column = window.RadiusToPixelColumn(radius);
  if (MarkerDashed(m))
    window.DrawDashedMarkerLine(column, colour, nRangeMarkerDashes, 1);
  else
    window.DrawMarkerLine(column, colour, 1);
}

void ShowMarkerChanges(TXLAWindow& window, const MarkerSnapshot& before) {
  for (Marker m : kAllMarkers) {
    const int i = static_cast<int>(m);
    if (before.visible[i] && before.radius[i] != MarkerRadius(m))
      DrawMarker(window, m, before.radius[i], crEraseMarker);
  }
  for (Marker m : kAllMarkers)
    if (MarkerVisible(m)) DrawMarker(window, m, MarkerRadius(m), MarkerColour(m));
}

// ---------------------------------------------------------------- commit and cancel

namespace {

// Sets lo..hi to the bound v just placed, exchanging the two when they crossed.
void PlaceLowerBound(float& lo, float& hi, float v) {
  lo = v;
  if (hi < v) std::swap(lo, hi);
}
void PlaceUpperBound(float& lo, float& hi, float v) {
  hi = v;
  if (v < lo) std::swap(lo, hi);
}

}  // namespace

void TXLAWindow::FinishMarkerMove(bool confirm) {
  // Without the data plot there is no mapping for any marker line.
  if (!DataPlots().pDataPlot) return;
  if (AnyPickMode()) {
    // The keyboard handler ends a pick.
    EvChar(confirm ? 13u : 27u, 1u, 0u);
    return;
  }
  bRangeQuestionPending = false;
  if (nDragLinePixel != 0) {
    DrawMarkerLine(nDragLinePixel, crEraseMarker, 1);
    // The inverted line there is gone with it.
    if (nCursorLinePixel == nDragLinePixel) nCursorLinePixel = 0;
  }
  nDragLinePixel = 0;
  bCursorActive = false;
  DeleteFitLimitQuestionButtons(this);

  if (!confirm) {
    // An open fit-range question is declined; a held marker goes back to where it
    // was committed. Nothing is recomputed.
    bAskMeniscusRangeShift = false;
    bAskBottomRangeShift = false;
    static constexpr Marker kCancelOrder[] = {
        Marker::Meniscus,    Marker::RefMeniscus, Marker::LeftLimit,
        Marker::RightLimit,  Marker::Bottom,      Marker::MinMeniscus,
        Marker::MaxMeniscus, Marker::MinBottom,   Marker::MaxBottom};
    for (Marker m : kCancelOrder) {
      if (!MarkerHoldFlag(m)) continue;
      MarkerHoldFlag(m) = false;
      fCursorValue = 0.0f;
      if (MarkerVisible(m)) DrawMarker(*this, m, MarkerRadius(m), MarkerColour(m));
      break;
    }
    return;
  }

  const MarkerSnapshot before = MarkerSnapshot::Take();
  const float v = fCursorValue;
  // After a meniscus or bottom commit the buttons ask whether its fit range moves
  // along.
  bool askRangeShift = false;

  if (bHoldMeniscus) {
    bHoldMeniscus = false;
    fShiftedRangeMax = v - (DataSet().fMeniscus - DataSet().fMaxMeniscus);
    fShiftedRangeMin = v - (DataSet().fMeniscus - DataSet().fMinMeniscus);
    DataSet().fMeniscus = v;
    fCursorValue = 0.0f;
    if (DataSet().fMeniscus < DataSet().fMinMeniscus)
      DataSet().fMinMeniscus = DataSet().fMeniscus;
    else if (DataSet().fMeniscus > DataSet().fMaxMeniscus)
      DataSet().fMaxMeniscus = static_cast<float>(DataSet().fMeniscus + 0.002);
    // Also an unset left limit (0) comes to lie right of the meniscus.
    if (DataSet().fMeniscus > DataSet().fFitLeftLim) DataSet().fFitLeftLim = static_cast<float>(DataSet().fMeniscus + 0.005);
    ApplyMeniscusRangeRule();
    bAskMeniscusRangeShift = true;
    askRangeShift = true;
  } else if (bAskMeniscusRangeShift) {
    bAskMeniscusRangeShift = false;
    DataSet().fMinMeniscus = fShiftedRangeMin;
    DataSet().fMaxMeniscus = fShiftedRangeMax;
    ApplyMeniscusRangeRule();
  } else if (bHoldBottom) {
    bHoldBottom = false;
    fShiftedRangeMax = v - (DataSet().fBottom - DataSet().fMaxBottom);
    fShiftedRangeMin = v - (DataSet().fBottom - DataSet().fMinBottom);
    DataSet().fBottom = v;
    fCursorValue = 0.0f;
    if (DataSet().fBottom < DataSet().fMinBottom)
      DataSet().fMinBottom = DataSet().fBottom;
    else if (DataSet().fBottom > DataSet().fMaxBottom)
      DataSet().fMaxBottom = DataSet().fBottom;
    // An unset right limit (0) stays unset.
    if (DataSet().fBottom < DataSet().fFitRightLim) DataSet().fFitRightLim = DataSet().fBottom;
    ApplyBottomRangeRule();
    bAskBottomRangeShift = true;
    askRangeShift = true;
  } else if (bAskBottomRangeShift) {
    bAskBottomRangeShift = false;
    DataSet().fMinBottom = fShiftedRangeMin;
    DataSet().fMaxBottom = fShiftedRangeMax;
    ApplyBottomRangeRule();
  } else if (bHoldRefMeniscus) {
    bHoldRefMeniscus = false;
    fMeniscusDifference = static_cast<double>(DataSet().fMeniscus) - static_cast<double>(v);
    fCursorValue = 0.0f;
  } else if (bHoldMinMeniscus) {
    bHoldMinMeniscus = false;
    PlaceLowerBound(DataSet().fMinMeniscus, DataSet().fMaxMeniscus, v);
    fCursorValue = 0.0f;
    if (DataSet().fMeniscus < DataSet().fMinMeniscus) DataSet().fMeniscus = DataSet().fMinMeniscus;
    ApplyMeniscusRangeRule();
  } else if (bHoldMaxMeniscus) {
    bHoldMaxMeniscus = false;
    PlaceUpperBound(DataSet().fMinMeniscus, DataSet().fMaxMeniscus, v);
    fCursorValue = 0.0f;
    if (DataSet().fMaxMeniscus < DataSet().fMeniscus) DataSet().fMeniscus = DataSet().fMaxMeniscus;
    ApplyMeniscusRangeRule();
  } else if (bHoldMinBottom) {
    bHoldMinBottom = false;
    PlaceLowerBound(DataSet().fMinBottom, DataSet().fMaxBottom, v);
    fCursorValue = 0.0f;
    if (DataSet().fBottom < DataSet().fMinBottom) DataSet().fBottom = DataSet().fMinBottom;
    ApplyBottomRangeRule();
  } else if (bHoldMaxBottom) {
    bHoldMaxBottom = false;
    PlaceUpperBound(DataSet().fMinBottom, DataSet().fMaxBottom, v);
    fCursorValue = 0.0f;
    if (DataSet().fMaxBottom < DataSet().fBottom) DataSet().fBottom = DataSet().fMaxBottom;
    ApplyBottomRangeRule();
  } else if (bHoldLeftLimit) {
    bHoldLeftLimit = false;
    DataSet().fFitLeftLim = v;
    fCursorValue = 0.0f;
    // Dropped right of the right limit: the two exchange (an unset right limit
    // thus becomes the left one).
    if (DataSet().fFitLeftLim > DataSet().fFitRightLim) std::swap(DataSet().fFitLeftLim, DataSet().fFitRightLim);
    if (DataSet().fFitLeftLim < DataSet().fMeniscus && DataSet().fMeniscus > 0)
      DataSet().fFitLeftLim = static_cast<float>(DataSet().fMeniscus + 0.005);
    else if (DataSet().fFitRightLim > DataSet().fBottom && DataSet().fBottom > 0)
      DataSet().fFitRightLim = static_cast<float>(DataSet().fBottom - 0.005);
    ApplyMeniscusRangeRule();
    ApplyBottomRangeRule();
  } else if (bHoldRightLimit) {
    bHoldRightLimit = false;
    DataSet().fFitRightLim = v;
    fCursorValue = 0.0f;
    // Dropped left of the left limit: the two exchange, and the drop point stays
    // the left limit wherever it lies.
    if (DataSet().fFitLeftLim > DataSet().fFitRightLim) std::swap(DataSet().fFitLeftLim, DataSet().fFitRightLim);
    if (DataSet().fFitRightLim < DataSet().fMeniscus && DataSet().fMeniscus > 0)
      DataSet().fFitRightLim = DataSet().fMeniscus;
    else if (DataSet().fFitRightLim > DataSet().fBottom && DataSet().fBottom > 0)
      DataSet().fFitRightLim = DataSet().fBottom;
    ApplyBottomRangeRule();
  }

  // Common end: the fit-limit indices of every scan, the model's copy of meniscus
  // and bottom, and the stale-kernel flag. No model is re-run.
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  CopyGeometryToModelParams();
  DataSet().bDataChanged = true;

  ShowMarkerChanges(*this, before);
  if (askRangeShift) {
    // The same place as the confirmed move now asks "move fit limits, too?".
    bQuestionAtLastClick = true;
    ShowFitLimitQuestionButtons(*this, ptQuestionButtons.x, ptQuestionButtons.y);
    bQuestionAtLastClick = false;
    bRangeQuestionPending = true;
  }
}

}  // namespace tarmic
