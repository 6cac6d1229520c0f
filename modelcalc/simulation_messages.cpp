#include "modelcalc/simulation_messages.h"

#include <string>

#include "services/engine_notice.h"
#include "lamm/step_control.h"
#include "services/error_box.h"
#include "services/run_switches.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "platform/types.h"

namespace tarmic {

namespace {

constexpr const char* kErrorCaption = "ERROR in simulation";
constexpr const char* kDiscretizationCaption = "DISCRETIZATION ERROR";

void Box(const std::string& text, const char* caption, unsigned style) {
  RaiseNote(text, caption, style);
}

// The error sound, the box and the closing call of a box.
void ErrorBox(const std::string& text, unsigned style, bool closingCall) {
  // A fit computes the same failing set-up at many trial points: each message is
  // shown once per fit.
  if (ScopedErrorsOnce::Repeated(text)) return;
  PlayErrorSound();
  Box(text, kErrorCaption, style);
  if (closingCall) SoundNoOp();
}

void DiscretizationError(const std::string& text) {
  auto& simulationMessagesPart = SimulationMessages();
  SimRun().bSimDiverged = 1;
  // During a fit each evaluation may diverge again: the box is shown once per fit.
  if (simulationMessagesPart.bFitRunning) {
    if (simulationMessagesPart.bDiscretizationShown) return;
    simulationMessagesPart.bDiscretizationShown = true;
  }
  PlayInfoSound();
  Box(text, kDiscretizationCaption, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace

void ShowComputationError(const std::string& text) {
  if (!bBatchMode) RaiseError(text);
}

void ShowComputationNote(const char* text, const char* caption, unsigned style) {
  if (!bBatchMode) Box(text, caption, style);
}

void ShowSimulationError(Window* /*window*/, int code) {
  switch (code) {
    case 1:
      ErrorBox("could not allocate Lamm simulation arrays", MB_OK, true);
      break;
    case 2:
      DiscretizationError(kStepControlGaveUpMessage);
      break;
    case 3:
      SimRun().bSimFailed = 1;
      ErrorBox("singular tridiagonal matrix!", MB_OK, true);
      break;
    case 5:
      ErrorBox(
          "possible error in setup: temperature equilibration at 3000 rpm (please refer to "
          "experimental protocol)\n"
          " --> please switch to \"times from wwt\" in Lamm equation parameters (Options menu)\n"
          "(this is suboptimal and prohibits simulating of the rotor acceleration phase, but is a "
          "fix to analyze this data)",
          MB_OK | MB_ICONEXCLAMATION, false);
      break;
    case 6:
      ErrorBox("possible error in setupof Lamm eq. solution, nonideal parameters",
               MB_OK | MB_ICONEXCLAMATION, false);
      break;
    default:
      break;
  }
}

void ShowSimulationOutcome(Window* /*window*/, const SimOutcome& outcome) {
  switch (outcome.status) {
    case SimStatus::Ok:
    case SimStatus::Interrupted:
      return;
    case SimStatus::NotAllocated:
      ErrorBox(outcome.message.empty() ? "could not allocate Lamm simulation arrays"
                                       : outcome.message,
               MB_OK, true);
      return;
    case SimStatus::Diverged:
      DiscretizationError(outcome.message.empty() ? std::string(kStepControlGaveUpMessage)
                                                  : outcome.message);
      return;
    case SimStatus::Singular:
      SimRun().bSimFailed = 1;
      ErrorBox(outcome.message.empty() ? "singular tridiagonal matrix!" : outcome.message, MB_OK,
               true);
      return;
    case SimStatus::InvalidInput:
      ErrorBox(outcome.message.empty() ? "invalid input of the Lamm equation solution"
                                       : outcome.message,
               MB_OK | MB_ICONEXCLAMATION, false);
      return;
  }
}

}  // namespace tarmic
