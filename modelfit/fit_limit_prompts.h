// The ranges within which meniscus and bottom may be fitted, as the user sets
// them: the command "Set fit limits for meniscus & bottom", also run by the
// Parameters command the first time meniscus or bottom is floated.
#pragma once

namespace tarmic {

class Window;

// Asks, each in the positive-number box with a proposal, for the upper and the
// lower limit of the meniscus ("SET RANGE FOR MENISCUS VARIATION") and then of the
// bottom ("SET RANGE FOR BOTTOM VARIATION", not in the electrophoresis model). The
// proposals hold the value to be fitted inside: the current limits once limits were
// set or asked for and they hold it (not at an end), else a range centred on it,
// meniscus +-0.02 cm and bottom +-0.05 cm (0.1 cm for fluorescence data), narrowed
// to stay 0.001 cm clear of the fitting limits. An answer of 0 ends the questions
// and selects the automatic limits around meniscus and bottom (user limits off);
// otherwise the entered limits become the user's limits when the last question is
// answered. In batch mode nothing is asked and the proposals are taken. Cancel ends the questions and changes nothing. The window (when given)
// is repainted. Returns false when cancelled.
//
// Which ranges are asked: the command asks both; the Parameters command only the
// ranges of the values that are floated (the fit keeps a fixed value where it is).
struct FitRangeQuestions {
  bool meniscus = true;
  bool bottom = true;
};
bool RunFitLimitPrompts(Window* window, FitRangeQuestions which = {});

// The ranges of the floated meniscus and bottom whose kept limits do not hold the
// value a fit starts from inside (outside, or within a tenth of the default
// half-width of an end): a fit from there would stay pinned at the end.
FitRangeQuestions RangesNotHoldingStarts();
// Before a fit: asks for those ranges as ticking the box does (RunFitLimitPrompts,
// proposing a range centred on the start). True when none needed asking or the
// questions were answered; false when cancelled (the fit is not started).
bool ProposeRangesHoldingStarts(Window* window);

}  // namespace tarmic
