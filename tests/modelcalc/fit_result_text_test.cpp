// The lines of the fit-result text that depend on the fitted scans, on a floated
// vbar and on a prior probability.
#include "modelcalc/fit_result_text.h"

#include <gtest/gtest.h>

#include "tests/modelcalc/modelcalc_test_support.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "distributions/conti_run.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_prior.h"
#include "distributions/distribution_variants.h"
#include "modelcalc/error_analysis.h"
#include "scandata/analysis_switches.h"
#include "scandata/fit_limits.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"

namespace tarmic {
namespace {

class FitResultTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Reset();
    test::InstallVelocityScans(4, 50, 1000.0, 40000.0f);
    SetModelComputed(true);  // the fit rows stand for a model computed for these scans
  }
  void TearDown() override { Reset(); }
  static void Reset() {
    test::ResetModelCalcState();
    ResetDistributionModels();
    ResetDistributionPrior();
    ResetContiRun();
  }
};

// Runs test Z = |R - mu + 0.5| / sigma with mu = 2 n+ n- / N + 1 and
// sigma^2 = 2 n+ n- (2 n+ n- - N) / (N^2 (N - 1)) over the residual signs of the
// given scans, each scan's first point opening a run.
double WaldWolfowitzZ(const std::vector<std::string>& scans) {
  double plus = 0, minus = 0, runs = 0;
  for (const std::string& signs : scans)
    for (std::size_t i = 0; i < signs.size(); ++i) {
      (signs[i] == '+' ? plus : minus) += 1;
      if (i == 0 || signs[i] != signs[i - 1]) runs += 1;
    }
  const double n = plus + minus;
  const double mu = 2 * plus * minus / n + 1;
  const double var = 2 * plus * minus * (2 * plus * minus - n) / (n * n * (n - 1));
  return std::fabs(runs - mu + 0.5) / std::sqrt(var);
}

std::string RunsLine(double z) {
  char line[64];
  std::snprintf(line, sizeof line, "Runs test Z (#stddev) = %.2f", z);
  return line;
}

// Fitting limits that hold no point of a scan leave it out of the rmsd; when they
// hold no point of any scan (a meniscus typed beyond the data puts the left limit
// past them all) there is no rmsd and the result names the limits, which is what
// Run and Fit refuse with. A scan's earlier point range had stayed: the rmsd was
// taken over points outside the limits, and the refusal never came.
TEST_F(FitResultTextTest, LimitsWithoutAPointOfAScanLeaveItOut) {
  bBatchMode = true;  // (the note that the right limit lay beyond scan 1)
  // Scan 1 lies at 5.5-5.9 cm, below the fitting range; scans 2-4 at 6.02-7.18 cm.
  for (int i = 1; i <= DataSet().pnPoints[1]; ++i)
    DataSet().ppRadius[1][i] = 5.5f + 0.4f * static_cast<float>(i - 1) / static_cast<float>(DataSet().pnPoints[1] - 1);
  ASSERT_TRUE(BuildCommonRadialGrid());
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  const float left = DataSet().fFitLeftLim, right = DataSet().fFitRightLim;
  ASSERT_GT(left, 5.9f);
  // Residuals: 1 on scan 1, 0.25 inside the limits, 3 outside them.
  long long inside = 0;
  for (int s = 1; s <= DataSet().nScans; ++s) {
    for (int i = 1; i <= DataSet().pnPoints[test::Idx(s)]; ++i) {
      const float r = DataSet().ppRadius[test::Idx(s)][i];
      const bool in = s > 1 && r >= left && r <= right;
      inside += in;
      DataSet().ppFit[test::Idx(s)][i] = 0.0f;
      DataSet().ppSignal[test::Idx(s)][i] = s == 1 ? 1.0f : (in ? 0.25f : 3.0f);
    }
  }
  ASSERT_GT(inside, 100);
  SetModelComputed(true);  // the rows above stand for the model of these data
  EXPECT_GT(DataSet().pFitFirst[1], DataSet().pFitLast[1]);
  EXPECT_FLOAT_EQ(FitRmsd(), 0.25f);
  EXPECT_EQ(Rmsd().fFitPoints, static_cast<float>(inside));
  EXPECT_EQ(CountFitPoints(), inside);
  EXPECT_EQ(RmsdLine().rfind("rmsd=0.250000", 0), 0u) << RmsdLine();

  // The meniscus beyond the last radius: no scan and no grid point inside.
  DataSet().fMeniscus = 7.185f;
  SetLeftFitLimitIndices();
  SetRightFitLimitIndices();
  ASSERT_GT(DataSet().fFitLeftLim, 7.18f);
  for (int s = 1; s <= DataSet().nScans; ++s) {
    EXPECT_EQ(DataSet().pFitFirst[test::Idx(s)], DataSet().pnPoints[test::Idx(s)] + 1) << s;
    EXPECT_EQ(DataSet().pFitLast[test::Idx(s)], DataSet().pnPoints[test::Idx(s)]) << s;
  }
  EXPECT_GT(CurrentGrid().iFitFirst, CurrentGrid().iFitLast);
  EXPECT_EQ(CountFitPoints(), 0);
  EXPECT_EQ(FitRmsd(), 0.0f);
  EXPECT_EQ(Rmsd().fFitPoints, 0.0f);
  EXPECT_EQ(RmsdLine(), NoFitPointText());
  EXPECT_EQ(RmsdLine().rfind("no data point lies inside the fitting limits", 0), 0u);
}

