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

float pSpeciesAmplitude[nSpeciesSlots + 1] = {};
int pSpeciesAmplitudeFit[nSpeciesSlots + 1] = {};
float pSpeciesMassOrD[nSpeciesSlots + 1] = {};
int pSpeciesMassOrDFit[nSpeciesSlots + 1] = {};
float pSpeciesS[nSpeciesSlots + 1] = {};
int pSpeciesSFit[nSpeciesSlots + 1] = {};
float pSpeciesExtra[nSpeciesSlots + 1] = {};
int pSpeciesExtraFit[nSpeciesSlots + 1] = {};

bool bVaryMeniscus = false;
bool bVaryBottom = false;
float fBaseline = 0.0f;
bool bVaryBaseline = false;
bool bLinearAmplitudes = false;

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
bool LogKsInScalarSlots() { return (bC1Nonideal && IsDiscreteSpeciesModel()) || bCsNonideal; }

// Slots of the vector that a model uses for the values of one species slot.
int MassSlot(int k) { return k; }
int SSlot(int k) { return nSpeciesSlots + k; }
int AmplitudeSlot(int k) { return 2 * nSpeciesSlots + k; }
int ExtraSlot(int k) { return 15 + k; }

// Steps common to both directions: the records of the self-association, non-ideal
// and reacting models and the settings of the continuous models, all derived from
// the vector.
void DeriveOligomer(int n) {
  fD1 = pParams[1];
  fAssocLogK = pParams[3];
  fS1 = pParams[5];
  fS2 = pParams[6];
  fAssocLoading = pParams[11];
  fD2 = OligomerMassOrD(fD1, fS1, fS2, n);
  pParams[2] = fD2;
  pSpeciesMassOrD[2] = fD2;
  pParamFitFlags[2] = 0;
  pSpeciesMassOrDFit[2] = 0;
}

void DeriveLargeOligomers(float factor2, float factor3) {
  fOligoD1 = pParams[1];
  fAssocLogKa = pParams[3];
  fOligoS1 = pParams[5];
  fOligoS2 = pParams[6];
  fAssocLogKb = pParams[7];
  fOligoS3 = pParams[8];
  fAssocLoading = pParams[11];
  fOligoD2 = factor2 * fOligoD1;
  fOligoD3 = factor3 * fOligoD1;
  // The oligomer masses stand in their fixed slots, where the result text reads them.
  pParams[2] = pSpeciesMassOrD[2] = fOligoD2;
  pParams[12] = pSpeciesAmplitude[4] = fOligoD3;
  pParamFitFlags[2] = 0;
  pParamFitFlags[12] = 0;
  pSpeciesMassOrDFit[2] = 0;
  pSpeciesAmplitudeFit[4] = 0;
}

// Density and viscosity under a solvent gradient must keep the standard
// conditions that the solvent model holds; anything else is written back. Values
// within rounding of a float round trip pass. The box is shown once for a run of
// repairs (this check runs at every synchronisation, so a fit that keeps moving the
// values would otherwise show it at every evaluation); a passing check re-arms it.
void CheckStandardConditions() {
  static bool shown = false;
  const bool densityChanged =
      std::fabs(pParams[kContiSlotDensity] - fBufferDensity) > 1e-6f * std::fabs(fBufferDensity);
  const bool viscosityChanged =
      std::fabs(pParams[kContiSlotViscosity] * kRelViscosityPerPoise - RELVISCOSITY) > 1e-7f;
  if (!densityChanged && !viscosityChanged) {
    shown = false;
    return;
  }
  if (!shown)
    ShowBox("standard conditions cannot be changed - switch off solvent gradient", "Parameter Error",
            MB_OK);
  shown = true;
  pParams[kContiSlotDensity] = fBufferDensity;
  pParams[kContiSlotViscosity] = 0.01002f * RELVISCOSITY;
  pSpeciesS[3] = pParams[kContiSlotDensity];
  pSpeciesAmplitude[4] = pParams[kContiSlotViscosity];
}

// The D of the invariant-D c(s) model must be positive: exactly 0 would give
// kernels without diffusion scale.
void CheckInvariantD() {
  if (!bCsInvariantD || pParams[kContiSlotFrictionalRatio] != 0.0f) return;
  ShowBox("diffusion coefficient must be positive, current entry could cause crash\n"
          "has been changed to 0.001!",
          "Warning", MB_OK | MB_ICONEXCLAMATION);
  pParams[kContiSlotFrictionalRatio] = kInvariantDReplacement;
  pSpeciesAmplitude[3] = kInvariantDReplacement;
}

