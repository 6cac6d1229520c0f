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
  FreeDataSet();
  FreeFileList();
  ResetInitialData();
  DataSet().fMeniscus = DataSet().fBottom = DataSet().fFitLeftLim = DataSet().fFitRightLim = 0.0f;
  DataSet().fMinMeniscus = 5.8f;
  DataSet().fMaxMeniscus = 6.6f;
  DataSet().fMinBottom = 7.1f;
  DataSet().fMaxBottom = 7.3f;
  DataSet().bFitRangesSet = false;
  DataSet().bEquilibriumMode = false;
  DataSet().bDLSData = false;
  DataSet().fTemperatureK = 0.0f;
  DataSet().fRT = 0.0f;
  DataSet().dSignalPerConcentration = 1.0;
  DataSet().nFilesPerScan = 1;
  DataSet().szDataDirectory.clear();
  DataSet().szTmpParsPath.clear();
  DataSet().szSdistPath.clear();
  DataSet().szNotesPath.clear();
  RadialGrid().fRadialStep = 0.001f;
  ResetScanFileGlobals();
  ResetAnalysisSwitches();
  ResetTimeStampGlobals();
}

}  // namespace tarmic
