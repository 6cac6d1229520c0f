// Saving and restoring the analysis state through the parameter file, and the
// parameter report.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sstream>

#include <filesystem>
#include <set>
#include <span>
#include <fstream>
#include <string>
#include <vector>

#include "distributions/distribution_grid.h"
#include "modelcalc/fit_persistence.h"
#include "modelcalc/parameter_report.h"
#include "modelcalc/fit_rmsd.h"
#include "numerics/value_ranges.h"
#include "platform/headless/headless_backend.h"
#include "tests/modelcalc/modelcalc_test_support.h"

namespace tarmic {
namespace {

class FitPersistenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tarmic_fitpers_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ResetAll();
  }
  void TearDown() override {
    ResetAll();
    std::filesystem::remove_all(dir_);
  }
  void ResetAll() {
    test::ResetModelCalcState();
    ResetFitPersistenceHooks();
    LammGlobals().bLinearGeometry = LammGlobals().bPlanarQuadrature = LammGlobals().bExternalLoadingCell = LammGlobals().bElectrophoresis = false;
    FitPersistence().bRestorePreviousParams = false;
    // Not model flags: the model reset keeps them.
    ModelFlags().bFitMAndS = ModelFlags().bBufferSedCorrection = false;
    DataSet().szTmpParsPath = (dir_ / "~tmppars.ra1").string();
    SolventConstants().VBAR20 = 0.73f;
  }

  // Model flags reset, then the given flags set: saved, cleared, reloaded.
  static void SaveAndReload(std::initializer_list<bool*> flags) {
    ResetModelFlags();
    AnalysisSwitches().bEqAnalysisModel = false;
    for (bool* f : flags) *f = true;
    TmpSaveBestParams(nullptr, false);
    ResetModelFlags();
    AnalysisSwitches().bEqAnalysisModel = false;
    for (bool* f : flags) *f = false;
    ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
  }

  // A c(s) analysis in the cell 6.0-7.2 cm saved to the parameter file.
  static void SaveContinuousAnalysis() {
  ResetModelFlags();
  AnalysisSwitches().bEqAnalysisModel = false;
  ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
  DataSet().fMeniscus = 6.0f;
  DataSet().fBottom = 7.2f;
  SetUsableDistribution();
  TmpSaveBestParams(nullptr, false);
  }

  // Species k with D (or M), s, amplitude; the cell 6.0-7.2 cm, fitted 6.05-7.1 cm.
  static void SetSpeciesAndCell(int k, float d, float s, float amplitude) {
    AnalysisSwitches().pSpeciesLinked[k] = 1;
    ModelParams().pSpeciesMassOrD[k] = d;
    ModelParams().pSpeciesS[k] = s;
    ModelParams().pSpeciesAmplitude[k] = amplitude;
    DataSet().fMeniscus = 6.0f;
    DataSet().fBottom = 7.2f;
    ModelParams().fBaseline = 0.01f;
    DataSet().fFitLeftLim = 6.05f;
    DataSet().fFitRightLim = 7.1f;
  }

  // Settings of a distribution that a reload accepts, in the species slots the
  // continuous models read: grid 0.5-12 S on 40 points, P 0.68, vbar 0.73, f/f0
  // 1.2, density 1.0, viscosity 0.01002 P, an f/f0 grid of 10 values from 1 to 2.
  static void SetUsableDistribution() {
    ModelParams().pSpeciesMassOrD[1] = 0.5f;
    ModelParams().pSpeciesS[1] = 12.0f;
    ModelParams().pSpeciesAmplitude[1] = 40.0f;
    ModelParams().pSpeciesMassOrD[2] = 0.68f;
    ModelParams().pSpeciesMassOrD[3] = 0.73f;
    ModelParams().pSpeciesAmplitude[3] = 1.2f;
    ModelParams().pSpeciesS[3] = 1.0f;
    ModelParams().pSpeciesAmplitude[4] = 0.01002f;
    // The f/f0 grid of the c(s,ff0) models: 1 to 2 in 10 values.
    ModelParams().pSpeciesAmplitude[2] = 1.0f;
    ModelParams().pSpeciesS[2] = 2.0f;
    ModelParams().pSpeciesS[4] = 10.0f;
    PackModelParams();
  }

