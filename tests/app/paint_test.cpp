// Tests of the main window's picture: the scans' colours and the marker lines on
// the screen, what the gates and the erase handshake leave, that painting changes
// no data, the fitted curves' colours, the marker, cursor and dashed lines, and the
// printed page.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/printout.h"
#include "app/shell_hooks.h"
#include "platform/raster_dc.h"
#include "plot/data_plots.h"
#include "plot/plot_reset.h"
#include "scandata/initial_data.h"
#include "scandata/scan_info.h"
#include "tests/app/interaction_test_support.h"

namespace tarmic {
namespace {

using interaction_test::WindowTest;

class Painting : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    DataPlots().bColorScansByTime = true;  // scan colours unlike the marker colours
    LoadScans();
    SetGeometry();
  }
  // Pixels of colour c in rows top..bottom-1.
  int CountColour(Color c, int top, int bottom) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = 0; x < Pixels().Width(); ++x) n += Pixels().Pixel(x, y) == c;
    return n;
  }
  bool ColumnHas(int x, int row, Color c) { return Pixels().Pixel(x, row) == c; }
  // Where a point of the 1400 x 1000 client area lands on the printed page.
  static Point OnPage(const Image& page, Point client) {
    Image probe(1, 1);
    RasterDC dc(probe);
    dc.SetMapMode(MapMode::Isotropic);
    dc.SetViewportExt(page.Width(), page.Height());
    dc.SetWindowExt(1400, 1000);
    return dc.LPtoDP(client);
  }
};

TEST_F(Painting, DataAndResidualPanesShowEveryScansColour) {
  SetModelComputed(true);  // residuals of a model computed for these data
  Paint();
  for (int k = 1; k <= DataSet().nScans; ++k) {
    EXPECT_GT(CountColour(ScanColor(k), 50, 475), 100) << "data pane, scan position " << k;
    EXPECT_GT(CountColour(ScanColor(k), 550, 950), 100) << "residual pane, scan position " << k;
  }
  EXPECT_GE(Screen().RefreshCount(), 1);
}

TEST_F(Painting, MarkerLinesStandInTheirColours) {
  Paint();
  EXPECT_TRUE(ColumnHas(Column(DataSet().fMeniscus), 200, crMeniscusMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fBottom), 200, crBottomMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fFitLeftLim), 200, crFitLimitMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fFitRightLim), 200, crFitLimitMarker));
  // The range bounds are dashed: the first dash starts at the pane's top row.
  EXPECT_TRUE(ColumnHas(Column(DataSet().fMinMeniscus), 51, crRangeMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fMaxBottom), 51, crRangeMarker));
  // Below the data pane the lines end.
  EXPECT_FALSE(ColumnHas(Column(DataSet().fMeniscus), 480, crMeniscusMarker));
}

// A readout drawn at the left margin (the pointer's radius, and through the same
// column the fit's rmsd and the Lamm solution's time) starts right of the data
// plot's axis: the axis labels and title stay as they were painted.
TEST_F(Painting, ReadoutsOfAComputationLeaveTheAxisTitleAlone) {
  Paint();
  const Size client = Screen().ClientSize();
  const int axis = FitTextRegions(client, nullptr).at(0).left;
  const Image before = Pixels();
  DrawReadoutText(*window_, 10, 60, "rmsd = 0.012345   iteration 12   ");
  int changed = 0, written = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < Pixels().Width(); ++x) {
      const bool differs = Pixels().Pixel(x, y) != before.Pixel(x, y);
      changed += differs && x < axis;
      written += differs;
    }
  EXPECT_EQ(changed, 0);
  EXPECT_GT(written, 0);
}

TEST_F(Painting, DLSDataShowOnlyTheFittingLimits) {
  DataSet().bDLSData = true;
  Paint();
  EXPECT_FALSE(ColumnHas(Column(DataSet().fMeniscus), 200, crMeniscusMarker));
  EXPECT_FALSE(ColumnHas(Column(DataSet().fMinMeniscus), 51, crRangeMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fFitLeftLim), 200, crFitLimitMarker));
}

