#include "batch/batch_run.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string_view>

#include "app/app_main.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "batch/batch_cells.h"
#include "batch/batch_damaged_scans.h"
#include "batch/batch_data_kind.h"
#include "batch/batch_manifest.h"
#include "batch/batch_set.h"
#include "batch/batch_extras.h"
#include "batch/batch_output.h"
#include "batch/batch_pictures.h"
#include "batch/batch_summary.h"
#include "commands/command_support.h"
#include "commands/load_commands.h"
#include "commands/program_services.h"
#include "commands/save_outcome.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_flags.h"
#include "modelcalc/parameter_report.h"
#include "modelcalc/analysis_outcome.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/param_checks.h"
#include "numerics/number_input.h"
#include "numerics/random.h"
#include "numerics/text_lines.h"
#include "services/error_box.h"
#include "platform/events.h"
#include "platform/system.h"
#include "resources/command_ids.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/data_set_hooks.h"
#include "scandata/result_files.h"
#include "scandata/text_io.h"
#include "services/path_table.h"
#include "storage/atomic_file.h"

namespace tarmic {

namespace {

namespace fs = std::filesystem;

// The scan files of a run, each read once: the check that they are one cell, the
// window's load and the manifest's digest all take the same bytes (a file changed
// meanwhile cannot make them disagree either), digested as they are read. In
// force while it lives.
class ScanFilesReadOnce {
 public:
  explicit ScanFilesReadOnce(const std::vector<std::string>& paths)
      : previous_(GetDataSetHooks().wholeFileBytes) {
    for (const std::string& path : paths) files_.try_emplace(path);
    GetDataSetHooks().wholeFileBytes = [this](const std::string& path) { return Bytes(path); };
  }
  ~ScanFilesReadOnce() { GetDataSetHooks().wholeFileBytes = previous_; }
  ScanFilesReadOnce(const ScanFilesReadOnce&) = delete;
  ScanFilesReadOnce& operator=(const ScanFilesReadOnce&) = delete;

  const std::string* Bytes(const std::string& path) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const File* file = ReadLocked(path);
    return file ? &file->bytes : nullptr;
  }

  // The digest of a scan of the run from its one read; any other file from disk.
  std::optional<FileDigest> Digest(const std::string& path) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (const File* file = ReadLocked(path)) return FileDigest{file->bytes.size(), file->sha256};
    }
    return DigestOfFile(path);
  }

 private:
  struct File {
    bool tried = false;
    bool read = false;
    std::string bytes;
    std::string sha256;
  };

  // The file read on first use; null when it is none of the run's scans or cannot
  // be read (the disk read then says why).
  const File* ReadLocked(const std::string& path) {
    const auto it = files_.find(path);
    if (it == files_.end()) return nullptr;
    File& file = it->second;
    if (!file.tried) {
      file.tried = true;
      // The one reader's bytes: regular files only, read again when they changed
      // while they were read.
      file.read = ReadFileBytes(path, &file.bytes);
      if (file.read) file.sha256 = Sha256Hex(file.bytes);
      else std::string().swap(file.bytes);
    }
    return file.read ? &file : nullptr;
  }

  std::mutex mutex_;
  std::map<std::string, File> files_;
  std::function<const std::string*(const std::string&)> previous_;
};

// The folder of one run's settings ("config/"), working files ("data/") and
// temporary files ("cache/"), made under the user's temporary directory and
// removed with everything in it at the end.
class RunFolder {
 public:
  RunFolder() {
    // Named after this host and process, so that a later run can tell a dead run's
    // folder from a live one's (SweepDeadRunFolders).
    std::string pattern = TempDirectory() + RunFolderPrefix() + "XXXXXX";
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
      if (CopyFileAtomically(from, configDir + name)) copies.emplace_back(configDir + name, from);
      break;
    }
  }
  return copies;
}

