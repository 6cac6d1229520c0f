// Density and integral forms of the distribution arrays.
#include "distributions/distribution_arrays.h"

#include <cmath>
#include <cstddef>
#include <vector>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_models.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"

namespace tarmic {

namespace {

// The x array of a light-scattering distribution for the normalisation, or null for
// the models that are left unchanged.
const float* DLSAxis(std::vector<float>& linear) {
  auto& distributionModelsPart = DistributionModels();
  auto& distributionVectorsPart = DistributionVectors();
  auto& modelFlagsPart = ModelFlags();
  const bool rh = modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSTimeCourseModel;
  if (!rh && !modelFlagsPart.bDLSDModel) return nullptr;
  const float* source = rh ? distributionVectorsPart.pDistGrid : distributionVectorsPart.pDistS;
  if (!distributionModelsPart.bDLSLinearAxis) return source;
  const double shift = rh ? 9.0 : 7.0;
  linear.assign(static_cast<std::size_t>(distributionVectorsPart.nDistGrid) + 1, 0.0f);
  for (int i = 1; i <= distributionVectorsPart.nDistGrid; ++i) {
    linear[static_cast<std::size_t>(i)] = static_cast<float>(std::pow(10.0, source[i] + shift));
  }
  return linear.data();
}

void NormalizeOne(float* values) {
  auto& distributionVectorsPart = DistributionVectors();
  if (!values) return;
  const int n = distributionVectorsPart.nDistGrid;
  if (!DataSet().bDLSData) {
    if (!IsSGridModel()) {
      DivideByBinWidths(values, distributionVectorsPart.pDistS, 1, n, false);
    } else if (!LeadingEntryIsDiscrete()) {
      DivideByBinWidths(values, distributionVectorsPart.pDistGrid, 1, n, true);
    } else {
      DivideByBinWidths(values, distributionVectorsPart.pDistGrid, 2, n, true);
    }
    return;
  }
  std::vector<float> linear;
  const float* x = DLSAxis(linear);
  if (x) DivideByBinWidths(values, x, 1, n, false);
}

}  // namespace

void DivideByBinWidths(float* values, const float* x, int first, int last, bool absolute) {
  if (last <= first) return;
  std::vector<float> width(static_cast<std::size_t>(last - first + 1));
  for (int i = first; i <= last; ++i) {
    float w;
    if (i == first) {
      w = (x[i + 1] - x[i]) / 2.0f;
    } else if (i == last) {
      w = (x[i] - x[i - 1]) / 2.0f;
    } else {
      w = (x[i + 1] - x[i - 1]) / 2.0f;
    }
    width[static_cast<std::size_t>(i - first)] = absolute ? std::fabs(w) : w;
  }
  for (int i = first; i <= last; ++i) {
    const float w = width[static_cast<std::size_t>(i - first)];
    if (w != 0.0f) values[i] /= w;
  }
}

void NormalizeDistributionValues(bool showBoth) {
  auto& modelFlagsPart = ModelFlags();
  auto& currentGridPart = CurrentGrid();
  auto& dataSetPart = DataSet();
  auto& distributionVectorsPart = DistributionVectors();
  if (!distributionVectorsPart.pDistValues || distributionVectorsPart.nDistGrid < 1) return;
  if (modelFlagsPart.bLsgModel && dataSetPart.nScans >= 1 && currentGridPart.pGridRadius && dataSetPart.fMeniscus > 0.0f && currentGridPart.iFitLast >= 1) {
    // The largest s whose boundary can have passed the right fit limit in the first
    // scan: s_max = ln(r_R / meniscus) / (omega^2 t), in S.
    const double w2t = dataSetPart.pScanInfo[static_cast<std::size_t>(dataSetPart.pScanOrder[1])].omega2t;
    if (w2t > 0.0) {
      const double sMax = 1e13 * std::log(currentGridPart.pGridRadius[currentGridPart.iFitLast] / dataSetPart.fMeniscus) / w2t;
      for (int i = 1; i <= distributionVectorsPart.nDistGrid; ++i) {
        if (distributionVectorsPart.pDistGrid[i] > sMax) {
          distributionVectorsPart.pDistValues[i] = 0.0f;
          if (distributionVectorsPart.pDistValues2) distributionVectorsPart.pDistValues2[i] = 0.0f;
        }
      }
    }
  }
  NormalizeOne(distributionVectorsPart.pDistValues);
  if (showBoth) NormalizeOne(distributionVectorsPart.pDistValues2);
}

void TransformToIntegralDistribution() {
  auto& dataSetPart = DataSet();
  auto& distributionVectorsPart = DistributionVectors();
  if (dataSetPart.bDLSData || !distributionVectorsPart.pDistValues || distributionVectorsPart.nDistGrid < 1) return;
  const int n = distributionVectorsPart.nDistGrid;
  const int first = LeadingEntrySkipped() ? 2 : 1;
  if (first > n) return;
  const float* x = IsSGridModel() ? distributionVectorsPart.pDistGrid : distributionVectorsPart.pDistS;
  std::vector<float> integral(static_cast<std::size_t>(n) + 1, 0.0f);
  for (int i = first + 1; i <= n; ++i) {
    integral[static_cast<std::size_t>(i)] =
        integral[static_cast<std::size_t>(i - 1)] +
        (x[i] - x[i - 1]) * (distributionVectorsPart.pDistValues[i - 1] + distributionVectorsPart.pDistValues[i]) / 2.0f;
  }
  for (int i = first; i <= n; ++i) distributionVectorsPart.pDistValues[i] = integral[static_cast<std::size_t>(i)];
  RedrawDistributionPlot();
}

}  // namespace tarmic
