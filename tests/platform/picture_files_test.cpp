// Pictures as files: the SVG target and the PNG encoding show a recorded picture's
// curve where the mapping of the area onto the canvas puts its points.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/metafile.h"
#include "platform/picture_files.h"
#include "tests/support/svg_document.h"

namespace tarmic {
namespace {

using testing::ParseSvg;
using testing::PathVertices;
using testing::SvgDocument;

constexpr Color kCurve = RGB(200, 30, 10);

// A curve of 60 points across the picture space, a filled box, a clipped text with
// markup characters and a byte that is no UTF-8, and a small bitmap.
std::vector<Point> CurvePoints() {
  std::vector<Point> points;
  for (int i = 0; i < 60; ++i) {
    const double x = 100 + i * 20.0;
    points.push_back(Point{static_cast<int>(x), static_cast<int>(500 + 300 * std::sin(x / 150.0))});
  }
  return points;
}

std::unique_ptr<MetaFile> TestPicture() {
  MetaFileDC dc;
  dc.SetWindowExt(1399, 1000);  // as the plots record it
  dc.SelectPen(Pen{PenStyle::Solid, 0, kCurve});
  dc.Polyline(CurvePoints());
  dc.SelectPen(Pen{PenStyle::Solid, 2, RGB(0, 0, 255)});
  dc.SelectBrush(SolidBrush(RGB(0, 255, 0)));
  dc.Rectangle(20, 20, 80, 60);
  // Points of a curve: two of one style, one of another.
  dc.Ellipse(300, 300, 310, 310);
  dc.Ellipse(320, 300, 330, 310);
  dc.SelectBrush(SolidBrush(RGB(255, 0, 255)));
  dc.Ellipse(340, 300, 350, 310);
  dc.SetTextColor(RGB(0, 0, 128));
  dc.IntersectClipRect(Rect{0, 0, 1399, 900});
  dc.TextOut(600, 100, "a<b & \"c\" \xb0" "C \xc2\xb5m");
  Image bitmap(3, 2, RGB(255, 0, 0));
  bitmap.SetPixel(1, 1, RGB(0, 0, 255));
  dc.StretchBitmap(bitmap, Rect{1000, 800, 1300, 900});
  return dc.Close();
}

struct Case {
  Rect area;
  int width;
};

class PictureFiles : public ::testing::TestWithParam<Case> {};

// Where a point of the picture lands on the canvas.
double MapX(const Case& c, Size size, double x) { return (x - c.area.left) * size.cx / c.area.Width(); }
double MapY(const Case& c, Size size, double y) { return (y - c.area.top) * size.cy / c.area.Height(); }

TEST_P(PictureFiles, SvgAndPngShowTheCurveWhereTheAreaMapsIt) {
  const Case c = GetParam();
  const std::unique_ptr<MetaFile> picture = TestPicture();
  const Size size = CanvasSizeFor(c.area, c.width);
  EXPECT_EQ(size.cx, c.width);
  EXPECT_NEAR(size.cy, static_cast<double>(c.width) * c.area.Height() / c.area.Width(), 0.5);

  const std::string svg = PictureToSvg({picture.get()}, c.area, size);
  const SvgDocument doc = ParseSvg(svg);
  ASSERT_TRUE(doc.wellFormed) << doc.error;
  ASSERT_FALSE(doc.elements.empty());
  EXPECT_EQ(doc.elements[0].name, "svg");
  EXPECT_EQ(doc.elements[0].Attr("width"), std::to_string(size.cx));
  EXPECT_EQ(doc.elements[0].Attr("height"), std::to_string(size.cy));

  // Every point of the curve is a vertex of the curve's path: the centre of the
  // pixel its device point truncates to.
  std::vector<testing::SvgPoint> vertices;
  for (const testing::SvgElement* path : doc.Named("path"))
    if (path->Attr("stroke") == "#c81e0a")
      for (const auto& sub : PathVertices(path->Attr("d"))) vertices.insert(vertices.end(), sub.begin(), sub.end());
  ASSERT_EQ(vertices.size(), CurvePoints().size());
  for (const Point& p : CurvePoints()) {
    const double x = MapX(c, size, p.x), y = MapY(c, size, p.y);
    bool found = false;
    for (const auto& v : vertices) found = found || (std::fabs(v.x - x) <= 1.5 && std::fabs(v.y - y) <= 1.5);
    EXPECT_TRUE(found) << "no vertex at " << x << ", " << y;
  }
  // The points: each ellipse in a group that gives its style.
  ASSERT_EQ(doc.Named("ellipse").size(), 3u);
  std::vector<std::string> fills;
  for (const testing::SvgElement* g : doc.Named("g"))
    if (!g->Attr("fill").empty()) fills.push_back(g->Attr("fill"));
  EXPECT_EQ(fills, (std::vector<std::string>{"#00ff00", "#ff00ff"}));
  // The text as written, the Latin-1 degree sign as its character; the bitmap
  // embedded as a PNG that decodes to its size.
  ASSERT_EQ(doc.Named("text").size(), 1u);
  EXPECT_EQ(doc.Named("text")[0]->text, "a<b & \"c\" \xc2\xb0" "C \xc2\xb5m");
  ASSERT_EQ(doc.Named("image").size(), 1u);
  const std::string href = doc.Named("image")[0]->Attr("xlink:href");
  EXPECT_EQ(href.rfind("data:image/png;base64,", 0), 0u);

  // The PNG decodes at the canvas size, every pixel as the raster drew it, and the
  // raster has the curve's colour at (or next to) each mapped point.
  const Image raster = PictureToImage({picture.get()}, c.area, size);
  std::string error;
  const auto png = EncodePng(raster, &error);
  ASSERT_TRUE(png) << error;
  const auto decoded = DecodePng(*png, &error);
  ASSERT_TRUE(decoded) << error;
  ASSERT_EQ(decoded->Width(), size.cx);
  ASSERT_EQ(decoded->Height(), size.cy);
  for (int y = 0; y < size.cy; y += 7)
    for (int x = 0; x < size.cx; x += 5) ASSERT_EQ(decoded->Pixel(x, y), raster.Pixel(x, y)) << x << "," << y;
  const std::vector<Point> points = CurvePoints();
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    const int x = static_cast<int>(MapX(c, size, points[i].x)), y = static_cast<int>(MapY(c, size, points[i].y));
    if (x < 1 || y < 1 || x >= size.cx - 1 || y >= size.cy - 1) continue;
    bool inked = false;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) inked = inked || decoded->Pixel(x + dx, y + dy) == kCurve;
    EXPECT_TRUE(inked) << "no curve at " << x << ", " << y;
  }
}

