#include "batch/batch_run.h"

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string_view>

#include "app/app_main.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "batch/batch_extras.h"
#include "batch/batch_output.h"
#include "batch/batch_pictures.h"
#include "batch/batch_summary.h"
#include "commands/command_support.h"
#include "commands/load_commands.h"
#include "commands/program_services.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/number_input.h"
#include "numerics/random.h"
#include "platform/events.h"
#include "platform/system.h"
#include "resources/command_ids.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/result_files.h"
#include "scandata/text_io.h"
#include "services/path_table.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;

// The folder of one run's settings ("config/"), working files ("data/") and
// temporary files ("cache/"), made under the user's temporary directory and
// removed with everything in it at the end.
class RunFolder {
 public:
  RunFolder() {
    std::string pattern = TempDirectory() + "tarmic-batch.XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern + "/";
    else why_ = std::strerror(errno);
    for (const char* sub : {"config/", "data/", "cache/", "results/"}) {
      std::error_code ec;
      if (!path_.empty()) fs::create_directory(path_ + sub, ec);
    }
  }
  ~RunFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  const std::string& Path() const { return path_; }
  const std::string& Why() const { return why_; }

 private:
  std::string path_, why_;
};

// The settings the window would read (the user's configuration folder, else those
// kept beside the program), copied into the run's own folder. The last data folder
// of the file dialogs ("tarmic.ini") is the window's alone. Each copy with the
// user's file it was made from: a box names the user's file, not the copy.
std::vector<std::pair<std::string, std::string>> CopyUserSettings(const std::string& programDir,
                                                                  const std::string& configDir) {
  std::vector<std::pair<std::string, std::string>> copies;
  const std::string userConfig = UserDirectoriesFromEnvironment().config;
  for (const char* name : kSettingsFileNames) {
    if (std::string_view(name) == "tarmic.ini") continue;
    for (const std::string& from : {userConfig.empty() ? std::string() : userConfig + name, programDir + name}) {
      std::error_code ec;
      if (from.empty() || !fs::is_regular_file(from, ec)) continue;
      if (fs::copy_file(from, configDir + name, fs::copy_options::overwrite_existing, ec))
        copies.emplace_back(configDir + name, from);
      break;
    }
  }
  return copies;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

// Installs the batch backend for the lifetime of the object.
class InstalledBackend {
 public:
  explicit InstalledBackend(Backend& backend) { SetBackend(&backend); }
  ~InstalledBackend() { SetBackend(nullptr); }
  InstalledBackend(const InstalledBackend&) = delete;
  InstalledBackend& operator=(const InstalledBackend&) = delete;
};

// What the window does after a command: the events it posted (repaints, sizes)
// are handled, as the window's loop handles them before the next command.
void Settle(TXLAWindow& window) {
  PostQuitMessage(0);
  RunMessageLoop(window);
}

bool IsErrorCaption(const std::string& caption) {
  std::string lower = caption;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower.find("error") != std::string::npos;
}

// Whether the analysis saves a distribution (Save Continuous Distribution).
bool SavesDistribution() { return IsContinuousModel() && SavesContinuousDistribution(); }

// The files the analysis writes into dir: what Save Fit Data writes for the
// names it proposes (the fitted and residual scans, the parameter report, the
// saved parameters of the analysis, which follow the results into dir), and for a
// distribution the file Save Continuous Distribution proposes.
std::vector<std::string> ResultFiles(const std::string& dir) {
  const FitDataNames names = ProposedFitDataNames();
  std::vector<std::string> files = FittedScanFiles(JoinPath(dir, names.fits), false);
  for (const std::string& f : ResidualScanFiles(JoinPath(dir, names.residuals))) files.push_back(f);
  files.push_back(ParameterReportPath(JoinPath(dir, names.report)));
  // Equilibrium data keep no saved parameters of the fit.
  if (!szTmpParsPath.empty() && !bEquilibriumMode) files.push_back(szTmpParsPath);
  if (SavesDistribution()) files.push_back(JoinPath(dir, FileNameOf(DefaultDistributionPath())));
  if (GridSetupWritesStoredGrid()) files.push_back(szSdistPath);
  return files;
}

// Why the scans named cannot be loaded as they are named, "" when they can: "Load
// New Files" reads a selection of several files from the folder of the first, and
// a file named twice would be two scans (whose fits share one name).
std::string ScanListRefusal(const std::vector<std::string>& scans) {
  std::set<std::string> seen;
  for (const std::string& scan : scans) {
    if (DirectoryOf(scan) != DirectoryOf(scans.front()))
      return "the scans are in more than one folder (" + scan + " is not in " + DirectoryOf(scans.front()) +
             "): Load New Files reads a selection from one folder; run each folder on its own";
    std::error_code ec;
    const fs::path file = fs::weakly_canonical(scan, ec);
    if (!seen.insert(ec ? scan : file.string()).second) return scan + " is named twice: each scan is named once";
  }
  return "";
}

// Why the scans loaded are not the scans named, "" when each scan named is the
// scan of its place in the loaded set.
std::string ScansReadRefusal(const std::vector<std::string>& scans) {
  for (std::size_t k = 0; k < scans.size(); ++k) {
    const int s = static_cast<int>(k) + 1;
    std::error_code ec;
    if (s > nScans || !(ScanFilePath(s) == scans[k] || fs::equivalent(ScanFilePath(s), scans[k], ec)))
      return scans[k] + " was named but not read as scan " + std::to_string(s) +
             (s > nScans ? std::string(" (") + std::to_string(nScans) + " scans were read)"
                         : " (" + ScanFilePath(s) + " was)");
  }
  if (nScans > static_cast<int>(scans.size()))
    return std::to_string(nScans) + " scans were read for " + std::to_string(scans.size()) + " named";
  return "";
}

// The final method after annealing as its input takes it: 1 ML, 2 simplex, 0 none.
int AnnealFinalInEffect() { return bAnnealFinalML ? 1 : (bAnnealFinalSimplex ? 2 : 0); }

class BatchRun {
 public:
  BatchRun(const BatchOptions& options, std::uint32_t seed, BatchBackend& backend, std::FILE* out,
           std::string stage)
      : o_(options), seed_(seed), backend_(backend), out_(out), stage_(std::move(stage)),
        window_("Sedimentation Analysis") {
    window_.SetupWindow();
    Settle(window_);
  }

  // The window's end: Exit lets the loaded data go.
  ~BatchRun() {
    DispatchCommand(window_, kCmExit);
    UiEvents().Clear();
  }

  int Run() {
    if (const int refused = LoadInput(); refused != 0) return refused;
    const std::string dir = o_.output.empty() ? WithoutTrailingSlash(szDataDirectory) : AbsolutePath(o_.output);
    // The saved parameters of the analysis and the grid of a distribution, which the
    // window keeps beside the data, go with the results. Everything is written into
    // the run's staging folder and published into dir as one set at the end.
    if (!szTmpParsPath.empty()) szTmpParsPath = JoinPath(stage_, FileNameOf(szTmpParsPath));
    if (!szSdistPath.empty() && GridSetupWritesStoredGrid())
      szSdistPath = JoinPath(stage_, FileNameOf(szSdistPath));
    const std::vector<std::string> staged = ResultFiles(stage_);
    std::vector<std::string> results;
    for (const std::string& f : staged) results.push_back(JoinPath(dir, FileNameOf(f)));
    if (o_.monteCarloSets > 0)
      for (const auto& [name, holds] : MonteCarloResultFiles(kBatchMonteCarloConfidence, false, o_.monteCarloSets))
        results.push_back(JoinPath(dir, name));
    for (const std::string& f : BatchPictureFiles(o_, dir)) results.push_back(f);
    OutputFolder output(dir);
    if (const int refused = CheckResultFiles(output, results); refused != 0) return refused;

    if (!o_.seed) backend_.Say(Format("tarmic-batch: seed %u (drawn; --seed %u repeats the run)", seed_, seed_));
    ForgetLastFit();
    backend_.TakeReadouts(true);
    DispatchCommand(window_, o_.fit ? kCmFit : kCmRun);
    backend_.TakeReadouts(false);
    backend_.EndReadoutLine();
    Settle(window_);
    const bool computed = FitOfLoadedData();
    const std::string status = Status(computed);
    if (status != "computed") {
      backend_.Say("tarmic-batch: the analysis was " + status + "; nothing is saved");
      Summarize(status, computed);
      return kBatchAnalysisRefused;
    }
    if (!Save(stage_, staged)) {
      Summarize("not saved", computed);
      return kBatchAnalysisRefused;
    }
    std::string extraError;
    if (o_.saveNoise) extraError = SaveNoiseInto(window_, backend_, stage_);
    if (extraError.empty() && o_.monteCarloSets > 0) {
      const PeakLimits limits = MonteCarloOfPeaks(window_, o_.monteCarloSets, stage_);
      Settle(window_);
      extraColumns_ = limits.columns;
      extraError = limits.error;
    }
    if (extraError.empty()) extraError = WriteBatchPictures(o_, stage_);
    if (!extraError.empty()) {
      backend_.Say("tarmic-batch: " + extraError + "; nothing is saved");
      Summarize("not saved", computed);
      return kBatchAnalysisRefused;
    }
    // A result set of a distribution that another analysis left in dir goes when
    // this one replaces it.
    std::vector<std::string> stale = PictureFileNames();
    stale.push_back(FileNameOf(DefaultDistributionPath()));
    const PublishOutcome published = PublishResultSet(FilesIn(stage_), dir, o_.replace, stale);
    if (published.outcome != Published::Whole) backend_.Say("tarmic-batch: " + published.message);
    if (published.outcome == Published::Exists) return kBatchInputRefused;
    if (published.outcome == Published::NotSaved) {
      backend_.Say("tarmic-batch: the results were not saved; nothing of them is in " + dir);
      Summarize("not saved", computed);
      return kBatchAnalysisRefused;
    }
    output.Keep();
    Summarize(status, computed);
    return kBatchComputed;
  }

 private:
  // How the analysis ended: "stopped" when anything of the run was left
  // unanswered, "not computed" without a model of the loaded data, "not converged"
  // when the fit's own report does not say that it converged, else "computed".
  std::string Status(bool computed) const {
    if (!backend_.Unanswered().empty()) return "stopped";
    if (!computed) return "not computed";
    if (o_.fit && !FitConverged(LastFitEnd().outcome, LastFitEnd().report)) return "not converged";
    return "computed";
  }

  // The scans and the parameter file; 0 when both were taken.
  int LoadInput() {
    std::vector<std::string> scans;
    for (const std::string& s : o_.scans) scans.push_back(AbsolutePath(s));
    if (const std::string why = ScanListRefusal(scans); !why.empty()) {
      backend_.Say("tarmic-batch: " + why);
      return kBatchInputRefused;
    }
    backend_.OfferFiles(scans);
    const bool loaded = LoadNewFiles(window_, o_.equilibrium ? LoadKind::Equilibrium : LoadKind::Velocity);
    Settle(window_);
    if (!loaded || nScans < 1 || !backend_.Unanswered().empty()) {
      backend_.Say("tarmic-batch: the scans were not loaded");
      if (!o_.equilibrium && o_.scans.size() == 1)
        backend_.Say("tarmic-batch: a single scan is equilibrium data: give --equilibrium");
      return kBatchInputRefused;
    }
    // Every scan named is the scan read, in its place.
    if (const std::string why = ScansReadRefusal(scans); !why.empty()) {
      backend_.Say("tarmic-batch: " + why);
      return kBatchInputRefused;
    }
    const std::string parameters = AbsolutePath(parameters_.empty() ? o_.parameters : parameters_);
    // A file that is not there says nothing when it is offered: the batch says why.
    if (const std::string refusal = FileReadRefusal(parameters); !refusal.empty())
      backend_.Say("tarmic-batch: the parameter file " + parameters + " cannot be read: " + refusal);
    const bool taken = SwitchToParameterFile(window_, parameters);
    Settle(window_);
    if (!taken || !backend_.Unanswered().empty()) {
      backend_.Say("tarmic-batch: the parameter file " + parameters + " was not taken");
      return kBatchInputRefused;
    }
    std::string refusal = CheckSettingsTaken(o_.settings);
    if (refusal.empty()) refusal = ExtrasRefusal(o_.monteCarloSets, o_.saveNoise);
    if (!refusal.empty()) {
      backend_.Say("tarmic-batch: " + refusal);
      return kBatchInputRefused;
    }
    if (o_.methodCommand == kCmFitAnnealing) {
      const std::vector<std::string> answers = AnnealingAnswers(o_);
      for (const std::string& a : answers) backend_.QueueInput(a);
      const int final = o_.annealFinal.value_or(AnnealFinalInEffect());
      backend_.Say(Format("tarmic-batch: simulated annealing: start temperature %s, %d temperature steps, %d "
                          "iterations per temperature, final method %s",
                          answers[0].c_str(), o_.annealSteps.value_or(nAnnealTemps),
                          o_.annealIterations.value_or(nAnnealIters),
                          final == 1 ? "ml" : final == 2 ? "simplex" : "none"));
    }
    if (o_.methodCommand != 0) {
      DispatchCommand(window_, o_.methodCommand);
      Settle(window_);
    }
    if (!backend_.Unanswered().empty()) {
      backend_.Say("tarmic-batch: the fit's method was not set");
      return kBatchInputRefused;
    }
    return 0;
  }

  // Every result file that exists refuses the run unless it may be replaced; the
  // output folder is made and must take files. 0 when the results may be written.
  int CheckResultFiles(OutputFolder& output, const std::vector<std::string>& results) {
    const std::string& dir = output.Dir();
    std::vector<std::string> existing;
    for (const std::string& f : results) {
      std::error_code ec;
      if (!o_.replace && fs::exists(f, ec)) existing.push_back(f);
    }
    if (!existing.empty()) {
      backend_.Say("tarmic-batch: " + existing.front() + " exists; results are replaced only with --replace");
      if (existing.size() > 1)
        backend_.Say("tarmic-batch: " + std::to_string(existing.size() - 1) + " more of its results exist in " + dir);
      return kBatchInputRefused;
    }
    if (const std::string why = output.Prepare(); !why.empty()) {
      backend_.Say("tarmic-batch: the results cannot be written into " + dir + ": " + why);
      return kBatchInputRefused;
    }
    return 0;
  }

  // Save Fit Data, then for a distribution Save Continuous Distribution, each
  // answering its dialogs with the names it proposes in dir. Whether every result
  // was written without an error.
  bool Save(const std::string& dir, const std::vector<std::string>& results) {
    backend_.SaveInto(dir);
    backend_.AllowReplace(o_.replace);
    const std::size_t boxesBefore = backend_.Boxes().size();
    const std::size_t unansweredBefore = backend_.Unanswered().size();
    DispatchCommand(window_, kCmSaveFitData);
    Settle(window_);
    if (SavesDistribution()) {
      DispatchCommand(window_, kCmSaveContinuousDistribution);
      Settle(window_);
    }
    backend_.SaveInto("");
    bool saved = backend_.Unanswered().size() == unansweredBefore;
    for (std::size_t i = boxesBefore; i < backend_.Boxes().size(); ++i)
      saved = saved && (backend_.Boxes()[i].question || !IsErrorCaption(backend_.Boxes()[i].caption));
    for (const std::string& f : results) {
      std::error_code ec;
      if (fs::exists(f, ec)) continue;
      backend_.Say("tarmic-batch: " + FileNameOf(f) + " was not written");
      saved = false;
    }
    if (!saved) backend_.Say("tarmic-batch: the results were not saved in full");
    return saved;
  }

  void Summarize(const std::string& status, bool computed) {
    BatchSummary summary = SummarizeAnalysis(window_, WithoutTrailingSlash(szDataDirectory), status, computed);
    if (o_.monteCarloSets > 0) {
      // The columns are there whether or not the sets were computed.
      for (const char* column : {"position-limits", "area-limits"}) {
        std::string value;
        for (const auto& [name, v] : extraColumns_)
          if (name == column) value = v;
        summary.columns.push_back(column);
        summary.values.push_back(value);
      }
    }
    // The seed repeats the run.
    summary.columns.push_back("seed");
    summary.values.push_back(std::to_string(seed_));
    const std::string text = SummaryText(summary);
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
  }

  const BatchOptions& o_;
  std::uint32_t seed_;
  BatchBackend& backend_;
  std::FILE* out_;
  std::string stage_;  // the run's staging folder of the results
  std::vector<std::pair<std::string, std::string>> extraColumns_;  // of --monte-carlo
 public:
  std::string parameters_;  // the copy of the parameter file with the --set values, or empty
 private:
  TXLAWindow window_;
};

}  // namespace

