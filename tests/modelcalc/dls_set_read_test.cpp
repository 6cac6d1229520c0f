// A DLS selection is read as one set: another program rewrites every file of the
// set (in place at the same size, in place at another size, or by a new file
// renamed over it) between two reads of the load, once or twice. The loaded set is
// then the old set whole, the new set whole, or a refusal naming a changed file
// with the set loaded before left as it was; never files of both.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "modelcalc/dls_data_set.h"
#include "modelcalc_test_support.h"
#include "numerics/text_lines.h"
#include "platform/headless/headless_backend.h"
#include "scandata/scan_loading.h"
#include "tests/support/read_rewrites.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;


// A dlsdat file of 12 points whose g(2) - 1 is value at every lag time; value is
// written as given so that its text sets the file's size.
std::string DlsText(double time, const std::string& value) {
  std::string text = "synthetic\n20.0 " + std::to_string(time) + " 150.00 1.33 0.01002 90 6.33e-07 0\n";
  for (int i = 1; i <= 12; ++i) text += std::to_string(i) + "e-5 " + value + "\n";
  return text;
}

void WriteInPlace(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void WriteByRename(const std::string& path, const std::string& text) {
  WriteInPlace(path + ".new", text);
  fs::rename(path + ".new", path);
}

class DlsSetReadTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetModelCalcState(); }
  void TearDown() override {
    test::ResetModelCalcState();
  }
};

TEST_F(DlsSetReadTest, ASetRewrittenBetweenReadsIsReadWholeOrRefusedNamingTheFile) {
  ScopedHeadlessBackend backend;
  const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/dls_set_read";
  fs::remove_all(dir);
  fs::create_directories(dir);
  constexpr int kFiles = 3;
  std::vector<std::string> paths;
  for (int f = 0; f < kFiles; ++f) paths.push_back(dir + "/s" + std::to_string(f + 1) + ".dlsdat");
  // Old values 0.2f, new ones 0.5f (same size) or 0.55f (another size); a second
  // rewrite gives 0.7f.
  auto value = [](int version, int f, bool otherSize) {
    const int base = version == 0 ? 20 : version == 1 ? 50 : 70;
    return "0." + std::to_string(base + f) + (otherSize && version > 0 ? "5" : "");
  };
  const std::string before = dir + "/before.dlsdat";

  struct Way {
    const char* what;
    void (*write)(const std::string&, const std::string&);
    bool otherSize;
  };
  const Way ways[] = {{"in place, same size", WriteInPlace, false},
                      {"in place, another size", WriteInPlace, true},
                      {"renamed over, same size", WriteByRename, false}};
  int old = 0, fresh = 0, refused = 0;
  for (const Way& way : ways)
    for (int first = 1; first <= 2 * kFiles + 1; ++first)
      for (int second = 0; second <= 2 * kFiles + 1; ++second) {
        if (second != 0 && second <= first) continue;
        const std::string what = std::string(way.what) + ", after read " + std::to_string(first) +
                                 (second ? " and " + std::to_string(second) : "");
        // The set loaded before: one file of another time.
        WriteInPlace(before, DlsText(5.0, "0.9"));
        ASSERT_EQ(LoadDLSData(nullptr, MakeSelectionBuffer({before}).c_str(), true), "");
        for (int f = 0; f < kFiles; ++f) {
          WriteInPlace(paths[f], DlsText(100.0 * (f + 1), value(0, f, false)));
          // Written well before the load, as data on disk are: the file system's
          // clock gives a rewrite another time.
          fs::last_write_time(paths[f], fs::file_time_type::clock::now() - std::chrono::hours(1));
        }
        test::ReadRewrites r;
        r.dir = dir;
        r.at = {first};
        if (second) r.at.insert(second);
        r.rewrite = [&](int version) {
          for (int f = 0; f < kFiles; ++f)
            way.write(paths[f], DlsText(100.0 * (f + 1), value(version, f, way.otherSize)));
        };
        const std::string why = [&] {
          test::ScopedReadRewrites rewrites(r);
          return LoadDLSData(nullptr, MakeSelectionBuffer(paths).c_str(), true);
        }();
        if (!why.empty()) {
          ++refused;
          EXPECT_NE(why.find("changed while they were read"), std::string::npos) << what << ": " << why;
          EXPECT_NE(why.find(paths[0]), std::string::npos) << what << ": " << why;
          ASSERT_EQ(DataSet().nScans, 1) << what;
          EXPECT_EQ(DataSet().ppScanFileNames[1], "before.dlsdat") << what;
          continue;
        }
        ASSERT_EQ(DataSet().nScans, kFiles) << what;
        // Every file of one version: the one read is the version of file 1.
        int version = -1;
        for (int s = 1; s <= kFiles; ++s) {
          const int f = DataSet().ppScanFileNames[s][1] - '1';
          const float got = DataSet().ppSignal[s][1];
          int v = -1;
          for (int candidate = 0; candidate <= r.done; ++candidate)
            if (std::stof(value(candidate, f, way.otherSize)) == got) v = candidate;
          ASSERT_GE(v, 0) << what << ": scan " << s << " holds " << got;
          if (version < 0) version = v;
          EXPECT_EQ(v, version) << what << ": a set of two versions";
        }
        // The version read is the one on disk after the last rewrite (old when no
        // rewrite came within the reads).
        EXPECT_EQ(version, r.done) << what;
        ++(version == 0 ? old : fresh);
      }
  std::printf("[ sweep    ] %d loads read the old set, %d the new one, %d were refused\n", old, fresh, refused);
  EXPECT_GT(old, 0);
  EXPECT_GT(fresh, 0);
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace tarmic
