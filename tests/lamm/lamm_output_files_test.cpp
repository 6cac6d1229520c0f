// Output of a Lamm solution besides its profiles: the scan files of the second
// (cosolute) solution and the progress display in the main window.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "lamm/lamm_ideal.h"
#include "lamm/lamm_window_display.h"
#include "lamm_test_support.h"
#include "numerics/ccurve.h"
#include "numerics/one_based.h"
#include "platform/backend.h"
#include "platform/headless/headless_backend.h"
#include "plot/data_plots.h"
#include "plot/winplot.h"
#include "scandata/scan_file.h"

namespace tarmic {
namespace {

namespace fs = std::filesystem;
using test::ClosedCellSettings;
using test::Experiment;
using test::MakeSolver;

constexpr Color kEquation1Color = RGB(150, 0, 150);

fs::path FreshDir(const std::string& name) {
  const fs::path dir = fs::path(TARMIC_TEST_OUTPUT_DIR) / "lamm" / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// A solver of one species with a sedimenting cosolute beside it, its progress
// output switched on (the tests' default solver keeps quiet).
std::unique_ptr<CLammIdeal> CosoluteSolver(Experiment& e, int equation) {
  auto o = MakeSolver(e, 4.0, 6e-7, ClosedCellSettings(300, false));
  o->bTruncateGrid = false;
  o->LoadCosoluteParameters({.bInhomogeneousSolvent = true,
                             .bInhomSolventDynamic = true,
                             .bSecondSolution = true,
                             .nComp2Points = 60,
                             .dComp2S = 0.6,
                             .dComp2D = 2e-5,
                             .dComp2C0 = 1.0});
  o->nEquation = equation;
  o->bNoProgressText = false;
  o->bNoProgressText2 = false;
  return o;
}

// Reads a scan file; frees what the reader allocated.
struct ReadBack {
  explicit ReadBack(const fs::path& path) {
    ok = ReadScanFile(path.string().c_str(), &info, &n, &radius, &value, nullptr, &mark, 0.0f);
  }
  ~ReadBack() {
    if (radius) free_vector(radius, 1, n);
    if (value) free_vector(value, 1, n);
  }
  ReadBack(const ReadBack&) = delete;
  ReadBack& operator=(const ReadBack&) = delete;
  int ok = 0;
  ScanInfo info;
  int n = 0;
  float* radius = nullptr;
  float* value = nullptr;
  bool mark = false;
};

TEST(LammComp2Files, FirstEquationWritesOneFilePerScanInScanOrder) {
  Experiment e;
  e.scans = 4;
  e.Build();
  const fs::path dir = FreshDir("comp2_eq1");
  auto o = CosoluteSolver(e, 1);
  o->SetComp2Output(false, true, dir.string());
  ASSERT_EQ(o->Solve(), 0);
  ASSERT_TRUE(o->bComp2Allocated);
  EXPECT_TRUE(o->Messages().empty());
  for (int p = 1; p <= e.scans; ++p) {
    const fs::path file = dir / ("comp2_" + std::to_string(p) + ".r00");
    ASSERT_TRUE(fs::exists(file)) << file;
    ReadBack scan(file);
    ASSERT_EQ(scan.ok, 1) << file;
    EXPECT_EQ(scan.n, o->nComp2Points);
    EXPECT_NEAR(scan.info.time, e.Time(p), 0.5);
    EXPECT_NEAR(scan.radius[1], e.meniscus, 1e-4);
    EXPECT_NEAR(scan.radius[scan.n], e.bottom, 1e-4);
  }
  EXPECT_FALSE(fs::exists(dir / ("comp2_" + std::to_string(e.scans + 1) + ".r00")));
  // The run stops at the last scan: the last file holds the final cosolute profile,
  // which has sedimented (more at the bottom than at the meniscus).
  ReadBack last(dir / ("comp2_" + std::to_string(e.scans) + ".r00"));
  ASSERT_EQ(last.ok, 1);
  for (int i = 1; i <= last.n; ++i) EXPECT_NEAR(last.value[i], o->pComp2Conc[i], 1e-4) << i;
  EXPECT_GT(last.value[last.n], last.value[1]);
  ReadBack first(dir / "comp2_1.r00");
  ASSERT_EQ(first.ok, 1);
  EXPECT_LT(first.value[first.n] - first.value[1], last.value[last.n] - last.value[1]);
}

TEST(LammComp2Files, OtherEquationsAndQuietRunsWriteNone) {
  Experiment e;
  e.scans = 3;
  e.Build();
  const fs::path dir = FreshDir("comp2_eq2");
  auto second = CosoluteSolver(e, 2);
  second->SetComp2Output(false, true, dir.string());
  ASSERT_EQ(second->Solve(), 0);
  auto quiet = CosoluteSolver(e, 1);
  quiet->bNoProgressText = true;
  quiet->SetComp2Output(false, true, dir.string());
  ASSERT_EQ(quiet->Solve(), 0);
  auto off = CosoluteSolver(e, 1);
  off->SetComp2Output(false, false, dir.string());
  ASSERT_EQ(off->Solve(), 0);
  EXPECT_TRUE(fs::is_empty(dir));
}

// A directory that cannot be written to does not fail the solution; the failure is
// reported once, when the output has ended.
TEST(LammComp2Files, FailedWriteIsReportedOnceAfterTheLastScan) {
  Experiment e;
  e.scans = 3;
  e.Build();
  const fs::path missing = FreshDir("comp2_missing") / "absent";
  auto o = CosoluteSolver(e, 1);
  o->SetComp2Output(false, true, missing.string());
  ASSERT_EQ(o->Solve(), 0);
  ASSERT_EQ(o->Messages().size(), 1u);
  EXPECT_NE(o->Messages()[0].find("could not write"), std::string::npos);
  // The system's reason on a line of its own after the message.
  EXPECT_NE(o->Messages()[0].find("comp2_1.r00\n" + (missing / "comp2_1.r00").string() + ": " + std::strerror(ENOENT)),
            std::string::npos)
      << o->Messages()[0];
}

class LammWindowDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    curve_ = std::make_unique<CCurve>(xs_.data(), ys_.data(), 2, 0, 0);
    DataPlots().pDataPlot = new CWINPlot();
    DataPlots().pDataPlot->SetPlotRect(50, 75, 475, 975);
    DataPlots().pDataPlot->AddCurve(curve_.get());
    DataPlots().pDataPlot->SetRanges(5.8f, 7.3f, 0.0f, 1.5f);
    DataPlots().pDataPlot->Redraw();
  }
  void TearDown() override {
    delete DataPlots().pDataPlot;
    DataPlots().pDataPlot = nullptr;
  }
  static int CountPixels(const Image& image, Color color) {
    int count = 0;
    for (int y = 0; y < image.Height(); ++y)
      for (int x = 0; x < image.Width(); ++x) count += image.Pixel(x, y) == color;
    return count;
  }

