// Tests of CWINPlot: curve management, scaling and ticks, the recorded picture,
// the curve styles, overlays and the copy to the clipboard.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/headless/headless_backend.h"
#include "platform/image.h"
#include "platform/raster_dc.h"
#include "plot/curve_symbols.h"
#include "plot/picture_space.h"
#include "tests/platform/pixel_helpers.h"

#include "tests/plot/plot_test_support.h"

namespace tarmic {
namespace {

using namespace plot_test;

// ---------------------------------------------------------------- plot object

// Curves added together scale the plot as the same curves added one by one: the
// same ranges and axis modes, the same first picture, the same styles and colours.
TEST(PlotObject, CurvesAddedTogetherScaleAsAddedOneByOne) {
  TestCurve a({1, 2, 3}, {0.5f, 2, 4}), b({0.5f, 2}, {1, 8}), c({2, 5}, {-1, 3});
  for (const bool logY : {false, true})
    for (const std::vector<CCurve*>& curves :
         {std::vector<CCurve*>{&a.curve}, {&a.curve, &b.curve}, {&a.curve, &b.curve, &c.curve}}) {
      SCOPED_TRACE(std::to_string(curves.size()) + (logY ? " curves, log y" : " curves"));
      CWINPlot one, together;
      one.bLogY = together.bLogY = logY;
      for (CCurve* curve : curves) one.AddCurve(curve);
      together.AddCurves(curves);
      EXPECT_EQ(together.nCurves, one.nCurves);
      EXPECT_EQ(together.fXMin, one.fXMin);
      EXPECT_EQ(together.fXMax, one.fXMax);
      EXPECT_EQ(together.fYMin, one.fYMin);
      EXPECT_EQ(together.fYMax, one.fYMax);
      EXPECT_EQ(together.bLogY, one.bLogY);
      EXPECT_EQ(together.hPicture != nullptr, one.hPicture != nullptr);
      for (int i = 0; i < one.nCurves; ++i) {
        EXPECT_EQ(together.GetCurveColor(i), one.GetCurveColor(i));
        EXPECT_EQ(together.GetCurveStyle(i), one.GetCurveStyle(i));
      }
    }
}

TEST(PlotObject, FirstTwoCurvesShareTableColourOne) {
  TestCurve a({1, 2}, {1, 2}), b({1, 2}, {2, 3}), c({1, 2}, {3, 4});
  CWINPlot plot;
  plot.AddCurve(&a.curve);
  plot.AddCurve(&b.curve);
  plot.AddCurve(&c.curve);
  EXPECT_EQ(plot.GetCurveColor(0), plot.GetTableColor(1));
  EXPECT_EQ(plot.GetCurveColor(1), plot.GetTableColor(1));
  EXPECT_EQ(plot.GetCurveColor(2), plot.GetTableColor(2));
  EXPECT_EQ(plot.GetTableColor(12), plot.GetTableColor(2));  // the table wraps
}

TEST(PlotObject, FirstCurveRecordsAPictureLaterRescalesDoNot) {
  TestCurve a({1, 2, 3}, {1, 4, 9});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  ASSERT_NE(plot.hPicture, nullptr);
  EXPECT_EQ(plot.bScalingChanged, 0);
  const MetaFile* first = plot.hPicture.get();
  TestCurve b({1, 2, 3}, {10, 20, 30});
  plot.AddCurve(&b.curve);  // changes the y scale: no picture is recorded
  EXPECT_EQ(plot.bScalingChanged, 1);
  EXPECT_EQ(plot.hPicture.get(), first);
}

TEST(PlotObject, OutOfRangeCurveIndicesAreIgnored) {
  TestCurve a({1, 2}, {1, 2});
  CWINPlot plot;
  plot.AddCurve(&a.curve);
  plot.SetCurveStyle(5, 9);
  plot.SetCurveColor(-1, 0x123456);
  EXPECT_EQ(plot.GetCurveStyle(5), 0);
  EXPECT_EQ(plot.GetCurveColor(-1), 0u);
  MetaFileDC dc;
  plot.PaintCurve(dc, 7);
  EXPECT_EQ(DrawingRecords(*dc.Close()), 0);
}

TEST(PlotObject, IndexRangeAndBandsAndMapRangeAreBounded) {
  TestCurve a({1, 2, 3, 4}, {1, 2, 3, 4});
  CWINPlot plot;
  plot.AddCurve(&a.curve);
  plot.SetCurveIndexRange(0, -5, 1000000);
  EXPECT_EQ(plot.pRangeFirst[0], 0);
  EXPECT_EQ(plot.pRangeLast[0], 3);
  CVector band;
  for (int k = 0; k < 11; ++k) plot.AddXBand(&band);
  EXPECT_EQ(plot.nBands, 10);
  plot.SetMapYRange(3, 1);
  EXPECT_EQ(plot.bMapYRange, 1);
  EXPECT_FLOAT_EQ(plot.fMapYMin, 1);
  EXPECT_FLOAT_EQ(plot.fMapYMax, 3);
  plot.SetMapYRange(2, 2);
  EXPECT_EQ(plot.bMapYRange, 0);
  const std::string longText(300, 'a');
  EXPECT_EQ(std::string(plot.SetXAxisLabel(longText.c_str())).size(), 99u);
}

// ---------------------------------------------------------------- scaling

TEST(PlotScaling, ConstantDataAreWidenedBeforeMargins) {
  TestCurve a({0, 1, 2}, {5, 5, 5});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  EXPECT_NEAR(plot.fYMax, 6.1f, 1e-5f);
  EXPECT_NEAR(plot.fYMin, 3.895f, 1e-5f);
  EXPECT_TRUE(std::isfinite(plot.fScaleY));
}

TEST(PlotScaling, LowerMarginNeverCrossesZero) {
  TestCurve residuals({0, 1}, {-0.02f, 0.03f});
  CWINPlot plot;
  plot.AddCurve(&residuals.curve);
  EXPECT_NEAR(plot.fYMax, 0.0325f, 1e-7f);
  EXPECT_FLOAT_EQ(plot.fYMin, -0.02f);

  TestCurve small({0, 1}, {0.001f, 0.003f});
  CWINPlot second;
  second.AddCurve(&small.curve);
  EXPECT_NEAR(second.fYMin, 0.000895f, 1e-8f);

  TestCurve wide({0, 1}, {0.0001f, 0.01f});
  CWINPlot third;
  third.AddCurve(&wide.curve);
  EXPECT_EQ(third.fYMin, 0.0f);
}

TEST(PlotScaling, YFromZeroStartsAtZero) {
  TestCurve a({0, 1}, {2, 10});
  CWINPlot plot;
  plot.ToggleYFromZero();
  plot.AddCurve(&a.curve);
  EXPECT_EQ(plot.fYMin, 0.0f);
  EXPECT_FLOAT_EQ(plot.fYMax, 10.5f);
}

TEST(PlotScaling, FixedRangesRefuseTinySpansAndCapHugeMaxima) {
  TestCurve a({0, 1}, {0, 1});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  const float ymin = plot.fYMin, ymax = plot.fYMax;
  plot.SetRanges(0, 1, 2, 2);
  EXPECT_EQ(plot.fYMin, ymin);
  EXPECT_EQ(plot.fYMax, ymax);
  EXPECT_EQ(plot.bFixedY, 0);
  plot.SetRanges(0, 1, 0, 2e10f);
  EXPECT_EQ(plot.fYMax, 1.0f);
}

TEST(PlotScaling, EqualRangeEndsAreWidenedNeverDividedBy) {
  TestCurve a({0, 1}, {0, 1});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  plot.SetXRange(3, 3);
  EXPECT_LT(plot.fXMin, plot.fXMax);
  EXPECT_TRUE(std::isfinite(plot.fScaleX));
  plot.SetXRangeAutoY(0.5f, 0.5f);
  EXPECT_LT(plot.fXMin, plot.fXMax);
  EXPECT_TRUE(std::isfinite(plot.fScaleX) && std::isfinite(plot.fScaleY));
  plot.SetYRange(-1, -1);
  EXPECT_TRUE(std::isfinite(plot.fScaleY));
  // A cap that makes both ends equal is widened as well.
  plot.SetRanges(0, 1, 1.0f, 5e10f);
  EXPECT_TRUE(std::isfinite(plot.fScaleY));
  EXPECT_LT(plot.fYMin, plot.fYMax);
}

TEST(PlotScaling, ZoomFitsYToThePointsInsideTheXWindow) {
  TestCurve a({1, 2, 3, 4, 5}, {10, 3, 4, 6, 20});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  plot.SetXRangeAutoY(1.5f, 4.5f);
  EXPECT_EQ(plot.bFixedX, 1);
  EXPECT_EQ(plot.bFixedY, 0);
  EXPECT_FLOAT_EQ(plot.fYMin, 3);
  EXPECT_FLOAT_EQ(plot.fYMax, 6);
  plot.ResetRanges();
  EXPECT_EQ(plot.bFixedX, 0);
  EXPECT_GT(plot.fYMax, 20);
}

TEST(PlotScaling, PixelToDataInvertsTheMapping) {
  MappedPlot m;
  float x = 0, y = 0;
  ASSERT_EQ(m.plot.PixelToData(360.0f, 300.0f, &x, &y), 1);  // X = 504 picture units
  EXPECT_NEAR(x, 3.25f, 1e-5f);
  EXPECT_NEAR(y, 5.0f, 1e-5f);
  EXPECT_EQ(m.plot.PixelToData(10.0f, 300.0f, &x, &y), 0);
  // The strip of the corner buttons under the top edge does not count.
  EXPECT_EQ(m.plot.PixelToData(360.0f, 110.0f, &x, &y), 0);
}

std::vector<float> Values(const CVector& v) {
  std::vector<float> out;
  for (std::uint32_t i = 0; i < v.Length(); ++i) out.push_back(v.Get(static_cast<int>(i)));
  return out;
}

TEST(PlotTicks, MajorAndMinorTicksOfAnInterval) {
  CWINPlot plot;
  EXPECT_EQ(Values(*plot.ComputeTicks(true, 100, 400)), (std::vector<float>{100, 200, 300, 400}));
  const std::vector<float> minor = Values(*plot.ComputeTicks(false, 100, 400));
  ASSERT_EQ(minor.size(), 16u);
  EXPECT_FLOAT_EQ(minor.front(), 100);
  EXPECT_FLOAT_EQ(minor[1], 120);
  EXPECT_FLOAT_EQ(minor.back(), 400);
  EXPECT_EQ(Values(*plot.ComputeTicks(true, 100, 250)), (std::vector<float>{100, 150, 200, 250}));
  EXPECT_EQ(plot.ComputeTicks(true, 3, 3)->Length(), 0u);
  EXPECT_EQ(plot.ComputeTicks(true, 5, 1)->Length(), 0u);
}

TEST(PlotTicks, LogarithmicMinorTicksSitAtTwoToNineTimesADecade) {
  CWINPlot plot;
  PlotScaling().bLogTickMode = 1;
  const std::vector<float> minor = Values(*plot.ComputeTicks(false, 0.0f, 2.0f));
  PlotScaling().bLogTickMode = 0;
  // Majors 0, 1, 2 (decades): 8 minors between each pair.
  ASSERT_EQ(minor.size(), 16u);
  EXPECT_NEAR(minor[0], std::log10(2.0f), 1e-6f);
  EXPECT_NEAR(minor[8], 1 + std::log10(2.0f), 1e-6f);
}

// ---------------------------------------------------------------- the picture

TEST(PlotPicture, RecordsAxesTicksLabelsAndTitlesAndCopiesThem) {
  ScopedHeadlessBackend backend;
  TestCurve a({100, 250, 400}, {0, 5, 10});
  CWINPlot plot;
  EXPECT_FALSE(plot.CopyToClipboard());  // nothing recorded yet
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  plot.SetRanges(100, 400, 0, 10);
  plot.SetXAxisLabel("radius [cm]");
  plot.SetYAxisLabel("absorbance [OD]");
  plot.SetTitle("scans");
  plot.ShowRightTickLabels();
  ASSERT_TRUE(plot.Redraw());
  const MetaFile& mf = *plot.hPicture;

  const std::vector<MetaRecord> ext = RecordsOf(mf, MetaOp::SetWindowExt);
  ASSERT_FALSE(ext.empty());
  EXPECT_EQ(ext[0].a, 1399);
  EXPECT_EQ(ext[0].b, 1000);
  // The outline of the plot rectangle in the axis colour.
  bool outline = false;
  for (const MetaRecord& r : RecordsOf(mf, MetaOp::Rectangle))
    outline |= r.a == 105 && r.b == 475 && r.c == 1365 && r.d == 50;
  EXPECT_TRUE(outline);
  for (const char* label : {"100", "200", "300", "400", "0", "5", "10"})
    EXPECT_TRUE(HasText(mf, label)) << label;
  EXPECT_TRUE(HasText(mf, "radius [cm]"));
  EXPECT_TRUE(HasText(mf, "scans"));
  // y labels are written left of the plot and, with right tick labels, right of it.
  int leftLabels = 0, rightLabels = 0;
  for (const MetaRecord& r : RecordsOf(mf, MetaOp::TextOut)) {
    if (r.text != "5") continue;
    if (r.a == 105 - 8 - 2) ++leftLabels;
    if (r.a == 1365 + 8 + 2) ++rightLabels;
  }
  EXPECT_EQ(leftLabels, 1);
  EXPECT_EQ(rightLabels, 1);
  // The y title is written with the upward font.
  bool rotated = false;
  for (const MetaRecord& r : RecordsOf(mf, MetaOp::SelectFont)) rotated |= r.font.escapement == 900;
  EXPECT_TRUE(rotated);
  ASSERT_TRUE(plot.CopyToClipboard());
  ASSERT_NE(backend->ClipboardPicture(), nullptr);
  EXPECT_TRUE(HasText(*backend->ClipboardPicture(), "scans"));
}

// The lower side of the y title (it runs upwards, so its lower side faces the axis):
// kYTitleGap left of the widest y tick label written, measured across with the text
// renderer as the screen draws it; -1 when the picture has no title "y".
int YTitleGapToLabels(const CWINPlot& plot) {
  const int labelRight = plot.nLeft - nTickLength - nTickLabelGap;
  int widest = 0, title = -1;
  const Font font{PlotTextHeight(nTickFontHeight), 400, 0, FontFamily::SansSerif};
  for (const MetaRecord& r : RecordsOf(*plot.hPicture, MetaOp::TextOut)) {
    if (r.text == "y") title = r.a;
    else if (r.a == labelRight)
      widest = std::max(widest, PlotTextWidth(DefaultTextRenderer().Measure(font, font.height, r.text).width));
  }
  return title < 0 ? -1 : labelRight - widest - title;
}

TEST(PlotPicture, WidestYLabelPlacesTheTitleAndGrowsTheFrame) {
  TestCurve a({0, 1}, {10000, 30000});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  plot.SetRanges(0, 1, 10000, 30000);  // labels "10000", "15000", ... : five characters
  plot.SetYAxisLabel("y");
  plot.Redraw();
  EXPECT_EQ(YTitleGapToLabels(plot), kYTitleGap);
  EXPECT_EQ(plot.nFrameLeft, 105 - 108);
}

TEST(PlotPicture, TextsWiderAcrossTakeTheirRoomFromThePlotArea) {
  // The factor is the vertical over the horizontal stretch of the 1400 x 1000
  // picture space, never below 1: a client half as wide as the layout's aspect
  // doubles what text spans across.
  EXPECT_NEAR(PlotTextWidthFactorFor(Size{700, 1000}), 2.0, 1e-6);
  EXPECT_NEAR(PlotTextWidthFactorFor(Size{1000, 1000}), 1.4, 1e-6);
  EXPECT_EQ(PlotTextWidthFactorFor(Size{1400, 1000}), 1.0);
  EXPECT_EQ(PlotTextWidthFactorFor(Size{1000, 700}), 1.0);
  EXPECT_EQ(PlotTextWidthFactorFor(Size{0, 700}), 1.0);

  // Five-character y labels and a y title, as in the test above; at factor 2 the
  // labels span twice their nominal 45 units (half a height per character) and the
  // upright title twice its 20-unit height: the plot area gives up 45 + 20 units
  // at its left, and the title stands its gap left of the labels as measured.
  TestCurve a({0, 1}, {10000, 30000});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  plot.SetRanges(0, 1, 10000, 30000);
  plot.SetYAxisLabel("y");
  ASSERT_TRUE(SetPlotTextWidthFactor(2.0));
  EXPECT_FALSE(SetPlotTextWidthFactor(2.0));
  plot.Redraw();
  SetPlotTextWidthFactor(1.0);
  EXPECT_EQ(plot.nLeft, 105 + 45 + 20);
  EXPECT_EQ(plot.nRight, 1365);
  SetPlotTextWidthFactor(2.0);
  EXPECT_EQ(YTitleGapToLabels(plot), kYTitleGap);
  SetPlotTextWidthFactor(1.0);
  // Back at factor 1 the layout is the nominal one.
  plot.Redraw();
  EXPECT_EQ(plot.nLeft, 105);
}

// Tick labels at a large text height in a low, narrow plot (a residual pane of a
// small window): no two labels of an axis overlap, the labels kept are the round
// values (whole multiples of the kept spacing), and every label stays inside the
// plot's rectangle and the picture.
TEST(PlotPicture, CrowdedTickLabelsAreThinnedAndStayInside) {
  ASSERT_TRUE(SetMinPlotTextHeight(31));
  TestCurve a({6.0f, 7.2f}, {0.3f, 0.8f});
  CWINPlot plot;
  plot.SetPlotRect(405, 75, 575, 975);
  plot.AddCurve(&a.curve);
  plot.SetRanges(0.0f, 1000000.0f, 0.3f, 0.8f);  // x labels "100000" ... every 1e5
  plot.ShowRightTickLabels();
  plot.Redraw();
  SetMinPlotTextHeight(0);
  const int tickH = 31;
  const Font font{tickH, 400, 0, FontFamily::SansSerif};
  std::vector<int> yRows;
  std::vector<std::pair<int, int>> xSpans;  // left and right of each x label
  std::vector<double> yValues, xValues;
  for (const MetaRecord& r : RecordsOf(*plot.hPicture, MetaOp::TextOut)) {
    const TextMetrics m = DefaultTextRenderer().Measure(font, tickH, r.text);
    if (r.a == plot.nLeft - nTickLength - nTickLabelGap) {
      yRows.push_back(r.b);
      yValues.push_back(std::stod(r.text));
      // The cell (baseline r.b) inside the plot's rectangle.
      EXPECT_GE(r.b - m.ascent, plot.nRectTop) << r.text;
      EXPECT_LE(r.b + m.descent, plot.nRectBottom) << r.text;
    } else if (r.b == plot.nBottom + nTickLength + nTickLabelGap) {
      xSpans.emplace_back(r.a - m.width / 2, r.a + (m.width + 1) / 2);
      xValues.push_back(std::stod(r.text));
      EXPECT_GE(xSpans.back().first, 0) << r.text;
      EXPECT_LE(xSpans.back().second, kPictureWidth) << r.text;
    }
  }
  ASSERT_GE(yRows.size(), 2u);
  ASSERT_GE(xSpans.size(), 2u);
  std::sort(yRows.begin(), yRows.end());
  for (std::size_t k = 1; k < yRows.size(); ++k) EXPECT_GE(yRows[k] - yRows[k - 1], tickH) << k;
  std::sort(xSpans.begin(), xSpans.end());
  for (std::size_t k = 1; k < xSpans.size(); ++k) EXPECT_GT(xSpans[k].first, xSpans[k - 1].second) << k;
  // 0.3 .. 0.8 every 0.1 would lie 34 units apart, closer than a label with its gap:
  // every second one is kept, at 0.4, 0.6, 0.8.
  std::sort(yValues.begin(), yValues.end());
  ASSERT_EQ(yValues.size(), 3u);
  EXPECT_NEAR(yValues[0], 0.4, 1e-6);
  EXPECT_NEAR(yValues[2], 0.8, 1e-6);
  // The x labels kept are equally spaced round values from 0.
  std::sort(xValues.begin(), xValues.end());
  const double step = xValues[1] - xValues[0];
  EXPECT_GT(step, 100000.0);
  for (double v : xValues) EXPECT_NEAR(std::remainder(v, step), 0.0, 1e-3 * step) << v;
}

TEST(PlotPicture, RescaleRequestRecordsAtMostOnceMore) {
  // Only x is fixed: a point above the y range asks for a rescale, which brings it in.
  TestCurve a({0, 1, 2}, {0, 1, 50});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);
  plot.AddCurve(&a.curve);
  plot.SetRanges(0, 2, 0, 1);
  plot.bFixedY = 0;
  ASSERT_TRUE(plot.Redraw());
  EXPECT_GT(plot.fYMax, 50);

