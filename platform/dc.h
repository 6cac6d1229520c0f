// The device context: the one drawing interface of the program. Pictures are
// recorded through it (MetaFileDC), the screen back-buffer is drawn through it
// (RasterDC), and Qt paints printer pages and SVG exports through it.
//
// The base class keeps the state that every device shares (selected objects,
// colours, alignment, raster operation, mapping, current position, the stack of
// saved states) and the logical-to-device conversion. Devices override the
// drawing primitives; the state setters are virtual so that a recorder can
// record them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/gdi.h"
#include "platform/image.h"
#include "platform/types.h"

namespace tarmic {

struct DCState {
  Pen pen;
  Brush brush;
  Font font;
  Color textColor = kBlack;
  Color bkColor = kWhite;
  BkMode bkMode = BkMode::Opaque;
  unsigned textAlign = TA_LEFT | TA_TOP;
  Rop2 rop2 = Rop2::CopyPen;
  MapMode mapMode = MapMode::Text;
  Point windowOrg;
  Size windowExt{1, 1};
  Point viewportOrg;
  Size viewportExt{1, 1};
  Point currentPos;
  bool hasClip = false;
  Rect clip;  // device coordinates
};

// The readouts of a window: the opaque texts drawn on it in pixels since it was last
// painted whole, each with the pixels that were under its cell before it was drawn
// (a readout is written over a plot). A text drawn over earlier readouts first gives
// back the pixels under every one it overlaps, whole, and then remembers what is
// under its own cell; a text of blanks only gives back. So the plot under a readout
// shows again once the readout is erased or written over at another place, and an
// earlier text is never left cut.
class TextLineMemory {
 public:
  struct Readout {
    Rect cell;    // device pixels
    Image under;  // the pixels of cell before the text was drawn
    Image drawn;  // the pixels of cell as the text left them
  };
  // Takes the remembered readouts that overlap cell out of the memory (they do not
  // overlap each other).
  std::vector<Readout> TakeOverlapping(const Rect& cell);
  void Remember(Readout readout);
  // The window was painted whole: nothing earlier stays on it.
  void Clear() { readouts_.clear(); }

  // What the cell of a readout shows once it is taken away, given what it shows now:
  // a pixel as the readout left it gets back the pixel under it; one inverted since
  // (a cursor line drawn across the readout) gets the inverted pixel under it, so that
  // inverting it again gives the plot; one drawn over since stays.
  static Image GiveBack(const Readout& readout, const Image& now);

 private:
  std::vector<Readout> readouts_;
};

class DC {
 public:
  DC() = default;
  DC(const DC&) = delete;
  DC& operator=(const DC&) = delete;
  virtual ~DC() = default;

  // Drawing objects and settings; each returns the previous value.
  virtual Pen SelectPen(const Pen& pen);
  virtual Brush SelectBrush(const Brush& brush);
  virtual Font SelectFont(const Font& font);
  virtual Color SetTextColor(Color c);
  virtual Color SetBkColor(Color c);
  virtual BkMode SetBkMode(BkMode mode);
  virtual unsigned SetTextAlign(unsigned flags);
  virtual Rop2 SetROP2(Rop2 rop);

  // Mapping.
  virtual MapMode SetMapMode(MapMode mode);
  virtual Size SetWindowExt(int cx, int cy);
  virtual Size SetViewportExt(int cx, int cy);
  virtual Point SetWindowOrg(int x, int y);
  virtual Point SetViewportOrg(int x, int y);
  // Restricts drawing to the intersection of the current clip and r (logical units).
  virtual void IntersectClipRect(const Rect& r);

  const DCState& State() const { return state_; }
  MapMode GetMapMode() const { return state_.mapMode; }
  Size GetWindowExt() const { return state_.windowExt; }
  Size GetViewportExt() const { return state_.viewportExt; }
  Point GetCurrentPosition() const { return state_.currentPos; }

