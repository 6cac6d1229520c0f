// Pieces of the serialize-fit series that do not need the window: the texts of the
// series error codes and the "MCintegrals" file, which collects the Monte-Carlo
// integral statistics (MCIntegralStats) of every data set of a series.
#pragma once

#include <string>
#include <vector>

namespace tarmic {

// The text of a series error code (nSeriesErrorCode, 1..10); any other code gives
// "error occured (invalid error code)".
std::string SeriesErrorMessage(int code);

// The header line of the "MCintegrals" file (with its newline).
extern const char* const kMCIntegralsHeader;
// One row of it: the integration limits smin, smax (S), then the eight values of
// MCIntegralStats (mean, standard deviation, lower and upper limit of sw, then of
// the integrated signal c), tab-separated, with its newline.
std::string MCIntegralsRow(float smin, float smax, const float stats[8]);
// Writes the header and the rows to path as a whole (replacing what was there);
// false when it cannot be written.
bool WriteMCIntegralsFile(const std::string& path, const std::vector<std::string>& rows);

}  // namespace tarmic
