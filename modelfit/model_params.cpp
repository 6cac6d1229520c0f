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
  ModelOptions().fD1 = AnalysisSwitches().pParams[1];
  ModelOptions().fAssocLogK = AnalysisSwitches().pParams[3];
  ModelOptions().fS1 = AnalysisSwitches().pParams[5];
  ModelOptions().fS2 = AnalysisSwitches().pParams[6];
  ModelOptions().fAssocLoading = AnalysisSwitches().pParams[11];
  ModelOptions().fD2 = OligomerMassOrD(ModelOptions().fD1, ModelOptions().fS1, ModelOptions().fS2, n);
  AnalysisSwitches().pParams[2] = ModelOptions().fD2;
  ModelParams().pSpeciesMassOrD[2] = ModelOptions().fD2;
  AnalysisSwitches().pParamFitFlags[2] = 0;
  ModelParams().pSpeciesMassOrDFit[2] = 0;
}

void DeriveLargeOligomers(float factor2, float factor3) {
  ModelOptions().fOligoD1 = AnalysisSwitches().pParams[1];
  ModelOptions().fAssocLogKa = AnalysisSwitches().pParams[3];
  ModelOptions().fOligoS1 = AnalysisSwitches().pParams[5];
  ModelOptions().fOligoS2 = AnalysisSwitches().pParams[6];
  ModelOptions().fAssocLogKb = AnalysisSwitches().pParams[7];
  ModelOptions().fOligoS3 = AnalysisSwitches().pParams[8];
  ModelOptions().fAssocLoading = AnalysisSwitches().pParams[11];
  ModelOptions().fOligoD2 = factor2 * ModelOptions().fOligoD1;
  ModelOptions().fOligoD3 = factor3 * ModelOptions().fOligoD1;
  // The oligomer masses stand in their fixed slots, where the result text reads them.
  AnalysisSwitches().pParams[2] = ModelParams().pSpeciesMassOrD[2] = ModelOptions().fOligoD2;
  AnalysisSwitches().pParams[12] = ModelParams().pSpeciesAmplitude[4] = ModelOptions().fOligoD3;
  AnalysisSwitches().pParamFitFlags[2] = 0;
  AnalysisSwitches().pParamFitFlags[12] = 0;
  ModelParams().pSpeciesMassOrDFit[2] = 0;
  ModelParams().pSpeciesAmplitudeFit[4] = 0;
}

// Density and viscosity under a solvent gradient must keep the standard
// conditions that the solvent model holds; anything else is written back. Values
// within rounding of a float round trip pass. The box is shown once for a run of
// repairs (this check runs at every synchronisation, so a fit that keeps moving the
// values would otherwise show it at every evaluation); a passing check re-arms it.
void CheckStandardConditions() {
  static bool shown = false;
  const bool densityChanged =
      std::fabs(AnalysisSwitches().pParams[kContiSlotDensity] - SolventConstants().fBufferDensity) > 1e-6f * std::fabs(SolventConstants().fBufferDensity);
  const bool viscosityChanged =
      std::fabs(AnalysisSwitches().pParams[kContiSlotViscosity] * kRelViscosityPerPoise - SolventConstants().RELVISCOSITY) > 1e-7f;
  if (!densityChanged && !viscosityChanged) {
    shown = false;
    return;
  }
  if (!shown)
    ShowBox("standard conditions cannot be changed - switch off solvent gradient", "Parameter Error",
            MB_OK);
  shown = true;
  AnalysisSwitches().pParams[kContiSlotDensity] = SolventConstants().fBufferDensity;
  AnalysisSwitches().pParams[kContiSlotViscosity] = 0.01002f * SolventConstants().RELVISCOSITY;
  ModelParams().pSpeciesS[3] = AnalysisSwitches().pParams[kContiSlotDensity];
  ModelParams().pSpeciesAmplitude[4] = AnalysisSwitches().pParams[kContiSlotViscosity];
}

// The D of the invariant-D c(s) model must be positive: exactly 0 would give
// kernels without diffusion scale.
void CheckInvariantD() {
  if (!ModelFlags().bCsInvariantD || AnalysisSwitches().pParams[kContiSlotFrictionalRatio] != 0.0f) return;
  ShowBox("diffusion coefficient must be positive, current entry could cause crash\n"
          "has been changed to 0.001!",
          "Warning", MB_OK | MB_ICONEXCLAMATION);
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = kInvariantDReplacement;
  ModelParams().pSpeciesAmplitude[3] = kInvariantDReplacement;
}

