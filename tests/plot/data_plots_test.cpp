// Tests of the data and residual plots of a small data set, the scan colours, the
// refresh throttle during fits, the residual bitmap, and the reset of the plotting
// library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <type_traits>
#include <vector>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "services/path_table.h"
#include "platform/backend.h"
#include "platform/headless/headless_backend.h"
#include "platform/raster_dc.h"
#include "platform/system.h"
#include "plot/picture_space.h"
#include "plot/fit_pane_refresh.h"
#include "plot/residual_bitmap.h"
#include "plot/temperature_plot.h"
#include "plot/winplot.h"
#include "scandata/radial_grid.h"
#include "scandata/scan_file.h"

#include "tests/plot/plot_test_support.h"

namespace tarmic {
namespace {

using namespace plot_test;

// ---------------------------------------------------------------- data and residual plots

TEST_F(DataSetTest, DataPlotHoldsOneCurvePerScanInScanColours) {
  LoadScans(3);
  ScanFile().bAbsorbanceData = true;
  DataSet().pScanOrder = {0, 3, 1, 2};
  RebuildDataAndResidualPlots();
  ASSERT_NE(DataPlots().pDataPlot, nullptr);
  ASSERT_NE(DataPlots().pResidualsPlot, nullptr);
  EXPECT_EQ(DataPlots().pDataPlot->nCurves, 3);
  EXPECT_EQ(DataPlots().pResidualsPlot->nCurves, 3);
  EXPECT_EQ(DataPlots().pDataPlot->ppCurves[0], DataSet().ppDataCurve[3]);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(k), 6);
    EXPECT_EQ(DataPlots().pResidualsPlot->GetCurveStyle(k), -1);
    EXPECT_EQ(DataPlots().pDataPlot->GetCurveColor(k), ScanColor(k + 1));
    EXPECT_EQ(DataPlots().pResidualsPlot->GetCurveColor(k), ScanColor(k + 1));
  }
  EXPECT_EQ(DataPlots().pResidualsPlot->szYLabel, "residuals [OD]");
  // Split layout: the residual plot starts below the bitmap band of 3 units.
  EXPECT_EQ(DataPlots().pDataPlot->nBottom, 475);
  EXPECT_EQ(DataPlots().pResidualsPlot->nTop, 553);

  RedrawDataPlot(true);
  const MetaFile* picture = GetDataPlotMetafile();
  ASSERT_NE(picture, nullptr);
  EXPECT_TRUE(HasText(*picture, "absorbance [OD]"));
  // x from 6.0 to 6.04 with margins: ticks every 0.01.
  EXPECT_TRUE(HasText(*picture, "6.02"));
  // The filled circles of the first scan in red, outline and ticks in black.
  std::vector<MetaRecord> pens = RecordsOf(*picture, MetaOp::SelectPen);
  EXPECT_TRUE(std::any_of(pens.begin(), pens.end(),
                          [](const MetaRecord& r) { return r.pen.color == RGB(255, 0, 0); }));
  EXPECT_EQ(CountOf(*picture, MetaOp::Ellipse), 15);
  bool outline = false;
  for (const MetaRecord& r : RecordsOf(*picture, MetaOp::Rectangle))
    outline |= r.a == 105 && r.b == 475 && r.c == 1365 && r.d == 50;
  EXPECT_TRUE(outline);
  // The getter may record the picture again: it is called before the picture is read.
  const MetaFile* residualPicture = GetResidualPlotMetafile();
  EXPECT_EQ(residualPicture, DataPlots().pResidualsPlot->hPicture.get());

