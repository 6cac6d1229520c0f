#include "modelfit/params_dialog.h"

#include <algorithm>
#include <array>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelfit/fit_limit_prompts.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "modelfit/param_checks.h"
#include "modelfit/transfer_fields.h"
#include "numerics/number_input.h"
#include "prompts/dialog_question.h"
#include "prompts/number_prompt.h"
#include "prompts/number_question.h"
#include "services/engine_notice.h"
#include "numerics/value_ranges.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "resources/dialogs.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

// --- ids of the record ---
int IncludedId(int k) { return 401 + 7 * (k - 1); }
int AmplitudeFitId(int k) { return 402 + 7 * (k - 1); }
int SecondFitId(int k) { return 403 + 7 * (k - 1); }
int SFitId(int k) { return 404 + 7 * (k - 1); }
int AmplitudeId(int k) { return 405 + 7 * (k - 1); }
int SecondId(int k) { return 406 + 7 * (k - 1); }
int SId(int k) { return 407 + 7 * (k - 1); }

constexpr const char* kBufferText = "buffer";
constexpr const char* kNonidealTitle1 = "NONIDEAL COMPONENT 1";

// The c(s,ff0) plot choice: one of five boxes, in the order of the projections.
constexpr std::array<int, 5> kSizeShapeViewIds = {429, 430, 442, 445, 446};
// Nonideal c(s): "total concentration from data".
constexpr int kIdCtotFromData = 442;

// The number fields as the dialog opened: each one's text and the exact value it
// was written from. A field whose text is still the one shown reads back as that
// value, so that a value with more digits than the field shows (a fitted s, a
// meniscus, a double) keeps every bit through an OK without an edit; a field typed
// in reads back as the number typed. Every number the dialog reads back is read
// through Entered.
class ShownValues {
 public:
  void Show(TransferBuffer& record, int id, const char* format, double value) {
    SetFieldValue(record, id, format, value);
    shown_[id] = {FieldText(record, id), value};
  }
  double Entered(const TransferBuffer& record, int id) const {
    const auto it = shown_.find(id);
    if (it != shown_.end() && it->second.text == FieldText(record, id)) return it->second.value;
    return FieldValue(record, id);
  }
  // Entered narrowed to the float variables most fields edit.
  float EnteredFloat(const TransferBuffer& record, int id) const {
    return static_cast<float>(Entered(record, id));
  }

 private:
  struct Shown {
    std::string text;
    double value;
  };
  std::map<int, Shown> shown_;
};

bool LightScatteringDistribution() { return ModelFlags().bDLSRhModel || ModelFlags().bDLSDModel || ModelFlags().bDLSTimeCourseModel; }
bool BufferOnDiscrete() { return ModelFlags().bBufferSedCorrection && IsDiscreteSpeciesModel(); }
bool ElectrophoresisDiscrete() { return ModelFlags().bDiscreteModel && LammGlobals().bElectrophoresis; }

// Boxes of the species blocks that the current model uses for its own switches;
// the generic fit switches of those boxes are neither shown nor read back.
std::set<int> BorrowedBoxes(int templateId) {
  std::set<int> b;
  if (ModelFlags().bFMScalingLaw) b.insert(409);
  if (ModelFlags().bCsNonideal || IsNonidealModel()) b.insert(410);
  if (ModelFlags().bCsff0OneDiscrete) b.insert({411, 416});
  if (ModelFlags().bVanHoldeWeischet) b.insert(416);
  if (ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel || IsScalingLawModel() || ModelFlags().bMonomerDimer) b.insert(425);
  if (templateId == 325) b.insert({411, 424});
  if (templateId == 871) b.insert(418);
  return b;
}

DistributionDialogOptions CurrentDistributionOptions(const TransferBuffer& record) {
  if (GetModelFitHooks().getDistributionOptions) return GetModelFitHooks().getDistributionOptions();
  // Without the engine the record keeps the options.
  DistributionDialogOptions o;
  o.dlsIntegrateLogScale = FieldChecked(record, 448);
  o.dlsGridLinearD = FieldChecked(record, 450);
  o.dlsGridLogD = !o.dlsGridLinearD;
  o.ctotFromData = !ModelFlags().bCsNonideal || FieldChecked(record, kIdCtotFromData);
  o.sizeShapeView = 0;
  for (std::size_t i = 0; i < kSizeShapeViewIds.size(); ++i)
    if (FieldChecked(record, kSizeShapeViewIds[i])) {
      o.sizeShapeView = static_cast<int>(i);
      break;
    }
  return o;
}

