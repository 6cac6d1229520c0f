// The model computation takes its model as a value: given the same ModelInput it
// computes the same fit rows and solves the same amplitudes, to the bit, whatever
// the analysis' model holds (every value and fit switch of its parameter vector,
// the species switches, the cell, the model's kind switches and settings the
// vector does not hold), and leaves that model as it was; the input taken from the
// analysis after those change gives other rows (the check has power).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "modelcalc/model_input.h"
#include "modelfit/modelfit_hooks.h"
#include "platform/headless/headless_backend.h"
#include "propagators/buffer_sedimentation.h"
#include "propagators/reacting_system.h"
#include "tests/modelcalc/modelcalc_test_support.h"
#include "tests/support/production_sources.h"

namespace tarmic {
namespace {

using test::Idx;

constexpr int kScans = 8;
constexpr int kRadii = 150;
constexpr double kInterval = 600.0;  // s
constexpr float kRpm = 50000.0f;

// Non-interacting species: s (S), D (1e-7 cm^2/s), the total (slot 1) and fractions.
void LaySpecies(const std::vector<float>& s, const std::vector<float>& D, const std::vector<float>& amp) {
  ModelFlags().bDiscreteModel = true;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    const bool on = Idx(k) <= s.size();
    AnalysisSwitches().pSpeciesLinked[k] = on ? 1 : 0;
    ModelParams().pSpeciesS[k] = on ? s[Idx(k - 1)] : 0.0f;
    ModelParams().pSpeciesMassOrD[k] = on ? D[Idx(k - 1)] : 0.0f;
    ModelParams().pSpeciesAmplitude[k] = on ? amp[Idx(k - 1)] : 0.0f;
  }
  PackModelParams();
}

struct Case {
  const char* name;
  std::function<void()> lay;  // the model, on the installed velocity scans
};

std::vector<Case> Cases() {
  return {
      {"ideal species on velocity data", [] { LaySpecies({3.0f, 7.0f}, {6.0f, 4.0f}, {1.0f, 0.4f}); }},
      {"non-ideal species 1",
       [] {
         ModelOptions().bC1Nonideal = true;
         ModelOptions().fLogKs = -1.0f;  // ks = 0.1 per signal unit
         ModelOptions().fLogKd = -8.0f;
         LaySpecies({4.0f}, {6.0f}, {0.8f});
       }},
      {"monomer-dimer",
       [] {
         ModelFlags().bMonomerDimer = true;
         AnalysisSwitches().pSpeciesLinked[1] = 1;
         ModelParams().pSpeciesMassOrD[1] = 6.0f;
         ModelParams().pSpeciesS[1] = 3.0f;
         ModelParams().pSpeciesS[2] = 4.5f;
         ModelParams().pSpeciesMassOrD[3] = 0.5f;  // log K
         ModelParams().pSpeciesAmplitude[1] = 0.8f;
         ModelParams().pSpeciesAmplitude[3] = 0.8f;  // loading
         PackModelParams();
       }},
      {"reacting A + B",
       [] {
         ModelFlags().bHeteroAssocModel = true;
         ModelFlags().bFitMAndS = true;
         for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = 0;
         PackModelParams();
         float* p = AnalysisSwitches().pParams;
         p[1] = p[2] = 100000.0f;         // M of A and B
         p[5] = 5.0f, p[6] = 6.0f;        // s of A and B
         p[7] = 9.0f;                     // s of AB
         p[9] = 0.5f, p[10] = 0.4f;       // loadings of A and B
         p[4] = p[12] = 1.0f;             // extinctions
         p[8] = 0.5f;                     // log Ka
         UnpackModelParams();
       }},
      {"ideal species and the buffer component",
       [] {
         ModelFlags().bBufferSedCorrection = true;
         BufferSedimentation().BufferSed.interferenceNoteShown = true;  // absorbance scans
         LaySpecies({3.0f, 7.0f}, {6.0f, 4.0f}, {1.0f, 0.4f});
       }},
      {"species on equilibrium data",
       [] {
         DataSet().bEquilibriumMode = true;
         LaySpecies({3.0f, 6.0f}, {6.0f, 4.0f}, {1.0f, 0.3f});
       }},
      {"closed-form boundaries",
       [] {
         ModelFlags().bFaxenApproximation = true;
         LaySpecies({3.0f, 7.0f}, {6.0f, 4.0f}, {1.0f, 0.4f});
       }},
      {"zone centrifugation",
       [] {
         ModelFlags().bZoneCentrifugation = true;
         AnalysisSwitches().bUniformLoading = true;
         ModelOptions().fLamellaWidth = 0.02f;
         LaySpecies({3.0f}, {6.0f}, {1.0f});
         AnalysisSwitches().pParams[23] = 0.02f;
         UnpackModelParams();
       }},
      {"amplitudes and noise solved linearly",
       [] {
         // Data of the two species with noise, then the amplitudes, TI and RI
         // noise solved.
         LaySpecies({3.0f, 7.0f}, {6.0f, 4.0f}, {1.0f, 0.4f});
         ASSERT_TRUE(CalculateModel(nullptr).ok());
         test::DataFromFitWithNoise(0.002, 5);
         AnalysisSwitches().bFitTINoise = AnalysisSwitches().bFitRINoise = true;
         ModelParams().bLinearAmplitudes = ModelParams().bVaryBaseline = true;
       }},
  };
}

// Every value of every scan's fit row, as bits.
std::vector<float> FitRows() {
  std::vector<float> rows;
  for (int j = 1; j <= kScans; ++j) rows.insert(rows.end(), DataSet().ppFit[Idx(j)] + 1, DataSet().ppFit[Idx(j)] + kRadii + 1);
  return rows;
}
bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The analysis' model to values unlike the input's: every value of the parameter
// vector (s, D and loading of slot 1 by hand, meniscus and bottom a little; the
// rest scaled) and every fit switch, in the vector and in the model's variables
// unpacked from it; the species switches; the linear step's switches; the switches
// of the coefficient law that the vector does not hold, the signal per mg/ml its
// non-ideality constants are given per, the reacting solve's tolerance, the
// buffer component's settings, the zone's lamella and the extinctions of the
// non-ideal components.
void MisleadTheModel() {
  float* p = AnalysisSwitches().pParams;
  for (int i = 1; i <= kModelParams; ++i) {
    if (i != 13 && i != 14) p[i] = p[i] * 1.25f + 0.05f;
    AnalysisSwitches().pParamFitFlags[i] = AnalysisSwitches().pParamFitFlags[i] != 0 ? 0 : 1;
  }
  p[5] += 1.5f;
  p[1] *= 1.4f;
  p[9] *= 0.6f;
  p[13] -= 0.04f;
  p[14] += 0.03f;
  UnpackModelParams();
  for (int k = 1; k <= nSpeciesSlots; ++k) AnalysisSwitches().pSpeciesLinked[k] = AnalysisSwitches().pSpeciesLinked[k] != 0 ? 0 : 1;
  ModelParams().bLinearAmplitudes = !ModelParams().bLinearAmplitudes;
  ModelParams().bVaryBaseline = !ModelParams().bVaryBaseline;
  AnalysisSwitches().bFitTINoise = !AnalysisSwitches().bFitTINoise;
  AnalysisSwitches().bFitRINoise = !AnalysisSwitches().bFitRINoise;
  ModelOptions().fLamellaWidth *= 2.0f;
  ModelOptions().bZoneInverseLayer = !ModelOptions().bZoneInverseLayer;
  for (int j = 1; j <= 3; ++j) ModelOptions().fNonidealExtinction[j] *= 1.5f;
  ModelOptions().bRepulsiveNonideality = !ModelOptions().bRepulsiveNonideality;
  ModelOptions().bDimerNonideal = !ModelOptions().bDimerNonideal;
  ModelOptions().fLogKs += 0.5f;
  DataSet().dSignalPerConcentration *= 2.0;
  Reaction().dFluxMismatchTolerance *= 10.0;
  BufferSedimentation().BufferSed.sampleS *= 1.5;
  BufferSedimentation().BufferSed.signal *= 0.5;
}

// Each case computes in an analysis of its own, so that nothing a model leaves in
// the analysis (the reacting model's arrays and record, grids, switches) reaches
// another test.
class ModelInputCase : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override {
    saved_ = GetModelFitHooks().packReactingSystem;
    GetModelFitHooks().packReactingSystem = [] { PackReactingSystem(); };
  }
  void TearDown() override { GetModelFitHooks().packReactingSystem = saved_; }
  ScopedHeadlessBackend backend;
  std::function<void()> saved_;
};

