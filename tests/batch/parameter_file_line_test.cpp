// A parameter file refused for one of its values names the line that holds the
// value: for every continuous model a file can choose, each line in turn holds a
// value no entry takes, and a refusal that follows names that line.
#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "batch_test_support.h"
#include "modelcalc/fit_persistence.h"
#include "resources/command_ids.h"
#include "scandata/text_io.h"
#include "tests/commands/distribution_window_test_support.h"

namespace tarmic::testing {
namespace {

class ParameterFileLineTest : public DistributionWindowTest {
 protected:
  // The lines of cs.~p of the example for the model of code, with values that serve
  // every model (as the batch's run of every distribution model takes them).
  static std::vector<std::string> BaseLines(int code) {
    std::ifstream in(std::string(TARMIC_EXAMPLES_DIR) + "/two_species/cs.~p");
    std::vector<std::string> lines;
    for (std::string text; std::getline(in, text);) lines.push_back(text);
    std::map<int, std::string> edits = {{3, "30.000000"}, {12, "1.000000"}, {34, "5.000000"},
                                        {73, Format("%d.000000", code)}};
    if (code == kCmContinuousCsFloatingVbar) edits.insert({{21, "0.730000"}, {23, "1.200000"}});
    for (const auto& [line, text] : edits) lines[static_cast<std::size_t>(line - 1)] = text;
    return lines;
  }

  // Writes lines into the file and reloads it; the text of its refusal, "" when
  // taken.
  std::string Reload(const std::vector<std::string>& lines) {
    const std::string path = ProgramDir() + "/check.~p";
    {
      std::ofstream out(path);
      for (const std::string& l : lines) out << l << "\n";
    }
    Backend().ClearTranscript();
    Backend().AnswerUnscriptedBoxes(IDOK);
    const int taken = ReloadParameters(&Win().GetHandle(), path, FrontEndAnswers());
    std::string refusal;
    for (const TranscriptEntry& e : Backend().Transcript())
      if (e.caption == "reload parameters" && e.text.find("cannot be used") != std::string::npos) refusal = e.text;
    EXPECT_EQ(taken == 0, !refusal.empty()) << refusal;
    return refusal;
  }
};

// The lines a refusal names: "line N: " or "lines N and M: ".
std::vector<int> NamedLines(const std::string& refusal) {
  std::vector<int> lines;
  const std::size_t at = refusal.find("cannot be used: line");
  if (at == std::string::npos) return lines;
  std::size_t p = refusal.find(' ', at + 20) + 1;
  for (;;) {
    int n = 0;
    while (p < refusal.size() && refusal[p] >= '0' && refusal[p] <= '9') n = n * 10 + (refusal[p++] - '0');
    if (n == 0) break;
    lines.push_back(n);
    if (refusal.compare(p, 5, " and ") != 0) break;
    p += 5;
  }
  return lines;
}

TEST_F(ParameterFileLineTest, ARefusedValueIsNamedByItsLineForEveryModel) {
  const std::string data = ProgramDir() + "/data";
  CopyExample(data);
  LoadThroughDialog(ExampleScans(data));
  ASSERT_EQ(DataSet().nScans, 20);
  int refusals = 0;
  for (const int code : ContinuousModelCodes()) {
    SCOPED_TRACE(Format("code %d", code));
    const std::vector<std::string> base = BaseLines(code);
    ASSERT_EQ(Reload(base), "");
    for (std::size_t k = 0; k < base.size(); ++k) {
      const int line = static_cast<int>(k) + 1;
      if (line == 1 || line == 73 || line == 174) continue;  // the kind of file, the model, the variant
      // A value below every range that has a lower end.
      std::vector<std::string> lines = base;
      lines[k] = "-1000000000.000000";
      const std::string refusal = Reload(lines);
      if (refusal.empty()) continue;
      ++refusals;
      const std::vector<int> named = NamedLines(refusal);
      EXPECT_NE(std::find(named.begin(), named.end(), line), named.end()) << "line " << line << ": " << refusal;
    }
  }
  // Each model refuses values on many lines (ranges, grids, the cell).
  EXPECT_GT(refusals, 20 * static_cast<int>(ContinuousModelCodes().size()));
}

}  // namespace
}  // namespace tarmic::testing
