#include "scandata/scan_data_reset.h"

#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/initial_data.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/time_stamps.h"

namespace tarmic {

void ResetScanDataGlobals() {
  auto& dataSetPart = DataSet();
  FreeDataSet();
  FreeFileList();
  ResetInitialData();
  dataSetPart.fMeniscus = dataSetPart.fBottom = dataSetPart.fFitLeftLim = dataSetPart.fFitRightLim = 0.0f;
  dataSetPart.fMinMeniscus = 5.8f;
  dataSetPart.fMaxMeniscus = 6.6f;
  dataSetPart.fMinBottom = 7.1f;
  dataSetPart.fMaxBottom = 7.3f;
  dataSetPart.bFitRangesSet = false;
  dataSetPart.bEquilibriumMode = false;
  dataSetPart.bDLSData = false;
  dataSetPart.fTemperatureK = 0.0f;
  dataSetPart.fRT = 0.0f;
  dataSetPart.dSignalPerConcentration = 1.0;
  dataSetPart.nFilesPerScan = 1;
  dataSetPart.szDataDirectory.clear();
  dataSetPart.szTmpParsPath.clear();
  dataSetPart.szSdistPath.clear();
  dataSetPart.szNotesPath.clear();
  RadialGrid().fRadialStep = 0.001f;
  ResetScanFileGlobals();
  ResetAnalysisSwitches();
  ResetTimeStampGlobals();
}

}  // namespace tarmic
