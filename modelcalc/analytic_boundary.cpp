#include "modelcalc/analytic_boundary.h"

#include <cmath>
#include <cstddef>

#include "lamm/back_diffusion.h"
#include "lamm/radial_corrections.h"
#include "modelfit/lamm_settings.h"
#include "numerics/hydrodynamics.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {

float ErfcApprox(float x) {
  const float z = std::fabs(x);
  const float t = 1.0f / (1.0f + 0.5f * z);
  const float e =
      -z * z - 1.26551223f +
      t * (1.00002368f +
           t * (0.37409196f +
                t * (0.09678418f +
                     t * (-0.18628806f +
                          t * (0.27886807f +
                               t * (-1.13520398f +
                                    t * (1.48851587f + t * (-0.82215223f + t * 0.17087277f))))))));
  const float y = t * std::exp(e);
  return x >= 0 ? y : 2.0f - y;
}

void ErfcBoundaryProfile(float c0, double t, const float* radii, float* values, int count,
                         float sw2, float D, float m, float bottom) {
  CellOptics optics;
  optics.resolution = ScanFile().bAbsorbanceData && !ScanFile().bIntensityData && LammSettings().bSimulateRadialResolution;
  optics.resolutionRange = LammSettings().fRadialConvolutionRange;
  optics.meniscus = m;
  optics.bottom = bottom;
  RecordClosedFormProfile(
      [&](int n, const float* r, float* out) {
        if (!(t > 0)) {
          // The loading: uniform in the cell; the limit t -> 0 of the boundary is c0/2 at m.
          for (int i = 1; i <= n; ++i) out[i] = r[i] > m ? c0 : (r[i] == m ? 0.5f * c0 : 0.0f);
        } else if (sw2 == 0) {
          // Nothing sediments: no boundary forms at the meniscus and nothing dilutes.
          for (int i = 1; i <= n; ++i) out[i] = r[i] >= m ? c0 : 0.0f;
        } else {
          const float tau = 2.0f * sw2 * static_cast<float>(t);
          const float e = std::exp(-tau);
          if (!(D > 0)) {
            // Without diffusion the boundary is a step at ln(r/m) = s w^2 t.
            for (int i = 1; i <= n; ++i) {
              const float L = 2.0f * std::log(r[i] / m);
              out[i] = L > tau ? c0 * e : (L == tau ? 0.5f * c0 * e : 0.0f);
            }
          } else {
            const float eps = 2.0f * D / (sw2 * m * m);
            const float width = 2.0f * std::sqrt(eps * tau);
            for (int i = 1; i <= n; ++i) {
              const float L = 2.0f * std::log(r[i] / m);
              out[i] = 0.5f * c0 * e * ErfcApprox((tau - L) / width);
            }
          }
        }
      },
      optics, t, count, radii, values);
}

bool TestShutOffBackDiffusion(double s, double D, double meniscus, double bottom) {
  auto& dataSetPart = DataSet();
  auto& lammSettingsPart = LammSettings();
  if (!lammSettingsPart.bShutOffBackDiffusion || !(s > 0) || !(D > 0) || dataSetPart.nScans < 1 ||
      dataSetPart.pScanOrder.size() <= static_cast<std::size_t>(dataSetPart.nScans))
    return false;
  const std::size_t last = static_cast<std::size_t>(dataSetPart.pScanOrder[static_cast<std::size_t>(dataSetPart.nScans)]);
  if (last >= dataSetPart.pScanInfo.size()) return false;
  const ScanInfo& info = dataSetPart.pScanInfo[last];
  const double T = info.temperature + 273.15;
  const double omega = info.rpm * 2.0 * 3.14159265358979323846L / 60.0L;
  // Buoyant molar mass from the Svedberg relation, g/mol; k = w^2 / (2 R T).
  const double Mb = 1e-13 * s * T * kGasConstant / D;
  const double k = omega * omega / (T * 1.6628944e8);
  return BackDiffusionNegligible(Mb * k, meniscus, bottom, dataSetPart.fFitRightLim, lammSettingsPart.dBackDiffusionLevel);
}

}  // namespace tarmic
