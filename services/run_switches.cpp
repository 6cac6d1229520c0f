// Run switches shared by the long computations and the main window.
#include "services/run_switches.h"

namespace tarmic {

std::atomic<bool> bUserAbort{false};
std::atomic<bool> bKeyLatch{false};
bool bBatchMode = false;
bool bStopRealtimeUpdate = false;
bool bSeriesInterrupted = false;
int nSeriesErrorCode = 0;

void ResetRunSwitches() {
  bUserAbort = false;
  bKeyLatch = false;
  bBatchMode = false;
  bStopRealtimeUpdate = false;
  bSeriesInterrupted = false;
  nSeriesErrorCode = 0;
}

}  // namespace tarmic
