// Run switches, regularisation settings and display switches of the distribution
// engine, and the model classes.
#include "distributions/distribution_models.h"

namespace tarmic {

bool IsSGridModel() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bLsgModel || modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCvConstantD || modelFlagsPart.bContiSModel || modelFlagsPart.bCsConformationalChange ||
         modelFlagsPart.bCsff0Model || modelFlagsPart.bCsff0OneDiscrete || modelFlagsPart.bCsFloatingVbar || modelFlagsPart.bCsScalingLaw || modelFlagsPart.bCsWormChain ||
         modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM ||
         modelFlagsPart.bCsMsTable || modelFlagsPart.bCsInvariantD || modelFlagsPart.bCsModel521 || modelFlagsPart.bCsNonideal || modelFlagsPart.bBufferSedCorrection ||
         modelFlagsPart.bBoundaryAnalysis;
}

bool IsSizeShapeModel() { return ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete; }

bool LeadingEntryIsDiscrete() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM ||
         modelFlagsPart.bCsMsTable || modelFlagsPart.bCsNonideal || modelFlagsPart.bBufferSedCorrection;
}

bool LeadingEntrySkipped() { return LeadingEntryIsDiscrete() || ModelFlags().bCsff0OneDiscrete; }

bool EntropySkipsFirstUnknown() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCsMsTable || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsNonideal;
}

void ResetDistributionModels() {
  auto& distributionModelsPart = DistributionModels();
  distributionModelsPart.bContiInnerRun = distributionModelsPart.bFinalFitEvaluation = distributionModelsPart.bMonteCarloRun = false;
  distributionModelsPart.fConfidenceLevel = 0.95f;
  distributionModelsPart.bUsePrior = distributionModelsPart.bFf0Prior = false;
  distributionModelsPart.f2DRegScale = 10.0f;
  distributionModelsPart.fTimeCourseWindow = 1.0f;
  distributionModelsPart.bDLSLinearAxis = true;
  distributionModelsPart.bCsff0ViewSM = distributionModelsPart.bCsff0ViewSRs = distributionModelsPart.bCsff0ViewSD = distributionModelsPart.bCsff0ViewMFf0 = false;
}

}  // namespace tarmic
