#include "modelfit/model_params.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <iterator>

#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/analysis.h"
#include "numerics/solvent_constants.h"
#include "platform/backend.h"
#include "scandata/data_set.h"
#include "services/engine_notice.h"

namespace tarmic {

namespace {

// The D of an invariant-D model that is exactly 0 is replaced by this value.
constexpr float kInvariantDReplacement = 0.001f;

void ShowBox(const char* text, const char* caption, unsigned style) {
  RaiseBox(text, caption, style);
}

// The models whose non-ideal constants sit in slots 20 and 21: the discrete species
// with species 1 non-ideal, and the c(s) with a non-ideal component. "c1 nonideal"
// stays set while another model is chosen (the species model finds it again), but
// every other model keeps its own values in those slots and its own ks and kd.
bool LogKsInScalarSlots() { return (ModelOptions().bC1Nonideal && IsDiscreteSpeciesModel()) || ModelFlags().bCsNonideal; }

// Slots of the vector that a model uses for the values of one species slot.
int MassSlot(int k) { return k; }
int SSlot(int k) { return nSpeciesSlots + k; }
int AmplitudeSlot(int k) { return 2 * nSpeciesSlots + k; }
int ExtraSlot(int k) { return 15 + k; }

// Steps common to both directions: the records of the self-association, non-ideal
// and reacting models and the settings of the continuous models, all derived from
// the vector.
void DeriveOligomer(int n) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  modelOptionsPart.fD1 = analysisSwitchesPart.pParams[1];
  modelOptionsPart.fAssocLogK = analysisSwitchesPart.pParams[3];
  modelOptionsPart.fS1 = analysisSwitchesPart.pParams[5];
  modelOptionsPart.fS2 = analysisSwitchesPart.pParams[6];
  modelOptionsPart.fAssocLoading = analysisSwitchesPart.pParams[11];
  modelOptionsPart.fD2 = OligomerMassOrD(modelOptionsPart.fD1, modelOptionsPart.fS1, modelOptionsPart.fS2, n);
  analysisSwitchesPart.pParams[2] = modelOptionsPart.fD2;
  modelParamsPart.pSpeciesMassOrD[2] = modelOptionsPart.fD2;
  analysisSwitchesPart.pParamFitFlags[2] = 0;
  modelParamsPart.pSpeciesMassOrDFit[2] = 0;
}

void DeriveLargeOligomers(float factor2, float factor3) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  modelOptionsPart.fOligoD1 = analysisSwitchesPart.pParams[1];
  modelOptionsPart.fAssocLogKa = analysisSwitchesPart.pParams[3];
  modelOptionsPart.fOligoS1 = analysisSwitchesPart.pParams[5];
  modelOptionsPart.fOligoS2 = analysisSwitchesPart.pParams[6];
  modelOptionsPart.fAssocLogKb = analysisSwitchesPart.pParams[7];
  modelOptionsPart.fOligoS3 = analysisSwitchesPart.pParams[8];
  modelOptionsPart.fAssocLoading = analysisSwitchesPart.pParams[11];
  modelOptionsPart.fOligoD2 = factor2 * modelOptionsPart.fOligoD1;
  modelOptionsPart.fOligoD3 = factor3 * modelOptionsPart.fOligoD1;
  // The oligomer masses stand in their fixed slots, where the result text reads them.
  analysisSwitchesPart.pParams[2] = modelParamsPart.pSpeciesMassOrD[2] = modelOptionsPart.fOligoD2;
  analysisSwitchesPart.pParams[12] = modelParamsPart.pSpeciesAmplitude[4] = modelOptionsPart.fOligoD3;
  analysisSwitchesPart.pParamFitFlags[2] = 0;
  analysisSwitchesPart.pParamFitFlags[12] = 0;
  modelParamsPart.pSpeciesMassOrDFit[2] = 0;
  modelParamsPart.pSpeciesAmplitudeFit[4] = 0;
}

// Density and viscosity under a solvent gradient must keep the standard
// conditions that the solvent model holds; anything else is written back. Values
// within rounding of a float round trip pass. The box is shown once for a run of
// repairs (this check runs at every synchronisation, so a fit that keeps moving the
// values would otherwise show it at every evaluation); a passing check re-arms it.
namespace {
// Whether the box of a run of repairs has been shown: the analysis' own (each
// analysis' fit repairs its own values, and two analyses check at once).
struct StandardConditionsState {
  bool shown = false;
};
}  // namespace

