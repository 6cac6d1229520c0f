// The Monte-Carlo statistics of the current distribution (296, 546), the prior
// made of the peaks of the current distribution (633) and the prior dialog "Use
// Prior Probabilities" (529).
#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>

#include "app/paint.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/distribution_commands.h"
#include "commands/prior_dialog.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_prior.h"
#include "modelcalc/conti_monte_carlo.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "services/sounds.h"
#include "platform/backend.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

constexpr const char* kMonteCarloCaption = "Monte Carlo for Distributions";

MonteCarloResult g_lastMonteCarlo;

// A computed distribution of the loaded data is needed; otherwise says so.
bool DistributionComputed(TXLAWindow& window) {
  // The distribution of the loaded data as they are, computed by the model chosen.
  if (ModelFlags().bContiModel && FitOfLoadedData() && DistributionVectors().pDistValues && DistributionVectors().nDistGrid >= 2) return true;
  CommandMessageBox(window, kNoDistributionText, "ATTENTION",
                    MB_OK | MB_ICONINFORMATION);
  return false;
}

struct MonteCarloRequest {
  int sets = 100;
  float confidence = 0.68f;
  std::string folder;  // of the result files
  bool writeEachSet = false;
  bool replacing = false;  // files of an earlier run were in the folder
  // The computation takes the folder of a path; the name is one of its files.
  std::string PathInFolder() const { return (std::filesystem::path(folder) / "mean.dat").string(); }
};

// Number of sets, confidence level, result file place and whether every set is
// written; nothing on Cancel.
std::optional<MonteCarloRequest> AskRequest(TXLAWindow& window) {
  MonteCarloRequest r;
  float sets = 0.0f;
  if (!AskFloat(window, &sets, 100.0f, "number of Monte-Carlo data sets (at least 2)", kMonteCarloCaption,
                kMonteCarloSets))
    return std::nullopt;
  r.sets = static_cast<int>(sets);
  if (!AskFloat(window, &r.confidence, 0.68f, "confidence level of the limits (0 < P < 1)", kMonteCarloCaption,
                kProbability))
    return std::nullopt;
  // The files are named by the computation: a folder is asked for, starting in the
  // data folder.
  FileDialogOptions options;
  options.title = "folder for the Monte-Carlo result files";
  options.directory = DataSet().szDataDirectory;
  const std::optional<std::string> folder = AskFolderPath(window, options);
  if (!folder) return std::nullopt;
  r.folder = *folder;
  r.writeEachSet = ConfirmChange(window, "write every Monte-Carlo distribution to a file?", kMonteCarloCaption);
  std::vector<std::string> targets;
  for (const auto& file : MonteCarloResultFiles(r.confidence, false, r.sets))
    targets.push_back((std::filesystem::path(r.folder) / file.first).string());
  for (int k = 0; r.writeEachSet && k <= r.sets; ++k)
    targets.push_back((std::filesystem::path(r.folder) / (std::to_string(k) + ".dat")).string());
  r.replacing = std::any_of(targets.begin(), targets.end(), [](const std::string& t) {
    std::error_code error;
    return std::filesystem::exists(t, error);
  });
  if (!MayReplace(window, targets)) return std::nullopt;
  return r;
}

// Before the sets: with both regularisations shown, the sets use maximum entropy.
void SayOnlyMaximumEntropy(TXLAWindow& window) {
  if (MonteCarloOnlyMaximumEntropy())
    CommandMessageBox(window, "only calculating for maximum entropy regularization",
                      kMonteCarloCaption, MB_OK);
}

