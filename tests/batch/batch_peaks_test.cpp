// The peaks of a distribution come from one list: the window's labels and the
// batch's summary both take DistributionPeakList, and no other source looks for
// peaks on the distribution curve or reads the labels' table to report peaks.
#include <regex>

#include <gtest/gtest.h>

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
  EXPECT_EQ(listers, (std::vector<std::string>{"batch/batch_extras.cpp", "batch/batch_summary.cpp",
                                               "commands/distribution_peak_tools.cpp",
                                               "distributions/distribution_peaks.cpp", "distributions/distribution_peaks.h"}));
  EXPECT_TRUE(labelReaders.empty()) << ::testing::PrintToString(labelReaders);
}

}  // namespace
}  // namespace tarmic::testing