void CheckStandardConditions() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  auto& solventConstantsPart = SolventConstants();
  bool& shown = CurrentPart<StandardConditionsState>().shown;
  const bool densityChanged =
      std::fabs(analysisSwitchesPart.pParams[kContiSlotDensity] - solventConstantsPart.fBufferDensity) > 1e-6f * std::fabs(solventConstantsPart.fBufferDensity);
  const bool viscosityChanged =
      std::fabs(analysisSwitchesPart.pParams[kContiSlotViscosity] * kRelViscosityPerPoise - solventConstantsPart.RELVISCOSITY) > 1e-7f;
  if (!densityChanged && !viscosityChanged) {
    shown = false;
    return;
  }
  if (!shown)
    ShowBox("standard conditions cannot be changed - switch off solvent gradient", "Parameter Error",
            MB_OK);
  shown = true;
  analysisSwitchesPart.pParams[kContiSlotDensity] = solventConstantsPart.fBufferDensity;
  analysisSwitchesPart.pParams[kContiSlotViscosity] = 0.01002f * solventConstantsPart.RELVISCOSITY;
  modelParamsPart.pSpeciesS[3] = analysisSwitchesPart.pParams[kContiSlotDensity];
  modelParamsPart.pSpeciesAmplitude[4] = analysisSwitchesPart.pParams[kContiSlotViscosity];
}

// The D of the invariant-D c(s) model must be positive: exactly 0 would give
// kernels without diffusion scale.
void CheckInvariantD() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  if (!ModelFlags().bCsInvariantD || analysisSwitchesPart.pParams[kContiSlotFrictionalRatio] != 0.0f) return;
  ShowBox("diffusion coefficient must be positive, current entry could cause crash\n"
          "has been changed to 0.001!",
          "Warning", MB_OK | MB_ICONEXCLAMATION);
  analysisSwitchesPart.pParams[kContiSlotFrictionalRatio] = kInvariantDReplacement;
  ModelParams().pSpeciesAmplitude[3] = kInvariantDReplacement;
}

void ApplyContinuousSettings() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  auto& solventConstantsPart = SolventConstants();
  const bool gradient =
      GetModelFitHooks().inhomogeneousSolventOn && GetModelFitHooks().inhomogeneousSolventOn();
  const bool lightScattering = modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSDModel || modelFlagsPart.bDLSTimeCourseModel;
  if (!lightScattering && !modelFlagsPart.bVanHoldeWeischet) {
    if (modelFlagsPart.bCsFloatingVbar) {
      solventConstantsPart.fFrictionalRatio = analysisSwitchesPart.pParams[kContiSlotVbar];
      solventConstantsPart.VBAR = analysisSwitchesPart.pParams[kContiSlotFrictionalRatio];
    } else {
      // Slot 3 is the constant D of the c(v) model; slot 11 the D of the
      // invariant-D models, Ks of the scaling-law models and the model constant of
      // the worm-like-chain and linear-rod models, which their own code reads.
      if (!modelFlagsPart.bCvConstantD) solventConstantsPart.VBAR = analysisSwitchesPart.pParams[kContiSlotVbar];
      if (IsScalingLawModel()) {
        solventConstantsPart.fScalingKs = analysisSwitchesPart.pParams[kContiSlotFrictionalRatio];
      } else if (!modelFlagsPart.bCsInvariantD && !modelFlagsPart.bConstantDModel && !modelFlagsPart.bCsWormChain && !modelFlagsPart.bCsModel521) {
        solventConstantsPart.fFrictionalRatio = analysisSwitchesPart.pParams[kContiSlotFrictionalRatio];
      }
    }
  }
  if (!gradient) {
    solventConstantsPart.fBufferDensity = analysisSwitchesPart.pParams[kContiSlotDensity];
    solventConstantsPart.RELVISCOSITY = kRelViscosityPerPoise * analysisSwitchesPart.pParams[kContiSlotViscosity];
  }
  solventConstantsPart.fVRho = solventConstantsPart.VBAR * solventConstantsPart.fBufferDensity;
  if (IsScalingLawModel()) {
    solventConstantsPart.fScalingExponent = analysisSwitchesPart.pParams[kContiSlotScalingExponent];
    analysisSwitchesPart.pParamFitFlags[kContiSlotScalingExponent] = 0;
    ModelParams().pSpeciesExtraFit[3] = 0;
  }
  if (gradient) CheckStandardConditions();
  CheckInvariantD();
  if (GetModelFitHooks().applyContinuousSettings) GetModelFitHooks().applyContinuousSettings();
}

