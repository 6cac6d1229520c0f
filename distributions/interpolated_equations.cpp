// The normal equations kept from whole evaluations and combined for other points.
#include "distributions/interpolated_equations.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "distributions/distribution_storage.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization.h"

namespace tarmic {

namespace {

std::size_t Idx(int i) { return static_cast<std::size_t>(i); }

// The quadratic's terms at u: 1, u_i, u_i u_j (i <= j).
std::vector<double> QuadraticTerms(const std::vector<double>& u) {
  const std::size_t n = u.size();
  std::vector<double> t{1.0};
  for (std::size_t i = 0; i < n; ++i) t.push_back(u[i]);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i; j < n; ++j) t.push_back(u[i] * u[j]);
  return t;
}

// Solves the symmetric positive definite q x q system g z = r by Cholesky; false
// when g is not positive definite (the points do not determine the quadratic).
bool SolveCholesky(std::vector<double> g, std::vector<double>& r, std::size_t q) {
  for (std::size_t j = 0; j < q; ++j) {
    double d = g[j * q + j];
    for (std::size_t k = 0; k < j; ++k) d -= g[j * q + k] * g[j * q + k];
    if (!(d > 1e-12 * std::max(1.0, std::abs(g[j * q + j])))) return false;
    d = std::sqrt(d);
    g[j * q + j] = d;
    for (std::size_t i = j + 1; i < q; ++i) {
      double s = g[i * q + j];
      for (std::size_t k = 0; k < j; ++k) s -= g[i * q + k] * g[j * q + k];
      g[i * q + j] = s / d;
    }
  }
  for (std::size_t i = 0; i < q; ++i) {
    double s = r[i];
    for (std::size_t k = 0; k < i; ++k) s -= g[i * q + k] * r[k];
    r[i] = s / g[i * q + i];
  }
  for (std::size_t i = q; i-- > 0;) {
    double s = r[i];
    for (std::size_t k = i + 1; k < q; ++k) s -= g[k * q + i] * r[k];
    r[i] = s / g[i * q + i];
  }
  return true;
}

// The storage's equations and the results of a solve, put back when it ends.
class StorageKept {
 public:
  explicit StorageKept(int n) : n_(n), e_(KeepNormalEquations()) {
    auto& st = DistributionStorage();
    x_.assign(st.pDistSolution, st.pDistSolution + n + 1);
    passive_.assign(st.pNNLSPassive, st.pNNLSPassive + n + 1);
  }
  ~StorageKept() {
    auto& st = DistributionStorage();
    for (int i = 1; i <= n_; ++i) {
      st.pNormalRhs[i] = e_.rhs[Idx(i - 1)];
      for (int j = 1; j <= i; ++j)
        st.ppNormalMatrix[i][j] = st.ppNormalMatrix[j][i] = e_.lower[Idx(i * (i - 1) / 2 + j - 1)];
      st.pDistSolution[i] = x_[Idx(i)];
      st.pNNLSPassive[i] = passive_[Idx(i)];
    }
    NormalEquations().dSumSqData = e_.sumSq;
  }
  StorageKept(const StorageKept&) = delete;
  StorageKept& operator=(const StorageKept&) = delete;

 private:
  int n_;
  KeptEquations e_;
  std::vector<double> x_;
  std::vector<int> passive_;
};

}  // namespace

KeptEquations KeepNormalEquations() {
  const auto& st = DistributionStorage();
  KeptEquations e;
  const int n = st.nNEQUnknowns;
  if (n < 1 || !st.ppNormalMatrix || !st.pNormalRhs) return e;
  e.order = n;
  e.lower.reserve(Idx(n) * Idx(n + 1) / 2);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) e.lower.push_back(st.ppNormalMatrix[i][j]);
  e.rhs.assign(st.pNormalRhs + 1, st.pNormalRhs + n + 1);
  e.sumSq = NormalEquations().dSumSqData;
  return e;
}

