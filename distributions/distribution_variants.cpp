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
  return ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM || ModelFlags().bLsgOneDiscrete || ModelFlags().bCsMsTable || ModelFlags().bCsNonideal;
}

}  // namespace

void ReadVariantSettingsFromParams() {
  if (ShapeWithDiscrete()) {
    DistributionVariants().fDiscreteM = AnalysisSwitches().pParams[kVariantSlotShapeDiscreteM];
    DistributionVariants().fDiscreteS = AnalysisSwitches().pParams[kVariantSlotShapeDiscreteS];
  } else if (SlotDiscrete()) {
    DistributionVariants().fDiscreteS = AnalysisSwitches().pParams[kVariantSlotDiscreteS];
    if (ModelFlags().bCsOneDiscreteD)
      DistributionVariants().fDiscreteD = AnalysisSwitches().pParams[kVariantSlotDiscreteMD];
    else
      DistributionVariants().fDiscreteM = AnalysisSwitches().pParams[kVariantSlotDiscreteMD];
  }
  if (ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete) {
    DistributionVariants().fSecondFf0 = AnalysisSwitches().pParams[kVariantSlotValue];
    DistributionVariants().fBimodalSMin = AnalysisSwitches().pParams[kVariantSlotLow];
    DistributionVariants().fBimodalSMax = AnalysisSwitches().pParams[kVariantSlotHigh];
  } else if (ModelFlags().bCsConformationalChange) {
    DistributionVariants().fConformM = AnalysisSwitches().pParams[kVariantSlotValue];
    DistributionVariants().fConformSMin = AnalysisSwitches().pParams[kVariantSlotLow];
    DistributionVariants().fConformSMax = AnalysisSwitches().pParams[kVariantSlotHigh];
  } else if (ModelFlags().bCsWormChain) {
    SolventConstants().fWormPersistenceLength = AnalysisSwitches().pParams[kVariantSlotModel];
    SolventConstants().fWormCrossSection = AnalysisSwitches().pParams[kVariantSlotValue];
    SolventConstants().fWormMonomerMass = AnalysisSwitches().pParams[kVariantSlotLow];
    SolventConstants().fWormHydration = AnalysisSwitches().pParams[kVariantSlotHigh];
  }
  if (ModelFlags().bCsModel521) DistributionVariants().fLinearRodParameter = AnalysisSwitches().pParams[kVariantSlotModel];
  if (ModelFlags().bCvConstantD) DistributionVariants().fCvConstantD = AnalysisSwitches().pParams[kVariantSlotCvD];
}

void StoreVariantDefaultsInParams() {
  if (IsSizeShapeModel()) {
    AnalysisSwitches().pParams[kContiSlotShape1] = DistributionGrid().fFf0Min;
    AnalysisSwitches().pParams[kContiSlotShape2] = DistributionGrid().fFf0Max;
    AnalysisSwitches().pParams[kContiSlotShape3] = static_cast<float>(DistributionGrid().nFf0Values);
  }
  if (ShapeWithDiscrete()) {
    AnalysisSwitches().pParams[kVariantSlotShapeDiscreteM] = DistributionVariants().fDiscreteM;
    AnalysisSwitches().pParams[kVariantSlotShapeDiscreteS] = DistributionVariants().fDiscreteS;
  } else if (SlotDiscrete()) {
    AnalysisSwitches().pParams[kVariantSlotDiscreteS] = DistributionVariants().fDiscreteS;
    AnalysisSwitches().pParams[kVariantSlotDiscreteMD] = ModelFlags().bCsOneDiscreteD ? DistributionVariants().fDiscreteD : DistributionVariants().fDiscreteM;
  }
  if (ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete) {
    AnalysisSwitches().pParams[kVariantSlotValue] = DistributionVariants().fSecondFf0;
    AnalysisSwitches().pParams[kVariantSlotLow] = DistributionVariants().fBimodalSMin;
    AnalysisSwitches().pParams[kVariantSlotHigh] = DistributionVariants().fBimodalSMax;
  } else if (ModelFlags().bCsConformationalChange) {
    AnalysisSwitches().pParams[kVariantSlotValue] = DistributionVariants().fConformM;
    AnalysisSwitches().pParams[kVariantSlotLow] = DistributionVariants().fConformSMin;
    AnalysisSwitches().pParams[kVariantSlotHigh] = DistributionVariants().fConformSMax;
  } else if (ModelFlags().bCsWormChain) {
    AnalysisSwitches().pParams[kVariantSlotModel] = SolventConstants().fWormPersistenceLength;
    AnalysisSwitches().pParams[kVariantSlotValue] = SolventConstants().fWormCrossSection;
    AnalysisSwitches().pParams[kVariantSlotLow] = SolventConstants().fWormMonomerMass;
    AnalysisSwitches().pParams[kVariantSlotHigh] = SolventConstants().fWormHydration;
  }
  if (ModelFlags().bCsModel521) AnalysisSwitches().pParams[kVariantSlotModel] = DistributionVariants().fLinearRodParameter;
  if (ModelFlags().bCvConstantD) AnalysisSwitches().pParams[kVariantSlotCvD] = DistributionVariants().fCvConstantD;
}

void ResetDistributionVariants() {
  DistributionVariants().fDiscreteS = 0.34f;
  DistributionVariants().fDiscreteM = 350.0f;
  DistributionVariants().fDiscreteD = 50.0f;
  DistributionVariants().fSecondFf0 = 2.0f;
  DistributionVariants().fBimodalSMin = 10.0f;
  DistributionVariants().fBimodalSMax = 20.0f;
  DistributionVariants().fConformM = 200000.0f;
  DistributionVariants().fConformSMin = 7.0f;
  DistributionVariants().fConformSMax = 10.0f;
  DistributionVariants().fLinearRodParameter = 10000.0f;
  DistributionVariants().fCvConstantD = 5.0f;
}

}  // namespace tarmic