void ModelSpecificSteps() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  auto& modelOptionsPart = ModelOptions();
  if (modelFlagsPart.bHeteroAssocModel) {
    if (GetModelFitHooks().packReactingSystem) GetModelFitHooks().packReactingSystem();
  }
  if (modelFlagsPart.bMonomerDimer) DeriveOligomer(2);
  if (modelFlagsPart.bMonomerTrimer) DeriveOligomer(3);
  if (modelFlagsPart.bAssoc148) DeriveLargeOligomers(4.0f, 8.0f);
  if (modelFlagsPart.bAssoc124) DeriveLargeOligomers(2.0f, 4.0f);
  if (IsNonidealModel()) {
    modelOptionsPart.fAssocLoading = analysisSwitchesPart.pParams[9];
    modelOptionsPart.fS1 = analysisSwitchesPart.pParams[5];
    modelOptionsPart.fLogKs = analysisSwitchesPart.pParams[10];
    modelOptionsPart.fD1 = analysisSwitchesPart.pParams[1];
    modelOptionsPart.fLogKd = analysisSwitchesPart.pParams[11];
  }
  if (IsContinuousModel()) ApplyContinuousSettings();
}

bool ElectrophoresisModel() { return ModelFlags().bDiscreteModel && LammGlobals().bElectrophoresis; }

bool ZoneModel() { return ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel; }

}  // namespace

float OligomerMassOrD(float m1OrD1, float s1, float sn, int n) {
  if (ModelFlags().bFitMAndS) return static_cast<float>(n) * m1OrD1;
  if (s1 == 0.0f) return m1OrD1;
  return m1OrD1 * (sn / s1) / static_cast<float>(n);
}

void PackModelParams() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  for (int i = 1; i <= 10; ++i) {
    analysisSwitchesPart.pParams[24 + i] = modelOptionsPart.pExtraPairValue[i];
    analysisSwitchesPart.pParamFitFlags[24 + i] = modelOptionsPart.pExtraPairFit[i];
  }
  analysisSwitchesPart.pParams[24] = modelOptionsPart.fTimeOffset;
  analysisSwitchesPart.pParamFitFlags[24] = modelOptionsPart.bTimeOffset;

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    analysisSwitchesPart.pParams[MassSlot(k)] = modelParamsPart.pSpeciesMassOrD[k];
    analysisSwitchesPart.pParamFitFlags[MassSlot(k)] = modelParamsPart.pSpeciesMassOrDFit[k];
    analysisSwitchesPart.pParams[SSlot(k)] = modelParamsPart.pSpeciesS[k];
    analysisSwitchesPart.pParamFitFlags[SSlot(k)] = modelParamsPart.pSpeciesSFit[k];
    analysisSwitchesPart.pParams[AmplitudeSlot(k)] = modelParamsPart.pSpeciesAmplitude[k];
    analysisSwitchesPart.pParamFitFlags[AmplitudeSlot(k)] = modelParamsPart.pSpeciesAmplitudeFit[k];
    analysisSwitchesPart.pParams[ExtraSlot(k)] = modelParamsPart.pSpeciesExtra[k];
    analysisSwitchesPart.pParamFitFlags[ExtraSlot(k)] = modelParamsPart.pSpeciesExtraFit[k];
  }
  if (ElectrophoresisModel() && modelOptionsPart.fElectroLength > 0.0f) dataSetPart.fBottom = dataSetPart.fMeniscus + modelOptionsPart.fElectroLength;
  analysisSwitchesPart.pParams[13] = dataSetPart.fMeniscus;
  analysisSwitchesPart.pParamFitFlags[13] = modelParamsPart.bVaryMeniscus ? 1 : 0;
  analysisSwitchesPart.pParams[14] = dataSetPart.fBottom;
  analysisSwitchesPart.pParamFitFlags[14] = modelParamsPart.bVaryBottom ? 1 : 0;
  analysisSwitchesPart.pParams[15] = modelParamsPart.fBaseline;
  analysisSwitchesPart.pParamFitFlags[15] = analysisSwitchesPart.bBaselineOption ? 1 : 0;
  for (int i = 1; i <= 3; ++i) {
    analysisSwitchesPart.pParams[19 + i] = modelOptionsPart.pModelScalar[i];
    analysisSwitchesPart.pParamFitFlags[19 + i] = modelOptionsPart.pModelScalarFit[i];
  }
  if (ZoneModel()) {
    analysisSwitchesPart.pParams[23] = modelOptionsPart.fLamellaWidth;
    analysisSwitchesPart.pParamFitFlags[23] = modelOptionsPart.bFitLamellaWidth;
  }
  if (LogKsInScalarSlots()) {
    // The scalars are these slots' values while the model keeps ks and kd there.
    analysisSwitchesPart.pParams[20] = modelOptionsPart.pModelScalar[1] = modelOptionsPart.fLogKs;
    analysisSwitchesPart.pParams[21] = modelOptionsPart.pModelScalar[2] = modelOptionsPart.fLogKd;
  }
  ModelSpecificSteps();
}

