// Basic value types of the platform layer: colours, points, rectangles, key and
// mouse codes, message-box codes. Shared by every backend and by the program.
#pragma once

#include <cstdint>

namespace tarmic {

// A colour as 0x00BBGGRR: red in the low byte.
using Color = std::uint32_t;

constexpr Color RGB(int r, int g, int b) {
  return static_cast<Color>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(Color c) { return static_cast<int>(c & 0xFF); }
constexpr int GetGValue(Color c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int GetBValue(Color c) { return static_cast<int>((c >> 16) & 0xFF); }

constexpr Color kBlack = RGB(0, 0, 0);
constexpr Color kWhite = RGB(255, 255, 255);

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int cx = 0;
  int cy = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// A rectangle with exclusive right and bottom edges, as the window system uses them.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  // The same rectangle with left <= right and top <= bottom.
  Rect Normalized() const {
    Rect r = *this;
    if (r.left > r.right) { int t = r.left; r.left = r.right; r.right = t; }
    if (r.top > r.bottom) { int t = r.top; r.top = r.bottom; r.bottom = t; }
    return r;
  }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Modifier word of mouse messages: the bits of the buttons that are down and of the
// shift and control keys. Handlers compare whole words (9 = left + control).
constexpr unsigned MK_LBUTTON = 0x0001;
constexpr unsigned MK_RBUTTON = 0x0002;
constexpr unsigned MK_SHIFT = 0x0004;
constexpr unsigned MK_CONTROL = 0x0008;
constexpr unsigned MK_MBUTTON = 0x0010;
// Alt is not part of the mouse word; key events carry it for accelerators.
constexpr unsigned MK_ALT = 0x0020;

// Virtual-key codes used by the program.
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
constexpr int VK_MENU = 0x12;  // Alt
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_PRIOR = 0x21;
constexpr int VK_NEXT = 0x22;
constexpr int VK_END = 0x23;
constexpr int VK_HOME = 0x24;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_DELETE = 0x2E;
constexpr int VK_F1 = 0x70;
constexpr int VK_F10 = 0x79;
// Letters and digits are their upper-case ASCII codes ('A' .. 'Z', '0' .. '9').

// Message-box styles and results.
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_YESNOCANCEL = 0x03;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_ICONSTOP = 0x10;
constexpr unsigned MB_ICONERROR = MB_ICONSTOP;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_TYPEMASK = 0x0F;
constexpr unsigned MB_ICONMASK = 0xF0;
// Default button (the one Enter presses): the first unless one of these is set.
// A question whose Yes writes files or changes the loaded data makes No the default.
constexpr unsigned MB_DEFBUTTON1 = 0x000;
constexpr unsigned MB_DEFBUTTON2 = 0x100;
constexpr unsigned MB_DEFBUTTON3 = 0x200;
constexpr unsigned MB_DEFMASK = 0xF00;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The result of the button Enter presses in a box of this style.
constexpr int DefaultButtonResult(unsigned style) {
  const unsigned def = style & MB_DEFMASK;
  switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL: return def == MB_DEFBUTTON2 ? IDCANCEL : IDOK;
    case MB_YESNO: return def == MB_DEFBUTTON2 ? IDNO : IDYES;
    case MB_YESNOCANCEL:
      return def == MB_DEFBUTTON3 ? IDCANCEL : (def == MB_DEFBUTTON2 ? IDNO : IDYES);
    default: return IDOK;
  }
}

}  // namespace tarmic
