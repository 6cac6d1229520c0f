// Screen buttons: small labelled rectangles recorded as pictures in the plots'
// picture space (1399 x 1000 units) and replayed over the main window's client
// area. The mouse handlers ask each live button whether a click fell on it. A
// button can also keep the screen pixels under itself, so that a transient prompt
// or label can be laid over a finished plot and taken away without a repaint, and
// it can draw a ring around a chosen data point.
#pragma once

#include <memory>
#include <string>

#include "platform/gdi.h"
#include "platform/image.h"
#include "platform/metafile.h"
#include "platform/types.h"

namespace tarmic {

class Window;

// Fonts shared by all buttons: 16 units high, sans serif, normal (400) and bold (900).
extern Font hButtonFont;
extern Font hButtonBoldFont;

class CScreenButton {
 public:
  CScreenButton();
  CScreenButton(const CScreenButton&) = delete;
  CScreenButton& operator=(const CScreenButton&) = delete;
  ~CScreenButton() = default;

  // Stores the edges (picture units) rounded down.
  void SetRect(float top, float left, float bottom, float right);
  // Copies both labels: at most offLength (onLength) characters of each text, cut at
  // a terminating zero and at 999 characters. A null text gives an empty label.
  void SetLabels(const char* offText, int offLength, const char* onText, int onLength);
  void SetBoldText() { bBoldText = true; }
  void SetBaselineText() { bBaselineText = true; }
  void SetRaisedBaselineText() { bRaisedText = true; }

  // Records the picture from the current fields; false (old picture kept) when no
  // picture could be made. A button too small for its labels (either state, at the
  // plot text height) first grows to the left and upwards, keeping its lower right
  // corner, so that no label is cut off.
  bool Paint();
  // Plays the picture into the window's client area (stretched from picture units).
  void Show(Window& window);
  void Toggle();
  // x and y in units of which the client width and height hold 1000; x is scaled by
  // the horizontal display factor before the edges are compared (edges included).
  // A toggle button that is hit flips and re-records its picture.
  bool HitTest(float x, float y);

  // Keeps a copy of the client pixels under the button; RestoreBackground puts it
  // back and erases a ring drawn since. Both always succeed.
  bool SaveBackground(Window& window);
  // The same from dc (a paint's device context on the client area).
  void SaveBackground(Window& window, DC& dc);
  bool RestoreBackground(Window& window);
  // The same on dc in client pixels, without showing the window (a paint's device
  // context on the window's client area).
  void RestoreBackground(Window& window, DC& dc);
  // A ring three pixels wide with a white inside around the pixel (x, y); the
  // previous ring is erased first; a radius <= 0 only erases.
  void DrawRing(Window& window, int x, int y, int radius, Color ringColor, Color dotColor);
  // Whitens the ring's disc and redraws the marked point as a small dot.
  void EraseRing(Window& window, int x, int y, int radius);
  void EraseRing(DC& dc, int x, int y, int radius);
  // The current label drawn straight into the client area (units taken as pixels).
  void DrawLabel(Window& window);
  void EraseLabel(Window& window);
  void Beep();

  // The label of the current state.
  const std::string& CurrentLabel() const { return bOn ? szOnLabel : szOffLabel; }

  int nType = 2;  // 1 = push button, 2 = toggle button
  bool bOn = false;
  bool bFramed = false;
  bool bBaselineText = false;
  bool bRaisedText = false;
  std::string szOffLabel = "ScreenButton";
  std::string szOnLabel = "ON STATE";
  int nLabelCapacity = 1000;
  Color crLight = RGB(220, 220, 220);
  Color crDark = RGB(100, 100, 100);
  Color crMid = RGB(150, 150, 150);
  Color crOffFill = RGB(200, 200, 200);
  Color crOnFill = RGB(230, 230, 230);
  Color crText = RGB(0, 0, 150);
  bool bBoldText = false;
  std::unique_ptr<MetaFile> hPicture;
  int nRight = 0;
  int nLeft = 0;
  int nTop = 0;
  int nBottom = 0;
  int nRingX = 0;
  int nRingY = 0;
  int nRingRadius = 0;
  Color crDot = 0;
  Image hSavedBackground;  // null until SaveBackground

 private:
  void FitLabels();
  // The client pixels that SaveBackground and RestoreBackground cover.
  Rect BackgroundRect(Window& window) const;
  void DrawLabelInColor(Window& window, Color color);
};

}  // namespace tarmic
