// The progress line of long computations: a thin grey track drawn straight into the
// main window's client area, over which a coloured part grows from left to right.
// The pixels under the line are kept when it is shown and put back when it is
// hidden, so the plots beneath it survive without a repaint. The line only grows:
// a value not larger than the last one drawn is ignored.
#pragma once

#include "platform/gdi.h"
#include "platform/image.h"
#include "platform/types.h"

namespace tarmic {

class DC;
class Window;

class CProgressLine {
 public:
  CProgressLine() = default;
  CProgressLine(const CProgressLine&) = delete;
  CProgressLine& operator=(const CProgressLine&) = delete;

  // Places the line with its left end at client pixel (x, y) and keeps the pixels
  // under it; nothing is drawn until the first Update above 0.
  void Show(Window& window, int x, int y);
  // Draws the track and the grown part for value (of fMaximum) when it exceeds the
  // largest value drawn so far.
  void Update(float value, Window& window);
  // The same drawing into a given device context (pixels); the progress pen stays
  // selected there.
  void UpdateDC(float value, DC& dc);
  // Puts the kept pixels back.
  void Hide(Window& window);
  void SetBlueColor();
  void SetPurpleColor();
  bool SaveBackground(Window& window);
  bool RestoreBackground(Window& window);

  float fMaximum = 1.0f;
  float fValue = 0.0f;
  int nLength = 100;
  int nHeight = 3;
  Color crProgress = RGB(255, 0, 0);
  Color crTrack = RGB(200, 200, 200);
  Pen hProgressPen{PenStyle::Solid, 0, RGB(255, 0, 0)};
  Pen hTrackPen{PenStyle::Solid, 0, RGB(200, 200, 200)};
  int nRight = 0;
  int nLeft = 0;
  int nBottom = 0;
  int nTop = 0;
  Image hSavedBackground;  // null until Show

 private:
  // Stores value and draws; false when the value did not grow.
  bool DrawInto(float value, DC& dc);
  Rect BackgroundRect() const;
};

}  // namespace tarmic