int SizeShapeViewOf(const TransferBuffer& record) {
  for (std::size_t i = 0; i < kSizeShapeViewIds.size(); ++i)
    if (FieldChecked(record, kSizeShapeViewIds[i])) return static_cast<int>(i);
  return 0;
}

float ScalingExponentShown() {
  return ModelParams().pSpeciesExtra[3] != 0.0f ? ModelParams().pSpeciesExtra[3] : SolventConstants().fScalingExponent;
}

// --- the multiple-species non-ideal model: ten value/fit pairs in borrowed fields ---
struct ExtraPairField {
  int value;
  int fit;
};
constexpr std::array<ExtraPairField, 10> kExtraPairFields = {{{439, 401}, {420, 423}, {443, 442},
                                                              {414, 411}, {413, 418}, {428, 446},
                                                              {426, 422}, {421, 445}, {427, 415},
                                                              {438, 408}}};

// The own states of the boxes that the pairs and "with synthetic boundary" borrow.
std::vector<std::pair<int, bool>> SaveBorrowedPairBoxes(const TransferBuffer& record) {
  std::vector<std::pair<int, bool>> saved;
  for (const ExtraPairField& f : kExtraPairFields) saved.emplace_back(f.fit, FieldChecked(record, f.fit));
  saved.emplace_back(kIdSyntheticBoundary, FieldChecked(record, kIdSyntheticBoundary));
  return saved;
}

void FillExtraPairs(TransferBuffer& record, ShownValues& shown) {
  for (std::size_t i = 0; i < kExtraPairFields.size(); ++i) {
    shown.Show(record, kExtraPairFields[i].value, "%.5f", ModelOptions().pExtraPairValue[i + 1]);
    SetFieldChecked(record, kExtraPairFields[i].fit, ModelOptions().pExtraPairFit[i + 1] != 0);
  }
  SetFieldChecked(record, kIdSyntheticBoundary, ModelOptions().bSyntheticBoundary);
}

void ShowInfo(const char* text, const char* caption, unsigned style) { RaiseBox(text, caption, style); }

bool AskYesNo(const char* text, const char* caption) {
  return RaiseBox(text, caption, MB_YESNO | MB_ICONQUESTION, IDNO) == IDYES;
}

// Asks a number proposing current; *value takes the answer (untouched where none).
bool AskFloat(float* value, float current, const char* prompt, const char* title, const Quantity& quantity) {
  const std::optional<float> entered = RaiseNumberQuestion({current, true, prompt, title, quantity});
  if (entered) *value = *entered;
  return entered.has_value();
}

// --- step 7: model-specific answers ---

// "c1 nonideal": the non-ideal constants of species 1, asked one by one.
void ReadC1Nonideal(const TransferBuffer& record) {
  ModelOptions().bC1Nonideal = FieldChecked(record, kIdC1Nonideal);
  if (!ModelOptions().bC1Nonideal) {
    // ks and kd of species 1 are read by nothing then: not floated either.
    ModelOptions().pModelScalarFit[1] = ModelOptions().pModelScalarFit[2] = 0;
    return;
  }
  // Each answer within its range (a value outside asks again, naming the range).
  float value = ModelOptions().fLogKs;
  if (AskFloat(&value, ModelOptions().fLogKs, "log10(ks/(mg/ml)):", kNonidealTitle1, kLogKs)) ModelOptions().fLogKs = value;
  ModelOptions().pModelScalarFit[1] = AskYesNo("fit ks?", kNonidealTitle1) ? 1 : 0;
  value = ModelOptions().fLogKd;
  if (AskFloat(&value, ModelOptions().fLogKd, "log10(kd/(mg/ml)):", kNonidealTitle1, kLogKd)) ModelOptions().fLogKd = value;
  ModelOptions().pModelScalarFit[2] = AskYesNo("fit kd?", kNonidealTitle1) ? 1 : 0;
  // The signal per mg/ml is a double: the proposal taken as it stands keeps its bits.
  const float proposed = static_cast<float>(DataSet().dSignalPerConcentration);
  value = proposed;
  if (AskFloat(&value, proposed, "Signal per mg/ml:", kNonidealTitle1, kSignalPerConcentration) &&
      value != proposed)
    DataSet().dSignalPerConcentration = value;
  ModelOptions().bRepulsiveNonideality = true;
}

