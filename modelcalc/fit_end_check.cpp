#include "modelcalc/fit_end_check.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "modelcalc/fit_misfit.h"
#include "modelcalc/verdict_thresholds.h"
#include "scandata/data_set.h"
#include "numerics/linear_algebra.h"
#include "platform/types.h"
#include "scandata/text_io.h"
#include "services/run_switches.h"

namespace tarmic {

namespace {
std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The model (and data) of the target's last evaluation; false when it had none.
bool TakeValues(MLTarget& target, const float* p, std::vector<double>& model,
                std::vector<double>* data, bool& interrupted) {
  if (!target.Evaluate(p)) {
    interrupted = true;
    return false;
  }
  if (target.Refused()) return false;
  model.assign(target.Points(), 0.0);
  if (data) data->assign(target.Points(), 0.0);
  target.Values(model.data(), data ? data->data() : nullptr);
  return true;
}

double SumOfSquares(const std::vector<double>& model, const std::vector<double>& data) {
  double sum = 0.0;
  for (std::size_t k = 0; k < model.size(); ++k) sum += (data[k] - model[k]) * (data[k] - model[k]);
  return sum;
}
}  // namespace

bool EndStepGains(double gain, double roughness) {
  const VerdictThresholds& v = Verdicts();
  return gain > v.endStepChiSquare + v.endStepRoughnessFactor * roughness;
}

double ChiSquareUnit() {
  const ResidualNoise noise = EstimateResidualNoise();
  const double sigma = noise.noise > 0.0 ? noise.noise : noise.rmsd;
  return sigma * sigma;
}

EndStep LocalStepFromEnd(MLTarget& target, const std::vector<float>& p,
                         const std::vector<FitBounds>& bounds, double unit, const std::vector<double>* steps,
                         const std::vector<double>* atP) {
  EndStep step;
  const int n = static_cast<int>(p.size()) - 1;
  if (n < 1 || !(unit > 0.0)) return step;
  std::vector<double> model, data, perturbed;
  if (atP && atP->size() == target.Points()) {
    model = *atP;
    perturbed.assign(target.Points(), 0.0);
    data.assign(target.Points(), 0.0);
    target.Values(perturbed.data(), data.data());
  } else if (!TakeValues(target, p.data(), model, &data, step.interrupted)) {
    return step;
  }
  const double sosq = SumOfSquares(model, data);
  // Forward differences, each step inwards from a bound.
  std::vector<std::vector<double>> J(Idx(n) + 1);
  std::vector<char> atLow(Idx(n) + 1, 0), atHigh(Idx(n) + 1, 0);
  std::vector<float> q = p;
  for (int i = 1; i <= n; ++i) {
    const FitBounds b = Idx(i) < bounds.size() ? bounds[Idx(i)] : FitBounds::None();
    const float v = p[Idx(i)];
    float h = std::fabs(v) > 0.0f ? 1e-3f * std::fabs(v) : 1e-4f;
    if (steps && Idx(i) < steps->size() && (*steps)[Idx(i)] > 0.0) h = static_cast<float>((*steps)[Idx(i)]);
    if (v + h > b.hi) h = -h;
    atLow[Idx(i)] = std::isfinite(b.lo) && v <= b.lo;
    atHigh[Idx(i)] = std::isfinite(b.hi) && v >= b.hi;
    q[Idx(i)] = v + h;
    const bool ok = TakeValues(target, q.data(), perturbed, nullptr, step.interrupted);
    q[Idx(i)] = v;
    if (!ok) return step;
    J[Idx(i)].resize(model.size());
    const float actual = (v + h) - v;
    for (std::size_t k = 0; k < model.size(); ++k) J[Idx(i)][k] = (perturbed[k] - model[k]) / actual;
  }
  // The normal equations of the step; a value at a bound whose step points outwards
  // is held there and the rest solved again.
  std::vector<std::vector<double>> A(Idx(n) + 1, std::vector<double>(Idx(n) + 1, 0.0));
  std::vector<double> beta(Idx(n) + 1, 0.0), x(Idx(n) + 1, 0.0), work(Idx(n) + 1, 0.0);
  std::vector<double> full(Idx(n) + 1, 0.0);
  std::vector<std::vector<double>> alpha = A;
  for (int i = 1; i <= n; ++i) {
    for (std::size_t k = 0; k < model.size(); ++k) beta[Idx(i)] += J[Idx(i)][k] * (data[k] - model[k]);
    for (int j = 1; j <= i; ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < model.size(); ++k) sum += J[Idx(i)][k] * J[Idx(j)][k];
      alpha[Idx(i)][Idx(j)] = alpha[Idx(j)][Idx(i)] = sum;
    }
  }
  std::vector<char> held(Idx(n) + 1, 0);
  for (bool again = true; again;) {
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j)
        A[Idx(i)][Idx(j)] = held[Idx(i)] || held[Idx(j)] ? 0.0 : alpha[Idx(i)][Idx(j)];
    for (int i = 1; i <= n; ++i) full[Idx(i)] = held[Idx(i)] ? 0.0 : beta[Idx(i)];
    std::vector<double*> rows(Idx(n) + 1, nullptr);
    for (int i = 1; i <= n; ++i) rows[Idx(i)] = A[Idx(i)].data();
    SolveSymmetricSystemSkipZeroRows(rows.data(), full.data(), n, x.data(), work.data());
    again = false;
    for (int i = 1; i <= n; ++i) {
      if (held[Idx(i)] || !((atLow[Idx(i)] && x[Idx(i)] < 0.0) || (atHigh[Idx(i)] && x[Idx(i)] > 0.0))) continue;
      held[Idx(i)] = 1;
      again = true;
    }
  }
  // The decrease the linearised model promises (beta' x); where the full step is not
  // lower although it promises more than the least gain, the model is curved along
  // it: halved steps are tried, down to a quarter.
  double promised = 0.0;
  for (int i = 1; i <= n; ++i) {
    if (held[Idx(i)] || !std::isfinite(x[Idx(i)])) x[Idx(i)] = 0.0;
    promised += x[Idx(i)] * full[Idx(i)];
  }
  step.ran = true;
  std::vector<double> trialModel;
  for (double length = 1.0; length >= 0.25; length *= 0.5) {
    for (int i = 1; i <= n; ++i) {
      const FitBounds b = Idx(i) < bounds.size() ? bounds[Idx(i)] : FitBounds::None();
      q[Idx(i)] = b.Clamp(static_cast<float>(p[Idx(i)] + length * x[Idx(i)]));
    }
    if (q == p) return step;
    if (!TakeValues(target, q.data(), trialModel, nullptr, step.interrupted)) return step;
    const double lowered = (sosq - SumOfSquares(trialModel, data)) / unit;
    // The linearised model's decrease at this length of the Gauss-Newton step:
    // (2 L - L^2) beta'x.
    const double expected = (2.0 * length - length * length) * promised / unit;
    if (lowered > 0.0) {
      step.gain = lowered;
      step.roughness = std::fabs(lowered - expected);
      step.point = q;
      step.model = std::move(trialModel);
      return step;
    }
    if (!(expected > Verdicts().endStepGoesOn)) return step;
  }
  return step;
}

