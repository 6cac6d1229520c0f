// CWINPlot::Redraw: the whole picture of a plot (background, bands, curves, axes,
// ticks and labels, colour bar, titles), the plot fonts, the colour ramp of maps,
// the dotted and dashed line primitives, and the picture routines of the class.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "services/error_box.h"
#include "services/engine_notice.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/raster_dc.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"

namespace tarmic {

Font hTickFont{nTickFontHeight, 400, 0, FontFamily::SansSerif};
Font hLabelFont{nLabelFontHeight, 400, 0, FontFamily::SansSerif};
Font hYTitleFont{nLabelFontHeight, 400, 900, FontFamily::SansSerif};
Font hTitleFont{nTitleFontHeight, 400, 0, FontFamily::SansSerif};
int nMinPlotTextHeight = 0;

int PlotTextHeight(int h) { return std::max(h, nMinPlotTextHeight); }

bool SetMinPlotTextHeight(int units) {
  units = std::max(units, 0);
  if (units == nMinPlotTextHeight) return false;
  nMinPlotTextHeight = units;
  return true;
}

double fPlotTextWidthFactor = 1.0;

double PlotTextWidthFactorFor(Size client) {
  if (client.cx <= 0 || client.cy <= 0) return 1.0;
  const double across = client.cx / kUnroundedPictureWidth;
  const double down = client.cy / static_cast<double>(fDisplayExtent);
  return std::max(1.0, down / across);
}

bool SetPlotTextWidthFactor(double factor) {
  factor = std::max(factor, 1.0);
  if (factor == fPlotTextWidthFactor) return false;
  fPlotTextWidthFactor = factor;
  return true;
}

int PlotTextWidth(double width) {
  return static_cast<int>(std::ceil(width * fPlotTextWidthFactor));
}

void CreatePlotFonts() {
  hTickFont = Font{nTickFontHeight, 400, 0, FontFamily::SansSerif};
  hLabelFont = Font{nLabelFontHeight, 400, 0, FontFamily::SansSerif};
  hYTitleFont = Font{nLabelFontHeight, 400, 900, FontFamily::SansSerif};
  hTitleFont = Font{nTitleFontHeight, 400, 0, FontFamily::SansSerif};
}

namespace {

// Tick labels hold at most 20 characters.
constexpr int kLabelSize = 21;

std::string FormatTick(const CVector& ticks, std::uint32_t i, bool pow10, float scale) {
  char buffer[25] = {0};
  if (pow10)
    ticks.FormatElementPow10(i, buffer, kLabelSize, scale);
  else
    ticks.FormatElement(i, buffer, kLabelSize, scale);
  return std::string(buffer);
}

// f recorded at its plot text height.
Font AtPlotHeight(Font f) {
  f.height = PlotTextHeight(f.height);
  return f;
}

// Picture coordinate of a tick value (already in decades on a logarithmic axis).
int TickPixel(float v, float scale, float offset) {
  const float p = v * scale + offset;
  if (std::isnan(p)) return 0;
  return static_cast<int>(std::clamp(p, -1.0e9f, 1.0e9f));
}

float AxisEnd(float v, bool logAxis) { return logAxis ? std::log10(v) : v; }

// A tick label's cell at the plot's tick height: width across (with the text width
// factor), ascent and descent, picture units.
TextMetrics MeasureTickLabel(const std::string& label) {
  const Font font = AtPlotHeight(hTickFont);
  TextMetrics m = DefaultTextRenderer().Measure(font, font.height, label);
  m.width = PlotTextWidth(m.width);
  return m;
}

// Every how many major ticks a label is written: labels extent units long (across
// for x, the cell height for y) on ticks spacing units apart keep at least gap units
// between them.
int LabelStride(float spacing, int extent, int gap) {
  spacing = std::fabs(spacing);
  if (!(spacing > 0.0f)) return 1;
  return std::max(1, static_cast<int>(std::ceil((extent + gap) / spacing - 1e-4)));
}

// The ticks that carry a label with that stride: those a whole multiple of stride
// steps from 0, so that the labels kept are round values (0, 0.2, 0.4 rather than
// 0.1, 0.3); the first tick when that leaves none.
std::vector<bool> LabelledTicks(const CVector& ticks, int stride) {
  const std::uint32_t n = ticks.Length();
  std::vector<bool> labelled(n, true);
  if (stride <= 1 || n < 2) return labelled;
  const double step = ticks.Get(1) - ticks.Get(0);
  bool any = false;
  for (std::uint32_t k = 0; k < n; ++k) {
    const long index = step != 0.0 ? std::lround(ticks.Get(static_cast<int>(k)) / step) : k;
    labelled[k] = index % stride == 0;
    any = any || labelled[k];
  }
  if (!any) labelled[0] = true;
  return labelled;
}

// Spacing of the major ticks in picture units (0 with fewer than two).
float TickSpacing(const CVector& ticks, float scale) {
  return ticks.Length() < 2 ? 0.0f : (ticks.Get(1) - ticks.Get(0)) * scale;
}

}  // namespace

// ---------------------------------------------------------------- the picture

bool CWINPlot::Redraw() {
  if (nCurves == 0) return false;
  // A picture nobody sees is not recorded (the old one, if any, stays).
  if (!PicturesSeen()) return false;
  bool recorded = RecordPicture();
  // A point outside the displayed y range asks for new ranges: rescale and record
  // once more, and only once, even when the second picture asks again.
  if (PlotRedraw().bRescaleRequested && !(bFixedX && bFixedY)) {
    Rescale();
    recorded = RecordPicture();
  }
  return recorded;
}

bool CWINPlot::RecordPicture() {
  PlotRedraw().bRescaleRequested = 0;
  // Texts at their plot heights; the plot area keeps the room they need, laid out
  // anew when the text height or the widest y tick label changed.
  const int tickH = PlotTextHeight(nTickFontHeight);
  const int titleH = PlotTextHeight(nTitleFontHeight);
  {
    const bool logY = bLogTicksY || bLogY;
    PlotScaling().bLogTickMode = logY;
    std::unique_ptr<CVector> yTicks = ComputeTicks(true, AxisEnd(fYMin, bLogY), AxisEnd(fYMax, bLogY));
    PlotScaling().bLogTickMode = 0;
    int chars = 1, width = 0;
    for (std::uint32_t k = 0; k < yTicks->Length(); ++k) {
      const std::string label = FormatTick(*yTicks, k, bLogY, fYLabelScale);
      chars = std::max(chars, static_cast<int>(label.size()));
      width = std::max(width, MeasureTickLabel(label).width);
    }
    nYTickChars = chars;
    nYTickWidth = width;
    // Placed by SetPlotRect: the area follows the texts the plot now has.
    const bool placed = nRectRight != nRectLeft || nRectBottom != nRectTop;
    if (placed && LayOutPlotArea(false) && nCurves > 0) UpdateMapping();
  }
  MetaFileDC dc;
  dc.SetWindowExt(kPictureWidth, kPictureHeight);
  dc.SelectBrush(NullBrush());
  dc.SelectPen(BlackPen());
  dc.SelectPen(NullPen());
  const Pen savedPen = dc.State().pen;
  const Brush savedBrush = dc.State().brush;
  const Font savedFont = dc.State().font;

  // Background.
  const Brush background = SolidBrush(crBackground);
  dc.SelectBrush(background);
  if (bFillBackground) dc.Rectangle(nFrameLeft, nFrameBottom, nFrameRight, nFrameTop);

  // Shaded bands.
  if (nBands > 0) {
    dc.SelectBrush(SolidBrush(kBandColor));
    for (int b = 0; b < nBands; ++b) {
      const CVector* band = ppBands[static_cast<std::size_t>(b)];
      if (!band) continue;
      dc.Rectangle(MapX(band->Get(0)), nBottom, MapX(band->Get(1)), nTop);
    }
    dc.SelectBrush(background);
  }

  if (!bHideCurves)
    for (int i = 0; i < nCurves; ++i) {
      // The cells of a map are centred on their grid points: those of the first and
      // last rows and columns are cut at the frame, not drawn over the axes.
      const bool map = bMap && i == nMapCurve;
      if (map) {
        dc.SaveDC();
        dc.IntersectClipRect(Rect{nLeft, nTop, nRight + 1, nBottom + 1});
      }
      PaintCurve(dc, i);
      if (map) dc.RestoreDC(-1);
    }

  // Plot outline.
  dc.SelectPen(Pen{PenStyle::Solid, 0, crAxis});
  dc.SelectBrush(NullBrush());
  dc.Rectangle(nLeft, nBottom, nRight, nTop);

  dc.SetBkColor(crBackground);
  dc.SetBkMode(BkMode::Transparent);
  dc.SetTextColor(crAxis);
  dc.SetTextAlign(TA_CENTER | TA_TOP);
  dc.SelectFont(AtPlotHeight(hTickFont));

  // x ticks.
  const bool logTicksX = bLogTicksX || bLogX;
  const float x0 = AxisEnd(fXMin, bLogX), x1 = AxisEnd(fXMax, bLogX);
  PlotScaling().bLogTickMode = logTicksX;
  std::unique_ptr<CVector> ticks = ComputeTicks(true, x0, x1);
  PlotScaling().bLogTickMode = 0;
  // Labels too wide for their ticks' spacing are thinned out; a label at an end of
  // the axis that would leave the picture is moved in, to end at its edge.
  std::vector<std::string> xLabels;
  int xWidest = 0;
  for (std::uint32_t k = 0; k < ticks->Length(); ++k) {
    xLabels.push_back(FormatTick(*ticks, k, bLogX, 1.0f));
    xWidest = std::max(xWidest, MeasureTickLabel(xLabels.back()).width);
  }
  const std::vector<bool> xLabelled =
      LabelledTicks(*ticks, LabelStride(TickSpacing(*ticks, fScaleX), xWidest, tickH / 2));
  for (std::uint32_t k = 0; k < ticks->Length(); ++k) {
    const int px = TickPixel(ticks->Get(static_cast<int>(k)), fScaleX, fOffsetX);
    dc.MoveTo(px, nBottom);
    dc.LineTo(px, nBottom + nTickLength);
    if (!bHideTickLabels && xLabelled[k]) {
      const int half = (MeasureTickLabel(xLabels[k]).width + 1) / 2;
      const int x = std::clamp(px, nTickLabelGap + half, std::max(nTickLabelGap + half, kPictureWidth - nTickLabelGap - half));
      dc.TextOut(x, nBottom + nTickLength + nTickLabelGap, xLabels[k]);
    }
    dc.MoveTo(px, nTop);
    dc.LineTo(px, nTop - nTickLength);
  }
  PlotScaling().bLogTickMode = logTicksX;
  ticks = ComputeTicks(false, x0, x1);
  PlotScaling().bLogTickMode = 0;
  for (std::uint32_t k = 0; k < ticks->Length(); ++k) {
    const int px = TickPixel(ticks->Get(static_cast<int>(k)), fScaleX, fOffsetX);
    dc.MoveTo(px, nBottom);
    dc.LineTo(px, nBottom + nMinorTickLength);
    dc.MoveTo(px, nTop);
    dc.LineTo(px, nTop - nMinorTickLength);
  }

  // y ticks; `widest` is the widest label, estimated at one font height across per
  // character.
  const bool logTicksY = bLogTicksY || bLogY;
  const float y0 = AxisEnd(fYMin, bLogY), y1 = AxisEnd(fYMax, bLogY);
  int widest = 0;
  dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
  PlotScaling().bLogTickMode = logTicksY;
  ticks = ComputeTicks(true, y0, y1);
  PlotScaling().bLogTickMode = 0;
  // Labels closer than their height are thinned out; a label at an end of the axis
  // that would reach out of the plot's rectangle (into the pane above or below,
  // where another picture may cover it) is moved in.
  const std::vector<bool> yLabelled =
      LabelledTicks(*ticks, LabelStride(TickSpacing(*ticks, fScaleY), tickH, std::max(2, tickH / 6)));
  int measuredWidest = 0;
  for (std::uint32_t k = 0; k < ticks->Length(); ++k) {
    const int py = TickPixel(ticks->Get(static_cast<int>(k)), fScaleY, fOffsetY);
    dc.MoveTo(nLeft, py);
    dc.LineTo(nLeft - nTickLength, py);
    const std::string label = FormatTick(*ticks, k, bLogY, fYLabelScale);
    const TextMetrics cell = MeasureTickLabel(label);
    widest = std::max(widest, PlotTextWidth(static_cast<double>(label.size()) * tickH));
    int baseline = py + tickH / 3;
    if (nRectBottom > nRectTop)
      baseline = std::clamp(baseline, nRectTop + cell.ascent, std::max(nRectTop + cell.ascent, nRectBottom - cell.descent));
    if (!bHideTickLabels && yLabelled[k]) {
      measuredWidest = std::max(measuredWidest, cell.width);
      dc.TextOut(nLeft - nTickLength - nTickLabelGap, baseline, label);
    }
    dc.MoveTo(nRight, py);
    dc.LineTo(nRight + nTickLength, py);
    if (bRightTickLabels && !bHideTickLabels && yLabelled[k]) {
      dc.SetTextAlign(TA_LEFT | TA_BASELINE);
      dc.TextOut(nRight + nTickLength + nTickLabelGap, baseline, label);
      dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
    }
  }
  PlotScaling().bLogTickMode = logTicksY;
  ticks = ComputeTicks(false, y0, y1);
  PlotScaling().bLogTickMode = 0;
  for (std::uint32_t k = 0; k < ticks->Length(); ++k) {
    const int py = TickPixel(ticks->Get(static_cast<int>(k)), fScaleY, fOffsetY);
    dc.MoveTo(nLeft, py);
    dc.LineTo(nLeft - nMinorTickLength, py);
    dc.MoveTo(nRight, py);
    dc.LineTo(nRight + nMinorTickLength, py);
  }

  if (!bHideCurves && bMap && bColorBar) DrawColorBar(dc);

  // Axis titles and the title.
  dc.SelectFont(AtPlotHeight(hLabelFont));
  dc.SetTextAlign(TA_CENTER | TA_TOP);
  if (bXLabel)
    dc.TextOut(static_cast<int>(nLeft + 0.5 * (nRight - nLeft)),
               nBottom + nTickLength + tickH + nTickLabelGap + nXLabelOffset, szXLabel);
  // The y title's lower side (it runs upwards) stands left of the widest label drawn.
  const int titleX = nLeft - nTickLength - nTickLabelGap - measuredWidest - kYTitleGap - nYLabelOffset;
  dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
  if (bYMinLabel) dc.TextOut(titleX, nBottom, szYMinLabel);
  if (bYMaxLabel) dc.TextOut(titleX, nTop, szYMaxLabel);
  if (bYLabel) {
    dc.SetTextAlign(TA_BOTTOM | TA_CENTER);
    dc.SelectFont(AtPlotHeight(hYTitleFont));
    dc.TextOut(titleX, static_cast<int>(nBottom + 0.5 * (nTop - nBottom)), szYLabel);
    dc.SetTextAlign(TA_CENTER | TA_TOP);
  }
  if (bTitle) {
    dc.SetTextAlign(TA_CENTER | TA_TOP);
    dc.SelectFont(AtPlotHeight(hTitleFont));
    dc.TextOut(static_cast<int>(nLeft + 0.5 * (nRight - nLeft) - nTitleXOffset),
               nTop - titleH - 2 + nTitleYOffset, szTitle);
  }

  // The next background covers the widest label.
  const int left = nLeft - nTickLength - 10 - widest;
  if (left < nFrameLeft) nFrameLeft = left;

  dc.SelectPen(savedPen);
  dc.SelectBrush(savedBrush);
  dc.SelectFont(savedFont);
  std::unique_ptr<MetaFile> picture = dc.Close();
  if (!picture) return false;
  hPicture = std::move(picture);
  return true;
}

void CWINPlot::DrawColorBar(DC& dc) const {
  constexpr int w = 10;
  const int n = (nBottom - nTop) / 10 + 1;
  const int x0 = nRight + nColorBarOffset;
  for (int i = 1; i <= n; ++i) {
    const Color c = MapValueToColor(static_cast<float>(i) / static_cast<float>(n));
    const Pen oldPen = dc.SelectPen(Pen{PenStyle::Solid, 0, c});
    const Brush oldBrush = dc.SelectBrush(SolidBrush(c));
    // Step centres from the bottom up; a bar of a single step sits at the bottom.
    const double t = n > 1 ? static_cast<double>(i - 1) / (n - 1) : 0.0;
    const int yi = static_cast<int>(std::floor((nTop + 2 * w - nBottom) * t)) + nBottom - w;
    if (i < n)
      dc.Rectangle(x0, yi - 5, x0 + 21, yi + 5);
    else
      dc.Rectangle(x0, nTop, x0 + 21, yi + 5);
    dc.SelectPen(oldPen);
    dc.SelectBrush(oldBrush);
  }
  const Pen oldPen = dc.SelectPen(BlackPen());
  dc.MoveTo(x0 - 1, nBottom - 1);
  dc.LineTo(x0 + 20, nBottom - 1);
  dc.LineTo(x0 + 20, nTop);
  dc.LineTo(x0 - 1, nTop);
  dc.LineTo(x0 - 1, nBottom - 1);

  if (bColorBarTicks) {
    // Value ticks on the right side of the bar, from 0 to the largest map value or
    // over the set colour-bar range.
    const float lo = bColorBarRange ? fColorBarMin : 0.0f;
    const float hi = bColorBarRange ? fColorBarMax : fMapMax;
    if (hi != lo) {
      auto rowOf = [&](float v) {
        return static_cast<int>(nBottom + (v - lo) / (hi - lo) * (nTop - nBottom));
      };
      dc.SetTextAlign(TA_LEFT | TA_BASELINE);
      std::unique_ptr<CVector> majors = ComputeTicks(true, lo, hi);
      for (std::uint32_t k = 0; k < majors->Length(); ++k) {
        const int y = rowOf(majors->Get(static_cast<int>(k)));
        dc.MoveTo(x0 + 20, y);
        dc.LineTo(x0 + 20 + nTickLength, y);
        dc.TextOut(x0 + 20 + nTickLength + nTickLabelGap, y + PlotTextHeight(nTickFontHeight) / 3,
                   FormatTick(*majors, k, false, fYLabelScale));
      }
      std::unique_ptr<CVector> minors = ComputeTicks(false, lo, hi);
      for (std::uint32_t k = 0; k < minors->Length(); ++k) {
        const int y = rowOf(minors->Get(static_cast<int>(k)));
        dc.MoveTo(x0 + 20, y);
        dc.LineTo(x0 + 20 + nMinorTickLength, y);
      }
    }
  }
  if (bColorBarLabels) {
    dc.SetTextAlign(TA_LEFT | TA_BASELINE);
    const int x = x0 + 2 + 20 + nTitleXOffset + nColorBarLabelOffset;
    dc.TextOut(x, nBottom + 6, szColorBarLow);
    dc.TextOut(x, nTop + 6, szColorBarHigh);
  }
  if (bColorBarCaption) {
    dc.SetTextAlign(TA_LEFT | TA_BASELINE);
    dc.TextOut(x0 + nCaptionX, nTop - 6 + nCaptionY, szColorBarCaption);
  }
  dc.SelectPen(oldPen);
}

// ---------------------------------------------------------------- colour ramp

Color CWINPlot::MapValueToColor(float v) const {
  if (bMinusOneBlack && v == -1.0f) return 0x000000;
  if (!bMinusOneBlack && bMinusOneWhite && v == -1.0f) return 0xffffff;
  if (!(v >= 0.0f)) v = 0.0f;  // also a value that is not a number
  if (v > 1.0f) v = 1.0f;
  float r, g, b;
  if (v <= 0.2f) {
    r = g = 1.0f - v / 0.2f;
    b = 1.0f;
  } else if (v <= 0.4f) {
    r = 0.0f;
    g = (v - 0.2f) / 0.2f;
    b = 1.0f;
  } else if (v <= 0.65f) {
    r = (v - 0.4f) / 0.25f;
    g = 1.0f;
    b = 1.0f - (v - 0.4f) / 0.25f;
  } else if (v <= 0.9f) {
    r = 1.0f;
    g = 1.0f - (v - 0.65f) / 0.25f;
    b = 0.0f;
  } else {
    r = 1.0f - (v - 0.9f) / 0.4f;
    g = b = 0.0f;
  }
  if (bAltPalette) {
    const float grey = 100.0f / 255.0f, pr = 150.0f / 255.0f, pb = 211.0f / 255.0f;
    if (v <= 0.05f) {
      // From grey to purple.
      const float t = v / 0.05f;
      r = grey + (pr - grey) * t;
      g = grey * (1.0f - t);
      b = grey + (pb - grey) * t;
    } else if (v <= 0.2f) {
      r = (1.0f - v / 0.2f) * pr;
      g = 0.0f;
      b = (v / 0.2f) * 1.0f + ((0.2f - v) / 0.2f) * pb;
    } else if (v > 0.9f) {
      r = 1.0f - (v - 0.9f) / 0.1f;
    }
  }
  // floor(255 c); the small allowance keeps the ends of the segments exact (0.65
  // gives full red although (0.65f - 0.4f) / 0.25f falls just below 1).
  auto byte = [](float c) {
    const int k = static_cast<int>(std::floor(255.0f * c + 1e-4f));
    return std::clamp(k, 0, 255);
  };
  return RGB(byte(r), byte(g), byte(b));
}

// ---------------------------------------------------------------- line primitives

void CWINPlot::DrawDot(DC& dc, int x, int y) {
  dc.MoveTo(x, y);
  dc.LineTo(x + 1, y + 1);
  dc.MoveTo(x, y);
}

void CWINPlot::DrawAlternateDot(DC& dc, int x, int y) {
  if (PlotRedraw().bDotPhase) DrawDot(dc, x, y);
  PlotRedraw().bDotPhase = true;
}

void CWINPlot::DrawDashedLine(DC& dc, int x1, int y1, int x2, int y2) {
  const int dx = x2 - x1, dy = y2 - y1;
  if (std::abs(dx) <= 2 && std::abs(dy) <= 2) {
    // Very short steps: a dot on every second one.
    if (PlotRedraw().bDotPhase) {
      dc.MoveTo(x1, y1);
      dc.LineTo(x1 + 1, y1 + 1);
      dc.MoveTo(x2, y2);
      PlotRedraw().bDotPhase = false;
    } else {
      PlotRedraw().bDotPhase = true;
    }
    return;
  }
  PlotRedraw().bDotPhase = true;
  if (std::abs(dx) < 5 && std::abs(dy) < 5) {
    dc.MoveTo(x1, y1);
    dc.LineTo(x1 + static_cast<int>(std::floor(dx / 2.0)),
              y1 + static_cast<int>(std::floor(dy / 2.0)));
    dc.MoveTo(x2, y2);
    return;
  }
  // Dashes of 5 units and gaps of 5; the last partial dash is left out.
  const double length = std::sqrt(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
  const double sx = dx * 5.0 / length, sy = dy * 5.0 / length;
  double x = x1, y = y1;
  while (std::fabs(x2 - x) >= 10 || std::fabs(y2 - y) >= 10) {
    dc.MoveTo(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)));
    dc.LineTo(static_cast<int>(std::floor(x + sx)), static_cast<int>(std::floor(y + sy)));
    x += 2 * sx;
    y += 2 * sy;
  }
  dc.MoveTo(x2, y2);
}

