#include "modelcalc/marquardt.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <utility>

#include "modelcalc/fit_state.h"
#include "modelcalc/verdict_thresholds.h"
#include "modelcalc/simulation_messages.h"
#include "services/error_box.h"
#include "numerics/linear_algebra.h"
#include "services/run_switches.h"

namespace tarmic {

float FitBounds::Clamp(float v) const {
  if (magnitude) v = std::fabs(v);
  return v < lo ? lo : (v > hi ? hi : v);
}

bool FitBounds::AtLimit(float v) const {
  return (std::isfinite(lo) && v <= lo) || (std::isfinite(hi) && v >= hi);
}

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

using Matrix = std::vector<std::vector<double>>;

Matrix SquareMatrix(int n) { return Matrix(Idx(n) + 1, std::vector<double>(Idx(n) + 1, 0.0)); }

// Solves the symmetric system A x = b (one-based), dropping parameters without
// influence (zero rows get x = 0); Cholesky, or LU when A is not positive definite.
void SolveSymmetric(Matrix& A, const std::vector<double>& b, std::vector<double>& x,
                    std::vector<double>& work) {
  const int n = static_cast<int>(A.size()) - 1;
  std::vector<double*> rows(A.size(), nullptr);
  for (int i = 1; i <= n; ++i) rows[Idx(i)] = A[Idx(i)].data();
  SolveSymmetricSystemSkipZeroRows(rows.data(), b.data(), n, x.data(), work.data());
}

// The bounds of parameter i in working units.
void WorkingBounds(const MLWorkSet& w, int i, double& lo, double& hi) {
  const FitBounds& b = w.bounds[Idx(i)];
  const double s = w.scale[Idx(i)];
  lo = b.lo;
  hi = b.hi;
  if (s == 0.0) return;
  lo /= s;
  hi /= s;
  if (s < 0.0) std::swap(lo, hi);
}

// The difference of a derivative at a: the factor times a, less a; the absolute
// step where a is 0.
double DerivativeStep(double factor, double absolute, double a) {
  const double value = factor * a;
  return value == 0.0 ? absolute : value - a;
}

// The working-unit difference of the derivative of parameter l at a: delta, or
// when a + delta leaves the bounds the other way, or (both ways out) up to the
// farther end.
double InwardDifference(const MLWorkSet& w, int l, double a, double delta) {
  double lo = 0.0, hi = 0.0;
  WorkingBounds(w, l, lo, hi);
  auto inside = [&](double d) { return a + d >= lo && a + d <= hi; };
  if (inside(delta)) return delta;
  if (inside(-delta)) return -delta;
  return hi - a >= a - lo ? hi - a : lo - a;
}

}  // namespace

std::vector<double> DerivativeSteps(const std::vector<double>& derivFactor, const std::vector<double>& derivStep,
                                    const float* p, int n) {
  std::vector<double> steps(Idx(n) + 1, 0.0);
  for (int i = 1; i <= n && Idx(i) < derivFactor.size() && Idx(i) < derivStep.size(); ++i)
    steps[Idx(i)] = std::abs(DerivativeStep(derivFactor[Idx(i)], derivStep[Idx(i)], p[i]));
  return steps;
}

bool AllocMLArrays(MLWorkSet& w, int n, std::size_t points) {
  w = MLWorkSet{};
  try {
    w.n = n;
    w.alpha = w.covar = w.trialAlpha = SquareMatrix(n);
    const std::vector<double> v(Idx(n) + 1, 0.0);
    w.beta = w.trialBeta = w.da = w.atry = w.cholesky = v;
    w.derivFactor.assign(Idx(n) + 1, fMLDefaultDerivFactor);
    w.derivStep.assign(Idx(n) + 1, fMLDefaultDerivStep);
    w.scale.assign(Idx(n) + 1, 0.0f);
    w.bounds.assign(Idx(n) + 1, FitBounds::None());
    w.model.assign(points, 0.0);
    w.data.assign(points, 0.0);
    w.perturbed.assign(points, 0.0);
    w.dyda.assign(Idx(n) + 1, std::vector<double>(points, 0.0));
  } catch (const std::bad_alloc&) {
    w = MLWorkSet{};
    return false;
  }
  return true;
}

void ScaleMLParameters(MLWorkSet& w, const float* p, double* a) {
  for (int i = 1; i <= w.n; ++i) {
    w.scale[Idx(i)] = p[i];
    a[i] = p[i] != 0.0f ? 1.0 : 0.0;
  }
}

