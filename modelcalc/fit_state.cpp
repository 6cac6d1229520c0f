#include "modelcalc/fit_state.h"

namespace tarmic {

bool bFitInterrupted = false;
int nFitIteration = 0;
int nFitStep = 0;
int nFitSim = 0;
float fStartRmsd = 0.0f;
float fBestRmsd = 0.0f;

void ResetFitState() {
  bFitInterrupted = false;
  nFitIteration = nFitStep = nFitSim = 0;
  fStartRmsd = fBestRmsd = 0.0f;
}

}  // namespace tarmic
