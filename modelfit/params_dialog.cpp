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

bool LightScatteringDistribution() { return bDLSRhModel || bDLSDModel || bDLSTimeCourseModel; }
bool BufferOnDiscrete() { return bBufferSedCorrection && IsDiscreteSpeciesModel(); }
bool ElectrophoresisDiscrete() { return bDiscreteModel && bElectrophoresis; }

// Boxes of the species blocks that the current model uses for its own switches;
// the generic fit switches of those boxes are neither shown nor read back.
std::set<int> BorrowedBoxes(int templateId) {
  std::set<int> b;
  if (bFMScalingLaw) b.insert(409);
  if (bCsNonideal || IsNonidealModel()) b.insert(410);
  if (bCsff0OneDiscrete) b.insert({411, 416});
  if (bVanHoldeWeischet) b.insert(416);
  if (bZoneCentrifugation || bZoneLsgModel || IsScalingLawModel() || bMonomerDimer) b.insert(425);
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
  o.ctotFromData = !bCsNonideal || FieldChecked(record, kIdCtotFromData);
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
  return pSpeciesExtra[3] != 0.0f ? pSpeciesExtra[3] : fScalingExponent;
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
    shown.Show(record, kExtraPairFields[i].value, "%.5f", pExtraPairValue[i + 1]);
    SetFieldChecked(record, kExtraPairFields[i].fit, pExtraPairFit[i + 1] != 0);
  }
  SetFieldChecked(record, kIdSyntheticBoundary, bSyntheticBoundary);
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
  bC1Nonideal = FieldChecked(record, kIdC1Nonideal);
  if (!bC1Nonideal) {
    // ks and kd of species 1 are read by nothing then: not floated either.
    pModelScalarFit[1] = pModelScalarFit[2] = 0;
    return;
  }
  // Each answer within its range (a value outside asks again, naming the range).
  float value = fLogKs;
  if (AskFloat(&value, fLogKs, "log10(ks/(mg/ml)):", kNonidealTitle1, kLogKs)) fLogKs = value;
  pModelScalarFit[1] = AskYesNo("fit ks?", kNonidealTitle1) ? 1 : 0;
  value = fLogKd;
  if (AskFloat(&value, fLogKd, "log10(kd/(mg/ml)):", kNonidealTitle1, kLogKd)) fLogKd = value;
  pModelScalarFit[2] = AskYesNo("fit kd?", kNonidealTitle1) ? 1 : 0;
  // The signal per mg/ml is a double: the proposal taken as it stands keeps its bits.
  const float proposed = static_cast<float>(fSignalPerConc);
  value = proposed;
  if (AskFloat(&value, proposed, "Signal per mg/ml:", kNonidealTitle1, kSignalPerConcentration) &&
      value != proposed)
    fSignalPerConc = value;
  bRepulsiveNonideality = true;
}

void ReadExtraPairs(TransferBuffer& record, const ShownValues& shown,
                    const std::vector<std::pair<int, bool>>& ownBoxes) {
  for (std::size_t i = 0; i < kExtraPairFields.size(); ++i) {
    pExtraPairValue[i + 1] = shown.EnteredFloat(record, kExtraPairFields[i].value);
    pExtraPairFit[i + 1] = FieldChecked(record, kExtraPairFields[i].fit) ? 1 : 0;
  }
  bSyntheticBoundary = FieldChecked(record, kIdSyntheticBoundary);
  // The extinctions as the parameter file keeps them (indices 150 to 152).
  auto askExtinction = [](int j, const char* prompt, const char* title) {
    float value = fNonidealExtinction[j];
    if (AskFloat(&value, fNonidealExtinction[j], prompt, title,
                 EntryOf(ParameterFileEntries(), 149 + j).quantity))
      fNonidealExtinction[j] = value;
  };
  if (pExtraPairValue[3] > 0.0f) {  // cload 2
    askExtinction(1, "extinction species 1:", kNonidealTitle1);
    askExtinction(2, "extinction species 2:", "NONIDEAL COMPONENT 2");
  }
  if (pExtraPairValue[7] > 0.0f) askExtinction(3, "extinction species 3:", "NONIDEAL COMPONENT 3");  // cload 3
  for (const auto& [id, on] : ownBoxes) SetFieldChecked(record, id, on);
}

