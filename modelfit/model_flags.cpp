#include "modelfit/model_flags.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

std::vector<bool*> ResettableModelFlags() {
  auto& modelFlagsPart = ModelFlags();
  return {
      &modelFlagsPart.bDiscreteModel, &modelFlagsPart.bMonomerDimer, &modelFlagsPart.bMonomerTrimer, &modelFlagsPart.bAssoc124, &modelFlagsPart.bAssoc148, &modelFlagsPart.bNonidealSpecies,
      &modelFlagsPart.bNonIdealMultiple, &modelFlagsPart.bHeteroAssocModel, &modelFlagsPart.bZoneCentrifugation, &modelFlagsPart.bFaxenApproximation,
      &modelFlagsPart.bStokesRadii, &modelFlagsPart.bCumulants, &modelFlagsPart.bContiModel, &modelFlagsPart.bContiSModel, &modelFlagsPart.bLsgModel,
      &modelFlagsPart.bLsgOneDiscrete, &modelFlagsPart.bCsff0Model, &modelFlagsPart.bCsff0OneDiscrete, &modelFlagsPart.bCsOneDiscreteD, &modelFlagsPart.bCsOneDiscreteM,
      &modelFlagsPart.bCsConformationalChange, &modelFlagsPart.bCsFloatingVbar, &modelFlagsPart.bCsWormChain, &modelFlagsPart.bCsScalingLaw, &modelFlagsPart.bCsBimodalFf0,
      &modelFlagsPart.bCsBimodalFf0OneDiscrete, &modelFlagsPart.bCsInvariantD, &modelFlagsPart.bCsMsTable, &modelFlagsPart.bCsModel521, &modelFlagsPart.bCsNonideal,
      &modelFlagsPart.bCMPriorVbar, &modelFlagsPart.bCMPowerLawModel, &modelFlagsPart.bConstantDModel, &modelFlagsPart.bFMScalingLaw, &modelFlagsPart.bCvConstantD,
      &modelFlagsPart.bElectroLsgModel, &modelFlagsPart.bZoneLsgModel, &modelFlagsPart.bDLSRhModel, &modelFlagsPart.bDLSDModel, &modelFlagsPart.bDLSTimeCourseModel,
      &modelFlagsPart.bBoundaryAnalysis, &modelFlagsPart.bVanHoldeWeischet};
}

void ResetModelFlags() {
  for (bool* flag : ResettableModelFlags()) *flag = false;
}

bool IsContinuousModel() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bContiModel || modelFlagsPart.bContiSModel || modelFlagsPart.bLsgModel || modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bCsff0Model ||
         modelFlagsPart.bCsff0OneDiscrete || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsConformationalChange ||
         modelFlagsPart.bCsFloatingVbar || modelFlagsPart.bCsWormChain || modelFlagsPart.bCsScalingLaw || modelFlagsPart.bCsBimodalFf0 ||
         modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsInvariantD || modelFlagsPart.bCsMsTable || modelFlagsPart.bCsModel521 || modelFlagsPart.bCsNonideal ||
         modelFlagsPart.bCMPriorVbar || modelFlagsPart.bCMPowerLawModel || modelFlagsPart.bConstantDModel || modelFlagsPart.bFMScalingLaw || modelFlagsPart.bCvConstantD ||
         modelFlagsPart.bElectroLsgModel || modelFlagsPart.bZoneLsgModel || modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSDModel || modelFlagsPart.bDLSTimeCourseModel ||
         modelFlagsPart.bBoundaryAnalysis || modelFlagsPart.bVanHoldeWeischet;
}

bool IsSelfAssociationModel() { return ModelFlags().bMonomerDimer || ModelFlags().bMonomerTrimer || ModelFlags().bAssoc124 || ModelFlags().bAssoc148; }

bool IsNonidealModel() { return ModelFlags().bNonidealSpecies || ModelFlags().bNonIdealMultiple; }

bool IsScalingLawModel() { return ModelFlags().bCsScalingLaw || ModelFlags().bFMScalingLaw; }

bool IsCsff0Model() { return ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete; }

bool IsDiscreteSpeciesModel() {
  auto& modelFlagsPart = ModelFlags();
  return (modelFlagsPart.bDiscreteModel || (AnalysisSwitches().bEqAnalysisModel && !modelFlagsPart.bHeteroAssocModel)) && !IsContinuousModel() &&
         !IsSelfAssociationModel() && !IsNonidealModel();
}

}  // namespace tarmic
