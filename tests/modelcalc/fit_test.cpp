// Simplex, annealing and Marquardt-Levenberg on functions with known minima.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "modelcalc/fit_end_check.h"
#include "modelcalc/fit_state.h"
#include "modelcalc/marquardt.h"
#include "modelcalc/simplex.h"

namespace tarmic {
namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// Start simplex: vertex 1 = start, vertex j+1 = start with entry j moved by step.
SimplexSet StartSimplex(const std::vector<float>& start, float step, const SimplexObjective& f) {
  const int n = static_cast<int>(start.size());
  SimplexSet s(n);
  for (int j = 1; j <= n + 1; ++j) {
    for (int i = 1; i <= n; ++i) s.p[Idx(j)][Idx(i)] = start[Idx(i - 1)];
    if (j > 1) s.p[Idx(j)][Idx(j - 1)] += step;
    s.y[Idx(j)] = f(s.p[Idx(j)].data());
  }
  return s;
}

// Shifted quadratic (minimum 0.5 at (1, -2, 3)) and the Rosenbrock valley (minimum
// 0 at (1, 1)): the tolerance exit leaves the lowest vertex in row 1, within the
// evaluation cap; a restart around row 1 keeps improving; an interrupt ends the
// search before it evaluates anything.
TEST(SimplexTest, AmoebaFindsMinimaWithinEvaluationCap) {
  ResetFitState();
  int evaluations = 0;
  SimplexObjective quadratic = [&](const float* p) {
    ++evaluations;
    return 0.5f + static_cast<float>(std::pow(p[1] - 1.0, 2) + 2.0 * std::pow(p[2] + 2.0, 2) +
                                     0.5 * std::pow(p[3] - 3.0, 2));
  };
  SimplexSet q = StartSimplex({0.0f, 0.0f, 0.0f}, 1.0f, quadratic);
  int nfunk = 0;
  EXPECT_EQ(amoeba(q, 1e-7f, quadratic, nfunk), AmoebaEnd::Converged);
  EXPECT_LT(nfunk, kAmoebaMaxEvaluations);
  EXPECT_EQ(q.Lowest(), 1);
  EXPECT_NEAR(q.p[1][1], 1.0, 2e-3);
  EXPECT_NEAR(q.p[1][2], -2.0, 2e-3);
  EXPECT_NEAR(q.p[1][3], 3.0, 2e-3);
  EXPECT_NEAR(q.y[1], 0.5, 1e-6);
  EXPECT_EQ(FitState().nFitIteration, 1);

  SimplexObjective rosenbrock = [](const float* p) {
    const double a = 1.0 - p[1], b = p[2] - double(p[1]) * p[1];
    return static_cast<float>(a * a + 100.0 * b * b + 1e-3);
  };
  SimplexSet r = StartSimplex({-1.2f, 1.0f}, 0.5f, rosenbrock);
  EXPECT_EQ(amoeba(r, 1e-6f, rosenbrock, nfunk), AmoebaEnd::Converged);
  EXPECT_LT(nfunk, kAmoebaMaxEvaluations);
  // Restart around the best point: the valley floor is followed to (1, 1).
  for (int pass = 0; pass < 3; ++pass) {
    const std::vector<float> best{r.p[1][1], r.p[1][2]};
    r = StartSimplex(best, 0.05f, rosenbrock);
    amoeba(r, 1e-6f, rosenbrock, nfunk);
  }
  EXPECT_NEAR(r.p[1][1], 1.0, 0.02);
  EXPECT_NEAR(r.p[1][2], 1.0, 0.04);

  // A collapsed simplex (all vertices equal) ends at once without evaluations.
  SimplexSet c(2);
  for (int j = 1; j <= 3; ++j) {
    c.p[Idx(j)] = {0.0f, 2.0f, 0.0f};
    c.y[Idx(j)] = static_cast<float>(j);  // values that disagree: no tolerance exit
  }
  evaluations = 0;
  EXPECT_EQ(amoeba(c, 1e-6f, quadratic, nfunk), AmoebaEnd::Collapsed);
  EXPECT_EQ(evaluations, 0);

  FitState().bFitInterrupted = true;
  SimplexSet i = StartSimplex({0.0f, 0.0f, 0.0f}, 1.0f, quadratic);
  evaluations = 0;
  EXPECT_EQ(amoeba(i, 1e-7f, quadratic, nfunk), AmoebaEnd::Interrupted);
  EXPECT_EQ(evaluations, 0);
  ResetFitState();
}

// Annealing: the schedule 2 (1 - k/9)^2 of ten steps ends at 0 and a single step
// runs at the start temperature (no division by zero); the fluctuating simplex
// keeps the best point ever evaluated, which lands in the quadratic's minimum.
TEST(SimplexTest, AnnealingScheduleAndBestPoint) {
  ResetFitState();
  EXPECT_FLOAT_EQ(AnnealTemperature(0, 10, 2.0f), 2.0f);
  EXPECT_NEAR(AnnealTemperature(2, 10, 2.0f), 1.21, 0.005);
  EXPECT_FLOAT_EQ(AnnealTemperature(9, 10, 2.0f), 0.0f);
  EXPECT_FLOAT_EQ(AnnealTemperature(0, 1, 2.0f), 2.0f);

  SimplexObjective f = [](const float* p) {
    return 1.0f + static_cast<float>(std::pow(p[1] - 2.0, 2) + std::pow(p[2] + 1.0, 2));
  };
  SimplexSet s = StartSimplex({0.0f, 0.0f}, 1.0f, f);
  std::vector<float> pb{0.0f, s.p[1][1], s.p[1][2]};
  float yb = s.y[1];
  Simplex().nAnnealSeed = -3;
  for (int k = 0; k < 4; ++k) {
    int iter = 400;
    ASSERT_TRUE(amebsa(s, AnnealTemperature(k, 4, 0.5f), pb, yb, 1e-6f, f, iter));
  }
  EXPECT_NEAR(pb[1], 2.0, 0.01);
  EXPECT_NEAR(pb[2], -1.0, 0.01);
  EXPECT_FLOAT_EQ(yb, f(pb.data()));
  EXPECT_LE(yb, s.y[s.Lowest()]);
}

// y = A exp(-k t) + c on 60 points, fitted by forward differences.
class DecayTarget : public MLTarget {
 public:
  DecayTarget() {
    for (int i = 0; i < 60; ++i) t.push_back(0.2 * i);
    for (double x : t) y.push_back(2.0 * std::exp(-0.5 * x) + 0.3);
  }
  bool Evaluate(const float* p) override {
    ++evaluations;
    if (interruptAfter > 0 && evaluations > interruptAfter) return false;
    A = p[1], k = p[2], c = p[3];
    return true;
  }
  std::size_t Points() const override { return t.size(); }
  void Values(double* model, double* data) const override {
    for (std::size_t i = 0; i < t.size(); ++i) {
      model[i] = A * std::exp(-k * t[i]) + c;
      if (data) data[i] = y[i];
    }
  }
  std::vector<double> t, y;
  double A = 0, k = 0, c = 0;
  int evaluations = 0, interruptAfter = 0;
};

// One boundary 0.5 erfc((r - x) / w) over 600 radii, x its position in cm (as a
// meniscus or a bottom is): the data are the boundary at 6.5 cm.
class BoundaryTarget : public MLTarget {
 public:
  explicit BoundaryTarget(double width) : w(width) {
    for (int i = 0; i < 600; ++i) r.push_back(6.2 + 0.001 * i);
  }
  bool Evaluate(const float* p) override {
    x = p[1];
    return true;
  }
  std::size_t Points() const override { return r.size(); }
  void Values(double* model, double* data) const override {
    for (std::size_t i = 0; i < r.size(); ++i) {
      model[i] = 0.5 * std::erfc((r[i] - x) / w);
      if (data) data[i] = 0.5 * std::erfc((r[i] - 6.5) / w);
    }
  }
  // The standard error of x at noise sigma: sigma / |dm/dx|.
  double StandardError(double sigma) const {
    double sum = 0.0;
    for (double ri : r) {
      const double u = (ri - 6.5) / w;
      sum += std::exp(-2.0 * u * u) / (w * w * 3.14159265358979);
    }
    return sigma / std::sqrt(sum);
  }
  std::vector<double> r;
  double w, x = 0.0;
};

// The step from an end takes its differences over the step it is given: a position
// differenced over a ten-thousandth of its value (the Marquardt step of a meniscus
// or bottom) is stepped to within a fifth of a standard error of the minimum from
// six either side, at every boundary width; over a thousandth of its value (6.5 mm x
// 1e-3, wider than the narrowest boundary) the difference is a secant across the
// boundary, and the step misses by more than half a standard error.
TEST(EndStepTest, APositionIsDifferencedOverItsOwnStep) {
  constexpr double kSigma = 0.005;
  double worstRelative = 0.0;
  for (double width : {0.005, 0.01, 0.02}) {
    BoundaryTarget target(width);
    const double se = target.StandardError(kSigma);
    const std::vector<FitBounds> bounds(2, FitBounds::None());
    const std::vector<double> steps = {0.0, 6.5e-4};
    for (double start : {-6.0, -3.0, 3.0, 6.0}) {
      SCOPED_TRACE(::testing::Message() << "width " << width << ", start " << start << " standard errors");
      const std::vector<float> p = {0.0f, static_cast<float>(6.5 + start * se)};
      const EndStep own = LocalStepFromEnd(target, p, bounds, kSigma * kSigma, &steps);
      ASSERT_FALSE(own.point.empty());
      EXPECT_LE(std::abs(own.point[1] - 6.5), 0.2 * se);
      const EndStep relative = LocalStepFromEnd(target, p, bounds, kSigma * kSigma, nullptr);
      const double end = relative.point.empty() ? p[1] : relative.point[1];
      worstRelative = std::max(worstRelative, std::abs(end - 6.5) / se);
    }
  }
  EXPECT_GT(worstRelative, 0.5);
}

// Marquardt-Levenberg on A exp(-k t) + c from A = 1.6, k = 0.6 and c = 0 (scale 0:
// c stays in its own units and is differentiated at the absolute step 0.001):
// the true values are recovered; the final covariance, in the parameters' own
// units, inverts the analytic J'J; an interrupted fit keeps the last accepted
// values and says so.
TEST(MarquardtTest, RecoversDecayWithZeroStartValue) {
  ResetFitState();
  DecayTarget target;
  MLWorkSet w;
  ASSERT_TRUE(AllocMLArrays(w, 3, target.Points()));
  std::vector<float> p{0.0f, 1.6f, 0.6f, 0.0f};
  ASSERT_EQ(MLFit(w, target, p.data()), MLEnd::Converged);
  EXPECT_FLOAT_EQ(w.scale[3], 0.0f);
  EXPECT_NEAR(p[1], 2.0, 1e-3);
  EXPECT_NEAR(p[2], 0.5, 1e-3);
  EXPECT_NEAR(p[3], 0.3, 1e-3);
  EXPECT_LT(Marquardt().fMLRmsd, 1e-4);
  EXPECT_LT(FitState().nFitIteration, nMLIterMax);

  double jtj[4][4] = {};
  for (double x : target.t) {
    const double d[4] = {0.0, std::exp(-0.5 * x), -2.0 * x * std::exp(-0.5 * x), 1.0};
    for (int i = 1; i <= 3; ++i)
      for (int j = 1; j <= 3; ++j) jtj[i][j] += d[i] * d[j];
  }
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 3; ++j) {
      double product = 0.0;
      for (int m = 1; m <= 3; ++m) product += w.covar[Idx(i)][Idx(m)] * jtj[m][j];
      EXPECT_NEAR(product, i == j ? 1.0 : 0.0, 0.01) << i << "," << j;
    }