TEST_P(ModelInputCase, TheSameInputGivesTheSameRowsWhateverTheAnalysisHolds) {
  const Case c = Cases()[GetParam()];
  SCOPED_TRACE(c.name);
  Analysis own;
  AnalysisScope bind(own);
  test::InstallVelocityScans(kScans, kRadii, kInterval, kRpm);
  c.lay();
  const ModelInput input = CurrentModelInput();
  EXPECT_EQ(input.meniscus, DataSet().fMeniscus);
  EXPECT_EQ(input.species[1].s, AnalysisSwitches().pParams[5]);
  // Once to settle what the computation keeps between runs (grid, algorithm).
  ASSERT_TRUE(CalculateModel(nullptr, input).ok());
  const ModelResult first = CalculateModel(nullptr, input);
  ASSERT_TRUE(first.ok());
  const std::vector<float> reference = FitRows();
  float largest = 0.0f;
  for (float v : reference) largest = std::max(largest, v);
  EXPECT_GT(largest, 0.1f);  // a model was computed

  MisleadTheModel();
  ASSERT_NE(DataSet().fMeniscus, input.meniscus);
  const std::vector<float> heldParams(AnalysisSwitches().pParams, AnalysisSwitches().pParams + kModelParams + 1);
  const float heldMeniscus = DataSet().fMeniscus, heldBaseline = ModelParams().fBaseline;
  const ModelResult again = CalculateModel(nullptr, input);
  ASSERT_TRUE(again.ok()) << static_cast<int>(again.status) << " " << again.message << " solved " << again.amplitudesSolved;
  EXPECT_TRUE(SameBits(FitRows(), reference)) << "the analysis' model changed the rows of the same input";
  EXPECT_EQ(again.linear.amplitude, first.linear.amplitude);
  EXPECT_EQ(again.linear.written, first.linear.written);
  EXPECT_EQ(again.linear.baseline, first.linear.baseline);

  // The computation left the analysis' model as it was: what it solved is its result's.
  EXPECT_EQ(std::vector<float>(AnalysisSwitches().pParams, AnalysisSwitches().pParams + kModelParams + 1), heldParams);
  EXPECT_EQ(DataSet().fMeniscus, heldMeniscus);
  EXPECT_EQ(ModelParams().fBaseline, heldBaseline);
  // The input of the changed analysis is another model.
  MisleadTheModel();
  const ModelInput changed = CurrentModelInput();
  EXPECT_NE(changed.meniscus, input.meniscus);
  ASSERT_TRUE(CalculateModel(nullptr, changed).ok());
  EXPECT_FALSE(SameBits(FitRows(), reference));
}