void ApplyContinuousSettings() {
  const bool gradient =
      GetModelFitHooks().inhomogeneousSolventOn && GetModelFitHooks().inhomogeneousSolventOn();
  const bool lightScattering = bDLSRhModel || bDLSDModel || bDLSTimeCourseModel;
  if (!lightScattering && !bVanHoldeWeischet) {
    if (bCsFloatingVbar) {
      fFrictionalRatio = pParams[kContiSlotVbar];
      VBAR = pParams[kContiSlotFrictionalRatio];
    } else {
      // Slot 3 is the constant D of the c(v) model; slot 11 the D of the
      // invariant-D models, Ks of the scaling-law models and the model constant of
      // the worm-like-chain and linear-rod models, which their own code reads.
      if (!bCvConstantD) VBAR = pParams[kContiSlotVbar];
      if (IsScalingLawModel()) {
        fScalingKs = pParams[kContiSlotFrictionalRatio];
      } else if (!bCsInvariantD && !bConstantDModel && !bCsWormChain && !bCsModel521) {
        fFrictionalRatio = pParams[kContiSlotFrictionalRatio];
      }
    }
  }
  if (!gradient) {
    fBufferDensity = pParams[kContiSlotDensity];
    RELVISCOSITY = kRelViscosityPerPoise * pParams[kContiSlotViscosity];
  }
  fVRho = VBAR * fBufferDensity;
  if (IsScalingLawModel()) {
    fScalingExponent = pParams[kContiSlotScalingExponent];
    pParamFitFlags[kContiSlotScalingExponent] = 0;
    pSpeciesExtraFit[3] = 0;
  }
  if (gradient) CheckStandardConditions();
  CheckInvariantD();
  if (GetModelFitHooks().applyContinuousSettings) GetModelFitHooks().applyContinuousSettings();
}

void ModelSpecificSteps() {
  if (bHeteroAssocModel) {
    if (GetModelFitHooks().packReactingSystem) GetModelFitHooks().packReactingSystem();
  }
  if (bMonomerDimer) DeriveOligomer(2);
  if (bMonomerTrimer) DeriveOligomer(3);
  if (bAssoc148) DeriveLargeOligomers(4.0f, 8.0f);
  if (bAssoc124) DeriveLargeOligomers(2.0f, 4.0f);
  if (IsNonidealModel()) {
    fAssocLoading = pParams[9];
    fS1 = pParams[5];
    fLogKs = pParams[10];
    fD1 = pParams[1];
    fLogKd = pParams[11];
  }
  if (IsContinuousModel()) ApplyContinuousSettings();
}

bool ElectrophoresisModel() { return bDiscreteModel && bElectrophoresis; }

bool ZoneModel() { return bZoneCentrifugation || bZoneLsgModel; }

}  // namespace

float OligomerMassOrD(float m1OrD1, float s1, float sn, int n) {
  if (bFitMAndS) return static_cast<float>(n) * m1OrD1;
  if (s1 == 0.0f) return m1OrD1;
  return m1OrD1 * (sn / s1) / static_cast<float>(n);
}

void PackModelParams() {
  for (int i = 1; i <= 10; ++i) {
    pParams[24 + i] = pExtraPairValue[i];
    pParamFitFlags[24 + i] = pExtraPairFit[i];
  }
  pParams[24] = fTimeOffset;
  pParamFitFlags[24] = bTimeOffset;

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    pParams[MassSlot(k)] = pSpeciesMassOrD[k];
    pParamFitFlags[MassSlot(k)] = pSpeciesMassOrDFit[k];
    pParams[SSlot(k)] = pSpeciesS[k];
    pParamFitFlags[SSlot(k)] = pSpeciesSFit[k];
    pParams[AmplitudeSlot(k)] = pSpeciesAmplitude[k];
    pParamFitFlags[AmplitudeSlot(k)] = pSpeciesAmplitudeFit[k];
    pParams[ExtraSlot(k)] = pSpeciesExtra[k];
    pParamFitFlags[ExtraSlot(k)] = pSpeciesExtraFit[k];
  }
  if (ElectrophoresisModel() && fElectroLength > 0.0f) fBottom = fMeniscus + fElectroLength;
  pParams[13] = fMeniscus;
  pParamFitFlags[13] = bVaryMeniscus ? 1 : 0;
  pParams[14] = fBottom;
  pParamFitFlags[14] = bVaryBottom ? 1 : 0;
  pParams[15] = fBaseline;
  pParamFitFlags[15] = bBaselineOption ? 1 : 0;
  for (int i = 1; i <= 3; ++i) {
    pParams[19 + i] = pModelScalar[i];
    pParamFitFlags[19 + i] = pModelScalarFit[i];
  }
  if (ZoneModel()) {
    pParams[23] = fLamellaWidth;
    pParamFitFlags[23] = bFitLamellaWidth;
  }
  if (LogKsInScalarSlots()) {
    // The scalars are these slots' values while the model keeps ks and kd there.
    pParams[20] = pModelScalar[1] = fLogKs;
    pParams[21] = pModelScalar[2] = fLogKd;
  }
  ModelSpecificSteps();
}

