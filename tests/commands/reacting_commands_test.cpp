// "Fit M and s" and the choice of the reacting model A + B <--> AB.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "modelfit/modelfit_hooks.h"
#include "numerics/solvent_constants.h"
#include "propagators/reacting_system.h"
#include "propagators/sim_arrays.h"
#include "propagators/sim_arrays_doors.h"
#include "tests/commands/commands_test_support.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class ReactingCommandTest : public CommandTest {
 protected:
  void TearDown() override {
    ResetSimArrays();
    ResetModelFlags();
    ModelFlags().bFitMAndS = false;
    ResetReactingSystem();
    ResetModelParams();
    GetModelFitHooks().packReactingSystem = nullptr;
    CommandTest::TearDown();
  }
};

// The toggle converts the species' D into M by the Svedberg equation and back.
TEST_F(ReactingCommandTest, FitMAndSConvertsDToMAndBack) {
  ModelParams().pSpeciesMassOrD[1] = 5.0f;  // 1e-7 cm^2/s
  ModelParams().pSpeciesS[1] = 4.0f;
  ModelParams().pSpeciesMassOrD[2] = 0.0f;  // no D: nothing to convert
  ModelParams().pSpeciesS[2] = 3.0f;
  Dispatch(kCmFitMAndS);
  EXPECT_TRUE(ModelFlags().bFitMAndS);
  EXPECT_TRUE(Handle().IsMenuItemChecked(kCmFitMAndS));
  // M = s R T / ((1 - vbar rho) D) at 20 C without data.
  const double M = 4e-13 * 8.31451e7 * 293.15 / ((1 - SolventConstants().fVRho) * 5e-7);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], M, 1e-4 * M);
  EXPECT_EQ(AnalysisSwitches().pParams[1], ModelParams().pSpeciesMassOrD[1]);
  EXPECT_EQ(ModelParams().pSpeciesMassOrD[2], 0.0f);
  Dispatch(kCmFitMAndS);
  EXPECT_FALSE(ModelFlags().bFitMAndS);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], 5.0f, 1e-5f);
}

// Without data the model is chosen with masses, uniform loading, the moving hat,
// the loading equilibrium in the complex's slot and the reacting arrays.
TEST_F(ReactingCommandTest, ChoosingTheModelSetsUpSpeciesAndArrays) {
  ASSERT_TRUE(AllocSimArrays());
  EXPECT_EQ(LammArrays().pFreeA, nullptr);
  Dispatch(kCmHeteroAssocModel);
  EXPECT_TRUE(ModelFlags().bHeteroAssocModel);
  EXPECT_TRUE(ModelFlags().bFitMAndS);
  EXPECT_TRUE(Handle().IsMenuItemChecked(kCmFitMAndS));
  EXPECT_TRUE(AnalysisSwitches().bUniformLoading);
  EXPECT_TRUE(LammSettings().bMovingHat);
  EXPECT_EQ(ModelParams().pSpeciesMassOrD[3], 200000.0f);
  EXPECT_EQ(ModelParams().pSpeciesS[3], 11.0f);
  EXPECT_NEAR(ModelParams().pSpeciesAmplitude[3], (2 - std::sqrt(3.0)) / 2, 1e-6);  // Ka = 1, atot = btot = 0.5
  EXPECT_EQ(AnalysisSwitches().pParams[11], ModelParams().pSpeciesAmplitude[3]);
  for (int k = 1; k <= 4; ++k) EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[k], 0);
  EXPECT_NE(LammArrays().pFreeA, nullptr);
  EXPECT_NE(SimWork().pComplexMassElem[6], nullptr);

  // log(Ka), extico a and extico b stand in the vector (entries 8, 4, 12), so the
  // dialog and a fit reach them: the loading complex is the smaller root of
  // Ka (a - x)(b - x) = x with a = atot / extico a, b = btot / extico b.
  EXPECT_EQ(AnalysisSwitches().pParams[8], 0.0f);
  EXPECT_EQ(AnalysisSwitches().pParams[4], 1.0f);
  EXPECT_EQ(AnalysisSwitches().pParams[12], 1.0f);
  GetModelFitHooks().packReactingSystem = [] { PackReactingSystem(); };
  for (const auto& [lgKa, extA, extB] : {std::tuple{2.0f, 1.0f, 1.0f}, {-1.5f, 2.0f, 0.5f}}) {
    AnalysisSwitches().pParams[8] = lgKa;
    AnalysisSwitches().pParams[4] = extA;
    AnalysisSwitches().pParams[12] = extB;
    UnpackModelParams();
    const double a = 0.5 / extA, b = 0.5 / extB, K = std::pow(10.0, lgKa);
    const double q = a + b + 1 / K;
    EXPECT_NEAR(AnalysisSwitches().pParams[11], (q - std::sqrt(q * q - 4 * a * b)) / 2, 1e-6) << lgKa;
  }
}

// With DLS data the command only says that the model does not apply.
TEST_F(ReactingCommandTest, DlsDataOnlyGetTheMessage) {
  DataSet().bDLSData = true;
  Backend().QueueMessageBox(IDOK, "ERROR");
  Dispatch(kCmHeteroAssocModel);
  EXPECT_FALSE(ModelFlags().bHeteroAssocModel);
  EXPECT_FALSE(ModelFlags().bFitMAndS);
  ASSERT_EQ(Backend().MessageBoxCaptions().size(), 1u);
  EXPECT_EQ(Backend().Transcript().back().text, "this model is not implemented for DLS data");
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

}  // namespace
}  // namespace tarmic::testing
