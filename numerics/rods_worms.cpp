// Rods and worm-like chains.
#include "numerics/rods_worms.h"
#include "numerics/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "services/error_box.h"
#include "services/engine_notice.h"
#include "numerics/hydrodynamics.h"
#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "services/path_table.h"
#include "numerics/solvent_constants.h"
#include "numerics/statistics.h"

namespace tarmic {

namespace {

// This module's own state in the analysis.
struct LocalState {
  // Mass per length (Da/nm) kept by the rod inversion for SFromMLinearRod (M).
double dRodMassPerLength = 0.0;
};
LocalState& Local() { return CurrentPart<LocalState>(); }

// Heaviest mass the bracket searches consider (g/mol).
constexpr double kMaxMass = 1e20;
// Iteration limit of the root searches (as the distribution fit's Brent finder).
constexpr int kRootIterations = 200;

void ReportNoRodSolution(double s, double g) {
  char text[200];
  std::snprintf(text, sizeof text,
                "no solution for the mass of a linear rod with s = %g S and mass/length = %g Da/nm",
                s, g);
  RaiseError(text);
}

void ReportNoWormSolution(double s) {
  char text[160];
  std::snprintf(text, sizeof text, "no solution for the mass of a worm-like chain with s = %g S",
                s);
  RaiseError(text);
}

// Geometry of the worm-like chain from the model settings (lengths in nm).
struct WormGeometry {
  float massPerLength;  // mL, Da/nm
  float kuhnLength;     // 2q, nm
  float d;              // hydrated diameter in Kuhn lengths
};

WormGeometry WormChainGeometry() {
  auto& solventConstantsPart = SolventConstants();
  const float m1 = solventConstantsPart.fWormMonomerMass;
  const float delta = solventConstantsPart.fWormHydration;
  // Dehydrated monomer volume and length; the chain's mass per length.
  const float Vm = m1 * solventConstantsPart.VBAR * 1e21f / 6.023e23f;
  const float l = Vm / solventConstantsPart.fWormCrossSection;
  const float mL = m1 / l;
  // The hydrated chain: density, monomer volume, cross-section and diameter.
  const float rhoH = (1.0f + delta) / (solventConstantsPart.VBAR + delta);
  const float Vh = m1 * (1.0f + delta) * 1e21f / (rhoH * 6.023e23f);
  const float Ah = Vh / l;
  const float dh = 2.0f * std::sqrt(Ah / 3.142f);
  const float kuhn = 2.0f * solventConstantsPart.fWormPersistenceLength;
  return WormGeometry{mL, kuhn, dh / kuhn};
}

// Translational friction function X of a worm-like cylinder of reduced contour
// length L and diameter d (both in Kuhn lengths): a series in L/d and d/L for short
// chains, one in sqrt(L) for long ones, joined at L = 2.4.
float WormFrictionFunction(float L, float d) {
  const float d2 = d * d, d3 = d2 * d, d4 = d2 * d2;
  const float A1 = 1.0f - 0.01412f * d2 + 0.00592f * d4;
  if (L < 2.4f) {
    const float A2 = 0.3863f - 0.1667f * d + 0.0016f * d2 - 0.0224f * d3 - 0.0007f * d4;
    const float A3 = 0.1667f + 0.0222f * d2 + 0.0017f * d4;
    const float A4 = 0.01883f - 0.00789f * d2 - 0.00038f * d4;
    const float A5 = -0.002039f + 0.000805f * d2 + 0.000017f * d4;
    const float B1 = 0.04167f * d + 0.00567f * d3;
    const float B2 = 0.5f + 0.0786f * d - 0.0094f * d2 + 0.0107f * d3 + 0.0039f * d4;
    const float B3 = -0.0625f + 0.00132f * d2 - 0.00055f * d4;
    const float B4 = 0.001302f * d + 0.000181f * d3;
    const float B5 = 0.001953f - 0.000064f * d2 + 0.000027f * d4;
    const float lnLd = std::log(L / d);
    const float u = d / L;
    return A1 * lnLd + A2 + A3 * L + A4 * L * L + A5 * L * L * L + B1 * u * lnLd + B2 * u +
           B3 * u * u + B4 * u * u * u + B5 * u * u * u * u;
  }
  const float lnd = std::log(d);
  const float C1 = 1.843f;
  const float C2 = -A1 * lnd - 1.0561f - 0.1667f * d - 0.19f * d2 - 0.0224f * d3 + 0.019f * d4;
  const float C3 = 0.1382f + 0.691f * d2;
  const float C4 = -(0.04167f * d2 + 0.00567f * d4) * lnd - 0.3301f + 0.5f * d - 0.5854f * d2 -
                   0.0094f * d3 - 0.0421f * d4;
  const float C5 = -0.03f + 0.1209f * d2 + 0.0259f * d4;
  const float rootL = std::sqrt(L);
  return C1 * rootL + C2 + C3 / rootL + C4 / L + C5 / (L * rootL);
}

}  // namespace

double SFromMLinearRod(double M) { return SFromMLinearRod(M, Local().dRodMassPerLength); }

double SFromMLinearRod(double M, double g) {
  auto& solventConstantsPart = SolventConstants();
  if (M <= 1.0 || g <= 1.0 || solventConstantsPart.VBAR <= 0.0f) return 0.0;
  const double eta = static_cast<double>(STANDARDVISCOSITY) * solventConstantsPart.RELVISCOSITY;
  // Contour length and volume (m, m^3), the diameter of the cylinder, axial ratio.
  const double L = M / g * 1e-9;
  const double V = M / kAvogadro * solventConstantsPart.VBAR * 1e-6;
  const double d = std::sqrt(4.0 * V / (kPi * L));
  const double p = L / d;
  // The compact sphere of the same mass: s = (1 - vbar rho) M D / (R T) with
  // D = k_B T / (6 pi eta R0) (the temperature cancels).
  const double R0 = CalculateRadius(M, solventConstantsPart.VBAR);
  const double DperT = kBoltzmann * 1e4 / (6.0 * kPi * eta * R0);
  const double sSphere = (1.0 - solventConstantsPart.fVRho) * M * DperT * 1e13 / (kGasConstant);
  // Shorter than wide: the compact sphere.
  if (p < 1.0) return sSphere;
  // Slender rod: f = 3 pi eta L / (ln p + nu) with the end correction nu, so that
  // s = (M/L) (1 - vbar rho) (ln p + nu) / (3 pi eta N_A), M/L = g 1e9 g/(mol m).
  const double nu = p < 10.0 ? 0.312 + 0.561 / p + 0.1 / (p * p) : 0.386;
  const double sRod = 1e13 * (std::log(p) + nu) * g * 1e9 * (1.0 - solventConstantsPart.fVRho) /
                      (3.0 * kPi * kAvogadro * eta * 1000.0);
  // For short rods (p up to about 1.45) the slender-rod formula gives less friction
  // than the sphere of equal volume (f/f0 = s_sphere / s_rod < 1), which no shape
  // has; there the sphere's friction is taken, so s never exceeds the sphere's and
  // does not jump where p passes 1.
  return std::fabs(sRod) > std::fabs(sSphere) ? sSphere : sRod;
}

double CalculateMofSforLinearRod(float s, float g) {
  auto& localPart = Local();
  auto& solventConstantsPart = SolventConstants();
  localPart.dRodMassPerLength = g;
  if (solventConstantsPart.VBAR <= 0.0f) {
    RaiseError("VBAR <= 0 in function CalculateMofSforLinearRod");
    return 0.0;
  }
  const double eta = static_cast<double>(STANDARDVISCOSITY) * solventConstantsPart.RELVISCOSITY;
  if (eta <= 0.0) {
    RaiseError("STANDARDVISCOSITY*RELVISCOSITY <= 0 in function CalculateMofSforLinearRod");
    return 0.0;
  }
  // A rod's s grows with M (ln M for long rods) from 0 at M = 1: only a positive s
  // of a particle lighter than the buffer, with a mass per length above 1, can be
  // reached.
  const double M0 = MassFromSedcoeff(s, solventConstantsPart.VBAR, solventConstantsPart.fVRho, eta, 1.0);
  if (!(s > 0.0f) || !std::isfinite(s) || g <= 1.0f || !(M0 > 0.0) || !std::isfinite(M0)) {
    ReportNoRodSolution(s, g);
    return 0.0;
  }
  const double target = s;
  const auto residual = [&](double M) { return SFromMLinearRod(M, g) - target; };
  // Bracket the root around the compact-sphere mass: halve until s(M) is below the
  // target (it is 0 for M <= 1, so this ends), double until it is above.
  double lo = M0;
  for (int i = 0; i < 2200 && residual(lo) >= 0.0; ++i) lo *= 0.5;
  double hi = M0;
  while (residual(hi) <= 0.0) {
    hi *= 2.0;
    if (hi > kMaxMass) {
      ReportNoRodSolution(s, g);
      return 0.0;
    }
  }
  const BrentResult root = BrentSearch(residual, lo, hi, 1.0, kRootIterations);
  if (!root.bracketed || !root.converged) {
    RaiseError("Maximum number of iterations exceeded in zbrent");
    return 0.0;
  }
  return root.root;
}

float SFromMWormChain(float M) {
  auto& solventConstantsPart = SolventConstants();
  const WormGeometry geo = WormChainGeometry();
  const float L = M / (geo.massPerLength * geo.kuhnLength);
  if (M < solventConstantsPart.fWormMonomerMass) return 0.0f;
  if (L <= 0.0f) return 0.0f;
  if (L < 0.1f) {
    // Much shorter than its Kuhn length the chain is a rigid rod.
    Local().dRodMassPerLength = geo.massPerLength;
    return static_cast<float>(SFromMLinearRod(M));
  }
  const float X = WormFrictionFunction(L, geo.d);
  // Friction coefficient (g/s): 3 pi eta(water, 0.01 P) times the contour length in
  // cm, divided by X.
  const float Xi = 0.09426f * L * geo.kuhnLength * 1e-7f / X;
  // s20,w with the chain's own buoyancy in water at 20 C (Svedberg's relation
  // s = M (1 - vbar rho) / (N_A f)), then moved to the buffer. A fixed buoyancy
  // would hold only for vbar near 0.73 (DNA, vbar 0.55, would come out 40 % slow).
  const float buoyancy20 = 1.0f - solventConstantsPart.VBAR * fDensityWater20;
  const float s20 = (geo.massPerLength * geo.kuhnLength * L) * 1e13f * buoyancy20 / (6.023e23f * Xi);
  return SFromS20wBuffer(s20);
}

float CalculateMofSforWormChain(float s) {
  auto& solventConstantsPart = SolventConstants();
  if (!(s > 0.0f) || !std::isfinite(s)) {
    ReportNoWormSolution(s);
    return 0.0f;
  }
  const float m1 = solventConstantsPart.fWormMonomerMass;
  float lo = CalculateMff02(s, 1.0f);
  if (solventConstantsPart.VBAR <= 0.0f) return 0.0f;  // CalculateMff02 has reported it
  if (!(lo > 0.0f) || !std::isfinite(lo)) {
    ReportNoWormSolution(s);
    return 0.0f;
  }
  // Slower than a compact sphere of the monomer mass: the compact sphere.
  if (lo < m1) return lo;
  float hi = 100.0f * lo;
  if (!(hi <= kMaxMass)) {
    ReportNoWormSolution(s);
    return 0.0f;
  }
  // The chain sediments more slowly than the sphere of its mass, so usually s(lo) < s
  // at once; otherwise step down, but not below the monomer (the lightest chain).
  while (SFromMWormChain(lo) > s) {
    if (lo == m1) {
      ReportNoWormSolution(s);
      return 0.0f;
    }
    lo = std::max(lo / 3.0f, m1);
  }
  while (SFromMWormChain(hi) < s) {
    hi *= 3.0f;
    if (hi > kMaxMass) {
      ReportNoWormSolution(s);
      return 0.0f;
    }
  }
  const auto residual = [s](double M) {
    return static_cast<double>(SFromMWormChain(static_cast<float>(M))) - s;
  };
  const BrentResult root = BrentSearch(residual, lo, hi, 0.001 * s, kRootIterations);
  if (!root.bracketed) {
    RaiseError("problem in finding M(s) for low Mw in worm-like chain model");
    return 0.0f;
  }
  if (!root.converged) {
    RaiseError("Maximum number of iterations exceeded in zbrent");
    return 0.0f;
  }
  return static_cast<float>(root.root);
}

bool WriteWormChainMofsTable(int nGrid, const float* grid, const float* sGrid) {
  auto& solventConstantsPart = SolventConstants();
  if (nGrid > 0 && (grid == nullptr || sGrid == nullptr)) return false;
  // The s column is moved to standard conditions with the buoyancy ratio and the
  // viscosity; a molar mass is the same in every solvent (scaling it by the
  // buoyancy ratio would put masses 16 % high in a solvent of density 1.05).
  const double buoyancy = (1.0 - static_cast<double>(solventConstantsPart.VBAR) * fDensityWater20) / (1.0 - solventConstantsPart.fVRho);
  double** table = nGrid > 0 ? dmatrix(1, nGrid, 1, 2) : nullptr;
  for (int i = 1; i <= nGrid; ++i) {
    table[i][1] = grid[i] * buoyancy * solventConstantsPart.RELVISCOSITY;
    table[i][2] = sGrid[i] * 0.001;
  }
  const bool written = WriteDMatrixTable(table, 1, nGrid, 1, 2, szWormChainMofsFile.c_str());
  if (table != nullptr) free_dmatrix(table, 1, nGrid, 1, 2);
  return written;
}

}  // namespace tarmic
