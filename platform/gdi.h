// Drawing objects and device-context settings: pens, brushes, fonts, text alignment,
// background mode, raster operation and mapping mode.
#pragma once

#include "platform/types.h"

namespace tarmic {

enum class PenStyle { Solid, Dash, Dot, Null };

// A pen of width 0 draws one device pixel wide whatever the mapping.
struct Pen {
  PenStyle style = PenStyle::Solid;
  int width = 0;  // logical units; 0 = one pixel
  Color color = kBlack;
  friend bool operator==(const Pen&, const Pen&) = default;
};

enum class BrushStyle { Solid, Null };

struct Brush {
  BrushStyle style = BrushStyle::Solid;
  Color color = kWhite;
  friend bool operator==(const Brush&, const Brush&) = default;
};

inline Pen NullPen() { return Pen{PenStyle::Null, 0, kBlack}; }
inline Pen BlackPen() { return Pen{PenStyle::Solid, 0, kBlack}; }
inline Brush NullBrush() { return Brush{BrushStyle::Null, kBlack}; }
inline Brush SolidBrush(Color c) { return Brush{BrushStyle::Solid, c}; }

enum class FontFamily { Serif, SansSerif };

struct Font {
  int height = 16;       // cell height in logical units
  int weight = 400;      // 400 normal, 700 bold, 900 heavy
  int escapement = 0;    // text direction in tenths of a degree, counter-clockwise
  FontFamily family = FontFamily::Serif;
  friend bool operator==(const Font&, const Font&) = default;
};

// Text alignment flags: one horizontal (left, right, centre), one vertical (top,
// baseline, bottom), and optionally "update the current position".
constexpr unsigned TA_NOUPDATECP = 0;
constexpr unsigned TA_UPDATECP = 1;
constexpr unsigned TA_LEFT = 0;
constexpr unsigned TA_RIGHT = 2;
constexpr unsigned TA_CENTER = 6;
constexpr unsigned TA_TOP = 0;
constexpr unsigned TA_BOTTOM = 8;
constexpr unsigned TA_BASELINE = 24;
constexpr unsigned TA_HMASK = 6;
constexpr unsigned TA_VMASK = 24;

// ExtTextOut options.
constexpr unsigned ETO_OPAQUE = 2;
constexpr unsigned ETO_CLIPPED = 4;

enum class BkMode { Transparent = 1, Opaque = 2 };

// Raster operations of lines and fills: copy the pen colour, or invert the destination.
enum class Rop2 { CopyPen = 13, Not = 6 };

// Mapping modes: Text = logical units are pixels; Anisotropic = window extent onto
// viewport extent with independent scales; Isotropic = the same scale on both axes.
enum class MapMode { Text = 1, Isotropic = 7, Anisotropic = 8 };

}  // namespace tarmic
