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
  return {sw(ScanFile().bIntensityData),
          sw(ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel),
          LammSettings().fAutoAlgorithmS,
          sw(LammSettings().bShutOffBackDiffusion),
          f(LammSettings().dBackDiffusionLevel),
          sw(LammSettings().bAutoGridSize),
          static_cast<float>(LammSettings().nDefaultGridPoints),
          LammSettings().fPointsPerSigma,
          static_cast<float>(LammSettings().nGridSizeUpper),
          static_cast<float>(LammSettings().nGridSizeLower),
          sw(AnalysisSwitches().bTimesFromW2t),
          sw(LammSettings().bAutoFEAlgorithm),
          sw(LammSettings().bFixTimeStep),
          sw(LammSettings().bClaverie),
          sw(LammSettings().bMovingHat),
          sw(LammSettings().bAutoSGrid),
          f(LammSettings().dAutoSGridValue),
          LammSettings().fRefitTolerance,
          f(LammSettings().dMaxDcOverC),
          LammSettings().fAutoAlgorithmSOptimized,
          sw(LammSettings().bOptimizeStaticGrid),
          sw(AnalysisSwitches().bInitialDataProfile),
          sw(LammSettings().bTruncateGrid),
          f(LammSettings().dTruncationLevel),
          sw(AnalysisSwitches().bScanTimeCorrection),
          sw(LammSettings().bSimulateRadialResolution),
          LammSettings().fScanVelocity,
          LammSettings().fRadialConvolutionRange};
}

// A grid size: the integer part (the entry check keeps it within the table's range).
int GridCount(float value) { return static_cast<int>(std::floor(static_cast<double>(value))); }

