// The distribution plot and its pane layout, step profiles of non-diffusing
// species, and distributions read from files.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "distribution_test_support.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_plot.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_options.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "numerics/solvent_constants.h"
#include "propagators/sim_run.h"
#include "propagators/solvent_settings.h"

namespace tarmic::testing {
namespace {

class PlotTest : public DistributionTest {
 protected:
  void TearDown() override {
    ResetLammSettings();
    ResetModelOptions();
    DistributionTest::TearDown();
  }

  // A grid of n points with s = i, M = 1000 i^1.5 and c(s) = 1.
  static void MakeGrid(int n) {
    DistributionVectors().nDistGrid = n;
    DistributionGrid().fDistGridCount = static_cast<float>(n);
    MakeDistributionVectors(n);
    for (int i = 1; i <= n; ++i) {
      DistributionVectors().pDistGrid[i] = static_cast<float>(i);
      DistributionVectors().pDistS[i] = static_cast<float>(1000.0 * std::pow(i, 1.5));
      DistributionVectors().pDistValues[i] = 1.0f;
      DistributionVectors().pDistValues2[i] = 2.0f;
    }
  }

  static std::string OutputFile(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::path(TARMIC_TEST_OUTPUT_DIR) / "dist_plot";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
  }
};

// The distribution takes a pane of the plot area; clearing gives it back, also when
// nothing is allocated.
TEST_F(PlotTest, PlotTakesAPaneAndClearingGivesItBack) {
  ClearDistribution();  // the layout without a distribution
  const int dataBottom = DataPlots().nDataPlotBottom, areaBottom = DataPlots().nPlotAreaBottom;
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  MakeGrid(10);
  SetupDistributionPlot();
  ASSERT_NE(DistributionPlot().pDistPlot, nullptr);
  EXPECT_LT(DataPlots().nPlotAreaBottom, areaBottom);
  EXPECT_GT(DistributionPlot().pDistPlot->nTop, DataPlots().nPlotAreaBottom);
  EXPECT_EQ(DistributionPlot().pDistPlot->szYLabel, "c(s)");
  EXPECT_NE(RedrawDistributionPlot(), nullptr);

  ClearDistribution();
  EXPECT_EQ(DistributionPlot().pDistPlot, nullptr);
  EXPECT_EQ(DistributionVectors().pDistValues, nullptr);
  EXPECT_EQ(DataPlots().nDataPlotBottom, dataBottom);
  EXPECT_EQ(DataPlots().nPlotAreaBottom, areaBottom);
  EXPECT_EQ(RedrawDistributionPlot(), nullptr);
  ClearDistribution();
  EXPECT_EQ(DataPlots().nPlotAreaBottom, areaBottom);
}

TEST_F(PlotTest, BothRegularisationsDrawASecondCurveInBlue) {
  GetDistributionHooks().runSettings = [] {
    ContiRunSettings s;
    s.showBoth = true;
    return s;
  };
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  MakeGrid(10);
  SetupDistributionPlot();
  ASSERT_EQ(DistributionPlot().pDistPlot->nCurves, 2);
  EXPECT_EQ(DistributionPlot().pDistPlot->GetCurveColor(1), RGB(0, 0, 255));
  EXPECT_FLOAT_EQ(DistributionPlot().pDistPlot->GetCurve(1)->Y()->Get(0), 2.0f);
}

TEST_F(PlotTest, TransformToCMConvertsOnceAndKeepsPointOne) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  MakeGrid(5);
  SetupDistributionPlot();
  TransformToCM();
  EXPECT_TRUE(DistributionPlot().bCMTransformed);
  EXPECT_EQ(DistributionPlot().pDistPlot->szXLabel, "molar mass [Da]");
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[1], 1.0f);
  // Inside: c(M) = c(s) ds / dM over the same bins.
  const float expected3 = 1.0f * (4.0f - 2.0f) / 2.0f / ((DistributionVectors().pDistS[4] - DistributionVectors().pDistS[2]) / 2.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[3], expected3);
  const float once = DistributionVectors().pDistValues[3];
  TransformToCM();
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[3], once);
}