// The runs test takes the scans the rmsd takes: with the scan window of a
// time-dependent fit only the scans inside it, otherwise all but an initial first
// scan. Scans 2 and 3 have residuals of alternating sign (many runs), scans 1 and 4
// one sign each.
TEST_F(FitResultTextTest, RunsTestCoversTheScansOfTheFit) {
  std::vector<std::string> signs(5);
  for (int s = 1; s <= DataSet().nScans; ++s) {
    const std::size_t u = test::Idx(s);
    for (int i = DataSet().pFitFirst[u]; i <= DataSet().pFitLast[u]; ++i) {
      const bool alternate = s == 2 || s == 3;
      const bool positive = alternate ? i % 2 == 1 : s == 1;
      DataSet().ppSignal[u][i] = 1.0f;
      DataSet().ppFit[u][i] = positive ? 0.99f : 1.01f;
      signs[u] += positive ? '+' : '-';
    }
  }
  SetModelComputed(true);  // the rows above stand for the model of these data
  Rmsd().bFitScanWindow = true;
  Rmsd().iFitScanWindowFirst = 2;
  Rmsd().iFitScanWindowLast = 3;
  EXPECT_EQ(BuildFitResultLines()[kSlotRuns], RunsLine(WaldWolfowitzZ({signs[2], signs[3]})));
  Rmsd().bFitScanWindow = false;
  EXPECT_EQ(BuildFitResultLines()[kSlotRuns],
            RunsLine(WaldWolfowitzZ({signs[1], signs[2], signs[3], signs[4]})));
  Rmsd().bFirstScanIsInitial = true;
  EXPECT_EQ(BuildFitResultLines()[kSlotRuns],
            RunsLine(WaldWolfowitzZ({signs[2], signs[3], signs[4]})));
}

// The vbar line: fixed, floated, and with a sedimenting cosolute the apparent vbar
// beside the macromolecule's; the regularisation heading names the prior file.
TEST_F(FitResultTextTest, VbarLineAndPriorHeadingFollowTheSettings) {
  ModelFlags().bDiscreteModel = true;
  SolventConstants().VBAR = 0.73f;
  EXPECT_EQ(BuildFitResultLines()[kSlotVbar], "vbar = 0.7300 (fix)");
  SolventSettings().gInhomSolvent.bInhomogeneousSolvent = true;
  SolventSettings().gInhomSolvent.bFitVbar = true;
  EXPECT_EQ(BuildFitResultLines()[kSlotVbar], "vbar = 0.7300 (floating)");
  SolventSettings().gInhomSolvent.bCosoluteDynamicGradient = true;
  SolventSettings().gInhomSolvent.vbarEffective = 0.745f;
  EXPECT_EQ(BuildFitResultLines()[kSlotVbar],
            "vbar = 0.7300 (fix), apparent vbar = 0.7450 (floating)");
  SolventSettings().gInhomSolvent.bFitVbar = false;
  EXPECT_EQ(BuildFitResultLines()[kSlotVbar],
            "vbar = 0.7300 (fix), apparent vbar = 0.7450 (fix)");
  ResetInhomSolventSettings();

  ModelFlags().bDiscreteModel = false;
  ModelFlags().bContiSModel = true;
  DistributionModels().fConfidenceLevel = 0.68f;
  EXPECT_EQ(BuildFitResultLines()[kSlotModel1], "ME regularization P = 0.68");
  DistributionModels().bUsePrior = true;
  DistributionPrior().szPriorFile = "/data/run7/prior.dat";
  EXPECT_EQ(BuildFitResultLines()[kSlotModel1],
            "ME regularization P = 0.68, with prior probability prior.dat");
}

