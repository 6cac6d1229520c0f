#include "modelfit/param_checks.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <string>

#include "services/engine_notice.h"
#include "lamm/lamm_globals.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "modelfit/params_template.h"
#include "modelfit/transfer_fields.h"
#include "services/error_box.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "platform/system.h"
#include "resources/dialogs.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

int ShowBox(const char* text, const char* caption, unsigned style) {
  return RaiseBox(text, caption, style, IDOK);
}

// The continuous models whose slots 1, 5 and 9 are the limits and the count of a
// distribution grid (the boundary analyses keep other values there).
bool BuildsDistributionGrid() {
  auto& modelFlagsPart = ModelFlags();
  return IsContinuousModel() && !modelFlagsPart.bVanHoldeWeischet && !modelFlagsPart.bBoundaryAnalysis;
}

// Ids of the species fields of the dialog (species slot k = 1..4).
int AmplitudeField(int k) { return 405 + 7 * (k - 1); }
int SecondField(int k) { return 406 + 7 * (k - 1); }
int SField(int k) { return 407 + 7 * (k - 1); }

// The field of the dialog whose value the read-back puts into each slot of the
// vector, for the current model and dialog variant: the species fields into the
// species slots (amplitude 8 + k, second value k, s 4 + k), baseline, meniscus and
// bottom into 15, 13 and 14, and the exceptions where a variant reads a field into
// another value (the buffer component, a lamella width, a scaling exponent, the
// discrete component of some models, the pairs of the multiple-species non-ideal
// model).
std::map<int, int> FieldOfSlot(int templateId) {
  auto& modelFlagsPart = ModelFlags();
  std::map<int, int> f;
  const bool buffer = modelFlagsPart.bBufferSedCorrection && IsDiscreteSpeciesModel();
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (k == 4 && buffer) continue;
    f[8 + k] = AmplitudeField(k);
    if (k != 4 || (!modelFlagsPart.bCsNonideal && !modelFlagsPart.bCsff0OneDiscrete)) f[k] = SecondField(k);
    const bool sElsewhere = modelFlagsPart.bZoneCentrifugation || modelFlagsPart.bZoneLsgModel || IsScalingLawModel() ||
                            (modelFlagsPart.bMonomerDimer && modelFlagsPart.bFitMAndS);
    if (k != 4 || !sElsewhere) f[4 + k] = SField(k);
  }
  if (modelFlagsPart.bZoneCentrifugation || modelFlagsPart.bZoneLsgModel) f[23] = SField(4);
  if (IsScalingLawModel()) f[kContiSlotScalingExponent] = SField(4);
  if (modelFlagsPart.bCsff0OneDiscrete) {
    f[kContiSlotDiscrete1] = 443;
    f[kContiSlotDiscrete2] = SecondField(4);
  }
  if (templateId == 871) {
    f[kContiSlotDiscrete1] = 443;
    f[kContiSlotDiscrete2] = 438;
  }
  if (templateId == 892) {
    static constexpr int kPairFields[10] = {439, 420, 443, 414, 413, 428, 426, 421, 427, 438};
    for (int j = 0; j < 10; ++j) {
      std::erase_if(f, [&](const auto& slotField) { return slotField.second == kPairFields[j]; });
      f[25 + j] = kPairFields[j];
    }
  }
  f[15] = 433;
  f[13] = 435;
  // The electrophoresis model's field 437 is a length: the bottom is the meniscus
  // plus it.
  if (!(modelFlagsPart.bDiscreteModel && LammGlobals().bElectrophoresis)) f[14] = 437;
  return f;
}

