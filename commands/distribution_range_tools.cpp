// Range tools of the distribution pane: the integrate button, the range selection,
// integration over drawn and over listed ranges, the highlight and the zoom.
#include "commands/distribution_range_tools.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "storage/atomic_file.h"
#include "app/paint.h"
#include "app/panes.h"
#include "app/preferences.h"
#include "app/xla_window.h"
#include "commands/clipboard_table.h"
#include "app/zoom.h"
#include "commands/command_support.h"
#include "commands/distribution_commands.h"
#include "commands/distribution_peak_tools.h"
#include "commands/text_format.h"
#include "distributions/distribution_arrays.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_integration.h"
#include "distributions/distribution_models.h"
#include "distributions/distribution_plot.h"
#include "distributions/distribution_transforms.h"
#include "modelfit/model_flags.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/hydrodynamics.h"
#include "numerics/matrix_table.h"
#include "numerics/one_based.h"
#include "services/path_table.h"
#include "services/sounds.h"
#include "numerics/text_lines.h"
#include "platform/backend.h"
#include "platform/dc.h"
#include "platform/metafile.h"
#include "platform/system.h"
#include "plot/data_plots.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/data_set.h"
#include "resources/command_ids.h"

namespace tarmic {

std::unique_ptr<CScreenButton> pIntegrateButton;
bool bDistRangeArmed = false;
bool bRangeSelectMode = false;
bool bDistZoomDrag = false;
bool bDistDrag = false;
float fIntegYMin = 0.0f;
float fIntegYMax = 0.0f;
bool bDistZoomKept = false;
float fDistZoomX1 = 0.0f;
float fDistZoomX2 = 0.0f;
std::string szIntegRangeTable;
float** pIntegRanges = nullptr;
int nIntegRanges = 0;
bool bIntegRangesLoaded = false;

namespace {

constexpr Color kHighlightColour = RGB(255, 0, 0);
constexpr int kHighlightStyle = 12;
constexpr const char* kIntegratingCaption = "INTEGRATE DISTRIBUTION";
constexpr const char* kSetPreference = "SET PREFERENCE";

void FreeIntegRanges() {
  if (pIntegRanges) free_matrix(pIntegRanges, 1, nIntegRanges, 1, 2);
  pIntegRanges = nullptr;
  nIntegRanges = 0;
}

// The plotted distribution curve's points, 0-based.
const CVector* CurveX() { return DistributionPlot().pDistCurve ? DistributionPlot().pDistCurve->X() : nullptr; }
const CVector* CurveY() { return DistributionPlot().pDistCurve ? DistributionPlot().pDistCurve->Y() : nullptr; }

// The largest y (at least 0) of the plotted curve's points with lo <= x <= hi: the
// projection of a c(s,ff0) result while one is shown (its y is M, Rs, D or f/f0),
// else the distribution curve.
float LargestYIn(float lo, float hi) {
  const bool projection = DistributionPlot().bCsff0Shown && DistributionPlot().pMapCurve &&
                          (DistributionModels().bCsff0ViewSM || DistributionModels().bCsff0ViewSRs || DistributionModels().bCsff0ViewSD || DistributionModels().bCsff0ViewMFf0);
  const CVector* x = projection ? DistributionPlot().pMapCurve->X() : CurveX();
  const CVector* y = projection ? DistributionPlot().pMapCurve->Y() : CurveY();
  float ymax = 0.0f;
  if (!x || !y) return ymax;
  const int n = static_cast<int>(std::min(x->Length(), y->Length()));
  for (int i = 0; i < n; ++i) {
    const float xi = x->Get(i);
    if (xi >= lo && xi <= hi) ymax = std::max(ymax, y->Get(i));
  }
  return ymax;
}

// Value of the distribution at lo between grid points i and i+1 (v[i] when the two
// grid values coincide).
float Interpolated(const float* x, const float* v, int i, float at) {
  if (x[i + 1] == x[i]) return v[i];
  return v[i] + (v[i + 1] - v[i]) * (at - x[i]) / (x[i + 1] - x[i]);
}

}  // namespace

bool SDistributionModel() {
  return ModelFlags().bContiSModel || ModelFlags().bLsgModel || ModelFlags().bLsgOneDiscrete || ModelFlags().bBoundaryAnalysis ||
         ModelFlags().bBufferSedCorrection || ModelFlags().bCvConstantD || ModelFlags().bCsBimodalFf0 || ModelFlags().bCsBimodalFf0OneDiscrete ||
         ModelFlags().bCsScalingLaw || ModelFlags().bCsWormChain || ModelFlags().bCsMsTable || ModelFlags().bCsConformationalChange || ModelFlags().bCsInvariantD ||
         ModelFlags().bCsModel521 || ModelFlags().bCsFloatingVbar || ModelFlags().bCsOneDiscreteD || ModelFlags().bCsOneDiscreteM;
}

// ---------------------------------------------------------------- the button

void CreateIntegrateButton() {
  if (pIntegrateButton) return;
  // Just above the distribution plot's rectangle at its right end; the button grows
  // to the left and upwards as far as its labels need at the present text size.
  // Its height is that of its text in picture units (a height from the client's
  // pixels would reach up into the residual plot's x tick labels in a tall window).
  const double h = PlotTextHeight(hButtonFont.height) + 4.0;
  const double w = 30.0 * nClientWidth / 1400.0 + 50.0;
  const double right = DataPlots().nPlotAreaRight * 1.4 - 10.0;
  const int top = DistributionPlotRectTop();
  auto button = std::make_unique<CScreenButton>();
  button->SetRect(static_cast<float>(top - 1 - h), static_cast<float>(right - w),
                  static_cast<float>(top - 2), static_cast<float>(right));
  button->SetLabels("integrate", 9, "select range", 12);
  button->crOnFill = RGB(255, 150, 150);
  button->Paint();
  pIntegrateButton = std::move(button);
}

void DeleteIntegrateButton() { pIntegrateButton.reset(); }

void RelayoutIntegrateButton() {
  if (!pIntegrateButton) return;
  const bool on = pIntegrateButton->bOn;
  pIntegrateButton.reset();
  CreateIntegrateButton();
  if (on) pIntegrateButton->Toggle();
}

void ToggleIntegrateButton() {
  if (pIntegrateButton) pIntegrateButton->Toggle();
}

void ShowIntegrateButton(TXLAWindow& window) {
  if (pIntegrateButton) pIntegrateButton->Show(window.GetHandle());
}

void ClickIntegrateButton(TXLAWindow& window) {
  if (bDistRangeArmed) {
    // A second click cancels the selection; the press has turned the button off.
    bDistDrag = bDistRangeArmed = bRangeSelectMode = bDistZoomDrag = false;
    ShowIntegrateButton(window);
    window.GetHandle().SetCursor(CursorShape::Arrow);
    return;
  }
  RemovePeakLabels(window);
  if (bIntegRangesFromFile) {
    // The file's ranges are integrated at once: the button does not stay on.
    ToggleIntegrateButton();
    ShowIntegrateButton(window);
    IntegrateFileRanges(window);
    return;
  }
  bRangeSelectMode = true;
  ArmRangeSelection(window);
}

void ArmRangeSelection(TXLAWindow& window) {
  if (!DistributionPlot().pDistPlot) return;
  if (bWizardMessages) {
    // The integration range can also be given by number (Enter), which the note says.
    CommandMessageBox(window,
                      bRangeSelectMode ? "determine the range by drawing a rectangle while the right mouse button is "
                                         "down, or press Enter to give the lower and upper limits by number"
                                       : "determine the range by drawing a rectangle while the right mouse button is down",
                      bRangeSelectMode ? "SELECT INTEGRATION RANGE" : "SELECT RANGE", MB_OK);
  }
  window.GetHandle().SetCursor(CursorShape::Cross);
  bDistRangeArmed = true;
}

void CancelRangeSelection(TXLAWindow& window) {
  if (!bDistRangeArmed) return;
  bDistDrag = bDistRangeArmed = bRangeSelectMode = bDistZoomDrag = false;
  if (pIntegrateButton && pIntegrateButton->bOn) ToggleIntegrateButton();
  ShowIntegrateButton(window);
}

// ---------------------------------------------------------------- drawn ranges

std::string IntegrationText(float x1, float x2, float y1, float y2, float area,
                            float average, float total, float sd, float zAverage) {
  const double percent = total != 0.0f ? 100.0 * area / total : 0.0;
  if (DataSet().bDLSData) {
    // The light-scattering grids hold log10 of Rh in m or of D in cm^2/s; the bounds
    // are shown in nm and in F (1e-7 cm^2/s), the units of the average.
    const double shift = ModelFlags().bDLSDModel ? 7.0 : 9.0;
    const double lo = std::pow(10.0, x1 + shift), hi = std::pow(10.0, x2 + shift);
    return FormatText(ModelFlags().bDLSDModel ? "Integral from %f to %f F:\nTotal Signal = %f (%.3f%%of total)\n"
                                   "Signal Average D = %f F"
                                 : "Integral from %f to %f nm:\nTotal Signal = %f (%.3f%%of total)\n"
                                   "Signal Average R = %f nm",
                      lo, hi, area, percent, average);
  }
  if (IsSizeShapeModel()) {
    // The two-dimensional averages over the rectangle were left by the integration.
    return FormatText(
        "Integral from %f to %f (x) and %f to %f (y):\nLoading Concentration [Signal] = %f "
        "(%.3f%%of total)\nWeight (Signal) Average sw = %f\nWeight (Signal) Average ff0w = %f\n"
        "estimated M from (sw,ff0w): = %f\nD-average M = %f\nZ (Signal) Average M = %f\n "
        "(Signal) Average Rs = %f\n Std. deviation[as sqrt(second central moment)] ds = %.3f "
        "(best done without regularization)\n Std. deviation[as sqrt(second central moment)] dM = "
        "%.3f\n Std. deviation[as sqrt(second central moment)] dR = %.3f",
        x1, x2, y1, y2, area, percent, average, DistributionIntegration().fCsff0AvgFf0,
        average > 0.0f && DistributionIntegration().fCsff0AvgFf0 > 0.0f ? CalculateMff02(average, DistributionIntegration().fCsff0AvgFf0) : 0.0f,
        DistributionIntegration().fCsff0MsD, DistributionIntegration().fCsff0AvgM, DistributionIntegration().fCsff0AvgRs, sd, DistributionIntegration().fCsff0SdM, DistributionIntegration().fCsff0SdRs);
  }
  if (SDistributionModel()) {
    return FormatText(
        "Integral from %f to %f:\nLoading Concentration [Signal] = %f (%.3f%%of total)\n"
        "Weight (Signal) Average = %f\n Std. deviation[as sqrt(second central moment)] = %.3f "
        "(best done without regularization)\nsw transformed to 20,w conditions = %f",
        x1, x2, area, percent, average, sd, S20wFromSBuffer(average));
  }
  if (ModelFlags().bFMScalingLaw) {
    const double ratio = average > 0.0f ? zAverage / average : 0.0;
    return FormatText(
        "Integral from %f to %f:\nLoading Concentration [Signal] = %f (%.3f%%of total)\n"
        "Weight (Signal) Average = %f\nz-Average = %f\nMz/Mw = %f\n Std. "
        "deviation[as sqrt(second central moment)] = %.3f (best done without regularization)",
        x1, x2, area, percent, average, zAverage, ratio, sd);
  }
  return FormatText(
      "Integral from %f to %f:\nLoading Concentration [Signal] = %f (%.3f%%of total)\n"
      "Weight (Signal) Average = %f\n Std. deviation[as sqrt(second central moment)] = %.3f "
      "(best done without regularization)",
      x1, x2, area, percent, average, sd);
}

void IntegrateSelectedRange(TXLAWindow& window, float x1, float x2, float y1, float y2) {
  ToggleIntegrateButton();
  ShowIntegrateButton(window);
  HighlightDistributionRange(window, x1, x2, kHighlightStyle, kHighlightColour);
  bRangeSelectMode = false;
  bDistRangeArmed = false;
  fIntegYMin = y1;
  fIntegYMax = y2;
  DistributionIntegration().fCsff0SecondMin = y1;
  DistributionIntegration().fCsff0SecondMax = y2;

  float area = 0, average = 0, total = 0, sd = 0, harmonic = 0, zAverage = 0;
  IntegrateDistribution(x1, x2, &area, &average, &total, &sd, &harmonic, &zAverage);
  if (total == 0.0f) total = 1.0f;
  const std::string text = IntegrationText(x1, x2, y1, y2, area, average, total, sd, zAverage);

  // One line for the clipboard: area and average.
  const float xs[2] = {0.0f, area};
  const float averages[2] = {0.0f, average};
  const float* columns[2] = {nullptr, averages};
  CopyTableToClipboard(&window.GetHandle(), xs, columns, 1, 1, 1, nullptr);

  if (!DataSet().bDLSData && x1 > 0.0f && x2 > 0.0f) window.HighlightRangeInData(x1, x2);
  CommandMessageBox(window, text, kIntegratingCaption, MB_OK);
  FullscaleDistributionPlot(window);
}

void HighlightDistributionRange(TXLAWindow& window, float x1, float x2, int style, Color colour) {
  if (x1 == x2 || !DistributionPlot().pDistPlot || DataSet().bDLSData || ModelFlags().bBoundaryAnalysis) return;
  // The grid the distribution is shown over (light-scattering data returned above).
  const float* x = IntegrationAxis();
  const float* v = DistributionVectors().pDistValues;
  const int n = DistributionVectors().nDistGrid;
  if (!x || !v || n < 2) return;
  const float lo = std::min(x1, x2), hi = std::max(x1, x2);

  // The ends: interpolated inside the grid, the grid's own ends outside it.
  int i = 1;
  float vLo = v[1], xLo = x[1];
  if (lo > x[1]) {
    for (int k = 2; k < n; ++k) {
      if (x[k] <= lo && lo < x[k + 1]) {
        i = k;
        xLo = lo;
        vLo = Interpolated(x, v, k, lo);
        break;
      }
    }
  }
  int j = n;
  float vHi = v[n], xHi = x[n];
  for (int k = 1; k < n; ++k) {
    if (x[k] <= hi && hi < x[k + 1]) {
      j = k;
      xHi = hi;
      vHi = Interpolated(x, v, k, hi);
      break;
    }
  }
  if (j < i) return;

  // (lo, v(lo)), the grid points i+1..j, (hi, v(hi)).
  std::vector<float> px(1, 0.0f), py(1, 0.0f);
  px.push_back(xLo);
  py.push_back(vLo);
  for (int k = i + 1; k <= j; ++k) {
    px.push_back(x[k]);
    py.push_back(v[k]);
  }
  px.push_back(xHi);
  py.push_back(vHi);
  const int count = static_cast<int>(px.size()) - 1;
  std::unique_ptr<MetaFile> picture =
      DistributionPlot().pDistPlot->DrawArrays(px.data(), py.data(), count, colour, style, 0);
  if (!picture) return;
  Window& w = window.GetHandle();
  const Size client = w.ClientSize();
  if (client.cx <= 0 || client.cy <= 0) return;
  std::unique_ptr<DC> dc = w.ClientDC();
  SetScreenMapping(*dc, client);
  picture->Play(*dc);
  dc.reset();
  w.Refresh();
}

// ---------------------------------------------------------------- zoom

void ZoomDistributionPlot(TXLAWindow& window, float x1, float x2) {
  bDistZoomDrag = false;
  bDistRangeArmed = false;
  if (!DistributionPlot().pDistPlot) return;
  bDistZoomKept = true;
  fDistZoomX1 = x1;
  fDistZoomX2 = x2;
  DistributionPlot().pDistPlot->SetRanges(x1, x2, 0.0f, LargestYIn(std::min(x1, x2), std::max(x1, x2)));
  window.GetHandle().Invalidate();
}

void FullscaleDistributionPlot(TXLAWindow& window) {
  bDistZoomDrag = false;
  bDistRangeArmed = false;
  bDistZoomKept = false;
  const CVector* x = CurveX();
  if (!DistributionPlot().pDistPlot || !x || x->Length() == 0) return;
  const float first = x->Get(0);
  const float last = x->Get(static_cast<int>(x->Length()) - 1);
  DistributionPlot().pDistPlot->SetRanges(first, last, 0.0f, LargestYIn(std::min(first, last), std::max(first, last)));
  window.GetHandle().Invalidate();
}

// ---------------------------------------------------------------- ranges from a file

namespace {

void ShowRangeFileRefusal(const std::string& text) {
  if (HasBackend()) GetBackend().MessageBox(text, "SET INTEGRATION RANGE", MB_OK);
}

// A range table (rows s-min, s-max) as matrix(1, rows, 1, 2), or null when it
// cannot be read or holds no row (reported).
float** ReadRangeTable(const std::string& path, int* rows) {
  *rows = 0;
  float** table = path.empty() ? nullptr : ReadMatrixTable(path.c_str(), 2, rows);
  if (table && *rows >= 1) return table;
  if (table) free_matrix(table, 1, *rows, 1, 2);
  const std::string why = path.empty() ? std::string() : FileReadRefusal(path);
  ShowRangeFileRefusal(FormatText("could not load distribution ranges from file %s%s%s", path.c_str(),
                                  why.empty() ? "" : ": ", why.c_str()));
  return nullptr;
}

// Puts a table that was read in place of the loaded ranges.
void InstallRanges(float** table, int rows, const std::string& path) {
  FreeIntegRanges();
  pIntegRanges = table;
  nIntegRanges = rows;
  szIntegRangeTable = path;
  bIntegRangesLoaded = true;
}

}  // namespace

// A table that cannot be read leaves the loaded ranges and their path as they were.
bool LoadIntegrationRanges() {
  std::vector<std::string> lines;
  std::string why;
  // The file remembers the table's path, written without a line end: its first line
  // is taken as it stands (a path cut short names no table).
  if (!ReadTextFileLines(szIntegRangeFile, LastLine::kAsItStands, &lines, &why)) {
    // Never chosen yet: nothing to say. A pipe in its place is named.
    if (why == kNotRegularFile) ShowRangeFileRefusal("could not read " + szIntegRangeFile + ": " + why);
    return false;
  }
  const std::string path = lines.empty() ? std::string() : lines.front();
  int rows = 0;
  float** table = ReadRangeTable(path, &rows);
  if (!table) return false;
  InstallRanges(table, rows, path);
  return true;
}

bool SelectIntegrationRangeFile(TXLAWindow& window, std::string* failure) {
  FileDialogOptions options;
  options.title = "Select 2 col file with s-min/s-max pairs";
  options.filter = "dat files (*.dat*)|*.dat*|All Files (*.*)|*.*|";
  options.defaultExt = "*";
  const bool previous = window.bModalBoxOpen;
  window.bModalBoxOpen = true;
  const std::vector<std::string> chosen = GetBackend().OpenFileDialog(options);
  window.bModalBoxOpen = previous;
  if (chosen.empty()) return false;
  // The table is read before its path is remembered for the next start: a table
  // that cannot be read changes neither the loaded ranges nor the remembered path.
  int rows = 0;
  float** table = ReadRangeTable(chosen.front(), &rows);
  if (!table) return false;
  if (!WriteTextFileAtomically(szIntegRangeFile, chosen.front())) {
    free_matrix(table, 1, rows, 1, 2);
    if (failure)
      *failure = WithReason("could not remember the range table in " + szIntegRangeFile,
                            SaveFailureReason(szIntegRangeFile));
    return false;
  }
  InstallRanges(table, rows, chosen.front());
  return true;
}

bool IntegrateFileRanges(TXLAWindow& window) {
  if (!bIntegRangesFromFile || !LoadIntegrationRanges()) return false;
  std::string report = FormatText("automatic integration limits are switched on, using file %s:\n",
                                  szIntegRangeTable.c_str());
  const int n = nIntegRanges;
  std::vector<float> lo(static_cast<std::size_t>(n) + 1), hi(lo.size()), c(lo.size()),
      percent(lo.size()), sw(lo.size());
  float c1 = 0.0f;
  for (int r = 1; r <= n; ++r) {
    const std::size_t k = static_cast<std::size_t>(r);
    lo[k] = pIntegRanges[r][1];
    hi[k] = pIntegRanges[r][2];
    report += FormatText("%d: from %.2fS to %0.2fS\n", r, lo[k], hi[k]);
    float total = 0.0f;
    IntegrateDistribution(lo[k], hi[k], &c[k], &sw[k], &total, nullptr, nullptr, nullptr);
    if (r == 1) {
      c1 = c[k];
      report +=
          FormatText("\t c = %.4f (this is considered total for following %% amounts), sw = %.3f\n",
                     c[k], sw[k]);
    } else if (c1 > 0.0f) {
      report += FormatText("\t c = %.4f (%.2f%% of c in range #1), sw = %.3f\n", c[k],
                           100.0 * c[k] / c1, sw[k]);
    } else {
      report += FormatText("\t c = %.4f, sw = %.3f\n", c[k], sw[k]);
    }
    percent[k] = c1 > 0.0f ? 100.0f * c[k] / c1 : 0.0f;
  }

  const std::string path = (std::filesystem::path(DataSet().szDataDirectory) / "integrals.dat").string();
  std::string why;
  if (!WriteTextFileAtomically(path, report + ' ', &why)) {
    CommandMessageBox(window, WithReason(FormatText("could not open file %s for writing", path.c_str()), why),
                      "ERROR", MB_OK);
    PlayErrorSound();
    return false;
  }
  GetBackend().ShowTextFile(path);

  const float* columns[5] = {nullptr, hi.data(), c.data(), percent.data(), sw.data()};
  CopyTableToClipboard(&window.GetHandle(), lo.data(), columns, 1, n, 4, nullptr);
  return true;
}

// ---------------------------------------------------------------- pane geometry

bool IsInDistributionPane(const TXLAWindow& window, int /*x*/, int y) {
  if (!DistributionPlot().pDistPlot) return false;
  const int bottom = window.GetHandle().ClientSize().cy;
  return y > std::floor(bottom * DistributionPlot().nDistPlotTop * 0.95 * 0.001);
}

float DistributionXOfColumn(const TXLAWindow& window, int x) {
  if (!DistributionPlot().pDistPlot || DistributionPlot().pDistPlot->fScaleX == 0 || window.fClientWidth <= 0) return 0.0f;
  const double units = std::trunc(x * 1400.0 / window.fClientWidth);
  const float v = static_cast<float>((units - DistributionPlot().pDistPlot->fOffsetX) / DistributionPlot().pDistPlot->fScaleX);
  return DistributionPlot().pDistPlot->bLogX ? std::pow(10.0f, v) : v;
}

void ResetDistributionRangeTools() {
  pIntegrateButton.reset();
  bDistRangeArmed = bRangeSelectMode = bDistZoomDrag = bDistDrag = false;
  fIntegYMin = fIntegYMax = 0.0f;
  bDistZoomKept = false;
  fDistZoomX1 = fDistZoomX2 = 0.0f;
  szIntegRangeTable.clear();
  FreeIntegRanges();
  bIntegRangesLoaded = false;
}

// ---------------------------------------------------------------- commands

bool DistributionPaneEnter(TXLAWindow& window) {
  if (!bDistRangeArmed || !bRangeSelectMode || !DistributionPlot().pDistPlot || bRubberBandActive) return false;
  float lo = 0.0f, hi = 0.0f;
  if (!AskIntegrationLimits(window, kIntegratingCaption, &lo, &hi)) return true;
  // The whole height of the plot: a drawn band's rows matter to the size-and-shape
  // distributions only, whose range then takes every f/f0 shown.
  IntegrateSelectedRange(window, std::min(lo, hi), std::max(lo, hi), DistributionPlot().pDistPlot->fYMin, DistributionPlot().pDistPlot->fYMax);
  window.RepaintMain();
  return true;
}

void TXLAWindow::CmIntegrateDistribution() {
  // A transformed grid (s20,w, radii) is no longer the s the integration reports.
  // Only a distribution on show (of the loaded data, under the model and the values
  // that computed it); without one the user is told what to do first.
  if (!DistributionPlot().pDistPlot || !DistributionPaneShown()) {
    CommandMessageBox(*this, kNoDistributionText, "ATTENTION", MB_OK | MB_ICONINFORMATION);
    return;
  }
  if (DataSet().bDLSData || ModelFlags().bBoundaryAnalysis || DistributionPlot().bDistTransformed || DistributionPlot().bDistRhTransformed) return;
  ToggleIntegrateButton();
  ShowIntegrateButton(*this);
  ClickIntegrateButton(*this);
}

void TXLAWindow::CmRescaleDistributionPlot() {
  if (!DistributionPlot().pDistPlot) return;
  bDistZoomDrag = true;
  ArmRangeSelection(*this);
}

void TXLAWindow::CmFullscaleDistributionPlot() {
  if (!DistributionPlot().pDistPlot) return;
  FullscaleDistributionPlot(*this);
}

void TXLAWindow::CmIntegralDistribution() {
  if (!DistributionPlot().pDistPlot || DataSet().bDLSData || ModelFlags().bBoundaryAnalysis) return;
  TransformToIntegralDistribution();
  GetHandle().Invalidate();
}

void TXLAWindow::CmTransformCsToCM() {
  if (!DistributionPlot().pDistPlot) return;
  TransformToCM();
  GetHandle().Invalidate();
}

void TXLAWindow::CmIntegrationRangesFromFile() {
  Window& w = GetHandle();
  if (!bIntegRangesFromFile) {
    std::string failure;
    if (!SelectIntegrationRangeFile(*this, &failure)) {
      CommandMessageBox(*this,
                        failure.empty() ? std::string("could not load distribution ranges from file")
                                        : "could not load distribution ranges from file\n" + failure,
                        "SET DISTRIBUTION RANGE", MB_OK);
      PlayErrorSound();
      return;
    }
    bIntegRangesFromFile = true;
    w.CheckMenuItem(kCmIntegrationRangesFromFile, true);
    const std::string question =
        FormatText("switching on integration range from file \n%s \n - save as default setting?",
                   szIntegRangeTable.c_str());
    if (ConfirmChange(*this, question, kSetPreference))
      SavePreference(this, kPrefIntegRangesFromFile, 1);
  } else {
    bIntegRangesFromFile = false;
    w.CheckMenuItem(kCmIntegrationRangesFromFile, false);
    if (ConfirmChange(*this, "switching off integration range from file - \nsave as default setting?",
                 kSetPreference))
      SavePreference(this, kPrefIntegRangesFromFile, 0);
  }
  PlayOkSound();
}

}  // namespace tarmic
