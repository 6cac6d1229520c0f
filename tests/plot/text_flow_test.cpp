// Tests of the layout that keeps texts clear of each other: a block of lines flowed
// into free rectangles, and the residual bitmap's band between the data plot's x tick
// labels and the residual plot at every window height.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "platform/raster_dc.h"
#include "plot/picture_space.h"
#include "plot/residual_bitmap.h"
#include "plot/text_flow.h"
#include "scandata/radial_grid.h"

#include "tests/plot/plot_test_support.h"

namespace tarmic {
namespace {

using namespace plot_test;

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

bool Inside(const Rect& r, const Rect& region) {
  return r.left >= region.left && r.right <= region.right && r.top >= region.top &&
         r.bottom <= region.bottom;
}

bool Intersect(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

TEST(TextFlow, LinesFillTheRectanglesInOrderWithoutOverlapOrLoss) {
  TextRenderer& fonts = DefaultTextRenderer();
  const Font font{16, 400, 0, FontFamily::SansSerif};
  const int line = fonts.Measure(font, 16, "0").ascent + fonts.Measure(font, 16, "0").descent;
  const std::string longLine = "s0, step #12 - Meniscus = 6.03 stands at its limit: no free optimum";
  const std::vector<std::string> lines{"fitting files 00001.ra1 to 00030.ra1", "", "rmsd=0.001968   ",
                                       longLine, "Meniscus = 6.000000", "Bottom = 7.200000",
                                       "fitting 6.0500 - 7.1000", "Baseline = 0.000000",
                                       "vbar = 0.7300 (fix)"};
  const int widest = fonts.Measure(font, 16, longLine).width;

  auto check = [&](const std::vector<Rect>& regions, const std::string& what) {
    const std::vector<FlowedText> placed = FlowTextLines(lines, regions, fonts, font, 16);
    std::vector<std::string> words;
    for (std::size_t i = 0; i < placed.size(); ++i) {
      const FlowedText& p = placed[i];
      EXPECT_GE(p.cell.Width(), fonts.Measure(font, 16, p.text).width) << what << p.text;
      bool inside = false;
      for (const Rect& r : regions) inside = inside || Inside(p.cell, r);
      EXPECT_TRUE(inside) << what << ": \"" << p.text << "\" outside the rectangles";
      for (std::size_t j = i + 1; j < placed.size(); ++j)
        EXPECT_FALSE(Intersect(p.cell, placed[j].cell)) << what << ": \"" << p.text << "\" over \"" << placed[j].text << "\"";
      EXPECT_EQ(p.text.back() == ' ' || p.text.front() == ' ', false) << what << ": \"" << p.text << "\"";
      for (const std::string& w : Words(p.text)) words.push_back(w);
    }
    return std::make_pair(placed, words);
  };
  std::vector<std::string> all;
  for (const std::string& l : lines)
    for (const std::string& w : Words(l)) all.push_back(w);

  // Three lines high and wide: the block continues in further columns right of the
  // widest line of the last one, from the top.
  {
    const auto [placed, words] = check({Rect{0, 0, 4 * widest, 3 * line + 6}}, "columns");
    EXPECT_EQ(words, all);
    EXPECT_EQ(placed[3].cell.top, 0);
    const int firstColumnRight = std::max({placed[0].cell.right, placed[1].cell.right, placed[2].cell.right});
    EXPECT_GT(placed[3].cell.left, firstColumnRight);
  }
  // A narrow rectangle of four lines, then a taller one below: the long line is broken
  // at spaces, every word kept whole and in order.
  {
    const int narrow = widest / 2;
    const std::vector<Rect> regions{Rect{5, 5, 5 + narrow, 5 + 4 * (line + 1)},
                                    Rect{5, 200, 5 + narrow, 200 + 30 * line}};
    const auto [placed, words] = check(regions, "narrow");
    EXPECT_EQ(words, all);
    EXPECT_GT(placed.size(), lines.size() - 1);
    EXPECT_TRUE(Inside(placed.back().cell, regions[1]));
  }
  // No room for all: what is shown is the start of the block, the rest is left out.
  {
    const int first = fonts.Measure(font, 16, lines[0]).width;
    const auto [placed, words] = check({Rect{0, 0, first + 2, 2 * line + 1}}, "short");
    EXPECT_EQ(placed.size(), 2u);
    EXPECT_EQ(words, std::vector<std::string>(all.begin(), all.begin() + static_cast<long>(words.size())));
  }
  // Rectangles too small for one character take nothing.
  EXPECT_TRUE(FlowTextLines(lines, {Rect{0, 0, 1, 100}, Rect{0, 0, 100, line - 1}}, fonts, font, 16).empty());
}

// The strip of the residual bitmap has one pixel row per scan at every window
// height and lies inside its band: below the row where the band starts (clear of the
// data plot's x tick labels) and above the residual plot, which moves down as the
// window gets lower. Very many scans are squeezed into the band, and the residual
// plot keeps its least height.
TEST_F(DataSetTest, ResidualBitmapStripTakesItsRowsFromTheBandAtEveryHeight) {
  for (int scans : {3, 40, 400}) {
    LoadScans(scans, 5);
    ASSERT_TRUE(BuildCommonRadialGrid());
    for (int height : {430, 500, 700, 1000, 1400}) {
      SetPaneClientHeight(height);
      RebuildDataAndResidualPlots();
      const Rect strip = ResidualsBitmapRect(Size{1000, height}, scans);
      const std::string at = std::to_string(scans) + " scans at " + std::to_string(height);
      const double perUnit = height / 1000.0;
      EXPECT_GE(strip.top, static_cast<int>(std::floor(DataPlots().nResidualPlotTop * perUnit))) << at;
      EXPECT_LE(strip.bottom, static_cast<int>(std::ceil(DataPlots().pResidualsPlot->nRectTop * perUnit))) << at;
      EXPECT_GE(DataPlots().pResidualsPlot->nRectBottom - DataPlots().pResidualsPlot->nRectTop, kMinResidualPlotHeight) << at;
      const int room = DataPlots().nPlotAreaBottom - DataPlots().nResidualPlotTop - kMinResidualPlotHeight;
      if (std::ceil(scans / perUnit) <= room) {
        EXPECT_EQ(strip.Height(), scans) << at;
      } else {
        EXPECT_LT(strip.Height(), scans) << at;
        EXPECT_GE(strip.Height(), room * perUnit - 1) << at;
      }
      // Across, the strip spans the residual plot's x axis.
      EXPECT_NEAR(strip.left, DataPlots().pResidualsPlot->nLeft * 1000.0 / kPictureWidth, 1.0) << at;
      EXPECT_NEAR(strip.right, DataPlots().pResidualsPlot->nRight * 1000.0 / kPictureWidth, 1.0) << at;
    }
    FreeDataSet();
    ResetPlotting();
  }
  // A new height moves the residual plot of the split layout below the new band.
  LoadScans(40, 5);
  ASSERT_TRUE(BuildCommonRadialGrid());
  SetPaneClientHeight(1000);
  RebuildDataAndResidualPlots();
  EXPECT_EQ(DataPlots().pResidualsPlot->nRectTop, DataPlots().nResidualPlotTop + 40);
  EXPECT_TRUE(SetPaneClientHeight(500));
  EXPECT_EQ(DataPlots().pResidualsPlot->nRectTop, DataPlots().nResidualPlotTop + 80);
  EXPECT_FALSE(SetPaneClientHeight(500));
}

}  // namespace
}  // namespace tarmic