  // A logarithmic y axis can never show y <= 0 of the first curve: the request
  // persists, and the redraw still ends after one more recording.
  TestCurve b({1, 2, 3}, {-1, 2, 3});
  CWINPlot logPlot;
  logPlot.SetPlotRect(50, 75, 475, 975);
  logPlot.AddCurve(&b.curve);
  logPlot.bLogY = 1;
  logPlot.AutoScale();
  EXPECT_TRUE(logPlot.Redraw());
  EXPECT_EQ(PlotRedraw().bRescaleRequested, 1);

  // With both ranges fixed the ranges stay.
  plot.SetRanges(0, 2, 0, 1);
  plot.Redraw();
  EXPECT_EQ(plot.fYMax, 1.0f);
}

TEST(PlotPicture, ColourRampAndColourBar) {
  CWINPlot plot;
  // Values outside 0..1 take the colour of the nearer end.
  EXPECT_EQ(plot.MapValueToColor(-3), plot.MapValueToColor(0));
  EXPECT_EQ(plot.MapValueToColor(7), plot.MapValueToColor(1));
  EXPECT_NE(plot.MapValueToColor(0.5f), plot.MapValueToColor(1));

  TestCurve a({0, 1}, {0, 1});
  std::vector<float> grid = {0, 1, 2};
  plot.SetPlotRect(100, 75, 500, 900);  // 400 units high
  plot.AddCurve(&a.curve);
  plot.SetMapYGrid(0, grid.data(), 1, 2, false);
  plot.bColorBar = 1;
  plot.Redraw();
  const int x0 = plot.nRight;
  int steps = 0;
  for (const MetaRecord& r : RecordsOf(*plot.hPicture, MetaOp::Rectangle))
    steps += r.a == x0 && r.c == x0 + 21;
  EXPECT_EQ(steps, 41);

  // A plot lower than one step gets a single step and no division by zero.
  plot.SetPlotRect(100, 75, 105, 900);
  plot.Redraw();
  steps = 0;
  for (const MetaRecord& r : RecordsOf(*plot.hPicture, MetaOp::Rectangle))
    steps += r.a == plot.nRight && r.c == plot.nRight + 21;
  EXPECT_EQ(steps, 1);
}

TEST(PlotPicture, DashedLinesAndAlternateDots) {
  auto lines = [](int x1, int y1, int x2, int y2) {
    MetaFileDC dc;
    PlotRedraw().bDotPhase = true;
    CWINPlot::DrawDashedLine(dc, x1, y1, x2, y2);
    return RecordsOf(*dc.Close(), MetaOp::LineTo);
  };
  std::vector<MetaRecord> l = lines(0, 0, 12, 0);
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].a, 5);
  EXPECT_TRUE(lines(0, 0, 9, 0).empty());
  l = lines(0, 0, 4, 0);
  ASSERT_EQ(l.size(), 1u);
  EXPECT_EQ(l[0].a, 2);

  MetaFileDC dc;
  PlotRedraw().bDotPhase = true;
  for (int x = 0; x < 6; ++x) CWINPlot::DrawDashedLine(dc, x, 0, x + 1, 0);
  EXPECT_EQ(CountOf(*dc.Close(), MetaOp::LineTo), 3);
}