// The scaling-law models: calibration and the no-deconvolution option. Returns
// false when a calibration was asked for and failed.
bool ReadScalingLaw(Window* window, TransferBuffer& record, ShownValues& shown, int templateId) {
  bCalibrateScalingLaw = FieldChecked(record, 425);
  if (templateId == 888) bScalingLawNoDiffusion = FieldChecked(record, 409);
  bool ok = true;
  if (bCalibrateScalingLaw) {
    const int calibrated =
        GetModelFitHooks().calibrateCMPowerLaw ? GetModelFitHooks().calibrateCMPowerLaw(window) : 0;
    if (calibrated) {
      // The calibration stored Ks and bs in the vector: the fields take them over so
      // that the read-back keeps them.
      shown.Show(record, AmplitudeId(3), "%.5f", pParams[kContiSlotFrictionalRatio]);
      shown.Show(record, SId(4), "%.3e", pParams[kContiSlotScalingExponent]);
      SetFieldChecked(record, AmplitudeFitId(3), false);
      bCalibrateScalingLaw = false;
    } else {
      ShowInfo("calibration of scaling law failed", "Parameter Error", MB_OK);
      ok = false;
    }
  }
  if (bScalingLawNoDiffusion && (FieldChecked(record, AmplitudeFitId(3)) || bCalibrateScalingLaw)) {
    ShowInfo("fitting for ks and bs impossible without diffusion deconvolution, switching this off.",
             "ATTENTION", MB_OK);
    SetFieldChecked(record, AmplitudeFitId(3), false);
    bCalibrateScalingLaw = false;
  }
  if (FieldChecked(record, AmplitudeFitId(3)))
    ShowInfo("note: fitting ks will make prior calibration invalid", "ATTENTION", MB_OK);
  SetFieldChecked(record, 425, bCalibrateScalingLaw);
  return ok;
}

