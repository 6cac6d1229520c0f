#include "scandata/analysis_switches.h"
#include "numerics/analysis.h"

#include <algorithm>

#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {
// This module's own state in the analysis.
struct LocalState {
  LoadedDataStamp gModelDataStamp{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }
}

LoadedDataStamp ModelDataStamp() { return Local().gModelDataStamp; }
void SetModelDataStamp(const LoadedDataStamp& stamp) { Local().gModelDataStamp = stamp; }

void SetModelComputed(bool computed) {
  AnalysisSwitches().bModelComputed = computed;
  if (computed) Local().gModelDataStamp = CurrentDataStamp();
}
bool FitOfLoadedData() {
  return DataSet().nScans > 0 && AnalysisSwitches().bModelComputed && Local().gModelDataStamp == CurrentDataStamp();
}

void SwitchOffTimesFromW2t() {
  if (!AnalysisSwitches().bTimesFromW2t) return;
  AnalysisSwitches().bTimesFromW2t = false;
  if (ScanFile().bElectrophoresisMode || DataSet().bDLSData) return;
  for (int i = 1; i <= DataSet().nScans; ++i) {
    ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(i)];
    info.time = info.recordedTime;
  }
  NoteScanDataChanged();
}

void SwitchOffRampRotorSpeed() { AnalysisSwitches().bRampRotorSpeed = false; }

void ResetAnalysisSwitches() {
  AnalysisSwitches().bTimesFromW2t = false;
  AnalysisSwitches().bRampRotorSpeed = true;
  AnalysisSwitches().bScanTimeCorrection = false;
  AnalysisSwitches().bUniformLoading = true;
  AnalysisSwitches().bInitialDataProfile = false;
  AnalysisSwitches().bFitTINoise = false;
  AnalysisSwitches().bFitRINoise = false;
  AnalysisSwitches().bBaselineOption = 0;
  AnalysisSwitches().bModelComputed = false;
  Local().gModelDataStamp = LoadedDataStamp{};
  AnalysisSwitches().bSimulating = false;
  AnalysisSwitches().bVariationRangesAsked = false;
  std::fill(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams), 0.0f);
  std::fill(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags), 0);
  std::fill(std::begin(AnalysisSwitches().pSpeciesLinked), std::end(AnalysisSwitches().pSpeciesLinked), 0);
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  DataSet().bFitLimitWarningAccepted = false;
  AnalysisSwitches().bRealtimeMode = false;
  AnalysisSwitches().bRealtimeLoadError = false;
  AnalysisSwitches().bEqAnalysisModel = false;
  AnalysisSwitches().bEqTestRunning = false;
  AnalysisSwitches().bOldFilenameConvention = false;
  AnalysisSwitches().bUseOtherDirectory = false;
  AnalysisSwitches().szOtherDirectory.clear();
}

}  // namespace tarmic
