#include "modelcalc/fit_misfit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "platform/types.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "services/run_switches.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {
std::size_t Idx(int i) { return static_cast<std::size_t>(i); }
// The median of |d| of a normal d of deviation sqrt(2) sigma, over sigma.
constexpr double kMedianAbsoluteDifference = 0.6744897501960817 * 1.4142135623730951;
}  // namespace

ResidualNoise EstimateResidualNoise() {
  ResidualNoise result;
  // The residuals of each scan in the order of its points; a new run starts where
  // a scan starts or its points are not consecutive.
  std::vector<std::vector<double>> runs;
  int lastScan = -1, lastPoint = -1;
  double sum = 0.0;
  ForEachFitPoint([&](int s, int i) {
    const float* signal = Idx(s) < ppSignal.size() ? ppSignal[Idx(s)] : nullptr;
    const float* fit = Idx(s) < ppFit.size() ? ppFit[Idx(s)] : nullptr;
    if (!signal || !fit) return;
    if (s != lastScan || i != lastPoint + 1) runs.emplace_back();
    lastScan = s;
    lastPoint = i;
    const double r = static_cast<double>(signal[i]) - static_cast<double>(fit[i]);
    runs.back().push_back(r);
    sum += r * r;
    ++result.points;
  });
  if (result.points == 0) return result;
  result.rmsd = std::sqrt(sum / static_cast<double>(result.points));
  if (result.points < kMisfitMinPoints) return result;
  std::vector<double> differences;
  for (const int lag : kMisfitLags) {
    differences.clear();
    for (const std::vector<double>& run : runs)
      for (std::size_t i = 0; i + static_cast<std::size_t>(lag) < run.size(); ++i)
        differences.push_back(std::fabs(run[i + static_cast<std::size_t>(lag)] - run[i]));
    if (static_cast<long long>(differences.size()) < kMisfitMinPoints / 2) continue;
    auto middle = differences.begin() + static_cast<std::ptrdiff_t>(differences.size() / 2);
    std::nth_element(differences.begin(), middle, differences.end());
    result.noise = std::max(result.noise, *middle / kMedianAbsoluteDifference);
  }
  return result;
}

SpeciesAtStart TakeSpeciesAtStart() {
  SpeciesAtStart start;
  start.discrete = IsDiscreteSpeciesModel() && bDiscreteModel;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    start.included[k] = pSpeciesIncluded[k] != 0;
    start.s[k] = pSpeciesS[k];
    start.amplitude[k] = pSpeciesAmplitude[k];
  }
  return start;
}

void NoteSystematicMisfit(FitReport& report, FitOutcome outcome, const SpeciesAtStart& start) {
  report.misfitRatio = 0.0;
  report.systematicMisfit = false;
  const bool result = (outcome == FitOutcome::Completed || outcome == FitOutcome::Interrupted) &&
                      !report.stoppedBeforeResult && FitOfLoadedData();
  if (!result || bDLSData) return;
  const ResidualNoise noise = EstimateResidualNoise();
  if (!(noise.noise > 0.0)) return;
  report.misfitRatio = noise.rmsd / noise.noise;
  if (!(report.misfitRatio > kSystematicMisfitRatio)) return;
  report.systematicMisfit = true;
  std::string text = Format(kSystematicMisfitText, noise.rmsd, report.misfitRatio, noise.noise);
  report.notes.push_back({"systematic-misfit", text});
  if (start.discrete) {
    float largest = 0.0f;
    for (int k = 1; k <= nSpeciesSlots; ++k)
      if (start.included[k]) largest = std::max(largest, std::fabs(pSpeciesAmplitude[k]));
    for (int k = 1; k <= nSpeciesSlots; ++k) {
      if (!start.included[k] || pSpeciesIncluded[k] == 0) continue;
      if (start.amplitude[k] != 0.0f && std::fabs(pSpeciesAmplitude[k]) <= 0.01f * largest) {
        const std::string said = Format(kSpeciesAmplitudeZeroText, k);
        report.notes.push_back({Format("species-%d-amplitude-zero", k), said.substr(said.find_first_not_of(' '))});
        text += said;
      }
      if (start.s[k] * pSpeciesS[k] < 0.0f) {
        const std::string said = Format(kSpeciesSignChangedText, k, static_cast<double>(start.s[k]),
                                        static_cast<double>(pSpeciesS[k]));
        report.notes.push_back({Format("species-%d-sign-changed", k), said.substr(said.find_first_not_of(' '))});
        text += said;
      }
    }
  }
  if (bBatchMode) return;
  if (report.message.empty())
    report.message = {std::move(text), "Note", MB_OK | MB_ICONEXCLAMATION, false};
  else
    report.message.text += "\n\n" + text;
}

}  // namespace tarmic
