// MetaFile and MetaFileDC: recording, replay and the picture mapping.
#include <gtest/gtest.h>

#include "platform/metafile.h"
#include "platform/raster_dc.h"
#include "pixel_helpers.h"

namespace tarmic {
namespace {

using testing::BoxOf;
using testing::CountPixels;
using testing::SameImage;

constexpr Color kRed = RGB(255, 0, 0);
constexpr Color kBlue = RGB(0, 0, 255);
constexpr Color kGreen = RGB(0, 255, 0);

// A picture in the 1399 x 1000 picture space: a filled rectangle and a line.
std::unique_ptr<MetaFile> RecordPlot() {
  MetaFileDC rec;
  rec.SetWindowExt(1399, 1000);
  rec.SelectPen(NullPen());
  rec.SelectBrush(SolidBrush(kRed));
  rec.Rectangle(140, 100, 700, 500);
  rec.SelectPen(Pen{PenStyle::Solid, 0, kBlue});
  rec.MoveTo(0, 800);
  rec.LineTo(1399, 800);
  rec.SetTextColor(kGreen);
  rec.TextOut(700, 900, "s [S]");
  return rec.Close();
}

// Where a picture coordinate lands in a pane: truncation of L * size / extent.
int Map(int logical, int extent, int size) { return logical * size / extent; }

void ExpectPlotLandsIn(const Image& img, const Rect& dest) {
  const int w = dest.Width(), h = dest.Height();
  const Rect red{dest.left + Map(140, 1399, w), dest.top + Map(100, 1000, h),
                 dest.left + Map(700, 1399, w), dest.top + Map(500, 1000, h)};
  EXPECT_EQ(BoxOf(img, kRed), red);
  EXPECT_EQ(CountPixels(img, kRed), red.Width() * red.Height());
  const int lineY = dest.top + Map(800, 1000, h);
  // The line runs across the pane; its end (at dest.right) is excluded.
  EXPECT_EQ(BoxOf(img, kBlue), (Rect{dest.left, lineY, dest.right, lineY + 1}));
  EXPECT_GT(CountPixels(img, kGreen), 0);
}

TEST(MetaFilePlay, PictureLandsWhereTheMappingSaysInPanesOfTwoSizes) {
  auto pic = RecordPlot();
  ASSERT_TRUE(pic);

  Image full(700, 500);
  {
    RasterDC dc(full);
    pic->PlayInto(dc, Rect{0, 0, 700, 500});
  }
  // 140 * 700 / 1399 = 70.05 -> 70; 700 * 700 / 1399 = 350.25 -> 350.
  EXPECT_EQ(BoxOf(full, kRed), (Rect{70, 50, 350, 250}));
  ExpectPlotLandsIn(full, Rect{0, 0, 700, 500});

  Image pane(400, 300);
  const Rect dest{50, 20, 330, 220};  // 280 x 200 pixels, not at the origin
  {
    RasterDC dc(pane);
    pic->PlayInto(dc, dest);
  }
  // 140 * 280 / 1399 = 28.02 -> 28; 700 * 280 / 1399 = 140.1 -> 140.
  EXPECT_EQ(BoxOf(pane, kRed), (Rect{78, 40, 190, 120}));
  ExpectPlotLandsIn(pane, dest);
}

TEST(MetaFilePlay, PlayLeavesTheStateOfTheDCAsItWas) {
  auto pic = RecordPlot();
  Image img(100, 100);
  RasterDC dc(img);
  dc.SetMapMode(MapMode::Anisotropic);
  dc.SetWindowExt(1399, 1000);
  dc.SetViewportExt(100, 100);
  dc.SelectPen(Pen{PenStyle::Solid, 0, kGreen});
  dc.MoveTo(5, 5);
  const DCState before = dc.State();
  pic->Play(dc);
  EXPECT_EQ(dc.State().pen, before.pen);
  EXPECT_EQ(dc.State().brush, before.brush);
  EXPECT_EQ(dc.State().textColor, before.textColor);
  EXPECT_EQ(dc.GetCurrentPosition(), before.currentPos);
  EXPECT_EQ(dc.SaveDepth(), 0);
  // Played with the DC's own mapping.
  EXPECT_EQ(BoxOf(img, kRed), (Rect{10, 10, 50, 50}));
  pic->PlayInto(dc, Rect{0, 0, 50, 50});
  EXPECT_EQ(dc.GetMapMode(), MapMode::Anisotropic);
  EXPECT_EQ(dc.GetViewportExt(), (Size{100, 100}));
  EXPECT_EQ(dc.SaveDepth(), 0);
}

TEST(MetaFileRecord, RecordsEveryCallInOrder) {
  MetaFileDC rec;
  rec.SetWindowExt(1399, 1000);
  rec.SelectFont(Font{20, 400, 900, FontFamily::Serif});
  rec.SetTextAlign(TA_BOTTOM | TA_CENTER);
  rec.SetBkMode(BkMode::Transparent);
  rec.MoveTo(10, 20);
  rec.LineTo(30, 40);
  rec.Polyline({{1, 2}, {3, 4}});
  rec.Ellipse(1, 2, 3, 4);
  rec.SetPixel(7, 8, kRed);
  const Rect clip{1, 2, 3, 4};
  rec.ExtTextOut(5, 6, ETO_CLIPPED, &clip, "button");
  rec.TextOut(9, 10, "label");
  auto pic = rec.Close();
  ASSERT_TRUE(pic);
  const auto& r = pic->Records();
  ASSERT_EQ(r.size(), 11u);
  EXPECT_EQ(r[1].font.escapement, 900);
  EXPECT_EQ(r[2].flags, TA_BOTTOM | TA_CENTER);
  EXPECT_EQ(r[6].points.size(), 2u);
  EXPECT_TRUE(r[9].hasClip);
  EXPECT_EQ(pic->Texts(), (std::vector<std::string>{"button", "label"}));
}

TEST(MetaFileRecord, CloseEndsTheRecording) {
  MetaFileDC rec;
  rec.MoveTo(1, 1);
  EXPECT_FALSE(rec.IsClosed());
  auto pic = rec.Close();
  EXPECT_TRUE(rec.IsClosed());
  rec.LineTo(5, 5);
  EXPECT_EQ(pic->Records().size(), 1u);
  EXPECT_EQ(rec.Close(), nullptr);
}

TEST(MetaFileRecord, ReplayOntoARecorderCopiesThePicture) {
  auto pic = RecordPlot();
  MetaFileDC copy;
  pic->Play(copy);
  auto second = copy.Close();
  Image a(140, 100), b(140, 100);
  {
    RasterDC dc(a);
    pic->PlayInto(dc, Rect{0, 0, 140, 100});
  }
  {
    RasterDC dc(b);
    second->PlayInto(dc, Rect{0, 0, 140, 100});
  }
  EXPECT_TRUE(SameImage(a, b));
  EXPECT_EQ(second->Texts(), pic->Texts());
}

TEST(MetaFileRecord, SavedStatesInsideThePictureAreRelative) {
  MetaFileDC rec;
  rec.SelectPen(Pen{PenStyle::Solid, 0, kRed});
  int level = rec.SaveDC();
  rec.SelectPen(Pen{PenStyle::Solid, 0, kBlue});
  rec.MoveTo(0, 0);
  rec.LineTo(10, 0);
  EXPECT_TRUE(rec.RestoreDC(level));  // absolute, recorded as -1
  rec.MoveTo(0, 2);
  rec.LineTo(10, 2);
  EXPECT_FALSE(rec.RestoreDC(-1));  // nothing saved: not recorded
  auto pic = rec.Close();
  Image img(20, 5);
  RasterDC dc(img);
  dc.SaveDC();
  dc.SaveDC();  // the target has saved states of its own
  pic->Play(dc);
  EXPECT_EQ(CountPixels(img, kBlue), 10);
  EXPECT_EQ(CountPixels(img, kRed), 10);
  EXPECT_EQ(img.Pixel(0, 2), kRed);
  EXPECT_EQ(dc.SaveDepth(), 2);
}

TEST(MetaFileRecord, StretchBitmapKeepsItsImage) {
  Image src(2, 2, kRed);
  MetaFileDC rec;
  rec.StretchBitmap(src, Rect{0, 0, 10, 10});
  src.Fill(kBlue);  // the record owns a copy
  auto pic = rec.Close();
  Image img(20, 20);
  RasterDC dc(img);
  pic->Play(dc);
  EXPECT_EQ(CountPixels(img, kRed), 100);
}

}  // namespace
}  // namespace tarmic
