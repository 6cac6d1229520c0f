#include "distributions/model_values_kept.h"
#include "numerics/analysis.h"

#include <cstddef>
#include <iterator>

#include "distributions/distribution_models.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"

namespace tarmic {

namespace {

// This module's own state in the analysis.
struct LocalState {
  KeptModelValues gKept{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// The slots of a discrete family: the species (1-12, 16-19), the model scalars 20
// and 21 (log ks, kd of the non-ideal options) and the pairs of the multiple-species
// non-ideal model (25-34). Meniscus, bottom, baseline, the third model scalar, the
// lamella width and the start time belong to the data and the cell, not to a model.
bool DiscreteSlot(int slot) { return (slot >= 1 && slot <= 12) || (slot >= 16 && slot <= 21) || (slot >= 25 && slot <= 34); }

float& SlotVariable(int slot) {
  auto& modelOptionsPart = ModelOptions();
  if (slot >= 25) return modelOptionsPart.pExtraPairValue[slot - 24];
  if (slot >= 20) return modelOptionsPart.pModelScalar[slot - 19];
  return SpeciesSlotValue(slot);
}

int& SlotFit(int slot) {
  auto& modelOptionsPart = ModelOptions();
  if (slot >= 25) return modelOptionsPart.pExtraPairFit[slot - 24];
  if (slot >= 20) return modelOptionsPart.pModelScalarFit[slot - 19];
  return SpeciesSlotFit(slot);
}

constexpr int kGridSlots[] = {1, 5, 9};

}  // namespace

ValueLayout ActiveValueLayout() {
  auto& modelFlagsPart = ModelFlags();
  if (IsContinuousModel()) {
    if (modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSTimeCourseModel) return ValueLayout::GridRh;
    if (modelFlagsPart.bDLSDModel) return ValueLayout::GridD;
    return IsSGridModel() ? ValueLayout::GridS : ValueLayout::GridM;
  }
  if (IsSelfAssociationModel()) return ValueLayout::SelfAssociation;
  if (IsNonidealModel()) return ValueLayout::Nonideal;
  if (modelFlagsPart.bHeteroAssocModel) return ValueLayout::Reacting;
  if (modelFlagsPart.bDiscreteModel || AnalysisSwitches().bEqAnalysisModel) {
    if (modelFlagsPart.bStokesRadii) return ValueLayout::StokesRadii;
    if (modelFlagsPart.bCumulants) return ValueLayout::Cumulants;
    if (LammGlobals().bElectrophoresis) return ValueLayout::Electrophoresis;
    return ValueLayout::Species;
  }
  return ValueLayout::None;
}

bool IsGridLayout(ValueLayout layout) {
  return layout == ValueLayout::GridS || layout == ValueLayout::GridM || layout == ValueLayout::GridRh ||
         layout == ValueLayout::GridD;
}

KeptModelValues& KeptValues() { return Local().gKept; }
void ClearKeptValues() { Local().gKept = {}; }

unsigned long long ModelKey() {
  auto& lammGlobalsPart = LammGlobals();
  // The model flags and the geometry switches that make a model of its own.
  std::vector<bool*> flags = ResettableModelFlags();
  for (bool* geometry : {&lammGlobalsPart.bLinearGeometry, &lammGlobalsPart.bPlanarQuadrature, &lammGlobalsPart.bExternalLoadingCell, &lammGlobalsPart.bElectrophoresis})
    flags.push_back(geometry);
  unsigned long long key = 0;
  for (std::size_t i = 0; i < flags.size() && i < 64; ++i)
    if (*flags[i]) key |= 1ull << i;
  return key;
}

void KeepValuesOfActiveLayout() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  auto& localPart = Local();
  const ValueLayout layout = ActiveValueLayout();
  if (layout == ValueLayout::None) return;
  ModelSwitches& switches = localPart.gKept.models[ModelKey()];
  for (int slot = 1; slot <= 34; ++slot)
    switches.fits[static_cast<std::size_t>(slot)] = DiscreteSlot(slot) ? SlotFit(slot) : 0;
  switches.claverie = lammSettingsPart.bClaverie;
  switches.movingHat = lammSettingsPart.bMovingHat;
  switches.autoAlgorithm = lammSettingsPart.bAutoFEAlgorithm;
  switches.fixTimeStep = lammSettingsPart.bFixTimeStep;
  LayoutValues& kept = localPart.gKept.families[layout];
  if (IsGridLayout(layout)) {
    for (int slot : kGridSlots) kept.slotValues[static_cast<std::size_t>(slot)] = SlotVariable(slot);
    return;
  }
  for (int slot = 1; slot <= 34; ++slot)
    if (DiscreteSlot(slot)) kept.slotValues[static_cast<std::size_t>(slot)] = SlotVariable(slot);
  for (int k = 1; k <= nSpeciesSlots; ++k) kept.included[static_cast<std::size_t>(k)] = analysisSwitchesPart.pSpeciesLinked[k];
}

void TakeKeptValues(ValueLayout layout) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  auto& localPart = Local();
  if (layout == ValueLayout::None || IsGridLayout(layout)) return;
  LayoutValues values;
  if (const auto it = localPart.gKept.families.find(layout); it != localPart.gKept.families.end()) {
    values = it->second;
  } else {
    // The start values of the species (InitModelParams).
    values.included[1] = 1;
    values.slotValues[9] = 0.5f;
    values.slotValues[1] = modelFlagsPart.bFitMAndS ? 50000.0f : 5.0f;
    values.slotValues[5] = 4.0f;
  }
  for (int slot = 1; slot <= 34; ++slot) {
    if (!DiscreteSlot(slot)) continue;
    SlotVariable(slot) = values.slotValues[static_cast<std::size_t>(slot)];
    SlotFit(slot) = 0;
  }
  for (int k = 1; k <= nSpeciesSlots; ++k) analysisSwitchesPart.pSpeciesLinked[k] = values.included[static_cast<std::size_t>(k)];
}

bool TakeKeptSwitches() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  auto& localPart = Local();
  const auto it = localPart.gKept.models.find(ModelKey());
  if (it == localPart.gKept.models.end()) return false;
  const ModelSwitches& kept = it->second;
  const bool continuous = IsGridLayout(ActiveValueLayout());
  for (int slot = 1; slot <= 34; ++slot) {
    if (!DiscreteSlot(slot) || (continuous && (slot == 3 || slot == 4))) continue;
    SlotFit(slot) = kept.fits[static_cast<std::size_t>(slot)];
    analysisSwitchesPart.pParamFitFlags[slot] = kept.fits[static_cast<std::size_t>(slot)];
  }
  lammSettingsPart.bClaverie = kept.claverie;
  lammSettingsPart.bMovingHat = kept.movingHat;
  lammSettingsPart.bAutoFEAlgorithm = kept.autoAlgorithm;
  lammSettingsPart.bFixTimeStep = kept.fixTimeStep;
  return true;
}