// The settings that change results, as one digest: the name and bytes of each copy
// the run took, in the order of kSettingsFileNames ("none" when none was there: the
// program's own defaults).
std::string SettingsDigest(const std::vector<std::pair<std::string, std::string>>& copies) {
  std::string all;
  for (const auto& [copy, from] : copies) {
    const std::optional<FileDigest> d = DigestOfFile(copy);
    all += FileNameOf(copy) + "\t" + (d ? d->sha256 : std::string("unreadable")) + "\n";
  }
  return all.empty() ? std::string("none") : Sha256Hex(all);
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

// Whether the analysis saves a distribution (Save Continuous Distribution).
bool SavesDistribution() { return IsContinuousModel() && SavesContinuousDistribution(); }

// The set's own files beside what the window's saves write.
constexpr const char* kSummaryFile = "summary.tsv";
constexpr const char* kPeaksFile = "peaks.tsv";
constexpr const char* kSizeShapeFile = "distribution-ff0.dat";  // the cells of c(s,ff0)

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
  if (!DataSet().szTmpParsPath.empty() && !DataSet().bEquilibriumMode) files.push_back(DataSet().szTmpParsPath);
  if (SavesDistribution()) files.push_back(JoinPath(dir, FileNameOf(DefaultDistributionPath())));
  if (GridSetupWritesStoredGrid()) files.push_back(DataSet().szSdistPath);
  return files;
}

// The files the batch writes into dir beside them (WriteSetFiles): c(s,ff0)'s
// distribution over s as the window shows it and its cells, the summary, the peaks
// of a distribution, the manifest.
std::vector<std::string> SetFiles(const std::string& dir) {
  std::vector<std::string> files;
  if (IsContinuousModel() && IsSizeShapeModel()) {
    files.push_back(JoinPath(dir, FileNameOf(DefaultDistributionPath())));
    files.push_back(JoinPath(dir, kSizeShapeFile));
  }
  files.push_back(JoinPath(dir, kSummaryFile));
  if (IsContinuousModel()) files.push_back(JoinPath(dir, kPeaksFile));
  files.push_back(JoinPath(dir, kManifestName));
  return files;
}

// A file of the staging folder, written whole (the staging folder is not synced:
// it is synced once it is published).
bool WriteWholeFile(const std::string& path, const std::string& text) { return WriteTextFileAtomically(path, text); }


// What the Run of the analysis in effect refuses before it computes anything, in
// the order the Run checks it (distributions/conti_run, commands/run_commands):
// for a distribution the cell, the fitting limits and the grid (the memory it
// needs among it), for every model the values of the model and the Lamm settings,
// then the sign of s that the buoyancy allows on a distribution's grid. Empty when
// the Run can go.
std::string AnalysisRefusalBeforeRun() {
  UnpackModelParams();
  if (IsContinuousModel() && !DataSet().bDLSData) {
    // A cell without meniscus or bottom the Run names itself.
    if (DataSet().fMeniscus == 0.0f || DataSet().fBottom == 0.0f) return {};
    if (!std::isfinite(DataSet().fMeniscus) || !std::isfinite(DataSet().fBottom) || !(DataSet().fMeniscus < DataSet().fBottom))
      return Format("the meniscus %g cm must lie below the bottom %g cm", static_cast<double>(DataSet().fMeniscus),
                    static_cast<double>(DataSet().fBottom));
    if (std::string why = FitLimitsRefusal(DataSet().fFitLeftLim, DataSet().fFitRightLim); !why.empty()) return why;
    if (!IsSizeShapeModel())
      if (std::string why = ContiGridSettingsRefusal(); !why.empty()) return why;
  }
  if (std::string why = RunValuesRefusal(); !why.empty()) return why;
  if (IsContinuousModel() && !DistributionGrid().bUseStoredGrid)
    if (std::string why = BuoyancySignRefusal(DistributionGrid().fDistMin, DistributionGrid().fDistMax); !why.empty()) return why;
  return {};
}

