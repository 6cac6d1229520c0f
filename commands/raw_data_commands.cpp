// The raw-data commands of the loading options: the tools that repair the loaded
// scans in memory (each followed by the offer to save the changed data), the
// writers of new scan files, the averaging of scans, the initial-distribution
// profile, the exclusion of the worst scan, and the constants of the vbar(M) and
// power-law s(M) relations.
//
// A tool changes the loaded scans only when its questions were all answered; a
// cancelled question leaves the data as they were.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "app/menu_state.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "modelfit/model_params.h"
#include "services/answer_policy.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"
#include "services/run_switches.h"
#include "numerics/solvent_constants.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "plot/data_plots.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/file_list.h"
#include "scandata/initial_data.h"
#include "scandata/offset_tools.h"
#include "scandata/radial_grid.h"
#include "scandata/raw_data_tools.h"
#include "scandata/scan_file.h"
#include "scandata/scan_loading.h"
#include "scandata/text_io.h"
#include "scandata/time_stamps.h"
#include "resources/command_ids.h"

namespace tarmic {

namespace {

// Reference positions of the grey-black transitions of a correctly calibrated
// interference image, cm.
constexpr float kLeftTransition = 5.85f;
constexpr float kRightTransition = 7.15f;

bool NoScans(TXLAWindow& window, const char* caption) {
  if (DataSet().nScans > 0) return false;
  CommandMessageBox(window, "please load scans first", caption, MB_OK);
  return true;
}

// A file dialog with bModalBoxOpen set while it is open; empty when cancelled.
std::string SaveDialog(TXLAWindow& window, const std::string& title, const std::string& directory,
                       const std::string& name) {
  FileDialogOptions options;
  options.title = title;
  options.directory = directory;
  options.defaultName = name;
  return AskSaveFilePath(window, options).value_or(std::string());
}

std::string OpenDialog(TXLAWindow& window, const std::string& title) {
  FileDialogOptions options;
  options.title = title;
  options.filter = kScanFileFilter;
  options.directory = DataSet().szDataDirectory;
  const bool previous = window.bModalBoxOpen;
  window.bModalBoxOpen = true;
  const std::vector<std::string> files = GetBackend().OpenFileDialog(options);
  window.bModalBoxOpen = previous;
  return files.empty() ? std::string() : files.front();
}

// Two radii r1 <= r2 (cm) under one caption, positions of a scan; r2 at least
// minSpan beyond r1. False when either was cancelled.
// bounds: where the radii may lie (a region of the data: the data's radii).
bool AskRange(TXLAWindow& window, float* r1, float* r2, float default1, float default2,
              const char* prompt1, const char* prompt2, const char* caption, double minSpan = 0.0,
              ValueRange bounds = kRadiusQuantity.range) {
  bounds.low = std::max(bounds.low, kRadiusQuantity.range.low);
  bounds.high = std::min(bounds.high, kRadiusQuantity.range.high);
  if (!AskFloat(window, r1, default1, prompt1, caption, {"first radius", "cm", bounds})) return false;
  // The second prompt offers a value it accepts: its default, brought within the
  // range the first answer leaves (a default left of the first radius was shown as
  // an empty field).
  const ValueRange second = Closed(std::max(bounds.low, *r1 + minSpan), bounds.high);
  const float offered = static_cast<float>(std::clamp(static_cast<double>(default2), second.low, std::max(second.low, second.high)));
  return AskFloat(window, r2, offered, prompt2, caption, {"second radius", "cm", second});
}

float FirstRadius() { return DataSet().nScans > 0 ? DataSet().ppRadius[1][1] : 0.0f; }
float LastRadius() { return DataSet().nScans > 0 ? DataSet().ppRadius[1][DataSet().pnPoints[1]] : 0.0f; }
// The radii of the (first) scan, where a region of the data lies.
ValueRange DataRadii() { return Closed(FirstRadius(), LastRadius()); }

// The refusal of DLS data: the info sound and "not implemented for DLS data"
// (caption "ERROR").
void ShowNotForDLSData(TXLAWindow& window) {
  PlayInfoSound();
  CommandMessageBox(window, "not implemented for DLS data", "ERROR", MB_OK);
}

// Refuses DLS data (true, after the refusal was shown); false for other data.
bool RefuseDLSData(TXLAWindow& window) {
  if (!DataSet().bDLSData) return false;
  ShowNotForDLSData(window);
  return true;
}

// Shows what a raw-data tool reported; true when it was done.
bool ShowOutcome(TXLAWindow& window, const RawToolOutcome& outcome) {
  switch (outcome.status) {
    case RawToolStatus::Done:
      // A note on the files read (a set of their folder that could not be finished).
      if (!outcome.message.empty()) {
        PlayInfoSound();
        CommandMessageBox(window, outcome.message, "ATTENTION", MB_OK | MB_ICONINFORMATION);
      }
      return true;
    case RawToolStatus::NotForDLSData:
      ShowNotForDLSData(window);
      return false;
    case RawToolStatus::Refused:
    case RawToolStatus::FilesExist:
      if (!outcome.message.empty()) ShowError(outcome.message, false);
      return false;
  }
  return false;
}

// Runs a writer: existing files are replaced only after the writer's question was
// answered Yes (the writer is then called again with overwrite); a refusal is
// shown. True when every file was written.
bool RunWriter(TXLAWindow& window, const std::function<RawToolOutcome(bool overwrite)>& write) {
  RawToolOutcome outcome = write(false);
  if (outcome.status == RawToolStatus::FilesExist) {
    if (!MayReplace(window, outcome.targets)) return false;
    outcome = write(true);
  }
  return ShowOutcome(window, outcome);
}

// After an in-memory tool: the plots show the new data and the changed scans may
// be saved.
void ShowChangedDataAndOfferSave(TXLAWindow& window, const char* question = "save new data?") {
  RedrawDataPlot(true);
  RedrawResidualPlot(true);
  PlayOkSound();
  window.RepaintMain();
  if (ConfirmChange(window, question, "")) window.CmSaveRawDataSet();
}

}  // namespace

// ---------------------------------------------------------------- in memory

void TXLAWindow::CmSubtractBlankScan() {
  if (RefuseDLSData(*this) || NoScans(*this, "SUBTRACT BLANK")) return;
  const std::string path = OpenDialog(*this, "select blank scan");
  if (path.empty()) return;
  if (ShowOutcome(*this, SubtractBlankScan(path))) ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmAddSimulatedData() {
  if (RefuseDLSData(*this) || NoScans(*this, "ADD OR SUBTRACT SCANS")) return;
  if (!FitOfLoadedData()) {
    CommandMessageBox(*this, "please calculate a model first", "ADD OR SUBTRACT SCANS", MB_OK);
    return;
  }
  const int answer = CommandMessageBox(*this, "add (YES) or subtract (NO) the simulated data?",
                                       "ADD OR SUBTRACT SCANS",
                                       MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3);
  if (answer != IDYES && answer != IDNO) return;
  if (ShowOutcome(*this, AddSimulatedSignal(answer == IDYES ? 1.0f : -1.0f)))
    ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmInvertRawData() {
  if (DataSet().nScans < 1) return;
  if (ShowOutcome(*this, ScaleSignals(-1.0f))) ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmRecalibrateRadius() {
  if (DataSet().nScans < 1) return;
  CommandMessageBox(*this,
                    "correct radial calibration in interference requires location of the \n "
                    "transition from fringes to grey in the counterbalance image.\nIf the "
                    "transition grey-black has been used erroneously, please \nenter the "
                    "estimated radial positions of these points: \n(accept defaults if not known)",
                    "RECALIBRATE RADIUS", MB_OK);
  float left = 0.0f, right = 0.0f;
  // Two transitions at one radius would map every radius onto one.
  if (!AskRange(*this, &left, &right, 5.9f, 7.1f, "left transition grey-black was at",
                "right transition grey-black was at", "RECALIBRATE RADIUS", 0.01))
    return;
  // r -> a r + b maps the reference transitions onto the entered ones.
  const float a = (right - left) / (kRightTransition - kLeftTransition);
  const float b = left - a * kLeftTransition;
  if (ShowOutcome(*this, TransformRadii(a, b))) ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmTimeOffset() {
  if (DataSet().nScans < 1) return;
  CommandMessageBox(*this, "correct time and w^2t entry of file (e.g. after power failure)",
                    "TIME OFFSET", MB_OK);
  float dt = 0.0f;
  if (!AskFloat(*this, &dt, 0.0f, "elapsed time offset (sec)", "TIME OFFSET",
                {"elapsed time offset", "s", Closed(-kMaxRunTime, kMaxRunTime)}))
    return;
  const double omega = kTwoPiOver60 * DataSet().pScanInfo[1].rpm;
  float dw2t = 0.0f;
  // The largest w^2t of a run: the fastest rotor for the longest time.
  const double maxW2t = kMaxRunTime * (kTwoPiOver60 * kMaxRotorSpeed) * (kTwoPiOver60 * kMaxRotorSpeed);
  if (!AskFloat(*this, &dw2t, static_cast<float>(omega * omega * dt), "elapsed w^2t offset (rad^2/sec)",
                "TIME OFFSET", {"elapsed w^2t offset", "rad^2/s", Closed(-maxW2t, maxW2t)}))
    return;
  ShiftScanTimes(dt, dw2t);
  PlayOkSound();
  RepaintMain();
  if (ConfirmChange(*this, "save new data?", "")) CmSaveRawDataSet();
}

// Every scan's times and omega^2 t set afresh from the files' modification times
// relative to a reference scan the user picks (after a clock failure).
void TXLAWindow::CmRestoreTimesFromFiles() {
  bModalBoxOpen = true;
  ResetTimesFromFileTimes(&GetHandle(), FrontEndAnswers());
  bModalBoxOpen = false;
  RepaintMain();
}

void TXLAWindow::CmAddNoiseToData() {
  if (RefuseDLSData(*this) || NoScans(*this, "ADD NOISE TO DATA")) return;
  float noise = 0.0f, factor = 1.0f;
  if (!AskFloat(*this, &noise, 0.0f, "std of noise to be added", "ADD NOISE TO DATA", kNoiseLevel)) return;
  if (!(noise >= 0.0f)) {
    CommandMessageBox(*this, "the noise must not be negative", "ADD NOISE TO DATA", MB_OK);
    return;
  }
  // A factor of 0 would erase the signals.
  if (!AskFloat(*this, &factor, 1.0f, "factor to multiply signals", "SCALE SIGNAL",
                {"factor to multiply signals", "", Closed(1e-6, 1e6)}))
    return;
  if (ShowOutcome(*this, AddNoiseToData(noise, factor))) ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmExcludeRegion() {
  if (RefuseDLSData(*this) || NoScans(*this, "EXCLUDE REGION")) return;
  float r1 = 0.0f, r2 = 0.0f;
  if (!AskRange(*this, &r1, &r2, FirstRadius(), FirstRadius(), "exclude from radius (cm)",
                "to radius (cm)", "EXCLUDE REGION", 0.0, DataRadii()))
    return;
  if (r2 < r1 || r1 < FirstRadius() || r2 > LastRadius()) {
    CommandMessageBox(*this, Format("the region must lie within %.4f and %.4f cm", FirstRadius(),
                                    LastRadius()),
                      "EXCLUDE REGION", MB_OK);
    return;
  }
  if (ShowOutcome(*this, ExcludeRadialRange(r1, r2))) ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmMirrorRawData() {
  if (RefuseDLSData(*this) || NoScans(*this, "MIRROR DATA")) return;
  float r1 = 0.0f, r2 = 0.0f;
  if (!AskRange(*this, &r1, &r2, FirstRadius(), LastRadius(),
                "mirror radii r -> r1 + r2 - r; enter r1 (cm)", "enter r2 (cm)", "MIRROR DATA"))
    return;
  const int sign = CommandMessageBox(*this, "change the sign of the signal?", "MIRROR DATA",
                                     MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3);
  if (sign != IDYES && sign != IDNO) return;
  if (ShowOutcome(*this, MirrorRawData(r1, r2, sign == IDYES))) ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmEliminateInterferenceOffset() {
  if (RefuseDLSData(*this) || NoScans(*this, "ALIGN FRINGES")) return;
  if (!ScanFile().bInterferenceData) {
    CommandMessageBox(*this, "only for interference data", "ALIGN FRINGES", MB_OK);
    return;
  }
  float radius = 0.0f, constant = 0.0f;
  const float middle = 0.5f * (FirstRadius() + LastRadius());
  if (!AskFloat(*this, &radius, DataSet().fFitLeftLim > 0.0f ? DataSet().fFitLeftLim : middle,
                "radius where the scans are aligned (cm)", "ALIGN FRINGES",
                NamedAs("radius where the scans are aligned", kRadiusQuantity)) ||
      !AskFloat(*this, &constant, 0.0f, "constant added to all scans", "ALIGN FRINGES",
                {"constant added to all scans", "", Closed(-kMaxSignal, kMaxSignal)}))
    return;
  AlignFringeOffsets(constant, radius);
  PlayOkSound();
  RepaintMain();
  const std::string path =
      SaveDialog(*this, "save aligned scans as", DataSet().szDataDirectory, "a0000x.rxx");
  if (!path.empty())
    RunWriter(*this, [&path](bool overwrite) { return SaveAlignedScans(path, overwrite); });
}

void TXLAWindow::CmRemoveFringeJumps() {
  if (RefuseDLSData(*this) || NoScans(*this, "FRINGE JUMPS")) return;
  if (DataSet().fFitLeftLim == 0.0f || DataSet().fFitRightLim == 0.0f) {
    CommandMessageBox(*this, "please set the fitting limits first", "FRINGE JUMPS", MB_OK);
    return;
  }
  float threshold = 0.0f;
  if (!AskFloat(*this, &threshold, 0.5f, "threshold for fringe jumps (fringes)", "FRINGE JUMPS",
                {"threshold for fringe jumps", "fringes", Closed(0.01, 1000.0)}))
    return;
  if (!(threshold > 0.0f)) {
    CommandMessageBox(*this, "the threshold must be positive", "FRINGE JUMPS", MB_OK);
    return;
  }
  const bool useResiduals =
      FitOfLoadedData() && AskYesNo(*this, "detect jumps in the residuals?", "FRINGE JUMPS");
  RemoveFringeJumps(threshold, useResiduals);
  ShowChangedDataAndOfferSave(*this);
}

void TXLAWindow::CmEliminateJitter() {
  if (RefuseDLSData(*this) || NoScans(*this, "ELIMINATE JITTER")) return;
  if (!ScanFile().bInterferenceData) {
    CommandMessageBox(*this, "only for interference data", "ELIMINATE JITTER", MB_OK);
    return;
  }
  float r1 = 0.0f, r2 = 0.0f;
  if (!AskRange(*this, &r1, &r2, FirstRadius(), LastRadius(),
                "reference region without sedimentation: from radius (cm)", "to radius (cm)",
                "ELIMINATE JITTER", 0.0, DataRadii()))
    return;
  SubtractJitterOffsets(r1, r2);
  ShowChangedDataAndOfferSave(*this);
}

// ---------------------------------------------------------------- writers

void TXLAWindow::CmSaveRawDataSet() {
  if (RefuseDLSData(*this) || NoScans(*this, "SAVE RAW DATA")) return;
  const bool speedNames = AskYesNo(
      *this, "save data with wavelenth/speed information in filename (e.g. '20k280_001.ra1')?", "");
  const std::string path =
      SaveDialog(*this, "save raw data in new directory", DataSet().szDataDirectory, "x.rxx");
  if (path.empty()) return;
  const bool ok = RunWriter(*this, [&](bool overwrite) {
    return speedNames ? SaveRawDataWithSpeedNames(path, overwrite)
                      : SaveRawDataToDirectory(path, overwrite);
  });
  if (ok) PlayOkSound();
}

void TXLAWindow::CmSaveIntensityAsAbsorbance() {
  if (RefuseDLSData(*this) || NoScans(*this, "SAVE ABSORBANCE")) return;
  if (!ScanFile().bIntensityData) {
    CommandMessageBox(*this, "only for intensity data", "SAVE ABSORBANCE", MB_OK);
    return;
  }
  RunWriter(*this, SaveIntensityAsAbsorbance);
}

void TXLAWindow::CmSaveIntensityAsPseudoAbsorbance() {
  if (RefuseDLSData(*this) || NoScans(*this, "SAVE ABSORBANCE")) return;
  if (!ScanFile().bIntensityData) {
    CommandMessageBox(*this, "only for intensity data", "SAVE ABSORBANCE", MB_OK);
    return;
  }
  RunWriter(*this, SaveIntensityAsPseudoAbsorbance);
}

void TXLAWindow::CmSaveSixChannelSubsets() {
  if (RefuseDLSData(*this) || NoScans(*this, "SAVE 6-CHANNEL SUBSETS")) return;
  float r1 = 0.0f, r2 = 0.0f;
  if (!AskRange(*this, &r1, &r2, FirstRadius(), LastRadius(),
                "boundary between inner and middle sector (cm)",
                "boundary between middle and outer sector (cm)", "SAVE 6-CHANNEL SUBSETS", 0.0, DataRadii()))
    return;
  if (r2 < r1 || r1 < FirstRadius() || r2 > LastRadius()) {
    CommandMessageBox(*this, Format("the boundaries must lie within %.4f and %.4f cm", FirstRadius(),
                                    LastRadius()),
                      "SAVE 6-CHANNEL SUBSETS", MB_OK);
    return;
  }
  RunWriter(*this, [r1, r2](bool overwrite) { return SaveSixChannelSubsets(r1, r2, overwrite); });
}

void TXLAWindow::CmAverageScans() {
  if (RefuseDLSData(*this)) return;
  if (DataSet().nScans < 1) {
    CommandMessageBox(*this, "please load scans first", "AVERAGE SCANS", MB_OK);
    return;
  }
  StoreFileList(0);
  const std::string& first = FileList().ppStoredFileNames[1];
  const std::string path = SaveDialog(*this, "select filename for averaged scan", DirectoryOf(first),
                                      "average" + ExtensionOf(first));
  // Cancelled or not written: the loaded set stays.
  if (path.empty() || !MayReplace(*this, {path}) || !ShowOutcome(*this, WriteAveragedScan(path))) return;
  FileList().ppStoredFileNames.assign(2, std::string());
  FileList().ppStoredFileNames[1] = path;
  FileList().nStoredFiles = 1;
  PlayOkSound();
  LoadDataFromFileList(&GetHandle(), FrontEndAnswers());
  UpdateMenuForLoadedData();
  RepaintMain();
}

// ---------------------------------------------------------------- data set

void TXLAWindow::CmSetInitialData() {
  if (DataSet().nScans < 1) {
    LoadInitialData(&GetHandle(), std::string());
    return;
  }
  const std::string path = OpenDialog(*this, "select initial distribution");
  if (path.empty()) return;
  if (LoadInitialData(&GetHandle(), path)) RepaintMain();
}

void TXLAWindow::CmInitPolyOrder() {
  float order = 0.0f, factor = 0.0f;
  if (!AskFloat(*this, &order, static_cast<float>(InitialData().nInitPolyOrder),
                "polynom order for the extrapolation of initial data", "INITIAL DATA",
                {"polynom order", "", Count(0.0, kMaxInitPolyOrder)}))
    return;
  if (!(order >= 0.0f && order < static_cast<float>(kMaxInitPolyOrder + 1))) {
    CommandMessageBox(*this, Format("the polynom order must be between 0 and %d", kMaxInitPolyOrder),
                      "INITIAL DATA", MB_OK);
    return;
  }
  if (!AskFloat(*this, &factor, InitialData().fInitExtrapFactor, "extrapolation distance factor", "INITIAL DATA",
                {"extrapolation distance factor", "", Closed(1e-3, 1e3)}))
    return;
  if (!(factor > 0.0f)) {
    CommandMessageBox(*this, "the extrapolation distance factor must be positive", "INITIAL DATA",
                      MB_OK);
    return;
  }
  InitialData().nInitPolyOrder = TruncateToInt(order);
  InitialData().fInitExtrapFactor = factor;
  GetHandle().CheckMenuItem(kCmInitPolyOrder, MenuItemStateOf(kCmInitPolyOrder).checked);
}

void TXLAWindow::CmExcludeWorstScan() {
  // The worst scan is known only after a residual pass over the loaded set.
  if (DataPlots().nWorstScan < 1 || DataPlots().nWorstScan > DataSet().nScans) {
    CommandMessageBox(*this, "no worst scan known - please run or fit first", "REMOVING SCAN", MB_OK);
    return;
  }
  CommandMessageBox(*this, Format("removing %s", DataSet().ppScanFileNames[static_cast<std::size_t>(DataPlots().nWorstScan)].c_str()),
                    "REMOVING SCAN", MB_OK);
  StoreFileList(DataPlots().nWorstScan);
  LoadDataFromFileList(&GetHandle(), FrontEndAnswers());
  RepaintMain();
}

// ---------------------------------------------------------------- constants

void TXLAWindow::CmVbarFromMass() {
  const char* caption = nullptr;
  float v0 = 0.0f, a = 0.0f, scale = 0.0f;
  // vbar(M) = v0 + a (M / 10^s)^(1/3): v0 and a in ml/g, s a power of ten of M.
  if (AskFloat(*this, &v0, static_cast<float>(SolventConstants().dVbarOffset), "Enter zero offset v0 (M=0):", caption,
               {"zero offset v0", "ml/g", Closed(0.0, kPartialSpecificVolume.range.high)}))
    SolventConstants().dVbarOffset = v0;
  if (AskFloat(*this, &a, static_cast<float>(SolventConstants().dVbarIncrement), "Enter increment a:", caption,
               {"increment a", "ml/g", Closed(-kPartialSpecificVolume.range.high, kPartialSpecificVolume.range.high)}))
    SolventConstants().dVbarIncrement = a;
  if (AskFloat(*this, &scale, static_cast<float>(SolventConstants().nVbarMassScale), "Enter M-scale s:", caption,
               {"M-scale s", "", Count(-16.0, 16.0)}))
    SolventConstants().nVbarMassScale = TruncateToInt(scale);
}

void TXLAWindow::CmPowerLawSofM() {
  float a = 0.0f, b = 0.0f;
  // s = a M^b: a positive a (s in S, M in g/mol) and an exponent from long rods
  // (near 0.15) through coils (0.5) to compact spheres (2/3) and beyond.
  if (AskFloat(*this, &a, static_cast<float>(SolventConstants().dSPowerLawA), "Using power-law s(M) = a*M^b. Enter a:",
               nullptr, {"power-law factor a", "", Closed(1e-12, 1e6)}))
    SolventConstants().dSPowerLawA = a;
  if (AskFloat(*this, &b, static_cast<float>(SolventConstants().dSPowerLawB), "Using power-law s(M) = a*M^b. Enter b:",
               nullptr, {"power-law exponent b", "", Closed(0.01, 2.0)}))
    SolventConstants().dSPowerLawB = b;
}

}  // namespace tarmic
