#include "modelcalc/fit_misfit.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "modelcalc/fit_rmsd.h"
#include "modelcalc/verdict_thresholds.h"
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
// The difference of two independent normal values of deviation sigma has deviation
// sqrt(2) sigma.
constexpr double kDifferenceDeviation = 1.4142135623730951;
// The second moment of a standard normal value whose magnitude is within its 75th
// percentile (TrimmedDeviation).
constexpr double kTrimmedSecondMoment = 0.3685240509835622;
}  // namespace

namespace {
// The deviation of the normal values whose magnitudes v holds (reordered): the mean
// square of the smallest three quarters over its share of the normal's second moment,
// 1 - 2 c phi(c) / 0.75 with c = 1.1503 the magnitude's 75th percentile. The quarter
// left out ignores the points of a misfit as the median does, with about twice the
// median's precision. 0 when empty.
double TrimmedDeviation(std::vector<double>& v) {
  if (v.empty()) return 0.0;
  const auto kept = static_cast<std::ptrdiff_t>((3 * v.size() + 3) / 4);
  std::nth_element(v.begin(), v.begin() + (kept - 1), v.end());
  double sum = 0.0;
  for (auto it = v.begin(); it != v.begin() + kept; ++it) sum += *it * *it;
  return std::sqrt(sum / static_cast<double>(kept) / kTrimmedSecondMoment);
}

// The median of v (reordered); 0 when empty.
double Median(std::vector<double>& v) {
  if (v.empty()) return 0.0;
  auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
  std::nth_element(v.begin(), middle, v.end());
  return *middle;
}

// One fit point's residual and radius.
struct Residual {
  int point;
  float radius;
  double value;
};
using ScanResiduals = std::vector<Residual>;

// The noise from differences between scans following each other at the same radius
// (a radius of the one within a thousandth of the point spacing of the other); 0
// with fewer than kMisfitMinPoints / 2 such differences.
double BetweenScanNoise(const std::vector<ScanResiduals>& scans) {
  std::vector<double> all, pair;
  for (std::size_t j = 0; j + 1 < scans.size(); ++j) {
    const ScanResiduals& a = scans[j];
    const ScanResiduals& b = scans[j + 1];
    if (a.size() < 2 || b.size() < 2) continue;
    const double spacing = std::fabs(static_cast<double>(a.back().radius) - a.front().radius) /
                           static_cast<double>(a.size() - 1);
    pair.clear();
    std::size_t k = 0;
    for (const Residual& r : a) {
      while (k < b.size() && b[k].radius < r.radius - 1e-3 * spacing) ++k;
      if (k == b.size()) break;
      if (std::fabs(static_cast<double>(b[k].radius) - r.radius) <= 1e-3 * spacing) pair.push_back(r.value - b[k].value);
    }
    if (pair.empty()) continue;
    std::vector<double> copy = pair;
    const double offset = Median(copy);
    for (const double d : pair) all.push_back(std::fabs(d - offset));
  }
  if (static_cast<long long>(all.size()) < kMisfitMinPoints / 2) return 0.0;
  return TrimmedDeviation(all) / kDifferenceDeviation;
}

// The noise from differences within each scan's runs of consecutive points at the
// lags kMisfitLags, fitted by first-order autoregressive noise: the half squared
// median difference v_k = sigma^2 (1 - rho^k), rho within [0, kMisfitMostCorrelation]
// chosen on a grid of a hundredth so that log v_k is matched best, sigma^2 then the
// geometric mean of v_k / (1 - rho^k). 0 without enough differences.
double WithinScanNoise(const std::vector<std::vector<double>>& runs) {
  std::vector<double> lags, logs, differences;
  for (const int lag : kMisfitLags) {
    differences.clear();
    const auto step = static_cast<std::size_t>(lag);
    for (const std::vector<double>& run : runs)
      for (std::size_t i = 0; i + step < run.size(); ++i) differences.push_back(std::fabs(run[i + step] - run[i]));
    if (static_cast<long long>(differences.size()) < kMisfitMinPoints / 2) continue;
    const double m = TrimmedDeviation(differences) / kDifferenceDeviation;
    if (!(m > 0.0)) continue;
    lags.push_back(lag);
    logs.push_back(2.0 * std::log(m));
  }
  if (lags.empty()) return 0.0;
  double bestError = std::numeric_limits<double>::infinity(), bestLog = 0.0;
  for (int c = 0; c <= static_cast<int>(kMisfitMostCorrelation * 100.0 + 0.5); ++c) {
    const double rho = c / 100.0;
    double mean = 0.0;
    for (std::size_t k = 0; k < lags.size(); ++k) mean += logs[k] - std::log(1.0 - std::pow(rho, lags[k]));
    mean /= static_cast<double>(lags.size());
    double error = 0.0;
    for (std::size_t k = 0; k < lags.size(); ++k) {
      const double e = logs[k] - std::log(1.0 - std::pow(rho, lags[k])) - mean;
      error += e * e;
    }
    if (error < bestError) {
      bestError = error;
      bestLog = mean;
    }
  }
  return std::exp(0.5 * bestLog);
}
}  // namespace

