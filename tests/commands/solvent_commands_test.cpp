// The command "Inhomogeneous Solvent": the dialog's values become the settings,
// switching the model on and off converts s and D to standard conditions and back,
// and Cancel, a cancelled file choice or a too small cosolute grid change nothing.
#include <cmath>
#include <fstream>
#include <map>

#include "commands_test_support.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "numerics/solvent_constants.h"
#include "propagators/solvent_settings.h"
#include "resources/dialogs.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class SolventCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    ResetInhomSolventSettings();
    ResetModelParams();
    ResetModelFlags();
    SolventConstants().VBAR = 0.73f;
    SolventConstants().fBufferDensity = 1.0f;
    SolventConstants().fVRho = 0.73f;
    SolventConstants().RELVISCOSITY = 1.0f;
    LammSettings().bTruncateGrid = false;
  }
  void TearDown() override {
    ResetInhomSolventSettings();
    ResetModelParams();
    SolventConstants().VBAR = 0.73f;
    SolventConstants().fBufferDensity = 1.0f;
    SolventConstants().fVRho = 0.73f;
    SolventConstants().RELVISCOSITY = 1.0f;
    CommandTest::TearDown();
  }
  static TransferBuffer Values(std::map<int, std::string> text, std::map<int, bool> checked) {
    TransferBuffer b;
    b.text = std::move(text);
    b.checked = std::move(checked);
    return b;
  }
};

TEST_F(SolventCommandTest, StaticModelOnConvertsAndOffRestores) {
  ModelParams().pSpeciesS[1] = 4.0f;
  ModelParams().pSpeciesMassOrD[1] = 5.0f;
  Backend().QueueDialog(IDOK, Values({{841, "2.0"}, {842, "1.1"}, {843, "0.013"}},
                                     {{857, true}, {840, true}, {844, false}}));
  Backend().QueueMessageBox(IDOK, "Attention");
  Backend().QueueMessageBox(IDOK);
  Dispatch(kCmInhomogeneousSolvent);
  const InhomSolventSettings& st = SolventSettings().gInhomSolvent;
  EXPECT_TRUE(st.bInhomogeneousSolvent);
  EXPECT_TRUE(st.bCompressibleSolvent);
  EXPECT_NEAR(st.compressibility, 2e-4, 1e-9);
  EXPECT_FLOAT_EQ(st.density1atm, 1.1f);
  EXPECT_NEAR(st.viscosity1atm, 0.0013, 1e-9);
  EXPECT_NEAR(st.relViscosity, 0.0013 / 0.001002, 1e-5);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], 5.0 * 0.0013 / 0.001002, 1e-4);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], 4.0 * 0.0013 / 0.001002 * (1 - 0.73 * 0.99823) / (1 - 0.73 * 1.1), 1e-4);
  EXPECT_FLOAT_EQ(SolventConstants().RELVISCOSITY, 1.0f);
  EXPECT_EQ(BoxTexts().back(), "changing s and D (and M) to standard conditions!");

  // Confirming again while on changes the solvent but converts nothing; switching
  // off converts back with the factors of the way there.
  Backend().QueueDialog(IDOK, Values({{842, "1.3"}}, {}));
  Dispatch(kCmInhomogeneousSolvent);
  EXPECT_FLOAT_EQ(st.density1atm, 1.3f);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], 5.0 * 0.0013 / 0.001002, 1e-4);
  Backend().QueueDialog(IDOK, Values({}, {{857, false}}));
  Backend().QueueMessageBox(IDOK);
  Dispatch(kCmInhomogeneousSolvent);
  EXPECT_FALSE(st.bInhomogeneousSolvent);
  EXPECT_NEAR(ModelParams().pSpeciesS[1], 4.0, 1e-5);
  EXPECT_NEAR(ModelParams().pSpeciesMassOrD[1], 5.0, 1e-5);
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.3f);
  EXPECT_TRUE(Backend().AllAnswersUsed());

  // Under c(s) the species slots hold the model's own settings: on and off again
  // leaves grid limits and confidence as they were, and the solvent's density and
  // viscosity in their slots.
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  const std::map<int, float> settings = {{1, 1.0f}, {2, 0.68f}, {3, 0.73f}, {5, 15.0f}, {9, 100.0f},
                                         {7, 1.3f}, {12, 0.013f}};  // Poise
  for (const auto& [slot, value] : settings) AnalysisSwitches().pParams[slot] = value;
  UnpackModelParams();
  Backend().QueueDialog(IDOK, Values({}, {{857, true}}));
  Backend().QueueMessageBox(IDOK);
  Dispatch(kCmInhomogeneousSolvent);
  ASSERT_TRUE(st.bInhomogeneousSolvent);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[7], 0.99823f);  // standard conditions while on
  UnpackModelParams();                      // as a run would
  Backend().QueueDialog(IDOK, Values({}, {{857, false}}));
  Backend().QueueMessageBox(IDOK);
  Dispatch(kCmInhomogeneousSolvent);
  for (const auto& [slot, value] : settings) EXPECT_NEAR(AnalysisSwitches().pParams[slot], value, 1e-6) << slot;
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.3f);
  ModelFlags().bContiModel = ModelFlags().bContiSModel = false;
}

