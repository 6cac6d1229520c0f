// The model commands of the discrete-species families: flags of one family only,
// check marks, start switches, the simulation arrays with the blocks of the new
// model, the buffer mismatch kept or refused, the start-time offset and the
// loading of electrophoresis data.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/markers.h"
#include "app/shell_hooks.h"
#include "commands/model_commands.h"
#include "lamm/lamm_globals.h"
#include "modelcalc/model_computation.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_options.h"
#include "modelfit/model_params.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/sim_arrays.h"
#include "resources/menus.h"
#include "scandata/analysis_switches.h"
#include "scandata/scan_file.h"
#include "tests/commands/commands_test_support.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class DiscreteModelCommandTest : public CommandTest {
 protected:
  void SetUp() override {
    CommandTest::SetUp();
    ResetAll();
    LammSettings().nLammGridPoints = 300;  // small arrays
    Handle().AttachMenu(GetMenuResource(kMenuFull));
  }
  void TearDown() override {
    ResetAll();
    CommandTest::TearDown();
  }
  static void ResetAll() {
    ResetSimArrays();
    ResetModelFlags();
    ModelFlags().bFitMAndS = false;
    ResetLammGlobals();
    ResetLammSettings();
    ResetModelOptions();
    ResetBufferSedimentation();
    ResetModelParams();
  }
  bool Checked(int id) { return Handle().IsMenuItemChecked(id); }
  static bool AnySwitchFloated() {
    for (int i = 1; i <= nModelParams; ++i)
      if (AnalysisSwitches().pParamFitFlags[i] != 0) return true;
    return false;
  }
};

// Each model leaves exactly its family on, unchecks the model before it, starts
// with nothing floated and gets arrays with the blocks of its propagator.
TEST_F(DiscreteModelCommandTest, ModelsSetTheirFamilyAndReallocateTheArrays) {
  Dispatch(kCmContinuousCs);  // from a continuous model, with the meniscus floated
  ASSERT_TRUE(ModelFlags().bContiModel);
  ModelParams().bVaryMeniscus = true;

  Dispatch(kCmDiscreteSpecies);
  EXPECT_TRUE(ModelFlags().bDiscreteModel);
  EXPECT_FALSE(IsContinuousModel());
  EXPECT_FALSE(AnySwitchFloated());
  EXPECT_TRUE(LammArrays().bSimArraysAllocated);
  EXPECT_EQ(LammArrays().nSimGridPointsAllocated, 300);
  EXPECT_TRUE(SimArraysMatchModel());
  EXPECT_EQ(SimWork().pLocalS, nullptr);  // ideal species: no concentration-dependent block

  Dispatch(kCmNonidealSingle);  // non-ideal single species: s(c), D(c) at the nodes
  EXPECT_TRUE(ModelFlags().bNonidealSpecies);
  EXPECT_FALSE(ModelFlags().bDiscreteModel);
  EXPECT_FALSE(Checked(kCmDiscreteSpecies));
  EXPECT_TRUE(SimArraysMatchModel());
  EXPECT_NE(SimWork().pLocalS, nullptr);
  EXPECT_NE(SimWork().pSedElem[6], nullptr);

  Dispatch(kCmNonidealMultiple);  // several non-ideal species are computed species by species
  EXPECT_TRUE(ModelFlags().bNonIdealMultiple);
  EXPECT_FALSE(ModelFlags().bNonidealSpecies);
  EXPECT_EQ(SimWork().pLocalS, nullptr);

  // The rapid self-association models (no menu items) need the block as well.
  for (void (TXLAWindow::*command)() :
       {&TXLAWindow::CmMonomerDimer, &TXLAWindow::CmMonomerTrimer, &TXLAWindow::CmAssoc124,
        &TXLAWindow::CmAssoc148}) {
    (Win().*command)();
    EXPECT_TRUE(IsSelfAssociationModel());
    EXPECT_FALSE(Checked(kCmNonidealMultiple));
    EXPECT_NE(SimWork().pLocalS, nullptr);
    EXPECT_TRUE(SimArraysMatchModel());
  }
  EXPECT_TRUE(ModelFlags().bAssoc148);
  EXPECT_FALSE(ModelFlags().bMonomerDimer || ModelFlags().bMonomerTrimer || ModelFlags().bAssoc124);
}

// Monomer-dimer starts unfloated with the dimer's D from the monomer's (D2 = D1
// (s2/s1)/2); 1-2-4 keeps the switches of the vector and fixes the two oligomer
// masses at 2 and 4 times the monomer's.
// Run with the cell geometry unset: the model computation refuses without a box of
// its own, and the Run command shows why, once.
TEST_F(DiscreteModelCommandTest, RunWithoutCellGeometryIsRefusedByTheCommand) {
  LoadVelocitySet();
  Dispatch(kCmDiscreteSpecies);
  DataSet().fMeniscus = 0.0f;
  const ModelResult direct = CalculateModel(&Handle());
  EXPECT_EQ(direct.status, ModelStatus::NotStarted);
  EXPECT_TRUE(BoxTexts().empty());
  Backend().QueueMessageBox(IDOK, "");
  Dispatch(kCmRun);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{direct.message});
  EXPECT_EQ(direct.message, "set Meniscus and Bottom first");
  EXPECT_FALSE(AnalysisSwitches().bModelComputed);
}

