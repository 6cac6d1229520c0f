// Settings of the continuous c(s) variants.
#include "distributions/distribution_variants.h"

#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"

namespace tarmic {

float fDiscreteS = 0.34f;
float fDiscreteM = 350.0f;
float fDiscreteD = 50.0f;
float fSecondFf0 = 2.0f;
float fBimodalSMin = 10.0f;
float fBimodalSMax = 20.0f;
float fConformM = 200000.0f;
float fConformSMin = 7.0f;
float fConformSMax = 10.0f;
float fLinearRodParameter = 10000.0f;
float fCvConstantD = 5.0f;

namespace {

bool ShapeWithDiscrete() { return bCsff0OneDiscrete || bCsBimodalFf0OneDiscrete; }
bool SlotDiscrete() {
  return bCsOneDiscreteD || bCsOneDiscreteM || bLsgOneDiscrete || bCsMsTable || bCsNonideal;
}

}  // namespace

void ReadVariantSettingsFromParams() {
  if (ShapeWithDiscrete()) {
    fDiscreteM = pParams[kVariantSlotShapeDiscreteM];
    fDiscreteS = pParams[kVariantSlotShapeDiscreteS];
  } else if (SlotDiscrete()) {
    fDiscreteS = pParams[kVariantSlotDiscreteS];
    if (bCsOneDiscreteD)
      fDiscreteD = pParams[kVariantSlotDiscreteMD];
    else
      fDiscreteM = pParams[kVariantSlotDiscreteMD];
  }
  if (bCsBimodalFf0 || bCsBimodalFf0OneDiscrete) {
    fSecondFf0 = pParams[kVariantSlotValue];
    fBimodalSMin = pParams[kVariantSlotLow];
    fBimodalSMax = pParams[kVariantSlotHigh];
  } else if (bCsConformationalChange) {
    fConformM = pParams[kVariantSlotValue];
    fConformSMin = pParams[kVariantSlotLow];
    fConformSMax = pParams[kVariantSlotHigh];
  } else if (bCsWormChain) {
    fWormPersistenceLength = pParams[kVariantSlotModel];
    fWormCrossSection = pParams[kVariantSlotValue];
    fWormMonomerMass = pParams[kVariantSlotLow];
    fWormHydration = pParams[kVariantSlotHigh];
  }
  if (bCsModel521) fLinearRodParameter = pParams[kVariantSlotModel];
  if (bCvConstantD) fCvConstantD = pParams[kVariantSlotCvD];
}

void StoreVariantDefaultsInParams() {
  if (IsSizeShapeModel()) {
    pParams[kContiSlotShape1] = fFf0Min;
    pParams[kContiSlotShape2] = fFf0Max;
    pParams[kContiSlotShape3] = static_cast<float>(nFf0Values);
  }
  if (ShapeWithDiscrete()) {
    pParams[kVariantSlotShapeDiscreteM] = fDiscreteM;
    pParams[kVariantSlotShapeDiscreteS] = fDiscreteS;
  } else if (SlotDiscrete()) {
    pParams[kVariantSlotDiscreteS] = fDiscreteS;
    pParams[kVariantSlotDiscreteMD] = bCsOneDiscreteD ? fDiscreteD : fDiscreteM;
  }
  if (bCsBimodalFf0 || bCsBimodalFf0OneDiscrete) {
    pParams[kVariantSlotValue] = fSecondFf0;
    pParams[kVariantSlotLow] = fBimodalSMin;
    pParams[kVariantSlotHigh] = fBimodalSMax;
  } else if (bCsConformationalChange) {
    pParams[kVariantSlotValue] = fConformM;
    pParams[kVariantSlotLow] = fConformSMin;
    pParams[kVariantSlotHigh] = fConformSMax;
  } else if (bCsWormChain) {
    pParams[kVariantSlotModel] = fWormPersistenceLength;
    pParams[kVariantSlotValue] = fWormCrossSection;
    pParams[kVariantSlotLow] = fWormMonomerMass;
    pParams[kVariantSlotHigh] = fWormHydration;
  }
  if (bCsModel521) pParams[kVariantSlotModel] = fLinearRodParameter;
  if (bCvConstantD) pParams[kVariantSlotCvD] = fCvConstantD;
}

void ResetDistributionVariants() {
  fDiscreteS = 0.34f;
  fDiscreteM = 350.0f;
  fDiscreteD = 50.0f;
  fSecondFf0 = 2.0f;
  fBimodalSMin = 10.0f;
  fBimodalSMax = 20.0f;
  fConformM = 200000.0f;
  fConformSMin = 7.0f;
  fConformSMax = 10.0f;
  fLinearRodParameter = 10000.0f;
  fCvConstantD = 5.0f;
}

}  // namespace tarmic