TEST_F(Painting, MeniscusPickHidesTheMeniscusLineButNotTheBottom) {
  bPickMeniscusBottom = true;
  Paint();
  EXPECT_FALSE(ColumnHas(Column(DataSet().fMeniscus), 200, crMeniscusMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fBottom), 200, crBottomMarker));
}

TEST_F(Painting, ReferenceMeniscusShowsWithTheBufferMismatch) {
  const float ref = static_cast<float>(DataSet().fMeniscus - fMeniscusDifference);
  Paint();
  EXPECT_FALSE(ColumnHas(Column(ref), 200, crRefMeniscusMarker));
  SetRefMeniscusShownTest([] { return true; });
  Paint();
  EXPECT_TRUE(ColumnHas(Column(ref), 200, crRefMeniscusMarker));
}

TEST_F(Painting, PaintWithoutEraseAsksForAnErasingRepaint) {
  Pixels().Fill(RGB(1, 2, 3));
  UiEvents().Clear();
  {
    std::unique_ptr<DC> dc = Screen().ClientDC();
    W().Paint(*dc, false, Screen().ClientRect());
  }
  EXPECT_TRUE(bForcedRepaint);
  EXPECT_EQ(CountColour(RGB(1, 2, 3), 0, 1000), 1400 * 1000);
  std::optional<Event> e = UiEvents().Take();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->type, EventType::Paint);
  Paint();
  EXPECT_FALSE(bForcedRepaint);
  EXPECT_GT(CountColour(ScanColor(1), 50, 475), 100);
}

TEST_F(Painting, NothingIsDrawnWhileAComputationOrADialogHoldsTheWindow) {
  for (int gate = 0; gate < 4; ++gate) {
    W().bRunInProgress = gate == 0;
    W().bFitInProgress = gate == 1;
    W().bModalBoxOpen = gate == 2;
    bFileDialogOpen = gate == 3;
    Pixels().Fill(RGB(1, 2, 3));
    std::unique_ptr<DC> dc = Screen().ClientDC();
    W().Paint(*dc, true, Screen().ClientRect());
    dc.reset();
    EXPECT_EQ(CountColour(RGB(1, 2, 3), 0, 1000), 1400 * 1000) << "gate " << gate;
  }
}

TEST_F(Painting, WithoutPlotsOnlyTheFirstPaintsTextIsDue) {
  ResetPlotting();
  ASSERT_TRUE(bShowDisclaimerText);
  Paint();
  EXPECT_FALSE(bShowDisclaimerText);
  EXPECT_EQ(CountColour(kWhite, 0, 1000), 1400 * 1000);
}

TEST_F(Painting, PaintingChangesNoData) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(dir_.path());
  DataPlots().bWriteScanRms = true;
  const std::vector<float> residuals(DataSet().ppResiduals[2] + 1, DataSet().ppResiduals[2] + 132);
  for (int j = 1; j <= 131; ++j) DataSet().ppFit[2][j] = 0.5f;  // a model that the residuals do not show yet
  DataSet().bFitRangesSet = false;
  const float yMin = DataPlots().pResidualsPlot->fYMin, yMax = DataPlots().pResidualsPlot->fYMax;
  const float xMin = DataPlots().pDataPlot->fXMin, xMax = DataPlots().pDataPlot->fXMax;
  Paint();
  Paint();
  std::filesystem::current_path(previous);
  EXPECT_EQ(std::vector<float>(DataSet().ppResiduals[2] + 1, DataSet().ppResiduals[2] + 132), residuals);
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "ScanRms.dat"));
  EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fYMin, yMin);
  EXPECT_FLOAT_EQ(DataPlots().pResidualsPlot->fYMax, yMax);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMin, xMin);
  EXPECT_FLOAT_EQ(DataPlots().pDataPlot->fXMax, xMax);
  EXPECT_FALSE(DataSet().bFitRangesSet);
  EXPECT_FLOAT_EQ(DataSet().fMinMeniscus, 5.98f);
}