namespace {
// The residuals of two scans at the radii they share (a radius of the one within a
// thousandth of the point spacing of the other), in radial order.
void MatchedResiduals(const ScanResidualRow& a, const ScanResidualRow& b, std::vector<double>& x,
                      std::vector<double>& y) {
  x.clear();
  y.clear();
  if (a.radius.size() < 2 || b.radius.size() < 2) return;
  const double spacing = std::fabs(static_cast<double>(a.radius.back()) - a.radius.front()) /
                         static_cast<double>(a.radius.size() - 1);
  const double tolerance = 1e-3 * spacing;
  std::size_t k = 0;
  for (std::size_t i = 0; i < a.radius.size(); ++i) {
    const double r = a.radius[i];
    while (k < b.radius.size() && b.radius[k] < r - tolerance) ++k;
    if (k == b.radius.size()) break;
    if (std::fabs(static_cast<double>(b.radius[k]) - r) <= tolerance) {
      x.push_back(a.value[i]);
      y.push_back(b.value[k]);
    }
  }
}
}  // namespace

double NormalUpperQuantile(double upper) {
  // Bisection on P(Z > z) = erfc(z / sqrt 2) / 2, which falls monotonically in z.
  double lo = -40.0, hi = 40.0;
  for (int k = 0; k < 200; ++k) {
    const double mid = 0.5 * (lo + hi);
    if (0.5 * std::erfc(mid / std::sqrt(2.0)) > upper) lo = mid;
    else hi = mid;
  }
  return 0.5 * (lo + hi);
}

