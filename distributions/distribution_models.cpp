// Run switches, regularisation settings and display switches of the distribution
// engine, and the model classes.
#include "distributions/distribution_models.h"


namespace tarmic {

bool bContiInnerRun = false;
bool bFinalFitEvaluation = false;
bool bMonteCarloRun = false;

float fConfidenceLevel = 0.95f;
bool bUsePrior = false;
bool bFf0Prior = false;
float f2DRegScale = 10.0f;
float fTimeCourseWindow = 1.0f;

bool bDLSLinearAxis = true;
bool bCsff0ViewSM = false;
bool bCsff0ViewSRs = false;
bool bCsff0ViewSD = false;
bool bCsff0ViewMFf0 = false;

bool IsSGridModel() {
  return bLsgModel || bLsgOneDiscrete || bCvConstantD || bContiSModel || bCsConformationalChange ||
         bCsff0Model || bCsff0OneDiscrete || bCsFloatingVbar || bCsScalingLaw || bCsWormChain ||
         bCsBimodalFf0OneDiscrete || bCsBimodalFf0 || bCsOneDiscreteD || bCsOneDiscreteM ||
         bCsMsTable || bCsInvariantD || bCsModel521 || bCsNonideal || bBufferSedCorrection ||
         bBoundaryAnalysis;
}

bool IsSizeShapeModel() { return bCsff0Model || bCsff0OneDiscrete; }

bool LeadingEntryIsDiscrete() {
  return bLsgOneDiscrete || bCsBimodalFf0OneDiscrete || bCsOneDiscreteD || bCsOneDiscreteM ||
         bCsMsTable || bCsNonideal || bBufferSedCorrection;
}

bool LeadingEntrySkipped() { return LeadingEntryIsDiscrete() || bCsff0OneDiscrete; }

bool EntropySkipsFirstUnknown() {
  return bLsgOneDiscrete || bCsMsTable || bCsOneDiscreteD || bCsOneDiscreteM || bCsNonideal;
}

void ResetDistributionModels() {
  bContiInnerRun = bFinalFitEvaluation = bMonteCarloRun = false;
  fConfidenceLevel = 0.95f;
  bUsePrior = bFf0Prior = false;
  f2DRegScale = 10.0f;
  fTimeCourseWindow = 1.0f;
  bDLSLinearAxis = true;
  bCsff0ViewSM = bCsff0ViewSRs = bCsff0ViewSD = bCsff0ViewMFf0 = false;
}

}  // namespace tarmic
