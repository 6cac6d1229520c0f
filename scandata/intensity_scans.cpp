#include "scandata/intensity_scans.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "scandata/data_set.h"

namespace tarmic {

float AbsorbanceFromIntensities(float sample, float reference) {
  if (!(sample > 0.0f) || !(reference > 0.0f)) return kOffScaleAbsorbance;
  return static_cast<float>(std::log10(static_cast<double>(reference) / static_cast<double>(sample)));
}

float IntensityFromAbsorbance(float absorbance, float reference) {
  return static_cast<float>(static_cast<double>(reference) * std::pow(10.0, -static_cast<double>(absorbance)));
}

float ShiftIntensityByAbsorbance(float intensity, float delta) {
  return static_cast<float>(static_cast<double>(intensity) * std::pow(10.0, -static_cast<double>(delta)));
}

std::vector<float> ScanAbsorbance(int s) {
  const auto k = static_cast<std::size_t>(s);
  if (s < 1 || k >= DataSet().pnPoints.size()) return {0.0f};
  const int n = std::max(DataSet().pnPoints[k], 0);
  const float* sample = k < DataSet().ppSignal.size() ? DataSet().ppSignal[k] : nullptr;
  const float* reference = k < DataSet().ppThirdColumn.size() ? DataSet().ppThirdColumn[k] : nullptr;
  std::vector<float> a(static_cast<std::size_t>(n) + 1, kOffScaleAbsorbance);
  a[0] = 0.0f;
  if (sample && reference)
    for (int i = 1; i <= n; ++i) a[static_cast<std::size_t>(i)] = AbsorbanceFromIntensities(sample[i], reference[i]);
  return a;
}

void ConvertFitToIntensity(int s) {
  const auto k = static_cast<std::size_t>(s);
  if (s < 1 || k >= DataSet().ppFit.size() || k >= DataSet().ppThirdColumn.size() || !DataSet().ppFit[k] || !DataSet().ppThirdColumn[k]) return;
  for (int j = 1; j <= DataSet().pnPoints[k]; ++j) DataSet().ppFit[k][j] = IntensityFromAbsorbance(DataSet().ppFit[k][j], DataSet().ppThirdColumn[k][j]);
}

}  // namespace tarmic
