// Reset of the distribution engine.
#include "distributions/distribution_engine.h"

#include "distributions/brent_roots.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_prior.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_transforms.h"
#include "distributions/distribution_variants.h"
#include "distributions/ms_table.h"
#include "distributions/model_values_kept.h"
#include "distributions/maximum_entropy.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"

namespace tarmic {

void ResetDistributionEngine() {
  auto& distributionIntegrationPart = DistributionIntegration();
  auto& maximumEntropyPart = MaximumEntropy();
  auto& normalEquationsPart = NormalEquations();
  auto& regularizationPart = Regularization();
  ResetDistributionPlot();
  ResetContiRun();
  ResetDistributionKernels();
  ResetDistributionFiles();
  ResetDistributionModels();
  ResetDistributionVariants();
  ClearKeptValues();
  ResetDistributionGrid();
  ResetDistributionPrior();
  ResetDistributionTransforms();
  FreeMofsTable();
  normalEquationsPart.dSumSqData = normalEquationsPart.dDataMean = 0.0;
  normalEquationsPart.bFixedFirstKernel = false;
  normalEquationsPart.dFixedFirstAmplitude = 0.0;
  normalEquationsPart.iContiFirstScan = normalEquationsPart.iContiLastScan = 1;
  normalEquationsPart.hContiDC = nullptr;
  normalEquationsPart.pContiProgressLine = nullptr;
  normalEquationsPart.nNEQScansDone = 0;
  regularizationPart.nRegUnknowns = 0;
  regularizationPart.dChiSquareMin = regularizationPart.dChiSquare = regularizationPart.dAlphaScale = 0.0;
  regularizationPart.fTargetRatio = regularizationPart.fDegreesOfFreedom = regularizationPart.fAlphaFactor = 0.0f;
  maximumEntropyPart.dMaxEntEntropy = maximumEntropyPart.dMaxEntAlpha = 0.0;
  BrentRoots().bWormChainWarned = false;
  distributionIntegrationPart.fCsff0SecondMin = distributionIntegrationPart.fCsff0SecondMax = 0.0f;
  distributionIntegrationPart.fCsff0AvgM = distributionIntegrationPart.fCsff0AvgRs = distributionIntegrationPart.fCsff0AvgFf0 = distributionIntegrationPart.fCsff0MsD = distributionIntegrationPart.fCsff0SdRs = distributionIntegrationPart.fCsff0SdM = 0.0f;
}

}  // namespace tarmic
