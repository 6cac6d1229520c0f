// The engine's operations installed in the hooks of the model parameters.
#include "distributions/install_hooks.h"

#include "distributions/ctot_tables.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_prior.h"
#include "distributions/distribution_variants.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "platform/backend.h"

namespace tarmic {

namespace {

// Options the dialog edits that no computation of this engine reads yet; kept so
// that the dialog shows what was chosen.
bool g_dlsIntegrateLogScale = false;

// The continuous-model slots of the parameter vector into the engine's settings.
void ApplyContinuousSettings() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  ReadGridSettingsFromParams();
  DistributionModels().fConfidenceLevel = analysisSwitchesPart.pParams[kContiSlotConfidence];
  // The invariant-D models keep D (1e-7 cm^2/s) in the frictional-ratio slot.
  if (modelFlagsPart.bCsInvariantD || modelFlagsPart.bConstantDModel) DistributionKernels().fInvariantD = analysisSwitchesPart.pParams[kContiSlotFrictionalRatio];
  ReadVariantSettingsFromParams();
}

DistributionDialogOptions GetOptions() {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionModelsPart = DistributionModels();
  DistributionDialogOptions o;
  o.dlsGridLinearD = distributionGridPart.bDLSGridLinearD;
  o.dlsGridLogD = distributionGridPart.bDLSGridLogD;
  o.dlsGridLogRh = distributionGridPart.bDLSGridLogRh;
  o.dlsIntegrateLogScale = g_dlsIntegrateLogScale;
  o.sizeShapeView = distributionModelsPart.bCsff0ViewSM ? 1 : distributionModelsPart.bCsff0ViewSRs ? 2 : distributionModelsPart.bCsff0ViewSD ? 3 : distributionModelsPart.bCsff0ViewMFf0 ? 4 : 0;
  o.timeCourseWindow = distributionModelsPart.fTimeCourseWindow;
  o.ctotFromData = Ctot().bCtotFromData;
  return o;
}

void SetOptions(const DistributionDialogOptions& o) {
  auto& distributionGridPart = DistributionGrid();
  auto& distributionModelsPart = DistributionModels();
  distributionGridPart.bDLSGridLinearD = o.dlsGridLinearD;
  distributionGridPart.bDLSGridLogD = o.dlsGridLogD;
  distributionGridPart.bDLSGridLogRh = o.dlsGridLogRh;
  g_dlsIntegrateLogScale = o.dlsIntegrateLogScale;
  distributionModelsPart.bCsff0ViewSM = o.sizeShapeView == 1;
  distributionModelsPart.bCsff0ViewSRs = o.sizeShapeView == 2;
  distributionModelsPart.bCsff0ViewSD = o.sizeShapeView == 3;
  distributionModelsPart.bCsff0ViewMFf0 = o.sizeShapeView == 4;
  distributionModelsPart.fTimeCourseWindow = o.timeCourseWindow;
  Ctot().bCtotFromData = o.ctotFromData;
}

}  // namespace

void InstallDistributionHooks() {
  ModelFitHooks& h = GetModelFitHooks();
  h.applyContinuousSettings = ApplyContinuousSettings;
  h.getDistributionOptions = GetOptions;
  h.setDistributionOptions = SetOptions;
  h.rebuildSizeShapePlot = [](Window* window) {
    CreateSizeShapePlot();
    if (window) window->Invalidate();
  };
  InstallDistributionPrior();
}

}  // namespace tarmic