void ApplyContinuousSettings() {
  const bool gradient =
      GetModelFitHooks().inhomogeneousSolventOn && GetModelFitHooks().inhomogeneousSolventOn();
  const bool lightScattering = ModelFlags().bDLSRhModel || ModelFlags().bDLSDModel || ModelFlags().bDLSTimeCourseModel;
  if (!lightScattering && !ModelFlags().bVanHoldeWeischet) {
    if (ModelFlags().bCsFloatingVbar) {
      SolventConstants().fFrictionalRatio = AnalysisSwitches().pParams[kContiSlotVbar];
      SolventConstants().VBAR = AnalysisSwitches().pParams[kContiSlotFrictionalRatio];
    } else {
      // Slot 3 is the constant D of the c(v) model; slot 11 the D of the
      // invariant-D models, Ks of the scaling-law models and the model constant of
      // the worm-like-chain and linear-rod models, which their own code reads.
      if (!ModelFlags().bCvConstantD) SolventConstants().VBAR = AnalysisSwitches().pParams[kContiSlotVbar];
      if (IsScalingLawModel()) {
        SolventConstants().fScalingKs = AnalysisSwitches().pParams[kContiSlotFrictionalRatio];
      } else if (!ModelFlags().bCsInvariantD && !ModelFlags().bConstantDModel && !ModelFlags().bCsWormChain && !ModelFlags().bCsModel521) {
        SolventConstants().fFrictionalRatio = AnalysisSwitches().pParams[kContiSlotFrictionalRatio];
      }
    }
  }
  if (!gradient) {
    SolventConstants().fBufferDensity = AnalysisSwitches().pParams[kContiSlotDensity];
    SolventConstants().RELVISCOSITY = kRelViscosityPerPoise * AnalysisSwitches().pParams[kContiSlotViscosity];
  }
  SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
  if (IsScalingLawModel()) {
    SolventConstants().fScalingExponent = AnalysisSwitches().pParams[kContiSlotScalingExponent];
    AnalysisSwitches().pParamFitFlags[kContiSlotScalingExponent] = 0;
    ModelParams().pSpeciesExtraFit[3] = 0;
  }
  if (gradient) CheckStandardConditions();
  CheckInvariantD();
  if (GetModelFitHooks().applyContinuousSettings) GetModelFitHooks().applyContinuousSettings();
}

