#include "modelfit/lamm_dialog.h"

#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/modelfit_hooks.h"
#include "modelfit/transfer_fields.h"
#include "numerics/hydrodynamics.h"
#include "numerics/value_ranges.h"
#include "platform/backend.h"
#include "prompts/dialog_question.h"
#include "resources/dialogs.h"
#include "services/engine_notice.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/scan_file.h"

namespace tarmic {

namespace {

constexpr const char* kAppCaption = "TARMIC";

void ShowNote(const char* text) {
  RaiseBox(text, kAppCaption, MB_OK);
}

// The settings whose change is offered as new defaults, in a fixed order; the
// "check acceleration" switch is not among them. Compared in single precision,
// the precision in which the dialog's texts are read.
std::vector<float> DefaultsVector() {
  auto sw = [](bool on) { return on ? 1.0f : 0.0f; };
  auto f = [](double v) { return static_cast<float>(v); };
  return {sw(bIntensityData),
          sw(bZoneCentrifugation || bZoneLsgModel),
          fAutoAlgorithmS,
          sw(bShutOffBackDiffusion),
          f(dBackDiffusionLevel),
          sw(bAutoGridSize),
          static_cast<float>(nDefaultGridPoints),
          fPointsPerSigma,
          static_cast<float>(nGridSizeUpper),
          static_cast<float>(nGridSizeLower),
          sw(bTimesFromW2t),
          sw(bAutoFEAlgorithm),
          sw(bFixTimeStep),
          sw(bClaverie),
          sw(bMovingHat),
          sw(bAutoSGrid),
          f(dAutoSGridValue),
          fRefitTolerance,
          f(dMaxDcOverC),
          fAutoAlgorithmSOptimized,
          sw(bOptimizeStaticGrid),
          sw(bExperimentalInitialDistribution),
          sw(bTruncateGrid),
          f(dTruncationLevel),
          sw(bSimulateTimeResolution),
          sw(bSimulateRadialResolution),
          fScanVelocity,
          fRadialConvolutionRange};
}

// A grid size: the integer part (the entry check keeps it within the table's range).
int GridCount(float value) { return static_cast<int>(std::floor(static_cast<double>(value))); }

// Scan times follow omega^2 t (omega^2 in single precision, as the dialog always
// did) or go back to the recorded times; not for electrophoresis or DLS data.
void ApplyTimeOption() {
  if (bElectrophoresisMode || bDLSData) return;
  for (int i = 1; i <= nScans && static_cast<std::size_t>(i) < pScanInfo.size(); ++i) {
    ScanInfo& info = pScanInfo[static_cast<std::size_t>(i)];
    if (bTimesFromW2t) {
      const float omega = info.rpm * static_cast<float>(kTwoPiOver60);
      const float omega2 = omega * omega;
      if (omega2 > 0.0f) info.time = info.omega2t / omega2;
    } else {
      info.time = info.recordedTime;
    }
  }
  NoteScanDataChanged();
}

void ForceConstantLoading() {
  if (bIntensityData || bZoneCentrifugation || bZoneLsgModel) {
    bConstantInitialDistribution = true;
    bExperimentalInitialDistribution = false;
  }
}

struct Remembered {
  bool movingHat;
  bool autoFE;
  bool fixTimeStep;
  double maxDcOverC;
  int gridPoints;
};

void ReadBack(const TransferBuffer& r, const Remembered& before) {
  dTruncationLevel = std::pow(10.0, static_cast<double>(FieldValue(r, 643)));
  fAutoAlgorithmS = FieldValue(r, 612);
  fAutoAlgorithmSOptimized = FieldValue(r, 639);
  bTruncateGrid = FieldChecked(r, 641);
  if (GetModelFitHooks().inhomogeneousSolventOn && GetModelFitHooks().inhomogeneousSolventOn())
    ShowNote("make sure Lamm equation option 'dyanmically trucate grid' \n"
             "is not used when macromolecular flotation near meniscus can occur");

  bShutOffBackDiffusion = FieldChecked(r, 613);
  dBackDiffusionLevel = FieldValue(r, 614);
  bAutoGridSize = FieldChecked(r, 615);

  nDefaultGridPoints = GridCount(FieldValue(r, 616));
  nLammGridPoints = nDefaultGridPoints;
  if (nLammGridPoints != before.gridPoints && GetModelFitHooks().resizeSimArrays)
    GetModelFitHooks().resizeSimArrays(nLammGridPoints);

  nGridSizeUpper = GridCount(FieldValue(r, 619));
  nGridSizeLower = GridCount(FieldValue(r, 618));
  fPointsPerSigma = FieldValue(r, 617);

  bTimesFromW2t = FieldChecked(r, 620);
  bRampRotorSpeed = FieldChecked(r, 621);
  bTimesFromW2t = !bRampRotorSpeed;
  ApplyTimeOption();

  bCheckAcceleration = FieldChecked(r, 924);
  bOptimizeStaticGrid = FieldChecked(r, 640);
  bAutoFEAlgorithm = FieldChecked(r, 622);
  bFixTimeStep = FieldChecked(r, 623);
  bClaverie = FieldChecked(r, 624);
  bMovingHat = FieldChecked(r, 625);
  // With the automatic choice both algorithm buttons are off: the moving hat stays
  // the algorithm of record.
  bMovingHat = !bClaverie;
  if (bMovingHat != before.movingHat && GetModelFitHooks().simArraysAllocated &&
      GetModelFitHooks().simArraysAllocated() && GetModelFitHooks().freeSimArrays)
    GetModelFitHooks().freeSimArrays();

  bAutoSGrid = FieldChecked(r, 626);
  dAutoSGridValue = FieldValue(r, 627);
  fRefitTolerance = FieldValue(r, 628) * 0.01f;

  if (const double maxDcOverC = FieldValue(r, 629); maxDcOverC != before.maxDcOverC) SetMaxDcOverC(maxDcOverC);

  bSimulateTimeResolution = FieldChecked(r, 832);
  if (bSimulateTimeResolution && bFluorescenceData) {
    bSimulateTimeResolution = false;
    ShowNote("scan time correction for fluorescence data not yet implemented, switching off");
  }
  bSimulateRadialResolution = FieldChecked(r, 833);
  fScanVelocity = FieldValue(r, 835);
  fRadialConvolutionRange = FieldValue(r, 834);

  bExperimentalInitialDistribution = FieldChecked(r, 630);
  bConstantInitialDistribution = !bExperimentalInitialDistribution;
  ForceConstantLoading();
  if (bExperimentalInitialDistribution) {
    if (bRampRotorSpeed) SwitchOffRampRotorSpeed();
    if (bTimesFromW2t) SwitchOffTimesFromW2t();
  }
}

int RunUntilValid(TransferBuffer& record) {
  if (!HasBackend()) return IDCANCEL;
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kLammParamsDialogId));
  for (;;) {
    const int result = RaiseDialog(dialog, record);
    if (result != IDOK) return result;
    if (LammPBoxCanClose(record)) return IDOK;
  }
}

}  // namespace