void ReadExtraPairs(TransferBuffer& record, const ShownValues& shown,
                    const std::vector<std::pair<int, bool>>& ownBoxes) {
  for (std::size_t i = 0; i < kExtraPairFields.size(); ++i) {
    ModelOptions().pExtraPairValue[i + 1] = shown.EnteredFloat(record, kExtraPairFields[i].value);
    ModelOptions().pExtraPairFit[i + 1] = FieldChecked(record, kExtraPairFields[i].fit) ? 1 : 0;
  }
  ModelOptions().bSyntheticBoundary = FieldChecked(record, kIdSyntheticBoundary);
  // The extinctions as the parameter file keeps them (indices 150 to 152).
  auto askExtinction = [](int j, const char* prompt, const char* title) {
    float value = ModelOptions().fNonidealExtinction[j];
    if (AskFloat(&value, ModelOptions().fNonidealExtinction[j], prompt, title,
                 EntryOf(ParameterFileEntries(), 149 + j).quantity))
      ModelOptions().fNonidealExtinction[j] = value;
  };
  if (ModelOptions().pExtraPairValue[3] > 0.0f) {  // cload 2
    askExtinction(1, "extinction species 1:", kNonidealTitle1);
    askExtinction(2, "extinction species 2:", "NONIDEAL COMPONENT 2");
  }
  if (ModelOptions().pExtraPairValue[7] > 0.0f) askExtinction(3, "extinction species 3:", "NONIDEAL COMPONENT 3");  // cload 3
  for (const auto& [id, on] : ownBoxes) SetFieldChecked(record, id, on);
}

// The scaling-law models: calibration and the no-deconvolution option. Returns
// false when a calibration was asked for and failed.
bool ReadScalingLaw(Window* window, TransferBuffer& record, ShownValues& shown, int templateId) {
  ModelOptions().bCalibrateScalingLaw = FieldChecked(record, 425);
  if (templateId == 888) ModelOptions().bScalingLawNoDiffusion = FieldChecked(record, 409);
  bool ok = true;
  if (ModelOptions().bCalibrateScalingLaw) {
    const int calibrated =
        GetModelFitHooks().calibrateCMPowerLaw ? GetModelFitHooks().calibrateCMPowerLaw(window) : 0;
    if (calibrated) {
      // The calibration stored Ks and bs in the vector: the fields take them over so
      // that the read-back keeps them.
      shown.Show(record, AmplitudeId(3), "%.5f", AnalysisSwitches().pParams[kContiSlotFrictionalRatio]);
      shown.Show(record, SId(4), "%.3e", AnalysisSwitches().pParams[kContiSlotScalingExponent]);
      SetFieldChecked(record, AmplitudeFitId(3), false);
      ModelOptions().bCalibrateScalingLaw = false;
    } else {
      ShowInfo("calibration of scaling law failed", "Parameter Error", MB_OK);
      ok = false;
    }
  }
  if (ModelOptions().bScalingLawNoDiffusion && (FieldChecked(record, AmplitudeFitId(3)) || ModelOptions().bCalibrateScalingLaw)) {
    ShowInfo("fitting for ks and bs impossible without diffusion deconvolution, switching this off.",
             "ATTENTION", MB_OK);
    SetFieldChecked(record, AmplitudeFitId(3), false);
    ModelOptions().bCalibrateScalingLaw = false;
  }
  if (FieldChecked(record, AmplitudeFitId(3)))
    ShowInfo("note: fitting ks will make prior calibration invalid", "ATTENTION", MB_OK);
  SetFieldChecked(record, 425, ModelOptions().bCalibrateScalingLaw);
  return ok;
}

void ReadDistributionOptions(Window* window, const TransferBuffer& record, int shownView) {
  const bool lightScattering = LightScatteringDistribution();
  if (!lightScattering && !IsCsff0Model() && !ModelFlags().bCsNonideal) return;
  DistributionDialogOptions o = CurrentDistributionOptions(record);
  if (ModelFlags().bCsNonideal) o.ctotFromData = FieldChecked(record, kIdCtotFromData);
  if (lightScattering) {
    o.dlsIntegrateLogScale = FieldChecked(record, 448);
    const bool linearD = FieldChecked(record, 450);
    o.dlsGridLinearD = linearD;
    o.dlsGridLogD = !linearD && !ModelFlags().bDLSRhModel && !ModelFlags().bDLSTimeCourseModel;
    o.dlsGridLogRh = !linearD && (ModelFlags().bDLSRhModel || ModelFlags().bDLSTimeCourseModel);
  }
  const int view = SizeShapeViewOf(record);
  if (IsCsff0Model()) o.sizeShapeView = view;
  if (GetModelFitHooks().setDistributionOptions) GetModelFitHooks().setDistributionOptions(o);
  if (IsCsff0Model() && view != shownView) {
    if (GetModelFitHooks().rebuildSizeShapePlot) GetModelFitHooks().rebuildSizeShapePlot(window);
    if (window) window->Invalidate();
  }
}

