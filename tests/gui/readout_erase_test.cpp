// Readouts on the real window: a text written over an earlier one a few pixels
// above, below, left or right of it gives back what was under the earlier one,
// whole, never leaving cut-off strokes of it; one that does not touch it leaves it as
// it was. Readouts over a plot, erased or written over, give the plot back exactly.
#include <gtest/gtest.h>

#include <memory>

#include "platform/backend.h"
#include "platform/qt/qt_backend.h"
#include "tests/gui/qt_test_app.h"
#include "tests/platform/readout_sweep.h"

namespace tarmic {
namespace {

constexpr Color kCellColour = RGB(255, 255, 0);

// The box of the pixels that are not white.
Rect Ink(const Image& img, const Rect& within) {
  Rect r{within.right, within.bottom, within.left, within.top};
  for (int y = within.top; y < within.bottom; ++y)
    for (int x = within.left; x < within.right; ++x)
      if (img.Pixel(x, y) != kWhite) {
        r.left = std::min(r.left, x);
        r.top = std::min(r.top, y);
        r.right = std::max(r.right, x + 1);
        r.bottom = std::max(r.bottom, y + 1);
      }
  return r;
}

TEST(ReadoutsQt, AReadoutErasesEveryEarlierTextItOverlaps) {
  gui_test::TestApplication();
  QtBackend backend(420, 140);
  SetBackend(&backend);
  Window& w = backend.MainWindow();
  const Rect all{0, 0, 420, 140};
  const auto write = [&](int x, int y, const char* text) {
    std::unique_ptr<DC> dc = w.ClientDC();
    dc->SetBkColor(kCellColour);
    dc->TextOut(x, y, text);
  };
  const auto clear = [&] {
    w.Screen().Fill(kWhite);
    w.TextLines().Clear();
  };
  clear();
  write(80, 60, "solving Lamm equations...  #it = 1234");
  const Rect earlier = Ink(w.Screen(), all);
  const int h = earlier.bottom - earlier.top;
  int overlapped = 0;
  for (int dy = -h - 2; dy <= h + 2; dy += 3)
    for (int dx : {-60, 0, 45}) {
      SCOPED_TRACE(::testing::Message() << "dx " << dx << " dy " << dy);
      clear();
      write(80 + dx, 60 + dy, "rmsd=0.005003 (n=5500)");
      const Rect later = Ink(w.Screen(), all);
      clear();
      write(80, 60, "solving Lamm equations...  #it = 1234");
      const Image alone = w.Screen();
      write(80 + dx, 60 + dy, "rmsd=0.005003 (n=5500)");
      const bool overlap = earlier.left < later.right && later.left < earlier.right &&
                           earlier.top < later.bottom && later.top < earlier.bottom;
      overlapped += overlap;
      int cut = 0, changed = 0;
      for (int y = earlier.top; y < earlier.bottom; ++y)
        for (int x = earlier.left; x < earlier.right; ++x) {
          if (x >= later.left && x < later.right && y >= later.top && y < later.bottom) continue;
          cut += w.Screen().Pixel(x, y) != kWhite;
          changed += w.Screen().Pixel(x, y) != alone.Pixel(x, y);
        }
      if (overlap)
        EXPECT_EQ(cut, 0) << "strokes of the earlier text are left";
      else
        EXPECT_EQ(changed, 0) << "a text it does not touch is changed";
    }
  EXPECT_GT(overlapped, 10);
  SetBackend(nullptr);
}

TEST(ReadoutsQt, ErasedReadoutsGiveBackThePlotUnderThem) {
  gui_test::TestApplication();
  QtBackend backend(420, 140);
  SetBackend(&backend);
  Window& w = backend.MainWindow();
  testing::ReadoutWindow win{w.Screen(), [&] { return w.ClientDC(); }, w.TextLines()};
  EXPECT_GT(testing::SweepReadoutsOverPlot(win), 60);
  SetBackend(nullptr);
}

}  // namespace
}  // namespace tarmic
