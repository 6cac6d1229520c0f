// The M(s) table: loading and interpolation.
#include "distributions/ms_table.h"
#include "numerics/analysis.h"

#include <string>
#include <utility>
#include <vector>

#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "services/path_table.h"
#include "numerics/solvent_constants.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

// This module's own state in the analysis.
struct LocalState {
  std::vector<double> gTableM{};
  // Rows 1..n of s20,w (S) and M (kDa); index 0 unused. Empty: no table.
std::vector<double> gTableS{};
};
LocalState& Local() { return CurrentPart<LocalState>(); }

int Rows() { return Local().gTableS.empty() ? 0 : static_cast<int>(Local().gTableS.size()) - 1; }

}  // namespace

bool LoadMofsTable(std::string* error) {
  FreeMofsTable();
  int n = 0;
  float** m = ReadMatrixTableByColumns(szMofsFile.c_str(), 2, &n);
  if (!m) return false;
  std::vector<double> s(static_cast<std::size_t>(n) + 1, 0.0), M(s.size(), 0.0);
  for (int i = 1; i <= n; ++i) {
    s[static_cast<std::size_t>(i)] = m[1][i];
    M[static_cast<std::size_t>(i)] = m[2][i];
  }
  free_matrix(m, 1, 2, 1, n);
  // Interpolation needs a segment, and a segment of zero width has no slope.
  const auto refuse = [error](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (n < 2) return refuse(Format("the M(s) table %s needs at least two rows", szMofsFile.c_str()));
  for (int i = 2; i <= n; ++i) {
    if (!(s[static_cast<std::size_t>(i)] > s[static_cast<std::size_t>(i - 1)]))
      return refuse(Format("the s values of the M(s) table %s must increase (row %d)",
                           szMofsFile.c_str(), i));
  }
  Local().gTableS = std::move(s);
  Local().gTableM = std::move(M);
  return true;
}

void FreeMofsTable() {
  Local().gTableS.clear();
  Local().gTableM.clear();
}

bool MofsTableActive() { return Rows() >= 2; }

int MofsTableRows() { return Rows(); }

float MFromSTable(double s) {
  const int n = Rows();
  if (n < 2) return 1.0f;
  // s20,w = s (1 - vbar rho_w20) eta / ((1 - vbar rho) eta_w20) with eta = RELVISCOSITY
  // x 0.001002 Pa s.
  const double s20 = s * (1.0 - static_cast<double>(SolventConstants().VBAR) * fDensityWater20) * STANDARDVISCOSITY *
                     SolventConstants().RELVISCOSITY /
                     ((1.0 - static_cast<double>(SolventConstants().VBAR) * SolventConstants().fBufferDensity) * STANDARDVISCOSITY);
  const auto x = [](int i) { return Local().gTableS[static_cast<std::size_t>(i)]; };
  const auto y = [](int i) { return Local().gTableM[static_cast<std::size_t>(i)]; };
  double x0, y0, x1, y1;
  if (s20 < x(1)) {
    x0 = 0.0;
    y0 = 0.0;
    x1 = x(1);
    y1 = y(1);
  } else {
    // The first segment whose upper row reaches s20; above the table the last one.
    int k = 2;
    while (k < n && x(k) < s20) ++k;
    x0 = x(k - 1);
    y0 = y(k - 1);
    x1 = x(k);
    y1 = y(k);
  }
  if (x1 == x0) return 1.0f;
  return static_cast<float>((y0 + (y1 - y0) * (s20 - x0) / (x1 - x0)) * 1000.0);
}

}  // namespace tarmic
