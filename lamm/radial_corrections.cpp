#include "lamm/radial_corrections.h"
#include "numerics/hydrodynamics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "numerics/interpolation.h"

namespace tarmic {

double MagnificationDriftFactor(double rate, double t, bool exponential) {
  return exponential ? std::exp(rate * t) : 1 + rate * t;
}

void ApplyMagnificationFactors(int n, const float* r, float* c, double meniscus, double gradient,
                               double drift) {
  for (int i = 1; i <= n; ++i) c[i] = static_cast<float>(MagnifiedValue(c[i], r[i], meniscus, gradient, drift));
}

namespace {

// Share of the excitation that reaches a point d above the bottom (cone radius w > 0):
// 1 more than w above it, 0 from w below it on, in between 1 - (2 w^2 theta - d w
// sin theta) / (2 pi w^2) with theta = acos(d / w).
float ShadowFactor(float d, float w) {
  if (d > w) return 1.0f;
  if (d <= -w) return 0.0f;
  // The part of the excitation cone cut off by the bottom.
  const float theta = std::acos(d / w);
  return 1 - (2 * w * w * theta - d * w * std::sin(theta)) / (2 * kPi * w * w);
}

}  // namespace

void ApplyExcitationShadow(int n, const float* r, float* c, float w, float bottom) {
  if (!(w > 0)) return;
  for (int i = 1; i <= n; ++i) {
    const float f = ShadowFactor(bottom - r[i], w);
    if (f == 0.0f) {
      c[i] = 0.0f;
    } else if (f != 1.0f) {
      c[i] *= f;
    }
  }
}

void ApplyPointCorrections(int n, const float* r, float* c, const FluorescenceCorrections& f,
                           double t, float meniscus, float bottom) {
  if (f.gradient || f.drift)
    ApplyMagnificationFactors(n, r, c, meniscus, f.gradient ? f.gradientPerCm : 0.0,
                              f.drift ? MagnificationDriftFactor(f.driftPerSecond, t, f.exponentialDrift)
                                      : 1.0);
  if (f.shadow) ApplyExcitationShadow(n, r, c, f.coneRadius, bottom);
}

// ---- Profiles over the whole cell -----------------------------------------------------

namespace {

bool FluorescenceBlurs(const FluorescenceCorrections& f) {
  return f.convolution && f.width > 0 && f.distFactor > 0;
}

bool ResolutionBlurs(const CellOptics& o) { return o.resolution && o.resolutionRange > 0; }

// Value of the piecewise linear profile at x (the end values beyond its range).
double LinearAt(int n, const double* r, const double* v, double x) {
  if (x <= r[1]) return v[1];
  if (x >= r[n]) return v[n];
  const int k = static_cast<int>(std::upper_bound(r + 1, r + n + 1, x) - r) - 1;
  const double h = r[k + 1] - r[k];
  return h > 0 ? v[k] + (x - r[k]) * (v[k + 1] - v[k]) / h : v[k + 1];
}

// Absorbance values from which on the resolution leaves a value as it is.
constexpr double kOpaque = 100.0;

}  // namespace

bool CellOptics::Blurs() const { return ResolutionBlurs(*this) || FluorescenceBlurs(fluorescence); }

double GaussianMeanAt(int n, const double* r, const double* v, double x, double w, double reach,
                      double lo, double hi) {
  if (n < 1) return 0.0;
  const double p = std::max({lo, x - reach, r[1]}), q = std::min({hi, x + reach, r[n]});
  if (!(w > 0) || n < 2 || !(q > p)) return LinearAt(n, r, v, x);
  // On a piece v = alpha + beta (r - x): integral of K is w sqrt(pi)/2 [erf(u)], of
  // (r - x) K is -w^2/2 [exp(-u^2)], u = (r - x) / w.
  const double c0 = w * std::sqrt(kPi) / 2, c1 = w * w / 2;
  int k = static_cast<int>(std::upper_bound(r + 1, r + n + 1, p) - r) - 1;
  k = std::clamp(k, 1, n - 1);
  double num = 0.0, den = 0.0;
  double a = p, ua = (p - x) / w, ea = std::erf(ua), ga = std::exp(-ua * ua);
  for (; k < n && a < q; ++k) {
    const double h = r[k + 1] - r[k];
    const double b = std::min(r[k + 1], q);
    if (!(h > 0) || !(b > a)) continue;
    const double beta = (v[k + 1] - v[k]) / h;
    const double alpha = v[k] + beta * (x - r[k]);
    const double ub = (b - x) / w, eb = std::erf(ub), gb = std::exp(-ub * ub);
    const double I0 = c0 * (eb - ea), I1 = c1 * (ga - gb);
    num += alpha * I0 + beta * I1;
    den += I0;
    a = b;
    ea = eb;
    ga = gb;
  }
  return den > 0 ? num / den : LinearAt(n, r, v, x);
}

bool RecordCellProfile(int n, const double* r, const double* v, const CellOptics& o, double t,
                       int m, const float* x, float* y) {
  const FluorescenceCorrections& f = o.fluorescence;
  const float meniscus = static_cast<float>(o.meniscus), bottom = static_cast<float>(o.bottom);
  if (!o.Blurs()) {
    if (!InterpolateCurveFromDouble(m, x, y, n, r, v)) return false;
    ApplyPointCorrections(m, x, y, f, t, meniscus, bottom);
    return true;
  }
  if (n < 2 || m < 1) return false;
  // The pointwise corrections on the computed profile, then the blurs over the cell.
  // The excitation shadow falls from its onset one cone radius R above the bottom
  // as the square root of the distance: the profile gets points graded towards the
  // onset (at R (k/100)^2 beyond it) down to the bottom, so that the blur sees the
  // shadow as it is whatever the solver's grid.
  std::vector<double> fineR, fineV;
  if (f.shadow && f.coneRadius > 0) {
    const double R = f.coneRadius, from = o.bottom - R;
    fineR.push_back(0.0);
    fineV.push_back(0.0);
    int k = 0;
    for (int i = 1; i <= n; ++i) {
      for (; k <= 100; ++k) {
        const double x = from + R * (k / 100.0) * (k / 100.0);
        if (x >= r[i]) break;
        if (x > r[1]) {
          fineR.push_back(x);
          fineV.push_back(LinearAt(n, r, v, x));
        }
      }
      fineR.push_back(r[i]);
      fineV.push_back(v[i]);
    }
    n = static_cast<int>(fineR.size()) - 1;
    r = fineR.data();
    v = fineV.data();
  }
  std::vector<double> c(v, v + n + 1);
  const double drift = f.drift ? MagnificationDriftFactor(f.driftPerSecond, t, f.exponentialDrift) : 1.0;
  const double gradient = f.gradient ? f.gradientPerCm : 0.0;
  for (int i = 1; i <= n; ++i) {
    if (f.gradient || f.drift) c[i] = MagnifiedValue(c[i], r[i], o.meniscus, gradient, drift);
    if (f.shadow && f.coneRadius > 0)
      c[i] *= ShadowFactor(static_cast<float>(o.bottom - r[i]), f.coneRadius);
  }
  const bool resolution = ResolutionBlurs(o), convolution = FluorescenceBlurs(f);
  const double wr = kResolutionWidthPerRange * o.resolutionRange;
  const double wf = f.width, reachF = double(f.width) * f.distFactor;
  // Finite radial resolution: the transmitted light is averaged.
  auto resolve = [&](const std::vector<double>& T, const std::vector<double>& A, double at) {
    const double a = LinearAt(n, r, A.data(), at);
    if (a >= kOpaque) return a;
    const double mean = GaussianMeanAt(n, r, T.data(), at, wr, 2 * wr, o.meniscus, o.bottom);
    return mean > 0 ? -std::log10(mean) : a;
  };
  std::vector<double> T;
  if (resolution) {
    T.assign(c.size(), 0.0);
    for (int i = 1; i <= n; ++i) T[i] = c[i] < kOpaque ? std::pow(10.0, -c[i]) : 0.0;
  }
  if (resolution && convolution) {
    // Both: the resolved profile on the grid, then the convolution at the radii.
    std::vector<double> resolved(c.size());
    for (int i = 1; i <= n; ++i) resolved[i] = resolve(T, c, r[i]);
    c.swap(resolved);
  }
  for (int j = 1; j <= m; ++j) {
    const double at = x[j];
    double value;
    if (convolution) {
      value = GaussianMeanAt(n, r, c.data(), at, wf, reachF, o.meniscus, o.bottom);
    } else {
      value = resolve(T, c, at);
    }
    y[j] = static_cast<float>(value);
  }
  return true;
}

std::vector<double> CellSamplingRadii(const CellOptics& o) {
  const double length = o.bottom - o.meniscus;
  if (!(length > 0)) return {};
  double h = 0.001;
  if (ResolutionBlurs(o)) h = std::min(h, 0.1 * kResolutionWidthPerRange * o.resolutionRange);
  if (FluorescenceBlurs(o.fluorescence)) h = std::min(h, 0.1 * double(o.fluorescence.width));
  h = std::max(h, length / 100000);  // a bound on the work for a vanishing width
  const int k = static_cast<int>(std::ceil(length / h)) + 1;
  std::vector<double> r(static_cast<std::size_t>(k) + 1, 0.0);
  for (int i = 1; i <= k; ++i) r[static_cast<std::size_t>(i)] = o.meniscus + length * (i - 1) / (k - 1);
  return r;
}

bool RecordClosedFormProfile(const ProfileFill& fill, const CellOptics& o, double t, int m,
                             const float* x, float* y) {
  if (!o.Blurs()) {
    fill(m, x, y);
    ApplyPointCorrections(m, x, y, o.fluorescence, t, static_cast<float>(o.meniscus),
                          static_cast<float>(o.bottom));
    return true;
  }
  const std::vector<double> grid = CellSamplingRadii(o);
  const int k = static_cast<int>(grid.size()) - 1;
  if (k < 2) return false;
  std::vector<float> rf(grid.size()), vf(grid.size());
  for (int i = 1; i <= k; ++i) rf[i] = static_cast<float>(grid[i]);
  fill(k, rf.data(), vf.data());
  auto at = [&](float x0) {
    float in[2] = {0.0f, x0}, out[2] = {0.0f, 0.0f};
    fill(1, in, out);
    return out[1];
  };
  std::vector<double> r{0.0}, c{0.0};
  for (int i = 1; i <= k; ++i) {
    if (i > 1 && (vf[i] == 0.0f) != (vf[i - 1] == 0.0f)) {
      // An edge between points i-1 and i.
      float a = rf[i - 1], b = rf[i];
      const bool leftEmpty = vf[i - 1] == 0.0f;
      for (int n = 0; n < 40; ++n) {
        const float mid = 0.5f * (a + b);
        if (mid <= a || mid >= b) break;
        ((at(mid) == 0.0f) == leftEmpty ? a : b) = mid;
      }
      r.push_back(b);
      c.push_back(leftEmpty ? 0.0 : at(a));
      r.push_back(b);
      c.push_back(at(b));
    }
    r.push_back(rf[i]);
    c.push_back(vf[i]);
  }
  return RecordCellProfile(static_cast<int>(r.size()) - 1, r.data(), c.data(), o, t, m, x, y);
}

}  // namespace tarmic
