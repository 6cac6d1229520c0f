// LU and Cholesky decompositions, symmetric solves, NNLS on normal equations and
// Savitzky-Golay coefficients.
#include "numerics/linear_algebra.h"

#include <cassert>
#include <cmath>
#include <cstdlib>

#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/one_based.h"

namespace tarmic {

namespace {

// Work storage over [1..n] from the one-based allocators, released on every exit,
// including the exception that nrerror throws.
template <typename T>
T* NewVector(int n);
template <>
float* NewVector<float>(int n) { return vector(1, n); }
template <>
double* NewVector<double>(int n) { return dvector(1, n); }
template <>
int* NewVector<int>(int n) { return ivector(1, n); }

inline void DeleteVector(float* v, int n) { free_vector(v, 1, n); }
inline void DeleteVector(double* v, int n) { free_dvector(v, 1, n); }
inline void DeleteVector(int* v, int n) { free_ivector(v, 1, n); }

template <typename T>
T** NewMatrix(int n);
template <>
float** NewMatrix<float>(int n) { return matrix(1, n, 1, n); }
template <>
double** NewMatrix<double>(int n) { return dmatrix(1, n, 1, n); }

inline void DeleteMatrix(float** m, int n) { free_matrix(m, 1, n, 1, n); }
inline void DeleteMatrix(double** m, int n) { free_dmatrix(m, 1, n, 1, n); }

template <typename T>
class WorkVector {
 public:
  explicit WorkVector(int n) : n_(n), v_(NewVector<T>(n)) {}
  ~WorkVector() { DeleteVector(v_, n_); }
  WorkVector(const WorkVector&) = delete;
  WorkVector& operator=(const WorkVector&) = delete;
  T& operator[](int i) { return v_[i]; }
  T* get() { return v_; }

 private:
  int n_;
  T* v_;
};

template <typename T>
class WorkMatrix {
 public:
  explicit WorkMatrix(int n) : n_(n), m_(NewMatrix<T>(n)) {}
  ~WorkMatrix() { DeleteMatrix(m_, n_); }
  WorkMatrix(const WorkMatrix&) = delete;
  WorkMatrix& operator=(const WorkMatrix&) = delete;
  T* operator[](int i) { return m_[i]; }
  T** get() { return m_; }
  void CopyFrom(T** a) {
    for (int i = 1; i <= n_; ++i) {
      for (int j = 1; j <= n_; ++j) m_[i][j] = a[i][j];
    }
  }

