#include "modelcalc/fit_state.h"

namespace tarmic {

float fFitRmsd = 0.0f;
float fFitPoints = 0.0f;
float fStartRmsd = 0.0f;
float fBestRmsd = 0.0f;
int nFitSim = 0;
int nFitIteration = 0;
int nFitStep = 0;
FitSearch eFitSearch = FitSearch::Simplex;
float fAnnealTemp = 0.0f;

void ResetFitState() {
  fFitRmsd = fFitPoints = fStartRmsd = fBestRmsd = 0.0f;
  nFitSim = nFitIteration = nFitStep = 0;
  eFitSearch = FitSearch::Simplex;
  fAnnealTemp = 0.0f;
}

}  // namespace tarmic