void UnscaleMLParameters(const MLWorkSet& w, const double* a, float* p) {
  for (int i = 1; i <= w.n; ++i) {
    const double s = w.scale[Idx(i)];
    p[i] = w.bounds[Idx(i)].Clamp(static_cast<float>(s != 0.0 ? a[i] * s : a[i]));
  }
}

namespace {

// The difference of parameter l at the working values a (the rest of aPerturbed
// equals a): the step of the derivative factor (inwards at an end of the bounds),
// and when the model there is refused the same step the other way, then a tenth of
// it either way. Fills w.dyda[l] from the model values at a in w.model. Returns
// Interrupted, Computed (or a zero difference, whose derivative is 0), or Refused
// when no step had a model.
enum class Difference { Computed, Refused, Interrupted };
Difference TakeDifference(MLWorkSet& w, MLTarget& target, const double* a, int l,
                          const std::vector<float>& p, std::vector<double>& aPerturbed,
                          std::vector<float>& pPerturbed) {
  const std::size_t points = w.model.size();
  double lo = 0.0, hi = 0.0;
  WorkingBounds(w, l, lo, hi);
  const double first = InwardDifference(w, l, a[l], DerivativeStep(w.derivFactor[Idx(l)], w.derivStep[Idx(l)], a[l]));
  std::vector<double>& d = w.dyda[Idx(l)];
  bool tried = false;
  for (const double step : {first, -first, 0.1 * first, -0.1 * first}) {
    if (tried && !(a[l] + step >= lo && a[l] + step <= hi)) continue;
    aPerturbed[Idx(l)] = a[l] + step;
    UnscaleMLParameters(w, aPerturbed.data(), pPerturbed.data());
    aPerturbed[Idx(l)] = a[l];
    const double s = w.scale[Idx(l)];
    const double dp = static_cast<double>(pPerturbed[Idx(l)]) - static_cast<double>(p[Idx(l)]);
    const double h = s != 0.0 ? dp / s : dp;
    if (h == 0.0) {
      if (tried) continue;
      if (bBatchMode) {
        nSeriesErrorCode = 9;
      } else {
        // Met inside an iteration, which goes on with a zero derivative; a fit
        // shows it once (ScopedErrorsOnce).
        ShowComputationError("zero differential in mlcof");
      }
      std::fill(d.begin(), d.end(), 0.0);
      return Difference::Computed;
    }
    tried = true;
    if (!target.Evaluate(pPerturbed.data())) return Difference::Interrupted;
    if (target.Refused()) continue;
    target.Values(w.perturbed.data(), nullptr);
    for (std::size_t k = 0; k < points; ++k) d[k] = (w.perturbed[k] - w.model[k]) / h;
    return Difference::Computed;
  }
  return Difference::Refused;
}

}  // namespace

