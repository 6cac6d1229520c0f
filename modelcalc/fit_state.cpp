#include "modelcalc/fit_state.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

bool bFitInterrupted = false;
int nFitSim = 0;
int nFitIteration = 0;
int nFitStep = 0;
float fStartRmsd = 0.0f;
float fBestRmsd = 0.0f;
FitSearch eFitSearch = FitSearch::Simplex;
LoadedDataStamp gFitCountersData;

void StartFitCounters() {
  nFitIteration = nFitStep = nFitSim = 0;
  gFitCountersData = CurrentDataStamp();
}

void EndFitCounters() {
  if (FitOfLoadedData()) gFitCountersData = ModelDataStamp();
}

void ResetFitState() {
  bFitInterrupted = false;
  nFitSim = nFitIteration = nFitStep = 0;
  fStartRmsd = fBestRmsd = 0.0f;
  eFitSearch = FitSearch::Simplex;
  gFitCountersData = LoadedDataStamp{};
}

}  // namespace tarmic
