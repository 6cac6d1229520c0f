// Tikhonov-Phillips regularisation: the penalty layouts, the target of the
// confidence level, and the search of the regularisation strength.
#include "distributions/regularization.h"

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

int nRegUnknowns = 0;
double dChiSquareMin = 0.0;
double dChiSquare = 0.0;
float fTargetRatio = 0.0f;
float fDegreesOfFreedom = 0.0f;
double dAlphaScale = 0.0;
float fAlphaFactor = 0.0f;

namespace {

// An NNLS of the current search failed: the search gives up without a result.
bool g_searchFailed = false;

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
  if (bLsgOneDiscrete || bCsOneDiscreteD) return true;
  if (bBufferSedCorrection && M == nDistGrid) return true;
  return bCsNonideal || bCsBimodalFf0OneDiscrete || bCsOneDiscreteM || bCsMsTable;
}

void ShowNoRegularizationNote() {
  if (bContiInnerRun || bBatchMode || bMonteCarloRun) return;
  if (ContiWizardMessages()) {
    ShowDistributionNote("no regularization:  either P < 0.5, P = 1, or to low resolution");
  }
}

void ZeroSolution(int n) {
  for (int i = 1; i <= n; ++i) pDistSolution[i] = 0.0;
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
  const float P = fConfidenceLevel;
  return P > 0.5f && P != 1.0f && n >= 4;
}

bool SetRegularizationTarget(int n) {
  const int scans = bDLSTimeCourseModel ? iContiLastScan - iContiFirstScan + 1 : nScans;
  const double points = static_cast<double>(CurrentGridFitPoints().Count()) * scans;
  const double nu = points - (bDLSData ? 0.0 : static_cast<double>(n));
  fDegreesOfFreedom = static_cast<float>(nu);
  if (fConfidenceLevel > 1.0f) {
    if (!bBatchMode) ShowDistributionNote("P > 1 => interpreting P value as chi-square ratio");
    fTargetRatio = fConfidenceLevel;
    return true;
  }
  if (!(nu >= 1.0)) return false;
  fTargetRatio = static_cast<float>(CalculateCriticalF(fConfidenceLevel, nu, nu));
  return fTargetRatio > 1.0f;
}

bool IsExactFit() { return !(dChiSquareMin > 1e-12 * dSumSqData) || !(dChiSquareMin > 0.0); }

double ConfidenceOfRatio(double ratio) {
  const double nu = fDegreesOfFreedom;
  if (!(nu > 0.0)) return 0.0;
  return 1.0 - CalculateFProbability(ratio, nu, nu);
}

double ChiSquareFromNormalEquations() {
  const int M = nNEQUnknowns;
  const double* x = pDistSolution;
  double xb = 0.0, xAx = 0.0;
  for (int i = 1; i <= M; ++i) {
    xb += x[i] * pNormalRhs[i];
    const double* Ai = ppNormalMatrix[i];
    double row = 0.0;
    for (int j = 1; j <= M; ++j) row += Ai[j] * x[j];
    xAx += x[i] * row;
  }
  return dSumSqData - 2.0 * xb + xAx;
}

void AddSecondDerivativePenalty(double alpha) {
  const int n = nNEQUnknowns;
  for (int i = 1; i <= n; ++i) {
    const double* A = ppNormalMatrix[i];
    double* R = ppNormalMatrixReg[i];
    for (int j = 1; j <= n; ++j) R[j] = A[j];
  }
  if (alpha == 0.0) return;
  const bool prior = bUsePrior && pPriorProbability;

  if (IsSizeShapeModel()) {
    const int M = nDistGrid;
    const int rows = nFf0Values;
    if (M * rows != n) return;
    const std::vector<double> sw =
        prior ? FlooredWeights(pPriorProbability, M) : std::vector<double>(static_cast<std::size_t>(M) + 1, 1.0);
    for (int j = 1; j <= rows; ++j) {
      const int base = (j - 1) * M;
      if (bCsff0OneDiscrete && j == 1) {
        const std::vector<double> shifted(sw.begin() + 1, sw.end());  // weights of 2..M at 1..M-1
        AddBand(ppNormalMatrixReg, M - 1, base + 1, 1, alpha, shifted, SecondDerivativePattern);
      } else {
        AddBand(ppNormalMatrixReg, M, base, 1, alpha, sw, SecondDerivativePattern);
      }
    }
    const std::vector<double> fw =
        bFf0Prior && pFf0AxisWork ? FlooredWeights(pFf0AxisWork, rows)
                                  : std::vector<double>(static_cast<std::size_t>(rows) + 1, 1.0);
    for (int i = 1; i <= M; ++i) {
      AddBand(ppNormalMatrixReg, rows, i - 1, M, static_cast<double>(f2DRegScale) * alpha, fw,
              Ff0PenaltyPattern);
    }
    return;
  }

  const int M = n;
  const std::vector<double> w =
      prior ? FlooredWeights(pPriorProbability, M) : std::vector<double>(static_cast<std::size_t>(M) + 1, 1.0);
  if (FirstUnknownFree(M)) {
    const std::vector<double> shifted(w.begin() + 1, w.end());
    AddBand(ppNormalMatrixReg, M - 1, 1, 1, alpha, shifted, SecondDerivativePattern);
  } else {
    AddBand(ppNormalMatrixReg, M, 0, 1, alpha, w, SecondDerivativePattern);
  }
}