EndCheck StepFromEnd(MLTarget& target, std::vector<float>& p, const std::vector<FitBounds>& bounds,
                     const std::vector<double>* steps, FitReport& report, int& rounds,
                     const std::vector<double>* atP, bool takeLower, std::vector<double>* atNext) {
  EndStep step = LocalStepFromEnd(target, p, bounds, ChiSquareUnit(), steps, atP);
  if (step.interrupted) return EndCheck::Interrupted;
  if (!(step.gain > Verdicts().endStepGoesOn)) {
    if (takeLower && step.gain > 0.0 && !step.point.empty()) p = step.point;
    return EndCheck::Ends;
  }
  p = step.point;
  if (atNext) *atNext = std::move(step.model);
  if (rounds++ >= kEndCheckRounds) {
    // The search ends at the lower point; it is no minimum only where the gain stands
    // above the objective's own roughness.
    if (EndStepGains(step.gain, step.roughness)) report.localStepGain = step.gain;
    return EndCheck::Ends;
  }
  return EndCheck::GoesOn;
}

void ForgetFitEndFindings(FitReport& report) {
  report.atBound.clear();
  report.localStepGain = 0.0;
  report.gridRefined = 0;
}

void NoteValuesAtBound(FitReport& report, std::vector<std::string> values) {
  report.atBound = std::move(values);
}

void SayFitEnd(FitReport& report, FitOutcome outcome) {
  const bool result = outcome == FitOutcome::Completed && !report.stoppedBeforeResult;
  if (!result) return;
  std::string text;
  if (!report.atBound.empty()) {
    std::string names;
    for (const std::string& v : report.atBound) names += (names.empty() ? "" : ", ") + v;
    text = Format(kFitAtBoundText, names.c_str());
  }
  if (report.localStepGain > 0.0) {
    if (!text.empty()) text += " ";
    text += Format(kFitLocalStepText, report.localStepGain);
  }
  if (report.gridRefined > 0) {
    if (!text.empty()) text += " ";
    text += Format(kFitGridRefinedText, report.gridRefined);
  }
  if (!text.empty()) report.converged = false;
  // What the check of the species found is said, and leaves convergence alone.
  for (const int k : report.undeterminedSpecies) {
    if (!text.empty()) text += " ";
    text += Format(kSpeciesNotDeterminedText, k, 100.0 * Verdicts().undeterminedConfidence);
  }
  if (report.heldMeniscusGain > 0.0) {
    if (!text.empty()) text += " ";
    text += Format(kHeldMeniscusText, static_cast<double>(DataSet().fMeniscus), report.heldMeniscusGain,
                   report.heldMeniscusShift < 0.0 ? "inwards" : "outwards");
  }
  for (const auto& [k, what] : report.implausibleSpecies) {
    if (!text.empty()) text += " ";
    text += Format(kSpeciesImplausibleText, what.c_str());
  }
  if (text.empty()) return;
  // A final method's fit passes here before the fit it ends (said once).
  if (bBatchMode || report.message.text.find(text) != std::string::npos) return;
  if (report.message.empty())
    report.message = {std::move(text), "Note", MB_OK | MB_ICONEXCLAMATION, false};
  else
    report.message.text += "\n\n" + text;
}

}  // namespace tarmic
