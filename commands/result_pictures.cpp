// The result pictures: cuts of the window's picture space, recorded by the plots.
#include "commands/result_pictures.h"

#include <algorithm>
#include <cstdio>

#include "app/markers.h"
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
#include "modelcalc/analysis_outcome.h"
#include "modelcalc/fit_driver.h"
#include "modelcalc/fit_rmsd.h"
#include "modelfit/model_flags.h"
#include "modelfit/model_params.h"
#include "platform/backend.h"
#include "platform/picture_files.h"
#include "platform/raster_dc.h"
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

std::unique_ptr<MetaFile> RadiusAxisTitle(const CWINPlot& plot, Rect& area);
constexpr int kColumnGap = 30;  // between two columns of a table, picture units
constexpr int kEdgeGap = 10;    // between a text and the picture's edge

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
  p.Add(RadiusAxisTitle(*DataPlots().pResidualsPlot, p.area));
  return p;
}

// The key of a map's colours beside its colour bar: the value of the bar's top and
// of its bottom, and what the colours are.
std::unique_ptr<MetaFile> MapColourKey(const CWINPlot& plot) {
  if (!plot.bMap || !plot.bColorBar) return nullptr;
  MetaFileDC dc;
  UsePlotText(dc, hTickFont, nTickFontHeight);
  const int x = plot.nRight + plot.nColorBarOffset + 21 + 6, h = PlotTextHeight(nTickFontHeight);
  dc.TextOut(x, plot.nTop, FormatText("%.3g", static_cast<double>(plot.fMapMax)));
  dc.TextOut(x, plot.nBottom - h, "0");
  dc.SetTextAlign(TA_RIGHT | TA_BOTTOM);
  dc.TextOut(plot.nRight + plot.nColorBarOffset + 21, plot.nTop - nTickLength - 2, "colour: c(s,ff0)");
  return dc.Close();
}

// The y title of a distribution's picture with the unit of its values: a density
// in the signal's unit per S or per Da ("c(s) [OD/S]"); the title as the window
// gives it where the values have no such unit (fractions, light scattering, an axis
// of migration velocity).
std::string DistributionTitleWithUnit(const std::string& title, const std::string& xTitle) {
  if (DataSet().bDLSData) return title;
  const char* per = xTitle == "sed coefficient [S]" ? "S" : xTitle == "molar mass [Da]" ? "Da" : nullptr;
  if (!per) return title;
  const std::string unit = " [" + SignalUnit() + "/" + per + "]";
  for (const char* density : {"c(s)", "ls-g*(s)", "c(M)", "f(M)"})
    if (title == density) return title + unit;
  // c(s,ff0): the curve's values on the axis, the rows f/f0 ("c(s,*) or ff0").
  if (const std::string map = "c(s,*)"; title.starts_with(map)) return map + unit + title.substr(map.size());
  return title;
}

// The distribution with the prior and a label over each peak the window labels:
// its position as the window's label gives it, and its area. A label that would
// cover one placed before it, or a text of the plot, goes up above it; none leaves
// the picture's sides.
ResultPicture DistributionPicture() {
  CWINPlot& plot = *DistributionPlot().pDistPlot;
  // The plot recorded with the unit in its y title, kept as a copy; the window's
  // plot gets its own title back.
  const std::string ownTitle = plot.szYLabel;
  const std::string titled = DistributionTitleWithUnit(ownTitle, plot.szXLabel);
  if (plot.bYLabel && titled != ownTitle) plot.SetYAxisLabel(titled.c_str());
  RedrawDistributionPlot();
  ResultPicture p{"picture-distribution", AroundPlot(plot, 60, 80), {}, {}};
  if (const MetaFile* pane = DistributionPanePicture()) p.Add(std::make_shared<const MetaFile>(*pane));
  if (plot.bYLabel && titled != ownTitle) {
    plot.SetYAxisLabel(ownTitle.c_str());
    RedrawDistributionPlot();
  }
  p.Add(DistributionPriorOverlay());
  p.Add(MapColourKey(plot));
  // The labels keep clear of the plot's own texts (tick labels, titles) too.
  std::vector<Rect> placed = PictureTextBoxes(p.layers);
  for (const DistributionPeak& peak : DistributionPeakList()) {
    if (!peak.labelled) continue;
    // A molar mass over an axis of s: the label says the s as well.
    std::string text = PeakLabelText(peak);
    if (!text.starts_with("sw") && CurrentDistributionKind() != DistributionKind::MolarMass)
      text += FormatText(", sw = %.3f S", static_cast<double>(peak.extent.averageX));
    text += FormatText(", c = %.4f", static_cast<double>(peak.extent.area));
    std::unique_ptr<CScreenButton> label = MakePeakLabel(peak, text);
    if (!label) continue;
    Rect r{label->nLeft, label->nTop, label->nRight, label->nBottom};
    const int shift = std::max(0, kEdgeGap - r.left) - std::max(0, r.right - (kPictureWidth - kEdgeGap));
    r.left += shift;
    r.right += shift;
    const auto overlaps = [&](const Rect& a) {
      return std::any_of(placed.begin(), placed.end(), [&](const Rect& b) {
        return a.left < b.right + 4 && b.left < a.right + 4 && a.top < b.bottom + 4 && b.top < a.bottom + 4;
      });
    };
    while (overlaps(r) && r.top > 0) {
      const int up = r.bottom - r.top + 6;
      r.top -= up;
      r.bottom -= up;
    }
    if (r != Rect{label->nLeft, label->nTop, label->nRight, label->nBottom}) {
      label->SetRect(static_cast<float>(r.top), static_cast<float>(r.left), static_cast<float>(r.bottom),
                     static_cast<float>(r.right));
      label->Paint();
    }
    placed.push_back(r);
    p.Add(std::move(label->hPicture));
  }
  return p;
}