// The model values no computation can use, refused at OK with one sentence that
// names the value and its allowed range: the values as the read-back would put
// them into the vector, the other slots as they are.
bool ModelValuesUsable(const TransferBuffer& record) {
  const std::map<int, int> fields = FieldOfSlot(SelectParamsTemplate());
  const bool electrophoresis = ModelFlags().bDiscreteModel && LammGlobals().bElectrophoresis;
  const ModelValueRoles roles =
      CurrentModelValueRoles([&](int k) { return FieldChecked(record, 401 + 7 * (k - 1)); });
  auto value = [&](int slot) {
    if (slot == 14 && electrophoresis)
      return static_cast<double>(FieldValue(record, 435)) + FieldValue(record, 437);
    const auto it = fields.find(slot);
    return it == fields.end() ? static_cast<double>(AnalysisSwitches().pParams[slot])
                              : static_cast<double>(FieldValue(record, it->second));
  };
  std::string why = ModelValuesRefusal(roles, value);
  if (why.empty() && roles.cell) why = UnsetBottomRefusal(value(13), value(14));
  if (why.empty()) return true;
  PlayErrorSound();
  ShowBox(why.c_str(), "Parameter Error", MB_OK);
  return false;
}

// The name of an edit of the variant as a refusal gives it: its label, and in a
// species block the block's heading ("\"s\" of Component 2").
std::string FieldName(const DialogTemplate& t, int id) {
  std::string name = "\"" + std::string(ControlLabel(t, id)) + "\"";
  if (id >= 405 && id <= 428 && (id - 401) % 7 >= 4) {
    const int included = 401 + 7 * ((id - 401) / 7);
    const DialogControl* c = t.Find(included);
    if (c && c->kind == ControlKind::CheckBox && c->label != "fit" && !c->label.empty())
      name += " of " + c->label;
  }
  return name;
}

// The number fields of the variant shown, each judged by the range of the value it
// edits: the role of the slot the read-back puts it into, else a number (at least
// 0 in the fields that held no negative value before: the second value of species
// 2, the amplitude of species 4, confidence, viscosity and the solver values).
// Empty when all pass, else the sentence naming the first that does not.
// The quantity each number field of the variant edits: the role of the slot the
// read-back puts it into, else by the field.
std::map<int, Quantity> FieldQuantities(const TransferBuffer& record, int templateId) {
  const ModelValueRoles roles =
      CurrentModelValueRoles([&](int k) { return FieldChecked(record, 401 + 7 * (k - 1)); });
  std::map<int, Quantity> ofSlot;
  for (const SlotRole& role : SlotRolesOf(roles)) ofSlot.emplace(role.slot, role.quantity);
  std::map<int, Quantity> ofField;
  for (const auto& [slot, field] : FieldOfSlot(templateId))
    if (const auto it = ofSlot.find(slot); it != ofSlot.end()) ofField.emplace(field, it->second);
  return ofField;
}

constexpr double kLargest = std::numeric_limits<double>::max();