  // A state in which (nearly) every entry differs from its default.
  static void SetDistinctState() {
    ModelFlags().bDiscreteModel = true;
    AnalysisSwitches().pSpeciesLinked[2] = 1;
    ModelParams().pSpeciesAmplitude[2] = 0.25f;
    ModelParams().pSpeciesMassOrD[2] = 3.5f;
    ModelParams().pSpeciesS[2] = 7.25f;
    ModelParams().pSpeciesSFit[2] = 1;
    ModelParams().pSpeciesExtra[3] = 1.5f;
    ModelParams().pSpeciesExtraFit[3] = 1;
    ModelParams().fBaseline = 0.0125f;
    DataSet().fMeniscus = 6.01f;
    DataSet().fBottom = 7.19f;
    DataSet().fFitLeftLim = 6.05f;
    DataSet().fFitRightLim = 7.1f;
    LammSettings().nDefaultGridPoints = 555;
    ModelOptions().pModelScalar[3] = 2.5f;
    ModelParams().bVaryMeniscus = true;
    SolventConstants().VBAR20 = 0.72f;
    DataSet().fMaxMeniscus = 6.03f;
    DataSet().fMinMeniscus = 5.99f;
    SolventConstants().VBAR = 0.74f;
    SolventConstants().fBufferDensity = 1.01f;
    LammSettings().bAutoFEAlgorithm = false;
    LammSettings().bClaverie = true;
    LammSettings().bMovingHat = false;
    LammSettings().dMaxDcOverC = 0.5;
    LammSettings().fRefitTolerance = 0.002f;
    AnalysisSwitches().bFitTINoise = true;
    ModelOptions().bTimeOffset = 1;
    ModelOptions().fTimeOffset = 12.5f;
    AnalysisSwitches().bRampRotorSpeed = false;
    DistributionGrid().fFf0Min = 1.1f;
    DistributionGrid().nFf0Values = 7;
    LammSettings().nGridSizeUpper = 1500;
    BufferSedimentation().BufferSed.sampleD = 77.0;
    BufferSedimentation().BufferSed.signalSign = -1.0;
    BufferSedimentation().BufferSed.excessInSample = false;
    BufferSedimentation().BufferSed.fitRefS = true;
    BufferSedimentation().bMeniscusMismatch = true;
    LammSettings().fScanVelocity = 1.5f;
    LammSettings().bSimulateRadialResolution = true;
    ModelOptions().fLamellaWidth = 0.03f;
    ModelOptions().bSyntheticBoundary = true;
    ModelOptions().pExtraPairFit[3] = 1;
    ModelOptions().pExtraPairValue[3] = 0.4f;
    ModelOptions().fNonidealExtinction[2] = 1.7f;
    FluorescenceDetection().bExcitationShadow = true;
    FluorescenceDetection().fConeRadius = 0.05f;
    FluorescenceDetection().bExponentialDrift = true;
    LammSettings().bCheckAcceleration = false;
    ModelParams().pSpeciesExtra[1] = 350.0f;  // the discrete component of c(s) with one discrete species
    ModelParams().pSpeciesExtra[2] = 0.34f;
    UpdateLinearFitFlags();
    PackModelParams();
  }

  std::filesystem::path dir_;
};

// Every entry written from a distinct state comes back: the vector built after the
// restore equals the vector saved (index 0 aside, the kind of the saved state).
TEST_F(FitPersistenceTest, RoundTripRestoresEveryEntry) {
  SetDistinctState();
  const std::vector<float> saved = BuildParameterVector(true);
  TmpSaveBestParams(nullptr, false);

  ResetAll();
  ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
  const std::vector<float> restored = BuildParameterVector(true);
  ASSERT_EQ(restored.size(), static_cast<std::size_t>(kSavedParamCount));
  for (int i = 0; i < kSavedParamCount; ++i) EXPECT_EQ(restored[i], saved[i]) << "index " << i;
  // The derived values, and the discrete component's values (saved twice).
  EXPECT_EQ(AnalysisSwitches().pParams[16], 350.0f);
  EXPECT_EQ(AnalysisSwitches().pParams[17], 0.34f);
  EXPECT_EQ(LammSettings().nLammGridPoints, 555);
  EXPECT_FLOAT_EQ(SolventConstants().fVRho, 0.74f * 1.01f);
  EXPECT_DOUBLE_EQ(LammSettings().dMaxDcOverCRef, 0.5);
  EXPECT_TRUE(AnalysisSwitches().bTimesFromW2t);  // the complement of "ramp rotor speed"
  EXPECT_EQ(BufferSedimentation().BufferSed.signalSign, -1.0);
}

