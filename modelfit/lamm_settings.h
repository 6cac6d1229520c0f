// The numerical settings of the Lamm equation solutions: grid sizes and their
// automatic choice, the finite-element algorithm, time-step control, back-diffusion
// shut-off, grid truncation, finite optical resolution, the treatment of rotor
// acceleration and the fit tolerance. The dialog "Numerical Control of Lamm
// Equation Solution" edits them (lamm_dialog.h); the preference file
// "tarmiclammparams.ini" keeps them from one run of the program to the next. The
// solvers and the model computations only read them.
//
// The time options and the initial distribution are kept with the scan data set,
// whose loaders switch them; the names used here refer to the same switches.
#pragma once

#include <string>
#include <vector>

#include "lamm/lamm_setup_parts.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

class Window;

// --- algorithm choice ---
extern float fAutoAlgorithmS;           // "normalized s for automatic change" (5.0)
extern float fAutoAlgorithmSOptimized;  // "when optimized" (60.0)
extern bool bAutoFEAlgorithm;           // "automatic finite element algorithm" (on)
extern bool bClaverie;                  // "Claverie algorithm", the static grid (off)
extern bool bMovingHat;                 // "moving hat algorithm" (on); not bClaverie after the dialog

// --- grid size ---
extern int nDefaultGridPoints;   // "default FE grid size" (1000)
extern int nLammGridPoints;      // grid size in use; the dialog copies nDefaultGridPoints into it
extern bool bAutoGridSize;       // "automatic dynamic grid size" (on)
extern float fPointsPerSigma;    // "points per sigma" (5.0)
extern int nGridSizeUpper;       // "upper limit" of the automatic size (2000)
extern int nGridSizeLower;       // "lower limit" of the automatic size (75)

// --- grid shaping ---
extern bool bOptimizeStaticGrid;     // "optimize time-invariant grid spacing" (on)
extern bool bTruncateGrid;           // "dynamically truncate grid" (on)
extern double dTruncationLevel;      // truncation level (1e-6); the dialog shows its log10
extern bool bAutoSGrid;              // "automatic s_grid" (on)
extern double dAutoSGridValue;       // s of the moving grid when not automatic, S (0.0)
extern bool bShutOffBackDiffusion;   // "shut off back-diffusion" (on)
extern double dBackDiffusionLevel;   // its "level" (1e-4)

// --- time step ---
extern bool bFixTimeStep;       // "fix timestep" (off)
extern double dInitialDt;       // first (with bFixTimeStep: every) time step of a simulation, s (1.0)
extern double dMaxDcOverC;      // "max dc/c" of the step control (1.0)
// Reference copy of max dc/c and the two step-control bounds derived from it
// (0.05 and 0.2 times it), set whenever the dialog changes max dc/c.
extern double dMaxDcOverCRef;   // 1.0
extern double dMaxDcOverCLow;   // 0.1
extern double dMaxDcOverCHigh;  // 0.5

// --- fits ---
// Relative convergence tolerance of the fits (0.01); shown and entered in percent.
extern float fRefitTolerance;

// --- time options and rotor ---
// bTimesFromW2t ("times from wwt") and bRampRotorSpeed ("ramp rotor speed") are
// declared with the scan data set.
extern bool bCheckAcceleration;  // "check acceleration" (on)

// --- initial distribution ---
// "Experimental Initial Distribution" (off) and its complement, a constant loading
// concentration (on).
inline constexpr bool& bExperimentalInitialDistribution = bInitialDataProfile;
inline constexpr bool& bConstantInitialDistribution = bUniformLoading;

// --- finite resolution of absorbance scans ---
inline constexpr bool& bSimulateTimeResolution = bScanTimeCorrection;  // (off)
extern float fScanVelocity;                 // "scan velocity (cm/min)" (2.43)
extern bool bSimulateRadialResolution;      // "simulate radial resolution" (off)
extern float fRadialConvolutionRange;       // "radial range of convolution (cm)" (0.008)

// The settings as the file szLammParamsIni holds them: kLammPreferenceCount
// numbers, switches as 1 and 0, the truncation level as its log10.
std::vector<float> LammSettingsVector();
// Empty when every setting of such a vector lies within its row of the table of
// valid values (LammSettingsEntries, numerics/value_ranges.h) and the lower limit
// of the grid size is not above the upper; otherwise the sentence of the first
// value that does not, and *refusedEntry its index.
std::string LammSettingsRefusal(const std::vector<float>& settings, int* refusedEntry = nullptr);
// The same for the settings in use (the Run's check).
std::string LammSettingsRefusal();
// Sets "max dc/c" and the two step-control bounds derived from it.
void SetMaxDcOverC(double value);

// The settings above as the numerical options of a Lamm solver object: the one
// place where the solutions read them.
LammDiscretizationSettings CurrentDiscretization();

// Restores every setting of this file (and the time, initial-distribution and
// time-resolution switches it names) to the program defaults.
void ResetLammSettings();

// The preference file szLammParamsIni: 31 numbers, one per line.
inline constexpr int kLammPreferenceCount = 31;
// The lines a file must hold to be read (the last one is reserved).
inline constexpr int kLammSettingsLines = 30;
// Writes the settings; 1 when written, 0 when the file could not be written (after
// the message of the vector writer).
int SaveLammEqParameterPreferences(Window* window);
// Reads the settings; 1 when read, 0 when the file is missing, is no plain text
// (said in a box) or ends before line kLammSettingsLines (blank lines after the
// last value left out; then nothing changes, and a box names the file). Every line has its place: a blank line before the
// last value holds no number. A line that is not one number as a whole (FileLineNumber,
// numerics/number_input.h), a switch line that holds other than 0 or 1, or a line
// that holds a value outside its row of the table (grid
// limits that cross: both) leaves its setting as it was; a numerical setting of
// the solver outside its range (a file of an earlier version) takes the nearest
// valid value. One box names the file and every such line with its reason.
int ReadLammEqParameterPreferences(Window* window);

// Switches "ramp rotor speed" off, sets bTimesFromW2t and, unless the data are
// electrophoresis or DLS data, gives every scan the time omega^2 t / omega^2 of its
// rotor speed (omega^2 in double precision). Scans without a rotor speed keep
// their time.
void SwitchOnTimesFromW2t(Window* window);

}  // namespace tarmic