// After the computation: an interruption is reported; the mean and the limits are
// painted and stay shown until the box that names the result files is closed, then
// the distribution of the measured data comes back.
void ShowAndEnd(TXLAWindow& window, const MonteCarloResult& result, const MonteCarloRequest& r) {
  PaintWindow(window);
  for (const OutcomeMessage& m : result.messages)
    if (m.id == "interrupted") CommandMessageBox(window, m.text, kMonteCarloCaption, MB_OK | MB_ICONINFORMATION);
  if (MonteCarloResultsAvailable()) {
    std::string text = Format("%d sets: the plot shows the mean and the limits at P = %.3f.", ContiMonteCarlo().nMCSets,
                              static_cast<double>(r.confidence));
    if (!r.folder.empty()) {
      text += "\nwritten to the folder " + r.folder +
              (r.replacing ? " (replacing the files of an earlier run):" : ":");
      for (const auto& [file, holds] : MonteCarloResultFiles(r.confidence, r.writeEachSet, ContiMonteCarlo().nMCSets))
        text += "\n  " + file + "  (" + holds + ")";
    }
    CommandMessageBox(window, text, kMonteCarloCaption, MB_OK | MB_ICONINFORMATION);
  }
  EndMonteCarloDistributions(&window.GetHandle());
  window.RepaintMain();
}

}  // namespace

const MonteCarloResult& LastMonteCarloResult() { return g_lastMonteCarlo; }

void TXLAWindow::CmMonteCarloDistributions() {
  if (!DistributionComputed(*this)) return;
  const std::optional<MonteCarloRequest> r = AskRequest(*this);
  if (!r) return;
  SayOnlyMaximumEntropy(*this);
  bRunInProgress = true;
  g_lastMonteCarlo = MonteCarloDistributions(&GetHandle(), r->sets, r->confidence, r->PathInFolder(), r->writeEachSet);
  bRunInProgress = false;
  ShowAndEnd(*this, g_lastMonteCarlo, *r);
}

void TXLAWindow::CmMonteCarloIntegratedSw() {
  if (!DistributionComputed(*this)) return;
  const std::optional<MonteCarloRequest> r = AskRequest(*this);
  if (!r) return;
  float smin = 0.0f, smax = 0.0f;
  if (!AskIntegrationLimits(*this, kMonteCarloCaption, &smin, &smax)) return;
  // Limits that take in no part of the grid (limits in S for a distribution over M)
  // would give every set a zero integral: refused before the sets are computed.
  float first = 0.0f, last = 0.0f;
  IntegrationAxisRange(&first, &last);
  if (!(smax > smin) || smax <= first || smin >= last) {
    PlayErrorSound();
    CommandMessageBox(*this,
                      Format("the integration limits %g to %g take in no part of the "
                             "distribution, which extends from %g to %g",
                             static_cast<double>(smin), static_cast<double>(smax),
                             static_cast<double>(first), static_cast<double>(last)),
                      "ERROR", MB_OK);
    return;
  }
  SayOnlyMaximumEntropy(*this);
  bRunInProgress = true;
  g_lastMonteCarlo =
      MonteCarloIntegratedSw(&GetHandle(), r->sets, r->confidence, smin, smax, r->PathInFolder(), r->writeEachSet);
  bRunInProgress = false;
  if (g_lastMonteCarlo.integrated.computed)
    CommandMessageBox(*this, MonteCarloSwText(g_lastMonteCarlo.integrated), kMonteCarloCaption, MB_OK);
  ShowAndEnd(*this, g_lastMonteCarlo, *r);
}

void TXLAWindow::CmPriorDiscreteSpecies() {
  if (!DistributionComputed(*this)) return;
  if (!BuildPriorFromDistributionPeaks()) {
    CommandMessageBox(*this, "no peak found in the current distribution", "ATTENTION",
                      MB_OK | MB_ICONINFORMATION);
    return;
  }
  // The table replaces a prior file or typed peaks; the analysis is run with it.
  SwitchPriorFileOff();
  DistributionPrior().bPriorFromDiscreteSpecies = true;
  DistributionPrior().bPriorFromGJT = false;
  DistributionModels().bUsePrior = true;
  CmRun();
}

void TXLAWindow::CmUsePriorProbabilities() {
  // A record that no dialog has used yet starts empty.
  if (priorParamsTransfer.text.empty() && priorParamsTransfer.checked.empty())
    InitPriorParamsTransfer(priorParamsTransfer);
  PriorDialogServices services;
  services.selectPeaksFromDistribution = [this] { CmPriorDiscreteSpecies(); };
  RunPriorParamsBox(&GetHandle(), priorParamsTransfer, services, &bModalBoxOpen);
}

}  // namespace tarmic
