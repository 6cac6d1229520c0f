// The README's way to a model outside the menu: Ctrl+U writes the parameter file,
// its lines are edited, the file is dropped on the window and Run computes the model
// the file names. Whatever model the file was written under, the c(s) it chooses
// finds the species of a synthetic run.
#include "distribution_window_test_support.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "distributions/distribution_arrays.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_models.h"
#include "modelfit/model_params.h"
#include "resources/command_ids.h"

namespace tarmic::testing {
namespace {

class ParameterFileModelTest : public DistributionWindowTest {
 protected:
  // Ctrl+U, then the file's lines (1-based) replaced as a text editor would.
  void WriteAndEditParameterFile(const std::vector<std::pair<int, std::string>>& edits) {
    std::remove(DataSet().szTmpParsPath.c_str());
    PressKeyAndRun('U', MK_CONTROL);
    std::vector<std::string> lines = Lines(ReadFile(DataSet().szTmpParsPath));
    ASSERT_GE(lines.size(), 174u);
    for (const auto& [line, text] : edits) lines[Idx(line - 1)] = text;
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    WriteFile(DataSet().szTmpParsPath, text);
  }

  // Drops the file on the window and answers "switch to parameter file ...?" with Yes.
  void DropParameterFile() {
    Backend().ClearTranscript();
    Backend().QueueMessageBox(IDYES);
    Drop({DataSet().szTmpParsPath});
    EXPECT_TRUE(Backend().AllAnswersUsed());
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"switch to parameter file ~tmppars.ra1?"});
  }

  // A discrete analysis of three species, the second and third with values that
  // stand where a continuous model keeps its confidence level (D of species 2),
  // vbar (D of species 3), density (s of species 3) and f/f0 (loading of species 3,
  // floated).
  static void ThreeSpeciesDiscreteAnalysis() {
    for (int k = 1; k <= 3; ++k) AnalysisSwitches().pSpeciesLinked[k] = 1;
    ModelParams().pSpeciesMassOrD[2] = 4.0f;
    ModelParams().pSpeciesS[2] = 7.0f;
    ModelParams().pSpeciesAmplitude[2] = 0.1f;
    ModelParams().pSpeciesMassOrD[3] = 2.0f;
    ModelParams().pSpeciesS[3] = 9.0f;
    ModelParams().pSpeciesAmplitude[3] = 0.05f;
    ModelParams().pSpeciesAmplitudeFit[3] = 1;
    PackModelParams();
  }
};

// The recipe of the README for c(s) (line 73 = 1, line 3 = 100, line 5 = 0.1,
// line 7 = 20), started from c(M) and from the discrete species.
TEST_F(ParameterFileModelTest, ReadmeCsRecipeWorksFromEveryStartingModel) {
  LoadSyntheticRun();
  for (int start : {kCmContinuousCM, kCmDiscreteSpecies}) {
    SCOPED_TRACE(start);
    Dispatch(start);
    if (start == kCmDiscreteSpecies) ThreeSpeciesDiscreteAnalysis();
    WriteAndEditParameterFile({{73, "1"}, {3, "100"}, {5, "0.1"}, {7, "20"}});
    DropParameterFile();
    ASSERT_TRUE(ModelFlags().bContiSModel);
    EXPECT_FALSE(ModelFlags().bDiscreteModel);
    // The solvent and the engine's settings, not the species' values.
    EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.73f);
    EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.0f);
    EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.2f);
    EXPECT_FLOAT_EQ(DistributionModels().fConfidenceLevel, 0.95f);
    EXPECT_EQ(AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio], 0);

    Backend().ClearTranscript();
    PressKeyAndRun('R', MK_CONTROL);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{});
    ASSERT_TRUE(AnalysisSwitches().bModelComputed);
    EXPECT_EQ(DistributionVectors().nDistGrid, 100);
    EXPECT_NEAR(DistributionVectors().pDistGrid[1], 0.1, 1e-4f);
    EXPECT_NEAR(DistributionVectors().pDistGrid[DistributionVectors().nDistGrid], 20.0, 1e-3f);
    EXPECT_LT(FitRmsd(), 1.5 * kSyntheticNoise);
    float area = 0, mean = 0, total = 0;
    IntegrateDistribution(0.1f, 20.0f, &area, &mean, &total, nullptr, nullptr, nullptr);
    EXPECT_NEAR(mean, kSyntheticS, 0.03 * kSyntheticS);
    EXPECT_NEAR(area, kSyntheticLoading, 0.05 * kSyntheticLoading);
  }
}

// c(M) (line 73 = 235) from a discrete analysis: the Parameters dialog opens with
// the solvent's vbar, density and viscosity and the engine's f/f0 and confidence
// level, not with the species' values.
TEST_F(ParameterFileModelTest, CMFromADiscreteFileTakesTheCurrentSettings) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  ThreeSpeciesDiscreteAnalysis();
  WriteAndEditParameterFile({{73, "235"}, {3, "30"}, {5, "20000"}, {7, "400000"}});
  DropParameterFile();
  ASSERT_TRUE(ModelFlags().bContiModel);
  ASSERT_FALSE(IsSGridModel());
  Backend().QueueDialog(IDOK);
  PressKeyAndRun('P', MK_CONTROL);
  ASSERT_TRUE(Backend().AllAnswersUsed());
  const TransferBuffer& shown = Win().paramsTransfer;
  EXPECT_EQ(shown.text.at(413), "0.95000");  // confidence level
  EXPECT_EQ(shown.text.at(420), "0.73000");  // partial specific volume
  EXPECT_EQ(shown.text.at(421), "1.00000");  // buffer density
  EXPECT_EQ(shown.text.at(426), "0.01002");  // buffer viscosity (P)
  EXPECT_EQ(shown.text.at(419), "1.20000");  // frictional ratio
  EXPECT_FALSE(shown.checked.at(416));       // f/f0 not floated
}

// A file whose discrete switch (line 68) was set to 0 as well reads as a file of
// the continuous model: its values stand, and only the settings that cannot be 0
// (vbar, f/f0, density, viscosity) take the current values where they are 0.
TEST_F(ParameterFileModelTest, SettingsLeftAtZeroTakeTheCurrentValues) {
  LoadSyntheticRun();
  Dispatch(kCmDiscreteSpecies);
  WriteAndEditParameterFile(
      {{68, "0"}, {73, "1"}, {3, "50"}, {5, "0.1"}, {7, "20"}, {14, "0.68"}, {25, "1.02"}});
  DropParameterFile();
  ASSERT_TRUE(ModelFlags().bContiSModel);
  EXPECT_FLOAT_EQ(DistributionModels().fConfidenceLevel, 0.68f);  // line 14 as written
  EXPECT_FLOAT_EQ(SolventConstants().fBufferDensity, 1.02f);    // line 25 as written
  EXPECT_FLOAT_EQ(SolventConstants().VBAR, 0.73f);              // line 23 held 0
  EXPECT_FLOAT_EQ(SolventConstants().fFrictionalRatio, 1.2f);   // line 21 held 0
  EXPECT_FLOAT_EQ(AnalysisSwitches().pParams[kContiSlotViscosity], 0.01002f);  // line 30 held 0
  EXPECT_EQ(AnalysisSwitches().pParams[kContiSlotGridCount], 50.0f);
}

}  // namespace
}  // namespace tarmic::testing
