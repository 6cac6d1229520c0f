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
  auto& dataSetPart = DataSet();
  const auto k = static_cast<std::size_t>(s);
  if (s < 1 || k >= dataSetPart.pnPoints.size()) return {0.0f};
  const int n = std::max(dataSetPart.pnPoints[k], 0);
  const float* sample = k < dataSetPart.ppSignal.size() ? dataSetPart.ppSignal[k] : nullptr;
  const float* reference = k < dataSetPart.ppThirdColumn.size() ? dataSetPart.ppThirdColumn[k] : nullptr;
  std::vector<float> a(static_cast<std::size_t>(n) + 1, kOffScaleAbsorbance);
  a[0] = 0.0f;
  if (sample && reference)
    for (int i = 1; i <= n; ++i) a[static_cast<std::size_t>(i)] = AbsorbanceFromIntensities(sample[i], reference[i]);
  return a;
}

void ConvertFitToIntensity(int s) {
  auto& dataSetPart = DataSet();
  const auto k = static_cast<std::size_t>(s);
  if (s < 1 || k >= dataSetPart.ppFit.size() || k >= dataSetPart.ppThirdColumn.size() || !dataSetPart.ppFit[k] || !dataSetPart.ppThirdColumn[k]) return;
  for (int j = 1; j <= dataSetPart.pnPoints[k]; ++j) dataSetPart.ppFit[k][j] = IntensityFromAbsorbance(dataSetPart.ppFit[k][j], dataSetPart.ppThirdColumn[k][j]);
}

}  // namespace tarmic
