// Integrals and averages of the current distribution.
#include "distributions/distribution_integration.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "numerics/hydrodynamics.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// Signal-weighted averages of the c(s,ff0) cells inside [lo, hi] x [second range].
void IntegrateSizeShape(float lo, float hi) {
  auto& dataSetPart = DataSet();
  auto& distributionIntegrationPart = DistributionIntegration();
  auto& distributionModelsPart = DistributionModels();
  auto& distributionVectorsPart = DistributionVectors();
  const float* first = distributionModelsPart.bCsff0ViewMFf0 ? distributionVectorsPart.pCsff0M : distributionVectorsPart.pCsff0S;
  const float* second = distributionModelsPart.bCsff0ViewSM    ? distributionVectorsPart.pCsff0M
                        : distributionModelsPart.bCsff0ViewSRs ? distributionVectorsPart.pCsff0Rs
                        : distributionModelsPart.bCsff0ViewSD  ? distributionVectorsPart.pCsff0D
                                        : distributionVectorsPart.pCsff0Ff0;
  auto selected = [&](int k) {
    return first[k] >= lo && first[k] <= hi && second[k] >= distributionIntegrationPart.fCsff0SecondMin &&
           second[k] <= distributionIntegrationPart.fCsff0SecondMax;
  };
  float W = 0.0f, sumM = 0.0f, sumRs = 0.0f, sumFf0 = 0.0f, sumS = 0.0f, sumD = 0.0f;
  for (int k = 1; k <= distributionVectorsPart.nFf0Grid; ++k) {
    if (!selected(k)) continue;
    const float c = distributionVectorsPart.pCsff0Values[k];
    W += c;
    sumM += distributionVectorsPart.pCsff0M[k] * c;
    sumRs += distributionVectorsPart.pCsff0Rs[k] * c;
    sumFf0 += distributionVectorsPart.pCsff0Ff0[k] * c;
    sumS += distributionVectorsPart.pCsff0S[k] * c;
    sumD += distributionVectorsPart.pCsff0D[k] * c;
  }
  if (!(W > 0.0f)) {
    distributionIntegrationPart.fCsff0AvgM = distributionIntegrationPart.fCsff0AvgRs = distributionIntegrationPart.fCsff0AvgFf0 = distributionIntegrationPart.fCsff0MsD = distributionIntegrationPart.fCsff0SdRs = distributionIntegrationPart.fCsff0SdM = 0.0f;
    return;
  }
  distributionIntegrationPart.fCsff0AvgM = sumM / W;
  distributionIntegrationPart.fCsff0AvgRs = sumRs / W;
  distributionIntegrationPart.fCsff0AvgFf0 = sumFf0 / W;
  distributionIntegrationPart.fCsff0MsD = sumD > 0.0f ? MFromSandD(sumS / W, sumD / W, dataSetPart.fTemperatureK - 273.15f) : 0.0f;
  float varRs = 0.0f, varM = 0.0f;
  for (int k = 1; k <= distributionVectorsPart.nFf0Grid; ++k) {
    if (!selected(k)) continue;
    const float c = distributionVectorsPart.pCsff0Values[k];
    varRs += (distributionVectorsPart.pCsff0Rs[k] - distributionIntegrationPart.fCsff0AvgRs) * (distributionVectorsPart.pCsff0Rs[k] - distributionIntegrationPart.fCsff0AvgRs) * c;
    varM += (distributionVectorsPart.pCsff0M[k] - distributionIntegrationPart.fCsff0AvgM) * (distributionVectorsPart.pCsff0M[k] - distributionIntegrationPart.fCsff0AvgM) * c;
  }
  distributionIntegrationPart.fCsff0SdRs = std::sqrt(varRs / W);
  distributionIntegrationPart.fCsff0SdM = std::sqrt(varM / W);
}

}  // namespace

const float* IntegrationAxis(int* first) {
  auto& dataSetPart = DataSet();
  auto& distributionVectorsPart = DistributionVectors();
  if (first) *first = !dataSetPart.bDLSData && LeadingEntrySkipped() ? 2 : 1;
  if (dataSetPart.bDLSData) return ModelFlags().bDLSDModel ? distributionVectorsPart.pDistS : distributionVectorsPart.pDistGrid;
  return IsSGridModel() ? distributionVectorsPart.pDistGrid : distributionVectorsPart.pDistS;
}

