// The messages of failed Lamm solutions: the return codes of the solver object and
// the outcomes of the global-state propagators, shown in message boxes; and the
// warnings and notes of the model computation and the fit drivers. They are met in
// the middle of a computation that goes on after them (often an evaluation of a fit),
// so they are shown when met, from this one place.
#pragma once

#include "numerics/analysis.h"

#include <string>

#include "propagators/sim_run.h"

namespace tarmic {

class Window;

// The state of this module in an analysis (numerics/analysis.h).
struct SimulationMessagesState {
  // A nonlinear fit is running: the model computation is one of its evaluations.
  bool bFitRunning = false;
  // The discretization message was shown in the running fit (it is shown once per fit;
  // the fit drivers clear it when a fit starts).
  bool bDiscretizationShown = false;
};
// The current analysis' SimulationMessagesState.
inline SimulationMessagesState& SimulationMessages() { return CurrentPart<SimulationMessagesState>(); }

// Message for a return code of the solver object (CLammIdeal::Solve): 1 arrays not
// allocated, 2 discretization error (sets bSimDiverged; shown once per fit), 3
// singular tridiagonal matrix (sets bSimFailed), 5 set-up error of the rotor
// acceleration, 6 set-up error of the non-ideal parameters. Other codes (0 success,
// 4 a refusal the solver has reported itself) show nothing. window is the owner the
// boxes belong to (the main window; may be null).
void ShowSimulationError(Window* window, int code);

// The same for the outcome of a propagator: the box names what the propagator
// reported (its message), under the caption of its status; an interrupted run or
// success shows nothing.
void ShowSimulationOutcome(Window* window, const SimOutcome& outcome);

// The error box of a failure that the computation goes on after (a fit iteration
// with a zero derivative, a species the model computation could not set up); none
// in batch mode.
void ShowComputationError(const std::string& text);
// A message box of the model computation or a fit driver (none in batch mode or
// without a window system).
void ShowComputationNote(const char* text, const char* caption, unsigned style);

}  // namespace tarmic