// --- step 8: the common read-back ---
void ReadBack(const TransferBuffer& record, const ShownValues& shown, int templateId) {
  const std::set<int> borrowed = BorrowedBoxes(templateId);
  const bool buffer = BufferOnDiscrete();
  const bool zone = ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel;
  const float meniscusBefore = DataSet().fMeniscus;
  const float bottomBefore = DataSet().fBottom;

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    AnalysisSwitches().pSpeciesLinked[k] = FieldChecked(record, IncludedId(k)) ? 1 : 0;
    // The buffer component's fields hold "buffer": its values stay as they were.
    if (k == 4 && buffer) continue;
    ModelParams().pSpeciesAmplitude[k] = shown.EnteredFloat(record, AmplitudeId(k));
    if (k == 4 && ModelFlags().bCsNonideal) {
      ModelOptions().fLogKd = shown.EnteredFloat(record, SecondId(4));
    } else if (k == 4 && ModelFlags().bCsff0OneDiscrete) {
      ModelParams().pSpeciesExtra[2] = shown.EnteredFloat(record, SecondId(4));
    } else {
      ModelParams().pSpeciesMassOrD[k] = shown.EnteredFloat(record, SecondId(k));
    }
    if (k == 4 && zone) {
      ModelOptions().fLamellaWidth = shown.EnteredFloat(record, SId(4));
    } else if (k == 4 && IsScalingLawModel()) {
      ModelParams().pSpeciesExtra[3] = shown.EnteredFloat(record, SId(4));
    } else if (k == 4 && ModelFlags().bMonomerDimer && ModelFlags().bFitMAndS) {
      ModelOptions().fLogKs = shown.EnteredFloat(record, SId(4));
    } else {
      ModelParams().pSpeciesS[k] = shown.EnteredFloat(record, SId(k));
    }
  }
  ModelParams().fBaseline = shown.EnteredFloat(record, 433);
  DataSet().fMeniscus = shown.EnteredFloat(record, 435);
  if (ElectrophoresisDiscrete()) {
    ModelOptions().fElectroLength = shown.EnteredFloat(record, 437);
    DataSet().fBottom = DataSet().fMeniscus + ModelOptions().fElectroLength;
  } else {
    DataSet().fBottom = shown.EnteredFloat(record, 437);
  }
  if (Field440IsSignalPerConc()) DataSet().dSignalPerConcentration = shown.Entered(record, 440);
  if (ModelFlags().bCsNonideal) ModelOptions().fLogKs = shown.EnteredFloat(record, 443);
  if (ModelFlags().bCsff0OneDiscrete) ModelParams().pSpeciesExtra[1] = shown.EnteredFloat(record, 443);

  // Fit switches, except where a box carries a model option.
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!borrowed.count(AmplitudeFitId(k))) ModelParams().pSpeciesAmplitudeFit[k] = FieldChecked(record, AmplitudeFitId(k));
    if (!borrowed.count(SecondFitId(k))) ModelParams().pSpeciesMassOrDFit[k] = FieldChecked(record, SecondFitId(k));
    if (!borrowed.count(SFitId(k))) ModelParams().pSpeciesSFit[k] = FieldChecked(record, SFitId(k));
  }
  if (ModelFlags().bFMScalingLaw) ModelOptions().bScalingLawNoDiffusion = FieldChecked(record, 409);
  if (ModelFlags().bCsNonideal) ModelOptions().pModelScalarFit[1] = FieldChecked(record, 410) ? 1 : 0;
  if (IsNonidealModel()) ModelOptions().bRepulsiveNonideality = FieldChecked(record, 410);
  if (ModelFlags().bCsff0OneDiscrete) {
    ModelParams().pSpeciesExtraFit[1] = FieldChecked(record, 411) ? 1 : 0;
    ModelParams().pSpeciesExtraFit[2] = FieldChecked(record, 416) ? 1 : 0;
  }
  if (ModelFlags().bVanHoldeWeischet) {
    ModelOptions().bSlideFrame = !FieldChecked(record, 416);
    ModelOptions().bFitBoundaryFractions = FieldChecked(record, 442);
  }
  if (zone) ModelOptions().bFitLamellaWidth = FieldChecked(record, 425) ? 1 : 0;
  if (ModelFlags().bMonomerDimer && ModelFlags().bFitMAndS) ModelOptions().bDimerNonideal = FieldChecked(record, 425);
  if (templateId == 325) {
    ModelOptions().bCosoluteCoefficients = FieldChecked(record, 411);
    ModelOptions().bCsClCoefficients = FieldChecked(record, 424);
  }
  if (templateId == 316) ModelOptions().bZoneInverseLayer = FieldChecked(record, 446);
  if (templateId == 871) {
    ModelParams().pSpeciesExtra[1] = shown.EnteredFloat(record, 443);
    ModelParams().pSpeciesExtra[2] = shown.EnteredFloat(record, 438);
    ModelParams().pSpeciesExtraFit[1] = FieldChecked(record, 445) ? 1 : 0;
    ModelParams().pSpeciesExtraFit[2] = FieldChecked(record, 418) ? 1 : 0;
  }

  AnalysisSwitches().bBaselineOption = FieldChecked(record, 432) ? 1 : 0;
  ModelParams().bVaryMeniscus = FieldChecked(record, 434);
  ModelParams().bVaryBottom = FieldChecked(record, 436);
  AnalysisSwitches().bFitTINoise = FieldChecked(record, 431);
  AnalysisSwitches().bFitRINoise = FieldChecked(record, 455);

  if (DataSet().fMeniscus != meniscusBefore || DataSet().fBottom != bottomBefore) DataSet().bDataChanged = true;
}