// The fields whose value has no role in the model's checks: the equilibrium and
// non-ideality constants (as log10), the solver's fixed time step, and the further
// values of the boundary analysis, the conformational-change, bimodal, rod,
// worm-like chain, scaling-law and time-course models. Ranges as wide as the
// quantity allows, never admitting what breaks the computation (0 or negative
// lengths, counts and masses).
struct VariantField {
  int templateId;  // 0: every variant that shows the field
  int id;
  Quantity quantity;
};
const std::vector<VariantField>& VariantFields() {
  static const std::vector<VariantField> fields = [] {
    std::vector<VariantField> f;
    for (int t : {307, 308, 309, 310}) f.push_back({t, 420, kLogK});
    for (int id : {420, 421}) f.push_back({330, id, kLogK});
    for (int id : {420, 421}) f.push_back({331, id, kLogK});
    f.push_back({318, 428, kLogK});
    for (int id : {427, 426}) f.push_back({318, id, {"extinction", "", Closed(0.0, 1e6)}});
    f.push_back({308, 428, kLogKs});
    f.push_back({325, 412, kLogKs});
    f.push_back({325, 419, kLogKd});
    f.push_back({892, 412, kLogKs});
    f.push_back({892, 419, kLogKd});
    f.push_back({586, 443, kLogKs});
    f.push_back({586, 427, kLogKd});
    // The solver values the discrete models show: the fit tolerance in percent, the
    // grid size, max dc/c and a fixed time step in seconds (0: steps chosen by the
    // solver).
    f.push_back({0, 438, {"tolerance", "%", Closed(100.0 * kRefitTolerance.range.low, 100.0 * kRefitTolerance.range.high)}});
    f.push_back({0, 439, kLammGridSize});
    f.push_back({0, 440, kMaxDcOverC});
    f.push_back({0, 443, {"fixed time step", "s", Closed(0.0, 1e6)}});
    // The second value of the oligomer of self-association: its D, or its M.
    const Quantity d{kDiffusionCoefficient.name, "", Closed(0.0, kDiffusionCoefficient.range.high)};
    for (int t : {307, 309}) f.push_back({t, 413, d});
    for (int t : {308, 310}) f.push_back({t, 413, kMolarMass});
    // Discrete Stokes radii: the intensity and the radius (nm) of each species.
    for (int id : {405, 412, 419, 426}) f.push_back({339, id, kLoadingSignal});
    for (int id : {406, 413, 420, 427}) f.push_back({339, id, kStokesRadius});
    // Cumulants of a correlation function, in Fick (1e-7 cm^2/s) and its powers: the
    // z-average D is positive, the variance not negative, the skew of either sign.
    f.push_back({891, 405, kLoadingSignal});
    f.push_back({891, 406, d});
    f.push_back({891, 413, {"mu2", "", Closed(0.0, 1e8)}});
    f.push_back({891, 420, {"mu3", "", Closed(-1e12, 1e12)}});
    f.push_back({324, 405, kGridResolution});
    f.push_back({324, 406, kGridLimit});
    f.push_back({324, 407, kGridLimit});
    // The boundary analysis keeps its counts in the slots of f/f0 and vbar, and
    // bounds them itself: here counts of at most the scans a data set holds.
    f.push_back({324, 419, {"number of fractions", "", Count(0.0, 1000.0)}});
    f.push_back({324, 420, {"number of scans", "", Count(0.0, 1000.0)}});
    f.push_back({329, 412, kMolarMass});
    f.push_back({329, 414, kSedimentationCoefficient});
    f.push_back({329, 428, kSedimentationCoefficient});
    for (int t : {340, 871}) {
      f.push_back({t, 412, kFrictionalRatio});
      f.push_back({t, 414, kSedimentationCoefficient});
      f.push_back({t, 428, kSedimentationCoefficient});
    }
    f.push_back({332, 419, {"rod parameter", "", Closed(1e-10, 1e10)}});
    f.push_back({335, 419, {"time interval", "min", Closed(1e-4, 1e6)}});
    f.push_back({605, 412, {"cross section", "nm^2", Closed(1e-3, 1e6)}});
    f.push_back({605, 414, kMolarMass});
    f.push_back({605, 419, {"persistence length", "nm", Closed(1e-2, 1e7)}});
    f.push_back({605, 428, {"hydration", "g/g", Closed(0.0, 10.0)}});
    // s = Ks M^bs: a positive factor, an exponent from long rods to spheres and
    // beyond (0: not set, the model's own exponent is used).
    for (int t : {873, 888}) {
      f.push_back({t, 419, {"Ks", "", Closed(1e-12, 1e6)}});
      f.push_back({t, 428, {"bs", "", ZeroOr(Closed(0.01, 2.0))}});
    }
    return f;
  }();
  return fields;
}

