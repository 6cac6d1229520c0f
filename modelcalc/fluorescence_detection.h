// The detection corrections of fluorescence optics: the settings of the five
// corrections (radial magnification gradient, temporal magnification drift,
// excitation shadow at the bottom, radial convolution by the detection cone,
// nonlinear detection), the dialog "Tools For Fitting Fluorescence AUC data"
// (template 916) that edits them, and the nonlinear-detection transform.
//
// Nonlinear detection: the detector's response is modelled by the power law
//   v' = (v - b)^e + b   for v > b,   v' = v otherwise,
// with e the power coefficient (exponent) and b the baseline. The data and the
// fit of every scan are kept in two domains, as recorded and transformed by
// this law; the data arrays ppSignal and ppFit hold one of them
// (bTransformedShown). The fit computed in one domain is carried to the other
// by the law or its inverse v = (v' - b)^(1/e) + b for v' > b. Values at or
// below the baseline are the same in both domains, so a negative base never
// reaches the power function.
#pragma once

#include "numerics/analysis.h"

#include "lamm/radial_corrections.h"

#include <string>
#include <vector>

#include "numerics/value_ranges.h"
#include "platform/resource_types.h"
#include "resources/command_ids.h"

namespace tarmic {

class Window;

// --- settings (units as in the dialog) ---
// Signal amplitude change with radius: factor 1 + (g - 1)(x - meniscus), g =
// "1+da/dr".
// Signal amplitude change with time: percent per hour, linear or exponential.
// Excitation shadow at the bottom: cone radius, cm.
// Radial convolution: characteristic width, cm; the Gaussian is evaluated
// within fConvolutionDistFactor widths (default 2.0).
// Nonlinear detection: exponent e ("power coeff d(log(a))/dc"), baseline b
// (signal units), the display choice (transformed or recorded domain) and the
// fit flag.

// --- nonlinear-detection state ---
// Rows per scan: set[s][i], s = 1..nScans, i = 1..pnPoints[s] (slot 0 unused),
// on each scan's radii.
using ScanRowSet = std::vector<std::vector<float>>;

// The state of this module in an analysis (numerics/analysis.h).
struct FluorescenceDetectionState {
  bool bMagnificationGradient = false;
  float fMagnificationGradient = 0.0f;
  bool bFitMagnificationGradient = false;
  bool bMagnificationDrift = false;
  float fMagnificationDrift = 0.0f;
  bool bExponentialDrift = false;
  bool bFitMagnificationDrift = false;
  bool bExcitationShadow = false;
  float fConeRadius = 0.0f;
  bool bFitConeRadius = false;
  bool bRadialConvolution = false;
  float fConvolutionWidth = 0.0f;
  float fConvolutionDistFactor = 2.0f;
  bool bFitConvolutionWidth = false;
  bool bNonlinearDetection = false;
  float fPowerCoefficient = 0.0f;
  float fPowerBaseline = 0.0f;
  bool bShowTransformed = false;
  bool bFitPowerCoefficient = false;
  ScanRowSet ppUntransformedSignal{};
  ScanRowSet ppUntransformedFit{};
  ScanRowSet ppTransformedSignal{};
  ScanRowSet ppTransformedFit{};
  double dAppliedPower = 1.0;
  double dAppliedBaseline = 0.0;
  bool bTransformedShown = false;
  float fTransformedRmsd = 0.0f;
  float fUntransformedRmsd = 0.0f;
  bool bNonlinearDetectionBusy = false;
  bool bNoGridRebuild = false;
};
inline FluorescenceDetectionState& FluorescenceDetection() { return CurrentPart<FluorescenceDetectionState>(); }
// Exponent and baseline the transformed sets were made with (1 and 0 when the
// sets are created).
// The data and fit arrays hold the transformed domain.
// Rmsd of data minus fit over the fit range in each domain.
// Re-entry guards: a transform is being applied from the model computation; the
// transform must not rebuild the common grid (its caller does).

// The command ids of each option: the item of the menu and the id without an
// item; both carry the check mark.
inline constexpr int kCmMagnificationGradientIds[2] = {kCmSignalMagnificationGradient, kCmSignalMagnificationGradientAlt};
inline constexpr int kCmNonlinearDetectionIds[2] = {kCmNonlinearDetection, kCmNonlinearDetectionAlt};
inline constexpr int kCmMagnificationDriftIds[2] = {kCmSignalMagnificationDrift, kCmSignalMagnificationDriftAlt};
inline constexpr int kCmRadialConvolutionIds[2] = {kCmSignalRadialConvolution, kCmSignalRadialConvolutionAlt};
inline constexpr int kCmExcitationShadowIds[2] = {kCmExcitationShadow, kCmExcitationShadowAlt};

// --- the transform ---
// Shows the domain chosen by showTransformed with the exponent and baseline
// given: creates the kept copies when missing (from the arrays, exponent 1,
// baseline 0), takes a change that others made to the shown arrays into the
// kept copies, rebuilds the transformed copies when exponent or baseline
// changed, copies the chosen domain into ppSignal and ppFit, computes both
// rmsds, rebuilds the common grid (unless bNoGridRebuild) when the arrays
// changed, redraws the data and residual plots and records exponent and
// baseline as applied. 0 (nothing done) without scans, with the option off, or
// for an exponent that is not a positive finite number; 1 otherwise.
int ApplyNonlinearDetection(double exponent, double baseline,
                            bool showTransformed);
// After a model computation: the fit in ppFit belongs to the shown domain; it
// is kept in that domain's copy and carried to the other domain; both rmsds are
// recomputed. 0 without scans, with the option off or without kept copies.
int UpdateNonlinearDetectionFit();
// The model computation's entry: ApplyNonlinearDetection with
// bNonlinearDetectionBusy set. 0 when the option is off (or the exponent
// refused).
int SetNonlinearDetectionParams(double exponent, double baseline,
                                bool showTransformed);
// After the data changed and the common grid is rebuilt: shows the chosen
// domain again with the applied exponent and baseline; without rebuildGrid the
// transform leaves the grid alone. Nothing without scans, with the option off
// or while bNonlinearDetectionBusy.
void ReapplyNonlinearDetection(bool rebuildGrid);
// The rmsd of the recorded domain (the continuous-distribution fit's
// objective).
float GetUntransformedRmsd();
// Rmsd of a - b over the fit range of every scan (display order); 0 without
// points.
float RmsdBetweenScanSets(const ScanRowSet &a, const ScanRowSet &b);
// Makes the four copies from the arrays (exponent 1, baseline 0).
void AllocNonlinearDetectionCopies();
// Frees the four copies and clears bTransformedShown (the data set is freed).
void FreeNonlinearDetectionCopies();

// The power law and its inverse on one value (identity at or below the
// baseline).
double PowerTransform(double v, double exponent, double baseline);
double InversePowerTransform(double v, double exponent, double baseline);

// Switches nonlinear detection off: shows the recorded domain again first when
// the transformed one is shown; clears the option, its fit flag and the display
// choice.
void SwitchOffNonlinearDetection();

// The valid values of the power coefficient (exponent e): the range of its
// parameter-file row; 0 stands for one not set and passes only while nonlinear
// detection is off, as the inverse of the power law takes 1/e. The one rule of
// the dialog, the parameter file and the fit.
ValueRange PowerCoefficientRange(bool nonlinearDetectionOn);

// --- the dialog "FloTools" (template 916) ---
// Every edit empty and every box off; once, when the main window is built.
void InitFloToolsTransfer(TransferBuffer &record);
// Writes the settings into the record (edits "%.4f").
void FillFloToolsTransfer(TransferBuffer &record);
// The entry check on OK: every edit must hold a number within the row of the
// parameter-file entry that keeps its value; the power coefficient 0 (not set)
// passes while nonlinear detection is off. Empty when all pass, else the sentence
// naming the first field that does not (by its label) and its range.
std::string FloToolsRefusal(const TransferBuffer &record);
// FloToolsRefusal gives no sentence. False keeps the dialog open (the command
// beeps and shows the sentence).
bool FloToolBoxCanClose(const TransferBuffer &record);
// The values of a record that passed the entry check into the settings; applies
// the nonlinear-detection transform where its settings changed, and sets the
// check marks of the five options in window's menu (when given).
void ApplyFloToolsRecord(Window *window, const TransferBuffer &record);

// Sets the check mark of both ids of an option.
void CheckOptionPair(Window *window, const int (&ids)[2], bool on);

// Connects the scan data set with the transform (freeing and re-applying the
// kept copies) and the fit rmsd, and the distribution engine with the transform
// (the domain of a run, the fit carried to both domains); at start-up.
void InstallFluorescenceDetectionHooks();
// Sets every setting and the transform state to its default and frees the
// copies.
void ResetFluorescenceDetection();

// The corrections that are on, as the computed profiles of every route receive
// them ("1+da/dr" as a gradient per cm, the drift in %/h as a rate per s).
FluorescenceCorrections CurrentFluorescenceCorrections();

} // namespace tarmic