TEST_F(Painting, FittedCurvesTakeTheColourOfTheirScansDataCurve) {
  // Display order 3, 1, 2; each model 0.15 below its data, between the data curves.
  DataSet().pScanOrder = {0, 3, 1, 2};
  for (int s = 1; s <= 3; ++s)
    for (int j = 1; j <= 131; ++j) DataSet().ppFit[s][j] = DataSet().ppSignal[s][j] - 0.15f;
  RebuildDataAndResidualPlots();
  RedrawDataPlot(true);
  RedrawResidualPlot(true);
  SetModelComputed(true);
  Paint();
  // Scan 3 is shown first: its model (0.75 .. 0.88) is drawn in the first colour.
  const int row = DataPlots().pDataPlot->MapY(0.8f);
  int first = 0, other = 0;
  for (int y = row - 8; y <= row + 8; ++y)
    for (int x = Column(6.3f); x < Column(6.9f); ++x) {
      first += Pixels().Pixel(x, y) == ScanColor(1);
      other += Pixels().Pixel(x, y) == ScanColor(3);
    }
  EXPECT_GT(first, 20);
  EXPECT_EQ(other, 0);
}

// ---------------------------------------------------------------- showing

TEST_F(Painting, AWholeRedrawShowsTheWindowOnceWithTheFinishedPicture) {
  // Beside the pictures the paint draws the marker lines and the cursor line: none
  // of them shows the window before the picture is complete.
  fCursorValue = 6.5f;
  bCursorActive = true;
  SetModelComputed(true);  // residuals of a model computed for these data
  const int before = Screen().RefreshCount();
  Paint();
  EXPECT_EQ(Screen().RefreshCount(), before + 1);
  // What was shown holds all of it.
  EXPECT_TRUE(ColumnHas(Column(DataSet().fMeniscus), 200, crMeniscusMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fFitRightLim), 200, crFitLimitMarker));
  EXPECT_TRUE(ColumnHas(Column(DataSet().fMaxBottom), 51, crRangeMarker));
  EXPECT_EQ(nCursorLinePixel, Column(6.5f));
  EXPECT_GT(CountColour(ScanColor(DataSet().nScans), 550, 950), 100);
  // A pane redrawn alone during a fit shows the window once too.
  const int beforePane = Screen().RefreshCount();
  W().DrawDataPane();
  EXPECT_EQ(Screen().RefreshCount(), beforePane + 1);
  EXPECT_TRUE(ColumnHas(Column(DataSet().fBottom), 200, crBottomMarker));
}

// ---------------------------------------------------------------- direct lines

TEST_F(Painting, CursorLineRemovedWithColumnZeroLeavesNoTrace) {
  Paint();
  const Image before = Pixels();
  const int x = Column(6.5f);
  W().DrawCursorLine(x, true, 1);
  EXPECT_NE(Pixels().Pixel(x, 200), before.Pixel(x, 200));
  EXPECT_EQ(nCursorLinePixel, x);
  // Moving it to its own column keeps one line.
  W().DrawCursorLine(x, true, 1);
  EXPECT_NE(Pixels().Pixel(x, 200), before.Pixel(x, 200));
  W().DrawCursorLine(0, true, 1);
  EXPECT_EQ(nCursorLinePixel, 0);
  for (int y = 0; y < 1000; ++y) ASSERT_EQ(Pixels().Pixel(x, y), before.Pixel(x, y)) << y;
  // Column 0 without erasing changes nothing on screen and forgets the line.
  W().DrawCursorLine(x, false, 1);
  const Image drawn = Pixels();
  W().DrawCursorLine(0, false, 1);
  EXPECT_EQ(nCursorLinePixel, 0);
  for (int y = 0; y < 1000; ++y) ASSERT_EQ(Pixels().Pixel(x, y), drawn.Pixel(x, y)) << y;
}