bool IntegrationAxisRange(float* lo, float* hi) {
  auto& distributionVectorsPart = DistributionVectors();
  int first = 1;
  const float* x = IntegrationAxis(&first);
  if (!x || !distributionVectorsPart.pDistValues || distributionVectorsPart.nDistGrid < first + 1) return false;
  *lo = std::min(x[first], x[distributionVectorsPart.nDistGrid]);
  *hi = std::max(x[first], x[distributionVectorsPart.nDistGrid]);
  return true;
}

void IntegrateDistribution(float lo, float hi, float* area, float* mean, float* total, float* sd,
                           float* harmonic, float* zratio) {
  *area = *mean = *total = 0.0f;
  const int n = DistributionVectors().nDistGrid;
  if (!DistributionVectors().pDistValues || !DistributionVectors().pDistGrid || !DistributionVectors().pDistS || n < 1) return;

  // 1. The x array and the first segment.
  std::vector<float> linear;
  int first = 1;
  const float* x = IntegrationAxis(&first);
  const bool dls = DataSet().bDLSData;
  const bool dlsD = dls && ModelFlags().bDLSDModel;
  if (dls && DistributionModels().bDLSLinearAxis) {
    const double shift = dlsD ? 7.0 : 9.0;
    linear.assign(static_cast<std::size_t>(n) + 1, 0.0f);
    for (int i = 1; i <= n; ++i) {
      linear[static_cast<std::size_t>(i)] = static_cast<float>(std::pow(10.0, x[i] + shift));
    }
    x = linear.data();
    lo = static_cast<float>(std::pow(10.0, lo + shift));
    hi = static_cast<float>(std::pow(10.0, hi + shift));
  }
  const float* c = DistributionVectors().pDistValues;

  // 2. to 4. Segments, clipped to [lo, hi].
  const bool wantSd = sd != nullptr;
  const bool wantAll = wantSd && harmonic && zratio;
  const bool logOk = !dls && lo > 0.0f && hi > 0.0f;
  float A = 0.0f, M1 = 0.0f, M2 = 0.0f, H = 0.0f, T = 0.0f;
  for (int i = first; i < n; ++i) {
    const float xa = x[i], xb = x[i + 1];
    if (xa == xb) continue;
    const float ca = c[i], cb = c[i + 1];
    T += (xb - xa) * (ca + cb) / 2.0f;
    const float b = (cb - ca) / (xb - xa);
    const float a = ca - b * xa;
    if (xb <= lo || xa >= hi) continue;
    const float u = xa < lo ? lo : xa;
    const float v = xb > hi ? hi : xb;
    if (!(v > u)) continue;
    const float cu = u == xa ? ca : a + b * u;
    const float cv = v == xb ? cb : a + b * v;
    A += (v - u) * (cu + cv) / 2.0f;
    M1 += a * (v * v - u * u) / 2.0f + b * (v * v * v - u * u * u) / 3.0f;
    if (wantSd) {
      M2 += a * (v * v * v - u * u * u) / 3.0f + b * (v * v * v * v - u * u * u * u) / 4.0f;
      if (wantAll && logOk) H += b * (v - u) + a * (std::log(v) - std::log(u));
    }
  }

  // 5. Results.
  if (A != 0.0f) {
    float m = M1 / A;
    if (dls && !DistributionModels().bDLSLinearAxis) m = static_cast<float>(std::pow(10.0, m + (dlsD ? 7.0 : 9.0)));
    *area = A;
    *mean = m;
    *total = T;
    if (wantSd) {
      *sd = dls ? 0.0f : std::sqrt(std::fabs(M2 / A - (M1 / A) * (M1 / A)));
      if (wantAll) {
        *harmonic = logOk && H != 0.0f ? A / H : 0.0f;
        *zratio = logOk && M1 != 0.0f ? M2 / M1 : 0.0f;
      }
    }
  }

  // 6. The c(s,ff0) selection.
  if (!dls && IsSizeShapeModel() && DistributionVectors().pCsff0S && DistributionVectors().pCsff0M && DistributionVectors().pCsff0Ff0 && DistributionVectors().pCsff0D && DistributionVectors().pCsff0Rs &&
      DistributionVectors().pCsff0Values) {
    IntegrateSizeShape(lo, hi);
  }
}

}  // namespace tarmic