 private:
  int n_;
  T** m_;
};

template <typename T>
struct Tiny;
template <>
struct Tiny<float> {
  static constexpr float value = 1.0e-20f;
};
template <>
struct Tiny<double> {
  static constexpr double value = 1.0e-100;
};

// Crout's method with implicit pivoting: each row is scaled by its largest element
// (vv) when the pivot is chosen, so that the choice does not depend on row scaling.
template <typename T>
void LuDecompose(T** a, int n, int* indx, T* d) {
  WorkVector<T> vv(n);
  *d = 1;
  for (int i = 1; i <= n; ++i) {
    T big = 0;
    for (int j = 1; j <= n; ++j) {
      const T temp = std::fabs(a[i][j]);
      if (temp > big) big = temp;
    }
    if (big == 0) nrerror("Singular matrix in routine ludcmp");
    vv[i] = 1 / big;
  }
  for (int j = 1; j <= n; ++j) {
    // Upper factor: beta_ij = a_ij - sum_{k<i} alpha_ik beta_kj for i < j.
    for (int i = 1; i < j; ++i) {
      T sum = a[i][j];
      for (int k = 1; k < i; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
    }
    // Candidates for the pivot of column j; the largest scaled one wins.
    T big = 0;
    int imax = j;
    for (int i = j; i <= n; ++i) {
      T sum = a[i][j];
      for (int k = 1; k < j; ++k) sum -= a[i][k] * a[k][j];
      a[i][j] = sum;
      const T dum = vv[i] * std::fabs(sum);
      if (dum >= big) {
        big = dum;
        imax = i;
      }
    }
    if (j != imax) {
      for (int k = 1; k <= n; ++k) {
        const T dum = a[imax][k];
        a[imax][k] = a[j][k];
        a[j][k] = dum;
      }
      *d = -(*d);
      vv[imax] = vv[j];
    }
    indx[j] = imax;
    if (a[j][j] == 0) a[j][j] = Tiny<T>::value;
    if (j != n) {
      const T dum = 1 / a[j][j];
      for (int i = j + 1; i <= n; ++i) a[i][j] *= dum;
    }
  }
}

// L y = P b (skipping the leading zeros of b), then U x = y.
template <typename T>
void LuBackSubstitute(T** a, int n, const int* indx, T* b) {
  int ii = 0;
  for (int i = 1; i <= n; ++i) {
    const int ip = indx[i];
    T sum = b[ip];
    b[ip] = b[i];
    if (ii != 0) {
      for (int j = ii; j <= i - 1; ++j) sum -= a[i][j] * b[j];
    } else if (sum != 0) {
      ii = i;
    }
    b[i] = sum;
  }
  for (int i = n; i >= 1; --i) {
    T sum = b[i];
    for (int j = i + 1; j <= n; ++j) sum -= a[i][j] * b[j];
    b[i] = sum / a[i][i];
  }
}

// L_ii = sqrt(a_ii - sum_k L_ik^2), L_ji = (a_ij - sum_k L_ik L_jk) / L_ii.
// A diagonal sum that is not positive (or not a number) means A is not positive
// definite.
template <typename T>
bool CholeskyDecompose(T** a, int n, T* p) {
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) {
      T sum = a[i][j];
      for (int k = i - 1; k >= 1; --k) sum -= a[i][k] * a[j][k];
      if (i == j) {
        if (!(sum > 0)) return false;
        p[i] = std::sqrt(sum);
      } else {
        a[j][i] = sum / p[i];
      }
    }
  }
  return true;
}

// L y = b, then L^T x = y.
template <typename T>
void CholeskySolve(T** a, int n, const T* p, const T* b, T* x) {
  for (int i = 1; i <= n; ++i) {
    T sum = b[i];
    for (int k = i - 1; k >= 1; --k) sum -= a[i][k] * x[k];
    x[i] = sum / p[i];
  }
  for (int i = n; i >= 1; --i) {
    T sum = x[i];
    for (int k = i + 1; k <= n; ++k) sum -= a[k][i] * x[k];
    x[i] = sum / p[i];
  }
}

template <typename T>
void SolveLinear(T** A, T* b, int n, bool copyA) {
  if (n < 1) return;
  WorkVector<int> indx(n);
  T d;
  if (copyA) {
    WorkMatrix<T> lu(n);
    lu.CopyFrom(A);
    LuDecompose(lu.get(), n, indx.get(), &d);
    LuBackSubstitute(lu.get(), n, indx.get(), b);
  } else {
    LuDecompose(A, n, indx.get(), &d);
    LuBackSubstitute(A, n, indx.get(), b);
  }
}

}  // namespace

void ludcmp(float** a, int n, int* indx, float* d) { LuDecompose(a, n, indx, d); }
void ludcmp(double** a, int n, int* indx, double* d) { LuDecompose(a, n, indx, d); }
void lubksb(float** a, int n, const int* indx, float* b) { LuBackSubstitute(a, n, indx, b); }
void lubksb(double** a, int n, const int* indx, double* b) { LuBackSubstitute(a, n, indx, b); }

bool choldc(float** a, int n, float* p) { return CholeskyDecompose(a, n, p); }
bool dcholdc(double** a, int n, double* p) { return CholeskyDecompose(a, n, p); }

bool cholsl(float** a, int n, const float* p, const float* b, float* x) {
  CholeskySolve(a, n, p, b, x);
  return true;
}

bool dcholsl(double** a, int n, const double* p, const double* b, double* x) {
  CholeskySolve(a, n, p, b, x);
  return true;
}

