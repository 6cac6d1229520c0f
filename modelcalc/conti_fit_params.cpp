// The packer and unpacker of the continuous-model fit vector.
#include "modelcalc/conti_fit_params.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "modelcalc/fit_driver.h"
#include "modelcalc/marquardt.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// Derivative factor and absolute derivative value of the extra values 1-13 in this
// fit (the buffer D or Mb and the reference D or Mb take 10 g/mol with "fit M and
// s"). Index 6 (the buffer signal) is never floated here.
constexpr double kExtraDerivFactor[13] = {1.0001, 1.0001, 1.0001, 1.0001, 1.0001, 1.0001, 1.001,
                                          1.01,   1.001,  1.0001, 1.01,   1.01,   1.001};
constexpr double kExtraDerivStep[13] = {0.0001, 0.0001, 0.0001, 0.0001, 0.0001, 0.0001, 0.001,
                                        0.1,    0.001,  0.001,  0.01,   0.1,    0.001};
constexpr std::size_t kBufferSignalExtra = 6;
constexpr std::size_t kBufferDExtra = 7, kRefDExtra = 11;

bool ExtraFloated(std::size_t k) {
  const std::span<const FloatingExtra> extras = FloatingExtras();
  return k != kBufferSignalExtra && k < extras.size() && extras[k].present();
}

// The models whose pParams[11] is the frictional ratio of the hydrodynamic
// relations (the other continuous models keep vbar, Ks, a persistence length, an
// invariant D or a rod parameter there, or have no frictional ratio).
bool FrictionalRatioModel() {
  auto& modelFlagsPart = ModelFlags();
  if (IsCsff0Model() || modelFlagsPart.bCsFloatingVbar || IsScalingLawModel() || modelFlagsPart.bCsInvariantD ||
      modelFlagsPart.bConstantDModel || modelFlagsPart.bCsWormChain || modelFlagsPart.bCsModel521)
    return false;
  if (modelFlagsPart.bLsgModel || modelFlagsPart.bLsgOneDiscrete || modelFlagsPart.bBoundaryAnalysis || modelFlagsPart.bVanHoldeWeischet || modelFlagsPart.bCvConstantD ||
      modelFlagsPart.bElectroLsgModel || modelFlagsPart.bZoneLsgModel || modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSDModel || modelFlagsPart.bDLSTimeCourseModel)
    return false;
  return IsContinuousModel();
}

bool DiscreteComponentModel() {
  auto& modelFlagsPart = ModelFlags();
  return modelFlagsPart.bCsBimodalFf0OneDiscrete || modelFlagsPart.bCsff0OneDiscrete || modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM ||
         modelFlagsPart.bCsMsTable || modelFlagsPart.bCsNonideal || modelFlagsPart.bLsgOneDiscrete;
}
// The two models that keep the discrete component in slots 16 (D or M) and 17 (s).
bool DiscreteInExtraSlots() { return ModelFlags().bCsff0OneDiscrete || ModelFlags().bCsBimodalFf0OneDiscrete; }
int DiscreteSSlot() { return DiscreteInExtraSlots() ? 17 : 6; }
int DiscreteDMSlot() { return DiscreteInExtraSlots() ? 16 : 10; }

bool Floated(int slot) { return AnalysisSwitches().pParamFitFlags[slot] != 0; }

// One entry 14-28: the slot of pParams it mirrors, when it is floated, the model
// value it packs (raising it to the packing bound first), its bounds, how a value
// within them is stored, its name in the fit-result text, its derivative factor and
// absolute value, its simplex scale.
struct SlotEntry {
  int (*slot)();
  bool (*present)();
  float (*pack)();
  FitBounds (*bounds)();
  void (*unpack)(float);
  const char* name;
  double derivFactor, derivStep;
  float simplexScale;
};

// Packing bound "below lo becomes raised" applied to the model value v and its slot.
float PackAtLeast(float& v, int slot, float lo, float raised) {
  if (v < lo) v = raised;
  AnalysisSwitches().pParams[slot] = v;
  return v;
}