void ModelSpecificSteps() {
  if (ModelFlags().bHeteroAssocModel) {
    if (GetModelFitHooks().packReactingSystem) GetModelFitHooks().packReactingSystem();
  }
  if (ModelFlags().bMonomerDimer) DeriveOligomer(2);
  if (ModelFlags().bMonomerTrimer) DeriveOligomer(3);
  if (ModelFlags().bAssoc148) DeriveLargeOligomers(4.0f, 8.0f);
  if (ModelFlags().bAssoc124) DeriveLargeOligomers(2.0f, 4.0f);
  if (IsNonidealModel()) {
    ModelOptions().fAssocLoading = AnalysisSwitches().pParams[9];
    ModelOptions().fS1 = AnalysisSwitches().pParams[5];
    ModelOptions().fLogKs = AnalysisSwitches().pParams[10];
    ModelOptions().fD1 = AnalysisSwitches().pParams[1];
    ModelOptions().fLogKd = AnalysisSwitches().pParams[11];
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
  for (int i = 1; i <= 10; ++i) {
    AnalysisSwitches().pParams[24 + i] = ModelOptions().pExtraPairValue[i];
    AnalysisSwitches().pParamFitFlags[24 + i] = ModelOptions().pExtraPairFit[i];
  }
  AnalysisSwitches().pParams[24] = ModelOptions().fTimeOffset;
  AnalysisSwitches().pParamFitFlags[24] = ModelOptions().bTimeOffset;

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    AnalysisSwitches().pParams[MassSlot(k)] = ModelParams().pSpeciesMassOrD[k];
    AnalysisSwitches().pParamFitFlags[MassSlot(k)] = ModelParams().pSpeciesMassOrDFit[k];
    AnalysisSwitches().pParams[SSlot(k)] = ModelParams().pSpeciesS[k];
    AnalysisSwitches().pParamFitFlags[SSlot(k)] = ModelParams().pSpeciesSFit[k];
    AnalysisSwitches().pParams[AmplitudeSlot(k)] = ModelParams().pSpeciesAmplitude[k];
    AnalysisSwitches().pParamFitFlags[AmplitudeSlot(k)] = ModelParams().pSpeciesAmplitudeFit[k];
    AnalysisSwitches().pParams[ExtraSlot(k)] = ModelParams().pSpeciesExtra[k];
    AnalysisSwitches().pParamFitFlags[ExtraSlot(k)] = ModelParams().pSpeciesExtraFit[k];
  }
  if (ElectrophoresisModel() && ModelOptions().fElectroLength > 0.0f) DataSet().fBottom = DataSet().fMeniscus + ModelOptions().fElectroLength;
  AnalysisSwitches().pParams[13] = DataSet().fMeniscus;
  AnalysisSwitches().pParamFitFlags[13] = ModelParams().bVaryMeniscus ? 1 : 0;
  AnalysisSwitches().pParams[14] = DataSet().fBottom;
  AnalysisSwitches().pParamFitFlags[14] = ModelParams().bVaryBottom ? 1 : 0;
  AnalysisSwitches().pParams[15] = ModelParams().fBaseline;
  AnalysisSwitches().pParamFitFlags[15] = AnalysisSwitches().bBaselineOption ? 1 : 0;
  for (int i = 1; i <= 3; ++i) {
    AnalysisSwitches().pParams[19 + i] = ModelOptions().pModelScalar[i];
    AnalysisSwitches().pParamFitFlags[19 + i] = ModelOptions().pModelScalarFit[i];
  }
  if (ZoneModel()) {
    AnalysisSwitches().pParams[23] = ModelOptions().fLamellaWidth;
    AnalysisSwitches().pParamFitFlags[23] = ModelOptions().bFitLamellaWidth;
  }
  if (LogKsInScalarSlots()) {
    // The scalars are these slots' values while the model keeps ks and kd there.
    AnalysisSwitches().pParams[20] = ModelOptions().pModelScalar[1] = ModelOptions().fLogKs;
    AnalysisSwitches().pParams[21] = ModelOptions().pModelScalar[2] = ModelOptions().fLogKd;
  }
  ModelSpecificSteps();
}

void UnpackModelParams() {
  // Slots 25-34: the concentrations and overlay fractions cannot be negative; the
  // s and D values of slots 28, 29, 32 and 33 keep their sign.
  for (int slot : {25, 26, 27, 30, 31, 34})
    if (AnalysisSwitches().pParams[slot] < 0.0f) AnalysisSwitches().pParams[slot] = 0.0f;
  for (int i = 1; i <= 10; ++i) ModelOptions().pExtraPairValue[i] = AnalysisSwitches().pParams[24 + i];
  ModelOptions().fTimeOffset = AnalysisSwitches().pParams[24];
  ModelOptions().bTimeOffset = AnalysisSwitches().pParamFitFlags[24];

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    ModelParams().pSpeciesMassOrD[k] = AnalysisSwitches().pParams[MassSlot(k)];
    ModelParams().pSpeciesMassOrDFit[k] = AnalysisSwitches().pParamFitFlags[MassSlot(k)];
    ModelParams().pSpeciesS[k] = AnalysisSwitches().pParams[SSlot(k)];
    ModelParams().pSpeciesSFit[k] = AnalysisSwitches().pParamFitFlags[SSlot(k)];
    ModelParams().pSpeciesAmplitude[k] = AnalysisSwitches().pParams[AmplitudeSlot(k)];
    ModelParams().pSpeciesAmplitudeFit[k] = AnalysisSwitches().pParamFitFlags[AmplitudeSlot(k)];
    ModelParams().pSpeciesExtra[k] = AnalysisSwitches().pParams[ExtraSlot(k)];
    ModelParams().pSpeciesExtraFit[k] = AnalysisSwitches().pParamFitFlags[ExtraSlot(k)];
  }
  DataSet().fMeniscus = AnalysisSwitches().pParams[13];
  ModelParams().bVaryMeniscus = AnalysisSwitches().pParamFitFlags[13] != 0;
  DataSet().fBottom = AnalysisSwitches().pParams[14];
  ModelParams().bVaryBottom = AnalysisSwitches().pParamFitFlags[14] != 0;
  // The cell length as set while it still gives the bottom: the difference of two
  // radii near 6 cm would drop the digits of a short length.
  if (ElectrophoresisModel() && DataSet().fMeniscus + ModelOptions().fElectroLength != DataSet().fBottom) ModelOptions().fElectroLength = DataSet().fBottom - DataSet().fMeniscus;
  ModelParams().fBaseline = AnalysisSwitches().pParams[15];
  AnalysisSwitches().bBaselineOption = AnalysisSwitches().pParamFitFlags[15] != 0 ? 1 : 0;
  for (int i = 1; i <= 3; ++i) {
    ModelOptions().pModelScalar[i] = AnalysisSwitches().pParams[19 + i];
    ModelOptions().pModelScalarFit[i] = AnalysisSwitches().pParamFitFlags[19 + i];
  }
  if (ZoneModel()) {
    ModelOptions().fLamellaWidth = AnalysisSwitches().pParams[23];
    ModelOptions().bFitLamellaWidth = AnalysisSwitches().pParamFitFlags[23];
  }
  if (LogKsInScalarSlots()) {
    ModelOptions().fLogKs = AnalysisSwitches().pParams[20];
    ModelOptions().fLogKd = AnalysisSwitches().pParams[21];
  }
  ModelSpecificSteps();
}

