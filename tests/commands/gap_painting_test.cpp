// Where a region of the scans holds no points (excluded by the command, or cut out
// of the files on disk), the window shows none: after a Run no fit curve, no
// residual curve and no pixel of the residual bitmap stands over the gap, while
// beside it, over as wide a stripe of measured radii, all three are drawn. Judged on
// the pixels of the back-buffer after the user's events went through the message
// loop.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "distribution_window_test_support.h"
#include "modelcalc/fit_rmsd.h"
#include "plot/data_plots.h"
#include "plot/residual_bitmap.h"

namespace tarmic::testing {
namespace {

constexpr float kGapFrom = 6.5f, kGapTo = 6.6f;

// Drops from the scan file at path every row whose radius lies in [from, to].
void CutRows(const std::string& path, float from, float to) {
  std::ifstream in(path);
  std::string kept, line;
  for (int row = 0; std::getline(in, line); ++row) {
    std::istringstream values(line);
    float r = 0.0f;
    if (row >= 2 && values >> r && r >= from - 1e-4f && r <= to + 1e-4f) continue;
    kept += line + "\n";
  }
  in.close();
  std::ofstream(path, std::ios::trunc) << kept;
}

class GapPaintingTest : public DistributionWindowTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    DistributionWindowTest::SetUp();
    ResizeClient(700, 500);
    DataPlots().bShowResidualsBitmap = true;
  }
  // Pixels in the colour of some scan inside rows [top, bottom) (picture units) and
  // the client columns of radii [r0, r1] on plot p, a pixel in from each side.
  int ScanInk(const CWINPlot& p, int top, int bottom, float r0, float r1) {
    const Image& screen = Handle().Screen();
    const int x0 = p.MapX(r0) * screen.Width() / 1400 + 2, x1 = p.MapX(r1) * screen.Width() / 1400 - 2;
    int ink = 0;
    for (int y = top * screen.Height() / 1000; y < bottom * screen.Height() / 1000; ++y)
      for (int x = x0; x <= x1; ++x)
        for (int k = 1; k <= DataSet().nScans; ++k) ink += screen.Pixel(x, y) == ScanColor(k);
    return ink;
  }
  // Pixels of the residual bitmap's strip over radii [r0, r1] that are not background.
  int BitmapInk(float r0, float r1) {
    const Image& screen = Handle().Screen();
    const Rect strip = ResidualsBitmapRect(Size{screen.Width(), screen.Height()}, DataSet().nScans);
    const CWINPlot& p = *DataPlots().pResidualsPlot;
    const int x0 = p.MapX(r0) * screen.Width() / 1400 + 2, x1 = p.MapX(r1) * screen.Width() / 1400 - 2;
    int ink = 0;
    for (int y = strip.top; y < strip.bottom; ++y)
      for (int x = std::max(x0, strip.left); x <= std::min(x1, strip.right - 1); ++x)
        ink += screen.Pixel(x, y) != kWhite;
    return ink;
  }
};

TEST_P(GapPaintingTest, NoCurveNorBitmapStandsOverRadiiWithoutPoints) {
  const bool cutOnDisk = GetParam();
  const std::string dir = ProgramDir() + "/data";
  std::filesystem::create_directories(dir);
  std::vector<std::string> files = WriteSyntheticRun(dir);
  if (cutOnDisk)
    for (const std::string& f : files) CutRows(f, kGapFrom, kGapTo);
  LoadThroughDialog(files);
  ASSERT_EQ(DataSet().nScans, kSyntheticScans);
  SetCellAndLimits();
  ChooseSmallCs();
  AnalysisSwitches().pParams[kContiSlotGridCount] = 12.0f;
  UnpackModelParams();
  AnalysisSwitches().bFitTINoise = true;
  Backend().AnswerUnscriptedBoxes(IDNO);
  if (!cutOnDisk) {
    Backend().QueueInput("6.5");
    Backend().QueueInput("6.6");
    UiEvents().Post(Event::Command(kCmExcludeRegion));
    PumpEvents();
  }
  ASSERT_LT(DataSet().pnPoints[1], kSyntheticPoints - 8) << "no region is missing";
  UiEvents().Post(Event::Command(kCmRun));
  PumpEvents();
  ASSERT_TRUE(FitOfLoadedData());
  PaintWindow(Win());

  // A stripe of measured radii as wide as the gap, beside it, for comparison.
  const float w = kGapTo - kGapFrom, besideFrom = kGapFrom - 2.0f * w, besideTo = kGapFrom - w;
  const CWINPlot& data = *DataPlots().pDataPlot;
  const CWINPlot& residuals = *DataPlots().pResidualsPlot;
  EXPECT_GT(ScanInk(data, data.nTop, data.nBottom, besideFrom, besideTo), 0);
  EXPECT_EQ(ScanInk(data, data.nTop, data.nBottom, kGapFrom, kGapTo), 0) << "fit curves drawn across the gap";
  EXPECT_GT(ScanInk(residuals, residuals.nTop, residuals.nBottom, besideFrom, besideTo), 0);
  EXPECT_EQ(ScanInk(residuals, residuals.nTop, residuals.nBottom, kGapFrom, kGapTo), 0)
      << "residual curves drawn across the gap";
  EXPECT_GT(BitmapInk(besideFrom, besideTo), 0);
  EXPECT_EQ(BitmapInk(kGapFrom, kGapTo), 0) << "the residual bitmap shows residuals in the gap";
}

INSTANTIATE_TEST_SUITE_P(ExcludedOrCut, GapPaintingTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) {
                           return i.param ? std::string("CutOnDisk") : std::string("Excluded");
                         });

}  // namespace
}  // namespace tarmic::testing
