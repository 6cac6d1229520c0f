// The checks of the scans' temperatures and times after loading.
#pragma once

namespace tarmic {

class Window;

// Compares each scan's temperature with the first scan's; when any differs by
// tolerance (degrees C) or more, shows the temperature plot and the error
// "temperature fluctuations exceed %.1f degrees" and returns 0, else 1.
int CheckTemperatureFluctuations(Window* window, float tolerance);

// Sedimentation velocity data (not equilibrium or electrophoresis data) whose two
// or more scans all hold the same time show no movement between scans: a
// velocity analysis of them is most likely one of scans whose times were not
// recorded. Says so ("ATTENTION") and returns 0; else 1. The set stays loaded:
// replicate scans of one moment, or scans meant as equilibrium data, are read
// as they are.
int CheckScanTimesDiffer(Window* window);

}  // namespace tarmic
