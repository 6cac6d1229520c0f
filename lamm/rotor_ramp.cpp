#include "lamm/rotor_ramp.h"

#include <algorithm>
#include <cmath>

namespace tarmic {

double RampRotorSpeed(double t, double dt, double accelEnd, double rate, double finalRpm,
                      bool* accelerating) {
  if (accelEnd < 10.0 || t >= accelEnd) {
    *accelerating = false;
    return finalRpm;
  }
  const double a = rate * t, b = rate * (t + dt);
  return std::min(std::sqrt((a * a + b * b) / 2), finalRpm);
}

}  // namespace tarmic
