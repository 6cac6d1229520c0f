// Step-length control of the adaptive Crank-Nicolson solvers.
//
// A step is judged by the largest relative change of the profile. A change above
// the accepted maximum shrinks the step and the step is tried again; a change below
// the lower bound lets the next step grow. Both rules aim at a target change and
// blend that aim with a fixed factor:
//   aim = target / change x dt          (0 when the change is 0)
//   base = dt / factor (shrink)  or  dt x factor (grow)
//   dt' = base + (aim - base) x blend
// A proposal within 0.8-1.2 (shrink) or 0.9-1.1 (grow) of the old length is halved
// or doubled, so that the control never dithers. Then dt' is limited to 10 dt and to
// the solver's largest step, raised to 1e-15 s, and raised to 0.1 dt: no adjustment
// changes the length by more than a factor of 10.
#pragma once

namespace tarmic {

struct StepControlSettings {
  double changeTarget = 0.3;  // relative change per step the control aims at
  double stepFactor = 2.0;    // fixed factor: divides a rejected step, multiplies a growing one
  double stepBlend = 1.0;     // weight of the aimed length against the fixed-factor length
  double dtMax = 1000.0;      // largest step, s
};

// The shortest step the control proposes, s.
inline constexpr double kMinimumStep = 1e-15;

// The floor on the steps a solution advances by: a run whose accepted steps stay
// shorter than kSmallestUsefulStep for more than kMostTinySteps steps in a row
// advances no more (a layer at an end of the cell that the grid cannot resolve
// keeps the step control at its shortest step) and ends as a discretisation error.
inline constexpr double kSmallestUsefulStep = 1e-12;
inline constexpr int kMostTinySteps = 100;
class TinyStepCount {
 public:
  // After each accepted step of dt: true once the run must end.
  bool AtFloor(double dt) {
    tiny_ = dt < kSmallestUsefulStep ? tiny_ + 1 : 0;
    return tiny_ > kMostTinySteps;
  }

 private:
  int tiny_ = 0;
};

// The message of a solution ended by the floor on the steps, and of one whose step
// control gave up otherwise (the profile ran away).
const char* StepFloorMessage();
extern const char* const kStepControlGaveUpMessage;

// The shorter length after a rejected step of dt with the given change. *floored is
// set when the proposal had to be raised to the shortest step (a retry counts).
// *dtPrev receives dt.
double ShrinkStep(double dt, double change, const StepControlSettings& s, double* dtPrev,
                  bool* floored);

// The next length after an accepted step of dt whose change was below the lower
// bound (change > 0). *dtPrev receives dt.
double GrowStep(double dt, double change, const StepControlSettings& s, double* dtPrev);

// The next length after an accepted step: 10 dt when nothing changed, the grown
// length when the change was below lowChange, else dt unchanged.
double NextStepAfterAccept(double dt, double change, double lowChange,
                           const StepControlSettings& s, double* dtPrev);

}  // namespace tarmic