void InitLammParamsTransfer(TransferBuffer& record) {
  record.text.clear();
  record.checked.clear();
  for (const TransferControl& c : LammDialogControls()) {
    if (c.kind == ControlKind::Edit) {
      record.text[c.id] = std::string();
    } else {
      record.checked[c.id] = false;
    }
  }
}

void FillLammParamsTransfer(TransferBuffer& r) {
  SetFieldValue(r, 612, "%f", fAutoAlgorithmS);
  SetFieldChecked(r, 613, bShutOffBackDiffusion);
  SetFieldValue(r, 614, "%.2e", dBackDiffusionLevel);
  SetFieldChecked(r, 615, bAutoGridSize);
  SetFieldText(r, 616, std::to_string(nDefaultGridPoints));
  SetFieldValue(r, 617, "%.1f", fPointsPerSigma);
  SetFieldText(r, 619, std::to_string(nGridSizeUpper));
  SetFieldText(r, 618, std::to_string(nGridSizeLower));
  SetFieldChecked(r, 620, bTimesFromW2t);
  SetFieldChecked(r, 621, !bTimesFromW2t);
  SetFieldChecked(r, 924, bCheckAcceleration);
  SetFieldChecked(r, 622, bAutoFEAlgorithm);
  SetFieldChecked(r, 623, bFixTimeStep);
  SetFieldChecked(r, 624, bClaverie && !bAutoFEAlgorithm);
  SetFieldChecked(r, 625, bMovingHat && !bAutoFEAlgorithm);
  SetFieldChecked(r, 626, bAutoSGrid);
  SetFieldValue(r, 627, "%.2f", dAutoSGridValue);
  SetFieldValue(r, 628, "%.3f", 100.0 * fRefitTolerance);
  SetFieldValue(r, 629, "%.2f", dMaxDcOverC);
  SetFieldChecked(r, 630, bExperimentalInitialDistribution);
  SetFieldValue(r, 639, "%.2f", fAutoAlgorithmSOptimized);
  SetFieldChecked(r, 640, bOptimizeStaticGrid);
  SetFieldChecked(r, 641, bTruncateGrid);
  SetFieldValue(r, 643, "%.2f", std::log10(dTruncationLevel));
  SetFieldChecked(r, 832, bSimulateTimeResolution);
  SetFieldChecked(r, 833, bSimulateRadialResolution);
  SetFieldValue(r, 834, "%.4f", fRadialConvolutionRange);
  SetFieldValue(r, 835, "%.2f", fScanVelocity);
}