// Deleting row and column q leaves, for the unknowns after q,
// L33' L33'^T = L33 L33^T + l l^T = [L33 l] [L33 l]^T. Column k of the update is
// the Givens rotation of (L_kk, l_k) onto (r, 0), r = hypot(L_kk, l_k),
// c = L_kk / r, s = l_k / r, applied to the pairs (L_ik, l_i) below it:
// L_ik <- c L_ik + s l_i, l_i <- c l_i - s L_ik. The same rotation of (y_k, y_q)
// keeps L y = b: [L33 l] [y3; y_q] = [L33' 0] [y3'; y_q'] = L33' y3'.
bool CholeskyDeleteUnknown(double** a, int n, double* p, int q, double* y) {
  assert(q >= 1 && q <= n);
  if (p[q] == 0.0) return true;
  WorkVector<double> l(n);
  for (int i = q + 1; i <= n; ++i) {
    l[i] = a[i][q];
    a[i][q] = 0.0;
  }
  for (int k = 1; k < q; ++k) a[q][k] = 0.0;
  p[q] = 0.0;
  double yq = 0.0;
  if (y) {
    yq = y[q];
    y[q] = 0.0;
  }
  for (int k = q + 1; k <= n; ++k) {
    // Deleted unknowns have l_k = 0 (their rows are zero): the rotation is the identity.
    const double lk = l[k];
    if (p[k] == 0.0 || lk == 0.0) continue;
    const double r = std::hypot(p[k], lk);
    if (!(r > 0.0) || !std::isfinite(r)) return false;
    const double c = p[k] / r, s = lk / r;
    p[k] = r;
    for (int i = k + 1; i <= n; ++i) {
      const double lik = a[i][k], li = l[i];
      a[i][k] = c * lik + s * li;
      l[i] = c * li - s * lik;
    }
    if (y) {
      const double yk = y[k];
      y[k] = c * yk + s * yq;
      yq = c * yq - s * yk;
    }
  }
  return true;
}

// y_i = (b_i - sum_k<i L_ik y_k) / L_ii; deleted k have L_ik = 0.
void CholeskyForwardSkipDeleted(double** a, int n, const double* p, const double* b, double* y) {
  for (int i = 1; i <= n; ++i) {
    if (p[i] == 0.0) {
      y[i] = 0.0;
      continue;
    }
    double sum = b[i];
    for (int k = i - 1; k >= 1; --k) sum -= a[i][k] * y[k];
    y[i] = sum / p[i];
  }
}

// L' x = y from the last unknown up, by rows of L: once x_i is known its terms
// L_ik x_i leave the equations k < i (independent updates, contiguous in memory).
void CholeskyBackSkipDeleted(double** a, int n, const double* p, const double* y, double* x) {
  if (x != y) {
    for (int i = 1; i <= n; ++i) x[i] = y[i];
  }
  for (int i = n; i >= 1; --i) {
    if (p[i] == 0.0) {
      x[i] = 0.0;
      continue;
    }
    const double xi = x[i] / p[i];
    x[i] = xi;
    const double* ai = a[i];
    for (int k = 1; k < i; ++k) x[k] -= ai[k] * xi;
  }
}

void SolveLinearSystem(float** A, float* b, int n, bool copyA) { SolveLinear(A, b, n, copyA); }
void SolveLinearSystem(double** A, double* b, int n, bool copyA) { SolveLinear(A, b, n, copyA); }

int SolveSymmetricSystem(double** A, const double* b, int n, double* x, double* p) {
  if (n < 1) return 1;
  WorkMatrix<double> work(n);
  work.CopyFrom(A);
  if (dcholdc(work.get(), n, p)) {
    dcholsl(work.get(), n, p, b, x);
    return 1;
  }
  // Not positive definite: LU on a fresh copy, x as the right-hand side.
  work.CopyFrom(A);
  for (int i = 1; i <= n; ++i) x[i] = b[i];
  SolveLinearSystem(work.get(), x, n, false);
  return 0;
}

int SolveSymmetricSystemSkipZeroRows(double** A, const double* b, int n, double* x,
                                     double* p) {
  if (n < 1) return 1;
  // Keep the parameters whose row of A has at least one non-zero element.
  WorkVector<int> kept(n);
  int m = 0;
  for (int i = 1; i <= n; ++i) {
    bool zero = true;
    for (int j = 1; j <= n && zero; ++j) zero = A[i][j] == 0.0;
    if (!zero) kept[++m] = i;
  }
  if (m == n) return SolveSymmetricSystem(A, b, n, x, p);

  for (int i = 1; i <= n; ++i) x[i] = 0.0;
  if (m == 0) return 1;

  WorkMatrix<double> reduced(m);
  WorkMatrix<double> reducedCopy(m);
  WorkVector<double> rhs(m);
  WorkVector<double> solution(m);
  for (int r = 1; r <= m; ++r) {
    for (int c = 1; c <= m; ++c) {
      reduced[r][c] = A[kept[r]][kept[c]];
      reducedCopy[r][c] = reduced[r][c];
    }
    rhs[r] = b[kept[r]];
  }
  if (dcholdc(reduced.get(), m, p)) {
    dcholsl(reduced.get(), m, p, rhs.get(), solution.get());
  } else {
    for (int r = 1; r <= m; ++r) solution[r] = rhs[r];
    SolveLinearSystem(reducedCopy.get(), solution.get(), m, false);
  }
  for (int r = 1; r <= m; ++r) x[kept[r]] = solution[r];
  return 1;
}