// The settings outside the parameter vector that the dialog's answers write: a
// Cancel in a dialog reopened after a refusal puts them back with the vector, so
// that no half of the refused answers stays.
class OptionsBefore {
 public:
  OptionsBefore() {
    for (bool* b : Bools()) bools_.push_back(*b);
    for (float* f : Floats()) floats_.push_back(*f);
    signal_ = DataSet().dSignalPerConcentration;
    if (GetModelFitHooks().getDistributionOptions) distribution_ = GetModelFitHooks().getDistributionOptions();
  }
  void Restore() const {
    for (std::size_t i = 0; i < bools_.size(); ++i) *Bools()[i] = bools_[i];
    for (std::size_t i = 0; i < floats_.size(); ++i) *Floats()[i] = floats_[i];
    DataSet().dSignalPerConcentration = signal_;
    if (distribution_ && GetModelFitHooks().setDistributionOptions)
      GetModelFitHooks().setDistributionOptions(*distribution_);
  }

 private:
  static std::vector<bool*> Bools() {
    return {&ModelOptions().bScalingLawNoDiffusion, &ModelOptions().bCalibrateScalingLaw, &ModelOptions().bRepulsiveNonideality, &ModelOptions().bSlideFrame,
            &ModelOptions().bFitBoundaryFractions,  &ModelOptions().bDimerNonideal,       &ModelOptions().bCosoluteCoefficients, &ModelOptions().bCsClCoefficients,
            &ModelOptions().bZoneInverseLayer,      &ModelOptions().bC1Nonideal,          &ModelOptions().bSyntheticBoundary,    &LammSettings().bClaverie,
            &LammSettings().bMovingHat};
  }
  static std::vector<float*> Floats() {
    return {&ModelOptions().fLogKs,
            &ModelOptions().fLogKd,
            &ModelOptions().fLamellaWidth,
            &ModelOptions().fElectroLength,
            &ModelOptions().fNonidealExtinction[1],
            &ModelOptions().fNonidealExtinction[2],
            &ModelOptions().fNonidealExtinction[3]};
  }
  std::vector<bool> bools_;
  std::vector<float> floats_;
  double signal_ = 0.0;
  std::optional<DistributionDialogOptions> distribution_;
};

// Runs the dialog until its entries pass the entry checks or it is cancelled.
int RunUntilValid(const DialogTemplate& dialog, TransferBuffer& record) {
  if (!HasBackend()) return IDCANCEL;
  for (;;) {
    const int result = RaiseDialog(dialog, record);
    if (result != IDOK) return result;
    if (ParamsBoxCanClose(record)) return IDOK;
  }
}

}  // namespace

