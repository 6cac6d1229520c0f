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
  dSumSqData = dDataMean = 0.0;
  bFixedFirstKernel = false;
  dFixedFirstAmplitude = 0.0;
  iContiFirstScan = iContiLastScan = 1;
  hContiDC = nullptr;
  pContiProgressLine = nullptr;
  nNEQScansDone = 0;
  nRegUnknowns = 0;
  dChiSquareMin = dChiSquare = dAlphaScale = 0.0;
  fTargetRatio = fDegreesOfFreedom = fAlphaFactor = 0.0f;
  dMaxEntEntropy = dMaxEntAlpha = 0.0;
  bWormChainWarned = false;
  fCsff0SecondMin = fCsff0SecondMax = 0.0f;
  fCsff0AvgM = fCsff0AvgRs = fCsff0AvgFf0 = fCsff0MsD = fCsff0SdRs = fCsff0SdM = 0.0f;
}

}  // namespace tarmic
