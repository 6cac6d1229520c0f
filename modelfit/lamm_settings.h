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

#include "numerics/analysis.h"

#include <algorithm>
#include <string>
#include <vector>

#include "lamm/lamm_setup_parts.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

class Window;

// --- algorithm choice ---
// The state of this module in an analysis (numerics/analysis.h).
struct LammSettingsState {
  float fAutoAlgorithmS = 5.0f;  // "normalized s for automatic change" (5.0)
  float fAutoAlgorithmSOptimized = 60.0f;  // "when optimized" (60.0)
  bool bAutoFEAlgorithm = true;  // "automatic finite element algorithm" (on)
  bool bClaverie = false;  // "Claverie algorithm", the static grid (off)
  bool bMovingHat = true;  // "moving hat algorithm" (on); not bClaverie after the dialog
  int nDefaultGridPoints = 1000;  // "default FE grid size" (1000)
  int nLammGridPoints = 1000;  // grid size in use; the dialog copies nDefaultGridPoints into it
  bool bAutoGridSize = true;  // "automatic dynamic grid size" (on)
  float fPointsPerSigma = 5.0f;  // "points per sigma" (5.0)
  int nGridSizeUpper = 2000;  // "upper limit" of the automatic size (2000)
  int nGridSizeLower = 75;  // "lower limit" of the automatic size (75)
  bool bOptimizeStaticGrid = true;  // "optimize time-invariant grid spacing" (on)
  bool bTruncateGrid = true;  // "dynamically truncate grid" (on)
  double dTruncationLevel = 1e-6;  // truncation level (1e-6); the dialog shows its log10
  bool bAutoSGrid = true;  // "automatic s_grid" (on)
  double dAutoSGridValue = 0.0;  // s of the moving grid when not automatic, S (0.0)
  bool bShutOffBackDiffusion = true;  // "shut off back-diffusion" (on)
  double dBackDiffusionLevel = 1e-4;  // its "level" (1e-4)
  bool bFixTimeStep = false;  // "fix timestep" (off)
  double dInitialDt = 1.0;  // first (with bFixTimeStep: every) time step of a simulation, s (1.0)
  double dMaxDcOverC = 1.0;  // "max dc/c" of the step control (1.0)
  double dMaxDcOverCRef = 1.0;  // 1.0
  double dMaxDcOverCLow = 0.1;  // 0.1
  double dMaxDcOverCHigh = 0.5;  // 0.5
  float fRefitTolerance = 0.01f;
  bool bCheckAcceleration = true;  // "check acceleration" (on)
  float fScanVelocity = 2.43f;  // "scan velocity (cm/min)" (2.43)
  bool bSimulateRadialResolution = false;  // "simulate radial resolution" (off)
  float fRadialConvolutionRange = 0.008f;  // "radial range of convolution (cm)" (0.008)
};
inline LammSettingsState& LammSettings() { return CurrentPart<LammSettingsState>(); }

// --- grid size ---

// --- grid shaping ---

// --- time step ---
// Reference copy of max dc/c and the two step-control bounds derived from it
// (0.05 and 0.2 times it), set whenever the dialog changes max dc/c.

// --- fits ---
// Relative convergence tolerance of the fits (0.01); shown and entered in percent.

// --- time options and rotor ---
// bTimesFromW2t ("times from wwt") and bRampRotorSpeed ("ramp rotor speed") are
// declared with the scan data set.

// --- initial distribution ---
// "Experimental Initial Distribution" (off) and its complement, a constant loading
// concentration (on).

// --- finite resolution of absorbance scans ---

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

// --- refinement of the solutions ---
// The factor by which every Lamm solution of the model computations is made finer
// than the settings above ask for: the node counts (default, limits of the automatic
// size, points per sigma) times the factor, the time-step controls (max dc/c and
// the first step) over it. 1 unless the check of a fit's end found the grid too
// coarse for the noise of the data (modelcalc/fit_grid_check.h); it is not a
// setting (not saved), but part of a result's claim (modelcalc/model_claim.h): a Run
// after such a fit computes the model on the grid the fit ended on, and the next
// fit starts at 1.
struct GridRefinementState {
  int factor = 1;
};
inline int GridRefinement() { return std::max(CurrentPart<GridRefinementState>().factor, 1); }
// Puts factor (at least 1, at most kMostGridRefinement) in force.
void SetGridRefinement(int factor);
inline constexpr int kMostGridRefinement = 16;
// nodes times the refinement, at most kMaxLammGridPoints (never fewer than nodes).
int RefinedNodeCount(int nodes);
// The time-step controls of the engine's propagators under the refinement: max
// dc/c over the factor (not on the moving grid, whose step is a share of its grid
// period) and the first step over the factor.
double RefinedMaxDcOverC();
double RefinedInitialDt();

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
