// The census of the doors through which a Lamm solution writes a scan: every call
// of a scan writer in the solvers (lamm/, propagators/) is counted by the
// solution's ScanCoverage (lamm/scan_coverage.h), whose Complete() decides whether
// the solution computed every scan. The model computation and the distributions
// take a solution's scans only through these solvers (the closed forms there
// compute each scan from its own time). A writer call without the count (a later
// door that fills scans past the end of a run) fails the test with its file and
// line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Line {
  std::string file;
  int number = 0;
  std::string code;  // without its // comment
};

std::vector<Line> SourceLines(const std::vector<std::string>& folders) {
  std::vector<Line> lines;
  for (const std::string& folder : folders) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fs::path(TARMIC_SOURCE_DIR) / folder))
      if (entry.path().extension() == ".cpp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path& path : files) {
      std::ifstream in(path);
      std::string text;
      int n = 0;
      while (std::getline(in, text)) {
        const std::size_t comment = text.find("//");
        lines.push_back({folder + "/" + path.filename().string(), ++n,
                         comment == std::string::npos ? text : text.substr(0, comment)});
      }
    }
  }
  return lines;
}

// The scan writers: the solver object's recording of a profile and of a closed
// form, the propagators' recorder and the buffer solver's record function.
const std::regex kWriterCall(R"((^|[^:\w])(StoreProfile|RecordClosedFormProfile|Record|record_)\s*\()");
// Definitions and declarations of the writers, and the recorder's member set-up.
const std::regex kNotACall(R"(^\s*(void|bool|virtual|static)\b|::(StoreProfile|RecordClosedFormProfile|Record)\s*\(|record_\(record\))");

TEST(ScanWriterCensus, EveryScanWrittenBySolverIsCountedByItsCoverage) {
  const std::vector<Line> lines = SourceLines({"lamm", "propagators"});
  ASSERT_GT(lines.size(), 5000u) << "sources not found under " << TARMIC_SOURCE_DIR;
  int doors = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (!std::regex_search(l.code, kWriterCall) || std::regex_search(l.code, kNotACall)) continue;
    // The final profile of a run past its last scan replaces that scan, counted
    // when it was first recorded.
    if (l.code.find("Record(n - 1)") != std::string::npos) continue;
    // A subclass's recording hands the scan to the recorder's own Record, which
    // is the writer counted at its call.
    if (l.code.find("ScanTimeRecorder::Record(") != std::string::npos) continue;
    ++doors;
    bool counted = false;
    for (std::size_t k = i; k < lines.size() && k <= i + 8 && lines[k].file == l.file; ++k)
      counted |= lines[k].code.find("Recorded()") != std::string::npos;
    EXPECT_TRUE(counted) << l.file << ":" << l.number << " writes a scan that its coverage does not count:"
                         << l.code;
  }
  // The solver object: a recorded scan, the scans handed on after a stop rule, the
  // closed form without diffusion and the profile of s = D = 0; the recorder's
  // scans; the buffer solver's recorded and handed-on scans (7 when written). Each
  // door found is checked above; their number may change with the code.
  std::cout << doors << " scan writer calls, each counted by its coverage" << std::endl;
  EXPECT_GT(doors, 0) << "no scan writer found: the census pattern no longer matches";
}

// The census of the writes into a solution's output rows in lamm/: the rows are
// reached only through ScanOutputRow or ppOut, and every write through them goes
// through CLammIdeal::WriteScanRow, which tells the kernel sums of a list
// (pOutputSums) of the row; the per-scan-radii sum of own profiles writes ppOut
// directly and voids those sums. A later door that writes a row otherwise would
// leave the normal equations with sums of a kernel that is no longer there.
TEST(ScanWriterCensus, EveryOutputRowWriteTellsTheKernelSums) {
  const std::vector<Line> lines = SourceLines({"lamm"});
  ASSERT_GT(lines.size(), 3000u) << "sources not found under " << TARMIC_SOURCE_DIR;
  const std::regex row(R"(\bScanOutputRow\s*\(|\bppOut\s*\[)");
  int doors = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Line& l = lines[i];
    if (!std::regex_search(l.code, row)) continue;
    ++doors;
    // The row's definition and the one primitive.
    if (l.code.find("CLammIdeal::ScanOutputRow(") != std::string::npos) continue;
    if (l.code.find("return {ppOwnProfiles[scan]") != std::string::npos ||
        l.code.find("return {ppOut[scan]") != std::string::npos)
      continue;
    bool primitive = false, voided = false;
    for (std::size_t k = i; k-- > 0 && k + 6 >= i && lines[k].file == l.file;) {
      primitive |= lines[k].code.find("CLammIdeal::WriteScanRow(") != std::string::npos;
      voided |= lines[k].code.find("pOutputSums->Invalidate()") != std::string::npos;
    }
    EXPECT_TRUE(primitive || voided) << l.file << ":" << l.number
                                     << " writes an output row outside WriteScanRow:" << l.code;
  }
  // ScanOutputRow's two rows, WriteScanRow's call and the per-scan sum.
  std::cout << doors << " output row accesses in lamm/, each through WriteScanRow or voiding the sums"
            << std::endl;
  EXPECT_GE(doors, 4) << "the census pattern no longer matches";
}

}  // namespace
