// The keyboard of the main window. Outside computations it drives the radial
// markers: the arrow keys move the cursor, Enter or Tab confirm a pick or the
// question of a dropped marker, Esc cancels; in the view of a global analysis PgUp
// and PgDn step through its data sets and Esc leaves it. While Run or Fit computes any key
// only asks the computation to stop. F1 opens the help page.
#include <algorithm>
#include <cmath>
#include <utility>

#include "app/analysis_views.h"
#include "app/global_eq_view.h"
#include "app/marker_lines.h"
#include "app/marker_question.h"
#include "app/markers.h"
#include "app/mouse.h"
#include "app/onplot_tools.h"
#include "app/paint.h"
#include "app/response_table.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "services/run_switches.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "resources/command_ids.h"
#include "scandata/data_set.h"
#include "scandata/fit_limits.h"

namespace tarmic {

namespace {

// Cursor step of one arrow key, cm.
constexpr double kArrowStep = 0.0003;

constexpr unsigned kTab = 9;
constexpr unsigned kEnter = 13;
constexpr unsigned kEsc = 27;
constexpr unsigned kCtrlZ = 26;

constexpr const char* kNoUndoText =
    "This program has no Undo. Esc abandons a marker move or a pick before Enter sets it, Cancel "
    "leaves a dialog without a change, and loading the scans again undoes changes of the loaded data.";

// Asks a yes/no question with an empty caption.
bool AskYesNo(const char* text) { return GetBackend().MessageBox(text, "", MB_YESNO) == IDYES; }

// The meniscus-or-bottom pick at v. False when the user declined both questions:
// the pick is then abandoned.
bool PickMeniscusOrBottom(TXLAWindow& window, float v, float minR, float maxR) {
  DataSet().bDataChanged = true;
  bPickMeniscusBottom = false;
  if (DataSet().fMeniscus == 0) {
    DataSet().fMeniscus = v;
  } else if (DataSet().fBottom == 0) {
    DataSet().fBottom = v;
  } else {
    // Near an end of the data with the marker of that end beyond the data, ask
    // which of the two is meant, the one of that end first.
    const bool nearRightEnd = maxR < DataSet().fBottom && maxR - v < v - minR;
    const bool nearLeftEnd = !nearRightEnd && DataSet().fMeniscus < minR && v - minR < maxR - v;
    if (nearRightEnd || nearLeftEnd) {
      window.bModalBoxOpen = true;
      const char* first = nearRightEnd ? "set bottom?" : "set meniscus?";
      const char* second = nearRightEnd ? "set meniscus?" : "set bottom?";
      float* firstValue = nearRightEnd ? &DataSet().fBottom : &DataSet().fMeniscus;
      float* secondValue = nearRightEnd ? &DataSet().fMeniscus : &DataSet().fBottom;
      bool placed = true;
      if (AskYesNo(first))
        *firstValue = v;
      else if (AskYesNo(second))
        *secondValue = v;
      else
        placed = false;
      window.bModalBoxOpen = false;
      if (!placed) return false;
    } else if (std::fabs(v - DataSet().fMeniscus) <= std::fabs(DataSet().fBottom - v)) {
      DataSet().fMeniscus = v;
    } else {
      DataSet().fBottom = v;
    }
  }
  // A bottom placed left of the meniscus is exchanged with it; an unset bottom
  // (0) stays unset.
  if (DataSet().fBottom != 0 && DataSet().fBottom < DataSet().fMeniscus) std::swap(DataSet().fMeniscus, DataSet().fBottom);
  CopyGeometryToModelParams();
  ApplyMeniscusRangeRule();
  ApplyBottomRangeRule();
  SetDefaultFitLimits();
  return true;
}

// The fitting-limit pick at v.
void PickFitLimit(float v) {
  bPickFitLimit = false;
  // A limit picked at 0 on DLS data (a lag time of 1 s) is set like any other.
  // The limit the readout named while the pick stood.
  (FitLimitPickTarget(v) == Marker::RightLimit ? DataSet().fFitRightLim : DataSet().fFitLeftLim) = v;
  if (DataSet().nScans > 0 && !FitRightLimitSet()) {
    // The other limit goes to the far end of the data.
    if (v - DataSet().fMeniscus <= DataSet().fBottom - v) {
      float last = DataSet().ppRadius[1][DataSet().pnPoints[1]];
      for (int s = 2; s <= DataSet().nScans; ++s) {
        const std::size_t k = static_cast<std::size_t>(s);
        last = std::max(last, DataSet().ppRadius[k][DataSet().pnPoints[k]]);
      }
      DataSet().fFitRightLim = last;
    } else {
      DataSet().fFitRightLim = DataSet().ppRadius[1][1];
    }
  }
  if (DataSet().fFitRightLim < DataSet().fFitLeftLim) std::swap(DataSet().fFitLeftLim, DataSet().fFitRightLim);
  if (DataSet().fFitLeftLim <= DataSet().fMeniscus && DataSet().fMeniscus > 0) DataSet().fFitLeftLim = static_cast<float>(DataSet().fMeniscus + 0.01);
  if (DataSet().fBottom <= DataSet().fFitRightLim && DataSet().fBottom > 0) DataSet().fFitRightLim = static_cast<float>(DataSet().fBottom - 0.01);
  if (DataSet().fFitLeftLim > 0 && DataSet().fMaxMeniscus > 0 && DataSet().fFitLeftLim < DataSet().fMaxMeniscus) {
    DataSet().fMaxMeniscus = static_cast<float>(DataSet().fFitLeftLim - 0.001);
    if (DataSet().fMaxMeniscus < DataSet().fMeniscus) DataSet().fMaxMeniscus = static_cast<float>(DataSet().fMeniscus + 0.0001);
  }
  if (DataSet().fFitRightLim > 0 && DataSet().fMinBottom > 0 && DataSet().fMinBottom < DataSet().fFitRightLim) {
    DataSet().fMinBottom = static_cast<float>(DataSet().fFitRightLim + 0.001);
    if (DataSet().fMinBottom > DataSet().fBottom) DataSet().fMinBottom = static_cast<float>(DataSet().fBottom - 0.0001);
  }
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
}

}  // namespace

void TXLAWindow::BeginKeyboardFitLimitPick(bool left) {
  // The limit to move, or the end of the data when it is not set yet.
  float lo = DataSet().ppRadius[1][1], hi = DataSet().ppRadius[1][DataSet().pnPoints[1]];
  if (FitLeftLimitSet()) lo = DataSet().fFitLeftLim;
  if (FitRightLimitSet()) hi = DataSet().fFitRightLim;
  // As the plain double-click starts it; the keys answer, no question buttons.
  StartPick(left ? lo : hi, false, MK_LBUTTON);
}

void TXLAWindow::EvKeyDown(unsigned key, unsigned /*repeatCount*/, unsigned /*flags*/) {
  if (bRunInProgress || bFitInProgress) {
    bUserAbort = true;
    return;
  }
  bKeyLatch = true;
  if (key == static_cast<unsigned>(VK_F1)) {
    // The help key on the window opens the help page at its top (on an open menu it
    // starts help mode instead, before the window sees the key).
    DispatchCommand(*this, kCmOfferOnlineHelp);
    return;
  }
  // PgUp and PgDn step through the data sets of the global analysis on show.
  if (bGlobalEqView && (key == static_cast<unsigned>(VK_PRIOR) || key == static_cast<unsigned>(VK_NEXT))) {
    if (GetShellHooks().stepGlobalEqView) GetShellHooks().stepGlobalEqView(*this, key == static_cast<unsigned>(VK_NEXT) ? 1 : -1);
    return;
  }
  // A key press runs one realtime update at once.
  if (bRealtimeUpdateMode) EvTimer(kRealtimeTimerId);
  // Home and End start the pick of a fitting limit without the mouse: the cursor
  // line stands at the left (Home) or right (End) fitting limit, the arrow keys move
  // it, Enter sets the limit nearer to it, Esc abandons it, as after a double-click.
  const bool home = key == static_cast<unsigned>(VK_HOME), end = key == static_cast<unsigned>(VK_END);
  if (DataPlots().pDataPlot && (home || end) && !bCursorActive && !bRangeQuestionPending && !bMarkerDragging &&
      DataSet().nScans > 0) {
    BeginKeyboardFitLimitPick(home);
    return;
  }
  const bool arrow = key == static_cast<unsigned>(VK_LEFT) || key == static_cast<unsigned>(VK_RIGHT);
  if (DataPlots().pDataPlot && arrow && bCursorActive) {
    const double step = key == static_cast<unsigned>(VK_LEFT) ? -kArrowStep : kArrowStep;
    fCursorValue = static_cast<float>(fCursorValue + step);
    DrawCursorLine(RadiusToPixelColumn(fCursorValue), true, 1);
    szReadoutLine1 = FormatReadout("%1.4f    ", fCursorValue);
    DrawReadoutText(*this, 10, 50, szReadoutLine1);
    // A fitting-limit pick may come nearer to the other limit.
    if (bPickFitLimit) ShowMoveTarget(*this, FitLimitPickTarget(fCursorValue));
  }
}

void TXLAWindow::EvChar(unsigned key, unsigned /*repeatCount*/, unsigned /*flags*/) {
  if (bRunInProgress || bFitInProgress) {
    bUserAbort = true;
    return;
  }
  if (bTemperaturePlotShown) RepaintMain();
  if (key == kCtrlZ) {
    // Undo is what a user tries first: the program has none, and says what stands in.
    bModalBoxOpen = true;
    GetBackend().MessageBox(kNoUndoText, "UNDO", MB_OK | MB_ICONINFORMATION);
    bModalBoxOpen = false;
    return;
  }
  if (key == kEsc && bGlobalEqView) {
    // Esc leaves the view of the global analysis.
    if (GetShellHooks().escapeGlobalEqView) GetShellHooks().escapeGlobalEqView(*this);
    RepaintMain();
    return;
  }
  if (!DataPlots().pDataPlot) return;
  CharOnPlotTools(*this);

  if (key == kEsc) {
    const ShellHooks& views = GetShellHooks();
    if (bVIrezMode && views.escapeMStarView && views.escapeMStarView(*this)) return;
    EscapeOnPlotTools(*this);
    if (bRangeQuestionPending && !AnyPickMode()) {
      // The dropped marker or the fit-range question is cancelled.
      FinishMarkerMove(false);
      return;
    }
    if (bEqTestView && views.escapeEqTestView) {
      views.escapeEqTestView(*this);
      RepaintMain();
    }
    if (bCursorActive) {
      // The pick is abandoned.
      bRangeQuestionPending = false;
      DeleteFitLimitQuestionButtons(nullptr);
      bHoldMeniscus = false;
      bHoldRefMeniscus = false;
      bHoldLeftLimit = false;
      bCursorActive = false;
      bPickMeniscusBottom = false;
      bPickFitLimit = false;
      bPickRefMeniscus = false;
      fCursorValue = 0.0f;
      // No cursor line is left; the redrawn panes take the old one away.
      DrawCursorLine(0, false, 1);
      RedrawPlots();
    }
    GetHandle().SetCursor(CursorShape::Arrow);
    return;
  }

  if (key != kEnter && key != kTab) return;

  // Enter while an integration range is to be drawn: the range by number.
  if (key == kEnter && !bCursorActive && !bRangeQuestionPending) {
    const ShellHooks& views = GetShellHooks();
    if (views.enter && views.enter(*this)) return;
  }

  if (bRangeQuestionPending && !AnyPickMode()) {
    // The dropped marker or the fit-range question is confirmed.
    FinishMarkerMove(true);
    return;
  }
  bRangeQuestionPending = false;
  DeleteFitLimitQuestionButtons(this);
  bHoldMeniscus = false;
  bHoldRefMeniscus = false;
  bHoldLeftLimit = false;
  if (!bCursorActive) return;

  // What the pick changes is shown at the end: old lines erased, all drawn.
  const MarkerSnapshot before = MarkerSnapshot::Take();
  const float v = fCursorValue;
  float minR = 1000.0f, maxR = 0.0f;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const std::size_t k = static_cast<std::size_t>(s);
    minR = std::min(minR, DataSet().ppRadius[k][1]);
    maxR = std::max(maxR, DataSet().ppRadius[k][DataSet().pnPoints[k]]);
  }

  if (bPickMeniscusBottom) {
    if (!PickMeniscusOrBottom(*this, v, minR, maxR)) {
      bCursorActive = false;
      fCursorValue = 0.0f;
      DrawCursorLine(0, false, 1);
      RedrawPlots();
      return;
    }
  } else if (bPickRefMeniscus) {
    bPickRefMeniscus = false;
    fMeniscusDifference = static_cast<double>(DataSet().fMeniscus) - static_cast<double>(v);
  } else if (bPickFitLimit) {
    PickFitLimit(v);
  }

  bCursorActive = false;
  fCursorValue = 0.0f;
  // The name of the marker that moved goes with the pick.
  if (szReadoutLine2.starts_with("moves the ")) {
    szReadoutLine2.assign(szReadoutLine2.size(), ' ');
    DrawReadoutText(*this, 10, 70, szReadoutLine2);
  }
  // The pick's cursor line goes; the markers show where the pick put them.
  DrawCursorLine(0, true, 1);
  ShowMarkerChanges(*this, before);
}

}  // namespace tarmic