void UnpackModelParams() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  // Slots 25-34: the concentrations and overlay fractions cannot be negative; the
  // s and D values of slots 28, 29, 32 and 33 keep their sign.
  for (int slot : {25, 26, 27, 30, 31, 34})
    if (analysisSwitchesPart.pParams[slot] < 0.0f) analysisSwitchesPart.pParams[slot] = 0.0f;
  for (int i = 1; i <= 10; ++i) modelOptionsPart.pExtraPairValue[i] = analysisSwitchesPart.pParams[24 + i];
  modelOptionsPart.fTimeOffset = analysisSwitchesPart.pParams[24];
  modelOptionsPart.bTimeOffset = analysisSwitchesPart.pParamFitFlags[24];

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    modelParamsPart.pSpeciesMassOrD[k] = analysisSwitchesPart.pParams[MassSlot(k)];
    modelParamsPart.pSpeciesMassOrDFit[k] = analysisSwitchesPart.pParamFitFlags[MassSlot(k)];
    modelParamsPart.pSpeciesS[k] = analysisSwitchesPart.pParams[SSlot(k)];
    modelParamsPart.pSpeciesSFit[k] = analysisSwitchesPart.pParamFitFlags[SSlot(k)];
    modelParamsPart.pSpeciesAmplitude[k] = analysisSwitchesPart.pParams[AmplitudeSlot(k)];
    modelParamsPart.pSpeciesAmplitudeFit[k] = analysisSwitchesPart.pParamFitFlags[AmplitudeSlot(k)];
    modelParamsPart.pSpeciesExtra[k] = analysisSwitchesPart.pParams[ExtraSlot(k)];
    modelParamsPart.pSpeciesExtraFit[k] = analysisSwitchesPart.pParamFitFlags[ExtraSlot(k)];
  }
  dataSetPart.fMeniscus = analysisSwitchesPart.pParams[13];
  modelParamsPart.bVaryMeniscus = analysisSwitchesPart.pParamFitFlags[13] != 0;
  dataSetPart.fBottom = analysisSwitchesPart.pParams[14];
  modelParamsPart.bVaryBottom = analysisSwitchesPart.pParamFitFlags[14] != 0;
  // The cell length as set while it still gives the bottom: the difference of two
  // radii near 6 cm would drop the digits of a short length.
  if (ElectrophoresisModel() && dataSetPart.fMeniscus + modelOptionsPart.fElectroLength != dataSetPart.fBottom) modelOptionsPart.fElectroLength = dataSetPart.fBottom - dataSetPart.fMeniscus;
  modelParamsPart.fBaseline = analysisSwitchesPart.pParams[15];
  analysisSwitchesPart.bBaselineOption = analysisSwitchesPart.pParamFitFlags[15] != 0 ? 1 : 0;
  for (int i = 1; i <= 3; ++i) {
    modelOptionsPart.pModelScalar[i] = analysisSwitchesPart.pParams[19 + i];
    modelOptionsPart.pModelScalarFit[i] = analysisSwitchesPart.pParamFitFlags[19 + i];
  }
  if (ZoneModel()) {
    modelOptionsPart.fLamellaWidth = analysisSwitchesPart.pParams[23];
    modelOptionsPart.bFitLamellaWidth = analysisSwitchesPart.pParamFitFlags[23];
  }
  if (LogKsInScalarSlots()) {
    modelOptionsPart.fLogKs = analysisSwitchesPart.pParams[20];
    modelOptionsPart.fLogKd = analysisSwitchesPart.pParams[21];
  }
  ModelSpecificSteps();
}

