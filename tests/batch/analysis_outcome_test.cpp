// The outcome of a Run or Fit holds the model's values and a distribution's peaks
// as the analysis holds them: the example's Fit of discrete species (Marquardt-
// Levenberg, which computes standard errors) and its Run of c(s), each through the
// window's commands on the batch's backend. Each value equals the model variable
// behind it, is floated when its switch is on, has an error only when floated and
// unchanged since the fit, and stands at a bound only when a range end holds it;
// the peaks lie at the example's true s values.
#include <cmath>

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

// The record of name, which must be there.
const OutcomeParameter& Named(const AnalysisOutcome& o, const std::string& name) {
  const OutcomeParameter* p = FindParameter(o, name);
  EXPECT_NE(p, nullptr) << name;
  static const OutcomeParameter none;
  return p ? *p : none;
}

// The discrete fit: each species' s, D and loading as the model variables hold
// them, with their switches; errors for the floated values only. Then a value
// changed after the fit loses its error, and a value moved onto its bound stands
// there.
void CheckSpecies(const AnalysisOutcome& o) {
  UnpackModelParams();
  int species = 0;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!AnalysisSwitches().pSpeciesLinked[k]) continue;
    ++species;
    const auto check = [&](const std::string& name, float value, int fit, bool linear = false) {
      const OutcomeParameter& p = Named(o, name);
      EXPECT_EQ(p.value, static_cast<double>(value)) << name;
      EXPECT_EQ(p.floated, fit != 0 || linear) << name;
      EXPECT_EQ(p.error.has_value(), fit != 0) << name;
      if (p.error) {
        EXPECT_GT(*p.error, 0.0) << name;
      }
      EXPECT_FALSE(p.atBound) << name;  // the example's species are far from 0
    };
    check("s" + std::to_string(k), ModelParams().pSpeciesS[k], ModelParams().pSpeciesSFit[k]);
    check("D" + std::to_string(k), ModelParams().pSpeciesMassOrD[k], ModelParams().pSpeciesMassOrDFit[k]);
    check("c" + std::to_string(k), ModelParams().pSpeciesAmplitude[k], ModelParams().pSpeciesAmplitudeFit[k],
          ModelParams().bLinearAmplitudes);
  }
  EXPECT_EQ(species, 2);
  // The true values of the example: 4 S and 8 S.
  EXPECT_NEAR(Named(o, "s1").value, 4.0, 0.1);
  EXPECT_NEAR(Named(o, "s2").value, 8.0, 0.1);
  EXPECT_EQ(Named(o, "c1").unit, "OD");
  EXPECT_EQ(Named(o, "c2").unit, "fraction");
  EXPECT_FALSE(Named(o, "baseline").atBound);
  ASSERT_TRUE(Named(o, "s1").floated);
  // s1 changed since the fit; D1 (not negative for a species) put on 0.
  AnalysisSwitches().pParams[nSpeciesSlots + 1] += 1.0f;
  AnalysisSwitches().pParams[1] = 0.0f;
  const AnalysisOutcome changed = OutcomeOfComputation(true);
  EXPECT_FALSE(Named(changed, "s1").error.has_value());
  EXPECT_FALSE(Named(changed, "s1").atBound);
  EXPECT_EQ(Named(changed, "D1").atBound, Named(changed, "D1").floated);
  EXPECT_FALSE(Named(changed, "D1").error.has_value());
  EXPECT_TRUE(Named(changed, "s2").error.has_value());
}

TEST_P(AnalysisOutcomeValues, AreTheAnalysisValues) {
  ResetEverything();
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/AnalysisOutcome_" +
                           std::to_string(GetParam().command);
  batch_fs::remove_all(root);
  batch_fs::create_directories(root + "/temp");
  CopyExample(root + "/data");
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
        DispatchCommand(window, kCmFitMarquardt);
        ModelParams().bVaryMeniscus = true;  // a meniscus with an error and a range to stop at
        PackModelParams();
      }
      DispatchCommand(window, GetParam().command);
      const AnalysisOutcome o = LastAnalysisOutcome();
      ASSERT_EQ(o.status, AnalysisOutcome::Status::Computed);
      // Meniscus and bottom as the data set holds them, with their switches.
      const OutcomeParameter& meniscus = Named(o, "meniscus");
      EXPECT_EQ(meniscus.value, static_cast<double>(DataSet().fMeniscus));
      EXPECT_EQ(meniscus.floated, AnalysisSwitches().pParamFitFlags[13] != 0);
      EXPECT_EQ(Named(o, "bottom").value, static_cast<double>(DataSet().fBottom));
      EXPECT_EQ(meniscus.unit, "cm");
      EXPECT_EQ(meniscus.error.has_value(), fit);
      // The fit's own list of values at their bounds names the same values.
      for (const OutcomeParameter& p : o.parameters)
        if (p.atBound) {
          EXPECT_TRUE(p.floated) << p.name;
        }
      std::size_t atBound = 0;
      for (const OutcomeParameter& p : o.parameters) atBound += p.atBound ? 1 : 0;
      EXPECT_EQ(atBound, o.atBounds.size());
      // A meniscus range that ends at the meniscus holds a floated meniscus there.
      DataSet().fMinMeniscus = DataSet().fMeniscus - 0.05f;
      DataSet().fMaxMeniscus = DataSet().fMeniscus;
      EXPECT_EQ(Named(OutcomeOfComputation(fit), "meniscus").atBound, meniscus.floated);
      DataSet().fMinMeniscus = DataSet().fMaxMeniscus = 0.0f;
      if (fit) {
        EXPECT_TRUE(o.peaks.empty());
        EXPECT_EQ(FindParameter(o, "f/f0"), nullptr);
        CheckSpecies(o);
      } else {
        // c(s): f/f0 of the parameter file, and the two species as its two peaks.
        EXPECT_NEAR(Named(o, "f/f0").value, 1.2, 1e-6);
        EXPECT_EQ(FindParameter(o, "s1"), nullptr);
        EXPECT_EQ(o.peakUnit, "S");
        ASSERT_EQ(o.peaks.size(), 2u);
        EXPECT_NEAR(o.peaks[0].position, 4.0, 0.2);
        EXPECT_NEAR(o.peaks[1].position, 8.0, 0.3);
        // Their areas: the loadings 0.52 OD and 0.28 OD.
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
