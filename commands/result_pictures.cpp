// The result pictures: cuts of the window's picture space, recorded by the plots.
#include "commands/result_pictures.h"

#include <algorithm>
#include <cstdio>

#include "app/onplot_tools.h"
#include "app/paint.h"
#include "app/shell_hooks.h"
#include "app/xla_window.h"
#include "commands/command_support.h"
#include "commands/distribution_peak_tools.h"
#include "commands/text_format.h"
#include "distributions/distribution_file.h"
#include "distributions/distribution_grid.h"
#include "distributions/distribution_peaks.h"
#include "distributions/distribution_plot.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "platform/backend.h"
#include "platform/picture_files.h"
#include "plot/data_plots.h"
#include "plot/picture_space.h"
#include "plot/residual_bitmap.h"
#include "plot/screen_button.h"
#include "plot/winplot.h"
#include "scandata/analysis_switches.h"
#include "scandata/data_set.h"
#include "scandata/radial_grid.h"
#include "scandata/text_io.h"
#include "services/error_box.h"
#include "storage/atomic_file.h"

namespace tarmic {

namespace {

// Each species' signal in its own colour, named in the table of fitted values.
constexpr Color kSpeciesColors[nSpeciesSlots + 1] = {kBlack, RGB(220, 0, 0), RGB(0, 0, 220), RGB(0, 150, 0),
                                                     RGB(200, 0, 200)};
// Rows of the table below the data plot, picture units.
constexpr int kTableRow = 26;
// The smallest height of the residual bitmap's strip, picture units: a few scans
// still show as rows one can see.
constexpr int kMinBitmapStrip = 60;

// While it lives, the plot holds only the curves of every stride-th scan in display
// order and of the last (the third-column curves of intensity data follow their
// scans); the others are set aside and put back at its end.
class ThinnedCurves {
 public:
  ThinnedCurves(CWINPlot& plot, int stride) : plot_(plot) {
    if (stride <= 1 || DataSet().nScans < 1) return;
    for (int c = 0; c < plot.nCurves; ++c) {
      const int position = c % DataSet().nScans;
      if (position % stride == 0 || position == DataSet().nScans - 1) continue;
      aside_.emplace_back(c, plot.GetCurve(c));
      plot.SetCurve(c, nullptr);
    }
  }
  ~ThinnedCurves() {
    for (const auto& [c, curve] : aside_) plot_.SetCurve(c, curve);
  }
  ThinnedCurves(const ThinnedCurves&) = delete;
  ThinnedCurves& operator=(const ThinnedCurves&) = delete;