  DecayTarget stopped;
  stopped.interruptAfter = 9;  // during the second derivative pass
  ASSERT_TRUE(AllocMLArrays(w, 3, stopped.Points()));
  std::vector<float> q{0.0f, 1.6f, 0.6f, 0.0f};
  EXPECT_EQ(MLFit(w, stopped, q.data()), MLEnd::Interrupted);
  EXPECT_TRUE(std::isfinite(q[1]) && std::isfinite(q[2]) && std::isfinite(q[3]));
}

// The decay whose model is refused for k below a limit, and for A above one: a
// refused evaluation leaves values that match the data exactly (what a solver's
// stale or unfinished rows may look like), so a fit that took them would settle there.
class RefusingDecayTarget : public DecayTarget {
 public:
  bool Evaluate(const float* p) override {
    const bool going = DecayTarget::Evaluate(p);
    refused = p[2] < kLimit || p[1] > aLimit;
    if (refused) ++refusals;
    return going;
  }
  bool Refused() const override { return refused; }
  void Values(double* model, double* data) const override {
    DecayTarget::Values(model, data);
    if (refused)
      for (std::size_t i = 0; i < t.size(); ++i) model[i] = y[i];
  }
  double kLimit = 0.0, aLimit = 1e9;
  bool refused = false;
  int refusals = 0;
};

