#include "modelcalc/simplex.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "modelcalc/fit_state.h"
#include "numerics/random.h"
#include "services/run_switches.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// psum[i] = sum over the vertices of p[j][i].
void ColumnSums(const SimplexSet& s, std::vector<float>& psum) {
  psum.assign(Idx(s.n) + 1, 0.0f);
  for (int i = 1; i <= s.n; ++i) {
    float sum = 0.0f;
    for (int j = 1; j <= s.n + 1; ++j) sum += s.p[Idx(j)][Idx(i)];
    psum[Idx(i)] = sum;
  }
}

// Trial point psum fac1 - p[ihi] fac2 with fac1 = (1 - fac)/n, fac2 = fac1 - fac:
// the reflection of vertex ihi through the centroid of the other n vertices,
// scaled by -fac.
std::vector<float> TrialPoint(const SimplexSet& s, const std::vector<float>& psum, int ihi,
                              float fac) {
  const float fac1 = (1.0f - fac) / static_cast<float>(s.n);
  const float fac2 = fac1 - fac;
  std::vector<float> ptry(Idx(s.n) + 1, 0.0f);
  for (int j = 1; j <= s.n; ++j)
    ptry[Idx(j)] = psum[Idx(j)] * fac1 - s.p[Idx(ihi)][Idx(j)] * fac2;
  return ptry;
}

void AcceptTrial(SimplexSet& s, std::vector<float>& psum, int ihi, const std::vector<float>& ptry) {
  for (int j = 1; j <= s.n; ++j) {
    psum[Idx(j)] += ptry[Idx(j)] - s.p[Idx(ihi)][Idx(j)];
    s.p[Idx(ihi)][Idx(j)] = ptry[Idx(j)];
  }
}

// Moves every vertex but ilo half way towards it and evaluates it.
void ShrinkTowards(SimplexSet& s, std::vector<float>& psum, int ilo, const SimplexObjective& funk) {
  for (int i = 1; i <= s.n + 1; ++i) {
    if (i == ilo) continue;
    for (int j = 1; j <= s.n; ++j)
      s.p[Idx(i)][Idx(j)] = psum[Idx(j)] = 0.5f * (s.p[Idx(i)][Idx(j)] + s.p[Idx(ilo)][Idx(j)]);
    s.y[Idx(i)] = funk(psum.data());
  }
  ColumnSums(s, psum);
}

void SwapIntoFirstRow(SimplexSet& s, int ilo) {
  if (ilo == 1) return;
  std::swap(s.y[1], s.y[Idx(ilo)]);
  std::swap(s.p[1], s.p[Idx(ilo)]);
}

// Relative spread of the lowest and highest value; 0 when both are 0.
double RelativeSpread(double yhi, double ylo) {
  const double denominator = std::fabs(yhi) + std::fabs(ylo);
  return denominator > 0.0 ? 2.0 * std::fabs(yhi - ylo) / denominator : 0.0;
}

// Every vertex agrees with vertex ilo to within kSimplexCollapse, relative (absolute
// where the entry of ilo is 0).
bool Collapsed(const SimplexSet& s, int ilo) {
  for (int i = 1; i <= s.n; ++i) {
    const double ref = s.p[Idx(ilo)][Idx(i)];
    for (int j = 1; j <= s.n + 1; ++j) {
      const double v = s.p[Idx(j)][Idx(i)];
      const double d = ref != 0.0 ? std::fabs((v - ref) / ref) : std::fabs(v);
      if (d > kSimplexCollapse) return false;
    }
  }
  return true;
}

}  // namespace

SimplexSet::SimplexSet(int size)
    : n(size), p(Idx(size) + 2, std::vector<float>(Idx(size) + 1, 0.0f)), y(Idx(size) + 2, 0.0f) {}

int SimplexSet::Lowest() const {
  int lo = 1;
  for (int j = 2; j <= n + 1; ++j)
    if (y[Idx(j)] < y[Idx(lo)]) lo = j;
  return lo;
}

float amotry(SimplexSet& s, std::vector<float>& psum, const SimplexObjective& funk, int ihi,
             float fac) {
  const std::vector<float> ptry = TrialPoint(s, psum, ihi, fac);
  const float ytry = funk(ptry.data());
  if (ytry < s.y[Idx(ihi)]) {
    s.y[Idx(ihi)] = ytry;
    AcceptTrial(s, psum, ihi, ptry);
  }
  return ytry;
}

AmoebaEnd amoeba(SimplexSet& s, float ftol, const SimplexObjective& funk, int& nfunk,
                 const SimplexProgress& progress) {
  return amoeba(s, [ftol] { return ftol; }, funk, nfunk, progress);
}