// ---------------------------------------------------------------- curve styles

TEST(CurveStyles, EveryStyleCodeRecordsItsSymbol) {
  MappedPlot m;
  m.plot.nMarkSize = 3;
  m.plot.nMarkSizeY = 7;
  // Three points at (252, 460), (364, 420), (476, 380): the records of each symbol.
  struct Symbols {
    int style, lines, ellipses, rectangles;
  };
  const Symbols table[] = {{-1, 2, 0, 0}, {1, 6, 0, 0},  {2, 0, 3, 0},  {3, 9, 0, 0},
                           {5, 12, 0, 0}, {6, 0, 3, 0},  {7, 3, 0, 0},  {8, 3, 3, 0},
                           {9, 0, 0, 3},  {10, 18, 0, 0}, {11, 0, 0, 3}, {12, 8, 0, 0},
                           {13, 10, 0, 0}, {16, 12, 0, 0}, {17, 8, 3, 0}};
  for (const Symbols& t : table) {
    auto p = m.Paint(t.style);
    EXPECT_EQ(CountOf(*p, MetaOp::LineTo), t.lines) << t.style;
    EXPECT_EQ(CountOf(*p, MetaOp::Ellipse), t.ellipses) << t.style;
    EXPECT_EQ(CountOf(*p, MetaOp::Rectangle), t.rectangles) << t.style;
  }
  EXPECT_EQ(DrawingRecords(*m.Paint(0)), 0);
  // Circles centred on the point, bars of the two mark sizes, dots one pixel long.
  const std::vector<MetaRecord> e = RecordsOf(*m.Paint(2), MetaOp::Ellipse);
  EXPECT_EQ(e[0].a, 249);
  EXPECT_EQ(e[0].c, 255);
  const std::vector<MetaRecord> bars = RecordsOf(*m.Paint(11), MetaOp::Rectangle);
  EXPECT_EQ(bars[0].c - bars[0].a, 14);
  EXPECT_EQ(bars[0].d - bars[0].b, 6);
  const std::vector<MetaRecord> dots = RecordsOf(*m.Paint(7), MetaOp::LineTo);
  EXPECT_EQ(dots[0].a, 253);
  EXPECT_EQ(dots[0].b, 461);
  auto numbered = m.Paint(4);
  EXPECT_TRUE(HasText(*numbered, "1") && HasText(*numbered, "2") && HasText(*numbered, "3"));
  bool white = false;  // style 13 draws a white centre line
  for (const MetaRecord& r : RecordsOf(*m.Paint(13), MetaOp::SelectPen)) white |= r.pen.color == kWhite;
  EXPECT_TRUE(white);
  PlotRedraw().bDotPhase = true;
  EXPECT_GT(CountOf(*m.Paint(14), MetaOp::LineTo), 3);
  // Styles without a symbol draw only the connecting line, if any.
  for (int style : {15, 18, -2}) {
    m.plot.bConnectPoints = 1;
    EXPECT_EQ(CountOf(*m.Paint(style), MetaOp::LineTo), 2) << style;
    m.plot.bConnectPoints = 0;
    EXPECT_EQ(DrawingRecords(*m.Paint(style)), 0) << style;
  }
}

