// Hydrodynamic relations between the sedimentation coefficient s, the diffusion
// coefficient D, the molar mass M, the partial-specific volume vbar, the frictional
// ratio f/f0 and particle radii, under experimental and standard conditions.
//
// Units: s in svedberg (1 S = 1e-13 s), D in cm^2/s, M in g/mol, radii in m, vbar in
// ml/g, densities in g/ml, viscosities in Pa s, temperatures T in degrees C (the
// absolute temperature is T + 273.15). The relations read the solvent settings of
// solvent_constants.h. Invalid physical input never ends the command: a guard
// returns 0 (1e-4 for the diffusion coefficients from M), after a message in the
// error box where the guard has one.
#pragma once

namespace tarmic {

// Gas constant (erg / (mol K)), Boltzmann constant (J/K), Avogadro's number (1/mol)
// and pi as the relations use them.
inline constexpr double kGasConstant = 8.31451 * 1e7;
inline constexpr float kBoltzmann = 1.38065e-23f;
inline constexpr float kAvogadro = 6.02214e23f;
inline constexpr float kPi = 3.14159265358979f;

// Angular velocity per rotor speed, 2 pi / 60 (rad/s per rpm).
inline constexpr double kTwoPiOver60 = 0.10471975511965977;
// The fastest rotor speed a scan can record, rpm: a margin above the 60,000 rpm of
// the fastest analytical rotors. A faster speed in a scan header is a damaged
// header, not a measurement.
inline constexpr double kMaxRotorSpeedRpm = 100000.0;
// The sample temperatures a scan can record, degrees C. Centrifuges hold their
// samples between about 0 and 40 C and light-scattering cells reach about 150 C
// (polymers in high-boiling solvents); the margins keep every real and synthetic
// set readable, while a value outside them (below absolute zero, or kelvin written
// as Celsius) is a damaged header that would feed a wrong R T and solvent viscosity
// into every result.
inline constexpr double kMinSampleTemperatureC = -40.0;
inline constexpr double kMaxSampleTemperatureC = 200.0;
// s w^2 (1/s) of a sedimentation coefficient s (S) at a rotor speed (rpm).
inline double SedimentationRate(double s, double rpm) {
  const double w = rpm * kTwoPiOver60;
  return w * w * s * 1e-13;
}
// w^2 1e-13 (1/s per S) at a rotor speed (rpm): s w^2 of s = 1 S.
inline double Omega2PerSvedberg(double rpm) {
  const double w = rpm * kTwoPiOver60;
  return w * w * 1e-13;
}

// The cell whose amount the solutions report: a sector of 2 degrees (rad) and an
// optical path of 1.2 cm; amount = kOpticalPath kSectorAngle integral of c r dr.
inline constexpr double kSectorAngle = 0.03490658503988659;
inline constexpr double kOpticalPath = 1.2;

// vbar(M) = dVbarOffset + dVbarIncrement (M / 10^nVbarMassScale)^(1/3).
double VbarFromMass(double M);
// Power law s = dSPowerLawA M^dSPowerLawB.
double SFromM(double M);
// Svedberg equation solved for D, for M and for s (buoyancy 1 - fVRho).
float DFromMandS(float M, float s, float T);  // 1e-4 when M or s is 0
float MFromSandD(float s, float D, float T);  // 0 when D <= 0
float SFromMandD(float M, float D, float T);
// Radius R0 (m) of the anhydrous sphere of mass M and the inverse relation.
double CalculateRadius(double M, double vbar);
double CalculateMassFromRadius(double R, double vbar);
// Friction coefficient f = M (1 - vbar rho) / (N_A s 1e-13) in g/s; 0 when s is 0.
float CalculateFrictionCoefficient(float M, float s, float vbar, float rho);
// Friction coefficient f0 (g/s) of the anhydrous sphere in the buffer.
float CalculateF0(float M, float vbar);
// f/f0 of a particle of mass M and sedimentation coefficient s, f0 taken at the
// given relative viscosity.
float CalculateFrictionalRatio(float M, float s, float vbar, float rho, float relViscosity);
// Stokes-Einstein: D of a sphere of radius R (m) in the buffer; 0 when R <= 0. The
// same expression turns a D into the Stokes radius.
float DFromStokesRadius(float R, float T);
float DFromRh(float R, float T);
// D of a compact particle of mass M (vbar VBAR) with f/f0 = fFrictionalRatio, or
// with the given f/f0.
float DFromM(float M, float T);
float DFromMff0(float M, float T, float ff0);
// s of an anhydrous sphere of mass M.
float CalculateSedcoeffFromMassSphere(float M, float vbar, float T, float rho, float relViscosity);
// D of a particle of mass M and sedimentation coefficient s.
float CalculateDiffusionCoefficient(float M, float s, float vbar, float T, float rho,
                                    float relViscosity);
// Scaling law s = fScalingKs M^fScalingExponent and its inverse.
float SFromMScalingLaw(float M);
float MFromSScalingLaw(float s);

// Mass of a particle from its sedimentation coefficient:
// M = N_A q^(3/2), q = (f/f0) 6 pi eta 1000 c s 1e-13 / (1 - vbar rho),
// c = (3 vbar 1e-6 / (4 pi))^(1/3), eta in Pa s. 0 when q <= 0 (no positive mass has
// this s). No guards, no messages.
double MassFromSedcoeff(double s, double vbar, double vbarRho, double eta, double ff0);
// With VBAR, fVRho, the buffer viscosity and fFrictionalRatio.
float CalculateM(float s);
// With VBAR, fVRho, the buffer viscosity and the given f/f0.
float CalculateMff02(float s, float ff0);
// Of a compact sphere (f/f0 = 1) with the given vbar, density and relative viscosity.
float CalculateMassFromSedcoeffSphere(float s, float relViscosity, float vbar, float rho);

// s20,w = s eta (1 - vbar20 rho20) / ((1 - vbar rho) eta0), and its inverse.
float S20wFromS(float s, float eta, float rho, float vbar, float vbar20);
float SFromS20w(float s20w, float eta, float rho, float vbar, float vbar20);
// The same in the current buffer (viscosity, fBufferDensity, VBAR for both vbar).
float S20wFromSBuffer(float s);
float SFromS20wBuffer(float s20w);
// Stokes radius (m) of a particle with s20,w under standard conditions, with
// f/f0 = fFrictionalRatio.
float S20ToStokesRadius(float s20w, float vbar20);

// Axial ratios of prolate and oblate ellipsoids of revolution from the frictional
// ratio and the hydration (g water per g); 0 when the shape factor is not above 1.
float CalculateProlateRatio(float ff0, float vbar, float hydration, float rho);
float CalculateOblateRatio(float ff0, float vbar, float hydration, float rho);
// The same with f/f0 from CalculateFrictionalRatio (M, s, vbar, rho, relViscosity).
float CalculateProlateRatio(float M, float s, float vbar, float hydration, float rho,
                            float relViscosity);
float CalculateOblateRatio(float M, float s, float vbar, float hydration, float rho,
                           float relViscosity);

// Radius (m) of a sphere of mass M and volume (M / N_A) (VBAR + hydration), the
// bound water at 1 g/ml.
float CalculateHydratedRadius(float M, float hydration);

}  // namespace tarmic