int SolveSymmetricSystemInPlace(float** A, float* b, int n) {
  if (n < 1) return 1;
  WorkMatrix<float> work(n);
  WorkVector<float> p(n);
  work.CopyFrom(A);
  if (choldc(work.get(), n, p.get())) {
    cholsl(work.get(), n, p.get(), b, b);
    return 1;
  }
  work.CopyFrom(A);
  SolveLinearSystem(work.get(), b, n, false);
  return 0;
}

// Lawson-Hanson active set on the normal equations. With x the current feasible
// solution and P the passive set (free variables), the gradient of
// 1/2 x^T A x - b^T x is -w, w = b - A x. x is optimal when w_i <= 0 for every i
// outside P (x_i = 0 there) and w_i = 0 inside P. Each outer step frees the
// variable with the largest w; the inner loop solves the passive subsystem
// A_PP z_P = b_P and, where z leaves the feasible region, moves x toward z as far
// as feasibility allows and returns the variables that reach 0 to the bound.
bool NNLS(double** A, const double* b, double* x, int n, double* w, double** work, double* workRhs,
          double* diag, double* sub, double* trial, int* passive, int* index, int* errorCode) {
  *errorCode = kNNLSConverged;
  if (n < 1) return true;
  constexpr double kGradientTolerance = 1e-10;
  constexpr double kZeroTolerance = 1e-8;
  const long long maxOuterSteps = static_cast<long long>(n) * n;

  for (int i = 1; i <= n; ++i) {
    x[i] = 0.0;
    passive[i] = 0;
  }
  // A parameter without influence (an all-zero row) is never made passive.
  const auto influential = [&](int i) {
    for (int j = 1; j <= n; ++j)
      if (A[i][j] != 0.0) return true;
    return false;
  };
  const auto fail = [&](int code, const char* text) {
    *errorCode = code;
    RaiseError(text);
    return false;
  };

  long long outerSteps = 0;
  for (;;) {
    for (int i = 1; i <= n; ++i) {
      double sum = b[i];
      for (int j = 1; j <= n; ++j) sum -= A[i][j] * x[j];
      w[i] = sum;
    }
    // The unknown held at 0 that most wants to grow (the first on ties).
    int t = 0;
    double wmax = kGradientTolerance;
    for (int i = 1; i <= n; ++i) {
      if (passive[i] == 0 && w[i] > wmax && influential(i)) {
        wmax = w[i];
        t = i;
      }
    }
    if (t == 0) {
      // A gradient that is not a number hides a broken system.
      for (int i = 1; i <= n; ++i)
        if (!std::isfinite(w[i])) return fail(kNNLSNotPositiveDefinite, "matrix not positive definite in NNLS");
      return true;
    }
    if (++outerSteps > maxOuterSteps) return fail(kNNLSIterationLimit, "max #iteration exceeded in NNLS");
    passive[t] = 1;

    bool firstPass = true;
    for (;;) {
      int m = 0;
      for (int i = 1; i <= n; ++i)
        if (passive[i] != 0) index[++m] = i;
      bool positiveDiagonal = true;
      for (int r = 1; r <= m; ++r) {
        for (int c = 1; c <= m; ++c) work[r][c] = A[index[r]][index[c]];
        workRhs[r] = b[index[r]];
        positiveDiagonal = positiveDiagonal && work[r][r] > 0.0;
      }
      // A subsystem that is not positive definite would be solved without the
      // constraint (by LU) and could give negative values: the last feasible x stays.
      if (!positiveDiagonal || SolveSymmetricSystem(work, workRhs, m, sub, diag) != 1)
        return fail(kNNLSNotPositiveDefinite, "matrix not positive definite in NNLS");
      for (int i = 1; i <= n; ++i) trial[i] = 0.0;
      for (int r = 1; r <= m; ++r) trial[index[r]] = sub[r];

      // The unknown just freed wants to decrease: it stays in P at 0, next step.
      if (firstPass && trial[t] <= 0.0) break;
      firstPass = false;

      bool allPositive = true;
      for (int r = 1; r <= m && allPositive; ++r) allPositive = trial[index[r]] > 0.0;
      if (allPositive) {
        for (int i = 1; i <= n; ++i) x[i] = trial[i];
        break;
      }
      // The longest step from x toward the trial solution that keeps x >= 0.
      double q = 2.0;
      int blocking = 0;
      for (int r = 1; r <= m; ++r) {
        const int i = index[r];
        if (trial[i] <= 0.0) {
          const double gap = x[i] - trial[i];
          const double ratio = gap > 0.0 ? x[i] / gap : 0.0;
          if (ratio < q) {
            q = ratio;
            blocking = i;
          }
        }
      }
      if (blocking == 0) return fail(kNNLSNotPositiveDefinite, "matrix not positive definite in NNLS");
      for (int i = 1; i <= n; ++i) x[i] += q * (trial[i] - x[i]);
      // The blocking unknown reaches the bound exactly; rounding residues go too.
      x[blocking] = 0.0;
      passive[blocking] = 0;
      for (int i = 1; i <= n; ++i) {
        if (passive[i] != 0 && (std::fabs(x[i]) < kZeroTolerance || x[i] < 0.0)) {
          x[i] = 0.0;
          passive[i] = 0;
        }
      }
    }
  }
}