// Marquardt-Levenberg never takes parameters without a model as a point: trials
// there are rejected and the iteration goes on to the true values (k below 0.3 is
// refused, the truth is 0.5); where the way on is blocked (k below 0.47) it ends
// short of the truth and says it ended next to refused values; start values without
// a model end the iteration as refused, with the start values kept.
TEST(MarquardtTest, RefusedParametersAreNeverPointsOfTheFit) {
  ResetFitState();
  RefusingDecayTarget target;
  target.kLimit = 0.3;
  MLWorkSet w;
  ASSERT_TRUE(AllocMLArrays(w, 3, target.Points()));
  std::vector<float> p{0.0f, 1.0f, 1.5f, 0.0f};
  EXPECT_EQ(MLFit(w, target, p.data()), MLEnd::Converged);
  EXPECT_GT(target.refusals, 0) << "the path did not meet the refused region";
  EXPECT_FALSE(w.nextToRefused);
  EXPECT_NEAR(p[1], 2.0, 1e-3);
  EXPECT_NEAR(p[2], 0.5, 1e-3);
  EXPECT_NEAR(p[3], 0.3, 1e-3);

  RefusingDecayTarget blocked;
  blocked.kLimit = 0.47;
  ASSERT_TRUE(AllocMLArrays(w, 3, blocked.Points()));
  std::vector<float> b{0.0f, 1.0f, 1.5f, 0.0f};
  MLFit(w, blocked, b.data());
  EXPECT_GE(b[2], 0.47f);
  const bool atTruth = std::fabs(b[1] - 2.0) < 1e-3 && std::fabs(b[2] - 0.5) < 1e-3;
  EXPECT_TRUE(atTruth || w.nextToRefused) << b[1] << " " << b[2] << " " << b[3];

  RefusingDecayTarget start;
  start.aLimit = 2.5;
  ASSERT_TRUE(AllocMLArrays(w, 3, start.Points()));
  std::vector<float> q{0.0f, 3.0f, 0.6f, 0.0f};
  EXPECT_EQ(MLFit(w, start, q.data()), MLEnd::Refused);
  EXPECT_FLOAT_EQ(q[1], 3.0f);
  EXPECT_FLOAT_EQ(q[2], 0.6f);
}

