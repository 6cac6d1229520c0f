// Fits of data made by the independent reference solution (reference_lamm_solution.h)
// on the scans loaded in the program: the reference scans of one species at the
// loaded scans' times and radii, the data as those plus white noise, and the
// standard errors of fitted values from the derivatives of the program's model, for
// judging a fit in standard errors (SE) of its own noise. Shared by the tests and
// the benchmarks (bench/); uses only the program's own interfaces.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "modelcalc/fit_grid_check.h"
#include "modelcalc/model_computation.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "tests/support/reference_lamm_solution.h"

namespace tarmic::testing {

// The reference solution of problem p (its cells and steps as given) at the times
// and radii of the loaded scans (all on the radii of scan 1), [scan][radius].
inline std::vector<std::vector<double>> ReferenceScansOfLoadedSet(const ReferenceLammProblem& p) {
  std::vector<double> times, radii;
  for (int j = 1; j <= DataSet().nScans; ++j) times.push_back(DataSet().pScanInfo[static_cast<std::size_t>(j)].time);
  for (int i = 1; i <= DataSet().pnPoints[1]; ++i) radii.push_back(DataSet().ppRadius[1][i]);
  return ReferenceLammSolution::scans(p, times, radii);
}

// The loaded scans hold truth plus white noise of deviation noise (seed).
inline void SetLoadedSetToTruthAndNoise(const std::vector<std::vector<double>>& truth, double noise, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  for (int j = 1; j <= DataSet().nScans; ++j) {
    const auto& row = truth[static_cast<std::size_t>(j - 1)];
    for (int i = 1; i <= DataSet().pnPoints[static_cast<std::size_t>(j)]; ++i)
      DataSet().ppSignal[static_cast<std::size_t>(j)][i] =
          static_cast<float>(row[static_cast<std::size_t>(i - 1)] + noise * gauss(random));
    FillGridSignalRow(j);
  }
  CalculateAverageScan();
}

// The standard errors of values x (set(x) applies them) fitted to data of white
// noise of deviation noise: noise sqrt(diag((J'J)^-1)), J the central differences
// (steps h) of the model at the fit points, computed at x. Empty when a model
// cannot be computed or J'J is singular.
inline std::vector<double> JacobianStandardErrors(const std::function<void(const std::vector<double>&)>& set,
                                                  const std::vector<double>& x, const std::vector<double>& h,
                                                  double noise) {
  const std::size_t n = x.size();
  std::vector<std::vector<double>> J(n);
  for (std::size_t k = 0; k < n; ++k) {
    std::vector<double> up, down;
    for (int sign : {1, -1}) {
      std::vector<double> y = x;
      y[k] += sign * h[k];
      set(y);
      if (!CalculateModel(nullptr).ok()) return {};
      (sign > 0 ? up : down) = ModelAtFitPoints();
    }
    for (std::size_t i = 0; i < up.size(); ++i) J[k].push_back((up[i] - down[i]) / (2 * h[k]));
  }
  set(x);
  // [J'J | I] reduced to [I | (J'J)^-1] by Gauss-Jordan with partial pivoting.
  std::vector<std::vector<double>> a(n, std::vector<double>(2 * n, 0.0));
  for (std::size_t i = 0; i < n; ++i) {
    a[i][n + i] = 1.0;
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t p = 0; p < J[0].size(); ++p) a[i][j] += J[i][p] * J[j][p];
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < n; ++r)
      if (std::fabs(a[r][c]) > std::fabs(a[pivot][c])) pivot = r;
    if (!(std::fabs(a[pivot][c]) > 0.0)) return {};
    std::swap(a[c], a[pivot]);
    const double d = a[c][c];
    for (double& v : a[c]) v /= d;
    for (std::size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const double f = a[r][c];
      for (std::size_t k = 0; k < 2 * n; ++k) a[r][k] -= f * a[c][k];
    }
  }
  std::vector<double> se(n);
  for (std::size_t k = 0; k < n; ++k) se[k] = noise * std::sqrt(std::max(a[k][n + k], 0.0));
  return se;
}

}  // namespace tarmic::testing