void InitParamsTransfer(TransferBuffer& record) {
  record.text.clear();
  record.checked.clear();
  for (const TransferControl& c : ParamsDialogControls()) {
    if (c.kind == ControlKind::Edit) {
      record.text[c.id] = std::string();
    } else {
      record.checked[c.id] = false;
    }
  }
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    record.checked[IncludedId(k)] = true;
    record.checked[AmplitudeFitId(k)] = true;
    record.checked[SecondFitId(k)] = false;
    record.checked[SFitId(k)] = true;
  }
  record.checked[429] = false;
  record.checked[430] = true;
  record.checked[431] = true;
  record.checked[441] = true;
}

namespace {

// The record filled from the values; `shown` keeps what each number field shows.
void FillRecord(TransferBuffer& record, ShownValues& shown) {
  const int templateId = SelectParamsTemplate();
  const std::set<int> borrowed = BorrowedBoxes(templateId);
  const bool conti = IsContinuousModel();
  // Whole grams per mole for molar masses; the DLS radii (nm) and cumulants are no
  // masses, nor are the extinction factor and log(Ka) of A + B <-> AB in slot 4.
  const bool masses =
      ModelFlags().bFitMAndS && !IsSelfAssociationModel() && !conti && !ModelFlags().bStokesRadii && !ModelFlags().bCumulants;
  auto secondFormat = [masses](int k) {
    return masses && !(ModelFlags().bHeteroAssocModel && k == nSpeciesSlots) ? "%.0f" : "%.5f";
  };

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    SetFieldChecked(record, IncludedId(k), AnalysisSwitches().pSpeciesLinked[k] != 0);
    if (!borrowed.count(AmplitudeFitId(k))) SetFieldChecked(record, AmplitudeFitId(k), ModelParams().pSpeciesAmplitudeFit[k] != 0);
    if (!borrowed.count(SecondFitId(k))) SetFieldChecked(record, SecondFitId(k), ModelParams().pSpeciesMassOrDFit[k] != 0);
    if (!borrowed.count(SFitId(k))) SetFieldChecked(record, SFitId(k), ModelParams().pSpeciesSFit[k] != 0);
    shown.Show(record, AmplitudeId(k), "%.5f", ModelParams().pSpeciesAmplitude[k]);
    shown.Show(record, SecondId(k), secondFormat(k), ModelParams().pSpeciesMassOrD[k]);
    shown.Show(record, SId(k), "%.5f", ModelParams().pSpeciesS[k]);
  }
  // Boxes that carry model options.
  if (ModelFlags().bFMScalingLaw) SetFieldChecked(record, 409, ModelOptions().bScalingLawNoDiffusion);
  if (ModelFlags().bCsNonideal) SetFieldChecked(record, 410, ModelOptions().pModelScalarFit[1] != 0);
  if (IsNonidealModel()) SetFieldChecked(record, 410, ModelOptions().bRepulsiveNonideality);
  if (ModelFlags().bCsff0OneDiscrete) {
    SetFieldChecked(record, 411, ModelParams().pSpeciesExtraFit[1] != 0);
    SetFieldChecked(record, 416, ModelParams().pSpeciesExtraFit[2] != 0);
  }
  if (ModelFlags().bVanHoldeWeischet) {
    SetFieldChecked(record, 416, !ModelOptions().bSlideFrame);
    SetFieldChecked(record, 442, ModelOptions().bFitBoundaryFractions);
  }
  if (ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel) SetFieldChecked(record, 425, ModelOptions().bFitLamellaWidth != 0);
  if (IsScalingLawModel()) SetFieldChecked(record, 425, ModelOptions().bCalibrateScalingLaw);
  if (ModelFlags().bMonomerDimer && ModelFlags().bFitMAndS) SetFieldChecked(record, 425, ModelOptions().bDimerNonideal);
  if (templateId == 325) {
    SetFieldChecked(record, 411, ModelOptions().bCosoluteCoefficients);
    SetFieldChecked(record, 424, ModelOptions().bCsClCoefficients);
  }
  if (templateId == 316) SetFieldChecked(record, 446, ModelOptions().bZoneInverseLayer);
  if (templateId == 400 || templateId == 573) SetFieldChecked(record, kIdC1Nonideal, ModelOptions().bC1Nonideal);
  if (templateId == 871) {
    SetFieldChecked(record, 445, ModelParams().pSpeciesExtraFit[1] != 0);
    SetFieldChecked(record, 418, ModelParams().pSpeciesExtraFit[2] != 0);
  }
  if (LightScatteringDistribution() || IsCsff0Model() || ModelFlags().bCsNonideal) {
    const DistributionDialogOptions o = CurrentDistributionOptions(record);
    if (ModelFlags().bCsNonideal) SetFieldChecked(record, kIdCtotFromData, o.ctotFromData);
    if (LightScatteringDistribution()) {
      SetFieldChecked(record, 447, !o.dlsIntegrateLogScale);
      SetFieldChecked(record, 448, o.dlsIntegrateLogScale);
      SetFieldChecked(record, 450, o.dlsGridLinearD);
      SetFieldChecked(record, 451, !o.dlsGridLinearD);
    }
    if (IsCsff0Model())
      for (std::size_t i = 0; i < kSizeShapeViewIds.size(); ++i)
        SetFieldChecked(record, kSizeShapeViewIds[i], static_cast<int>(i) == o.sizeShapeView);
  }

