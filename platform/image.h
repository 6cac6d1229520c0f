// A pixel buffer: the screen back-buffer, saved screen regions, the residual
// bitmap. Pixels are Color values (0x00BBGGRR); see KeepOpaqueByte.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/types.h"

namespace tarmic {

class Image {
 public:
  Image() = default;
  Image(int width, int height, Color fill = kWhite);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool IsNull() const { return width_ <= 0 || height_ <= 0; }

  // Pixel access; reads outside the image give white, writes outside are ignored.
  Color Pixel(int x, int y) const;
  void SetPixel(int x, int y, Color c);
  Color* Row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  const Color* Row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * width_; }
  Color* Data() { return pixels_.data(); }
  const Color* Data() const { return pixels_.data(); }

  // From now on every stored pixel carries the byte 0xFF above blue, the layout a
  // toolkit paints from without a conversion (RGBX, red in the lowest byte); Pixel,
  // Copy and WritePPM still give the program's 0x00BBGGRR and every write sets the
  // byte. Raw access (Row, Data) sees it. Kept by Resize.
  void KeepOpaqueByte();
  bool KeepsOpaqueByte() const { return stored_ != 0; }

  void Fill(Color c);
  // Resizes to width x height, keeping the pixels that still fit and filling the rest.
  void Resize(int width, int height, Color fill = kWhite);

  // A copy of the pixels of r (clipped to the image; outside pixels are white).
  Image Copy(const Rect& r) const;
  // Copies src with its top-left corner at (x, y), clipped to this image.
  void Paste(const Image& src, int x, int y);
  // Copies src stretched (nearest pixel) onto the rectangle dst, clipped to this image.
  void StretchPaste(const Image& src, const Rect& dst);

  // Writes the image as binary PPM (P6) into an open stream; false when a write
  // failed. Files are written through plot/image_file.h, which replaces a file only
  // when it was written completely.
  bool WritePPM(std::FILE* out) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<Color> pixels_;
  Color stored_ = 0;  // bits every stored pixel carries (0xFF000000 with KeepOpaqueByte)
};

}  // namespace tarmic