void ReadDistributionOptions(Window* window, const TransferBuffer& record, int shownView) {
  const bool lightScattering = LightScatteringDistribution();
  if (!lightScattering && !IsCsff0Model() && !bCsNonideal) return;
  DistributionDialogOptions o = CurrentDistributionOptions(record);
  if (bCsNonideal) o.ctotFromData = FieldChecked(record, kIdCtotFromData);
  if (lightScattering) {
    o.dlsIntegrateLogScale = FieldChecked(record, 448);
    const bool linearD = FieldChecked(record, 450);
    o.dlsGridLinearD = linearD;
    o.dlsGridLogD = !linearD && !bDLSRhModel && !bDLSTimeCourseModel;
    o.dlsGridLogRh = !linearD && (bDLSRhModel || bDLSTimeCourseModel);
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
  const bool zone = bZoneCentrifugation || bZoneLsgModel;
  const float meniscusBefore = fMeniscus;
  const float bottomBefore = fBottom;

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    pSpeciesIncluded[k] = FieldChecked(record, IncludedId(k)) ? 1 : 0;
    // The buffer component's fields hold "buffer": its values stay as they were.
    if (k == 4 && buffer) continue;
    pSpeciesAmplitude[k] = shown.EnteredFloat(record, AmplitudeId(k));
    if (k == 4 && bCsNonideal) {
      fLogKd = shown.EnteredFloat(record, SecondId(4));
    } else if (k == 4 && bCsff0OneDiscrete) {
      pSpeciesExtra[2] = shown.EnteredFloat(record, SecondId(4));
    } else {
      pSpeciesMassOrD[k] = shown.EnteredFloat(record, SecondId(k));
    }
    if (k == 4 && zone) {
      fLamellaWidth = shown.EnteredFloat(record, SId(4));
    } else if (k == 4 && IsScalingLawModel()) {
      pSpeciesExtra[3] = shown.EnteredFloat(record, SId(4));
    } else if (k == 4 && bMonomerDimer && bFitMAndS) {
      fLogKs = shown.EnteredFloat(record, SId(4));
    } else {
      pSpeciesS[k] = shown.EnteredFloat(record, SId(k));
    }
  }
  fBaseline = shown.EnteredFloat(record, 433);
  fMeniscus = shown.EnteredFloat(record, 435);
  if (ElectrophoresisDiscrete()) {
    fElectroLength = shown.EnteredFloat(record, 437);
    fBottom = fMeniscus + fElectroLength;
  } else {
    fBottom = shown.EnteredFloat(record, 437);
  }
  if (Field440IsSignalPerConc()) fSignalPerConc = shown.Entered(record, 440);
  if (bCsNonideal) fLogKs = shown.EnteredFloat(record, 443);
  if (bCsff0OneDiscrete) pSpeciesExtra[1] = shown.EnteredFloat(record, 443);

  // Fit switches, except where a box carries a model option.
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!borrowed.count(AmplitudeFitId(k))) pSpeciesAmplitudeFit[k] = FieldChecked(record, AmplitudeFitId(k));
    if (!borrowed.count(SecondFitId(k))) pSpeciesMassOrDFit[k] = FieldChecked(record, SecondFitId(k));
    if (!borrowed.count(SFitId(k))) pSpeciesSFit[k] = FieldChecked(record, SFitId(k));
  }
  if (bFMScalingLaw) bScalingLawNoDiffusion = FieldChecked(record, 409);
  if (bCsNonideal) pModelScalarFit[1] = FieldChecked(record, 410) ? 1 : 0;
  if (IsNonidealModel()) bRepulsiveNonideality = FieldChecked(record, 410);
  if (bCsff0OneDiscrete) {
    pSpeciesExtraFit[1] = FieldChecked(record, 411) ? 1 : 0;
    pSpeciesExtraFit[2] = FieldChecked(record, 416) ? 1 : 0;
  }
  if (bVanHoldeWeischet) {
    bSlideFrame = !FieldChecked(record, 416);
    bFitBoundaryFractions = FieldChecked(record, 442);
  }
  if (zone) bFitLamellaWidth = FieldChecked(record, 425) ? 1 : 0;
  if (bMonomerDimer && bFitMAndS) bDimerNonideal = FieldChecked(record, 425);
  if (templateId == 325) {
    bCosoluteCoefficients = FieldChecked(record, 411);
    bCsClCoefficients = FieldChecked(record, 424);
  }
  if (templateId == 316) bZoneInverseLayer = FieldChecked(record, 446);
  if (templateId == 871) {
    pSpeciesExtra[1] = shown.EnteredFloat(record, 443);
    pSpeciesExtra[2] = shown.EnteredFloat(record, 438);
    pSpeciesExtraFit[1] = FieldChecked(record, 445) ? 1 : 0;
    pSpeciesExtraFit[2] = FieldChecked(record, 418) ? 1 : 0;
  }

  bBaselineOption = FieldChecked(record, 432) ? 1 : 0;
  bVaryMeniscus = FieldChecked(record, 434);
  bVaryBottom = FieldChecked(record, 436);
  bFitTINoise = FieldChecked(record, 431);
  bFitRINoise = FieldChecked(record, 455);

  if (fMeniscus != meniscusBefore || fBottom != bottomBefore) bDataChanged = true;
}

// The settings outside the parameter vector that the dialog's answers write: a
// Cancel in a dialog reopened after a refusal puts them back with the vector, so
// that no half of the refused answers stays.
class OptionsBefore {
 public:
  OptionsBefore() {
    for (bool* b : Bools()) bools_.push_back(*b);
    for (float* f : Floats()) floats_.push_back(*f);
    signal_ = fSignalPerConc;
    if (GetModelFitHooks().getDistributionOptions) distribution_ = GetModelFitHooks().getDistributionOptions();
  }
  void Restore() const {
    for (std::size_t i = 0; i < bools_.size(); ++i) *Bools()[i] = bools_[i];
    for (std::size_t i = 0; i < floats_.size(); ++i) *Floats()[i] = floats_[i];
    fSignalPerConc = signal_;
    if (distribution_ && GetModelFitHooks().setDistributionOptions)
      GetModelFitHooks().setDistributionOptions(*distribution_);
  }

