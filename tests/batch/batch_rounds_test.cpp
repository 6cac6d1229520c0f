// A damaged scan left out of its set, and the report of an array at scale and over
// rounds: what a cancelled or lost task left is not shown as its result.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <regex>
#include <set>

#include "batch/batch_damaged_scans.h"
#include "batch/batch_report.h"
#include "batch_test_support.h"

namespace tarmic {
namespace {

using namespace tarmic::testing;

// Sets of 3 to 60 scans that end where an instrument ends them (at one radius, a
// few radial steps apart), some cut short anywhere between the meniscus and their
// end, with and without a right fitting limit: an intact scan is never left out
// (false alarms counted over every scan), a scan cut 0.04 cm or more before the
// intact scans' fitting limit always is (power), while fewer than half are cut.
TEST(DamagedScans, LeftOutWhenCutShortNeverWhenIntact) {
  std::mt19937 random(20261210);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  long intact = 0, falseAlarms = 0, cutFar = 0, caught = 0;
  for (int trial = 0; trial < 4000; ++trial) {
    const int n = 3 + static_cast<int>(uniform(random) * 58);
    const float end = 6.9f + 0.4f * uniform(random);
    const float step = 0.001f + 0.003f * uniform(random);
    // No limit, one inside the data, or one beyond it (the loader moves it in).
    const float limits[] = {0.0f, end - 0.01f - 0.2f * uniform(random), end + 0.05f};
    const float limit = limits[trial % 3];
    const int cut = std::min(static_cast<int>(uniform(random) * 3), (n - 1) / 2);
    std::vector<ScanReach> scans;
    std::vector<float> cutAt;
    for (int k = 0; k < n; ++k) {
      ScanReach s;
      s.file = std::to_string(k);
      s.opened = s.read = true;
      // Intact: up to three steps short of the end.
      s.last = end - step * static_cast<float>(static_cast<int>(uniform(random) * 4));
      if (k < cut) s.last = 6.0f + (end - 6.0f) * uniform(random);
      scans.push_back(s);
    }
    std::shuffle(scans.begin(), scans.end(), random);
    const float reached = limit > 0.0f ? std::min(limit, end - 3 * step) : end - 3 * step;
    std::set<std::string> out;
    for (const LeftOutScan& l : DamagedScans(scans, limit)) out.insert(l.file);
    for (const ScanReach& s : scans) {
      const bool isCut = std::stoi(s.file) < cut;
      if (!isCut) {
        ++intact;
        falseAlarms += out.contains(s.file);
      } else if (s.last < reached - 0.04f) {
        ++cutFar;
        caught += out.contains(s.file);
      }
    }
  }
  EXPECT_GT(intact, 50000);
  EXPECT_EQ(falseAlarms, 0) << "of " << intact << " intact scans";
  EXPECT_GT(cutFar, 2000);
  EXPECT_EQ(caught, cutFar) << "cut scans left out";
}

// A file the reader refuses is left out with the reader's reason; a file that
// cannot be opened is no damaged scan (a wrong name, which the load refuses); among
// fewer than three read scans nothing is judged cut short.
TEST(DamagedScans, RefusedFilesAndSmallSets) {
  ScanReach good{"a", true, true, "", 7.16f}, refused{"b", true, false, "line 9 holds \"x\"", 0.0f},
      missing{"c", false, false, "", 0.0f}, shortScan{"d", true, true, "", 6.2f};
  const std::vector<LeftOutScan> out = DamagedScans({good, refused, missing, good, good, shortScan}, 7.15f);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].file, "b");
  EXPECT_EQ(out[0].reason, "line 9 holds \"x\"");
  EXPECT_EQ(out[1].file, "d");
  EXPECT_NE(out[1].reason.find("ends at 6.200 cm"), std::string::npos) << out[1].reason;
  EXPECT_TRUE(DamagedScans({good, shortScan}, 7.15f).empty());
}

class DamagedSetTest : public ::testing::Test {
 protected:
  void SetUp() override { root_ = FreshTestFolderWithExample(); }
  std::string Data() const { return root_ + "/data"; }
  BatchOutput Run(const std::string& out, const std::vector<std::string>& scans) {
    std::vector<std::string> args = {"--parameters", Data() + "/cs.~p", "--output", out, "--seed", "3"};
    args.insert(args.end(), scans.begin(), scans.end());
    return RunBatchProgram(root_, args, batch_fs::path(out).filename().string());
  }
  // Rewrites a scan, each line through edit (one-based line number, text).
  static void Edit(const std::string& path, const std::function<std::string(int, const std::string&)>& edit) {
    std::ifstream in(path);
    std::string text, line;
    for (int n = 1; std::getline(in, line); ++n) {
      const std::string edited = edit(n, line);
      if (!edited.empty()) text += edited + "\n";
    }
    in.close();
    std::ofstream(path) << text;
  }
  std::string root_;
};