  // Played into an image: a point of the first curve (scan 3) is a filled circle in
  // red, the plot outline black, the background white.
  DataPlots().pDataPlot->nMarkSize = 6;
  RedrawDataPlot(true);
  Image image(kPictureWidth, 1000, kWhite);
  RasterDC dc(image);
  DataPlots().pDataPlot->hPicture->PlayInto(dc, Rect{0, 0, kPictureWidth, 1000});
  EXPECT_EQ(image.Pixel(DataPlots().pDataPlot->MapX(DataSet().ppRadius[3][3]), DataPlots().pDataPlot->MapY(DataSet().ppSignal[3][3])),
            RGB(255, 0, 0));
  EXPECT_EQ(image.Pixel(700, DataPlots().pDataPlot->nTop), kBlack);
  EXPECT_EQ(image.Pixel(DataPlots().pDataPlot->nLeft, 300), kBlack);
  EXPECT_EQ(image.Pixel(700, 300), kWhite);
}

TEST_F(DataSetTest, KindsOfDataChooseStylesAndTitles) {
  LoadScans(60);
  ScanFile().bInterferenceData = true;
  RebuildDataAndResidualPlots();
  EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(0), -1);
  EXPECT_EQ(DataPlots().pDataPlot->szYLabel, "fringes");
  FreeDataSet();

  LoadScans(50);
  RebuildDataAndResidualPlots();
  EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(49), 6);  // one-pixel dots with mark size 0
  FreeDataSet();

  ScanFile().bInterferenceData = false;
  LoadScans(2);
  RebuildDataAndResidualPlots();
  FreeDataSet();
  EXPECT_EQ(DataPlots().pDataPlot, nullptr);  // released with the data set
}

TEST_F(DataSetTest, IntensityDataAddTheThirdColumnAsDots) {
  const int n = 5;
  AllocScanTables(2);
  for (int s = 1; s <= 2; ++s) {
    float* r = vector(1, n);
    float* y = vector(1, n);
    float* t = vector(1, n);
    for (int j = 1; j <= n; ++j) {
      r[j] = 6.0f + 0.01f * static_cast<float>(j);
      y[j] = 1000.0f;
      t[j] = 900.0f;
    }
    InstallScanArrays(s, n, r, y, t, true);
  }
  ScanFile().bIntensityData = true;
  RebuildDataAndResidualPlots();
  ASSERT_EQ(DataPlots().pDataPlot->nCurves, 4);
  EXPECT_EQ(DataPlots().pDataPlot->GetCurveStyle(2), 7);
  EXPECT_EQ(DataPlots().pDataPlot->GetCurveColor(3), ScanColor(2));
  EXPECT_EQ(DataPlots().pDataPlot->szYLabel, "intensity");
}

TEST_F(DataSetTest, ResidualsOutsideTheFitLimitsAreZero) {
  InScratchDirectory dir("plot_fit_limits");
  LoadScans(2, 10);
  for (int s = 1; s <= 2; ++s)
    for (int j = 1; j <= 10; ++j) DataSet().ppFit[static_cast<std::size_t>(s)][j] = 0.5f;
  RebuildDataAndResidualPlots();
  DataSet().fFitLeftLim = 6.02f;
  DataSet().fFitRightLim = 6.06f;
  DataSet().pFitFirst[1] = 3;
  DataSet().pFitLast[1] = 7;
  DataSet().pFitFirst[2] = 0;  // 0: the whole scan
  DataSet().pFitLast[2] = 0;
  RedrawResidualPlot(true);
  const float* r1 = DataSet().ppResiduals[1];
  EXPECT_EQ(r1[2], 0.0f);
  EXPECT_NEAR(r1[3], 1.03f - 0.5f, 1e-6f);
  EXPECT_EQ(r1[8], 0.0f);
  EXPECT_NEAR(DataSet().ppResiduals[2][10], 2.10f - 0.5f, 1e-6f);
  EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMin, 6.02f);
  EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fXMax, 6.06f);
  EXPECT_TRUE(std::filesystem::exists(dir.Dir() / "ScanRms.dat"));
  EXPECT_EQ(DataPlots().nWorstScan, 2);

  // With a fit limit of 0 every point shows signal minus model; no rms file.
  std::filesystem::remove(dir.Dir() / "ScanRms.dat");
  DataSet().fFitRightLim = 0;
  RedrawResidualPlot(true);
  EXPECT_NEAR(DataSet().ppResiduals[1][1], 1.01f - 0.5f, 1e-6f);
  EXPECT_FALSE(std::filesystem::exists(dir.Dir() / "ScanRms.dat"));
}