INSTANTIATE_TEST_SUITE_P(Models, ModelInputCase, ::testing::Range<std::size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                           std::string name = Cases()[info.param].name;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return std::to_string(info.param) + "_" + name;
                         });

// The loading of each slot from the input (first included slot: 1 minus the others'
// fractions, times the total), against the sums written out here.
TEST(ModelInput, LoadingsOfTheSlots) {
  ModelInput in;
  in.species[2] = {3.0f, 6.0f, 6e-7, 0.5f, true};  // total of the first included slot
  in.species[3] = {5.0f, 4.0f, 4e-7, 0.25f, true};
  in.species[4] = {7.0f, 3.0f, 3e-7, 0.125f, true};
  ASSERT_EQ(FirstIncludedSlot(in), 2);
  EXPECT_DOUBLE_EQ(SpeciesLoading(in, 2, 2), (1.0 - 0.25 - 0.125) * 0.5);
  EXPECT_DOUBLE_EQ(SpeciesLoading(in, 3, 2), 0.25 * 0.5);
  // The buffer component in slot 4 takes no share of the first slot's total.
  in.model.bufferCorrection = true;
  EXPECT_DOUBLE_EQ(SpeciesLoading(in, 2, 2), (1.0 - 0.25) * 0.5);
  // Fractions above 1 leave the first slot nothing, not a negative loading.
  in.species[3].amplitude = 1.5f;
  EXPECT_EQ(SpeciesLoading(in, 2, 2), 0.0);
  in.species[2].included = in.species[3].included = in.species[4].included = false;
  EXPECT_EQ(FirstIncludedSlot(in), 0);
}

// The census of the model computation's own translation units: they name none of
// the analysis' species values, cell, baseline or model switches that the input
// carries, nor the readers that take them from the analysis (the model variables
// are laid from the input for the layers below, and read there only). The slots'
// loadings have only the input's form, so the compiler refuses a reader of the parts.
TEST(ModelInput, TheComputationNamesNoValueTheInputCarries) {
  const std::vector<std::string> names = {
      "pSpeciesS[", "pSpeciesMassOrD[", "pSpeciesAmplitude[", "fMeniscus", "fBottom", "fBaseline",
      "SpeciesDiffusion(", "UnpackModelParams(", "bC1Nonideal", "fTimeOffset",
      "bTimeOffset", "fAssocLoading", "fReactExtico", "bFaxenApproximation", "bDiscreteModel",
      "bMonomerDimer", "bHeteroAssocModel", "bNonIdealMultiple", "bBufferSedCorrection", "bCumulants",
      "bStokesRadii", "CurrentSimInput(",
      // the coefficient law of the self-association and non-ideal models
      "fAssocLogK", "bRepulsiveNonideality", "bDimerNonideal", "bCosoluteCoefficients",
      "bCsClCoefficients", "dSignalPerConcentration", "fOligoS", "fS2",
      // the reacting system's record, the buffer component's record
      "Reaction()", "CalculateBufferSedimentation(window)", "CurrentBufferSedModel(", "CurrentBufferSedInput("};
  for (const char* unit : {"modelcalc/model_computation.cpp", "modelcalc/species_model_cl.cpp"}) {
    SCOPED_TRACE(unit);
    const std::string code = tarmic::testing::ProductionSource(unit);
    ASSERT_GT(code.size(), 1000u);
    EXPECT_NE(code.find("in.species"), std::string::npos);
    for (const std::string& name : names) EXPECT_EQ(code.find(name), std::string::npos) << name;
  }
  // The census sees these names where they are read from the analysis.
  EXPECT_NE(tarmic::testing::ProductionSource("modelcalc/model_input.cpp").find("pSpeciesS["), std::string::npos);
}

}  // namespace
}  // namespace tarmic
