// The commands of the data-set tools that work on fits: generating synthetic data
// from the current model, saving fitted data, residuals and systematic noise,
// correcting an equilibrium scan for the fitted TI noise, and taking the calculated
// noise out of the loaded data (or the TI part back in).
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/xla_window.h"
#include "app/zoom.h"
#include "commands/model_commands.h"
#include "commands/command_support.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/parameter_report.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/noise_subtraction.h"
#include "modelcalc/synthetic_data.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "storage/atomic_file.h"
#include "numerics/hydrodynamics.h"
#include "services/replace_question.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/plausibility.h"
#include "scandata/result_files.h"
#include "scandata/scan_file.h"
#include "scandata/text_io.h"
#include "services/computation_events.h"
#include "commands/save_outcome.h"

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
std::string DataExtension() { return DataSet().nScans > 0 ? ExtensionOf(DataSet().ppScanFileNames[1]) : std::string(); }

// A save dialog in the folder given (the data directory when none is); nullopt
// when cancelled.
std::optional<std::string> AskSavePath(TXLAWindow& window, const char* title, const std::string& name,
                                       const std::string& folder = std::string()) {
  FileDialogOptions options;
  options.title = title;
  options.filter = "All Files (*.*)|*.*";
  options.directory = folder.empty() ? DataSet().szDataDirectory : folder;
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
  if (DataSet().nScans < 1 || DataSet().bDLSData || !fitted) return false;
  SetNoiseZoomHook(PushZoomStep);
  return true;
}

}  // namespace

FitDataNames ProposedFitDataNames() {
  const std::string ext = DataExtension();
  if (AnalysisSwitches().bOldFilenameConvention) return {"fit" + ext, "res" + ext, "fitparams.txt"};
  return {"f0000x" + ext, "r0000x" + ext, "fitparams.txt"};
}