// The analysis of a run as its manifest records it: every option that decides
// the results, in one canonical order (not where they go, nor --replace).
std::string AnalysisOf(const BatchOptions& o) {
  std::string a = o.fit ? "fit" : "run";
  if (o.methodCommand != 0) a += Format(" method=%d", o.methodCommand);
  if (o.seed) a += Format(" seed=%u", *o.seed);
  if (o.annealTemperature) a += " anneal-temperature=" + FormatInputValue(*o.annealTemperature);
  if (o.annealSteps) a += Format(" anneal-steps=%d", *o.annealSteps);
  if (o.annealIterations) a += Format(" anneal-iterations=%d", *o.annealIterations);
  if (o.annealFinal) a += Format(" anneal-final=%d", *o.annealFinal);
  for (const BatchSetting& s : o.settings) a += " set:" + s.name + "=" + s.value;
  if (o.monteCarloSets > 0) a += Format(" monte-carlo=%d", o.monteCarloSets);
  if (o.saveNoise) a += " save-noise";
  if (o.equilibrium) a += " equilibrium";
  if (!o.pictures) a += " no-pictures";
  if (o.cell) a += Format(" cell=%d", *o.cell);
  if (o.wavelength) a += Format(" wavelength=%d", *o.wavelength);
  return a;
}

