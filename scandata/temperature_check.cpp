#include "scandata/temperature_check.h"

#include <cmath>

#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

std::string TemperatureFluctuationNote(float tolerance) {
  if (DataSet().nScans < 2) return {};
  const float first = DataSet().pScanInfo[1].temperature;
  for (int i = 2; i <= DataSet().nScans; ++i)
    if (std::fabs(DataSet().pScanInfo[static_cast<std::size_t>(i)].temperature - first) >= tolerance)
      return Format("temperature fluctuations exceed %.1f degrees", static_cast<double>(tolerance));
  return {};
}

}  // namespace tarmic