float& SpeciesSlotValue(int slot) {
  assert((slot >= 1 && slot <= 12) || (slot >= 16 && slot <= 19));
  if (slot >= ExtraSlot(1)) return ModelParams().pSpeciesExtra[slot - ExtraSlot(0)];
  if (slot >= AmplitudeSlot(1)) return ModelParams().pSpeciesAmplitude[slot - AmplitudeSlot(0)];
  if (slot >= SSlot(1)) return ModelParams().pSpeciesS[slot - SSlot(0)];
  return ModelParams().pSpeciesMassOrD[slot - MassSlot(0)];
}

int& SpeciesSlotFit(int slot) {
  assert((slot >= 1 && slot <= 12) || (slot >= 16 && slot <= 19));
  if (slot >= ExtraSlot(1)) return ModelParams().pSpeciesExtraFit[slot - ExtraSlot(0)];
  if (slot >= AmplitudeSlot(1)) return ModelParams().pSpeciesAmplitudeFit[slot - AmplitudeSlot(0)];
  if (slot >= SSlot(1)) return ModelParams().pSpeciesSFit[slot - SSlot(0)];
  return ModelParams().pSpeciesMassOrDFit[slot - MassSlot(0)];
}

void InitModelParams() {
  for (int k = 0; k <= nSpeciesSlots; ++k) {
    AnalysisSwitches().pSpeciesLinked[k] = 0;
    ModelParams().pSpeciesAmplitude[k] = ModelParams().pSpeciesMassOrD[k] = ModelParams().pSpeciesS[k] = ModelParams().pSpeciesExtra[k] = 0.0f;
    ModelParams().pSpeciesAmplitudeFit[k] = ModelParams().pSpeciesMassOrDFit[k] = ModelParams().pSpeciesSFit[k] = ModelParams().pSpeciesExtraFit[k] = 0;
  }
  AnalysisSwitches().pSpeciesLinked[1] = 1;
  ModelParams().pSpeciesAmplitude[1] = 0.5f;
  ModelParams().pSpeciesAmplitudeFit[1] = 1;
  ModelParams().pSpeciesMassOrD[1] = ModelFlags().bFitMAndS ? 50000.0f : 5.0f;
  ModelParams().pSpeciesMassOrDFit[1] = 1;
  ModelParams().pSpeciesS[1] = 4.0f;
  ModelParams().pSpeciesSFit[1] = 1;
  ModelOptions().fTimeOffset = 0.0f;
  ModelOptions().bTimeOffset = 0;
  ModelParams().fBaseline = 0.0f;
  AnalysisSwitches().bBaselineOption = 0;
  ModelOptions().pModelScalar[3] = 0.0f;
  ModelOptions().pModelScalarFit[3] = 0;
  ModelOptions().bFitLamellaWidth = 0;
  PackModelParams();
}

void CheckParameters() {
  PackModelParams();
  for (int i = 1; i <= nModelParams; ++i) AnalysisSwitches().pParamFitFlags[i] = 0;
  UnpackModelParams();
}

