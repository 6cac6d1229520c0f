#include "scandata/scan_times_check.h"

#include "scandata/data_set.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

std::string ScanTimesNote() {
  if (nScans < 2 || bEquilibriumMode || bElectrophoresisMode || bDLSData) return {};
  const double first = pScanInfo[1].time;
  for (int i = 2; i <= nScans; ++i)
    if (pScanInfo[static_cast<std::size_t>(i)].time != first) return {};
  return Format("all %d scans hold the same time, %g s: a sedimentation velocity analysis needs "
                "scans taken at different times - check line 2 of the scan files",
                nScans, first);
}

}  // namespace tarmic
