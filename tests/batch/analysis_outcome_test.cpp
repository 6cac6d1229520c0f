// The outcome of a Run or Fit holds the model's values and the peaks as the
// analysis holds them: the example's Fit of discrete species (Marquardt-Levenberg,
// which computes errors) and its Run of c(s), through the window's commands.
#include <algorithm>

#include "app/response_table.h"
#include "app/xla_window.h"
#include "batch/batch_backend.h"
#include "batch_test_support.h"
#include "commands/load_commands.h"
#include "commands/program_services.h"
#include "commands/save_outcome.h"
#include "modelcalc/analysis_outcome.h"
#include "modelfit/model_params.h"
#include "resources/command_ids.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "tests/commands/commands_test_support.h"

namespace tarmic::testing {
namespace {

struct OutcomeCase {
  const char* parameters;
  int command;
};
void PrintTo(const OutcomeCase& c, std::ostream* os) { *os << c.parameters; }

class AnalysisOutcomeValues : public ::testing::TestWithParam<OutcomeCase> {};

const OutcomeParameter& Named(const AnalysisOutcome& o, const std::string& name) {
  static const OutcomeParameter none;
  const OutcomeParameter* p = FindParameter(o, name);
  EXPECT_NE(p, nullptr) << name;
  return p ? *p : none;
}

// The species of the fit as the model variables hold them (after unpacking),
// with their switches (loadings solved linearly are fitted too) and errors for
// the values of the vector; then s1 changed since the fit loses its error, and
// D1 (not negative) put on 0 stands at its bound.
void CheckSpecies(const AnalysisOutcome& o) {
  UnpackModelParams();
  const ModelParamsState& m = ModelParams();
  for (int k = 1; k <= 2; ++k) {
    const auto check = [&](std::string name, float value, int fit, bool linear) {
      const OutcomeParameter& p = Named(o, name += std::to_string(k));
      EXPECT_EQ(p.value, static_cast<double>(value)) << name;
      EXPECT_EQ(p.floated, fit != 0 || linear) << name;
      EXPECT_EQ(p.error.has_value(), fit != 0) << name;
      EXPECT_FALSE(p.atBound) << name;
    };
    check("s", m.pSpeciesS[k], m.pSpeciesSFit[k], false);
    check("D", m.pSpeciesMassOrD[k], m.pSpeciesMassOrDFit[k], false);
    check("c", m.pSpeciesAmplitude[k], m.pSpeciesAmplitudeFit[k], m.bLinearAmplitudes);
  }
  EXPECT_NEAR(Named(o, "s1").value, 4.0, 0.1);  // the example's true values
  EXPECT_NEAR(Named(o, "s2").value, 8.0, 0.1);
  ASSERT_TRUE(Named(o, "s1").floated && Named(o, "D1").floated);
  AnalysisSwitches().pParams[nSpeciesSlots + 1] += 1.0f;
  AnalysisSwitches().pParams[1] = 0.0f;
  const AnalysisOutcome changed = OutcomeOfComputation(true);
  EXPECT_FALSE(Named(changed, "s1").error || Named(changed, "s1").atBound);
  EXPECT_TRUE(Named(changed, "D1").atBound);
  EXPECT_FALSE(Named(changed, "D1").error);
  EXPECT_TRUE(Named(changed, "s2").error);
}

TEST_P(AnalysisOutcomeValues, AreTheAnalysisValues) {
  ResetEverything();
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/AnalysisOutcome_" + GetParam().parameters;
  batch_fs::remove_all(root);
  CopyExample(root + "/data");
  batch_fs::create_directories(root + "/temp");
  SetupPathTable(root, root + "/temp");
  bDisclaimerAccepted = true;
  InstallResponseTable();
  std::FILE* err = std::tmpfile();
  ASSERT_NE(err, nullptr);
  {
    BatchBackend backend(err, false);
    SetBackend(&backend);
    InstallProgramServices();
    {
      TXLAWindow window("Sedimentation Analysis");
      window.SetupWindow();
      backend.OfferFiles(ExampleScans(root + "/data"));
      ASSERT_TRUE(LoadNewFiles(window, LoadKind::Velocity));
      ASSERT_TRUE(SwitchToParameterFile(window, root + "/data/" + GetParam().parameters));
      const bool fit = GetParam().command == kCmFit;
      if (fit) {
        DispatchCommand(window, kCmFitMarquardt);  // computes standard errors
        ModelParams().bVaryMeniscus = true;
        PackModelParams();
      }
      DispatchCommand(window, GetParam().command);
      const AnalysisOutcome o = LastAnalysisOutcome();
      ASSERT_EQ(o.status, AnalysisOutcome::Status::Computed);
      const OutcomeParameter& meniscus = Named(o, "meniscus");
      EXPECT_EQ(meniscus.value, static_cast<double>(DataSet().fMeniscus));
      EXPECT_EQ(Named(o, "bottom").value, static_cast<double>(DataSet().fBottom));
      EXPECT_EQ(meniscus.floated, fit);
      EXPECT_EQ(meniscus.error.has_value(), fit);
      // As many at their bounds as the fit's own list names.
      EXPECT_EQ(std::count_if(o.parameters.begin(), o.parameters.end(), [](auto& p) { return p.atBound; }),
                static_cast<std::ptrdiff_t>(o.atBounds.size()));
      // A meniscus range that ends at the meniscus holds a floated meniscus there.
      DataSet().fMinMeniscus = DataSet().fMeniscus - 0.05f;
      DataSet().fMaxMeniscus = DataSet().fMeniscus;
      EXPECT_EQ(Named(OutcomeOfComputation(fit), "meniscus").atBound, fit);
      DataSet().fMinMeniscus = DataSet().fMaxMeniscus = 0.0f;
      if (fit) {
        EXPECT_TRUE(o.peaks.empty());
        CheckSpecies(o);
      } else {
        // c(s): the file's f/f0; the two species as peaks, the areas their loadings.
        EXPECT_NEAR(Named(o, "f/f0").value, 1.2, 1e-6);
        EXPECT_EQ(o.peakUnit, "S");
        ASSERT_EQ(o.peaks.size(), 2u);
        EXPECT_NEAR(o.peaks[0].position, 4.0, 0.2);
        EXPECT_NEAR(o.peaks[1].position, 8.0, 0.3);
        EXPECT_NEAR(o.peaks[0].area, 0.52, 0.03);
        EXPECT_NEAR(o.peaks[1].area, 0.28, 0.03);
      }
      DispatchCommand(window, kCmExit);
    }
    SetBackend(nullptr);
  }
  std::fclose(err);
  SetResponseTable({});
  ResetEverything();
}

INSTANTIATE_TEST_SUITE_P(Cases, AnalysisOutcomeValues,
                         ::testing::Values(OutcomeCase{"species.~p", kCmFit}, OutcomeCase{"cs.~p", kCmRun}),
                         [](const auto& info) { return std::string(info.param.command == kCmFit ? "fit" : "run"); });

}  // namespace
}  // namespace tarmic::testing