  ScopedHeadlessBackend backend_;
  std::vector<float> xs_{5.9f, 7.2f};
  std::vector<float> ys_{0.0f, 0.0f};
  std::unique_ptr<CCurve> curve_;
};

// Draws into the window and records what the solver shows.
class RecordingDisplay : public LammWindowDisplay {
 public:
  using LammWindowDisplay::LammWindowDisplay;
  void ShowText(int x, int y, const std::string& text) override {
    if (x == 10) texts.push_back(text);
    LammWindowDisplay::ShowText(x, y, text);
  }
  void DrawProfile(const double* r, const double* c, int n, std::uint32_t color) override {
    profiles.push_back({n, color});
    LammWindowDisplay::DrawProfile(r, c, n, color);
  }
  std::vector<std::string> texts;
  std::vector<std::pair<int, std::uint32_t>> profiles;
};

TEST_F(LammWindowDisplayTest, ReadoutsAndProfilesOfBothSolutionsReachTheWindow) {
  Window& window = GetBackend().MainWindow();
  const int refreshes = static_cast<HeadlessWindow&>(window).RefreshCount();
  Experiment e;
  e.scans = 3;
  e.Build();
  RecordingDisplay display(window);
  auto o = CosoluteSolver(e, 1);
  o->pDisplay = &display;
  o->bShowReadouts = true;
  o->SetComp2Output(true, false, "");
  ASSERT_EQ(o->Solve(), 0);
  EXPECT_FALSE(display.texts.empty());
  // Per scan the species' profile on the grid and the cosolute's on its own grid.
  int species = 0, cosolute = 0;
  for (const auto& [n, color] : display.profiles) {
    EXPECT_EQ(color, kEquation1Color);
    (n == o->nComp2Points ? cosolute : species) += 1;
  }
  EXPECT_EQ(species, e.scans);
  EXPECT_EQ(cosolute, e.scans);
  const Image& screen = window.Screen();
  EXPECT_GT(CountPixels(screen, kEquation1Color), 20);
  // The readout lines left text at x = 10 from y = 70 on.
  int ink = 0;
  for (int y = 70; y < 150; ++y)
    for (int x = 10; x < 120; ++x) ink += screen.Pixel(x, y) != kWhite;
  EXPECT_GT(ink, 0);
  EXPECT_GT(static_cast<HeadlessWindow&>(window).RefreshCount(), refreshes);
}

TEST_F(LammWindowDisplayTest, NothingIsDrawnWithoutADataPlot) {
  delete DataPlots().pDataPlot;
  DataPlots().pDataPlot = nullptr;
  Window& window = GetBackend().MainWindow();
  LammWindowDisplay display(window);
  const double r[3] = {0, 6.2, 6.8}, c[3] = {0, 1.0, 1.0};
  display.DrawProfile(r, c, 2, kEquation1Color);
  EXPECT_EQ(CountPixels(window.Screen(), kEquation1Color), 0);
}

}  // namespace
}  // namespace tarmic
