// Peak finder, peak labels and peak information of the distribution pane.
#include "commands/distribution_peak_tools.h"

#include <cmath>
#include <memory>
#include <string>

#include "app/panes.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/text_format.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_transforms.h"
#include "distributions/distribution_variants.h"
#include "modelfit/model_flags.h"
#include "numerics/ccurve.h"
#include "services/error_box.h"
#include "numerics/hydrodynamics.h"
#include "numerics/rods_worms.h"
#include "numerics/solvent_constants.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"

namespace tarmic {

int nPeakLabels = 0;
std::unique_ptr<CScreenButton> pPeakLabels[kMaxPeakLabels + 1];
float afPeakX[kMaxPeakLabels + 1] = {};
float afPeakArea[kMaxPeakLabels + 1] = {};
float afPeakFraction[kMaxPeakLabels + 1] = {};
int anPeakIndex[kMaxPeakLabels + 1] = {};
bool bPeakLabelsKept = false;
bool bPeakLabelsNew = false;

namespace {

// Share of the total below which a peak gets no label.
constexpr float kMinPeakFraction = 0.0001f;
// Share of the peak height at which a side's walk may end.
constexpr float kPeakEdgeFraction = 0.9f;
// Below this share of the peak height a side ends at once.
constexpr float kPeakFloor = 0.01f;
constexpr Color kPeakColour = RGB(255, 0, 0);
constexpr int kPeakStyle = 12;

// The c(s) variants whose molar mass follows their own relation.
bool OwnMassRelation() {
  return bCsScalingLaw || bCsWormChain || bCsMsTable || bCsConformationalChange || bCsInvariantD ||
         bCsModel521;
}

// Any c(s) variant that labels its peaks with a molar mass.
bool CsVariant() {
  return OwnMassRelation() || bCsBimodalFf0 || bCsBimodalFf0OneDiscrete || bCsFloatingVbar ||
         bCsOneDiscreteD || bCsOneDiscreteM;
}

// The walk of one side of a peak at i with height p: direction -1 (left) or +1.
// Returns the number of steps and the side's edge value.
int WalkSide(const float* v, int n, int i, float p, float f, int direction, float* edge) {
  for (int j = 0;; ++j) {
    const int k = i + direction * j;
    const int next = k + direction;
    // The values have fallen to the fraction and stop falling at the next point.
    if (next >= 1 && next <= n) {
      const float q = v[next];
      if (q <= f * p && q >= v[k]) {
        *edge = v[k - direction];
        return j;
      }
    }
    const float e = v[k];
    if (e / p < kPeakFloor) {
      *edge = e;
      return j;
    }
    if (direction < 0 && k == 1) {
      *edge = e;
      return j;
    }
    if (direction > 0 && k + 1 == n) {
      // The walk ends on the last grid point.
      *edge = v[n];
      return j + 1;
    }
    // The values rose again: back to the minimum.
    if (j > 1 && e > v[k - direction]) {
      *edge = v[i + direction * (j - 1)];
      return j - 1;
    }
  }
}

// The peak labels' pictures are played in the client area with the screen mapping.
std::unique_ptr<DC> ScreenDC(Window& w) {
  const Size client = w.ClientSize();
  if (client.cx <= 0 || client.cy <= 0) return nullptr;
  std::unique_ptr<DC> dc = w.ClientDC();
  SetScreenMapping(*dc, client);
  return dc;
}

}  // namespace

PeakExtent FindDistributionPeak(int index, float fraction) {
  PeakExtent peak;
  const float* v = pDistValues;
  const float* g = pDistGrid;
  const int n = nDistGrid;
  const int i = index;
  if (!v || !g || i < 1 || i > n) return peak;
  if (i >= 3 && i <= n - 2 && v[i] > v[i - 1]) {
    const float p = v[i];
    int jl = 0, jr = 0;
    float leftEdge = 0.0f, rightEdge = 0.0f;
    if (p != 0.0f) {
      jl = WalkSide(v, n, i, p, fraction, -1, &leftEdge);
      jr = WalkSide(v, n, i, p, fraction, +1, &rightEdge);
      peak.edgeRatio = (rightEdge > leftEdge ? rightEdge : leftEdge) / p;
    }
    peak.leftIndex = i - jl;
    peak.rightIndex = i + jr;
    peak.leftX = g[peak.leftIndex];
    peak.rightX = g[peak.rightIndex];
  } else {
    peak.leftX = peak.rightX = g[i];
    peak.edgeRatio = 1.0f;
  }
  float total = 0.0f;
  IntegrateDistribution(peak.leftX, peak.rightX, &peak.area, &peak.averageX, &total, nullptr,
                        nullptr, nullptr);
  peak.fractionOfTotal = total > 0.0f ? peak.area / total : 0.0f;
  return peak;
}

bool PeaksLabelledByS() {
  if (bContiSModel) return bLsgModel || bLsgOneDiscrete;
  return !CsVariant();
}

float PeakMolarMass(float s) { return CsFamilyMass(s, fTemperatureK - 273.15f); }

std::string MolarMassLabelText(float M) {
  if (M > 1e7f) return FormatText("Mf~%.1f MDa", M * 1e-6);
  if (M > 1e6f) return FormatText("Mf~%.2f MDa", M * 1e-6);
  if (M > 1e5f) return FormatText("Mf~%.0f kDa", M * 0.001);
  if (M > 1e4f) return FormatText("Mf~%.1f kDa", M * 0.001);
  if (M > 1e3f) return FormatText("Mf~%.2f kDa", M * 0.001);
  if (M > 100.0f) return FormatText("Mf~%.0f Da", static_cast<double>(M));
  return FormatText("Mf~%.1f Da", static_cast<double>(M));
}

void ShowPeakMwLabels(TXLAWindow& window) {
  if (nPeakLabels > 0) RemovePeakLabels(window);
  // A transformed grid (s20,w, radii) is no longer the s the mass relations take.
  if (!pDistPlot || !pDistCurve || !pDistValues || bDistTransformed) return;
  nPeakLabels = pDistCurve->FindPeaks(afPeakX, afPeakArea, anPeakIndex, kMaxPeakLabels, 2);
  Window& w = window.GetHandle();
  for (int k = 1; k <= nPeakLabels; ++k) {
    const PeakExtent peak = FindDistributionPeak(anPeakIndex[k], kPeakEdgeFraction);
    if (peak.fractionOfTotal <= kMinPeakFraction) continue;
    afPeakX[k] = peak.averageX;
    afPeakArea[k] = peak.area;
    afPeakFraction[k] = peak.fractionOfTotal;
    const std::string text = PeaksLabelledByS() ? FormatText("sw = %.3f S", peak.averageX)
                                                : MolarMassLabelText(PeakMolarMass(peak.averageX));
    // Above the peak, in the distribution plot's display units.
    const int x = pDistPlot->MapX(peak.averageX);
    const int y = pDistPlot->MapY(pDistValues[anPeakIndex[k]]);
    const int halfWidth = 4 * static_cast<int>(text.size());
    auto label = std::make_unique<CScreenButton>();
    label->SetRect(static_cast<float>(y - 25), static_cast<float>(x - halfWidth),
                   static_cast<float>(y - 5), static_cast<float>(x + halfWidth));
    const int n = static_cast<int>(text.size());
    label->SetLabels(text.c_str(), n, text.c_str(), n);
    label->SaveBackground(w);
    label->crOnFill = RGB(255, 150, 150);
    label->Paint();
    label->Show(w);
    pPeakLabels[k] = std::move(label);
  }
  bPeakLabelsNew = false;
}

void RemovePeakLabels(TXLAWindow& window) { RemovePeakLabels(window, nullptr); }

void RemovePeakLabels(TXLAWindow& window, DC* paintDC) {
  for (int k = 0; k <= kMaxPeakLabels; ++k) {
    afPeakX[k] = afPeakArea[k] = afPeakFraction[k] = 0.0f;
    anPeakIndex[k] = 0;
    if (pPeakLabels[k]) {
      if (paintDC)
        pPeakLabels[k]->RestoreBackground(window.GetHandle(), *paintDC);
      else
        pPeakLabels[k]->RestoreBackground(window.GetHandle());
      pPeakLabels[k].reset();
    }
  }
  nPeakLabels = 0;
  bPeakLabelsNew = false;
}

std::string PeakInfoText(float s, float c, float fraction) {
  const float s20w = S20wFromS(s, RELVISCOSITY * STANDARDVISCOSITY,
                               VBAR > 0 ? fVRho / VBAR : fBufferDensity, VBAR, VBAR20);
  const double percent = 100.0 * fraction;
  if (PeaksLabelledByS()) {
    return FormatText("sw = %.3f S, sw(20,w) = %.3f S\n(c = %.4f, %.3f%% of total)", s, s20w, c,
                      percent);
  }
  const float rho = VBAR > 0.0f ? fVRho / VBAR : fBufferDensity;
  const float M = PeakMolarMass(s);
  const float mMin = CalculateMff02(s, 1.0f);
  if (!OwnMassRelation()) {
    // The bimodal models have their second frictional ratio inside its s range.
    const bool second = (bCsBimodalFf0 || bCsBimodalFf0OneDiscrete) && s >= fBimodalSMin &&
                        s <= fBimodalSMax;
    const float ff0 = second ? fSecondFf0 : fFrictionalRatio;
    const float rs = S20ToStokesRadius(s20w, VBAR20) * 1e9f;
    const float oblate = CalculateOblateRatio(ff0, VBAR, fWormHydration, rho);
    const float prolate = CalculateProlateRatio(ff0, VBAR, fWormHydration, rho);
    return FormatText(
        "sw = %.3f S, sw(20,w) = %.3f S\n(c = %.4f, %.3f%% of total)\nwith best-fit friction "
        "ratio = %.3f: Mw = %.0f Da \n(based on vbar = %.3f, vbar20 = %.3f, hydration = %.3f, "
        "buffer density = %.5f, rel. viscosity = %.4f)\nminimum Mw (for compact sphere) = %.0f "
        "Da\nStokes Radius (20C) = %.2f nm, a/b(oblate)=%.2f, a/b(prolate)=%.2f",
        s, s20w, c, percent, ff0, M, VBAR, VBAR20, fWormHydration, rho, RELVISCOSITY, mMin, rs, oblate,
        prolate);
  }
  return FormatText(
      "sw = %.3f S, sw(20,w) = %.3f S\n(c = %.4f, %.3f%% of total)\nMw = %.0f Da \n(based on "
      "vbar = %.3f, vbar20 = %.3f, hydration = %.3f, buffer density = %.5f, rel. viscosity = "
      "%.4f)\nminimum Mw (for compact sphere) = %.0f Da",
      s, s20w, c, percent, M, VBAR, VBAR20, fWormHydration, rho, RELVISCOSITY, mMin);
}

void ShowPeakInfo(TXLAWindow& window, int k) {
  if (k < 1 || k > nPeakLabels || !pPeakLabels[k]) return;
  Window& w = window.GetHandle();
  pPeakLabels[k]->Show(w);
  WaitSeconds(0.1f);
  const std::string text = PeakInfoText(afPeakX[k], afPeakArea[k], afPeakFraction[k]);

  // The peak in red over the distribution and its s range in the data.
  const PeakExtent peak = FindDistributionPeak(anPeakIndex[k], kPeakEdgeFraction);
  if (peak.leftIndex > 0 && pDistPlot) {
    const int count = peak.rightIndex - peak.leftIndex + 1;
    std::unique_ptr<MetaFile> picture =
        pDistPlot->DrawArrays(pDistGrid + peak.leftIndex - 1, pDistValues + peak.leftIndex - 1,
                              count, kPeakColour, kPeakStyle, 0);
    std::unique_ptr<DC> dc = ScreenDC(w);
    if (picture && dc) picture->Play(*dc);
    dc.reset();
    w.Refresh();
  }
  window.HighlightRangeInData(peak.leftX, peak.rightX);

  bPeakLabelsKept = true;
  CommandMessageBox(window, text, "PEAK INFO", MB_OK);
  if (pPeakLabels[k]) {
    pPeakLabels[k]->Toggle();
    pPeakLabels[k]->Show(w);
  }
  bPeakLabelsNew = true;
  bPeakLabelsKept = false;
  WaitSeconds(1.0f);
  w.Invalidate();
}

bool PressPeakLabel(TXLAWindow& window, float bx, float by) {
  for (int k = 1; k <= nPeakLabels; ++k) {
    if (pPeakLabels[k] && pPeakLabels[k]->HitTest(bx, by)) {
      ShowPeakInfo(window, k);
      return true;
    }
  }
  return false;
}

void RemovePeakLabelsBeforePaint(DC* screenDC) {
  if (bPeakLabelsKept || bPeakLabelsNew) return;
  TXLAWindow* window = GetMainWindow();
  if (!window) return;
  bool any = false;
  for (const auto& label : pPeakLabels) any = any || label;
  if (any) RemovePeakLabels(*window, screenDC);
}

void PaintPeakLabels(DC& dc) {
  if (!bPeakLabelsKept && !bPeakLabelsNew) return;
  for (int k = 1; k <= nPeakLabels; ++k) {
    if (pPeakLabels[k] && pPeakLabels[k]->hPicture) pPeakLabels[k]->hPicture->Play(dc);
  }
  bPeakLabelsNew = false;
}

void ResetPeakTools() {
  for (int k = 0; k <= kMaxPeakLabels; ++k) {
    pPeakLabels[k].reset();
    afPeakX[k] = afPeakArea[k] = afPeakFraction[k] = 0.0f;
    anPeakIndex[k] = 0;
  }
  nPeakLabels = 0;
  bPeakLabelsKept = bPeakLabelsNew = false;
}

void TXLAWindow::CmShowPeakMw() {
  if (bCsff0Model || bCsff0OneDiscrete) return;
  if (!(bContiSModel || CsVariant()) || !pDistCurve) return;
  ShowPeakMwLabels(*this);
}

}  // namespace tarmic