// A saved analysis reloaded unchanged is the same analysis, for a discrete and a
// continuous model alike: every line of the file comes back, and so do the
// switches the computation reads beside the vector, the baseline among them (a
// baseline option set by the loader but not yet in effect must not come back as
// a fitted baseline, nor a fitted baseline as an option).
TEST_F(FitPersistenceTest, ReloadedFileIsTheSameAnalysisForDiscreteAndContinuousModels) {
  enum Baseline { kPending, kFitted, kOff, kTINoise, kExperimental };
  for (const bool continuous : {false, true}) {
    for (const Baseline baseline : {kPending, kFitted, kOff, kTINoise, kExperimental}) {
      SCOPED_TRACE(::testing::Message() << (continuous ? "c(s)" : "discrete") << " baseline " << baseline);
      ResetAll();
      SetDistinctState();
      ResetModelFlags();
      AnalysisSwitches().bEqAnalysisModel = false;
      if (continuous) {
        ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
        SetUsableDistribution();
      } else {
        ModelFlags().bDiscreteModel = true;
      }
      AnalysisSwitches().bFitTINoise = baseline == kTINoise;
      AnalysisSwitches().bInitialDataProfile = baseline == kExperimental;
      AnalysisSwitches().bBaselineOption = baseline == kOff ? 0 : 1;
      ModelParams().bVaryBaseline = false;
      // The loader's option stays pending until the Parameters dialog applies it.
      if (baseline != kPending) UpdateLinearFitFlags();
      PackModelParams();
      const std::vector<float> saved = BuildParameterVector(false);
      const bool vary = ModelParams().bVaryBaseline, linear = ModelParams().bLinearAmplitudes;
      const int option = AnalysisSwitches().bBaselineOption;
      const std::vector<int> flags(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags));
      ASSERT_TRUE(TmpSaveBestParams(nullptr, false).ok);
      std::vector<std::string> lines = test::FileLines(DataSet().szTmpParsPath);

      ResetAll();
      ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
      EXPECT_EQ(ModelParams().bVaryBaseline, vary);
      EXPECT_EQ(AnalysisSwitches().bBaselineOption, option);
      EXPECT_EQ(ModelParams().bLinearAmplitudes, linear);
      EXPECT_EQ(ModelFlags().bContiModel, continuous);
      EXPECT_EQ(std::vector<int>(std::begin(AnalysisSwitches().pParamFitFlags), std::end(AnalysisSwitches().pParamFitFlags)), flags);
      const std::vector<float> restored = BuildParameterVector(false);
      for (int i = 0; i < kSavedParamCount; ++i) EXPECT_EQ(restored[i], saved[i]) << "index " << i;
      // Saved again, the file is the same, line by line.
      ASSERT_TRUE(TmpSaveBestParams(nullptr, false).ok);
      std::ifstream in(DataSet().szTmpParsPath);
      std::size_t k = 0;
      for (std::string l; std::getline(in, l); ++k) {
        ASSERT_LT(k, lines.size());
        EXPECT_EQ(l, lines[k]) << "line " << k;
      }
      EXPECT_EQ(k, lines.size());
    }
  }
}

// Every model is saved under a code of its own and comes back as itself, also
// those that older files folded into c(s) (c(M), ls-g*(s), ...).
TEST_F(FitPersistenceTest, EveryModelComesBackAsItself) {
  bool* const discrete[] = {&ModelFlags().bDiscreteModel, &ModelFlags().bMonomerDimer, &ModelFlags().bMonomerTrimer, &ModelFlags().bAssoc124,
                            &ModelFlags().bAssoc148,      &ModelFlags().bNonidealSpecies, &ModelFlags().bNonIdealMultiple,
                            &AnalysisSwitches().bEqAnalysisModel, &ModelFlags().bHeteroAssocModel, &ModelFlags().bStokesRadii, &ModelFlags().bCumulants};
  for (bool* flag : discrete) {
    SaveAndReload({flag});
    EXPECT_TRUE(*flag);
  }
  for (bool* flag : {&LammGlobals().bLinearGeometry, &LammGlobals().bExternalLoadingCell, &LammGlobals().bElectrophoresis,
                     &LammGlobals().bPlanarQuadrature}) {
    SaveAndReload({&ModelFlags().bDiscreteModel, flag});
    EXPECT_TRUE(*flag && ModelFlags().bDiscreteModel);
    *flag = false;
  }

  bool* const continuous[] = {&ModelFlags().bContiSModel,   &ModelFlags().bCsff0Model,   &ModelFlags().bCsff0OneDiscrete,
                              &ModelFlags().bCsScalingLaw,  &ModelFlags().bFMScalingLaw, &ModelFlags().bCsOneDiscreteM,
                              &ModelFlags().bCsOneDiscreteD, &ModelFlags().bConstantDModel, &ModelFlags().bCMPriorVbar,
                              &ModelFlags().bCsInvariantD,  &ModelFlags().bCsWormChain,  &ModelFlags().bLsgModel,
                              &ModelFlags().bZoneLsgModel,  &ModelFlags().bDLSRhModel,   &ModelFlags().bCvConstantD};
  std::vector<int> codes;
  for (bool* flag : continuous) {
    ResetModelFlags();
    ModelFlags().bContiModel = *flag = true;
    const int code = ContinuousModelCode();
    codes.push_back(code);
    SetUsableDistribution();
    SaveAndReload({&ModelFlags().bContiModel, flag});
    EXPECT_TRUE(ModelFlags().bContiModel && *flag) << "code " << code;
    EXPECT_EQ(ContinuousModelCode(), code);
  }
  // Plain c(M) (no variant flag) has its own code as well.
  ResetModelFlags();
  ModelFlags().bContiModel = true;
  EXPECT_EQ(ContinuousModelCode(), 235);
  // The codes older files knew keep their meaning; every code is distinct.
  EXPECT_EQ(codes[0], kContiCodeCs);
  EXPECT_EQ(codes[1], kContiCodeCsff0);
  EXPECT_EQ(codes[4], kContiCodeFMScalingLaw);
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(std::adjacent_find(codes.begin(), codes.end()), codes.end());
}

