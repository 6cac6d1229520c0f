// Derivative-free minimisers over a float vector: the downhill simplex of Nelder
// and Mead (amoeba with its trial step amotry) and the same simplex with thermal
// fluctuations for simulated annealing (amebsa with amotsa).
//
// Vectors and the simplex are one-based: vertices p[1..n+1], entries p[j][1..n],
// values y[1..n+1]. The objective takes a one-based vector p[1..n] and returns the
// value to minimise (for the model fits the rmsd of a whole model computation, so
// the searches count evaluations). Both searches stop after the current evaluation
// once bFitInterrupted (fit_state.h) is set.
#pragma once

#include "numerics/analysis.h"

#include <functional>
#include <vector>

#include "modelcalc/evaluated_points.h"

namespace tarmic {

// The objective: value at the one-based vector p[1..n].
using SimplexObjective = std::function<float(const float* p)>;
// Called once per iteration with the vertex currently ranked lowest and its value.
using SimplexProgress = std::function<void(const float* best, float value)>;

// n+1 vertices of n entries and their values, all one-based.
struct SimplexSet {
  explicit SimplexSet(int n);
  int n;
  std::vector<std::vector<float>> p;  // p[j][i], j = 1..n+1, i = 1..n
  std::vector<float> y;               // y[1..n+1]
  // The first index of the smallest value.
  int Lowest() const;
};

// Nelder-Mead coefficients: reflection, expansion, contraction.
inline constexpr float kSimplexReflect = -1.0f;
inline constexpr float kSimplexExpand = 2.0f;
inline constexpr float kSimplexContract = 0.5f;
// Evaluation limit of one amoeba call and the relative vertex spread below which
// the simplex counts as collapsed.
inline constexpr int kAmoebaMaxEvaluations = 5000;
inline constexpr double kSimplexCollapse = 2e-6;

enum class AmoebaEnd {
  Converged,        // 2|y_hi - y_lo| / (|y_hi| + |y_lo|) < ftol: vertex 1 holds the lowest value
  Collapsed,        // every vertex within 2e-6 (relative) of the lowest; rows unchanged
  EvaluationLimit,  // 5000 evaluations (the caller reports "Nelder-Mead not converged")
  Interrupted,      // bFitInterrupted
};

// Downhill simplex. The values y must belong to the vertices at entry. nfunk
// receives the number of evaluations. Increments nFitIteration and clears
// nFitStep at entry. On the evaluation limit a series (batch mode) gets the error
// code 10; nothing is shown: the caller hands EvaluationLimit up to its command.
AmoebaEnd amoeba(SimplexSet& s, float ftol, const SimplexObjective& funk, int& nfunk,
                 const SimplexProgress& progress = {});
// The same with the tolerance asked for anew before each test, so that what the
// evaluations so far tell can end the pass (a tolerance of infinity ends it).
using SimplexTolerance = std::function<float()>;
// A point the pass evaluates before its next step, p[1..n] (false: none): when its
// value is below the highest vertex's, it takes that vertex's place. The pass asks
// for proposals (testing its end after each) until there is none, then steps.
using SimplexProposal = std::function<bool(float* p)>;
AmoebaEnd amoeba(SimplexSet& s, const SimplexTolerance& ftol, const SimplexObjective& funk,
                 int& nfunk, const SimplexProgress& progress = {},
                 const SimplexProposal& propose = {});

// One trial: the point on the line from vertex ihi through the centroid of the
// others, at factor fac (-1 reflection, 2 expansion, 0.5 contraction); replaces
// vertex ihi (and updates the column sums psum[1..n]) when it is lower. Returns
// the value at the trial point.
float amotry(SimplexSet& s, std::vector<float>& psum, const SimplexObjective& funk, int ihi,
             float fac);

// The end of repeated Nelder-Mead passes, each restarted around the best vertex of
// the pass before, on an objective that is the rmsd over `points` fit points. A
// relative change f of the rmsd changes the sum of squares by about 2 f points
// units of the noise's variance (chi-square units), and a value k standard errors
// from the minimum raises it by k^2 units. The restarts therefore run to the
// tolerance kSimplexChiSquareStep / (2 points) (a vertex spread of a twentieth of a
// unit; never coarser than the first pass's), and the passes end when two restarts
// in a row lower the best rmsd by no more than that (one may stall in a valley of
// correlated values): the minimum is then placed to a fraction of a standard error,
// whatever the random start vertices. A pass ended by a fixed relative spread
// instead stops far from the minimum of a value with a large standard error, and a
// restart with that spread does not move it.
//
// A value-by-value test cannot place the minimum of an objective whose values
// scatter about their smooth surface (evaluated_points.h): the restarts also end
// as soon as a quadratic through the evaluated points says that the lowest vertex
// lies no more than kSimplexChiSquareStep above the surface's minimum (SurfaceSays),
// which ends the pass under way as well.
//
// Each restart is sized by the pass before it (RestartNear): its new vertices lie
// within kSimplexRestartReach times that pass's final extent of the best vertex in
// each entry (never farther than a fresh start would put them). A restart near a
// settled minimum then costs a few evaluations instead of a whole descent from the
// fresh start's spread, while a restart in a valley still walks it by expansions.
inline constexpr double kSimplexChiSquareStep = 0.05;
// The same step for passes whose end the step from the end checks (the discrete
// fit, fit_end_check.h): it takes a lower point from a gain of 0.25 units on
// (VerdictThresholds::endStepGoesOn) at n + 2 evaluations, where restarts run to
// a twentieth of a unit cost a restart's vertices and pass each, and the step from
// a pass that ended a quarter of a unit high finds that quarter in one go.
inline constexpr double kSimplexCheckedStep = 0.25;
// The largest uncertainty of the surface's minimum (EvaluatedPoints SurfaceVerdict
// spread) with which it places the minimum.
inline constexpr double kSurfaceSpread = 0.2;
// Restarts after which the passes end unsettled (the fit says it did not converge).
inline constexpr int kSimplexRestartLimit = 25;
// The reach of a restart in units of the extent of the pass before, and the least
// share of a fresh start's spread it keeps (a pass whose simplex collapsed has
// almost no extent).
inline constexpr float kSimplexRestartReach = 2.0f;
inline constexpr float kSimplexRestartLeast = 1.0f / 64.0f;
// The quadratic surface through the evaluated points of an rmsd over `points` fit
// points is determined, has points bracketing its minimum, puts one of them
// (SurfaceVerdict nearest) within kSimplexChiSquareStep of it, and places it with a
// spread of at most kSurfaceSpread. The search that ends on it gives that point as
// its result.
bool SurfacePlacesMinimum(const EvaluatedPoints& evaluated, long long points);
class SimplexRestarts {
 public:
  // first: the best value of the first pass; coarse: its tolerance; step: the
  // restarts' tolerance and the surface's word, in chi-square units.
  SimplexRestarts(long long points, float coarse, float first, double step = kSimplexChiSquareStep);
  // The tolerance of the restarted passes: step / (2 points) relative, never coarser
  // than coarse.
  float Tolerance() const { return tolerance_; }
  static float ToleranceOf(long long points, float coarse, double step);
  // The quadratic surface through the evaluated points is determined and puts the
  // lowest of them within the step of its minimum (kSimplexChiSquareStep unless the
  // restarts were given another).
  bool SurfaceSays(const EvaluatedPoints& evaluated) const;
  // The tolerance of a restarted pass that also ends when SurfaceSays.
  SimplexTolerance PassTolerance(const EvaluatedPoints& evaluated) const;
  // After a restart that ended with the best value `best`: true when it and the
  // restart before lowered the best value by no more than the tolerance (relative).
  bool Settled(float best);
  // The limit of restarts was reached without settling.
  bool Exhausted() const { return restarts_ >= kSimplexRestartLimit; }