bool NNLSNormalEquations(float** A, float* b, int n, bool copyA) {
  (void)copyA;  // A is only read here, whatever the caller asks.
  if (n < 1) return true;

  // Lawson and Hanson's own limit on the outer steps. Each inner pass returns at
  // least one variable to the bound, so the inner loop ends by itself.
  const int maxOuterSteps = 3 * n;
  // Variables whose value falls below this magnitude return to the bound.
  const float zeroTolerance = 1e-8f;

  WorkVector<int> passive(n);
  WorkVector<int> influential(n);
  WorkVector<int> index(n);
  WorkVector<float> w(n);
  WorkVector<float> x(n);
  WorkVector<float> z(n);
  WorkMatrix<float> sub(n);
  WorkVector<float> subRhs(n);
  WorkVector<float> diag(n);
  WorkVector<float> subSolution(n);

  // A parameter without influence (an all-zero row) has no curvature: it is held at
  // zero, as SolveSymmetricSystemSkipZeroRows does.
  for (int i = 1; i <= n; ++i) {
    bool zero = true;
    for (int j = 1; j <= n && zero; ++j) zero = A[i][j] == 0.0f;
    influential[i] = zero ? 0 : 1;
  }

  bool converged = false;
  bool failed = false;
  int outerSteps = 0;
  while (!failed) {
    for (int i = 1; i <= n; ++i) {
      float sum = b[i];
      for (int j = 1; j <= n; ++j) sum -= A[i][j] * x[j];
      w[i] = sum;
    }
    int t = 0;
    float wmax = 0.0f;
    for (int i = 1; i <= n; ++i) {
      if (passive[i] == 0 && influential[i] != 0 && w[i] > wmax) {
        wmax = w[i];
        t = i;
      }
    }
    if (t == 0) {
      // A gradient that is no number has no optimum: a NaN or infinite equation
      // is a failure, not a solution at 0.
      bool finite = true;
      for (int i = 1; i <= n; ++i) finite = finite && std::isfinite(w[i]);
      converged = finite;
      break;
    }
    if (++outerSteps > maxOuterSteps) break;
    passive[t] = 1;

    bool firstPass = true;
    for (;;) {
      // Passive subsystem, rows and columns of P in index order.
      int np = 0;
      for (int i = 1; i <= n; ++i) {
        if (passive[i] != 0) index[++np] = i;
      }
      for (int r = 1; r <= np; ++r) {
        for (int c = 1; c <= np; ++c) sub[r][c] = A[index[r]][index[c]];
        subRhs[r] = b[index[r]];
      }
      if (!choldc(sub.get(), np, diag.get())) {
        failed = true;
        break;
      }
      cholsl(sub.get(), np, diag.get(), subRhs.get(), subSolution.get());
      for (int i = 1; i <= n; ++i) z[i] = 0.0f;
      for (int r = 1; r <= np; ++r) z[index[r]] = subSolution[r];

      // The variable just freed wants to decrease: keep it in P at 0 and look at
      // the gradient again.
      if (firstPass && z[t] <= 0.0f) break;
      firstPass = false;

      bool allPositive = true;
      for (int r = 1; r <= np && allPositive; ++r) allPositive = z[index[r]] > 0.0f;
      if (allPositive) {
        for (int i = 1; i <= n; ++i) x[i] = z[i];
        break;
      }

      // Largest step alpha in [0, 1] from x toward z that keeps x >= 0.
      float alpha = 2.0f;
      int blocking = 0;
      for (int r = 1; r <= np; ++r) {
        const int i = index[r];
        if (z[i] <= 0.0f) {
          const float gap = x[i] - z[i];
          const float ratio = gap > 0.0f ? x[i] / gap : 0.0f;
          if (ratio < alpha) {
            alpha = ratio;
            blocking = i;
          }
        }
      }
      if (blocking == 0) {  // z is not a number: the subsystem is unusable
        failed = true;
        break;
      }
      for (int i = 1; i <= n; ++i) x[i] += alpha * (z[i] - x[i]);
      // The blocking variable reaches the bound exactly (rounding may leave a
      // residue that the tolerance below would not catch on a large scale).
      x[blocking] = 0.0f;
      passive[blocking] = 0;
      for (int i = 1; i <= n; ++i) {
        if (passive[i] == 0) continue;
        if (std::fabs(x[i]) < zeroTolerance || x[i] < 0.0f) {
          x[i] = 0.0f;
          passive[i] = 0;
        }
      }
    }
  }

  for (int i = 1; i <= n; ++i) b[i] = x[i];
  return converged;
}

