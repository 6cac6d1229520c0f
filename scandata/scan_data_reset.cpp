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
  fMeniscus = fBottom = fFitLeftLim = fFitRightLim = 0.0f;
  fMinMeniscus = 5.8f;
  fMaxMeniscus = 6.6f;
  fMinBottom = 7.1f;
  fMaxBottom = 7.3f;
  bFitRangesSet = false;
  bEquilibriumMode = false;
  bDLSData = false;
  fTemperatureK = 0.0f;
  fRT = 0.0f;
  dSignalPerConcentration = 1.0;
  nFilesPerScan = 1;
  szDataDirectory.clear();
  szTmpParsPath.clear();
  szSdistPath.clear();
  szNotesPath.clear();
  fRadialStep = 0.001f;
  ResetScanFileGlobals();
  ResetAnalysisSwitches();
  ResetTimeStampGlobals();
}

}  // namespace tarmic
