// Tikhonov-Phillips regularisation: the penalty layouts, the target of the
// confidence level, and the search of the regularisation strength.
#include "distributions/regularization.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "distributions/brent_roots.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_hooks.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_storage.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "services/run_switches.h"
#include "numerics/statistics.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// This module's own state in the analysis.
struct LocalState {
  // An NNLS of the current search failed: the search gives up without a result.
bool g_searchFailed = false;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

template <typename T>
std::vector<double> FlooredWeights(const T* weights, int n) {
  std::vector<double> w(static_cast<std::size_t>(n) + 1, 1.0);
  if (!weights) return w;
  double largest = 0.0;
  for (int i = 1; i <= n; ++i) largest = std::max(largest, static_cast<double>(weights[i]));
  if (!(largest > 0.0)) return w;
  const double floor = 1e-6 * largest;
  for (int i = 1; i <= n; ++i) w[static_cast<std::size_t>(i)] = std::max(static_cast<double>(weights[i]), floor);
  // --- prior: only its shape counts ---
  // The weights are divided by their mean, so that the units of a prior do not
  // matter and a flat prior gives exactly 1 everywhere (no prior). The mean is
  // formed as largest + mean deviation from it, which is exact for equal weights.
  double deviation = 0.0;
  for (int i = 1; i <= n; ++i) deviation += w[static_cast<std::size_t>(i)] - largest;
  const double mean = largest + deviation / n;
  for (int i = 1; i <= n; ++i) w[static_cast<std::size_t>(i)] /= mean;
  // --- end prior ---
  return w;
}

// Adds alpha x pattern on the unknowns offset+1..offset+n (stride `stride` between
// neighbours), each entry divided by w[i] w[j] (w indexed 1..n along the pattern).
template <typename Pattern>
void AddBand(double** reg, int n, int offset, int stride, double alpha,
             const std::vector<double>& w, Pattern pattern) {
  for (int i = 1; i <= n; ++i) {
    const int row = offset + (i - 1) * stride + 1;
    for (int j = std::max(1, i - 2); j <= std::min(n, i + 2); ++j) {
      const double c = pattern(n, i, j);
      if (c == 0.0) continue;
      const int col = offset + (j - 1) * stride + 1;
      reg[row][col] += alpha * c / (w[static_cast<std::size_t>(i)] * w[static_cast<std::size_t>(j)]);
    }
  }
}

bool FirstUnknownFree(int M) {
  if (ModelFlags().bLsgOneDiscrete || ModelFlags().bCsOneDiscreteD) return true;
  if (ModelFlags().bBufferSedCorrection && M == DistributionVectors().nDistGrid) return true;
  return ModelFlags().bCsNonideal || ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsOneDiscreteM || ModelFlags().bCsMsTable;
}

void ShowNoRegularizationNote() {
  if (DistributionModels().bContiInnerRun || bBatchMode || DistributionModels().bMonteCarloRun) return;
  if (ContiWizardMessages()) {
    ShowDistributionNote("no regularization:  either P < 0.5, P = 1, or to low resolution");
  }
}

void ZeroSolution(int n) {
  for (int i = 1; i <= n; ++i) DistributionStorage().pDistSolution[i] = 0.0;
}

}  // namespace

std::vector<double> PriorWeights(const double* weights, int n) { return FlooredWeights(weights, n); }

double SecondDerivativePattern(int n, int i, int j) {
  if (n < 3 || i < 1 || j < 1 || i > n || j > n) return 0.0;
  // (D'D)_ij = sum over the second differences r = 2..n-1 (rows of D: 1, -2, 1 at
  // r-1, r, r+1) that touch both i and j.
  double sum = 0.0;
  for (int r = std::max(2, std::max(i, j) - 1); r <= std::min(n - 1, std::min(i, j) + 1); ++r) {
    auto d = [r](int k) { return k == r ? -2.0 : (k == r - 1 || k == r + 1 ? 1.0 : 0.0); };
    sum += d(i) * d(j);
  }
  return sum;
}

double Ff0PenaltyPattern(int n, int i, int j) {
  if (n < 2 || i < 1 || j < 1 || i > n || j > n) return 0.0;
  double e = SecondDerivativePattern(n, i, j);
  // 10 x (x2 - x1)^2 and 10 x (xn - x(n-1))^2.
  auto pair = [i, j](int a) {
    const double di = i == a ? -1.0 : (i == a + 1 ? 1.0 : 0.0);
    const double dj = j == a ? -1.0 : (j == a + 1 ? 1.0 : 0.0);
    return di * dj;
  };
  e += 10.0 * pair(1) + 10.0 * pair(n - 1);
  return e;
}

bool RegularizationWanted(int n) {
  const float P = DistributionModels().fConfidenceLevel;
  return P > 0.5f && P != 1.0f && n >= 4;
}

