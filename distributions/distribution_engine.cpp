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
  NormalEquations().dSumSqData = NormalEquations().dDataMean = 0.0;
  NormalEquations().bFixedFirstKernel = false;
  NormalEquations().dFixedFirstAmplitude = 0.0;
  NormalEquations().iContiFirstScan = NormalEquations().iContiLastScan = 1;
  NormalEquations().hContiDC = nullptr;
  NormalEquations().pContiProgressLine = nullptr;
  NormalEquations().nNEQScansDone = 0;
  Regularization().nRegUnknowns = 0;
  Regularization().dChiSquareMin = Regularization().dChiSquare = Regularization().dAlphaScale = 0.0;
  Regularization().fTargetRatio = Regularization().fDegreesOfFreedom = Regularization().fAlphaFactor = 0.0f;
  MaximumEntropy().dMaxEntEntropy = MaximumEntropy().dMaxEntAlpha = 0.0;
  BrentRoots().bWormChainWarned = false;
  DistributionIntegration().fCsff0SecondMin = DistributionIntegration().fCsff0SecondMax = 0.0f;
  DistributionIntegration().fCsff0AvgM = DistributionIntegration().fCsff0AvgRs = DistributionIntegration().fCsff0AvgFf0 = DistributionIntegration().fCsff0MsD = DistributionIntegration().fCsff0SdRs = DistributionIntegration().fCsff0SdM = 0.0f;
}

}  // namespace tarmic