void UnpackModelParams() {
  // Slots 25-34: the concentrations and overlay fractions cannot be negative; the
  // s and D values of slots 28, 29, 32 and 33 keep their sign.
  for (int slot : {25, 26, 27, 30, 31, 34})
    if (pParams[slot] < 0.0f) pParams[slot] = 0.0f;
  for (int i = 1; i <= 10; ++i) pExtraPairValue[i] = pParams[24 + i];
  fTimeOffset = pParams[24];
  bTimeOffset = pParamFitFlags[24];

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    pSpeciesMassOrD[k] = pParams[MassSlot(k)];
    pSpeciesMassOrDFit[k] = pParamFitFlags[MassSlot(k)];
    pSpeciesS[k] = pParams[SSlot(k)];
    pSpeciesSFit[k] = pParamFitFlags[SSlot(k)];
    pSpeciesAmplitude[k] = pParams[AmplitudeSlot(k)];
    pSpeciesAmplitudeFit[k] = pParamFitFlags[AmplitudeSlot(k)];
    pSpeciesExtra[k] = pParams[ExtraSlot(k)];
    pSpeciesExtraFit[k] = pParamFitFlags[ExtraSlot(k)];
  }
  fMeniscus = pParams[13];
  bVaryMeniscus = pParamFitFlags[13] != 0;
  fBottom = pParams[14];
  bVaryBottom = pParamFitFlags[14] != 0;
  // The cell length as set while it still gives the bottom: the difference of two
  // radii near 6 cm would drop the digits of a short length.
  if (ElectrophoresisModel() && fMeniscus + fElectroLength != fBottom) fElectroLength = fBottom - fMeniscus;
  fBaseline = pParams[15];
  bBaselineOption = pParamFitFlags[15] != 0 ? 1 : 0;
  for (int i = 1; i <= 3; ++i) {
    pModelScalar[i] = pParams[19 + i];
    pModelScalarFit[i] = pParamFitFlags[19 + i];
  }
  if (ZoneModel()) {
    fLamellaWidth = pParams[23];
    bFitLamellaWidth = pParamFitFlags[23];
  }
  if (LogKsInScalarSlots()) {
    fLogKs = pParams[20];
    fLogKd = pParams[21];
  }
  ModelSpecificSteps();
}

float& SpeciesSlotValue(int slot) {
  assert((slot >= 1 && slot <= 12) || (slot >= 16 && slot <= 19));
  if (slot >= ExtraSlot(1)) return pSpeciesExtra[slot - ExtraSlot(0)];
  if (slot >= AmplitudeSlot(1)) return pSpeciesAmplitude[slot - AmplitudeSlot(0)];
  if (slot >= SSlot(1)) return pSpeciesS[slot - SSlot(0)];
  return pSpeciesMassOrD[slot - MassSlot(0)];
}

int& SpeciesSlotFit(int slot) {
  assert((slot >= 1 && slot <= 12) || (slot >= 16 && slot <= 19));
  if (slot >= ExtraSlot(1)) return pSpeciesExtraFit[slot - ExtraSlot(0)];
  if (slot >= AmplitudeSlot(1)) return pSpeciesAmplitudeFit[slot - AmplitudeSlot(0)];
  if (slot >= SSlot(1)) return pSpeciesSFit[slot - SSlot(0)];
  return pSpeciesMassOrDFit[slot - MassSlot(0)];
}

