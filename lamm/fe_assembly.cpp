#include "lamm/fe_assembly.h"

#include "lamm/element_integrals.h"

namespace tarmic {

void EquidistantLammRow(double ri, double h, int i, int np, double sw2, double D, double m[3],
                        double a[3]) {
  m[0] = m[1] = m[2] = a[0] = a[1] = a[2] = 0.0;
  if (i == 1) {
    m[1] = (ri + h / 4) * h / 3;
    m[2] = (ri + h / 2) * h / 6;
    a[1] = -sw2 * (h * h / 12 + ri * h / 3 + ri * ri / 2) - D * (ri + h / 2) / h;
    a[2] = -sw2 * (h * h / 4 + 2 * ri * h / 3 + ri * ri / 2) + D * (ri + h / 2) / h;
    return;
  }
  m[0] = (ri - h / 2) * h / 6;
  a[0] = sw2 * (h * h / 4 - 2 * ri * h / 3 + ri * ri / 2) + D * (ri - h / 2) / h;
  if (i < np) {
    m[1] = 2 * ri * h / 3;
    m[2] = (ri + h / 2) * h / 6;
    a[1] = -sw2 * (2 * ri * h / 3) - 2 * D * ri / h;
    a[2] = -sw2 * (h * h / 4 + 2 * ri * h / 3 + ri * ri / 2) + D * (ri + h / 2) / h;
  } else {
    m[1] = (ri - h / 4) * h / 3;
    a[1] = sw2 * (h * h / 12 - ri * h / 3 + ri * ri / 2) - D * (ri - h / 2) / h;
  }
}

void EquidistantLammMatrices(const double* r, int N, double h, double sw2, double D,
                             Tridiagonal mass, Tridiagonal transport) {
  for (int i = 1; i <= N; ++i) {
    double m[3], a[3];
    EquidistantLammRow(r[i], h, i, N, sw2, D, m, a);
    mass.SetRow(i, m);
    transport.SetRow(i, a);
  }
}

namespace {

// (column, coefficient node) offsets of the seven pairs, relative to the row.
constexpr int kPairColumn[kElementPairs] = {0, -1, 0, -1, 1, 0, 1};
constexpr int kPairNode[kElementPairs] = {-1, -1, 0, 0, 0, 1, 1};

}  // namespace

void GeneralElementRow(const double* r, int N, int i, double w2, double mass[3],
                       double diff[kElementPairs], double sed[kElementPairs]) {
  for (int c = 0; c < 3; ++c) mass[c] = static_cast<double>(IntegrateMassElement(r, N, i, i - 1 + c, N));
  for (int p = 0; p < kElementPairs; ++p) {
    const int j = i + kPairColumn[p], k = i + kPairNode[p];
    diff[p] = static_cast<double>(IntegrateStiffnessElement3(r, N, i, j, k));
    sed[p] = w2 * static_cast<double>(IntegrateSedimentationElement3(r, N, i, j, k));
  }
}

void ThreeIndexElements(const double* r, int N, bool equidistant, double h, double w2,
                        Tridiagonal M, double* const diff[kElementPairs],
                        double* const sed[kElementPairs]) {
  for (int i = 1; i <= N; ++i) {
    if (!equidistant) {
      double m[3], d[kElementPairs], s[kElementPairs];
      GeneralElementRow(r, N, i, w2, m, d, s);
      M.SetRow(i, m);
      for (int p = 0; p < kElementPairs; ++p) {
        diff[p][i] = d[p];
        sed[p][i] = s[p];
      }
      continue;
    }
    M.sub[i] = static_cast<double>(IntegrateMassElementEquidistant(r, N, h, i, i - 1));
    M.diag[i] = static_cast<double>(IntegrateMassElementEquidistant(r, N, h, i, i));
    M.sup[i] = static_cast<double>(IntegrateMassElementEquidistant(r, N, h, i, i + 1));
    for (int p = 0; p < kElementPairs; ++p) {
      const int j = i + kPairColumn[p], k = i + kPairNode[p];
      diff[p][i] = static_cast<double>(IntegrateStiffnessElement3Equidistant(r, N, h, i, j, k));
      sed[p][i] = w2 * static_cast<double>(IntegrateSedimentationElement3Equidistant(r, N, h, i, j, k));
    }
  }
  M.sub[1] = 0.0;
  M.sup[N] = 0.0;
}

void VariableCoefficientParts(int N, const double* const diff[kElementPairs],
                              const double* const sed[kElementPairs], const double* s,
                              const double* D, Tridiagonal S, Tridiagonal G, int from, int to) {
  for (int i = from; i <= to; ++i) {
    // Coefficients of the nodes that exist; terms of nodes 0 and N+1 are absent.
    const double sl = i > 1 ? s[i - 1] : 0.0, Dl = i > 1 ? D[i - 1] : 0.0;
    const double sr = i < N ? s[i + 1] : 0.0, Dr = i < N ? D[i + 1] : 0.0;
    S.sub[i] = i > 1 ? sl * sed[1][i] + s[i] * sed[3][i] : 0.0;
    G.sub[i] = i > 1 ? Dl * diff[1][i] + D[i] * diff[3][i] : 0.0;
    S.diag[i] = sr * sed[5][i] + sl * sed[0][i] + s[i] * sed[2][i];
    G.diag[i] = Dr * diff[5][i] + Dl * diff[0][i] + D[i] * diff[2][i];
    S.sup[i] = i < N ? sr * sed[6][i] + s[i] * sed[4][i] : 0.0;
    G.sup[i] = i < N ? Dr * diff[6][i] + D[i] * diff[4][i] : 0.0;
  }
}

void VariableCoefficientTransport(const double* r, int N, const double* const diff[kElementPairs],
                                  const double* const sed[kElementPairs], const double* s,
                                  const double* D, double w2, bool openBottom, Tridiagonal A) {
  for (int i = 1; i <= N; ++i) {
    // Coefficients of the nodes that exist; terms of nodes 0 and N+1 are absent.
    const double sl = i > 1 ? s[i - 1] : 0.0, Dl = i > 1 ? D[i - 1] : 0.0;
    const double sr = i < N ? s[i + 1] : 0.0, Dr = i < N ? D[i + 1] : 0.0;
    A.sub[i] = i > 1 ? sl * sed[1][i] + s[i] * sed[3][i] - (Dl * diff[1][i] + D[i] * diff[3][i]) : 0.0;
    A.diag[i] = sr * sed[5][i] + sl * sed[0][i] + s[i] * sed[2][i] -
                (Dr * diff[5][i] + Dl * diff[0][i] + D[i] * diff[2][i]);
    A.sup[i] = i < N ? sr * sed[6][i] + s[i] * sed[4][i] - (Dr * diff[6][i] + D[i] * diff[4][i]) : 0.0;
  }
  if (openBottom && s[N] > 0) {
    // The boundary term r D dc/dr - s w2 r^2 c of the end node, as on the other grids.
    const double g = r[N] / (r[N] - r[N - 1]);
    A.sub[N] -= g * D[N];
    A.diag[N] += g * D[N] - r[N] * r[N] * s[N] * w2;
  }
}

}  // namespace tarmic