TEST_F(SolventCommandTest, CancelAndRefusalsChangeNothing) {
  ModelParams().pSpeciesS[1] = 4.0f;
  // Cancel: the settings stay as they were, without a box.
  Backend().QueueDialog(IDCANCEL, Values({{842, "1.5"}}, {{857, true}}));
  Dispatch(kCmInhomogeneousSolvent);
  EXPECT_FALSE(SolventSettings().gInhomSolvent.bInhomogeneousSolvent);
  EXPECT_FLOAT_EQ(SolventSettings().gInhomSolvent.density1atm, 0.99823f);
  EXPECT_EQ(SolventSettings().gInhomSolvent.vbarSolvated, 0.0f);
  EXPECT_TRUE(BoxTexts().empty());

  // A cosolute grid below 10 points keeps the dialog open; Cancel then ends it.
  Backend().QueueDialog(IDOK, Values({{851, "5"}}, {{857, true}, {844, true}, {840, false}}));
  Backend().QueueMessageBox(IDOK, "Input Error");
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmInhomogeneousSolvent);
  EXPECT_FALSE(SolventSettings().gInhomSolvent.bInhomogeneousSolvent);
  EXPECT_FALSE(SolventSettings().gInhomSolvent.bCosoluteDynamicGradient);
  EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], 4.0f);

  // A cancelled file choice keeps the nonideal cosolute and its file; the buffer
  // values at the loading concentration come from the coefficient files.
  std::ofstream(ProgramDir() + "/density.dat") << "0.99823\n0.5\n1.2\n";
  std::ofstream(ProgramDir() + "/viscosity.dat") << "1.0\n0\n2.0\n";
  Backend().QueueDialog(IDOK, Values({{846, "1.5"}, {851, "40"}},
                                     {{857, false}, {844, true}, {840, false}, {847, true},
                                      {863, false}, {858, true}}));
  Backend().QueueOpenFiles({});
  Dispatch(kCmInhomogeneousSolvent);
  EXPECT_TRUE(BoxTexts().size() == 1u);  // only the "Input Error" above
  EXPECT_TRUE(SolventSettings().gInhomSolvent.nonidealCosolute);
  EXPECT_TRUE(SolventSettings().gInhomSolvent.dNonidealPath.empty());
  EXPECT_EQ(CosoluteGridSize(SolventSettings().gInhomSolvent), 40);
  EXPECT_NEAR(SolventSettings().gInhomSolvent.density1atm, 0.99823 + 0.5e-3 * std::sqrt(1.5) + 1.2e-2 * 1.5, 1e-6);
  EXPECT_NEAR(SolventSettings().gInhomSolvent.relViscosity, 1.0 + 2e-2 * 1.5, 1e-6);
  EXPECT_FLOAT_EQ(SolventSettings().gInhomSolvent.vbarEffective, 0.73f);  // solvated vbar shown as VBAR
  EXPECT_TRUE(Backend().AllAnswersUsed());
}

// Every number field, typed with a text that is no number, a negative or an
// absurd number, is refused with one box naming the field by its label and giving
// its range, and the dialog stays open; the values it opens with pass OK
// unchanged. A compressibility of 1e30 per MPa (a solvent of no density at all)
// is among them.
TEST_F(SolventCommandTest, EveryNumberFieldRefusesBadValuesNamingTheField) {
  Backend().QueueDialog(IDOK);
  Dispatch(kCmInhomogeneousSolvent);
  EXPECT_TRUE(BoxTexts().empty());
  EXPECT_FALSE(SolventSettings().gInhomSolvent.bInhomogeneousSolvent);
  const DialogTemplate& dialog = GetDialogTemplate(std::to_string(kInhomSolventDialogId));
  for (const int id : {838, 841, 842, 843, 845, 846, 864, 865, 851}) {
    const std::string label = "the \"" + std::string(ControlLabel(dialog, id)) + "\"";
    for (const char* typed : {"nan", "inf", "abc", "", "-1", "1e30"}) {
      SCOPED_TRACE(std::to_string(id) + " = \"" + typed + "\"");
      Backend().ClearTranscript();
      Backend().QueueDialog(IDOK, Values({{id, typed}}, {{857, true}, {844, true}, {840, false}}));
      Backend().QueueMessageBox(IDOK, "Input Error");
      Backend().QueueDialog(IDCANCEL);
      Dispatch(kCmInhomogeneousSolvent);
      EXPECT_TRUE(Backend().AllAnswersUsed());
      ASSERT_EQ(BoxTexts().size(), 1u);
      EXPECT_EQ(BoxTexts()[0].rfind(label, 0), 0u) << BoxTexts()[0];
      EXPECT_NE(BoxTexts()[0].find(" must lie between "), std::string::npos) << BoxTexts()[0];
      EXPECT_FALSE(SolventSettings().gInhomSolvent.bInhomogeneousSolvent);
    }
  }
  Backend().ClearTranscript();
  Backend().QueueDialog(IDOK, Values({{841, "1e30"}}, {{857, true}, {840, true}, {844, false}}));
  Backend().QueueMessageBox(IDOK, "Input Error");
  Backend().QueueDialog(IDCANCEL);
  Dispatch(kCmInhomogeneousSolvent);
  ASSERT_EQ(BoxTexts().size(), 1u);
  EXPECT_EQ(BoxTexts()[0], "the \"compressibility [1e-4/MPa]\" 1e+30 must lie between 0 and 100");
  EXPECT_NEAR(SolventSettings().gInhomSolvent.compressibility, 4.591e-4, 1e-9);
}

}  // namespace
}  // namespace tarmic::testing