TEST(CurveStyles, MarkSizeZeroGivesDotsAndSticks) {
  MappedPlot m;
  m.plot.nMarkSize = 0;
  auto p = m.Paint(6);
  EXPECT_EQ(CountOf(*p, MetaOp::Ellipse), 0);
  EXPECT_EQ(CountOf(*p, MetaOp::LineTo), 3);
  m.plot.nMarkSize = 2;
  const std::vector<MetaRecord> e = RecordsOf(*m.Paint(6), MetaOp::Ellipse);
  ASSERT_FALSE(e.empty());
  EXPECT_EQ(e[0].c - e[0].a, 4);
  EXPECT_EQ(e[0].d - e[0].b, 4);
  m.plot.nMarkSize = 0;
  p = m.Paint(8);
  EXPECT_EQ(CountOf(*p, MetaOp::Ellipse), 0);
  const std::vector<MetaRecord> sticks = RecordsOf(*p, MetaOp::LineTo);
  ASSERT_EQ(sticks.size(), 3u);
  EXPECT_EQ(sticks[0].a, 252);
  EXPECT_EQ(sticks[0].b, 460);
  // The stick starts at the row of y = 0.
  const std::vector<MetaRecord> moves = RecordsOf(*p, MetaOp::MoveTo);
  EXPECT_TRUE(std::any_of(moves.begin(), moves.end(),
                          [](const MetaRecord& r) { return r.a == 252 && r.b == 500; }));
}

