#include "lamm/radial_corrections.h"
#include "numerics/hydrodynamics.h"

#include <cmath>
#include <vector>

namespace tarmic {

double MagnificationDriftFactor(double rate, double t, bool exponential) {
  return exponential ? std::exp(rate * t) : 1 + rate * t;
}

void ApplyMagnificationFactors(int n, const float* r, float* c, double meniscus, double gradient,
                               double drift) {
  for (int i = 1; i <= n; ++i)
    c[i] = static_cast<float>(c[i] * (1 + (r[i] - meniscus) * gradient) * drift);
}

void ConvolveRadialSignal(int n, const float* r, float* c, float w, float distFactor,
                          float meniscus, float bottom) {
  if (n < 2 || !(w > 0)) return;
  const float h = (r[n] - r[1]) / static_cast<float>(n - 1);  // mean spacing
  const float reach = distFactor * w;
  // Radius of point j, continued with the mean spacing beyond both ends.
  auto radius = [&](int j) {
    if (j > n) return r[n] + static_cast<float>(j - n) * h;
    if (j < 1) return r[n] - static_cast<float>(n - j) * h;
    return r[j];
  };
  std::vector<float> out(n + 1);
  for (int i = 1; i <= n; ++i) {
    const float x0 = r[i];
    float S = c[i], W = 1.0f;
    for (int dir : {1, -1}) {
      for (int j = i + dir;; j += dir) {
        const float x = radius(j);
        const float g = std::exp(-(x - x0) * (x - x0) / (w * w));
        W += g;
        if (j >= 1 && j <= n && x >= meniscus && x <= bottom) S += g * c[j];
        if (dir > 0 ? x >= x0 + reach : x <= x0 - reach) break;
      }
    }
    out[i] = S / W;
  }
  for (int i = 1; i <= n; ++i) c[i] = out[i];
}

void ApplyExcitationShadow(int n, const float* r, float* c, float w, float bottom) {
  if (!(w > 0)) return;
  for (int i = 1; i <= n; ++i) {
    const float d = bottom - r[i];
    if (d > w) continue;
    if (d <= -w) {
      c[i] = 0.0f;
      continue;
    }
    // The part of the excitation cone cut off by the bottom.
    const float theta = std::acos(d / w);
    c[i] *= 1 - (2 * w * w * theta - d * w * std::sin(theta)) / (2 * kPi * w * w);
  }
}

void SimulateRadialResolution(int n, float width, const float* r, float* c) {
  std::vector<float> out(n + 1);
  const float half = width / 2;
  for (int i = 1; i <= n; ++i) {
    // Transmitted light 10^-A averaged over the window.
    double T = 0.0;
    int k = 0;
    for (int j = i; j >= 1 && r[j] >= r[i] - half; --j, ++k) T += std::pow(10.0, -c[j]);
    for (int j = i + 1; j <= n && r[j] <= r[i] + half; ++j, ++k) T += std::pow(10.0, -c[j]);
    out[i] = k > 0 && T / k > 0 ? static_cast<float>(-std::log10(T / k)) : 0.0f;
  }
  for (int i = 1; i <= n; ++i) c[i] = out[i];
}

void ApplyFluorescenceCorrections(int n, const float* r, float* c, const FluorescenceCorrections& f,
                                  double t, float meniscus, float bottom) {
  if (f.gradient || f.drift)
    ApplyMagnificationFactors(n, r, c, meniscus, f.gradient ? f.gradientPerCm : 0.0,
                              f.drift ? MagnificationDriftFactor(f.driftPerSecond, t, f.exponentialDrift)
                                      : 1.0);
  if (f.shadow) ApplyExcitationShadow(n, r, c, f.coneRadius, bottom);
  if (f.convolution) ConvolveRadialSignal(n, r, c, f.width, f.distFactor, meniscus, bottom);
}

}  // namespace tarmic
