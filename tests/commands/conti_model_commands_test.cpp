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
  pParams[kVariantSlotValue] = 1.8f;
  UnpackModelParams();
  EXPECT_FLOAT_EQ(fSecondFf0, 1.8f);
  // "Fit M and s" gives the discrete species by its mass.
  bFitMAndS = true;
  Dispatch(kCmContinuousCsOneDiscrete);
  EXPECT_TRUE(bCsOneDiscreteM);
  EXPECT_FALSE(bCsOneDiscreteD);
  bFitMAndS = false;
}

TEST_F(ContiModelCommandTest, RunComputesTheSizeAndShapeDistribution) {
  LoadSyntheticRun();
  Dispatch(kCmContinuousCsFf0);
  pParams[kContiSlotGridMin] = 1.0f;
  pParams[kContiSlotGridMax] = 10.0f;
  pParams[kContiSlotGridCount] = 10.0f;
  pParams[kContiSlotShape3] = 3.0f;
  pParams[kContiSlotConfidence] = 0.68f;
  UnpackModelParams();
  Dispatch(kCmRun);
  EXPECT_TRUE(bModelComputed);
  EXPECT_EQ(nFf0Grid, 30);
  double total = 0.0;
  for (int k = 1; k <= nFf0Grid; ++k) total += pCsff0Values[k];
  EXPECT_GT(total, 0.0);
  EXPECT_TRUE(BoxTexts().empty());
}

}  // namespace
}  // namespace tarmic::testing