 private:
  static std::vector<bool*> Bools() {
    return {&bScalingLawNoDiffusion, &bCalibrateScalingLaw, &bRepulsiveNonideality, &bSlideFrame,
            &bFitBoundaryFractions,  &bDimerNonideal,       &bCosoluteCoefficients, &bCsClCoefficients,
            &bZoneInverseLayer,      &bC1Nonideal,          &bSyntheticBoundary,    &bClaverie,
            &bMovingHat};
  }
  static std::vector<float*> Floats() {
    return {&fLogKs,
            &fLogKd,
            &fLamellaWidth,
            &fElectroLength,
            &fNonidealExtinction[1],
            &fNonidealExtinction[2],
            &fNonidealExtinction[3]};
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
      bFitMAndS && !IsSelfAssociationModel() && !conti && !bStokesRadii && !bCumulants;
  auto secondFormat = [masses](int k) {
    return masses && !(bHeteroAssocModel && k == nSpeciesSlots) ? "%.0f" : "%.5f";
  };

  for (int k = 1; k <= nSpeciesSlots; ++k) {
    SetFieldChecked(record, IncludedId(k), pSpeciesIncluded[k] != 0);
    if (!borrowed.count(AmplitudeFitId(k))) SetFieldChecked(record, AmplitudeFitId(k), pSpeciesAmplitudeFit[k] != 0);
    if (!borrowed.count(SecondFitId(k))) SetFieldChecked(record, SecondFitId(k), pSpeciesMassOrDFit[k] != 0);
    if (!borrowed.count(SFitId(k))) SetFieldChecked(record, SFitId(k), pSpeciesSFit[k] != 0);
    shown.Show(record, AmplitudeId(k), "%.5f", pSpeciesAmplitude[k]);
    shown.Show(record, SecondId(k), secondFormat(k), pSpeciesMassOrD[k]);
    shown.Show(record, SId(k), "%.5f", pSpeciesS[k]);
  }
  // Boxes that carry model options.
  if (bFMScalingLaw) SetFieldChecked(record, 409, bScalingLawNoDiffusion);
  if (bCsNonideal) SetFieldChecked(record, 410, pModelScalarFit[1] != 0);
  if (IsNonidealModel()) SetFieldChecked(record, 410, bRepulsiveNonideality);
  if (bCsff0OneDiscrete) {
    SetFieldChecked(record, 411, pSpeciesExtraFit[1] != 0);
    SetFieldChecked(record, 416, pSpeciesExtraFit[2] != 0);
  }
  if (bVanHoldeWeischet) {
    SetFieldChecked(record, 416, !bSlideFrame);
    SetFieldChecked(record, 442, bFitBoundaryFractions);
  }
  if (bZoneCentrifugation || bZoneLsgModel) SetFieldChecked(record, 425, bFitLamellaWidth != 0);
  if (IsScalingLawModel()) SetFieldChecked(record, 425, bCalibrateScalingLaw);
  if (bMonomerDimer && bFitMAndS) SetFieldChecked(record, 425, bDimerNonideal);
  if (templateId == 325) {
    SetFieldChecked(record, 411, bCosoluteCoefficients);
    SetFieldChecked(record, 424, bCsClCoefficients);
  }
  if (templateId == 316) SetFieldChecked(record, 446, bZoneInverseLayer);
  if (templateId == 400 || templateId == 573) SetFieldChecked(record, kIdC1Nonideal, bC1Nonideal);
  if (templateId == 871) {
    SetFieldChecked(record, 445, pSpeciesExtraFit[1] != 0);
    SetFieldChecked(record, 418, pSpeciesExtraFit[2] != 0);
  }
  if (LightScatteringDistribution() || IsCsff0Model() || bCsNonideal) {
    const DistributionDialogOptions o = CurrentDistributionOptions(record);
    if (bCsNonideal) SetFieldChecked(record, kIdCtotFromData, o.ctotFromData);
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

  SetFieldChecked(record, 432, bBaselineOption != 0 || bVaryBaseline);
  SetFieldChecked(record, 434, bVaryMeniscus);
  SetFieldChecked(record, 436, bVaryBottom);
  SetFieldChecked(record, 431, bFitTINoise);
  SetFieldChecked(record, 455, bFitRINoise);
  SetFieldChecked(record, 441, bClaverie);
  SetFieldChecked(record, 444, bMovingHat);

  shown.Show(record, 433, "%.5f", fBaseline);
  shown.Show(record, 435, "%.4f", fMeniscus);
  shown.Show(record, 437, "%.4f",
             ElectrophoresisDiscrete() ? (fElectroLength > 0.0f ? fElectroLength : fBottom - fMeniscus)
                                       : fBottom);
  shown.Show(record, 438, "%.3f", 100.0 * fRefitTolerance);
  shown.Show(record, 439, "%.0f", nLammGridPoints);
  shown.Show(record, 440, "%.4f", Field440IsSignalPerConc() ? fSignalPerConc : dMaxDcOverC);
  if (bCsNonideal) {
    shown.Show(record, 443, "%.3f", fLogKs);
    shown.Show(record, SecondId(4), "%.5f", fLogKd);
  } else if (bCsff0OneDiscrete) {
    shown.Show(record, 443, "%.1f", pSpeciesExtra[1]);
    shown.Show(record, SecondId(4), "%.5f", pSpeciesExtra[2]);
  } else if (templateId == 871) {
    shown.Show(record, 443, "%.1f", pSpeciesExtra[1] != 0.0f ? pSpeciesExtra[1] : 350.0f);
    shown.Show(record, 438, "%.3f", pSpeciesExtra[2] != 0.0f ? pSpeciesExtra[2] : 0.34f);
  } else {
    shown.Show(record, 443, "%.2f", dInitialDt);
  }
  if (BufferOnDiscrete()) {
    SetFieldText(record, AmplitudeId(4), kBufferText);
    SetFieldText(record, SecondId(4), kBufferText);
    SetFieldText(record, SId(4), kBufferText);
  }
  if (bZoneCentrifugation || bZoneLsgModel) shown.Show(record, SId(4), "%.5f", fLamellaWidth);
  if (IsScalingLawModel()) shown.Show(record, SId(4), "%.3e", ScalingExponentShown());
  if (bMonomerDimer && bFitMAndS) shown.Show(record, SId(4), "%.5f", fLogKs);
}

}  // namespace

void FillParamsTransfer(TransferBuffer& record) {
  ShownValues shown;
  FillRecord(record, shown);
}

bool RunParametersDialog(Window* window, TransferBuffer& record, bool* modalBoxOpen) {
  // The state before the first dialog: a Cancel in a dialog reopened after a
  // refusal (a grid the memory cannot hold) goes back to it, not to the refused values.
  const std::vector<float> paramsBefore(std::begin(pParams), std::end(pParams));
  const std::vector<int> flagsBefore(std::begin(pParamFitFlags), std::end(pParamFitFlags));
  const bool tiBefore = bFitTINoise, riBefore = bFitRINoise, baselineBefore = bVaryBaseline;
  const bool linearBefore = bLinearAmplitudes, changedBefore = bDataChanged;
  const std::vector<int> includedBefore(std::begin(pSpeciesIncluded), std::end(pSpeciesIncluded));
  const TransferBuffer recordBefore = record;
  const OptionsBefore optionsBefore;
  bool reopened = false;
  for (;;) {
    bParamsDialogOpened = true;
    MaybePlayInfoSound();
    if (bIntensityData) {
      bExperimentalInitialDistribution = false;
      bConstantInitialDistribution = true;
    }
    UnpackModelParams();
    if (bLinearAmplitudes)
      for (int k = 1; k <= nSpeciesSlots; ++k)
        if (pSpeciesIncluded[k]) pSpeciesAmplitudeFit[k] = 1;

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
          std::copy(paramsBefore.begin(), paramsBefore.end(), std::begin(pParams));
          std::copy(flagsBefore.begin(), flagsBefore.end(), std::begin(pParamFitFlags));
          bFitTINoise = tiBefore;
          bFitRINoise = riBefore;
          bVaryBaseline = baselineBefore;
          bLinearAmplitudes = linearBefore;
          bDataChanged = changedBefore;
          std::copy(includedBefore.begin(), includedBefore.end(), std::begin(pSpeciesIncluded));
          optionsBefore.Restore();
          record = recordBefore;
        }
        bParamsDialogOpened = false;
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
      bMovingHat = bCvConstantD;
      bClaverie = !bCvConstantD;
    }
    if ((bVaryMeniscus || bVaryBottom) && !bVariationRangesAsked) {
      RunFitLimitPrompts(window, FitRangeQuestions{bVaryMeniscus, bVaryBottom});
      bVariationRangesAsked = true;
    }
    if (bEquilibriumMode && bFitTINoise) {
      bFitTINoise = false;
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
    if (bFitTINoise || bFitRINoise) {
      if (hooks.createNoiseButtons) hooks.createNoiseButtons(window);
    } else if (hooks.deleteNoiseButtons) {
      hooks.deleteNoiseButtons(window);
    }
    return true;
  }
}

}  // namespace tarmic
