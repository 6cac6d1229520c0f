// Recorded pictures. A MetaFileDC appends every drawing call and state change to a
// display list in logical units; MetaFile::Play replays the list onto any DC with
// that DC's mapping, so one picture can be shown in a pane of any size, printed or
// exported. The records are plain data so tests can assert on them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dc.h"

namespace tarmic {

enum class MetaOp {
  SelectPen, SelectBrush, SelectFont, SetTextColor, SetBkColor, SetBkMode, SetTextAlign,
  SetROP2, SetMapMode, SetWindowExt, SetViewportExt, SetWindowOrg, SetViewportOrg,
  IntersectClipRect, SaveDC, RestoreDC, MoveTo, LineTo, Rectangle, Ellipse, Polyline,
  TextOut, ExtTextOut, SetPixel, StretchBitmap
};

// Fields by operation: coordinates and sizes in a, b (c, d for the second corner of
// IntersectClipRect, Rectangle, Ellipse and StretchBitmap); modes and alignment in
// flags; colours of SetTextColor, SetBkColor and SetPixel in color; RestoreDC keeps
// its argument relative to the top of the stack (a = -n). ExtTextOut: a, b = the
// reference point, flags = ETO options, and when hasClip the clip rectangle with
// its top-left corner in c, d and its bottom-right corner in points[0].
struct MetaRecord {
  MetaOp op;
  int a = 0, b = 0, c = 0, d = 0;  // coordinates or integer arguments
  unsigned flags = 0;              // alignment, ETO options, modes
  Color color = 0;
  Pen pen;
  Brush brush;
  Font font;
  std::string text;
  std::vector<Point> points;
  std::shared_ptr<const Image> image;  // StretchBitmap
  bool hasClip = false;                // ExtTextOut
};

class MetaFile {
 public:
  MetaFile() = default;
  explicit MetaFile(std::vector<MetaRecord> records) : records_(std::move(records)) {}

  const std::vector<MetaRecord>& Records() const { return records_; }
  bool Empty() const { return records_.empty(); }

  // Replays the records onto dc as they were recorded, with dc's current mapping.
  // The dc's state is saved before and restored after.
  void Play(DC& dc) const;
  // Plays into the device rectangle dest of dc: anisotropic mapping of the logical
  // extent (default the picture space 1399 x 1000) onto dest.
  void PlayInto(DC& dc, const Rect& dest, Size logicalExtent = Size{1399, 1000}) const;

  // Texts drawn by TextOut and ExtTextOut, in order (for tests and lookups).
  std::vector<std::string> Texts() const;

 private:
  std::vector<MetaRecord> records_;
};

// Records into a new picture. Close() ends the recording and hands out the picture
// (a second Close() gives nullptr); drawing after Close() is ignored.
class MetaFileDC : public DC {
 public:
  MetaFileDC();

  std::unique_ptr<MetaFile> Close();
  bool IsClosed() const { return closed_; }

  Pen SelectPen(const Pen& pen) override;
  Brush SelectBrush(const Brush& brush) override;
  Font SelectFont(const Font& font) override;
  Color SetTextColor(Color c) override;
  Color SetBkColor(Color c) override;
  BkMode SetBkMode(BkMode mode) override;
  unsigned SetTextAlign(unsigned flags) override;
  Rop2 SetROP2(Rop2 rop) override;
  MapMode SetMapMode(MapMode mode) override;
  Size SetWindowExt(int cx, int cy) override;
  Size SetViewportExt(int cx, int cy) override;
  Point SetWindowOrg(int x, int y) override;
  Point SetViewportOrg(int x, int y) override;
  void IntersectClipRect(const Rect& r) override;
  int SaveDC() override;
  bool RestoreDC(int saved) override;
  Point MoveTo(int x, int y) override;
  void LineTo(int x, int y) override;
  void Rectangle(int left, int top, int right, int bottom) override;
  void Ellipse(int left, int top, int right, int bottom) override;
  void Polyline(const std::vector<Point>& points) override;
  void TextOut(int x, int y, std::string_view text) override;
  void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) override;
  void SetPixel(int x, int y, Color c) override;
  void StretchBitmap(const Image& src, const Rect& dst) override;

 private:
  void Add(MetaRecord r);
  std::vector<MetaRecord> records_;
  bool closed_ = false;
};

}  // namespace tarmic