bool mlcof(MLWorkSet& w, MLTarget& target, const double* a, Matrix& alpha,
           std::vector<double>& beta, double& sosq) {
  const int n = w.n;
  const std::size_t points = w.model.size();
  const bool trial = &alpha != &w.alpha;
  for (int j = 1; j <= n; ++j) {
    beta[Idx(j)] = 0.0;
    for (int k = 1; k <= j; ++k) alpha[Idx(j)][Idx(k)] = 0.0;
  }
  sosq = 0.0;
  // Reference model at a.
  std::vector<float> p(Idx(n) + 1, 0.0f), pPerturbed(Idx(n) + 1, 0.0f);
  UnscaleMLParameters(w, a, p.data());
  if (!target.Evaluate(p.data())) return false;
  // Parameters without a model are never a point of the fit: a trial there is
  // rejected (no number), and start values there leave nothing to go on from.
  const auto refused = [&] {
    sosq = std::numeric_limits<double>::quiet_NaN();
    if (!trial) w.refused = true;
    return trial;
  };
  if (target.Refused()) return refused();
  target.Values(w.model.data(), w.data.data());
  Marquardt().fMLPoints = static_cast<double>(points);
  double residuals = 0.0;
  for (std::size_t k = 0; k < points; ++k) {
    const double r = w.data[k] - w.model[k];
    residuals += r * r;
  }
  // A trial that does not lower sosq is rejected: its derivatives are not needed.
  if (trial && !(residuals < w.sosqAccepted)) {
    sosq = residuals;
    return true;
  }

  // Forward differences: parameter l at factor x a[l] (or the absolute value when
  // that is 0), taken inwards at an end of its bounds. A difference step without a
  // model is taken the other way or shorter; where none has one, a trial is
  // rejected and the accepted values cannot go on.
  std::vector<double> aPerturbed(a, a + n + 1);
  for (int l = 1; l <= n; ++l) {
    if (w.progress) w.progress(static_cast<float>(l) / static_cast<float>(n));
    const Difference taken = TakeDifference(w, target, a, l, p, aPerturbed, pPerturbed);
    if (taken == Difference::Interrupted) return false;
    if (taken == Difference::Refused) return refused();
  }

  // alpha = J'J (lower triangle, then mirrored), beta = J'r, sosq = r'r; exact
  // zero derivatives are skipped.
  for (std::size_t k = 0; k < points; ++k) {
    const double r = w.data[k] - w.model[k];
    for (int j = 1; j <= n; ++j) {
      const double dj = w.dyda[Idx(j)][k];
      if (dj == 0.0) continue;
      for (int m = 1; m <= j; ++m) alpha[Idx(j)][Idx(m)] += dj * w.dyda[Idx(m)][k];
      beta[Idx(j)] += r * dj;
    }
  }
  sosq = residuals;
  for (int j = 2; j <= n; ++j)
    for (int k = 1; k < j; ++k) alpha[Idx(k)][Idx(j)] = alpha[Idx(j)][Idx(k)];
  Marquardt().fMLRmsd = points > 0 ? std::sqrt(sosq / static_cast<double>(points)) : 0.0;
  return true;
}

namespace {

// The step da from the accepted values a as a trial: each parameter changed by at
// most a factor fMLMaxFactor and held to its bounds. Accepted (a, alpha, beta and
// the accepted sosq take the trial's) when its sosq is lower and it and its
// difference steps have a model; ties fail, and so does a trial whose residuals are
// no number (w.nextToRefused when it had no model). sosq is the accepted one after
// a rejection.
enum class Trial { Accepted, Rejected, Interrupted };
Trial TryStep(MLWorkSet& w, MLTarget& target, double* a, const std::vector<double>& da, double& sosq) {
  const int n = w.n;
  for (int j = 1; j <= n; ++j) {
    double lo = 0.0, hi = 0.0;
    WorkingBounds(w, j, lo, hi);
    double t = a[j] + da[Idx(j)];
    if (a[j] != 0.0 && std::fabs(t / a[j]) > fMLMaxFactor)
      t = (t > 0.0) == (a[j] > 0.0) ? fMLMaxFactor * a[j] : -fMLMaxFactor * a[j];
    w.atry[Idx(j)] = t < lo ? lo : (t > hi ? hi : t);
  }
  if (!mlcof(w, target, w.atry.data(), w.trialAlpha, w.trialBeta, sosq)) return Trial::Interrupted;
  w.nextToRefused = std::isnan(sosq) && target.Refused();
  if (!(sosq < w.sosqAccepted)) {
    sosq = w.sosqAccepted;
    return Trial::Rejected;
  }
  w.sosqAccepted = sosq;
  std::swap(w.alpha, w.trialAlpha);
  std::swap(w.beta, w.trialBeta);
  for (int j = 1; j <= n; ++j) a[j] = w.atry[Idx(j)];
  return Trial::Accepted;
}

// The undamped (Gauss-Newton) step alpha da = beta over the parameters in `free`
// (the others get 0). A parameter at an end of its bounds whose step points outwards
// is dropped from `free` and the rest solved again.
void GaussNewtonStep(MLWorkSet& w, const double* a, std::vector<char> free, std::vector<double>& da) {
  const int n = w.n;
  std::vector<double> rhs(Idx(n) + 1, 0.0);
  Matrix A = SquareMatrix(n);
  for (bool again = true; again;) {
    for (int j = 1; j <= n; ++j) {
      for (int k = 1; k <= n; ++k)
        A[Idx(j)][Idx(k)] = free[Idx(j)] && free[Idx(k)] ? w.alpha[Idx(j)][Idx(k)] : 0.0;
      rhs[Idx(j)] = free[Idx(j)] ? w.beta[Idx(j)] : 0.0;
    }
    SolveSymmetric(A, rhs, da, w.cholesky);
    again = false;
    for (int j = 1; j <= n; ++j) {
      double lo = 0.0, hi = 0.0;
      WorkingBounds(w, j, lo, hi);
      const double d = da[Idx(j)];
      if (!free[Idx(j)] || !((a[j] <= lo && d < 0.0) || (a[j] >= hi && d > 0.0))) continue;
      free[Idx(j)] = 0;
      again = true;
    }
  }
  for (int j = 1; j <= n; ++j)
    if (!free[Idx(j)] || !std::isfinite(da[Idx(j)])) da[Idx(j)] = 0.0;
}

}  // namespace