FitBounds Unbounded() { return FitBounds::None(); }
FitBounds NotNegative() { return FitBounds::AtLeast(0.0f); }
// The meniscus and bottom within the user's ranges (when those are set).
FitBounds MeniscusRange() {
  auto& dataSetPart = DataSet();
  return dataSetPart.fMaxMeniscus > dataSetPart.fMinMeniscus ? FitBounds::Within(dataSetPart.fMinMeniscus, dataSetPart.fMaxMeniscus) : Unbounded();
}
FitBounds BottomRange() {
  auto& dataSetPart = DataSet();
  return dataSetPart.fMaxBottom > dataSetPart.fMinBottom ? FitBounds::Within(dataSetPart.fMinBottom, dataSetPart.fMaxBottom) : Unbounded();
}

const SlotEntry kSlotEntries[] = {
    // 14 frictional ratio. At least 0.01: a ratio of 0 gives an infinite D.
    {[] { return kContiSlotFrictionalRatio; },
     [] { return FrictionalRatioModel() && Floated(kContiSlotFrictionalRatio); },
     [] { return PackAtLeast(SolventConstants().fFrictionalRatio, kContiSlotFrictionalRatio, 0.0f, 0.01f); },
     [] { return FitBounds::AtLeast(0.01f); },
     [](float v) { SolventConstants().fFrictionalRatio = AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = v; }, "frict ratio",
     1.001, 0.001, 1.0f},
    // 15 second frictional ratio of the bimodal models. A ratio of 0 gives mass 0
    // inside the s range, whose points take the default D.
    {[] { return 10; }, [] { return (ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete) && Floated(10); },
     [] { return PackAtLeast(AnalysisSwitches().pParams[10], 10, 0.0f, 0.01f); }, NotNegative,
     [](float v) { AnalysisSwitches().pParams[10] = v; }, "ff0", 1.001, 0.001, 1.0f},
    // 16 vbar of the floating-vbar c(s), with the buoyancy product.
    {[] { return kContiSlotFrictionalRatio; },
     [] { return ModelFlags().bCsFloatingVbar && Floated(kContiSlotFrictionalRatio); },
     [] {
       PackAtLeast(SolventConstants().VBAR, kContiSlotFrictionalRatio, 0.1f, 0.1f);
       SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
       return SolventConstants().VBAR;
     },
     [] { return FitBounds::AtLeast(0.1f); },
     [](float v) {
       SolventConstants().VBAR = AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = v;
       SolventConstants().fVRho = SolventConstants().VBAR * SolventConstants().fBufferDensity;
     },
     "vbar", 1.0001, 0.0001, 1.0f},
    // 17 Ks of the scaling law.
    {[] { return kContiSlotFrictionalRatio; },
     [] { return IsScalingLawModel() && Floated(kContiSlotFrictionalRatio); },
     [] { return PackAtLeast(SolventConstants().fScalingKs, kContiSlotFrictionalRatio, 1e-8f, 1e-8f); },
     [] { return FitBounds::AtLeast(1e-8f); },
     [](float v) { SolventConstants().fScalingKs = AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = v; }, "Ks", 1.01, 1e-6, 1.0f},
    // 18 exponent bs of the scaling law.
    {[] { return kContiSlotScalingExponent; },
     [] { return IsScalingLawModel() && Floated(kContiSlotScalingExponent); },
     [] { return PackAtLeast(SolventConstants().fScalingExponent, kContiSlotScalingExponent, 0.001f, 0.001f); },
     [] { return FitBounds::AtLeast(0.001f); },
     [](float v) { SolventConstants().fScalingExponent = AnalysisSwitches().pParams[kContiSlotScalingExponent] = v; }, "bs", 1.01, 0.0001,
     1.0f},
    // 19 persistence length of the worm-like chain.
    {[] { return kContiSlotFrictionalRatio; },
     [] { return ModelFlags().bCsWormChain && Floated(kContiSlotFrictionalRatio); },
     [] { return PackAtLeast(AnalysisSwitches().pParams[kContiSlotFrictionalRatio], kContiSlotFrictionalRatio, 0.1f, 0.1f); },
     [] { return FitBounds::AtLeast(0.1f); },
     [](float v) { AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = v; }, "persistence length", 1.01, 0.01, 1.0f},
    // 20 invariant D. At least 0.001: exactly 0 is refused with a box at every
    // synchronisation.
    {[] { return kContiSlotFrictionalRatio; },
     [] { return (ModelFlags().bCsInvariantD || ModelFlags().bConstantDModel) && Floated(kContiSlotFrictionalRatio); },
     [] { return PackAtLeast(AnalysisSwitches().pParams[kContiSlotFrictionalRatio], kContiSlotFrictionalRatio, 0.0f, 0.001f); },
     [] { return FitBounds::AtLeast(0.001f); },
     [](float v) { AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = v; }, "D", 1.01, 0.01, 1.0f},
    // 21 log10 ks and 22 log10 kD of the nonideal c(s).
    {[] { return 20; }, [] { return ModelFlags().bCsNonideal && Floated(20); }, [] { return ModelOptions().fLogKs; }, Unbounded,
     [](float v) { ModelOptions().fLogKs = AnalysisSwitches().pParams[20] = v; }, "log10ks", 1.001, 0.001, 1.0f},
    {[] { return 21; }, [] { return ModelFlags().bCsNonideal && Floated(21); }, [] { return ModelOptions().fLogKd; }, Unbounded,
     [](float v) { ModelOptions().fLogKd = AnalysisSwitches().pParams[21] = v; }, "log10kd", 1.01, 0.01, 1.0f},
    // 23 s and 24 D or M of the discrete component; the latter at least 0.001 (a
    // component without D or mass has no boundary to fit).
    {DiscreteSSlot, [] { return DiscreteComponentModel() && Floated(DiscreteSSlot()); },
     [] { return AnalysisSwitches().pParams[DiscreteSSlot()]; }, Unbounded,
     [](float v) { AnalysisSwitches().pParams[DiscreteSSlot()] = v; }, "discrete component s", 1.001, 0.001, 1.0f},
    {DiscreteDMSlot, [] { return DiscreteComponentModel() && Floated(DiscreteDMSlot()); },
     [] { return PackAtLeast(AnalysisSwitches().pParams[DiscreteDMSlot()], DiscreteDMSlot(), 0.0f, 0.01f); },
     [] { return FitBounds::AtLeast(0.001f); }, [](float v) { AnalysisSwitches().pParams[DiscreteDMSlot()] = v; },
     "discrete component D or M", 1.01, 0.01, 1.0f},
    // 25 meniscus and 26 bottom.
    {[] { return 13; }, [] { return Floated(13); }, [] { return AnalysisSwitches().pParams[13] = DataSet().fMeniscus; },
     MeniscusRange, [](float v) { DataSet().fMeniscus = AnalysisSwitches().pParams[13] = v; }, "Meniscus", 1.0001, 0.001, 0.01f},
    {[] { return 14; }, [] { return Floated(14); }, [] { return AnalysisSwitches().pParams[14] = DataSet().fBottom; }, BottomRange,
     [](float v) { DataSet().fBottom = AnalysisSwitches().pParams[14] = v; }, "Bottom", 1.0001, 0.001, 0.01f},
    // 27 lamella width of zone centrifugation.
    {[] { return 23; }, [] { return ModelFlags().bZoneCentrifugation && Floated(23); },
     [] { return AnalysisSwitches().pParams[23] = ModelOptions().fLamellaWidth; }, NotNegative,
     [](float v) { ModelOptions().fLamellaWidth = AnalysisSwitches().pParams[23] = v; }, "Lamella thickness", 1.0001, 0.001, 0.1f},
    // 28 constant D of c(v).
    {[] { return kContiSlotVbar; }, [] { return ModelFlags().bCvConstantD && ContiFitParams().bFitCvConstantD; },
     [] { return AnalysisSwitches().pParams[kContiSlotVbar]; }, NotNegative,
     [](float v) { AnalysisSwitches().pParams[kContiSlotVbar] = v; }, "D", 1.01, 0.01, 1.0f},
};