// The command line as given, one blank between the arguments; an argument with
// characters a shell would take apart (a blank in a folder's name) in single quotes.
std::string CommandLineOf(const BatchOptions& o) {
  std::string c = "tarmic-batch";
  for (const std::string& a : o.arguments) {
    const bool plain = !a.empty() && std::all_of(a.begin(), a.end(), [](char ch) {
      return std::isalnum(static_cast<unsigned char>(ch)) || std::string_view("_./=:,+-~@%").find(ch) != std::string_view::npos ||
             static_cast<unsigned char>(ch) >= 0x80;
    });
    std::string quoted;
    for (char ch : a) quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    c += " " + (plain ? a : "'" + quoted + "'");
  }
  return c;
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

// Why the scans loaded (the load's outcome) are not the scans named, "" when each
// scan named is the scan of its place in the loaded set.
std::string ScansReadRefusal(const std::vector<std::string>& scans, const std::vector<std::string>& loaded) {
  const std::size_t n = loaded.size();
  for (std::size_t k = 0; k < scans.size(); ++k) {
    std::error_code ec;
    if (k >= n || !(loaded[k] == scans[k] || fs::equivalent(loaded[k], scans[k], ec)))
      return scans[k] + " was named but not read as scan " + std::to_string(k + 1) +
             (k >= n ? " (" + std::to_string(n) + " scans were read)" : " (" + loaded[k] + " was)");
  }
  if (n > scans.size()) return std::to_string(n) + " scans were read for " + std::to_string(scans.size()) + " named";
  return "";
}

// The final method after annealing as its input takes it: 1 ML, 2 simplex, 0 none.
int AnnealFinalInEffect() { return SearchSettings().bAnnealFinalML ? 1 : (SearchSettings().bAnnealFinalSimplex ? 2 : 0); }

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
    std::vector<std::string> named;
    for (const std::string& scan : o_.scans) named.push_back(AbsolutePath(scan));
    if (const std::string why = ScanListRefusal(named); !why.empty()) {
      backend_.Say("tarmic-batch: " + why);
      return kBatchInputRefused;
    }
    ScanFilesReadOnce scanFiles(named);
    // One cell at one wavelength is one analysis.
    const CellChoice choice = ChooseCell(named, o_.cell, o_.wavelength);
    if (!choice.refusal.empty()) {
      backend_.Say("tarmic-batch: " + choice.refusal);
      return kBatchInputRefused;
    }
    cell_ = choice.cell;
    const std::string dir =
        o_.output.empty() ? WithoutTrailingSlash(DirectoryOf(choice.scans.front())) : AbsolutePath(o_.output);
    manifest_.version = BatchVersion();
    manifest_.seed = std::to_string(seed_);
    manifest_.command = CommandLineOf(o_);
    manifest_.analysis = AnalysisOf(o_) + " settings=" + settingsDigest_ + " version=" + BatchVersion();
    for (const std::string& input : [&] {
           std::vector<std::string> inputs = {AbsolutePath(o_.parameters)};
           inputs.insert(inputs.end(), choice.scans.begin(), choice.scans.end());
           return inputs;
         }()) {
      const std::optional<FileDigest> d = scanFiles.Digest(input);
      manifest_.inputs.emplace_back(d ? d->sha256 : std::string("-"), input);
    }
    // The set of this very analysis, complete, is kept as it is; another set is
    // replaced only with --replace.
    if (!o_.replace) {
      if (const std::optional<int> kept = KeptSet(dir)) return *kept;
    }
    // A damaged scan (refused by the reader, or cut short far before the others'
    // fitting limit) is left out of the set, so that it moves no limit of the
    // others; the summary names it and the result carries the flag.
    std::vector<ScanReach> reaches;
    for (const std::string& scan : choice.scans) reaches.push_back(ReachOfScan(scan));
    leftOut_ = DamagedScans(reaches, ParameterFileRightLimit(AbsolutePath(parameters_.empty() ? o_.parameters : parameters_)));
    std::vector<std::string> used;
    for (const std::string& scan : choice.scans)
      if (std::none_of(leftOut_.begin(), leftOut_.end(), [&](const LeftOutScan& l) { return l.file == scan; }))
        used.push_back(scan);
    for (const LeftOutScan& l : leftOut_) backend_.Say("tarmic-batch: " + FileNameOf(l.file) + " is left out: " + l.reason);
    if (used.empty()) {
      backend_.Say("tarmic-batch: no scan of the set can be read");
      return kBatchInputRefused;
    }
    if (const int refused = LoadInput(used); refused != 0) return refused;
    // The saved parameters of the analysis and the grid of a distribution, which the
    // window keeps beside the data, go with the results. Everything is written into
    // the run's staging folder and published into dir as one set at the end.
    if (!DataSet().szTmpParsPath.empty()) DataSet().szTmpParsPath = JoinPath(stage_, FileNameOf(DataSet().szTmpParsPath));
    if (!DataSet().szSdistPath.empty() && GridSetupWritesStoredGrid())
      DataSet().szSdistPath = JoinPath(stage_, FileNameOf(DataSet().szSdistPath));
    const std::vector<std::string> staged = ResultFiles(stage_);
    std::vector<std::string> results;
    for (const std::string& f : staged) results.push_back(JoinPath(dir, FileNameOf(f)));
    for (const std::string& f : SetFiles(dir)) results.push_back(f);
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
    outcome_ = LastAnalysisOutcome();
    const bool computed = outcome_.status != AnalysisOutcome::Status::NotComputed;
    const std::string status = Status();
    if (status != kStatusComputed && status != kStatusFlagged) {
      backend_.Say("tarmic-batch: the analysis was " + status + "; nothing is saved");
      return Summarize(status, computed);
    }
    // A flagged result is kept whole, with its flags.
    if (status == kStatusFlagged)
      backend_.Say("tarmic-batch: computed with flags (" + RunFlagsText() + "); the results are saved");
    if (!Save(stage_, staged)) return Summarize(kStatusNotSaved, computed);
    std::string extraError;
    if (o_.saveNoise) extraError = SaveNoiseInto(window_, backend_, stage_);
    if (extraError.empty() && o_.monteCarloSets > 0) {
      MonteCarloResult monteCarlo;
      extraError = MonteCarloOfPeaks(window_, o_.monteCarloSets, stage_, &monteCarlo);
      Settle(window_);
      limits_ = monteCarlo.peaks;
    }
    // The pictures are staged before the set's own files, so that the manifest
    // lists them with the rest.
    if (extraError.empty()) extraError = WriteBatchPictures(o_, stage_);
    if (extraError.empty()) extraError = WriteSetFiles(status, computed);
    if (!extraError.empty()) {
      backend_.Say("tarmic-batch: " + extraError + "; nothing is saved");
      return Summarize(kStatusNotSaved, computed);
    }
    const PublishOutcome published = PublishResultSet(FilesIn(stage_), dir, o_.replace);
    if (published.outcome != Published::Whole) backend_.Say("tarmic-batch: " + published.message);
    for (const std::string& f : published.kept)
      backend_.Say("tarmic-batch: kept " + f + ": it is no longer the file of the replaced set's " + kManifestName);
    if (published.outcome == Published::Exists) return kBatchInputRefused;
    if (published.outcome == Published::NotSaved) {
      backend_.Say("tarmic-batch: the results were not saved; nothing of them is in " + dir);
      return Summarize(kStatusNotSaved, computed);
    }
    output.Keep();
    savedIn_ = dir;
    return Summarize(status, computed);
  }

 private:
  // How the analysis ended: "stopped" when anything of the run was left
  // unanswered, "not computed" without a model of the loaded data or when the
  // analysis showed an error, "computed with flags" for a fit whose result carries
  // flags (FitFlags: at a bound, not converged, grid, misfit), else "computed".
  std::string Status() const {
    if (!backend_.Unanswered().empty()) return kStatusStopped;
    if (outcome_.status == AnalysisOutcome::Status::NotComputed) return kStatusNotComputed;
    // An error the analysis showed (a model value with no solution, say) leaves a
    // result that is no result.
    if (outcome_.errorShown) return kStatusNotComputed;
    if (o_.fit && !outcome_.flags.empty()) return kStatusFlagged;
    if (!leftOut_.empty()) return kStatusFlagged;
    return kStatusComputed;
  }

  // The scans and the parameter file; 0 when both were taken and the analysis can
  // run as they are.
  int LoadInput(const std::vector<std::string>& scans) {
    backend_.OfferFiles(scans);
    LoadNewFiles(window_, o_.equilibrium ? LoadKind::Equilibrium : LoadKind::Velocity);
    Settle(window_);
    const LoadOutcome& load = LastLoadOutcome();
    if (load.status != LoadOutcome::Status::Loaded || load.scans.empty() || !backend_.Unanswered().empty()) {
      backend_.Say("tarmic-batch: the scans were not loaded");
      if (HasMessage(load.messages, LoadMessageIdName(LoadMessageId::OneFileSelected)))
        backend_.Say("tarmic-batch: a single scan is equilibrium data: give --equilibrium");
      return kBatchInputRefused;
    }
    // Every scan named is the scan read, in its place.
    if (const std::string why = ScansReadRefusal(scans, load.scans); !why.empty()) {
      backend_.Say("tarmic-batch: " + why);
      return kBatchInputRefused;
    }
    // Data of another kind than the command line says, by the loader's test of the profiles.
    const std::vector<std::string> kind = DataKindRefusal(
        load, o_.equilibrium ? BatchDataKind::Equilibrium : o_.velocity ? BatchDataKind::Velocity : BatchDataKind::Judged);
    for (const std::string& line : kind) backend_.Say("tarmic-batch: " + line);
    if (!kind.empty()) return kBatchInputRefused;
    // A --set that the parameter file's model has no use for is named before its
    // value goes into a line that means something else to that model.
    if (!o_.settings.empty()) {
      const bool taken = SwitchToParameterFile(window_, AbsolutePath(o_.parameters));
      Settle(window_);
      if (taken && backend_.Unanswered().empty()) {
        if (const std::string why = SettingsNotApplicable(o_.settings); !why.empty()) {
          backend_.Say("tarmic-batch: " + why);
          return kBatchInputRefused;
        }
      }
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
    // What the Run would refuse, it refuses before anything is computed.
    if (refusal.empty()) {
      if (const std::string why = AnalysisRefusalBeforeRun(); !why.empty()) {
        std::string given;
        for (const BatchSetting& setting : o_.settings) given += (given.empty() ? "" : " ") + setting.name + "=" + setting.value;
        refusal = (given.empty() ? "the analysis of the parameter file cannot run: "
                                 : "the analysis with --set " + given + " cannot run: ") +
                  BoxLine("", why);
      }
    }
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
                          answers[0].c_str(), o_.annealSteps.value_or(SearchSettings().nAnnealTemps),
                          o_.annealIterations.value_or(SearchSettings().nAnnealIters),
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
    const std::size_t unansweredBefore = backend_.Unanswered().size();
    DispatchCommand(window_, kCmSaveFitData);
    Settle(window_);
    bool saved = LastSaveOutcome().saved;
    if (SavesDistribution()) {
      DispatchCommand(window_, kCmSaveContinuousDistribution);
      Settle(window_);
      saved = saved && LastSaveOutcome().saved;
    }
    backend_.SaveInto("");
    saved = saved && backend_.Unanswered().size() == unansweredBefore;
    for (const std::string& f : results) {
      std::error_code ec;
      if (fs::exists(f, ec)) continue;
      backend_.Say("tarmic-batch: " + FileNameOf(f) + " was not written");
      saved = false;
    }
    if (!saved) backend_.Say("tarmic-batch: the results were not saved in full");
    return saved;
  }

  // The summary of the run to standard output: the exit code of the run with
  // that status (BatchExitCode), or 1 when the summary could not be written, which is
  // then said with what was saved.
  int Summarize(const std::string& status, bool computed) {
    const std::string text = SummaryText(SummaryOf(status, computed));
    return WriteSummary(text, BatchExitCode(status, !savedIn_.empty()));
  }

  int WriteSummary(const std::string& text, int code) {
    errno = 0;
    if (std::fputs(text.c_str(), out_) >= 0 && std::fflush(out_) == 0 && !std::ferror(out_)) return code;
    const std::string why = errno != 0 ? std::strerror(errno) : "write error";
    backend_.Say("tarmic-batch: the summary could not be written to standard output: " + why);
    if (!savedIn_.empty())
      backend_.Say("tarmic-batch: the results are saved in " + savedIn_ + " (the summary in " + kSummaryFile + ")");
    return kBatchAnalysisRefused;
  }

  // The flags of the result: the fit's (FitFlags) and the scans left out.
  std::string RunFlagsText() const {
    std::string text = o_.fit ? FlagsText(outcome_.flags) : std::string();
    if (!leftOut_.empty()) text += (text.empty() ? "" : "; ") + Format("scans left out: %zu", leftOut_.size());
    return text;
  }

  BatchSummary SummaryOf(const std::string& status, bool computed) {
    BatchSummary summary =
        SummarizeAnalysis(outcome_, WithoutTrailingSlash(DataSet().szDataDirectory), cell_, status, computed);
    // The flags column, after the status, for a Run as for a Fit.
    const auto at = std::find(summary.columns.begin(), summary.columns.end(), "flags");
    if (at == summary.columns.end()) {
      const auto status = std::find(summary.columns.begin(), summary.columns.end(), "status");
      const auto k = (status == summary.columns.end() ? summary.columns.end() : status + 1) - summary.columns.begin();
      summary.columns.insert(summary.columns.begin() + k, "flags");
      summary.values.insert(summary.values.begin() + k, computed ? RunFlagsText() : std::string());
    } else if (computed) {
      summary.values[static_cast<std::size_t>(at - summary.columns.begin())] = RunFlagsText();
    }
    // The range fitted and what of the set went into it.
    const DataSetState& set = DataSet();
    long points = 0;
    for (int i = 1; i <= set.nScans; ++i) {
      const std::size_t k = static_cast<std::size_t>(i);
      if (k < set.pFitFirst.size() && k < set.pFitLast.size() && set.pFitLast[k] >= set.pFitFirst[k])
        points += set.pFitLast[k] - set.pFitFirst[k] + 1;
    }
    const bool loaded = set.nScans > 0;
    summary.columns.insert(summary.columns.end(), {"fit from [cm]", "fit to [cm]", "points", "scans used", "scans left out"});
    summary.values.insert(summary.values.end(),
                          {loaded ? Format("%.4f", static_cast<double>(set.fFitLeftLim)) : "",
                           loaded ? Format("%.4f", static_cast<double>(set.fFitRightLim)) : "",
                           loaded ? std::to_string(points) : "", std::to_string(set.nScans),
                           std::to_string(leftOut_.size())});
    if (o_.fit) {
      // How well the fit meets the noise of its data (rmsd over the noise of the
      // residuals, empty without an estimate).
      summary.columns.push_back("misfit");
      summary.values.push_back(outcome_.misfitRatio > 0.0 ? Format("%.2f", outcome_.misfitRatio) : "");
    }
    // The ids of the notes of a fit's end, and each scan left out with its reason
    // (a tab or line end of a reason is no cell's end).
    std::string notes;
    if (o_.fit)
      for (const OutcomeMessage& m : outcome_.messages) notes += (notes.empty() ? "" : " ") + m.id;
    for (const LeftOutScan& l : leftOut_) {
      std::string reason = FileNameOf(l.file) + " left out: " + l.reason;
      std::replace_if(reason.begin(), reason.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
      notes += (notes.empty() ? "" : "; ") + reason;
    }
    summary.columns.push_back("notes");
    summary.values.push_back(notes);
    // The seed repeats the run.
    summary.columns.push_back("seed");
    summary.values.push_back(std::to_string(seed_));
    return summary;
  }

  // The set's own files into the staging folder: the summary, the peaks of a
  // distribution (with their Monte-Carlo limits), c(s,ff0)'s distribution over s
  // and its cells, and last the manifest of every file staged. Empty, or why not.
  std::string WriteSetFiles(const std::string& status, bool computed) {
    const std::string data = WithoutTrailingSlash(DataSet().szDataDirectory);
    std::vector<std::pair<std::string, std::string>> texts = {
        {kSummaryFile, SummaryText(SummaryOf(status, computed))}};
    if (IsContinuousModel()) texts.emplace_back(kPeaksFile, PeaksText(outcome_, data, cell_, limits_));
    for (const auto& [name, text] : texts)
      if (!WriteWholeFile(JoinPath(stage_, name), text)) return name + " was not written";
    if (IsSizeShapeModel()) {
      const std::string over = JoinPath(stage_, FileNameOf(DefaultDistributionPath()));
      if (const DistributionFileResult r = SaveDistributionAsShown(over); !r) return r.message;
      if (!WriteSizeShapeDistribution(JoinPath(stage_, kSizeShapeFile))) return std::string(kSizeShapeFile) + " was not written";
    }
    ResultManifest m = ManifestOfFolder(stage_);
    m.version = manifest_.version;
    m.seed = manifest_.seed;
    m.command = manifest_.command;
    m.analysis = manifest_.analysis;
    m.inputs = manifest_.inputs;
    if (!WriteWholeFile(JoinPath(stage_, kManifestName), ManifestText(m))) return std::string(kManifestName) + " was not written";
    return "";
  }

  // A complete set of this analysis in dir (its manifest verified) is kept: the
  // summary it holds is the summary of the run, nothing is computed. nullopt when
  // dir holds no manifest (the files of the run are looked at one by one later);
  // otherwise the exit code.
  std::optional<int> KeptSet(const std::string& dir) {
    const std::optional<ResultManifest> old = ReadManifest(dir);
    if (!old) return std::nullopt;
    if (old->analysis != manifest_.analysis || old->inputs != manifest_.inputs) {
      // The same options and inputs, other settings or another build: said as such.
      // "OPTIONS settings=DIGEST version=VERSION": the parts after the options.
      const auto part = [](const std::string& a, const char* key, const char* end) {
        const std::size_t at = a.find(key), stop = a.find(end, at == std::string::npos ? 0 : at);
        return at == std::string::npos ? std::string() : a.substr(at, stop == std::string::npos ? stop : stop - at);
      };
      // A set of a build whose manifests held no settings and version is another
      // build's.
      const bool older = old->analysis == AnalysisOf(o_);
      const bool sameOptions =
          old->inputs == manifest_.inputs && (older || old->analysis.starts_with(AnalysisOf(o_) + " settings="));
      const bool otherSettings = !older && part(old->analysis, " settings=", " version=") !=
                                               part(manifest_.analysis, " settings=", " version=");
      const bool otherBuild =
          older || part(old->analysis, " version=", "\n") != part(manifest_.analysis, " version=", "\n");
      std::string other = "another analysis";
      if (sameOptions && otherBuild)
        other = "this analysis computed by another build (" + old->version + ")" +
                (otherSettings ? " with other settings" : "");
      else if (sameOptions && otherSettings)
        other = "this analysis computed with other settings than " + SettingsNamed();
      backend_.Say("tarmic-batch: " + dir + " holds the results of " + other + " (see its " + kManifestName +
                   "); results are replaced only with --replace");
      return kBatchInputRefused;
    }
    std::string why = ManifestMismatch(*old, dir);
    const bool hasSummary =
        std::any_of(old->files.begin(), old->files.end(), [](const auto& e) { return e.name == kSummaryFile; });
    if (why.empty() && !hasSummary) why = std::string(kSummaryFile) + " is not part of it";
    if (!why.empty()) {
      backend_.Say("tarmic-batch: " + dir + " holds an incomplete set of this analysis' results (" + why +
                   "); --replace computes them again");
      return kBatchInputRefused;
    }
    backend_.Say("tarmic-batch: kept: " + dir + " holds the complete results of this analysis (" + kManifestName +
                 " verified); nothing is computed, --replace computes them again");
    savedIn_ = dir;
    std::string summary;
    // The summary line the run wrote, said again as it stands.
    ReadWholeTextFile(JoinPath(dir, kSummaryFile), LastLine::kAsItStands, &summary);
    // The kept set ends as the run that saved it ended: with flags, exit code 3.
    return WriteSummary(summary, BatchExitCode(SummaryStatus(summary), true));
  }

  const BatchOptions& o_;
  std::uint32_t seed_;
  BatchBackend& backend_;
  std::FILE* out_;
  std::string stage_;  // the run's staging folder of the results
  std::vector<MonteCarloPeak> limits_;  // of --monte-carlo, by peak
  std::vector<LeftOutScan> leftOut_;    // the damaged scans left out of the set
  int cell_ = -1;                       // the cell of the scans
  ResultManifest manifest_;             // what the set's manifest says of the run
  std::string savedIn_;                 // where the results are, once they are
  AnalysisOutcome outcome_;             // of the Run or Fit
 public:
  std::string parameters_;  // the copy of the parameter file with the --set values, or empty
  // The SHA-256 of the user's settings the run took (SettingsDigest), and their files.
  std::string settingsDigest_;
  std::vector<std::string> settingsFiles_;
  // The settings files the run took, for a message: "a, b" or the defaults.
  std::string SettingsNamed() const {
    std::string named;
    for (const std::string& f : settingsFiles_) named += (named.empty() ? "" : ", ") + f;
    return named.empty() ? "the program's defaults (no settings file)" : named;
  }
 private:
  TXLAWindow window_;
};

}  // namespace

