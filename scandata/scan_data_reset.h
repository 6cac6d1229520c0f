// Everything the scan data keep back to where the program starts: above the data
// set and every module whose globals it resets.
#pragma once

namespace tarmic {

// Frees the set and sets every global of the scan files, the data set, the grid,
// the stored file list and the analysis switches to its default.
void ResetScanDataGlobals();

}  // namespace tarmic
