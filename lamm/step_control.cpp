#include "lamm/step_control.h"

#include <cassert>

namespace tarmic {

namespace {

// Limits common to both directions: at most 10x the old length and the solver's
// largest step, at least 1e-15 s and 0.1x the old length.
double LimitStep(double dt, double old, const StepControlSettings& s, bool* floored) {
  if (dt > 10 * old) dt = 10 * old;
  if (dt > s.dtMax) dt = s.dtMax;
  if (dt < kMinimumStep) {
    dt = kMinimumStep;
    if (floored) *floored = true;
  }
  if (dt < 0.1 * old) dt = 0.1 * old;
  return dt;
}

}  // namespace

double ShrinkStep(double dt, double change, const StepControlSettings& s, double* dtPrev,
                  bool* floored) {
  const double aim = change != 0.0 ? s.changeTarget / change * dt : 0.0;
  const double base = dt / s.stepFactor;
  *dtPrev = dt;
  double next = (aim - base) * s.stepBlend + base;
  if (next >= 0.8 * dt && next <= 1.2 * dt) next /= 2;
  return LimitStep(next, dt, s, floored);
}

double GrowStep(double dt, double change, const StepControlSettings& s, double* dtPrev) {
  const double aim = change != 0.0 ? s.changeTarget / change * dt : 0.0;
  const double base = dt * s.stepFactor;
  *dtPrev = dt;
  double next = (aim - base) * s.stepBlend + base;
  if (next >= 0.9 * dt && next <= 1.1 * dt) next *= 2;
  return LimitStep(next, dt, s, nullptr);
}

double NextStepAfterAccept(double dt, double change, double lowChange,
                           const StepControlSettings& s, double* dtPrev) {
  assert(dt > 0);
  if (change == 0.0) return 10 * dt;
  if (change < lowChange) return GrowStep(dt, change, s, dtPrev);
  return dt;
}

const char* StepFloorMessage() {
  return "The Lamm equation solution was not computed: its time steps stayed below 1e-12 s "
         "without keeping the change per step within max dc/c, so the solution advanced no "
         "more. A species does this when it piles up at an end of the cell (a floating one at "
         "the meniscus) in a layer far thinner than the grid spacing, which the finite-element "
         "grid cannot resolve (a large |s| with a small D). In \"Numerical Control of Lamm "
         "Equation Solution\" try more grid points; a species that hardly diffuses can be "
         "modelled with D = 0.";
}

const char* const kStepControlGaveUpMessage =
    "The Lamm equation solution was not computed: its step control gave up (the profile "
    "ran away, or the change per step could not be kept within max dc/c). In \"Numerical "
    "Control of Lamm Equation Solution\" change the grid size and readjust max dc/c.";

}  // namespace tarmic
