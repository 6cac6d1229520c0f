// RasterDC: lines, fills, raster operations, mapping, pixel transfers and text.
#include <gtest/gtest.h>

#include "platform/raster_dc.h"
#include "pixel_helpers.h"
#include "readout_sweep.h"

namespace tarmic {
namespace {

using testing::BoxOf;
using testing::CountPixels;
using testing::InkBox;
using testing::PatternImage;
using testing::SameImage;

constexpr Color kRed = RGB(255, 0, 0);
constexpr Color kBlue = RGB(0, 0, 255);
constexpr Color kYellow = RGB(255, 255, 0);

// ---------------------------------------------------------------- lines

TEST(RasterLines, LineToExcludesTheEndPixel) {
  Image img(20, 20);
  RasterDC dc(img);
  dc.MoveTo(5, 7);
  dc.LineTo(6, 8);  // DrawDot: MoveTo(x,y), LineTo(x+1,y+1) gives exactly one pixel
  EXPECT_EQ(CountPixels(img, kBlack), 1);
  EXPECT_EQ(img.Pixel(5, 7), kBlack);
  EXPECT_EQ(img.Pixel(6, 8), kWhite);
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{6, 8}));
  dc.LineTo(6, 8);  // to the same point: nothing
  EXPECT_EQ(CountPixels(img, kBlack), 1);
}

TEST(RasterLines, HorizontalAndVerticalLinesStopBeforeTheEnd) {
  Image img(20, 20);
  RasterDC dc(img);
  dc.MoveTo(2, 3);
  dc.LineTo(12, 3);
  EXPECT_EQ(CountPixels(img, kBlack), 10);
  EXPECT_EQ(img.Pixel(2, 3), kBlack);
  EXPECT_EQ(img.Pixel(11, 3), kBlack);
  EXPECT_EQ(img.Pixel(12, 3), kWhite);
  dc.LineTo(12, 13);  // vertical, starts at the excluded end of the first line
  EXPECT_EQ(CountPixels(img, kBlack), 20);
  EXPECT_EQ(img.Pixel(12, 3), kBlack);
  EXPECT_EQ(img.Pixel(12, 13), kWhite);
}

TEST(RasterLines, NullPenDrawsNothingButMoves) {
  Image img(10, 10);
  RasterDC dc(img);
  dc.SelectPen(NullPen());
  dc.MoveTo(0, 0);
  dc.LineTo(9, 9);
  EXPECT_EQ(CountPixels(img, kBlack), 0);
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{9, 9}));
}

TEST(RasterLines, PolylineDrawsSharedVerticesOnceAndKeepsTheCurrentPosition) {
  Image img(30, 30);
  RasterDC dc(img);
  dc.SetROP2(Rop2::Not);
  dc.MoveTo(1, 1);
  dc.Polyline({{5, 5}, {20, 5}, {20, 20}, {5, 20}, {5, 5}});
  // A closed outline inverted once everywhere: 4 x 15 pixels, each corner once.
  EXPECT_EQ(CountPixels(img, kBlack), 60);
  EXPECT_EQ(BoxOf(img, kBlack), (Rect{5, 5, 21, 21}));
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{1, 1}));
}

TEST(RasterLines, CosmeticPenIsOnePixelWhateverTheMapping) {
  Image img(100, 100);
  RasterDC dc(img);
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowExt(10, 10);
  dc.SetViewportExt(100, 100);  // 10 pixels per unit
  dc.SelectPen(Pen{PenStyle::Solid, 0, kRed});
  dc.MoveTo(1, 5);
  dc.LineTo(9, 5);
  EXPECT_EQ(CountPixels(img, kRed), 80);
  EXPECT_EQ(BoxOf(img, kRed), (Rect{10, 50, 90, 51}));
}

TEST(RasterLines, WidePenIsScaledByTheMapping) {
  Image img(100, 100);
  RasterDC dc(img);
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowExt(50, 50);
  dc.SetViewportExt(100, 100);  // 2 pixels per unit
  dc.SelectPen(Pen{PenStyle::Solid, 3, kRed});
  dc.MoveTo(10, 25);
  dc.LineTo(40, 25);
  // Column 50 lies in the middle of the line: 3 units = 6 pixels thick.
  int rows = 0;
  for (int y = 0; y < 100; ++y) rows += img.Pixel(50, y) == kRed;
  EXPECT_EQ(rows, 6);
}

