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
// run: in one cell at one rotor speed (and one wavelength), at least five scans
// whose successive scans lie at most kShortScanInterval apart, and whose profiles
// keep changing from scan to scan (a moving boundary), where at equilibrium they
// would stop changing. A pair of scans changes when the spread of their difference
// (a constant offset removed, so that interference offsets do not count) exceeds
// three times the difference that their noise alone gives and 1% of the signal
// span; the set is a velocity run when three quarters of its successive pairs are
// short and three quarters of those change. Returns the note that says so and how
// to load velocity scans, empty otherwise. The set stays loaded as it is.
inline constexpr double kShortScanInterval = 1800.0;  // s
std::string VelocityRunAsEquilibriumNote();

// The converse, for scans loaded as sedimentation velocity data: the set shows
// sedimentation equilibrium when, in every cell at each rotor speed (and
// wavelength), no successive scans differ by more than their noise (the test of
// VelocityRunAsEquilibriumNote), and there is a pair of scans at one speed or more
// than one speed. Returns the note that says so and how to load equilibrium data,
// empty otherwise.
std::string EquilibriumRunAsVelocityNote();

}  // namespace tarmic