// Visits the floated entries in vector order: extra(k) for the extra values,
// slot(entry) for entries 14-28.
template <class Extra, class Slot>
void ForEachFloated(Extra extra, Slot slot) {
  const std::size_t extras = FloatingExtras().size();
  for (std::size_t k = 0; k < extras; ++k)
    if (ExtraFloated(k)) extra(k);
  for (const SlotEntry& e : kSlotEntries)
    if (e.present()) slot(e);
}

// The first meniscus and bottom the simulation grid was laid for.
bool GridEndsMoved() {
  auto& dataSetPart = DataSet();
  auto& lammArraysPart = LammArrays();
  if (!lammArraysPart.bSimArraysAllocated || !lammArraysPart.pLammRadius || lammArraysPart.nSimGridPointsAllocated < 2) return false;
  return lammArraysPart.pLammRadius[1] != dataSetPart.fMeniscus || lammArraysPart.pLammRadius[lammArraysPart.nSimGridPointsAllocated] != dataSetPart.fBottom;
}

}  // namespace

int GetContiParams(int max, float* out) {
  FitVectorWriter<float> put{max, out};
  ForEachFloated([&](std::size_t k) { put(FloatingExtras()[k].get()); },
                 [&](const SlotEntry& e) { put(e.pack()); });
  return put.n;
}