// The row of a field: its slot's role, else what the field itself holds; a field
// without either is any number (the fields a variant does not show, which hold the
// text written before the dialog).
Quantity FieldQuantityOf(const std::map<int, Quantity>& ofField, int id) {
  Quantity q{"", "", Closed(-kLargest, kLargest)};
  const int templateId = SelectParamsTemplate();
  const auto own = std::find_if(VariantFields().begin(), VariantFields().end(), [&](const VariantField& v) {
    return (v.templateId == templateId || v.templateId == 0) && v.id == id;
  });
  if (const auto it = ofField.find(id); it != ofField.end())
    q = it->second;
  else if (id == 437 && ModelFlags().bDiscreteModel && LammGlobals().bElectrophoresis)
    q = kChannelLength;
  else if (id == 440 && Field440IsSignalPerConc())
    q.range = kSignalPerConcentration.range;  // the signal is divided by it
  else if (own != VariantFields().end())
    q = own->quantity;
  else if (id == 413 || id == 426 || (id >= 438 && id <= 440))
    q.range.low = 0.0;
  return q;
}

std::string FieldsOfVariantRefusal(const TransferBuffer& record) {
  const int templateId = SelectParamsTemplate();
  if (templateId == 0) return std::string();
  const DialogTemplate& t = GetParamsDialogTemplate(templateId);
  const std::map<int, Quantity> ofField = FieldQuantities(record, templateId);
  auto refusal = [&](int id, const std::string& shownName) {
    Quantity q = FieldQuantityOf(ofField, id);
    // A field the variant does not show is named by the value it holds.
    const std::string name = shownName.empty() ? std::string(q.name && *q.name ? q.name : "hidden value") : shownName;
    q.name = name.c_str();
    return FieldRefusal(record, id, q);
  };
  for (const DialogControl& c : t.controls)
    if (c.kind == ControlKind::Edit)
      if (std::string why = refusal(c.id, FieldName(t, c.id)); !why.empty()) return why;
  // The fields it does not show hold the text written before the dialog, which the
  // read-back takes as well; species 4 holds the text "buffer" while it is the
  // buffer component.
  const bool buffer = ModelFlags().bBufferSedCorrection && IsDiscreteSpeciesModel();
  for (const TransferControl& c : ParamsDialogControls()) {
    if (c.kind != ControlKind::Edit || t.Find(c.id)) continue;
    if (buffer && c.id >= 426 && c.id <= 428) continue;
    if (std::string why = refusal(c.id, std::string()); !why.empty()) return why;
  }
  return std::string();
}

void SwitchOffLogGrid() {
  AnalysisSwitches().pParamFitFlags[kContiFitLogGrid] = 0;
  ModelParams().pSpeciesMassOrDFit[kContiFitLogGrid] = 0;
}

}  // namespace

bool ParamsBoxCanClose(const TransferBuffer& record) {
  if (DataSet().bDLSData && ModelFlags().bDiscreteModel) {
    for (int k = 0; k < 4; ++k) {
      const int second = 403 + 7 * k;
      const int s = 404 + 7 * k;
      if (FieldChecked(record, second) && FieldChecked(record, s)) {
        ShowBox("linear dependent floating parameters for modeling DLS data", "Parameter Error", MB_OK);
        return false;
      }
    }
  }
  if (const std::string why = FieldsOfVariantRefusal(record); !why.empty()) {
    PlayErrorSound();
    ShowBox(why.c_str(), "Input Error", MB_OK);
    return false;
  }
  return ModelValuesUsable(record);
}

std::string ParamsFieldRefusal(const TransferBuffer& record, int id) {
  const int templateId = SelectParamsTemplate();
  if (templateId == 0) return std::string();
  const DialogTemplate& t = GetParamsDialogTemplate(templateId);
  Quantity q = FieldQuantityOf(FieldQuantities(record, templateId), id);
  const std::string name = FieldName(t, id);
  q.name = name.c_str();
  return FieldRefusal(record, id, q);
}

std::string UnsetBottomRefusal(double meniscus, double bottom) {
  auto& dataSetPart = DataSet();
  if (bottom != 0.0 || dataSetPart.nScans < 1 || dataSetPart.bDLSData || ScanFile().bElectrophoresisMode) return std::string();
  if (meniscus > 0.0) return Format("the meniscus %g cm must lie below the bottom 0 cm", meniscus);
  return Format("the bottom 0 cm must lie beyond the radii of the data (to %g cm)",
                static_cast<double>(dataSetPart.ppRadius[1][dataSetPart.pnPoints[1]]));
}

