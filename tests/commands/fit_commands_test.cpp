// The Fit command and the choice of the fit algorithm.
#include "app/preferences.h"
#include "commands_test_support.h"
#include "modelcalc/fit_driver.h"
#include "modelfit/model_flags.h"
#include "numerics/cvector.h"
#include "services/path_table.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

using FitCommandTest = CommandTest;

// Simulated annealing asks its four values (a cancelled input keeps its value),
// becomes the only checked algorithm and is stored as 2 on the preference line;
// the simplex choice stores 1.
TEST_F(FitCommandTest, AnnealingChoiceAsksItsValuesAndIsStored) {
  ResetFitDriver();
  ASSERT_EQ(WritePreferences(&Win()), 1);
  Backend().QueueInput("1.5");
  Backend().QueueInput(std::nullopt);  // temperature steps: cancelled
  Backend().QueueInput("200");
  Backend().QueueInput("2");  // final simplex
  Backend().QueueMessageBox(IDYES, "SET PREFERENCE");
  Dispatch(kCmFitAnnealing);
  EXPECT_FLOAT_EQ(SearchSettings().fAnnealStartTemp, 1.5f);
  EXPECT_FLOAT_EQ(SearchSettings().fAnnealTemp, 1.5f);
  EXPECT_EQ(SearchSettings().nAnnealTemps, 10);
  EXPECT_EQ(SearchSettings().nAnnealIters, 200);
  EXPECT_TRUE(SearchSettings().bAnnealFinalSimplex);
  EXPECT_FALSE(SearchSettings().bAnnealFinalML);
  EXPECT_TRUE(bFitAnnealing && !bFitSimplex && !bFitMarquardt);
  EXPECT_EQ(Backend().Transcript()[0].caption, "Fit With Simulated Annealing");
  CVector prefs;
  prefs.ReadFromFile(szParamsIni.c_str());
  EXPECT_FLOAT_EQ(prefs.Get(kPrefFitAlgorithm), 2.0f);

  Backend().QueueMessageBox(IDNO, "SET PREFERENCE");
  Dispatch(kCmFitSimplex);
  EXPECT_TRUE(bFitSimplex && !bFitAnnealing);
  ResetFitDriver();
}

// Fit without data: "load data first"; the command is available for the
// discrete-species models.
TEST_F(FitCommandTest, FitWithoutDataAsksForData) {
  ModelFlags().bDiscreteModel = true;
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmFit);
  ASSERT_FALSE(Backend().Transcript().empty());
  EXPECT_EQ(Backend().Transcript().back().text, "load data first");
  ModelFlags().bDiscreteModel = false;
}

}  // namespace
}  // namespace tarmic::testing