 private:
  CWINPlot& plot_;
  std::vector<std::pair<int, CCurve*>> aside_;
};

// The plot's picture recorded now, taken from the plot (which records its own again
// when pictures are seen).
std::shared_ptr<const MetaFile> TakePicture(CWINPlot& plot) {
  plot.Redraw();
  return std::shared_ptr<const MetaFile>(std::move(plot.hPicture));
}

// Text of the plots' font at the height the plots record it, transparent, from the
// top left.
void UsePlotText(MetaFileDC& dc, Font font, int nominalHeight) {
  font.height = PlotTextHeight(nominalHeight);
  dc.SelectFont(font);
  dc.SetBkMode(BkMode::Transparent);
  dc.SetTextAlign(TA_LEFT | TA_TOP);
}

// "every 5th of 250 scans", in a line added at the top left of a picture of thinned
// scans (area grows by it where the picture space has room).
std::unique_ptr<MetaFile> StrideNote(int stride, Rect& area) {
  if (stride <= 1) return nullptr;
  area.top = std::max(0, area.top - kTableRow);
  MetaFileDC dc;
  UsePlotText(dc, hTickFont, nTickFontHeight);
  // 2nd, 3rd, 4th, ..., 11th to 13th, 21st, 22nd, 23rd, ...
  const int tens = stride % 100, ones = stride % 10;
  const char* suffix = tens >= 11 && tens <= 13 ? "th" : ones == 1 ? "st" : ones == 2 ? "nd" : ones == 3 ? "rd" : "th";
  dc.TextOut(area.left + 10, area.top + 4, FormatText("every %d%s of %d scans", stride, suffix, DataSet().nScans));
  return dc.Close();
}

// A result of the loaded data is on show.
bool HasResult() { return DataPlots().pDataPlot && DataPlots().pResidualsPlot && FitOfLoadedData(); }

bool ShowsDistribution() { return DistributionPlot().pDistPlot && DistributionPaneShown(); }

bool ShowsSpecies() {
  if (!ModelFlags().bDiscreteModel || IsContinuousModel()) return false;
  for (int k = 1; k <= nSpeciesSlots; ++k)
    if (AnalysisSwitches().pSpeciesLinked[k]) return true;
  return false;
}

// The rows of the picture space around a plot: its rectangle with room for the
// title above and the tick labels and x title below; the whole width.
Rect AroundPlot(const CWINPlot& plot, int above, int below) {
  return Rect{0, std::max(0, plot.nRectTop - above), kPictureWidth,
              std::min(kPictureHeight, plot.nRectBottom + below)};
}

// The residual plot with the bitmap in the strip above it, as a window of the
// picture space's size shows it (at least kMinBitmapStrip high).
ResultPicture ResidualsPicture(std::shared_ptr<const MetaFile> plot) {
  ResultPicture p{"picture-residuals", AroundPlot(*DataPlots().pResidualsPlot, 50, 80), {}, {}};
  p.Add(std::move(plot));
  const Image bitmap = BuildResidualsBitmap();
  Rect strip = ResidualsBitmapRect(kPictureExtent, DataSet().nScans);
  if (!bitmap.IsNull() && !strip.IsEmpty()) {
    strip.top = std::max(0, std::min(strip.top, strip.bottom - kMinBitmapStrip));
    MetaFileDC dc;
    dc.StretchBitmap(bitmap, strip);
    p.Add(dc.Close());
    p.area.top = std::max(0, std::min(p.area.top, strip.top - 10));
  }
  return p;
}

// The distribution with the prior and a label over each peak the window labels:
// its position as the window's label gives it, and its area.
ResultPicture DistributionPicture() {
  RedrawDistributionPlot();
  ResultPicture p{"picture-distribution", AroundPlot(*DistributionPlot().pDistPlot, 60, 80), {}, {}};
  p.Add(DistributionPanePicture());
  p.Add(DistributionPriorOverlay());
  for (const DistributionPeak& peak : DistributionPeakList()) {
    if (!peak.labelled) continue;
    // A molar mass over an axis of s: the label says the s as well.
    std::string text = PeakLabelText(peak);
    if (!text.starts_with("sw") && CurrentDistributionKind() != DistributionKind::MolarMass)
      text += FormatText(", sw = %.3f S", static_cast<double>(peak.extent.averageX));
    text += FormatText(", c = %.4f", static_cast<double>(peak.extent.area));
    if (std::unique_ptr<CScreenButton> label = MakePeakLabel(peak, text)) p.Add(std::move(label->hPicture));
  }
  return p;
}

// A line of the table: texts at the columns given.
void TableRow(MetaFileDC& dc, int y, const std::vector<std::pair<int, std::string>>& cells) {
  for (const auto& [x, text] : cells) dc.TextOut(x, y, text);
}

// The data with every species' signal in each scan, and below the plot the table
// of the fitted values.
ResultPicture SpeciesPicture(std::shared_ptr<const MetaFile> plot, int stride) {
  ResultPicture p{"picture-species", AroundPlot(*DataPlots().pDataPlot, 50, 0), {}, {}};
  p.Add(std::move(plot));
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!AnalysisSwitches().pSpeciesLinked[k] || !CurrentGrid().pGridRadius || CurrentGrid().nGridPoints < 1) continue;
    const std::vector<float*>& rows = CurrentGrid().pppSpeciesSignal[k];
    for (int i = 1; i <= DataSet().nScans && static_cast<std::size_t>(i) < DataSet().pScanOrder.size(); ++i) {
      if ((i - 1) % stride != 0 && i != DataSet().nScans) continue;
      const auto s = static_cast<std::size_t>(DataSet().pScanOrder[static_cast<std::size_t>(i)]);
      if (s >= rows.size() || !rows[s]) continue;
      p.Add(DataPlots().pDataPlot->DrawArrays(CurrentGrid().pGridRadius, rows[s], CurrentGrid().nGridPoints, kSpeciesColors[k], -1, 1));
    }
  }
  UnpackModelParams();
  FitRmsd();
  MetaFileDC dc;
  UsePlotText(dc, hLabelFont, nLabelFontHeight);
  const int top = DataPlots().pDataPlot->nRectBottom + 85;
  const int columns[5] = {150, 330, 560, 900, 1200};
  auto floated = [](int fit) { return std::string(fit ? " (floated)" : " (fixed)"); };
  // A value with the standard error the fit computed for it ("4.001 +- 0.002").
  auto withError = [](const std::string& value, std::optional<double> error, const char* form) {
    return error ? value + " +- " + FormatText(form, *error) : value;
  };
  TableRow(dc, top, {{columns[0], "species"}, {columns[1], "s (S)"},
                     {columns[2], ModelFlags().bFitMAndS ? "M (g/mol)" : "D (10^-7 cm^2/s)"},
                     {columns[3], "c (total, then fractions)"}});
  int row = 1;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!AnalysisSwitches().pSpeciesLinked[k]) continue;
    const int y = top + row * kTableRow;
    dc.SelectPen(Pen{PenStyle::Solid, 4, kSpeciesColors[k]});
    dc.MoveTo(columns[0] - 60, y + kTableRow / 2);
    dc.LineTo(columns[0] - 15, y + kTableRow / 2);
    const double massOrD = ModelParams().pSpeciesMassOrD[k];
    const SpeciesErrors errors = LastFitSpeciesErrors(k);
    const char* massOrDForm = ModelFlags().bFitMAndS ? "%.0f" : "%.3f";
    TableRow(dc, y,
             {{columns[0], FormatText("%d", k)},
              {columns[1], withError(FormatText("%.3f", static_cast<double>(ModelParams().pSpeciesS[k])), errors.s, "%.3f") +
                               floated(ModelParams().pSpeciesSFit[k])},
              {columns[2], withError(ModelFlags().bFitMAndS ? FormatText("%f", massOrD) : FormatText("%.3f", massOrD),
                                     errors.massOrD, massOrDForm) +
                               floated(ModelParams().pSpeciesMassOrDFit[k])},
              {columns[3], withError(FormatText("%.3f", static_cast<double>(AnalysisSwitches().pParams[8 + k])), errors.c, "%.3f")}});
    ++row;
  }
  dc.TextOut(columns[0], top + row * kTableRow, FormatText("rmsd = %f", static_cast<double>(Rmsd().fFitRmsd)));
  p.Add(dc.Close());
  p.area.bottom = std::min(kPictureHeight, top + (row + 1) * kTableRow + 10);
  p.Add(StrideNote(stride, p.area));
  return p;
}

