// The check of the scans' temperatures after loading.
#pragma once

namespace tarmic {

class Window;

// Compares each scan's temperature with the first scan's; when any differs by
// tolerance (degrees C) or more, shows the temperature plot and the error
// "temperature fluctuations exceed %.1f degrees" and returns 0, else 1.
int CheckTemperatureFluctuations(Window* window, float tolerance);

}  // namespace tarmic
