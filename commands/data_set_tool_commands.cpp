// The commands of the data-set tools that work on fits: generating synthetic data
// from the current model, saving fitted data, residuals and systematic noise,
// correcting an equilibrium scan for the fitted TI noise, and taking the calculated
// noise out of the loaded data (or the TI part back in).
#include <algorithm>
#include <optional>
#include <string>

#include "app/xla_window.h"
#include "app/zoom.h"
#include "commands/model_commands.h"
#include "commands/command_support.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/noise_subtraction.h"
#include "modelcalc/synthetic_data.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "storage/atomic_file.h"
#include "numerics/hydrodynamics.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/plausibility.h"
#include "scandata/result_files.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

constexpr const char* kGenerateCaption = "GENERATE DATA";

// The values Generate Single proposes: the last ones entered.
struct GenerateDefaults {
  float dr = 0.005f;
  float rpm = 50000.0f;
  float acceleration = 200.0f;
  float interval = 300.0f;
  float scans = 30.0f;
  float noise = 0.005f;
  float extinction = 50000.0f;
  float concentration = 10.0f;
};
GenerateDefaults& Defaults() {
  static GenerateDefaults d;
  return d;
}

std::string StemOf(const std::string& name) { return name.substr(0, name.size() - ExtensionOf(name).size()); }

// The extension of the loaded scans ("" without scans).
std::string DataExtension() { return nScans > 0 ? ExtensionOf(ppScanFileNames[1]) : std::string(); }

// A save dialog in the data directory; nullopt when cancelled.
std::optional<std::string> AskSavePath(TXLAWindow& window, const char* title, const std::string& name) {
  FileDialogOptions options;
  options.title = title;
  options.filter = "All Files (*.*)|*.*";
  options.directory = szDataDirectory;
  options.defaultName = name;
  return AskSaveFilePath(window, options);
}

// A noise change fixes the data plot to the new data as one more zoom step (up to
// the deepest level, which is then replaced).
void PushZoomStep(float xmin, float xmax, float ymin, float ymax) {
  nZoomLevel = std::min(nZoomLevel + 1, kMaxZoomLevel);
  afZoomXMin[nZoomLevel] = xmin;
  afZoomXMax[nZoomLevel] = xmax;
  afZoomYMin[nZoomLevel] = ymin;
  afZoomYMax[nZoomLevel] = ymax;
}

// Whether a noise command may act on the loaded data: scans that are no DLS data
// and the fitted noise the command takes out. The zoom history receives the step.
bool NoiseCommandApplies(bool fitted) {
  if (nScans < 1 || bDLSData || !fitted) return false;
  SetNoiseZoomHook(PushZoomStep);
  return true;
}

}  // namespace