AmoebaEnd amoeba(SimplexSet& s, const SimplexTolerance& ftol, const SimplexObjective& funk,
                 int& nfunk, const SimplexProgress& progress, const SimplexProposal& propose) {
  ++FitState().nFitIteration;
  FitState().nFitStep = 0;
  nfunk = 0;
  const int n = s.n;
  std::vector<float> psum;
  ColumnSums(s, psum);
  auto& y = s.y;
  while (!FitState().bFitInterrupted) {
    // Rank: lowest, highest and next-highest vertex.
    int ilo = 1, ihi = 1, inhi = 2;
    if (y[1] <= y[2]) {
      ihi = 2;
      inhi = 1;
    }
    for (int i = 1; i <= n + 1; ++i) {
      if (y[Idx(i)] <= y[Idx(ilo)]) ilo = i;
      if (y[Idx(i)] > y[Idx(ihi)]) {
        inhi = ihi;
        ihi = i;
      } else if (y[Idx(i)] > y[Idx(inhi)] && i != ihi) {
        inhi = i;
      }
    }
    if (progress) progress(s.p[Idx(ilo)].data(), y[Idx(ilo)]);
    if (RelativeSpread(y[Idx(ihi)], y[Idx(ilo)]) < ftol()) {
      SwapIntoFirstRow(s, ilo);
      return AmoebaEnd::Converged;
    }
    if (nfunk >= kAmoebaMaxEvaluations) {
      // A series records the code; otherwise the fit's command says so.
      if (bBatchMode) nSeriesErrorCode = 10;
      return AmoebaEnd::EvaluationLimit;
    }
    if (Collapsed(s, ilo)) return AmoebaEnd::Collapsed;
    if (propose) {
      std::vector<float> q(Idx(n) + 1, 0.0f);
      if (propose(q.data())) {
        ++nfunk;
        const float yq = funk(q.data());
        if (yq < y[Idx(ihi)]) {
          y[Idx(ihi)] = yq;
          AcceptTrial(s, psum, ihi, q);
        }
        // The next proposal, if any, before the simplex's own step.
        continue;
      }
    }
    nfunk += 2;
    float ytry = amotry(s, psum, funk, ihi, kSimplexReflect);
    if (ytry <= y[Idx(ilo)]) {
      amotry(s, psum, funk, ihi, kSimplexExpand);
    } else if (ytry >= y[Idx(inhi)]) {
      const float ysave = y[Idx(ihi)];
      ytry = amotry(s, psum, funk, ihi, kSimplexContract);
      if (ytry >= ysave) {
        ShrinkTowards(s, psum, ilo, funk);
        nfunk += n;
      }
    } else {
      --nfunk;
    }
  }
  return AmoebaEnd::Interrupted;
}

float amotsa(SimplexSet& s, std::vector<float>& psum, std::vector<float>& pb, float& yb,
             const SimplexObjective& funk, int ihi, float& yhi, float fac, float tt) {
  const std::vector<float> ptry = TrialPoint(s, psum, ihi, fac);
  const float ytry = funk(ptry.data());
  if (ytry <= yb) {
    for (int j = 1; j <= s.n; ++j) pb[Idx(j)] = ptry[Idx(j)];
    yb = ytry;
  }
  const float yflu = ytry - tt * std::log(ran1(Simplex().nAnnealSeed));
  if (yflu < yhi) {
    s.y[Idx(ihi)] = ytry;
    yhi = yflu;
    AcceptTrial(s, psum, ihi, ptry);
  }
  return yflu;
}

bool amebsa(SimplexSet& s, float T, std::vector<float>& pb, float& yb, float ftol,
            const SimplexObjective& funk, int& iter, const SimplexProgress& progress) {
  FitState().nFitStep = 0;
  const int n = s.n;
  if (pb.size() < Idx(n) + 1) pb.resize(Idx(n) + 1, 0.0f);
  std::vector<float> psum;
  ColumnSums(s, psum);
  // Fluctuation scale: negative, so that y + tt ln(u) raises a stored value.
  const float tt = -T * yb;
  auto& y = s.y;
  int ilo = 1;
  while (true) {
    if (FitState().bFitInterrupted) return false;
    // Rank with a fresh fluctuation for every vertex.
    auto fluctuated = [&](int i) { return y[Idx(i)] + tt * std::log(ran1(Simplex().nAnnealSeed)); };
    ilo = 1;
    int ihi = 2;
    float ylo = fluctuated(1), ynhi = ylo, yhi = fluctuated(2);
    if (ylo > yhi) {
      ihi = 1;
      ilo = 2;
      ynhi = yhi;
      yhi = ylo;
      ylo = ynhi;
    }
    for (int i = 3; i <= n + 1; ++i) {
      const float yt = fluctuated(i);
      if (yt <= ylo) {
        ilo = i;
        ylo = yt;
      }
      if (yt > yhi) {
        ynhi = yhi;
        ihi = i;
        yhi = yt;
      } else if (yt > ynhi) {
        ynhi = yt;
      }
    }
    if (progress) progress(s.p[Idx(ilo)].data(), y[Idx(ilo)]);
    if (RelativeSpread(yhi, ylo) < ftol || iter < 0) break;
    iter -= 2;
    float ytry = amotsa(s, psum, pb, yb, funk, ihi, yhi, kSimplexReflect, tt);
    if (ytry <= ylo) {
      amotsa(s, psum, pb, yb, funk, ihi, yhi, kSimplexExpand, tt);
    } else if (ytry >= ynhi) {
      const float ysave = yhi;
      ytry = amotsa(s, psum, pb, yb, funk, ihi, yhi, kSimplexContract, tt);
      if (ytry >= ysave) {
        ShrinkTowards(s, psum, ilo, funk);
        iter -= n;
      }
    } else {
      ++iter;
    }
  }
  SwapIntoFirstRow(s, ilo);
  return true;
}