 private:
  long long points_;
  double step_;
  float tolerance_;
  float best_;
  int restarts_ = 0;
  int unchanged_ = 0;  // restarts in a row that did not lower the best value
};

// The proposals of the quadratic surface through the evaluated points
// (EvaluatedPoints::Proposal) to the passes of a search: the surface's minimum is
// evaluated as soon as the points determine one, again after each simplex step while
// its minima keep lowering the best value, and after n + 1 steps of the simplex when
// one did not (the points the simplex adds correct the surface). Far from the minimum
// a proposal goes as far as the surface reaches; near it, it is a Newton step on the
// averaged surface that the simplex alone takes many evaluations to match. Once the
// surface is determined, a design point (EvaluatedPoints::Design) comes first on
// each side of its minimum that no point brackets (MissingDesign), at most
// kBracketingLimit per entry; before, while 3 (n+1)(n+2)/2 points and more show no
// positive curvature, one round out from the lowest. A proposal without a result is
// not proposed again (each kind waits or counts on).
class SurfaceProposals {
 public:
  // The most design points about a determined surface's minimum, per entry.
  static constexpr int kBracketingLimit = 4;
  SurfaceProposals(const EvaluatedPoints& evaluated, long long points)
      : evaluated_(evaluated), points_(points) {}
  bool operator()(float* p);
  SimplexProposal AsProposal() { return [this](float* p) { return (*this)(p); }; }