TEST_F(DataSetTest, ScanRmsNamesTheFirstOfEqualWorstScans) {
  InScratchDirectory dir("plot_scan_rms");
  LoadScans(3, 4);
  for (int s = 1; s <= 3; ++s)
    for (int j = 1; j <= 4; ++j) DataSet().ppResiduals[static_cast<std::size_t>(s)][j] = s == 1 ? 0.1f : 0.2f;
  DataSet().pScanOrder = {0, 1, 3, 2};
  WriteScanRmsFile();
  EXPECT_EQ(DataPlots().nWorstScan, 3);
  std::FILE* f = std::fopen("ScanRms.dat", "r");
  ASSERT_NE(f, nullptr);
  char line[200];
  ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
  EXPECT_STREQ(line, "00001.ra1 \t1.000000e-01\n");
  std::fclose(f);
  // Released with the data set, the worst scan names no scan of a later set.
  FreeDataSet();
  EXPECT_EQ(DataPlots().nWorstScan, 0);
}

TEST_F(DataSetTest, UnwritableScanRmsIsReportedOnce) {
  ScopedHeadlessBackend backend;
  InScratchDirectory dir("plot_scan_rms_blocked");
  LoadScans(1);
  RebuildDataAndResidualPlots();
  DataSet().fFitLeftLim = 6.0f;
  DataSet().fFitRightLim = 6.04f;
  // The file can be written but not put in place (a directory holds its name): one
  // box naming the reason, no temporary left, and the later redraws write nothing.
  std::filesystem::create_directory(dir.Dir() / "ScanRms.dat");
  backend->QueueMessageBox(IDOK, "ERROR");
  WriteScanRmsFile();
  EXPECT_FALSE(DataPlots().bWriteScanRms);
  ASSERT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(backend->Transcript()[0].text.rfind("could not write ScanRms file\n", 0), 0u);
  EXPECT_NE(backend->Transcript()[0].text.find("ScanRms.dat"), std::string::npos);
  RedrawResidualPlot(true);
  EXPECT_EQ(backend->Transcript().size(), 1u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Dir()), {}), 1);

  // Its directory is missing: the file cannot even be begun.
  szScanRmsFile = (dir.Dir() / "missing" / "ScanRms.dat").string();
  DataPlots().bWriteScanRms = true;
  backend->QueueMessageBox(IDOK, "ERROR");
  RedrawResidualPlot(true);
  RedrawResidualPlot(true);
  ASSERT_EQ(backend->Transcript().size(), 2u);
  EXPECT_EQ(backend->Transcript()[1].text,
            "could not open ScanRms file\n" + szScanRmsFile + ": " + std::strerror(ENOENT));
  EXPECT_FALSE(DataPlots().bWriteScanRms);
  szScanRmsFile.clear();
}

TEST_F(DataSetTest, ResidualPlotStaysInsideItsPaneForManyScans) {
  LoadScans(1000, 5);
  RebuildDataAndResidualPlots();
  EXPECT_LT(DataPlots().pResidualsPlot->nTop, DataPlots().pResidualsPlot->nBottom);
  EXPECT_EQ(DataPlots().pResidualsPlot->nBottom - DataPlots().pResidualsPlot->nTop, kMinResidualPlotHeight);
  // The distribution layout leaves less room; the plot still keeps its height.
  DataPlots().nDataPlotBottom = 350;
  DataPlots().nResidualPlotTop = 405;
  DataPlots().nPlotAreaBottom = 575;
  LayoutDataAndResidualPlots();
  EXPECT_EQ(DataPlots().pResidualsPlot->nBottom - DataPlots().pResidualsPlot->nTop, kMinResidualPlotHeight);
  const Rect strip = ResidualsBitmapRect(Size{1000, 700}, DataSet().nScans);
  EXPECT_LE(strip.bottom, static_cast<int>(DataPlots().pResidualsPlot->nTop * 0.7) + 1);
  EXPECT_GE(strip.top, static_cast<int>(DataPlots().nDataPlotBottom * 0.7));
}

