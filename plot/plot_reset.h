// The reset of the whole plotting library, above each of its parts.
#pragma once

namespace tarmic {

// Deletes the plots and sets every global of the plotting library to its default.
void ResetPlotting();

}  // namespace tarmic
