// Run switches shared by the long computations and the main window.
#include "numerics/run_switches.h"

namespace tarmic {

std::atomic<bool> bUserAbort{false};
std::atomic<bool> bKeyLatch{false};
bool bBatchMode = false;
bool bDataChanged = false;

void ResetRunSwitches() {
  bUserAbort = false;
  bKeyLatch = false;
  bBatchMode = false;
  bDataChanged = false;
}

}  // namespace tarmic