TEST(RasterLines, DashedPenLeavesGaps) {
  Image img(100, 5);
  RasterDC dc(img);
  dc.SelectPen(Pen{PenStyle::Dash, 0, kBlack});
  dc.MoveTo(0, 2);
  dc.LineTo(96, 2);
  int n = CountPixels(img, kBlack);
  EXPECT_GT(n, 40);
  EXPECT_LT(n, 96);
}

TEST(RasterLines, FarAwayEndPointsAreClippedWithoutHanging) {
  Image img(50, 50);
  RasterDC dc(img);
  dc.MoveTo(-100000000, 25);
  dc.LineTo(100000000, 25);
  EXPECT_EQ(CountPixels(img, kBlack), 50);
}

// ---------------------------------------------------------------- NOT raster operation

TEST(RasterNot, LineDrawnTwiceWithNotLeavesThePixelsAsTheyWere) {
  Image img = PatternImage(64, 48);
  const Image original = img;
  RasterDC dc(img);
  dc.SetROP2(Rop2::Not);
  auto draw = [&] {
    dc.MoveTo(3, 40);
    dc.LineTo(60, 2);
    dc.MoveTo(10, 10);
    dc.LineTo(50, 10);
  };
  draw();
  EXPECT_FALSE(SameImage(img, original));
  EXPECT_EQ(img.Pixel(3, 40), ~original.Pixel(3, 40) & 0xFFFFFF);
  EXPECT_EQ(img.Pixel(20, 10), ~original.Pixel(20, 10) & 0xFFFFFF);
  draw();
  EXPECT_TRUE(SameImage(img, original));
}

TEST(RasterNot, WideLineAndFilledShapesDrawnTwiceWithNotRestore) {
  Image img = PatternImage(64, 48);
  const Image original = img;
  RasterDC dc(img);
  dc.SetROP2(Rop2::Not);
  dc.SelectPen(Pen{PenStyle::Solid, 5, kRed});
  dc.SelectBrush(SolidBrush(kBlue));
  for (int pass = 0; pass < 2; ++pass) {
    dc.MoveTo(5, 5);
    dc.LineTo(40, 30);
    dc.Rectangle(30, 20, 60, 45);
    dc.Ellipse(2, 20, 30, 46);
    if (pass == 0) {
      EXPECT_FALSE(SameImage(img, original));
      // The pen colour does not matter: the destination is inverted.
      EXPECT_EQ(img.Pixel(45, 32), ~original.Pixel(45, 32) & 0xFFFFFF);
    }
  }
  EXPECT_TRUE(SameImage(img, original));
}

// ---------------------------------------------------------------- rectangles and ellipses

TEST(RasterShapes, RectangleRightAndBottomAreExclusive) {
  Image img(40, 40);
  RasterDC dc(img);
  dc.SelectPen(Pen{PenStyle::Solid, 0, kRed});
  dc.SelectBrush(SolidBrush(kBlue));
  dc.Rectangle(5, 6, 15, 20);
  EXPECT_EQ(InkBox(img), (Rect{5, 6, 15, 20}));
  EXPECT_EQ(img.Pixel(5, 6), kRed);
  EXPECT_EQ(img.Pixel(14, 19), kRed);
  EXPECT_EQ(img.Pixel(10, 12), kBlue);
  EXPECT_EQ(CountPixels(img, kBlue), 8 * 12);
}

TEST(RasterShapes, RectangleWithSwappedCornersIsNormalised) {
  auto fill = [](Rect r) {
    Image img(60, 60);
    RasterDC dc(img);
    dc.SelectPen(NullPen());
    dc.SelectBrush(SolidBrush(kRed));
    dc.Rectangle(r.left, r.top, r.right, r.bottom);
    return img;
  };
  const Image a = fill(Rect{10, 20, 50, 40});
  EXPECT_EQ(CountPixels(a, kRed), 40 * 20);
  EXPECT_TRUE(SameImage(a, fill(Rect{50, 40, 10, 20})));  // both orders swapped
  EXPECT_TRUE(SameImage(a, fill(Rect{10, 40, 50, 20})));  // only the vertical order
}

