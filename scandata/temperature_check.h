// The check of the loaded scans' temperatures.
#pragma once

#include <string>

namespace tarmic {

// Compares each scan's temperature with the first scan's: when any differs by
// tolerance (degrees C) or more, the note "temperature fluctuations exceed %.1f
// degrees", which the loader hands to the command with the temperature plot shown;
// empty when the temperatures agree.
std::string TemperatureFluctuationNote(float tolerance);

}  // namespace tarmic