void TXLAWindow::CmGenerateSingle() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!RequireChosenModel(*this)) return;
  GenerateDefaults& d = Defaults();
  GenerateDefaults v = d;
  if (!AskFloat(*this, &v.dr, d.dr, "density of points dr (cm)", kGenerateCaption)) return;
  if (!AskFloat(*this, &v.rpm, d.rpm, "rotor speed (rpm)", kGenerateCaption)) return;
  float acceleration = -1.0f;
  if (AskYesNo(*this, "simulate with rotor acceleration phase?", kGenerateCaption) &&
      AskFloat(*this, &v.acceleration, d.acceleration, "acceleration (rpm/sec)", kGenerateCaption))
    acceleration = v.acceleration;
  if (!AskFloat(*this, &v.interval, d.interval, "time interval of scans (sec)", kGenerateCaption)) return;
  if (!AskFloat(*this, &v.scans, d.scans, "number of simulated scans", kGenerateCaption)) return;
  if (!AskFloat(*this, &v.noise, d.noise, "std of noise (OD)", kGenerateCaption)) return;
  if (IsSelfAssociationModel()) {
    if (!AskFloat(*this, &v.extinction, d.extinction, "extinction coefficient [M^-1cm^-1]",
                  kGenerateCaption))
      return;
    if (!AskFloat(*this, &v.concentration, d.concentration, "total molar concentration [uM]",
                  kGenerateCaption))
      return;
  }
  d = v;
  SyntheticDataSettings s;
  s.dr = v.dr;
  s.rpm = v.rpm;
  s.acceleration = acceleration;
  s.interval = v.interval;
  s.scans = static_cast<int>(v.scans);
  s.noise = v.noise;
  s.firstTime = 0.0f;
  if (s.scans < 1 || !(s.dr > 0.0f) || !(s.rpm > 0.0f) || s.interval < 0.0f) {
    PlayErrorSound();
    CommandMessageBox(*this, "dr, rotor speed and the number of scans must be positive", "ERROR", MB_OK);
    return;
  }
  // Scans of faster speeds would not load again.
  if (s.rpm > kMaxRotorSpeedRpm) {
    PlayErrorSound();
    CommandMessageBox(*this, Format("the rotor speed must be at most %.0f rpm", kMaxRotorSpeedRpm), "ERROR",
                      MB_OK);
    return;
  }
  if (static_cast<double>(s.interval) * s.scans > kMaxRunTimeS) {
    PlayErrorSound();
    CommandMessageBox(*this, Format("the scans would reach beyond %g s, the longest time of a run", kMaxRunTimeS),
                      "ERROR", MB_OK);
    return;
  }
  const std::optional<std::string> path = AskSavePath(*this, "save generated data as", "00001.ra0");
  if (!path) return;
  s.outputPath = *path;
  AskSyntheticDataQuestions(*this, s);
  // The loading signal of the self-association models: 1.2 cm optical path. It is
  // the model's own again when no set was generated.
  const float loading = fAssocLoading;
  if (IsSelfAssociationModel()) fAssocLoading = 1.2f * v.extinction * v.concentration * 1e-6f;
  GetHandle().SetCursor(CursorShape::Wait);
  bSimulating = true;
  const SyntheticResult generated = GenerateSyntheticData(&GetHandle(), s);
  const SyntheticOutcome outcome = generated.outcome;
  bSimulating = false;
  GetHandle().SetCursor(CursorShape::Arrow);
  if (!generated.message.empty()) CommandMessageBox(*this, generated.message, "ERROR", MB_OK);
  if (outcome != SyntheticOutcome::Generated) fAssocLoading = loading;
  if (outcome == SyntheticOutcome::Refused) {
    PlayErrorSound();
    CommandMessageBox(*this, "set Meniscus and Bottom first (meniscus below bottom)", "ERROR", MB_OK);
    return;
  }
  UpdateMenuForLoadedData();
}

// "not replaced either:" with the files of a batch that a failed or declined save
// left as they were, after the saver's own message (nothing when none was left).
static void ShowNotReplaced(TXLAWindow& window, const AtomicFileBatch& batch) {
  if (batch.NotReplaced().empty()) return;
  PlayErrorSound();
  std::string text = "not replaced either:";
  for (const std::string& p : batch.NotReplaced()) text += "\n" + p;
  CommandMessageBox(window, text, "ERROR", MB_OK);
}

// Ends a batch: replaces its targets, or reports what was not replaced.
static void ReportSetNotReplaced(TXLAWindow& window, AtomicFileBatch& batch) {
  const bool writeFailed = !batch.Failed().empty();
  const std::string report = batch.Finish();
  if (report.empty()) return;
  if (writeFailed) {
    ShowNotReplaced(window, batch);
    return;
  }
  PlayErrorSound();
  CommandMessageBox(window, report, "ERROR", MB_OK);
}

