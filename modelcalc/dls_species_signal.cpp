#include "modelcalc/dls_species_signal.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "distributions/distribution_hooks.h"
#include "modelcalc/model_steps.h"
#include "modelfit/model_flags.h"
#include "propagators/sim_run.h"
#include "scandata/data_set.h"

namespace tarmic {

namespace {

// exp() of an exponent below this is 0 in single precision.
constexpr double kUnderflow = -700.0;

}  // namespace

double ScatteringVectorSquared(const DLSInfo& record) {
  if (!(record.laserWavelength > 0.0f)) return 0.0;
  const double theta = record.scatteringAngle * std::numbers::pi / 180.0;
  const double q = 4.0 * std::numbers::pi * record.refractiveIndex * std::sin(0.5 * theta) / record.laserWavelength;
  return q * q;
}

namespace {

// amplitude exp(-gamma tau) (1 + m2 tau^2 / 2 - m3 tau^3 / 6 + m4 tau^4 / 24) at the
// lag times tau = 10^x[j], j = 1..n; 0 where the exponential underflows. The
// polynomial is the mean of exp(-(Gamma - gamma) tau) over the decay rates expanded
// to fourth order in their central moments m2..m4; the exponential keeps the
// product bounded at every lag, however long, so that a fit of the moments can move
// (the same expansion in the exponent grows without bound for m2 > 0).
void DecayProfile(double amplitude, double gamma, double m2, double m3, double m4, const float* x,
                  float* out, int n) {
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  for (int j = 1; j <= n; ++j) {
    const double tau = std::pow(10.0, static_cast<double>(x[j]));
    const double exponent = -gamma * tau;
    if (exponent < kUnderflow) {
      out[j] = 0.0f;
      continue;
    }
    const double spread = 1.0 + tau * tau * (m2 / 2.0 + tau * (-m3 / 6.0 + tau * m4 / 24.0));
    // Moments far beyond any decay (a trial of a fit) give a large, finite value.
    const double value = amplitude * std::exp(exponent) * spread;
    out[j] = static_cast<float>(std::clamp(value, -kFloatMax, kFloatMax));
  }
}

}  // namespace

void DLSCorrelationProfile(const DLSInfo& record, const DlsSpecies& sp, const float* x, float* out,
                           int n) {
  // q'^2 = 1e-4 q^2 turns D in cm^2/s into a decay rate in 1/s.
  const double q2 = 1e-4 * ScatteringVectorSquared(record);
  const double gamma = (sp.cumulants ? sp.dDlsG1 : sp.D) * q2;
  const double m2 = sp.cumulants ? sp.dDlsMu2 * q2 * q2 : 0.0;
  const double m3 = sp.cumulants ? sp.dDlsMu3 * q2 * q2 * q2 : 0.0;
  const double m4 = sp.cumulants ? sp.dDlsMu4 * q2 * q2 * q2 * q2 : 0.0;
  DecayProfile(sp.dDlsAmplitude, gamma, m2, m3, m4, x, out, n);
}

void DLSFieldCorrelation(const DLSInfo& record, double D, const float* x, float* out, int n) {
  DecayProfile(1.0, 1e-4 * ScatteringVectorSquared(record) * D, 0.0, 0.0, 0.0, x, out, n);
}

void CalculateDLSSpeciesSignal(const DlsSpecies& species) {
  ClosedFormSignal(SimRun().iCurrentSpecies, [&species](int s, double, const float* x, float* out, int n) {
    DLSCorrelationProfile(DataSet().pDLSInfo[static_cast<std::size_t>(s)], species, x, out, n);
  });
}

void InstallDLSKernelHook() { GetDistributionHooks().dlsFieldCorrelation = DLSFieldCorrelation; }

}  // namespace tarmic