std::vector<std::vector<double>> MLCovariance(const MLWorkSet& w) {
  std::vector<std::vector<double>> c = w.covar;
  const double points = static_cast<double>(w.model.size());
  const double variance = points > w.n ? w.sosqAccepted / (points - w.n) : 0.0;
  for (auto& row : c)
    for (double& x : row) x *= variance;
  return c;
}

double MLRemainingDecrease(MLWorkSet& w, const double* a) {
  std::vector<double> da(Idx(w.n) + 1, 0.0);
  GaussNewtonStep(w, a, std::vector<char>(Idx(w.n) + 1, 1), da);
  double decrease = 0.0;
  for (int j = 1; j <= w.n; ++j) decrease += da[Idx(j)] * w.beta[Idx(j)];
  return decrease;
}

bool MLStoppedFalling(MLWorkSet& w, const double* a) {
  const double points = static_cast<double>(w.model.size());
  if (!(points > w.n)) return true;
  if (w.sosqAccepted < fMLMinSosq) return true;
  const double unit = w.sosqAccepted / (points - w.n);
  const double decrease = MLRemainingDecrease(w, a);
  return decrease <= kMLStoppedFallingChiSquare * unit || decrease <= fMLRelTolerance * w.sosqAccepted;
}

MLRound MLSearchRound(MLWorkSet& w, MLTarget& target, double* a, double& sosq) {
  const int n = w.n;
  // The directions: the Gauss-Newton step over all parameters, over all but one,
  // and over each one alone; each tried at full length and at halvings down to a
  // 64th, the shorter steps ending before the refused region the longer ones met.
  std::vector<std::vector<char>> sets;
  sets.emplace_back(Idx(n) + 1, 1);
  if (n > 1) {
    for (int j = 1; j <= n; ++j) {
      std::vector<char> without(Idx(n) + 1, 1);
      without[Idx(j)] = 0;
      sets.push_back(without);
    }
    for (int j = 1; j <= n; ++j) {
      std::vector<char> alone(Idx(n) + 1, 0);
      alone[Idx(j)] = 1;
      sets.push_back(alone);
    }
  }
  std::vector<double> da(Idx(n) + 1, 0.0), step(Idx(n) + 1, 0.0);
  for (const std::vector<char>& set : sets) {
    GaussNewtonStep(w, a, set, da);
    for (double length = 1.0; length >= 1.0 / 64.0; length *= 0.5) {
      bool moves = false;
      for (int j = 1; j <= n; ++j) {
        step[Idx(j)] = length * da[Idx(j)];
        const double rel = a[j] == 0.0 ? std::fabs(step[Idx(j)]) : std::fabs(step[Idx(j)] / a[j]);
        moves = moves || rel > fMLStepTolerance;
      }
      if (!moves) break;
      const Trial trial = TryStep(w, target, a, step, sosq);
      if (trial == Trial::Interrupted) return MLRound::Interrupted;
      if (trial == Trial::Accepted) return MLRound::Lower;
    }
  }
  sosq = w.sosqAccepted;
  return MLRound::NothingLower;
}

