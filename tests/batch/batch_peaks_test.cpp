// The peaks of a distribution come from one list: the window's labels, the batch's
// summary, the Monte-Carlo limits of the peaks and the labels of the result
// pictures take DistributionPeakList, and no other source looks for peaks on the
// distribution curve or reads the labels' table to report peaks.
#include <regex>

#include <gtest/gtest.h>

#include "batch_test_support.h"
#include "tests/support/production_sources.h"

namespace tarmic::testing {
namespace {

TEST(DistributionPeakDoors, EveryPeakListIsTheOneList) {
  std::vector<std::string> finders, listers, labelReaders;
  static const std::regex labelTable(R"(\b(afPeakX|afPeakArea|nPeakLabels|pPeakLabels|ShowPeakMwLabels)\b)");
  for (const auto& [path, code] : ProductionSources()) {
    if (code.find("FindPeaks(") != std::string::npos && path != "numerics/ccurve.cpp" && path != "numerics/ccurve.h")
      finders.push_back(path);
    if (code.find("DistributionPeakList()") != std::string::npos) listers.push_back(path);
    // Only the pane's own code touches the labels' table.
    if (!path.starts_with("commands/distribution_") && std::regex_search(code, labelTable))
      labelReaders.push_back(path);
  }
  EXPECT_EQ(finders, std::vector<std::string>{"distributions/distribution_peaks.cpp"});
  std::sort(listers.begin(), listers.end());
  EXPECT_EQ(listers, (std::vector<std::string>{"commands/distribution_peak_tools.cpp",
                                               "commands/result_pictures.cpp", "distributions/distribution_peaks.cpp",
                                               "distributions/distribution_peaks.h", "modelcalc/analysis_outcome.cpp",
                                               "modelcalc/conti_monte_carlo.cpp"}));
  EXPECT_TRUE(labelReaders.empty()) << ::testing::PrintToString(labelReaders);
}

// The example's two species as c(M) (the c(s) file with model code 235 and a grid
// of 10 kg/mol to 1000 kg/mol): the peaks are listed in g/mol, and each holds the
// same share of the signal as its peak in c(s), which is the same species.
TEST(DistributionPeakDoors, CMPeaksAreInMolarMassWithTheAreasOfCs) {
  const std::string root = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/CMPeaks";
  batch_fs::remove_all(root);
  CopyExample(root + "/data");
  EditParameters(root + "/data/cs.~p", root + "/data/cm.~p", {{5, "10000"}, {7, "1000000"}, {73, "235"}});
  const auto peaks = [&](const std::string& parameters) {
    std::vector<std::string> args = {"--parameters", root + "/data/" + parameters, "--output", root + "/" + parameters};
    for (const std::string& s : ExampleScans(root + "/data")) args.push_back(s);
    EXPECT_EQ(RunBatchProgram(root, args, parameters).code, 0);
    std::vector<std::pair<double, double>> list;
    for (auto& row : TableRows(ReadWhole(root + "/" + parameters + "/peaks.tsv")))
      list.emplace_back(std::stod(row.at("position")), std::stod(row.at("area")));
    return list;
  };
  const auto cs = peaks("cs.~p"), cm = peaks("cm.~p");
  ASSERT_EQ(cs.size(), 2u);
  ASSERT_GE(cm.size(), 2u);
  EXPECT_GT(cm[0].first, 2e4);
  EXPECT_LT(cm[0].first, 1e5);
  EXPECT_GT(cm[1].first, 1e5);
  EXPECT_LT(cm[1].first, 3e5);
  for (std::size_t k = 0; k < 2; ++k) EXPECT_NEAR(cm[k].second, cs[k].second, 0.005) << k;
}

}  // namespace
}  // namespace tarmic::testing