TEST(RasterShapes, EllipseFillsInsideItsBoxOnly) {
  Image img(50, 50);
  RasterDC dc(img);
  dc.SelectPen(Pen{PenStyle::Solid, 0, kRed});
  dc.SelectBrush(SolidBrush(kBlue));
  dc.Ellipse(10, 10, 41, 31);
  EXPECT_EQ(InkBox(img), (Rect{10, 10, 41, 31}));
  EXPECT_EQ(img.Pixel(25, 20), kBlue);
  EXPECT_EQ(img.Pixel(10, 10), kWhite);  // corners of the box stay
  EXPECT_EQ(img.Pixel(40, 30), kWhite);
  EXPECT_EQ(img.Pixel(10, 20), kRed);  // outline at the ends of the axes
  EXPECT_EQ(img.Pixel(25, 10), kRed);
}

TEST(RasterShapes, ClipRectLimitsDrawing) {
  Image img(40, 40);
  RasterDC dc(img);
  dc.IntersectClipRect(Rect{10, 10, 20, 20});
  dc.SelectPen(NullPen());
  dc.SelectBrush(SolidBrush(kRed));
  dc.Rectangle(0, 0, 40, 40);
  EXPECT_EQ(InkBox(img), (Rect{10, 10, 20, 20}));
  dc.IntersectClipRect(Rect{15, 0, 40, 40});  // intersects with the current clip
  dc.SelectBrush(SolidBrush(kBlue));
  dc.Rectangle(0, 0, 40, 40);
  EXPECT_EQ(BoxOf(img, kBlue), (Rect{15, 10, 20, 20}));
}

// ---------------------------------------------------------------- mapping and state

TEST(DCMapping, AnisotropicMapsWindowExtentOntoViewportTruncatingTowardZero) {
  Image img(10, 10);
  RasterDC dc(img);
  dc.SetWindowExt(1399, 1000);
  dc.SetViewportExt(700, 500);
  EXPECT_EQ(dc.LPtoDP(Point{123, 45}), (Point{123, 45}));  // text mode ignores the extents
  dc.SetMapMode(MapMode::Anisotropic);
  EXPECT_EQ(dc.LPtoDP(Point{1399, 1000}), (Point{700, 500}));
  EXPECT_EQ(dc.LPtoDP(Point{140, 100}), (Point{70, 50}));    // 70.05 -> 70
  EXPECT_EQ(dc.LPtoDP(Point{1398, 999}), (Point{699, 499}));  // 699.5 -> 699
  EXPECT_EQ(dc.LPtoDP(Point{-3, -3}), (Point{-1, -1}));       // -1.5 -> -1, toward zero
  EXPECT_EQ(dc.DPtoLP(Point{350, 250}), (Point{699, 500}));   // 699.5 -> 699
  EXPECT_DOUBLE_EQ(dc.ScaleX(), 700.0 / 1399.0);
  EXPECT_DOUBLE_EQ(dc.ScaleY(), 0.5);
  dc.SetViewportOrg(10, 20);
  EXPECT_EQ(dc.LPtoDP(Point{0, 0}), (Point{10, 20}));
  dc.SetWindowOrg(100, 100);
  EXPECT_EQ(dc.LPtoDP(Point{100, 100}), (Point{10, 20}));
}

TEST(DCMapping, IsotropicUsesTheSmallerScaleOnBothAxes) {
  Image img(10, 10);
  RasterDC dc(img);
  dc.SetMapMode(MapMode::Isotropic);
  dc.SetWindowExt(100, 100);
  dc.SetViewportExt(400, 200);
  EXPECT_EQ(dc.LPtoDP(Point{50, 50}), (Point{100, 100}));
  EXPECT_DOUBLE_EQ(dc.ScaleY(), 2.0);
  EXPECT_EQ(dc.DPtoLP(Point{100, 100}), (Point{50, 50}));
}

TEST(DCState, SaveAndRestoreBringBackTheWholeState) {
  Image img(10, 10);
  RasterDC dc(img);
  const int first = dc.SaveDC();
  dc.SelectPen(Pen{PenStyle::Solid, 2, kRed});
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
  const int second = dc.SaveDC();
  EXPECT_EQ(second, first + 1);
  dc.SetTextColor(kBlue);
  dc.MoveTo(3, 4);
  EXPECT_TRUE(dc.RestoreDC(-1));
  EXPECT_EQ(dc.State().textColor, kBlack);
  EXPECT_EQ(dc.State().pen.color, kRed);
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{0, 0}));
  dc.SaveDC();
  dc.SaveDC();
  EXPECT_TRUE(dc.RestoreDC(first));  // a positive index pops everything above it
  EXPECT_EQ(dc.State().pen, Pen{});
  EXPECT_EQ(dc.GetMapMode(), MapMode::Text);
  EXPECT_EQ(dc.State().textAlign, TA_LEFT | TA_TOP);
  EXPECT_EQ(dc.SaveDepth(), 0);
  EXPECT_FALSE(dc.RestoreDC(-1));
  EXPECT_FALSE(dc.RestoreDC(1));
}

