#include "modelcalc/trial_point_guard.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace tarmic {

TrialPointGuard::TrialPointGuard(std::vector<float> start) : limit_(std::move(start)) {
  for (float& v : limit_) v = kAbsurdTrialFactor * std::max(std::isfinite(v) ? std::fabs(v) : 0.0f, 1.0f);
}

bool TrialPointGuard::Admits(const float* p, int n) const {
  for (int i = 1; i <= n; ++i) {
    const float v = p[i];
    if (!std::isfinite(v)) return false;
    const auto u = static_cast<std::size_t>(i);
    if (u < limit_.size() && std::fabs(v) > limit_[u]) return false;
  }
  return true;
}

}  // namespace tarmic
