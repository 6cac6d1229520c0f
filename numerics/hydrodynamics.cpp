// Hydrodynamic relations.
#include "numerics/hydrodynamics.h"

#include <cmath>

#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/solvent_constants.h"

namespace tarmic {

namespace {

constexpr float kDefaultDiffusion = 1e-4f;  // cm^2/s, the fallback of the D(M) relations

double Kelvin(double T) { return T + 273.15; }

// Viscosity of the buffer in Pa s.
double BufferViscosity() { return static_cast<double>(STANDARDVISCOSITY) * SolventConstants().RELVISCOSITY; }

// Radius (m) of a sphere of volume V (m^3).
double SphereRadius(double V) { return std::cbrt(3.0 * V / (4.0 * kPi)); }

// f0 = 6 pi eta R0 in g/s (the factor 1000 turns kg/s into g/s) at the given
// relative viscosity; 0 for a non-positive mass or vbar.
float F0AtViscosity(float M, float vbar, float relViscosity) {
  if (M <= 0.0f || vbar <= 0.0f) return 0.0f;
  const double R0 = CalculateRadius(M, vbar);
  return static_cast<float>(6.0 * kPi * STANDARDVISCOSITY * relViscosity * R0 * 1000.0);
}

// D = k_B T / f in cm^2/s for a friction coefficient f in kg/s.
double StokesEinsteinD(double T, double f) { return kBoltzmann * Kelvin(T) * 1e4 / f; }

// D of a compact particle of mass M with the given f/f0 in the buffer.
float DFromMassAndRatio(float M, float T, float ff0) {
  if (M == 0.0f) return kDefaultDiffusion;
  const double f = 6.0 * kPi * BufferViscosity() * ff0 * CalculateRadius(M, SolventConstants().VBAR);
  if (f == 0.0) return kDefaultDiffusion;
  return static_cast<float>(StokesEinsteinD(T, f));
}

enum class Ellipsoid { Prolate, Oblate };

// Axial ratio p of an ellipsoid of revolution from the frictional ratio: the shape
// factor F = (f/f0) / H^(1/3) removes the hydration swelling H of the volume,
// and p is a polynomial fit in x = F - 1.
float AxialRatio(Ellipsoid kind, float ff0, float vbar, float hydration, float rho) {
  const double H = (static_cast<double>(vbar) + static_cast<double>(hydration) * rho) / vbar;
  if (!(H > 0.0)) {
    RaiseError(kind == Ellipsoid::Prolate
                  ? "(vbar+hydration*density)/vbar <= 0 in function CalculateProlateRatio"
                  : "(vbar+hydration*density)/vbar <= 0 in function CalculateOblateRatio");
    return 0.0f;
  }
  const double x = ff0 / std::cbrt(H) - 1.0;
  if (!(x > 0.0)) return 0.0f;
  const double r = std::sqrt(x);
  if (kind == Ellipsoid::Prolate)
    return static_cast<float>(1.0 + 2.939184 * r + 8.027775 * x + 8.55676 * x * x -
                              0.505951 * x * x * x + 0.0361508 * x * x * x * x);
  return static_cast<float>(1.0 + 3.009376 * r + 8.413897 * x + 13.34978 * x * x -
                            3.18903 * x * x * x + 0.106307 * x * x * x * x);
}

}  // namespace

double VbarFromMass(double M) {
  auto& solventConstantsPart = SolventConstants();
  if (M == 0.0) {
    RaiseError("mass == 0 in function VbarFromMass");
    return 0.0;
  }
  return solventConstantsPart.dVbarOffset + solventConstantsPart.dVbarIncrement * std::cbrt(M / std::pow(10.0, solventConstantsPart.nVbarMassScale));
}

double SFromM(double M) {
  auto& solventConstantsPart = SolventConstants();
  if (M == 0.0) {
    RaiseError("mass == 0 in function SFromM");
    return 0.0;
  }
  return solventConstantsPart.dSPowerLawA * std::pow(M, solventConstantsPart.dSPowerLawB);
}

// Svedberg equation: s / D = M (1 - vbar rho) / (R T), s in seconds.
float DFromMandS(float M, float s, float T) {
  if (M == 0.0f || s == 0.0f) return kDefaultDiffusion;
  return static_cast<float>(
      1.0 / std::fabs(1e13 * (1.0 - SolventConstants().fVRho) * M / (s * kGasConstant * Kelvin(T))));
}

float MFromSandD(float s, float D, float T) {
  if (D <= 0.0f) return 0.0f;
  return static_cast<float>(1e-13 * s * kGasConstant * Kelvin(T) / ((1.0 - SolventConstants().fVRho) * D));
}

float SFromMandD(float M, float D, float T) {
  return static_cast<float>((1.0 - SolventConstants().fVRho) * 1e13 * M * D / (kGasConstant * Kelvin(T)));
}

// R0 = (3 V / (4 pi))^(1/3) with the particle volume V = (M / N_A) vbar 1e-6 m^3.
double CalculateRadius(double M, double vbar) {
  if (M == 0.0 || vbar == 0.0) {
    RaiseError("(mass == 0)||(vbar== 0) in function CalculateRadius");
    return 0.0;
  }
  const double V = M / kAvogadro * vbar * 1e-6;
  if (V <= 0.0) return 0.0;
  return SphereRadius(V);
}

// M = N_A (4/3) pi R^3 / vbar with R in cm.
double CalculateMassFromRadius(double R, double vbar) {
  if (R <= 0.0 || vbar <= 0.0) return 0.0;
  const double Rcm = 100.0 * R;
  return 4.0 / 3.0 * kPi * Rcm * Rcm * Rcm / vbar * kAvogadro;
}

float CalculateFrictionCoefficient(float M, float s, float vbar, float rho) {
  if (s == 0.0f) return 0.0f;
  return static_cast<float>(M * (1.0 - static_cast<double>(vbar) * rho) /
                            (static_cast<double>(kAvogadro) * s * 1e-13));
}

float CalculateF0(float M, float vbar) { return F0AtViscosity(M, vbar, SolventConstants().RELVISCOSITY); }

// The buffer viscosity is passed to f0 directly, so that RELVISCOSITY is never
// changed, not even for the duration of the call.
float CalculateFrictionalRatio(float M, float s, float vbar, float rho, float relViscosity) {
  if (M == 0.0f || vbar == 0.0f) return 0.0f;
  const float f = CalculateFrictionCoefficient(M, s, vbar, rho);
  const float f0 = F0AtViscosity(M, vbar, relViscosity);
  return f / f0;
}

float DFromStokesRadius(float R, float T) {
  if (R <= 0.0f) return 0.0f;
  return static_cast<float>(StokesEinsteinD(T, 6.0 * kPi * BufferViscosity() * R));
}

float DFromRh(float R, float T) { return DFromStokesRadius(R, T); }

float DFromM(float M, float T) { return DFromMassAndRatio(M, T, SolventConstants().fFrictionalRatio); }

float DFromMff0(float M, float T, float ff0) { return DFromMassAndRatio(M, T, ff0); }

// A zero radius (M or vbar 0, reported by CalculateRadius) gives 0: no valid s.
float CalculateSedcoeffFromMassSphere(float M, float vbar, float T, float rho,
                                      float relViscosity) {
  const double R0 = CalculateRadius(M, vbar);
  if (R0 <= 0.0) return 0.0f;
  const double D =
      StokesEinsteinD(T, 6.0 * kPi * static_cast<double>(STANDARDVISCOSITY) * relViscosity * R0);
  return static_cast<float>((1.0 - static_cast<double>(vbar) * rho) * 1e13 * M * D /
                            (kGasConstant * Kelvin(T)));
}

// A zero radius or frictional ratio gives 0: no valid D.
float CalculateDiffusionCoefficient(float M, float s, float vbar, float T, float rho,
                                    float relViscosity) {
  const float ff0 = CalculateFrictionalRatio(M, s, vbar, rho, relViscosity);
  const double R0 = CalculateRadius(M, vbar);
  if (R0 <= 0.0 || ff0 == 0.0f || !std::isfinite(ff0)) return 0.0f;
  const double f = 6.0 * kPi * static_cast<double>(STANDARDVISCOSITY) * relViscosity * ff0 * R0;
  return static_cast<float>(StokesEinsteinD(T, f));
}

float SFromMScalingLaw(float M) {
  auto& solventConstantsPart = SolventConstants();
  return static_cast<float>(solventConstantsPart.fScalingKs * std::pow(static_cast<double>(M), solventConstantsPart.fScalingExponent));
}

float MFromSScalingLaw(float s) {
  auto& solventConstantsPart = SolventConstants();
  return static_cast<float>(
      std::pow(static_cast<double>(s) / solventConstantsPart.fScalingKs, 1.0 / static_cast<double>(solventConstantsPart.fScalingExponent)));
}

// From s = m (1 - vbar rho) / f with f = (f/f0) 6 pi eta R0 (CGS) and
// R0 = c m^(1/3): m^(2/3) = q, the particle mass m = M / N_A.
double MassFromSedcoeff(double s, double vbar, double vbarRho, double eta, double ff0) {
  const double c = std::cbrt(3.0 * vbar * 1e-6 / (4.0 * kPi));
  const double f1 = 6.0 * kPi * eta * 1000.0 * c;
  const double b = (1.0 - vbarRho) / (s * 1e-13);
  const double q = ff0 * f1 / b;
  if (!(q > 0.0)) return 0.0;
  return kAvogadro * std::pow(q, 1.5);
}

float CalculateM(float s) {
  auto& solventConstantsPart = SolventConstants();
  if (solventConstantsPart.VBAR <= 0.0f) {
    RaiseError("VBAR <= 0 in function CalculateM");
    return 0.0f;
  }
  if (s == 0.0f) return 0.0f;
  return static_cast<float>(MassFromSedcoeff(s, solventConstantsPart.VBAR, solventConstantsPart.fVRho, BufferViscosity(), solventConstantsPart.fFrictionalRatio));
}

float CalculateMff02(float s, float ff0) {
  auto& solventConstantsPart = SolventConstants();
  if (s == 0.0f) return 0.0f;
  if (solventConstantsPart.VBAR <= 0.0f) {
    RaiseError("VBAR <= 0 in function CalculateMff02");
    return 0.0f;
  }
  return static_cast<float>(MassFromSedcoeff(s, solventConstantsPart.VBAR, solventConstantsPart.fVRho, BufferViscosity(), ff0));
}

float CalculateMassFromSedcoeffSphere(float s, float relViscosity, float vbar, float rho) {
  if (s == 0.0f) return 0.0f;
  if (vbar <= 0.0f) {
    RaiseError("vbar <= 0 in function CalculateMassFromSedcoeffSphere");
    return 0.0f;
  }
  return static_cast<float>(MassFromSedcoeff(s, vbar, static_cast<double>(vbar) * rho,
                                             static_cast<double>(STANDARDVISCOSITY) * relViscosity,
                                             1.0));
}

float S20wFromS(float s, float eta, float rho, float vbar, float vbar20) {
  return static_cast<float>(static_cast<double>(s) * eta *
                            (1.0 - static_cast<double>(vbar20) * fDensityWater20) /
                            ((1.0 - static_cast<double>(vbar) * rho) * STANDARDVISCOSITY));
}

float SFromS20w(float s20w, float eta, float rho, float vbar, float vbar20) {
  return static_cast<float>(static_cast<double>(s20w) *
                            (1.0 - static_cast<double>(vbar) * rho) * STANDARDVISCOSITY /
                            (static_cast<double>(eta) *
                             (1.0 - static_cast<double>(vbar20) * fDensityWater20)));
}

float S20wFromSBuffer(float s) {
  auto& solventConstantsPart = SolventConstants();
  return S20wFromS(s, static_cast<float>(BufferViscosity()), solventConstantsPart.fBufferDensity, solventConstantsPart.VBAR, solventConstantsPart.VBAR);
}

float SFromS20wBuffer(float s20w) {
  auto& solventConstantsPart = SolventConstants();
  return SFromS20w(s20w, static_cast<float>(BufferViscosity()), solventConstantsPart.fBufferDensity, solventConstantsPart.VBAR, solventConstantsPart.VBAR);
}

float S20ToStokesRadius(float s20w, float vbar20) {
  auto& solventConstantsPart = SolventConstants();
  if (vbar20 <= 0.0f) {
    RaiseError("vbar20 <= 0 in function S20ToStokesRadius");
    return 0.0f;
  }
  const double M = MassFromSedcoeff(s20w, vbar20, static_cast<double>(vbar20) * fDensityWater20,
                                    STANDARDVISCOSITY, solventConstantsPart.fFrictionalRatio);
  const double R0 = SphereRadius(M / kAvogadro * vbar20 * 1e-6);
  return static_cast<float>(solventConstantsPart.fFrictionalRatio * R0);
}

float CalculateProlateRatio(float ff0, float vbar, float hydration, float rho) {
  return AxialRatio(Ellipsoid::Prolate, ff0, vbar, hydration, rho);
}

float CalculateOblateRatio(float ff0, float vbar, float hydration, float rho) {
  return AxialRatio(Ellipsoid::Oblate, ff0, vbar, hydration, rho);
}

float CalculateProlateRatio(float M, float s, float vbar, float hydration, float rho,
                            float relViscosity) {
  const float ff0 = CalculateFrictionalRatio(M, s, vbar, rho, relViscosity);
  return AxialRatio(Ellipsoid::Prolate, ff0, vbar, hydration, rho);
}

float CalculateOblateRatio(float M, float s, float vbar, float hydration, float rho,
                           float relViscosity) {
  const float ff0 = CalculateFrictionalRatio(M, s, vbar, rho, relViscosity);
  return AxialRatio(Ellipsoid::Oblate, ff0, vbar, hydration, rho);
}

float CalculateHydratedRadius(float M, float hydration) {
  auto& solventConstantsPart = SolventConstants();
  if (M <= 0.0f) {
    RaiseError("mass <= 0 in function CalculateHydratedRadius");
    return 0.0f;
  }
  if (solventConstantsPart.VBAR <= 0.0f) {
    RaiseError("VBAR <= 0 in function CalculateHydratedRadius");
    return 0.0f;
  }
  return static_cast<float>(
      SphereRadius(M / static_cast<double>(kAvogadro) * (solventConstantsPart.VBAR + hydration) * 1e-6));
}

}  // namespace tarmic
