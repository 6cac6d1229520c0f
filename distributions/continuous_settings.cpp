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
  auto& modelFlagsPart = ModelFlags();
  if (modelFlagsPart.bCsFloatingVbar) return ContinuousSetting::FrictionalRatio;
  if (modelFlagsPart.bCvConstantD) return ContinuousSetting::None;
  return ContinuousSetting::Vbar;
}

ContinuousSetting Slot11Setting() {
  auto& modelFlagsPart = ModelFlags();
  if (modelFlagsPart.bCsFloatingVbar) return ContinuousSetting::Vbar;
  if (modelFlagsPart.bCsInvariantD || modelFlagsPart.bConstantDModel) return ContinuousSetting::DiffusionCoefficient;
  if (IsScalingLawModel()) return ContinuousSetting::ScalingKs;
  if (modelFlagsPart.bCsWormChain || modelFlagsPart.bCsModel521) return ContinuousSetting::ModelConstant;
  return ContinuousSetting::FrictionalRatio;
}

float CurrentConfidenceLevel() {
  auto& distributionModelsPart = DistributionModels();
  return std::isfinite(distributionModelsPart.fConfidenceLevel) && distributionModelsPart.fConfidenceLevel >= 0.0f ? distributionModelsPart.fConfidenceLevel
                                                                     : kStartConfidenceLevel;
}

float CurrentViscosityPoise() { return SolventConstants().RELVISCOSITY / kRelViscosityPerPoise; }

// The species slots that StoreContinuousSettings and the variants' defaults write.
constexpr int kSettingSlots[] = {2, 3, 6, 7, 8, 10, 11, 12, 16, 17, 18};

// The switches of the models a parameter file may bring along with a continuous code.
std::vector<bool*> OtherModelFlags() {
  auto& lammGlobalsPart = LammGlobals();
  auto& modelFlagsPart = ModelFlags();
  return {
    &modelFlagsPart.bDiscreteModel,    &modelFlagsPart.bMonomerDimer,   &modelFlagsPart.bMonomerTrimer, &modelFlagsPart.bAssoc124,        &modelFlagsPart.bAssoc148,
    &modelFlagsPart.bNonidealSpecies,  &modelFlagsPart.bNonIdealMultiple, &modelFlagsPart.bHeteroAssocModel, &lammGlobalsPart.bLinearGeometry,
    &lammGlobalsPart.bPlanarQuadrature, &lammGlobalsPart.bExternalLoadingCell, &lammGlobalsPart.bElectrophoresis, &modelFlagsPart.bStokesRadii, &modelFlagsPart.bCumulants,
    &modelFlagsPart.bFaxenApproximation,
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
  auto& distributionKernelsPart = DistributionKernels();
  auto& solventConstantsPart = SolventConstants();
  switch (setting) {
    case ContinuousSetting::Vbar:
      return solventConstantsPart.VBAR;
    case ContinuousSetting::FrictionalRatio:
      return solventConstantsPart.fFrictionalRatio > 0.0f ? solventConstantsPart.fFrictionalRatio : kStartFrictionalRatio;
    case ContinuousSetting::DiffusionCoefficient:
      return distributionKernelsPart.fInvariantD > 0.0f ? distributionKernelsPart.fInvariantD : kStartInvariantD;
    case ContinuousSetting::ScalingKs:
      return solventConstantsPart.fScalingKs;
    case ContinuousSetting::ModelConstant:
      return ModelFlags().bCsWormChain ? solventConstantsPart.fWormPersistenceLength : DistributionVariants().fLinearRodParameter;
    case ContinuousSetting::None:
      break;
  }
  return 0.0f;
}

void StoreContinuousSettings(const ContinuousLayout& before) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& solventConstantsPart = SolventConstants();
  const ContinuousLayout now = CurrentContinuousLayout();
  if (!before.continuous) {
    analysisSwitchesPart.pParams[kContiSlotConfidence] = CurrentConfidenceLevel();
    analysisSwitchesPart.pParams[kContiSlotDensity] = solventConstantsPart.fBufferDensity;
    analysisSwitchesPart.pParams[kContiSlotViscosity] = CurrentViscosityPoise();
    for (int slot = 1; slot <= 19; ++slot)
      if (slot < 13 || slot > 15) analysisSwitchesPart.pParamFitFlags[slot] = 0;
  }
  if ((!before.continuous || now.slot3 != before.slot3) && now.slot3 != ContinuousSetting::None)
    analysisSwitchesPart.pParams[kContiSlotVbar] = CurrentContinuousValue(now.slot3);
  if (!before.continuous || now.slot11 != before.slot11)
    analysisSwitchesPart.pParams[kContiSlotFrictionalRatio] = CurrentContinuousValue(now.slot11);
  if (now.scalingLaw && !before.scalingLaw) analysisSwitchesPart.pParams[kContiSlotScalingExponent] = solventConstantsPart.fScalingExponent;
  StoreVariantDefaultsInParams();
}

void AdoptContinuousModelOfParameterFile() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& solventConstantsPart = SolventConstants();
  if (!IsContinuousModel()) return;
  bool otherModel = false;
  for (bool* flag : OtherModelFlags()) otherModel = otherModel || *flag;
  if (otherModel) {
    for (bool* flag : OtherModelFlags()) *flag = false;
    // The settings as the model's command puts them, into the model variables that
    // the packing copies into the vector.
    StoreContinuousSettings(ContinuousLayout{});
    for (int slot : kSettingSlots) {
      SpeciesSlotValue(slot) = analysisSwitchesPart.pParams[slot];
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
  fill(kContiSlotDensity, solventConstantsPart.fBufferDensity);
  fill(kContiSlotViscosity, CurrentViscosityPoise());
}

}  // namespace tarmic
