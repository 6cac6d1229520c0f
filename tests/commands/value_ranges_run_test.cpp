// The table of valid values at the Run: values at the ends of their ranges give a
// finite result or a clear refusal, values outside them are refused with the file
// and line before anything is computed, and the analysis on show stays.
#include "distribution_window_test_support.h"

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "modelcalc/fit_persistence.h"
#include "scandata/experiment_file.h"
#include "modelfit/lamm_settings.h"
#include "modelfit/param_checks.h"
#include "numerics/value_ranges.h"
#include "tests/watchdog.h"

namespace tarmic::testing {
namespace {

class ValueRangesRunTest : public DistributionWindowTest {
 protected:
  // The c(s) model of the synthetic run on 8 grid points from 0 to 12 S, its
  // kernels on Lamm grids of at most 200 points (light, and as finite as any).
  void ChooseTinyCs() {
    ChooseSmallCs();
    AnalysisSwitches().pParams[kContiSlotGridCount] = 8.0f;
    UnpackModelParams();
    LammSettings().nGridSizeUpper = 200;
  }

  // The discrete model of the synthetic run's one species (D 6 x 1e-7 cm^2/s).
  void ChooseTheSyntheticSpecies() {
    Dispatch(kCmDiscreteSpecies);
    for (int k = 2; k <= 4; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
    AnalysisSwitches().pSpeciesLinked[1] = 1;
    ModelParams().pSpeciesS[1] = static_cast<float>(kSyntheticS);
    ModelParams().pSpeciesMassOrD[1] = 6.0f;
    ModelParams().pSpeciesAmplitude[1] = static_cast<float>(kSyntheticLoading);
    PackModelParams();
  }

  // Every value of the last Run that a user sees is a finite number.
  static bool ShownResultFinite() {
    for (int i = 1; IsContinuousModel() && DistributionVectors().pDistValues && DistributionVectors().pDistGrid && i <= DistributionVectors().nDistGrid; ++i)
      if (!std::isfinite(DistributionVectors().pDistValues[i]) || !std::isfinite(DistributionVectors().pDistGrid[i])) return false;
    for (int s = 1; s <= DataSet().nScans; ++s)
      for (int p = 1; p <= DataSet().pnPoints[Idx(s)]; ++p)
        if (!std::isfinite(DataSet().ppFit[Idx(s)][p])) return false;
    return true;
  }

  // The message boxes of the last command.
  std::vector<std::string> Messages() {
    std::vector<std::string> texts;
    for (const TranscriptEntry& e : Backend().Transcript())
      if (e.kind == "MessageBox") texts.push_back(e.text);
    return texts;
  }

  // Runs the model with one slot set to value; the slot is restored afterwards.
  // True when the Run computed a result that is finite everywhere; false when it
  // said why it computed nothing (a message) and kept what was on show.
  ::testing::AssertionResult RunWith(int slot, float value) {
    const float old = AnalysisSwitches().pParams[slot];
    AnalysisSwitches().pParams[slot] = value;
    UnpackModelParams();
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    AnalysisSwitches().bModelComputed = false;
    Dispatch(kCmRun);
    const bool computed = AnalysisSwitches().bModelComputed;
    const std::vector<std::string> messages = Messages();
    AnalysisSwitches().pParams[slot] = old;
    UnpackModelParams();
    if (computed && ShownResultFinite())
      return ::testing::AssertionSuccess() << "computed" << (messages.empty() ? "" : ": " + messages.front());
    if (computed) return ::testing::AssertionFailure() << "computed with values that are not finite";
    if (messages.empty()) return ::testing::AssertionFailure() << "nothing computed and nothing said";
    return ::testing::AssertionSuccess() << "refused: " << messages.front();
  }

  struct SlotQuantity {
    int slot;
    Quantity q;
  };

  // Each value at the ends of its range and at
  // +-1e30: every Run either computes a finite distribution and fit or says why it
  // computed none; outside the range the Run refuses before it computes (a
  // chi-square ratio set by other means is the regularisation's to judge, which
  // says how it reads it; the baseline is solved with the distribution).
  void RunAtTheEnds(std::initializer_list<SlotQuantity> values) {
    LoadSyntheticRun();
    ChooseTinyCs();
    Watchdog watchdog("c(s) Runs at the ends of the ranges");
    for (const SlotQuantity& v : values) {
      const ValueRange& r = v.q.range;
      for (double x : {r.low, r.high, 1e30, -1e30}) {
        SCOPED_TRACE(std::string(v.q.name) + " " + std::to_string(x));
        const auto outcome = RunWith(v.slot, static_cast<float>(x));
        ASSERT_TRUE(outcome) << outcome.message();
        const std::string said = outcome.message();
        if (std::fabs(x) < 1e30 || v.slot == 15) continue;
        if (v.slot == kContiSlotConfidence)
          EXPECT_NE(said, "computed");
        else
          EXPECT_EQ(said.rfind("refused: the " + std::string(v.q.name), 0), 0u) << said;
      }
    }
  }
};

// The solvent of a c(s) Run: dense salt and tungstate solutions, organic solvents,
// glycerol in the cold. The user's density of 1e30 gave an rmsd of 0.19 reported
// as computed.
TEST_F(ValueRangesRunTest, SolventAtTheEndsOfItsRangesGivesAFiniteDistributionOrARefusal) {
  RunAtTheEnds({{kContiSlotDensity, kBufferDensity},
                {kContiSlotViscosity, kBufferViscosity},
                {kContiSlotVbar, kPartialSpecificVolume}});
}

// The frictional ratio, the confidence level and the baseline of a c(s) Run.
TEST_F(ValueRangesRunTest, ShapeConfidenceAndBaselineAtTheEndsOfTheirRangesGiveAFiniteDistributionOrARefusal) {
  RunAtTheEnds({{kContiSlotFrictionalRatio, kFrictionalRatio},
                {kContiSlotConfidence, kConfidenceLevel},
                {15, kBaselineQuantity}});
}

// The species of the discrete model: s from flotation to beads of tens of
// micrometres, D from a sharp boundary to the smallest molecules, the loading
// signal: each Run computes a finite fit or says why it computed none; at 1e30 it
// refuses before it computes.
TEST_F(ValueRangesRunTest, DiscreteSpeciesAtTheEndsOfTheirRangesGiveAFiniteFitOrARefusal) {
  LoadSyntheticRun();
  ChooseTheSyntheticSpecies();
  LammSettings().nGridSizeUpper = 200;
  Watchdog watchdog("discrete Runs at the ends of the ranges");
  const struct {
    int slot;
    double low, high;
    const char* name;
  } values[] = {{5, -kMaxSedimentationCoefficient, kMaxSedimentationCoefficient, "sedimentation coefficient s"},
                {1, 0.0, kDiffusionCoefficient.range.high, "diffusion coefficient D"},
                {9, -kMaxSignal, kMaxSignal, "loading signal"}};
  for (const auto& v : values) {
    for (double x : {v.low, v.high, 1e30, -1e30}) {
      SCOPED_TRACE(std::string(v.name) + " " + std::to_string(x));
      const auto outcome = RunWith(v.slot, static_cast<float>(x));
      ASSERT_TRUE(outcome) << outcome.message();
      if (std::fabs(x) >= 1e30)
        EXPECT_EQ(std::string(outcome.message()).rfind("refused: the " + std::string(v.name), 0), 0u)
            << outcome.message();
    }
  }
}

// "max dc/c" of 0 made a Run that never ended (the moving grid stepped by 0). Set
// by any route, it is refused at the Run with the field named; at the lower end of
// its range a Run ends with a finite result.
TEST_F(ValueRangesRunTest, MaxDcOverCOfZeroIsRefusedAtTheRunAndItsLowestValueEnds) {
  LoadSyntheticRun();
  ChooseTheSyntheticSpecies();
  Watchdog watchdog("Runs with the smallest max dc/c");
  Backend().AnswerUnscriptedBoxes(IDOK);
  for (const double value : {0.0, -1.0, 1e-4}) {
    LammSettings().dMaxDcOverC = value;
    Backend().ClearTranscript();
    AnalysisSwitches().bModelComputed = false;
    Dispatch(kCmRun);
    EXPECT_FALSE(AnalysisSwitches().bModelComputed);
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages()[0].rfind("the max dc/c " + RefusedValueText(value) + " must lie between 0.01 and 10", 0), 0u)
        << Messages()[0];
  }
  // The lowest value, on a c(s) grid of two points (the static grid's steps are
  // the ones max dc/c sets).
  LammSettings().dMaxDcOverC = kMinMaxDcOverC;
  ChooseTinyCs();
  AnalysisSwitches().pParams[kContiSlotGridCount] = 2.0f;
  UnpackModelParams();
  Backend().ClearTranscript();
  Dispatch(kCmRun);
  EXPECT_TRUE(AnalysisSwitches().bModelComputed && ShownResultFinite());
}

// The other doors through which solvent and detector values come in judge them by
// the same table: an experiment file (its key named), the inhomogeneous-solvent,
// buffer-mismatch and fluorescence dialogs (the field named, the dialog shown
// again); what was loaded and set before stays.
TEST_F(ValueRangesRunTest, ExperimentFileAndSolventDialogsRefuseValuesOutsideTheirRanges) {
  LoadSyntheticRun();
  const float density = SolventConstants().fBufferDensity;
  ExperimentFile xp;
  xp.type = kXpSedVelocity;
  xp.directory = ProgramDir() + "/data";
  xp.files = {"00001.ra1", "00002.ra1"};
  xp.bufferDensity = 1e30f;
  const std::string path = ProgramDir() + "/dense.xp";
  WriteFile(path, FormatXpFile(xp));  // by hand: the program writes no such file
  Backend().ClearTranscript();
  Backend().QueueMessageBox(IDOK, "LOAD ERROR");
  LoadThroughDialog({path});
  EXPECT_TRUE(Backend().AllAnswersUsed());
  ASSERT_FALSE(Messages().empty());
  // The reader judges the density by the table's range and names its line.
  EXPECT_NE(Messages()[0].find(path + ": line 4 holds the buffer density 1e+30 g/ml, outside"),
            std::string::npos)
      << Messages()[0];
  EXPECT_NE(Messages()[0].find("(0.01 to 5 g/ml)"), std::string::npos) << Messages()[0];
  EXPECT_EQ(DataSet().nScans, kSyntheticScans);
  EXPECT_EQ(SolventConstants().fBufferDensity, density);

  const struct {
    int command;
    int field;
    const char* text;
  } dialogs[] = {{kCmInhomogeneousSolvent, 842, "the \"buffer density at 1 atm [g/ml]\" 1e+30 g/ml must lie between 0.01 and 5 g/ml"},
                 {kCmBufferSedimentation, 558, "the \"buffer s (sample side)\" 1e+30 S must lie between 0 and 1e+08 S"},
                 {kCmFloTools, 616, "the \"cone radius (cm)\" 1e+30 cm must lie between 0 and 20 cm"}};
  for (const auto& d : dialogs) {
    SCOPED_TRACE(d.text);
    Backend().ClearTranscript();
    TransferBuffer typed;
    typed.text[d.field] = "1e30";
    if (d.command == kCmInhomogeneousSolvent) typed.checked[857] = true;
    if (d.command == kCmFloTools) {
      Backend().QueueMessageBox(IDYES);  // not fluorescence data: go on
      typed.text[618] = "1";             // the power-law exponent is above 0
    }
    Backend().QueueDialog(IDOK, typed);
    Backend().QueueMessageBox(IDOK);
    Backend().QueueDialog(IDCANCEL);
    Dispatch(d.command);
    EXPECT_TRUE(Backend().AllAnswersUsed());
    ASSERT_FALSE(Messages().empty());
    EXPECT_EQ(Messages().back(), d.text);
  }
  EXPECT_EQ(SolventConstants().fBufferDensity, density);
  EXPECT_FALSE(ModelFlags().bBufferSedCorrection);
}

}  // namespace
}  // namespace tarmic::testing