// A curve of far more points than picture columns (noisy, with points above the
// range that split it into runs) draws the same pixels as every point drawn one by
// one, from a picture of a fraction of the records.
TEST(CurveStyles, DenseCurvesDrawTheSamePixelsAsEveryPoint) {
  constexpr std::size_t kPoints = 40000;
  std::vector<float> x(kPoints), y(kPoints);
  unsigned seed = 12345;
  for (std::size_t k = 0; k < kPoints; ++k) {
    seed = seed * 1103515245u + 12345u;
    const float noise = static_cast<float>((seed >> 16) % 1000) / 1000.0f - 0.5f;
    x[k] = 10.0f * static_cast<float>(k) / kPoints;
    y[k] = 5.0f + 3.0f * std::sin(0.001f * static_cast<float>(k)) + 0.1f * noise;
    if (k % 7919 == 100) y[k] = 20.0f;  // outside: ends a run
  }
  y.back() = 9.5f;  // the last column of the curve ends on a new row
  MappedPlot m(x, y);
  m.plot.nMarkSize = 2;
  for (int style : {-1, 7, 1, 3, 5, 8, 16}) {
    auto picture = m.Paint(style);
    Image drawn(1399, 1000), expected(1399, 1000);
    RasterDC dc(drawn);
    picture->Play(dc);

    // Every visible point, as the style draws one point after the other.
    MetaFileDC ref;
    const Color color = m.plot.GetCurveColor(0);
    const Pen pen{PenStyle::Solid, 0, color};
    ref.SelectPen(pen);
    ref.SelectBrush(SolidBrush(color));
    const SymbolPainter symbols{.dc = &ref, .markSize = 2, .zeroRow = m.plot.MapY(0.0f), .linePen = pen};
    bool run = false;
    int px = 0, py = 0;
    for (std::size_t k = 0; k < kPoints; ++k) {
      if (y[k] > 10.0f) {
        run = false;
        continue;
      }
      const int x0 = px, y0 = py;
      px = m.plot.MapX(x[k]);
      py = m.plot.MapY(y[k]);
      if (run && style == -1)
        ref.LineTo(px, py);
      else
        ref.MoveTo(px, py);
      DrawSymbol(symbols, style, px, py, run ? x0 : px, run ? y0 : py, run, k == kPoints - 1);
      run = true;
    }
    auto every = ref.Close();
    RasterDC expectedDc(expected);
    every->Play(expectedDc);
    EXPECT_TRUE(tarmic::testing::SameImage(drawn, expected)) << "style " << style;
    EXPECT_LT(picture->Records().size(), every->Records().size() / 4) << "style " << style;
  }
}

