// CWINPlot, the one graph class of the program: a list of curves with their styles
// and colours, axis texts, the rectangle in which the plot is laid out, the mapping
// from data to picture units, and the last recorded picture. Views fill a plot,
// call Redraw, and play the picture (hPicture) into their panes; curves drawn over a
// finished plot on demand are recorded as separate pictures by the overlay plotters.
//
// Picture units: the plot rectangle lives in the 1399 x 1000 picture space
// (picture_space.h); its left and right values are stored already multiplied by
// the horizontal display factor. y grows downwards. Data values map to picture
// units as trunc(value * scale + offset) (log10 of the value on a logarithmic axis).
//
// The plot never owns the curves (CCurve) or vectors (CVector) given to it: the view
// that adds a curve keeps it alive for the life of the plot. Operations that take a
// curve index ignore an index outside 0..nCurves-1 (getters return 0).
//
// Implementation files: winplot.cpp (object and curve management), plot_scaling.cpp
// (ranges, mapping, ticks), plot_redraw.cpp (the picture), curve_painting.cpp (one
// curve of the picture), plot_overlays.cpp (curves over a finished plot, copy).
#pragma once

#include "numerics/analysis.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/gdi.h"
#include "platform/metafile.h"
#include "platform/types.h"
#include "plot/plot_text_size.h"

namespace tarmic {

class CCurve;
class CVector;
class CScreenButton;
class DC;

// Fixed sizes of the plot layout, picture units.
inline constexpr int nTickLength = 8;        // major tick length and frame margin
inline constexpr int nMinorTickLength = 5;
inline constexpr int nTickLabelGap = 2;
inline constexpr int kYTitleGap = 4;         // between the y tick labels and the y title
inline constexpr int nMinTicks = 3;          // fewer major ticks halve the tick step
inline constexpr int nTickFontHeight = 18;   // also the label width per character
inline constexpr int nLabelFontHeight = 20;
inline constexpr int nTitleFontHeight = 35;
// Fill colour of the shaded x bands.
inline constexpr Color kBandColor = 0xe6fae6;

// The plot fonts: tick labels and colour-bar texts; x title and y end texts; y title
// (runs upwards); plot title. Made by CreatePlotFonts at start-up.
extern Font hTickFont;
extern Font hLabelFont;
extern Font hYTitleFont;
extern Font hTitleFont;
void CreatePlotFonts();

// The state of this module in an analysis (numerics/analysis.h).
struct PlotScalingState {
  // ComputeTicks places the minor ticks of a logarithmic axis (values in decades)
  // while this is set; Redraw sets it around its tick computations.
  int bLogTickMode = 0;
};
// The current analysis' PlotScalingState.
inline PlotScalingState& PlotScaling() { return CurrentPart<PlotScalingState>(); }
// The state of this module in an analysis (numerics/analysis.h).
struct PlotRedrawState {
  // Raised by the curve painter when a point lies outside the displayed y range;
  // cleared at the start of every Redraw, which then rescales and records once more.
  int bRescaleRequested = 0;
  // Phase of the dotted and dashed primitives, carried across segments, curves and
  // pictures; also used by overlays drawn from worker threads.
  std::atomic<bool> bDotPhase{true};
  // Half-width of error-bar caps, picture units.
  int nErrorBarCap = 15;
};
// The current analysis' PlotRedrawState.
inline PlotRedrawState& PlotRedraw() { return CurrentPart<PlotRedrawState>(); }

// The smaller / larger of two floats; the second argument when they are equal.
float MinFloat(float a, float b);
float MaxFloat(float a, float b);

class CWINPlot {
 public:
  CWINPlot();
  // A plot holding one curve that shares c's vectors (style 0, table colour 1).
  explicit CWINPlot(CCurve* c);
  CWINPlot(const CWINPlot&) = delete;
  CWINPlot& operator=(const CWINPlot&) = delete;
  ~CWINPlot();

  // ---------------------------------------------------------------- curves
  // Appends c with the default style and the table colour of its index (the first
  // curve takes table colour 1), autoscales, and records the first picture when the
  // plot holds one curve and the scaling did not change.
  void AddCurve(CCurve* c);
  // AddCurve of each curve in turn, with one autoscaling after the last instead of
  // one after each (the same scales: each scales over all curves): a data set of
  // hundreds of scans is no longer scanned once per scan added.
  void AddCurves(const std::vector<CCurve*>& curves);
  void ReplaceLastCurve(CCurve* c);
  void SetCurve(int i, CCurve* c);
  // Drops the last curve; with none left the mapping becomes 0.
  void RemoveLastCurve();
  // Forgets every curve with its attributes and switches the legends off.
  void ClearCurves();
  CCurve* GetCurve(int i) const;