std::string GridRangeRefusal(double lo, double hi, double count) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi)
    return "the lower grid limit " + RefusedValueText(lo) + " must not be above the upper limit " +
           RefusedValueText(hi);
  // Points closer than that have kernels no data tell apart: the solution is
  // then arbitrary (and its total absurd).
  if (count >= 2.0 && hi - lo < kMinGridSpan)
    return Format("the grid from %g to %g is too narrow: its upper limit must exceed the lower "
                  "limit by at least %g",
                  lo, hi, kMinGridSpan);
  return std::string();
}

std::string FitLimitsRefusal(double left, double right) {
  if (left == 0.0 || right == 0.0) return std::string();
  if (std::isfinite(left) && std::isfinite(right) && left < right) return std::string();
  return "the left fitting limit " + RefusedValueText(left) + " cm must lie below the right fitting limit " +
         RefusedValueText(right) + " cm";
}

namespace {

// The second value of a discrete species: its M, or its D, where 0 is a species
// that does not diffuse (a sharp boundary).
Quantity SpeciesSecondValue() {
  return ModelFlags().bFitMAndS ? kMolarMass
                   : Quantity{kDiffusionCoefficient.name, "", Closed(0.0, kDiffusionCoefficient.range.high)};
}

// The roles of the species slots of the discrete-species models: loading signal,
// D or M and s of each included species (not the buffer component, nor species 4
// of A + B <-> AB, which holds its extinctions and log(Ka)).
void DiscreteSpeciesRoles(ModelValueRoles& r, const std::function<bool(int k)>& included) {
  auto& modelFlagsPart = ModelFlags();
  const Quantity second = SpeciesSecondValue();
  const int last = modelFlagsPart.bHeteroAssocModel || modelFlagsPart.bBufferSedCorrection ? 3 : nSpeciesSlots;
  for (int k = 1; k <= last; ++k) {
    if (!(included ? included(k) : AnalysisSwitches().pSpeciesLinked[k] != 0)) continue;
    r.values.push_back({8 + k, kLoadingSignal});
    r.values.push_back({k, second});
    r.values.push_back({4 + k, kSedimentationCoefficient});
  }
}

// Self-association: the monomer's D (or M), the loading and the s values of the
// monomer and its oligomers. Non-ideal species: loading, D and s of species 1; the
// multiple-species model also its further pairs.
void ReactingRoles(ModelValueRoles& r) {
  auto& modelFlagsPart = ModelFlags();
  if (IsSelfAssociationModel()) {
    r.values.push_back({1, SpeciesSecondValue()});
    r.values.push_back({11, kLoadingSignal});
    r.values.push_back({5, kSedimentationCoefficient});
    r.values.push_back({6, kSedimentationCoefficient});
    if (modelFlagsPart.bAssoc124 || modelFlagsPart.bAssoc148) r.values.push_back({8, kSedimentationCoefficient});
    return;
  }
  if (!IsNonidealModel()) return;
  r.values.push_back({9, kLoadingSignal});
  r.values.push_back({1, {kDiffusionCoefficient.name, "", Closed(0.0, kDiffusionCoefficient.range.high)}});
  r.values.push_back({5, kSedimentationCoefficient});
  if (!modelFlagsPart.bNonIdealMultiple) return;
  const Quantity fraction{"overlay concentration fraction", "", Closed(0.0, kMaxSignal)};
  const Quantity d = {kDiffusionCoefficient.name, "", ZeroOr(kDiffusionCoefficient.range)};
  const Quantity position{"position of the synthetic boundary", "cm", ZeroOr(kRadiusQuantity.range)};
  const SlotRole pairs[10] = {{25, position},
                              {26, fraction},
                              {27, kLoadingSignal},
                              {28, kSedimentationCoefficient},
                              {29, d},
                              {30, fraction},
                              {31, kLoadingSignal},
                              {32, kSedimentationCoefficient},
                              {33, d},
                              {34, fraction}};
  r.values.insert(r.values.end(), std::begin(pairs), std::end(pairs));
}

// The discrete component of the continuous models with one: its D or M and its s
// (0 while not set).
void DiscreteComponentRoles(ModelValueRoles& r) {
  auto& modelFlagsPart = ModelFlags();
  const Quantity d = {"D of the discrete component (1e-7 cm^2/s)", "", ZeroOr(kDiffusionCoefficient.range)};
  const Quantity m = {"M of the discrete component", kMolarMass.unit, ZeroOr(kMolarMass.range)};
  const Quantity s = {"s of the discrete component", "S", kSedimentationCoefficient.range};
  if (modelFlagsPart.bCsOneDiscreteD || modelFlagsPart.bCsOneDiscreteM || modelFlagsPart.bCsMsTable || modelFlagsPart.bCsNonideal || modelFlagsPart.bLsgOneDiscrete) {
    r.values.push_back({10, modelFlagsPart.bCsOneDiscreteD ? d : m});
    r.values.push_back({6, s});
  }
  if (modelFlagsPart.bCsff0OneDiscrete || modelFlagsPart.bCsBimodalFf0OneDiscrete) {
    r.values.push_back({kContiSlotDiscrete1, m});
    r.values.push_back({kContiSlotDiscrete2, s});
  }
}

Quantity Named(const Quantity& q, const char* name) { return {name, q.unit, q.range}; }

}  // namespace

