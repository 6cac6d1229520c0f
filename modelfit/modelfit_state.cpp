#include "modelfit/modelfit_state.h"

#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"

namespace tarmic {

void ResetModelFitState() {
  auto& modelFlagsPart = ModelFlags();
  ResetModelFlags();
  modelFlagsPart.bFitMAndS = false;
  modelFlagsPart.bBufferSedCorrection = false;
  ResetModelOptions();
  ResetLammSettings();
  ResetModelParams();
}

}  // namespace tarmic