  void SetCurveStyle(int i, int style);
  int GetCurveStyle(int i) const;
  void SetCurveColor(int i, Color color);
  Color GetCurveColor(int i) const;
  // Visible point range of curve i (0-based, clipped to the curve).
  void SetCurveIndexRange(int i, int first, int last);
  void SetCurveLegend(int i, const char* text);
  // Error values v[1..n] of curve i (n must equal the curve's length).
  void AttachErrorValuesA(int i, float* v, int n);
  void AttachErrorValuesB(int i, float* v, int n);

  // ---------------------------------------------------------------- texts and settings
  const char* SetXAxisLabel(const char* text);
  const char* SetYAxisLabel(const char* text);
  void ClearXAxisLabel();
  void ClearYAxisLabel();
  const char* SetYMinLabel(const char* text);
  const char* SetYMaxLabel(const char* text);
  void SetTitle(const char* text);
  void SetXAxisLabelOffset(int px) { nXLabelOffset = px; }
  void SetYAxisLabelOffset(int px) { nYLabelOffset = px; }
  void SetTitleXOffset(int px) { nTitleXOffset = px; }
  void SetTitleYOffset(int px) { nTitleYOffset = px; }
  void ShowLegend() { bLegend = 1; }
  void HideLegend() { bLegend = 0; }
  void ToggleYFromZero() { bYFromZero = !bYFromZero; }
  void ClearYFromZero() { bYFromZero = 0; }
  void ToggleConnectPoints() { bConnectPoints = !bConnectPoints; }
  void ClearConnectPoints() { bConnectPoints = 0; }
  void HideTickLabels() { bHideTickLabels = 1; }
  void ShowTickLabels() { bHideTickLabels = 0; }
  void ShowRightTickLabels() { bRightTickLabels = 1; }
  void HideRightTickLabels() { bRightTickLabels = 0; }
  void SetFrame(bool fill) { bFillBackground = fill; }
  void SetTableColor(int i, Color color);
  // 0xc8c8c8 for a negative index, else entry i mod 10.
  Color GetTableColor(int i) const;
  void SetDefaultStyle(int style);
  // Shades the x interval held by x01 (two values); at most nMaxBands bands.
  void AddXBand(CVector* x01);
  // Makes curve i the map curve whose points take their colours from
  // grid[first..last] (one value per point).
  void SetMapYGrid(int i, const float* grid, int first, int last, bool projections);
  // Value range of the map's vertical dimension; equal values clear it.
  void SetMapYRange(float a, float b);
  void SetPointMask(const int* mask, int n, int p2, Color color, int p1);
  void SetColorBarRange(float lo, float hi);
  void ShowColorBarTicks() { bColorBarTicks = 1; }
  void SetAltMapPalette(bool alt) { bAltPalette = alt; }
  void SetMinusOneBlack() { bMinusOneBlack = 1; }
  void ClearMinusOneBlack() { bMinusOneBlack = 0; }
  void SetMinusOneWhite() { bMinusOneWhite = 1; }
  void ClearMinusOneWhite() { bMinusOneWhite = 0; }
  const char* SetColorBarEndLabels(int offset, const char* low, const char* high);
  void SetColorBarCaption(int dx, int dy, const char* text);
  // Four buttons along the top-right corner of the plot: the number, "X", "i", "e".
  void CreateCornerButtons(int number);
  void PlaceButtons();

  // ---------------------------------------------------------------- scaling
  // Places the plot: top and bottom in picture units, left and right in layout
  // units (multiplied by the horizontal display factor). The plot area is this
  // rectangle less the room that texts larger than their nominal heights need, and
  // less what right-hand tick labels would need beyond the picture's right edge.
  void SetPlotRect(int top, int left, int bottom, int right);
  // Chooses the free ranges from the curves (with margins) and recomputes the mapping.
  void AutoScale();
  void Rescale() { AutoScale(); }
  // Frees both ranges and autoscales ("Full Range").
  void ResetRanges();
  // Fixes both ranges; ignored when a span is below 1e-10.
  void SetRanges(float xmin, float xmax, float ymin, float ymax);
  void SetXRange(float xmin, float xmax);
  void SetYRange(float ymin, float ymax);
  // Fixes the x range and fits y to the points inside it (zoom).
  void SetXRangeAutoY(float xmin, float xmax);
  // Converts a window position (layout units) to data; 1 when inside the plot.
  int PixelToData(float px, float py, float* x, float* y) const;
  // The map's vertical value at a picture row; 0 without a map range.
  float PixelRowToMapY(int row) const;
  // Tick values over lo..hi (major or minor ticks), owned by the caller.
  std::unique_ptr<CVector> ComputeTicks(bool major, float lo, float hi) const;

  // Picture coordinates of data values with the current mapping (logarithmic
  // axes included; a non-positive value on a log axis lands nLogFloorOffset units
  // left of the plot, or above its bottom edge).
  int MapX(float x) const;
  int MapY(float y) const;