float& SpeciesSlotValue(int slot) {
  auto& modelParamsPart = ModelParams();
  assert((slot >= 1 && slot <= 12) || (slot >= 16 && slot <= 19));
  if (slot >= ExtraSlot(1)) return modelParamsPart.pSpeciesExtra[slot - ExtraSlot(0)];
  if (slot >= AmplitudeSlot(1)) return modelParamsPart.pSpeciesAmplitude[slot - AmplitudeSlot(0)];
  if (slot >= SSlot(1)) return modelParamsPart.pSpeciesS[slot - SSlot(0)];
  return modelParamsPart.pSpeciesMassOrD[slot - MassSlot(0)];
}

int& SpeciesSlotFit(int slot) {
  auto& modelParamsPart = ModelParams();
  assert((slot >= 1 && slot <= 12) || (slot >= 16 && slot <= 19));
  if (slot >= ExtraSlot(1)) return modelParamsPart.pSpeciesExtraFit[slot - ExtraSlot(0)];
  if (slot >= AmplitudeSlot(1)) return modelParamsPart.pSpeciesAmplitudeFit[slot - AmplitudeSlot(0)];
  if (slot >= SSlot(1)) return modelParamsPart.pSpeciesSFit[slot - SSlot(0)];
  return modelParamsPart.pSpeciesMassOrDFit[slot - MassSlot(0)];
}

void InitModelParams() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  for (int k = 0; k <= nSpeciesSlots; ++k) {
    analysisSwitchesPart.pSpeciesLinked[k] = 0;
    modelParamsPart.pSpeciesAmplitude[k] = modelParamsPart.pSpeciesMassOrD[k] = modelParamsPart.pSpeciesS[k] = modelParamsPart.pSpeciesExtra[k] = 0.0f;
    modelParamsPart.pSpeciesAmplitudeFit[k] = modelParamsPart.pSpeciesMassOrDFit[k] = modelParamsPart.pSpeciesSFit[k] = modelParamsPart.pSpeciesExtraFit[k] = 0;
  }
  analysisSwitchesPart.pSpeciesLinked[1] = 1;
  modelParamsPart.pSpeciesAmplitude[1] = 0.5f;
  modelParamsPart.pSpeciesAmplitudeFit[1] = 1;
  modelParamsPart.pSpeciesMassOrD[1] = ModelFlags().bFitMAndS ? 50000.0f : 5.0f;
  modelParamsPart.pSpeciesMassOrDFit[1] = 1;
  modelParamsPart.pSpeciesS[1] = 4.0f;
  modelParamsPart.pSpeciesSFit[1] = 1;
  modelOptionsPart.fTimeOffset = 0.0f;
  modelOptionsPart.bTimeOffset = 0;
  modelParamsPart.fBaseline = 0.0f;
  analysisSwitchesPart.bBaselineOption = 0;
  modelOptionsPart.pModelScalar[3] = 0.0f;
  modelOptionsPart.pModelScalarFit[3] = 0;
  modelOptionsPart.bFitLamellaWidth = 0;
  PackModelParams();
}

void CheckParameters() {
  PackModelParams();
  for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
  UnpackModelParams();
}