// The width of text in a font at its plot height, picture units, as the plots
// measure their labels.
int TextWidth(Font font, int nominalHeight, const std::string& text) {
  font.height = PlotTextHeight(nominalHeight);
  return PlotTextWidth(DefaultTextRenderer().Measure(font, font.height, text).width);
}

// The x title of a plot of radii, centred under its tick labels (the window's data
// and residual panes share the axis with the pane below and carry none).
std::unique_ptr<MetaFile> RadiusAxisTitle(const CWINPlot& plot, Rect& area) {
  if (DataSet().bDLSData) return nullptr;
  MetaFileDC dc;
  UsePlotText(dc, hLabelFont, nLabelFontHeight);
  dc.SetTextAlign(TA_CENTER | TA_TOP);
  const int top = plot.nBottom + nTickLength + nTickLabelGap + PlotTextHeight(nTickFontHeight) + 4;
  dc.TextOut((plot.nLeft + plot.nRight) / 2, top, "radius [cm]");
  area.bottom = std::min(kPictureHeight, std::max(area.bottom, top + PlotTextHeight(nLabelFontHeight) + kEdgeGap));
  return dc.Close();
}

// The meniscus (red), the bottom (blue) and the fitting limits (green) as the
// window marks them on the data, lines across the plot, with a key above it.
std::unique_ptr<MetaFile> MarkerLines(const CWINPlot& plot) {
  struct Line {
    float radius;
    Color color;
    const char* name;
  };
  const std::vector<Line> lines = {{DataSet().fMeniscus, crMeniscusMarker, "meniscus"},
                                   {DataSet().fBottom, crBottomMarker, "bottom"},
                                   {FitLeftLimitSet() ? DataSet().fFitLeftLim : 0.0f, crFitLimitMarker, nullptr},
                                   {FitRightLimitSet() ? DataSet().fFitRightLim : 0.0f, crFitLimitMarker, nullptr}};
  MetaFileDC dc;
  std::vector<std::pair<Color, const char*>> key;
  for (const Line& l : lines) {
    if (l.radius == 0.0f || !std::isfinite(l.radius)) continue;
    const int x = plot.MapX(l.radius);
    if (x < plot.nLeft || x > plot.nRight) continue;
    dc.SelectPen(Pen{PenStyle::Solid, 2, l.color});
    dc.MoveTo(x, plot.nTop);
    dc.LineTo(x, plot.nBottom);
    const char* name = l.name ? l.name : "fitting limits";
    if (std::none_of(key.begin(), key.end(), [&](const auto& k) { return k.second == std::string_view(name); }))
      key.emplace_back(l.color, name);
  }
  if (key.empty()) return dc.Close();
  // The key ends at the plot's right edge, above its ticks: a short line and the
  // name of each, laid out by the names' widths.
  UsePlotText(dc, hTickFont, nTickFontHeight);
  const int h = PlotTextHeight(nTickFontHeight), sample = 30;
  const int y = plot.nTop - nTickLength - 6 - h;
  int width = 0;
  for (const auto& [color, name] : key) width += sample + 6 + TextWidth(hTickFont, nTickFontHeight, name) + kColumnGap;
  int x = std::max(kEdgeGap, plot.nRight - width + kColumnGap);
  for (const auto& [color, name] : key) {
    dc.SelectPen(Pen{PenStyle::Solid, 2, color});
    dc.MoveTo(x, y + h / 2);
    dc.LineTo(x + sample, y + h / 2);
    dc.TextOut(x + sample + 6, y, name);
    x += sample + 6 + TextWidth(hTickFont, nTickFontHeight, name) + kColumnGap;
  }
  return dc.Close();
}