TEST(DCState, PixelDrawingScopeDrawsAsANewContextAndGivesTheStateBack) {
  // The same lines, a filled box and a text on a new context, and inside the scope
  // on one with a scaling mapping, moved origins, a wide pen and other settings.
  const auto draw = [](DC& dc) {
    dc.MoveTo(3, 2);
    dc.LineTo(3, 30);
    dc.Rectangle(10, 10, 20, 18);
    dc.TextOut(22, 4, "Ab");
  };
  Image fresh(60, 40);
  {
    RasterDC dc(fresh);
    draw(dc);
  }
  Image shared(60, 40);
  RasterDC dc(shared);
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowExt(1399, 1000);
  dc.SetViewportExt(60, 40);
  dc.SetWindowOrg(7, 5);
  dc.SetViewportOrg(2, 1);
  dc.SelectPen(Pen{PenStyle::Solid, 40, kRed});
  dc.SelectBrush(NullBrush());
  dc.SetTextColor(kBlue);
  dc.SetBkMode(BkMode::Transparent);
  dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
  dc.SetROP2(Rop2::Not);
  dc.MoveTo(500, 600);
  const DCState before = dc.State();
  const int depth = dc.SaveDepth();
  {
    PixelDrawingScope pixels(dc);
    draw(dc);
  }
  EXPECT_TRUE(SameImage(shared, fresh));
  EXPECT_EQ(dc.SaveDepth(), depth);
  EXPECT_EQ(dc.GetMapMode(), MapMode::Anisotropic);
  EXPECT_EQ(dc.GetWindowExt(), before.windowExt);
  EXPECT_EQ(dc.State().windowOrg, before.windowOrg);
  EXPECT_EQ(dc.State().pen, before.pen);
  EXPECT_EQ(dc.State().brush, before.brush);
  EXPECT_EQ(dc.State().rop2, Rop2::Not);
  EXPECT_EQ(dc.State().textAlign, before.textAlign);
  EXPECT_EQ(dc.GetCurrentPosition(), before.currentPos);
}

// ---------------------------------------------------------------- pixel transfers

TEST(RasterBitmaps, SaveUnderThenRestoreGivesTheOriginalPixels) {
  Image img = PatternImage(80, 60);
  const Image original = img;
  RasterDC dc(img);
  const Rect under{20, 15, 51, 40};
  Image saved = dc.GetBitmap(under);
  ASSERT_EQ(saved.Width(), 31);
  ASSERT_EQ(saved.Height(), 25);
  dc.SelectPen(Pen{PenStyle::Solid, 0, kRed});
  dc.SelectBrush(SolidBrush(kBlue));
  dc.Ellipse(22, 17, 49, 38);
  dc.SetTextColor(kRed);
  dc.TextOut(24, 20, "OK");
  EXPECT_FALSE(SameImage(img, original));
  dc.PutBitmap(saved, under.left, under.top);
  EXPECT_TRUE(SameImage(img, original));
}

TEST(RasterBitmaps, GetBitmapOutsideTheImageIsWhiteThere) {
  Image img(10, 10, kRed);
  RasterDC dc(img);
  Image part = dc.GetBitmap(Rect{8, 8, 12, 12});
  EXPECT_EQ(part.Pixel(0, 0), kRed);
  EXPECT_EQ(part.Pixel(3, 3), kWhite);
}