  // Logical <-> device conversion with the current mapping (truncating toward zero).
  Point LPtoDP(Point p) const;
  Point DPtoLP(Point p) const;
  // Device pixels per logical unit along x and y (1 in text mode; negative when the
  // extents flip an axis). In isotropic mode both are the smaller scale.
  double ScaleX() const;
  double ScaleY() const;

  // The readouts of the window this DC draws on (none for pictures, printers and
  // bitmaps). Opaque unrotated text drawn in pixel units is then a readout that gives
  // back the pixels under it when erased or written over (TextLineMemory).
  void SetTextLineMemory(TextLineMemory* memory) { textLines_ = memory; }

  // Saving and restoring the whole state; RestoreDC(-1) restores the last saved one.
  virtual int SaveDC();
  virtual bool RestoreDC(int saved);
  // How many states are saved (the value the next SaveDC returns, minus one).
  int SaveDepth() const { return static_cast<int>(saved_.size()); }

  // Primitives, in logical units.
  virtual Point MoveTo(int x, int y);
  // Draws from the current position to (x, y), excluding the end pixel, and moves there.
  virtual void LineTo(int x, int y) = 0;
  // Outline with the pen, interior with the brush; right and bottom are exclusive.
  virtual void Rectangle(int left, int top, int right, int bottom) = 0;
  virtual void Ellipse(int left, int top, int right, int bottom) = 0;
  // Connected lines through the points; neither uses nor moves the current position.
  virtual void Polyline(const std::vector<Point>& points);
  virtual void TextOut(int x, int y, std::string_view text) = 0;
  // Text clipped to clip (logical units) when ETO_CLIPPED is given; with ETO_OPAQUE the
  // rectangle is first filled with the background colour.
  virtual void ExtTextOut(int x, int y, unsigned options, const Rect* clip, std::string_view text) = 0;
  virtual void SetPixel(int x, int y, Color c) = 0;

  // Pixel transfers (device pixels). A device without pixels returns a null image.
  virtual Image GetBitmap(const Rect& deviceRect) const;
  // Draws src stretched onto the logical rectangle dst.
  virtual void StretchBitmap(const Image& src, const Rect& dst) = 0;
  // Copies src unscaled with its top-left corner at the logical point.
  virtual void PutBitmap(const Image& src, int x, int y);

 protected:
  DCState& MutableState() { return state_; }
  // Called after RestoreDC replaced the state, for devices that mirror it.
  virtual void OnStateRestored() {}
  // An opaque text with the cell `cell` (device pixels) is about to be drawn. When
  // the DC draws on a window in pixel units and the text is upright, the pixels under
  // the earlier readouts the cell overlaps are given back and those under the cell are
  // remembered (a blank text only gives back). Returns whether the device fills the
  // cell with the background: false for a blank readout, which erases.
  bool BeginOpaqueText(const Rect& cell, std::string_view text);
  // The text begun is drawn: remembers the pixels it left in its cell.
  void EndOpaqueText();

 private:
  DCState state_;
  std::vector<DCState> saved_;
  TextLineMemory* textLines_ = nullptr;
  // The readout between BeginOpaqueText and EndOpaqueText.
  bool pending_ = false;
  TextLineMemory::Readout pendingReadout_;
};

// While it lives, dc has the settings of a device context just opened on its device:
// device pixels, the default pen, brush, font, colours, alignment and raster
// operation (the clip stays). Its end restores the state dc had before. Lets code
// that draws in pixels share the device context of a paint instead of opening one.
class PixelDrawingScope {
 public:
  explicit PixelDrawingScope(DC& dc);
  ~PixelDrawingScope();
  PixelDrawingScope(const PixelDrawingScope&) = delete;
  PixelDrawingScope& operator=(const PixelDrawingScope&) = delete;

 private:
  DC& dc_;
  int saved_;
};

}  // namespace tarmic
