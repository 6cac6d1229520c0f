#include "scandata/temperature_check.h"

#include <cmath>

#include "numerics/sounds.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
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

}  // namespace tarmic
