// The s20,w, Stokes-radius and a(R) transforms of a computed distribution.
#include "distributions/distribution_transforms.h"

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "distributions/conti_run_settings.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "numerics/hydrodynamics.h"
#include "numerics/number_input.h"
#include "numerics/solvent_constants.h"
#include "numerics/text_lines.h"
#include "plot/winplot.h"
#include "scandata/plausibility.h"
#include "scandata/text_io.h"

namespace tarmic {

namespace {

bool DistributionExists() { return DistributionVectors().nDistGrid >= 1 && DistributionVectors().pDistGrid && DistributionVectors().pDistValues; }

bool BothShown() { return GetContiRunSettings().showBoth && DistributionVectors().pDistValues2; }

void RetitleAndRedraw(const char* title) {
  auto& distributionPlotPart = DistributionPlot();
  if (!distributionPlotPart.pDistPlot) return;
  distributionPlotPart.pDistPlot->SetXAxisLabel(title);
  RedrawDistributionPlot();
}

// y(i) := 2 x(i) y(i) on the new axis, scaled back to the area `area`.
void WeightAndRescale(float* y, double area) {
  auto& distributionVectorsPart = DistributionVectors();
  const int n = distributionVectorsPart.nDistGrid;
  for (int i = 1; i <= n; ++i) y[i] = 2.0f * distributionVectorsPart.pDistGrid[i] * y[i];
  const double now = GridTrapezoidArea(distributionVectorsPart.pDistGrid, y, n);
  // An all-zero distribution stays zero (no 0/0).
  if (now == 0.0 || !std::isfinite(now)) return;
  const double f = area / now;
  for (int i = 1; i <= n; ++i) y[i] = static_cast<float>(y[i] * f);
}

// Which of the solvent values leaves s20,w = s (eta / eta20,w) (1 - vbar20 rho20,w) /
// (1 - vbar rho) without a positive finite value: the viscosity, the buoyancy at
// 20 C in water, or the buoyancy in the buffer.
std::string NoS20wCause(float vbar, float vbar20, float viscosity, float density) {
  const double eta = viscosity, v = vbar, v20 = vbar20, rho = density;
  if (!(eta > 0.0) || !std::isfinite(eta))
    return Format("the buffer viscosity %g Pa s must be above 0", eta);
  if (!(1.0 - v20 * fDensityWater20 > 0.0))
    return Format("the partial specific volume at 20 C %g ml/g leaves no buoyancy in water (1 - vbar20 rho20,w <= 0)",
                  v20);
  if (!(1.0 - v * rho > 0.0))
    return Format("the partial specific volume %g ml/g leaves no buoyancy in the buffer density %g g/ml "
                  "(1 - vbar rho <= 0)",
                  v, rho);
  return Format("the partial specific volumes %g and %g ml/g, the buffer viscosity %g Pa s and the buffer "
                "density %g g/ml give no finite value",
                v, v20, eta, rho);
}

}  // namespace

double GridTrapezoidArea(const float* x, const float* y, int n) {
  if (n < 2) return 0.0;
  double a = 0.5 * y[1] * (static_cast<double>(x[2]) - x[1]);
  for (int i = 2; i <= n - 1; ++i) a += 0.5 * (static_cast<double>(x[i + 1]) - x[i - 1]) * y[i];
  a += 0.5 * y[n] * (static_cast<double>(x[n]) - x[n - 1]);
  return a;
}

TransformResult TransformToS20w(float vbar, float vbar20, float viscosity, float density) {
  auto& modelFlagsPart = ModelFlags();
  auto& distributionVectorsPart = DistributionVectors();
  // The electrophoresis c(v) grid holds velocities, not sedimentation coefficients.
  if (!IsSGridModel() || modelFlagsPart.bCvConstantD || !DistributionExists()) return {};
  const float q = S20wFromS(1.0f, viscosity, density, vbar, vbar20);
  if (!(q > 0.0f) || !std::isfinite(q))
    return {false, "the solvent values give no s20,w: " + NoS20wCause(vbar, vbar20, viscosity, density)};
  for (int i = 1; i <= distributionVectorsPart.nDistGrid; ++i) {
    distributionVectorsPart.pDistGrid[i] *= q;
    distributionVectorsPart.pDistValues[i] /= q;
    if (distributionVectorsPart.pDistValues2) distributionVectorsPart.pDistValues2[i] /= q;
  }
  RetitleAndRedraw("s20 [S]");
  return {true, {}};
}

std::string RhVbarRefusal(float vbar20) {
  if (vbar20 > 0.0f && std::isfinite(vbar20)) return std::string();
  return Format("the partial specific volume at 20 C %g ml/g gives no Stokes radius: it must be above 0",
                static_cast<double>(vbar20));
}

bool TransformToRh(float vbar20) {
  auto& distributionPlotPart = DistributionPlot();
  auto& distributionVectorsPart = DistributionVectors();
  if (!DistributionExists() || !RhVbarRefusal(vbar20).empty()) return false;
  const int n = distributionVectorsPart.nDistGrid;
  const bool both = BothShown();
  const double area = GridTrapezoidArea(distributionVectorsPart.pDistGrid, distributionVectorsPart.pDistValues, n);
  const double area2 = both ? GridTrapezoidArea(distributionVectorsPart.pDistGrid, distributionVectorsPart.pDistValues2, n) : 0.0;
  // The grid is converted once; both value vectors use the new radii.
  for (int i = 1; i <= n; ++i) distributionVectorsPart.pDistGrid[i] = 1e9f * S20ToStokesRadius(distributionVectorsPart.pDistGrid[i], vbar20);
  WeightAndRescale(distributionVectorsPart.pDistValues, area);
  if (both) WeightAndRescale(distributionVectorsPart.pDistValues2, area2);
  distributionPlotPart.bDistRhTransformed = true;
  RetitleAndRedraw("Rh [nm]");
  return true;
}

TransformResult ApplyMieScatCorrection(const std::string& fileName) {
  auto& distributionVectorsPart = DistributionVectors();
  if (!DistributionExists()) return {};
  // The coefficients a0, a1, ... one per line, as users write them by hand: a line
  // that is not one number as a whole ("1.5abc", "1,5") refuses the file, naming
  // the line, rather than ending the series there.
  std::string text, why;
  if (!ReadPlainTextFile(fileName, LastLine::kRefused, &text, &why))
    return {false, Format("the coefficients of a(R) in %s cannot be read: %s", fileName.c_str(), why.c_str())};
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; ReadTextLine(in, &line);) lines.push_back(line);
  std::vector<double> a;
  for (const NumberLine& l : NumberLinesOf(lines)) {
    if (!l.value)
      return {false, Format("the coefficients of a(R) in %s cannot be used: %s", fileName.c_str(),
                            NoNumberText(l.line, lines[l.line - 1]).c_str())};
    a.push_back(*l.value);
  }
  const int m = static_cast<int>(a.size());
  if (m < 1) return {false, Format("no coefficients of a(R) in %s", fileName.c_str())};
  const int n = distributionVectorsPart.nDistGrid;
  std::vector<double> factor(static_cast<std::size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) {
    // Horner form of a0 + a1 R + ... + a(m-1) R^(m-1).
    const double R = distributionVectorsPart.pDistGrid[i];
    double v = 0.0;
    for (int k = m - 1; k >= 0; --k) v = v * R + a[static_cast<std::size_t>(k)];
    if (v == 0.0 || !std::isfinite(v))
      return {false, Format("a(R) = 0 at R = %.3f nm: the distribution is not corrected", R)};
    factor[static_cast<std::size_t>(i)] = v;
  }
  const bool both = BothShown();
  for (int i = 1; i <= n; ++i) {
    const double f = factor[static_cast<std::size_t>(i)];
    distributionVectorsPart.pDistValues[i] = static_cast<float>(distributionVectorsPart.pDistValues[i] / f);
    if (both) distributionVectorsPart.pDistValues2[i] = static_cast<float>(distributionVectorsPart.pDistValues2[i] / f);
  }
  return {true, {}};
}

void ResetDistributionTransforms() {
  auto& distributionPlotPart = DistributionPlot();
  distributionPlotPart.bDistTransformed = false;
  distributionPlotPart.bDistRhTransformed = false;
}

}  // namespace tarmic
