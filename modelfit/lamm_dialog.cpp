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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  auto& modelFlagsPart = ModelFlags();
  auto sw = [](bool on) { return on ? 1.0f : 0.0f; };
  auto f = [](double v) { return static_cast<float>(v); };
  return {sw(ScanFile().bIntensityData),
          sw(modelFlagsPart.bZoneCentrifugation || modelFlagsPart.bZoneLsgModel),
          lammSettingsPart.fAutoAlgorithmS,
          sw(lammSettingsPart.bShutOffBackDiffusion),
          f(lammSettingsPart.dBackDiffusionLevel),
          sw(lammSettingsPart.bAutoGridSize),
          static_cast<float>(lammSettingsPart.nDefaultGridPoints),
          lammSettingsPart.fPointsPerSigma,
          static_cast<float>(lammSettingsPart.nGridSizeUpper),
          static_cast<float>(lammSettingsPart.nGridSizeLower),
          sw(analysisSwitchesPart.bTimesFromW2t),
          sw(lammSettingsPart.bAutoFEAlgorithm),
          sw(lammSettingsPart.bFixTimeStep),
          sw(lammSettingsPart.bClaverie),
          sw(lammSettingsPart.bMovingHat),
          sw(lammSettingsPart.bAutoSGrid),
          f(lammSettingsPart.dAutoSGridValue),
          lammSettingsPart.fRefitTolerance,
          f(lammSettingsPart.dMaxDcOverC),
          lammSettingsPart.fAutoAlgorithmSOptimized,
          sw(lammSettingsPart.bOptimizeStaticGrid),
          sw(analysisSwitchesPart.bInitialDataProfile),
          sw(lammSettingsPart.bTruncateGrid),
          f(lammSettingsPart.dTruncationLevel),
          sw(analysisSwitchesPart.bScanTimeCorrection),
          sw(lammSettingsPart.bSimulateRadialResolution),
          lammSettingsPart.fScanVelocity,
          lammSettingsPart.fRadialConvolutionRange};
}

// A grid size: the integer part (the entry check keeps it within the table's range).
int GridCount(float value) { return static_cast<int>(std::floor(static_cast<double>(value))); }

