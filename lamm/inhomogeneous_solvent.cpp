// An inhomogeneous solvent on the finite-element grid: a compressible solvent under
// rotor pressure, a linear density and viscosity gradient, or a sedimenting cosolute
// (the second solution). Each node gets a viscosity factor fV and a buoyancy factor
// fB; the local coefficients are D(r) = D fV(r) and s(r) = s fV(r) fB(r).
#include <algorithm>
#include <cmath>

#include "lamm/lamm_ideal.h"
#include "lamm/solvent_core.h"
#include "numerics/interpolation.h"
#include "numerics/solvent_constants.h"

namespace tarmic {

double CLammIdeal::CLCosoluteViscosity(double c) const {
  return SeriesViscosity(pViscCoef.empty() ? nullptr : pViscCoef.data(), nViscCoef, c);
}

double CLammIdeal::CLCosoluteDensity(double c) const {
  return SeriesDensity(pDensCoef.empty() ? nullptr : pDensCoef.data(), nDensCoef, c);
}

void CLammIdeal::CLCompressionDensityProfile(double* out, const double* radii, double rho0,
                                             double kappa) const {
  CompressedDensityProfile(out, radii, nGrid, dMeniscus, dRpmNow, rho0, kappa);
}

namespace {
CosoluteSeries ObjectSeries(const CLammIdeal& o) {
  return {o.pDensCoef.empty() ? nullptr : o.pDensCoef.data(), o.nDensCoef,
          o.pViscCoef.empty() ? nullptr : o.pViscCoef.data(), o.nViscCoef};
}
}  // namespace

void CLammIdeal::CLInitLocalSolvent(const double* radii) {
  const int N = nGrid;
  if (N != nLocalFactorPoints) {
    pViscFactor.assign(N + 1, 1.0);
    pBuoyFactor.assign(N + 1, 1.0);
    pCosoluteConc.assign(N + 1, 0.0);
    pCompressionDensity.assign(N + 1, fDensityWater20);
    nLocalFactorPoints = N;
  }
  const double buoyancyRef = 1 - fVbar * fDensityWater20;
  if (bCompressibleSolvent) {
    CLCompressionDensityProfile(pCompressionDensity.data(), radii, fDensity1atm, dCompressibility);
    for (int i = 1; i <= N; ++i) {
      pViscFactor[i] = 1.0 / fRelViscosity1atm;
      pBuoyFactor[i] = (1 - fVbar * pCompressionDensity[i]) / buoyancyRef;
    }
  } else if (bLinearGradient) {
    for (int i = 1; i <= N; ++i) {
      const double x = (radii[i] - radii[1]) / (radii[N] - radii[1]);
      const double viscosity = dViscosityMeniscus + x * (dViscosityBottom - dViscosityMeniscus);
      const double density = dDensityMeniscus + x * (dDensityBottom - dDensityMeniscus);
      pViscFactor[i] = STANDARDVISCOSITY / viscosity;
      pBuoyFactor[i] = (1 - fVbar * density) / buoyancyRef;
    }
  } else if (!bInhomSolventDynamic) {
    for (int i = 1; i <= N; ++i) pViscFactor[i] = pBuoyFactor[i] = 1.0;
  } else {
    // The cosolute at its uniform loading, optionally with the compression of water.
    if (bAddWaterCompressibility)
      CLCompressionDensityProfile(pCompressionDensity.data(), radii, fDensityWater20, dCompressibility);
    for (int i = 1; i <= N; ++i) {
      const double excess = bAddWaterCompressibility ? pCompressionDensity[i] - fDensityWater20 : 0.0;
      CosoluteNodeFactors(ObjectSeries(*this), dComp2C0, excess, fVbarInhom, fVbar, &pViscFactor[i],
                          &pBuoyFactor[i]);
    }
  }
}

void CLammIdeal::CLUpdateLocalSolvent(const double* radii) {
  if (!(bInhomSolventDynamic && bSecondSolution && bComp2Allocated) || pViscFactor.empty()) return;
  const int N = nGrid;
  InterpolateCurveDouble(N, radii, pCosoluteConc.data(), nComp2Points, pComp2Radius.data(),
                         pComp2Conc.data());
  for (int i = 1; i <= N; ++i) {
    const double excess = bAddWaterCompressibility ? pCompressionDensity[i] - fDensityWater20 : 0.0;
    CosoluteNodeFactors(ObjectSeries(*this), pCosoluteConc[i], excess, fVbarInhom, fVbar,
                        &pViscFactor[i], &pBuoyFactor[i]);
  }
}

double CLammIdeal::CLLocalFrameS(double s) const {
  const double ref = 1 - fVbar * fDensityWater20;
  double V = 1.0, B = 1.0;
  if (bLinearGradient) {
    V = (STANDARDVISCOSITY / dViscosityMeniscus + STANDARDVISCOSITY / dViscosityBottom) / 2;
    B = ((1 - fVbar * dDensityMeniscus) / ref + (1 - fVbar * dDensityBottom) / ref) / 2;
  } else if (bCompressibleSolvent) {
    V = 1.0 / fRelViscosity1atm;
    B = (1 - fVbar * fDensity1atm) / ref;
  } else if (bInhomSolventDynamic) {
    V = 1.0 / fRelViscosity1atm;
    B = (1 - fVbarInhom * fDensity1atm) / ref;
  }
  return s * B * V;
}

long double CLammIdeal::CLVarStiffnessElement(int i, int j, const double* radii, int n) const {
  if (pViscFactor.empty()) return 0.0L;
  return VariableStiffnessElement(pViscFactor.data(), radii, std::min(nGrid, n), i, j);
}

long double CLammIdeal::CLVarSedimentationElement(int i, int j, const double* radii, int n) const {
  if (pViscFactor.empty()) return 0.0L;
  return VariableSedimentationElement(pViscFactor.data(), pBuoyFactor.data(), radii,
                                      std::min(nGrid, n), i, j);
}

double CLammIdeal::CLEndDiffusionFactor(const double* radii, int k) const {
  return EndDiffusionFactor(pViscFactor.empty() ? nullptr : pViscFactor.data(), radii,
                            std::min(nGrid, k));
}

double CLammIdeal::CLEndSedimentationFactor(const double* radii, int k) const {
  return EndSedimentationFactor(pViscFactor.empty() ? nullptr : pViscFactor.data(),
                                pBuoyFactor.empty() ? nullptr : pBuoyFactor.data(), radii,
                                std::min(nGrid, k));
}

}  // namespace tarmic