// The curved valley of Rosenbrock's function as least squares, residuals
// 10 (y - x^2) and 1 - x (ten times each, with data errors of 0.001), its minimum at
// (1, 1); models with y below `floor` are refused (a solver's limit across the
// valley).
class RefusingValleyTarget : public MLTarget {
 public:
  bool Evaluate(const float* p) override {
    x = p[1];
    y = p[2];
    refused = y < floor;
    refusals += refused;
    return true;
  }
  bool Refused() const override { return refused; }
  std::size_t Points() const override { return 20; }
  void Values(double* model, double* data) const override {
    for (int i = 0; i < 10; ++i) {
      const double e = 0.001 * (i % 3 - 1);
      model[2 * i] = refused ? e : 10.0 * (y - x * x);
      model[2 * i + 1] = refused ? 1.0 + e : x;
      if (data) {
        data[2 * i] = e;
        data[2 * i + 1] = 1.0 + e;
      }
    }
  }
  double x = 0, y = 0, floor = 0;
  bool refused = false;
  int refusals = 0;
};

// Refusals that shrink the step are no convergence. From (0.5, 1) with y below 0.9
// refused, the damped steps along the valley's floor run into the refused region
// and shrink; the search round the refused region (a shorter step in one value)
// goes on to the minimum, where the fit converges. Before, the fit ended at (0.59,
// 0.9) saying that it did not converge. From (-1.2, 1) with y below 0.3 refused the
// valley's way round through (0, 0) is cut: the fit ends at the edge and says it did
// not converge. The decay with refused k below 0.3 on data with errors of 0.01
// meets the refused region on its way and converges at the truth.
TEST(MarquardtTest, RefusalsThatShrankTheStepAreNoConvergence) {
  ResetFitState();
  MLWorkSet w;
  struct Case {
    float x0;
    double floor;
    bool converges;
  };
  for (const Case c : {Case{0.5f, 0.9, true}, Case{-1.2f, 0.3, false}}) {
    SCOPED_TRACE(c.x0);
    RefusingValleyTarget target;
    target.floor = c.floor;
    ASSERT_TRUE(AllocMLArrays(w, 2, target.Points()));
    std::vector<float> p{0.0f, c.x0, 1.0f};
    const MLEnd end = MLFit(w, target, p.data());
    EXPECT_GT(target.refusals, 0) << "the path did not meet the refused region";
    EXPECT_GE(p[2], c.floor);
    if (c.converges) {
      EXPECT_EQ(end, MLEnd::Converged);
      EXPECT_NEAR(p[1], 1.0, 0.01);
      EXPECT_NEAR(p[2], 1.0, 0.02);
    } else {
      EXPECT_EQ(end, MLEnd::Refused);
      EXPECT_TRUE(w.nextToRefused);
    }
  }
  RefusingDecayTarget decay;
  decay.kLimit = 0.3;
  for (std::size_t i = 0; i < decay.y.size(); ++i) decay.y[i] += 0.01 * (static_cast<double>((i * 7919) % 13) - 6.0) / 6.0;
  ASSERT_TRUE(AllocMLArrays(w, 3, decay.Points()));
  std::vector<float> p{0.0f, 1.0f, 1.5f, 0.0f};
  EXPECT_EQ(MLFit(w, decay, p.data()), MLEnd::Converged);
  EXPECT_GT(decay.refusals, 0);
  EXPECT_NEAR(p[1], 2.0, 0.02);
  EXPECT_NEAR(p[2], 0.5, 0.01);
}