 private:
  const EvaluatedPoints& evaluated_;
  long long points_;
  int next_ = 0;         // the count of evaluated points at which the next may be made
  int proposedAt_ = -1;  // the count when the last proposal was made (-1: none yet)
  int design_ = 0;       // design points proposed out from points without curvature
  int bracketing_ = 0;   // design points proposed about a determined surface's minimum
  float lowestBefore_ = 0.0f;
};

// The extent of the simplex in each entry: max over the vertices j of
// |p[j][i] - p[keep][i]|, one-based ([0] unused). Taken from a pass's final
// simplex before the restart's fresh vertices replace it.
std::vector<float> SimplexExtent(const SimplexSet& s, int keep);

// Pulls the fresh restart vertices (all but keep) towards vertex keep, entry by
// entry, so that none lies farther from it than kSimplexRestartReach times
// extent[i] (from SimplexExtent of the pass before), keeping at least
// kSimplexRestartLeast of each offset. Each vertex moves along the line to keep,
// so a vertex within bounds that keep also satisfies stays within them.
void RestartNear(SimplexSet& s, int keep, const std::vector<float>& extent);

// The state of this module in an analysis (numerics/analysis.h).
struct SimplexState {
  // The seed of ran1 for the annealing fluctuations.
  int nAnnealSeed = -3;
};
// The current analysis' SimplexState.
inline SimplexState& Simplex() { return CurrentPart<SimplexState>(); }

// Simplex with fluctuations at temperature T: stored values are raised and trial
// values lowered by -tt ln(u), u uniform in (0, 1), tt = -T yb fixed at entry, so T
// is a relative increase of the best value yb. pb[1..n] and yb hold the best point
// ever evaluated and are updated. iter is the evaluation budget (2 per iteration
// plus n per shrink, 1 returned when only a reflection was tried); the search ends
// when it is spent (iter < 0), at the tolerance, or on interrupt. On the tolerance
// or budget exit vertex 1 holds the vertex ranked lowest. Returns true unless
// interrupted.
bool amebsa(SimplexSet& s, float T, std::vector<float>& pb, float& yb, float ftol,
            const SimplexObjective& funk, int& iter, const SimplexProgress& progress = {});

// Trial of amebsa: as amotry, but a trial better than yb becomes the best point,
// and the trial is ranked by its fluctuated value ytry - tt ln(u) (lowered, as
// tt < 0), which replaces yhi when the trial is accepted. Returns that value.
float amotsa(SimplexSet& s, std::vector<float>& psum, std::vector<float>& pb, float& yb,
             const SimplexObjective& funk, int ihi, float& yhi, float fac, float tt);

// Temperature of annealing step k (0-based) of nTemps: T0 (1 - k / (nTemps - 1))^2,
// so the last step runs at 0; a single step runs at T0.
float AnnealTemperature(int k, int nTemps, float T0);

}  // namespace tarmic