ModelValueRoles CurrentModelValueRoles(const std::function<bool(int k)>& included) {
  auto& dataSetPart = DataSet();
  auto& lammGlobalsPart = LammGlobals();
  auto& modelFlagsPart = ModelFlags();
  ModelValueRoles r;
  // Correlation functions have no cell. The electrophoresis model's cell is a
  // channel from the meniscus on, of the length its dialog gives (the bottom is
  // the meniscus plus it).
  r.cell = !dataSetPart.bDLSData;
  r.rotor = r.cell && !lammGlobalsPart.bElectrophoresis && !ScanFile().bElectrophoresisMode && !lammGlobalsPart.bLinearGeometry;
  r.values.push_back({15, kBaselineQuantity});
  // The band of the zone models, discrete or continuous: a width of 0 or less
  // loads nothing (a fit of zeros), one wider than a cell more than the cell holds.
  if (modelFlagsPart.bZoneCentrifugation || modelFlagsPart.bZoneLsgModel) r.values.push_back({23, kLamellaWidth});
  if (!IsContinuousModel()) {
    if (dataSetPart.bDLSData || modelFlagsPart.bStokesRadii || modelFlagsPart.bCumulants) return r;
    if (IsDiscreteSpeciesModel() || modelFlagsPart.bHeteroAssocModel) DiscreteSpeciesRoles(r, included);
    ReactingRoles(r);
    return r;
  }
  r.continuous = true;
  r.grid = BuildsDistributionGrid();
  const bool lightScattering = modelFlagsPart.bDLSRhModel || modelFlagsPart.bDLSDModel || modelFlagsPart.bDLSTimeCourseModel;
  if (lightScattering || modelFlagsPart.bVanHoldeWeischet) return r;
  r.frictionalRatioGrid = IsCsff0Model();
  DiscreteComponentRoles(r);
  // As the settings are applied (PackModelParams): slot 3 is VBAR and slot 11 the
  // frictional ratio, exchanged in the floating-vbar model; slot 3 is a D in the
  // c(v) model, slot 11 a D or a model constant in the models below.
  if (modelFlagsPart.bCsFloatingVbar) {
    r.vbarSlot = kContiSlotFrictionalRatio;
    r.frictionalRatioSlot = kContiSlotVbar;
    return r;
  }
  if (!modelFlagsPart.bCvConstantD) r.vbarSlot = kContiSlotVbar;
  // The D of the c(v) model (slot 3) and of the models with a prior D (slot 11).
  if (modelFlagsPart.bCvConstantD) r.values.push_back({kContiSlotVbar, kDiffusionCoefficient});
  if (modelFlagsPart.bCsInvariantD || modelFlagsPart.bConstantDModel) r.values.push_back({kContiSlotFrictionalRatio, kDiffusionCoefficient});
  // The c(s,ff0) models take their frictional ratios from their f/f0 grid.
  if (!IsScalingLawModel() && !modelFlagsPart.bCsInvariantD && !modelFlagsPart.bConstantDModel && !modelFlagsPart.bCsWormChain && !modelFlagsPart.bCsModel521 &&
      !IsCsff0Model())
    r.frictionalRatioSlot = kContiSlotFrictionalRatio;
  return r;
}