TEST(CurveStyles, PointsAboveTheRangeSplitTheLineAndAskForARescale) {
  MappedPlot m({1, 2, 3, 4, 5}, {1, 2, 20, 4, 5});
  PlotRedraw().bRescaleRequested = 0;
  auto p = m.Paint(-1);
  EXPECT_EQ(CountOf(*p, MetaOp::LineTo), 2);  // 1-2 and 4-5, nothing across the gap
  EXPECT_EQ(PlotRedraw().bRescaleRequested, 1);
  // A thick segment on one pixel draws nothing.
  MappedPlot narrow({1, 1.001f}, {1, 1});
  EXPECT_EQ(CountOf(*narrow.Paint(12), MetaOp::LineTo), 0);
}

TEST(CurveStyles, LogXAxisDrawsZeroLeftOfThePlot) {
  MappedPlot m({0, 2}, {1, 2});
  m.plot.bLogX = 1;
  m.plot.SetRanges(1, 10, 0, 10);
  const std::vector<MetaRecord> dots = RecordsOf(*m.Paint(7), MetaOp::LineTo);
  ASSERT_EQ(dots.size(), 2u);
  EXPECT_EQ(dots[0].a, m.plot.nLeft - 20 + 1);
}

TEST(CurveStyles, MapCurveWithoutValuesUsesTheCurveColour) {
  MappedPlot m;
  std::vector<float> zeros = {0, 0, 0, 0};
  m.plot.SetMapYGrid(0, zeros.data(), 1, 3, false);
  m.plot.SetCurveColor(0, 0x123456);
  const std::vector<MetaRecord> pens = RecordsOf(*m.Paint(9), MetaOp::SelectPen);
  ASSERT_FALSE(pens.empty());
  for (std::size_t k = 0; k + 1 < pens.size(); ++k) EXPECT_EQ(pens[k].pen.color, 0x123456u);

  std::vector<float> values = {0, 1, 2, 4};
  m.plot.SetMapYGrid(0, values.data(), 1, 3, false);
  const std::vector<MetaRecord> colored = RecordsOf(*m.Paint(9), MetaOp::SelectPen);
  EXPECT_TRUE(std::any_of(colored.begin(), colored.end(), [&](const MetaRecord& r) {
    return r.pen.color == m.plot.MapValueToColor(1.0f);
  }));
  EXPECT_EQ(m.plot.fMapMax, 4.0f);
}