std::vector<std::string> AnnealingAnswers(const BatchOptions& o) {
  const auto count = [](int v) { return FormatInputValue(static_cast<float>(v)); };
  return {FormatInputValue(o.annealTemperature.value_or(SearchSettings().fAnnealStartTemp)), count(o.annealSteps.value_or(SearchSettings().nAnnealTemps)),
          count(o.annealIterations.value_or(SearchSettings().nAnnealIters)), count(o.annealFinal.value_or(AnnealFinalInEffect()))};
}

int RunBatch(const BatchOptions& options, const std::string& programDir, std::FILE* out, std::FILE* err,
             bool progress) {
  // Text files are read and written with the decimal point whatever the locale.
  std::setlocale(LC_NUMERIC, "C");
  // The folders that runs on this host left when they were killed go first.
  SweepDeadRunFolders(TempDirectory());
  const RunFolder folder;
  if (folder.Path().empty()) {
    std::fprintf(err, "tarmic-batch: could not make a folder of its own in %s: %s\n", TempDirectory().c_str(),
                 folder.Why().c_str());
    return kBatchInputRefused;
  }
  CleanUpOnSignals(folder.Path());
  // The run's own folder takes its working files and results before anything is
  // computed: a temporary directory on a full disk refuses the run now.
  if (const std::string why = FolderProbeRefusal(folder.Path()); !why.empty()) {
    std::fprintf(err, "tarmic-batch: the temporary folder %s cannot take the run's files: %s\n",
                 TempDirectory().c_str(), why.c_str());
    return kBatchInputRefused;
  }
  // What the run writes into its own folder is a copy or a working file: each
  // result is synced once, where the set is published.
  SetUnsyncedFolder(folder.Path());
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
  run.settingsDigest_ = SettingsDigest(copies);
  for (const auto& [copy, from] : copies) run.settingsFiles_.push_back(from);
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