// An image in the screen layout stores every pixel as the screen's word 0xFFRRGGBB
// however the pixel was written, and gives and takes pixels in the program's format.
TEST(RasterBitmaps, ScreenLayoutIsStoredButNeverSeen) {
  Image screen(6, 4, kRed);
  screen.UseScreenLayout();
  Image plain(2, 2, kBlue);
  screen.SetPixel(0, 0, kBlue);
  screen.Paste(plain, 4, 2);
  screen.StretchPaste(plain, Rect{0, 2, 2, 4});
  screen.Resize(8, 4, kWhite);
  const Color storedRed = 0xFFFF0000u, storedBlue = 0xFF0000FFu, storedWhite = 0xFFFFFFFFu;
  for (int y = 0; y < screen.Height(); ++y) {
    for (int x = 0; x < screen.Width(); ++x) {
      const Color c = screen.Pixel(x, y);
      EXPECT_EQ(c >> 24, 0u);
      EXPECT_EQ(screen.Row(y)[x], c == kRed ? storedRed : c == kBlue ? storedBlue : storedWhite)
          << x << "," << y;
    }
  }
  EXPECT_EQ(screen.Pixel(0, 0), kBlue);
  EXPECT_EQ(screen.Pixel(5, 3), kBlue);
  EXPECT_EQ(screen.Pixel(1, 3), kBlue);
  EXPECT_EQ(screen.Pixel(2, 3), kRed);
  EXPECT_EQ(screen.Pixel(7, 0), kWhite);
  const Image copy = screen.Copy(Rect{0, 0, 8, 4});
  EXPECT_EQ(copy.Row(0)[0], kBlue);  // raw, in the program's format
  EXPECT_EQ(copy.Row(0)[1], kRed);
  plain.Paste(screen, -1, 0);  // into a plain image: the program's format
  EXPECT_EQ(plain.Row(0)[0], kRed);
  EXPECT_EQ(plain.Row(1)[0], kRed);
  // Pasted between two images in the screen layout, the words are copied as they are.
  Image other(3, 1, kWhite);
  other.UseScreenLayout();
  other.Paste(screen, -4, -3);
  EXPECT_EQ(other.Pixel(0, 0), kBlue);
  EXPECT_EQ(other.Pixel(1, 0), kBlue);
  EXPECT_EQ(other.Pixel(2, 0), kWhite);
  EXPECT_EQ(other.Row(0)[0], storedBlue);
}

TEST(RasterBitmaps, StretchBitmapScalesByNearestPixel) {
  Image src(2, 1);
  src.SetPixel(0, 0, kRed);
  src.SetPixel(1, 0, kBlue);
  Image img(20, 20);
  RasterDC dc(img);
  dc.StretchBitmap(src, Rect{0, 0, 10, 4});
  EXPECT_EQ(BoxOf(img, kRed), (Rect{0, 0, 5, 4}));
  EXPECT_EQ(BoxOf(img, kBlue), (Rect{5, 0, 10, 4}));
}

// ---------------------------------------------------------------- text

// Draws text in font height 20 (text mode) and returns the image.
Image DrawText(unsigned align, int x, int y, std::string_view text, BkMode mode = BkMode::Transparent,
               int escapement = 0) {
  Image img(300, 200);
  RasterDC dc(img);
  Font f;
  f.height = 20;
  f.escapement = escapement;
  dc.SelectFont(f);
  dc.SetTextAlign(align);
  dc.SetBkMode(mode);
  dc.SetBkColor(kYellow);
  dc.TextOut(x, y, text);
  return img;
}

TEST(RasterText, AlignmentPlacesTextAtTheReferencePoint) {
  Rect ink = InkBox(DrawText(TA_LEFT | TA_TOP, 50, 40, "HE"));
  ASSERT_FALSE(ink.IsEmpty());
  EXPECT_GE(ink.left, 50);
  EXPECT_LE(ink.left, 50 + 4);
  EXPECT_GE(ink.top, 40);
  EXPECT_LE(ink.top, 40 + 3);

  const int x = 200, y = 100;
  Image img = DrawText(TA_RIGHT | TA_BASELINE, x, y, "HE");
  ink = InkBox(img);
  ASSERT_FALSE(ink.IsEmpty());
  // Capitals sit on the baseline: their lowest row is the one above y.
  EXPECT_EQ(ink.bottom, y);
  // The ink ends at x, less the right bearing of the last letter (a few pixels).
  EXPECT_LE(ink.right, x);
  EXPECT_GE(ink.right, x - 4);
  EXPECT_LT(ink.top, y - 10);
  // The opaque cell shows the exact reference: right edge at x, ascent above y;
  // only the opaque mode fills it, the letters are the same.
  auto m = MakeBuiltinTextRenderer()->Measure(Font{}, 20, "HE");
  Image cell = DrawText(TA_RIGHT | TA_BASELINE, x, y, "HE", BkMode::Opaque);
  EXPECT_EQ(InkBox(cell), (Rect{x - m.width, y - m.ascent, x, y + m.descent}));
  EXPECT_GT(CountPixels(cell, kYellow), 0);
  EXPECT_EQ(CountPixels(img, kYellow), 0);
  EXPECT_EQ(CountPixels(cell, kBlack), CountPixels(img, kBlack));

  // Centred on x.
  ink = InkBox(DrawText(TA_CENTER | TA_TOP, 150, 50, "MOVE"));
  EXPECT_NEAR((ink.left + ink.right) / 2.0, 150, 1.5);
  Rect c = InkBox(DrawText(TA_CENTER | TA_BOTTOM, 150, 50, "MOVE", BkMode::Opaque));
  EXPECT_EQ(c.left + c.right, 2 * 150);
  EXPECT_EQ(c.bottom, 50);
}

