// Tests of the screen buttons and the progress line, drawn into the headless
// window's back-buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/headless/headless_backend.h"
#include "plot/progress_line.h"
#include "plot/screen_button.h"

#include "tests/plot/plot_test_support.h"

namespace tarmic {
namespace {

using namespace plot_test;

// ---------------------------------------------------------------- screen buttons

TEST(ScreenButtons, RectangleLabelsAndHitTest) {
  CScreenButton b;
  b.SetRect(10.7f, 20.2f, 30.9f, 40.5f);
  EXPECT_EQ(b.nTop, 10);
  EXPECT_EQ(b.nLeft, 20);
  EXPECT_EQ(b.nBottom, 30);
  EXPECT_EQ(b.nRight, 40);

  const std::string longText(1200, 'x');
  b.SetLabels(longText.c_str(), 1200, "", 0);
  EXPECT_EQ(b.szOffLabel.size(), 999u);
  EXPECT_TRUE(b.szOnLabel.empty());
  b.SetLabels("off", 50, "on", 2);  // a length beyond the text stops at its end
  EXPECT_EQ(b.szOffLabel, "off");

  b.SetRect(100, 140, 200, 280);  // picture units; mouse x is 1/1.4 of them
  ASSERT_TRUE(b.Paint());
  EXPECT_TRUE(HasText(*b.hPicture, "off"));
  EXPECT_TRUE(b.HitTest(100, 100));  // edges count
  EXPECT_TRUE(b.bOn);
  EXPECT_TRUE(HasText(*b.hPicture, "on"));
  EXPECT_FALSE(b.HitTest(99, 150));
  b.Toggle();
  EXPECT_TRUE(HasText(*b.hPicture, "off"));

  b.nType = 1;
  EXPECT_TRUE(b.HitTest(150, 150));
  EXPECT_FALSE(b.bOn);

  CScreenButton flat;
  flat.SetRect(100, 100, 100, 200);
  EXPECT_FALSE(flat.HitTest(100, 100));
}

TEST(ScreenButtons, ButtonTooSmallForItsLabelGrowsLeftByTheTextWidth) {
  // A button too narrow for its label grows to the left, keeping its right edge, to
  // the label's width and 4 units each side; at text width factor 2 the label spans
  // twice its measured width.
  auto grown = [](double factor) {
    SetPlotTextWidthFactor(factor);
    CScreenButton b;
    b.SetRect(100, 500, 130, 502);
    b.SetLabels("restore TI noise", 16, "on", 2);
    b.Paint();
    SetPlotTextWidthFactor(1.0);
    EXPECT_EQ(b.nRight, 502);
    return b.nRight - b.nLeft - 8;
  };
  const int label = grown(1.0);
  EXPECT_GT(label, 16 * 4);  // the longer label, at the 16-unit button font
  EXPECT_EQ(grown(2.0), 2 * label);
}

TEST(ScreenButtons, FramedLabelIsFilledWhite) {
  CScreenButton b;
  b.bFramed = true;
  b.bOn = true;
  b.SetRect(10, 10, 40, 200);
  b.Paint();
  const std::vector<MetaRecord> brushes = RecordsOf(*b.hPicture, MetaOp::SelectBrush);
  ASSERT_GE(brushes.size(), 2u);
  EXPECT_EQ(brushes[1].brush.color, kWhite);
}

TEST(ScreenButtons, BackgroundAndRingAreRestored) {
  ScopedHeadlessBackend backend(700, 500);
  Window& window = backend->MainWindow();
  Image& screen = window.Screen();
  screen.Fill(RGB(10, 20, 30));
  CScreenButton b;
  b.SetRect(100, 140, 200, 420);
  b.SetLabels("prompt", 6, "prompt", 6);
  b.Paint();
  b.SaveBackground(window);
  b.Show(window);
  // The fill of the button covers its middle (picture units stretched to pixels).
  EXPECT_EQ(screen.Pixel(140, 60), b.crOffFill);
  b.DrawRing(window, 300, 300, 8, RGB(255, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(screen.Pixel(300 - 8, 300), RGB(255, 0, 0));
  b.DrawRing(window, 300, 300, 0, 0, 0);  // radius 0: only removes the ring
  EXPECT_EQ(b.nRingRadius, 0);
  EXPECT_EQ(screen.Pixel(300 - 8, 300), kWhite);
  b.DrawRing(window, 300, 300, 8, RGB(255, 0, 0), RGB(0, 0, 255));
  b.RestoreBackground(window);
  EXPECT_EQ(b.nRingRadius, 0);
  EXPECT_EQ(screen.Pixel(140, 60), RGB(10, 20, 30));
  EXPECT_EQ(screen.Pixel(300, 300), RGB(0, 0, 255));  // the marked point is redrawn
}

// ---------------------------------------------------------------- progress line

TEST(ProgressLine, GrowsOnlyAndRestoresTheBackground) {
  ScopedHeadlessBackend backend(300, 100);
  Window& window = backend->MainWindow();
  Image& screen = window.Screen();
  screen.Fill(RGB(1, 2, 3));
  const Image before = screen;
  CProgressLine line;
  line.Show(window, 10, 10);
  EXPECT_EQ(screen.Pixel(10, 10), RGB(1, 2, 3));  // nothing drawn yet
  line.Update(0.5f, window);
  for (int row : {9, 10, 11, 12}) {
    EXPECT_EQ(screen.Pixel(10, row), RGB(255, 0, 0)) << row;
    EXPECT_EQ(screen.Pixel(59, row), RGB(255, 0, 0)) << row;
    EXPECT_EQ(screen.Pixel(60, row), RGB(200, 200, 200)) << row;
    EXPECT_EQ(screen.Pixel(109, row), RGB(200, 200, 200)) << row;
  }
  EXPECT_EQ(screen.Pixel(10, 8), RGB(1, 2, 3));
  const Image half = screen;
  line.Update(0.3f, window);
  line.Update(0.5f, window);
  EXPECT_EQ(std::vector<Color>(screen.Data(), screen.Data() + 300 * 100),
            std::vector<Color>(half.Data(), half.Data() + 300 * 100));
  line.Update(1.0f, window);
  EXPECT_EQ(screen.Pixel(109, 10), RGB(255, 0, 0));
  line.Hide(window);
  EXPECT_EQ(std::vector<Color>(screen.Data(), screen.Data() + 300 * 100),
            std::vector<Color>(before.Data(), before.Data() + 300 * 100));
}

TEST(ProgressLine, BlueLineKeepsAGreyTrack) {
  ScopedHeadlessBackend backend(300, 100);
  Window& window = backend->MainWindow();
  CProgressLine line;
  line.SetBlueColor();
  line.Show(window, 20, 50);
  line.Update(0.25f, window);
  EXPECT_EQ(window.Screen().Pixel(30, 50), RGB(0, 100, 255));
  EXPECT_EQ(window.Screen().Pixel(100, 50), RGB(200, 200, 200));
}

}  // namespace
}  // namespace tarmic