std::vector<MassOrDSlot> MassOrDSlots(ValueLayout layout) {
  switch (layout) {
    case ValueLayout::None:
    case ValueLayout::Species:
    case ValueLayout::Electrophoresis:
      return {{1, 5}, {2, 6}, {3, 7}, {4, 8}};
    case ValueLayout::SelfAssociation:
    case ValueLayout::Nonideal:
      return {{1, 5}};
    default:
      return {};
  }
}

bool HoldsMassOrD(ValueLayout layout) { return !MassOrDSlots(layout).empty(); }

void ConvertKeptMassOrD(const std::function<float(float value, float s)>& converted) {
  auto& localPart = Local();
  for (auto& [layout, kept] : localPart.gKept.families)
    for (const MassOrDSlot& m : MassOrDSlots(layout)) {
      float& value = kept.slotValues[static_cast<std::size_t>(m.value)];
      value = converted(value, kept.slotValues[static_cast<std::size_t>(m.s)]);
    }
}

bool KeptGrid(ValueLayout layout, float* min, float* max, float* count) {
  auto& localPart = Local();
  const auto it = localPart.gKept.families.find(layout);
  if (it == localPart.gKept.families.end() || !IsGridLayout(layout)) return false;
  *min = it->second.slotValues[1];
  *max = it->second.slotValues[5];
  *count = it->second.slotValues[9];
  return true;
}

}  // namespace tarmic