  SetFieldChecked(record, 432, AnalysisSwitches().bBaselineOption != 0 || ModelParams().bVaryBaseline);
  SetFieldChecked(record, 434, ModelParams().bVaryMeniscus);
  SetFieldChecked(record, 436, ModelParams().bVaryBottom);
  SetFieldChecked(record, 431, AnalysisSwitches().bFitTINoise);
  SetFieldChecked(record, 455, AnalysisSwitches().bFitRINoise);
  SetFieldChecked(record, 441, LammSettings().bClaverie);
  SetFieldChecked(record, 444, LammSettings().bMovingHat);

  shown.Show(record, 433, "%.5f", ModelParams().fBaseline);
  shown.Show(record, 435, "%.4f", DataSet().fMeniscus);
  shown.Show(record, 437, "%.4f",
             ElectrophoresisDiscrete() ? (ModelOptions().fElectroLength > 0.0f ? ModelOptions().fElectroLength : DataSet().fBottom - DataSet().fMeniscus)
                                       : DataSet().fBottom);
  shown.Show(record, 438, "%.3f", 100.0 * LammSettings().fRefitTolerance);
  shown.Show(record, 439, "%.0f", LammSettings().nLammGridPoints);
  shown.Show(record, 440, "%.4f", Field440IsSignalPerConc() ? DataSet().dSignalPerConcentration : LammSettings().dMaxDcOverC);
  if (ModelFlags().bCsNonideal) {
    shown.Show(record, 443, "%.3f", ModelOptions().fLogKs);
    shown.Show(record, SecondId(4), "%.5f", ModelOptions().fLogKd);
  } else if (ModelFlags().bCsff0OneDiscrete) {
    shown.Show(record, 443, "%.1f", ModelParams().pSpeciesExtra[1]);
    shown.Show(record, SecondId(4), "%.5f", ModelParams().pSpeciesExtra[2]);
  } else if (templateId == 871) {
    shown.Show(record, 443, "%.1f", ModelParams().pSpeciesExtra[1] != 0.0f ? ModelParams().pSpeciesExtra[1] : 350.0f);
    shown.Show(record, 438, "%.3f", ModelParams().pSpeciesExtra[2] != 0.0f ? ModelParams().pSpeciesExtra[2] : 0.34f);
  } else {
    shown.Show(record, 443, "%.2f", LammSettings().dInitialDt);
  }
  if (BufferOnDiscrete()) {
    SetFieldText(record, AmplitudeId(4), kBufferText);
    SetFieldText(record, SecondId(4), kBufferText);
    SetFieldText(record, SId(4), kBufferText);
  }
  if (ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel) shown.Show(record, SId(4), "%.5f", ModelOptions().fLamellaWidth);
  if (IsScalingLawModel()) shown.Show(record, SId(4), "%.3e", ScalingExponentShown());
  if (ModelFlags().bMonomerDimer && ModelFlags().bFitMAndS) shown.Show(record, SId(4), "%.5f", ModelOptions().fLogKs);
}

}  // namespace

void FillParamsTransfer(TransferBuffer& record) {
  ShownValues shown;
  FillRecord(record, shown);
}