void ApplyContiParams(const float* values) {
  if (!values) return;
  int n = 0;
  // The presence of an entry never depends on the values of this vector, so the
  // entries are consumed exactly as GetContiParams packed them.
  ForEachFloated([&](std::size_t k) { FloatingExtras()[k].Apply(values[++n]); },
                 [&](const SlotEntry& e) { e.unpack(e.bounds().Clamp(values[++n])); });
  // The continuous models read vbar from their vbar slot (slot 11 for the
  // floating-vbar c(s)): a floated solvent vbar is kept there before every model
  // variable follows the vector.
  if (ExtraFloated(0)) AnalysisSwitches().pParams[ModelFlags().bCsFloatingVbar ? kContiSlotFrictionalRatio : kContiSlotVbar] = SolventConstants().VBAR;
  UnpackModelParams();
  if (GridEndsMoved()) BuildLammGrid();
}

int GetContiParamBounds(int max, FitBounds* out) {
  FitVectorWriter<FitBounds> put{max, out};
  ForEachFloated([&](std::size_t k) { put(FloatingExtras()[k].bounds()); },
                 [&](const SlotEntry& e) { put(e.bounds()); });
  return put.n;
}

std::vector<std::string> ContiValuesAtLimit() {
  std::vector<std::string> values;
  auto check = [&](const char* name, float v, FitBounds b) {
    if (b.AtLimit(v)) values.push_back(name + Format(" = %g", static_cast<double>(v)));
  };
  ForEachFloated(
      [&](std::size_t k) {
        const FloatingExtra& e = FloatingExtras()[k];
        check(e.Name(), e.get(), e.bounds());
      },
      [&](const SlotEntry& e) { check(e.name, AnalysisSwitches().pParams[e.slot()], e.bounds()); });
  return values;
}

FitBounds ContiSlotBounds(int slot) {
  for (const SlotEntry& e : kSlotEntries)
    if (e.slot() == slot && e.present()) return e.bounds();
  return Unbounded();
}

float ContiSimplexStepScale(int i) {
  int n = 0;
  float scale = 1.0f;
  ForEachFloated([&](std::size_t) { ++n; },
                 [&](const SlotEntry& e) {
                   if (++n == i) scale = e.simplexScale;
                 });
  return scale;
}

void InitContiMLDerivativeFactors(MLWorkSet& w) {
  int n = 0;
  auto set = [&](double factor, double step) {
    ++n;
    if (n > w.n) return;
    w.derivFactor[Idx(n)] = factor;
    w.derivStep[Idx(n)] = step;
  };
  ForEachFloated(
      [&](std::size_t k) {
        const bool mass = ModelFlags().bFitMAndS && (k == kBufferDExtra || k == kRefDExtra);
        set(kExtraDerivFactor[k], mass ? 10.0 : kExtraDerivStep[k]);
      },
      [&](const SlotEntry& e) { set(e.derivFactor, e.derivStep); });
}

int ContiDiscreteSSlot() { return DiscreteSSlot(); }
int ContiDiscreteDMSlot() { return DiscreteDMSlot(); }

void ResetContiFitParams() { ContiFitParams().bFitCvConstantD = false; }

}  // namespace tarmic
