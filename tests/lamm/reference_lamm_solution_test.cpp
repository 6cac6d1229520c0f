// The independent finite-volume Lamm solution used to make test data, checked
// against closed forms: conservation, the sedimentation-equilibrium exponential and
// the radial dilution of the plateau, for sedimenting and floating species.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "tests/support/reference_lamm_solution.h"

namespace tarmic {
namespace {

using testing::ReferenceLammProblem;
using testing::ReferenceLammSolution;

double Sw2(const ReferenceLammProblem& p) {
  const double omega = p.rpm * 2 * M_PI / 60;
  return p.s_svedberg * 1e-13 * omega * omega;
}

TEST(ReferenceLammSolution, MatchesClosedFormsForSedimentingAndFloatingSpecies) {
  for (double s : {4.0, -4.0}) {
    SCOPED_TRACE(s);
    // The amount loaded, loading (b^2 - m^2) / 2, stays in the closed cell.
    ReferenceLammProblem p;
    p.s_svedberg = s;
    p.loading = 0.6;
    ReferenceLammSolution a(p);
    const double loaded = p.loading * 0.5 * (p.bottom_cm * p.bottom_cm - p.meniscus_cm * p.meniscus_cm);
    for (double t : {100.0, 1000.0, 2000.0}) {
      a.advance_to(t);
      EXPECT_NEAR(a.amount() / loaded, 1.0, 1e-12) << t;
      // Far from both ends the plateau dilutes (or, floating, concentrates) as
      // exp(-2 s w^2 t), whichever way the boundary moves.
      EXPECT_NEAR(a.at(6.5) / p.loading, std::exp(-2 * Sw2(p) * t), 2e-5) << t;
    }
    // Sedimenting material has left the meniscus and piles up at the bottom;
    // floating material does the mirror image.
    const double near_m = a.at(6.005), near_b = a.at(7.195);
    EXPECT_LT(s > 0 ? near_m : near_b, 1e-3);
    EXPECT_GT(s > 0 ? near_b : near_m, 2 * p.loading);

    // Long after the start the cell is in sedimentation equilibrium,
    // c(r) proportional to exp(sigma r^2) with sigma = s w^2 / (2 D), holding the
    // loaded amount. A short column reaches it in a few hours.
    ReferenceLammProblem q;
    q.meniscus_cm = 6.8;
    q.bottom_cm = 7.2;
    q.s_svedberg = s / 2;
    q.d_cm2_per_s = 5e-6;
    q.rpm = 50000;
    q.cells = 800;
    q.max_time_step_s = 20;
    const double sigma = Sw2(q) / (2 * q.d_cm2_per_s);
    const double m2 = q.meniscus_cm * q.meniscus_cm, b2 = q.bottom_cm * q.bottom_cm;
    const double norm = 0.5 * (b2 - m2) * 2 * sigma / (std::exp(sigma * b2) - std::exp(sigma * m2));
    std::vector<double> radii;
    for (double r = 6.8; r <= 7.2 + 1e-9; r += 0.05) radii.push_back(r);
    const auto c = ReferenceLammSolution::scans(q, {2e5}, radii);
    double low = 1e9, high = 0;
    for (std::size_t i = 0; i < radii.size(); ++i) {
      const double expected = norm * std::exp(sigma * radii[i] * radii[i]);
      EXPECT_NEAR(c[0][i] / expected, 1.0, 1e-5) << radii[i];
      low = std::min(low, c[0][i]);
      high = std::max(high, c[0][i]);
    }
    EXPECT_GT(high / low, 5.0);  // a steep gradient, not a flat profile
  }
}

// With s(c) = s / (1 + ks c) and D(c) = D (1 + kd c) the amount stays, and the
// plateau, uniform in r, follows dc/dt = -2 s(c) w^2 c, whose solution is
// ln c + ks c = ln c0 + ks c0 - 2 s w^2 t. A boundary sharpened by ks is steeper
// than the ideal one of the same s and D.
TEST(ReferenceLammSolution, ConcentrationDependentCoefficientsKeepAmountAndPlateau) {
  ReferenceLammProblem p;
  p.s_svedberg = 6.0;
  p.d_cm2_per_s = 4e-7;
  p.rpm = 50000;
  p.loading = 1.0;
  p.ks = 0.5;
  p.kd = 0.3;
  p.cells = 2000;
  ReferenceLammProblem ideal = p;
  ideal.ks = ideal.kd = 0.0;
  ReferenceLammSolution a(p), b(ideal);
  const double loaded = 0.5 * (p.bottom_cm * p.bottom_cm - p.meniscus_cm * p.meniscus_cm);
  for (double t : {600.0, 1500.0}) {
    a.advance_to(t);
    b.advance_to(t);
    EXPECT_NEAR(a.amount() / loaded, 1.0, 1e-12) << t;
    const double c = a.at(7.0), k = std::log(p.loading) + p.ks * p.loading - 2 * Sw2(p) * t;
    EXPECT_NEAR(std::log(c) + p.ks * c, k, 1e-5) << t;
  }
  // The width of the boundary: from 20 % to 80 % of the plateau of each.
  auto width = [](const ReferenceLammSolution& x, double plateau) {
    double r20 = 0, r80 = 0;
    for (double r = 6.0; r < 7.0; r += 1e-4) {
      if (r20 == 0 && x.at(r) > 0.2 * plateau) r20 = r;
      if (r80 == 0 && x.at(r) > 0.8 * plateau) r80 = r;
    }
    return r80 - r20;
  };
  EXPECT_LT(width(a, a.at(7.0)), 0.8 * width(b, b.at(7.0)));
}

}  // namespace
}  // namespace tarmic