void TXLAWindow::CmGenerateSingle() {
  if (!RequireChosenModel(*this)) return;
  GenerateDefaults& d = Defaults();
  GenerateDefaults v = d;
  if (!AskFloat(*this, &v.dr, d.dr, "density of points dr (cm)", kGenerateCaption,
                kGeneratedRadialStep)) return;
  if (!AskFloat(*this, &v.rpm, d.rpm, "rotor speed (rpm)", kGenerateCaption, kRotorSpeed)) return;
  float acceleration = -1.0f;
  if (AskYesNo(*this, "simulate with rotor acceleration phase?", kGenerateCaption) &&
      AskFloat(*this, &v.acceleration, d.acceleration, "acceleration (rpm/sec)", kGenerateCaption,
               kRotorAcceleration))
    acceleration = v.acceleration;
  if (!AskFloat(*this, &v.interval, d.interval, "time interval of scans (sec)", kGenerateCaption,
                kScanInterval)) return;
  if (!AskFloat(*this, &v.scans, d.scans, "number of simulated scans", kGenerateCaption, kScanCount)) return;
  if (!AskFloat(*this, &v.noise, d.noise, "std of noise (OD)", kGenerateCaption, kNoiseLevel)) return;
  if (IsSelfAssociationModel()) {
    if (!AskFloat(*this, &v.extinction, d.extinction, "extinction coefficient [M^-1cm^-1]",
                  kGenerateCaption, kMolarExtinction))
      return;
    if (!AskFloat(*this, &v.concentration, d.concentration, "total molar concentration [uM]",
                  kGenerateCaption, kMolarConcentration))
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
  // Settings the generation refuses are refused before the file dialog, with the
  // value at fault (the speeds of a rotor: scans of faster speeds would not load again).
  if (const std::string why = SyntheticSettingsRefusal(s); !why.empty()) {
    PlayErrorSound();
    CommandMessageBox(*this, why, "ERROR", MB_OK);
    return;
  }
  const std::optional<std::string> path = AskSavePath(*this, "save generated data as", "00001.ra0");
  if (!path) return;
  s.outputPath = *path;
  if (!MayReplace(*this, SyntheticDataFiles(s))) return;
  AskSyntheticDataQuestions(*this, s);
  // The loading signal of the self-association models: 1.2 cm optical path. It is
  // the model's own again when no set was generated.
  const float loading = ModelOptions().fAssocLoading;
  if (IsSelfAssociationModel()) ModelOptions().fAssocLoading = 1.2f * v.extinction * v.concentration * 1e-6f;
  GetHandle().SetCursor(CursorShape::Wait);
  AnalysisSwitches().bSimulating = true;
  const SyntheticResult generated = GenerateSyntheticData(&GetHandle(), s);
  const SyntheticOutcome outcome = generated.outcome;
  AnalysisSwitches().bSimulating = false;
  GetHandle().SetCursor(CursorShape::Arrow);
  if (outcome != SyntheticOutcome::Generated) ModelOptions().fAssocLoading = loading;
  if (outcome == SyntheticOutcome::Refused) PlayErrorSound();
  if (!generated.message.empty()) CommandMessageBox(*this, generated.message, "ERROR", MB_OK);
  if (outcome == SyntheticOutcome::Refused) return;
  UpdateMenuForLoadedData();
}

// What a failed or declined save left alone, after the saver's own message: "not
// replaced either:" with the files of the batch that existed and kept their
// contents, "not written either:" with the new files that were not made (nothing
// when none was left).
static void ShowNotReplaced(TXLAWindow& window, const AtomicFileBatch& batch) {
  if (batch.NotReplaced().empty()) return;
  std::string kept, notMade;
  for (const std::string& p : batch.NotReplaced()) {
    std::error_code ec;
    (std::filesystem::exists(p, ec) ? kept : notMade) += "\n" + p;
  }
  std::string text;
  if (!kept.empty()) text = "not replaced either:" + kept;
  if (!notMade.empty()) text += (text.empty() ? "" : "\n") + std::string("not written either:") + notMade;
  PlayErrorSound();
  CommandMessageBox(window, text, "ERROR", MB_OK);
}

// Ends a batch: replaces its targets, or reports what was not replaced. Whether
// every target was replaced.
static bool ReportSetNotReplaced(TXLAWindow& window, AtomicFileBatch& batch) {
  const bool writeFailed = !batch.Failed().empty();
  const std::string report = batch.Finish();
  if (report.empty()) return true;
  if (writeFailed) {
    ShowNotReplaced(window, batch);
    return false;
  }
  PlayErrorSound();
  CommandMessageBox(window, report, "ERROR", MB_OK);
  return false;
}

void TXLAWindow::CmSaveFitData() {
  SaveCommandOutcome outcome;
  if (!RequireLoadedData(*this) || !RequireChosenModel(*this)) return;
  // A model chosen but not computed for the data as they are has no fit to save
  // (its rows are zeros or belong to other data).
  if (!FitOfLoadedData()) {
    CommandMessageBox(*this, kNoFitOfLoadedDataText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  // Fits, residuals and parameters are one set in one folder: the later dialogs
  // start where the first file went, the set is asked about once before anything is
  // written, and every file is written before any replaces its target, so that
  // saved fit + residuals always give the data. Whatever fails or is declined ends
  // the command with every target as it was.
  const FitDataNames names = ProposedFitDataNames();
  std::string folder = DataSet().szDataDirectory;
  std::optional<std::string> fitPath = AskSavePath(*this, "save fitted data as", names.fits, folder);
  bool convert = false;
  if (fitPath) {
    folder = DirectoryOf(*fitPath);
    if (ScanFile().bIntensityData)
      convert = AskAs(QuestionId::ConvertIntensities, IDNO,
                      [&] { return AskYesNo(*this, "convert intensities to absorbance data?", ""); });
  }
  std::optional<std::string> resPath = AskSavePath(*this, "save residuals as", names.residuals, folder);
  if (resPath) folder = DirectoryOf(*resPath);
  std::optional<std::string> parPath = AskSavePath(*this, "save some fit parameters as", names.report, folder);

  std::vector<std::string> targets;
  if (fitPath) targets = FittedScanFiles(*fitPath, convert);
  if (resPath)
    for (const std::string& t : ResidualScanFiles(*resPath)) targets.push_back(t);
  if (parPath) targets.push_back(ParameterReportPath(*parPath));
  if (targets.empty()) return;
  ReplaceConsentScope consent;
  if (!MayReplace(*this, targets)) {
    CommandMessageBox(*this, "fit data not saved", "ERROR", MB_OK);
    return;
  }

  AtomicFileBatch batch;
  const auto endSet = [&] {
    batch.Discard();
    ShowNotReplaced(*this, batch);
  };
  // The saver has said why the fit was not saved; residuals and report without
  // their fit would not make a set.
  if (fitPath && !SaveFittedScans(*fitPath, convert, FrontEndAnswers())) return endSet();
  if (resPath && !SaveResidualScans(*resPath)) return endSet();
  if (parPath) {
    SaveResult saved;
    // Sedimentation-equilibrium data keep no saved fit parameters.
    if (!DataSet().bEquilibriumMode) saved = TmpSaveBestParams(&GetHandle(), false);
    if (saved.ok) saved = WriteParameterReport(&GetHandle(), *parPath);
    if (!saved.ok) {
      ReportSave(saved);
      return endSet();
    }
  }
  if (ReportSetNotReplaced(*this, batch)) outcome.Saved(targets);
}

void TXLAWindow::CmSaveNoise() {
  SaveCommandOutcome outcome;
  if (!RequireLoadedData(*this)) return;
  const std::string ext = DataExtension();
  const std::string stem = StemOf(DataSet().ppScanFileNames[1]);
  // The two noise files are one set in one folder: the second dialog starts where
  // the first file went, the set is asked about once, and both replace their
  // targets together, after both are written.
  std::optional<std::string> tiPath, riPath;
  std::string folder = DataSet().szDataDirectory;
  if (AnalysisSwitches().bFitTINoise) {
    tiPath = AskSavePath(*this, "save time independent noise component as",
                         AnalysisSwitches().bOldFilenameConvention ? stem + ".TIN" : "TIN" + ext, folder);
    if (tiPath) folder = DirectoryOf(*tiPath);
  }
  if (AnalysisSwitches().bFitRINoise)
    riPath = AskSavePath(*this, "save radial independent noise component as",
                         AnalysisSwitches().bOldFilenameConvention ? stem + ".RIN" : "RIN" + ext, folder);
  std::vector<std::string> targets;
  if (tiPath) targets.push_back(TINoiseFile(*tiPath));
  if (riPath) targets.push_back(RINoiseFile(*riPath));
  if (targets.empty()) return;
  ReplaceConsentScope consent;
  if (!MayReplace(*this, targets)) {
    CommandMessageBox(*this, "noise not saved", "ERROR", MB_OK);
    return;
  }
  AtomicFileBatch batch;
  if (tiPath) SaveTINoise(*tiPath);
  if (riPath) SaveRINoise(&*riPath);
  // A file that could not be written has been reported by its saver; the other
  // one is then not replaced either.
  if (ReportSetNotReplaced(*this, batch)) outcome.Saved(targets);
}

void TXLAWindow::CmSubtractNoiseFromEqData() {
  if (!RequireLoadedData(*this)) return;
  FileDialogOptions options;
  options.title = "select equilbrium scan";
  options.filter = kScanFileFilter;
  options.directory = DataSet().szDataDirectory;
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
  if (!NoiseCommandApplies(AnalysisSwitches().bFitTINoise)) return;
  NoiseSubtraction().bNoiseTakenFromData = true;
  SubtractTINoise();
  RepaintMain();
}

void TXLAWindow::CmSubtractRINoise() {
  if (!NoiseCommandApplies(AnalysisSwitches().bFitRINoise)) return;
  NoiseSubtraction().bNoiseTakenFromData = true;
  SubtractRINoise();
  RepaintMain();
}

void TXLAWindow::CmSubtractSystematicNoise() {
  if (!NoiseCommandApplies(AnalysisSwitches().bFitRINoise)) return;
  NoiseSubtraction().bNoiseTakenFromData = true;
  SubtractAllNoise();
  RepaintMain();
}

void TXLAWindow::CmRestoreTINoise() {
  if (!NoiseCommandApplies(AnalysisSwitches().bFitTINoise)) return;
  RestoreTINoise();
  RepaintMain();
}

}  // namespace tarmic
