// Run switches, regularisation settings and display switches of the distribution
// engine, and the model classes.
#include "distributions/distribution_models.h"

namespace tarmic {

bool IsSGridModel() {
  return ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete || ModelFlags().bCvConstantD || ModelFlags().bContiSModel || ModelFlags().bCsConformationalChange ||
         ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete || ModelFlags().bCsFloatingVbar || ModelFlags().bCsScalingLaw || ModelFlags().bCsWormChain ||
         ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsBimodalFf0 || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM ||
         ModelFlags().bCsMsTable || ModelFlags().bCsInvariantD || ModelFlags().bCsModel521 || ModelFlags().bCsNonideal || ModelFlags().bBufferSedCorrection ||
         ModelFlags().bBoundaryAnalysis;
}

bool IsSizeShapeModel() { return ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete; }

bool LeadingEntryIsDiscrete() {
  return ModelFlags().bLsgOneDiscrete || ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM ||
         ModelFlags().bCsMsTable || ModelFlags().bCsNonideal || ModelFlags().bBufferSedCorrection;
}

bool LeadingEntrySkipped() { return LeadingEntryIsDiscrete() || ModelFlags().bCsff0OneDiscrete; }

bool EntropySkipsFirstUnknown() {
  return ModelFlags().bLsgOneDiscrete || ModelFlags().bCsMsTable || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM || ModelFlags().bCsNonideal;
}

void ResetDistributionModels() {
  DistributionModels().bContiInnerRun = DistributionModels().bFinalFitEvaluation = DistributionModels().bMonteCarloRun = false;
  DistributionModels().fConfidenceLevel = 0.95f;
  DistributionModels().bUsePrior = DistributionModels().bFf0Prior = false;
  DistributionModels().f2DRegScale = 10.0f;
  DistributionModels().fTimeCourseWindow = 1.0f;
  DistributionModels().bDLSLinearAxis = true;
  DistributionModels().bCsff0ViewSM = DistributionModels().bCsff0ViewSRs = DistributionModels().bCsff0ViewSD = DistributionModels().bCsff0ViewMFf0 = false;
}

}  // namespace tarmic
