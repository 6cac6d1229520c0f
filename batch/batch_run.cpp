#include "batch/batch_run.h"

#include <cctype>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "app/app_main.h"
#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "batch/batch_summary.h"
#include "commands/command_support.h"
#include "commands/load_commands.h"
#include "commands/program_services.h"
#include "distributions/distribution_file.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_persistence.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
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
    for (const char* sub : {"config/", "data/", "cache/"}) {
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

// Whether the distribution takes its grid from the stored grid file beside the
// data (which is then read, not written).
bool GridFromFile() { return IsContinuousModel() && pParamFitFlags[kContiFitGridFromFile] != 0; }

// The files the analysis writes into dir: what Save Fit Data writes for the
// names it proposes (the fitted and residual scans, the parameter report, the
// saved parameters of the analysis, which follow the results into dir), and for a
// distribution the file Save Continuous Distribution proposes.
std::vector<std::string> ResultFiles(const std::string& dir) {
  const FitDataNames names = ProposedFitDataNames();
  std::vector<std::string> files = FittedScanFiles(JoinPath(dir, names.fits), false);
  for (const std::string& f : ResidualScanFiles(JoinPath(dir, names.residuals))) files.push_back(f);
  files.push_back(ParameterReportPath(JoinPath(dir, names.report)));
  if (!szTmpParsPath.empty()) files.push_back(szTmpParsPath);
  if (IsContinuousModel()) {
    files.push_back(JoinPath(dir, FileNameOf(DefaultDistributionPath())));
    if (!GridFromFile()) files.push_back(szSdistPath);
  }
  return files;
}

class BatchRun {
 public:
  BatchRun(const BatchOptions& options, BatchBackend& backend, std::FILE* out)
      : o_(options), backend_(backend), out_(out), window_("Sedimentation Analysis") {
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
    // window keeps beside the data, go with the results.
    if (!szTmpParsPath.empty()) szTmpParsPath = JoinPath(dir, FileNameOf(szTmpParsPath));
    if (!szSdistPath.empty() && IsContinuousModel() && !GridFromFile())
      szSdistPath = JoinPath(dir, FileNameOf(szSdistPath));
    const std::vector<std::string> results = ResultFiles(dir);
    if (const int refused = CheckResultFiles(dir, results); refused != 0) return refused;

    const std::size_t boxesBefore = backend_.Boxes().size();
    const std::size_t unansweredBefore = backend_.Unanswered().size();
    backend_.TakeReadouts(true);
    DispatchCommand(window_, o_.fit ? kCmFit : kCmRun);
    backend_.TakeReadouts(false);
    backend_.EndReadoutLine();
    Settle(window_);
    const bool computed = FitOfLoadedData();
    bool notConverged = false;
    for (std::size_t i = boxesBefore; i < backend_.Boxes().size(); ++i)
      notConverged = notConverged || backend_.Boxes()[i].text == kSimplexNotConvergedText;
    std::string status = "computed";
    if (backend_.Unanswered().size() != unansweredBefore) status = "stopped";
    else if (!computed) status = "not computed";
    else if (notConverged) status = "not converged";
    if (status != "computed") {
      backend_.Say("tarmic-batch: the analysis was " + status + "; nothing is saved");
      Summarize(status, computed);
      return kBatchAnalysisRefused;
    }
    if (!Save(dir, results)) {
      Summarize("not saved", computed);
      return kBatchAnalysisRefused;
    }
    Summarize(status, computed);
    return kBatchComputed;
  }

 private:
  // The scans and the parameter file; 0 when both were taken.
  int LoadInput() {
    std::vector<std::string> scans;
    for (const std::string& s : o_.scans) scans.push_back(AbsolutePath(s));
    backend_.OfferFiles(scans);
    const bool loaded = LoadNewFiles(window_, LoadKind::Velocity);
    Settle(window_);
    if (!loaded || nScans < 1 || !backend_.Unanswered().empty()) {
      backend_.Say("tarmic-batch: the scans were not loaded");
      return kBatchInputRefused;
    }
    const std::string parameters = AbsolutePath(o_.parameters);
    // A file that is not there says nothing when it is offered: the batch says why.
    if (const std::string refusal = FileReadRefusal(parameters); !refusal.empty())
      backend_.Say("tarmic-batch: the parameter file " + parameters + " cannot be read: " + refusal);
    const bool taken = SwitchToParameterFile(window_, parameters);
    Settle(window_);
    if (!taken || !backend_.Unanswered().empty()) {
      backend_.Say("tarmic-batch: the parameter file " + parameters + " was not taken");
      return kBatchInputRefused;
    }
    if (o_.methodCommand != 0) {
      DispatchCommand(window_, o_.methodCommand);
      Settle(window_);
    }
    return 0;
  }

  // Every result file that exists refuses the run unless it may be replaced; the
  // output folder is made. 0 when the results may be written.
  int CheckResultFiles(const std::string& dir, const std::vector<std::string>& results) {
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
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
      backend_.Say("tarmic-batch: could not make the output folder " + dir + ": " + ec.message());
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
    if (IsContinuousModel()) {
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
      backend_.Say("tarmic-batch: " + f + " was not written");
      saved = false;
    }
    if (!saved) backend_.Say("tarmic-batch: the results were not saved in full");
    return saved;
  }

  void Summarize(const std::string& status, bool computed) {
    const std::string text =
        SummaryText(SummarizeAnalysis(window_, WithoutTrailingSlash(szDataDirectory), status, computed));
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
  }

  const BatchOptions& o_;
  BatchBackend& backend_;
  std::FILE* out_;
  TXLAWindow window_;
};

}  // namespace

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
  SetupPathTable(programDir, folder.Path() + "cache/");
  const auto copies = CopyUserSettings(szProgramDir, folder.Path() + "config/");
  PlaceWritableFiles(folder.Path() + "config/", folder.Path() + "data/");
  BatchBackend backend(err, progress);
  backend.NameCopiesAs(copies);
  const InstalledBackend installed(backend);
  InstallProgramServices();
  BatchRun run(options, backend, out);
  return run.Run();
}

}  // namespace tarmic