// Step profiles of a non-diffusing species: without sedimentation it fills the cell;
// a band is zero outside the band; with time resolution it decays with radius.
TEST_F(PlotTest, StepProfiles) {
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  std::vector<float> out(4, -1.0f);
  KernelProfiles().dStepSw2 = 0.0;
  const std::vector<float> cell = {0.0f, 6.0f, 6.5f, 7.2f};
  StepBoundaryProfile(0.7f, 1000.0, cell.data(), out.data(), 3);
  for (int i = 1; i <= 3; ++i) EXPECT_FLOAT_EQ(out[i], 0.7f);

  // Boundary at 6 e^0.1 = 6.631, band end at 6.1 e^0.1 = 6.742.
  ModelFlags().bZoneCentrifugation = true;
  ModelOptions().fLamellaWidth = 0.1f;
  KernelProfiles().dStepSw2 = 1e-4;
  const std::vector<float> band = {0.0f, 6.5f, 6.7f, 6.8f};
  StepBoundaryProfile(1.0f, 1000.0, band.data(), out.data(), 3);
  EXPECT_FLOAT_EQ(out[1], 0.0f);
  EXPECT_NEAR(out[2], std::exp(-0.2), 1e-6);
  EXPECT_FLOAT_EQ(out[3], 0.0f);

  ModelFlags().bZoneCentrifugation = false;
  AnalysisSwitches().bScanTimeCorrection = true;
  LammSettings().fScanVelocity = 2.4f;  // 0.04 cm/s
  const std::vector<float> late = {0.0f, 6.8f, 7.0f};
  StepBoundaryProfile(1.0f, 1000.0, late.data(), out.data(), 2);
  ASSERT_GT(out[1], 0.0f);
  EXPECT_NEAR(out[2] / out[1], std::exp(-2.0 * 1e-4 * 0.2 / 0.04), 1e-5);
}

// ls-g*(v) in the planar cell: a negative velocity has taken the species out at
// the meniscus (nothing left at any data radius), a species at rest keeps its
// loading everywhere, a positive one leaves the plateau behind m + v t.
TEST_F(PlotTest, PlanarStepProfilesFollowTheVelocity) {
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  ModelFlags().bElectroLsgModel = true;
  const std::vector<float> r = {0.0f, 6.01f, 6.3f, 6.6f, 7.1f};
  std::vector<float> out(5, -1.0f);
  for (auto [v, expected] : {std::pair{-1e-4, std::vector<float>{0, 0, 0, 0}},
                             {0.0, std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f}},
                             {4e-4, std::vector<float>{0, 0, 0.5f, 0.5f}}}) {
    KernelProfiles().dStepSw2 = v;
    StepBoundaryProfile(0.5f, 1000.0, r.data(), out.data(), 4);
    EXPECT_EQ(std::vector<float>(out.begin() + 1, out.end()), expected) << v;
  }
  ModelFlags().bElectroLsgModel = false;
}