float SimplexRestarts::ToleranceOf(long long points, float coarse, double step) {
  const double fine = points > 0 ? step / (2.0 * static_cast<double>(points)) : coarse;
  return static_cast<float>(std::min<double>(coarse, fine));
}

SimplexRestarts::SimplexRestarts(long long points, float coarse, float first, double step)
    : points_(points), step_(step), tolerance_(ToleranceOf(points, coarse, step)), best_(first) {}

bool SurfacePlacesMinimum(const EvaluatedPoints& evaluated, long long points) {
  const SurfaceVerdict surface = evaluated.Surface(points);
  return surface.determined && surface.bracketed && surface.nearestGain <= kSimplexChiSquareStep &&
         surface.spread <= kSurfaceSpread;
}

bool SimplexRestarts::SurfaceSays(const EvaluatedPoints& evaluated) const {
  const SurfaceVerdict surface = evaluated.Surface(points_);
  return surface.determined && surface.gain <= step_;
}

SimplexTolerance SimplexRestarts::PassTolerance(const EvaluatedPoints& evaluated) const {
  return [this, &evaluated] {
    return SurfaceSays(evaluated) ? std::numeric_limits<float>::infinity() : tolerance_;
  };
}

bool SimplexRestarts::Settled(float best) {
  ++restarts_;
  unchanged_ = best < best_ - tolerance_ * std::fabs(best_) ? 0 : unchanged_ + 1;
  if (best < best_) best_ = best;
  return unchanged_ >= 2;
}

bool SurfaceProposals::operator()(float* p) {
  const int count = evaluated_.Count();
  if (proposedAt_ >= 0) {
    // The last proposal lowered the best value: the surface is trusted again at once.
    next_ = evaluated_.LowestValue() < lowestBefore_ ? proposedAt_ + 2 : proposedAt_ + 1 + evaluated_.Size() + 1;
    proposedAt_ = -1;
  }
  const int n = evaluated_.Size(), terms = (n + 1) * (n + 2) / 2;
  // Once the surface is determined, a design point on each side of its minimum that
  // no point brackets (as placed then); before, one round out from points that show
  // no curvature.
  if (evaluated_.Surface(points_).determined) {
    const int k = evaluated_.MissingDesign(points_);
    if (k >= 0 && bracketing_ < kBracketingLimit * n && evaluated_.Design(points_, k, p)) {
      ++bracketing_;
      return true;
    }
  } else if (design_ < 2 * n && count >= 3 * terms && !evaluated_.ShowsCurvature(points_) &&
             evaluated_.Design(points_, design_, p)) {
    ++design_;
    return true;
  }
  if (count < next_ || !evaluated_.Proposal(points_, p)) return false;
  proposedAt_ = count;
  lowestBefore_ = evaluated_.LowestValue();
  return true;
}

std::vector<float> SimplexExtent(const SimplexSet& s, int keep) {
  std::vector<float> extent(Idx(s.n) + 1, 0.0f);
  for (int i = 1; i <= s.n; ++i)
    for (int j = 1; j <= s.n + 1; ++j)
      extent[Idx(i)] = std::max(extent[Idx(i)], std::fabs(s.p[Idx(j)][Idx(i)] - s.p[Idx(keep)][Idx(i)]));
  return extent;
}

void RestartNear(SimplexSet& s, int keep, const std::vector<float>& extent) {
  const std::vector<float>& centre = s.p[Idx(keep)];
  const std::vector<float> spread = SimplexExtent(s, keep);
  for (int i = 1; i <= s.n; ++i) {
    const float fresh = spread[Idx(i)];
    const float reach = kSimplexRestartReach * extent[Idx(i)];
    if (!(fresh > reach)) continue;
    const float factor = std::max(reach / fresh, kSimplexRestartLeast);
    for (int j = 1; j <= s.n + 1; ++j)
      if (j != keep) s.p[Idx(j)][Idx(i)] = centre[Idx(i)] + factor * (s.p[Idx(j)][Idx(i)] - centre[Idx(i)]);
  }
}

float AnnealTemperature(int k, int nTemps, float T0) {
  if (nTemps <= 1) return T0;
  const float x = 1.0f - static_cast<float>(k) / static_cast<float>(nTemps - 1);
  return T0 * x * x;
}

}  // namespace tarmic