TEST(RasterText, OpaqueTextOnAWindowCoversTheLongerTextOfItsLine) {
  // A long and then a short text at one place, with and without the window's line
  // memory, opaque and transparent; a text on the next line and a later full paint.
  const char* kLong = "rmsd=0.007680 (n=12345,SSR=0.123456)";
  const char* kShort = "rmsd=7.68e-03";
  auto draw = [&](TextLineMemory* memory, BkMode mode) {
    Image img(500, 80);
    RasterDC dc(img);
    dc.SetTextLineMemory(memory);
    dc.SetBkMode(mode);
    dc.TextOut(10, 10, kLong);
    dc.TextOut(10, 40, "vbar = 0.7300 (fix), apparent vbar = 0.7330");
    dc.TextOut(10, 10, kShort);
    return img;
  };
  Image alone(500, 80);
  {
    RasterDC dc(alone);
    dc.TextOut(10, 10, kShort);
  }
  const int shortRight = InkBox(alone).right;
  auto inkIn = [](const Image& img, int left, int top, int bottom) {
    int n = 0;
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < img.Width(); ++x) n += img.Pixel(x, y) == kBlack;
    return n;
  };
  auto inkRightOfShort = [&](const Image& img) { return inkIn(img, shortRight + 1, 0, 35); };

  TextLineMemory window;
  const Image onWindow = draw(&window, BkMode::Opaque);
  EXPECT_EQ(inkRightOfShort(onWindow), 0) << "the end of the longer text stays";
  const Image noMemory = draw(nullptr, BkMode::Opaque);
  EXPECT_GT(inkRightOfShort(noMemory), 0) << "a picture or bitmap DC fills only its own cell";
  TextLineMemory window2;
  EXPECT_GT(inkRightOfShort(draw(&window2, BkMode::Transparent)), 0);
  EXPECT_EQ(inkIn(onWindow, 0, 35, 80), inkIn(noMemory, 0, 35, 80)) << "the next line is untouched";

  // After a full paint the earlier texts are gone: nothing is widened over what the
  // paint drew there.
  Image img(500, 80);
  RasterDC dc(img);
  dc.SetTextLineMemory(&window);
  dc.TextOut(10, 10, kLong);
  window.Clear();
  Brush red = SolidBrush(kRed);
  dc.SelectBrush(red);
  dc.SelectPen(NullPen());
  dc.Rectangle(shortRight + 20, 10, shortRight + 40, 20);
  dc.TextOut(10, 10, kShort);
  EXPECT_EQ(CountPixels(img, kRed), 20 * 10);
}

