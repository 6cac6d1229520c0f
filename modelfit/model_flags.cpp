#include "modelfit/model_flags.h"

#include "scandata/analysis_switches.h"

namespace tarmic {

bool bDiscreteModel = false;
bool bMonomerDimer = false;
bool bMonomerTrimer = false;
bool bAssoc124 = false;
bool bAssoc148 = false;
bool bNonidealSpecies = false;
bool bNonIdealMultiple = false;
bool bHeteroAssocModel = false;
bool bZoneCentrifugation = false;
bool bFaxenApproximation = false;
bool bStokesRadii = false;
bool bCumulants = false;
bool bBufferSedCorrection = false;

bool bContiModel = false;
bool bContiSModel = false;
bool bLsgModel = false;
bool bLsgOneDiscrete = false;
bool bCsff0Model = false;
bool bCsff0OneDiscrete = false;
bool bCsOneDiscreteD = false;
bool bCsOneDiscreteM = false;
bool bCsConformationalChange = false;
bool bCsFloatingVbar = false;
bool bCsWormChain = false;
bool bCsScalingLaw = false;
bool bCsBimodalFf0 = false;
bool bCsBimodalFf0OneDiscrete = false;
bool bCsInvariantD = false;
bool bCsMsTable = false;
bool bCsModel521 = false;
bool bCsNonideal = false;
bool bCMPriorVbar = false;
bool bCMPowerLawModel = false;
bool bConstantDModel = false;
bool bFMScalingLaw = false;
bool bCvConstantD = false;
bool bElectroLsgModel = false;
bool bZoneLsgModel = false;
bool bDLSRhModel = false;
bool bDLSDModel = false;
bool bDLSTimeCourseModel = false;
bool bBoundaryAnalysis = false;
bool bVanHoldeWeischet = false;

bool bFitMAndS = false;

const std::vector<bool*>& ResettableModelFlags() {
  static const std::vector<bool*> flags{
      &bDiscreteModel, &bMonomerDimer, &bMonomerTrimer, &bAssoc124, &bAssoc148, &bNonidealSpecies,
      &bNonIdealMultiple, &bHeteroAssocModel, &bZoneCentrifugation, &bFaxenApproximation,
      &bStokesRadii, &bCumulants, &bContiModel, &bContiSModel, &bLsgModel,
      &bLsgOneDiscrete, &bCsff0Model, &bCsff0OneDiscrete, &bCsOneDiscreteD, &bCsOneDiscreteM,
      &bCsConformationalChange, &bCsFloatingVbar, &bCsWormChain, &bCsScalingLaw, &bCsBimodalFf0,
      &bCsBimodalFf0OneDiscrete, &bCsInvariantD, &bCsMsTable, &bCsModel521, &bCsNonideal,
      &bCMPriorVbar, &bCMPowerLawModel, &bConstantDModel, &bFMScalingLaw, &bCvConstantD,
      &bElectroLsgModel, &bZoneLsgModel, &bDLSRhModel, &bDLSDModel, &bDLSTimeCourseModel,
      &bBoundaryAnalysis, &bVanHoldeWeischet};
  return flags;
}

void ResetModelFlags() {
  for (bool* flag : ResettableModelFlags()) *flag = false;
}

bool IsContinuousModel() {
  return bContiModel || bContiSModel || bLsgModel || bLsgOneDiscrete || bCsff0Model ||
         bCsff0OneDiscrete || bCsOneDiscreteD || bCsOneDiscreteM || bCsConformationalChange ||
         bCsFloatingVbar || bCsWormChain || bCsScalingLaw || bCsBimodalFf0 ||
         bCsBimodalFf0OneDiscrete || bCsInvariantD || bCsMsTable || bCsModel521 || bCsNonideal ||
         bCMPriorVbar || bCMPowerLawModel || bConstantDModel || bFMScalingLaw || bCvConstantD ||
         bElectroLsgModel || bZoneLsgModel || bDLSRhModel || bDLSDModel || bDLSTimeCourseModel ||
         bBoundaryAnalysis || bVanHoldeWeischet;
}

bool IsSelfAssociationModel() { return bMonomerDimer || bMonomerTrimer || bAssoc124 || bAssoc148; }

bool IsNonidealModel() { return bNonidealSpecies || bNonIdealMultiple; }

bool IsScalingLawModel() { return bCsScalingLaw || bFMScalingLaw; }

bool IsCsff0Model() { return bCsff0Model || bCsff0OneDiscrete; }

bool IsDiscreteSpeciesModel() {
  return (bDiscreteModel || (bEqAnalysisModel && !bHeteroAssocModel)) && !IsContinuousModel() &&
         !IsSelfAssociationModel() && !IsNonidealModel();
}

}  // namespace tarmic
