// The model commands of the c(s) variants, c(s,ff0), ls-g*(s) and c(v): each names
// its model, puts its own settings into the parameter vector, and Run computes it.
#include "distribution_window_test_support.h"

#include "commands/model_commands.h"
#include "commands/unavailable_commands.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_variants.h"
#include "numerics/solvent_constants.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using ContiModelCommandTest = DistributionWindowTest;

TEST_F(ContiModelCommandTest, EveryModelCommandChoosesARunnableModelWithItsSettings) {
  for (int id : {595, 598, 531, 548, 870, 603, 514, 521, 288, 539, 510, 501, 513, 511, 602}) {
    EXPECT_FALSE(IsUnavailableCommand(id)) << id;
    Dispatch(id);
    EXPECT_EQ(ActiveModelCommand(), id);
    EXPECT_TRUE(RunnableModelActive()) << id;
    EXPECT_TRUE(IsContinuousModel()) << id;
    EXPECT_TRUE(IsSGridModel()) << id;
  }
  // The engine reads the variant settings back.
  Dispatch(kCmContinuousCsBimodalFf0);
  AnalysisSwitches().pParams[kVariantSlotValue] = 1.8f;
  UnpackModelParams();
  EXPECT_FLOAT_EQ(DistributionVariants().fSecondFf0, 1.8f);
  // "Fit M and s" gives the discrete species by its mass.
  ModelFlags().bFitMAndS = true;
  Dispatch(kCmContinuousCsOneDiscrete);
  EXPECT_TRUE(ModelFlags().bCsOneDiscreteM);
  EXPECT_FALSE(ModelFlags().bCsOneDiscreteD);
  ModelFlags().bFitMAndS = false;
}

TEST_F(ContiModelCommandTest, RunComputesTheSizeAndShapeDistribution) {
  LoadSyntheticRun();
  Dispatch(kCmContinuousCsFf0);
  AnalysisSwitches().pParams[kContiSlotGridMin] = 1.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 10.0f;
  AnalysisSwitches().pParams[kContiSlotGridCount] = 10.0f;
  AnalysisSwitches().pParams[kContiSlotShape3] = 3.0f;
  AnalysisSwitches().pParams[kContiSlotConfidence] = 0.68f;
  UnpackModelParams();
  Dispatch(kCmRun);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed);
  EXPECT_EQ(DistributionVectors().nFf0Grid, 30);
  double total = 0.0;
  for (int k = 1; k <= DistributionVectors().nFf0Grid; ++k) total += DistributionVectors().pCsff0Values[k];
  EXPECT_GT(total, 0.0);
  EXPECT_TRUE(BoxTexts().empty());

  // A rectangle over every f/f0 from 2 to 9 S: the report gives the signal-weighted
  // s (the synthetic species' 5 S), f/f0 and the averages of M and Rs, with the mass
  // that Svedberg's relation gives for the weight-average s and f/f0:
  // M = (6 pi eta N_A (f/f0) s (3 vbar / (4 pi N_A))^(1/3) / (1 - vbar rho))^(3/2).
  Backend().QueueMessageBox(IDOK, "INTEGRATE DISTRIBUTION");
  IntegrateSelectedRange(Win(), 2.0f, 9.0f, 0.5f, 5.0f);
  const std::string text = BoxText("INTEGRATE DISTRIBUTION");
  EXPECT_NE(text.find("Integral from 2.000000 to 9.000000 (x) and 0.500000 to 5.000000 (y):"), std::string::npos)
      << text;
  const double sw = NumberAfter(text, "Average sw = ");
  const double ff0w = NumberAfter(text, "Average ff0w = ");
  EXPECT_NEAR(sw, kSyntheticS, 0.05 * kSyntheticS);
  EXPECT_GE(ff0w, 1.0);
  const double NA = 6.02214e23, pi = 3.14159265358979;
  const double q = NA * 6.0 * pi * 0.01002 * SolventConstants().RELVISCOSITY * ff0w * sw * 1e-13 * std::cbrt(3.0 * SolventConstants().VBAR / (4.0 * pi * NA)) /
                   (1.0 - SolventConstants().VBAR * SolventConstants().fBufferDensity);
  EXPECT_NEAR(NumberAfter(text, "estimated M from (sw,ff0w): = "), std::pow(q, 1.5), 2e-3 * std::pow(q, 1.5));
  EXPECT_GT(NumberAfter(text, "Z (Signal) Average M = "), 0.0f);
  EXPECT_GT(NumberAfter(text, "(Signal) Average Rs = "), 0.0f);
}

}  // namespace
}  // namespace tarmic::testing