// Scan times follow omega^2 t (omega^2 in single precision, as the dialog always
// did) or go back to the recorded times; not for electrophoresis or DLS data.
void ApplyTimeOption() {
  if (ScanFile().bElectrophoresisMode || DataSet().bDLSData) return;
  for (int i = 1; i <= DataSet().nScans && static_cast<std::size_t>(i) < DataSet().pScanInfo.size(); ++i) {
    ScanInfo& info = DataSet().pScanInfo[static_cast<std::size_t>(i)];
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
  if (ScanFile().bIntensityData || ModelFlags().bZoneCentrifugation || ModelFlags().bZoneLsgModel) {
    AnalysisSwitches().bUniformLoading = true;
    AnalysisSwitches().bInitialDataProfile = false;
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
  LammSettings().dTruncationLevel = std::pow(10.0, static_cast<double>(FieldValue(r, 643)));
  LammSettings().fAutoAlgorithmS = FieldValue(r, 612);
  LammSettings().fAutoAlgorithmSOptimized = FieldValue(r, 639);
  LammSettings().bTruncateGrid = FieldChecked(r, 641);
  if (GetModelFitHooks().inhomogeneousSolventOn && GetModelFitHooks().inhomogeneousSolventOn())
    ShowNote("make sure Lamm equation option 'dyanmically trucate grid' \n"
             "is not used when macromolecular flotation near meniscus can occur");

  LammSettings().bShutOffBackDiffusion = FieldChecked(r, 613);
  LammSettings().dBackDiffusionLevel = FieldValue(r, 614);
  LammSettings().bAutoGridSize = FieldChecked(r, 615);

  LammSettings().nDefaultGridPoints = GridCount(FieldValue(r, 616));
  LammSettings().nLammGridPoints = LammSettings().nDefaultGridPoints;
  if (LammSettings().nLammGridPoints != before.gridPoints && GetModelFitHooks().resizeSimArrays)
    GetModelFitHooks().resizeSimArrays(LammSettings().nLammGridPoints);

  LammSettings().nGridSizeUpper = GridCount(FieldValue(r, 619));
  LammSettings().nGridSizeLower = GridCount(FieldValue(r, 618));
  LammSettings().fPointsPerSigma = FieldValue(r, 617);

  AnalysisSwitches().bTimesFromW2t = FieldChecked(r, 620);
  AnalysisSwitches().bRampRotorSpeed = FieldChecked(r, 621);
  AnalysisSwitches().bTimesFromW2t = !AnalysisSwitches().bRampRotorSpeed;
  ApplyTimeOption();

  LammSettings().bCheckAcceleration = FieldChecked(r, 924);
  LammSettings().bOptimizeStaticGrid = FieldChecked(r, 640);
  LammSettings().bAutoFEAlgorithm = FieldChecked(r, 622);
  LammSettings().bFixTimeStep = FieldChecked(r, 623);
  LammSettings().bClaverie = FieldChecked(r, 624);
  LammSettings().bMovingHat = FieldChecked(r, 625);
  // With the automatic choice both algorithm buttons are off: the moving hat stays
  // the algorithm of record.
  LammSettings().bMovingHat = !LammSettings().bClaverie;
  if (LammSettings().bMovingHat != before.movingHat && GetModelFitHooks().simArraysAllocated &&
      GetModelFitHooks().simArraysAllocated() && GetModelFitHooks().freeSimArrays)
    GetModelFitHooks().freeSimArrays();

  LammSettings().bAutoSGrid = FieldChecked(r, 626);
  LammSettings().dAutoSGridValue = FieldValue(r, 627);
  LammSettings().fRefitTolerance = FieldValue(r, 628) * 0.01f;

  if (const double maxDcOverC = FieldValue(r, 629); maxDcOverC != before.maxDcOverC) SetMaxDcOverC(maxDcOverC);

  AnalysisSwitches().bScanTimeCorrection = FieldChecked(r, 832);
  if (AnalysisSwitches().bScanTimeCorrection && ScanFile().bFluorescenceData) {
    AnalysisSwitches().bScanTimeCorrection = false;
    ShowNote("scan time correction for fluorescence data not yet implemented, switching off");
  }
  LammSettings().bSimulateRadialResolution = FieldChecked(r, 833);
  LammSettings().fScanVelocity = FieldValue(r, 835);
  LammSettings().fRadialConvolutionRange = FieldValue(r, 834);

  AnalysisSwitches().bInitialDataProfile = FieldChecked(r, 630);
  AnalysisSwitches().bUniformLoading = !AnalysisSwitches().bInitialDataProfile;
  ForceConstantLoading();
  if (AnalysisSwitches().bInitialDataProfile) {
    if (AnalysisSwitches().bRampRotorSpeed) SwitchOffRampRotorSpeed();
    if (AnalysisSwitches().bTimesFromW2t) SwitchOffTimesFromW2t();
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
  SetFieldValue(r, 612, "%f", LammSettings().fAutoAlgorithmS);
  SetFieldChecked(r, 613, LammSettings().bShutOffBackDiffusion);
  SetFieldValue(r, 614, "%.2e", LammSettings().dBackDiffusionLevel);
  SetFieldChecked(r, 615, LammSettings().bAutoGridSize);
  SetFieldText(r, 616, std::to_string(LammSettings().nDefaultGridPoints));
  SetFieldValue(r, 617, "%.1f", LammSettings().fPointsPerSigma);
  SetFieldText(r, 619, std::to_string(LammSettings().nGridSizeUpper));
  SetFieldText(r, 618, std::to_string(LammSettings().nGridSizeLower));
  SetFieldChecked(r, 620, AnalysisSwitches().bTimesFromW2t);
  SetFieldChecked(r, 621, !AnalysisSwitches().bTimesFromW2t);
  SetFieldChecked(r, 924, LammSettings().bCheckAcceleration);
  SetFieldChecked(r, 622, LammSettings().bAutoFEAlgorithm);
  SetFieldChecked(r, 623, LammSettings().bFixTimeStep);
  SetFieldChecked(r, 624, LammSettings().bClaverie && !LammSettings().bAutoFEAlgorithm);
  SetFieldChecked(r, 625, LammSettings().bMovingHat && !LammSettings().bAutoFEAlgorithm);
  SetFieldChecked(r, 626, LammSettings().bAutoSGrid);
  SetFieldValue(r, 627, "%.2f", LammSettings().dAutoSGridValue);
  SetFieldValue(r, 628, "%.3f", 100.0 * LammSettings().fRefitTolerance);
  SetFieldValue(r, 629, "%.2f", LammSettings().dMaxDcOverC);
  SetFieldChecked(r, 630, AnalysisSwitches().bInitialDataProfile);
  SetFieldValue(r, 639, "%.2f", LammSettings().fAutoAlgorithmSOptimized);
  SetFieldChecked(r, 640, LammSettings().bOptimizeStaticGrid);
  SetFieldChecked(r, 641, LammSettings().bTruncateGrid);
  SetFieldValue(r, 643, "%.2f", std::log10(LammSettings().dTruncationLevel));
  SetFieldChecked(r, 832, AnalysisSwitches().bScanTimeCorrection);
  SetFieldChecked(r, 833, LammSettings().bSimulateRadialResolution);
  SetFieldValue(r, 834, "%.4f", LammSettings().fRadialConvolutionRange);
  SetFieldValue(r, 835, "%.2f", LammSettings().fScanVelocity);
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
    const Remembered remembered{LammSettings().bMovingHat, LammSettings().bAutoFEAlgorithm, LammSettings().bFixTimeStep, LammSettings().dMaxDcOverC, LammSettings().nLammGridPoints};
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
    if (remembered.movingHat && !remembered.autoFE && remembered.fixTimeStep && !LammSettings().bMovingHat &&
        LammSettings().bFixTimeStep) {
      LammSettings().bFixTimeStep = false;
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
