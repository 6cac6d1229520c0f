// CWINPlot: construction, the curve list, per-curve attributes and the plot-wide
// settings.
#include "plot/winplot.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/screen_button.h"

namespace tarmic {

namespace {

// Text buffers of the plot hold at most capacity-1 characters.
std::string Bounded(const char* text, std::size_t capacity) {
  if (!text) return std::string();
  std::string s(text);
  if (s.size() > capacity - 1) s.resize(capacity - 1);
  return s;
}

constexpr std::size_t kTextCapacity = 100;
constexpr std::size_t kCaptionCapacity = 500;

int CurveLength(const CCurve* c) {
  return (c && c->X()) ? static_cast<int>(c->X()->Length()) : 0;
}

}  // namespace

float MinFloat(float a, float b) { return a < b ? a : b; }
float MaxFloat(float a, float b) { return a > b ? a : b; }

CWINPlot::CWINPlot() { InitColorTable(); }

CWINPlot::CWINPlot(CCurve* c) {
  InitColorTable();
  nDefaultStyle = 0;
  if (!c) return;
  // The plot's own curve shares c's vectors; it is owned through the list of
  // curves made here.
  ownCurve_ = std::make_unique<CCurve>(c->X(), c->Y());
  AddCurve(ownCurve_.get());
  pCurveStyle[0] = 0;
  pCurveColor[0] = GetTableColor(1);
  AutoScale();
}

CWINPlot::~CWINPlot() = default;

void CWINPlot::InitColorTable() {
  static constexpr Color kTable[10] = {0x000000, 0x0000ff, 0x00ffff, 0x00ff00, 0x6464ff,
                                       0xffff00, 0xff0000, 0xffc864, 0xff00ff, 0x006464};
  for (int i = 0; i < 10; ++i) pColorTable[i] = kTable[i];
}

// ---------------------------------------------------------------- curve list

void CWINPlot::AddCurve(CCurve* c) {
  AppendCurve(c);
  AutoScale();
  if (!bScalingChanged && nCurves == 1) Redraw();
}

void CWINPlot::AddCurves(const std::vector<CCurve*>& curves) {
  std::size_t k = 0;
  // The first curve of an empty plot as AddCurve adds it (its first picture).
  if (nCurves == 0 && !curves.empty()) AddCurve(curves[k++]);
  if (k == curves.size()) return;
  for (; k < curves.size(); ++k) AppendCurve(curves[k]);
  AutoScale();
}

void CWINPlot::AppendCurve(CCurve* c) {
  const int index = nCurves;
  ppCurves.push_back(c);
  pCurveStyle.push_back(nDefaultStyle);
  // The very first curve takes table colour 1, so the first two curves share it.
  pCurveColor.push_back(GetTableColor(index == 0 ? 1 : index));
  pColorSet.push_back(0);
  ppLegends.emplace_back();
  pRangeSet.push_back(0);
  pRangeFirst.push_back(0);
  pRangeLast.push_back(0);
  ++nCurves;
}

void CWINPlot::ReplaceLastCurve(CCurve* c) {
  if (nCurves == 0) return;
  ppCurves[static_cast<std::size_t>(nCurves - 1)] = c;
  AutoScale();
  Redraw();
}

void CWINPlot::SetCurve(int i, CCurve* c) {
  if (i < 0 || i >= nCurves) return;
  ppCurves[static_cast<std::size_t>(i)] = c;
}

CCurve* CWINPlot::GetCurve(int i) const {
  if (i < 0 || i >= nCurves) return nullptr;
  return ppCurves[static_cast<std::size_t>(i)];
}

void CWINPlot::RemoveLastCurve() {
  if (nCurves == 0) return;
  --nCurves;
  const std::size_t n = static_cast<std::size_t>(nCurves);
  ppCurves.resize(n);
  pCurveStyle.resize(n);
  pCurveColor.resize(n);
  pColorSet.resize(n);
  ppLegends.resize(n);
  pRangeSet.resize(n);
  pRangeFirst.resize(n);
  pRangeLast.resize(n);
  if (nCurves == 0) {
    fScaleX = fScaleY = fOffsetX = fOffsetY = 0;
  }
}

void CWINPlot::ClearCurves() {
  if (nCurves == 0) return;
  ppCurves.clear();
  pCurveStyle.clear();
  pCurveColor.clear();
  pColorSet.clear();
  ppLegends.clear();
  pRangeSet.clear();
  pRangeFirst.clear();
  pRangeLast.clear();
  bLegend = 0;
  nCurves = 0;
}

// ---------------------------------------------------------------- per-curve attributes

void CWINPlot::SetCurveStyle(int i, int style) {
  if (i < 0 || i >= nCurves) return;
  pCurveStyle[static_cast<std::size_t>(i)] = style;
}

int CWINPlot::GetCurveStyle(int i) const {
  if (i < 0 || i >= nCurves) return 0;
  return pCurveStyle[static_cast<std::size_t>(i)];
}

void CWINPlot::SetCurveColor(int i, Color color) {
  if (i < 0 || i >= nCurves) return;
  pCurveColor[static_cast<std::size_t>(i)] = color;
  pColorSet[static_cast<std::size_t>(i)] = 1;
}

Color CWINPlot::GetCurveColor(int i) const {
  if (i < 0 || i >= nCurves) return 0;
  return pCurveColor[static_cast<std::size_t>(i)];
}

void CWINPlot::SetCurveIndexRange(int i, int first, int last) {
  if (i < 0 || i >= nCurves) return;
  const std::size_t k = static_cast<std::size_t>(i);
  const int length = CurveLength(ppCurves[k]);
  pRangeSet[k] = 1;
  pRangeFirst[k] = first < 0 ? 0 : first;
  pRangeLast[k] = last >= length ? length - 1 : last;
}

void CWINPlot::SetCurveLegend(int i, const char* text) {
  if (i < 0 || i >= nCurves) return;
  ppLegends[static_cast<std::size_t>(i)] = Bounded(text, kTextCapacity);
}

namespace {

// Shared by the two error-value sets.
bool AttachErrors(std::vector<std::unique_ptr<CVector>>& sets, int maxCurve, int i, float* v,
                  int n) {
  if (sets.empty()) sets.resize(static_cast<std::size_t>(maxCurve) + 1);
  auto view = std::make_unique<CVector>();
  view->AttachNR(v, static_cast<std::uint32_t>(n), 1);
  sets[static_cast<std::size_t>(i)] = std::move(view);
  return true;
}

}  // namespace

void CWINPlot::AttachErrorValuesA(int i, float* v, int n) {
  if (i < 0 || i >= nCurves || i > nMaxErrorCurve || !v) return;
  if (n != CurveLength(ppCurves[static_cast<std::size_t>(i)])) return;
  AttachErrors(ppErrorsA, nMaxErrorCurve, i, v, n);
  bHasErrorsA = 1;
  PlotRedraw().nErrorBarCap = static_cast<int>(std::floor(1.5 * nMarkSize));
}

void CWINPlot::AttachErrorValuesB(int i, float* v, int n) {
  if (i < 0 || i >= nCurves || i > nMaxErrorCurve || !v) return;
  if (n != CurveLength(ppCurves[static_cast<std::size_t>(i)])) return;
  AttachErrors(ppErrorsB, nMaxErrorCurve, i, v, n);
  bHasErrorsB = 1;
  PlotRedraw().nErrorBarCap = static_cast<int>(std::floor(1.5 * nMarkSize));
}

// ---------------------------------------------------------------- texts and settings

const char* CWINPlot::SetXAxisLabel(const char* text) {
  szXLabel = Bounded(text, kTextCapacity);
  bXLabel = 1;
  return szXLabel.c_str();
}

const char* CWINPlot::SetYAxisLabel(const char* text) {
  szYLabel = Bounded(text, kTextCapacity);
  bYLabel = 1;
  return szYLabel.c_str();
}

void CWINPlot::ClearXAxisLabel() {
  szXLabel.clear();
  bXLabel = 0;
}

void CWINPlot::ClearYAxisLabel() {
  szYLabel.clear();
  bYLabel = 0;
}

const char* CWINPlot::SetYMinLabel(const char* text) {
  szYMinLabel = Bounded(text, kTextCapacity);
  bYMinLabel = 1;
  return szYMinLabel.c_str();
}

const char* CWINPlot::SetYMaxLabel(const char* text) {
  szYMaxLabel = Bounded(text, kTextCapacity);
  bYMaxLabel = 1;
  return szYMaxLabel.c_str();
}

void CWINPlot::SetTitle(const char* text) {
  szTitle = Bounded(text, kTextCapacity);
  bTitle = 1;
}

void CWINPlot::SetTableColor(int i, Color color) {
  if (i >= 0 && i <= 9) pColorTable[i] = color;
}

Color CWINPlot::GetTableColor(int i) const {
  if (i < 0) return 0xc8c8c8;
  return pColorTable[i % 10];
}

void CWINPlot::SetDefaultStyle(int style) { nDefaultStyle = style < 5 ? style : style % 4; }

void CWINPlot::AddXBand(CVector* x01) {
  if (nBands >= nMaxBands) return;
  ppBands.push_back(x01);
  ++nBands;
}

void CWINPlot::SetMapYGrid(int i, const float* grid, int first, int last, bool projections) {
  if (!grid) return;
  pMapYGrid = grid + first;
  nMapYGrid = last >= first ? last - first + 1 : 0;
  bMap = 1;
  nMapCurve = i;
  bMapProjections = projections;
}

void CWINPlot::SetMapYRange(float a, float b) {
  if (a == b) {
    bMapYRange = 0;
    fMapYMin = fMapYMax = 0;
    return;
  }
  fMapYMin = MinFloat(a, b);
  fMapYMax = MaxFloat(a, b);
  bMapYRange = 1;
}

void CWINPlot::SetPointMask(const int* mask, int n, int p2, Color color, int p1) {
  if (n <= 0 || !mask) return;
  pPointMask.assign(mask, mask + n + 1);  // mask[1..n]; element 0 is not used
  pPointMask[0] = 0;
  nPointMask = n;
  crMaskColor = color;
  nMaskParam1 = p1;
  nMaskParam2 = p2;
}

void CWINPlot::SetColorBarRange(float lo, float hi) {
  if (hi == lo) hi = lo == 0 ? 1.0f : 2 * lo;
  fColorBarMin = lo;
  fColorBarMax = hi;
  bColorBarRange = 1;
}

const char* CWINPlot::SetColorBarEndLabels(int offset, const char* low, const char* high) {
  nColorBarLabelOffset = offset;
  szColorBarLow = Bounded(low, kTextCapacity);
  szColorBarHigh = Bounded(high, kTextCapacity);
  bColorBarLabels = 1;
  return szColorBarHigh.c_str();
}

void CWINPlot::SetColorBarCaption(int dx, int dy, const char* text) {
  nCaptionX = dx;
  nCaptionY = dy;
  szColorBarCaption = Bounded(text, kCaptionCapacity);
  bColorBarCaption = 1;
}

// ---------------------------------------------------------------- corner buttons

void CWINPlot::CreateCornerButtons(int number) {
  char numberText[16];
  std::snprintf(numberText, sizeof numberText, "%d", number);
  const int numberLength = static_cast<int>(std::strlen(numberText));
  if (ppButtons.empty()) {
    struct CornerButton {
      const char* label;
      Color offFill;
      Color onFill;
    };
    const CornerButton corners[4] = {{numberText, RGB(220, 220, 250), RGB(240, 240, 255)},
                           {"X", RGB(250, 190, 190), RGB(255, 220, 220)},
                           {"i", RGB(190, 220, 250), RGB(220, 240, 255)},
                           {"e", RGB(190, 240, 190), RGB(220, 255, 220)}};
    for (int k = 0; k < 4; ++k) {
      auto button = std::make_unique<CScreenButton>();
      const int length = static_cast<int>(std::strlen(corners[k].label));
      button->SetLabels(corners[k].label, length, corners[k].label, length);
      button->crOffFill = corners[k].offFill;
      button->crOnFill = corners[k].onFill;
      if (k == 0)
        button->SetRaisedBaselineText();
      else
        button->SetBaselineText();
      ppButtons.push_back(std::move(button));
    }
    nButtons = 4;
  } else {
    ppButtons[0]->SetLabels(numberText, numberLength, numberText, numberLength);
  }
  PlaceButtons();
}

void CWINPlot::PlaceButtons() {
  // Side by side from the top-right corner of the plot rectangle leftwards, one
  // button size square each, hanging under the top edge.
  for (int k = 0; k < nButtons; ++k) {
    CScreenButton& b = *ppButtons[static_cast<std::size_t>(k)];
    const int right = nRight - k * nButtonSize;
    b.SetRect(static_cast<float>(nTop), static_cast<float>(right - nButtonSize),
              static_cast<float>(nTop + nButtonSize), static_cast<float>(right));
    b.Paint();
  }
}

}  // namespace tarmic
