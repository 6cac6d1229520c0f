// Series error texts and the "MCintegrals" file (see the header).
#include "modelcalc/fit_series.h"

#include <cstdio>

#include "storage/atomic_file.h"

namespace tarmic {

namespace {

// Index = nSeriesErrorCode; entry 0 unused.
const char* const kSeriesErrorTexts[] = {
    nullptr,
    "max #iteration exceeded in NNLS",
    "matrix not positive definite in NNLS",
    "problem in regularization, cannot reach chi-square increase",
    "Maximum number of iterations exceeded in zbrent",
    "too many iterations finding root",
    "problem with regularization, caught at P = ?",
    "could not create MC directory",
    "too many iterations finding root",
    "zero differential in mlcof",
    "Nelder-Mead not converged",
};
constexpr int kSeriesErrorCodes = 10;

}  // namespace

const char* const kMCIntegralsHeader =
    "smin\tsmax\tsavg\tsstd\tslow\tsup\tcavg\tcstd\tclow\tcup (P = 0.68)\n";

std::string SeriesErrorMessage(int code) {
  if (code < 1 || code > kSeriesErrorCodes) return "error occured (invalid error code)";
  return kSeriesErrorTexts[code];
}

std::string MCIntegralsRow(float smin, float smax, const float stats[8]) {
  std::string row;
  char field[48];
  std::snprintf(field, sizeof field, "%g\t%g", static_cast<double>(smin), static_cast<double>(smax));
  row += field;
  for (int k = 0; k < 8; ++k) {
    std::snprintf(field, sizeof field, "\t%g", static_cast<double>(stats[k]));
    row += field;
  }
  row += '\n';
  return row;
}

bool WriteMCIntegralsFile(const std::string& path, const std::vector<std::string>& rows) {
  AtomicFile out(path);
  std::FILE* f = out.File();
  if (!f) return false;
  bool ok = std::fputs(kMCIntegralsHeader, f) >= 0;
  for (const std::string& row : rows) ok = ok && std::fputs(row.c_str(), f) >= 0;
  return ok && out.Commit();
}

}  // namespace tarmic