// A scan cut at 6.19 cm and a scan with a junk line: each is left out of its set
// (exit 3, "computed with flags", named in the notes), the fitting limit stays the
// parameter file's, and the result is the result of the set without it, named by
// hand: the same rmsd, points and distribution.
TEST_F(DamagedSetTest, ADamagedScanIsLeftOutAndMovesNoLimit) {
  const std::vector<std::string> scans = ExampleScans(Data());
  std::vector<std::string> without = scans;
  without.erase(without.begin() + 9);
  const BatchOutput byHand = Run(root_ + "/by-hand", without);
  ASSERT_EQ(byHand.code, 0) << byHand.err;
  const std::map<std::string, std::string> expected = SummaryColumns(byHand.out);
  EXPECT_EQ(expected.at("scans used"), "19");
  EXPECT_EQ(expected.at("scans left out"), "0");
  EXPECT_EQ(expected.at("fit to [cm]"), "7.1500");

  const struct {
    const char* name;
    std::function<std::string(int, const std::string&)> edit;
    const char* note;
  } damages[] = {
      {"cut", [](int n, const std::string& line) { return n > 2 && std::stod(line) >= 6.19 ? std::string() : line; },
       "00010.ra0 left out: ends at 6.188 cm, 0.962 cm before the others' fitting limit 7.150 cm"},
      {"junk", [](int n, const std::string& line) { return n == 150 ? std::string("   6.5880  junk   0.0 ") : line; },
       "00010.ra0 left out: line 150 holds \"junk\", which is not a number"},
  };
  const std::string original = ReadWhole(scans[9]);
  for (const auto& damage : damages) {
    SCOPED_TRACE(damage.name);
    std::ofstream(scans[9]) << original;
    Edit(scans[9], damage.edit);
    const std::string out = root_ + "/" + damage.name;
    const BatchOutput run = Run(out, scans);
    EXPECT_EQ(run.code, 3) << run.err;
    const std::map<std::string, std::string> c = SummaryColumns(run.out);
    EXPECT_EQ(c.at("status"), "computed with flags");
    EXPECT_EQ(c.at("flags"), "scans left out: 1");
    EXPECT_EQ(c.at("notes"), damage.note);
    EXPECT_NE(run.err.find("tarmic-batch: " + std::string(damage.note).replace(9, 0, " is").substr(0, 24)),
              std::string::npos)
        << run.err;
    for (const char* column : {"fit from [cm]", "fit to [cm]", "points", "scans used", "rmsd [OD]", "peaks"})
      EXPECT_EQ(c.at(column), expected.at(column)) << column;
    EXPECT_EQ(c.at("scans left out"), "1");
    EXPECT_EQ(ReadWhole(out + "/distribution.dat"), ReadWhole(root_ + "/by-hand/distribution.dat"));
    EXPECT_FALSE(batch_fs::exists(out + "/f0010.ra0"));
    EXPECT_TRUE(batch_fs::exists(out + "/f0011.ra0"));
  }
}

// The files of one task of an array in dir: its code, summary, error, round,
// results; a file given as nullptr is not written.
void WriteTask(const std::string& dir, int k, const char* code, const char* summary, const char* err,
               const char* state, const std::string& results) {
  const std::string base = dir + "/" + std::to_string(k);
  if (code) std::ofstream(base + ".code") << code << "\n";
  if (summary) std::ofstream(base + ".summary") << summary;
  if (err) std::ofstream(base + ".err") << err;
  if (state) std::ofstream(base + ".state") << state << "\n";
  std::ofstream(base + ".results") << results << "\n";
}