// The data with every species' signal in each scan, and below the plot the table
// of the fitted values, its columns as wide as their widest text.
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
  p.Add(MarkerLines(*DataPlots().pDataPlot));
  Rect titled = p.area;
  p.Add(RadiusAxisTitle(*DataPlots().pDataPlot, titled));
  UnpackModelParams();
  FitRmsd();
  // The table's texts: a row of titles, then a row a species.
  auto floated = [](int fit) { return std::string(fit ? " (floated)" : " (fixed)"); };
  // A value with the standard error the fit computed for it ("4.001 ± 0.002").
  auto withError = [](const std::string& value, std::optional<double> error, const char* form) {
    return error ? value + " \u00b1 " + FormatText(form, *error) : value;
  };
  const std::string signal = SignalUnit();
  std::vector<std::vector<std::string>> table = {
      {"species", "s [S] \u00b1 SE", ModelFlags().bFitMAndS ? "M [g/mol] \u00b1 SE" : "D [10^-7 cm^2/s] \u00b1 SE",
       "c \u00b1 SE (total [" + signal + "], then fractions)"}};
  std::vector<int> species;
  for (int k = 1; k <= nSpeciesSlots; ++k) {
    if (!AnalysisSwitches().pSpeciesLinked[k]) continue;
    species.push_back(k);
    const double massOrD = ModelParams().pSpeciesMassOrD[k];
    const SpeciesErrors errors = LastFitSpeciesErrors(k);
    const char* massOrDForm = ModelFlags().bFitMAndS ? "%.0f" : "%.3f";
    table.push_back(
        {FormatText("%d", k),
         withError(FormatText("%.3f", static_cast<double>(ModelParams().pSpeciesS[k])), errors.s, "%.3f") +
             floated(ModelParams().pSpeciesSFit[k]),
         withError(ModelFlags().bFitMAndS ? FormatText("%f", massOrD) : FormatText("%.3f", massOrD), errors.massOrD,
                   massOrDForm) +
             floated(ModelParams().pSpeciesMassOrDFit[k]),
         withError(FormatText("%.3f", static_cast<double>(AnalysisSwitches().pParams[8 + k])), errors.c, "%.3f")});
  }
  // Each column starts a gap after the widest text of the one before; the first
  // leaves room for the species' colour.
  std::vector<int> columns = {150};
  for (std::size_t c = 0; c + 1 < table[0].size(); ++c) {
    int widest = 0;
    for (const auto& row : table) widest = std::max(widest, TextWidth(hLabelFont, nLabelFontHeight, row[c]));
    columns.push_back(columns.back() + widest + kColumnGap);
  }
  MetaFileDC dc;
  UsePlotText(dc, hLabelFont, nLabelFontHeight);
  const int top = std::max(DataPlots().pDataPlot->nRectBottom + 85, titled.bottom + 4);
  for (std::size_t r = 0; r < table.size(); ++r) {
    const int y = top + static_cast<int>(r) * kTableRow;
    if (r > 0) {
      dc.SelectPen(Pen{PenStyle::Solid, 4, kSpeciesColors[species[r - 1]]});
      dc.MoveTo(columns[0] - 60, y + kTableRow / 2);
      dc.LineTo(columns[0] - 15, y + kTableRow / 2);
    }
    for (std::size_t c = 0; c < table[r].size(); ++c) dc.TextOut(columns[c], y, table[r][c]);
  }
  const int row = static_cast<int>(table.size());
  dc.TextOut(columns[0], top + row * kTableRow,
             FormatText("rmsd = %f; \u00b1 SE: the standard error of the fitted value", static_cast<double>(Rmsd().fFitRmsd)));
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
    data.Add(MarkerLines(*DataPlots().pDataPlot));
    data.Add(RadiusAxisTitle(*DataPlots().pDataPlot, data.area));
    data.Add(StrideNote(stride, data.area));
    pictures.push_back(std::move(data));
    pictures.push_back(ResidualsPicture(residualPlot));
    pictures.back().Add(StrideNote(stride, pictures.back().area));
    if (ShowsDistribution()) pictures.push_back(DistributionPicture());
    if (ShowsSpecies()) pictures.push_back(SpeciesPicture(dataPlot, stride));
  }
  // Every text whole in its picture: the area grows to hold each text's cell.
  for (ResultPicture& p : pictures)
    for (const Rect& box : PictureTextBoxes(p.layers)) {
      p.area.left = std::min(p.area.left, box.left - kEdgeGap);
      p.area.top = std::min(p.area.top, box.top - kEdgeGap);
      p.area.right = std::max(p.area.right, box.right + kEdgeGap);
      p.area.bottom = std::max(p.area.bottom, box.bottom + kEdgeGap);
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
  std::vector<std::string> written;
  if (const std::string why = WriteResultPictures(*dir, &written); !why.empty()) {
    ShowError("the pictures could not be saved:\n" + why, false);
  } else {
    // Where the pictures went, each by its name.
    std::string names;
    for (const std::string& f : written) names += "\n" + FileNameOf(f);
    CommandMessageBox(*this, FormatText("%zu pictures were saved in %s:", written.size(), dir->c_str()) + names,
                      "PICTURES SAVED", MB_OK | MB_ICONINFORMATION);
  }
  RepaintMain();
}

}  // namespace tarmic
