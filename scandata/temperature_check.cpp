#include "scandata/temperature_check.h"

#include <cmath>

#include "numerics/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

int CheckTemperatureFluctuations(Window* window, float tolerance) {
  if (nScans < 2) return 1;
  const float first = pScanInfo[1].temperature;
  bool fluctuates = false;
  for (int i = 2; i <= nScans; ++i)
    if (std::fabs(pScanInfo[static_cast<std::size_t>(i)].temperature - first) >= tolerance) fluctuates = true;
  if (!fluctuates) return 1;
  const DataSetHooks& hooks = GetDataSetHooks();
  if (hooks.showTemperaturePlot) hooks.showTemperaturePlot(window);
  PlayErrorSound();
  if (HasBackend())
    GetBackend().MessageBox(Format("temperature fluctuations exceed %.1f degrees", static_cast<double>(tolerance)),
                            "ERROR", MB_OK | MB_ICONERROR);
  return 0;
}

int CheckScanTimesDiffer(Window*) {
  if (nScans < 2 || bEquilibriumMode || bElectrophoresisMode || bDLSData) return 1;
  const double first = pScanInfo[1].time;
  for (int i = 2; i <= nScans; ++i)
    if (pScanInfo[static_cast<std::size_t>(i)].time != first) return 1;
  PlayInfoSound();
  if (HasBackend())
    GetBackend().MessageBox(Format("all %d scans hold the same time, %g s: a sedimentation velocity "
                                   "analysis needs scans taken at different times - check line 2 "
                                   "of the scan files",
                                   nScans, first),
                            "ATTENTION", MB_OK | MB_ICONINFORMATION);
  return 0;
}

}  // namespace tarmic