// A file of an older program holds 95 values: it restores indices 1 to 94, the
// switches beyond take their defaults and the values beyond stay.
TEST_F(FitPersistenceTest, ShortFileTakesDefaults) {
  SetDistinctState();
  std::vector<float> v = BuildParameterVector(true);
  {
    std::ofstream out(DataSet().szTmpParsPath);
    for (int i = 0; i < kMinSavedParams; ++i) out << v[i] << "\n";
  }
  BufferSedimentation().BufferSed.excessInSample = false;
  BufferSedimentation().BufferSed.signalSign = -1.0;
  FluorescenceDetection().bExcitationShadow = LammSettings().bSimulateRadialResolution = true;
  FluorescenceDetection().fConeRadius = 0.09f;
  DataSet().fMeniscus = 5.5f;
  ASSERT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.01f);
  EXPECT_FALSE(ModelFlags().bBufferSedCorrection);
  EXPECT_TRUE(BufferSedimentation().BufferSed.excessInSample);
  EXPECT_EQ(BufferSedimentation().BufferSed.signalSign, 1.0);
  EXPECT_FALSE(FluorescenceDetection().bExcitationShadow);
  EXPECT_FALSE(LammSettings().bSimulateRadialResolution);
  EXPECT_FLOAT_EQ(FluorescenceDetection().fConeRadius, 0.09f);

  // Fewer than 95 values: nothing is restored.
  {
    std::ofstream out(DataSet().szTmpParsPath);
    for (int i = 0; i < kMinSavedParams - 1; ++i) out << 0.0 << "\n";
  }
  EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 0);
  EXPECT_EQ(OfferReloadParameters(nullptr, AskingPolicy()), 0);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.01f);
}

// A damaged file is refused whole with the line that is wrong, and the loaded
// model stays: values that are not finite numbers (nan, inf, beyond a float), a
// line without a number (a blank line would shift every later value into the
// wrong slot), more lines than the layout. Blank lines after the last value are
// harmless.
TEST_F(FitPersistenceTest, DamagedFileIsRefusedWithItsLineAndTheModelStays) {
  ScopedHeadlessBackend backend;
  SetDistinctState();
  TmpSaveBestParams(nullptr, false);
  std::vector<std::string> lines = test::FileLines(DataSet().szTmpParsPath);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kSavedParamCount));
  auto write = [&](const std::vector<std::string>& content, const char* tail = "") {
    std::ofstream out(DataSet().szTmpParsPath, std::ios::trunc);
    for (const std::string& l : content) out << l << "\n";
    out << tail;
  };
  const std::string notNumber = ", which is not a number";
  struct Case {
    int line;     // 1-based line changed
    bool insert;  // inserted before the line instead of replacing it
    const char* text;
    std::string why;
  } cases[] = {
      {20, false, "nan", "line 20 holds \"nan\"" + notNumber},
      {21, false, "-inf", "line 21 holds \"-inf\"" + notNumber},
      {23, false, "1e39", "line 23 holds \"1e39\", which is beyond 3.4e38"},
      {15, true, "", "line 15 is empty"},
      {40, false, "abc", "line 40 holds \"abc\"" + notNumber},
      // Not 0, but below what a float holds: it was loaded as a meniscus of 0 (not set).
      {40, false, "1e-320", "line 40 holds \"1e-320\", which is not 0 but too small to be held (below 1.4e-45)"},
      {40, false, "6.0 cm", "line 40 holds \"6.0 cm\"" + notNumber},
      {175, true, "0.000000", "it holds 175 lines, the layout has at most 174"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> damaged = lines;
    const auto at = damaged.begin() + (c.line - 1);
    if (c.insert) damaged.insert(at, c.text);
    else *at = c.text;
    write(damaged);
    ResetModelFlags();
    AnalysisSwitches().bEqAnalysisModel = false;
    ModelFlags().bCsInvariantD = true;
    DataSet().fMeniscus = 5.5f;
    backend->ClearTranscript();
    backend->QueueMessageBox(IDOK, "reload parameters");
    EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 0);
    ASSERT_EQ(backend->Transcript().size(), 1u);
    EXPECT_EQ(backend->Transcript()[0].text,
              "the parameter file " + DataSet().szTmpParsPath + " cannot be used: " + c.why);
    EXPECT_TRUE(ModelFlags().bCsInvariantD && !ModelFlags().bDiscreteModel && DataSet().fMeniscus == 5.5f) << "the loaded model stays";
    // Offered after a load, it is refused the same way without a question.
    backend->QueueMessageBox(IDOK, "reload parameters");
    EXPECT_EQ(OfferReloadParameters(nullptr, AskingPolicy()), 0);
    EXPECT_TRUE(backend->AllAnswersUsed());
  }
  write(lines, "\n\n");
  EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 1);
  EXPECT_TRUE(ModelFlags().bDiscreteModel);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.01f);
}

