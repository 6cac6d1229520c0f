// Signal of one species at sedimentation equilibrium: the closed-form exponential
// profile at each scan's rotor speed and temperature, with the detection
// corrections of the optical system, delivered where the current model expects it.
//
//   c(r) = cref exp(sigma (r^2 - r_ref^2)),  sigma = Mb omega^2 / (2 R T),
//
// Mb = M (1 - vbar rho) the buoyant molar mass (g/mol), omega = rpm 2 pi / 60,
// 2R = 1.6629020e8 erg/(mol K), T in K. cref is chosen so that the mean of c over
// the sector between meniscus rm and bottom rb,
//   <c> = int c r dr / int r dr  (rm..rb),
// equals the loading signal of the species.
//
// Radii in cm, arrays one-based.
#pragma once

namespace tarmic {

// The corrections applied to every computed row, in this order: magnification
// gradient, excitation shadow, then either the finite radial resolution
// (absorbance data) or the radial convolution of the detection cone.
struct DetectionCorrections {
  // Signal amplitude change with radius, entered as g = "1+da/dr": each value is
  // multiplied by 1 + (g - 1)(r - meniscus), a gradient of g - 1 per cm.
  bool magnificationGradient = false;
  float magnificationGradientValue = 0.0f;
  // Excitation shadow at the bottom within the cone radius (cm); off for radius <= 0.
  bool excitationShadow = false;
  float coneRadius = 0.0f;
  // Gaussian convolution of characteristic width (cm), summed over distFactor widths.
  bool radialConvolution = false;
  float convolutionWidth = 0.0f;
  float convolutionDistFactor = 2.0f;
  // Finite radial resolution of absorbance optics over the range (cm); used only for
  // absorbance data that are not intensity data, and then instead of the convolution.
  bool radialResolution = false;
  float radialResolutionRange = 0.008f;
  bool absorbanceData = false;
};

// The radial-resolution part from the Lamm settings ("simulate radial resolution",
// its range) and the kind of the loaded data; the fluorescence corrections off. The
// caller fills those from the fluorescence detection settings.
DetectionCorrections DetectionCorrectionsFromSettings();
// All corrections as the user set them: the radial resolution of the settings and
// the fluorescence corrections that are on.
DetectionCorrections ModelDetectionCorrections();

// The corrected equilibrium profile of one species on radii r[1..n] into c[1..n]
// (overwritten), for rotor speed rpm, temperature temperatureC (deg C), buoyant
// molar mass buoyantFactor (g/mol; 0 gives the flat profile c = concentration) and
// loading signal concentration, in the cell meniscus..bottom.
void SedEqSpeciesRow(int n, const float* r, float* c, double buoyantFactor, double concentration,
                     float rpm, float temperatureC, float meniscus, float bottom,
                     const DetectionCorrections& corrections);

// For every scan in display order (fMeniscus, fBottom, each scan's rpm and
// temperature): the corrected equilibrium profile of one species with loading
// signal concentration. For a model with neither linear amplitudes nor fitted TI or
// RI noise it is computed on the scan's radii and added to ppFit[scan]; otherwise it
// is written over pppSpeciesSignal[iCurrentSpecies][scan] on the common grid (a
// slot without a table receives nothing). A key pressed during the loop sets
// bUserAbort for the caller; the loop itself completes.
// The cell is [meniscus, bottom] (cm).
void CalculateSedEqSpeciesSignal(double buoyantFactor, double concentration, const DetectionCorrections& corrections,
                                 float meniscus, float bottom);

// The same profile as kernel `kernel` of a continuous distribution, for every scan
// in display order on the kernel radii r[1..n] (the common grid, or the radii of
// scan 1 for synthetic data), written over pppKernels[kernel][scan]. Nothing when
// the kernel array does not hold that kernel or n radii. A key pressed sets
// bUserAbort.
void CalculateSedEqKernel(double buoyantFactor, double concentration, int kernel, const float* r,
                          int n, const DetectionCorrections& corrections);

// Installs the equilibrium kernels of the distribution engine: unit loading, the
// corrections of ModelDetectionCorrections.
void InstallEquilibriumKernelHook();

}  // namespace tarmic