bool SetRegularizationTarget(int n) {
  const int scans = ModelFlags().bDLSTimeCourseModel ? NormalEquations().iContiLastScan - NormalEquations().iContiFirstScan + 1 : DataSet().nScans;
  const double points = static_cast<double>(CurrentGridFitPoints().Count()) * scans;
  const double nu = points - (DataSet().bDLSData ? 0.0 : static_cast<double>(n));
  Regularization().fDegreesOfFreedom = static_cast<float>(nu);
  if (DistributionModels().fConfidenceLevel > 1.0f) {
    if (!bBatchMode) ShowDistributionNote("P > 1 => interpreting P value as chi-square ratio");
    Regularization().fTargetRatio = DistributionModels().fConfidenceLevel;
    return true;
  }
  if (!(nu >= 1.0)) return false;
  Regularization().fTargetRatio = static_cast<float>(CalculateCriticalF(DistributionModels().fConfidenceLevel, nu, nu));
  return Regularization().fTargetRatio > 1.0f;
}

bool IsExactFit() { return !(Regularization().dChiSquareMin > 1e-12 * NormalEquations().dSumSqData) || !(Regularization().dChiSquareMin > 0.0); }

double ConfidenceOfRatio(double ratio) {
  const double nu = Regularization().fDegreesOfFreedom;
  if (!(nu > 0.0)) return 0.0;
  return 1.0 - CalculateFProbability(ratio, nu, nu);
}

double ChiSquareFromNormalEquations() {
  const int M = DistributionStorage().nNEQUnknowns;
  const double* x = DistributionStorage().pDistSolution;
  double xb = 0.0, xAx = 0.0;
  for (int i = 1; i <= M; ++i) {
    xb += x[i] * DistributionStorage().pNormalRhs[i];
    const double* Ai = DistributionStorage().ppNormalMatrix[i];
    double row = 0.0;
    for (int j = 1; j <= M; ++j) row += Ai[j] * x[j];
    xAx += x[i] * row;
  }
  return NormalEquations().dSumSqData - 2.0 * xb + xAx;
}

void AddSecondDerivativePenalty(double alpha) {
  const int n = DistributionStorage().nNEQUnknowns;
  for (int i = 1; i <= n; ++i) {
    const double* A = DistributionStorage().ppNormalMatrix[i];
    double* R = DistributionStorage().ppNormalMatrixReg[i];
    for (int j = 1; j <= n; ++j) R[j] = A[j];
  }
  if (alpha == 0.0) return;
  const bool prior = DistributionModels().bUsePrior && DistributionVectors().pPriorProbability;

  if (IsSizeShapeModel()) {
    const int M = DistributionVectors().nDistGrid;
    const int rows = DistributionGrid().nFf0Values;
    if (M * rows != n) return;
    const std::vector<double> sw =
        prior ? FlooredWeights(DistributionVectors().pPriorProbability, M) : std::vector<double>(static_cast<std::size_t>(M) + 1, 1.0);
    for (int j = 1; j <= rows; ++j) {
      const int base = (j - 1) * M;
      if (ModelFlags().bCsff0OneDiscrete && j == 1) {
        const std::vector<double> shifted(sw.begin() + 1, sw.end());  // weights of 2..M at 1..M-1
        AddBand(DistributionStorage().ppNormalMatrixReg, M - 1, base + 1, 1, alpha, shifted, SecondDerivativePattern);
      } else {
        AddBand(DistributionStorage().ppNormalMatrixReg, M, base, 1, alpha, sw, SecondDerivativePattern);
      }
    }
    const std::vector<double> fw =
        DistributionModels().bFf0Prior && DistributionVectors().pFf0AxisWork ? FlooredWeights(DistributionVectors().pFf0AxisWork, rows)
                                  : std::vector<double>(static_cast<std::size_t>(rows) + 1, 1.0);
    for (int i = 1; i <= M; ++i) {
      AddBand(DistributionStorage().ppNormalMatrixReg, rows, i - 1, M, static_cast<double>(DistributionModels().f2DRegScale) * alpha, fw,
              Ff0PenaltyPattern);
    }
    return;
  }

  const int M = n;
  const std::vector<double> w =
      prior ? FlooredWeights(DistributionVectors().pPriorProbability, M) : std::vector<double>(static_cast<std::size_t>(M) + 1, 1.0);
  if (FirstUnknownFree(M)) {
    const std::vector<double> shifted(w.begin() + 1, w.end());
    AddBand(DistributionStorage().ppNormalMatrixReg, M - 1, 1, 1, alpha, shifted, SecondDerivativePattern);
  } else {
    AddBand(DistributionStorage().ppNormalMatrixReg, M, 0, 1, alpha, w, SecondDerivativePattern);
  }
}