float ScaleRegularizationAlpha(float u) {
  if (g_searchFailed) return 1e10f;
  const double alpha = std::exp(std::min(static_cast<double>(u), 100.0)) * dAlphaScale;
  AddSecondDerivativePenalty(alpha);
  if (!NNLS()) {
    ZeroSolution(nNEQUnknowns);
    g_searchFailed = true;
    return 1e10f;
  }
  const double ratio = ChiSquareFromNormalEquations() / dChiSquareMin;
  if (!bMonteCarloRun) {
    if (fConfidenceLevel < 1.0f) {
      ShowContiProgress(10, 70, ProgressKind::Detail, Format("Scaling regularization alpha=%f, P = %f (please wait...)", alpha,
                                   ConfidenceOfRatio(ratio)));
    } else {
      ShowContiProgress(10, 70, ProgressKind::Detail, Format("Scaling regularization alpha=%f, ratio = %f (please wait...)",
                                   alpha, ratio));
    }
  }
  return static_cast<float>(ratio - static_cast<double>(fTargetRatio));
}

bool Regularize() {
  const int N = nNEQUnknowns;
  nRegUnknowns = IsSizeShapeModel() ? nDistGrid : N;
  if (N < 1 || !pDistSolution) return false;

  // 1. and 2. The unregularised solution.
  AddSecondDerivativePenalty(0.0);
  if (!NNLS()) {
    ZeroSolution(N);
    return false;
  }
  dChiSquareMin = dChiSquare = ChiSquareFromNormalEquations();
  fAlphaFactor = 0.0f;

  // 3. to 5. Whether and how far to regularise.
  if (!RegularizationWanted(N)) {
    ShowNoRegularizationNote();
    return true;
  }
  if (bContiInnerRun && !bFinalFitEvaluation && !bMonteCarloRun) return true;
  // An exact fit leaves no noise to measure the regularisation against.
  if (IsExactFit()) return true;
  if (!SetRegularizationTarget(N)) {
    ShowNoRegularizationNote();
    return true;
  }

  // 6. The scale of alpha.
  float trace = 0.0f;
  for (int k = 1; k <= N; ++k) trace += static_cast<float>(ppNormalMatrix[k][k]);
  dAlphaScale = static_cast<double>(trace) / (6.0 * N - 12.0);
  if (dAlphaScale == 0.0) return true;

  const std::vector<double> unregularised(pDistSolution, pDistSolution + N + 1);
  // The unregularised solution comes back. A target the regularisation cannot reach
  // (reported) still leaves it as the result; a failed NNLS on the way does not.
  auto giveUp = [&unregularised, N]() {
    const bool solved = !g_searchFailed;
    std::copy(unregularised.begin(), unregularised.begin() + N + 1, pDistSolution);
    dChiSquare = dChiSquareMin;
    fAlphaFactor = 0.0f;
    g_searchFailed = false;
    return solved;
  };
  const char* kBracketFailure =
      "problem in regularization, cannot reach chi-square increase; try using fewer scans";

  // 7. and 8. Bracket the root of chi2(u)/chi2min - F, u = ln(alpha / dAlphaScale).
  const float tol = (fTargetRatio - 1.0f) * 0.001f;
  g_searchFailed = false;
  float a = std::log(1e-7f);
  float fa = ScaleRegularizationAlpha(a);
  float b = a + 1.0f;
  float fb = ScaleRegularizationAlpha(b);
  float step = 1.0f;
  int equal = 0;
  int steps = 0;
  while (fa * fb > 0.0f && !g_searchFailed) {
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
  if (g_searchFailed) return giveUp();

  // 9. The root, and its solution once more.
  bool failed = false;
  const float u = zbrent(ScaleRegularizationAlpha, a, b, tol, &failed);
  if (failed || g_searchFailed) return giveUp();
  ScaleRegularizationAlpha(u);
  if (g_searchFailed) return giveUp();

  // 10.
  fAlphaFactor = static_cast<float>(std::exp(std::min(static_cast<double>(u), 100.0)));
  dChiSquare = ChiSquareFromNormalEquations();
  return true;
}

}  // namespace tarmic