void UpdateLinearFitFlags() {
  // Sedimentation equilibrium: a species without s would have no buoyant mass.
  if (AnalysisSwitches().bEqAnalysisModel) {
    const int last = ModelFlags().bHeteroAssocModel ? 3 : 1;
    for (int k = 1; k <= last; ++k)
      if (ModelParams().pSpeciesS[k] == 0.0f) ModelParams().pSpeciesS[k] = 1.0f;
  }

  // The baseline is solved linearly unless the initial distribution is measured.
  ModelParams().bVaryBaseline = AnalysisSwitches().bBaselineOption != 0 && !AnalysisSwitches().bInitialDataProfile;
  if (ModelParams().bVaryBaseline) AnalysisSwitches().bBaselineOption = 0;
  if (AnalysisSwitches().bFitTINoise) {
    ModelParams().bVaryBaseline = true;
    AnalysisSwitches().bBaselineOption = 0;
    ModelOptions().pModelScalarFit[3] = 0;
  }
  if (AnalysisSwitches().bFitRINoise) ModelParams().bVaryBaseline = true;

  if (AnalysisSwitches().bInitialDataProfile) {
    ModelParams().pSpeciesAmplitude[1] = 1.0f;
    ModelParams().pSpeciesAmplitudeFit[1] = 0;
    AnalysisSwitches().bFitTINoise = false;
  }

  ModelParams().bLinearAmplitudes = false;
  if (IsDiscreteSpeciesModel() && !ModelFlags().bHeteroAssocModel) {
    if (!ModelFlags().bCumulants) {
      for (int k = 1; k <= 3; ++k) {
        if (AnalysisSwitches().pSpeciesLinked[k]) continue;
        ModelParams().pSpeciesAmplitudeFit[k] = ModelParams().pSpeciesMassOrDFit[k] = ModelParams().pSpeciesSFit[k] = 0;
      }
    }
    const int last = ModelFlags().bBufferSedCorrection ? 3 : nSpeciesSlots;
    bool any = false;
    bool all = true;
    int included = 0;
    for (int k = 1; k <= last; ++k) {
      if (!AnalysisSwitches().pSpeciesLinked[k]) continue;
      ++included;
      if (ModelParams().pSpeciesAmplitudeFit[k]) {
        any = true;
      } else {
        all = false;
      }
    }
    bool linear = any && all && !ModelOptions().bC1Nonideal;
    if (DataSet().bDLSData && included > 1) {
      const bool fieldAcf = DataSet().pDLSInfo.size() > 1 && DataSet().pDLSInfo[1].bFieldACF;
      if (!fieldAcf) linear = false;
    }
    if (ModelFlags().bBufferSedCorrection) {
      const bool bufferFitted =
          GetModelFitHooks().bufferComponentFitted && GetModelFitHooks().bufferComponentFitted();
      ModelParams().pSpeciesMassOrDFit[4] = 0;
      ModelParams().pSpeciesSFit[4] = 0;
      ModelParams().pSpeciesAmplitudeFit[4] = bufferFitted ? 1 : 0;
      if (!bufferFitted) linear = false;
    }
    ModelParams().bLinearAmplitudes = linear;
    if (ModelParams().bLinearAmplitudes) {
      for (int k = 1; k <= nSpeciesSlots; ++k)
        if (AnalysisSwitches().pSpeciesLinked[k]) ModelParams().pSpeciesAmplitudeFit[k] = 0;
    }
  }

  if (IsSelfAssociationModel()) {
    if (AnalysisSwitches().bInitialDataProfile) {
      ModelParams().pSpeciesAmplitude[3] = 1.0f;
      ModelParams().pSpeciesAmplitudeFit[3] = 0;
      ModelOptions().fAssocLoading = 1.0f;
    }
    const int n = ModelFlags().bMonomerTrimer ? 3 : 2;
    if (ModelFlags().bMonomerDimer || ModelFlags().bMonomerTrimer) {
      ModelParams().pSpeciesMassOrD[2] = OligomerMassOrD(ModelParams().pSpeciesMassOrD[1], ModelParams().pSpeciesS[1], ModelParams().pSpeciesS[2], n);
      ModelParams().pSpeciesMassOrDFit[2] = 0;
    }
  }
}

void ResetModelParams() {
  std::fill(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams), 0.0f);
  std::fill(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags), 0);
  ModelParams().bVaryMeniscus = ModelParams().bVaryBottom = false;
  ModelParams().bVaryBaseline = ModelParams().bLinearAmplitudes = false;
  InitModelParams();
}

}  // namespace tarmic
