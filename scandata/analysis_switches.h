// Switches and values of the model computation, the distribution engine, the
// boundary and equilibrium analyses and the menu commands that the scan data set
// reads or sets while it loads and rebuilds data. They are defined here, in the
// lowest library that reads them, so that the loaders reach them without depending
// on the libraries above; those libraries set them through these declarations.
#pragma once

#include <string>

namespace tarmic {

// --- model computation ---
// Scan times derived from omega^2 t: time = omega2t / (rpm pi/30)^2.
extern bool bTimesFromW2t;
extern bool bRampRotorSpeed;       // Lamm option "ramp rotor speed" (default on)
extern bool bScanTimeCorrection;   // Lamm option "scan time correction"
extern bool bUniformLoading;       // the model starts from a uniform loading
extern bool bInitialDataProfile;   // ... or from the initial-distribution profile
extern bool bFitTINoise;           // time-invariant noise is fitted
extern bool bFitRINoise;           // radial-invariant noise is fitted
extern int bBaselineOption;        // baseline option of the linear fit (loaders set 1)
extern bool bModelComputed;        // a model has been computed for the loaded data
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
extern bool bSimulating;           // synthetic data are being computed
// The parameter command has asked for the meniscus and bottom variation ranges of
// the current data; the loaders clear it so that it asks again.
extern bool bVariationRangesAsked;
// The model parameter vector [1..kModelParams] and its fit flags; entries 13 and 14
// hold copies of the meniscus and the bottom.
constexpr int kModelParams = 34;
extern float pParams[kModelParams + 1];
extern int pParamFitFlags[kModelParams + 1];
// Inclusion flags of the four species slots [1..4]; species 1 is included by default.
extern int pSpeciesLinked[5];

// --- distribution engine ---
// bFitLimitWarningAccepted: scandata/data_set.h (it goes with the data set).

// --- boundary and equilibrium analyses ---
extern bool bRealtimeMode;       // realtime reloading: no questions while loading
extern bool bRealtimeLoadError;  // a realtime reload failed
extern bool bEqAnalysisModel;    // the sedimentation-equilibrium analysis is the model
extern bool bEqTestRunning;      // the equilibrium test is running

// --- main window and commands ---
// "Old Filename Convention": derived files are named after the scan files.
extern bool bOldFilenameConvention;
// "Load New Files" redirected the selection to another directory (szOtherDirectory,
// no trailing '/'), where the loader then reads the selected names.
extern bool bUseOtherDirectory;
extern std::string szOtherDirectory;

// Switches bTimesFromW2t off and gives every scan its time as read again (not for
// electrophoresis or DLS data).
void SwitchOffTimesFromW2t();
// Switches the Lamm option "ramp rotor speed" off.
void SwitchOffRampRotorSpeed();

// Sets the switches of this file to their defaults.
void ResetAnalysisSwitches();

}  // namespace tarmic
