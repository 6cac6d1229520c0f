#include "lamm/amount_balance.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "lamm/element_integrals.h"

namespace tarmic {

bool AmountBalanceHolds(const ProfileAmount& now, const ProfileAmount& loaded, bool closedCell,
                        double tolerance) {
  const double scale = loaded.Absolute();
  if (!(scale > 0) || !std::isfinite(scale)) return true;
  if (!std::isfinite(now.net) || !std::isfinite(now.negative)) return false;
  const double limit = tolerance * scale;
  if (now.negative - loaded.negative > kNegativeAmountTolerance * scale) return false;
  if (closedCell) return std::fabs(now.net - loaded.net) <= limit;
  return now.Positive() - loaded.Positive() <= limit;
}

int BalanceRefinedGridSize(int n, int k) {
  if (k <= 0) return n;
  long long refined = n;
  for (int i = 0; i < k; ++i) refined *= kBalanceRefinementFactor;
  return static_cast<int>(std::max<long long>(n, std::min<long long>(refined, kMostRefinedGridNodes)));
}

const char* AmountBalanceMessage(double s) {
  static_assert(kAmountBalanceTolerance == 0.05 && kNegativeAmountTolerance == 0.01,
                "the messages name the tolerances");
  if (s < 0) {
    return "The Lamm equation solution was not used: the material in the cell lost its "
           "balance with the loading (its amount strayed by more than 5 % from the amount "
           "loaded, or negative concentrations holding more than 1 % of it appeared). A floating species does this when it piles up "
           "at the meniscus in a layer far thinner than the grid spacing, which the "
           "finite-element grid cannot resolve (a large |s| with a small D). In \"Numerical "
           "Control of Lamm Equation Solution\" try more grid points or the other "
           "finite-element algorithm; a species that hardly diffuses can be modelled with "
           "D = 0.";
  }
  return "The Lamm equation solution was not used: the material in the cell lost its balance "
         "with the loading (its amount strayed by more than 5 % from the amount loaded, or "
         "negative concentrations holding more than 1 % of it appeared). A sedimenting species does this when it piles up at the cell "
         "bottom in a layer far thinner than the grid spacing, which the finite-element grid "
         "cannot resolve (a large s with a small D). In \"Numerical Control of Lamm Equation "
         "Solution\" try \"shut off back-diffusion\", more grid points or the other "
         "finite-element algorithm; a species that hardly diffuses can be modelled with D = 0.";
}

std::string RefinedGridsNote(int finestNodes) {
  return " It was solved again on finer grids, up to " + std::to_string(finestNodes) +
         " nodes, with the same end.";
}

ProfileAmount WeightedProfileAmount(const double* w, const double* c, int N) {
  // Four independent pairs of sums: the loop runs at the processor's throughput
  // instead of waiting for each addition (every recorded scan of every solution
  // takes this sum; one chain of additions cost several per cent of a solution).
  double net[4] = {0, 0, 0, 0}, below[4] = {0, 0, 0, 0};
  int i = 1;
  for (; i + 3 <= N; i += 4) {
    for (int k = 0; k < 4; ++k) {
      const double v = w[i + k] * c[i + k];
      net[k] += v;
      below[k] += std::min(v, 0.0);
    }
  }
  for (; i <= N; ++i) {
    const double v = w[i] * c[i];
    net[0] += v;
    below[0] += std::min(v, 0.0);
  }
  return {(net[0] + net[1]) + (net[2] + net[3]), -((below[0] + below[1]) + (below[2] + below[3]))};
}

ProfileAmount NodeProfileAmount(const double* r, const double* c, int N) {
  if (N < 2) return {};
  std::vector<double> w(static_cast<std::size_t>(N) + 1, 0.0);
  for (int i = 1; i <= N; ++i) w[i] = static_cast<double>(IntegrateNodeWeight(r, N, i, N));
  return WeightedProfileAmount(w.data(), c, N);
}

}  // namespace tarmic
