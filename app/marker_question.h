// The confirm-or-cancel question of a marker move: two small buttons beside the
// pointer after a marker was dropped ("confirm" and "cancel"), and at the same
// place after a meniscus or bottom commit ("move fit limits, too?" and "cancel").
// The left-button handler hit-tests them; Paint plays their pictures while they
// exist.
#pragma once

#include <memory>

#include "platform/types.h"

namespace tarmic {

class CScreenButton;
class TXLAWindow;

// The two buttons, null when absent.
extern std::unique_ptr<CScreenButton> pFitLimitYesButton;
extern std::unique_ptr<CScreenButton> pFitLimitCancelButton;
// Set by FinishMarkerMove around its call: the question is "move fit limits, too?"
// and goes where the last question stood.
extern bool bQuestionAtLastClick;
// Where the question buttons were last placed, client pixels.
extern Point ptQuestionButtons;

// Shows the two buttons beside (x, y), client pixels: to the left of the pointer
// near the right edge, else to its right.
void ShowFitLimitQuestionButtons(TXLAWindow& window, int x, int y);
// Deletes the buttons; with a window the data pane is redrawn over them.
void DeleteFitLimitQuestionButtons(TXLAWindow* window);
// A press on a button (answer 1 yes, 0 cancel): the pressed button is shown for
// 0.1 s, then the move is finished with that answer.
void ClickFitLimitQuestionButton(TXLAWindow& window, int answer);

void ResetFitLimitQuestion();

}  // namespace tarmic