std::string LammFieldsRefusal(const TransferBuffer& record) {
  // Each field named as the dialog labels it.
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kLammParamsDialogId));
  if (std::string why = FieldsRefusal(record, LammSettingsEntries(), LammDialogFields(), &dialog); !why.empty())
    return why;
  std::vector<float> settings = LammSettingsVector();
  for (const DialogField& f : LammDialogFields())
    settings[static_cast<std::size_t>(f.entry)] = static_cast<float>(EntryValueOfField(f, FieldValue(record, f.id)));
  return LammSettingsRefusal(settings);
}

bool LammPBoxCanClose(const TransferBuffer& record) {
  // Every edit is judged by its row: a text that is no number, or a number out of
  // range, is refused with a sentence naming the field and its range.
  const std::string refusal = LammFieldsRefusal(record);
  if (refusal.empty()) return true;
  if (HasBackend()) {
    GetBackend().Beep(kBeepAsterisk);
    RaiseBox(refusal, "Input Error", MB_OK);
  }
  return false;
}

bool RunLammParametersDialog(Window* window, TransferBuffer& record, bool* modalBoxOpen) {
  ForceConstantLoading();
  const std::vector<float> before = DefaultsVector();
  bool applied = false;
  for (;;) {
    const Remembered remembered{bMovingHat, bAutoFEAlgorithm, bFixTimeStep, dMaxDcOverC, nLammGridPoints};
    ForceConstantLoading();
    FillLammParamsTransfer(record);
    if (modalBoxOpen) *modalBoxOpen = true;
    const int result = RunUntilValid(record);
    if (modalBoxOpen) *modalBoxOpen = false;
    if (result != IDOK) {
      if (!applied) return false;
      break;
    }
    ReadBack(record, remembered);
    applied = true;
    // A fixed step belongs to the moving hat: leaving it for the static grid drops
    // the fixed step, and the dialog shows the result once more.
    if (remembered.movingHat && !remembered.autoFE && remembered.fixTimeStep && !bMovingHat &&
        bFixTimeStep) {
      bFixTimeStep = false;
      ShowNote("switching off fixed dt - confirm");
      continue;
    }
    break;
  }
  if (DefaultsVector() != before && HasBackend() &&
      RaiseBox("save new parameters as default? (reset defaults by deleting the file "
               "'tarmiclammparams.ini' and restarting TARMIC)",
               "LAMM EQUATION PARAMETERS", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO) == IDYES)
    SaveLammEqParameterPreferences(window);
  return true;
}

}  // namespace tarmic