std::vector<SlotRole> SlotRolesOf(const ModelValueRoles& roles) {
  std::vector<SlotRole> list;
  if (roles.cell) {
    // Zero stands for a cell not yet set; the Run asks for it. The meniscus of a
    // rotor cell lies at least kMinRotorRadius from the axis (and the bottom
    // beyond the meniscus).
    const double end = roles.rotor ? kMaxCellRadius : kMaxRadius;
    const ValueRange meniscus = roles.rotor ? ZeroOr(Closed(kMinRotorRadius, end)) : Closed(0.0, end);
    list.push_back({13, {"meniscus", "cm", meniscus}});
    list.push_back({14, {"bottom", "cm", Closed(0.0, end)}});
  }
  if (roles.continuous && roles.grid) {
    list.push_back({kContiSlotGridCount, kGridResolution});
    list.push_back({kContiSlotGridMin, Named(kGridLimit, "lower grid limit")});
    list.push_back({kContiSlotGridMax, Named(kGridLimit, "upper grid limit")});
  }
  if (roles.continuous) {
    if (roles.confidence) list.push_back({kContiSlotConfidence, kConfidenceLevel});
    if (roles.vbarSlot) list.push_back({roles.vbarSlot, kPartialSpecificVolume});
    if (roles.frictionalRatioSlot) list.push_back({roles.frictionalRatioSlot, kFrictionalRatio});
    list.push_back({kContiSlotDensity, kBufferDensity});
    list.push_back({kContiSlotViscosity, kBufferViscosity});
  }
  if (roles.frictionalRatioGrid) {
    list.push_back({kContiSlotShape1, Named(kFrictionalRatio, "f/f0 min")});
    list.push_back({kContiSlotShape2, Named(kFrictionalRatio, "f/f0 max")});
    list.push_back({kContiSlotShape3, kFrictionalRatioCount});
  }
  list.insert(list.end(), roles.values.begin(), roles.values.end());
  return list;
}

std::string ModelValuesRefusal(const ModelValueRoles& roles, const std::function<double(int slot)>& slot,
                               int* refusedSlot, int* pairedSlot) {
  int refused = 0, paired = 0;
  std::string why;
  for (const SlotRole& role : SlotRolesOf(roles)) {
    why = QuantityRefusal(role.quantity, slot(role.slot));
    if (!why.empty()) {
      refused = role.slot;
      break;
    }
  }
  // Two values out of order.
  auto order = [&](int s, int other, std::string text) {
    if (!why.empty() || text.empty()) return;
    why = std::move(text);
    refused = s;
    paired = other;
  };
  const double meniscus = slot(13), bottom = slot(14);
  if (roles.cell && meniscus > 0.0 && bottom > 0.0 && meniscus >= bottom)
    order(13, 14, "the meniscus " + RefusedValueText(meniscus) + " cm must lie below the bottom " +
                      RefusedValueText(bottom) + " cm");
  if (roles.continuous && roles.grid)
    order(kContiSlotGridMin, kContiSlotGridMax,
          GridRangeRefusal(slot(kContiSlotGridMin), slot(kContiSlotGridMax), std::floor(slot(kContiSlotGridCount))));
  if (roles.frictionalRatioGrid && !(slot(kContiSlotShape2) > slot(kContiSlotShape1)))
    order(kContiSlotShape1, kContiSlotShape2,
          "the f/f0 max " + RefusedValueText(slot(kContiSlotShape2)) + " must lie above the f/f0 min " +
              RefusedValueText(slot(kContiSlotShape1)));
  if (refusedSlot) *refusedSlot = why.empty() ? 0 : refused;
  if (pairedSlot) *pairedSlot = why.empty() ? 0 : paired;
  return why;
}