bool mlmin(MLWorkSet& w, MLTarget& target, double* a, double& sosq, double& alamda) {
  auto& fitStatePart = FitState();
  const int n = w.n;
  fitStatePart.nFitStep = 0;
  if (alamda < 0.0) {
    alamda = kMLStartLambda;
    if (!mlcof(w, target, a, w.alpha, w.beta, sosq)) return false;
    w.sosqAccepted = sosq;
  }
  if (alamda == 0.0) {
    // Final call: alpha in the parameters' own units (d/dp = d/da / scale), then its
    // inverse column by column into covar.
    Matrix own = w.alpha;
    std::vector<double> unit(Idx(n) + 1, 0.0), column(Idx(n) + 1, 0.0);
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) {
        if (w.scale[Idx(i)] != 0.0f) own[Idx(i)][Idx(j)] /= w.scale[Idx(i)];
        if (w.scale[Idx(j)] != 0.0f) own[Idx(i)][Idx(j)] /= w.scale[Idx(j)];
      }
    for (int i = 1; i <= n; ++i) {
      std::fill(unit.begin(), unit.end(), 0.0);
      unit[Idx(i)] = 1.0;
      SolveSymmetric(own, unit, column, w.cholesky);
      for (int j = 1; j <= n; ++j) w.covar[Idx(i)][Idx(j)] = column[Idx(j)];
    }
    return true;
  }
  // Damped normal equations (alpha + alamda diag(alpha)) da = beta over the
  // parameters not held. A parameter at an end of its bounds whose step points
  // outwards is held there (its row and column dropped) and the rest solved again;
  // each round holds at least one more, so at most n rounds are made.
  std::vector<double> lo(Idx(n) + 1, 0.0), hi(Idx(n) + 1, 0.0), rhs(Idx(n) + 1, 0.0);
  for (int j = 1; j <= n; ++j) WorkingBounds(w, j, lo[Idx(j)], hi[Idx(j)]);
  std::vector<char> held(Idx(n) + 1, 0);
  for (bool again = true; again;) {
    for (int j = 1; j <= n; ++j) {
      for (int k = 1; k <= n; ++k)
        w.covar[Idx(j)][Idx(k)] = held[Idx(j)] || held[Idx(k)] ? 0.0 : w.alpha[Idx(j)][Idx(k)];
      w.covar[Idx(j)][Idx(j)] *= 1.0 + alamda;
      rhs[Idx(j)] = held[Idx(j)] ? 0.0 : w.beta[Idx(j)];
    }
    SolveSymmetric(w.covar, rhs, w.da, w.cholesky);
    again = false;
    for (int j = 1; j <= n; ++j) {
      const double d = w.da[Idx(j)];
      if (held[Idx(j)] || !((a[j] <= lo[Idx(j)] && d < 0.0) || (a[j] >= hi[Idx(j)] && d > 0.0)))
        continue;
      held[Idx(j)] = 1;
      again = true;
    }
  }
  for (int j = 1; j <= n; ++j)
    if (held[Idx(j)]) w.da[Idx(j)] = 0.0;
  w.stepTooSmall = true;
  for (int j = 1; j <= n; ++j) {
    const double rel = a[j] == 0.0 ? std::fabs(w.da[Idx(j)]) : std::fabs(w.da[Idx(j)] / a[j]);
    if (rel > fMLStepTolerance) {
      w.stepTooSmall = false;
      break;
    }
  }
  if (w.stepTooSmall) return true;
  const Trial trial = TryStep(w, target, a, w.da, sosq);
  if (trial == Trial::Interrupted) return false;
  if (trial == Trial::Rejected) {
    alamda *= 10.0;
    if (w.nextToRefused) ++w.refusalsInDamping;
    return true;
  }
  alamda *= 0.1;
  if (alamda <= kMLStartLambda) w.refusalsInDamping = 0;
  return true;
}