bool ChiSquareOfEquations(const KeptEquations& e, double* chiSquare, std::vector<double>* x) {
  auto& st = DistributionStorage();
  const int n = e.order;
  if (n < 1 || n != st.nNEQUnknowns || n > st.nWorkspaceUnknowns || !st.ppNormalMatrix || !st.pDistSolution)
    return false;
  const StorageKept kept(n);
  for (int i = 1; i <= n; ++i) {
    st.pNormalRhs[i] = e.rhs[Idx(i - 1)];
    for (int j = 1; j <= i; ++j)
      st.ppNormalMatrix[i][j] = st.ppNormalMatrix[j][i] = e.lower[Idx(i * (i - 1) / 2 + j - 1)];
  }
  NormalEquations().dSumSqData = e.sumSq;
  AddSecondDerivativePenalty(0.0);
  if (!NNLS()) return false;
  if (chiSquare) *chiSquare = ChiSquareFromNormalEquations();
  if (x) x->assign(st.pDistSolution, st.pDistSolution + n + 1);
  return true;
}

double ChiSquareAt(const KeptEquations& e, const std::vector<double>& x) {
  double chi = e.sumSq;
  for (int i = 1; i <= e.order; ++i) {
    const double* row = e.lower.data() + Idx(i * (i - 1) / 2);
    chi -= 2.0 * e.rhs[Idx(i - 1)] * x[Idx(i)];
    double s = 0.0;
    for (int j = 1; j < i; ++j) s += row[j - 1] * x[Idx(j)];
    chi += x[Idx(i)] * (2.0 * s + row[i - 1] * x[Idx(i)]);
  }
  return chi;
}

std::vector<double> QuadraticWeights(const std::vector<std::vector<double>>& at, const std::vector<double>& weight,
                                     const std::vector<double>& u) {
  const std::size_t m = at.size();
  const std::size_t q = QuadraticTerms(u).size();
  if (m < q) return {};
  // Terms scaled by the points' extent, so that the system's conditioning does not
  // depend on the units of u.
  std::vector<double> extent(u.size(), 0.0), centre(u.size(), 0.0);
  for (const auto& a : at)
    for (std::size_t i = 0; i < u.size(); ++i) centre[i] += a[i] / static_cast<double>(m);
  for (const auto& a : at)
    for (std::size_t i = 0; i < u.size(); ++i) extent[i] = std::max(extent[i], std::abs(a[i] - centre[i]));
  auto scaled = [&](const std::vector<double>& v) {
    std::vector<double> s(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) s[i] = extent[i] > 0.0 ? (v[i] - centre[i]) / extent[i] : 0.0;
    return QuadraticTerms(s);
  };
  std::vector<std::vector<double>> phi;
  std::vector<double> g(q * q, 0.0);
  for (std::size_t k = 0; k < m; ++k) {
    phi.push_back(scaled(at[k]));
    const double wk = weight.empty() ? 1.0 : weight[k];
    for (std::size_t a = 0; a < q; ++a)
      for (std::size_t b = 0; b < q; ++b) g[a * q + b] += wk * phi[k][a] * phi[k][b];
  }
  // w_k = weight_k phi_k' G^-1 t(u).
  std::vector<double> z = scaled(u);
  if (!SolveCholesky(g, z, q)) return {};
  std::vector<double> w(m, 0.0);
  for (std::size_t k = 0; k < m; ++k) {
    double s = 0.0;
    for (std::size_t a = 0; a < q; ++a) s += phi[k][a] * z[a];
    w[k] = (weight.empty() ? 1.0 : weight[k]) * s;
  }
  return w;
}

KeptEquations CombineEquations(const std::vector<const KeptEquations*>& systems, const std::vector<double>& w) {
  KeptEquations c;
  if (systems.empty() || systems.size() != w.size()) return c;
  c.order = systems.front()->order;
  c.lower.assign(systems.front()->lower.size(), 0.0);
  c.rhs.assign(systems.front()->rhs.size(), 0.0);
  for (std::size_t k = 0; k < systems.size(); ++k) {
    const KeptEquations& s = *systems[k];
    if (s.order != c.order) return {};
    const double wk = w[k];
    for (std::size_t i = 0; i < c.lower.size(); ++i) c.lower[i] += wk * s.lower[i];
    for (std::size_t i = 0; i < c.rhs.size(); ++i) c.rhs[i] += wk * s.rhs[i];
    c.sumSq += wk * s.sumSq;
  }
  return c;
}

}  // namespace tarmic