// A file is checked as the Parameters dialog checks its entries, and an empty, short
// or cut file is said to be unusable: the box names the file and the reason, and
// the loaded analysis stays as it was (vector and model variables).
TEST_F(FitPersistenceTest, FileValuesAreCheckedAsTheDialogChecksThem) {
  ScopedHeadlessBackend backend;
  SaveContinuousAnalysis();
  std::vector<std::string> lines = test::FileLines(DataSet().szTmpParsPath);
  const std::string prefix = "the parameter file " + DataSet().szTmpParsPath + " cannot be used: ";
  struct Case {
    int line;  // 1-based; 0: the whole file replaced by text
    const char* text;
    std::string why;
  } cases[] = {
      // s min: both lines named with their texts.
      {5, "20.0", "lines 5 and 7 hold \"20.0\" and \"" + lines[6] +
                      "\": the lower grid limit 20 must not be above the upper limit 12"},
      {23, "-5.0", "line 23 holds \"-5.0\": the partial specific volume -5 ml/g must lie between 0.01 and 3 ml/g"},
      {25, "-1.0", "line 25 holds \"-1.0\": the buffer density -1 g/ml must lie between 0.01 and 5 g/ml"},
      {41, "5000.0", "line 41 holds \"5000.0\": the bottom 5000 cm must lie between 0 and 20 cm"},
      // The text read, not the float it is held as.
      {41, "9999999999999999999",
       "line 41 holds \"9999999999999999999\": the bottom 1e+19 cm must lie between 0 and 20 cm"},
      {0, "", "it holds 0 values, at least 95 are needed"},
      {0, "1.000000\n0.000000\n", "it holds 2 values, at least 95 are needed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    if (c.line > 0) {
      std::vector<std::string> changed = lines;
      changed[static_cast<std::size_t>(c.line - 1)] = c.text;
      std::ofstream out(DataSet().szTmpParsPath, std::ios::trunc);
      for (const std::string& l : changed) out << l << "\n";
    } else {
      std::ofstream(DataSet().szTmpParsPath, std::ios::trunc) << c.text;
    }
    // The analysis loaded now: another grid and another cell.
    ResetModelFlags();
    AnalysisSwitches().bEqAnalysisModel = false;
    ModelFlags().bContiModel = ModelFlags().bContiSModel = true;
    SetUsableDistribution();
    AnalysisSwitches().pParams[kContiSlotGridMax] = 9.0f;
    AnalysisSwitches().pParams[14] = 7.1f;
    UnpackModelParams();
    const std::vector<float> params(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams));
    backend->ClearTranscript();
    backend->QueueMessageBox(IDOK, "reload parameters");
    EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 0);
    ASSERT_EQ(backend->Transcript().size(), 1u);
    EXPECT_EQ(backend->Transcript()[0].text, prefix + c.why);
    EXPECT_EQ(std::vector<float>(std::begin(AnalysisSwitches().pParams), std::end(AnalysisSwitches().pParams)), params);
    EXPECT_TRUE(ModelFlags().bContiSModel);
    EXPECT_FLOAT_EQ(DataSet().fBottom, 7.1f);
    EXPECT_FLOAT_EQ(ModelParams().pSpeciesS[1], 9.0f);
  }
  // A file whose last line lacks its line end may have been cut inside it ("100"
  // as "1"): it is refused naming the line, and the loaded analysis stays.
  {
    std::ofstream out(DataSet().szTmpParsPath, std::ios::trunc);
    for (std::size_t k = 0; k + 1 < lines.size(); ++k) out << lines[k] << "\n";
    out << lines.back();
  }
  backend->ClearTranscript();
  backend->QueueMessageBox(IDOK, "reload parameters");
  const float bottom = DataSet().fBottom;
  EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 0);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text, prefix + "it ends inside line " + std::to_string(lines.size()) + " (\"" +
                                               lines.back() + "\"), which has no line end: the file may have been cut");
  EXPECT_FLOAT_EQ(DataSet().fBottom, bottom);
  // A missing file is no analysis saved: nothing is said.
  std::filesystem::remove(DataSet().szTmpParsPath);
  EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 0);
  EXPECT_TRUE(backend->AllAnswersUsed());
}

