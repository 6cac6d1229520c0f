// Switches and values of the model computation, the distribution engine, the
// boundary and equilibrium analyses and the menu commands that the scan data set
// reads or sets while it loads and rebuilds data. They are defined here, in the
// lowest library that reads them, so that the loaders reach them without depending
// on the libraries above; those libraries set them through these declarations.
#pragma once

#include "numerics/analysis.h"

#include <string>

namespace tarmic {

// --- model computation ---
// Scan times derived from omega^2 t: time = omega2t / (rpm pi/30)^2.
// The loaded data (data_set.h) the model on show was computed for; set with
// bModelComputed by SetModelComputed. A model belongs to the loaded data only while
// they are unchanged (FitOfLoadedData).
struct LoadedDataStamp;
LoadedDataStamp ModelDataStamp();
void SetModelDataStamp(const LoadedDataStamp& stamp);
// Sets bModelComputed; a computed model records the loaded data as they stand now.
void SetModelComputed(bool computed);
// The claim of the model on show: scans are loaded and a model has been computed
// for them, under the model chosen now and with every value and setting it read as
// they stand now (CurrentDataStamp: every load clears bModelComputed; a computation
// that ends without a model puts back what was on show before it; any change of the
// signals, radii or times, another model, or any changed parameter, limit or option
// ends it). Every place that shows, copies, prints, saves or analyses a fit or its
// quality asks this first, and says so where it does not hold.
bool FitOfLoadedData();
// The parameter command has asked for the meniscus and bottom variation ranges of
// the current data; the loaders clear it so that it asks again.
// The model parameter vector [1..kModelParams] and its fit flags; entries 13 and 14
// hold copies of the meniscus and the bottom.
constexpr int kModelParams = 34;

// The state of this module in an analysis (numerics/analysis.h).
struct AnalysisSwitchesState {
  bool bTimesFromW2t = false;
  bool bRampRotorSpeed = true;  // Lamm option "ramp rotor speed" (default on)
  bool bScanTimeCorrection = false;  // Lamm option "scan time correction"
  bool bUniformLoading = true;  // the model starts from a uniform loading
  bool bInitialDataProfile = false;  // ... or from the initial-distribution profile
  bool bFitTINoise = false;  // time-invariant noise is fitted
  bool bFitRINoise = false;  // radial-invariant noise is fitted
  int bBaselineOption = 0;  // baseline option of the linear fit (loaders set 1)
  bool bModelComputed = false;  // a model has been computed for the loaded data
  bool bSimulating = false;  // synthetic data are being computed
  bool bVariationRangesAsked = false;
  float pParams[kModelParams + 1] = {};
  int pParamFitFlags[kModelParams + 1] = {};
  int pSpeciesLinked[5] = {0, 1, 0, 0, 0};
  bool bRealtimeMode = false;  // realtime reloading: no questions while loading
  bool bRealtimeLoadError = false;  // a realtime reload failed
  bool bEqAnalysisModel = false;  // the sedimentation-equilibrium analysis is the model
  bool bEqTestRunning = false;  // the equilibrium test is running
  bool bOldFilenameConvention = false;
  bool bUseOtherDirectory = false;
  std::string szOtherDirectory{};
};
inline AnalysisSwitchesState& AnalysisSwitches() { return CurrentPart<AnalysisSwitchesState>(); }
// Inclusion flags of the four species slots [1..4]; species 1 is included by default.

// --- distribution engine ---
// bFitLimitWarningAccepted: scandata/data_set.h (it goes with the data set).

// --- boundary and equilibrium analyses ---

// --- main window and commands ---
// "Old Filename Convention": derived files are named after the scan files.
// "Load New Files" redirected the selection to another directory (szOtherDirectory,
// no trailing '/'), where the loader then reads the selected names.

// Switches bTimesFromW2t off and gives every scan its time as read again (not for
// electrophoresis or DLS data).
void SwitchOffTimesFromW2t();
// Switches the Lamm option "ramp rotor speed" off.
void SwitchOffRampRotorSpeed();

// Sets the switches of this file to their defaults.
void ResetAnalysisSwitches();

}  // namespace tarmic