// The decay whose model is refused at the difference steps of A where k is below
// 0.7 (a solver that fails next to some points, not at them): on the side of larger
// A only, or (bothSides) at every step. A difference step is a point that differs
// from the last other point evaluated in one value, by less than 0.1 % (the
// difference steps are 0.05 %; a short trial in one value is no difference step).
class DifferenceRefusingDecayTarget : public DecayTarget {
 public:
  bool Evaluate(const float* p) override {
    int changed = 0, which = 0;
    for (int i = 1; i <= 3; ++i)
      if (p[i] != anchor[i]) {
        ++changed;
        which = i;
      }
    const bool step = changed == 1 && std::fabs(p[which] - anchor[which]) <= 0.001f * std::fabs(anchor[which]);
    refused = step && which == 1 && p[2] < 0.7f && (bothSides || p[1] > anchor[1]);
    if (!step) std::copy(p, p + 4, anchor);
    refusals += refused;
    return DecayTarget::Evaluate(p);
  }
  bool Refused() const override { return refused; }
  float anchor[4] = {};
  bool bothSides = false, refused = false;
  int refusals = 0;
};

// A difference step without a model is taken the other way, at a trial point and at
// the start values alike, and the fit reaches the truth (k = 0.5, where every step
// of A to the larger side is refused). Where no step has a model (below k = 0.7
// both ways), trials there are rejected, the fit goes on to the edge of that region
// and ends there saying that it did not converge, at values whose model and
// derivatives were computed. Before, the first refused step ended the fit where it
// stood (at the start values, or at the accepted values before the trial).
TEST(MarquardtTest, ARefusedDifferenceStepIsGoneRound) {
  ResetFitState();
  MLWorkSet w;
  for (float k : {1.5f, 0.6f}) {
    SCOPED_TRACE(k);
    DifferenceRefusingDecayTarget target;
    ASSERT_TRUE(AllocMLArrays(w, 3, target.Points()));
    std::vector<float> p{0.0f, 1.0f, k, 0.0f};
    EXPECT_EQ(MLFit(w, target, p.data()), MLEnd::Converged);
    EXPECT_GT(target.refusals, 0);
    EXPECT_NEAR(p[1], 2.0, 1e-3);
    EXPECT_NEAR(p[2], 0.5, 1e-3);
    EXPECT_NEAR(p[3], 0.3, 1e-3);
  }
  DifferenceRefusingDecayTarget blocked;
  blocked.bothSides = true;
  ASSERT_TRUE(AllocMLArrays(w, 3, blocked.Points()));
  std::vector<float> b{0.0f, 1.0f, 1.5f, 0.0f};
  EXPECT_EQ(MLFit(w, blocked, b.data()), MLEnd::Refused);
  EXPECT_GE(b[2], 0.7f);
  EXPECT_LT(b[2], 0.71f);
}

