// The rotor speed during the acceleration phase of a run, for one time step.
#pragma once

namespace tarmic {

// Speed (rpm) for a step from t to t + dt while the rotor accelerates linearly from
// rest at rate rpm/s until accelEnd (s): the root-mean-square of the speeds at both
// ends of the step (w^2 drives the sedimentation), at most finalRpm. From accelEnd
// on, or when the acceleration lasts under 10 s (no ramp), the final speed, and
// *accelerating is cleared.
double RampRotorSpeed(double t, double dt, double accelEnd, double rate, double finalRpm,
                      bool* accelerating);

}  // namespace tarmic
