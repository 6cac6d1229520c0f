#include "scandata/analysis_switches.h"

#include <algorithm>

#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {

bool bTimesFromW2t = false;
bool bRampRotorSpeed = true;
bool bScanTimeCorrection = false;
bool bUniformLoading = true;
bool bInitialDataProfile = false;
bool bFitTINoise = false;
bool bFitRINoise = false;
int bBaselineOption = 0;
bool bModelComputed = false;

namespace {
LoadedDataStamp gModelDataStamp;
}

LoadedDataStamp ModelDataStamp() { return gModelDataStamp; }
void SetModelDataStamp(const LoadedDataStamp& stamp) { gModelDataStamp = stamp; }

void SetModelComputed(bool computed) {
  bModelComputed = computed;
  if (computed) gModelDataStamp = CurrentDataStamp();
}
bool FitOfLoadedData() {
  return nScans > 0 && bModelComputed && gModelDataStamp == CurrentDataStamp();
}
bool bSimulating = false;
bool bVariationRangesAsked = false;
float pParams[kModelParams + 1] = {};
int pParamFitFlags[kModelParams + 1] = {};
int pSpeciesLinked[5] = {0, 1, 0, 0, 0};

bool bRealtimeMode = false;
bool bRealtimeLoadError = false;
bool bEqAnalysisModel = false;
bool bEqTestRunning = false;

bool bOldFilenameConvention = false;
bool bUseOtherDirectory = false;
std::string szOtherDirectory;

void SwitchOffTimesFromW2t() {
  if (!bTimesFromW2t) return;
  bTimesFromW2t = false;
  if (bElectrophoresisMode || bDLSData) return;
  for (int i = 1; i <= nScans; ++i) {
    ScanInfo& info = pScanInfo[static_cast<std::size_t>(i)];
    info.time = info.recordedTime;
  }
  NoteScanDataChanged();
}

void SwitchOffRampRotorSpeed() { bRampRotorSpeed = false; }

void ResetAnalysisSwitches() {
  bTimesFromW2t = false;
  bRampRotorSpeed = true;
  bScanTimeCorrection = false;
  bUniformLoading = true;
  bInitialDataProfile = false;
  bFitTINoise = false;
  bFitRINoise = false;
  bBaselineOption = 0;
  bModelComputed = false;
  gModelDataStamp = LoadedDataStamp{};
  bSimulating = false;
  bVariationRangesAsked = false;
  std::fill(std::begin(pParams), std::end(pParams), 0.0f);
  std::fill(std::begin(pParamFitFlags), std::end(pParamFitFlags), 0);
  std::fill(std::begin(pSpeciesLinked), std::end(pSpeciesLinked), 0);
  pSpeciesLinked[1] = 1;
  bFitLimitWarningAccepted = false;
  bRealtimeMode = false;
  bRealtimeLoadError = false;
  bEqAnalysisModel = false;
  bEqTestRunning = false;
  bOldFilenameConvention = false;
  bUseOtherDirectory = false;
  szOtherDirectory.clear();
}

}  // namespace tarmic