void TXLAWindow::CmSaveFitData() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!RequireLoadedData(*this) || !RequireChosenModel(*this)) return;
  const std::string ext = DataExtension();
  // Fits, residuals and parameters are one set: every file is written before any
  // replaces its target, so that saved fit + residuals always give the data.
  // Whatever fails or is declined ends the command with every target as it was.
  AtomicFileBatch batch;
  const auto endSet = [&] {
    batch.Discard();
    ShowNotReplaced(*this, batch);
  };
  std::optional<std::string> fitPath =
      AskSavePath(*this, "save fitted data as", bOldFilenameConvention ? "fit" + ext : "f0000x" + ext);
  if (fitPath) {
    bool convert = false;
    if (bIntensityData) convert = AskYesNo(*this, "convert intensities to absorbance data?", "");
    // The saver has said why the fit was not saved; residuals and report without
    // their fit would not make a set.
    if (!SaveFittedScans(*fitPath, convert)) return endSet();
  }
  std::optional<std::string> resPath =
      AskSavePath(*this, "save residuals as", bOldFilenameConvention ? "res" + ext : "r0000x" + ext);
  if (resPath && !SaveResidualScans(*resPath)) return endSet();
  std::optional<std::string> parPath = AskSavePath(*this, "save some fit parameters as", "fitparams.txt");
  if (parPath) {
    SaveResult saved;
    // Sedimentation-equilibrium data keep no saved fit parameters.
    if (!bEquilibriumMode) saved = TmpSaveBestParams(&GetHandle(), false);
    if (saved.ok) saved = WriteParameterReport(&GetHandle(), *parPath);
    if (!saved.ok) {
      ReportSave(saved);
      return endSet();
    }
  }
  ReportSetNotReplaced(*this, batch);
}

void TXLAWindow::CmSaveNoise() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!RequireLoadedData(*this)) return;
  const std::string ext = DataExtension();
  const std::string stem = StemOf(ppScanFileNames[1]);
  // The two noise files replace their targets together, after both are written.
  AtomicFileBatch batch;
  if (bFitTINoise) {
    const std::optional<std::string> path = AskSavePath(
        *this, "save time independent noise component as", bOldFilenameConvention ? stem + ".TIN" : "TIN" + ext);
    if (path) SaveTINoise(*path);
  }
  if (bFitRINoise) {
    std::optional<std::string> path = AskSavePath(
        *this, "save radial independent noise component as", bOldFilenameConvention ? stem + ".RIN" : "RIN" + ext);
    if (path) SaveRINoise(&*path);
  }
  // A file that could not be written has been reported by its saver; the other
  // one is then not replaced either.
  ReportSetNotReplaced(*this, batch);
}

void TXLAWindow::CmSubtractNoiseFromEqData() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!RequireLoadedData(*this)) return;
  FileDialogOptions options;
  options.title = "select equilbrium scan";
  options.filter = kScanFileFilter;
  options.directory = szDataDirectory;
  const bool previous = bModalBoxOpen;
  bModalBoxOpen = true;
  const std::vector<std::string> input = GetBackend().OpenFileDialog(options);
  bModalBoxOpen = previous;
  if (input.empty()) return;
  const std::optional<std::string> output =
      AskSavePath(*this, "save corrected data as", FileNameOf(input.front()));
  if (!output) return;
  SubtractNoiseFromEqFile(&GetHandle(), input.front(), *output);
}

void TXLAWindow::CmSubtractTINoise() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!NoiseCommandApplies(bFitTINoise)) return;
  bNoiseTakenFromData = true;
  SubtractTINoise();
  RepaintMain();
}

void TXLAWindow::CmSubtractRINoise() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!NoiseCommandApplies(bFitRINoise)) return;
  bNoiseTakenFromData = true;
  SubtractRINoise();
  RepaintMain();
}

void TXLAWindow::CmSubtractSystematicNoise() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!NoiseCommandApplies(bFitRINoise)) return;
  bNoiseTakenFromData = true;
  SubtractAllNoise();
  RepaintMain();
}

void TXLAWindow::CmRestoreTINoise() {
  if (OfferHelpInHelpMode(*this)) return;
  if (!NoiseCommandApplies(bFitTINoise)) return;
  RestoreTINoise();
  RepaintMain();
}

}  // namespace tarmic
