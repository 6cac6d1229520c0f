// Peak finder, peak labels and peak information of the distribution pane.
#include "commands/distribution_peak_tools.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/analysis_views.h"
#include "app/paint.h"
#include "app/panes.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/text_format.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_kernels.h"
#include "distributions/distribution_peaks.h"
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
#include "plot/temperature_plot.h"
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

constexpr Color kPeakColour = RGB(255, 0, 0);
constexpr int kPeakStyle = 12;

// The c(s) variants whose molar mass follows their own relation.
bool OwnMassRelation() {
  return ModelFlags().bCsScalingLaw || ModelFlags().bCsWormChain || ModelFlags().bCsMsTable || ModelFlags().bCsConformationalChange || ModelFlags().bCsInvariantD ||
         ModelFlags().bCsModel521;
}

// Any c(s) variant that labels its peaks with a molar mass.
bool CsVariant() {
  return OwnMassRelation() || ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete || ModelFlags().bCsFloatingVbar ||
         ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM;
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

bool PeaksLabelledByS() {
  if (ModelFlags().bContiSModel) return ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete;
  return !CsVariant();
}

float PeakMolarMass(float s) { return CsFamilyMass(s, DataSet().fTemperatureK - 273.15f); }

std::string MolarMassLabelText(float M) {
  if (M > 1e7f) return FormatText("Mf~%.1f MDa", M * 1e-6);
  if (M > 1e6f) return FormatText("Mf~%.2f MDa", M * 1e-6);
  if (M > 1e5f) return FormatText("Mf~%.0f kDa", M * 0.001);
  if (M > 1e4f) return FormatText("Mf~%.1f kDa", M * 0.001);
  if (M > 1e3f) return FormatText("Mf~%.2f kDa", M * 0.001);
  if (M > 100.0f) return FormatText("Mf~%.0f Da", static_cast<double>(M));
  return FormatText("Mf~%.1f Da", static_cast<double>(M));
}

bool DistributionPaneOnScreen() {
  return DistributionPaneShown() && !bTemperaturePlotShown && !TemperaturePlot().pTemperaturePlot && !bEqTestView && !bVIrezMode;
}

std::string PeakLabelText(const DistributionPeak& found) {
  const float x = found.extent.averageX;
  // A c(M) peak is placed in M already.
  if (CurrentDistributionKind() == DistributionKind::MolarMass) return MolarMassLabelText(x);
  return PeaksLabelledByS() ? FormatText("sw = %.3f S", x) : MolarMassLabelText(PeakMolarMass(x));
}

std::unique_ptr<CScreenButton> MakePeakLabel(const DistributionPeak& found, const std::string& text) {
  if (!DistributionPlot().pDistPlot) return nullptr;
  // Above the peak, in the distribution plot's display units.
  const int x = DistributionPlot().pDistPlot->MapX(found.extent.averageX);
  const int y = DistributionPlot().pDistPlot->MapY(DistributionVectors().pDistValues[found.index]);
  const int halfWidth = 4 * static_cast<int>(text.size());
  auto label = std::make_unique<CScreenButton>();
  label->SetRect(static_cast<float>(y - 25), static_cast<float>(x - halfWidth), static_cast<float>(y - 5),
                 static_cast<float>(x + halfWidth));
  const int n = static_cast<int>(text.size());
  label->SetLabels(text.c_str(), n, text.c_str(), n);
  label->crOnFill = RGB(255, 150, 150);
  label->Paint();
  return label;
}

void ShowPeakMwLabels(TXLAWindow& window) {
  if (nPeakLabels > 0) RemovePeakLabels(window);
  if (!DistributionPlot().pDistPlot) return;
  // The key that chose the command ends the temperature plot shown once, as any key
  // does: the labels are drawn with the normal view that it brings back.
  const bool waitForPaint = bTemperaturePlotShown && !TemperaturePlot().pTemperaturePlot && DistributionPaneShown();
  if (!waitForPaint && !DistributionPaneOnScreen()) return;
  const std::vector<DistributionPeak> peaks = DistributionPeakList();
  nPeakLabels = static_cast<int>(peaks.size());
  Window& w = window.GetHandle();
  for (int k = 1; k <= nPeakLabels; ++k) {
    const DistributionPeak& found = peaks[static_cast<std::size_t>(k - 1)];
    anPeakIndex[k] = found.index;
    afPeakX[k] = found.x;
    afPeakArea[k] = found.height;
    if (!found.labelled) continue;
    const PeakExtent& peak = found.extent;
    afPeakX[k] = peak.averageX;
    afPeakArea[k] = peak.area;
    afPeakFraction[k] = peak.fractionOfTotal;
    std::unique_ptr<CScreenButton> label = MakePeakLabel(found, PeakLabelText(found));
    if (!waitForPaint) {
      label->SaveBackground(w);
      label->Show(w);
    }
    pPeakLabels[k] = std::move(label);
  }
  bPeakLabelsNew = waitForPaint;
  if (waitForPaint) window.RepaintMain();
}

void RemovePeakLabels(TXLAWindow& window) { RemovePeakLabels(window, nullptr); }

void RemovePeakLabels(TXLAWindow& window, DC* paintDC) {
  for (int k = 0; k <= kMaxPeakLabels; ++k) {
    afPeakX[k] = afPeakArea[k] = afPeakFraction[k] = 0.0f;
    anPeakIndex[k] = 0;
    if (pPeakLabels[k]) {
      // Straight onto the screen only over their own pane: over a cover the saved
      // pixels of the pane would show through it (the cover's paint takes the labels).
      if (paintDC)
        pPeakLabels[k]->RestoreBackground(window.GetHandle(), *paintDC);
      else if (DistributionPaneOnScreen())
        pPeakLabels[k]->RestoreBackground(window.GetHandle());
      pPeakLabels[k].reset();
    }
  }
  nPeakLabels = 0;
  bPeakLabelsNew = false;
}

std::string PeakInfoText(float s, float c, float fraction) {
  const float s20w = S20wFromS(s, SolventConstants().RELVISCOSITY * STANDARDVISCOSITY,
                               SolventConstants().VBAR > 0 ? SolventConstants().fVRho / SolventConstants().VBAR : SolventConstants().fBufferDensity, SolventConstants().VBAR, SolventConstants().VBAR20);
  const double percent = 100.0 * fraction;
  if (PeaksLabelledByS()) {
    return FormatText("sw = %.3f S, sw(20,w) = %.3f S\n(c = %.4f, %.3f%% of total)", s, s20w, c,
                      percent);
  }
  const float rho = SolventConstants().VBAR > 0.0f ? SolventConstants().fVRho / SolventConstants().VBAR : SolventConstants().fBufferDensity;
  const float M = PeakMolarMass(s);
  const float mMin = CalculateMff02(s, 1.0f);
  if (!OwnMassRelation()) {
    // The bimodal models have their second frictional ratio inside its s range.
    const bool second = (ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete) && s >= DistributionVariants().fBimodalSMin &&
                        s <= DistributionVariants().fBimodalSMax;
    const float ff0 = second ? DistributionVariants().fSecondFf0 : SolventConstants().fFrictionalRatio;
    const float rs = S20ToStokesRadius(s20w, SolventConstants().VBAR20) * 1e9f;
    const float oblate = CalculateOblateRatio(ff0, SolventConstants().VBAR, SolventConstants().fWormHydration, rho);
    const float prolate = CalculateProlateRatio(ff0, SolventConstants().VBAR, SolventConstants().fWormHydration, rho);
    return FormatText(
        "sw = %.3f S, sw(20,w) = %.3f S\n(c = %.4f, %.3f%% of total)\nwith best-fit friction "
        "ratio = %.3f: Mw = %.0f Da \n(based on vbar = %.3f, vbar20 = %.3f, hydration = %.3f, "
        "buffer density = %.5f, rel. viscosity = %.4f)\nminimum Mw (for compact sphere) = %.0f "
        "Da\nStokes Radius (20C) = %.2f nm, a/b(oblate)=%.2f, a/b(prolate)=%.2f",
        s, s20w, c, percent, ff0, M, SolventConstants().VBAR, SolventConstants().VBAR20, SolventConstants().fWormHydration, rho, SolventConstants().RELVISCOSITY, mMin, rs, oblate,
        prolate);
  }
  return FormatText(
      "sw = %.3f S, sw(20,w) = %.3f S\n(c = %.4f, %.3f%% of total)\nMw = %.0f Da \n(based on "
      "vbar = %.3f, vbar20 = %.3f, hydration = %.3f, buffer density = %.5f, rel. viscosity = "
      "%.4f)\nminimum Mw (for compact sphere) = %.0f Da",
      s, s20w, c, percent, M, SolventConstants().VBAR, SolventConstants().VBAR20, SolventConstants().fWormHydration, rho, SolventConstants().RELVISCOSITY, mMin);
}

void ShowPeakInfo(TXLAWindow& window, int k) {
  if (k < 1 || k > nPeakLabels || !pPeakLabels[k]) return;
  Window& w = window.GetHandle();
  pPeakLabels[k]->Show(w);
  WaitSeconds(0.1f);
  const std::string text = PeakInfoText(afPeakX[k], afPeakArea[k], afPeakFraction[k]);

  // The peak in red over the distribution and its s range in the data.
  const PeakExtent peak = FindDistributionPeak(anPeakIndex[k], kPeakEdgeFraction);
  if (peak.leftIndex > 0 && DistributionPlot().pDistPlot) {
    const int count = peak.rightIndex - peak.leftIndex + 1;
    std::unique_ptr<MetaFile> picture =
        DistributionPlot().pDistPlot->DrawArrays(DistributionVectors().pDistGrid + peak.leftIndex - 1, DistributionVectors().pDistValues + peak.leftIndex - 1,
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
  if (!DistributionPaneOnScreen()) return false;
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
  // Labels wait while another picture covers their pane.
  if (!DistributionPaneOnScreen()) return;
  TXLAWindow* window = GetMainWindow();
  for (int k = 1; k <= nPeakLabels; ++k) {
    if (!pPeakLabels[k] || !pPeakLabels[k]->hPicture) continue;
    // A label made while its pane was covered keeps what this paint put under it,
    // for its removal.
    if (window && pPeakLabels[k]->hSavedBackground.IsNull()) pPeakLabels[k]->SaveBackground(window->GetHandle(), dc);
    pPeakLabels[k]->hPicture->Play(dc);
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
  if (ModelFlags().bCsff0Model || ModelFlags().bCsff0OneDiscrete) return;
  if (!(ModelFlags().bContiSModel || CsVariant()) || !DistributionPlot().pDistCurve) return;
  ShowPeakMwLabels(*this);
}

}  // namespace tarmic