// The step profile in a compressed solvent (compressibility ten times that of
// water, to make it plain) against a reference built from the physics alone: each
// start radius carried by dr/dt = w^2 s(r) r (Runge-Kutta), s(r) following the
// local density rho0 (1 + kappa p(r)) with the rotor pressure p, and the
// concentration from the conservation of the material between neighbouring start
// radii, c = c0 d(x^2) / d(R^2). Without compressibility the profile is the plain
// step: boundary m exp(s w^2 t), plateau c0 exp(-2 s w^2 t).
TEST_F(PlotTest, CompressibleSolventStepProfileMovesAndDilutesAsTheCompressedSolventDoes) {
  InstallFlatDataSet(2, 20);
  DataSet().pScanInfo[2].rpm = 60000.0f;
  SolventConstants().VBAR = 0.73f;
  InhomSolventSettings& st = SolventSettings().gInhomSolvent;
  st.bInhomogeneousSolvent = st.bCompressibleSolvent = true;
  st.density1atm = 1.05f;
  st.relViscosity = 1.3f;
  const double sStd = 10.0, t = 3000.0, c0 = 0.8;
  SimRun().dSimS = sStd;
  const double w = 60000.0 * 2.0 * M_PI / 60.0;
  KernelProfiles().dStepSw2 = w * w * sStd * 1e-13;  // the caller's s w^2 (not used for the motion here)
  const double m = 6.0;

  for (double kappa : {4.6e-3, 0.0}) {
    st.compressibility = kappa;
    // Local s in S at radius r (cm): standard s scaled by viscosity and buoyancy.
    auto sAt = [&](double r) {
      const double p = 0.5 * 1050.0 * w * w * (r * r - m * m) * 1e-4;  // Pa
      const double rho = 1.05 * (1.0 + kappa * 1e-6 * p);
      return sStd / 1.3 * (1.0 - 0.73 * rho) / (1.0 - 0.73 * 0.99823);
    };
    auto carry = [&](double x) {
      const int steps = 2000;
      const double h = t / steps;
      auto f = [&](double r) { return w * w * sAt(r) * 1e-13 * r; };
      double r = x;
      for (int k = 0; k < steps; ++k) {
        const double k1 = f(r), k2 = f(r + 0.5 * h * k1), k3 = f(r + 0.5 * h * k2), k4 = f(r + h * k3);
        r += h / 6.0 * (k1 + 2 * k2 + 2 * k3 + k4);
      }
      return r;
    };
    // Reference value at a moved radius: the start x found by bisection.
    auto reference = [&](double R) {
      const double rb = carry(m);
      if (R < rb) return 0.0;
      double lo = m, hi = R;
      for (int k = 0; k < 60; ++k) {
        const double mid = 0.5 * (lo + hi);
        (carry(mid) < R ? lo : hi) = mid;
      }
      const double x = 0.5 * (lo + hi), dx = 1e-4;
      const double R1 = carry(x - dx), R2 = carry(x + dx);
      return c0 * ((x + dx) * (x + dx) - (x - dx) * (x - dx)) / (R2 * R2 - R1 * R1);
    };
    std::vector<float> r(41), out(41, -1.0f);
    for (int i = 1; i <= 40; ++i) r[static_cast<std::size_t>(i)] = static_cast<float>(6.0 + 0.03 * (i - 1));
    StepBoundaryProfile(static_cast<float>(c0), t, r.data(), out.data(), 40);
    const double rb = carry(m);
    for (int i = 1; i <= 40; ++i) {
      const double ri = r[static_cast<std::size_t>(i)];
      if (std::abs(ri - rb) < 0.03) continue;  // the boundary itself lies between radii
      EXPECT_NEAR(out[static_cast<std::size_t>(i)], reference(ri), 1e-4) << kappa << " " << ri;
    }
    if (kappa == 0.0) {
      const double sw2 = w * w * sStd / 1.3 * (1.0 - 0.73 * 1.05) / (1.0 - 0.73 * 0.99823) * 1e-13;
      EXPECT_NEAR(rb, m * std::exp(sw2 * t), 1e-6);
      EXPECT_NEAR(out[40], c0 * std::exp(-2.0 * sw2 * t), 1e-5);
    }
  }
  ResetInhomSolventSettings();
  ResetSolventConstants();
}

TEST_F(PlotTest, LoadedDensityBecomesAmplitudesSummingToTheArea) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  const std::string path = OutputFile("distrib.dat");
  {
    std::ofstream f(path);
    f << "1 0\n2 2\n3 2\n4 0\n";
  }
  ASSERT_TRUE(LoadDistributionFromFile(path));
  EXPECT_EQ(DistributionVectors().nDistGrid, 4);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[2], 2.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistS[2], 0.0f);
  EXPECT_FLOAT_EQ(DistributionFile().fLoadedDistTotal, 4.0f);
  EXPECT_FLOAT_EQ(DistributionFile().fLoadedDistArea, 4.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[2] + DistributionVectors().pDistValues[3], 4.0f);
  EXPECT_NE(DistributionStorage().pppKernels, nullptr);

  // A flat zero file stays unscaled.
  {
    std::ofstream f(path);
    f << "1 0\n2 0\n";
  }
  ASSERT_TRUE(LoadDistributionFromFile(path));
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[2], 0.0f);
}

// An unreadable file or a size-and-shape model loads nothing; saving without a
// distribution is refused.
TEST_F(PlotTest, UnreadableFileLoadsNothingAndNothingIsSavedWithoutADistribution) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  backend->QueueMessageBox(IDOK);  // the file reader's "could not open"
  EXPECT_FALSE(LoadDistributionFromFile(OutputFile("missing.dat")));
  EXPECT_TRUE(backend->AllAnswersUsed());
  // The refusal comes back to the command; nothing is shown here.
  EXPECT_FALSE(SaveContiDistribution(OutputFile("none.dat")));
  EXPECT_FALSE(std::filesystem::exists(OutputFile("none.dat")));
  ModelFlags().bContiSModel = false;
  ModelFlags().bCsff0Model = true;
  EXPECT_FALSE(LoadDistributionFromFile(OutputFile("missing.dat")));
}

