// Readouts written over a plot and erased again, on any device context of a window:
// the scripted window's raster DC and the Qt window's painter DC run the same sweep.
// Every comparison is with pixels drawn without the readout, exactly.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dc.h"
#include "platform/image.h"

namespace tarmic::testing {

// A window to sweep: its back-buffer, a DC drawing on it with its readout memory,
// and the memory (cleared as a full paint clears it).
struct ReadoutWindow {
  Image& screen;
  std::function<std::unique_ptr<DC>()> open;
  TextLineMemory& memory;
};

// A data plot: a tinted frame, a grid, a thick curve and single points, so that a
// readout over it covers pixels of many colours.
inline void DrawSweepPlot(DC& dc, int w, int h) {
  dc.SelectPen(Pen{PenStyle::Solid, 0, RGB(40, 40, 40)});
  dc.SelectBrush(SolidBrush(RGB(236, 242, 255)));
  dc.Rectangle(0, 0, w, h);
  dc.SelectPen(Pen{PenStyle::Solid, 0, RGB(190, 200, 190)});
  for (int x = 17; x < w; x += 23) {
    dc.MoveTo(x, 1);
    dc.LineTo(x, h - 1);
  }
  for (int y = 11; y < h; y += 19) {
    dc.MoveTo(1, y);
    dc.LineTo(w - 1, y);
  }
  std::vector<Point> curve;
  for (int x = 0; x < w; x += 3)
    curve.push_back(Point{x, static_cast<int>(h / 2 + h / 3 * std::sin(x / 29.0))});
  dc.SelectPen(Pen{PenStyle::Solid, 2, RGB(200, 30, 30)});
  dc.Polyline(curve);
  for (int x = 2; x < w; x += 7) dc.SetPixel(x, (x * 37) % h, RGB(20, 20, 220));
}

inline void WriteReadout(ReadoutWindow& win, Point at, const std::string& text) {
  std::unique_ptr<DC> dc = win.open();
  dc->SetTextColor(RGB(0, 90, 0));
  dc->SetBkColor(RGB(255, 255, 170));  // a colour the plot does not have
  dc->TextOut(at.x, at.y, text);
}

// Erases a readout as the program does: blanks written at its place.
inline void EraseReadout(ReadoutWindow& win, Point at, const std::string& text) {
  WriteReadout(win, at, std::string(text.size(), ' '));
}

inline int DifferingPixels(const Image& a, const Image& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return -1;
  int n = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) n += a.Pixel(x, y) != b.Pixel(x, y);
  return n;
}

// The box of the pixels of a that differ from b; empty when none do.
inline Rect Changed(const Image& a, const Image& b) {
  Rect r{a.Width(), a.Height(), 0, 0};
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if (a.Pixel(x, y) != b.Pixel(x, y)) {
        r.left = std::min(r.left, x);
        r.top = std::min(r.top, y);
        r.right = std::max(r.right, x + 1);
        r.bottom = std::max(r.bottom, y + 1);
      }
  if (r.right <= r.left) return Rect{};
  return r;
}

// Sweeps readout positions over the plot, inside, overlapping each other and cut by
// each edge of the window, and checks that what an erased or overwritten readout
// covered shows the plot again. Returns the number of overlapping pairs swept.
inline int SweepReadoutsOverPlot(ReadoutWindow& win) {
  const int w = win.screen.Width(), h = win.screen.Height();
  const std::string first = "rmsd=0.005003 (n=5500)";
  const std::string second = "r = 6.1234    ";
  Image plot;
  const auto fresh = [&] {
    win.memory.Clear();
    {
      std::unique_ptr<DC> dc = win.open();
      DrawSweepPlot(*dc, w, h);
    }
    plot = win.screen;
  };
  const auto reset = [&] {
    win.screen = plot;
    win.memory.Clear();
  };
  fresh();
  // Alone on the plot, each text at each place.
  const auto alone = [&](Point at, const std::string& text) {
    reset();
    WriteReadout(win, at, text);
    Image shown = win.screen;
    reset();
    return shown;
  };
  int overlapping = 0;
  const std::vector<int> xs = {-40, 6, w / 2, w - 70, w - 4};
  const std::vector<int> ys = {-9, 3, h / 2 + 1, h - 12, h - 2};
  for (int x : xs)
    for (int y : ys) {
      const Point p{x, y};
      SCOPED_TRACE(::testing::Message() << "readout at " << x << ", " << y);
      // One readout, erased.
      reset();
      WriteReadout(win, p, first);
      EXPECT_GT(DifferingPixels(win.screen, plot), 0) << "the readout shows";
      EraseReadout(win, p, first);
      EXPECT_EQ(DifferingPixels(win.screen, plot), 0) << "the erased readout leaves a mark";

      // A cursor line inverted across the readout while it shows, then the readout
      // erased and the line inverted away.
      reset();
      WriteReadout(win, p, first);
      const auto invertColumn = [&] {
        std::unique_ptr<DC> dc = win.open();
        dc->SetROP2(Rop2::Not);
        dc->MoveTo(x + 9, 0);
        dc->LineTo(x + 9, h);
      };
      invertColumn();
      EraseReadout(win, p, first);
      invertColumn();
      EXPECT_EQ(DifferingPixels(win.screen, plot), 0) << "the cursor line or the readout leaves a mark";

      // A second readout overlapping the first or beside it.
      for (int dx : {-25, 0, 30, 400})
        for (int dy : {-7, 0, 5}) {
          SCOPED_TRACE(::testing::Message() << "second at +" << dx << ", +" << dy);
          const Point q{x + dx, y + dy};
          const Image firstAlone = alone(p, first);
          const Image secondAlone = alone(q, second);
          reset();
          WriteReadout(win, p, first);
          WriteReadout(win, q, second);
          // The first is given back whole when the second's cell overlaps it (the
          // screen shows the second alone), and left whole when it does not.
          const Rect a = Changed(firstAlone, plot), b = Changed(secondAlone, plot);
          if (a.IsEmpty() || b.IsEmpty()) {
            // One lies wholly outside the window, where whether the cells overlap
            // does not show: erased, both leave the plot.
            EraseReadout(win, q, second);
            EraseReadout(win, p, first);
            EXPECT_EQ(DifferingPixels(win.screen, plot), 0) << "erasing both leaves a mark";
            continue;
          }
          const bool touches = a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
          overlapping += touches;
          Image expected = secondAlone;
          if (!touches)
            for (int yy = a.top; yy < a.bottom; ++yy)
              for (int xx = a.left; xx < a.right; ++xx) expected.SetPixel(xx, yy, firstAlone.Pixel(xx, yy));
          EXPECT_EQ(DifferingPixels(win.screen, expected), 0)
              << (touches ? "the first readout is cut" : "a readout it does not touch is changed");
          EraseReadout(win, q, second);
          EXPECT_EQ(DifferingPixels(win.screen, touches ? plot : firstAlone), 0)
              << "erasing the second does not give back what was under it";
          EraseReadout(win, p, first);
          EXPECT_EQ(DifferingPixels(win.screen, plot), 0) << "erasing both leaves a mark";
        }
    }
  reset();
  return overlapping;
}

}  // namespace tarmic::testing
