// The errors a Marquardt-Levenberg fit reports are standard errors: over noise
// replicates of data made by the program's own model, the spread (standard
// deviation) of the fitted values agrees with the reported errors within a quarter,
// and the errors follow the noise; the window's covariance report brackets the same
// errors. One species and two, at noise 0.002 to 0.02 OD,
// on one fixed grid (see below).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "modelcalc/fit_driver.h"
#include "platform/headless/headless_backend.h"
#include "services/path_table.h"
#include "tests/modelcalc/modelcalc_test_support.h"

namespace tarmic {
namespace {

using test::Idx;

struct Species {
  double s;  // S
  double d;  // 1e-7 cm^2/s
  double loading;
};

struct ErrorCase {
  const char* name;
  std::vector<Species> species;
  int seeds;  // noise replicates at each noise level
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

constexpr double kNoises[] = {0.002, 0.006, 0.02};

// The species at the given factors of their s and D, both floated, their loadings
// fixed at the truth (a one-species set) or solved linearly.
void SetSpecies(const std::vector<Species>& species, double sFactor, double dFactor) {
  test::SetOneSpecies(species[0].s, species[0].d, 1, 6.0, false);
  for (std::size_t k = 0; k < species.size(); ++k) {
    const int slot = static_cast<int>(k) + 1;
    AnalysisSwitches().pSpeciesLinked[slot] = 1;
    ModelParams().pSpeciesS[slot] = static_cast<float>(sFactor * species[k].s);
    ModelParams().pSpeciesMassOrD[slot] = static_cast<float>(dFactor * species[k].d);
    ModelParams().pSpeciesAmplitude[slot] = static_cast<float>(species[k].loading);
    ModelParams().pSpeciesSFit[slot] = ModelParams().pSpeciesMassOrDFit[slot] = 1;
  }
  PackModelParams();
  AllocSpeciesSignalArrays();
}

// The slots of the values of the fit vector: s and D of each species.
std::vector<int> Slots(const std::vector<Species>& species) {
  std::vector<int> slots;
  for (int k = 1; k <= static_cast<int>(species.size()); ++k) slots.insert(slots.end(), {nSpeciesSlots + k, k});
  return slots;
}

class StandardErrorSweep : public ::testing::TestWithParam<ErrorCase> {
 protected:
  void TearDown() override { test::ResetModelCalcState(); }
};

// For every value: the deviations of the fits from the mean of their noise level,
// each over the error the fit reported, have a standard deviation of 1 within 25 %
// (pooled over the noise levels, the means taken out); and the mean reported error
// grows with the noise in proportion, within 10 % (20 % at the largest noise).
TEST_P(StandardErrorSweep, TheSpreadOfReplicatesIsTheReportedError) {
  const ErrorCase& c = GetParam();
  test::ResetModelCalcState();
  // The covariance report into the test's folder, the path restored at the end.
  struct KeptPath {
    std::string path = szMLCovarianceFile;
    ~KeptPath() { szMLCovarianceFile = path; }
  } keptReport;
  // A file of this case's own: the cases run at once in separate processes.
  szMLCovarianceFile = std::string(TARMIC_TEST_OUTPUT_DIR) + "/standard_error_covariance_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
  for (char& ch : szMLCovarianceFile)
    if (ch == '/' && &ch > &szMLCovarianceFile[std::string(TARMIC_TEST_OUTPUT_DIR).size()]) ch = '_';
  // One grid for every model: the automatic size follows D and s, and a derivative
  // step across a change of the count measures the grid, not the model.
  LammSettings().bAutoGridSize = false;
  LammSettings().nDefaultGridPoints = LammSettings().nLammGridPoints = 300;
  test::InstallVelocityScans(8, 120, 600.0, 45000.0f);
  SetSpecies(c.species, 1.0, 1.0);
  ModelParams().bLinearAmplitudes = false;
  ASSERT_TRUE(CalculateModel(nullptr).ok());
  // The true model at every point, to which each replicate adds its noise.
  std::vector<std::vector<float>> truth(Idx(DataSet().nScans) + 1);
  for (int j = 1; j <= DataSet().nScans; ++j)
    truth[Idx(j)].assign(DataSet().ppFit[Idx(j)], DataSet().ppFit[Idx(j)] + DataSet().pnPoints[Idx(j)] + 1);

  const std::vector<int> slots = Slots(c.species);
  const std::size_t n = slots.size();
  std::vector<double> sumZ2(n, 0.0);
  std::vector<std::vector<double>> meanError(std::size(kNoises), std::vector<double>(n, 0.0));
  int replicates = 0, levels = 0;
  for (std::size_t level = 0; level < std::size(kNoises); ++level) {
    const double noise = kNoises[level];
    std::vector<std::vector<double>> values, errors;
    for (int seed = 1; seed <= c.seeds; ++seed) {
      SCOPED_TRACE(::testing::Message() << "noise " << noise << " seed " << seed);
      for (int j = 1; j <= DataSet().nScans; ++j)
        std::copy(truth[Idx(j)].begin(), truth[Idx(j)].end(), DataSet().ppFit[Idx(j)]);
      test::DataFromFitWithNoise(noise, static_cast<unsigned>(1000 * level + seed));
      SetSpecies(c.species, 1.03, 0.95);
      ModelParams().bLinearAmplitudes = c.species.size() > 1;
      ScopedHeadlessBackend backend;
      backend->AnswerUnscriptedBoxes(IDOK);
      FitReport report;
      ASSERT_EQ(FitDriver(nullptr, FitMethod::Marquardt, report), FitOutcome::Completed);
      ASSERT_TRUE(FitConverged(FitOutcome::Completed, report)) << WhyNotConverged(FitOutcome::Completed, report);
      std::vector<double> v, e;
      for (const int slot : slots) {
        const std::optional<double> error = LastFitError(slot);
        ASSERT_TRUE(error.has_value()) << "slot " << slot;
        v.push_back(AnalysisSwitches().pParams[slot]);
        e.push_back(*error);
      }
      values.push_back(v);
      errors.push_back(e);
      // The window's covariance report gives the same errors in brackets.
      if (seed == 1) {
        std::vector<double> reported;
        std::ifstream in(szMLCovarianceFile);
        for (std::string line; std::getline(in, line);)
          if (const std::size_t open = line.find('('); open != std::string::npos)
            reported.push_back(std::stod(line.substr(open + 1)));
        std::vector<double> expected = e;
        std::sort(reported.begin(), reported.end());
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(reported.size(), expected.size());
        for (std::size_t q = 0; q < expected.size(); ++q) EXPECT_NEAR(reported[q], expected[q], 1e-5 * expected[q]);
      }
    }
    for (std::size_t i = 0; i < n; ++i) {
      double mean = 0.0;
      for (const auto& v : values) mean += v[i] / static_cast<double>(values.size());
      for (std::size_t r = 0; r < values.size(); ++r) {
        const double z = (values[r][i] - mean) / errors[r][i];
        sumZ2[i] += z * z;
        meanError[level][i] += errors[r][i] / static_cast<double>(values.size());
      }
    }
    replicates += static_cast<int>(values.size());
    ++levels;
  }
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(::testing::Message() << "slot " << slots[i]);
    // One degree of freedom of each level goes into its mean.
    const double spreadOverError = std::sqrt(sumZ2[i] / (replicates - levels));
    std::printf("%s slot %d: spread / reported error %.3f; errors at noise", c.name, slots[i], spreadOverError);
    for (std::size_t level = 0; level < std::size(kNoises); ++level) std::printf(" %.3g", meanError[level][i]);
    std::printf("\n");
    EXPECT_NEAR(spreadOverError, 1.0, 0.25);
    // At 0.02 OD the second species' D has an error of a fifth of its value: the
    // model is less linear over one error, and the error follows the value the fit
    // found, so the proportion holds to a fifth there.
    for (std::size_t level = 1; level < std::size(kNoises); ++level) {
      const double ratio = kNoises[level] / kNoises[0];
      EXPECT_NEAR(meanError[level][i] / meanError[0][i], ratio, (level == 1 ? 0.1 : 0.2) * ratio) << kNoises[level];
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fits, StandardErrorSweep,
    ::testing::Values(ErrorCase{"OneSpecies", {{5.0, 5.0, 0.6}}, 16},
                      ErrorCase{"TwoSpecies", {{3.0, 6.0, 0.3}, {8.0, 4.0, 0.5}}, 12}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarmic
