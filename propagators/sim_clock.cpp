#include "propagators/sim_clock.h"

namespace tarmic {

double dSimTime = 0.0;
bool bShowSimMass = false;
double dFrameS = 0.0;
double dFrameSedOmega2 = 0.0;
double dHatT0 = 0.0;

}  // namespace tarmic
