// The check that the scans of a velocity set were taken at different times.
#pragma once

#include <string>

namespace tarmic {

// Sedimentation velocity data (not equilibrium, electrophoresis or DLS data) whose
// two or more scans all hold the same time show no movement between scans: a
// velocity analysis of them is most likely one of scans whose times were not
// recorded. Returns the note that says so ("all 3 scans hold the same time, ..."),
// empty otherwise. The set stays loaded: replicate scans of one moment, or scans
// meant as equilibrium data, are read as they are.
std::string ScanTimesNote();

}  // namespace tarmic
