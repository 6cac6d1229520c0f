// The menu state of the command library's switches.
#include "commands/menu_item_states.h"

#include <algorithm>

#include "app/preferences.h"
#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "modelcalc/fluorescence_detection.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "propagators/solvent_settings.h"
#include "resources/command_ids.h"
#include "scandata/initial_data.h"

#include <vector>

namespace tarmic {

namespace {

// Both items of a fluorescence option (the menu's and the FloTools dialog's
// identifier) show its switch.
struct FluorescenceOption {
  int ids[2];
  const bool* flag;
};
std::vector<FluorescenceOption> FluorescenceOptions() {
  return {
    {{kCmSignalMagnificationGradientAlt, kCmSignalMagnificationGradient}, &FluorescenceDetection().bMagnificationGradient},
    {{kCmNonlinearDetectionAlt, kCmNonlinearDetection}, &FluorescenceDetection().bNonlinearDetection},
    {{kCmSignalMagnificationDriftAlt, kCmSignalMagnificationDrift}, &FluorescenceDetection().bMagnificationDrift},
    {{kCmSignalRadialConvolutionAlt, kCmSignalRadialConvolution}, &FluorescenceDetection().bRadialConvolution},
    {{kCmExcitationShadowAlt, kCmExcitationShadow}, &FluorescenceDetection().bExcitationShadow},
  };
}

bool Checked(int id) {
  const std::span<const int> models = ModelMenuCommands();
  if (std::find(models.begin(), models.end(), id) != models.end()) return ActiveModelCommand() == id;
  for (const FluorescenceOption& o : FluorescenceOptions()) {
    if (o.ids[0] == id || o.ids[1] == id) return *o.flag;
  }
  switch (id) {
    case kCmFitMAndS: return ModelFlags().bFitMAndS;
    // Both start-time offset items show the one switch.
    case kCmFitT0OfSedimentation:
    case kCmSedimentationTimeOffset: return ModelOptions().bTimeOffset != 0;
    case kCmBufferSedimentation: return ModelFlags().bBufferSedCorrection;
    case kCmInhomogeneousSolvent: return SolventSettings().gInhomSolvent.bInhomogeneousSolvent;
    case kCmFinalProfileToFit: return ModelOptions().bFinalProfileToFit;
    // An extrapolation of the initial data other than the start values (order 1,
    // factor 1).
    case kCmInitPolyOrder: return InitialData().nInitPolyOrder != 1 || InitialData().fInitExtrapFactor != 1.0f;
    default: return false;
  }
}

}  // namespace

MenuItemState CommandMenuItemState(int id) {
  MenuItemState state;
  state.checked = Checked(id);
  // The full command set shows what this version does not build greyed; its help
  // entry stays within reach (help mode on the item).
  state.enabled = !(bFullCommandSet && IsUnavailableCommand(id));
  return state;
}

}  // namespace tarmic
