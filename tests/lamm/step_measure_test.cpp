// The one-pass measure of a static-grid step against the separate passes it
// replaces: the finite check, the window maximum and StaticGridRelativeChange with
// the floor from that maximum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "lamm/static_grid_core.h"

namespace tarmic {
namespace {

struct Reference {
  bool finite = true, negative = false;
  double windowMax = 0.0, change = 0.0;
};

Reference Separate(const std::vector<double>& c, const std::vector<double>& old, int first, int last,
                   double cmaxAtLeast, double negLevel, bool testNegative) {
  Reference r;
  for (int i = first; i <= last; ++i) {
    r.finite = r.finite && std::isfinite(c[i]) && std::fabs(c[i]) <= 1e100;
    r.windowMax = std::max(r.windowMax, c[i]);
  }
  if (r.finite) {
    r.change = StaticGridRelativeChange(c.data(), old.data(), first, last,
                                        std::max(r.windowMax, cmaxAtLeast), negLevel, testNegative,
                                        &r.negative);
  }
  return r;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Boundaries with a foot near the floor, steps that move them, noise, nodes put on
// and beside the floor of the guess and of the step, negative undershoots and
// non-finite values; the floor guessed exactly, slightly off and far off.
TEST(StaticGridStepMeasure, OnePassGivesTheValuesOfTheSeparatePasses) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int remeasured = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const int N = 5 + static_cast<int>(unit(rng) * 300);
    std::vector<double> old(N + 2, 0.0), c(N + 2, 0.0);
    const double centre = unit(rng) * N, width = 1.0 + unit(rng) * 20.0;
    const double height = trial % 5 == 0 ? 1.0 : 0.1 + unit(rng) * 5.0;
    const double shift = (unit(rng) - 0.3) * 2.0, noise = trial % 3 == 0 ? 0.0 : 1e-3 * unit(rng);
    for (int i = 1; i <= N; ++i) {
      old[i] = height / (1.0 + std::exp(-(i - centre) / width));
      c[i] = height / (1.0 + std::exp(-(i - centre - shift) / width)) + noise * (unit(rng) - 0.5);
    }
    const int first = 1 + static_cast<int>(unit(rng) * (N / 3));
    const int last = std::max(first, N - static_cast<int>(unit(rng) * (N / 3)));
    double trueMax = 0.0;
    for (int i = first; i <= last; ++i) trueMax = std::max(trueMax, c[i]);
    const double cmaxAtLeast = trial % 4 == 0 ? 0.0 : height * unit(rng) * 1.5;
    const double trueFloor = 1e-4 * std::max(trueMax, cmaxAtLeast);
    const double guess = trial % 4 == 1   ? trueFloor * (1.0 + 1e-9 * (unit(rng) - 0.5))
                         : trial % 4 == 2 ? trueFloor * (0.5 + unit(rng))
                         : trial % 4 == 3 ? 1e-4 * height * unit(rng)
                                          : trueFloor;
    // Values on, just above and just below the floors.
    for (int k = 0; k < 3; ++k) {
      const int i = first + static_cast<int>(unit(rng) * (last - first + 1));
      const double at = k == 0 ? trueFloor : guess;
      old[i] = k == 2 ? std::nextafter(at, 0.0) : at;
      if (k == 1) c[i] = old[i] + std::nextafter(at, 1.0);
    }
    if (trial % 7 == 0) c[first + (last - first) / 2] = -1e-3 * height;
    if (trial % 53 == 0) c[last] = std::numeric_limits<double>::quiet_NaN();
    if (trial % 59 == 0) c[first] = std::numeric_limits<double>::infinity();
    if (trial % 61 == 0) c[(first + last) / 2] = -1e101;
    const bool testNegative = trial % 2 == 0;
    const double negLevel = 1e-5 * height;
    const Reference want = Separate(c, old, first, last, cmaxAtLeast, negLevel, testNegative);
    const StaticGridStepMeasure got =
        MeasureStaticGridStep(c.data(), old.data(), first, last, cmaxAtLeast, guess, negLevel,
                              testNegative);
    ASSERT_EQ(got.finite, want.finite) << "trial " << trial;
    if (!want.finite) continue;
    ASSERT_TRUE(SameBits(got.windowMax, want.windowMax)) << "trial " << trial;
    ASSERT_TRUE(SameBits(got.change, want.change))
        << "trial " << trial << ": " << got.change << " vs " << want.change;
    ASSERT_EQ(got.negative, want.negative) << "trial " << trial;
    remeasured += guess != trueFloor;
  }
  EXPECT_GT(remeasured, 100);  // the guesses that were off were covered
}

}  // namespace
}  // namespace tarmic
