// Settings of the continuous c(s) variants.
#include "distributions/distribution_variants.h"

#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"

namespace tarmic {

namespace {

bool ShapeWithDiscrete() { return ModelFlags().bCsff0OneDiscrete || ModelFlags().bCsBimodalFf0OneDiscrete; }
bool SlotDiscrete() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCsMsTable || modelFlagsPart.bCsNonideal;
}

}  // namespace

void ReadVariantSettingsFromParams() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& distributionVariantsPart = DistributionVariants();
  auto& modelFlagsPart = ModelFlags();
  auto& solventConstantsPart = SolventConstants();
  if (ShapeWithDiscrete()) {
    distributionVariantsPart.fDiscreteM = analysisSwitchesPart.pParams[kVariantSlotShapeDiscreteM];
    distributionVariantsPart.fDiscreteS = analysisSwitchesPart.pParams[kVariantSlotShapeDiscreteS];
  } else if (SlotDiscrete()) {
    distributionVariantsPart.fDiscreteS = analysisSwitchesPart.pParams[kVariantSlotDiscreteS];
    if (modelFlagsPart.bCsOneDiscreteD)
      distributionVariantsPart.fDiscreteD = analysisSwitchesPart.pParams[kVariantSlotDiscreteMD];
    else
      distributionVariantsPart.fDiscreteM = analysisSwitchesPart.pParams[kVariantSlotDiscreteMD];
  }
  if (modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsBimodalFf0OneDiscrete) {
    distributionVariantsPart.fSecondFf0 = analysisSwitchesPart.pParams[kVariantSlotValue];
    distributionVariantsPart.fBimodalSMin = analysisSwitchesPart.pParams[kVariantSlotLow];
    distributionVariantsPart.fBimodalSMax = analysisSwitchesPart.pParams[kVariantSlotHigh];
  } else if (modelFlagsPart.bCsConformationalChange) {
    distributionVariantsPart.fConformM = analysisSwitchesPart.pParams[kVariantSlotValue];
    distributionVariantsPart.fConformSMin = analysisSwitchesPart.pParams[kVariantSlotLow];
    distributionVariantsPart.fConformSMax = analysisSwitchesPart.pParams[kVariantSlotHigh];
  } else if (modelFlagsPart.bCsWormChain) {
    solventConstantsPart.fWormPersistenceLength = analysisSwitchesPart.pParams[kVariantSlotModel];
    solventConstantsPart.fWormCrossSection = analysisSwitchesPart.pParams[kVariantSlotValue];
    solventConstantsPart.fWormMonomerMass = analysisSwitchesPart.pParams[kVariantSlotLow];
    solventConstantsPart.fWormHydration = analysisSwitchesPart.pParams[kVariantSlotHigh];
  }
  if (modelFlagsPart.bCsModel521) distributionVariantsPart.fLinearRodParameter = analysisSwitchesPart.pParams[kVariantSlotModel];
  if (modelFlagsPart.bCvConstantD) distributionVariantsPart.fCvConstantD = analysisSwitchesPart.pParams[kVariantSlotCvD];
}

void StoreVariantDefaultsInParams() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& distributionGridPart = DistributionGrid();
  auto& distributionVariantsPart = DistributionVariants();
  auto& modelFlagsPart = ModelFlags();
  auto& solventConstantsPart = SolventConstants();
  if (IsSizeShapeModel()) {
    analysisSwitchesPart.pParams[kContiSlotShape1] = distributionGridPart.fFf0Min;
    analysisSwitchesPart.pParams[kContiSlotShape2] = distributionGridPart.fFf0Max;
    analysisSwitchesPart.pParams[kContiSlotShape3] = static_cast<float>(distributionGridPart.nFf0Values);
  }
  if (ShapeWithDiscrete()) {
    analysisSwitchesPart.pParams[kVariantSlotShapeDiscreteM] = distributionVariantsPart.fDiscreteM;
    analysisSwitchesPart.pParams[kVariantSlotShapeDiscreteS] = distributionVariantsPart.fDiscreteS;
  } else if (SlotDiscrete()) {
    analysisSwitchesPart.pParams[kVariantSlotDiscreteS] = distributionVariantsPart.fDiscreteS;
    analysisSwitchesPart.pParams[kVariantSlotDiscreteMD] = modelFlagsPart.bCsOneDiscreteD ? distributionVariantsPart.fDiscreteD : distributionVariantsPart.fDiscreteM;
  }
  if (modelFlagsPart.bCsBimodalFf0 || modelFlagsPart.bCsBimodalFf0OneDiscrete) {
    analysisSwitchesPart.pParams[kVariantSlotValue] = distributionVariantsPart.fSecondFf0;
    analysisSwitchesPart.pParams[kVariantSlotLow] = distributionVariantsPart.fBimodalSMin;
    analysisSwitchesPart.pParams[kVariantSlotHigh] = distributionVariantsPart.fBimodalSMax;
  } else if (modelFlagsPart.bCsConformationalChange) {
    analysisSwitchesPart.pParams[kVariantSlotValue] = distributionVariantsPart.fConformM;
    analysisSwitchesPart.pParams[kVariantSlotLow] = distributionVariantsPart.fConformSMin;
    analysisSwitchesPart.pParams[kVariantSlotHigh] = distributionVariantsPart.fConformSMax;
  } else if (modelFlagsPart.bCsWormChain) {
    analysisSwitchesPart.pParams[kVariantSlotModel] = solventConstantsPart.fWormPersistenceLength;
    analysisSwitchesPart.pParams[kVariantSlotValue] = solventConstantsPart.fWormCrossSection;
    analysisSwitchesPart.pParams[kVariantSlotLow] = solventConstantsPart.fWormMonomerMass;
    analysisSwitchesPart.pParams[kVariantSlotHigh] = solventConstantsPart.fWormHydration;
  }
  if (modelFlagsPart.bCsModel521) analysisSwitchesPart.pParams[kVariantSlotModel] = distributionVariantsPart.fLinearRodParameter;
  if (modelFlagsPart.bCvConstantD) analysisSwitchesPart.pParams[kVariantSlotCvD] = distributionVariantsPart.fCvConstantD;
}

void ResetDistributionVariants() {
  auto& distributionVariantsPart = DistributionVariants();
  distributionVariantsPart.fDiscreteS = 0.34f;
  distributionVariantsPart.fDiscreteM = 350.0f;
  distributionVariantsPart.fDiscreteD = 50.0f;
  distributionVariantsPart.fSecondFf0 = 2.0f;
  distributionVariantsPart.fBimodalSMin = 10.0f;
  distributionVariantsPart.fBimodalSMax = 20.0f;
  distributionVariantsPart.fConformM = 200000.0f;
  distributionVariantsPart.fConformSMin = 7.0f;
  distributionVariantsPart.fConformSMax = 10.0f;
  distributionVariantsPart.fLinearRodParameter = 10000.0f;
  distributionVariantsPart.fCvConstantD = 5.0f;
}

}  // namespace tarmic