  // ---------------------------------------------------------------- the picture
  // Records the whole plot into a new picture kept in hPicture; false (old picture
  // kept) without curves, and while nobody sees pictures (PicturesSeen,
  // platform/backend.h: the batch).
  bool Redraw();
  // Colour of a normalised map value (white - blue - cyan - yellow - red).
  Color MapValueToColor(float v) const;
  // One-pixel dot at (x, y) that leaves the current position there.
  static void DrawDot(DC& dc, int x, int y);
  // A dot unless the dash phase was cleared; sets the phase.
  static void DrawAlternateDot(DC& dc, int x, int y);
  // Dashes of 5 units with gaps of 5 (short steps: a dot on every second one).
  static void DrawDashedLine(DC& dc, int x1, int y1, int x2, int y2);
  // Writes y value `point` of curve `curve` times fYLabelScale from the current
  // position onwards.
  void DrawPointValueLabel(DC& dc, int x, int y, int curve, int point) const;
  void DrawErrorBars(DC& dc, int i, const float* lower, const float* upper, int first,
                     int last, Color color) const;
  void PlotFunction(DC& dc, float (*f)(float), int n, Color color) const;
  std::unique_ptr<MetaFileDC> CreatePictureDC() const;
  std::unique_ptr<MetaFile> DrawDashedVerticalLine(float x, Color color) const;
  std::unique_ptr<MetaFile> DrawHighlightFrame(Color color) const;
  std::unique_ptr<MetaFile> DrawVerticalLine(float x, Color color) const;

  // Draws curve i into the picture being recorded.
  void PaintCurve(DC& dc, int i);

  // ---------------------------------------------------------------- overlays
  // Each records one curve into a new picture with the plot's current mapping and
  // returns it (null when nothing was recorded). Point numbers are 1-based. The
  // plot, its mark size and the caller's arrays are not changed.
  std::unique_ptr<MetaFile> DrawCurveRange(const CCurve* curve, int first, int last, Color color,
                                           int style, int markSize) const;
  std::unique_ptr<MetaFile> DrawCurveRangePerPointColor(const CCurve* curve, int first, int last,
                                                        int** rgb, int style,
                                                        int markSize) const;
  std::unique_ptr<MetaFile> DrawCurveOverlay(const CCurve* curve, Color color, int style,
                                             int markSize) const;
  std::unique_ptr<MetaFile> DrawArrays(const float* x, const float* y, int n, Color color,
                                       int style, int markSize) const;
  std::unique_ptr<MetaFile> DrawArraysDouble(const double* x, const double* y, int n,
                                             Color color, int style, int markSize) const;
  std::unique_ptr<MetaFile> DrawArraysDoubleY(const float* x, const double* y, int n,
                                              Color color, int style, int markSize) const;
  std::unique_ptr<MetaFile> DrawArraysScaled(const float* x, const float* y, int n, double top,
                                             Color color, int style, int markSize) const;
  std::unique_ptr<MetaFile> DrawArraysScaledDoubleY(const float* x, const double* y, int n,
                                                    double top, Color color, int style,
                                                    int markSize) const;
  std::unique_ptr<MetaFile> DrawArraysRange(const float* x, const float* y, int n, int first,
                                            int last, Color color, int style,
                                            int markSize) const;
  std::unique_ptr<MetaFile> DrawArraysPerPointColor(const float* x, const float* y, int n,
                                                    int** rgb, int style, int markSize) const;
  // Puts the plot's picture on the clipboard; false when there is none or the
  // clipboard refused it.
  bool CopyToClipboard() const;