std::string RunValuesRefusal() {
  // A chi-square ratio set by other means is the regularisation's to judge (a
  // ratio of 2 still regularises, and says how it reads the value).
  ModelValueRoles roles = CurrentModelValueRoles();
  roles.confidence = false;
  std::string why = ModelValuesRefusal(roles, [](int slot) { return static_cast<double>(AnalysisSwitches().pParams[slot]); });
  if (why.empty()) why = LammSettingsRefusal();
  return why;
}

double GridMemoryBytes(double unknowns, int scans, int points) {
  const double n = std::max(unknowns, 1.0);
  const double a = std::max(scans, 1), b = std::max(points, 1);
  const double kernels = n * a * (b + 1.0) * sizeof(float) + n * (a + 1.0) * sizeof(float*);
  const double workspace =
      ((n + 1.0) * (a + 1.0) + (n + 1.0) * (b + 1.0) + (3.0 * n + 10.0) * (n + 1.0)) * sizeof(double) +
      5.0 * (n + 1.0) * sizeof(double*) + (n + 1.0) * sizeof(int);
  return kernels + workspace;
}

std::string GridMemoryRefusal(double unknowns, int scans, int points) {
  const double need = GridMemoryBytes(unknowns, scans, points);
  const double have = static_cast<double>(AvailableMemoryBytes());
  // Without a figure for the machine only what no address space can hold is refused.
  const double limit = have > 0.0 ? have : 1e18;
  if (need <= limit) return std::string();
  return Format("a grid of %.0f points needs %.3g MB for its kernels and normal equations, "
                "%.3g MB are available - choose fewer grid points",
                unknowns, need / 1048576.0, have / 1048576.0);
}

bool CheckGridSettings() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  bool ok = true;
  if (IsContinuousModel()) {
    const float gridMin = analysisSwitchesPart.pParams[kContiSlotGridMin];
    const float gridMax = analysisSwitchesPart.pParams[kContiSlotGridMax];
    if (analysisSwitchesPart.pParamFitFlags[kContiFitLogGrid] && gridMin == 0.0f) {
      ShowBox("smin = 0 is incompatible with log spacing of grid\n - switching off - please cconfirm", "",
              MB_OK | MB_ICONEXCLAMATION);
      SwitchOffLogGrid();
      ok = false;
    }
    if (analysisSwitchesPart.pParamFitFlags[kContiFitLogGrid] && (gridMin < 0.0f || gridMax < 0.0f)) {
      ShowBox("smin < 0 and smax < 0 is incompatible with log spacing of grid\n - switching off - please cconfirm",
              "", MB_OK | MB_ICONEXCLAMATION);
      SwitchOffLogGrid();
      ok = false;
    }
  }
  if (BuildsDistributionGrid()) {
    double unknowns = std::floor(analysisSwitchesPart.pParams[kContiSlotGridCount]);
    if (IsCsff0Model()) unknowns *= std::max(1.0f, std::floor(analysisSwitchesPart.pParams[kContiSlotShape3]));
    const std::string refusal = GridMemoryRefusal(unknowns, DataSet().nScans, CurrentGrid().nGridPoints);
    if (!refusal.empty()) {
      RaiseError(refusal);
      ok = false;
    }
  }
  return ok;
}

}  // namespace tarmic
