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
  ReadGridSettingsFromParams();
  DistributionModels().fConfidenceLevel = AnalysisSwitches().pParams[kContiSlotConfidence];
  // The invariant-D models keep D (1e-7 cm^2/s) in the frictional-ratio slot.
  if (ModelFlags().bCsInvariantD || ModelFlags().bConstantDModel) DistributionKernels().fInvariantD = AnalysisSwitches().pParams[kContiSlotFrictionalRatio];
  ReadVariantSettingsFromParams();
}

DistributionDialogOptions GetOptions() {
  DistributionDialogOptions o;
  o.dlsGridLinearD = DistributionGrid().bDLSGridLinearD;
  o.dlsGridLogD = DistributionGrid().bDLSGridLogD;
  o.dlsGridLogRh = DistributionGrid().bDLSGridLogRh;
  o.dlsIntegrateLogScale = g_dlsIntegrateLogScale;
  o.sizeShapeView = DistributionModels().bCsff0ViewSM ? 1 : DistributionModels().bCsff0ViewSRs ? 2 : DistributionModels().bCsff0ViewSD ? 3 : DistributionModels().bCsff0ViewMFf0 ? 4 : 0;
  o.timeCourseWindow = DistributionModels().fTimeCourseWindow;
  o.ctotFromData = Ctot().bCtotFromData;
  return o;
}

void SetOptions(const DistributionDialogOptions& o) {
  DistributionGrid().bDLSGridLinearD = o.dlsGridLinearD;
  DistributionGrid().bDLSGridLogD = o.dlsGridLogD;
  DistributionGrid().bDLSGridLogRh = o.dlsGridLogRh;
  g_dlsIntegrateLogScale = o.dlsIntegrateLogScale;
  DistributionModels().bCsff0ViewSM = o.sizeShapeView == 1;
  DistributionModels().bCsff0ViewSRs = o.sizeShapeView == 2;
  DistributionModels().bCsff0ViewSD = o.sizeShapeView == 3;
  DistributionModels().bCsff0ViewMFf0 = o.sizeShapeView == 4;
  DistributionModels().fTimeCourseWindow = o.timeCourseWindow;
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