TEST(CurveStyles, IndexRangePastTheEndDrawsToTheLastPoint) {
  MappedPlot m({1, 2, 3, 4}, {1, 2, 3, 4});
  m.plot.pRangeSet[0] = 1;
  m.plot.pRangeFirst[0] = 10;  // ignored: the walk starts at 0
  m.plot.pRangeLast[0] = 50;
  EXPECT_EQ(CountOf(*m.Paint(7), MetaOp::LineTo), 4);
  m.plot.pRangeFirst[0] = 2;
  m.plot.pRangeLast[0] = 2;
  EXPECT_EQ(CountOf(*m.Paint(7), MetaOp::LineTo), 1);
}

// ---------------------------------------------------------------- overlays

TEST(Overlays, ArraysOfTheCallerAndTheMarkSizeStayUnchanged) {
  MappedPlot m;
  m.plot.nMarkSize = 10;
  std::vector<float> x = {0, 1, 2, 3};  // one-based: x[1..3]
  std::vector<float> y = {0, 1e-31f, 2, 3};
  auto p = m.plot.DrawArrays(x.data(), y.data(), 3, 0x0000ff, 6, 2);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(y[1], 1e-31f);
  EXPECT_EQ(m.plot.nMarkSize, 10);
  const std::vector<MetaRecord> e = RecordsOf(*p, MetaOp::Ellipse);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(e[0].c - e[0].a, 4);
}