float ScaleRegularizationAlpha(float u) {
  if (Local().g_searchFailed) return 1e10f;
  const double alpha = std::exp(std::min(static_cast<double>(u), 100.0)) * Regularization().dAlphaScale;
  AddSecondDerivativePenalty(alpha);
  if (!NNLS()) {
    ZeroSolution(DistributionStorage().nNEQUnknowns);
    Local().g_searchFailed = true;
    return 1e10f;
  }
  const double ratio = ChiSquareFromNormalEquations() / Regularization().dChiSquareMin;
  if (!DistributionModels().bMonteCarloRun) {
    if (DistributionModels().fConfidenceLevel < 1.0f) {
      ShowContiProgress(10, 70, ProgressKind::Detail, Format("Scaling regularization alpha=%f, P = %f (please wait...)", alpha,
                                   ConfidenceOfRatio(ratio)));
    } else {
      ShowContiProgress(10, 70, ProgressKind::Detail, Format("Scaling regularization alpha=%f, ratio = %f (please wait...)",
                                   alpha, ratio));
    }
  }
  return static_cast<float>(ratio - static_cast<double>(Regularization().fTargetRatio));
}

bool Regularize() {
  const int N = DistributionStorage().nNEQUnknowns;
  Regularization().nRegUnknowns = IsSizeShapeModel() ? DistributionVectors().nDistGrid : N;
  if (N < 1 || !DistributionStorage().pDistSolution) return false;

  // 1. and 2. The unregularised solution.
  AddSecondDerivativePenalty(0.0);
  if (!NNLS()) {
    ZeroSolution(N);
    return false;
  }
  Regularization().dChiSquareMin = Regularization().dChiSquare = ChiSquareFromNormalEquations();
  Regularization().fAlphaFactor = 0.0f;

  // 3. to 5. Whether and how far to regularise.
  if (!RegularizationWanted(N)) {
    ShowNoRegularizationNote();
    return true;
  }
  if (DistributionModels().bContiInnerRun && !DistributionModels().bFinalFitEvaluation && !DistributionModels().bMonteCarloRun) return true;
  // An exact fit leaves no noise to measure the regularisation against.
  if (IsExactFit()) return true;
  if (!SetRegularizationTarget(N)) {
    ShowNoRegularizationNote();
    return true;
  }

  // 6. The scale of alpha.
  float trace = 0.0f;
  for (int k = 1; k <= N; ++k) trace += static_cast<float>(DistributionStorage().ppNormalMatrix[k][k]);
  Regularization().dAlphaScale = static_cast<double>(trace) / (6.0 * N - 12.0);
  if (Regularization().dAlphaScale == 0.0) return true;

  const std::vector<double> unregularised(DistributionStorage().pDistSolution, DistributionStorage().pDistSolution + N + 1);
  // The unregularised solution comes back. A target the regularisation cannot reach
  // (reported) still leaves it as the result; a failed NNLS on the way does not.
  auto giveUp = [&unregularised, N]() {
    const bool solved = !Local().g_searchFailed;
    std::copy(unregularised.begin(), unregularised.begin() + N + 1, DistributionStorage().pDistSolution);
    Regularization().dChiSquare = Regularization().dChiSquareMin;
    Regularization().fAlphaFactor = 0.0f;
    Local().g_searchFailed = false;
    return solved;
  };
  const char* kBracketFailure =
      "problem in regularization, cannot reach chi-square increase; try using fewer scans";

  // 7. and 8. Bracket the root of chi2(u)/chi2min - F, u = ln(alpha / dAlphaScale).
  const float tol = (Regularization().fTargetRatio - 1.0f) * 0.001f;
  Local().g_searchFailed = false;
  float a = std::log(1e-7f);
  float fa = ScaleRegularizationAlpha(a);
  float b = a + 1.0f;
  float fb = ScaleRegularizationAlpha(b);
  float step = 1.0f;
  int equal = 0;
  int steps = 0;
  while (fa * fb > 0.0f && !Local().g_searchFailed) {
    a = b;
    fa = fb;
    b = a + step;
    fb = ScaleRegularizationAlpha(b);
    equal = fa == fb ? equal + 1 : 0;
    if (equal >= 10 || ++steps > 1000) {
      ReportDistributionError(3, kBracketFailure);
      return giveUp();
    }
    // Moving away from the root: turn round.
    if ((fa > 0.0f && fb > fa) || (fa < 0.0f && fb < fa)) {
      std::swap(a, b);
      std::swap(fa, fb);
      step = -step;
    }
  }
  if (Local().g_searchFailed) return giveUp();

  // 9. The root, and its solution once more.
  bool failed = false;
  const float u = zbrent(ScaleRegularizationAlpha, a, b, tol, &failed);
  if (failed || Local().g_searchFailed) return giveUp();
  ScaleRegularizationAlpha(u);
  if (Local().g_searchFailed) return giveUp();

  // 10.
  Regularization().fAlphaFactor = static_cast<float>(std::exp(std::min(static_cast<double>(u), 100.0)));
  Regularization().dChiSquare = ChiSquareFromNormalEquations();
  return true;
}

}  // namespace tarmic