// Coefficients of the least-squares polynomial of order m over the window
// [-nl..nr]: with the normal matrix (A^T A)_ij = sum_k k^(i+j) (i, j = 0..m), the
// coefficient of point k for derivative ld is sum_j [(A^T A)^-1]_{ld,j} k^j, found
// by solving (A^T A) b = e_ld once.
void savgol(float* c, int np, int nl, int nr, int ld, int m) {
  if (np < nl + nr + 1 || nl < 0 || nr < 0 || ld < 0 || m < 0 || ld > m) {
    nrerror("bad args in savgol");
  }
  // A window of nl+nr+1 points determines a polynomial of order nl+nr at most; at
  // the ends of a curve the window is that small, and the highest order it supports
  // is used.
  if (nl + nr < m) m = nl + nr;
  if (ld > m) nrerror("bad args in savgol");

  const int size = m + 1;
  WorkVector<int> indx(size);
  WorkMatrix<float> a(size);
  WorkVector<float> rhs(size);
  for (int ipj = 0; ipj <= 2 * m; ++ipj) {
    float sum = ipj != 0 ? 0.0f : 1.0f;
    for (int k = 1; k <= nr; ++k) sum += static_cast<float>(std::pow(k, ipj));
    for (int k = 1; k <= nl; ++k) sum += static_cast<float>(std::pow(-k, ipj));
    const int mm = ipj < 2 * m - ipj ? ipj : 2 * m - ipj;
    for (int imj = -mm; imj <= mm; imj += 2) a[1 + (ipj + imj) / 2][1 + (ipj - imj) / 2] = sum;
  }
  float d;
  ludcmp(a.get(), size, indx.get(), &d);
  for (int j = 1; j <= size; ++j) rhs[j] = 0.0f;
  rhs[ld + 1] = 1.0f;
  lubksb(a.get(), size, indx.get(), rhs.get());
  for (int kk = 1; kk <= np; ++kk) c[kk] = 0.0f;
  for (int k = -nl; k <= nr; ++k) {
    float sum = rhs[1];
    float fac = 1.0f;
    for (int mm = 1; mm <= m; ++mm) sum += rhs[mm + 1] * (fac *= static_cast<float>(k));
    const int kk = ((np - k) % np) + 1;
    c[kk] = sum;
  }
}

}  // namespace tarmic