MisfitTest NeighbourScanTest(const std::vector<ScanResidualRow>& scans, int tiScans) {
  MisfitTest test;
  // Per scale: the sum of the pairs' block products and of their variances.
  std::array<double, kMisfitScales.size()> sum{}, variance{};
  std::array<int, kMisfitScales.size()> pairs{};
  std::vector<double> x, y, bx, by;
  for (std::size_t j = 0; j + 1 < scans.size(); ++j) {
    MatchedResiduals(scans[j], scans[j + 1], x, y);
    for (std::size_t s = 0; s < kMisfitScales.size(); ++s) {
      const auto h = static_cast<std::size_t>(kMisfitScales[s]);
      const std::size_t blocks = x.size() / h;
      if (blocks < static_cast<std::size_t>(kMisfitLeastBlocks)) continue;
      // The blocks' sums over sqrt(h): their products have the variance of one
      // point's product, whatever h, for white noise.
      bx.assign(blocks, 0.0);
      by.assign(blocks, 0.0);
      for (std::size_t b = 0; b < blocks; ++b) {
        for (std::size_t i = b * h; i < (b + 1) * h; ++i) {
          bx[b] += x[i];
          by[b] += y[i];
        }
        bx[b] /= std::sqrt(static_cast<double>(h));
        by[b] /= std::sqrt(static_cast<double>(h));
      }
      // u = sum_b X_b Y_b; with time-invariant noise solved over S scans the
      // residuals of one radius share -1/S of the noise: E[X_b Y_b] = -E[(X_b - Y_b)^2] / 2S,
      // which is added back.
      double u = 0.0, local = 0.0;
      for (std::size_t b = 0; b < blocks; ++b) {
        const double d = bx[b] - by[b];
        u += bx[b] * by[b];
        if (tiScans > 1) u += d * d / (2.0 * tiScans);
        // The variance of X_b Y_b is V_b^2, V_b = E[D_b^2] / 2 the block's noise
        // variance (D = X - Y, independent scans); E[(D^2 / 2)^2] = 3 V^2 for normal
        // noise. From the differences, in which a misfit that changes slowly from
        // one scan to the next cancels.
        local += (d * d / 2.0) * (d * d / 2.0) / 3.0;
      }
      // Noise correlated along a scan correlates neighbouring products: the variance
      // of u is sum_b V_b^2 (1 + 2 sum_l rho_l^2), rho_l the correlation of the
      // differences at lag l (the estimate's own chance square, 1 / blocks, taken off).
      double c0 = 0.0;
      for (std::size_t b = 0; b < blocks; ++b) c0 += (bx[b] - by[b]) * (bx[b] - by[b]);
      double inflation = 1.0;
      const std::size_t lags = std::min<std::size_t>(kMisfitMostLag, blocks / 4);
      for (std::size_t l = 1; l <= lags && c0 > 0.0; ++l) {
        double cl = 0.0;
        for (std::size_t b = 0; b + l < blocks; ++b) cl += (bx[b] - by[b]) * (bx[b + l] - by[b + l]);
        const double rho = cl / c0;
        inflation += 2.0 * std::max(0.0, rho * rho - 1.0 / static_cast<double>(blocks));
      }
      sum[s] += u;
      variance[s] += local * inflation;
      ++pairs[s];
    }
  }
  test.z = -std::numeric_limits<double>::infinity();
  for (std::size_t s = 0; s < kMisfitScales.size(); ++s) {
    if (pairs[s] < 1 || !(variance[s] > 0.0)) continue;
    ++test.scales;
    const double z = sum[s] / std::sqrt(variance[s]);
    if (z > test.z) {
      test.z = z;
      test.scale = kMisfitScales[s];
    }
  }
  if (test.scales == 0) {
    test.z = 0.0;
    return test;
  }
  test.ran = true;
  test.threshold = NormalUpperQuantile(Verdicts().misfitFalseAlarm / test.scales);
  test.fires = test.z > test.threshold;
  return test;
}

ResidualNoise EstimateResidualNoise() {
  auto& dataSetPart = DataSet();
  ResidualNoise result;
  // The residuals of each scan in the order of its points, and its runs of
  // consecutive points.
  std::vector<ScanResiduals> scans;
  std::vector<std::vector<double>> runs;
  int lastScan = -1, lastPoint = -1;
  double sum = 0.0;
  ForEachFitPoint([&](int s, int i) {
    const float* signal = Idx(s) < dataSetPart.ppSignal.size() ? dataSetPart.ppSignal[Idx(s)] : nullptr;
    const float* fit = Idx(s) < dataSetPart.ppFit.size() ? dataSetPart.ppFit[Idx(s)] : nullptr;
    const float* radius = Idx(s) < dataSetPart.ppRadius.size() ? dataSetPart.ppRadius[Idx(s)] : nullptr;
    if (!signal || !fit) return;
    if (s != lastScan) scans.emplace_back();
    if (s != lastScan || i != lastPoint + 1) runs.emplace_back();
    lastScan = s;
    lastPoint = i;
    const double r = static_cast<double>(signal[i]) - static_cast<double>(fit[i]);
    runs.back().push_back(r);
    scans.back().push_back({i, radius ? radius[i] : static_cast<float>(i), r});
    sum += r * r;
    ++result.points;
  });
  if (result.points == 0) return result;
  result.rmsd = std::sqrt(sum / static_cast<double>(result.points));
  if (result.points < kMisfitMinPoints) return result;
  result.noise = BetweenScanNoise(scans);
  result.betweenScans = result.noise > 0.0;
  if (!result.betweenScans) result.noise = WithinScanNoise(runs);
  std::vector<ScanResidualRow> rows(scans.size());
  for (std::size_t j = 0; j < scans.size(); ++j) {
    for (const Residual& r : scans[j]) {
      rows[j].radius.push_back(r.radius);
      rows[j].value.push_back(r.value);
    }
  }
  result.test = NeighbourScanTest(rows, AnalysisSwitches().bFitTINoise ? static_cast<int>(scans.size()) : 0);
  return result;
}