TEST_F(Painting, DashedLinesOfOneOrNoDash) {
  Paint();
  const Color c = RGB(10, 20, 30);
  W().DrawDashedMarkerLine(600, c, 0, 1);
  W().DrawDashedMarkerLine(600, c, -3, 1);
  EXPECT_EQ(CountColour(c, 0, 1000), 0);
  W().DrawDashedMarkerLine(600, c, 1, 1);
  // One dash is the solid line over the pane rows 50 .. 474.
  EXPECT_EQ(CountColour(c, 0, 1000), 425);
  EXPECT_TRUE(ColumnHas(600, 50, c));
  EXPECT_TRUE(ColumnHas(600, 474, c));
}

TEST_F(Painting, ThirtyDashesEndTwoUnitsAboveTheBottomRow) {
  Paint();
  const Color c = RGB(10, 20, 30);
  W().DrawDashedMarkerLine(600, c, 30, 1);
  int runs = 0, last = -1;
  bool inRun = false;
  for (int y = 0; y < 1000; ++y) {
    const bool on = ColumnHas(600, y, c);
    if (on && !inRun) ++runs;
    if (on) last = y;
    inRun = on;
  }
  EXPECT_EQ(runs, 30);
  EXPECT_TRUE(ColumnHas(600, 50, c));
  // The unit is 425 / 61 rows: the last dash ends at 50 + 59 units = row 461.
  EXPECT_EQ(last, 460);
}

// ---------------------------------------------------------------- printing

TEST_F(Painting, PrintedPageKeepsTheAspectAndPutsTheMarkersOnThePictures) {
  Paint();
  backend_->QueueMessageBox(IDNO, "Printing");
  W().CmPrint();
  ASSERT_EQ(backend_->PrintedPages(), 1);
  const Image& page = backend_->PrintedImages()[0];

  // The page mapping of the printout: the client area scaled alike both ways.
  const Point bottomRight = OnPage(page, Point{1400, 1000});
  EXPECT_EQ(bottomRight.x, page.Width());
  EXPECT_LT(bottomRight.y, page.Height());

  int inside = 0, below = 0, coloured = 0;
  for (int y = 0; y < page.Height(); ++y)
    for (int x = 0; x < page.Width(); ++x) {
      const Color p = page.Pixel(x, y);
      if (p == kWhite) continue;
      (y <= bottomRight.y ? inside : below) += 1;
      for (int k = 1; k <= DataSet().nScans; ++k) coloured += p == ScanColor(k);
    }
  EXPECT_GT(inside, 500);
  EXPECT_EQ(below, 0);
  // The scans print in black.
  EXPECT_EQ(coloured, 0);

  // The meniscus line stands at its column of the screen, scaled like the pictures.
  const Point top = OnPage(page, Point{Column(DataSet().fMeniscus), 100});
  const Point bottom = OnPage(page, Point{Column(DataSet().fMeniscus), 450});
  int black = 0;
  for (int y = top.y; y < bottom.y; ++y) black += page.Pixel(top.x, y) == kBlack;
  EXPECT_GT(black, (bottom.y - top.y) * 9 / 10);

  // The screen plots keep their colours.
  for (int k = 1; k <= DataSet().nScans; ++k) EXPECT_EQ(DataPlots().pDataPlot->GetCurveColor(k - 1), ScanColor(k));
  EXPECT_FALSE(bPrinting);
}

TEST_F(Painting, PrintedPageWithoutDataShowsTheResidualsAndTheMarkers) {
  Paint();
  DataPlots().bShowData = false;
  backend_->QueueMessageBox(IDNO, "Printing");
  W().CmPrint();
  ASSERT_EQ(backend_->PrintedPages(), 1);
  const Image& page = backend_->PrintedImages()[0];
  const int dataPaneBottom = OnPage(page, Point{0, 475}).y;
  const int residualTop = OnPage(page, Point{0, 550}).y;
  int dataPane = 0, residualPane = 0;
  for (int y = 0; y < page.Height(); ++y)
    for (int x = 0; x < page.Width(); ++x) {
      if (page.Pixel(x, y) == kWhite) continue;
      if (y < dataPaneBottom) ++dataPane;
      if (y > residualTop) ++residualPane;
    }
  EXPECT_GT(residualPane, 100);
  // The data pane holds only the four marker lines.
  EXPECT_LT(dataPane, 4 * (dataPaneBottom + 1));
}