// A readout written over an earlier one anywhere near it, a few pixels above,
// below, left or right: the earlier text is either wholly kept (no overlap) or
// wholly given back to what was under it, never cut.
TEST(RasterText, AReadoutErasesEveryEarlierTextItOverlaps) {
  const char* kEarlier = "solving Lamm equations...  #it = 1234";
  const char* kLater = "rmsd=0.005003 (n=5500)";
  // Cells on yellow, so that each cell shows whole.
  const auto open = [](RasterDC& dc) { dc.SetBkColor(kYellow); };
  Image probe(400, 120);
  {
    RasterDC dp(probe);
    dp.SetBkColor(kYellow);
    dp.TextOut(0, 0, "0");
  }
  const int h = InkBox(probe).bottom;
  int overlapped = 0;
  for (int dy = -h - 2; dy <= h + 2; dy += 3)
    for (int dx : {-60, 0, 45}) {
      SCOPED_TRACE(::testing::Message() << "dx " << dx << " dy " << dy);
      TextLineMemory window;
      Image shown(400, 120);
      RasterDC dc(shown);
      dc.SetTextLineMemory(&window);
      open(dc);
      dc.TextOut(80, 50, kEarlier);
      dc.TextOut(80 + dx, 50 + dy, kLater);
      // The cells of both texts drawn apart.
      Image a(400, 120), b(400, 120);
      {
        RasterDC da(a), db(b);
        open(da);
        open(db);
        da.TextOut(80, 50, kEarlier);
        db.TextOut(80 + dx, 50 + dy, kLater);
      }
      const Rect ca = InkBox(a), cb = InkBox(b);
      const bool overlap = ca.left < cb.right && cb.left < ca.right && ca.top < cb.bottom && cb.top < ca.bottom;
      overlapped += overlap;
      Image expected(400, 120);
      {
        RasterDC de(expected);
        open(de);
        de.TextOut(80, 50, kEarlier);
        if (overlap) {
          // Overlapped: its cell shows again what was under it.
          de.SelectBrush(SolidBrush(kWhite));
          de.SelectPen(NullPen());
          de.Rectangle(ca.left, ca.top, ca.right, ca.bottom);
        }
        de.TextOut(80 + dx, 50 + dy, kLater);
      }
      EXPECT_TRUE(SameImage(shown, expected));
    }
  EXPECT_GT(overlapped, 10);
}

TEST(RasterText, UpdateCpStartsAtTheCurrentPositionAndAdvancesIt) {
  Image img(300, 100);
  RasterDC dc(img);
  Font f;
  f.height = 20;
  dc.SelectFont(f);
  dc.SetTextAlign(TA_LEFT | TA_TOP | TA_UPDATECP);
  dc.SetBkMode(BkMode::Transparent);
  dc.MoveTo(30, 40);
  dc.TextOut(200, 0, "AB");  // the coordinates are ignored
  const int w = MakeBuiltinTextRenderer()->Measure(f, 20, "AB").width;
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{30 + w, 40}));
  Rect first = InkBox(img);
  EXPECT_GE(first.left, 30);
  EXPECT_LT(first.right, 30 + w + 1);
  dc.SetTextColor(kRed);
  dc.TextOut(0, 0, "CD");
  Rect second = BoxOf(img, kRed);
  EXPECT_GE(second.left, 30 + w);
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{30 + 2 * w, 40}));
  // Right alignment with UPDATECP: text ends at the current position, which moves
  // back to the text's start.
  dc.SetTextAlign(TA_RIGHT | TA_TOP | TA_UPDATECP);
  dc.TextOut(0, 0, "EF");
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{30 + w, 40}));
}

TEST(RasterText, MappingScalesTheFontHeightAndTheAdvance) {
  Image img(300, 100);
  RasterDC dc(img);
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowExt(600, 400);
  dc.SetViewportExt(300, 100);  // half a pixel per unit across, a quarter down
  Font f;
  f.height = 80;  // 20 pixels
  dc.SelectFont(f);
  dc.SetBkColor(kYellow);
  dc.SetTextAlign(TA_UPDATECP);
  dc.MoveTo(10, 10);
  dc.TextOut(0, 0, "AB");
  EXPECT_EQ(InkBox(img).Height(), 20);
  const int w = MakeBuiltinTextRenderer()->Measure(f, 20, "AB").width;
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{10 + 2 * w, 10}));
}

TEST(RasterText, EscapementOf900RunsUpwards) {
  const int x = 100, y = 100;
  Image img = DrawText(TA_CENTER | TA_BOTTOM, x, y, "Title", BkMode::Opaque, 900);
  auto m = MakeBuiltinTextRenderer()->Measure(Font{}, 20, "Title");
  Rect cell = InkBox(img);
  // The cell turns on its side: as tall as the text is long, as wide as a line,
  // its bottom (the side to the right of upright-running text) on x.
  EXPECT_EQ(cell.Width(), m.ascent + m.descent);
  EXPECT_EQ(cell.Height(), m.width);
  EXPECT_EQ(cell.right, x);
  EXPECT_NEAR((cell.top + cell.bottom) / 2.0, y, 1.0);

  // The text starts at the reference point and runs up from it.
  Image up = DrawText(TA_LEFT | TA_BASELINE, x, y, "L.....", BkMode::Transparent, 900);
  Rect ink = InkBox(up);
  EXPECT_LE(ink.bottom, y + 1);
  EXPECT_LT(ink.top, y - 50);
}

