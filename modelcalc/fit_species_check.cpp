#include "modelcalc/fit_species_check.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "lamm/lamm_globals.h"
#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_rmsd.h"
#include "modelcalc/linear_amplitudes.h"
#include "modelcalc/verdict_thresholds.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {
std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// A species whose removal raises the sum of squares by less than this many units of
// chi-square, with the others' loadings solved again, is refitted without it (the
// others' values moved by Gauss-Newton steps, at most kSpeciesRefitRounds); one
// that raises it more holds a share of the data no shift of the others takes over.
constexpr double kSpeciesRefitBelow = 1e4;
// The step of the meniscus (cm) for the derivative of the held meniscus' score.
constexpr float kHeldMeniscusStep = 2e-4f;
constexpr int kSpeciesRefitRounds = 3;

// The sum of squares of the model on show over the fit points, or -1 without one.
double SumOfSquaresOnShow(long long& points) {
  const DataSetState& data = DataSet();
  const double rmsd = RmsdOverFitPoints(
      [&data](int s) { return Idx(s) < data.ppSignal.size() ? data.ppSignal[Idx(s)] : nullptr; },
      [&data](int s) { return Idx(s) < data.ppFit.size() ? data.ppFit[Idx(s)] : nullptr; }, &points);
  return points > 0 ? rmsd * rmsd * static_cast<double>(points) : -1.0;
}

double LargestSignal() {
  double largest = 0.0;
  const DataSetState& data = DataSet();
  ForEachFitPoint([&](int s, int i) {
    const float* row = Idx(s) < data.ppSignal.size() ? data.ppSignal[Idx(s)] : nullptr;
    if (row) largest = std::max(largest, std::fabs(static_cast<double>(row[i])));
  });
  return largest;
}

// The first scan's integral of omega^2 dt (rad^2/s), 0 when unknown.
double FirstOmega2t() {
  double first = 0.0;
  for (int j = 1; j <= DataSet().nScans && Idx(j) < DataSet().pScanInfo.size(); ++j) {
    const ScanInfo& info = DataSet().pScanInfo[Idx(j)];
    // Without a recorded integral, the scan's time at its speed.
    const double omega = info.rpm * 2.0 * 3.14159265358979323846 / 60.0;
    const double w2t = info.omega2t > 0.0 ? info.omega2t : omega * omega * info.time;
    if (w2t > 0.0 && (first == 0.0 || w2t < first)) first = w2t;
  }
  return first;
}
}  // namespace

double ChiSquareQuantile(double p, int k) {
  const double z = NormalUpperQuantile(1.0 - p);
  const double n = static_cast<double>(k);
  const double c = 1.0 - 2.0 / (9.0 * n) + z * std::sqrt(2.0 / (9.0 * n));
  return n * c * c * c;
}

double AbsoluteLoading(int k) {
  const auto& params = ModelParams();
  const auto& linked = AnalysisSwitches().pSpeciesLinked;
  int first = 0;
  for (int j = 1; j <= nSpeciesSlots; ++j)
    if (linked[j]) {
      first = j;
      break;
    }
  if (first == 0 || !linked[k]) return 0.0;
  // The reported form: the first included slot holds the total, the others their
  // fractions of it.
  const double total = params.pSpeciesAmplitude[first];
  if (k != first) return params.pSpeciesAmplitude[k] * total;
  // With the buffer's sedimentation corrected, the last slot is the buffer's and
  // outside the total.
  const int last = ModelFlags().bBufferSedCorrection ? nSpeciesSlots - 1 : nSpeciesSlots;
  double others = 0.0;
  for (int j = first + 1; j <= last; ++j)
    if (linked[j]) others += params.pSpeciesAmplitude[j];
  return total * (1.0 - others);
}

