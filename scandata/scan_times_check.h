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

// Scans loaded as sedimentation equilibrium data that show a sedimentation velocity
// run (JudgeDataKind, scandata/data_kind.h: a run of three or more scans taken
// minutes apart whose profiles change over the run beyond their noise). Returns the
// note that says so and how to load velocity scans, empty otherwise. The set stays
// loaded as it is.
std::string VelocityRunAsEquilibriumNote();

// The converse, for scans loaded as sedimentation velocity data that show
// sedimentation equilibrium (JudgeDataKind: nothing changes at any rotor speed over
// two hours or more). Returns the note that says so and how to load equilibrium
// data, empty otherwise.
std::string EquilibriumRunAsVelocityNote();

}  // namespace tarmic