// Grid values of a parameter file that no grid can be built from (points per sigma
// 1e6 made every later Run hang) are brought to the nearest valid value, said with
// their lines; limits that cross refuse the file and every setting stays; values
// in range are taken.
TEST_F(FitPersistenceTest, GridValuesOutOfRangeAreBroughtIntoRangeOrRefuseTheFile) {
  ScopedHeadlessBackend backend;
  SetDistinctState();
  TmpSaveBestParams(nullptr, false);
  std::vector<std::string> lines = test::FileLines(DataSet().szTmpParsPath);
  ASSERT_GT(lines.size(), 95u);
  auto reloadWith = [&](const char* pointsPerSigma, const char* upper, const char* lower) {
    lines[92] = pointsPerSigma;  // index 92 on line 93
    lines[93] = upper;
    lines[94] = lower;
    {
      std::ofstream out(DataSet().szTmpParsPath, std::ios::trunc);
      for (const std::string& l : lines) out << l << "\n";
    }
    LammSettings().fPointsPerSigma = 7.0f;
    LammSettings().nGridSizeUpper = 1200;
    LammSettings().nGridSizeLower = 80;
    backend->ClearTranscript();
    backend->AnswerUnscriptedBoxes(IDOK);
    const int result = ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy());
    return std::make_pair(result, backend->Transcript().empty() ? std::string() : backend->Transcript()[0].text);
  };
  const std::string prefix = "the parameter file " + DataSet().szTmpParsPath + " cannot be used: ";
  EXPECT_EQ(reloadWith("1000000", "1000000000", "100"),
            std::make_pair(1, "the parameter file " + DataSet().szTmpParsPath +
                                  " holds numerical settings outside their range; the nearest valid values are used:"
                                  "\nline 93 holds \"1000000\": the points per sigma 1e+06 must lie between 0.01 and "
                                  "1000; 1000 is used"
                                  "\nline 94 holds \"1000000000\": the upper limit of the grid size 1e+09 grid points "
                                  "must lie between 5 "
                                  "and 100000 grid points; 100000 is used"));
  EXPECT_EQ(LammSettings().fPointsPerSigma, 1000.0f);
  EXPECT_EQ(LammSettings().nGridSizeUpper, 100000);
  EXPECT_EQ(LammSettings().nGridSizeLower, 100);
  EXPECT_EQ(reloadWith("0", "1200", "80"),  // no setting at all: refused
            std::make_pair(0, prefix + "line 93 holds \"0\": the points per sigma 0 must lie between 0.01 and 1000"));
  EXPECT_EQ(LammSettings().fPointsPerSigma, 7.0f);
  EXPECT_EQ(LammSettings().nGridSizeUpper, 1200);
  EXPECT_EQ(LammSettings().nGridSizeLower, 80);
  EXPECT_EQ(reloadWith("12", "50", "60"),  // limits that cross
            std::make_pair(0, prefix + "lines 94 and 95 hold \"50\" and \"60\": the lower limit 60 of the grid size "
                                       "must not be above "
                                       "its upper limit 50"));
  EXPECT_EQ(LammSettings().nGridSizeUpper, 1200);
  EXPECT_EQ(LammSettings().nGridSizeLower, 80);
  EXPECT_EQ(reloadWith("12", "3000", "60").first, 1);
  EXPECT_EQ(LammSettings().fPointsPerSigma, 12.0f);
  EXPECT_EQ(LammSettings().nGridSizeUpper, 3000);
  EXPECT_EQ(LammSettings().nGridSizeLower, 60);
}

// Batch mode never stops on a question: the offer restores by the series' answer
// alone, and VBAR20 = 0 takes VBAR without asking. Interactively the questions come.
TEST_F(FitPersistenceTest, QuestionsOnlyOutsideBatchMode) {
  ScopedHeadlessBackend backend;  // an unscripted box fails the test
  SolventConstants().VBAR20 = 0.0f;
  SolventConstants().VBAR = 0.71f;
  DataSet().fMeniscus = 6.02f;
  PackModelParams();
  TmpSaveBestParams(nullptr, true);  // saved as data
  DataSet().fMeniscus = 5.8f;
  bBatchMode = true;
  EXPECT_EQ(OfferReloadParameters(nullptr, AskingPolicy()), 0);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 5.8f);
  PackModelParams();
  FitPersistence().bRestorePreviousParams = true;
  EXPECT_EQ(OfferReloadParameters(nullptr, AskingPolicy()), 1);
  EXPECT_FLOAT_EQ(DataSet().fMeniscus, 6.02f);
  EXPECT_FLOAT_EQ(SolventConstants().VBAR20, 0.71f);

  bBatchMode = false;
  SolventConstants().VBAR20 = 0.0f;
  TmpSaveBestParams(nullptr, false);  // saved as an analysis
  backend->QueueMessageBox(IDYES);
  backend->QueueMessageBox(IDNO);
  EXPECT_EQ(OfferReloadParameters(nullptr, AskingPolicy()), 1);
  EXPECT_FLOAT_EQ(SolventConstants().VBAR20, 0.0f);
  EXPECT_EQ(backend->Transcript().size(), 2u);
}