TEST_F(Painting, EveryPrintedPageOffersTheLastBestFitInformation) {
  Paint();
  ASSERT_FALSE(AnalysisSwitches().bModelComputed);
  std::vector<Point> blocks;
  GetShellHooks().drawBestFitInfo = [&](TXLAWindow&, DC&, int x, int y) { blocks.push_back({x, y}); };
  // Also before any model was computed the question comes; No prints no block.
  backend_->QueueMessageBox(IDNO, "Printing");
  W().CmPrint();
  EXPECT_TRUE(blocks.empty());
  backend_->QueueMessageBox(IDYES, "Printing");
  W().CmPrint();
  ResetShellHooks();
  EXPECT_TRUE(backend_->AllAnswersUsed());
  EXPECT_EQ(backend_->PrintedPages(), 2);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].x, 300);
  EXPECT_EQ(blocks[0].y, 100);
  for (const TranscriptEntry& e : backend_->Transcript())
    if (e.caption == "Printing") EXPECT_EQ(e.text, "print with last best-fit information?");
}

// ---------------------------------------------------------------- initial profile

TEST_F(Painting, InitialProfileStandsInGreenOnTheScreenInThePaneAndOnPaper) {
  // A flat profile at 0.5, between the first and the second scan, over 6.0..7.1 cm.
  constexpr int n = 111;
  std::vector<float> r(n + 1, 0.0f), y(n + 1, 0.0f);
  for (int j = 1; j <= n; ++j) {
    r[static_cast<std::size_t>(j)] = 6.0f + 0.01f * static_cast<float>(j - 1);
    y[static_cast<std::size_t>(j)] = 0.5f;
  }
  SetInitialProfile(n, r.data(), y.data(), ScanInfo{});
  const Color green = RGB(0, 255, 0);
  // Columns between the two fitting limits (green lines too) that hold green within
  // three rows of the profile's row, of `columns` looked at.
  const int x0 = Column(6.3f), x1 = Column(6.8f), row = DataPlots().pDataPlot->MapY(0.5f);
  auto greenColumns = [&](const Image& image, Point a, Point b) {
    int found = 0;
    for (int x = a.x; x <= b.x; ++x) {
      bool any = false;
      for (int yy = a.y; yy <= b.y && !any; ++yy) any = image.Pixel(x, yy) == green;
      found += any;
    }
    return found;
  };
  const Point a{x0, row - 3}, b{x1, row + 3};

  // Without "Experimental Initial Distribution" the profile is not drawn.
  Paint();
  EXPECT_EQ(greenColumns(Pixels(), a, b), 0);

  AnalysisSwitches().bInitialDataProfile = true;
  Paint();
  EXPECT_GE(greenColumns(Pixels(), a, b), (x1 - x0) * 9 / 10);
  // Above and below the profile's row there is none.
  EXPECT_EQ(greenColumns(Pixels(), Point{x0, row - 30}, Point{x1, row - 10}), 0);

  // The pane redraw of the data pane draws it as well.
  Pixels().Fill(kWhite);
  W().DrawDataPane();
  EXPECT_GE(greenColumns(Pixels(), a, b), (x1 - x0) * 9 / 10);

  // On paper it stands in green over the black data.
  backend_->QueueMessageBox(IDNO, "Printing");
  W().CmPrint();
  ASSERT_EQ(backend_->PrintedPages(), 1);
  const Image& page = backend_->PrintedImages()[0];
  const Point pa = OnPage(page, a), pb = OnPage(page, b);
  EXPECT_GE(greenColumns(page, pa, pb), (pb.x - pa.x) * 8 / 10);
}

}  // namespace
}  // namespace tarmic
