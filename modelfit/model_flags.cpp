#include "modelfit/model_flags.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

std::vector<bool*> ResettableModelFlags() {
  return {
      &ModelFlags().bDiscreteModel, &ModelFlags().bMonomerDimer, &ModelFlags().bMonomerTrimer, &ModelFlags().bAssoc124, &ModelFlags().bAssoc148, &ModelFlags().bNonidealSpecies,
      &ModelFlags().bNonIdealMultiple, &ModelFlags().bHeteroAssocModel, &ModelFlags().bZoneCentrifugation, &ModelFlags().bFaxenApproximation,
      &ModelFlags().bStokesRadii, &ModelFlags().bCumulants, &ModelFlags().bContiModel, &ModelFlags().bContiSModel, &ModelFlags().bLsgModel,
      &ModelFlags().bLsgOneDiscrete, &ModelFlags().bCsff0Model, &ModelFlags().bCsff0OneDiscrete, &ModelFlags().bCsOneDiscreteD, &ModelFlags().bCsOneDiscreteM,
      &ModelFlags().bCsConformationalChange, &ModelFlags().bCsFloatingVbar, &ModelFlags().bCsWormChain, &ModelFlags().bCsScalingLaw, &ModelFlags().bCsBimodalFf0,
      &ModelFlags().bCsBimodalFf0OneDiscrete, &ModelFlags().bCsInvariantD, &ModelFlags().bCsMsTable, &ModelFlags().bCsModel521, &ModelFlags().bCsNonideal,
      &ModelFlags().bCMPriorVbar, &ModelFlags().bCMPowerLawModel, &ModelFlags().bConstantDModel, &ModelFlags().bFMScalingLaw, &ModelFlags().bCvConstantD,
      &ModelFlags().bElectroLsgModel, &ModelFlags().bZoneLsgModel, &ModelFlags().bDLSRhModel, &ModelFlags().bDLSDModel, &ModelFlags().bDLSTimeCourseModel,
      &ModelFlags().bBoundaryAnalysis, &ModelFlags().bVanHoldeWeischet};
}

void ResetModelFlags() {
  for (bool* flag : ResettableModelFlags()) *flag = false;
}

bool IsContinuousModel() {
  return ModelFlags().bContiModel || ModelFlags().bContiSModel || ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete || ModelFlags().bCsff0Model ||
         ModelFlags().bCsff0OneDiscrete || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM || ModelFlags().bCsConformationalChange ||
         ModelFlags().bCsFloatingVbar || ModelFlags().bCsWormChain || ModelFlags().bCsScalingLaw || ModelFlags().bCsBimodalFf0 ||
         ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsInvariantD || ModelFlags().bCsMsTable || ModelFlags().bCsModel521 || ModelFlags().bCsNonideal ||
         ModelFlags().bCMPriorVbar || ModelFlags().bCMPowerLawModel || ModelFlags().bConstantDModel || ModelFlags().bFMScalingLaw || ModelFlags().bCvConstantD ||
         ModelFlags().bElectroLsgModel || ModelFlags().bZoneLsgModel || ModelFlags().bDLSRhModel || ModelFlags().bDLSDModel || ModelFlags().bDLSTimeCourseModel ||
         ModelFlags().bBoundaryAnalysis || ModelFlags().bVanHoldeWeischet;
}

bool IsSelfAssociationModel() { return ModelFlags().bMonomerDimer || ModelFlags().bMonomerTrimer || ModelFlags().bAssoc124 || ModelFlags().bAssoc148; }

bool IsNonidealModel() { return ModelFlags().bNonidealSpecies || ModelFlags().bNonIdealMultiple; }

bool IsScalingLawModel() { return ModelFlags().bCsScalingLaw || ModelFlags().bFMScalingLaw; }

bool IsCsff0Model() { return ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete; }

bool IsDiscreteSpeciesModel() {
  return (ModelFlags().bDiscreteModel || (AnalysisSwitches().bEqAnalysisModel && !ModelFlags().bHeteroAssocModel)) && !IsContinuousModel() &&
         !IsSelfAssociationModel() && !IsNonidealModel();
}

}  // namespace tarmic