TEST(ScanColours, PaletteTemperatureAndRange) {
  ResetPlotting();
  const int savedScans = DataSet().nScans;
  DataSet().nScans = 20;
  DataPlots().bColorScansByTime = false;
  EXPECT_EQ(ScanColor(0), kBlack);
  std::vector<Color> first28;
  for (int k = 1; k <= 28; ++k) first28.push_back(ScanColor(k));
  std::sort(first28.begin(), first28.end());
  EXPECT_EQ(std::unique(first28.begin(), first28.end()), first28.end());
  EXPECT_EQ(ScanColor(29), ScanColor(1));
  DataSet().nScans = 10;
  DataPlots().bColorScansByTime = true;  // from blue (early) to red (late)
  EXPECT_GT(GetBValue(ScanColor(1)), GetRValue(ScanColor(1)));
  EXPECT_GT(GetRValue(ScanColor(10)), GetBValue(ScanColor(10)));
  EXPECT_EQ(FalseColor(0, 0), kBlack);
  DataSet().nScans = savedScans;
  ResetPlotting();
}

// ---------------------------------------------------------------- reset

// The settings of every part of the plotting library that ResetPlotting spans: the
// data plots' layout, panes and refresh preferences, the residual bitmap, the
// temperature trace, the plot text size and the plot class's drawing state.
auto PlottingSettings() {
  return std::tie(DataPlots().nPlotAreaLeft, DataPlots().nPlotAreaRight, DataPlots().nPlotAreaTop, DataPlots().nPlotAreaBottom, DataPlots().nDataPlotBottom, DataPlots().nResidualPlotTop,
                  DataPlots().nPaneClientHeight, DataPlots().bShowData, DataPlots().bShowResiduals, DataPlots().bShowResidualsBitmap, DataPlots().bColorScansByTime,
                  DataPlots().bWriteScanRms, DataPlots().nWorstScan, DataPlots().bUpdateDataPlotDuringFit, DataPlots().bUpdateResidualPlotDuringFit,
                  DataPlots().bUpdateResidualBitmapDuringFit, DataPlots().bUpdateDistributionDuringFit, DataPlots().fMaxUpdateInterval,
                  ResidualBitmap().bBitmapBlackAndWhite, ResidualBitmap().bBitmapContinuousShading, ResidualBitmap().fResidualBitmapScale, TemperaturePlot().bTemperatureTrace,
                  nMinPlotTextHeight, fPlotTextWidthFactor, PlotScaling().bLogTickMode, PlotRedraw().bRescaleRequested, PlotRedraw().nErrorBarCap);
}

// Their values when the program starts, read while this file is initialised, before
// any test runs (they are all constant-initialised).
template <typename... T>
std::tuple<T...> Values(const std::tuple<T&...>& settings) {
  return settings;
}
const auto kSettingsAtStart = Values(PlottingSettings());

// How many of the settings hold their values of the program's start.
template <typename Settings, std::size_t... I>
std::size_t SettingsAsAtStart(const Settings& now, std::index_sequence<I...>) {
  return ((std::get<I>(now) == std::get<I>(kSettingsAtStart) ? 1u : 0u) + ...);
}

// The reset spans modules that do not include each other: each part it leaves out
// would keep what a test (or an analysis) set.
TEST(PlottingReset, EveryPartReturnsToTheStartOfTheProgram) {
  std::apply(
      [](auto&... v) {
        auto change = [](auto& x) {
          if constexpr (std::is_same_v<std::remove_reference_t<decltype(x)>, bool>) {
            x = !x;
          } else {
            x = x * 2 + 7;
          }
        };
        (change(v), ...);
      },
      PlottingSettings());
  constexpr std::size_t kCount = std::tuple_size_v<std::remove_const_t<decltype(kSettingsAtStart)>>;
  EXPECT_EQ(SettingsAsAtStart(PlottingSettings(), std::make_index_sequence<kCount>{}), 0u) << "each setting changed";
  ResetPlotting();
  EXPECT_EQ(Values(PlottingSettings()), kSettingsAtStart);
}