// The settings line of a continuous model names the values its kernels use: the D
// of the constant-D model (not a frictional ratio left from another model), the
// second f/f0 range of the bimodal model, and the discrete component where there
// is one.
TEST_F(FitResultTextTest, ContinuousSettingsLineNamesTheValuesTheKernelsUse) {
  ModelFlags().bContiModel = true;
  SolventConstants().fFrictionalRatio = 1.25f;
  ModelFlags().bConstantDModel = true;
  DistributionKernels().fInvariantD = 0.5f;
  EXPECT_EQ(BuildFitResultLines()[kSlotModel2].rfind("D = 0.500000", 0), 0u);
  ModelFlags().bConstantDModel = false;
  ModelFlags().bContiSModel = ModelFlags().bCsBimodalFf0OneDiscrete = true;
  DistributionVariants().fBimodalSMin = 5.0f;
  DistributionVariants().fBimodalSMax = 9.0f;
  DistributionVariants().fSecondFf0 = 2.5f;
  DistributionVariants().fDiscreteS = 3.0f;
  DistributionVariants().fDiscreteM = 350.0f;
  EXPECT_EQ(BuildFitResultLines()[kSlotModel2],
            "frict ratio = 1.250000, except when s is within [5.00,9.00]: ff0 = 2.500000"
            " - [s1 = 3.000, M1 = 350.000]");
  ModelFlags().bCsBimodalFf0OneDiscrete = false;
  ResetDistributionVariants();
}

// The 1-4-8 and 1-2-4 models compute with the values the text names: the largest
// oligomer's s from entry 8, the second log K from entry 7 (a start simplex treats
// entries 3 and 7 as log K), and the masses 4 and 8 (2 and 4) times the monomer's.
TEST_F(FitResultTextTest, LargeOligomerLinesNameTheValuesTheModelUses) {
  for (bool* model : {&ModelFlags().bAssoc148, &ModelFlags().bAssoc124}) {
    *model = true;
    const float f2 = model == &ModelFlags().bAssoc148 ? 4.0f : 2.0f;
    for (const auto& [slot, value] : {std::pair{1, 20000.0f}, {3, 4.5f}, {5, 3.0f}, {6, 7.5f},
                                      {7, 9.25f}, {8, 11.0f}, {11, 0.8f}})
      AnalysisSwitches().pParams[slot] = value;
    UnpackModelParams();
    EXPECT_EQ(ModelOptions().fOligoS3, 11.0f);
    EXPECT_EQ(ModelOptions().fAssocLogKb, 9.25f);
    EXPECT_EQ(ModelOptions().fOligoD3, 2.0f * f2 * 20000.0f);
    const FitTextLines l = BuildFitResultLines();
    EXPECT_NE(l[kSlotModel1].find(Format("= %.0f", 2.0 * f2 * 20000.0)), std::string::npos)
        << l[kSlotModel1];
    EXPECT_NE(l[kSlotModel1].find(Format("= %.0f,", f2 * 20000.0)), std::string::npos)
        << l[kSlotModel1];
    EXPECT_NE(l[kSlotModel2].find("= 11.000"), std::string::npos) << l[kSlotModel2];
    EXPECT_NE(l[kSlotModel3].find("=9.250"), std::string::npos) << l[kSlotModel3];
    *model = false;
  }
}

}  // namespace
}  // namespace tarmic