void InitModelParams() {
  for (int k = 0; k <= nSpeciesSlots; ++k) {
    pSpeciesIncluded[k] = 0;
    pSpeciesAmplitude[k] = pSpeciesMassOrD[k] = pSpeciesS[k] = pSpeciesExtra[k] = 0.0f;
    pSpeciesAmplitudeFit[k] = pSpeciesMassOrDFit[k] = pSpeciesSFit[k] = pSpeciesExtraFit[k] = 0;
  }
  pSpeciesIncluded[1] = 1;
  pSpeciesAmplitude[1] = 0.5f;
  pSpeciesAmplitudeFit[1] = 1;
  pSpeciesMassOrD[1] = bFitMAndS ? 50000.0f : 5.0f;
  pSpeciesMassOrDFit[1] = 1;
  pSpeciesS[1] = 4.0f;
  pSpeciesSFit[1] = 1;
  fTimeOffset = 0.0f;
  bTimeOffset = 0;
  fBaseline = 0.0f;
  bBaselineOption = 0;
  pModelScalar[3] = 0.0f;
  pModelScalarFit[3] = 0;
  bFitLamellaWidth = 0;
  PackModelParams();
}

void CheckParameters() {
  PackModelParams();
  for (int i = 1; i <= nModelParams; ++i) pParamFitFlags[i] = 0;
  UnpackModelParams();
}

void UpdateLinearFitFlags() {
  // Sedimentation equilibrium: a species without s would have no buoyant mass.
  if (bEqAnalysisModel) {
    const int last = bHeteroAssocModel ? 3 : 1;
    for (int k = 1; k <= last; ++k)
      if (pSpeciesS[k] == 0.0f) pSpeciesS[k] = 1.0f;
  }

  // The baseline is solved linearly unless the initial distribution is measured.
  bVaryBaseline = bBaselineOption != 0 && !bExperimentalInitialDistribution;
  if (bVaryBaseline) bBaselineOption = 0;
  if (bFitTINoise) {
    bVaryBaseline = true;
    bBaselineOption = 0;
    pModelScalarFit[3] = 0;
  }
  if (bFitRINoise) bVaryBaseline = true;

  if (bExperimentalInitialDistribution) {
    pSpeciesAmplitude[1] = 1.0f;
    pSpeciesAmplitudeFit[1] = 0;
    bFitTINoise = false;
  }

  bLinearAmplitudes = false;
  if (IsDiscreteSpeciesModel() && !bHeteroAssocModel) {
    if (!bCumulants) {
      for (int k = 1; k <= 3; ++k) {
        if (pSpeciesIncluded[k]) continue;
        pSpeciesAmplitudeFit[k] = pSpeciesMassOrDFit[k] = pSpeciesSFit[k] = 0;
      }
    }
    const int last = bBufferSedCorrection ? 3 : nSpeciesSlots;
    bool any = false;
    bool all = true;
    int included = 0;
    for (int k = 1; k <= last; ++k) {
      if (!pSpeciesIncluded[k]) continue;
      ++included;
      if (pSpeciesAmplitudeFit[k]) {
        any = true;
      } else {
        all = false;
      }
    }
    bool linear = any && all && !bC1Nonideal;
    if (bDLSData && included > 1) {
      const bool fieldAcf = pDLSInfo.size() > 1 && pDLSInfo[1].bFieldACF;
      if (!fieldAcf) linear = false;
    }
    if (bBufferSedCorrection) {
      const bool bufferFitted =
          GetModelFitHooks().bufferComponentFitted && GetModelFitHooks().bufferComponentFitted();
      pSpeciesMassOrDFit[4] = 0;
      pSpeciesSFit[4] = 0;
      pSpeciesAmplitudeFit[4] = bufferFitted ? 1 : 0;
      if (!bufferFitted) linear = false;
    }
    bLinearAmplitudes = linear;
    if (bLinearAmplitudes) {
      for (int k = 1; k <= nSpeciesSlots; ++k)
        if (pSpeciesIncluded[k]) pSpeciesAmplitudeFit[k] = 0;
    }
  }

  if (IsSelfAssociationModel()) {
    if (bExperimentalInitialDistribution) {
      pSpeciesAmplitude[3] = 1.0f;
      pSpeciesAmplitudeFit[3] = 0;
      fAssocLoading = 1.0f;
    }
    const int n = bMonomerTrimer ? 3 : 2;
    if (bMonomerDimer || bMonomerTrimer) {
      pSpeciesMassOrD[2] = OligomerMassOrD(pSpeciesMassOrD[1], pSpeciesS[1], pSpeciesS[2], n);
      pSpeciesMassOrDFit[2] = 0;
    }
  }
}

void ResetModelParams() {
  std::fill(std::begin(pParams), std::end(pParams), 0.0f);
  std::fill(std::begin(pParamFitFlags), std::end(pParamFitFlags), 0);
  bVaryMeniscus = bVaryBottom = false;
  bVaryBaseline = bLinearAmplitudes = false;
  InitModelParams();
}

}  // namespace tarmic