std::string SaveBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::string error;
  const bool ok = WriteFileAtomically(
      path, [&](std::FILE* f) { return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size(); }, &error);
  return ok ? std::string() : error;
}

}  // namespace

std::vector<std::string> ExpectedResultPictureNames() {
  std::vector<std::string> names = {"picture-data", "picture-residuals"};
  if (IsContinuousModel()) names.push_back("picture-distribution");
  if (ShowsSpecies()) names.push_back("picture-species");
  return names;
}

std::vector<std::string> AllResultPictureNames() {
  return {"picture-data", "picture-residuals", "picture-distribution", "picture-species"};
}

std::vector<std::string> ResultPictureNames() {
  if (!HasResult()) return {};
  std::vector<std::string> names = {"picture-data", "picture-residuals"};
  if (ShowsDistribution()) names.push_back("picture-distribution");
  if (ShowsSpecies()) names.push_back("picture-species");
  return names;
}

int PictureScanStride() { return DataSet().nScans > kMostPictureScans ? (DataSet().nScans + kMostPictureScans - 1) / kMostPictureScans : 1; }

std::vector<ResultPicture> RecordResultPictures() {
  std::vector<ResultPicture> pictures;
  if (!HasResult()) return pictures;
  const bool seen = PicturesSeen();
  const int stride = PictureScanStride();
  std::shared_ptr<const MetaFile> dataPlot, residualPlot;
  {
    const PicturesForFiles recording;
    // The panes as the window lays them out; the residual plot with its curves (the
    // result's claim holds).
    if (GetShellHooks().layoutPanes) GetShellHooks().layoutPanes();
    GetResidualPlotMetafile();
    const ThinnedCurves thinData(*DataPlots().pDataPlot, stride), thinResiduals(*DataPlots().pResidualsPlot, stride);
    dataPlot = TakePicture(*DataPlots().pDataPlot);
    residualPlot = TakePicture(*DataPlots().pResidualsPlot);

    // The data pane: the data plot's picture and its overlays (the fitted curves).
    ResultPicture data{"picture-data", AroundPlot(*DataPlots().pDataPlot, 50, 80), {}, {}};
    data.Add(dataPlot);
    for (std::unique_ptr<MetaFile>& overlay : FittedCurveOverlays({}, stride)) data.Add(std::move(overlay));
    data.Add(NoiseProfileOverlay());
    data.Add(InitialProfileOverlay());
    data.Add(StrideNote(stride, data.area));
    pictures.push_back(std::move(data));
    pictures.push_back(ResidualsPicture(residualPlot));
    pictures.back().Add(StrideNote(stride, pictures.back().area));
    if (ShowsDistribution()) pictures.push_back(DistributionPicture());
    if (ShowsSpecies()) pictures.push_back(SpeciesPicture(dataPlot, stride));
  }
  // The window shows the plots with all their curves again.
  if (seen) {
    DataPlots().pDataPlot->Redraw();
    DataPlots().pResidualsPlot->Redraw();
  }
  return pictures;
}

