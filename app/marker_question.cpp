// The confirm-or-cancel buttons of a marker move.
#include "app/marker_question.h"

#include <cmath>
#include <string>

#include "app/plot_units.h"
#include "app/paint_state.h"
#include "app/xla_window.h"
#include "services/error_box.h"
#include "plot/screen_button.h"

namespace tarmic {

std::unique_ptr<CScreenButton> pFitLimitYesButton;
std::unique_ptr<CScreenButton> pFitLimitCancelButton;
bool bQuestionAtLastClick = false;
Point ptQuestionButtons;

namespace {

// Fill of a pressed tool button.
constexpr Color kToolButtonOnFill = RGB(255, 150, 150);
// Characters of the longest label, "move fit limits, too?".
constexpr double kLongLabelLength = 21.0;

int Trunc(double v) { return std::isfinite(v) ? static_cast<int>(v) : 0; }

// Display units of a client column or row; 0 for a client of no size.
double DisplayX(const TXLAWindow& window, double x) {
  return window.fClientWidth > 0 ? x * kPlotUnitsAcross / window.fClientWidth : 0.0;
}
double DisplayY(const TXLAWindow& window, double y) {
  return window.fClientHeight > 0 ? y * kPlotUnitsDown / window.fClientHeight : 0.0;
}

// A button over the client rectangle (pixels) with one label in both states.
std::unique_ptr<CScreenButton> MakeButton(const TXLAWindow& window, int left, int top,
                                          int right, int bottom, const std::string& label) {
  auto button = std::make_unique<CScreenButton>();
  button->SetRect(static_cast<float>(DisplayY(window, top)),
                  static_cast<float>(DisplayX(window, left)),
                  static_cast<float>(DisplayY(window, bottom)),
                  static_cast<float>(DisplayX(window, right)));
  const int n = static_cast<int>(label.size());
  button->SetLabels(label.c_str(), n, label.c_str(), n);
  button->crOnFill = kToolButtonOnFill;
  button->Paint();
  return button;
}

}  // namespace

void ShowFitLimitQuestionButtons(TXLAWindow& window, int x, int y) {
  if (bQuestionAtLastClick) {
    x = ptQuestionButtons.x;
    y = ptQuestionButtons.y;
  }
  const double h = 18.0 * nClientHeight / 1000.0;
  const double w = (bQuestionAtLastClick ? 6.0 : 2.5) * kLongLabelLength * nClientWidth / 1400.0 + 5.0;
  int left, right;
  if (DisplayX(window, x) >= 1250.0) {
    // Near the right edge the buttons open to the left of the pointer.
    left = Trunc(x - w);
    right = x - 1;
  } else {
    left = x + 1;
    right = Trunc(x + w);
  }
  if (!pFitLimitYesButton) {
    pFitLimitYesButton = MakeButton(window, left, Trunc(y - 1 - h), right, y - 1,
                                    bQuestionAtLastClick ? "move fit limits, too?" : "confirm");
  }
  if (!pFitLimitCancelButton) {
    pFitLimitCancelButton = MakeButton(window, left, y, right, Trunc(y + h), "cancel");
  }
  ptQuestionButtons = Point{x, y};
  pFitLimitYesButton->Show(window.GetHandle());
  pFitLimitCancelButton->Show(window.GetHandle());
}

void DeleteFitLimitQuestionButtons(TXLAWindow* window) {
  pFitLimitYesButton.reset();
  pFitLimitCancelButton.reset();
  if (window) window->RedrawPlots();
}

void ClickFitLimitQuestionButton(TXLAWindow& window, int answer) {
  if (!pFitLimitYesButton || !pFitLimitCancelButton) return;
  CScreenButton& pressed = answer == 1 ? *pFitLimitYesButton : *pFitLimitCancelButton;
  pressed.Show(window.GetHandle());
  WaitSeconds(0.1f);
  window.FinishMarkerMove(answer == 1);
}

void ResetFitLimitQuestion() {
  pFitLimitYesButton.reset();
  pFitLimitCancelButton.reset();
  bQuestionAtLastClick = false;
  ptQuestionButtons = Point{};
}

}  // namespace tarmic