void CWINPlot::DrawPointValueLabel(DC& dc, int x, int y, int curve, int point) const {
  const CCurve* c = GetCurve(curve);
  if (!c || !c->Y() || point < 0) return;
  char buffer[25] = {0};
  c->Y()->FormatElement(static_cast<std::uint32_t>(point), buffer, kLabelSize, fYLabelScale);
  dc.MoveTo(x, y);
  dc.SetTextAlign(TA_UPDATECP);
  dc.TextOut(x, y, buffer);
}

// ---------------------------------------------------------------- picture routines

void CWINPlot::DrawErrorBars(DC& dc, int i, const float* lower, const float* upper, int first,
                             int last, Color color) const {
  const CCurve* c = GetCurve(i);
  if (!c || !c->X() || !lower || !upper) return;
  const int n = static_cast<int>(c->X()->Length());
  first = std::max(first, 0);
  last = std::min(last, n - 1);
  const Pen oldPen = dc.SelectPen(Pen{PenStyle::Solid, 0, color});
  for (int k = first; k <= last; ++k) {
    const int px = MapX(c->X()->Get(k));
    const int py = MapY(c->Y() ? c->Y()->Get(k) : 0.0f);
    const int down = py - static_cast<int>(lower[k] * fScaleY);
    const int up = py + static_cast<int>(upper[k] * fScaleY);
    for (int end : {down, up}) {
      dc.MoveTo(px, py);
      dc.LineTo(px, end);
      dc.MoveTo(px - PlotRedraw().nErrorBarCap, end);
      dc.LineTo(px + PlotRedraw().nErrorBarCap, end);
    }
  }
  dc.SelectPen(oldPen);
}