// Over rounds: the exit code and summary a task left in an earlier round (its
// state "cancelled or lost") are no result of it, nor are its saved results shown;
// a running task is running; a task that ended by a signal says so, not what the
// shell said.
TEST(ArrayRounds, OnlyThisRoundsEndIsAResult) {
  const std::string dir = std::string(TARMIC_TEST_OUTPUT_DIR) + "/batch/ArrayRounds";
  batch_fs::remove_all(dir);
  batch_fs::create_directories(dir + "/results");
  std::ofstream(dir + "/results/distribution.dat") << "# TARMIC distribution c(s)\n1\t0\t0\t0\n2\t1\t0\t0\n3\t0\t0\t0\n";
  const char* summary = "data\tcell\tstatus\n/d\t1\tcomputed\n";
  WriteTask(dir, 1, "0", summary, "", "computed", dir + "/results");
  WriteTask(dir, 2, "0", summary, "", "cancelled or lost", dir + "/results");
  WriteTask(dir, 3, nullptr, nullptr, "", "running", dir + "/results");
  WriteTask(dir, 4, "137", nullptr, "slurm_script: line 272: 30734 Killed   \"$program\" ...\n", "failed", "");
  WriteTask(dir, 5, "137", nullptr, "slurm_script: line 272: 30734 Killed   \"$program\" ...\n", nullptr, "");
  const std::vector<ArrayTask> tasks =
      ReadArrayTasks(dir, {{"/d", "1"}, {"/d", "2"}, {"/d", "3"}, {"/d", "4"}, {"/d", "5"}});
  ASSERT_EQ(tasks.size(), 5u);
  EXPECT_EQ(tasks[0].values.size(), 3u);
  EXPECT_EQ(tasks[0].x.size(), 3u);
  EXPECT_TRUE(tasks[1].values.empty());
  EXPECT_TRUE(tasks[1].x.empty());
  EXPECT_EQ(tasks[1].exit, "-");
  EXPECT_EQ(tasks[1].reason, "cancelled or lost: it did not end in this round");
  EXPECT_EQ(tasks[2].reason, "running");
  EXPECT_EQ(tasks[3].reason, "ended by signal 9");
  EXPECT_EQ(tasks[4].state, "failed");
  EXPECT_EQ(tasks[4].reason, "ended by signal 9");
  const std::string html = ArrayReportHtml(tasks, dir);
  EXPECT_NE(html.find("5 tasks, 1 computed, 0 computed with flags"), std::string::npos) << html;
  EXPECT_NE(html.find("2 failed or refused, 1 running or waiting, 1 cancelled or lost"), std::string::npos);
  EXPECT_NE(html.find("<tr data-task=\"2\" class=\"lost\">"), std::string::npos);
  EXPECT_NE(html.find("<tr data-task=\"3\" class=\"running\">"), std::string::npos);
  EXPECT_EQ(html.find("Killed"), std::string::npos);
  EXPECT_EQ(std::count(html.begin(), html.end(), '{') - std::count(html.begin(), html.end(), '}'), 0);
  std::size_t curves = 0;
  for (std::size_t at = 0; (at = html.find("{\"task\":", at)) != std::string::npos; ++at) ++curves;
  EXPECT_EQ(curves, 1u);
}

// The page of 200 tasks, each with the pictures, distribution and peaks of a real
// run: under 2 MB; every curve named by its folder and cell (without the folders'
// common parent), the names all different; at least 20 colours to tell them
// apart; the pictures past the page's share linked, not put in.
TEST(ArrayRounds, TheReportOf200Tasks) {
  const std::string root = FreshTestFolderWithExample();
  std::vector<std::string> args = {"--parameters", root + "/data/cs.~p", "--output", root + "/results", "--seed", "1"};
  for (const std::string& s : ExampleScans(root + "/data")) args.push_back(s);
  const BatchOutput run = RunBatchProgram(root, args, "report200");
  ASSERT_EQ(run.code, 0) << run.err;
  const std::string tasksDir = root + "/tasks";
  batch_fs::create_directories(tasksDir);
  std::vector<ArrayTaskEntry> entries;
  for (int k = 1; k <= 200; ++k) {
    const std::string folder = root + "/runs/2026-" + std::to_string(k / 2);
    const std::string cell = std::to_string(1 + k % 2);
    const std::string results = folder + "/cs/cell" + cell;
    batch_fs::create_directories(results);
    batch_fs::copy(root + "/results", results, batch_fs::copy_options::recursive | batch_fs::copy_options::overwrite_existing);
    entries.push_back({folder, cell});
    std::ofstream(tasksDir + "/" + std::to_string(k) + ".summary") << ReadWhole(root + "/report200.out");
    WriteTask(tasksDir, k, "0", nullptr, "", "computed", results);
  }
  const std::string html = ArrayReportHtml(ReadArrayTasks(tasksDir, entries), tasksDir);
  EXPECT_LT(html.size(), 2u << 20);
  const std::regex label("\"label\":\"([^\"]*)\"");
  std::set<std::string> labels;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), label); it != std::sregex_iterator(); ++it)
    labels.insert((*it)[1]);
  EXPECT_EQ(labels.size(), 200u);
  EXPECT_TRUE(labels.contains("2026-7 cell 2")) << *labels.begin();
  const std::size_t colours = html.find("var colours = [");
  ASSERT_NE(colours, std::string::npos);
  const std::string list = html.substr(colours, html.find(']', colours) - colours);
  std::set<std::string> distinct;
  const std::regex hex("#[0-9a-f]{6}");
  for (auto it = std::sregex_iterator(list.begin(), list.end(), hex); it != std::sregex_iterator(); ++it)
    distinct.insert(it->str());
  EXPECT_GE(distinct.size(), 20u);
  EXPECT_EQ(html.find("task ' + c.d.task;"), std::string::npos);
  // Every task shows its pictures: put in while the page's share lasts, then linked.
  std::size_t inlined = 0, linked = 0;
  for (std::size_t at = 0; (at = html.find("<img src=\"data:image/png", at)) != std::string::npos; ++at) ++inlined;
  for (std::size_t at = 0; (at = html.find("<img loading=\"lazy\" src=\"../runs/", at)) != std::string::npos; ++at)
    ++linked;
  EXPECT_GT(inlined, 0u);
  EXPECT_EQ(inlined + linked, 200u * 3u);
}

}  // namespace
}  // namespace tarmic
