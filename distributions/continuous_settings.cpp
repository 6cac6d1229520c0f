#include "distributions/continuous_settings.h"

#include <cmath>
#include <vector>
#include <functional>

#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_variants.h"
#include "lamm/lamm_globals.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"
#include "scandata/analysis_switches.h"

namespace tarmic {

namespace {

ContinuousSetting Slot3Setting() {
  if (ModelFlags().bCsFloatingVbar) return ContinuousSetting::FrictionalRatio;
  if (ModelFlags().bCvConstantD) return ContinuousSetting::None;
  return ContinuousSetting::Vbar;
}

ContinuousSetting Slot11Setting() {
  if (ModelFlags().bCsFloatingVbar) return ContinuousSetting::Vbar;
  if (ModelFlags().bCsInvariantD || ModelFlags().bConstantDModel) return ContinuousSetting::DiffusionCoefficient;
  if (IsScalingLawModel()) return ContinuousSetting::ScalingKs;
  if (ModelFlags().bCsWormChain || ModelFlags().bCsModel521) return ContinuousSetting::ModelConstant;
  return ContinuousSetting::FrictionalRatio;
}

float CurrentConfidenceLevel() {
  return std::isfinite(DistributionModels().fConfidenceLevel) && DistributionModels().fConfidenceLevel >= 0.0f ? DistributionModels().fConfidenceLevel
                                                                     : kStartConfidenceLevel;
}

float CurrentViscosityPoise() { return SolventConstants().RELVISCOSITY / kRelViscosityPerPoise; }

// The species slots that StoreContinuousSettings and the variants' defaults write.
constexpr int kSettingSlots[] = {2, 3, 6, 7, 8, 10, 11, 12, 16, 17, 18};

// The switches of the models a parameter file may bring along with a continuous code.
std::vector<bool*> OtherModelFlags() {
  return {
    &ModelFlags().bDiscreteModel,    &ModelFlags().bMonomerDimer,   &ModelFlags().bMonomerTrimer, &ModelFlags().bAssoc124,        &ModelFlags().bAssoc148,
    &ModelFlags().bNonidealSpecies,  &ModelFlags().bNonIdealMultiple, &ModelFlags().bHeteroAssocModel, &LammGlobals().bLinearGeometry,
    &LammGlobals().bPlanarQuadrature, &LammGlobals().bExternalLoadingCell, &LammGlobals().bElectrophoresis, &ModelFlags().bStokesRadii, &ModelFlags().bCumulants,
    &ModelFlags().bFaxenApproximation,
  };
}

}  // namespace

ContinuousLayout CurrentContinuousLayout() {
  ContinuousLayout layout;
  layout.continuous = IsContinuousModel();
  if (!layout.continuous) return layout;
  layout.scalingLaw = IsScalingLawModel();
  layout.slot3 = Slot3Setting();
  layout.slot11 = Slot11Setting();
  return layout;
}

float CurrentContinuousValue(ContinuousSetting setting) {
  switch (setting) {
    case ContinuousSetting::Vbar:
      return SolventConstants().VBAR;
    case ContinuousSetting::FrictionalRatio:
      return SolventConstants().fFrictionalRatio > 0.0f ? SolventConstants().fFrictionalRatio : kStartFrictionalRatio;
    case ContinuousSetting::DiffusionCoefficient:
      return DistributionKernels().fInvariantD > 0.0f ? DistributionKernels().fInvariantD : kStartInvariantD;
    case ContinuousSetting::ScalingKs:
      return SolventConstants().fScalingKs;
    case ContinuousSetting::ModelConstant:
      return ModelFlags().bCsWormChain ? SolventConstants().fWormPersistenceLength : DistributionVariants().fLinearRodParameter;
    case ContinuousSetting::None:
      break;
  }
  return 0.0f;
}

void StoreContinuousSettings(const ContinuousLayout& before) {
  const ContinuousLayout now = CurrentContinuousLayout();
  if (!before.continuous) {
    AnalysisSwitches().pParams[kContiSlotConfidence] = CurrentConfidenceLevel();
    AnalysisSwitches().pParams[kContiSlotDensity] = SolventConstants().fBufferDensity;
    AnalysisSwitches().pParams[kContiSlotViscosity] = CurrentViscosityPoise();
    for (int slot = 1; slot <= 19; ++slot)
      if (slot < 13 || slot > 15) AnalysisSwitches().pParamFitFlags[slot] = 0;
  }
  if ((!before.continuous || now.slot3 != before.slot3) && now.slot3 != ContinuousSetting::None)
    AnalysisSwitches().pParams[kContiSlotVbar] = CurrentContinuousValue(now.slot3);
  if (!before.continuous || now.slot11 != before.slot11)
    AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = CurrentContinuousValue(now.slot11);
  if (now.scalingLaw && !before.scalingLaw) AnalysisSwitches().pParams[kContiSlotScalingExponent] = SolventConstants().fScalingExponent;
  StoreVariantDefaultsInParams();
}

void AdoptContinuousModelOfParameterFile() {
  if (!IsContinuousModel()) return;
  bool otherModel = false;
  for (bool* flag : OtherModelFlags()) otherModel = otherModel || *flag;
  if (otherModel) {
    for (bool* flag : OtherModelFlags()) *flag = false;
    // The settings as the model's command puts them, into the model variables that
    // the packing copies into the vector.
    StoreContinuousSettings(ContinuousLayout{});
    for (int slot : kSettingSlots) {
      SpeciesSlotValue(slot) = AnalysisSwitches().pParams[slot];
      SpeciesSlotFit(slot) = 0;
    }
    for (int slot : {1, 5, 9}) SpeciesSlotFit(slot) = 0;
    return;
  }
  // A negative value is a wrong entry, which the checks of the file refuse.
  const auto fill = [](int slot, float current) {
    float& value = SpeciesSlotValue(slot);
    if (value == 0.0f) value = current;
  };
  if (Slot3Setting() != ContinuousSetting::None)
    fill(kContiSlotVbar, CurrentContinuousValue(Slot3Setting()));
  fill(kContiSlotFrictionalRatio, CurrentContinuousValue(Slot11Setting()));
  fill(kContiSlotDensity, SolventConstants().fBufferDensity);
  fill(kContiSlotViscosity, CurrentViscosityPoise());
}

}  // namespace tarmic
