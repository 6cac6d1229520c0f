// The include map of the model computations' headers has no circle: no modelcalc
// header reaches itself through the modelcalc headers it includes. Shared parts
// have a home of their own that both sides include (as fit_report.h is for the
// discrete and the continuous fits).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/production_sources.h"

namespace tarmic::testing {
namespace {

TEST(ModelcalcIncludeMapTest, NoHeaderReachesItselfThroughItsIncludes) {
  // Header (name without ".h") -> the modelcalc headers it includes.
  std::map<std::string, std::set<std::string>> includes;
  const std::regex include(R"(#include\s+"modelcalc/([A-Za-z0-9_]+)\.h")");
  for (const auto& [path, code] : ProductionSources()) {
    if (path.rfind("modelcalc/", 0) != 0 || !path.ends_with(".h")) continue;
    const std::string unit = path.substr(10, path.find_last_of('.') - 10);
    includes[unit];
    for (std::sregex_iterator it(code.begin(), code.end(), include), end; it != end; ++it)
      if ((*it)[1] != unit) includes[unit].insert((*it)[1]);
  }
  ASSERT_GT(includes.size(), 20u);
  std::cout << includes.size() << " modelcalc headers\n";
  // The discrete and the continuous fit share fit_report.h, and neither's header
  // takes in the other's.
  ASSERT_TRUE(includes.count("fit_report"));
  for (const char* fit : {"fit_driver", "conti_fit"}) EXPECT_TRUE(includes[fit].count("fit_report")) << fit;
  EXPECT_FALSE(includes["conti_fit"].count("fit_driver"));
  EXPECT_FALSE(includes["fit_driver"].count("conti_fit"));
  EXPECT_FALSE(includes["fit_report"].count("fit_driver") || includes["fit_report"].count("conti_fit"));
  // Depth-first search: a unit met again on the path closes a circle.
  std::vector<std::string> circles;
  std::map<std::string, int> state;  // 1 on the path, 2 done
  std::vector<std::string> path;
  std::function<void(const std::string&)> visit = [&](const std::string& unit) {
    state[unit] = 1;
    path.push_back(unit);
    for (const std::string& next : includes[unit]) {
      if (state[next] == 1) {
        std::string circle;
        for (auto it = std::find(path.begin(), path.end(), next); it != path.end(); ++it) circle += *it + " -> ";
        circles.push_back(circle + next);
      } else if (state[next] == 0) {
        visit(next);
      }
    }
    path.pop_back();
    state[unit] = 2;
  };
  for (const auto& [unit, next] : includes)
    if (state[unit] == 0) visit(unit);
  EXPECT_EQ(circles, std::vector<std::string>{});
}

}  // namespace
}  // namespace tarmic::testing