void CWINPlot::PlotFunction(DC& dc, float (*f)(float), int n, Color color) const {
  if (nCurves == 0) {
    RaiseError("Plot function without data not yet implemented");
    return;
  }
  if (!f || n <= 0) return;
  const Pen oldPen = dc.SelectPen(Pen{PenStyle::Solid, 0, color});
  for (int i = 0; i < n; ++i) {
    const float x = fXMin + (fXMax - fXMin) * static_cast<float>(i) / static_cast<float>(n);
    const int px = MapX(x), py = MapY(f(x));
    if (i == 0)
      dc.MoveTo(px, py);
    else
      dc.LineTo(px, py);
  }
  dc.SelectPen(oldPen);
}

std::unique_ptr<MetaFileDC> CWINPlot::CreatePictureDC() const {
  auto dc = std::make_unique<MetaFileDC>();
  dc->SetWindowExt(kPictureWidth, kPictureHeight);
  dc->SelectPen(BlackPen());
  dc->SelectBrush(SolidBrush(crBackground));
  if (bFillBackground) dc->Rectangle(nFrameLeft, nFrameBottom, nFrameRight, nFrameTop);
  return dc;
}

std::unique_ptr<MetaFile> CWINPlot::DrawDashedVerticalLine(float x, Color color) const {
  MetaFileDC dc;
  dc.SetWindowExt(kPictureWidth, kPictureHeight);
  dc.SelectPen(Pen{PenStyle::Solid, 0, color});
  const int px = MapX(x);
  DrawDashedLine(dc, px, nBottom - 2, px, nTop + 1);
  return dc.Close();
}

std::unique_ptr<MetaFile> CWINPlot::DrawHighlightFrame(Color color) const {
  MetaFileDC dc;
  dc.SetWindowExt(kPictureWidth, kPictureHeight);
  dc.SelectPen(Pen{PenStyle::Solid, 0, color});
  for (int d = -1; d <= 1; ++d) {
    DrawDashedLine(dc, nLeft, nBottom + d, nRight, nBottom + d);
    DrawDashedLine(dc, nLeft, nTop + d, nRight, nTop + d);
    DrawDashedLine(dc, nLeft + d, nBottom, nLeft + d, nTop);
    DrawDashedLine(dc, nRight + d, nBottom, nRight + d, nTop);
  }
  return dc.Close();
}

std::unique_ptr<MetaFile> CWINPlot::DrawVerticalLine(float x, Color color) const {
  MetaFileDC dc;
  dc.SetWindowExt(kPictureWidth, kPictureHeight);
  dc.SelectPen(Pen{PenStyle::Solid, 0, color});
  const int px = MapX(x);
  dc.MoveTo(px, nBottom - 2);
  dc.LineTo(px, nTop + 1);
  return dc.Close();
}

}  // namespace tarmic
