#include "modelcalc/fit_state.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

void StartFitCounters() {
  auto& fitStatePart = FitState();
  fitStatePart.nFitIteration = fitStatePart.nFitStep = fitStatePart.nFitSim = 0;
  fitStatePart.gFitCountersData = CurrentDataStamp();
}

void EndFitCounters() {
  if (FitOfLoadedData()) FitState().gFitCountersData = ModelDataStamp();
}

void ResetFitState() {
  auto& fitStatePart = FitState();
  fitStatePart.bFitInterrupted = false;
  fitStatePart.nFitSim = fitStatePart.nFitIteration = fitStatePart.nFitStep = 0;
  fitStatePart.fStartRmsd = fitStatePart.fBestRmsd = 0.0f;
  fitStatePart.eFitSearch = FitSearch::Simplex;
  fitStatePart.gFitCountersData = LoadedDataStamp{};
}

}  // namespace tarmic
