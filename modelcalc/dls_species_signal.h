// The correlation function of one discrete species on dynamic-light-scattering
// data.
//
// A species of translational diffusion coefficient D decays in the field
// autocorrelation as
//   g1(tau) = A exp(-Gamma tau),   Gamma = D q^2,   q = 4 pi n sin(theta / 2) / lambda,
// with n the solvent's refractive index, theta the scattering angle and lambda the
// wavelength (m) of the correlation function's record. D is in cm^2/s, so
// Gamma = 1e-4 D q^2 in 1/s with q in 1/m; the lag time tau (s) is 10^x of the
// abscissa x. The cumulant form multiplies the decay at the mean rate by the
// expansion of the decay-rate distribution about its mean (second to fourth
// central moments mu2..mu4, given in powers of D units):
//   g1 / A = exp(-G1 q'^2 tau) (1 + mu2 q'^4 tau^2 / 2 - mu3 q'^6 tau^3 / 6 + mu4 q'^8 tau^4 / 24),
// q'^2 = 1e-4 q^2 (cm^2 -> m^2). mu2 and mu3 are the second and third cumulants;
// mu4 is the fourth central moment (the fourth cumulant plus 3 mu2^2). Unlike the
// same expansion in ln g1, which grows without bound at long lags for mu2 > 0, this
// form is a polynomial times the decay at the mean rate, bounded at every lag.
#pragma once

#include "scandata/dls_info.h"

namespace tarmic {

// The species being computed, given by the model computation.
struct DlsSpecies {
  double dDlsAmplitude = 1.0;  // amplitude, signal units
  double D = 0.0;              // diffusion coefficient, cm^2/s
  // The cumulant form: mean D (cm^2/s) and the second to fourth central moments
  // in (cm^2/s)^2, ^3, ^4 of the cumulant analysis.
  bool cumulants = false;
  double dDlsG1 = 0.0;
  double dDlsMu2 = 0.0;
  double dDlsMu3 = 0.0;
  double dDlsMu4 = 0.0;
};

// q^2 of a record, 1/m^2; 0 when the wavelength is not positive.
double ScatteringVectorSquared(const DLSInfo& record);

// g1 of the species at the abscissae x[1..n] (log10 lag time) into out[1..n]:
// amplitude dDlsAmplitude with D, or in the cumulant form of dDlsG1 and dDlsMu2..4.
// Values are clamped to 0 where the exponent underflows.
void DLSCorrelationProfile(const DLSInfo& record, const DlsSpecies& species, const float* x,
                           float* out, int n);

// g1 of unit amplitude of one species of diffusion coefficient D (cm^2/s), a
// single exponential exp(-1e-4 D q^2 tau), at the abscissae x[1..n] (log10 lag
// time) into out[1..n]: the kernel of a grid point of the DLS distributions.
void DLSFieldCorrelation(const DLSInfo& record, double D, const float* x, float* out, int n);

// Installs DLSFieldCorrelation as the distribution engine's correlation function
// (distribution_hooks.h).
void InstallDLSKernelHook();

// The correlation function of the current species (iCurrentSpecies) for every
// modelled correlation function: added to the fit rows on each function's own lag
// times, or written into the species' signal table on the common grid when the
// amplitudes or noise are solved linearly.
void CalculateDLSSpeciesSignal(const DlsSpecies& species);

}  // namespace tarmic
