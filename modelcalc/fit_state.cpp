#include "modelcalc/fit_state.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

void StartFitCounters() {
  FitState().nFitIteration = FitState().nFitStep = FitState().nFitSim = 0;
  FitState().gFitCountersData = CurrentDataStamp();
}

void EndFitCounters() {
  if (FitOfLoadedData()) FitState().gFitCountersData = ModelDataStamp();
}

void ResetFitState() {
  FitState().bFitInterrupted = false;
  FitState().nFitSim = FitState().nFitIteration = FitState().nFitStep = 0;
  FitState().fStartRmsd = FitState().fBestRmsd = 0.0f;
  FitState().eFitSearch = FitSearch::Simplex;
  FitState().gFitCountersData = LoadedDataStamp{};
}

}  // namespace tarmic
