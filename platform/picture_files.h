// Pictures as files without a window system: a recorded picture (MetaFile) played
// onto a vector target that writes an SVG document (SvgDC), or onto the software
// raster (RasterDC) and encoded as PNG by libpng. Both show the same area of the
// picture at the same size, so an SVG and a PNG of one picture agree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/dc.h"
#include "platform/image.h"
#include "platform/metafile.h"
#include "platform/types.h"

namespace tarmic {

class TextRenderer;

// A device context whose device is an SVG canvas of width x height user units
// (pixels): every primitive becomes an SVG element in device coordinates. Lines
// drawn one after another with the same pen are written as one path. Text is
// written as text (the viewer's serif or sans-serif font at the cell height);
// widths of opaque text cells are measured with the text renderer given (the
// built-in one by default), as the raster target measures them. Bitmaps are
// embedded as PNG. The inverting raster operation has no SVG form: such lines are
// drawn with their pen's colour.
class SvgDC : public DC {
 public:
  SvgDC(int width, int height, TextRenderer* text = nullptr);

  void LineTo(int x, int y) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void Ellipse(int left, int top, int right, int bottom) override;
  void Polyline(const std::vector<Point>& points) override;
  void TextOut(int x, int y, std::string_view text) override;
  void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) override;
  void SetPixel(int x, int y, Color c) override;
  void StretchBitmap(const Image& src, const Rect& dst) override;

  // The whole document: the header, a white background and the elements drawn.
  std::string Document();

 private:
  void FlushPath();
  // Starts an element: closes the open clip group when the clip changed and opens
  // one for the current clip; closes the open style group unless the element goes
  // into one.
  void BeginElement(bool grouped = false);
  void CloseStyleGroup();
  // Writes the definition of a clip path of the device rectangle r; the attribute
  // that applies it (with its blank).
  std::string ClipPathOf(const Rect& r);
  // stroke attributes of the current pen (fill none), or "" for a null pen.
  std::string StrokeAttributes() const;
  // The fill (the brush, or none) and stroke (the pen of penPixels, when above 0)
  // attributes of a closed shape.
  std::string FillAndStroke(bool fill, int penPixels) const;
  // A logical rectangle in device coordinates, normalised.
  Rect DeviceRectOf(int left, int top, int right, int bottom) const;
  void DrawText(int x, int y, unsigned options, const Rect* clip, std::string_view text);

  int width_, height_;
  TextRenderer* text_;
  std::string body_;
  std::string path_;        // the open path of consecutive lines
  Pen pathPen_;
  Point pathEnd_{};         // device point where the open path ends
  bool clipOpen_ = false;
  // Ellipses drawn one after another with the same pen and brush (the points of a
  // curve) share one group that carries their style.
  std::string groupStyle_;
  bool groupOpen_ = false;
  Rect openClip_{};
  int clipCount_ = 0;
};

// Pictures drawn one over the other, each from the state the first began with (as a
// window plays its pictures into a pane); null entries draw nothing.
using PictureLayers = std::vector<const MetaFile*>;

// The area `area` of the layers played onto a canvas of size pixels, the pictures'
// logical extent (from the origin) mapped as MetaFile::PlayInto maps it.
std::string PictureToSvg(const PictureLayers& layers, const Rect& area, Size size,
                         Size logicalExtent = Size{1399, 1000});
Image PictureToImage(const PictureLayers& layers, const Rect& area, Size size, Size logicalExtent = Size{1399, 1000});

// The cell of every text the layers draw, in logical units of the picture space
// (the font's cell height, the width the text renderer measures, turned with the
// text), cut to the text's clip rectangle when it has one: what a picture of any
// area must hold for none of its texts to be cut at its edge.
std::vector<Rect> PictureTextBoxes(const PictureLayers& layers, Size logicalExtent = Size{1399, 1000});

// PNG encoding of an image (8-bit RGB), and decoding of a PNG file's bytes into
// an image; nullopt (with *error) when the bytes are no PNG libpng can read, or
// when the size its header claims is more than maxPixels pixels (looked at before
// any memory for the pixels is taken: a file of a few bytes may claim 4 GiB).
inline constexpr std::uint64_t kMostDecodedPixels = 64ull << 20;
std::optional<std::vector<std::uint8_t>> EncodePng(const Image& image, std::string* error = nullptr);
std::optional<Image> DecodePng(const std::vector<std::uint8_t>& bytes, std::string* error = nullptr,
                               std::uint64_t maxPixels = kMostDecodedPixels);

// The image as a data URI ("data:image/png;base64,..."); empty when it cannot be
// encoded.
std::string PngDataUri(const Image& image);
// The image scaled down to the given width (each pixel the mean of those it covers),
// its aspect kept; the image itself when it is no wider.
Image ShrinkImage(const Image& image, int width);

// The size of a canvas of the given width showing area with its aspect kept.
Size CanvasSizeFor(const Rect& area, int width);

}  // namespace tarmic
