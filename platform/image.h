// A pixel buffer: the screen back-buffer, saved screen regions, the residual
// bitmap. Pixels are Color values (0x00BBGGRR); see UseScreenLayout.
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

  // From now on the pixels are stored as the screen's 32-bit words 0xFFRRGGBB (red
  // and blue in the other order than in a Color, the top byte 0xFF): the toolkit
  // draws on them and shows them without a conversion. Pixel, SetPixel, Fill, Copy,
  // Paste and WritePPM still give and take the program's 0x00BBGGRR; raw access (Row,
  // Data) sees the stored words, which ToStored and FromStored convert. Kept by
  // Resize.
  void UseScreenLayout();
  bool UsesScreenLayout() const { return screenLayout_; }
  // A Color as this image stores it, and back.
  Color ToStored(Color c) const { return screenLayout_ ? SwapRedBlue(c) | 0xFF000000u : c; }
  Color FromStored(Color stored) const { return screenLayout_ ? SwapRedBlue(stored) : stored; }

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
  // 0x??BBGGRR -> 0x00RRGGBB and back.
  static constexpr Color SwapRedBlue(Color c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
  }

  std::vector<Color> pixels_;
  bool screenLayout_ = false;
};

}  // namespace tarmic