TEST(FitRefresh, ThrottleRepaintsOncePerIntervalAcrossTheTickWrap) {
  ResetPlotting();
  ScopedHeadlessBackend backend;
  std::int64_t now = 5000;
  SetClockOverride([&] { return now; });
  int painted = 0;
  SetFitPanePainters({[&](Window&) { ++painted; }, nullptr, nullptr});
  Window& window = backend->MainWindow();

  RefreshFitPanesTimed(window);
  EXPECT_EQ(painted, 0);  // no update switch set: nothing at all
  DataPlots().bUpdateDataPlotDuringFit = true;
  RefreshFitPanesTimed(window);
  EXPECT_EQ(painted, 1);  // the first call always repaints
  now += 300;
  RefreshFitPanesTimed(window);
  EXPECT_EQ(painted, 1);
  now += 800;
  RefreshFitPanesTimed(window);
  EXPECT_EQ(painted, 2);

  // The 32-bit tick counter wraps within the interval after a refresh.
  now = (std::int64_t{1} << 32) - 2000;
  RefreshFitPanesTimed(window);
  EXPECT_EQ(painted, 3);
  now += 300;
  RefreshFitPanesTimed(window);
  EXPECT_EQ(painted, 3);
  now += 2200;  // the counter reads 500 now
  RefreshFitPanesTimed(window);
  EXPECT_EQ(painted, 4);

  SetClockOverride(nullptr);
  SetFitPanePainters({});
  ResetPlotting();
}

// ---------------------------------------------------------------- residual bitmap

class ResidualBitmapTest : public DataSetTest {
 protected:
  // Three scans of 11 identical radii with residuals +0.05, -0.05 and 0.
  void LoadResiduals() {
    LoadScans(3, 11);
    const float values[3] = {0.05f, -0.05f, 0.0f};
    for (int s = 1; s <= 3; ++s)
      for (int j = 1; j <= 11; ++j)
        DataSet().ppFit[static_cast<std::size_t>(s)][j] =
            DataSet().ppSignal[static_cast<std::size_t>(s)][j] - values[s - 1];
    ASSERT_TRUE(BuildCommonRadialGrid());
    RebuildDataAndResidualPlots();
  }
};

TEST_F(ResidualBitmapTest, GreyScaleRowsFollowTheSignOfTheResiduals) {
  LoadResiduals();
  const Image image = BuildResidualsBitmap();
  ASSERT_EQ(image.Width(), CurrentGrid().iFitLast - CurrentGrid().iFitFirst + 1);
  ASSERT_EQ(image.Height(), 3);
  EXPECT_EQ(image.Pixel(0, 0), kWhite);
  EXPECT_EQ(image.Pixel(5, 1), kBlack);
  EXPECT_EQ(image.Pixel(5, 2), RGB(128, 128, 128));
  ResidualBitmap().bBitmapBlackAndWhite = false;
  EXPECT_EQ(BuildResidualsBitmap().Pixel(3, 1), RGB(0, 0, 255));
  ResidualBitmap().bBitmapContinuousShading = false;
  EXPECT_EQ(BuildResidualsBitmap().Pixel(3, 2), kWhite);
  // Tiny negative residuals already darken.
  ResidualBitmap().bBitmapBlackAndWhite = true;
  ResidualBitmap().bBitmapContinuousShading = true;
  EXPECT_EQ(ResidualBitmapColor(-1), RGB(127, 127, 127));
  EXPECT_EQ(ResidualBitmapColor(0), RGB(128, 128, 128));
}

