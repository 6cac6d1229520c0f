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
  auto& scanFilePart = ScanFile();
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  if (!analysisSwitchesPart.bTimesFromW2t) return;
  analysisSwitchesPart.bTimesFromW2t = false;
  if (scanFilePart.bElectrophoresisMode || dataSetPart.bDLSData) return;
  for (int i = 1; i <= dataSetPart.nScans; ++i) {
    ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(i)];
    info.time = info.recordedTime;
  }
  NoteScanDataChanged();
}

void SwitchOffRampRotorSpeed() { AnalysisSwitches().bRampRotorSpeed = false; }

void ResetAnalysisSwitches() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  analysisSwitchesPart.bTimesFromW2t = false;
  analysisSwitchesPart.bRampRotorSpeed = true;
  analysisSwitchesPart.bScanTimeCorrection = false;
  analysisSwitchesPart.bUniformLoading = true;
  analysisSwitchesPart.bInitialDataProfile = false;
  analysisSwitchesPart.bFitTINoise = false;
  analysisSwitchesPart.bFitRINoise = false;
  analysisSwitchesPart.bBaselineOption = 0;
  analysisSwitchesPart.bModelComputed = false;
  Local().gModelDataStamp = LoadedDataStamp{};
  analysisSwitchesPart.bSimulating = false;
  analysisSwitchesPart.bVariationRangesAsked = false;
  std::fill(std::begin(analysisSwitchesPart.pParams), std::end(analysisSwitchesPart.pParams), 0.0f);
  std::fill(std::begin(analysisSwitchesPart.pParamFitFlags), std::end(analysisSwitchesPart.pParamFitFlags), 0);
  std::fill(std::begin(analysisSwitchesPart.pSpeciesLinked), std::end(analysisSwitchesPart.pSpeciesLinked), 0);
  analysisSwitchesPart.pSpeciesLinked[1] = 1;
  DataSet().bFitLimitWarningAccepted = false;
  analysisSwitchesPart.bRealtimeMode = false;
  analysisSwitchesPart.bRealtimeLoadError = false;
  analysisSwitchesPart.bEqAnalysisModel = false;
  analysisSwitchesPart.bEqTestRunning = false;
  analysisSwitchesPart.bOldFilenameConvention = false;
  analysisSwitchesPart.bUseOtherDirectory = false;
  analysisSwitchesPart.szOtherDirectory.clear();
}

}  // namespace tarmic