MLEnd MLFit(MLWorkSet& w, MLTarget& target, float* p, void (*onConverging)()) {
  auto& marquardtPart = Marquardt();
  auto& fitStatePart = FitState();
  const int n = w.n;
  std::vector<double> a(Idx(n) + 1, 0.0);
  for (int i = 1; i <= n; ++i) p[i] = w.bounds[Idx(i)].Clamp(p[i]);
  ScaleMLParameters(w, p, a.data());
  double sosq = 0.0, alamda = -1.0;
  fitStatePart.nFitIteration = 0;
  w.refused = w.nextToRefused = false;
  w.refusalsInDamping = 0;
  auto interrupted = [&] {
    UnscaleMLParameters(w, a.data(), p);
    return w.refused ? MLEnd::Refused : MLEnd::Interrupted;
  };
  if (!mlmin(w, target, a.data(), sosq, alamda)) return interrupted();
  // The loop ends at the second converging pass; the mark is cleared only when a
  // search round the refused region went on.
  bool mark = false, done = false;
  // The convergence test passed. When refusals grew the damping (and so shrank the
  // step) the test says nothing unless the sum of squares has stopped falling; a
  // fit where it has not searches round the refused region and goes on from a lower
  // point, or ends: it did not converge.
  bool roundFailed = false, roundStopped = false;
  const auto converged = [&]() -> bool {
    if (w.refusalsInDamping == 0 || MLStoppedFalling(w, a.data())) return true;
    const double before = w.sosqAccepted;
    const MLRound round = MLSearchRound(w, target, a.data(), sosq);
    if (round == MLRound::Interrupted) {
      roundStopped = true;
      return true;
    }
    // A round that gains less than the test's fraction of a unit of chi-square
    // creeps along the refused edge: it is kept, and the fit ends there.
    const double unit = before / std::max(1.0, static_cast<double>(w.model.size()) - n);
    if (round == MLRound::NothingLower || before - w.sosqAccepted < kMLStoppedFallingChiSquare * unit) {
      roundFailed = true;
      return true;
    }
    alamda = kMLStartLambda;
    w.refusalsInDamping = 0;
    mark = false;
    return false;
  };
  // The end step after a converging test: true when the iteration is to go on from
  // the lower point the step found.
  int endRounds = 0;
  w.endStepGain = 0.0;
  const auto endStepGoesOn = [&]() -> bool {
    const double points = static_cast<double>(w.model.size());
    if (!(points > n) || w.sosqAccepted < fMLMinSosq) return false;
    double unit = w.chiSquareUnit ? w.chiSquareUnit() : 0.0;
    if (!(unit > 0.0)) unit = w.sosqAccepted / (points - n);
    const double remaining = MLRemainingDecrease(w, a.data()) / unit;
    if (remaining <= Verdicts().endStepGoesOn) return false;
    std::vector<double> da(Idx(n) + 1, 0.0);
    GaussNewtonStep(w, a.data(), std::vector<char>(Idx(n) + 1, 1), da);
    const double before = w.sosqAccepted;
    const Trial trial = TryStep(w, target, a.data(), da, sosq);
    if (trial == Trial::Interrupted) {
      roundStopped = true;
      return false;
    }
    const double gain = trial == Trial::Accepted ? (before - w.sosqAccepted) / unit : 0.0;
    if (!(gain > Verdicts().endStepGoesOn)) return false;
    if (endRounds++ >= kEndCheckRounds) {
      // The end is no minimum only where the gain stands above the objective's
      // roughness along the step (how far it departs from the decrease its
      // linearised model promised).
      const VerdictThresholds& v = Verdicts();
      if (gain > v.endStepChiSquare + v.endStepRoughnessFactor * std::fabs(gain - remaining)) w.endStepGain = gain;
      return false;
    }
    alamda = kMLStartLambda;
    mark = false;
    return true;
  };
  const auto ends = [&]() -> bool { return converged() && (roundFailed || roundStopped || !endStepGoesOn()); };
  while (!done && fitStatePart.nFitIteration < nMLIterMax) {
    ++fitStatePart.nFitIteration;
    const double oldSosq = sosq, oldLambda = alamda;
    marquardtPart.fMLLambda = alamda;
    if (!mlmin(w, target, a.data(), sosq, alamda)) return interrupted();
    if (w.stepTooSmall) {
      // No trial was made, so alpha, beta and alamda are as before and every further
      // pass would repeat this one: after a converging pass the fit has settled.
      if (mark) done = ends();
      else mark = true;
      if (roundStopped) return interrupted();
      continue;
    }
    const bool converging =
        sosq < oldSosq && alamda <= oldLambda &&
        ((oldSosq - sosq) / oldSosq < fMLRelTolerance || sosq < fMLMinSosq);
    if (converging) {
      if (onConverging) onConverging();
      if (mark) done = ends();
      else mark = true;
      if (roundStopped) return interrupted();
    }
  }
  alamda = 0.0;
  mlmin(w, target, a.data(), sosq, alamda);
  UnscaleMLParameters(w, a.data(), p);
  if (!done) return MLEnd::IterationLimit;
  // Settled only because the trials from the accepted values had no model (the
  // damping grew over refused trials, not over worse ones), or refusals shrank the
  // step while the sum of squares still fell and nothing round them was lower:
  // nothing says that this is the minimum.
  if (roundFailed) w.nextToRefused = true;
  return w.nextToRefused || roundFailed ? MLEnd::Refused : MLEnd::Converged;
}

}  // namespace tarmic