// The distribution file that Generate reads is a table of whole numbers: "5 nan"
// made scan files of "nan" before; a field that is no number, or a value a float
// cannot hold, loads nothing and the reason names the file and the line. A saved
// distribution names its line too ("0x10" was read as 16).
TEST_F(PlotTest, DistributionFileValuesAreWholeNumbersOrTheLoadNamesTheLine) {
  InstallFlatDataSet(2, 20);
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  const std::string path = OutputFile("distrib_bad.dat");
  const struct {
    const char* text;
    const char* why;
  } bad[] = {
      {"5 nan\n", "line 1 holds \"nan\", which is not a number"},
      {"1 0\n2 inf\n3 0\n", "line 2 holds \"inf\", which is not a number"},
      {"1 0\n\n2 1.5abc\n", "line 3 holds \"1.5abc\", which is not a number"},
      {"1 0\n2 1e39\n", "line 2 holds \"1e39\", which is beyond 3.4e38"},
      // A decimal comma is no separator between two numbers, nor the end of one.
      {"3.000000 0.100000\n4,000000 0,500000\n", "line 2 has too many values (3 of 2): \"4,000000 0,500000\""},
      {"3.000000 0.100000\n4.000000 1,5\n", "line 2 holds \"4.000000 1\", which is not a number"},
      {"1 0\n2 1e-320\n", "line 2 holds \"1e-320\", which is not 0 but too small to be held (below 1.4e-45)"},
  };
  for (const auto& b : bad) {
    std::ofstream(path) << b.text;
    std::string error;
    EXPECT_FALSE(LoadDistributionFromFile(path, &error)) << b.text;
    EXPECT_EQ(error, "\n\aAttention: " + path + " cannot be read: " + b.why);
  }
  EXPECT_TRUE(backend->Transcript().empty());

  const std::string saved = OutputFile("saved_bad.dat");
  const std::pair<const char*, const char*> rows[] = {
      {"0x10\t1\t0\t0", "line 4 holds \"0x10\", which is not a number"},
      {"3\t1e-46\t0\t0", "line 4 holds \"1e-46\", which is not 0 but too small to be held (below 1.4e-45)"},
      {"3\t1\t0\t0\t5", "line 4 has too many values (5 of 4): \"3\t1\t0\t0\t5\""},
      {"2\t1\t0\t0", "line 4 holds 2, which does not rise above the 2 before it"},
  };
  for (const auto& [row, why] : rows) {
    std::ofstream(saved) << "# TARMIC distribution c(s)\n1\t0\t0\t0\n2\t0.5\t0\t0\n" << row << "\n";
    EXPECT_EQ(RestoreContiDistribution(saved).message, saved + " is not a saved distribution: " + why);
  }
}

TEST_F(PlotTest, SavedCsDistributionRoundTrips) {
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  MakeGrid(6);
  DistributionVectors().pDistValues[3] = 0.125f;
  SetupDistributionPlot();
  const std::string path = OutputFile("cs.dat");
  ASSERT_TRUE(SaveContiDistribution(path));
  EXPECT_EQ(ReadSavedDistributionKind(path), DistributionKind::SGrid);
  ClearDistribution();
  ASSERT_TRUE(RestoreContiDistribution(path));
  EXPECT_EQ(DistributionVectors().nDistGrid, 6);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistGrid[6], 6.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistS[4], 8000.0f);
  EXPECT_FLOAT_EQ(DistributionVectors().pDistValues[3], 0.125f);
  EXPECT_FLOAT_EQ(DistributionGrid().fDistMax, 6.0f);
  EXPECT_EQ(DistributionPlot().pDistPlot->szXLabel, "sed coefficient [S]");
  // A file that is not a saved distribution is refused.
  {
    std::ofstream f(path);
    f << "1 2\n3 4\n";
  }
  EXPECT_FALSE(ReadSavedDistributionKind(path).has_value());
  EXPECT_FALSE(RestoreContiDistribution(path));
  EXPECT_EQ(RestoreContiDistribution(path).message, path + " is not a saved distribution");
}

}  // namespace
}  // namespace tarmic::testing