TEST(RasterText, ExtTextOutClippedStaysInsideTheRectangle) {
  Image img(300, 100);
  RasterDC dc(img);
  Font f;
  f.height = 30;
  dc.SelectFont(f);
  dc.SetBkMode(BkMode::Transparent);
  const Rect clip{20, 20, 60, 45};
  dc.ExtTextOut(20, 20, ETO_CLIPPED, &clip, "WWWWWWWW");
  Rect ink = InkBox(img);
  ASSERT_FALSE(ink.IsEmpty());
  EXPECT_GE(ink.left, clip.left);
  EXPECT_LE(ink.right, clip.right);
  EXPECT_LE(ink.bottom, clip.bottom);
  dc.SetBkColor(kYellow);
  dc.ExtTextOut(100, 20, ETO_OPAQUE, &clip, "");
  EXPECT_EQ(BoxOf(img, kYellow), clip);
}

TEST(RasterText, BoldIsHeavier) {
  Image normal(200, 60), bold(200, 60);
  Font f;
  f.height = 30;
  {
    RasterDC dc(normal);
    dc.SelectFont(f);
    dc.TextOut(5, 5, "Bold");
  }
  f.weight = 900;
  {
    RasterDC dc(bold);
    dc.SelectFont(f);
    dc.TextOut(5, 5, "Bold");
  }
  EXPECT_GT(CountPixels(bold, kBlack), CountPixels(normal, kBlack));
}

TEST(RasterText, EveryPrintableCharacterHasAGlyph) {
  auto r = MakeBuiltinTextRenderer();
  for (int c = 33; c < 127; ++c) {
    Image img(30, 30);
    const char s[2] = {static_cast<char>(c), 0};
    r->Draw(img, Font{}, 20, kBlack, 2, 2, 0.0, s, nullptr);
    // Some ink, and nothing outside the cell (advance 12, height 20).
    Rect ink = InkBox(img);
    ASSERT_FALSE(ink.IsEmpty()) << "character " << c;
    EXPECT_TRUE(ink.left >= 2 && ink.right <= 2 + 12 && ink.top >= 2 && ink.bottom <= 2 + 20)
        << "character " << c;
  }
}

TEST(RasterText, SetDefaultTextRendererIsUsedByRasterDC) {
  struct Counting : TextRenderer {
    int draws = 0;
    TextMetrics Measure(const Font&, int h, std::string_view t) override {
      return TextMetrics{static_cast<int>(t.size()) * h, h, 0};
    }
    void Draw(Image&, const Font&, int, Color, int, int, double, std::string_view,
              const Rect*) override {
      ++draws;
    }
  };
  auto counting = std::make_shared<Counting>();
  SetDefaultTextRenderer(counting);
  Image img(10, 10);
  RasterDC dc(img);
  dc.TextOut(0, 0, "x");
  SetDefaultTextRenderer(nullptr);
  dc.TextOut(0, 0, "x");
  EXPECT_EQ(counting->draws, 1);
}

}  // namespace
}  // namespace tarmic

namespace tarmic {
namespace {

// Readouts over a plot on the scripted window's device, erased by blanks and written
// over by others, inside the window and cut by its edges: the plot shows again exactly.
TEST(RasterText, ErasedReadoutsGiveBackThePlotUnderThem) {
  Image screen(360, 130);
  TextLineMemory memory;
  testing::ReadoutWindow win{screen, [&] {
                               auto dc = std::make_unique<RasterDC>(screen);
                               dc->SetTextLineMemory(&memory);
                               return std::unique_ptr<DC>(std::move(dc));
                             },
                             memory};
  EXPECT_GT(testing::SweepReadoutsOverPlot(win), 60);
}

// A picture or bitmap DC keeps no readouts: blanks there fill their cell.
TEST(RasterText, BlanksOffAWindowFillTheirCell) {
  Image img(200, 40, kRed);
  RasterDC dc(img);
  dc.TextOut(10, 10, "      ");
  EXPECT_GT(CountPixels(img, kWhite), 0);
}

}  // namespace
}  // namespace tarmic