// A c(M) distribution keeps its grid in the species slots (3000 to 500000 Da): the
// report gives the fitted frictional ratio as the fit-result text does, and no
// species or concentration lines made of grid settings.
TEST_F(FitPersistenceTest, ReportOfAContinuousModelGivesItsFittedFrictionalRatio) {
  SetSpeciesAndCell(1, 5.0f, 4.0f, 0.5f);
  ModelFlags().bDiscreteModel = false;
  ModelFlags().bContiModel = true;
  ModelFlags().bFitMAndS = true;
  PackModelParams();
  AnalysisSwitches().pParams[kContiSlotGridMin] = 3000.0f;
  AnalysisSwitches().pParams[kContiSlotGridMax] = 500000.0f;
  AnalysisSwitches().pParams[kContiSlotFrictionalRatio] = 1.3725f;
  AnalysisSwitches().pParamFitFlags[kContiSlotFrictionalRatio] = 1;
  for (bool clipboard : {false, true}) {
    const std::string report = ParameterReportText(clipboard);
    EXPECT_NE(report.find("\nfrict ratio = 1.372500\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("component"), std::string::npos) << report;
    EXPECT_EQ(report.find("concentrations"), std::string::npos) << report;
    EXPECT_EQ(report.find("500000"), std::string::npos) << report;
  }
}

// The report of two species; the clipboard form differs only where it should; the
// report never takes a scan file's extension.
TEST_F(FitPersistenceTest, ReportOfTwoSpecies) {
  SetSpeciesAndCell(1, 5.0f, 4.0f, 0.5f);
  SetSpeciesAndCell(2, 3.0f, 7.5f, 0.25f);
  ModelParams().pSpeciesMassOrDFit[2] = ModelParams().pSpeciesSFit[2] = 0;
  ModelParams().bVaryMeniscus = true;
  Rmsd().fFitRmsd = 0.005f;
  Rmsd().fFitPoints = 400.0f;
  PackModelParams();
  const std::string report = ParameterReportText(false);
  // No data are loaded: the rmsd kept is of no fit of them.
  for (const char* part : {"D\t=\t5.000 *10^-7 cm^2/sec\t(floated)", "s\t=\t7.500 S\t\t\t(fixed)",
                           "concentrations = 0.500 | 0.250 |", "meniscus at \t6.0000 cm\t\t(floated)",
                           kNoFitOfLoadedDataText})
    EXPECT_NE(report.find(part), std::string::npos) << part;
  EXPECT_EQ(report.find("rmsd"), std::string::npos);
  EXPECT_NE(ParameterReportText(true), report);

  // No species: the concentrations line holds no numbers.
  AnalysisSwitches().pSpeciesLinked[1] = AnalysisSwitches().pSpeciesLinked[2] = 0;
  EXPECT_NE(ParameterReportText(false).find("concentrations = (first is total"),
            std::string::npos);

  // The report file: a scan extension becomes ".txt"; the user's own stays.
  EXPECT_EQ(ParameterReportPath("/d/fit.ra1"), "/d/fit.txt");
  EXPECT_EQ(ParameterReportPath("/d/fit"), "/d/fit.txt");
  EXPECT_EQ(ParameterReportPath("/d/fit.rep"), "/d/fit.rep");
  const std::string scan = (dir_ / "00001.ra1").string();
  { std::ofstream(scan) << "scan data\n"; }
  ASSERT_TRUE(WriteParameterReport(nullptr, scan).ok);
  std::ifstream in(scan);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(first, "scan data");
  EXPECT_TRUE(std::filesystem::exists(dir_ / "00001.txt"));
  // A folder that does not exist: nothing written, the system's reason handed up
  // on a line of its own; the same for the saved parameters under a file.
  const std::string none = (dir_ / "none" / "fit.txt").string();
  const SaveResult failed = WriteParameterReport(nullptr, none);
  EXPECT_FALSE(failed.ok);
  EXPECT_EQ(failed.message, "could not open " + none + "\n" + none + ": " + std::strerror(ENOENT));
  const std::string pars = DataSet().szTmpParsPath;
  DataSet().szTmpParsPath = scan + "/~tmppars.ra1";
  const SaveResult parsFailed = TmpSaveBestParams(nullptr, false);
  EXPECT_FALSE(parsFailed.ok);
  EXPECT_EQ(parsFailed.message, "Attention: could not open " + DataSet().szTmpParsPath + "\n" + DataSet().szTmpParsPath + ": " +
                                    std::strerror(ENOTDIR));
  DataSet().szTmpParsPath = pars;
  // Opened but not written whole (a child whose files may not grow beyond 100
  // bytes): the reason is handed up and the old report stays.
  auto text = [&] {
    std::stringstream in;
    in << std::ifstream(dir_ / "00001.txt").rdbuf();
    return in.str();
  };
  const std::string before = text();
  ASSERT_GT(before.size(), 100u);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {100, 100};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
    bBatchMode = true;  // replaces the report without asking
    const SaveResult cut = WriteParameterReport(nullptr, scan);
    const std::string reason = (dir_ / "00001.txt").string() + ": " + std::strerror(EFBIG);
    ::_exit(!cut.ok && cut.message.rfind("could not write", 0) == 0 &&
                    cut.message.find("\n" + reason) != std::string::npos && text() == before
                ? 1
                : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) != 3) EXPECT_EQ(WEXITSTATUS(status), 1);
}

// Every entry the vector holds as a whole number (a switch, a count, a code, as the
// writing pass stores it) has a whole row in the file's table; and a fraction in
// any whole row ("1000.5" in the grid size, "1.5" in a switch) refuses the file
// naming the line and the text, leaving the loaded analysis as it was.
TEST_F(FitPersistenceTest, WholeNumberEntriesTakeNoFraction) {
  const std::span<const FileEntry> rows = ParameterFileEntries();
  const std::set<int> held = ParameterEntriesHeldWhole();
  EXPECT_GE(held.size(), 90u) << "the census found the switches, counts and codes";
  for (int i : held) EXPECT_TRUE(rows[static_cast<std::size_t>(i)].whole) << "line " << i + 1 << " is held whole";
  ScopedHeadlessBackend backend;
  SaveContinuousAnalysis();
  const std::vector<std::string> lines = test::FileLines(DataSet().szTmpParsPath);
  ASSERT_EQ(lines.size(), rows.size());
  int refused = 0;
  for (const FileEntry& row : rows) {
    if (!row.whole) continue;
    std::vector<std::string> changed = lines;
    const std::string fraction = lines[static_cast<std::size_t>(row.index)] + ".5";
    changed[static_cast<std::size_t>(row.index)] = fraction;
    {
      std::ofstream out(DataSet().szTmpParsPath, std::ios::trunc);
      for (const std::string& l : changed) out << l << "\n";
    }
    const int grid = LammSettings().nDefaultGridPoints;
    backend->ClearTranscript();
    backend->QueueMessageBox(IDOK, "reload parameters");
    EXPECT_EQ(ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy()), 0) << fraction;
    ASSERT_EQ(backend->Transcript().size(), 1u);
    EXPECT_EQ(backend->Transcript()[0].text, "the parameter file " + DataSet().szTmpParsPath + " cannot be used: line " +
                                                 std::to_string(row.index + 1) + " holds \"" + fraction + "\", which " +
                                                 (row.flag ? "is neither 0 nor 1" : "is not a whole number"));
    EXPECT_EQ(LammSettings().nDefaultGridPoints, grid);
    EXPECT_TRUE(ModelFlags().bContiSModel);
    ++refused;
  }
  EXPECT_GE(refused, 90);
}

