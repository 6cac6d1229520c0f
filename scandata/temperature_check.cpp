#include "scandata/temperature_check.h"

#include <cmath>

#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

std::string TemperatureFluctuationNote(float tolerance) {
  auto& dataSetPart = DataSet();
  if (dataSetPart.nScans < 2) return {};
  const float first = dataSetPart.pScanInfo[1].temperature;
  for (int i = 2; i <= dataSetPart.nScans; ++i)
    if (std::fabs(dataSetPart.pScanInfo[static_cast<std::size_t>(i)].temperature - first) >= tolerance)
      return Format("temperature fluctuations exceed %.1f degrees", static_cast<double>(tolerance));
  return {};
}

}  // namespace tarmic