// Scan times follow omega^2 t (omega^2 in single precision, as the dialog always
// did) or go back to the recorded times; not for electrophoresis or DLS data.
void ApplyTimeOption() {
  auto& dataSetPart = DataSet();
  if (ScanFile().bElectrophoresisMode || dataSetPart.bDLSData) return;
  for (int i = 1; i <= dataSetPart.nScans && static_cast<std::size_t>(i) < dataSetPart.pScanInfo.size(); ++i) {
    ScanInfo& info = dataSetPart.pScanInfo[static_cast<std::size_t>(i)];
    if (AnalysisSwitches().bTimesFromW2t) {
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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  if (ScanFile().bIntensityData || modelFlagsPart.bZoneCentrifugation || modelFlagsPart.bZoneLsgModel) {
    analysisSwitchesPart.bUniformLoading = true;
    analysisSwitchesPart.bInitialDataProfile = false;
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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  lammSettingsPart.dTruncationLevel = std::pow(10.0, static_cast<double>(FieldValue(r, 643)));
  lammSettingsPart.fAutoAlgorithmS = FieldValue(r, 612);
  lammSettingsPart.fAutoAlgorithmSOptimized = FieldValue(r, 639);
  lammSettingsPart.bTruncateGrid = FieldChecked(r, 641);
  if (GetModelFitHooks().inhomogeneousSolventOn && GetModelFitHooks().inhomogeneousSolventOn())
    ShowNote("make sure Lamm equation option 'dyanmically trucate grid' \n"
             "is not used when macromolecular flotation near meniscus can occur");

  lammSettingsPart.bShutOffBackDiffusion = FieldChecked(r, 613);
  lammSettingsPart.dBackDiffusionLevel = FieldValue(r, 614);
  lammSettingsPart.bAutoGridSize = FieldChecked(r, 615);

  lammSettingsPart.nDefaultGridPoints = GridCount(FieldValue(r, 616));
  lammSettingsPart.nLammGridPoints = lammSettingsPart.nDefaultGridPoints;
  if (lammSettingsPart.nLammGridPoints != before.gridPoints && GetModelFitHooks().resizeSimArrays)
    GetModelFitHooks().resizeSimArrays(lammSettingsPart.nLammGridPoints);

  lammSettingsPart.nGridSizeUpper = GridCount(FieldValue(r, 619));
  lammSettingsPart.nGridSizeLower = GridCount(FieldValue(r, 618));
  lammSettingsPart.fPointsPerSigma = FieldValue(r, 617);

  analysisSwitchesPart.bTimesFromW2t = FieldChecked(r, 620);
  analysisSwitchesPart.bRampRotorSpeed = FieldChecked(r, 621);
  analysisSwitchesPart.bTimesFromW2t = !analysisSwitchesPart.bRampRotorSpeed;
  ApplyTimeOption();

  lammSettingsPart.bCheckAcceleration = FieldChecked(r, 924);
  lammSettingsPart.bOptimizeStaticGrid = FieldChecked(r, 640);
  lammSettingsPart.bAutoFEAlgorithm = FieldChecked(r, 622);
  lammSettingsPart.bFixTimeStep = FieldChecked(r, 623);
  lammSettingsPart.bClaverie = FieldChecked(r, 624);
  lammSettingsPart.bMovingHat = FieldChecked(r, 625);
  // With the automatic choice both algorithm buttons are off: the moving hat stays
  // the algorithm of record.
  lammSettingsPart.bMovingHat = !lammSettingsPart.bClaverie;
  if (lammSettingsPart.bMovingHat != before.movingHat && GetModelFitHooks().simArraysAllocated &&
      GetModelFitHooks().simArraysAllocated() && GetModelFitHooks().freeSimArrays)
    GetModelFitHooks().freeSimArrays();

  lammSettingsPart.bAutoSGrid = FieldChecked(r, 626);
  lammSettingsPart.dAutoSGridValue = FieldValue(r, 627);
  lammSettingsPart.fRefitTolerance = FieldValue(r, 628) * 0.01f;

  if (const double maxDcOverC = FieldValue(r, 629); maxDcOverC != before.maxDcOverC) SetMaxDcOverC(maxDcOverC);

  analysisSwitchesPart.bScanTimeCorrection = FieldChecked(r, 832);
  if (analysisSwitchesPart.bScanTimeCorrection && ScanFile().bFluorescenceData) {
    analysisSwitchesPart.bScanTimeCorrection = false;
    ShowNote("scan time correction for fluorescence data not yet implemented, switching off");
  }
  lammSettingsPart.bSimulateRadialResolution = FieldChecked(r, 833);
  lammSettingsPart.fScanVelocity = FieldValue(r, 835);
  lammSettingsPart.fRadialConvolutionRange = FieldValue(r, 834);

  analysisSwitchesPart.bInitialDataProfile = FieldChecked(r, 630);
  analysisSwitchesPart.bUniformLoading = !analysisSwitchesPart.bInitialDataProfile;
  ForceConstantLoading();
  if (analysisSwitchesPart.bInitialDataProfile) {
    if (analysisSwitchesPart.bRampRotorSpeed) SwitchOffRampRotorSpeed();
    if (analysisSwitchesPart.bTimesFromW2t) SwitchOffTimesFromW2t();
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
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& lammSettingsPart = LammSettings();
  SetFieldValue(r, 612, "%f", lammSettingsPart.fAutoAlgorithmS);
  SetFieldChecked(r, 613, lammSettingsPart.bShutOffBackDiffusion);
  SetFieldValue(r, 614, "%.2e", lammSettingsPart.dBackDiffusionLevel);
  SetFieldChecked(r, 615, lammSettingsPart.bAutoGridSize);
  SetFieldText(r, 616, std::to_string(lammSettingsPart.nDefaultGridPoints));
  SetFieldValue(r, 617, "%.1f", lammSettingsPart.fPointsPerSigma);
  SetFieldText(r, 619, std::to_string(lammSettingsPart.nGridSizeUpper));
  SetFieldText(r, 618, std::to_string(lammSettingsPart.nGridSizeLower));
  SetFieldChecked(r, 620, analysisSwitchesPart.bTimesFromW2t);
  SetFieldChecked(r, 621, !analysisSwitchesPart.bTimesFromW2t);
  SetFieldChecked(r, 924, lammSettingsPart.bCheckAcceleration);
  SetFieldChecked(r, 622, lammSettingsPart.bAutoFEAlgorithm);
  SetFieldChecked(r, 623, lammSettingsPart.bFixTimeStep);
  SetFieldChecked(r, 624, lammSettingsPart.bClaverie && !lammSettingsPart.bAutoFEAlgorithm);
  SetFieldChecked(r, 625, lammSettingsPart.bMovingHat && !lammSettingsPart.bAutoFEAlgorithm);
  SetFieldChecked(r, 626, lammSettingsPart.bAutoSGrid);
  SetFieldValue(r, 627, "%.2f", lammSettingsPart.dAutoSGridValue);
  SetFieldValue(r, 628, "%.3f", 100.0 * lammSettingsPart.fRefitTolerance);
  SetFieldValue(r, 629, "%.2f", lammSettingsPart.dMaxDcOverC);
  SetFieldChecked(r, 630, analysisSwitchesPart.bInitialDataProfile);
  SetFieldValue(r, 639, "%.2f", lammSettingsPart.fAutoAlgorithmSOptimized);
  SetFieldChecked(r, 640, lammSettingsPart.bOptimizeStaticGrid);
  SetFieldChecked(r, 641, lammSettingsPart.bTruncateGrid);
  SetFieldValue(r, 643, "%.2f", std::log10(lammSettingsPart.dTruncationLevel));
  SetFieldChecked(r, 832, analysisSwitchesPart.bScanTimeCorrection);
  SetFieldChecked(r, 833, lammSettingsPart.bSimulateRadialResolution);
  SetFieldValue(r, 834, "%.4f", lammSettingsPart.fRadialConvolutionRange);
  SetFieldValue(r, 835, "%.2f", lammSettingsPart.fScanVelocity);
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
  auto& lammSettingsPart = LammSettings();
  ForceConstantLoading();
  const std::vector<float> before = DefaultsVector();
  bool applied = false;
  for (;;) {
    const Remembered remembered{lammSettingsPart.bMovingHat, lammSettingsPart.bAutoFEAlgorithm, lammSettingsPart.bFixTimeStep, lammSettingsPart.dMaxDcOverC, lammSettingsPart.nLammGridPoints};
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
    if (remembered.movingHat && !remembered.autoFE && remembered.fixTimeStep && !lammSettingsPart.bMovingHat &&
        lammSettingsPart.bFixTimeStep) {
      lammSettingsPart.bFixTimeStep = false;
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