SpeciesAtStart TakeSpeciesAtStart() {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& modelFlagsPart = ModelFlags();
  auto& modelParamsPart = ModelParams();
  SpeciesAtStart start;
  start.discrete = IsDiscreteSpeciesModel() && modelFlagsPart.bDiscreteModel;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    start.included[k] = analysisSwitchesPart.pSpeciesLinked[k] != 0;
    start.s[k] = modelParamsPart.pSpeciesS[k];
    start.amplitude[k] = modelParamsPart.pSpeciesAmplitude[k];
  }
  return start;
}

void NoteSystematicMisfit(FitReport& report, FitOutcome outcome, const SpeciesAtStart& start) {
  auto& analysisSwitchesPart = AnalysisSwitches();
  auto& dataSetPart = DataSet();
  auto& modelParamsPart = ModelParams();
  report.misfitRatio = 0.0;
  report.systematicMisfit = false;
  const bool result = (outcome == FitOutcome::Completed || outcome == FitOutcome::Interrupted) &&
                      !report.stoppedBeforeResult && FitOfLoadedData();
  if (!result || dataSetPart.bDLSData) return;
  const ResidualNoise noise = EstimateResidualNoise();
  if (!(noise.noise > 0.0)) return;
  report.misfitRatio = noise.rmsd / noise.noise;
  report.misfitZ = noise.test.ran ? noise.test.z : 0.0;
  const bool misfit =
      noise.test.ran ? noise.test.fires : report.misfitRatio > Verdicts().misfitWithinScanRatio;
  if (!misfit) return;
  report.systematicMisfit = true;
  std::string text =
      noise.test.ran
          ? Format(kSystematicMisfitText, noise.test.z, noise.test.threshold, 1.0 / Verdicts().misfitFalseAlarm,
                   noise.rmsd, report.misfitRatio, noise.noise)
          : Format(kSystematicMisfitRatioText, noise.rmsd, report.misfitRatio, noise.noise);
  report.notes.push_back({"systematic-misfit", text});
  if (start.discrete) {
    float largest = 0.0f;
    for (int k = 1; k <= nSpeciesSlots; ++k)
      if (start.included[k]) largest = std::max(largest, std::fabs(modelParamsPart.pSpeciesAmplitude[k]));
    for (int k = 1; k <= nSpeciesSlots; ++k) {
      if (!start.included[k] || analysisSwitchesPart.pSpeciesLinked[k] == 0) continue;
      if (start.amplitude[k] != 0.0f && std::fabs(modelParamsPart.pSpeciesAmplitude[k]) <= 0.01f * largest) {
        const std::string said = Format(kSpeciesAmplitudeZeroText, k);
        report.notes.push_back({Format("species-%d-amplitude-zero", k), said.substr(said.find_first_not_of(' '))});
        text += said;
      }
      if (start.s[k] * modelParamsPart.pSpeciesS[k] < 0.0f) {
        const std::string said = Format(kSpeciesSignChangedText, k, static_cast<double>(start.s[k]),
                                        static_cast<double>(modelParamsPart.pSpeciesS[k]));
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
