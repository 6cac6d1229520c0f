#include "distributions/continuous_settings.h"

#include <cmath>
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
  if (bCsFloatingVbar) return ContinuousSetting::FrictionalRatio;
  if (bCvConstantD) return ContinuousSetting::None;
  return ContinuousSetting::Vbar;
}

ContinuousSetting Slot11Setting() {
  if (bCsFloatingVbar) return ContinuousSetting::Vbar;
  if (bCsInvariantD || bConstantDModel) return ContinuousSetting::DiffusionCoefficient;
  if (IsScalingLawModel()) return ContinuousSetting::ScalingKs;
  if (bCsWormChain || bCsModel521) return ContinuousSetting::ModelConstant;
  return ContinuousSetting::FrictionalRatio;
}

float CurrentConfidenceLevel() {
  return std::isfinite(fConfidenceLevel) && fConfidenceLevel >= 0.0f ? fConfidenceLevel
                                                                     : kStartConfidenceLevel;
}

float CurrentViscosityPoise() { return RELVISCOSITY / kRelViscosityPerPoise; }

// The species slots that StoreContinuousSettings and the variants' defaults write.
constexpr int kSettingSlots[] = {2, 3, 6, 7, 8, 10, 11, 12, 16, 17, 18};

// The switches of the models a parameter file may bring along with a continuous code.
bool* const kOtherModelFlags[] = {
    &bDiscreteModel,    &bMonomerDimer,   &bMonomerTrimer, &bAssoc124,        &bAssoc148,
    &bNonidealSpecies,  &bNonIdealMultiple, &bHeteroAssocModel, &bLinearGeometry,
    &bPlanarQuadrature, &bExternalLoadingCell, &bElectrophoresis, &bStokesRadii, &bCumulants,
    &bFaxenApproximation,
};

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
      return VBAR;
    case ContinuousSetting::FrictionalRatio:
      return fFrictionalRatio > 0.0f ? fFrictionalRatio : kStartFrictionalRatio;
    case ContinuousSetting::DiffusionCoefficient:
      return fInvariantD > 0.0f ? fInvariantD : kStartInvariantD;
    case ContinuousSetting::ScalingKs:
      return fScalingKs;
    case ContinuousSetting::ModelConstant:
      return bCsWormChain ? fWormPersistenceLength : fLinearRodParameter;
    case ContinuousSetting::None:
      break;
  }
  return 0.0f;
}

void StoreContinuousSettings(const ContinuousLayout& before) {
  const ContinuousLayout now = CurrentContinuousLayout();
  if (!before.continuous) {
    pParams[kContiSlotConfidence] = CurrentConfidenceLevel();
    pParams[kContiSlotDensity] = fBufferDensity;
    pParams[kContiSlotViscosity] = CurrentViscosityPoise();
    for (int slot = 1; slot <= 19; ++slot)
      if (slot < 13 || slot > 15) pParamFitFlags[slot] = 0;
  }
  if ((!before.continuous || now.slot3 != before.slot3) && now.slot3 != ContinuousSetting::None)
    pParams[kContiSlotVbar] = CurrentContinuousValue(now.slot3);
  if (!before.continuous || now.slot11 != before.slot11)
    pParams[kContiSlotFrictionalRatio] = CurrentContinuousValue(now.slot11);
  if (now.scalingLaw && !before.scalingLaw) pParams[kContiSlotScalingExponent] = fScalingExponent;
  StoreVariantDefaultsInParams();
}

void AdoptContinuousModelOfParameterFile() {
  if (!IsContinuousModel()) return;
  bool otherModel = false;
  for (bool* flag : kOtherModelFlags) otherModel = otherModel || *flag;
  if (otherModel) {
    for (bool* flag : kOtherModelFlags) *flag = false;
    // The settings as the model's command puts them, into the model variables that
    // the packing copies into the vector.
    StoreContinuousSettings(ContinuousLayout{});
    for (int slot : kSettingSlots) {
      SpeciesSlotValue(slot) = pParams[slot];
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
  fill(kContiSlotDensity, fBufferDensity);
  fill(kContiSlotViscosity, CurrentViscosityPoise());
}

}  // namespace tarmic