TEST(Overlays, PointRangesStylesAndEmptyCurves) {
  std::vector<float> x(20), y(20);
  for (int i = 0; i < 20; ++i) {
    x[static_cast<std::size_t>(i)] = 0.1f * static_cast<float>(i);
    y[static_cast<std::size_t>(i)] = 1.0f;
  }
  MappedPlot m(x, y);
  auto dots = [&](int first, int last) {
    auto p = m.plot.DrawCurveRange(&m.data.curve, first, last, 0, 7, 1);
    return p ? CountOf(*p, MetaOp::LineTo) : -1;
  };
  EXPECT_EQ(dots(5, 5), 16);
  EXPECT_EQ(dots(19, 20), 20);
  EXPECT_EQ(dots(3, 25), 18);
  EXPECT_EQ(dots(6, 5), -1);
  TestCurve empty({}, {});
  EXPECT_EQ(m.plot.DrawCurveOverlay(&empty.curve, 0, -1, 1), nullptr);
  TestCurve one({1}, {1});
  auto p = m.plot.DrawCurveOverlay(&one.curve, 0, 6, 3);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(CountOf(*p, MetaOp::Ellipse), 1);
  EXPECT_EQ(CountOf(*p, MetaOp::LineTo), 0);
  // Style 0 draws nothing, style -1 lines only, style 15 hollow circles.
  EXPECT_EQ(DrawingRecords(*m.plot.DrawCurveOverlay(&m.data.curve, 0, 0, 1)), 0);
  auto lines = m.plot.DrawCurveOverlay(&m.data.curve, 0, -1, 1);
  EXPECT_EQ(CountOf(*lines, MetaOp::LineTo), 19);
  EXPECT_EQ(CountOf(*lines, MetaOp::Ellipse), 0);
  auto hollow = m.plot.DrawCurveOverlay(&m.data.curve, 0, 15, 4);
  EXPECT_EQ(CountOf(*hollow, MetaOp::Ellipse), 20);
  const std::vector<MetaRecord> brushes = RecordsOf(*hollow, MetaOp::SelectBrush);
  ASSERT_FALSE(brushes.empty());
  EXPECT_EQ(brushes[0].brush.style, BrushStyle::Null);
}

TEST(Overlays, PerPointColoursColourEveryCentreLine) {
  MappedPlot m;
  int** rgb = imatrix(1, 3, 1, 3);
  for (int k = 1; k <= 3; ++k) {
    rgb[k][1] = 10 * k;
    rgb[k][2] = 256 + k;  // only the low 8 bits count
    rgb[k][3] = 0;
  }
  auto p = m.plot.DrawCurveRangePerPointColor(&m.data.curve, 1, 3, rgb, 13, 1);
  free_imatrix(rgb, 1, 3, 1, 3);
  ASSERT_NE(p, nullptr);
  std::vector<Color> pens;
  for (const MetaRecord& r : RecordsOf(*p, MetaOp::SelectPen))
    if (r.pen.color != kWhite) pens.push_back(r.pen.color);
  for (int k = 1; k <= 3; ++k)
    EXPECT_NE(std::find(pens.begin(), pens.end(), RGB(10 * k, k, 0)), pens.end()) << k;
}

}  // namespace
}  // namespace tarmic