// The decay as an objective that holds c to bounds (the model sees the nearer end
// of a value outside, as the fits' objectives do), recording the c values asked for.
class BoundedDecayTarget : public DecayTarget {
 public:
  explicit BoundedDecayTarget(FitBounds b) : bounds(b) {}
  bool Evaluate(const float* p) override {
    lowest = std::min(lowest, p[3]);
    highest = std::max(highest, p[3]);
    const float q[4] = {0.0f, p[1], p[2], bounds.Clamp(p[3])};
    return DecayTarget::Evaluate(q);
  }
  FitBounds bounds;
  float lowest = 1e30f, highest = -1e30f;
};

// The decay with c held at a fixed value, A and k fitted.
class FixedOffsetDecayTarget : public DecayTarget {
 public:
  explicit FixedOffsetDecayTarget(float offset) : c0(offset) {}
  bool Evaluate(const float* p) override {
    const float q[4] = {0.0f, p[1], p[2], c0};
    return DecayTarget::Evaluate(q);
  }
  float c0;
};

// Bounds on c: started at either end of [0, 0.5] (at 0 with scale 0) the fit leaves
// the end and recovers (2, 0.5, 0.3); no point outside the bounds is evaluated.
// Within [0, 0.2], which leaves out the true 0.3, it converges with c exactly at
// 0.2 and A, k those of the fit with c held at 0.2.
TEST(MarquardtTest, BoundedParameterLeavesItsEndsAndStopsAtOne) {
  ResetFitState();
  MLWorkSet w;
  for (float start : {0.5f, 0.0f}) {
    SCOPED_TRACE(start);
    BoundedDecayTarget target(FitBounds::Within(0.0f, 0.5f));
    ASSERT_TRUE(AllocMLArrays(w, 3, target.Points()));
    w.bounds[3] = target.bounds;
    std::vector<float> p{0.0f, 1.6f, 0.6f, start};
    ASSERT_EQ(MLFit(w, target, p.data()), MLEnd::Converged);
    EXPECT_NEAR(p[1], 2.0, 1e-3);
    EXPECT_NEAR(p[2], 0.5, 1e-3);
    EXPECT_NEAR(p[3], 0.3, 1e-3);
    EXPECT_GE(target.lowest, 0.0f);
    EXPECT_LE(target.highest, 0.5f);
  }

  BoundedDecayTarget bounded(FitBounds::Within(0.0f, 0.2f));
  ASSERT_TRUE(AllocMLArrays(w, 3, bounded.Points()));
  w.bounds[3] = bounded.bounds;
  std::vector<float> p{0.0f, 1.6f, 0.6f, 0.1f};
  ASSERT_EQ(MLFit(w, bounded, p.data()), MLEnd::Converged);
  EXPECT_EQ(p[3], 0.2f);
  EXPECT_TRUE(w.bounds[3].AtLimit(p[3]));
  EXPECT_LE(bounded.highest, 0.2f);

  FixedOffsetDecayTarget fixed(0.2f);
  MLWorkSet w2;
  ASSERT_TRUE(AllocMLArrays(w2, 2, fixed.Points()));
  std::vector<float> q{0.0f, 1.6f, 0.6f};
  ASSERT_EQ(MLFit(w2, fixed, q.data()), MLEnd::Converged);
  EXPECT_NEAR(p[1], q[1], 1e-3);
  EXPECT_NEAR(p[2], q[2], 1e-3);
  EXPECT_GT(std::fabs(q[1] - 2.0f), 0.01f);  // the held c did move A away from the truth
}

}  // namespace
}  // namespace tarmic