void UpdateLinearFitFlags() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelFlagsPart = ModelFlags();
  auto& modelOptionsPart = ModelOptions();
  auto& modelParamsPart = ModelParams();
  // Sedimentation equilibrium: a species without s would have no buoyant mass.
  if (analysisSwitchesPart.bEqAnalysisModel) {
    const int last = modelFlagsPart.bHeteroAssocModel ? 3 : 1;
    for (int k = 1; k <= last; ++k)
      if (modelParamsPart.pSpeciesS[k] == 0.0f) modelParamsPart.pSpeciesS[k] = 1.0f;
  }

  // The baseline is solved linearly unless the initial distribution is measured.
  modelParamsPart.bVaryBaseline = analysisSwitchesPart.bBaselineOption != 0 && !analysisSwitchesPart.bInitialDataProfile;
  if (modelParamsPart.bVaryBaseline) analysisSwitchesPart.bBaselineOption = 0;
  if (analysisSwitchesPart.bFitTINoise) {
    modelParamsPart.bVaryBaseline = true;
    analysisSwitchesPart.bBaselineOption = 0;
    modelOptionsPart.pModelScalarFit[3] = 0;
  }
  if (analysisSwitchesPart.bFitRINoise) modelParamsPart.bVaryBaseline = true;

  if (analysisSwitchesPart.bInitialDataProfile) {
    modelParamsPart.pSpeciesAmplitude[1] = 1.0f;
    modelParamsPart.pSpeciesAmplitudeFit[1] = 0;
    analysisSwitchesPart.bFitTINoise = false;
  }

  modelParamsPart.bLinearAmplitudes = false;
  if (IsDiscreteSpeciesModel() && !modelFlagsPart.bHeteroAssocModel) {
    if (!modelFlagsPart.bCumulants) {
      for (int k = 1; k <= 3; ++k) {
        if (analysisSwitchesPart.pSpeciesLinked[k]) continue;
        modelParamsPart.pSpeciesAmplitudeFit[k] = modelParamsPart.pSpeciesMassOrDFit[k] = modelParamsPart.pSpeciesSFit[k] = 0;
      }
    }
    const int last = modelFlagsPart.bBufferSedCorrection ? 3 : nSpeciesSlots;
    bool any = false;
    bool all = true;
    int included = 0;
    for (int k = 1; k <= last; ++k) {
      if (!analysisSwitchesPart.pSpeciesLinked[k]) continue;
      ++included;
      if (modelParamsPart.pSpeciesAmplitudeFit[k]) {
        any = true;
      } else {
        all = false;
      }
    }
    bool linear = any && all && !modelOptionsPart.bC1Nonideal;
    if (dataSetPart.bDLSData && included > 1) {
      const bool fieldAcf = dataSetPart.pDLSInfo.size() > 1 && dataSetPart.pDLSInfo[1].bFieldACF;
      if (!fieldAcf) linear = false;
    }
    if (modelFlagsPart.bBufferSedCorrection) {
      const bool bufferFitted =
          GetModelFitHooks().bufferComponentFitted && GetModelFitHooks().bufferComponentFitted();
      modelParamsPart.pSpeciesMassOrDFit[4] = 0;
      modelParamsPart.pSpeciesSFit[4] = 0;
      modelParamsPart.pSpeciesAmplitudeFit[4] = bufferFitted ? 1 : 0;
      if (!bufferFitted) linear = false;
    }
    modelParamsPart.bLinearAmplitudes = linear;
    if (modelParamsPart.bLinearAmplitudes) {
      for (int k = 1; k <= nSpeciesSlots; ++k)
        if (analysisSwitchesPart.pSpeciesLinked[k]) modelParamsPart.pSpeciesAmplitudeFit[k] = 0;
    }
  }

  if (IsSelfAssociationModel()) {
    if (analysisSwitchesPart.bInitialDataProfile) {
      modelParamsPart.pSpeciesAmplitude[3] = 1.0f;
      modelParamsPart.pSpeciesAmplitudeFit[3] = 0;
      modelOptionsPart.fAssocLoading = 1.0f;
    }
    const int n = modelFlagsPart.bMonomerTrimer ? 3 : 2;
    if (modelFlagsPart.bMonomerDimer || modelFlagsPart.bMonomerTrimer) {
      modelParamsPart.pSpeciesMassOrD[2] = OligomerMassOrD(modelParamsPart.pSpeciesMassOrD[1], modelParamsPart.pSpeciesS[1], modelParamsPart.pSpeciesS[2], n);
      modelParamsPart.pSpeciesMassOrDFit[2] = 0;
    }
  }
}

void ResetModelParams() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelParamsPart = ModelParams();
  std::fill(std::begin(analysisSwitchesPart.pParams), std::end(analysisSwitchesPart.pParams), 0.0f);
  std::fill(std::begin(analysisSwitchesPart.pParamFitFlags), std::end(analysisSwitchesPart.pParamFitFlags), 0);
  modelParamsPart.bVaryMeniscus = modelParamsPart.bVaryBottom = false;
  modelParamsPart.bVaryBaseline = modelParamsPart.bLinearAmplitudes = false;
  InitModelParams();
}

}  // namespace tarmic