std::vector<std::string> AnnealingAnswers(const BatchOptions& o) {
  const auto count = [](int v) { return FormatInputValue(static_cast<float>(v)); };
  return {FormatInputValue(o.annealTemperature.value_or(fAnnealStartTemp)), count(o.annealSteps.value_or(nAnnealTemps)),
          count(o.annealIterations.value_or(nAnnealIters)), count(o.annealFinal.value_or(AnnealFinalInEffect()))};
}

int RunBatch(const BatchOptions& options, const std::string& programDir, std::FILE* out, std::FILE* err,
             bool progress) {
  // Text files are read and written with the decimal point whatever the locale.
  std::setlocale(LC_NUMERIC, "C");
  const RunFolder folder;
  if (folder.Path().empty()) {
    std::fprintf(err, "tarmic-batch: could not make a folder of its own in %s: %s\n", TempDirectory().c_str(),
                 folder.Why().c_str());
    return kBatchAnalysisRefused;
  }
  CleanUpOnSignals(folder.Path());
  SetupPathTable(programDir, folder.Path() + "cache/");
  const auto copies = CopyUserSettings(szProgramDir, folder.Path() + "config/");
  PlaceWritableFiles(folder.Path() + "config/", folder.Path() + "data/");
  BatchBackend backend(err, progress);
  backend.NameCopiesAs(copies);
  const InstalledBackend installed(backend);
  InstallProgramServices();
  // The random numbers of the run (the simplex's start, annealing) follow its seed.
  const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
  SeedRandomGenerators(seed);
  BatchRun run(options, seed, backend, out, folder.Path() + "results/");
  if (!options.settings.empty()) {
    run.parameters_ = folder.Path() + FileNameOf(options.parameters);
    const std::string why = WriteParametersWithSettings(AbsolutePath(options.parameters), run.parameters_, options.settings);
    if (!why.empty()) {
      backend.Say("tarmic-batch: " + why);
      return kBatchInputRefused;
    }
    std::string given;
    for (const BatchSetting& setting : options.settings) given += " --set " + setting.name + "=" + setting.value;
    backend.ShowPathAs(run.parameters_, AbsolutePath(options.parameters) + " (with" + given + ")");
  }
  return run.Run();
}

}  // namespace tarmic