INSTANTIATE_TEST_SUITE_P(Areas, PictureFiles,
                         ::testing::Values(Case{Rect{0, 0, 1399, 1000}, 1600},  // the whole picture space
                                           Case{Rect{0, 0, 1399, 430}, 1600},   // a pane's cut
                                           Case{Rect{0, 300, 1399, 950}, 2000},
                                           Case{Rect{200, 100, 900, 800}, 1601}));  // odd, square

TEST(PngCoding, RefusesWhatIsNoPicture) {
  std::string error;
  EXPECT_FALSE(EncodePng(Image(), &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(DecodePng({}, &error));
  EXPECT_FALSE(DecodePng({0x89, 'P', 'N', 'G', 1, 2, 3}, &error));
  EXPECT_FALSE(error.empty());
  // A PNG cut short is refused, not read past its end.
  auto png = EncodePng(Image(40, 30, RGB(1, 2, 3)));
  ASSERT_TRUE(png);
  png->resize(png->size() / 2);
  EXPECT_FALSE(DecodePng(*png, &error));
}

// Shrinking averages the pixels each new pixel covers: black and white columns
// become the grey of their mean; the aspect is kept.
TEST(PngCoding, ShrinkingAveragesAndKeepsTheAspect) {
  Image stripes(400, 100, kWhite);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 400; x += 2) stripes.SetPixel(x, y, kBlack);
  const Image small = ShrinkImage(stripes, 100);
  ASSERT_EQ(small.Width(), 100);
  ASSERT_EQ(small.Height(), 25);
  for (int x = 0; x < 100; x += 9) EXPECT_EQ(GetRValue(small.Pixel(x, 12)), 127);
  EXPECT_EQ(ShrinkImage(stripes, 500).Width(), 400);  // never enlarged
  const std::string uri = PngDataUri(small);
  EXPECT_EQ(uri.rfind("data:image/png;base64,", 0), 0u);
}

}  // namespace
}  // namespace tarmic
