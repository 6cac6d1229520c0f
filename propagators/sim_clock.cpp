#include "propagators/sim_clock.h"

namespace tarmic {

}  // namespace tarmic