TEST_F(ResidualBitmapTest, PaintingTheStripHasNoSideEffects) {
  ScopedHeadlessBackend backend(1000, 700);
  InScratchDirectory dir("plot_bitmap_paint");
  LoadResiduals();
  DataSet().fFitLeftLim = 6.0f;
  DataSet().fFitRightLim = 6.1f;
  for (int j = 1; j <= 11; ++j) DataSet().ppResiduals[1][j] = 42.0f;  // stale values stay stale
  const float yMin = DataPlots().pResidualsPlot->fYMin, yMax = DataPlots().pResidualsPlot->fYMax;
  const MetaFile* picture = DataPlots().pResidualsPlot->hPicture.get();

  DrawResidualsBitmap(backend->MainWindow());
  EXPECT_EQ(DataSet().ppResiduals[1][5], 42.0f);
  EXPECT_EQ(DataPlots().pResidualsPlot->fYMin, yMin);
  EXPECT_EQ(DataPlots().pResidualsPlot->fYMax, yMax);
  EXPECT_EQ(DataPlots().pResidualsPlot->hPicture.get(), picture);
  EXPECT_FALSE(std::filesystem::exists(dir.Dir() / "ScanRms.dat"));

  // The strip: one pixel row per scan, ending where the residual plot begins.
  const Rect strip = ResidualsBitmapRect(Size{1000, 700}, 3);
  EXPECT_EQ(strip.Height(), 3);
  EXPECT_EQ(strip.bottom, 385 + 2);
  EXPECT_EQ(strip.left, 75);  // under the residual plot's axis, at picture unit 105
  const Image& screen = backend->MainWindow().Screen();
  EXPECT_EQ(screen.Pixel(strip.left + 10, strip.top), kWhite);
  EXPECT_EQ(screen.Pixel(strip.left + 10, strip.top + 1), kBlack);
  EXPECT_EQ(screen.Pixel(strip.left + 10, strip.top + 2), RGB(128, 128, 128));

  // Drawn on a device context that has the paint's scaling mapping, the strip lands
  // on the same pixels.
  Image painted(1000, 700, kWhite);
  RasterDC dc(painted);
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowExt(1399, 1000);
  dc.SetViewportExt(1000, 700);
  ASSERT_TRUE(DrawResidualsBitmap(dc, Size{1000, 700}));
  for (int y = strip.top - 1; y <= strip.bottom; ++y)
    for (int x = strip.left - 1; x <= strip.right; ++x)
      ASSERT_EQ(painted.Pixel(x, y), screen.Pixel(x, y)) << x << ", " << y;
  EXPECT_EQ(dc.GetMapMode(), MapMode::Anisotropic);
}

TEST_F(ResidualBitmapTest, FortyScansMakeAFortyPixelStripAtAnyHeight) {
  LoadScans(40, 5);
  for (int height : {500, 700, 1200}) {
    const Rect strip = ResidualsBitmapRect(Size{1000, height}, 40);
    EXPECT_EQ(strip.Height(), 40) << height;
    EXPECT_EQ(strip.bottom, static_cast<int>(std::floor(550 * height / 1000.0)) +
                                static_cast<int>(std::floor(40 * height / 1000.0)));
  }
}

TEST_F(ResidualBitmapTest, FluorescenceScaleBecomesTenAndCopyGivesABitmap) {
  ScopedHeadlessBackend backend;
  InScratchDirectory dir("plot_bitmap_copy");
  LoadResiduals();
  ScanFile().bFluorescenceData = true;
  BuildResidualsBitmap();
  EXPECT_EQ(ResidualBitmap().fResidualBitmapScale, 10.0f);
  CopyResidualsBitmap(backend->MainWindow());
  ASSERT_NE(backend->ClipboardBitmap(), nullptr);
  EXPECT_EQ(backend->ClipboardBitmap()->Height(), 3);
}

TEST_F(ResidualBitmapTest, AutomaticScaleWithoutResidualPlot) {
  LoadResiduals();
  ReleaseDataAndResidualPlots();
  ResidualBitmap().fResidualBitmapScale = 0;
  const Image image = BuildResidualsBitmap();
  EXPECT_EQ(image.Pixel(0, 0), kWhite);
  EXPECT_EQ(image.Pixel(0, 1), kBlack);
}

}  // namespace
}  // namespace tarmic