  // ---------------------------------------------------------------- fields
  std::unique_ptr<MetaFile> hPicture;  // the last recorded picture
  int bHideCurves = 0;
  int bClipOverlayEdges = 0;
  int nCurveStride = 1;
  int bHasErrorsA = 0, bHasErrorsB = 0;
  std::vector<std::unique_ptr<CVector>> ppErrorsA, ppErrorsB;  // [0..nMaxErrorCurve]
  int nMaxErrorCurve = 100;
  int nMapCurve = -1;
  int bMap = 0;
  int bColorBar = 0;
  int nColorBarOffset = 0;
  float fColorBarMax = 0, fColorBarMin = 0;
  int bColorBarRange = 0;
  std::vector<int> pPointMask;  // [1..nPointMask]
  int nPointMask = 0;
  Color crMaskColor = 0xc8c8c8;
  int nMaskParam1 = 3, nMaskParam2 = 1;
  int bPointMask = 0;
  int nColorBarLabelOffset = 0;
  int bColorBarLabels = 0;
  std::string szColorBarLow, szColorBarHigh;
  int bColorBarCaption = 0;
  int nCaptionX = 0, nCaptionY = 0;
  std::string szColorBarCaption;
  int bMinusOneBlack = 0, bMinusOneWhite = 0;
  int nBands = 0;
  int nMaxBands = 10;
  std::vector<CVector*> ppBands;  // bands 1..nBands at [0..nBands-1]
  const float* pMapYGrid = nullptr;  // [0..nMapYGrid-1], the caller's values
  float fMapMax = 0;
  int nMapYGrid = 0;
  int bColorBarTicks = 0;
  int bAltPalette = 0;
  int bMapProjections = 0;
  int bMapYRange = 0;
  float fMapYMin = 0, fMapYMax = 0;
  int bRightTickLabels = 0;
  int bFillBackground = 1;
  int nPainterLoopCount = 0;
  int bHideTickLabels = 0;
  std::vector<Color> pCurveColor;
  std::vector<int> pColorSet;
  int nMarkSize = 10;   // half-size of point marks
  int nMarkSizeY = 10;  // half-width of the style-11 bar
  int bLogTicksX = 0, bLogTicksY = 0;
  int bBreakOnXReversal = 0;
  // Lines of a curve break where neighbouring points lie farther apart in x than
  // the curve's own spacing allows (CurveGapLimit): radial data with points missing
  // (a region excluded, scans cut on disk) show no line across the gap.
  int bBreakAtGaps = 0;
  // The x window of another plot's zoom that this one follows (the residual pane
  // of the zoomed data plot): bFollowXWindow, from fFollowXMin to fFollowXMax.
  int bFollowXWindow = 0;
  float fFollowXMin = 0, fFollowXMax = 0;
  float fYLabelScale = 1.0f;
  int bLogX = 0, bLogY = 0;
  int nLogFloorOffset = 20;
  std::vector<int> pRangeSet, pRangeFirst, pRangeLast;
  int nCurves = 0;
  std::vector<CCurve*> ppCurves;
  std::vector<int> pCurveStyle;
  std::string szYMinLabel;
  int bYMinLabel = 0;
  std::string szYMaxLabel;
  int bYMaxLabel = 0;
  std::string szXLabel;
  int nXLabelOffset = 0;
  std::string szYLabel;
  int nYLabelOffset = 0;
  std::string szTitle;
  int nTitleXOffset = 0, nTitleYOffset = 0;
  int bTitle = 0, bXLabel = 0, bYLabel = 0;
  std::vector<std::string> ppLegends;  // empty text: no legend
  int bLegend = 0;
  int nLeft = 0, nRight = 0, nBottom = 0, nTop = 0;
  // The rectangle given to SetPlotRect (left and right in picture units), the text
  // height its plot area was last laid out for, and the most characters and the
  // largest width (picture units across, measured) of a y tick label in the last
  // picture.
  int nRectLeft = 0, nRectRight = 0, nRectBottom = 0, nRectTop = 0;
  int nLayoutTextHeight = 0;
  int nYTickChars = 3;
  int nYTickWidth = 0;
  int bFixedX = 0, bFixedY = 0;
  int bYFromZero = 0;
  int bScalingChanged = 1;
  float fScaleX = 0, fScaleY = 0, fOffsetX = 0, fOffsetY = 0;
  float fXMin = 0, fXMax = 0, fYMin = 0, fYMax = 0;
  int nFrameLeft = 0, nFrameBottom = 0, nFrameRight = 0, nFrameTop = 0;
  int bConnectPoints = 0;
  int nDefaultStyle = -1;
  Color pColorTable[10] = {};
  Color crBackground = 0xffffff;
  Color crAxis = 0x000000;
  std::vector<std::unique_ptr<CScreenButton>> ppButtons;  // buttons 1..nButtons at [0..]
  int nButtons = 0;
  int nButtonSize = 20;

 private:
  void InitColorTable();
  // The plot area and frame from the requested rectangle and the text room; unless
  // always, only when the area changes. True when it was set.
  bool LayOutPlotArea(bool always);
  // Visible index window of curve i: 0..n-1 narrowed by its index range.
  void CurveWindow(int i, int* first, int* last) const;
  // Recomputes scale and offset of one axis and notes a change of a previously
  // non-zero value. Equal ends are widened first, so the scale is always finite.
  void UpdateXMapping();
  void UpdateYMapping();
  void UpdateMapping();
  // Appends c with the default style and the table colour of its index.
  void AppendCurve(CCurve* c);
  // One recording of the picture (Redraw may record twice).
  bool RecordPicture();
  void DrawColorBar(DC& dc) const;
  // The walk shared by the overlay plotters.
  std::unique_ptr<MetaFile> RecordOverlay(const CCurve* curve, int first, int last, Color color,
                                          int** rgb, int style, int markSize) const;

  // The curve made by the one-curve constructor.
  std::unique_ptr<CCurve> ownCurve_;
};

}  // namespace tarmic