std::vector<std::string> ResultPictureFiles(const std::string& dir) {
  std::vector<std::string> files;
  for (const std::string& name : ResultPictureNames()) {
    files.push_back(JoinPath(dir, name + ".svg"));
    files.push_back(JoinPath(dir, name + ".png"));
  }
  return files;
}

std::string WriteResultPictures(const std::string& dir, std::vector<std::string>* written) {
  for (const ResultPicture& p : RecordResultPictures()) {
    const Size size = CanvasSizeFor(p.area, kPictureFileWidth);
    const std::string svgPath = JoinPath(dir, p.name + ".svg");
    std::string error;
    if (!WriteTextFileAtomically(svgPath, PictureToSvg(p.layers, p.area, size), &error)) return error;
    if (written) written->push_back(svgPath);
    const std::optional<std::vector<std::uint8_t>> png = EncodePng(PictureToImage(p.layers, p.area, size), &error);
    const std::string pngPath = JoinPath(dir, p.name + ".png");
    if (!png) return pngPath + ": " + error;
    if (error = SaveBytes(pngPath, *png); !error.empty()) return error;
    if (written) written->push_back(pngPath);
  }
  return "";
}

void TXLAWindow::CmSavePictures() {
  if (!HasResult()) {
    CommandMessageBox(*this, "There is no computed result of the loaded data to draw: Run or Fit first.", "ATTENTION",
                      MB_OK | MB_ICONINFORMATION);
    return;
  }
  FileDialogOptions options;
  options.title = "save pictures into folder";
  options.directory = WithoutTrailingSlash(DataSet().szDataDirectory);
  const std::optional<std::string> dir = AskFolderPath(*this, options);
  if (!dir || !MayReplace(*this, ResultPictureFiles(*dir))) return;
  if (const std::string why = WriteResultPictures(*dir); !why.empty())
    ShowError("the pictures could not be saved:\n" + why, false);
  RepaintMain();
}

}  // namespace tarmic
