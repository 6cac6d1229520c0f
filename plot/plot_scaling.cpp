// CWINPlot: the plot rectangle, automatic and fixed ranges, the mapping from data
// to picture units, conversions back to data, and tick values.
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/picture_space.h"
#include "plot/winplot.h"

namespace tarmic {

namespace {

// A picture coordinate from a mapped value, truncated toward zero. Values that do
// not fit an int (or are not numbers) are held far outside the picture, so that a
// degenerate mapping can never make an undefined conversion.
int ToPicture(float v) {
  if (std::isnan(v)) return 0;
  constexpr float kLimit = 1.0e9f;
  if (v > kLimit) return static_cast<int>(kLimit);
  if (v < -kLimit) return -static_cast<int>(kLimit);
  return static_cast<int>(v);
}

// Equal ends of a range are moved apart before a scale is computed from them:
// +-1 on a linear axis, x10 and x0.1 on a logarithmic one.
void WidenEqualEnds(float& lo, float& hi, bool logAxis) {
  if (lo != hi) return;
  if (logAxis && lo > 0) {
    hi *= 10.0f;
    lo *= 0.1f;
  } else {
    hi += 1.0f;
    lo -= 1.0f;
  }
  if (lo == hi) {  // values too large for +-1 to change them
    const float d = std::fabs(lo) * 0.1f;
    hi += d;
    lo -= d;
  }
}

// Widening of equal and nearly equal automatic ends (before margins).
void WidenAutomaticEnds(float& lo, float& hi, bool logAxis) {
  if (lo == hi) {
    if (logAxis) {
      hi *= 10.0f;
      lo *= 0.1f;
    } else {
      hi += 1.0f;
      lo -= 1.0f;
    }
  }
  if (!logAxis) {
    if ((hi != 0 && std::fabs((hi - lo) / hi) < 1e-15f) ||
        (hi == 0 && lo != 0 && std::fabs((hi - lo) / lo) < 1e-15f)) {
      hi += 1.0f;
      lo -= 1.0f;
    }
  } else if (hi != 0 || lo != 0) {
    const float r = hi != 0 ? (hi - lo) / hi : (hi - lo) / lo;
    if (std::fabs(r) < 0.01f) {
      hi *= 1.1f;
      lo *= 0.9f;
    }
  }
}

// Margins of 0.05 of the span on both ends, in decades on a logarithmic axis.
void AddLogMargins(float& lo, float& hi) {
  if (lo <= 0 || hi <= 0) return;
  const float llo = std::log10(lo), lhi = std::log10(hi);
  const float s = lhi - llo;
  lo = std::pow(10.0f, llo - 0.05f * s);
  hi = std::pow(10.0f, lhi + 0.05f * s);
}

// Recomputes one scale/offset pair and reports whether a previously non-zero value
// changed.
bool SetMapping(float& scale, float& offset, float lo, float hi, bool logAxis, int startPixel,
                int endPixel) {
  float newScale, newOffset;
  if (logAxis) {
    newScale = (endPixel - startPixel) / (std::log10(hi) - std::log10(lo));
    newOffset = startPixel - std::log10(lo) * newScale;
  } else {
    newScale = (endPixel - startPixel) / (hi - lo);
    newOffset = startPixel - lo * newScale;
  }
  bool changed = false;
  if (newScale != scale && scale != 0) changed = true;
  if (newOffset != offset && offset != 0) changed = true;
  scale = newScale;
  offset = newOffset;
  return changed;
}

}  // namespace

// ---------------------------------------------------------------- mapping

int CWINPlot::MapX(float x) const {
  if (bLogX) {
    if (x <= 0) return nLeft - nLogFloorOffset;
    return ToPicture(std::log10(x) * fScaleX + fOffsetX);
  }
  return ToPicture(x * fScaleX + fOffsetX);
}

int CWINPlot::MapY(float y) const {
  if (bLogY) {
    if (y <= 0) return nBottom - nLogFloorOffset;
    return ToPicture(std::log10(y) * fScaleY + fOffsetY);
  }
  return ToPicture(y * fScaleY + fOffsetY);
}

void CWINPlot::UpdateXMapping() {
  WidenEqualEnds(fXMin, fXMax, bLogX);
  if (SetMapping(fScaleX, fOffsetX, fXMin, fXMax, bLogX, nLeft, nRight)) bScalingChanged = 1;
}

void CWINPlot::UpdateYMapping() {
  WidenEqualEnds(fYMin, fYMax, bLogY);
  if (SetMapping(fScaleY, fOffsetY, fYMin, fYMax, bLogY, nBottom, nTop)) bScalingChanged = 1;
}

void CWINPlot::UpdateMapping() {
  bScalingChanged = 0;
  UpdateXMapping();
  UpdateYMapping();
}

// ---------------------------------------------------------------- rectangle and ranges

void CWINPlot::SetPlotRect(int top, int left, int bottom, int right) {
  // The product is rounded to float before truncation: 75 x 1.4f is 105 (not
  // 104.99999...), 600 x 1.4f is 840, so round client widths map to round columns.
  nRectLeft = static_cast<int>(static_cast<float>(static_cast<float>(left) * fHorzDisplayFactor));
  nRectRight = static_cast<int>(static_cast<float>(static_cast<float>(right) * fHorzDisplayFactor));
  nRectBottom = bottom;
  nRectTop = top;
  LayOutPlotArea(true);
  if (nCurves > 0) AutoScale();
  PlaceButtons();
}

bool CWINPlot::LayOutPlotArea(bool always) {
  // Room beyond the nominal sizes: under the plot the x tick labels and the x
  // title; above it half a y tick label (the top one is centred on the edge) and the
  // title; left of it the y tick labels (one tick height per character, as the
  // y title is placed) and the y title, which runs upwards, so that its height lies
  // across. What lies across takes the text width factor.
  const int tick = bHideTickLabels ? 0 : PlotTextHeight(nTickFontHeight) - nTickFontHeight;
  const int tickAcross =
      bHideTickLabels ? 0 : PlotTextWidth(PlotTextHeight(nTickFontHeight)) - nTickFontHeight;
  const int label = PlotTextHeight(nLabelFontHeight) - nLabelFontHeight;
  const int labelAcross = PlotTextWidth(PlotTextHeight(nLabelFontHeight)) - nLabelFontHeight;
  const int title = PlotTextHeight(nTitleFontHeight) - nTitleFontHeight;
  const int below = tick + (bXLabel ? label : 0);
  const int above = tick / 2 + (bTitle ? title : 0);
  // The y title stands left of the widest tick label as measured (see Redraw): the
  // area keeps the title inside the picture as well.
  const int yTitleAcross = bYLabel ? PlotTextWidth(PlotTextHeight(nLabelFontHeight)) : 0;
  const int measured = (bHideTickLabels ? 0 : nYTickWidth) + yTitleAcross + nTickLength +
                       2 * nTickLabelGap + kYTitleGap - nRectLeft;
  const int left = std::max(nYTickChars * tickAcross / 2 + (bYLabel ? labelAcross : 0), measured);
  // Right-hand tick labels start nTickLength + nTickLabelGap right of the plot; a
  // digit is about 0.55 of a font height wide. What would reach past the picture's
  // right edge (less 2 units) comes off the plot area.
  int right = 0;
  if (bRightTickLabels && !bHideTickLabels) {
    const int width = PlotTextWidth(0.55 * nYTickChars * PlotTextHeight(nTickFontHeight));
    const int end = nRectRight + nTickLength + nTickLabelGap + width;
    right = std::max(0, end - (kPictureWidth - 2));
  }
  nLayoutTextHeight = nMinPlotTextHeight;
  if (!always && nLeft == nRectLeft + left && nRight == nRectRight - right &&
      nBottom == nRectBottom - below && nTop == nRectTop + above)
    return false;
  nLeft = nRectLeft + left;
  nRight = nRectRight - right;
  nBottom = nRectBottom - below;
  nTop = nRectTop + above;
  nFrameLeft = nLeft - nTickLength;
  nFrameBottom = nBottom + nTickLength + 20;
  nFrameRight = nRight + nTickLength;
  nFrameTop = nTop - nTickLength;
  return true;
}

void CWINPlot::CurveWindow(int i, int* first, int* last) const {
  const CCurve* c = ppCurves[static_cast<std::size_t>(i)];
  const int n = (c && c->X()) ? static_cast<int>(c->X()->Length()) : 0;
  *first = 0;
  *last = n - 1;
  if (pRangeSet[static_cast<std::size_t>(i)]) {
    const int rf = pRangeFirst[static_cast<std::size_t>(i)];
    const int rl = pRangeLast[static_cast<std::size_t>(i)];
    const int end = n - 1;
    if (rf >= 0 && rf <= end) *first = rf;
    if (rl >= 0 && rl <= end) *last = rl;
  }
}

void CWINPlot::AutoScale() {
  if (nCurves == 0) {
    fScaleX = fScaleY = fOffsetX = fOffsetY = 0;
    fXMin = fYMin = -1;
    fXMax = fYMax = 1;
    return;
  }
  if (bFixedX && bFixedY) return;

  std::vector<int> first(static_cast<std::size_t>(nCurves)), last(first.size());
  for (int i = 0; i < nCurves; ++i) CurveWindow(i, &first[i], &last[i]);
  auto xs = [&](int i) -> const CVector* {
    const CCurve* c = ppCurves[static_cast<std::size_t>(i)];
    return c ? c->X() : nullptr;
  };
  auto ys = [&](int i) -> const CVector* {
    const CCurve* c = ppCurves[static_cast<std::size_t>(i)];
    return c ? c->Y() : nullptr;
  };
  static const CVector kEmpty;
  auto orEmpty = [](const CVector* v) -> const CVector& { return v ? *v : kEmpty; };

  // A logarithmic y axis cannot show negative values of the later curves.
  if (bLogY) {
    for (int i = 1; i < nCurves; ++i)
      if (orEmpty(ys(i)).MinInRange(first[i], last[i]) < 0) bLogY = 0;
  }

  if (!bFixedX) {
    for (int i = 0; i < nCurves; ++i) {
      const CVector& x = orEmpty(xs(i));
      float lo, hi;
      if (bLogX) {
        bool none = false;
        lo = x.MinPositiveInRange(first[i], last[i], &none);
        hi = x.MaxPositiveInRange(first[i], last[i], &none);
      } else {
        lo = x.MinInRange(first[i], last[i]);
        hi = x.MaxInRange(first[i], last[i]);
      }
      fXMin = i == 0 ? lo : MinFloat(fXMin, lo);
      fXMax = i == 0 ? hi : MaxFloat(fXMax, hi);
    }
    WidenAutomaticEnds(fXMin, fXMax, bLogX);
    if (bLogX) {
      AddLogMargins(fXMin, fXMax);
    } else {
      const float s = fXMax - fXMin;
      fXMin -= 0.05f * s;
      fXMax += 0.05f * s;
    }
  }

  if (!bFixedY) {
    const int skipped = (bMap && bMapYRange && nMapCurve != 0) ? nMapCurve : -1;
    bool any = false;
    for (int i = 0; i < nCurves; ++i) {
      if (i == skipped) continue;
      const CVector& y = orEmpty(ys(i));
      float lo, hi;
      if (bLogY) {
        bool none = false;
        lo = y.MinPositiveInRange(first[i], last[i], &none);
        hi = y.MaxPositiveInRange(first[i], last[i], &none);
      } else {
        lo = y.MinInRange(first[i], last[i]);
        hi = y.MaxInRange(first[i], last[i]);
      }
      fYMin = any ? MinFloat(fYMin, lo) : lo;
      fYMax = any ? MaxFloat(fYMax, hi) : hi;
      any = true;
    }
    if (!any) fYMin = fYMax = 0;
    if (!bLogY && fYMin > 0 && bYFromZero) fYMin = 0;
    WidenAutomaticEnds(fYMin, fYMax, bLogY);
    if (bLogY) {
      AddLogMargins(fYMin, fYMax);
    } else {
      fYMax += 0.05f * (fYMax - fYMin);
      // Positive data keep a lower margin, but never one that crosses zero.
      if (!bYFromZero && fYMin > 0) {
        const float m = fYMin - 0.05f * (fYMax - fYMin);
        fYMin = m >= 0 ? m : 0;
      }
    }
  }

  if (bLogX && (fXMax < 0 || fXMin < 0)) bLogX = 0;
  UpdateMapping();
}

void CWINPlot::ResetRanges() {
  bFixedX = 0;
  bFixedY = 0;
  AutoScale();
}

void CWINPlot::SetRanges(float xmin, float xmax, float ymin, float ymax) {
  if (nCurves == 0) {
    fScaleX = fScaleY = fOffsetX = fOffsetY = 0;
    fXMin = fYMin = -1;
    fXMax = fYMax = 1;
    return;
  }
  if (std::fabs(ymin - ymax) < 1e-10f || std::fabs(xmin - xmax) < 1e-10f) return;
  bFixedX = bFixedY = 1;
  fXMin = xmin;
  fXMax = xmax;
  fYMin = ymin;
  fYMax = ymax;
  if (fYMax > 1e10f) fYMax = 1.0f;
  UpdateMapping();
}

void CWINPlot::SetXRange(float xmin, float xmax) {
  if (nCurves == 0) {
    SetRanges(xmin, xmax, 0, 0);
    return;
  }
  bFixedX = 1;
  fXMin = xmin;
  fXMax = xmax;
  bScalingChanged = 0;
  UpdateXMapping();
}

void CWINPlot::SetYRange(float ymin, float ymax) {
  if (nCurves == 0) {
    SetRanges(0, 0, ymin, ymax);
    return;
  }
  bFixedY = 1;
  fYMin = ymin;
  fYMax = ymax;
  bScalingChanged = 0;
  UpdateYMapping();
}

void CWINPlot::SetXRangeAutoY(float xmin, float xmax) {
  if (nCurves == 0) {
    SetRanges(xmin, xmax, 0, 0);
    return;
  }
  bFixedX = 1;
  bFixedY = 0;
  fXMin = xmin;
  fXMax = xmax;
  for (int i = 0; i < nCurves; ++i) {
    int first, last;
    CurveWindow(i, &first, &last);
    const CCurve* c = ppCurves[static_cast<std::size_t>(i)];
    const float lo = c ? c->MinYInWindow(xmin, xmax, first, last + 1) : 0.0f;
    const float hi = c ? c->MaxYInWindow(xmin, xmax, first, last + 1) : 0.0f;
    fYMin = i == 0 ? lo : MinFloat(fYMin, lo);
    fYMax = i == 0 ? hi : MaxFloat(fYMax, hi);
  }
  if (fYMin > 0 && bYFromZero) fYMin = 0;
  if (fYMin == fYMax) {
    if (bLogY) {
      fYMax *= 10.0f;
      fYMin *= 0.1f;
      if (fYMax == 0) fYMax = 1.0f;
      if (fYMin == 0) fYMin = 0.1f * fYMax;
    } else {
      fYMax += 1.0f;
      fYMin -= 1.0f;
    }
  }
  UpdateMapping();
}

// ---------------------------------------------------------------- back to data

int CWINPlot::PixelToData(float px, float py, float* x, float* y) const {
  if (nLeft == 0 && nRight == 0 && nBottom == 0 && nTop == 0) return 0;
  const float X = fHorzDisplayFactor * px;
  const double l = std::min(nLeft, nRight), r = std::max(nLeft, nRight);
  // The strip of the corner buttons under the top edge does not count.
  const double b1 = nBottom, b2 = nTop + nButtonSize;
  const bool inside = X >= l && X <= r && py >= std::min(b1, b2) && py <= std::max(b1, b2);
  if (!inside || fScaleX == 0 || fScaleY == 0) return 0;
  if (x) {
    const float v = (std::trunc(X) - fOffsetX) / fScaleX;
    *x = bLogX ? std::pow(10.0f, v) : v;
  }
  if (y) {
    const float v = (std::trunc(py) - fOffsetY) / fScaleY;
    *y = bLogY ? std::pow(10.0f, v) : v;
  }
  return 1;
}

float CWINPlot::PixelRowToMapY(int row) const {
  if (!bMapYRange) return 0;
  if (nTop == nBottom) return fMapYMin;
  return fMapYMin + (row - nBottom) * (fMapYMax - fMapYMin) / (nTop - nBottom);
}

// ---------------------------------------------------------------- ticks

namespace {

constexpr int kMaxTicks = 10000;

struct Placement {
  float first = 0;
  int n = 0;
};

// The multiples of step from lo to hi: the first at or above lo, and their count.
Placement Place(float lo, float hi, float step) {
  Placement p;
  const float q = std::floor(lo / step);
  p.first = (q * step == lo) ? lo : (q + 1) * step;
  const float n = std::floor((hi - p.first) / step) + 1;
  p.n = n < 0 ? 0 : (n > kMaxTicks ? kMaxTicks : static_cast<int>(n));
  return p;
}

}  // namespace

std::unique_ptr<CVector> CWINPlot::ComputeTicks(bool major, float lo, float hi) const {
  std::vector<float> values;
  float step = (lo == hi) ? 0.0f : std::pow(10.0f, std::floor(std::log10(std::fabs(hi - lo))));
  if (step > 0 && std::isfinite(step) && std::isfinite(lo) && std::isfinite(hi)) {
    Placement p = Place(lo, hi, step);
    if (!PlotScaling().bLogTickMode || major) {
      if (!PlotScaling().bLogTickMode && p.n < nMinTicks) {
        step *= 0.5f;
        p = Place(lo, hi, step);
      }
      if (!major) {
        step *= p.n > 2 ? 0.2f : 0.1f;
        p = Place(lo, hi, step);
      }
      for (int i = 0; i < p.n; ++i) values.push_back(p.first + i * step);
    } else {
      // Minor ticks of a logarithmic axis, in decades: the positions of 2..9 times a
      // power of ten between the majors, and those below the first and above the
      // last major that still lie inside lo..hi.
      for (int k = 1; k <= 9; ++k) {
        const float v = p.first - (1.0f - std::log10(static_cast<float>(10 - k))) * step;
        if (!(v > lo)) break;
        values.push_back(v);
      }
      for (int i = 0; i + 1 < p.n; ++i) {
        const float m = p.first + i * step;
        for (int k = 2; k <= 9; ++k) values.push_back(m + std::log10(static_cast<float>(k)) * step);
      }
      if (p.n > 0) {
        const float m = p.first + (p.n - 1) * step;
        for (int k = 2; k <= 9; ++k) {
          const float v = m + std::log10(static_cast<float>(k)) * step;
          if (!(v < hi)) break;
          values.push_back(v);
        }
      }
      if (values.size() > static_cast<std::size_t>(kMaxTicks)) values.resize(kMaxTicks);
    }
  }
  if (values.empty()) return std::make_unique<CVector>();
  return std::make_unique<CVector>(static_cast<std::uint32_t>(values.size()), values.data(), 1);
}

}  // namespace tarmic