bool RunParametersDialog(Window* window, TransferBuffer& record, bool* modalBoxOpen) {
  // The state before the first dialog: a Cancel in a dialog reopened after a
  // refusal (a grid the memory cannot hold) goes back to it, not to the refused values.
  const std::vector<float> paramsBefore(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams));
  const std::vector<int> flagsBefore(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags));
  const bool tiBefore = AnalysisSwitches().bFitTINoise, riBefore = AnalysisSwitches().bFitRINoise, baselineBefore = ModelParams().bVaryBaseline;
  const bool linearBefore = ModelParams().bLinearAmplitudes, changedBefore = DataSet().bDataChanged;
  const std::vector<int> includedBefore(std::begin(AnalysisSwitches().pSpeciesLinked), std::end(AnalysisSwitches().pSpeciesLinked));
  const TransferBuffer recordBefore = record;
  const OptionsBefore optionsBefore;
  bool reopened = false;
  for (;;) {
    ModelOptions().bParamsDialogOpened = true;
    MaybePlayInfoSound();
    if (ScanFile().bIntensityData) {
      AnalysisSwitches().bInitialDataProfile = false;
      AnalysisSwitches().bUniformLoading = true;
    }
    UnpackModelParams();
    if (ModelParams().bLinearAmplitudes)
      for (int k = 1; k <= nSpeciesSlots; ++k)
        if (AnalysisSwitches().pSpeciesLinked[k]) ModelParams().pSpeciesAmplitudeFit[k] = 1;

    const TransferBuffer before = record;
    ShownValues shown;
    FillRecord(record, shown);
    const int templateId = SelectParamsTemplate();
    const int shownView = SizeShapeViewOf(record);
    bool calibrationFailed = false;

    if (templateId != 0) {
      std::vector<std::pair<int, bool>> ownBoxes;
      if (templateId == 892) {
        ownBoxes = SaveBorrowedPairBoxes(record);
        FillExtraPairs(record, shown);
      }
      if (modalBoxOpen) *modalBoxOpen = true;
      const int result = RunUntilValid(GetParamsDialogTemplate(templateId), record);
      if (modalBoxOpen) *modalBoxOpen = false;
      if (result != IDOK) {
        record = before;
        if (reopened) {
          std::copy(paramsBefore.begin(), paramsBefore.end(), std::begin(AnalysisSwitches().pParams));
          std::copy(flagsBefore.begin(), flagsBefore.end(), std::begin(AnalysisSwitches().pParamFitFlags));
          AnalysisSwitches().bFitTINoise = tiBefore;
          AnalysisSwitches().bFitRINoise = riBefore;
          ModelParams().bVaryBaseline = baselineBefore;
          ModelParams().bLinearAmplitudes = linearBefore;
          DataSet().bDataChanged = changedBefore;
          std::copy(includedBefore.begin(), includedBefore.end(), std::begin(AnalysisSwitches().pSpeciesLinked));
          optionsBefore.Restore();
          record = recordBefore;
        }
        ModelOptions().bParamsDialogOpened = false;
        // The amplitude boxes marked for the dialog are the vector's again.
        UnpackModelParams();
        if (reopened) AllocSpeciesSignalArrays();
        return false;
      }
      if (templateId == 400 || templateId == 573) ReadC1Nonideal(record);
      if (templateId == 892) ReadExtraPairs(record, shown, ownBoxes);
      if (IsScalingLawModel()) calibrationFailed = !ReadScalingLaw(window, record, shown, templateId);
      ReadDistributionOptions(window, record, shownView);
    }

    ReadBack(record, shown, templateId);

    if (IsContinuousModel()) {
      LammSettings().bMovingHat = ModelFlags().bCvConstantD;
      LammSettings().bClaverie = !ModelFlags().bCvConstantD;
    }
    if ((ModelParams().bVaryMeniscus || ModelParams().bVaryBottom) && !AnalysisSwitches().bVariationRangesAsked) {
      RunFitLimitPrompts(window, FitRangeQuestions{ModelParams().bVaryMeniscus, ModelParams().bVaryBottom});
      AnalysisSwitches().bVariationRangesAsked = true;
    }
    if (DataSet().bEquilibriumMode && AnalysisSwitches().bFitTINoise) {
      AnalysisSwitches().bFitTINoise = false;
      ShowInfo("switching off TI noise - not implemented for sed eq data", "", MB_OK | MB_ICONEXCLAMATION);
    }
    UpdateLinearFitFlags();
    PackModelParams();
    AllocSpeciesSignalArrays();
    const bool gridOk = CheckGridSettings();
    if (!gridOk || calibrationFailed) {
      reopened = true;
      continue;
    }

    DataSetHooks& hooks = GetDataSetHooks();
    if (AnalysisSwitches().bFitTINoise || AnalysisSwitches().bFitRINoise) {
      if (hooks.createNoiseButtons) hooks.createNoiseButtons(window);
    } else if (hooks.deleteNoiseButtons) {
      hooks.deleteNoiseButtons(window);
    }
    return true;
  }
}

}  // namespace tarmic