void CheckFittedSpecies(const FitAccess& fit, FitReport& report) {
  report.undeterminedSpecies.clear();
  report.implausibleSpecies.clear();
  if (!ModelFlags().bDiscreteModel || !IsDiscreteSpeciesModel() || !FitOfLoadedData()) return;
  std::vector<int> included;
  for (int k = 1; k <= nSpeciesSlots; ++k)
    if (AnalysisSwitches().pSpeciesLinked[k]) included.push_back(k);
  const VerdictThresholds& v = Verdicts();

  // Where each species' boundary stood at the first scan, and its loading against
  // the data's signal.
  const double w2t = FirstOmega2t();
  const double largest = LargestSignal();
  for (const int k : included) {
    const double s = ModelParams().pSpeciesS[k] * 1e-13;
    if (w2t > 0.0 && s > 0.0 && DataSet().fBottom > DataSet().fMeniscus &&
        DataSet().fMeniscus * std::exp(s * w2t) > DataSet().fBottom)
      report.implausibleSpecies.push_back(
          {k, Format("species %d sedimented before the first scan (s = %.4g S)", k, ModelParams().pSpeciesS[k])});
    const double loading = std::fabs(AbsoluteLoading(k));
    if (largest > 0.0 && loading > v.loadingOverSignal * largest)
      report.implausibleSpecies.push_back({k, Format("species %d loading %.4g, %.3g times the largest signal", k,
                                                     loading, loading / largest)});
  }

  // Whether each species is determined: the sum of squares without it.
  if (included.size() < 2) return;
  long long points = 0;
  const double atEnd = SumOfSquaresOnShow(points);
  const double unit = ChiSquareUnit();
  if (!(atEnd >= 0.0) || !(unit > 0.0)) return;

  const auto& compute = fit.compute;
  // What the computations without a species rewrite (the linear step's loadings, the
  // values the refit moves, the switches), restored with the fit's model.
  const ModelParamsState savedParams = ModelParams();
  const AnalysisSwitchesState savedSwitches = AnalysisSwitches();
  const float meniscus = DataSet().fMeniscus, bottom = DataSet().fBottom;
  const auto restore = [&] {
    ModelParams() = savedParams;
    AnalysisSwitches() = savedSwitches;
    DataSet().fMeniscus = meniscus;
    DataSet().fBottom = bottom;
    UnpackModelParams();
  };
  for (const int k : included) {
    // The least rise that says the species is there: the quantile of chi-square
    // with as many degrees of freedom as the species has values the fit floats,
    // its loading among them.
    int values = 1;
    for (const int entry : {k, nSpeciesSlots + k}) values += AnalysisSwitches().pParamFitFlags[entry] != 0;
    const double least = ChiSquareQuantile(v.undeterminedConfidence, values);
    // Without species k, the others' loadings solved again: the rise is an upper
    // bound of the rise with every other value refitted.
    AnalysisSwitches().pSpeciesLinked[k] = 0;
    const ModelResult result = compute();
    long long n = 0;
    const double without = result.ok() ? SumOfSquaresOnShow(n) : -1.0;
    if (without < 0.0) {
      restore();
      continue;
    }
    // Below zero only by the computations' rounding.
    double rise = (without - atEnd) / unit;
    // Where the rise is not far beyond the least one, the other species' values
    // move to take the data species k held: Gauss-Newton steps of the values
    // floated without it (at most kSpeciesRefitRounds) lower the sum towards that
    // refit's minimum.
    if (rise >= least && rise < kSpeciesRefitBelow) {
      for (const int entry : {k, nSpeciesSlots + k, 2 * nSpeciesSlots + k}) AnalysisSwitches().pParamFitFlags[entry] = 0;
      FitPointsTarget target(fit.objective());
      const int floated = fit.values(0, nullptr);
      std::vector<float> p(static_cast<std::size_t>(floated) + 1, 0.0f);
      std::vector<FitBounds> bounds(static_cast<std::size_t>(floated) + 1);
      fit.values(floated, p.data());
      fit.bounds(floated, bounds.data());
      for (int round = 0; round < kSpeciesRefitRounds && floated > 0 && rise >= least; ++round) {
        const EndStep step = LocalStepFromEnd(target, p, bounds, unit, nullptr);
        if (step.interrupted || !(step.gain > 0.0)) break;
        rise -= step.gain;
        p = step.point;
      }
    }
    restore();
    if (rise < least) report.undeterminedSpecies.push_back(k);
  }
  compute();
}

void CheckHeldMeniscus(const FitAccess& fit, FitReport& report) {
  report.heldMeniscusGain = 0.0;
  report.heldMeniscusShift = 0.0;
  if (!ModelFlags().bDiscreteModel || !IsDiscreteSpeciesModel() || !FitOfLoadedData()) return;
  if (DataSet().bEquilibriumMode || DataSet().bDLSData || LammGlobals().bElectrophoresis) return;
  if (ModelParams().bVaryMeniscus || AnalysisSwitches().pParamFitFlags[13]) return;
  const double unit = ChiSquareUnit();
  if (!(unit > 0.0)) return;
  // The residuals of the end, and the model's derivative by the meniscus (one
  // computation a step outwards of it, the loadings solved again), both over the
  // fit points.
  std::vector<double> residual, model;
  ForEachFitPoint([&](int s, int i) {
    residual.push_back(static_cast<double>(DataSet().ppSignal[Idx(s)][i]) - DataSet().ppFit[Idx(s)][i]);
    model.push_back(DataSet().ppFit[Idx(s)][i]);
  });
  const ModelParamsState savedParams = ModelParams();
  const AnalysisSwitchesState savedSwitches = AnalysisSwitches();
  const float meniscus = DataSet().fMeniscus, bottom = DataSet().fBottom;
  const int before = fit.values(0, nullptr);
  std::vector<float> held(static_cast<std::size_t>(before) + 1, 0.0f);
  fit.values(before, held.data());
  ModelParams().bVaryMeniscus = true;
  PackModelParams();
  const int floated = fit.values(0, nullptr);
  std::vector<float> p(static_cast<std::size_t>(floated) + 1, 0.0f);
  fit.values(floated, p.data());
  // The fit vector without and with the meniscus part where it stands.
  int place = floated;
  for (int i = 1; i <= before; ++i)
    if (p[Idx(i)] != held[Idx(i)]) {
      place = i;
      break;
    }
  double score = 0.0, information = 0.0;
  bool measured = false;
  if (floated == before + 1) {
    const float step = kHeldMeniscusStep;
    p[Idx(place)] = meniscus + step;
    const SimplexObjective objective = fit.objective();
    if (objective(p.data()) < kNoModelRmsd) {
      std::size_t k = 0;
      ForEachFitPoint([&](int s, int i) {
        if (k >= model.size()) return;
        const double d = (static_cast<double>(DataSet().ppFit[Idx(s)][i]) - model[k]) / static_cast<double>(step);
        score += residual[k] * d;
        information += d * d;
        ++k;
      });
      measured = k == model.size() && information > 0.0;
    }
  }
  ModelParams() = savedParams;
  AnalysisSwitches() = savedSwitches;
  DataSet().fMeniscus = meniscus;
  DataSet().fBottom = bottom;
  UnpackModelParams();
  fit.compute();
  if (!measured) return;
  // The score statistic of the meniscus with the other values held: a lower bound of
  // the likelihood ratio with them refitted (their refit only takes the part of the
  // derivative they share out of the information), so its false alarms stay below
  // the rate the quantile states.
  const double bound = score * score / information / unit;
  if (bound > ChiSquareQuantile(1.0 - Verdicts().heldValueFalseAlarm, 1)) {
    report.heldMeniscusGain = bound;
    report.heldMeniscusShift = score / information;
  }
}

}  // namespace tarmic