TEST_F(DiscreteModelCommandTest, SelfAssociationStartSwitchesAndOligomers) {
  AnalysisSwitches().pParams[1] = 6.0f;  // D1
  AnalysisSwitches().pParams[5] = 4.0f;  // s1
  AnalysisSwitches().pParams[6] = 6.0f;  // s2
  AnalysisSwitches().pParamFitFlags[5] = AnalysisSwitches().pParamFitFlags[2] = AnalysisSwitches().pParamFitFlags[12] = 1;
  UnpackModelParams();
  Win().CmMonomerDimer();
  EXPECT_FALSE(AnySwitchFloated());
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[2], 6.0f * (6.0f / 4.0f) / 2.0f);

  AnalysisSwitches().pParamFitFlags[5] = AnalysisSwitches().pParamFitFlags[2] = AnalysisSwitches().pParamFitFlags[12] = 1;
  UnpackModelParams();
  Win().CmAssoc124();
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[5], 1);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[2], 0);
  EXPECT_EQ(AnalysisSwitches().pParamFitFlags[12], 0);
  EXPECT_FLOAT_EQ(ModelOptions().fOligoD2, 2.0f * ModelOptions().fOligoD1);
  EXPECT_FLOAT_EQ(ModelOptions().fOligoD3, 4.0f * ModelOptions().fOligoD1);
}

// The buffer mismatch stays with the sector and planar cells (species 4 becomes
// the buffer component) and is switched off, with its note, by zone
// centrifugation and electrophoresis.
TEST_F(DiscreteModelCommandTest, BufferMismatchKeptWhenCompatibleElseSwitchedOff) {
  ScanFile().bInterferenceData = true;  // no note on absorbance data
  ModelFlags().bBufferSedCorrection = true;
  Handle().CheckMenuItem(kCmBufferSedimentation, true);
  Dispatch(kCmDiscreteSpecies);
  EXPECT_TRUE(ModelFlags().bBufferSedCorrection);
  EXPECT_EQ(AnalysisSwitches().pSpeciesLinked[4], 1);
  Dispatch(kCmLinearGeometry);
  EXPECT_TRUE(ModelFlags().bBufferSedCorrection);
  EXPECT_TRUE(Captions().empty());

  for (int id : {246, 291}) {
    ModelFlags().bBufferSedCorrection = true;
    Handle().CheckMenuItem(kCmBufferSedimentation, true);
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDOK, "Attention");
    Dispatch(id);
    EXPECT_TRUE(Backend().AllAnswersUsed()) << id;  // the note was shown
    EXPECT_FALSE(ModelFlags().bBufferSedCorrection) << id;
    EXPECT_FALSE(Checked(kCmBufferSedimentation)) << id;
    EXPECT_TRUE(Checked(id));
  }
}

// Electrophoresis data are read in their own field order and get the discrete
// electrophoresis model on a grid of 200 nodes.
TEST_F(DiscreteModelCommandTest, ElectrophoresisLoadingSetsModeModelAndGrid) {
  // Two scans of the electrophoresis field order (time in the second word).
  std::vector<std::string> files;
  for (int k = 1; k <= 2; ++k) {
    std::string text = ReadFile(ScanFixture("electrophoresis.ep1"));
    text.replace(text.find(" 1200 "), 6, k == 1 ? " 1200 " : " 2400 ");
    files.push_back(ProgramDir() + "/0000" + std::to_string(k) + ".ep1");
    WriteFile(files.back(), text);
  }
  Backend().QueueOpenFiles(files);
  Win().CmLoadElectrophoresisData();
  EXPECT_TRUE(ScanFile().bElectrophoresisMode);
  ASSERT_EQ(DataSet().nScans, 2);
  EXPECT_DOUBLE_EQ(DataSet().pScanInfo[1].time, 1200.0);
  EXPECT_TRUE(ModelFlags().bDiscreteModel && LammGlobals().bElectrophoresis);
  EXPECT_EQ(LammSettings().nLammGridPoints, 200);

  // A meniscus moved by its marker takes the bottom along: the cell keeps its length.
  GetShellHooks().packModelParams = PackModelParams;
  PackModelParams();
  const float length = DataSet().fBottom - DataSet().fMeniscus;
  ASSERT_GT(length, 0.0f);
  DataSet().fMeniscus += 0.1f;
  CopyGeometryToModelParams();
  EXPECT_NEAR(DataSet().fBottom - DataSet().fMeniscus, length, 1e-5);
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[14], DataSet().fBottom);
  GetShellHooks().packModelParams = nullptr;
}

}  // namespace
}  // namespace tarmic::testing