// The switches the writing pass stores as flags are exactly the flag rows of the
// file's table. In each such line "2", "0.5", "1e-30" (and "-1") refuse the file
// naming the file, the line and the text, and the loaded analysis stays; 0 and 1
// are never refused as a switch.
TEST_F(FitPersistenceTest, EverySwitchLineHoldsZeroOrOne) {
  std::set<int> written;
  ParameterEntriesHeldWhole(&written);
  std::set<int> flags;
  for (const FileEntry& row : ParameterFileEntries())
    if (row.flag) flags.insert(row.index);
  EXPECT_EQ(written, flags);
  ASSERT_GE(flags.size(), 80u) << "the census found the switches";
  ScopedHeadlessBackend backend;
  SaveContinuousAnalysis();
  const std::vector<std::string> lines = test::FileLines(DataSet().szTmpParsPath);
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kSavedParamCount));
  auto reloadWith = [&](int index, const std::string& text) {
    std::vector<std::string> changed = lines;
    changed[static_cast<std::size_t>(index)] = text;
    {
      std::ofstream out(DataSet().szTmpParsPath, std::ios::trunc);
      for (const std::string& l : changed) out << l << "\n";
    }
    backend->ClearTranscript();
    backend->AnswerUnscriptedBoxes(IDOK);
    return ReloadParameters(nullptr, DataSet().szTmpParsPath, AskingPolicy());
  };
  for (const int index : flags) {
    const std::string line = "line " + std::to_string(index + 1);
    for (const char* text : {"2", "0.5", "1e-30", "-1"}) {
      // The analysis loaded now, which a refused file leaves as it is.
      ResetModelFlags();
      AnalysisSwitches().bEqAnalysisModel = false;
      ModelFlags().bCsInvariantD = true;
      DataSet().fMeniscus = 5.5f;
      EXPECT_EQ(reloadWith(index, text), 0) << line << " of " << text;
      ASSERT_EQ(backend->Transcript().size(), 1u) << line << " of " << text;
      EXPECT_EQ(backend->Transcript()[0].text, "the parameter file " + DataSet().szTmpParsPath + " cannot be used: " + line +
                                                   " holds \"" + text + "\", which is neither 0 nor 1");
      EXPECT_TRUE(ModelFlags().bCsInvariantD && DataSet().fMeniscus == 5.5f) << line << " of " << text;
    }
  }
  // 0 and 1 are switches: each loads, or is refused for what it selects (a model
  // the file's values do not suit), never as a switch.
  int loaded = 0;
  for (const int index : flags) {
    for (const char* text : {"0", "1"}) {
      if (reloadWith(index, text) == 1) {
        ++loaded;
        continue;
      }
      ASSERT_EQ(backend->Transcript().size(), 1u);
      EXPECT_EQ(backend->Transcript()[0].text.find("neither 0 nor 1"), std::string::npos)
          << backend->Transcript()[0].text;
    }
  }
  EXPECT_GE(loaded, static_cast<int>(flags.size())) << "the file loads with most switches at 0 and at 1";
}

}  // namespace
}  // namespace tarmic
